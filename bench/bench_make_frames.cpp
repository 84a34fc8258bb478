// Makes the benchmark's test sets: synthetic frames as an interlaced capture
// shows them, with the two fields of a moving object offset against each other
// and a textured background, so that the codecs see realistic detail.
//
// Usage: bench_make_frames jpeg|gif|bmp WIDTH HEIGHT COUNT OUT_DIR

#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tight_jpeg.h"

namespace {

struct Frame {
    int width;
    int height;
    std::vector<uint8_t> rgb;  // top-down, tight
};

Frame MakeFrame(int width, int height, int index) {
    Frame frame{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    uint32_t noise = 12345u + 977u * static_cast<uint32_t>(index);
    const int boxX = (index * 23) % (width / 2), boxY = height / 3;
    for (int y = 0; y < height; ++y) {
        // The odd field was captured a moment later: the object has moved on.
        const int shift = (y % 2 == 1) ? 12 : 0;
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>(noise >> 28);
            uint8_t* p = &frame.rgb[(size_t(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>((x * 255 / width + grain) & 0xFF);
            p[1] = static_cast<uint8_t>((y * 255 / height + grain) & 0xFF);
            p[2] = static_cast<uint8_t>(((x + y + index * 7) & 0x7F) + grain);
            const int bx = x - boxX - shift;
            if (bx >= 0 && bx < width / 4 && y >= boxY && y < boxY + height / 4) {
                p[0] = 240, p[1] = 240 - static_cast<uint8_t>(grain), p[2] = 40;
            }
        }
    }
    return frame;
}

bool WriteJpeg(const Frame& frame, const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    jpeg_compress_struct encoder{};
    jpeg_error_mgr errors{};
    encoder.err = jpeg_std_error(&errors);
    jpeg_create_compress(&encoder);
    jpeg_stdio_dest(&encoder, out);
    EncodeTightRows(encoder, frame.rgb.data(), static_cast<JDIMENSION>(frame.width),
                    static_cast<JDIMENSION>(frame.height), 3, JCS_RGB, 90);
    jpeg_destroy_compress(&encoder);
    return std::fclose(out) == 0;
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

bool WriteBmp(const Frame& frame, const std::string& path) {
    const uint32_t stride = (static_cast<uint32_t>(frame.width) * 3 + 3) & ~3u;
    const uint32_t pixelBytes = stride * static_cast<uint32_t>(frame.height);
    std::vector<uint8_t> file;
    file.push_back('B');
    file.push_back('M');
    PutLe(file, 54 + pixelBytes, 4);
    PutLe(file, 0, 4);
    PutLe(file, 54, 4);
    PutLe(file, 40, 4);
    PutLe(file, static_cast<uint32_t>(frame.width), 4);
    PutLe(file, static_cast<uint32_t>(frame.height), 4);
    PutLe(file, 1, 2);
    PutLe(file, 24, 2);
    PutLe(file, 0, 4);
    PutLe(file, pixelBytes, 4);
    PutLe(file, 3780, 4);
    PutLe(file, 3780, 4);
    PutLe(file, 0, 4);
    PutLe(file, 0, 4);
    for (int y = frame.height - 1; y >= 0; --y) {
        const uint8_t* row = &frame.rgb[size_t(y) * frame.width * 3];
        for (int x = 0; x < frame.width; ++x) {
            file.push_back(row[x * 3 + 2]);
            file.push_back(row[x * 3 + 1]);
            file.push_back(row[x * 3]);
        }
        file.resize(file.size() + (stride - static_cast<uint32_t>(frame.width) * 3), 0);
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && ok;
}

// A fixed 3-3-2 colour cube keeps the GIF side free of any quantiser.
bool WriteGif(const Frame& frame, const std::string& path) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr) {
        return false;
    }
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i) {
        colors[i].Red = static_cast<GifByteType>((i >> 5) * 255 / 7);
        colors[i].Green = static_cast<GifByteType>(((i >> 2) & 7) * 255 / 7);
        colors[i].Blue = static_cast<GifByteType>((i & 3) * 255 / 3);
    }
    ColorMapObject* map = GifMakeMapObject(256, colors);
    EGifPutScreenDesc(gif, frame.width, frame.height, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, frame.width, frame.height, false, nullptr);
    std::vector<GifPixelType> line(static_cast<size_t>(frame.width));
    bool ok = true;
    for (int y = 0; y < frame.height && ok; ++y) {
        const uint8_t* row = &frame.rgb[size_t(y) * frame.width * 3];
        for (int x = 0; x < frame.width; ++x) {
            line[x] = static_cast<GifPixelType>(
                (row[x * 3] & 0xE0) | ((row[x * 3 + 1] >> 3) & 0x1C) | (row[x * 3 + 2] >> 6));
        }
        ok = EGifPutLine(gif, line.data(), frame.width) == GIF_OK;
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s jpeg|gif|bmp WIDTH HEIGHT COUNT OUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), count = std::atoi(argv[4]);
    const std::string extension = kind == "jpeg" ? ".jpg" : "." + kind;
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "/frame%03d%s", i, extension.c_str());
        const Frame frame = MakeFrame(width, height, i);
        const std::string path = std::string(argv[5]) + name;
        const bool ok = kind == "jpeg"  ? WriteJpeg(frame, path)
                        : kind == "gif" ? WriteGif(frame, path)
                                        : WriteBmp(frame, path);
        if (!ok) {
            std::fprintf(stderr, "%s: can't write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    return 0;
}
