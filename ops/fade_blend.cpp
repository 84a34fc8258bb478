#include "ops/fade_blend.h"

#include <algorithm>
#include <cstring>

namespace tessary {

namespace {

// Weights from the combed cells around each pixel (`sum` has kFade bytes
// before and after it), one for each of the pixel's three bytes.
TESSARY_ROW_KERNEL void FadeRow(const uint8_t* sum, int32_t width, uint8_t* __restrict weights) {
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t cells =
            static_cast<uint8_t>(sum[x - 2] + sum[x - 1] + sum[x] + sum[x + 1] + sum[x + 2]);
        // 0 .. kFadeCells to 0 .. 16, rounding so that a full count gives 16:
        // (16 cells + kFadeCells / 2) / kFadeCells, which for cells up to
        // kFadeCells is cells plus one from half of kFadeCells on.
        const uint8_t weight = static_cast<uint8_t>(cells + (cells >= kFadeCells - kFadeCells / 2));
        weights[3 * x] = weight;
        weights[3 * x + 1] = weight;
        weights[3 * x + 2] = weight;
    }
}
static_assert(kFade == 2, "FadeRow spells out two pixels to each side");

// One after the last of `count` bytes that is not 0 (or 0), eight at a time.
int32_t EndOfNonZero(const uint8_t* bytes, int32_t count) {
    int32_t i = count;
    for (uint64_t eight = 0; i >= 8; i -= 8) {
        std::memcpy(&eight, bytes + i - 8, 8);
        if (eight != 0) {
            break;
        }
    }
    while (i > 0 && bytes[i - 1] == 0) {
        --i;
    }
    return i;
}

}  // namespace

// Weight (0 .. 16) of the rebuilt pixel in each byte of rebuilt row k: the
// share of combed cells among the row's and the neighbouring rebuilt rows'
// pixels within kFade. Returns the pixels with a weight; the weights of the
// others are left as they were.
TESSARY_ROW_KERNEL Span FadeWeights(const std::vector<uint8_t>& areas, int32_t width, int32_t count,
                                    int32_t k, std::vector<uint8_t>& column, uint8_t* weights) {
    const uint8_t* rows[3];
    for (int32_t d = -1; d <= 1; ++d) {
        const int32_t n = std::clamp(k + d, 0, count - 1);
        rows[d + 1] = areas.data() + size_t(n) * size_t(width);
    }
    uint8_t* sum = column.data() + kFade;
    for (int32_t x = 0; x < width; ++x) {
        sum[x] = static_cast<uint8_t>(rows[0][x] + rows[1][x] + rows[2][x]);
    }
    const int32_t first = FirstNonZero(sum, width);
    if (first == width) {
        return {};
    }
    // Beyond the picture's sides the edge columns stand in, as the edge rows
    // do above and below, so that a combed area reaching a side is rebuilt in full.
    std::fill(column.begin(), column.begin() + kFade, sum[0]);
    std::fill(column.end() - kFade, column.end(), sum[width - 1]);
    const Span span{std::max(first - kFade, 0), std::min(EndOfNonZero(sum, width) + kFade, width)};
    FadeRow(sum + span.from, span.to - span.from, weights + 3 * int64_t{span.from});
    return span;
}

TESSARY_ROW_KERNEL void KeepAgreeing(const uint8_t* captured, const uint8_t* rebuilt,
                                     int32_t pixels, int32_t tolerance,
                                     uint8_t* __restrict weights) {
    // In bytes throughout, which vectorises where 32-bit differences did not.
    const uint8_t most = static_cast<uint8_t>(std::clamp(tolerance, 0, 255));
    const auto apart = [](uint8_t a, uint8_t b) {
        return static_cast<uint8_t>(std::max(a, b) - std::min(a, b));
    };
    for (int32_t x = 0; x < pixels; ++x) {
        const int32_t i = 3 * x;
        const uint8_t far =
            std::max({apart(captured[i], rebuilt[i]), apart(captured[i + 1], rebuilt[i + 1]),
                      apart(captured[i + 2], rebuilt[i + 2])});
        // All ones where the pixel keeps its weight.
        const uint8_t keep = static_cast<uint8_t>(-uint8_t(far > most));
        weights[i] &= keep;
        weights[i + 1] &= keep;
        weights[i + 2] &= keep;
    }
}

// Moves each byte of the captured row towards the rebuilt one by its weight
// (at most 16, so that the product fits 16 bits).
TESSARY_ROW_KERNEL void Blend(uint8_t* __restrict captured, const uint8_t* __restrict rebuilt,
                              const uint8_t* __restrict weights, int64_t bytes) {
    for (int64_t i = 0; i < bytes; ++i) {
        const int16_t move = static_cast<int16_t>((rebuilt[i] - captured[i]) * weights[i] + 8);
        captured[i] = static_cast<uint8_t>(captured[i] + (move >> 4));
    }
}

TESSARY_ROW_KERNEL void Blend(uint16_t* __restrict captured, const uint16_t* __restrict rebuilt,
                              const uint8_t* __restrict weights, int64_t samples) {
    for (int64_t i = 0; i < samples; ++i) {
        const int32_t move = (rebuilt[i] - captured[i]) * weights[i] + 8;
        captured[i] = static_cast<uint16_t>(captured[i] + (move >> 4));
    }
}

}  // namespace tessary
