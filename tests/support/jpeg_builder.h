#pragma once

#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <vector>

#include <jpeglib.h>

#include "tests/support/temp_dir.h"

namespace tessary::test {

struct JpegOptions {
    int quality = 90;
    int components = 3;             // 1 grey, 3 colour, 4 CMYK
    J_COLOR_SPACE space = JCS_RGB;  // of the samples handed in
    bool progressive = false;
};

// A JPEG file of width x height pixels of `components` samples each, made by the
// library. Empty when the library refuses.
Bytes EncodeJpeg(const Bytes& samples, uint32_t width, uint32_t height,
                 const JpegOptions& options = {});

// The library's own decode with its default output, as a reference.
struct DecodedJpeg {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;
    Bytes samples;
};
DecodedJpeg DecodeJpeg(const Bytes& file);

// What the markers of a JPEG file say.
struct JpegLayout {
    bool baseline = false;     // frame marker SOF0
    bool progressive = false;  // SOF2
    int frameComponents = 0;
    std::vector<std::vector<uint16_t>> quantTables;  // 64 entries each, in file order
};
JpegLayout InspectJpeg(const Bytes& file);

// A smooth colour picture (tight RGB) with distinct corners, so that top and
// bottom, left and right, and red and blue can be told apart after JPEG coding.
Bytes GradientPicture(uint32_t width, uint32_t height);

// A small real file whose frame header claims the given size: the library reads
// the header happily, but the data covers only its first 8 x 8 pixels.
Bytes JpegHeaderOnly(uint16_t width, uint16_t height);

}  // namespace tessary::test
