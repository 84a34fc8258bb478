#pragma once

#include <cstdint>

#include "formats/deep_pixels.h"

namespace tessary {

// A view of a 16-bit picture's rows for the repairs: red, green, blue per
// pixel, top row first. It does not own the samples.
struct DeepRows {
    uint16_t* top = nullptr;  // the row of y = 0
    int64_t step = 0;         // samples from row y to row y + 1
    int32_t width = 0;
    int32_t height = 0;

    uint16_t* Row(int32_t y) const { return top + int64_t{y} * step; }
    int64_t RowSamples() const { return int64_t{width} * 3; }
    bool IsEmpty() const { return top == nullptr || width <= 0 || height <= 0; }
};

// The rows of `deep`; empty for none (null) or an empty picture.
DeepRows DeepRowsOf(DeepPixels* deep);

// A 16-bit sample as the nearest 8-bit value: v / 257 rounded, exact for
// every v (the multiply-shift stands in for the division).
inline uint8_t ByteOfSample(uint32_t sample) {
    return static_cast<uint8_t>((sample * 255 + 32895) >> 16);
}

// `width` pixels of red, green, blue samples rounded into blue, green, red bytes.
void RoundDeepRow(const uint16_t* rgb, int32_t width, uint8_t* bgr);

}  // namespace tessary
