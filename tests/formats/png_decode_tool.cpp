// Test-only: decodes a PNG file with the program's reader and writes the
// picture as a binary PPM (top-down red-green-blue), so that a script can
// compare it with another decoder.
//   png_decode_tool IN.png OUT.ppm
// Exit status 0 when decoded, 1 when the reader refused the file (its reason
// on standard error), 2 on a usage or I/O problem.
#include <cstdio>
#include <vector>

#include "formats/dib.h"
#include "formats/png_file.h"
#include "formats/rgb_buffer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IN.png OUT.ppm\n", argv[0]);
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) {
        std::perror(argv[1]);
        return 2;
    }
    std::vector<uint8_t> bytes;
    uint8_t piece[65536];
    for (size_t n; (n = std::fread(piece, 1, sizeof piece, in)) > 0;) {
        bytes.insert(bytes.end(), piece, piece + n);
    }
    std::fclose(in);

    tessary::MemoryBlock dib;
    tessary::Status status = tessary::ReadPng(bytes, &dib);
    if (!status.IsOk()) {
        std::fprintf(stderr, "%s\n", status.Text().c_str());
        return 1;
    }
    const tessary::BitmapInfoHeader header = tessary::ParseInfoHeader(dib.Data());
    const uint32_t width = uint32_t(header.biWidth);
    const uint32_t height = uint32_t(header.biHeight);
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    tessary::DibRowsToTightRgb(dib.Data() + tessary::DibPixelOffset(header), width, height,
                               tessary::DibStride(width, 24), rgb.data());
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::perror(argv[2]);
        return 2;
    }
    std::fprintf(out, "P6\n%u %u\n255\n", width, height);
    const bool written = std::fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
    return std::fclose(out) == 0 && written ? 0 : 2;
}
