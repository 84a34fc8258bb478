#include "formats/rgb_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace tessary {

namespace {

constexpr uint64_t kLargestObject = static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max());

// Exchanges the first and third byte of each of `width` 3-byte pixels, from
// `source` into `target`; the two are the same buffer or do not overlap.
void SwapPixelsPortable(const uint8_t* source, uint32_t width, uint8_t* target) {
    for (uint32_t i = 0; i < width; ++i) {
        uint8_t red = source[3 * i];
        uint8_t blue = source[3 * i + 2];
        target[3 * i + 1] = source[3 * i + 1];
        target[3 * i] = blue;
        target[3 * i + 2] = red;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per 16-byte shuffle; the 16th byte is carried unchanged and is the
// first byte of the next group. Every load comes before the store that could
// change it, so this works in place too.
__attribute__((target("ssse3"))) void SwapPixelsSsse3(const uint8_t* source, uint32_t width,
                                                      uint8_t* target) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    const uint64_t bytes = uint64_t{width} * 3;
    uint64_t at = 0;
    for (; at + 16 <= bytes; at += 15) {
        __m128i group = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at), _mm_shuffle_epi8(group, order));
    }
    SwapPixelsPortable(source + at, uint32_t((bytes - at) / 3), target + at);
}

bool HasSsse3() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}
const bool g_bHasSsse3 = HasSsse3();
#endif

inline void SwapPixels(const uint8_t* source, uint32_t width, uint8_t* target) {
#if defined(__x86_64__) || defined(__i386__)
    if (g_bHasSsse3) {
        SwapPixelsSsse3(source, width, target);
        return;
    }
#endif
    SwapPixelsPortable(source, width, target);
}

}  // namespace

ByteBuffer AllocateBytes(uint64_t size, bool zeroed) {
    if (size > kLargestObject) {
        return nullptr;
    }
    size_t bytes = size == 0 ? 1 : static_cast<size_t>(size);
    void* memory = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    return ByteBuffer(static_cast<uint8_t*>(memory));
}

uint64_t TightBufferSize(uint32_t width, uint32_t height) {
    // 3 x width needs up to 34 bits, so the product with the height can wrap.
    uint64_t size = 0;
    return __builtin_mul_overflow(uint64_t{width} * 3, uint64_t{height}, &size) ? 0 : size;
}

uint64_t DwordStride24(uint32_t width) {
    return ((uint64_t{width} * 24 + 31) / 32) * 4;
}

void StoreRgbRow(const uint8_t* row, uint32_t width, uint8_t* buffer, uint32_t r) {
    uint64_t rowBytes = uint64_t{width} * 3;
    std::memcpy(buffer + r * rowBytes, row, rowBytes);
}

void StoreGrayRow(const uint8_t* __restrict row, uint32_t width, uint8_t* __restrict buffer,
                  uint32_t r) {
    uint8_t* target = buffer + r * (uint64_t{width} * 3);
    for (uint32_t i = 0; i < width; ++i) {
        target[3 * i] = row[i];
        target[3 * i + 1] = row[i];
        target[3 * i + 2] = row[i];
    }
}

ByteBuffer PadRowsToDword(const uint8_t* tight, uint32_t width, uint32_t height, uint32_t* stride) {
    if (tight == nullptr) {
        return nullptr;
    }
    uint64_t rowStride = DwordStride24(width);
    uint64_t size = 0;
    if (rowStride > UINT32_MAX || __builtin_mul_overflow(rowStride, uint64_t{height}, &size)) {
        return nullptr;
    }
    ByteBuffer padded = AllocateBytes(size, true);
    if (!padded) {
        return nullptr;
    }
    uint64_t rowBytes = uint64_t{width} * 3;
    for (uint32_t r = 0; r < height; ++r) {
        std::memcpy(padded.get() + r * rowStride, tight + r * rowBytes, rowBytes);
    }
    if (stride != nullptr) {
        *stride = static_cast<uint32_t>(rowStride);
    }
    return padded;
}

ByteBuffer StripRowPadding(const uint8_t* rows, uint32_t width, uint32_t stride, uint32_t height) {
    if (rows == nullptr) {
        return nullptr;
    }
    uint64_t rowBytes = uint64_t{width} * 3;
    uint64_t size = TightBufferSize(width, height);
    ByteBuffer tight = size == 0 && width != 0 && height != 0 ? nullptr : AllocateBytes(size);
    if (!tight) {
        return nullptr;
    }
    for (uint32_t r = 0; r < height; ++r) {
        std::memcpy(tight.get() + r * rowBytes, rows + uint64_t{r} * stride, rowBytes);
    }
    return tight;
}

int FlipRowsVertically(uint8_t* buffer, uint64_t rowBytes, uint32_t rows) {
    if (buffer == nullptr) {
        return 0;
    }
    // Swapping the rows in place needs no scratch memory and so cannot fail.
    for (uint32_t i = 0; i < rows / 2; ++i) {
        uint8_t* top = buffer + i * rowBytes;
        uint8_t* bottom = buffer + (uint64_t{rows} - 1 - i) * rowBytes;
        std::swap_ranges(top, top + rowBytes, bottom);
    }
    return 1;
}

int SwapRedBlue(uint8_t* buffer, uint32_t width, uint32_t height) {
    if (buffer == nullptr) {
        return 0;
    }
    uint64_t rowBytes = uint64_t{width} * 3;
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* row = buffer + r * rowBytes;
        SwapPixels(row, width, row);
    }
    return 1;
}

void TightRgbToDibRows(const uint8_t* tight, uint32_t width, uint32_t height, uint8_t* pixels,
                       uint64_t stride) {
    uint64_t rowBytes = uint64_t{width} * 3;
    for (uint32_t r = 0; r < height; ++r) {
        StoreRowIntoDib(tight + r * rowBytes, 3, width, height, r, pixels, stride);
    }
}

void StoreRowIntoDib(const uint8_t* row, int components, uint32_t width, uint32_t height,
                     uint32_t r, uint8_t* pixels, uint64_t stride) {
    uint8_t* target = pixels + (uint64_t{height} - 1 - r) * stride;
    if (row == target) {
        // Decoded straight into the DIB row: widen or swap where it lies.
        if (components == 1) {
            for (uint32_t i = width; i-- > 0;) {
                target[3 * i] = target[3 * i + 1] = target[3 * i + 2] = row[i];
            }
        } else {
            SwapPixels(target, width, target);
        }
    } else if (components == 1) {
        StoreGrayRow(row, width, target, 0);
    } else {
        SwapPixels(row, width, target);
    }
    uint64_t rowBytes = uint64_t{width} * 3;
    std::memset(target + rowBytes, 0, stride - rowBytes);
}

void DibRowsToTightRgb(const uint8_t* pixels, uint32_t width, uint32_t height, uint64_t stride,
                       uint8_t* tight) {
    uint64_t rowBytes = uint64_t{width} * 3;
    for (uint32_t r = 0; r < height; ++r) {
        SwapPixels(pixels + (uint64_t{height} - 1 - r) * stride, width, tight + r * rowBytes);
    }
}

}  // namespace tessary
