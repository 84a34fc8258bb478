#pragma once

#include <cstdint>
#include <vector>

#include "image/deep_rows.h"
#include "ops/pixel_rows.h"

namespace tessary {

// Keeps the rows of `keep` bit for bit and rebuilds every row of the other
// field from them by edge-directed interpolation. With `deep` (the same
// picture at 16 bits, which `rows` holds rounded) the samples are rebuilt at
// 16 bits along the directions chosen from `rows`, and rounded into them.
void InterpolateField(const PixelRows& rows, Field keep, const DeepRows& deep = {});

// InterpolateField's rows, each pixel mixed with the other field's own pixel
// where that field shows it after the picture moved, along the row or up or
// down (FieldShifts, MixShifted): the other field's detail is real, where
// interpolation can only guess.
void KeepField(const PixelRows& rows, Field keep, const DeepRows& deep = {});

// Rebuilds single rows of the field that is not kept from the kept rows around
// them. For each pixel it searches a few directions through the rows above and
// below for the one along which they agree best (an edge's direction), leaning
// to straight up and down unless another direction is clearly better, and
// interpolates along it with a four-tap cubic over the kept rows 1 and 3 above
// and below, limited to the range of the two nearest samples so that a hard
// edge never overshoots. Where rows are missing at the picture's edges the
// nearest kept row stands in. Keeps the brightness of a few kept rows between
// calls, so that rebuilding rows in order works out each one once; the kept
// rows must therefore stay as they are while the interpolator is in use.
class FieldInterpolator {
  public:
    FieldInterpolator(const PixelRows& rows, Field keep);

    // Writes the rebuilt row y (not a row of the kept field) into `out`, which
    // holds RowBytes() bytes. Returns false, and writes nothing, when the
    // picture has no kept row.
    bool Interpolate(int32_t y, uint8_t* out);
    // The same for the pixels from .. to - 1 alone (their bytes of `out`), which
    // come out as in the whole row.
    bool Interpolate(int32_t y, uint8_t* out, int32_t from, int32_t to);
    // The same pixels at 16 bits from the rows of `deep`, the picture that the
    // rows given to the constructor hold rounded: the directions are chosen
    // from those rows alike, so both depths rebuild the same way. `out` holds
    // RowSamples() samples.
    bool Interpolate(int32_t y, const DeepRows& deep, uint16_t* out, int32_t from, int32_t to);

    // Directions searched on either side of straight up and down: a step of s
    // pixels to each side per row.
    static constexpr int32_t kMaxStep = 3;

  private:
    struct PaddedRow {
        int32_t row = -1;              // which kept row the slot holds
        const uint8_t* bgr = nullptr;  // the row itself: kept rows are never written
        std::vector<int16_t> luma;     // blue + 2 green + red, edge pixels repeated on both sides
    };
    const PaddedRow& Kept(int32_t row);
    template <typename Sample, typename RowOf>
    bool Rebuild(int32_t y, int32_t from, int32_t to, RowOf rowOf, Sample* out);
    bool ChooseDirections(const PaddedRow& above3, const PaddedRow& above, const PaddedRow& below,
                          const PaddedRow& below3, int32_t from, int32_t to);

    PixelRows m_rows;
    int32_t m_firstKept = 0;
    int32_t m_lastKept = -1;
    PaddedRow m_slots[4];
    int32_t m_lastLoaded = -1;  // the kept row whose luma was worked out last
    std::vector<int16_t> m_diff[2 * kMaxStep + 1];
    std::vector<int16_t> m_best;
};

}  // namespace tessary
