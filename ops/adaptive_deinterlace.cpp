#include "ops/adaptive_deinterlace.h"

#include <algorithm>
#include <cstdlib>
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

// How far from a tooth weaker signs of combing still count: teeth mark the
// sharp edges of what moved, and the areas between them moved too.
constexpr int32_t kReachX = 128;
constexpr int32_t kReachY = 64;
// A weaker sign: the other field predicts a row worse than its own by this much.
constexpr int32_t kWeakContrast = 16;

// 1 where any mark of `marks` lies within `reach` pixels of x along the row.
void SpreadAlongRow(const uint8_t* marks, int32_t width, int32_t reach, std::vector<int32_t>& sums,
                    uint8_t* near) {
    int32_t* prefix = sums.data();
    prefix[0] = 0;
    for (int32_t x = 0; x < width; ++x) {
        prefix[x + 1] = prefix[x] + marks[x];
    }
    for (int32_t x = 0; x < width; ++x) {
        const int32_t from = std::max(x - reach, 0);
        const int32_t to = std::min(x + reach + 1, width);
        near[x] = prefix[to] > prefix[from];
    }
}

// Pixels within kReachX along the row and kReachY rows of a tooth, whole picture.
std::vector<uint8_t> NearTeeth(const CombTeeth& teeth) {
    const size_t width = size_t(teeth.width);
    std::vector<uint8_t> along(width * size_t(teeth.height));
    std::vector<int32_t> sums(width + 1);
    for (int32_t y = 0; y < teeth.height; ++y) {
        SpreadAlongRow(teeth.MarksOf(y), teeth.width, kReachX, sums, along.data() + y * width);
    }
    std::vector<uint8_t> near(along.size());
    std::vector<int32_t> column(width, 0);  // marks in the rows within reach
    for (int32_t y = 0; y < std::min(kReachY, teeth.height); ++y) {
        for (size_t x = 0; x < width; ++x) {
            column[x] += along[y * width + x];
        }
    }
    for (int32_t y = 0; y < teeth.height; ++y) {
        const int32_t enter = y + kReachY;
        const int32_t leave = y - kReachY - 1;
        if (enter < teeth.height) {
            for (size_t x = 0; x < width; ++x) {
                column[x] += along[enter * width + x];
            }
        }
        if (leave >= 0) {
            for (size_t x = 0; x < width; ++x) {
                column[x] -= along[leave * width + x];
            }
        }
        for (size_t x = 0; x < width; ++x) {
            near[y * width + x] = column[x] > 0;
        }
    }
    return near;
}

// Marks where row y (with two rows above and below it) is predicted worse by
// the other field than by its own.
void MarkWeakSigns(const CombTeeth& teeth, int32_t y, uint8_t* signs) {
    if (y < 2 || y + 2 >= teeth.height) {
        return;
    }
    const int16_t* up2 = teeth.LumaOf(y - 2);
    const int16_t* up = teeth.LumaOf(y - 1);
    const int16_t* row = teeth.LumaOf(y);
    const int16_t* down = teeth.LumaOf(y + 1);
    const int16_t* down2 = teeth.LumaOf(y + 2);
    for (int32_t x = 0; x < teeth.width; ++x) {
        const int32_t other = std::abs(2 * row[x] - up[x] - down[x]);
        const int32_t own = std::abs(2 * row[x] - up2[x] - down2[x]);
        signs[x] |= other > own + kWeakContrast;
    }
}

// Which pixels of the rebuilt rows lie in a combed area, one row of `width`
// bytes per rebuilt row: a tooth in the row or in the kept rows above or
// below, or a weaker sign there near a tooth; grown by kGrow along the row.
std::vector<uint8_t> CombedAreas(const CombTeeth& teeth, int32_t firstRebuilt) {
    const int32_t width = teeth.width;
    const int32_t count = (teeth.height - firstRebuilt + 1) / 2;
    std::vector<uint8_t> areas(size_t(width) * size_t(std::max(count, 0)), 0);
    const std::vector<uint8_t> near = NearTeeth(teeth);
    std::vector<uint8_t> hit(size_t(width) + 2 * kGrow, 0);
    std::vector<uint8_t> weak(static_cast<size_t>(width));
    for (int32_t k = 0; k < count; ++k) {
        const int32_t y = firstRebuilt + 2 * k;
        uint8_t* row = hit.data() + kGrow;
        std::memset(weak.data(), 0, weak.size());
        for (int32_t n = y - 1; n <= y + 1; ++n) {
            MarkWeakSigns(teeth, n, weak.data());
        }
        const uint8_t* nearRow = near.data() + size_t(y) * size_t(width);
        const uint8_t* marks = teeth.MarksOf(y);
        for (int32_t x = 0; x < width; ++x) {
            row[x] = marks[x] | (weak[x] & nearRow[x]);
        }
        for (int32_t n = y - 1; n <= y + 1; n += 2) {
            if (n < 0 || n >= teeth.height) {
                continue;
            }
            const uint8_t* other = teeth.MarksOf(n);
            for (int32_t x = 0; x < width; ++x) {
                row[x] |= other[x];
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
    if (rows.IsEmpty() || !report.combed) {
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
