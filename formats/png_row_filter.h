#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessary {

// The PNG row filters the writer chooses among.
inline constexpr uint8_t kPngFilterNone = 0;
inline constexpr uint8_t kPngFilterSub = 1;
inline constexpr uint8_t kPngFilterUp = 2;

// Writes one row into `out` as a filter byte and the filtered bytes, choosing
// the filter whose bytes, read as signed, sum smallest in magnitude: the usual
// guess at what deflate packs best. `up` is the row above (zeros for the first).
// Shared with the settings benchmark so that its figures are the writer's.
inline void FilterPngRow(const uint8_t* row, const uint8_t* up, size_t bytes, size_t pixelBytes,
                         uint8_t* out) {
    auto magnitude = [](uint8_t d) { return uint64_t{std::min(d, uint8_t(-d))}; };
    uint64_t none = 0;
    uint64_t sub = 0;
    uint64_t above = 0;
    for (size_t i = 0; i < bytes; ++i) {
        const uint8_t left = i >= pixelBytes ? row[i - pixelBytes] : 0;
        none += magnitude(row[i]);
        sub += magnitude(uint8_t(row[i] - left));
        above += magnitude(uint8_t(row[i] - up[i]));
    }
    if (none <= sub && none <= above) {
        out[0] = kPngFilterNone;
        std::memcpy(out + 1, row, bytes);
    } else if (sub <= above) {
        out[0] = kPngFilterSub;
        for (size_t i = 0; i < bytes; ++i) {
            out[1 + i] = uint8_t(row[i] - (i >= pixelBytes ? row[i - pixelBytes] : 0));
        }
    } else {
        out[0] = kPngFilterUp;
        for (size_t i = 0; i < bytes; ++i) {
            out[1 + i] = uint8_t(row[i] - up[i]);
        }
    }
}

}  // namespace tessary
