#pragma once

#include <cstdint>

#include "image/dib_image.h"
#include "image/row_kernel.h"

namespace tessary {

// The two fields of an interlaced frame: the even rows (0, 2, 4, ...) and the odd rows.
enum class Field { Top, Bottom };

// The parity of the rows that belong to `field`.
inline int32_t FirstRowOf(Field field) {
    return field == Field::Top ? 0 : 1;
}
inline Field OtherField(Field field) {
    return field == Field::Top ? Field::Bottom : Field::Top;
}

// A view of a 24-bit picture's rows, top row first, for the repairs and detectors
// that work on whole rows rather than pixel by pixel. Each row holds width
// pixels of blue, green, red; the padding after them is never touched. The view
// does not own the bytes: it stays valid while the image keeps its block (until
// the next load).
struct PixelRows {
    uint8_t* top = nullptr;  // the row of y = 0
    int64_t step = 0;        // bytes from row y to row y + 1 (negative in a bottom-up DIB)
    int32_t width = 0;
    int32_t height = 0;

    uint8_t* Row(int32_t y) const { return top + int64_t{y} * step; }
    int64_t RowBytes() const { return int64_t{width} * 3; }
    bool IsEmpty() const { return top == nullptr || width <= 0 || height <= 0; }
};

// |v| in 16 bits, for differences of lumas and of sums of two lumas (at most
// 4 x 1020 either way): the row loops say so with this cast, and GCC then
// works them in 16-bit lanes, twice as many per instruction as int's.
inline int16_t Abs16(int32_t v) {
    const int16_t narrow = static_cast<int16_t>(v);
    return static_cast<int16_t>(narrow < 0 ? -narrow : narrow);
}

// Blue + 2 green + red of each pixel of a row (0 .. 1020): a brightness cheap
// enough for the detectors, in which no channel is left out.
// `fetch`, when given, is the row to be asked for next (as many bytes), which
// is fetched into the cache meanwhile where the processor allows.
void LumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma, const uint8_t* fetch = nullptr);

// The first of `count` bytes that is not 0, and the first that is 0 (either
// `count` when there is none), eight at a time: rows of marks are mostly
// zeros, or long runs of them.
int32_t FirstNonZero(const uint8_t* bytes, int32_t count);
int32_t FirstZero(const uint8_t* bytes, int32_t count);

// The rows of the image, or an empty view when it has no image, is not 24 bits
// per pixel, or its header names rows that the block does not hold.
PixelRows RowsOf(CDibImage& image);

}  // namespace tessary
