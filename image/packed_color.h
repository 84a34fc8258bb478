#pragma once

#include <cstdint>

namespace tessary {

// Red in bits 0-7, green in bits 8-15, blue in bits 16-23; reads give 0 in
// bits 24-31 and writes ignore them.
using PackedColor = uint32_t;

constexpr PackedColor PackRgb(uint32_t red, uint32_t green, uint32_t blue) {
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}
constexpr uint32_t RedOf(PackedColor c) {
    return c & 0xFF;
}
constexpr uint32_t GreenOf(PackedColor c) {
    return (c >> 8) & 0xFF;
}
constexpr uint32_t BlueOf(PackedColor c) {
    return (c >> 16) & 0xFF;
}

inline constexpr PackedColor kOutOfRangeGrey = 0x808080;

}  // namespace tessary
