// The codec floor: every file decoded and re-encoded at quality 100 with
// libjpeg's defaults, all in one process, so that process start-up is not
// counted. This is the least work any JPEG-to-JPEG batch tool must do.
//
// Usage: bench_codec_floor OUT_DIR FILE...

#include <cstdio>
#include <string>
#include <vector>

#include "tight_jpeg.h"

namespace {

bool Recode(const char* input, const std::string& output) {
    std::FILE* in = std::fopen(input, "rb");
    if (in == nullptr) {
        return false;
    }
    jpeg_decompress_struct decoder{};
    jpeg_error_mgr decodeErrors{};
    decoder.err = jpeg_std_error(&decodeErrors);
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, in);
    jpeg_read_header(&decoder, TRUE);
    jpeg_start_decompress(&decoder);
    const size_t rowBytes = size_t{decoder.output_width} * decoder.output_components;
    std::vector<unsigned char> pixels(rowBytes * decoder.output_height);
    while (decoder.output_scanline < decoder.output_height) {
        JSAMPROW row = pixels.data() + rowBytes * decoder.output_scanline;
        jpeg_read_scanlines(&decoder, &row, 1);
    }
    jpeg_finish_decompress(&decoder);
    std::fclose(in);

    std::FILE* out = std::fopen(output.c_str(), "wb");
    if (out == nullptr) {
        jpeg_destroy_decompress(&decoder);
        return false;
    }
    jpeg_compress_struct encoder{};
    jpeg_error_mgr encodeErrors{};
    encoder.err = jpeg_std_error(&encodeErrors);
    jpeg_create_compress(&encoder);
    jpeg_stdio_dest(&encoder, out);
    EncodeTightRows(encoder, pixels.data(), decoder.output_width, decoder.output_height,
                    decoder.output_components, decoder.out_color_space, 100);
    jpeg_destroy_compress(&encoder);
    jpeg_destroy_decompress(&decoder);
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR FILE...\n", argv[0]);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        name = name.substr(name.rfind('/') + 1);
        if (!Recode(argv[i], folder + name)) {
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
