#include "ops/pixel_rows.h"

#include <cstring>

#include "formats/dib.h"
// The luma's own AVX-512 path, where the kernels are built in variants.
#include "image/intrinsics.h"

namespace tessary {

namespace {

TESSARY_ROW_KERNEL void PlainLumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma) {
    for (int32_t x = 0; x < width; ++x) {
        luma[x] = static_cast<int16_t>(bgr[3 * x] + 2 * bgr[3 * x + 1] + bgr[3 * x + 2]);
    }
}

#if defined(TESSARY_KERNEL_VARIANTS)
// GCC vectorises the plain loop over interleaved blue, green, red with ten
// word permutes and fourteen byte shuffles per 64 pixels, all on one port:
// the luma took a fifth of the adaptive repair. Here four pixels sit in each
// 16-byte lane after one dword permute, and one shuffle lays them out as
// (blue, green) and (red, green) pairs, which a multiply-add by ones sums.
__attribute__((target("avx512f,avx512bw"))) void WideLumaOfRow(const uint8_t* bgr, int32_t width,
                                                               int16_t* luma,
                                                               const uint8_t* fetch) {
    constexpr int32_t kPixels = 32;
    // Lane i gets bytes 12 i .. 12 i + 11 of 48: four pixels.
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 11);
    const __m512i pairs =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 3, 4, 6, 7, 9, 10, 2, 1, 5, 4, 8, 7, 11, 10));
    const __m512i ones = _mm512_set1_epi8(1);
    // Each lane's sums hold four pixels of either half: back into order.
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    constexpr __mmask16 kTwelveDwords = 0x0FFF;
    int32_t x = 0;
    for (; x + kPixels <= width; x += kPixels) {
        const uint8_t* from = bgr + 3 * int64_t{x};
        if (fetch != nullptr) {
            const uint8_t* ahead = fetch + 3 * int64_t{x};
            _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(ahead + 64), _MM_HINT_T0);
        }
        const __m512i first = _mm512_maskz_loadu_epi32(kTwelveDwords, from);
        const __m512i second = _mm512_maskz_loadu_epi32(kTwelveDwords, from + 48);
        const __m512i sumsFirst = _mm512_maddubs_epi16(
            _mm512_shuffle_epi8(_mm512_permutexvar_epi32(lanes, first), pairs), ones);
        const __m512i sumsSecond = _mm512_maddubs_epi16(
            _mm512_shuffle_epi8(_mm512_permutexvar_epi32(lanes, second), pairs), ones);
        const __m512i sums = _mm512_add_epi16(_mm512_unpacklo_epi64(sumsFirst, sumsSecond),
                                              _mm512_unpackhi_epi64(sumsFirst, sumsSecond));
        _mm512_storeu_si512(luma + x, _mm512_permutexvar_epi64(order, sums));
    }
    PlainLumaOfRow(bgr + 3 * int64_t{x}, width - x, luma + x);
}
#endif

}  // namespace

void LumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma, const uint8_t* fetch) {
#if defined(TESSARY_KERNEL_VARIANTS)
    static const bool wide = __builtin_cpu_supports("avx512bw") != 0;
    if (wide) {
        WideLumaOfRow(bgr, width, luma, fetch);
        return;
    }
#endif
    (void)fetch;
    PlainLumaOfRow(bgr, width, luma);
}

// The first of `count` bytes that is not 0 (or `count`), eight at a time.
int32_t FirstNonZero(const uint8_t* bytes, int32_t count) {
    int32_t i = 0;
    for (uint64_t eight = 0; i + 8 <= count; i += 8) {
        std::memcpy(&eight, bytes + i, 8);
        if (eight != 0) {
            break;
        }
    }
    while (i < count && bytes[i] == 0) {
        ++i;
    }
    return i;
}

// The first of `count` bytes that is 0 (or `count`), eight at a time: a
// word holds a 0 byte where subtracting 1 from each byte borrows into a byte
// whose top bit was clear.
int32_t FirstZero(const uint8_t* bytes, int32_t count) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kTops = 0x8080808080808080u;
    int32_t i = 0;
    for (uint64_t eight = 0; i + 8 <= count; i += 8) {
        std::memcpy(&eight, bytes + i, 8);
        if (((eight - kOnes) & ~eight & kTops) != 0) {
            break;
        }
    }
    while (i < count && bytes[i] != 0) {
        ++i;
    }
    return i;
}

PixelRows RowsOf(CDibImage& image) {
    uint8_t* dib = image.GetDibBytes();
    const uint64_t blockSize = image.GetDib().Size();
    if (dib == nullptr || blockSize < kInfoHeaderSize) {
        return {};
    }
    const BitmapInfoHeader header = ParseInfoHeader(dib);
    if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0) {
        return {};
    }
    const uint64_t offset = DibPixelOffset(header);
    const uint64_t stride = DibStride(uint32_t(header.biWidth), 24);
    if (offset > blockSize || stride * uint64_t(header.biHeight) > blockSize - offset) {
        return {};
    }
    PixelRows rows;
    rows.step = -static_cast<int64_t>(stride);
    rows.top = dib + offset + (uint64_t(header.biHeight) - 1) * stride;
    rows.width = header.biWidth;
    rows.height = header.biHeight;
    return rows;
}

}  // namespace tessary
