#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "formats/dib.h"
#include "formats/exif_thumbnail.h"
#include "formats/image_reader.h"
#include "formats/jpeg_file.h"
#include "formats/png_file.h"
#include "formats/rgb_buffer.h"
#include "formats/size_limit.h"
#include "formats/tiff_file.h"
#include "image/dib_image.h"

namespace tessary {

namespace {

constexpr uint32_t kPlaceholderSize = 10;

// Existence only, not readability: a folder or a FIFO at the path exists. A path
// that can't be looked at for another reason (no search permission) is not
// called missing; reading it will fail instead.
bool NoFileAt(const char* path) {
    struct stat info {};
    return ::stat(path, &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// One reader over the whole file at `path`.
Status DecodeFile(const char* path, const FormatRow& reader, MemoryBlock& spare,
                  DecodedImage& image) {
    FileBytes file;
    Status status = ReadFileBytes(path, &file);
    return status.IsOk() ? reader.decode(file.View(), spare, image) : status;
}

// Where the picture of a DIB lies, for JPEG output: only bottom-up DIBs of
// 1, 4, 8, 24 or 32 bits whose rows all lie inside the block qualify.
struct DibPicture {
    BitmapInfoHeader header{};
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t stride = 0;
    uint64_t offset = 0;
};

// False (with the reason in `error`) for any DIB that has no such picture or
// whose tight form would exceed the size limit.
bool FindDibPicture(const uint8_t* dib, uint64_t blockSize, DibPicture* picture, int* error) {
    *error = EINVAL;
    if (dib == nullptr || blockSize < kInfoHeaderSize || LoadLe32(dib) != kInfoHeaderSize) {
        return false;
    }
    const BitmapInfoHeader header = ParseInfoHeader(dib);
    const uint16_t bits = header.biBitCount;
    if (header.biWidth <= 0 || header.biHeight <= 0 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
        return false;
    }
    const uint32_t w = uint32_t(header.biWidth);
    const uint32_t h = uint32_t(header.biHeight);
    const uint64_t stride = DibStride(w, bits);
    const uint64_t offset = DibPixelOffset(header);
    if (offset > blockSize || stride * h > blockSize - offset) {
        return false;  // never read past the pixel array, whatever the header says
    }
    if (TightBufferSize(w, h) > kMaxPixelBytes) {
        *error = EFBIG;
        return false;
    }
    *picture = DibPicture{header, w, h, stride, offset};
    *error = 0;
    return true;
}

// The rows of a 24-bit DIB handed to the encoder one at a time, top-down and
// red-green-blue, through one row of scratch memory.
class DibRowSource final : public RgbRowSource {
  public:
    DibRowSource(const uint8_t* pixels, const DibPicture& picture)
        : m_pPixels(pixels),
          m_picture(picture),
          m_row(AllocateBytes(uint64_t{picture.width} * 3)) {}
    bool IsReady() const { return m_row != nullptr; }
    const uint8_t* Row(uint32_t r) override {
        DibRowToRgb(m_pPixels, m_picture.width, m_picture.height, m_picture.stride, r, m_row.get());
        return m_row.get();
    }

  private:
    const uint8_t* m_pPixels;
    DibPicture m_picture;
    ByteBuffer m_row;
};

// The picture of a DIB found by FindDibPicture as a tight RGB buffer, as the
// user sees it: indexed pixels through their colour table.
ByteBuffer TightPictureOfDib(const uint8_t* dib, const DibPicture& picture, int* error) {
    const BitmapInfoHeader& header = picture.header;
    const uint16_t bits = header.biBitCount;
    const uint32_t w = picture.width;
    const uint32_t h = picture.height;
    const uint64_t stride = picture.stride;
    const uint64_t offset = picture.offset;
    ByteBuffer tight = AllocateBytes(TightBufferSize(w, h));
    if (!tight) {
        *error = ENOMEM;
        return nullptr;
    }
    const uint8_t* pixels = dib + offset;
    if (bits == 24) {
        DibRowsToTightRgb(pixels, w, h, stride, tight.get());
    } else if (bits == 32) {
        uint8_t* out = tight.get();
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* row = pixels + (uint64_t{h} - 1 - r) * stride;
            for (uint32_t x = 0; x < w; ++x, out += 3) {
                out[0] = row[x * 4 + 2];
                out[1] = row[x * 4 + 1];
                out[2] = row[x * 4];
            }
        }
    } else {
        // Colours the table lacks (or the block cuts off) are black.
        uint8_t colours[256][3] = {};
        const uint64_t entries = std::min<uint64_t>(DibNumColors(header), (offset - 40) / 4);
        for (uint64_t i = 0; i < entries && i < 256; ++i) {
            colours[i][0] = dib[40 + i * 4 + 2];
            colours[i][1] = dib[40 + i * 4 + 1];
            colours[i][2] = dib[40 + i * 4];
        }
        const unsigned perByte = 8 / bits;
        const unsigned mask = (1u << bits) - 1;
        uint8_t* out = tight.get();
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* row = pixels + (uint64_t{h} - 1 - r) * stride;
            for (uint32_t x = 0; x < w; ++x, out += 3) {
                // The leftmost pixel is in the high bits of its byte.
                unsigned shift = (perByte - 1 - x % perByte) * bits;
                std::memcpy(out, colours[(row[x / perByte] >> shift) & mask], 3);
            }
        }
    }
    return tight;
}

// The writer with the metadata as given, except for an EXIF thumbnail: that
// is made anew from the picture being written, so that no preview shows the
// picture as it was before its repairs.
Status EncodeWithMetadata(const char* path, const FormatRow& row, const PictureToWrite& input,
                          const WriteOptions& options) {
    if (options.metadata == nullptr || options.metadata->exif.empty() || input.rows == nullptr) {
        return row.encode(path, input, options);
    }
    ImageMetadata metadata = *options.metadata;
    metadata.exif = WithThumbnailOf(metadata.exif, *input.rows, input.width, input.height);
    WriteOptions withThumbnail = options;
    withThumbnail.metadata = &metadata;
    return row.encode(path, input, withThumbnail);
}

// Output of a DIB through its format's writer; 24-bit rows go to the encoder
// without a tight copy of the whole picture. A DIB with no picture FindDibPicture
// accepts still reaches writers that store the DIB itself.
Status WriteDib(const char* path, const MemoryBlock& block, const FormatRow& row,
                const WriteOptions& options, const DeepPixels* deep) {
    PictureToWrite input{&block, nullptr, 0, 0, deep};
    int error = 0;
    DibPicture picture;
    if (!FindDibPicture(block.Data(), block.Size(), &picture, &error)) {
        const Status status = row.encode(path, input, options);
        return status.IsOk() || error == EINVAL ? status : Status::IoError(error);
    }
    input.width = picture.width;
    input.height = picture.height;
    if (picture.header.biBitCount == 24) {
        DibRowSource source(block.Data() + picture.offset, picture);
        if (!source.IsReady()) {
            return Status::IoError(ENOMEM);
        }
        input.rows = &source;
        return EncodeWithMetadata(path, row, input, options);
    }
    ByteBuffer tight = TightPictureOfDib(block.Data(), picture, &error);
    if (!tight) {
        return Status::IoError(error);
    }
    TightRgbRows source(tight.get(), picture.width);
    input.rows = &source;
    return EncodeWithMetadata(path, row, input, options);
}

}  // namespace

void CDibImage::BeginLoadStep() {
    Unlock();
    m_bLoadFailed = 0;
    DeletePaletteAndBitmap();
    m_metadata = ImageMetadata();
    m_deep = DeepPixels();
}

void CDibImage::TakeImage(ImageFormat format, DecodedImage& image) {
    m_hDib = std::move(image.dib);
    m_metadata = std::move(image.metadata);
    m_loadReport = LoadReport{LoadSource::File, format, Status::Ok(), std::move(image.warning)};
    if (!image.deep.IsEmpty()) {
        TakeDeep(std::move(image.deep));
    }
    CreatePaletteAndBitmap();
}

void CDibImage::TakeDeep(DeepPixels deep) {
    // The samples ride on a 24-bit DIB (a grey picture's too), and the reader's
    // DIB is rounded again so that every 8-bit value made from them is alike.
    if (GetBitCount() != 24) {
        WidenTo24Bits();
    }
    if (!SetDeep(std::move(deep))) {
        // Never cut to 8 bits without a word.
        std::string& warning = m_loadReport.warning;
        warning += std::string(warning.empty() ? "" : "; ") +
                   "its 16-bit samples could not be kept, so it is read at 8 bits";
    }
}

void CDibImage::LeaveNoImage(Status reason) {
    m_hDib.Free();
    m_loadReport = LoadReport{LoadSource::None, {}, std::move(reason), {}};
}

void CDibImage::MakeMissingFilePlaceholder() {
    m_bLoadFailed = 1;
    m_hDib = CreateDib(kPlaceholderSize, kPlaceholderSize, 8);
    m_loadReport = LoadReport{m_hDib ? LoadSource::MissingFile : LoadSource::None,
                              {},
                              m_hDib ? Status::IoError(ENOENT) : Status::OutOfMemory(""),
                              {}};
    CreatePaletteAndBitmap();
}

void CDibImage::Load(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        m_bLoadFailed = 1;
        m_loadReport = LoadReport{LoadSource::None, {}, Status::IoError(ENOENT), {}};
        return;
    }
    BeginLoadStep();
    // The previous image is gone from here on; only its memory may be used again.
    MemoryBlock spare = std::move(m_hDib);
    FileBytes file;
    Status read = ReadFileBytes(path, &file);
    if (!read.IsOk()) {
        spare.Free();
        if (NoFileAt(path)) {
            MakeMissingFilePlaceholder();
        } else {
            LeaveNoImage(std::move(read));
        }
        return;
    }
    // Every reader that recognises the file gets it, in table order; the first
    // one's refusal is the reason given.
    Status reason = Status::NotThisFormat("");
    for (const FormatRow& reader : FileFormats()) {
        if (!reader.recognises(file.View())) {
            continue;
        }
        DecodedImage image;
        Status status = reader.decode(file.View(), spare, image);
        if (status.IsOk()) {
            TakeImage(reader.format, image);
            return;
        }
        if (reason.code == StatusCode::NotThisFormat) {
            reason = std::move(status);
        }
    }
    // An existing file no reader takes: no image, and not marked as failed.
    LeaveNoImage(std::move(reason));
}

// One reader over the file at `path`, as a step of its own: a refusal leaves
// the 10 x 10 black 24-bit placeholder and marks the load as failed.
void CDibImage::LoadJpeg(const char* path) {
    LoadWithPlaceholder(ImageFormat::Jpeg, path);
}

void CDibImage::LoadGif(const char* path) {
    LoadWithPlaceholder(ImageFormat::Gif, path);
}

void CDibImage::LoadWithPlaceholder(ImageFormat format, const char* path) {
    BeginLoadStep();
    MemoryBlock spare = std::move(m_hDib);
    DecodedImage image;
    Status status = DecodeFile(path, RowOf(format), spare, image);
    if (status.IsOk()) {
        TakeImage(format, image);
        return;
    }
    LeaveNoImage(std::move(status));
    m_hDib = CreateDib(kPlaceholderSize, kPlaceholderSize, 24);
    CreatePaletteAndBitmap();
    m_bLoadFailed = 1;
}

void CDibImage::LoadBmp(const char* path) {
    // Goes on without a block too, so that a load after a refused file still loads.
    BeginLoadStep();
    m_hDib.Free();
    if (path == nullptr || NoFileAt(path)) {
        MakeMissingFilePlaceholder();
        return;
    }
    MemoryBlock spare;
    DecodedImage image;
    Status status = DecodeFile(path, RowOf(ImageFormat::Bmp), spare, image);
    if (status.IsOk()) {
        TakeImage(ImageFormat::Bmp, image);
    } else {
        LeaveNoImage(std::move(status));
    }
}

void CDibImage::SaveJpeg(const char* path, int quality) {
    JpegSaveOptions options;
    options.quality = quality;
    SaveJpeg(path, options);
}

void CDibImage::SaveJpeg(const char* path, const JpegSaveOptions& options) {
    WriteOptions write;
    write.jpeg = options;
    write.metadata = options.writeMetadata ? &m_metadata : nullptr;
    Save(path, ImageFormat::Jpeg, write);
}

void CDibImage::SavePng(const char* path, const ImageMetadata* metadata) {
    WriteOptions write;
    write.metadata = metadata;
    Save(path, ImageFormat::Png, write);
}

void CDibImage::Save(const char* path, ImageFormat format, const WriteOptions& options) {
    m_saveReport = SaveReport();
    const FormatRow& row = RowOf(format);
    if (m_hDib.IsNone() || !row.IsWritten()) {
        return;
    }
    const bool lockedHere = !m_bLocked;
    if (lockedHere) {
        m_pDib = m_hDib.Lock();
    }
    // A format that holds 16 bits a sample is given the samples, not their rounding.
    const DeepPixels* deep = row.holdsSixteenBits && !m_deep.IsEmpty() ? &m_deep : nullptr;
    const Status status = WriteDib(path, m_hDib, row, options, deep);
    m_saveReport = SaveReport{status.IsOk(), status.errorNumber, status};
    if (lockedHere) {
        m_hDib.Unlock();
    }
}

int CDibImage::WidenTo24Bits() {
    if (m_hDib.IsNone() || m_bLocked) {
        return 0;
    }
    if (GetBitCount() == 24) {
        return 1;
    }
    uint8_t* dib = m_hDib.Lock();
    int error = 0;
    DibPicture picture;
    ByteBuffer tight;
    if (FindDibPicture(dib, m_hDib.Size(), &picture, &error)) {
        tight = TightPictureOfDib(dib, picture, &error);
    }
    m_hDib.Unlock();
    if (!tight) {
        return 0;
    }
    MemoryBlock wide = CreateDib(picture.width, picture.height, 24);
    if (wide.IsNone()) {
        return 0;
    }
    uint8_t* rows = wide.Lock();
    TightRgbToDibRows(tight.get(), picture.width, picture.height,
                      rows + DibPixelOffset(ParseInfoHeader(rows)), DibStride(picture.width, 24));
    wide.Unlock();
    DeletePaletteAndBitmap();
    m_hDib = std::move(wide);
    CreatePaletteAndBitmap();
    return 1;
}

}  // namespace tessary
