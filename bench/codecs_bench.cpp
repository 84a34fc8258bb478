// GIF decoding against giflib and loading a JPEG against a bare libjpeg decode,
// on 1920 x 1080 pictures made here.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/gif_reader.h"
#include "formats/jpeg_file.h"
#include "image/dib_image.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A photograph-like picture: smooth gradients with a little noise.
std::vector<uint8_t> MakePicture() {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    uint32_t seed = 7;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525 + 1013904223;
            int noise = int(seed >> 28) - 8;
            uint8_t* p = &rgb[(size_t(y) * kWidth + x) * 3];
            p[0] = uint8_t(std::clamp(x * 255 / kWidth + noise, 0, 255));
            p[1] = uint8_t(std::clamp(y * 255 / kHeight + noise, 0, 255));
            p[2] = uint8_t(std::clamp((x + y) * 255 / (kWidth + kHeight) - noise, 0, 255));
        }
    }
    return rgb;
}

std::string TempPath(const char* name) {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/tessary-bench-" +
           std::to_string(getpid()) + "-" + name;
}

// 256 colours: 8 x 8 x 4 levels of the picture, written by giflib.
std::string WriteGif(const std::vector<uint8_t>& rgb) {
    std::string path = TempPath("frame.gif");
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i) {
        map->Colors[i] = {uint8_t((i & 7) * 36), uint8_t(((i >> 3) & 7) * 36),
                          uint8_t((i >> 6) * 85)};
    }
    EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr);
    std::vector<GifPixelType> line(kWidth);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * kWidth + x) * 3];
            line[x] = GifPixelType((p[0] >> 5) | ((p[1] >> 5) << 3) | ((p[2] >> 6) << 6));
        }
        EGifPutLine(gif, line.data(), kWidth);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return path;
}

std::string WriteJpeg(const std::vector<uint8_t>& rgb) {
    std::string path = TempPath("frame.jpg");
    tessary::WriteJpegFile(path.c_str(), rgb.data(), kWidth, kHeight, 90);
    return path;
}

struct Files {
    Files() {
        std::vector<uint8_t> rgb = MakePicture();
        gif = WriteGif(rgb);
        jpeg = WriteJpeg(rgb);
    }
    ~Files() {
        std::remove(gif.c_str());
        std::remove(jpeg.c_str());
    }
    std::string gif;
    std::string jpeg;
};

const Files& TestFiles() {
    static Files files;
    return files;
}

void BM_ReadGifFile(benchmark::State& state) {
    const std::string& path = TestFiles().gif;
    for (auto _ : state) {
        tessary::CGifReader reader;
        int width = 0;
        int height = 0;
        tessary::ByteBuffer buffer = reader.ReadGifFile(path.c_str(), &width, &height);
        benchmark::DoNotOptimize(buffer.get());
        if (!buffer) {
            state.SkipWithError("GIF not read");
        }
    }
}
BENCHMARK(BM_ReadGifFile)->Unit(benchmark::kMillisecond);

void BM_GiflibSlurp(benchmark::State& state) {
    const std::string& path = TestFiles().gif;
    for (auto _ : state) {
        int error = 0;
        GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
        if (gif == nullptr || DGifSlurp(gif) != GIF_OK) {
            state.SkipWithError("giflib failed");
        }
        benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
        DGifCloseFile(gif, &error);
    }
}
BENCHMARK(BM_GiflibSlurp)->Unit(benchmark::kMillisecond);

void BM_LoadJpeg(benchmark::State& state) {
    const std::string& path = TestFiles().jpeg;
    tessary::CDibImage image;
    for (auto _ : state) {
        image.Load(path.c_str());
        benchmark::DoNotOptimize(image.GetDib().Data());
        if (image.GetWidth() != kWidth) {
            state.SkipWithError("JPEG not loaded");
        }
    }
}
BENCHMARK(BM_LoadJpeg)->Unit(benchmark::kMillisecond);

struct BareErrors {
    jpeg_error_mgr library;
    std::jmp_buf recovery;
};

[[noreturn]] void BareExit(j_common_ptr object) {
    std::longjmp(reinterpret_cast<BareErrors*>(object->err)->recovery, 1);
}

struct BareDecode {
    BareErrors errors{};
    jpeg_decompress_struct library{};
    std::FILE* file = nullptr;
    uint8_t* pixels = nullptr;
};

// The floor: the library's own decode into one whole-picture buffer.
bool RunBareDecode(BareDecode* d) {
    d->library.err = jpeg_std_error(&d->errors.library);
    d->errors.library.error_exit = BareExit;
    if (setjmp(d->errors.recovery) != 0) {
        jpeg_destroy_decompress(&d->library);
        return false;
    }
    jpeg_create_decompress(&d->library);
    jpeg_stdio_src(&d->library, d->file);
    jpeg_read_header(&d->library, TRUE);
    jpeg_start_decompress(&d->library);
    const size_t rowBytes = size_t(d->library.output_width) * d->library.output_components;
    d->pixels = static_cast<uint8_t*>(std::malloc(rowBytes * d->library.output_height));
    while (d->library.output_scanline < d->library.output_height) {
        JSAMPROW row = d->pixels + d->library.output_scanline * rowBytes;
        jpeg_read_scanlines(&d->library, &row, 1);
    }
    jpeg_finish_decompress(&d->library);
    jpeg_destroy_decompress(&d->library);
    return true;
}

void BM_BareJpegDecode(benchmark::State& state) {
    const std::string& path = TestFiles().jpeg;
    for (auto _ : state) {
        BareDecode decode;
        decode.file = std::fopen(path.c_str(), "rb");
        if (decode.file == nullptr || !RunBareDecode(&decode)) {
            state.SkipWithError("bare decode failed");
        }
        benchmark::DoNotOptimize(decode.pixels);
        std::free(decode.pixels);
        if (decode.file != nullptr) {
            std::fclose(decode.file);
        }
    }
}
BENCHMARK(BM_BareJpegDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
