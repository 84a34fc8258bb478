#include "formats/bmp_bitfields.h"

#include <new>

namespace tessary {

namespace {

constexpr uint64_t kLargestTabledValue = 0xFFFF;

uint32_t Le16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t Le32(const uint8_t* p) {
    return Le16(p) | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

ChannelScale::ChannelScale(uint32_t mask) : m_nMask(mask) {
    if (mask == 0) {
        return;
    }
    m_nShift = __builtin_ctz(mask);
    m_nMax = mask >> m_nShift;
    if (m_nMax <= kLargestTabledValue) {
        m_table.reset(new (std::nothrow) uint8_t[m_nMax + 1]);
        for (uint64_t v = 0; m_table && v <= m_nMax; ++v) {
            m_table[v] = Scale(uint32_t(v));
        }
    }
}

uint8_t ChannelScale::Scale(uint32_t value) const {
    if (m_nMax == 0) {
        return 0;
    }
    const bool contiguous = (m_nMax & (m_nMax + 1)) == 0;
    if (!contiguous || m_nMax > 0xFF) {
        return static_cast<uint8_t>((uint64_t{value} * 255 + m_nMax / 2) / m_nMax);
    }
    // Up to 8 bits: the bits repeated until they fill the byte, as other
    // programs widen 5- and 6-bit channels (31 -> 255, 16 -> 132, 7 -> 57).
    const int bits = __builtin_popcount(m_nMax);
    uint32_t widened = 0;
    for (int filled = 0; filled < 8; filled += bits) {
        widened = widened << bits | value;
    }
    return static_cast<uint8_t>(widened >> ((8 + bits - 1) / bits * bits - 8));
}

void DefaultMasks(uint16_t bits, uint32_t masks[3]) {
    if (bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else {
        masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
    }
}

void ConvertBmpRow(const uint8_t* row, uint32_t width, const BmpRowFormat& format, uint8_t* bgr) {
    switch (format.bits) {
        case 24:
            for (uint64_t i = 0; i < uint64_t{width} * 3; ++i) {
                bgr[i] = row[i];
            }
            return;
        case 16:
        case 32:
            for (uint32_t x = 0; x < width; ++x, bgr += 3) {
                const uint32_t pixel = format.bits == 16 ? Le16(row + x * 2) : Le32(row + x * 4);
                bgr[0] = format.blue(pixel);
                bgr[1] = format.green(pixel);
                bgr[2] = format.red(pixel);
            }
            return;
        default: {
            const unsigned bits = format.bits;
            const unsigned perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            for (uint32_t x = 0; x < width; ++x, bgr += 3) {
                // The leftmost pixel is in the high bits of its byte.
                const unsigned shift = (perByte - 1 - x % perByte) * bits;
                const uint8_t* entry = format.palette + ((row[x / perByte] >> shift) & mask) * 4;
                bgr[0] = entry[0];
                bgr[1] = entry[1];
                bgr[2] = entry[2];
            }
        }
    }
}

}  // namespace tessary
