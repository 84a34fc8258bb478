#include "formats/rgb_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tessary {

namespace {

constexpr uint64_t kLargestObject = static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max());

// Reverses red and blue of `width` pixels from `source` into `target` (which may be `source`).
inline void SwapPixels(const uint8_t* source, uint32_t width, uint8_t* target) {
    for (uint32_t i = 0; i < width; ++i) {
        uint8_t first = source[0];
        uint8_t second = source[1];
        uint8_t third = source[2];
        target[0] = third;
        target[1] = second;
        target[2] = first;
        source += 3;
        target += 3;
    }
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

void StoreGrayRow(const uint8_t* row, uint32_t width, uint8_t* buffer, uint32_t r) {
    uint8_t* target = buffer + r * (uint64_t{width} * 3);
    for (uint32_t i = 0; i < width; ++i) {
        target[0] = target[1] = target[2] = row[i];
        target += 3;
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
    if (components == 1) {
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
