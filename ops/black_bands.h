#pragma once

#include <cstdint>

#include "ops/pixel_rows.h"

namespace tessary {

// Rows to clip at the top and at the bottom of a captured frame. A blank
// picture (one colour throughout, black included, give or take noise) has
// nothing to clip: both counts are 0 and `blank` says why.
struct BandReport {
    int32_t top = 0;
    int32_t bottom = 0;
    bool blank = false;
};

// Brightness is judged in the luma JPEG stores (0.299 red, 0.587 green, 0.114
// blue, in the scale of blue + 2 green + red): JPEG in 4:2:0 keeps it for
// every row while it shares the colour between rows, so a band row beside a
// coloured picture keeps the band's luma. A band starts at the picture's edge
// with a row that is dark (its mean at most kBandMeanLevel of 255, hardly any
// pixel brighter than kBandPixelLevel), grey, and holds nothing but noise. The
// band's own black is measured from it: its level and how far its pixels stray
// from it, row to row and along the row. The band goes on while the rows keep
// that level and noise, so that a dark picture next to the band is never taken
// for band, and a noisy band is found whole. After JPEG, a block of rows that
// holds both the band's last rows and a picture's edge (of level or of
// texture) rings: those band rows stray from the black by a share of the
// edge's contrast, swinging both ways, and are still band. Rows at a band's
// end that carry a picture's colour rather than the band's are picture of its
// brightness, but for the two rows before the picture's luma begins, to which
// 4:2:0 lends a share of its colour, and the band's rows in the picture's
// first colour block when its colour is too weak for 4:2:0 to code as more
// than one shade over the block. At the bottom, the head-switching noise of
// analogue tape counts as band too: a run of rows at the bottom edge, below a
// clear break, that are shifted sideways, torn or noisy compared with the
// picture above (their change from row to row, or along the row, several times
// what the rows above show), at most 1/kMaxNoiseShare of the picture's height.
BandReport DetectBands(const PixelRows& rows);

// What the detector measures of one row of lumas (0 .. 1020, in the scale of
// blue + 2 green + red): their sum, their distances from `level` summed, the
// same for the sums of blocks of kBandBlock pixels (from kBandBlock times the
// level, the last block from its own count times it), the steps between
// neighbours summed, and how many exceed `brightAbove`.
struct BandRowSums {
    int64_t sum = 0;
    int64_t spread = 0;
    int64_t coarse = 0;
    int64_t steps = 0;
    int64_t bright = 0;
};
BandRowSums MeasureBandRow(const int16_t* luma, int32_t width, int32_t level, int32_t brightAbove);

inline constexpr int32_t kBandMeanLevel = 28;
inline constexpr int32_t kBandPixelLevel = 48;
inline constexpr int32_t kMaxNoiseShare = 16;
inline constexpr int32_t kBandBlock = 16;

}  // namespace tessary
