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

// When the camera moved, every part of the picture with any texture has teeth
// and nothing is still: the whole field is rebuilt. Told by the picture cut
// into kGrid x kGrid cells, at least kMovedCells of them with firm teeth in
// kCellTeeth blocks or more (two cells may be sky or other flat areas).
constexpr int32_t kGrid = 3;
constexpr int32_t kMovedCells = 7;
constexpr int32_t kCellTeeth = 2;

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

// Adds the firm teeth of a row of marks to `teeth`.
TESSARY_ROW_KERNEL void GatherTeeth(const uint8_t* marks, int32_t width,
                                    uint8_t* __restrict teeth) {
    for (int32_t x = 0; x < width; ++x) {
        teeth[x] |= marks[x] & kFirmTooth;
    }
}

// Which blocks lie within reach of a block with a firm tooth (a tooth without
// a sign of combing above or below it is as likely a thin still line as a
// moving edge), and whether firm teeth are all over the picture.
class NearTeeth {
  public:
    explicit NearTeeth(const CombTeeth& teeth)
        : m_columns((teeth.width + kBlock - 1) / kBlock),
          m_rows((teeth.height + kBlock - 1) / kBlock),
          m_near(size_t(m_columns) * size_t(m_rows), 0) {
        std::vector<uint8_t> has(m_near.size(), 0);
        // The teeth of a block row's rows gathered first, then looked at block by block.
        std::vector<uint8_t> teethOf(size_t(teeth.width));
        for (int32_t top = 0; top < teeth.height; top += kBlock) {
            std::fill(teethOf.begin(), teethOf.end(), uint8_t{0});
            for (int32_t y = top; y < std::min(top + kBlock, teeth.height); ++y) {
                GatherTeeth(teeth.MarksOf(y), teeth.width, teethOf.data());
            }
            const size_t first = size_t(top / kBlock) * size_t(m_columns);
            for (int32_t x = 0; x < teeth.width; x += kBlock) {
                const int32_t count = std::min(kBlock, teeth.width - x);
                has[first + size_t(x / kBlock)] = FirstNonZero(teethOf.data() + x, count) < count;
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
        for (int32_t x = 0; x < width; x += kBlock) {
            std::memset(near + x, blocks[x / kBlock], size_t(std::min(kBlock, width - x)));
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

// A firm tooth in any of the three rows, or, near one, a firm weak sign in any
// of them; then grown by kGrow along the row (`hit` has kGrow zero bytes
// before and after it). Marks without a sign above or below are left out: a
// still line or noise makes those, combing runs through rows on end.
TESSARY_ROW_KERNEL void MarkArea(const uint8_t* const* marks, const uint8_t* near, int32_t width,
                                 uint8_t* hit, uint8_t* area) {
    const uint8_t* marks0 = marks[0];
    const uint8_t* marks1 = marks[1];
    const uint8_t* marks2 = marks[2];
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t any = marks0[x] | marks1[x] | marks2[x];
        hit[x] = ((any >> 2) & 1) | ((any >> 3) & near[x]);
    }
    for (int32_t x = 0; x < width; ++x) {
        area[x] =
            hit[x - 3] | hit[x - 2] | hit[x - 1] | hit[x] | hit[x + 1] | hit[x + 2] | hit[x + 3];
    }
}
static_assert(kGrow == 3, "MarkArea spells out three pixels to each side");
static_assert(kFirmTooth == 4 && kFirmSign == 8, "MarkArea takes the bits apart by shifting");

// Which pixels of the rebuilt rows lie in a combed area, one row of `width`
// bytes per rebuilt row: a firm tooth in the row or in the kept rows above or
// below, or a firm weaker sign there near one; grown by kGrow along the row.
// None when the whole picture moved: then every pixel is rebuilt in full.
std::optional<std::vector<uint8_t>> CombedAreas(const CombTeeth& teeth, int32_t firstRebuilt) {
    const NearTeeth nearTeeth(teeth);
    if (nearTeeth.Everywhere()) {
        return std::nullopt;
    }
    const int32_t width = teeth.width;
    const int32_t count = (teeth.height - firstRebuilt + 1) / 2;
    const size_t bytes = size_t(std::max(width, 0));
    std::vector<uint8_t> areas(bytes * size_t(std::max(count, 0)), 0);
    // Rows outside the picture have no marks.
    const std::vector<uint8_t> zeros(bytes, 0);
    const auto marksOf = [&](int32_t y) {
        return y < 0 || y >= teeth.height ? zeros.data() : teeth.MarksOf(y);
    };
    std::vector<uint8_t> hit(bytes + 2 * kGrow, 0);
    std::vector<uint8_t> near(bytes);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t y = firstRebuilt + 2 * k;
        const uint8_t* marks[3] = {marksOf(y - 1), marksOf(y), marksOf(y + 1)};
        nearTeeth.RowOf(y, width, near.data());
        MarkArea(marks, near.data(), width, hit.data() + kGrow,
                 areas.data() + size_t(k) * size_t(width));
    }
    return areas;
}

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

// The pixels from .. to - 1 of a rebuilt row: the stretch that holds every
// pixel with a weight.
struct Span {
    int32_t from = 0;
    int32_t to = 0;
};

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

// Moves each byte of the captured row towards the rebuilt one by its weight
// (at most 16, so that the product fits 16 bits).
TESSARY_ROW_KERNEL void Blend(uint8_t* __restrict captured, const uint8_t* __restrict rebuilt,
                              const uint8_t* __restrict weights, int64_t bytes) {
    for (int64_t i = 0; i < bytes; ++i) {
        const int16_t move = static_cast<int16_t>((rebuilt[i] - captured[i]) * weights[i] + 8);
        captured[i] = static_cast<uint8_t>(captured[i] + (move >> 4));
    }
}

}  // namespace

CombingReport DeinterlaceAdaptive(const PixelRows& rows, std::optional<Field> keep) {
    // The detector's verdict and field, so that the repair does what --detect
    // and the preview report; the teeth of every row then say where.
    CombTeeth teeth;
    CombingReport report = FindCombedAreas(rows, teeth);
    if (keep) {
        report.keep = *keep;
    }
    if (rows.IsEmpty() || !report.combed) {
        return report;
    }
    const int32_t width = rows.width;
    const int32_t firstRebuilt = FirstRowOf(OtherField(report.keep));
    const std::optional<std::vector<uint8_t>> areas = CombedAreas(teeth, firstRebuilt);
    const int32_t count = (rows.height - firstRebuilt + 1) / 2;
    FieldInterpolator interpolator(rows, report.keep);
    if (!areas) {
        // The interpolator reads only kept rows, so rebuilt ones are written in place.
        for (int32_t y = firstRebuilt; y < rows.height; y += 2) {
            interpolator.Interpolate(y, rows.Row(y));
        }
        return report;
    }
    std::vector<uint8_t> column(size_t(width) + 2 * kFade, 0);
    std::vector<uint8_t> weights(size_t(rows.RowBytes()));
    std::vector<uint8_t> rebuilt(size_t(rows.RowBytes()));
    for (int32_t k = 0; k < count; ++k) {
        const Span span = FadeWeights(*areas, width, count, k, column, weights.data());
        if (span.from == span.to) {
            continue;
        }
        const int32_t y = firstRebuilt + 2 * k;
        if (interpolator.Interpolate(y, rebuilt.data(), span.from, span.to)) {
            const int64_t first = 3 * int64_t{span.from};
            Blend(rows.Row(y) + first, rebuilt.data() + first, weights.data() + first,
                  3 * int64_t{span.to - span.from});
        }
    }
    return report;
}

}  // namespace tessary
