#pragma once

#include <cstdint>

#include "ops/pixel_rows.h"

namespace tessary {

// Rows to clip at the top and at the bottom of a captured frame.
struct BandReport {
    int32_t top = 0;
    int32_t bottom = 0;
};

// A band row is black or nearly so (its mean below kBandMeanLevel of 255, with
// hardly any pixel brighter than kBandPixelLevel) and flat (neighbouring
// pixels differ by less than kBandFlatness on average). At the bottom, the
// head-switching noise of analogue tape counts as band too: a run of rows at
// the bottom edge, below a clear break, that are shifted sideways, torn or
// noisy compared with the picture above (their change from row to row, or
// along the row, several times what the rows above show), at most
// 1/kMaxNoiseShare of the picture's height. A picture black throughout is all
// top band.
BandReport DetectBands(const PixelRows& rows);

inline constexpr int32_t kBandMeanLevel = 28;
inline constexpr int32_t kBandPixelLevel = 48;
inline constexpr int32_t kBandFlatness = 3;
inline constexpr int32_t kMaxNoiseShare = 16;

}  // namespace tessary
