#include "ops/adaptive_deinterlace.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
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

// How far from a tooth weaker signs of combing still count, in blocks of
// kBlock x kBlock pixels: teeth mark the sharp edges of what moved, and the
// areas between them moved too. About 64 pixels along the row and 32 rows:
// farther, still texture beside a moving subject gets rebuilt for nothing.
constexpr int32_t kBlock = 16;
constexpr int32_t kReachBlocksX = 4;
constexpr int32_t kReachBlocksY = 2;
// A weaker sign: the other field predicts a row worse than its own by this much.
constexpr int32_t kWeakContrast = 24;

// When the camera moved, every part of the picture with any texture has teeth
// and nothing is still: the whole field is rebuilt. Told by the picture cut
// into kGrid x kGrid cells, at least kMovedCells of them with teeth in
// kCellTeeth blocks or more (one cell may be sky or another flat area).
constexpr int32_t kGrid = 3;
constexpr int32_t kMovedCells = 8;
constexpr int32_t kCellTeeth = 2;

// Whether any of `count` (at most kBlock) marks is set, eight at a time.
uint8_t AnyMark(const uint8_t* marks, int32_t count) {
    uint64_t any = 0;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t eight;
        std::memcpy(&eight, marks + i, 8);
        any |= eight;
    }
    for (; i < count; ++i) {
        any |= marks[i];
    }
    return any != 0;
}

// Which blocks lie within reach of a block with a tooth.
class NearTeeth {
  public:
    explicit NearTeeth(const CombTeeth& teeth)
        : m_columns((teeth.width + kBlock - 1) / kBlock),
          m_rows((teeth.height + kBlock - 1) / kBlock),
          m_near(size_t(m_columns) * size_t(m_rows), 0) {
        std::vector<uint8_t> has(m_near.size(), 0);
        for (int32_t y = 0; y < teeth.height; ++y) {
            const uint8_t* marks = teeth.MarksOf(y);
            uint8_t* blocks = has.data() + size_t(y / kBlock) * size_t(m_columns);
            for (int32_t x = 0; x < teeth.width; x += kBlock) {
                blocks[x / kBlock] |= AnyMark(marks + x, std::min(kBlock, teeth.width - x));
            }
        }
        m_everywhere = TeethAllOver(has);
        std::vector<uint8_t> along(has.size(), 0);
        Spread(has.data(), 1, m_columns, m_columns, m_rows, kReachBlocksX, along.data());
        Spread(along.data(), m_columns, m_rows, 1, m_columns, kReachBlocksY, m_near.data());
    }

    // Whether the whole picture moved (see kMovedCells).
    bool Everywhere() const { return m_everywhere; }

    // Expands block row y / kBlock into one byte per pixel.
    void RowOf(int32_t y, int32_t width, uint8_t* near) const {
        const uint8_t* blocks = m_near.data() + size_t(y / kBlock) * size_t(m_columns);
        for (int32_t x = 0; x < width; ++x) {
            near[x] = blocks[x / kBlock];
        }
    }

  private:
    bool TeethAllOver(const std::vector<uint8_t>& has) const {
        int32_t cellTeeth[kGrid * kGrid] = {};
        for (int32_t y = 0; y < m_rows; ++y) {
            for (int32_t x = 0; x < m_columns; ++x) {
                const int32_t cell = (y * kGrid / m_rows) * kGrid + x * kGrid / m_columns;
                cellTeeth[cell] += has[size_t(y) * size_t(m_columns) + size_t(x)];
            }
        }
        const auto moved = std::count_if(std::begin(cellTeeth), std::end(cellTeeth),
                                         [](int32_t teeth) { return teeth >= kCellTeeth; });
        return moved >= kMovedCells;
    }

    // Grows marks by `reach` cells along lines of `length` cells, `step` apart,
    // for `lines` lines that start `lineStep` apart.
    static void Spread(const uint8_t* from, int32_t step, int32_t length, int32_t lineStep,
                       int32_t lines, int32_t reach, uint8_t* to) {
        for (int32_t line = 0; line < lines; ++line) {
            const uint8_t* in = from + size_t(line) * size_t(lineStep);
            uint8_t* out = to + size_t(line) * size_t(lineStep);
            for (int32_t i = 0; i < length; ++i) {
                uint8_t any = 0;
                for (int32_t j = std::max(i - reach, 0); j <= std::min(i + reach, length - 1);
                     ++j) {
                    any |= in[size_t(j) * size_t(step)];
                }
                out[size_t(i) * size_t(step)] = any;
            }
        }
    }

    int32_t m_columns;
    int32_t m_rows;
    std::vector<uint8_t> m_near;
    bool m_everywhere = false;
};

// Marks where row y (with two rows above and below it) is predicted worse by
// the other field than by its own.
TESSARY_ROW_KERNEL void MarkWeakSigns(const int16_t* up2, const int16_t* up, const int16_t* row,
                                      const int16_t* down, const int16_t* down2, int32_t width,
                                      uint8_t* __restrict signs) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t other = std::abs(2 * row[x] - up[x] - down[x]);
        const int32_t own = std::abs(2 * row[x] - up2[x] - down2[x]);
        signs[x] |= other > own + kWeakContrast;
    }
}

// A tooth or, near one, a weak sign; then grown by kGrow along the row
// (`hit` has kGrow zero bytes before and after it).
TESSARY_ROW_KERNEL void MarkArea(const uint8_t* marks, const uint8_t* weak, const uint8_t* near,
                                 int32_t width, uint8_t* hit, uint8_t* area) {
    for (int32_t x = 0; x < width; ++x) {
        hit[x] = marks[x] | (weak[x] & near[x]);
    }
    for (int32_t x = 0; x < width; ++x) {
        area[x] =
            hit[x - 3] | hit[x - 2] | hit[x - 1] | hit[x] | hit[x + 1] | hit[x + 2] | hit[x + 3];
    }
}
static_assert(kGrow == 3, "MarkArea spells out three pixels to each side");

// Which pixels of the rebuilt rows lie in a combed area, one row of `width`
// bytes per rebuilt row: a tooth in the row or in the kept rows above or
// below, or a weaker sign there near a tooth; grown by kGrow along the row.
// All of them when the whole picture moved.
std::vector<uint8_t> CombedAreas(const CombTeeth& teeth, int32_t firstRebuilt) {
    const int32_t width = teeth.width;
    const int32_t count = (teeth.height - firstRebuilt + 1) / 2;
    const size_t bytes = size_t(std::max(width, 0));
    std::vector<uint8_t> areas(bytes * size_t(std::max(count, 0)), 0);
    const NearTeeth nearTeeth(teeth);
    if (nearTeeth.Everywhere()) {
        std::fill(areas.begin(), areas.end(), uint8_t{1});
        return areas;
    }
    std::vector<uint8_t> hit(bytes + 2 * kGrow, 0);
    std::vector<uint8_t> weak(bytes);
    std::vector<uint8_t> marks(bytes);
    std::vector<uint8_t> near(bytes);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t y = firstRebuilt + 2 * k;
        std::fill(weak.begin(), weak.end(), uint8_t{0});
        std::fill(marks.begin(), marks.end(), uint8_t{0});
        for (int32_t n = std::max(y - 1, 0); n <= std::min(y + 1, teeth.height - 1); ++n) {
            const uint8_t* row = teeth.MarksOf(n);
            for (int32_t x = 0; x < width; ++x) {
                marks[x] |= row[x];
            }
            if (n >= 2 && n + 2 < teeth.height) {
                MarkWeakSigns(teeth.LumaOf(n - 2), teeth.LumaOf(n - 1), teeth.LumaOf(n),
                              teeth.LumaOf(n + 1), teeth.LumaOf(n + 2), width, weak.data());
            }
        }
        nearTeeth.RowOf(y, width, near.data());
        MarkArea(marks.data(), weak.data(), near.data(), width, hit.data() + kGrow,
                 areas.data() + size_t(k) * size_t(width));
    }
    return areas;
}

// Weights from the combed cells around each pixel (`sum` has kFade bytes
// before and after it).
TESSARY_ROW_KERNEL void FadeRow(const uint8_t* sum, int32_t width, uint8_t* weights) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t cells = sum[x - 2] + sum[x - 1] + sum[x] + sum[x + 1] + sum[x + 2];
        // 0 .. kFadeCells to 0 .. 16, rounding so that a full count gives 16.
        weights[x] = static_cast<uint8_t>((cells * 16 + kFadeCells / 2) / kFadeCells);
    }
}
static_assert(kFade == 2, "FadeRow spells out two pixels to each side");

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
    uint8_t any = 0;
    for (int32_t x = 0; x < width; ++x) {
        sum[x] = static_cast<uint8_t>(rows[0][x] + rows[1][x] + rows[2][x]);
        any |= sum[x];
    }
    if (any == 0) {
        return false;
    }
    // Beyond the picture's sides the edge columns stand in, as the edge rows
    // do above and below, so that a combed area reaching a side is rebuilt in full.
    std::fill(column.begin(), column.begin() + kFade, sum[0]);
    std::fill(column.end() - kFade, column.end(), sum[width - 1]);
    FadeRow(sum, width, weights);
    return true;
}

// Moves each byte of the captured row towards the rebuilt one by its pixel's weight.
TESSARY_ROW_KERNEL void Blend(uint8_t* captured, const uint8_t* rebuilt, const uint8_t* weights,
                              int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t w = weights[x];
        uint8_t* pixel = captured + 3 * x;
        const uint8_t* source = rebuilt + 3 * x;
        pixel[0] = static_cast<uint8_t>(pixel[0] + (((source[0] - pixel[0]) * w + 8) >> 4));
        pixel[1] = static_cast<uint8_t>(pixel[1] + (((source[1] - pixel[1]) * w + 8) >> 4));
        pixel[2] = static_cast<uint8_t>(pixel[2] + (((source[2] - pixel[2]) * w + 8) >> 4));
    }
}

}  // namespace

CombingReport DeinterlaceAdaptive(const PixelRows& rows, std::optional<Field> keep) {
    CombTeeth teeth;
    FindCombTeeth(rows, teeth);
    CombingReport report = ReportCombing(teeth.counts);
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
