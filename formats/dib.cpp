#include "formats/dib.h"

#include <cstring>
#include <utility>

#include "formats/size_limit.h"

namespace tessary {

BitmapInfoHeader ParseInfoHeader(const uint8_t* bytes) {
    BitmapInfoHeader header;
    header.biSize = LoadLe32(bytes);
    header.biWidth = static_cast<int32_t>(LoadLe32(bytes + 4));
    header.biHeight = static_cast<int32_t>(LoadLe32(bytes + 8));
    header.biPlanes = LoadLe16(bytes + 12);
    header.biBitCount = LoadLe16(bytes + 14);
    header.biCompression = LoadLe32(bytes + 16);
    header.biSizeImage = LoadLe32(bytes + 20);
    header.biXPelsPerMeter = static_cast<int32_t>(LoadLe32(bytes + 24));
    header.biYPelsPerMeter = static_cast<int32_t>(LoadLe32(bytes + 28));
    header.biClrUsed = LoadLe32(bytes + 32);
    header.biClrImportant = LoadLe32(bytes + 36);
    return header;
}

void SerializeInfoHeader(const BitmapInfoHeader& header, uint8_t* bytes) {
    StoreLe32(bytes, header.biSize);
    StoreLe32(bytes + 4, static_cast<uint32_t>(header.biWidth));
    StoreLe32(bytes + 8, static_cast<uint32_t>(header.biHeight));
    StoreLe16(bytes + 12, header.biPlanes);
    StoreLe16(bytes + 14, header.biBitCount);
    StoreLe32(bytes + 16, header.biCompression);
    StoreLe32(bytes + 20, header.biSizeImage);
    StoreLe32(bytes + 24, static_cast<uint32_t>(header.biXPelsPerMeter));
    StoreLe32(bytes + 28, static_cast<uint32_t>(header.biYPelsPerMeter));
    StoreLe32(bytes + 32, header.biClrUsed);
    StoreLe32(bytes + 36, header.biClrImportant);
}

uint64_t DibPixelBytes(const BitmapInfoHeader& header) {
    return DibStride(static_cast<uint32_t>(header.biWidth), header.biBitCount) *
           static_cast<uint32_t>(header.biHeight);
}

namespace {

uint16_t ColorsForBitCount(uint16_t bitCount) {
    switch (bitCount) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

}  // namespace

uint16_t DibNumColors(const BitmapInfoHeader& header) {
    if (header.biSize == kCoreHeaderSize) {
        return ColorsForBitCount(
            static_cast<uint16_t>(static_cast<uint32_t>(header.biHeight) >> 16));
    }
    if (header.biClrUsed != 0) {
        return static_cast<uint16_t>(header.biClrUsed);
    }
    return ColorsForBitCount(header.biBitCount);
}

uint16_t DibPaletteSize(const BitmapInfoHeader& header) {
    const unsigned entryBytes = header.biSize == kCoreHeaderSize ? 3 : 4;
    return static_cast<uint16_t>(DibNumColors(header) * entryBytes);
}

uint64_t DibPixelOffset(const BitmapInfoHeader& header) {
    return (header.biSize & 0xFFFF) + uint64_t{DibPaletteSize(header)};
}

namespace {

BitmapInfoHeader NewDibHeader(uint32_t width, uint32_t height, uint16_t bitCount) {
    BitmapInfoHeader header;
    header.biSize = kInfoHeaderSize;
    header.biWidth = static_cast<int32_t>(width);
    header.biHeight = static_cast<int32_t>(height);
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biXPelsPerMeter = kDefaultPelsPerMeter;
    header.biYPelsPerMeter = kDefaultPelsPerMeter;
    const uint16_t colors = DibNumColors(header);
    header.biClrImportant = bitCount <= 8 ? colors : 0;
    header.biClrUsed = colors;
    return header;
}

}  // namespace

MemoryBlock CreateDib(uint32_t width, uint32_t height, uint16_t bitCount) {
    return CreateDib(width, height, bitCount, MemoryBlock());
}

MemoryBlock CreateDib(uint32_t width, uint32_t height, uint16_t bitCount, MemoryBlock spare) {
    BitmapInfoHeader header = NewDibHeader(width, height, bitCount);
    const uint64_t pixelBytes = DibStride(width, bitCount) * height;
    if (pixelBytes > kMaxPixelBytes) {
        return MemoryBlock();
    }
    header.biSizeImage = static_cast<uint32_t>(pixelBytes);

    const uint64_t size = DibPixelOffset(header) + pixelBytes;
    MemoryBlock block;
    if (!spare.IsNone() && spare.Size() == size && spare.LockCount() == 0) {
        block = std::move(spare);
        std::memset(block.Data(), 0, static_cast<size_t>(size));
    } else {
        spare.Free();
        block = MemoryBlock::Allocate(size);
    }
    if (block) {
        SerializeInfoHeader(header, block.Data());
    }
    return block;
}

int GetDibInfo(const MemoryBlock& dib, BitmapInfoHeader* header) {
    if (dib.IsNone() || dib.Size() < kInfoHeaderSize || header == nullptr) {
        return 0;
    }
    *header = ParseInfoHeader(dib.Data());
    if (header->biSize != kCoreHeaderSize) {
        const uint64_t pixelBytes = DibPixelBytes(*header);
        // A product beyond 32 bits can't be stated; leave the field as it is.
        if (header->biSizeImage == 0 && pixelBytes <= UINT32_MAX) {
            header->biSizeImage = static_cast<uint32_t>(pixelBytes);
        }
        if (header->biClrUsed == 0) {
            header->biClrUsed = DibNumColors(*header);
        }
    }
    return 1;
}

}  // namespace tessary
