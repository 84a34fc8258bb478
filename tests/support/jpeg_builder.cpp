#include "tests/support/jpeg_builder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

namespace tessary::test {

namespace {

struct Errors {
    jpeg_error_mgr library;
    std::jmp_buf recovery;
};

[[noreturn]] void JumpBack(j_common_ptr object) {
    std::longjmp(reinterpret_cast<Errors*>(object->err)->recovery, 1);
}
void Quiet(j_common_ptr) {}

jpeg_error_mgr* QuietErrors(Errors& errors) {
    jpeg_std_error(&errors.library);
    errors.library.error_exit = JumpBack;
    errors.library.output_message = Quiet;
    return &errors.library;
}

struct Encoder {
    Errors errors{};
    jpeg_compress_struct library{};
    unsigned char* memory = nullptr;
    unsigned long size = 0;
};

bool RunEncode(Encoder* e, const Bytes* samples, uint32_t width, uint32_t height,
               const JpegOptions* options) {
    e->library.err = QuietErrors(e->errors);
    if (setjmp(e->errors.recovery) != 0) {
        jpeg_destroy_compress(&e->library);
        return false;
    }
    jpeg_create_compress(&e->library);
    jpeg_mem_dest(&e->library, &e->memory, &e->size);
    e->library.image_width = width;
    e->library.image_height = height;
    e->library.input_components = options->components;
    e->library.in_color_space = options->space;
    jpeg_set_defaults(&e->library);
    jpeg_set_quality(&e->library, options->quality, TRUE);
    if (options->progressive) {
        jpeg_simple_progression(&e->library);
    }
    jpeg_start_compress(&e->library, TRUE);
    const size_t rowBytes = size_t(width) * options->components;
    while (e->library.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples->data() + e->library.next_scanline * rowBytes);
        jpeg_write_scanlines(&e->library, &row, 1);
    }
    jpeg_finish_compress(&e->library);
    jpeg_destroy_compress(&e->library);
    return true;
}

struct Decoder {
    Errors errors{};
    jpeg_decompress_struct library{};
};

bool RunDecode(Decoder* d, const Bytes* file, DecodedJpeg* out) {
    d->library.err = QuietErrors(d->errors);
    if (setjmp(d->errors.recovery) != 0) {
        jpeg_destroy_decompress(&d->library);
        return false;
    }
    jpeg_create_decompress(&d->library);
    jpeg_mem_src(&d->library, file->data(), file->size());
    jpeg_read_header(&d->library, TRUE);
    jpeg_start_decompress(&d->library);
    out->width = d->library.output_width;
    out->height = d->library.output_height;
    out->components = d->library.output_components;
    const size_t rowBytes = size_t(out->width) * out->components;
    out->samples.assign(rowBytes * out->height, 0);
    while (d->library.output_scanline < d->library.output_height) {
        JSAMPROW row = out->samples.data() + d->library.output_scanline * rowBytes;
        jpeg_read_scanlines(&d->library, &row, 1);
    }
    jpeg_finish_decompress(&d->library);
    jpeg_destroy_decompress(&d->library);
    return true;
}

}  // namespace

Bytes EncodeJpeg(const Bytes& samples, uint32_t width, uint32_t height,
                 const JpegOptions& options) {
    Encoder encoder;
    Bytes out;
    if (RunEncode(&encoder, &samples, width, height, &options)) {
        out.assign(encoder.memory, encoder.memory + encoder.size);
    }
    std::free(encoder.memory);
    return out;
}

DecodedJpeg DecodeJpeg(const Bytes& file) {
    Decoder decoder;
    DecodedJpeg out;
    out.ok = RunDecode(&decoder, &file, &out);
    return out;
}

JpegLayout InspectJpeg(const Bytes& file) {
    JpegLayout layout;
    size_t at = 2;  // after SOI
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        uint8_t marker = file[at + 1];
        size_t length = size_t(file[at + 2]) << 8 | file[at + 3];
        size_t body = at + 4;
        if (marker == 0xDA || body + length - 2 > file.size()) {
            break;  // start of scan: no more tables
        }
        if (marker == 0xC0 || marker == 0xC2) {
            layout.baseline = marker == 0xC0;
            layout.progressive = marker == 0xC2;
            layout.frameComponents = file[body + 5];
        }
        if (marker == 0xDB) {
            size_t p = body;
            while (p < body + length - 2) {
                bool sixteen = (file[p] >> 4) != 0;
                ++p;
                std::vector<uint16_t> table;
                for (int i = 0; i < 64; ++i) {
                    table.push_back(sixteen ? uint16_t(file[p] << 8 | file[p + 1]) : file[p]);
                    p += sixteen ? 2 : 1;
                }
                layout.quantTables.push_back(table);
            }
        }
        at = body + length - 2;
    }
    return layout;
}

Bytes GradientPicture(uint32_t width, uint32_t height) {
    Bytes out;
    out.reserve(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            out.push_back(uint8_t(width > 1 ? 255 * x / (width - 1) : 0));  // red grows right
            out.push_back(64);
            out.push_back(uint8_t(height > 1 ? 255 * y / (height - 1) : 0));  // blue grows down
        }
    }
    return out;
}

Bytes JpegHeaderOnly(uint16_t width, uint16_t height) {
    // Take a real small file and patch the frame size: its tables stay valid.
    Bytes file = EncodeJpeg(GradientPicture(8, 8), 8, 8);
    for (size_t at = 2; at + 9 < file.size();) {
        uint8_t marker = file[at + 1];
        size_t length = size_t(file[at + 2]) << 8 | file[at + 3];
        if (marker == 0xC0) {
            file[at + 5] = uint8_t(height >> 8);
            file[at + 6] = uint8_t(height & 0xFF);
            file[at + 7] = uint8_t(width >> 8);
            file[at + 8] = uint8_t(width & 0xFF);
            break;
        }
        at += 2 + length;
    }
    return file;
}

}  // namespace tessary::test
