#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tessary {

struct FreeBytes {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
};

// An owned heap buffer of bytes; null is "none".
using ByteBuffer = std::unique_ptr<uint8_t[], FreeBytes>;

// A buffer of `size` bytes, or none when the size can't be had. `zeroed` asks for
// every byte to be 0.
ByteBuffer AllocateBytes(uint64_t size, bool zeroed = false);

// Bytes of a tight RGB buffer (width x height x 3); 0 when the count does not
// fit in 64 bits.
uint64_t TightBufferSize(uint32_t width, uint32_t height);
// Bytes of one 24-bit row padded to a multiple of 4: ((width x 24 + 31) div 32) x 4.
uint64_t DwordStride24(uint32_t width);

// Tight RGB buffer: rows top-down, no padding, bytes red, green, blue.
// Padded BGR rows: rows bottom-up, stride DwordStride24, bytes blue, green, red.

// Copies width x 3 decoded bytes unchanged into row r of the tight buffer.
void StoreRgbRow(const uint8_t* row, uint32_t width, uint8_t* buffer, uint32_t r);
// Writes each grey byte g of the decoded row as the pixel (g, g, g) in row r.
void StoreGrayRow(const uint8_t* row, uint32_t width, uint8_t* buffer, uint32_t r);

// A new buffer of rows padded to a multiple of 4 bytes (pad bytes 0) and its
// stride, or none (stride untouched).
ByteBuffer PadRowsToDword(const uint8_t* tight, uint32_t width, uint32_t height, uint32_t* stride);
// A new tight buffer from padded rows, or none.
ByteBuffer StripRowPadding(const uint8_t* rows, uint32_t width, uint32_t stride, uint32_t height);
// Reverses the order of the rows in place. 1, or 0 when the buffer is none.
int FlipRowsVertically(uint8_t* buffer, uint64_t rowBytes, uint32_t rows);
// Exchanges the first and third byte of every 3-byte pixel. 1, or 0 when the buffer is none.
int SwapRedBlue(uint8_t* buffer, uint32_t width, uint32_t height);

// The three steps from a tight RGB buffer to the pixel array of a 24-bit DIB
// (SwapRedBlue, FlipRowsVertically, PadRowsToDword) in one pass, without
// touching the source. `pixels` holds height rows of `stride` bytes.
void TightRgbToDibRows(const uint8_t* tight, uint32_t width, uint32_t height, uint8_t* pixels,
                       uint64_t stride);
// One decoded top-down row r, red-green-blue (or grey when `components` is 1),
// stored as row r of a 24-bit DIB of `height` rows: what StoreRgbRow or
// StoreGrayRow followed by TightRgbToDibRows would leave there. `row` may be
// the start of that DIB row itself (the samples decoded in place).
void StoreRowIntoDib(const uint8_t* row, int components, uint32_t width, uint32_t height,
                     uint32_t r, uint8_t* pixels, uint64_t stride);
// The way back (StripRowPadding, FlipRowsVertically, SwapRedBlue) in one pass.
void DibRowsToTightRgb(const uint8_t* pixels, uint32_t width, uint32_t height, uint64_t stride,
                       uint8_t* tight);
// One row of that way back: top-down row r of the DIB as width red-green-blue
// pixels in `target`, which must not overlap the DIB.
void DibRowToRgb(const uint8_t* pixels, uint32_t width, uint32_t height, uint64_t stride,
                 uint32_t r, uint8_t* target);

// Hands an encode its rows, top-down, each width x 3 bytes red, green, blue.
class RgbRowSource {
  public:
    virtual ~RgbRowSource() = default;
    // Row r; the bytes need only stay valid until the next call.
    virtual const uint8_t* Row(uint32_t r) = 0;
};

// The rows of a tight RGB buffer.
class TightRgbRows final : public RgbRowSource {
  public:
    TightRgbRows(const uint8_t* rgb, uint32_t width) : m_pRgb(rgb), m_nWidth(width) {}
    const uint8_t* Row(uint32_t r) override { return m_pRgb + uint64_t{r} * m_nWidth * 3; }

  private:
    const uint8_t* m_pRgb;
    uint32_t m_nWidth;
};

}  // namespace tessary
