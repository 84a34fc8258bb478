#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tessary::test {

// One colour-table entry. Written blue, green, red, reserved (or blue, green,
// red for a core header).
struct BmpColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t reserved = 0;
};

// Builds the exact bytes of a BMP file (or of a packed DIB without file header)
// in code, so that a test shows what it feeds the reader. By default: a "BM"
// file header with bfOffBits pointing right behind the colour table, a 40-byte
// header with biSizeImage, biClrUsed and biClrImportant 0, 3780 pixels per
// metre, no colour table and an all-zero pixel array of stride x |height|
// bytes. Every field can be overridden, including to nonsense.
//
//   Bytes file = BmpBuilder(2, 2, 24).Pixels24([](int x, int y) { return x + y; }).Build();
class BmpBuilder {
  public:
    BmpBuilder(int32_t width, int32_t height, uint16_t bitCount);

    BmpBuilder& WithoutFileHeader();
    // The 12-byte header (16-bit width and height) with 3-byte colour entries.
    BmpBuilder& CoreHeader();
    // The 40 header fields and then zeros up to `size` bytes, with `size` in biSize.
    BmpBuilder& HeaderSize(uint32_t size);
    BmpBuilder& Planes(uint16_t planes);
    BmpBuilder& Compression(uint32_t compression);
    BmpBuilder& SizeImage(uint32_t bytes);
    BmpBuilder& ClrUsed(uint32_t count);
    BmpBuilder& ClrImportant(uint32_t count);
    BmpBuilder& Resolution(int32_t xPelsPerMeter, int32_t yPelsPerMeter);
    BmpBuilder& Palette(std::vector<BmpColor> entries);
    // `count` entries with entry i = (i, i, i) (modulo 256) and reserved byte 0.
    BmpBuilder& GreyPalette(uint32_t count);
    // Bytes between the colour table and the pixel array (counted in bfOffBits).
    BmpBuilder& Gap(Bytes bytes);
    // Replaces the computed bfOffBits / bfSize.
    BmpBuilder& OffBits(uint32_t offset);
    BmpBuilder& FileSize(uint32_t size);
    // The pixel array exactly as stored.
    BmpBuilder& PixelArray(Bytes bytes);
    // Fills the pixel array from top-left coordinates: rows bottom-up for a
    // positive height, top-down for a negative one, padded to 4 bytes.
    BmpBuilder& Pixels24(const std::function<uint32_t(int32_t x, int32_t y)>& rgbAt);
    BmpBuilder& Pixels8(const std::function<uint8_t(int32_t x, int32_t y)>& indexAt);
    // 16- or 32-bit pixel values as stored, little-endian, from top-left coordinates.
    BmpBuilder& PixelValues(const std::function<uint32_t(int32_t x, int32_t y)>& valueAt);
    // Bit-field masks: inside a header of 56 bytes or more, else (red, green and
    // blue only) in the 12 bytes behind a 40-byte header.
    BmpBuilder& Masks(uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha = 0);
    // An embedded colour profile (124-byte header): placed behind the pixels.
    BmpBuilder& Profile(Bytes profile);

    // Bytes per stored row for the width and bit count.
    uint64_t Stride() const;
    // The offset of the pixel array from the start of the bytes Build() gives.
    uint32_t PixelOffset() const;
    Bytes Build() const;

  private:
    uint32_t Rows() const;
    // Stored row s holds picture row y.
    int32_t PictureRow(uint32_t storedRow) const;

    int32_t m_nWidth;
    int32_t m_nHeight;
    uint16_t m_nBitCount;
    bool m_bFileHeader = true;
    bool m_bCore = false;
    uint32_t m_nHeaderSize = 40;
    uint16_t m_nPlanes = 1;
    uint32_t m_nCompression = 0;
    uint32_t m_nSizeImage = 0;
    uint32_t m_nClrUsed = 0;
    uint32_t m_nClrImportant = 0;
    int32_t m_nXPels = 3780;
    int32_t m_nYPels = 3780;
    std::vector<BmpColor> m_palette;
    Bytes m_gap;
    std::optional<uint32_t> m_offBits;
    std::optional<uint32_t> m_fileSize;
    std::optional<Bytes> m_pixels;
    std::optional<std::vector<uint32_t>> m_masks;
    Bytes m_profile;
};

}  // namespace tessary::test
