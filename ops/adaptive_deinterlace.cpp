#include "ops/adaptive_deinterlace.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ops/field_interpolation.h"

namespace tessary {

namespace {

// Pixels by which a combed area grows to each side along a row, so that the
// soft end of a moving edge is rebuilt too.
constexpr int32_t kGrow = 3;
// Half the width of the fade between rebuilt and captured pixels; at most
// kGrow, so that every tooth itself is rebuilt in full.
constexpr int32_t kFade = 2;
static_assert(kFade <= kGrow);
// The fade sums (2 kFade + 1) pixels of three rebuilt rows.
constexpr int32_t kFadeCells = 3 * (2 * kFade + 1);

// Which pixels of the rebuilt rows lie in a combed area, one row of `width`
// bytes per rebuilt row: a tooth in the row or in the kept row above or below,
// grown by kGrow along the row.
std::vector<uint8_t> CombedAreas(const CombTeeth& teeth, int32_t firstRebuilt) {
    const int32_t width = teeth.width;
    const int32_t count = (teeth.height - firstRebuilt + 1) / 2;
    std::vector<uint8_t> areas(size_t(width) * size_t(std::max(count, 0)), 0);
    std::vector<uint8_t> hit(size_t(width) + 2 * kGrow, 0);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t y = firstRebuilt + 2 * k;
        uint8_t* row = hit.data() + kGrow;
        std::memcpy(row, teeth.MarksOf(y), size_t(width));
        for (int32_t n = y - 1; n <= y + 1; n += 2) {
            if (n < 0 || n >= teeth.height) {
                continue;
            }
            const uint8_t* marks = teeth.MarksOf(n);
            for (int32_t x = 0; x < width; ++x) {
                row[x] |= marks[x];
            }
        }
        uint8_t* area = areas.data() + size_t(k) * size_t(width);
        for (int32_t x = 0; x < width; ++x) {
            uint8_t any = 0;
            for (int32_t d = -kGrow; d <= kGrow; ++d) {
                any |= row[x + d];
            }
            area[x] = any;
        }
    }
    return areas;
}

// Weight (0 .. 16) of the rebuilt pixel in each pixel of rebuilt row k: the
// share of combed cells among the row's and the neighbouring rebuilt rows'
// pixels within kFade. Returns false when the whole row keeps its pixels.
bool FadeWeights(const std::vector<uint8_t>& areas, int32_t width, int32_t count, int32_t k,
                 std::vector<uint8_t>& column, uint8_t* weights) {
    const uint8_t* rows[3];
    for (int32_t d = -1; d <= 1; ++d) {
        const int32_t n = std::clamp(k + d, 0, count - 1);
        rows[d + 1] = areas.data() + size_t(n) * size_t(width);
    }
    uint8_t* sum = column.data() + kFade;
    bool any = false;
    for (int32_t x = 0; x < width; ++x) {
        sum[x] = static_cast<uint8_t>(rows[0][x] + rows[1][x] + rows[2][x]);
        any |= sum[x] != 0;
    }
    if (!any) {
        return false;
    }
    for (int32_t x = 0; x < width; ++x) {
        int32_t cells = 0;
        for (int32_t d = -kFade; d <= kFade; ++d) {
            cells += sum[x + d];
        }
        // 0 .. kFadeCells to 0 .. 16, rounding so that a full count gives 16.
        weights[x] = static_cast<uint8_t>((cells * 16 + kFadeCells / 2) / kFadeCells);
    }
    return true;
}

// Moves each byte of the captured row towards the rebuilt one by its pixel's weight.
void Blend(uint8_t* captured, const uint8_t* rebuilt, const uint8_t* weights, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t w = weights[x];
        for (int32_t c = 3 * x; c < 3 * x + 3; ++c) {
            const int32_t change = (rebuilt[c] - captured[c]) * w;
            captured[c] = static_cast<uint8_t>(captured[c] + ((change + 8) >> 4));
        }
    }
}

}  // namespace

CombingReport DeinterlaceAdaptive(const PixelRows& rows, std::optional<Field> keep) {
    CombTeeth teeth;
    FindCombTeeth(rows, teeth);
    CombingReport report = ReportCombing(teeth);
    if (keep) {
        report.keep = *keep;
    }
    if (rows.IsEmpty()) {
        return report;
    }
    const int32_t width = rows.width;
    const int32_t firstRebuilt = FirstRowOf(OtherField(report.keep));
    const std::vector<uint8_t> areas = CombedAreas(teeth, firstRebuilt);
    const int32_t count = (rows.height - firstRebuilt + 1) / 2;
    FieldInterpolator interpolator(rows, report.keep);
    std::vector<uint8_t> column(size_t(width) + 2 * kFade, 0);
    std::vector<uint8_t> weights(static_cast<size_t>(width));
    std::vector<uint8_t> rebuilt(size_t(rows.RowBytes()));
    for (int32_t k = 0; k < count; ++k) {
        if (!FadeWeights(areas, width, count, k, column, weights.data())) {
            continue;
        }
        const int32_t y = firstRebuilt + 2 * k;
        std::memcpy(rebuilt.data(), rows.Row(y), rebuilt.size());
        interpolator.Interpolate(y, rebuilt.data());
        Blend(rows.Row(y), rebuilt.data(), weights.data(), width);
    }
    return report;
}

}  // namespace tessary
