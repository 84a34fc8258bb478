#include "ops/adaptive_deinterlace.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "ops/fade_blend.h"
#include "ops/field_interpolation.h"
#include "ops/sign_clusters.h"

namespace tessary {

namespace {

// Pixels by which a combed area grows to each side along a row, so that the
// soft end of a moving edge is rebuilt too.
constexpr int32_t kGrow = 3;
// Every tooth itself is rebuilt in full.
static_assert(kFade <= kGrow);

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
// People spread over a square fill every cell with teeth too, but few of its
// blocks: when the camera moved, at least kPanShare of the blocks with
// texture that would show teeth have them (a pan over a scene of flat road
// and sky a quarter, over a square with people a twentieth). A block has
// such texture when kTexturedPixels of the pixels of two of its rows change
// by a tooth's contrast along the row or to the same field's row below.
constexpr double kPanShare = 0.15;
constexpr int32_t kTextureRows[] = {4, 10};
constexpr int32_t kTexturedPixels = 8;

// Adds to `textured` the pixels of row y (`upper`) that change by more than
// `contrast` along the row or to the same field's row below (`lower`), 1 each,
// from x = 1 on.
TESSARY_ROW_KERNEL void AddTexturedPixels(const int16_t* upper, const int16_t* lower, int32_t width,
                                          int16_t contrast, uint8_t* __restrict textured) {
    for (int32_t x = 1; x + 1 < width; ++x) {
        const int16_t along = Abs16(2 * (upper[x + 1] - upper[x - 1]));
        const int16_t down = Abs16(2 * (lower[x] - upper[x]));
        textured[x] = static_cast<uint8_t>(textured[x] +
                                           (uint8_t(along > contrast) | uint8_t(down > contrast)));
    }
}

// Adds the firm teeth of a row of marks to `teeth`.
TESSARY_ROW_KERNEL void GatherTeeth(const uint8_t* marks, int32_t width,
                                    uint8_t* __restrict teeth) {
    for (int32_t x = 0; x < width; ++x) {
        teeth[x] |= marks[x] & kFirmTooth;
    }
}

// Which kBlock x kBlock blocks hold a firm tooth and which have texture,
// gathered on the comb search's own pass while each row is in the cache:
// afterwards the marks and the picture would have to be read again.
class BlockGatherer final : public CombRowVisitor {
  public:
    BlockGatherer(int32_t width, int32_t height)
        : m_width(std::max(width, 0)),
          m_columns((m_width + kBlock - 1) / kBlock),
          m_rows((std::max(height, 0) + kBlock - 1) / kBlock),
          m_has(size_t(m_columns) * size_t(m_rows), 0),
          m_textured(m_has.size(), 0),
          m_teethOf(size_t(m_width), 0),
          m_texturedOf(size_t(m_width), 0) {}

    void Luma(int32_t y, const int16_t* row, const int16_t* below2,
              CombThresholds thresholds) override {
        const int32_t offset = y % kBlock;
        if (std::find(std::begin(kTextureRows), std::end(kTextureRows), offset) ==
            std::end(kTextureRows)) {
            return;
        }
        if (y / kBlock != m_textureRow) {
            FlushTexture();
            m_textureRow = y / kBlock;
        }
        AddTexturedPixels(row, below2, m_width, thresholds.tooth, m_texturedOf.data());
    }

    void Marks(int32_t y, const uint8_t* marks) override {
        if (y / kBlock != m_teethRow) {
            FlushTeeth();
            m_teethRow = y / kBlock;
        }
        GatherTeeth(marks, m_width, m_teethOf.data());
    }

    // Settles the last block row; call once after the pass.
    void Finish() {
        FlushTeeth();
        FlushTexture();
    }

    int32_t Columns() const { return m_columns; }
    int32_t Rows() const { return m_rows; }
    const std::vector<uint8_t>& Has() const { return m_has; }
    const std::vector<uint8_t>& Textured() const { return m_textured; }

  private:
    void FlushTeeth() {
        if (m_teethRow < 0) {
            return;
        }
        const size_t first = size_t(m_teethRow) * size_t(m_columns);
        for (int32_t x = 0; x < m_width; x += kBlock) {
            const int32_t count = std::min(kBlock, m_width - x);
            m_has[first + size_t(x / kBlock)] = FirstNonZero(m_teethOf.data() + x, count) < count;
        }
        std::fill(m_teethOf.begin(), m_teethOf.end(), uint8_t{0});
        m_teethRow = -1;
    }

    void FlushTexture() {
        if (m_textureRow < 0) {
            return;
        }
        const size_t first = size_t(m_textureRow) * size_t(m_columns);
        for (int32_t x = 0; x < m_width; x += kBlock) {
            int32_t count = 0;
            for (int32_t i = x; i < std::min(x + kBlock, m_width); ++i) {
                count += m_texturedOf[size_t(i)];
            }
            m_textured[first + size_t(x / kBlock)] = count >= kTexturedPixels;
        }
        std::fill(m_texturedOf.begin(), m_texturedOf.end(), uint8_t{0});
        m_textureRow = -1;
    }

    int32_t m_width;
    int32_t m_columns;
    int32_t m_rows;
    std::vector<uint8_t> m_has;
    std::vector<uint8_t> m_textured;
    // The block row being gathered (-1: none), and its per-pixel sums.
    int32_t m_teethRow = -1;
    int32_t m_textureRow = -1;
    std::vector<uint8_t> m_teethOf;
    std::vector<uint8_t> m_texturedOf;
};

// Which blocks lie within reach of a block with a firm tooth (a tooth without
// a sign of combing above or below it is as likely a thin still line as a
// moving edge), and whether firm teeth are all over the picture.
class NearTeeth {
  public:
    explicit NearTeeth(const BlockGatherer& blocks)
        : m_columns(blocks.Columns()),
          m_rows(blocks.Rows()),
          m_near(size_t(m_columns) * size_t(m_rows), 0) {
        const std::vector<uint8_t>& has = blocks.Has();
        m_everywhere = TeethAllOver(has) && MostTextureMoved(has, blocks.Textured());
        std::vector<uint8_t> along(has.size(), 0);
        Spread(has.data(), 1, m_columns, m_columns, m_rows, kReachBlocksX, along.data());
        Spread(along.data(), m_columns, m_rows, 1, m_columns, kReachBlocksY, m_near.data());
    }

    // Whether the whole picture moved (see kMovedCells and kPanShare).
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

    // Whether kPanShare of the blocks with texture have teeth, or are flat
    // but have teeth all the same. Looked at only when every cell has teeth.
    static bool MostTextureMoved(const std::vector<uint8_t>& has,
                                 const std::vector<uint8_t>& textured) {
        size_t moved = 0;
        size_t texture = 0;
        for (size_t i = 0; i < has.size(); ++i) {
            moved += has[i];
            texture += has[i] | textured[i];
        }
        return double(moved) >= kPanShare * double(texture);
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

// A firm tooth in any of the three rows (kClusterSeed), or, near one, a firm
// weak sign in any of them (kClusterSign). Marks without a sign above or below
// are left out: a still line or noise makes those, combing runs through rows
// on end.
TESSARY_ROW_KERNEL void MarkCandidates(const uint8_t* const* marks, const uint8_t* near,
                                       int32_t width, uint8_t* __restrict candidates) {
    const uint8_t* marks0 = marks[0];
    const uint8_t* marks1 = marks[1];
    const uint8_t* marks2 = marks[2];
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t any = marks0[x] | marks1[x] | marks2[x];
        const uint8_t tooth = (any >> 2) & 1;
        candidates[x] = static_cast<uint8_t>((tooth << 1) | tooth | ((any >> 3) & near[x]));
    }
}
static_assert(kFirmTooth == 4 && kFirmSign == 8, "MarkCandidates takes the bits apart by shifting");
static_assert(kClusterSign == 1 && kClusterSeed == 3, "MarkCandidates spells out the marks");

// Grows the marks of `hit` (which has kGrow zero bytes before and after it) by
// kGrow along the row, as 0 or 1.
TESSARY_ROW_KERNEL void GrowAlong(const uint8_t* hit, int32_t width, uint8_t* __restrict area) {
    for (int32_t x = 0; x < width; ++x) {
        area[x] =
            (hit[x - 3] | hit[x - 2] | hit[x - 1] | hit[x] | hit[x + 1] | hit[x + 2] | hit[x + 3]) &
            kClusterSign;
    }
}
static_assert(kGrow == 3, "GrowAlong spells out three pixels to each side");

// Which pixels of the rebuilt rows lie in a combed area, one row of `width`
// bytes per rebuilt row: the marks of MarkCandidates whose cluster stays
// (KeepSeededClusters), grown by kGrow along the row. None when the whole
// picture moved: then every pixel is rebuilt in full.
std::optional<std::vector<uint8_t>> CombedAreas(const CombTeeth& teeth, const BlockGatherer& blocks,
                                                int32_t firstRebuilt) {
    const NearTeeth nearTeeth(blocks);
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
    std::vector<uint8_t> near(bytes);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t y = firstRebuilt + 2 * k;
        const uint8_t* marks[3] = {marksOf(y - 1), marksOf(y), marksOf(y + 1)};
        nearTeeth.RowOf(y, width, near.data());
        MarkCandidates(marks, near.data(), width, areas.data() + size_t(k) * bytes);
    }
    KeepSeededClusters(areas.data(), width, count);
    std::vector<uint8_t> hit(bytes + 2 * kGrow, 0);
    for (int32_t k = 0; k < count; ++k) {
        uint8_t* area = areas.data() + size_t(k) * bytes;
        std::copy_n(area, bytes, hit.data() + kGrow);
        GrowAlong(hit.data() + kGrow, width, area);
    }
    return areas;
}

// Rebuilds the pixels of `span` in row y and fades them in by `weights`, at 8
// bits, or at 16 with the result rounded into the 8-bit row. A pixel whose
// captured value lies within `agree` levels of the rebuilt one keeps it,
// judged at 8 bits at either depth, so that both keep the same pixels.
void RepairSpan(FieldInterpolator& interpolator, const PixelRows& rows, const DeepRows& deep,
                int32_t y, Span span, int32_t agree, uint8_t* weights,
                std::vector<uint8_t>& rebuilt, std::vector<uint16_t>& rebuiltDeep) {
    const int64_t first = 3 * int64_t{span.from};
    const int32_t pixels = span.to - span.from;
    const int64_t count = 3 * int64_t{pixels};
    if (!interpolator.Interpolate(y, rebuilt.data(), span.from, span.to)) {
        return;
    }
    KeepAgreeing(rows.Row(y) + first, rebuilt.data() + first, pixels, agree, weights + first);
    if (deep.IsEmpty()) {
        Blend(rows.Row(y) + first, rebuilt.data() + first, weights + first, count);
    } else if (interpolator.Interpolate(y, deep, rebuiltDeep.data(), span.from, span.to)) {
        Blend(deep.Row(y) + first, rebuiltDeep.data() + first, weights + first, count);
        RoundDeepRow(deep.Row(y) + first, pixels, rows.Row(y) + first);
    }
}

}  // namespace

CombingReport DeinterlaceAdaptive(const PixelRows& rows, std::optional<Field> keep,
                                  const DeepRows& deepRows) {
    // The detector's verdict and field, so that the repair does what --detect
    // and the preview report; the teeth of every row then say where.
    CombTeeth teeth;
    BlockGatherer blocks(rows.IsEmpty() ? 0 : rows.width, rows.IsEmpty() ? 0 : rows.height);
    CombingReport report = FindCombedAreas(rows, teeth, &blocks);
    blocks.Finish();
    if (keep) {
        report.keep = *keep;
    }
    if (rows.IsEmpty() || !report.combed) {
        return report;
    }
    const bool atDepth =
        !deepRows.IsEmpty() && deepRows.width == rows.width && deepRows.height == rows.height;
    const DeepRows deep = atDepth ? deepRows : DeepRows();
    const int32_t width = rows.width;
    const int32_t firstRebuilt = FirstRowOf(OtherField(report.keep));
    const std::optional<std::vector<uint8_t>> areas = CombedAreas(teeth, blocks, firstRebuilt);
    if (!areas) {
        InterpolateField(rows, report.keep, deep);
        return report;
    }
    const int32_t count = (rows.height - firstRebuilt + 1) / 2;
    FieldInterpolator interpolator(rows, report.keep);
    // Where the captured pixel is as near the rebuilt one as a weak sign of
    // combing's contrast, nothing shows that it moved.
    const int32_t agree = teeth.thresholds.weak / kContrastPerLevel;
    std::vector<uint8_t> column(size_t(width) + 2 * kFade, 0);
    std::vector<uint8_t> weights(size_t(rows.RowBytes()));
    std::vector<uint8_t> rebuilt(size_t(rows.RowBytes()));
    std::vector<uint16_t> rebuiltDeep(atDepth ? size_t(rows.RowBytes()) : 0);
    // Rows are rebuilt from the bottom up: the search for teeth has just read
    // the bottom rows, which are still in the cache. Each row depends only on
    // kept rows, so the order changes nothing else.
    for (int32_t k = count - 1; k >= 0; --k) {
        const Span span = FadeWeights(*areas, width, count, k, column, weights.data());
        if (span.from != span.to) {
            RepairSpan(interpolator, rows, deep, firstRebuilt + 2 * k, span, agree, weights.data(),
                       rebuilt, rebuiltDeep);
        }
    }
    return report;
}

}  // namespace tessary
