#include "ops/field_shift.h"

#include <algorithm>
#include <cstdlib>

#include "image/intrinsics.h"

namespace tessary {

namespace {

// Every other row of a block row is searched: the shifts come out nearly as
// well (a tenth of a dB at most on the development set) in half the time.
constexpr int32_t kSearchRowStep = 2;
constexpr int32_t kSearchedRows = (kShiftRows + kSearchRowStep - 1) / kSearchRowStep;
// The other field's rows the search reads: each searched row and the rows
// kLift above and below it.
constexpr int32_t kOtherSlots = 2 * kSearchedRows + 1;
static_assert(kLift == 2 && kSearchRowStep == 2,
              "the other field's rows are read one field row apart, every other one searched");

// The shifts along the row in the order they are tried: 0, -1, 1, -2, 2, ...;
// a later one wins only when strictly better, so the smaller shift wins a
// tie, and a shift up or down wins only over every shift along the row.
constexpr int32_t ShiftOfTry(int32_t i) {
    return i % 2 == 1 ? -(i + 1) / 2 : i / 2;
}
constexpr int32_t kShiftsAlong = 2 * kMaxShift + 1;
// A shift along the row that leaves under half the mismatch of the other
// field's own rows explains its block clearly.
constexpr uint64_t kClearlyBetter = 2;

// Byte luma (blue + 2 green + red) / 4, rounded, from the wider one.
TESSARY_ROW_KERNEL void NarrowLuma(const int16_t* luma, int32_t width, uint8_t* __restrict out) {
    for (int32_t x = 0; x < width; ++x) {
        out[x] = static_cast<uint8_t>((luma[x] + 2) >> 2);
    }
}

TESSARY_ROW_KERNEL void Midpoints(const uint8_t* above, const uint8_t* below, int32_t width,
                                  uint8_t* __restrict mid) {
    for (int32_t x = 0; x < width; ++x) {
        mid[x] = static_cast<uint8_t>((above[x] + below[x] + 1) >> 1);
    }
}

// Adds the summed differences of rows a and b, `pixels` bytes, to `sums`: two
// a block of kShiftBlock bytes, one for each half (the last block may be
// short), which is how sums of absolute differences come out of the
// processor, eight bytes at a time.
void PlainAddBlockSums(const uint8_t* a, const uint8_t* b, int32_t from, int32_t pixels,
                       uint64_t* sums) {
    for (int32_t x = from; x < pixels; ++x) {
        sums[x / (kShiftBlock / 2)] += static_cast<uint64_t>(std::abs(a[x] - b[x]));
    }
}

#if defined(TESSARY_KERNEL_VARIANTS)
// Four blocks an instruction; the rest as below.
__attribute__((target("avx512f,avx512bw"))) int32_t WideAddBlockSums(const uint8_t* a,
                                                                     const uint8_t* b,
                                                                     int32_t pixels,
                                                                     uint64_t* sums) {
    constexpr int32_t kBytes = 64;
    int32_t x = 0;
    for (; x + kBytes <= pixels; x += kBytes) {
        const __m512i sad = _mm512_sad_epu8(_mm512_loadu_si512(a + x), _mm512_loadu_si512(b + x));
        uint64_t* to = sums + x / (kShiftBlock / 2);
        _mm512_storeu_si512(to, _mm512_add_epi64(_mm512_loadu_si512(to), sad));
    }
    return x;
}
#endif

void AddBlockSums(const uint8_t* a, const uint8_t* b, int32_t pixels, uint64_t* sums) {
    int32_t x = 0;
#if defined(TESSARY_KERNEL_VARIANTS)
    static const bool wide = __builtin_cpu_supports("avx512bw") != 0;
    if (wide) {
        x = WideAddBlockSums(a, b, pixels, sums);
    }
    static_assert(kShiftBlock == sizeof(__m128i));
    for (; x + kShiftBlock <= pixels; x += kShiftBlock) {
        const __m128i sad = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x)));
        __m128i* to = reinterpret_cast<__m128i*>(sums + x / (kShiftBlock / 2));
        _mm_storeu_si128(to, _mm_add_epi64(_mm_loadu_si128(to), sad));
    }
#endif
    PlainAddBlockSums(a, b, x, pixels, sums);
}

// The mean of each of `count` rebuilt samples and the shifted one held to the
// range of the kept samples above and below, halves rounded up.
template <typename Sample>
[[gnu::always_inline]] inline void MixSamples(const Sample* above, const Sample* below,
                                              const Sample* shifted, int32_t count,
                                              Sample* __restrict rebuilt) {
    for (int32_t i = 0; i < count; ++i) {
        const Sample low = std::min(above[i], below[i]);
        const Sample high = std::max(above[i], below[i]);
        const Sample held = std::min(std::max(shifted[i], low), high);
        rebuilt[i] = static_cast<Sample>((uint32_t{rebuilt[i]} + held + 1) >> 1);
    }
}

template <typename Sample>
[[gnu::always_inline]] inline void Mix(const Sample* above, const Sample* below,
                                       const ShiftSources<Sample>& sources,
                                       const BlockShift* shifts, int32_t width, Sample* rebuilt) {
    constexpr int32_t kSamples = 3 * kShiftBlock;
    // Block by block; blocks without a shift keep the interpolated pixels.
    for (int32_t x = 0; x < width; x += kShiftBlock) {
        const int32_t end = std::min(x + kShiftBlock, width);
        const BlockShift& shift = shifts[x / kShiftBlock];
        const Sample* captured = sources.row[shift.dy / kLift + 1];
        const int64_t at = 3 * int64_t{x};
        if (!shift.none && end - x == kShiftBlock && x + shift.dx >= 0 && end + shift.dx <= width) {
            // A whole block inside the row: a loop of fixed size, which
            // vectorises in full.
            MixSamples(above + at, below + at, captured + at + 3 * shift.dx, kSamples,
                       rebuilt + at);
        } else if (!shift.none) {
            Sample shifted[kSamples];
            for (int32_t p = x; p < end; ++p) {
                std::copy_n(captured + 3 * std::clamp(p + shift.dx, 0, width - 1), 3,
                            shifted + 3 * (p - x));
            }
            MixSamples(above + at, below + at, shifted, 3 * (end - x), rebuilt + at);
        }
    }
}

}  // namespace

KeptPair KeptAround(int32_t y, int32_t height) {
    const int32_t above = y > 0 ? y - 1 : std::min(y + 1, height - 1);
    const int32_t below = y + 1 < height ? y + 1 : std::max(y - 1, 0);
    return {above, below};
}

template <typename Sample>
void CapturedRows<Sample>::Save(int32_t y, const Sample* row, int64_t samples) {
    std::vector<Sample>& copy = m_copies[m_next];
    copy.assign(row, row + samples);
    m_rows[m_next] = y;
    m_next = 1 - m_next;
}

template <typename Sample>
const Sample* CapturedRows<Sample>::Of(int32_t y, const Sample* live) const {
    for (int i = 0; i < 2; ++i) {
        if (m_rows[i] == y) {
            return m_copies[i].data();
        }
    }
    return live;
}

template class CapturedRows<uint8_t>;
template class CapturedRows<uint16_t>;

FieldShifts::FieldShifts(const PixelRows& rows, Field keep) : m_rows(rows), m_keep(keep) {
    if (rows.IsEmpty()) {
        return;
    }
    m_columns = (rows.width + kShiftBlock - 1) / kShiftBlock;
    const int32_t blockRows = (rows.height + kShiftBlockRows - 1) / kShiftBlockRows;
    m_shifts.assign(size_t(blockRows) * size_t(m_columns), BlockShift{});
    // Every block before any row is rebuilt: the search reads the other
    // field's rows beside each block row too.
    for (int32_t blockRow = 0; blockRow < blockRows; ++blockRow) {
        MeasureBlockRow(blockRow);
    }
}

const BlockShift* FieldShifts::Of(int32_t y) const {
    return m_shifts.data() + size_t(y / kShiftBlockRows) * size_t(m_columns);
}

// Byte lumas of row y, padded by kMaxShift each side with its edge pixels.
void FieldShifts::LumaOf(int32_t y, uint8_t* luma) {
    const int32_t width = m_rows.width;
    m_luma.resize(size_t(width));
    LumaOfRow(m_rows.Row(y), width, m_luma.data());
    NarrowLuma(m_luma.data(), width, luma + kMaxShift);
    std::fill(luma, luma + kMaxShift, luma[kMaxShift]);
    std::fill(luma + kMaxShift + width, luma + kMaxShift + width + kMaxShift,
              luma[kMaxShift + width - 1]);
}

// The lumas the search of the block row from row `first` on reads: in slot s
// the other field's row first - kLift + s * kLift (the searched rows are the
// odd slots), and the kept rows' midpoints around each searched row. Returns
// how many rows are searched.
int32_t FieldShifts::LoadRows(int32_t first, bool* usable) {
    const int32_t height = m_rows.height;
    const size_t padded = size_t(m_rows.width) + 2 * kMaxShift;
    const int32_t end = std::min(first + kShiftBlockRows, height);
    const int32_t searched = (end - first + 2 * kSearchRowStep - 1) / (2 * kSearchRowStep);
    m_other.resize(kOtherSlots * padded);
    m_kept.resize(size_t(kSearchedRows) * padded);
    m_keptLuma.resize(2 * padded);
    for (int32_t s = 0; s < kOtherSlots; ++s) {
        const int32_t row = first - kLift + s * kLift;
        usable[s] = s <= 2 * searched && row >= 0 && row < height;
        if (usable[s]) {
            LumaOf(row, m_other.data() + size_t(s) * padded);
        }
    }
    for (int32_t i = 0; i < searched; ++i) {
        const KeptPair kept = KeptAround(first + 2 * kSearchRowStep * i, height);
        LumaOf(kept.above, m_keptLuma.data());
        LumaOf(kept.below, m_keptLuma.data() + padded);
        Midpoints(m_keptLuma.data() + kMaxShift, m_keptLuma.data() + padded + kMaxShift,
                  m_rows.width, m_kept.data() + size_t(i) * padded);
    }
    return searched;
}

void FieldShifts::MeasureBlockRow(int32_t blockRow) {
    bool usable[kOtherSlots];
    const int32_t searched =
        LoadRows(blockRow * kShiftBlockRows + FirstRowOf(OtherField(m_keep)), usable);
    const int32_t blocks = m_columns;
    m_costs.resize(2 * size_t(blocks));
    m_best.assign(size_t(blocks), UINT64_MAX);
    m_self.resize(size_t(blocks));
    BlockShift* shifts = m_shifts.data() + size_t(blockRow) * size_t(m_columns);
    SelfCosts(searched, usable);
    TryShifts(0, searched, 0, blocks, shifts);
    // Up or down only where no shift along the row clearly explains the
    // block: the search costs less, and a still block takes no shift up or
    // down that matches its detail by chance.
    for (const int32_t lift : {-kLift, kLift}) {
        bool all = true;
        for (int32_t i = 0; i < searched; ++i) {
            all = all && usable[2 * i + 1 + lift / kLift];
        }
        for (int32_t b = 0; all && b < blocks;) {
            int32_t end = b;
            while (end < blocks && m_best[size_t(end)] * kClearlyBetter > m_self[size_t(end)]) {
                ++end;
            }
            if (end > b) {
                TryShifts(lift, searched, b, end, shifts);
            }
            b = end + 1;
        }
    }
    for (int32_t b = 0; b < blocks; ++b) {
        shifts[b].none = m_best[size_t(b)] > m_self[size_t(b)];
    }
}

// How well the other field predicts its own rows from its rows above and
// below: a shift that predicts the kept rows' midpoints no better has found no
// motion worth following (half a row up or down, turning, a picture so smooth
// that interpolation already has it).
void FieldShifts::SelfCosts(int32_t searched, const bool* usable) {
    const int32_t count = m_rows.width;
    const size_t padded = size_t(count) + 2 * kMaxShift;
    std::fill(m_costs.begin(), m_costs.end(), uint64_t{0});
    m_selfMid.resize(size_t(count));
    for (int32_t i = 0; i < searched; ++i) {
        if (usable[2 * i] && usable[2 * i + 2]) {
            Midpoints(m_other.data() + size_t(2 * i) * padded + kMaxShift,
                      m_other.data() + size_t(2 * i + 2) * padded + kMaxShift, count,
                      m_selfMid.data());
            AddBlockSums(m_other.data() + size_t(2 * i + 1) * padded + kMaxShift, m_selfMid.data(),
                         count, m_costs.data());
        }
    }
    for (size_t b = 0; b < m_self.size(); ++b) {
        m_self[b] = m_costs[2 * b] + m_costs[2 * b + 1];
    }
}

// Every shift along the row at `lift` for blocks from .. to - 1 of the block
// row, all at once and row by row, each block's least cost kept.
void FieldShifts::TryShifts(int32_t lift, int32_t searched, int32_t from, int32_t to,
                            BlockShift* shifts) {
    const int32_t count = m_rows.width;
    const size_t padded = size_t(count) + 2 * kMaxShift;
    const int32_t x = from * kShiftBlock;
    const int32_t pixels = std::min(to * kShiftBlock, count) - x;
    for (int32_t t = 0; t < kShiftsAlong; ++t) {
        const int32_t dx = ShiftOfTry(t);
        std::fill(m_costs.begin() + 2 * from, m_costs.begin() + 2 * to, uint64_t{0});
        for (int32_t i = 0; i < searched; ++i) {
            const uint8_t* other =
                m_other.data() + size_t(2 * i + 1 + lift / kLift) * padded + kMaxShift + x + dx;
            AddBlockSums(other, m_kept.data() + size_t(i) * padded + x, pixels,
                         m_costs.data() + 2 * from);
        }
        const BlockShift tried{static_cast<int8_t>(dx), static_cast<int8_t>(lift)};
        for (int32_t b = from; b < to; ++b) {
            const uint64_t cost = m_costs[2 * size_t(b)] + m_costs[2 * size_t(b) + 1];
            if (cost < m_best[size_t(b)]) {
                m_best[size_t(b)] = cost;
                shifts[b] = tried;
            }
        }
    }
}

TESSARY_ROW_KERNEL void MixShifted(const uint8_t* above, const uint8_t* below,
                                   const ShiftSources<uint8_t>& sources, const BlockShift* shifts,
                                   int32_t width, uint8_t* rebuilt) {
    Mix(above, below, sources, shifts, width, rebuilt);
}

TESSARY_ROW_KERNEL void MixShifted(const uint16_t* above, const uint16_t* below,
                                   const ShiftSources<uint16_t>& sources, const BlockShift* shifts,
                                   int32_t width, uint16_t* rebuilt) {
    Mix(above, below, sources, shifts, width, rebuilt);
}

}  // namespace tessary
