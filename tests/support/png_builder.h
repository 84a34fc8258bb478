#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

namespace tessary::test {

// Builds the exact bytes of a PNG file in code: signature, IHDR from the
// fields given (any values, including nonsense), the chunks added in order,
// and IEND. Image data is given as filtered scanlines (each with its filter
// byte) and compressed by zlib into one IDAT chunk.
//
//   Bytes file = PngBuilder(3, 2, 8, 2).RgbRows([](int x, int y) { ... }).Build();
class PngBuilder {
  public:
    PngBuilder(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
               uint8_t interlace = 0);

    // Any chunk, its CRC computed (or `crc` as given).
    PngBuilder& Chunk(const std::string& type, const Bytes& data);
    PngBuilder& ChunkWithCrc(const std::string& type, const Bytes& data, uint32_t crc);
    // IDAT of these scanlines, compressed.
    PngBuilder& ImageData(const Bytes& scanlines);
    // IDAT of 8-bit RGB rows, filter type 0, from the colour of each pixel
    // (red in bits 0-7, green 8-15, blue 16-23, as BmpBuilder); for a picture that is not
    // interlaced.
    PngBuilder& RgbRows(const std::function<uint32_t(int x, int y)>& colour);

    Bytes Build() const;

  private:
    uint32_t m_nWidth;
    uint32_t m_nHeight;
    Bytes m_chunks;
};

}  // namespace tessary::test
