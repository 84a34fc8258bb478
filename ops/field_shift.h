#pragma once

#include <cstdint>
#include <vector>

#include "image/deep_rows.h"
#include "ops/pixel_rows.h"

namespace tessary {

// The field that is not kept shows the picture half a field's time later:
// where it moved, that field's rows hold the same detail shifted, detail that
// the kept rows alone cannot give back. Each block of kShiftBlock pixels by
// kShiftRows rows of that field gets the shift at which its rows best match
// the midpoints of the kept rows above and below (summed luma differences):
// up to kMaxShift pixels along the row, and, where no shift along the row
// clearly explains the block, kLift frame rows up or down as well, that
// field's own next row. Where nothing moved that is no shift at all; the
// smaller shift wins a tie, and one along the row wins over one up or down.
inline constexpr int32_t kShiftBlock = 16;
inline constexpr int32_t kShiftRows = 8;
inline constexpr int32_t kMaxShift = 8;
inline constexpr int32_t kLift = 2;
// The frame rows a block row of shifts spans.
inline constexpr int32_t kShiftBlockRows = 2 * kShiftRows;

struct BlockShift {
    int8_t dx = 0;  // pixels along the row
    int8_t dy = 0;  // frame rows: -kLift, 0 or kLift
    // No shift predicts the kept rows better than the other field predicts
    // its own rows: no pixel of it is taken.
    bool none = false;
};

class FieldShifts {
  public:
    // Measures every block's shift from the rows as captured.
    FieldShifts(const PixelRows& rows, Field keep);

    // The shifts of the blocks of row y, a row of the field not kept.
    const BlockShift* Of(int32_t y) const;

  private:
    void LumaOf(int32_t y, uint8_t* luma);
    int32_t LoadRows(int32_t first, bool* usable);
    void MeasureBlockRow(int32_t blockRow);
    void SelfCosts(int32_t searched, const bool* usable);
    void TryShifts(int32_t lift, int32_t searched, int32_t from, int32_t to, BlockShift* shifts);

    PixelRows m_rows;
    Field m_keep;
    int32_t m_columns = 0;
    std::vector<BlockShift> m_shifts;  // block rows x m_columns
    // Scratch for the search: byte lumas of the other field's rows (padded by
    // kMaxShift each side), the kept rows' midpoints, and per block the cost
    // of the shift being tried (in two halves) and the least so far.
    std::vector<uint8_t> m_other;
    std::vector<uint8_t> m_kept;
    std::vector<uint8_t> m_keptLuma;
    std::vector<int16_t> m_luma;
    std::vector<uint64_t> m_costs;
    std::vector<uint64_t> m_best;
    std::vector<uint64_t> m_self;
    std::vector<uint8_t> m_selfMid;
};

// The rows around rebuilt row y that a shifted pixel is held between: the
// kept rows above and below, the nearer one standing in at the picture's edge.
struct KeptPair {
    int32_t above;
    int32_t below;
};
KeptPair KeptAround(int32_t y, int32_t height);

// The other field's rows as captured while they are rebuilt in place, one
// after the other (either way): each row is saved before it is rebuilt, and
// the last two saved stand in for the rows themselves.
template <typename Sample>
class CapturedRows {
  public:
    // Saves row y, `samples` long, before it is rebuilt.
    void Save(int32_t y, const Sample* row, int64_t samples);
    // Row y as captured: the saved copy, or `live` when y was not saved.
    const Sample* Of(int32_t y, const Sample* live) const;
    // The captured rows rebuilt row y of `rows` (PixelRows or DeepRows)
    // takes its shifted pixels from.
    template <typename Rows>
    auto SourcesOf(const Rows& rows, int32_t y) const;

  private:
    std::vector<Sample> m_copies[2];
    int32_t m_rows[2] = {-1, -1};
    int m_next = 0;
};

// The captured rows a rebuilt row takes its shifted pixels from: its own and
// those kLift above and below (itself where those lie outside the picture).
template <typename Sample>
struct ShiftSources {
    const Sample* row[3];  // for dy = -kLift, 0, kLift
};

template <typename Sample>
template <typename Rows>
auto CapturedRows<Sample>::SourcesOf(const Rows& rows, int32_t y) const {
    ShiftSources<Sample> sources;
    for (int32_t i = 0; i < 3; ++i) {
        const int32_t row = y + (i - 1) * kLift;
        const int32_t from = row >= 0 && row < rows.height ? row : y;
        sources.row[i] = Of(from, rows.Row(from));
    }
    return sources;
}

// Mixes a rebuilt row of `width` pixels with the other field's pixels,
// each taken from where its block's shift says, edges repeated, and held to
// the range of the kept pixels above and below it: the mean of the two, halves
// rounded up.
void MixShifted(const uint8_t* above, const uint8_t* below, const ShiftSources<uint8_t>& sources,
                const BlockShift* shifts, int32_t width, uint8_t* rebuilt);
void MixShifted(const uint16_t* above, const uint16_t* below, const ShiftSources<uint16_t>& sources,
                const BlockShift* shifts, int32_t width, uint16_t* rebuilt);

}  // namespace tessary
