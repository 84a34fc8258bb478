#include "formats/bmp_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "formats/bmp_bitfields.h"
#include "platform/atomic_file.h"

namespace tessary {

// The 14-byte header in front of the packed DIB in a BMP file.
struct BitmapFileHeader {
    uint16_t bfType = 0;
    uint32_t bfSize = 0;
    uint16_t bfReserved1 = 0;
    uint16_t bfReserved2 = 0;
    uint32_t bfOffBits = 0;
};

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

constexpr const char* kFormat = "BMP";
constexpr uint32_t kV4HeaderSize = 108;
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kMaskBytes = 12;
constexpr uint32_t kEmbeddedJpeg = 4;
constexpr uint32_t kEmbeddedPng = 5;
constexpr uint32_t kProfileEmbedded = 0x4D424544;  // "MBED"

bool KnownHeaderSize(uint32_t size) {
    return size == kCoreHeaderSize || size == kInfoHeaderSize || size == kV4HeaderSize ||
           size == kV5HeaderSize;
}

// Copies what the bytes hold of [offset, offset + count) to `out`; the rest of
// `out` is left as it is. Returns the bytes copied.
uint64_t CopyAvailable(ByteView bytes, uint64_t offset, uint64_t count, uint8_t* out) {
    if (offset >= bytes.size()) {
        return 0;
    }
    const uint64_t available = std::min<uint64_t>(count, bytes.size() - offset);
    std::memcpy(out, bytes.data() + offset, available);
    return available;
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

// Why the program can't hold the image of a header whose pixels are kept as
// stored, or Ok.
Status CheckStoredHeader(const BitmapInfoHeader& header) {
    if (header.biWidth < 0 || header.biHeight == INT32_MIN) {
        return Status::Damaged(kFormat, "negative size");
    }
    // Top-down rows are reversed on reading, which only makes sense for plain rows.
    if (header.biHeight < 0 && header.biCompression != 0) {
        return Status::Damaged(kFormat, "top-down rows of compressed data");
    }
    const uint64_t stride = DibStride(static_cast<uint32_t>(header.biWidth), header.biBitCount);
    const uint64_t rows = RowCount(header);
    // Pixels of no bits at all: nothing to show or repair, and with a zero
    // stride any width or height would pass the size limit.
    if (header.biBitCount == 0 && header.biWidth > 0) {
        return Status::Damaged(kFormat, "0 bits per pixel");
    }
    // The stride test first keeps the product from wrapping.
    if (stride > kMaxPixelBytes || stride * rows > kMaxPixelBytes ||
        header.biSizeImage > kMaxPixelBytes) {
        return Status::TooLarge(kFormat);
    }
    return Status::Ok();
}

// The same for pixels that become a 24-bit picture.
Status CheckConvertedHeader(const BitmapInfoHeader& header) {
    const uint16_t bits = header.biBitCount;
    const uint32_t compression = header.biCompression;
    const bool plain = compression == 0 && (bits == 1 || bits == 4 || bits == 8 || bits == 16 ||
                                            bits == 24 || bits == 32);
    const bool fields = compression == kBitFieldsCompression && (bits == 16 || bits == 32);
    if (!plain && !fields) {
        return Status::Unsupported(kFormat, "BMP with compression " + std::to_string(compression) +
                                                " at " + std::to_string(bits) + " bits per pixel");
    }
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN) {
        return Status::Damaged(kFormat, "an image of no pixels");
    }
    const uint64_t stride = DibStride(static_cast<uint32_t>(header.biWidth), 24);
    if (stride > kMaxPixelBytes || stride * RowCount(header) > kMaxPixelBytes) {
        return Status::TooLarge(kFormat);
    }
    return Status::Ok();
}

// Header size, and the file header's pixel offset when there is one.
struct BmpStart {
    bool fileHeader = false;
    uint64_t infoStart = 0;
    uint32_t offBits = 0;
};

BmpStart FindStart(ByteView bytes) {
    BmpStart start;
    start.fileHeader = bytes.size() >= 2 && LoadLe16(bytes.data()) == kBmpSignature;
    if (start.fileHeader) {
        start.infoStart = kFileHeaderSize;
        start.offBits = bytes.size() >= kFileHeaderSize ? LoadLe32(bytes.data() + 10) : 0;
    }
    return start;
}

// Where the bit-field masks and the colour table lie, and the embedded profile.
void PlaceConvertedParts(ByteView bytes, uint64_t infoStart, BmpLayout* layout) {
    const uint8_t* info = bytes.data() + infoStart;
    const BitmapInfoHeader& header = layout->header;
    if (header.biCompression == kBitFieldsCompression) {
        // Behind a 40-byte header the masks follow it; longer headers hold them.
        const uint64_t at =
            layout->storedHeaderSize == kInfoHeaderSize ? layout->tableStart : infoStart + 40;
        uint8_t masks[kMaskBytes] = {};
        CopyAvailable(bytes, at, kMaskBytes, masks);
        for (int i = 0; i < 3; ++i) {
            layout->masks[i] = LoadLe32(masks + 4 * i);
        }
        if (layout->storedHeaderSize == kInfoHeaderSize) {
            layout->tableStart += kMaskBytes;
        }
    } else {
        DefaultMasks(header.biBitCount, layout->masks);
    }
    if (layout->storedHeaderSize == kV5HeaderSize && LoadLe32(info + 56) == kProfileEmbedded) {
        const uint64_t start = infoStart + LoadLe32(info + 112);
        const uint64_t size = LoadLe32(info + 116);
        if (start <= bytes.size() && size <= bytes.size() - start) {
            layout->profileStart = start;
            layout->profileSize = size;
        }
    }
}

// Reads `colors` entries from the table into `table` (4 bytes each); 3-byte
// core entries are widened. Entries the bytes cut off stay as they are.
void CopyColorTable(ByteView bytes, const BmpLayout& layout, uint8_t* table) {
    const bool core = layout.storedHeaderSize == kCoreHeaderSize;
    if (!core) {
        CopyAvailable(bytes, layout.tableStart, uint64_t{layout.colors} * 4, table);
        return;
    }
    for (uint32_t i = 0; i < layout.colors; ++i) {
        CopyAvailable(bytes, layout.tableStart + uint64_t{i} * 3, 3, table + i * 4);
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

// The pixel array as stored, behind the 40-byte header and colour table.
Status DecodeStored(ByteView bytes, const BmpLayout& layout, DecodedImage& out) {
    BitmapInfoHeader header = layout.header;
    const uint64_t stride = DibStride(static_cast<uint32_t>(header.biWidth), header.biBitCount);
    const uint64_t rows = RowCount(header);
    // Pixel access goes by stride and height, whatever biSizeImage says.
    const uint64_t pixelBytes = std::max<uint64_t>(header.biSizeImage, stride * rows);
    const uint64_t offset = kInfoHeaderSize + uint64_t{layout.colors} * 4;
    MemoryBlock block = MemoryBlock::Allocate(offset + pixelBytes);
    if (!block) {
        return Status::OutOfMemory(kFormat);
    }
    CopyColorTable(bytes, layout, block.Data() + kInfoHeaderSize);
    // A file shorter than it says leaves the rest of the pixels 0.
    CopyAvailable(bytes, layout.pixelStart, header.biSizeImage, block.Data() + offset);
    if (header.biHeight < 0) {
        ReverseRows(block.Data() + offset, stride, rows);
        header.biHeight = static_cast<int32_t>(rows);
    }
    SerializeInfoHeader(header, block.Data());
    out.dib = std::move(block);
    return Status::Ok();
}

// Pixels of any depth, bit fields or 108/124-byte headers as a 24-bit DIB.
Status DecodeConverted(ByteView bytes, const BmpLayout& layout, MemoryBlock& spare,
                       DecodedImage& out) {
    const BitmapInfoHeader& header = layout.header;
    const uint32_t width = static_cast<uint32_t>(header.biWidth);
    const uint64_t rows = RowCount(header);
    MemoryBlock dib = CreateDib(width, static_cast<uint32_t>(rows), 24, std::move(spare));
    const uint64_t sourceStride = DibStride(width, header.biBitCount);
    if (!dib) {
        return Status::OutOfMemory(kFormat);
    }
    uint8_t palette[256 * 4] = {};
    BmpLayout tableOnly = layout;
    tableOnly.colors = std::min<uint16_t>(layout.colors, 256);
    CopyColorTable(bytes, tableOnly, palette);
    BmpRowFormat format;
    format.bits = header.biBitCount;
    format.red = ChannelScale(layout.masks[0]);
    format.green = ChannelScale(layout.masks[1]);
    format.blue = ChannelScale(layout.masks[2]);
    format.palette = palette;

    uint8_t* pixels = dib.Data() + DibPixelOffset(ParseInfoHeader(dib.Data()));
    const uint64_t stride = DibStride(width, 24);
    const bool topDown = header.biHeight < 0;
    for (uint64_t stored = 0; stored < rows; ++stored) {
        const uint64_t from = layout.pixelStart + stored * sourceStride;
        if (from >= bytes.size()) {
            break;  // the file ends above this row: the rest stays black
        }
        // Only whole pixels the file holds; a row the end cuts is black from there on.
        const uint64_t present = std::min<uint64_t>(sourceStride, bytes.size() - from);
        const uint64_t pixelsPresent = std::min<uint64_t>(width, present * 8 / header.biBitCount);
        const uint64_t bottomUp = topDown ? rows - 1 - stored : stored;
        ConvertBmpRow(bytes.data() + from, uint32_t(pixelsPresent), format,
                      pixels + bottomUp * stride);
    }
    BitmapInfoHeader made = ParseInfoHeader(dib.Data());
    made.biXPelsPerMeter = header.biXPelsPerMeter;
    made.biYPelsPerMeter = header.biYPelsPerMeter;
    SerializeInfoHeader(made, dib.Data());
    if (layout.profileSize != 0) {
        const uint8_t* profile = bytes.data() + layout.profileStart;
        out.metadata.icc.assign(profile, profile + layout.profileSize);
    }
    out.dib = std::move(dib);
    return Status::Ok();
}

}  // namespace

bool LooksLikeBmp(ByteView bytes) {
    const BmpStart start = FindStart(bytes);
    return start.fileHeader || (bytes.size() >= 4 && KnownHeaderSize(LoadLe32(bytes.data())));
}

Status ParseBmpLayout(ByteView bytes, BmpLayout* layout) {
    *layout = BmpLayout();
    if (!LooksLikeBmp(bytes)) {
        return Status::NotThisFormat(kFormat);
    }
    const BmpStart start = FindStart(bytes);
    // The 40-byte read comes before the header size is known.
    if (bytes.size() < start.infoStart + kInfoHeaderSize) {
        return Status::Damaged(kFormat, "cut short in the header");
    }
    const uint8_t* info = bytes.data() + start.infoStart;
    BitmapInfoHeader header = ParseInfoHeader(info);
    layout->storedHeaderSize = header.biSize;
    const bool core = header.biSize == kCoreHeaderSize;
    if (!KnownHeaderSize(header.biSize)) {
        return Status::Unsupported(kFormat,
                                   "BMP with a " + std::to_string(header.biSize) + "-byte header");
    }
    if (bytes.size() - start.infoStart < header.biSize) {
        return Status::Damaged(kFormat, "cut short in the header");
    }
    if (!core && header.biClrUsed >= kColorCountLimit) {
        return Status::Damaged(kFormat, std::to_string(header.biClrUsed) + " colours");
    }
    if (!core && (header.biCompression == kEmbeddedJpeg || header.biCompression == kEmbeddedPng)) {
        return Status::Unsupported(
            kFormat,
            "BMP with compression " + std::to_string(header.biCompression) +
                (header.biCompression == kEmbeddedJpeg ? " (JPEG inside)" : " (PNG inside)"));
    }
    const uint16_t colors = DibNumColors(header);
    if (core) {
        header = WidenCoreHeader(info, colors);
    }
    layout->converted =
        header.biSize > kInfoHeaderSize ||
        (header.biSize == kInfoHeaderSize && header.biCompression == kBitFieldsCompression);
    Status verdict = layout->converted ? CheckConvertedHeader(header) : CheckStoredHeader(header);
    if (!verdict.IsOk()) {
        return verdict;
    }
    if (header.biSizeImage == 0) {
        header.biSizeImage = static_cast<uint32_t>(
            DibStride(static_cast<uint32_t>(header.biWidth), header.biBitCount) * RowCount(header));
    }
    if (header.biClrUsed == 0) {
        header.biClrUsed = colors;
    }
    layout->colors = colors;
    layout->tableStart = start.infoStart + layout->storedHeaderSize;
    layout->header = header;
    if (layout->converted) {
        PlaceConvertedParts(bytes, start.infoStart, layout);
        layout->header.biSize = kInfoHeaderSize;
    }
    // Without an offset in the file header the pixels follow the colour table.
    const uint64_t entryBytes = core ? 3 : 4;
    layout->pixelStart =
        start.offBits != 0 ? start.offBits : layout->tableStart + colors * entryBytes;
    return Status::Ok();
}

Status DecodeBmpImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out) {
    BmpLayout layout;
    Status status = ParseBmpLayout(bytes, &layout);
    if (!status.IsOk()) {
        return status;
    }
    return layout.converted ? DecodeConverted(bytes, layout, spare, out)
                            : DecodeStored(bytes, layout, out);
}

MemoryBlock ReadDibFile(const char* path, Status* status) {
    Status ignored;
    Status& result = status != nullptr ? *status : ignored;
    FileBytes file;
    result = ReadFileBytes(path, &file);
    if (!result.IsOk()) {
        return MemoryBlock();
    }
    MemoryBlock spare;
    DecodedImage image;
    result = DecodeBmpImage(file.View(), spare, image);
    return std::move(image.dib);
}

int SaveDibFile(const char* path, const MemoryBlock& dib, int* errorNumber) {
    int ignored = 0;
    int& error = errorNumber != nullptr ? *errorNumber : ignored;
    error = 0;
    if (dib.IsNone()) {
        return 0;
    }
    const Status status = WriteBmp(path, dib);
    error = status.errorNumber;
    return status.IsOk() ? 1 : 0;
}

Status WriteBmp(const char* path, const MemoryBlock& dib) {
    if (path == nullptr || dib.IsNone() || dib.Size() < kInfoHeaderSize) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    if (dib.Size() > UINT32_MAX - kFileHeaderSize) {
        return Status::IoError(EFBIG);
    }
    const BitmapInfoHeader header = ParseInfoHeader(dib.Data());
    BitmapFileHeader fileHeader;
    fileHeader.bfType = kBmpSignature;
    fileHeader.bfSize = static_cast<uint32_t>(dib.Size() + kFileHeaderSize);
    fileHeader.bfOffBits = DibPaletteSize(header) + header.biSize + kFileHeaderSize;

    AtomicFileWriter writer;
    if (!writer.Open(path)) {
        return Status::IoError(writer.LastError());
    }
    FileHandle& file = writer.File();
    if (WriteBmpFileHeader(file, fileHeader) == 0 ||
        WriteFileChunked(file, dib.Data(), dib.Size()) != dib.Size()) {
        const int error = file.LastError();
        writer.Abandon();
        return Status::IoError(error != 0 ? error : EIO);
    }
    if (!writer.Commit()) {
        return Status::IoError(writer.LastError());
    }
    return Status::Ok();
}

Status EncodeBmpImage(const char* path, const PictureToWrite& picture,
                      const WriteOptions& /*options*/) {
    // A BMP file holds the DIB as it is, whatever its depth; it carries no metadata.
    return picture.dib != nullptr ? WriteBmp(path, *picture.dib)
                                  : Status::IoError(EINVAL, "no picture to write");
}

}  // namespace tessary
