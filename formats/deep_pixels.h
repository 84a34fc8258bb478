#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "formats/size_limit.h"

namespace tessary {

struct FreeSamples {
    void operator()(uint16_t* samples) const { std::free(samples); }
};

// A picture of 16 bits a sample: red, green, blue per pixel, rows top-down, no
// padding. Data of 10 or 12 bits arrives scaled to the full 16-bit range by its
// reader. It rides beside the 8-bit DIB of the same picture, so that everything
// that works at 8 bits still can, while repairs and writers that hold 16 bits
// use these samples instead.
struct DeepPixels {
    uint32_t width = 0;
    uint32_t height = 0;
    std::unique_ptr<uint16_t[], FreeSamples> samples;  // width x height x 3

    bool IsEmpty() const { return !samples; }
    uint64_t RowSamples() const { return uint64_t{width} * 3; }
    uint16_t* Row(uint32_t y) { return samples.get() + uint64_t{y} * RowSamples(); }
    const uint16_t* Row(uint32_t y) const { return samples.get() + uint64_t{y} * RowSamples(); }

    // Takes uninitialised room for width x height pixels; false (and empty)
    // when that is over kMaxPixelBytes at 6 bytes a pixel or can't be had.
    bool Allocate(uint32_t newWidth, uint32_t newHeight) {
        samples.reset();
        width = height = 0;
        const uint64_t bytes = uint64_t{newWidth} * newHeight * 3 * sizeof(uint16_t);
        if (newWidth == 0 || newHeight == 0 || bytes > kMaxPixelBytes)
            return false;
        samples.reset(static_cast<uint16_t*>(std::malloc(bytes)));
        if (!samples)
            return false;
        width = newWidth;
        height = newHeight;
        return true;
    }
};

}  // namespace tessary
