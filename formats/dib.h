#pragma once

#include <cstdint>

#include "platform/memory_block.h"

// The packed DIB: one block holding a 40-byte information header, the colour
// table (4-byte entries: blue, green, red, reserved) and the pixel rows,
// bottom-up, each padded to a multiple of 4 bytes. Little-endian throughout;
// the block is written to a BMP file byte for byte.

namespace tessary {

inline constexpr uint32_t kInfoHeaderSize = 40;
inline constexpr uint32_t kCoreHeaderSize = 12;
inline constexpr uint32_t kFileHeaderSize = 14;
inline constexpr uint16_t kBmpSignature = 0x4D42;  // "BM"
inline constexpr uint32_t kBitFieldsCompression = 3;
// Resolution of every DIB the program creates: 96 dots per inch.
inline constexpr int32_t kDefaultPelsPerMeter = 3780;
// From this many colour-table entries on, the table's byte count no longer
// fits its 16-bit width.
inline constexpr uint32_t kColorCountLimit = 16384;

// The 40-byte header, field by field. Converted to and from bytes explicitly,
// never by overlaying a struct on file data.
struct BitmapInfoHeader {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

inline uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// Reads and writes the 40 header bytes at `bytes`.
BitmapInfoHeader ParseInfoHeader(const uint8_t* bytes);
void SerializeInfoHeader(const BitmapInfoHeader& header, uint8_t* bytes);

// Bytes per row: ((bitCount * width + 31) / 32) * 4, in 64 bits so that it cannot wrap.
inline uint64_t DibStride(uint32_t width, uint16_t bitCount) {
    return (static_cast<uint64_t>(bitCount) * width + 31) / 32 * 4;
}

// Stride times height, with both fields taken as unsigned (as CreateDib stores them).
uint64_t DibPixelBytes(const BitmapInfoHeader& header);

// Colour-table entries. For a header whose size field is 12 the bytes are a
// core header, whose bit count is the 16-bit field at offset 10: the high half
// of biHeight as read. Otherwise biClrUsed when non-zero, else 2, 16 or 256 for
// 1, 4 or 8 bits and 0 for any other depth.
uint16_t DibNumColors(const BitmapInfoHeader& header);
// Colour-table bytes: 3 per entry for a core header, 4 otherwise.
uint16_t DibPaletteSize(const BitmapInfoHeader& header);

// Offset of the pixel array in a packed DIB: the header size (low 16 bits of the
// first field) plus the colour table.
uint64_t DibPixelOffset(const BitmapInfoHeader& header);

// A new blank DIB: 40-byte header, colour table and pixels all zero. None when
// the pixel array would exceed kMaxPixelBytes or the memory can't be had.
MemoryBlock CreateDib(uint32_t width, uint32_t height, uint16_t bitCount);
// The same DIB, made in `spare` when that block has exactly the size needed
// (zero-filled again first), else in a new block; `spare` is used up either way.
// Saves a batch that loads picture after picture of one size from taking fresh
// pages from the system for each one.
MemoryBlock CreateDib(uint32_t width, uint32_t height, uint16_t bitCount, MemoryBlock spare);

// Copies the block's header into `header`, filling a zero biSizeImage and
// biClrUsed in the copy (not for a core header). 0 when there is no block.
int GetDibInfo(const MemoryBlock& dib, BitmapInfoHeader* header);

}  // namespace tessary
