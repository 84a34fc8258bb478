// The comb search's row kernels against a plain per-pixel statement of what
// they mark and count, on random pictures of every small width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "ops/combing.h"
#include "tests/ops/picture.h"

namespace tessary {
namespace {

struct Reference {
    std::vector<uint8_t> marks;
    CombCounts counts;
    uint64_t columnTeeth = 0;  // teeth of a column alone, not of a run
};

int32_t LumaAt(const PixelRows& rows, int32_t x, int32_t y) {
    const uint8_t* p = rows.Row(y) + 3 * x;
    return p[0] + 2 * p[1] + p[2];
}

int32_t ReferenceNoise(const PixelRows& rows) {
    std::vector<int32_t> values;
    for (int32_t y = std::min(kNoiseRowStep / 2, rows.height / 2); y < rows.height;
         y += kNoiseRowStep) {
        for (int32_t x = 1; x + 1 < rows.width; ++x) {
            const int32_t c =
                std::abs(2 * LumaAt(rows, x, y) - LumaAt(rows, x - 1, y) - LumaAt(rows, x + 1, y));
            values.push_back(std::min(c, 255));
        }
    }
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    // The least value with at least a quarter of all at or below it.
    return values[(values.size() + 3) / 4 - 1];
}

Reference ReferenceMarks(const PixelRows& rows, CombThresholds t) {
    const int32_t w = rows.width;
    const int32_t h = rows.height;
    const auto at = [w](int32_t x, int32_t y) { return size_t(y) * size_t(w) + size_t(x); };
    std::vector<uint8_t> tooth(size_t(w) * size_t(h), 0), weak(tooth), detail(tooth);
    std::vector<int32_t> own(tooth.size(), 0);
    for (int32_t y = 2; y + 2 < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const int32_t l2 = 2 * LumaAt(rows, x, y);
            const int32_t other = std::abs(l2 - LumaAt(rows, x, y - 1) - LumaAt(rows, x, y + 1));
            own[at(x, y)] = std::abs(l2 - LumaAt(rows, x, y - 2) - LumaAt(rows, x, y + 2));
            tooth[at(x, y)] = other > 2 * own[at(x, y)] + t.tooth;
            weak[at(x, y)] = other > own[at(x, y)] + own[at(x, y)] / 4 + t.weak;
            detail[at(x, y)] = own[at(x, y)] > 2 * other + t.tooth;
        }
    }
    // A pixel lies in a run of five marks along the row.
    const auto inRun = [&](const std::vector<uint8_t>& raw, int32_t x, int32_t y) {
        for (int32_t start = x - 4; start <= x; ++start) {
            if (start >= 0 && start + 4 < w &&
                std::all_of(&raw[at(start, y)], &raw[at(start, y)] + 5,
                            [](uint8_t m) { return m; })) {
                return true;
            }
        }
        return false;
    };
    Reference ref;
    ref.marks.assign(tooth.size(), 0);
    std::vector<uint8_t> counted(tooth.size(), 0);
    for (int32_t y = 2; y + 2 < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            // Or at the foot of a column of raw teeth, counted from the first
            // compared row: a taller one for the marks than for the counts.
            const auto columnOf = [&](int32_t tall) {
                bool column = y >= 2 + tall - 1;
                for (int32_t up = 0; up < tall && column; ++up) {
                    column = tooth[at(x, y - up)] != 0;
                }
                return column;
            };
            const bool inColumn = columnOf(kToothColumn);
            ref.marks[at(x, y)] = uint8_t((inRun(tooth, x, y) || inColumn ? kTooth : 0) |
                                          (weak[at(x, y)] ? kWeakSign : 0));
            counted[at(x, y)] = inRun(tooth, x, y) || columnOf(kCountedColumn);
            ref.columnTeeth += inColumn && !inRun(tooth, x, y);
            ref.counts.detail += inRun(detail, x, y);
        }
        ref.counts.compared += uint64_t(w);
    }
    const auto markAt = [&](int32_t x, int32_t y) {
        return y >= 0 && y < h ? ref.marks[at(x, y)] : uint8_t{0};
    };
    std::vector<uint8_t> firm(ref.marks.size(), 0);
    for (int32_t y = 2; y + 2 < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t m = ref.marks[at(x, y)];
            const bool signNear = ((markAt(x, y - 1) | markAt(x, y + 1)) & kWeakSign) != 0;
            firm[at(x, y)] = uint8_t((signNear && (m & kTooth) ? kFirmTooth : 0) |
                                     (signNear && (m & kWeakSign) ? kFirmSign : 0));
            const auto countedAt = [&](int32_t cy) {
                return cy >= 0 && cy < h && counted[at(x, cy)];
            };
            const bool stacked = countedAt(y) && (countedAt(y - 1) || countedAt(y + 1));
            ref.counts.teeth += stacked;
            ref.counts.roughness[y & 1] += stacked ? uint64_t(own[at(x, y)]) : 0;
        }
    }
    for (size_t i = 0; i < firm.size(); ++i) {
        ref.marks[i] |= firm[i];
    }
    return ref;
}

// Random pictures with what the search looks for: blocks, rows of one field
// shifted along stretches of the picture, thin lines and noise.
test::Scene RandomScene(std::mt19937& rng) {
    std::uniform_int_distribution<int32_t> small(0, 9);
    const int32_t shift = small(rng) - 4;
    const int32_t noise = small(rng) * 4;
    const int32_t line = small(rng) * 4;
    const uint32_t seed = rng();
    // Tall blocks give columns of teeth where the shift is narrower than a run.
    const int32_t tall = small(rng) < 5 ? 9 : 40;
    return [=](int32_t x, int32_t y) {
        const uint32_t hash = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ seed;
        const int32_t jitter = noise ? int32_t(hash % uint32_t(noise)) - noise / 2 : 0;
        const int32_t sx = (y % 2 && x > 8) ? x + shift : x;
        const int32_t base = (sx / 6 + y / tall) % 2 ? 190 : 50;
        const int32_t lit = y == line ? 255 : base + jitter;
        return PackRgb(uint32_t(std::clamp(lit, 0, 255)),
                       uint32_t(std::clamp(lit + int32_t(hash % 7), 0, 255)),
                       uint32_t(std::clamp(255 - lit, 0, 255)));
    };
}

TEST(CombMarksReference, FastKernelsMatchThePlainStatementBitForBit) {
    std::mt19937 rng(12345);
    uint64_t firmTeeth = 0;
    uint64_t columnTeeth = 0;
    for (int32_t width = 1; width <= 67; ++width) {
        for (int32_t height : {1, 3, 5, 9, 17, 31}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height);
            CImageSurface surface;
            test::MakePicture(surface, width, height, RandomScene(rng));
            const PixelRows rows = RowsOf(*surface.GetImage());
            const int32_t noise = MeasureNoise(rows);
            ASSERT_EQ(noise, ReferenceNoise(rows));
            // The noise-raised contrasts too, which few of these pictures reach.
            for (CombThresholds t : {ThresholdsForNoise(noise), ThresholdsForNoise(12)}) {
                CombTeeth teeth;
                FindCombTeeth(rows, t, teeth);
                const Reference ref = ReferenceMarks(rows, t);
                columnTeeth += ref.columnTeeth;
                for (int32_t y = 0; y < height; ++y) {
                    for (int32_t x = 0; x < width; ++x) {
                        ASSERT_EQ(int(teeth.MarksOf(y)[x]),
                                  int(ref.marks[size_t(y) * size_t(width) + size_t(x)]))
                            << "at " << x << "," << y;
                        firmTeeth += (teeth.MarksOf(y)[x] & kFirmTooth) != 0;
                    }
                }
                EXPECT_EQ(teeth.counts.compared, ref.counts.compared);
                EXPECT_EQ(teeth.counts.teeth, ref.counts.teeth);
                EXPECT_EQ(teeth.counts.detail, ref.counts.detail);
                EXPECT_EQ(teeth.counts.roughness[0], ref.counts.roughness[0]);
                EXPECT_EQ(teeth.counts.roughness[1], ref.counts.roughness[1]);
            }
        }
    }
    EXPECT_GT(firmTeeth, 1000u) << "the pictures must give the search something to find";
    EXPECT_GT(columnTeeth, 100u) << "and teeth too narrow for a run";
}

// Records what the pass hands its visitor, copied at the time of each call.
class RecordingVisitor final : public CombRowVisitor {
  public:
    explicit RecordingVisitor(int32_t width) : m_width(size_t(width)) {}
    void Luma(int32_t y, const int16_t* row, const int16_t* below2,
              CombThresholds thresholds) override {
        lumaRows.push_back(y);
        luma.emplace_back(row, row + m_width);
        luma2.emplace_back(below2, below2 + m_width);
        tooth.push_back(thresholds.tooth);
    }
    void Marks(int32_t y, const uint8_t* marks) override {
        markRows.push_back(y);
        this->marks.emplace_back(marks, marks + m_width);
    }
    std::vector<int32_t> lumaRows;
    std::vector<std::vector<int16_t>> luma;
    std::vector<std::vector<int16_t>> luma2;
    std::vector<int16_t> tooth;
    std::vector<int32_t> markRows;
    std::vector<std::vector<uint8_t>> marks;

  private:
    size_t m_width;
};

// The visitor sees every row from 2 to height - 3 once, in order: its luma
// and its own field's next row's as the plain sum gives them, and its marks
// as they stand after the whole pass (a row handed on before its firm bits
// are set would lose them); the pass finds the same with it as without.
TEST(CombMarksReference, VisitorSeesEveryRowsLumaAndFinalMarks) {
    std::mt19937 rng(2026);
    for (int32_t width = 1; width <= 67; width += 3) {
        for (int32_t height : {1, 4, 5, 6, 17, 40}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height);
            CImageSurface surface;
            test::MakePicture(surface, width, height, RandomScene(rng));
            const PixelRows rows = RowsOf(*surface.GetImage());
            RecordingVisitor seen(width);
            CombTeeth teeth;
            const CombingReport withVisitor = FindCombedAreas(rows, teeth, &seen);
            CombTeeth plain;
            const CombingReport without = FindCombedAreas(rows, plain);
            EXPECT_EQ(withVisitor.score, without.score);
            EXPECT_EQ(withVisitor.keep, without.keep);
            std::vector<int32_t> want;
            for (int32_t y = 2; y + 2 < height; ++y) {
                want.push_back(y);
            }
            ASSERT_EQ(seen.lumaRows, want);
            ASSERT_EQ(seen.markRows, want);
            const int16_t tooth = ThresholdsForNoise(MeasureNoise(rows)).tooth;
            for (size_t i = 0; i < want.size(); ++i) {
                const int32_t y = want[i];
                EXPECT_EQ(seen.tooth[i], tooth);
                for (int32_t x = 0; x < width; ++x) {
                    ASSERT_EQ(seen.luma[i][size_t(x)], LumaAt(rows, x, y)) << x << "," << y;
                    ASSERT_EQ(seen.luma2[i][size_t(x)], LumaAt(rows, x, y + 2)) << x << "," << y;
                    ASSERT_EQ(seen.marks[i][size_t(x)], teeth.MarksOf(y)[x]) << x << "," << y;
                    ASSERT_EQ(teeth.MarksOf(y)[x], plain.MarksOf(y)[x]) << x << "," << y;
                }
            }
        }
    }
}

}  // namespace
}  // namespace tessary
