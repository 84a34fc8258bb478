// Encodes PNG files again with one set of zlib and filter settings and reports
// the bytes written and the encode time, for choosing the writer's settings.
// It drives libspng as the writer's streaming path does (8-bit RGB rows, one
// call per row), or, for the strategy "libdeflate", filters the rows with the
// writer's own filter choice and compresses them in one
// piece with libdeflate at LEVEL (the image data only: the few header bytes
// are left out).
//
// Usage: bench_png_settings LEVEL STRATEGY FILTERS FILE...
//   STRATEGY: default|filtered|rle|huffman|libdeflate
//   FILTERS: all|none|sub|up|paeth|fast (ignored for libdeflate)
//   prints: "<bytes> <encode ms>"

#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include "formats/png_row_filter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<unsigned char> rgb;
};

bool Decode(const std::string& path, Picture* picture) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    spng_ctx* context = spng_ctx_new(0);
    spng_set_png_buffer(context, bytes.data(), bytes.size());
    spng_ihdr header{};
    size_t size = 0;
    bool ok = spng_get_ihdr(context, &header) == 0 &&
              spng_decoded_image_size(context, SPNG_FMT_RGB8, &size) == 0;
    if (ok) {
        picture->width = header.width;
        picture->height = header.height;
        picture->rgb.resize(size);
        ok = spng_decode_image(context, picture->rgb.data(), size, SPNG_FMT_RGB8, 0) == 0;
    }
    spng_ctx_free(context);
    return ok;
}

size_t Encode(const Picture& picture, int level, int strategy, int filters) {
    spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{};
    header.width = picture.width;
    header.height = picture.height;
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(context, &header);
    spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, level);
    spng_set_option(context, SPNG_IMG_COMPRESSION_STRATEGY, strategy);
    spng_set_option(context, SPNG_FILTER_CHOICE, filters);
    int error = spng_encode_image(context, nullptr, 0, SPNG_FMT_PNG,
                                  SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    const size_t rowBytes = size_t{picture.width} * 3;
    for (uint32_t r = 0; r < picture.height && error == 0; ++r) {
        error = spng_encode_row(context, picture.rgb.data() + r * rowBytes, rowBytes);
    }
    size_t length = 0;
    void* png = spng_get_png_buffer(context, &length, &error);
    std::free(png);
    spng_ctx_free(context);
    return length;
}

// The rows filtered by the writer's own choice.
std::vector<uint8_t> FilterRows(const Picture& picture) {
    const size_t rowBytes = size_t{picture.width} * 3;
    std::vector<uint8_t> filtered((rowBytes + 1) * picture.height);
    const std::vector<uint8_t> zero(rowBytes, 0);
    for (uint32_t r = 0; r < picture.height; ++r) {
        const uint8_t* row = picture.rgb.data() + r * rowBytes;
        tessary::FilterPngRow(row, r > 0 ? row - rowBytes : zero.data(), rowBytes, 3,
                              &filtered[r * (rowBytes + 1)]);
    }
    return filtered;
}

size_t EncodeWhole(const Picture& picture, int level) {
    const std::vector<uint8_t> filtered = FilterRows(picture);
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    std::vector<uint8_t> packed(libdeflate_zlib_compress_bound(compressor, filtered.size()));
    const size_t length = libdeflate_zlib_compress(compressor, filtered.data(), filtered.size(),
                                                   packed.data(), packed.size());
    libdeflate_free_compressor(compressor);
    return length;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s LEVEL STRATEGY FILTERS FILE...\n", argv[0]);
        return 2;
    }
    const std::map<std::string, int> strategies = {{"default", Z_DEFAULT_STRATEGY},
                                                   {"filtered", Z_FILTERED},
                                                   {"rle", Z_RLE},
                                                   {"huffman", Z_HUFFMAN_ONLY},
                                                   {"libdeflate", -1}};
    const std::map<std::string, int> filters = {
        {"all", SPNG_FILTER_CHOICE_ALL},
        {"none", SPNG_FILTER_CHOICE_NONE},
        {"sub", SPNG_FILTER_CHOICE_SUB},
        {"up", SPNG_FILTER_CHOICE_UP},
        {"paeth", SPNG_FILTER_CHOICE_PAETH},
        {"fast", SPNG_FILTER_CHOICE_NONE | SPNG_FILTER_CHOICE_SUB | SPNG_FILTER_CHOICE_UP}};
    if (!strategies.count(argv[2]) || !filters.count(argv[3])) {
        std::fprintf(stderr, "unknown strategy or filters\n");
        return 2;
    }
    const int level = std::atoi(argv[1]);
    size_t bytes = 0;
    double ms = 0;
    for (int i = 4; i < argc; ++i) {
        Picture picture;
        if (!Decode(argv[i], &picture)) {
            std::fprintf(stderr, "%s: cannot decode\n", argv[i]);
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        const int strategy = strategies.at(argv[2]);
        bytes += strategy < 0 ? EncodeWhole(picture, level)
                              : Encode(picture, level, strategy, filters.at(argv[3]));
        ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count();
    }
    std::printf("%zu %.1f\n", bytes, ms);
    return 0;
}
