#pragma once

#include <cstdint>
#include <vector>

#include "ops/pixel_rows.h"

namespace tessary {

// Where the two fields of a picture disagree, its rows alternate: a row sticks
// out beyond the rows above and below it (brighter or darker than both), and
// the row next to it sticks out the other way, like the teeth of a comb. A tooth
// is a pixel where that holds, by more than kToothContrast, in a run of at least
// three pixels along the row (single pixels are noise). A still picture has
// almost none: its rows change smoothly or, at a thin line, once and not back.
struct CombTeeth {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> marks;  // width x height, top row first: 1 on a tooth
    std::vector<int16_t> luma;   // blue + 2 green + red (0 .. 1020), same layout

    const uint8_t* MarksOf(int32_t y) const { return marks.data() + size_t(y) * size_t(width); }
    const int16_t* LumaOf(int32_t y) const { return luma.data() + size_t(y) * size_t(width); }
};

// How far, in blue + 2 green + red (0 .. 1020), a row must stick out beyond
// both neighbours to count: about 10 levels of grey, above the noise of a capture.
inline constexpr int32_t kToothContrast = 40;

// Finds the teeth of every row; reuses `teeth`'s memory.
void FindCombTeeth(const PixelRows& rows, CombTeeth& teeth);

// The field whose rows are the more consistent picture where the fields
// disagree: the one whose rows there differ less from the rows two above and
// below them, its own neighbours. Top when there is nothing to tell them apart.
Field MoreConsistentField(const CombTeeth& teeth);

struct CombingReport {
    double score = 0;  // teeth per thousand pixels of the picture
    bool combed = false;
    Field keep = Field::Top;  // the field the adaptive repair would keep
};

// A picture counts as combed above this score.
inline constexpr double kCombedScore = 1.0;

CombingReport DetectCombing(const PixelRows& rows);
// The same from teeth already found.
CombingReport ReportCombing(const CombTeeth& teeth);

}  // namespace tessary
