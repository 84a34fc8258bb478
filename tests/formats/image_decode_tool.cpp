// Test-only: decodes a file with the program's reader table and writes the
// picture as a binary PPM (top-down red-green-blue): at 16 bits a sample
// (maxval 65535, big-endian) when the reader kept them, else at 8. The
// reader's warning, if any, goes to standard output.
//   image_decode_tool IN OUT.ppm
// Exit status 0 when decoded, 1 when refused (the reason on standard error),
// 2 on a usage or I/O problem.
#include <cstdio>
#include <vector>

#include "formats/dib.h"
#include "formats/image_reader.h"
#include "formats/rgb_buffer.h"

namespace {

std::vector<uint8_t> PpmBody(const tessary::DecodedImage& image, uint32_t* width,
                             uint32_t* height) {
    if (!image.deep.IsEmpty()) {
        *width = image.deep.width;
        *height = image.deep.height;
        std::vector<uint8_t> body;
        for (uint32_t r = 0; r < *height; ++r) {
            const uint16_t* row = image.deep.Row(r);
            for (uint64_t i = 0; i < image.deep.RowSamples(); ++i) {
                body.push_back(uint8_t(row[i] >> 8));
                body.push_back(uint8_t(row[i]));
            }
        }
        return body;
    }
    const tessary::BitmapInfoHeader header = tessary::ParseInfoHeader(image.dib.Data());
    *width = uint32_t(header.biWidth);
    *height = uint32_t(header.biHeight);
    std::vector<uint8_t> rgb(size_t(*width) * *height * 3);
    tessary::DibRowsToTightRgb(image.dib.Data() + tessary::DibPixelOffset(header), *width, *height,
                               tessary::DibStride(*width, 24), rgb.data());
    return rgb;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN OUT.ppm\n", argv[0]);
        return 2;
    }
    tessary::FileBytes file;
    tessary::Status status = tessary::ReadFileBytes(argv[1], &file);
    if (!status.IsOk()) {
        std::fprintf(stderr, "%s: %s\n", argv[1], status.Text().c_str());
        return 2;
    }
    status = tessary::Status::NotThisFormat("");
    tessary::DecodedImage image;
    for (const tessary::FormatRow& reader : tessary::FileFormats()) {
        if (reader.recognises(file.View())) {
            tessary::MemoryBlock spare;
            status = reader.decode(file.View(), spare, image);
            break;
        }
    }
    if (!status.IsOk()) {
        std::fprintf(stderr, "%s\n", status.Text().c_str());
        return 1;
    }
    if (!image.warning.empty()) {
        std::printf("%s\n", image.warning.c_str());
    }
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<uint8_t> body = PpmBody(image, &width, &height);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::perror(argv[2]);
        return 2;
    }
    std::fprintf(out, "P6\n%u %u\n%d\n", width, height, image.deep.IsEmpty() ? 255 : 65535);
    const bool written = std::fwrite(body.data(), 1, body.size(), out) == body.size();
    return std::fclose(out) == 0 && written ? 0 : 2;
}
