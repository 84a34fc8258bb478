#include "ops/combing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tessary {

namespace {

// The contrasts from the noise level (the lower quartile of the curvature
// along rows, about a third of its spread on pure noise): a weak sign at about
// one and a half times the spread of a field's prediction error, a tooth a
// little above, so that every tooth stays a weak sign too; runs, and a sign
// above or below, take out what noise still marks.
// kMaxContrast keeps the comparisons within 16 bits.
constexpr int32_t kToothPerNoise2 = 11;  // halves
constexpr int32_t kWeakPerNoise = 5;
static_assert(kToothPerNoise2 >= 2 * kWeakPerNoise && kToothContrast >= kWeakContrast,
              "a tooth must reach a weak sign's contrast");
constexpr int32_t kMaxContrast = 1000;
constexpr int32_t kNoiseBins = 256;

// Bottom field only when its rows are clearly the more consistent.
constexpr double kBottomMargin = 0.75;
// Keeps a picture with a few teeth and no detail at all from scoring 100.
constexpr double kScoreFloor = 0.05e-3;

// Room before and after a row of raw marks, kept 0, so that the runs can be
// found without tests at the row's ends.
constexpr int32_t kRunPad = kToothRun - 1;

// How many of `count` bytes, each 0 or 1, are 1: summed in 16 bits over
// stretches short enough not to overflow them, which vectorises with far fewer
// widenings than a 32-bit sum.
TESSARY_ROW_KERNEL uint32_t CountOnes(const uint8_t* bytes, int32_t count) {
    constexpr int32_t kStretch = UINT16_MAX;
    uint32_t ones = 0;
    for (int32_t from = 0; from < count; from += kStretch) {
        uint16_t part = 0;
        for (int32_t i = from; i < std::min(from + kStretch, count); ++i) {
            part = static_cast<uint16_t>(part + bytes[i]);
        }
        ones += part;
    }
    return ones;
}

// Keeps only runs of kToothRun or more teeth of `raw` (which has kRunPad zero
// bytes before and after it); its weak signs stay as they are.
TESSARY_ROW_KERNEL void KeepRuns(const uint8_t* raw, int32_t width, uint8_t* core, uint8_t* kept) {
    // core[i] (from i = -kRunPad): a run starts at i.
    for (int32_t i = -kRunPad; i < width; ++i) {
        core[i + kRunPad] = raw[i] & raw[i + 1] & raw[i + 2] & raw[i + 3] & raw[i + 4] & kTooth;
    }
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* starts = core + x;  // runs starting at x - 4 .. x
        kept[x] = starts[0] | starts[1] | starts[2] | starts[3] | starts[4] | (raw[x] & kWeakSign);
    }
}
static_assert(kToothRun == 5, "KeepRuns spells out five pixels");

// Counts in `column` how many rows on end, down to this one, have a raw tooth
// at each pixel, and adds to `teeth` (marks, or the teeth counted) the pixels
// at the foot of `tall` or more: a vertical edge moving sideways leaves teeth
// no wider than its step, too narrow for a run, but one above the other down
// its height, which noise and still detail do not.
TESSARY_ROW_KERNEL void KeepColumns(const uint8_t* raw, int32_t width, uint8_t tall,
                                    uint8_t* __restrict column, uint8_t* __restrict teeth) {
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t more = static_cast<uint8_t>(column[x] + (column[x] < UINT8_MAX));
        // All ones where the row has a raw tooth: a mask, as bytes have no
        // vector multiply and a product by 0 or 1 took a widening and a pack.
        const uint8_t tooth = static_cast<uint8_t>(-(raw[x] & kTooth));
        column[x] = static_cast<uint8_t>(tooth & more);
        teeth[x] = static_cast<uint8_t>(teeth[x] | uint8_t(column[x] >= tall));
    }
}
static_assert(kTooth == 1, "KeepColumns adds the comparison's 1");

// The teeth of a row that have a tooth above or below them.
TESSARY_ROW_KERNEL void KeepStacked(const uint8_t* above, const uint8_t* marks,
                                    const uint8_t* below, int32_t width,
                                    uint8_t* __restrict stacked) {
    for (int32_t x = 0; x < width; ++x) {
        stacked[x] = marks[x] & (above[x] | below[x]) & kTooth;
    }
}

// Row y against the other field (the rows next to it) and its own (two away):
// `teeth` where the other field predicts it much worse, with kWeakSign where
// it does by the weak contrast, and `detail` where its own predicts it much worse.
TESSARY_ROW_KERNEL void CompareFields(const int16_t* up2, const int16_t* up, const int16_t* row,
                                      const int16_t* down, const int16_t* down2, int32_t width,
                                      CombThresholds thresholds, uint8_t* __restrict teeth,
                                      uint8_t* __restrict detail) {
    const int16_t toothContrast = thresholds.tooth;
    const int16_t weakContrast = thresholds.weak;
    for (int32_t x = 0; x < width; ++x) {
        const int16_t other = Abs16(2 * row[x] - up[x] - down[x]);
        const int16_t own = Abs16(2 * row[x] - up2[x] - down2[x]);
        // At most 2 x 2040 + kMaxContrast: the sums fit 16 bits too.
        const uint8_t tooth = other > static_cast<int16_t>(kToothFactor * own + toothContrast);
        // A quarter of its own miss on top: where both fields miss alike (the
        // middle of a thin line) the own field is no better a guess.
        const uint8_t weak = other > static_cast<int16_t>(own + (own >> 2) + weakContrast);
        teeth[x] = static_cast<uint8_t>(tooth | (weak << 1));
        detail[x] = own > static_cast<int16_t>(kToothFactor * other + toothContrast);
    }
}

// Adds kFirmTooth and kFirmSign to the marks of a row from the raw marks of
// the rows above and below it.
TESSARY_ROW_KERNEL void MarkFirm(const uint8_t* above, uint8_t* __restrict marks,
                                 const uint8_t* below, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        // Every tooth is a weak sign too, so one bit of the neighbours serves both.
        const uint8_t signNear = static_cast<uint8_t>(((above[x] | below[x]) & kWeakSign) >> 1);
        const uint8_t firm = static_cast<uint8_t>(marks[x] & (signNear | (signNear << 1)));
        marks[x] = static_cast<uint8_t>(marks[x] | (firm << 2));
    }
}
static_assert(kTooth == 1 && kWeakSign == 2 && kFirmTooth == kTooth << 2 &&
                  kFirmSign == kWeakSign << 2,
              "MarkFirm shifts the raw marks by two");

// min(|2 L(x) - L(x - 1) - L(x + 1)|, 255) for x = 1 .. width - 2, at curve[x - 1].
TESSARY_ROW_KERNEL void CurvatureAlong(const int16_t* luma, int32_t width,
                                       uint8_t* __restrict curve) {
    for (int32_t x = 1; x + 1 < width; ++x) {
        const int16_t c = Abs16(2 * luma[x] - luma[x - 1] - luma[x + 1]);
        curve[x - 1] = static_cast<uint8_t>(std::min<int16_t>(c, 255));
    }
}
static_assert(kTooth == 1 && kWeakSign == 2, "CompareFields shifts the weak sign by one");

// The luma of the last few rows, each worked out when first asked for: a pass
// asks for rows in order, at most kLumaRows - 1 behind the newest, so the rows
// stay in the cache and a frame's worth is never stored.
class LumaRows {
  public:
    LumaRows(const PixelRows& rows, int32_t width)
        : m_rows(rows), m_width(size_t(width)), m_luma(m_width * kLumaRows) {}

    const int16_t* Of(int32_t y) {
        for (; m_next <= y; ++m_next) {
            // Rows are asked for in order: the next one is fetched meanwhile.
            const uint8_t* next = m_next + 1 < m_rows.height ? m_rows.Row(m_next + 1) : nullptr;
            LumaOfRow(m_rows.Row(m_next), int32_t(m_width), Slot(m_next), next);
        }
        return Slot(y);
    }

  private:
    static constexpr int32_t kLumaRows = 8;
    int16_t* Slot(int32_t y) { return m_luma.data() + size_t(y % kLumaRows) * m_width; }

    PixelRows m_rows;
    size_t m_width;
    std::vector<int16_t> m_luma;
    int32_t m_next = 0;
};

// Sum over the teeth of row y of how far it differs from its own field's
// rows: how rough that field's picture is where the fields disagree.
TESSARY_ROW_KERNEL uint64_t Roughness(const uint8_t* marks, const int16_t* up2, const int16_t* row,
                                      const int16_t* down2, int32_t width) {
    // Summed in 32 bits over stretches short enough not to overflow them
    // (products of 16 bits summed into 32 is what GCC vectorises best).
    constexpr int32_t kStretch = 1 << 16;
    uint64_t sum = 0;
    for (int32_t from = 0; from < width; from += kStretch) {
        uint32_t part = 0;
        for (int32_t x = from; x < std::min(from + kStretch, width); ++x) {
            const int16_t rough = Abs16(2 * row[x] - up2[x] - down2[x]);
            part += static_cast<uint32_t>(marks[x] * rough);
        }
        sum += part;
    }
    return sum;
}

}  // namespace

void CombCounts::Add(const CombCounts& other) {
    compared += other.compared;
    teeth += other.teeth;
    detail += other.detail;
    roughness[0] += other.roughness[0];
    roughness[1] += other.roughness[1];
}

namespace {

// The rows whose teeth and detail are counted: bands of `rows` rows, one
// every `every` rows, each counted as a picture of its own would be.
struct Bands {
    int32_t rows;
    int32_t every;

    // Where row y stands in its band, or -1 when it is not counted: a band's
    // two rows at each edge are not, as a picture's are not.
    int32_t Place(int32_t y, int32_t height) const {
        const int32_t top = y / every * every;
        const int32_t place = y - top;
        return top + rows <= height && place >= 2 && place + 2 < rows ? place : -1;
    }
};

// Detection alone looks at a band of kSampleRows rows out of every kSampleEvery
// (even, so that each band starts on the top field) where the picture is tall
// enough, else at every row.
constexpr int32_t kSampleRows = 12;
constexpr int32_t kSampleEvery = 32;

Bands SampleBands(const PixelRows& rows) {
    const int32_t height = rows.IsEmpty() ? 0 : rows.height;
    return height < 2 * kSampleEvery ? Bands{height, height} : Bands{kSampleRows, kSampleEvery};
}

// Finds the teeth and weak signs of every row, and counts the rows of `bands`.
void FindTeeth(const PixelRows& rows, CombTeeth& frame, Bands bands, CombThresholds thresholds,
               CombRowVisitor* visitor = nullptr) {
    frame.width = rows.IsEmpty() ? 0 : rows.width;
    frame.height = rows.IsEmpty() ? 0 : rows.height;
    frame.counts = CombCounts();
    frame.thresholds = thresholds;
    const size_t width = size_t(frame.width);
    const size_t pixels = width * size_t(frame.height);
    frame.marks.reset(new uint8_t[pixels]);
    if (pixels == 0) {
        return;
    }
    // Two rows at the top and the bottom lack a neighbour in their own field
    // and are never marked.
    const size_t edge = std::min<size_t>(2, size_t(frame.height)) * width;
    std::fill(frame.marks.get(), frame.marks.get() + edge, uint8_t{0});
    std::fill(frame.marks.get() + pixels - edge, frame.marks.get() + pixels, uint8_t{0});
    std::vector<uint8_t> teeth(width + 2 * kRunPad, 0);
    std::vector<uint8_t> detail(width + 2 * kRunPad, 0);
    std::vector<uint8_t> core(width + kRunPad);
    std::vector<uint8_t> kept(width);
    std::vector<uint8_t> stacked(width);
    const std::vector<uint8_t> zeros(width, 0);
    // Columns of raw teeth: over the whole picture for the marks, and from
    // the top of its band for what a band counts, as a picture of its own.
    std::vector<uint8_t> column(width, 0);
    std::vector<uint8_t> bandColumn(width, 0);
    // The teeth that count, of the last three rows.
    std::vector<uint8_t> counted[3];
    for (std::vector<uint8_t>& row : counted) {
        row.assign(width, 0);
    }
    const auto countedOf = [&](int32_t y) { return counted[y % 3].data(); };
    uint8_t* teethRow = teeth.data() + kRunPad;
    uint8_t* detailRow = detail.data() + kRunPad;
    CombCounts& counts = frame.counts;
    LumaRows luma(rows, frame.width);
    // Combing runs through rows on end, each field in turn; a thin line across
    // a still picture marks the rows on either side of it, never its own. So
    // only stacked teeth count (the marks stay, for the areas to repair).
    // They are counted one row behind the marks; beyond a band's edge rows
    // there are none.
    const auto countStacked = [&](int32_t y, int32_t place) {
        KeepStacked(place == 2 ? zeros.data() : countedOf(y - 1), countedOf(y),
                    place + 3 == bands.rows ? zeros.data() : countedOf(y + 1), frame.width,
                    stacked.data());
        counts.teeth += CountOnes(stacked.data(), frame.width);
        counts.roughness[y & 1] +=
            Roughness(stacked.data(), luma.Of(y - 2), luma.Of(y), luma.Of(y + 2), frame.width);
    };
    for (int32_t y = 2; y + 2 < frame.height; ++y) {
        const int16_t* up2 = luma.Of(y - 2);
        const int16_t* up = luma.Of(y - 1);
        const int16_t* row = luma.Of(y);
        const int16_t* down = luma.Of(y + 1);
        const int16_t* down2 = luma.Of(y + 2);
        uint8_t* marks = frame.marks.get() + size_t(y) * width;
        CompareFields(up2, up, row, down, down2, frame.width, thresholds, teethRow, detailRow);
        if (visitor != nullptr) {
            visitor->Luma(y, row, down2, thresholds);
        }
        KeepRuns(teethRow, frame.width, core.data(), marks);
        if (const int32_t place = bands.Place(y, frame.height); place >= 0) {
            if (place == 2) {
                std::fill(bandColumn.begin(), bandColumn.end(), uint8_t{0});
            }
            uint8_t* countedRow = countedOf(y);
            std::copy_n(marks, width, countedRow);
            KeepColumns(teethRow, frame.width, kCountedColumn, bandColumn.data(), countedRow);
            KeepRuns(detailRow, frame.width, core.data(), kept.data());
            counts.detail += CountOnes(kept.data(), frame.width);
            counts.compared += width;
        }
        KeepColumns(teethRow, frame.width, kToothColumn, column.data(), marks);
        if (y > 2) {
            MarkFirm(marks - 2 * width, marks - width, marks, frame.width);
            if (visitor != nullptr) {
                visitor->Marks(y - 1, marks - width);
            }
        }
        if (const int32_t place = bands.Place(y - 1, frame.height); place >= 0) {
            countStacked(y - 1, place);
        }
    }
    if (frame.height > 4) {
        // The last marked row has only unmarked rows below it.
        uint8_t* last = frame.marks.get() + size_t(frame.height - 3) * width;
        MarkFirm(last - width, last, zeros.data(), frame.width);
        if (visitor != nullptr) {
            visitor->Marks(frame.height - 3, last);
        }
        if (const int32_t place = bands.Place(frame.height - 3, frame.height); place >= 0) {
            countStacked(frame.height - 3, place);
        }
    }
}

}  // namespace

int32_t MeasureNoise(const PixelRows& rows) {
    if (rows.IsEmpty() || rows.width < 3) {
        return 0;
    }
    const int32_t width = rows.width;
    std::vector<int16_t> luma(static_cast<size_t>(width));
    std::vector<uint8_t> curve(static_cast<size_t>(width));
    uint64_t histogram[kNoiseBins] = {};
    uint64_t total = 0;
    for (int32_t y = std::min(kNoiseRowStep / 2, rows.height / 2); y < rows.height;
         y += kNoiseRowStep) {
        LumaOfRow(rows.Row(y), width, luma.data());
        CurvatureAlong(luma.data(), width, curve.data());
        for (int32_t x = 0; x + 2 < width; ++x) {
            ++histogram[curve[size_t(x)]];
        }
        total += uint64_t(width - 2);
    }
    uint64_t below = 0;
    for (int32_t value = 0; value < kNoiseBins; ++value) {
        below += histogram[value];
        if (4 * below >= total) {
            return value;
        }
    }
    return kNoiseBins - 1;
}

CombThresholds ThresholdsForNoise(int32_t noise) {
    const int32_t tooth = std::clamp(noise * kToothPerNoise2 / 2, kToothContrast, kMaxContrast);
    const int32_t weak = std::clamp(noise * kWeakPerNoise, kWeakContrast, kMaxContrast);
    return {static_cast<int16_t>(tooth), static_cast<int16_t>(weak)};
}

void FindCombTeeth(const PixelRows& rows, CombThresholds thresholds, CombTeeth& teeth) {
    FindTeeth(rows, teeth, Bands{rows.height, rows.height}, thresholds);
}

void FindCombTeeth(const PixelRows& rows, CombTeeth& teeth) {
    FindCombTeeth(rows, ThresholdsForNoise(MeasureNoise(rows)), teeth);
}

CombingReport FindCombedAreas(const PixelRows& rows, CombTeeth& teeth, CombRowVisitor* visitor) {
    FindTeeth(rows, teeth, SampleBands(rows), ThresholdsForNoise(MeasureNoise(rows)), visitor);
    return ReportCombing(teeth.counts);
}

Field MoreConsistentField(const CombCounts& counts) {
    return double(counts.roughness[1]) < kBottomMargin * double(counts.roughness[0]) ? Field::Bottom
                                                                                     : Field::Top;
}

CombingReport ReportCombing(const CombCounts& counts) {
    CombingReport report;
    if (counts.compared == 0) {
        return report;
    }
    const double teethShare = double(counts.teeth) / double(counts.compared);
    const double detailShare = double(counts.detail) / double(counts.compared);
    report.score = 100.0 * teethShare / (teethShare + detailShare + kScoreFloor);
    report.combed = report.score > kCombedScore;
    report.keep = MoreConsistentField(counts);
    return report;
}

CombingReport DetectCombing(const PixelRows& rows) {
    CombTeeth teeth;
    const Bands bands = SampleBands(rows);
    // One noise level for the whole picture, so that the bands judge as the
    // adaptive repair's pass over every row does.
    const CombThresholds thresholds = ThresholdsForNoise(MeasureNoise(rows));
    if (rows.IsEmpty() || bands.rows == rows.height) {
        FindCombTeeth(rows, thresholds, teeth);
        return ReportCombing(teeth.counts);
    }
    // Bands of rows spread evenly over the picture stand for the whole: the
    // score is a ratio of counts, which a sample keeps. Each band alone, so
    // that only its rows are read.
    CombCounts counts;
    for (int32_t top = 0; top + bands.rows <= rows.height; top += bands.every) {
        PixelRows band = rows;
        band.top = rows.Row(top);
        band.height = bands.rows;
        FindCombTeeth(band, thresholds, teeth);
        counts.Add(teeth.counts);
    }
    return ReportCombing(counts);
}

}  // namespace tessary
