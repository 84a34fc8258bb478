#include "formats/bmp_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/atomic_file.h"

namespace tessary {

uint64_t ReadFileChunked(FileHandle& file, void* buffer, uint64_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    return TransferInPieces(
        count, [&](uint64_t offset, uint64_t size) { return file.Read(bytes + offset, size); });
}

uint64_t WriteFileChunked(FileHandle& file, const void* buffer, uint64_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    return TransferInPieces(
        count, [&](uint64_t offset, uint64_t size) { return file.Write(bytes + offset, size); });
}

int ReadBmpFileHeader(FileHandle& file, BitmapFileHeader* header, int64_t* start) {
    *start = file.Tell();
    if (*start < 0) {
        return 0;
    }
    uint8_t type[2] = {};
    uint8_t rest[12] = {};
    const bool complete =
        file.Read(type, sizeof type) == sizeof type && file.Read(rest, sizeof rest) == sizeof rest;
    header->bfType = LoadLe16(type);
    header->bfSize = LoadLe32(rest);
    header->bfReserved1 = LoadLe16(rest + 4);
    header->bfReserved2 = LoadLe16(rest + 6);
    header->bfOffBits = LoadLe32(rest + 8);
    return complete ? 1 : 0;
}

int WriteBmpFileHeader(FileHandle& file, const BitmapFileHeader& header) {
    uint8_t type[2];
    uint8_t rest[12];
    StoreLe16(type, header.bfType);
    StoreLe32(rest, header.bfSize);
    StoreLe16(rest + 4, header.bfReserved1);
    StoreLe16(rest + 6, header.bfReserved2);
    StoreLe32(rest + 8, header.bfOffBits);
    const bool typeWritten = file.Write(type, sizeof type) == sizeof type;
    return typeWritten && file.Write(rest, sizeof rest) == sizeof rest ? 1 : 0;
}

namespace {

MemoryBlock Refuse(ReadStatus* status, ReadStatus why) {
    if (status != nullptr) {
        *status = why;
    }
    return MemoryBlock();
}

// The 12-byte core header (size, 16-bit width, height, planes, bit count) in 40-byte form.
BitmapInfoHeader WidenCoreHeader(const uint8_t* raw, uint16_t colors) {
    BitmapInfoHeader header;
    header.biSize = kInfoHeaderSize;
    header.biWidth = LoadLe16(raw + 4);
    header.biHeight = LoadLe16(raw + 6);
    header.biPlanes = LoadLe16(raw + 8);
    header.biBitCount = LoadLe16(raw + 10);
    header.biClrUsed = colors;
    header.biClrImportant = colors;
    return header;
}

uint64_t RowCount(const BitmapInfoHeader& header) {
    return header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight;
}

// Why the program can't hold this header's image, or Ok.
ReadStatus CheckHeader(const BitmapInfoHeader& header) {
    if (header.biCompression == kBitFieldsCompression || header.biWidth < 0 ||
        header.biHeight == INT32_MIN || header.biClrUsed >= kColorCountLimit) {
        return ReadStatus::Invalid;
    }
    // Top-down rows are reversed on reading, which only makes sense for plain rows.
    if (header.biHeight < 0 && header.biCompression != 0) {
        return ReadStatus::Invalid;
    }
    const uint64_t stride = DibStride(static_cast<uint32_t>(header.biWidth), header.biBitCount);
    const uint64_t rows = RowCount(header);
    // Pixels of no bits at all: nothing to show or repair, and with a zero
    // stride any width or height would pass the size limit.
    if (header.biBitCount == 0 && header.biWidth > 0) {
        return ReadStatus::Invalid;
    }
    // The stride test first keeps the product from wrapping.
    if (stride > kMaxPixelBytes || stride * rows > kMaxPixelBytes ||
        header.biSizeImage > kMaxPixelBytes) {
        return ReadStatus::TooLarge;
    }
    return ReadStatus::Ok;
}

// Reads `colors` entries into the table; 3-byte core entries are widened in
// place, last first, so that no entry is overwritten before it has moved. A
// table cut short by the end of the file leaves its missing entries 0.
void ReadColorTable(FileHandle& file, uint8_t* table, uint16_t colors, bool core) {
    if (colors == 0) {
        return;
    }
    if (!core) {
        ReadFileChunked(file, table, colors * 4u);
        return;
    }
    ReadFileChunked(file, table, colors * 3u);
    for (int i = colors - 1; i >= 0; --i) {
        uint8_t blue = table[i * 3];
        uint8_t green = table[i * 3 + 1];
        uint8_t red = table[i * 3 + 2];
        table[i * 4] = blue;
        table[i * 4 + 1] = green;
        table[i * 4 + 2] = red;
        table[i * 4 + 3] = 0;
    }
}

void ReverseRows(uint8_t* pixels, uint64_t stride, uint64_t rows) {
    if (stride == 0) {
        return;  // rows of no bytes: nothing to move, however many there are
    }
    for (uint64_t top = 0, bottom = rows; top + 1 < bottom; ++top, --bottom) {
        std::swap_ranges(pixels + top * stride, pixels + (top + 1) * stride,
                         pixels + (bottom - 1) * stride);
    }
}

}  // namespace

MemoryBlock ReadDibHeader(FileHandle& file, ReadStatus* status) {
    BitmapFileHeader fileHeader;
    int64_t start = 0;
    ReadBmpFileHeader(file, &fileHeader, &start);
    if (start < 0) {
        return Refuse(status, ReadStatus::Invalid);
    }
    if (fileHeader.bfType != kBmpSignature) {
        // No file header: the information header starts right here.
        if (file.Seek(start, SeekFrom::Begin) < 0) {
            return Refuse(status, ReadStatus::Invalid);
        }
        fileHeader.bfOffBits = 0;
    }

    uint8_t raw[kInfoHeaderSize];
    if (file.Read(raw, sizeof raw) != sizeof raw) {
        return Refuse(status, ReadStatus::Invalid);
    }
    BitmapInfoHeader header = ParseInfoHeader(raw);
    const bool core = header.biSize == kCoreHeaderSize;
    if (!core && header.biSize != kInfoHeaderSize) {
        return Refuse(status, ReadStatus::Invalid);
    }
    if (!core && header.biClrUsed >= kColorCountLimit) {
        return Refuse(status, ReadStatus::Invalid);
    }
    const uint16_t colors = DibNumColors(header);
    if (core) {
        header = WidenCoreHeader(raw, colors);
        // Stand right behind the 12-byte header again.
        const int64_t overRead = kInfoHeaderSize - kCoreHeaderSize;
        if (file.Seek(-overRead, SeekFrom::Current) < 0) {
            return Refuse(status, ReadStatus::Invalid);
        }
    }
    ReadStatus verdict = CheckHeader(header);
    if (verdict != ReadStatus::Ok) {
        return Refuse(status, verdict);
    }
    if (header.biSizeImage == 0) {
        header.biSizeImage = static_cast<uint32_t>(
            DibStride(static_cast<uint32_t>(header.biWidth), header.biBitCount) * RowCount(header));
    }
    if (header.biClrUsed == 0) {
        header.biClrUsed = colors;
    }

    MemoryBlock block = MemoryBlock::Allocate(kInfoHeaderSize + colors * 4u);
    if (!block) {
        return Refuse(status, ReadStatus::OutOfMemory);
    }
    SerializeInfoHeader(header, block.Data());
    ReadColorTable(file, block.Data() + kInfoHeaderSize, colors, core);
    if (fileHeader.bfOffBits != 0 &&
        file.Seek(start + int64_t{fileHeader.bfOffBits}, SeekFrom::Begin) < 0) {
        return Refuse(status, ReadStatus::Invalid);
    }
    if (status != nullptr) {
        *status = ReadStatus::Ok;
    }
    return block;
}

MemoryBlock ReadDibFile(const char* path, ReadStatus* status) {
    if (path == nullptr) {
        return Refuse(status, ReadStatus::CantOpen);
    }
    FileHandle file = FileHandle::OpenForReading(path);
    if (!file.IsOpen()) {
        return Refuse(status, ReadStatus::CantOpen);
    }
    MemoryBlock block = ReadDibHeader(file, status);
    if (!block) {
        return block;
    }
    BitmapInfoHeader header = ParseInfoHeader(block.Data());
    const uint64_t stride = DibStride(static_cast<uint32_t>(header.biWidth), header.biBitCount);
    const uint64_t rows = RowCount(header);
    // Pixel access goes by stride and height, whatever biSizeImage says.
    const uint64_t pixelBytes = std::max<uint64_t>(header.biSizeImage, stride * rows);
    const uint64_t offset = DibPixelOffset(header);
    if (!block.Resize(offset + pixelBytes)) {
        return Refuse(status, ReadStatus::OutOfMemory);
    }
    // A file shorter than it says leaves the rest of the pixels 0.
    ReadFileChunked(file, block.Data() + offset, header.biSizeImage);
    if (header.biHeight < 0) {
        ReverseRows(block.Data() + offset, stride, rows);
        header.biHeight = static_cast<int32_t>(rows);
        SerializeInfoHeader(header, block.Data());
    }
    if (status != nullptr) {
        *status = ReadStatus::Ok;
    }
    return block;
}

int SaveDibFile(const char* path, const MemoryBlock& dib, int* errorNumber) {
    int ignored = 0;
    int& error = errorNumber != nullptr ? *errorNumber : ignored;
    error = 0;
    if (dib.IsNone()) {
        return 0;
    }
    if (path == nullptr) {
        error = EINVAL;
        return 0;
    }
    if (dib.Size() < kInfoHeaderSize || dib.Size() > UINT32_MAX - kFileHeaderSize) {
        error = dib.Size() < kInfoHeaderSize ? EINVAL : EFBIG;
        return 0;
    }
    const BitmapInfoHeader header = ParseInfoHeader(dib.Data());
    BitmapFileHeader fileHeader;
    fileHeader.bfType = kBmpSignature;
    fileHeader.bfSize = static_cast<uint32_t>(dib.Size() + kFileHeaderSize);
    fileHeader.bfOffBits = DibPaletteSize(header) + header.biSize + kFileHeaderSize;

    AtomicFileWriter writer;
    if (!writer.Open(path)) {
        error = writer.LastError();
        return 0;
    }
    FileHandle& file = writer.File();
    if (WriteBmpFileHeader(file, fileHeader) == 0 ||
        WriteFileChunked(file, dib.Data(), dib.Size()) != dib.Size()) {
        error = file.LastError();
        writer.Abandon();
        return 0;
    }
    if (!writer.Commit()) {
        error = writer.LastError();
        return 0;
    }
    return 1;
}

}  // namespace tessary
