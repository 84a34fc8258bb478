#pragma once

#include <cstdint>
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
// pixels are noise).
struct CombTeeth {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> marks;  // width x height, top row first: 1 on a tooth
    std::vector<int16_t> luma;   // blue + 2 green + red (0 .. 1020), same layout
    uint64_t teeth = 0;          // pixels marked
    uint64_t detail = 0;         // pixels where the own field predicts worse

    const uint8_t* MarksOf(int32_t y) const { return marks.data() + size_t(y) * size_t(width); }
    const int16_t* LumaOf(int32_t y) const { return luma.data() + size_t(y) * size_t(width); }
};

// In units of twice blue + 2 green + red: about 5 levels of grey.
inline constexpr int32_t kToothContrast = 40;
inline constexpr int32_t kToothFactor = 2;
inline constexpr int32_t kToothRun = 5;

// Finds the teeth of every row; reuses `teeth`'s memory.
void FindCombTeeth(const PixelRows& rows, CombTeeth& teeth);

// The field whose rows are the more consistent picture where the fields
// disagree: the one whose rows there differ less from the rows two above and
// below them, its own neighbours. Top when there is nothing to tell them apart.
Field MoreConsistentField(const CombTeeth& teeth);

struct CombingReport {
    // Teeth as a percentage of teeth and detail pixels together (0 .. 100),
    // so that a busy still picture does not score high for its detail alone.
    double score = 0;
    bool combed = false;
    Field keep = Field::Top;  // the field the adaptive repair would keep
};

// A picture counts as combed above this score.
inline constexpr double kCombedScore = 8.0;

CombingReport DetectCombing(const PixelRows& rows);
// The same from teeth already found.
CombingReport ReportCombing(const CombTeeth& teeth);

}  // namespace tessary
