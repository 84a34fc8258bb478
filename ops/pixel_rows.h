#pragma once

#include <cstdint>

#include "image/dib_image.h"

// The row kernels of the repairs below are built three times on x86-64, for
// AVX-512 (x86-64-v4), for AVX2 and plain, and the processor picks one at run
// time: without the byte shuffles of later processors GCC can't vectorise
// loops over interleaved blue, green, red, and AVX-512 takes twice the pixels
// per instruction again. Clang clones the same way from version 14 on.
// TESSARY_PLAIN_KERNELS builds the plain loops alone, so that the tests can
// run them on a processor that would pick a variant.
#if defined(__x86_64__) && !defined(TESSARY_PLAIN_KERNELS) && \
    ((defined(__GNUC__) && !defined(__clang__)) || (defined(__clang__) && __clang_major__ >= 14))
#define TESSARY_ROW_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define TESSARY_ROW_KERNEL
#endif

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
void LumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma);

// The rows of the image, or an empty view when it has no image, is not 24 bits
// per pixel, or its header names rows that the block does not hold.
PixelRows RowsOf(CDibImage& image);

}  // namespace tessary
