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

// The reader table's row.
bool LooksLikeBmp(ByteView bytes);
Status DecodeBmpImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out);
Status EncodeBmpImage(const char* path, const PictureToWrite& picture, const WriteOptions& options);

// Writes the DIB as a BMP file. The target is replaced only once every byte
// has been written and the file closed without error; on failure it is left as
// it was, no temporary file remains, and an IoError says why.
Status WriteBmp(const char* path, const MemoryBlock& dib);

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
