#pragma once

#include <cstdint>

#include "formats/dib.h"
#include "formats/size_limit.h"
#include "platform/file_handle.h"
#include "platform/memory_block.h"

namespace tessary {

// File data moves in pieces of at most this many bytes per call.
inline constexpr uint64_t kFilePieceSize = 32768;

// The 14-byte header in front of the packed DIB in a BMP file.
struct BitmapFileHeader {
    uint16_t bfType = 0;
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0;
};

// Moves `count` bytes in pieces of kFilePieceSize and then the remainder in one
// last call (a call of 0 bytes when count is 0). `transfer(offset, size)` moves
// `size` bytes at `offset` of the buffer and returns how many it moved. Gives
// `count`, or 0 as soon as a piece comes up short.
template <typename Transfer>
uint64_t TransferInPieces(uint64_t count, Transfer&& transfer) {
    uint64_t offset = 0;
    while (count - offset > kFilePieceSize) {
        if (transfer(offset, kFilePieceSize) != static_cast<int64_t>(kFilePieceSize)) {
            return 0;
        }
        offset += kFilePieceSize;
    }
    const uint64_t rest = count - offset;
    return transfer(offset, rest) == static_cast<int64_t>(rest) ? count : 0;
}

// `count` when every byte was moved, else 0.
uint64_t ReadFileChunked(FileHandle& file, void* buffer, uint64_t count);
uint64_t WriteFileChunked(FileHandle& file, const void* buffer, uint64_t count);

// Reads the 2-byte type and then the other 12 bytes, and reports in `start` the
// position at which the header began. 1 when all 14 bytes were read, else 0
// (bytes not read are left 0).
int ReadBmpFileHeader(FileHandle& file, BitmapFileHeader* header, int64_t* start);
// Writes the 2-byte type and then the other 12 bytes. 1 when both writes went through.
int WriteBmpFileHeader(FileHandle& file, const BitmapFileHeader& header);

// Reads an optional file header, the information header (40 bytes, or a 12-byte
// core header widened to 40) and the colour table into a new block of header
// plus table, and leaves the file at the pixel array. None when the header is
// refused; `status` says why. Refused: short or unknown headers (only 12 and 40
// are known), bit fields, a colour count of kColorCountLimit or more, a negative
// width, a top-down compressed image, and sizes beyond kMaxPixelBytes (TooLarge,
// decided before anything is allocated). biSizeImage and biClrUsed are filled
// when 0.
MemoryBlock ReadDibHeader(FileHandle& file, ReadStatus* status = nullptr);

// A BMP file (or a packed DIB without file header) as a new packed DIB with a
// 40-byte header and bottom-up rows: top-down files have their rows reversed
// and their height made positive. The pixel array is at least stride x height
// bytes; what the file does not supply is 0. None when refused.
MemoryBlock ReadDibFile(const char* path, ReadStatus* status = nullptr);

// Writes the DIB as a BMP file. The target is replaced only once every byte has
// been written and the file closed without error; on failure it is left as it
// was, no temporary file remains, 0 is returned and `errorNumber` gets the errno
// (0 when there is no DIB to write). 1 on success.
int SaveDibFile(const char* path, const MemoryBlock& dib, int* errorNumber = nullptr);

}  // namespace tessary
