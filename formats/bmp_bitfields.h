#pragma once

#include <cstdint>
#include <memory>

namespace tessary {

// One colour channel of a bit-field pixel: the bits of its mask widened to 8
// bits by repeating them (5 bits: 16 -> 132), wider channels scaled with
// rounding (10 bits: v x 255 / 1023). A mask of no bits gives 0.
class ChannelScale {
  public:
    explicit ChannelScale(uint32_t mask = 0);
    uint8_t operator()(uint32_t pixel) const {
        const uint32_t value = (pixel & m_nMask) >> m_nShift;
        return m_table ? m_table[value] : Scale(value);
    }

  private:
    uint8_t Scale(uint32_t value) const;

    uint32_t m_nMask = 0;
    int m_nShift = 0;
    uint64_t m_nMax = 0;
    // Every value's 8 bits, for channels of up to 16 bits.
    std::shared_ptr<uint8_t[]> m_table;
};

// How the stored pixels of a row become blue, green and red.
struct BmpRowFormat {
    uint16_t bits = 24;  // 1, 4, 8 (indices), 16 or 32 (bit fields), 24 (blue, green, red)
    ChannelScale red;
    ChannelScale green;
    ChannelScale blue;
    // 256 entries of blue, green, red, reserved; indices past the file's table are black.
    const uint8_t* palette = nullptr;
};

// The masks a 16- or 32-bit file without bit fields implies: 5-5-5 and 8-8-8.
void DefaultMasks(uint16_t bits, uint32_t masks[3]);

// One stored row of `width` pixels as width x 3 bytes blue, green, red; the
// alpha channel, if any, is dropped and the colours kept as stored.
void ConvertBmpRow(const uint8_t* row, uint32_t width, const BmpRowFormat& format, uint8_t* bgr);

}  // namespace tessary
