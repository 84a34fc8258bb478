#pragma once

// jpeglib.h needs FILE declared before it.
#include <cstdio>

#include <jpeglib.h>

#include <cstddef>
#include <cstdint>

// The encode the benchmark programs share: a tight picture (rows top-down,
// width x components bytes each) through an encoder whose error manager and
// destination are already set, with libjpeg's defaults at `quality`, row by
// row as the product's writer feeds it.
inline void EncodeTightRows(jpeg_compress_struct& encoder, const uint8_t* pixels, JDIMENSION width,
                            JDIMENSION height, int components, J_COLOR_SPACE colorSpace,
                            int quality) {
    encoder.image_width = width;
    encoder.image_height = height;
    encoder.input_components = components;
    encoder.in_color_space = colorSpace;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, quality, TRUE);
    jpeg_start_compress(&encoder, TRUE);
    const size_t rowBytes = size_t{width} * static_cast<size_t>(components);
    while (encoder.next_scanline < encoder.image_height) {
        // The library only reads the row; its interface just isn't const.
        JSAMPROW row = const_cast<JSAMPROW>(pixels + rowBytes * encoder.next_scanline);
        jpeg_write_scanlines(&encoder, &row, 1);
    }
    jpeg_finish_compress(&encoder);
}
