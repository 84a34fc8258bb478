#pragma once

#include <cstdint>

#include "formats/dib.h"
#include "formats/image_reader.h"
#include "formats/size_limit.h"
#include "formats/status.h"
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

// Where the parts of a BMP file lie in its bytes, and what its header says.
struct BmpLayout {
    BitmapInfoHeader header;        // in 40-byte form; biSizeImage and biClrUsed filled
    uint32_t storedHeaderSize = 0;  // 12, 40, 108 or 124
    uint64_t tableStart = 0;        // the colour table
    uint16_t colors = 0;            // its entries (3 bytes each behind a core header)
    uint64_t pixelStart = 0;        // the pixel array
    // Pixels that become a 24-bit picture: bit fields, or a 108- or 124-byte
    // header. Otherwise the pixel array is taken as stored.
    bool converted = false;
    uint32_t masks[3] = {};     // red, green, blue, for converted 16- and 32-bit pixels
    uint64_t profileStart = 0;  // an embedded colour profile; size 0 when none
    uint64_t profileSize = 0;
};

// Reads the headers at the start of `bytes` (a "BM" file header, or a packed
// DIB without one). Ok, or why the file is refused: NotThisFormat when the
// bytes are no BMP at all, Unsupported for header sizes other than 12, 40, 108
// and 124 and for embedded JPEG or PNG, TooLarge beyond kMaxPixelBytes.
Status ParseBmpLayout(ByteView bytes, BmpLayout* layout);

// The reader table's row.
bool LooksLikeBmp(ByteView bytes);
Status DecodeBmpImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out);
Status EncodeBmpImage(const char* path, const PictureToWrite& picture, const WriteOptions& options);

// Writes the DIB as a BMP file. The target is replaced only once every byte
// has been written and the file closed without error; on failure it is left as
// it was, no temporary file remains, and an IoError says why.
Status WriteBmp(const char* path, const MemoryBlock& dib);

// Reads an optional file header, the information header (40 bytes, or a 12-byte
// core header widened to 40) and the colour table into a new block of header
// plus table, and leaves the file at the pixel array. None when the header is
// refused; `status` says why. Refused: short or unknown headers (only 12 and 40
// are known here), bit fields, a colour count of kColorCountLimit or more, a
// negative width, a top-down compressed image, and sizes beyond kMaxPixelBytes
// (TooLarge, decided before anything is allocated). biSizeImage and biClrUsed
// are filled when 0.
MemoryBlock ReadDibHeader(FileHandle& file, Status* status = nullptr);

// A BMP file (or a packed DIB without file header) as a new packed DIB with a
// 40-byte header and bottom-up rows: top-down files have their rows reversed
// and their height made positive; bit fields and 108- or 124-byte headers give
// a 24-bit DIB. The pixel array is at least stride x height bytes; what the
// file does not supply is 0. None when refused.
MemoryBlock ReadDibFile(const char* path, Status* status = nullptr);
// WriteBmp as 1 or 0: `errorNumber` gets the errno of a failure (0 when there
// is no DIB to write).
int SaveDibFile(const char* path, const MemoryBlock& dib, int* errorNumber = nullptr);

}  // namespace tessary
