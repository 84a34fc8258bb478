#include "ops/field_interpolation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "ops/field_shift.h"

namespace tessary {

namespace {

// Pixels on each side of a pixel whose differences count into a direction's cost.
constexpr int32_t kWindow = 2;
// Room on both sides of a padded luma row for the farthest sample: three steps
// of kMaxStep for the outer rows, and the cost window.
constexpr int32_t kPad = 3 * FieldInterpolator::kMaxStep + kWindow + 1;
// Cost added per pixel of step, so that texture without a clear direction is
// filled straight up and down and only a real edge turns the search aside.
// A turn must cost less than a third of the alternatives.
constexpr int32_t kClearDivisor = 3;
constexpr int32_t kStepPenalty = 48;

// The four-tap cubic (-1, 9, 9, -1) / 16 through near samples a and b and far
// samples a3 and b3, held to the range of a and b. Bytes are worked in 16 bits
// (-32 .. 287 before the hold), which lets the row loop run 16 bytes per
// instruction; 16-bit samples need 32.
template <typename Sample>
using CubicMath = std::conditional_t<sizeof(Sample) == 1, int16_t, int32_t>;

template <typename Sample>
[[gnu::always_inline]] inline Sample Cubic(Sample a, Sample b, Sample a3, Sample b3) {
    using Math = CubicMath<Sample>;
    const Math value = static_cast<Math>((9 * (a + b) - a3 - b3 + 8) >> 4);
    // Held by values, not std::min/max: references to converted temporaries
    // keep GCC from vectorising the row loop (ten times slower).
    const Math low = a < b ? Math(a) : Math(b);
    const Math high = a < b ? Math(b) : Math(a);
    // A minimum, then a maximum: as low <= high this is the same hold, and
    // GCC makes two instructions of it where the nested choice took four
    // comparisons and three blends.
    const Math belowHigh = value > high ? high : value;
    return static_cast<Sample>(belowHigh < low ? low : belowHigh);
}

template <typename Sample>
[[gnu::always_inline]] inline void CubicSamples(const Sample* a, const Sample* b, const Sample* a3,
                                                const Sample* b3, int32_t count,
                                                Sample* __restrict out) {
    for (int32_t i = 0; i < count; ++i) {
        out[i] = Cubic(a[i], b[i], a3[i], b3[i]);
    }
}

TESSARY_ROW_KERNEL void CubicRow(const uint8_t* a, const uint8_t* b, const uint8_t* a3,
                                 const uint8_t* b3, int32_t count, uint8_t* __restrict out) {
    CubicSamples(a, b, a3, b3, count, out);
}

TESSARY_ROW_KERNEL void CubicRow(const uint16_t* a, const uint16_t* b, const uint16_t* a3,
                                 const uint16_t* b3, int32_t count, uint16_t* __restrict out) {
    CubicSamples(a, b, a3, b3, count, out);
}

// Pixels whose steps are looked at together when filling turns.
constexpr int32_t kTurnGroup = 4;

// The differences of one step for every pixel and the window around it,
// along the line through the four kept rows, the near pair counted twice: at
// most 4 x 1020.
TESSARY_ROW_KERNEL void DirectionDiff(const int16_t* la3, const int16_t* la, const int16_t* lb,
                                      const int16_t* lb3, int32_t width, int16_t* __restrict diff) {
    for (int32_t i = 0; i < width + 2 * kWindow; ++i) {
        diff[i] = static_cast<int16_t>(2 * Abs16(la[i] - lb[i]) + Abs16(la3[i] - la[i]) +
                                       Abs16(lb[i] - lb3[i]));
    }
}

// A step's cost at one pixel: its differences summed over the window. Fits
// 16 bits: 5 x 4 x 1020.
inline int16_t WindowCost(const int16_t* diff, int32_t x) {
    return static_cast<int16_t>(diff[x] + diff[x + 1] + diff[x + 2] + diff[x + 3] + diff[x + 4]);
}

// The best step on one side: each wider step is taken where it is better than
// the best so far and every narrower step on that side was taken too, so that
// a lone match far to the side in busy texture can't win. `near` .. `far` are
// the costs of steps 1 .. 3 on that side, with their penalties added.
struct SideChoice {
    int16_t cost;
    int16_t size;  // 0 .. kMaxStep
};
inline SideChoice ChooseSide(int16_t straight, int16_t near, int16_t middle, int16_t far) {
    const bool one = near < straight;
    const bool two = one & (middle < near);
    const bool three = two & (far < middle);
    const int16_t cost = three ? far : two ? middle : one ? near : straight;
    return {cost, static_cast<int16_t>(one + two + three)};
}
static_assert(FieldInterpolator::kMaxStep == 3, "ChooseSide spells out three steps");

// For each pixel the step to interpolate along, from the differences of steps
// -kMaxStep .. kMaxStep, summed over the window here, which saves storing the
// costs and reading them back. A side wins only when it is clearly better than straight down
// and than the other side: in a stripy texture both sides match, and any turn
// would draw stripes of the wrong slant. Returns whether any pixel turns.
TESSARY_ROW_KERNEL bool PickSteps(const int16_t* const* diffs, int32_t width,
                                  int16_t* __restrict best) {
    const int16_t* left3 = diffs[0];
    const int16_t* left2 = diffs[1];
    const int16_t* left1 = diffs[2];
    const int16_t* straightDiff = diffs[3];
    const int16_t* right1 = diffs[4];
    const int16_t* right2 = diffs[5];
    const int16_t* right3 = diffs[6];
    constexpr int32_t kPenalty = kStepPenalty;
    int16_t any = 0;
    for (int32_t x = 0; x < width; ++x) {
        const int16_t straight = WindowCost(straightDiff, x);
        const SideChoice left =
            ChooseSide(straight, static_cast<int16_t>(WindowCost(left1, x) + kPenalty),
                       static_cast<int16_t>(WindowCost(left2, x) + 2 * kPenalty),
                       static_cast<int16_t>(WindowCost(left3, x) + 3 * kPenalty));
        const SideChoice right =
            ChooseSide(straight, static_cast<int16_t>(WindowCost(right1, x) + kPenalty),
                       static_cast<int16_t>(WindowCost(right2, x) + 2 * kPenalty),
                       static_cast<int16_t>(WindowCost(right3, x) + 3 * kPenalty));
        const int16_t bar = std::min(straight, std::max(left.cost, right.cost));
        // In 16 bits without sign: three times a cost (at most 20544) fits.
        const bool toLeft =
            (static_cast<uint16_t>(left.cost * kClearDivisor) < static_cast<uint16_t>(bar)) &
            (left.cost <= right.cost);
        const bool toRight =
            (static_cast<uint16_t>(right.cost * kClearDivisor) < static_cast<uint16_t>(bar)) &
            (right.cost < left.cost);
        best[x] = toLeft ? static_cast<int16_t>(-left.size) : toRight ? right.size : int16_t{0};
        // A maximum, which GCC vectorises along with the rest where an "or"
        // of the steps stops it.
        any = std::max<int16_t>(any, best[x] != 0);
    }
    return any != 0;
}

}  // namespace

FieldInterpolator::FieldInterpolator(const PixelRows& rows, Field keep) : m_rows(rows) {
    if (rows.IsEmpty()) {
        return;
    }
    m_firstKept = FirstRowOf(keep);
    m_lastKept = rows.height - 1 - ((rows.height - 1 - m_firstKept) & 1);
    const size_t padded = size_t(rows.width) + 2 * kPad;
    for (PaddedRow& slot : m_slots) {
        slot.luma.resize(padded);
    }
    const size_t width = size_t(rows.width);
    for (std::vector<int16_t>& diff : m_diff) {
        diff.resize(width + 2 * kWindow);
    }
    // Rounded up to a whole group, which the filling of turns reads.
    m_best.resize((width + kTurnGroup - 1) / kTurnGroup * kTurnGroup, 0);
}

const FieldInterpolator::PaddedRow& FieldInterpolator::Kept(int32_t row) {
    row = std::clamp(row, m_firstKept, m_lastKept);
    // Up to four neighbouring kept rows are in use at once; consecutive kept
    // rows differ by 2, so row / 2 gives them four different slots.
    PaddedRow& slot = m_slots[(row / 2) & 3];
    if (slot.row == row) {
        return slot;
    }
    slot.row = row;
    slot.bgr = m_rows.Row(row);
    // Rows are rebuilt in order, up or down: the kept row after this one in
    // the same direction is the next one needed, fetched meanwhile.
    const int32_t next = row + (row < m_lastLoaded ? -2 : 2);
    m_lastLoaded = row;
    const uint8_t* fetch = next >= m_firstKept && next <= m_lastKept ? m_rows.Row(next) : nullptr;
    const int32_t width = m_rows.width;
    int16_t* luma = slot.luma.data();
    LumaOfRow(slot.bgr, width, luma + kPad, fetch);
    std::fill(luma, luma + kPad, luma[kPad]);
    std::fill(luma + kPad + width, luma + 2 * kPad + width, luma[kPad + width - 1]);
    return slot;
}

// For each pixel from `from` to `to` - 1, the step (-kMaxStep .. kMaxStep)
// along which the rows above and below agree best: the kept rows 1 above and
// below most of all, and rows 3 above and below along the same line too.
// Returns whether any of them turns.
bool FieldInterpolator::ChooseDirections(const PaddedRow& above3, const PaddedRow& above,
                                         const PaddedRow& below, const PaddedRow& below3,
                                         int32_t from, int32_t to) {
    const int32_t first = kPad - kWindow + from;
    const int16_t* diffs[2 * kMaxStep + 1];
    for (int32_t step = -kMaxStep; step <= kMaxStep; ++step) {
        std::vector<int16_t>& diff = m_diff[step + kMaxStep];
        DirectionDiff(above3.luma.data() + first + 3 * step, above.luma.data() + first + step,
                      below.luma.data() + first - step, below3.luma.data() + first - 3 * step,
                      to - from, diff.data());
        diffs[step + kMaxStep] = diff.data();
    }
    return PickSteps(diffs, to - from, m_best.data());
}

bool FieldInterpolator::Interpolate(int32_t y, uint8_t* out) {
    return Interpolate(y, out, 0, m_rows.width);
}

bool FieldInterpolator::Interpolate(int32_t y, uint8_t* out, int32_t from, int32_t to) {
    return Rebuild(
        y, from, to, [this](int32_t row) { return m_rows.Row(row); }, out);
}

bool FieldInterpolator::Interpolate(int32_t y, const DeepRows& deep, uint16_t* out, int32_t from,
                                    int32_t to) {
    if (deep.width != m_rows.width || deep.height != m_rows.height) {
        return false;
    }
    return Rebuild(
        y, from, to, [&deep](int32_t row) { return deep.Row(row); }, out);
}

// The directions come from the kept rows' brightness whatever the depth;
// `rowOf` gives the samples of a kept row that are interpolated along them.
template <typename Sample, typename RowOf>
bool FieldInterpolator::Rebuild(int32_t y, int32_t from, int32_t to, RowOf rowOf, Sample* out) {
    if (m_lastKept < m_firstKept) {
        return false;
    }
    from = std::max(from, 0);
    to = std::min(to, m_rows.width);
    if (from >= to) {
        return true;
    }
    const PaddedRow& above = Kept(y - 1);
    const PaddedRow& below = Kept(y + 1);
    const PaddedRow& above3 = Kept(y - 3);
    const PaddedRow& below3 = Kept(y + 3);
    const Sample* a = rowOf(above.row);
    const Sample* b = rowOf(below.row);
    const Sample* a3 = rowOf(above3.row);
    const Sample* b3 = rowOf(below3.row);
    CubicRow(a + 3 * from, b + 3 * from, a3 + 3 * from, b3 + 3 * from, 3 * (to - from),
             out + 3 * from);
    if (!ChooseDirections(above3, above, below, below3, from, to)) {
        return true;
    }
    // Turns are rare (edges only): groups of pixels without one are passed
    // over whole, and turns are filled one pixel at a time. m_best holds the
    // steps from `from` on, with zeros after them to a whole group.
    int16_t* best = m_best.data();
    const int32_t count = to - from;
    // Beyond the picture's sides the edge pixels stand in.
    const auto pixel = [last = m_rows.width - 1](int32_t x) { return 3 * std::clamp(x, 0, last); };
    std::fill(best + count, best + (count + kTurnGroup - 1) / kTurnGroup * kTurnGroup, int16_t{0});
    for (int32_t group = 0; group < count; group += kTurnGroup) {
        uint64_t steps;
        static_assert(sizeof(steps) == kTurnGroup * sizeof(int16_t));
        std::memcpy(&steps, best + group, sizeof(steps));
        if (steps == 0) {
            continue;
        }
        for (int32_t i = group; i < std::min(group + kTurnGroup, count); ++i) {
            const int32_t x = from + i;
            const int32_t step = best[i];
            const int32_t up = pixel(x + step);
            const int32_t down = pixel(x - step);
            const int32_t up3 = pixel(x + 3 * step);
            const int32_t down3 = pixel(x - 3 * step);
            for (int32_t c = 0; c < 3; ++c) {
                out[3 * x + c] = Cubic(a[up + c], b[down + c], a3[up3 + c], b3[down3 + c]);
            }
        }
    }
    return true;
}

void InterpolateField(const PixelRows& rows, Field keep, const DeepRows& deep) {
    if (rows.IsEmpty()) {
        return;
    }
    FieldInterpolator interpolator(rows, keep);
    const bool atDepth = !deep.IsEmpty() && deep.width == rows.width && deep.height == rows.height;
    const int32_t first = FirstRowOf(OtherField(keep));
    const int32_t count = (rows.height - first + 1) / 2;
    // Bottom up: after a search for teeth the bottom rows are still in the
    // cache. The interpolator reads only kept rows, so rebuilt ones are
    // written in place.
    for (int32_t y = first + 2 * (count - 1); y >= first; y -= 2) {
        if (!atDepth) {
            interpolator.Interpolate(y, rows.Row(y));
        } else if (interpolator.Interpolate(y, deep, deep.Row(y), 0, rows.width)) {
            RoundDeepRow(deep.Row(y), rows.width, rows.Row(y));
        }
    }
}

void KeepField(const PixelRows& rows, Field keep, const DeepRows& deep) {
    if (rows.IsEmpty()) {
        return;
    }
    const int32_t width = rows.width;
    const int32_t first = FirstRowOf(OtherField(keep));
    // Measured before any row is rebuilt in place.
    const FieldShifts shifts(rows, keep);
    FieldInterpolator interpolator(rows, keep);
    const bool atDepth = !deep.IsEmpty() && deep.width == rows.width && deep.height == rows.height;
    CapturedRows<uint8_t> captured;
    CapturedRows<uint16_t> capturedDeep;
    for (int32_t y = first; y < rows.height; y += 2) {
        const KeptPair kept = KeptAround(y, rows.height);
        const BlockShift* rowShifts = shifts.Of(y);
        if (!atDepth) {
            captured.Save(y, rows.Row(y), rows.RowBytes());
            if (interpolator.Interpolate(y, rows.Row(y))) {
                MixShifted(rows.Row(kept.above), rows.Row(kept.below), captured.SourcesOf(rows, y),
                           rowShifts, width, rows.Row(y));
            }
        } else {
            capturedDeep.Save(y, deep.Row(y), deep.RowSamples());
            if (interpolator.Interpolate(y, deep, deep.Row(y), 0, width)) {
                MixShifted(deep.Row(kept.above), deep.Row(kept.below),
                           capturedDeep.SourcesOf(deep, y), rowShifts, width, deep.Row(y));
                RoundDeepRow(deep.Row(y), width, rows.Row(y));
            }
        }
    }
}

}  // namespace tessary
