#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ops/pixel_rows.h"

namespace tessary {

// Where the two fields of a picture disagree, a row is predicted badly by the
// rows just above and below it (the other field) but well by the rows two
// above and below (its own field): the teeth of a comb. Fine detail of a still
// picture shows the opposite more often than not: its rows are predicted
// better by their nearer neighbours. Both are counted at pixels where one
// prediction misses by more than kToothFactor times the other plus
// kToothContrast, in runs of at least kToothRun pixels along the row (single
// pixels are noise); teeth also count at the foot of a column of
// kToothColumn rows, where a vertical edge moving sideways leaves teeth as
// narrow as its step.
// What the score and the choice of field are made from.
struct CombCounts {
    uint64_t compared = 0;  // pixels compared (all but two rows at each edge)
    uint64_t teeth = 0;     // marked pixels with a marked pixel above or below
    uint64_t detail = 0;    // pixels where the own field predicts worse
    // Per field (top, bottom): how much its rows at the teeth differ from its
    // own rows two above and below.
    uint64_t roughness[2] = {0, 0};

    void Add(const CombCounts& other);
};

// What a pixel of CombTeeth::marks holds, one bit each.
inline constexpr uint8_t kTooth = 1;
// The other field predicts the row worse than its own by the weak contrast: a
// weaker sign of combing, which the adaptive repair counts near a tooth.
inline constexpr uint8_t kWeakSign = 2;
// A tooth, and a weak sign, with a weak sign (or a tooth) directly above or
// below. Combing runs through rows on end; a thin still line marks the rows
// beside it but not the line's own, and noise marks rows one at a time, so
// the repair trusts these.
inline constexpr uint8_t kFirmTooth = 4;
inline constexpr uint8_t kFirmSign = 8;
// In units of twice blue + 2 green + red: about 5 levels of grey. The least
// contrast of a tooth, and of a weak sign, on a clean picture.
inline constexpr int32_t kToothContrast = 40;
inline constexpr int32_t kWeakContrast = 24;
// A contrast in those units per level of one colour channel: blue + 2 green +
// red weighs a grey level four times, and the prediction error twice that.
inline constexpr int32_t kContrastPerLevel = 8;

// The contrasts a tooth and a weak sign must reach. Noise makes both field
// predictions miss by chance, so on a noisy picture they grow with its noise
// level (MeasureNoise); a clean one keeps kToothContrast and kWeakContrast.
struct CombThresholds {
    int16_t tooth = kToothContrast;
    int16_t weak = kWeakContrast;
};

struct CombTeeth {
    int32_t width = 0;
    int32_t height = 0;
    // width x height, top row first, each filled by FindCombTeeth (left
    // uninitialised before: a frame's worth of zeros costs time).
    std::unique_ptr<uint8_t[]> marks;  // kTooth, kWeakSign, kFirmTooth, kFirmSign
    CombCounts counts;
    CombThresholds thresholds;  // what the marks were found with

    const uint8_t* MarksOf(int32_t y) const { return marks.get() + size_t(y) * size_t(width); }
};

inline constexpr int32_t kToothFactor = 2;
inline constexpr int32_t kToothRun = 5;
inline constexpr int32_t kToothColumn = 12;
// What the detector counts as a column: its sampled bands of rows are too
// short for kToothColumn.
inline constexpr int32_t kCountedColumn = 6;

// The picture's noise level, from the picture itself: the lower quartile of
// |2 L(x) - L(x - 1) - L(x + 1)| along one row in kNoiseRowStep (L = blue +
// 2 green + red). Along a row neither field's motion shows, and the quiet
// quarter of a picture is mostly noise rather than texture.
inline constexpr int32_t kNoiseRowStep = 16;
int32_t MeasureNoise(const PixelRows& rows);
CombThresholds ThresholdsForNoise(int32_t noise);

// Finds the teeth and weak signs of every row, and counts them over every row.
void FindCombTeeth(const PixelRows& rows, CombTeeth& teeth);
void FindCombTeeth(const PixelRows& rows, CombThresholds thresholds, CombTeeth& teeth);

// The field whose rows are the more consistent picture where the fields
// disagree: the one whose rows there differ less from the rows two above and
// below them, its own neighbours. Both fields are real pictures, so the
// difference is mostly small: the bottom field only when its roughness is
// below three quarters of the top field's, else the top.
Field MoreConsistentField(const CombCounts& counts);

struct CombingReport {
    // Teeth as a percentage of teeth and detail pixels together (0 .. 100),
    // so that a busy still picture does not score high for its detail alone.
    double score = 0;
    bool combed = false;
    Field keep = Field::Top;  // the field the adaptive repair would keep
};

// A picture counts as combed above this score.
inline constexpr double kCombedScore = 1.5;

// Looks at evenly spread bands of rows (three eighths of a picture more than
// 64 rows high), which keeps the score's ratio at a fraction of the work.
CombingReport DetectCombing(const PixelRows& rows);
// The report from counts already made.
CombingReport ReportCombing(const CombCounts& counts);

// What the pass over every row hands on as it goes, so that a caller can
// gather measures of its own while the rows are still in the cache instead of
// reading the picture or the marks again afterwards.
class CombRowVisitor {
  public:
    virtual ~CombRowVisitor() = default;
    // The luma of row y and of row y + 2, for every y from 2 while y + 2 is a
    // row, in order; `thresholds` are those the marks are found with.
    virtual void Luma(int32_t y, const int16_t* row, const int16_t* below2,
                      CombThresholds thresholds) = 0;
    // The marks of row y once final, for every y from 2 to height - 3, in
    // order (the rows outside that have no marks).
    virtual void Marks(int32_t y, const uint8_t* marks) = 0;
};

// For the adaptive repair, in one pass: the teeth of every row, and
// DetectCombing's report from the counts of the same rows as it counts (which
// `teeth` then holds). `visitor`, when given, sees every row on the way.
CombingReport FindCombedAreas(const PixelRows& rows, CombTeeth& teeth,
                              CombRowVisitor* visitor = nullptr);

}  // namespace tessary
