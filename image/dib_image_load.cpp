#include <algorithm>
#include <cerrno>
#include <cstring>

#include "formats/dib.h"
#include "formats/gif_reader.h"
#include "formats/jpeg_file.h"
#include "formats/png_file.h"
#include "formats/rgb_buffer.h"
#include "image/dib_image.h"

namespace tessary {

// JPEG at a quality, or PNG with the metadata given.
struct PictureOutput {
    bool png = false;
    int quality = 0;
    const ImageMetadata* metadata = nullptr;
};

namespace {

constexpr uint32_t kPlaceholderSize = 10;

// JPEG rows are decoded straight into their bottom-up rows of a new 24-bit DIB
// and turned blue-green-red there while still in cache: the same bytes as
// decoding into a tight buffer and converting it afterwards, without the copy.
class DibRowSink final : public JpegRowSink {
  public:
    // `spare`: the previous image's block, taken over when it has the right size.
    explicit DibRowSink(MemoryBlock spare) : m_spare(std::move(spare)) {}
    bool Begin(uint32_t width, uint32_t height) override {
        m_dib = CreateDib(width, height, 24, std::move(m_spare));
        if (m_dib.IsNone()) {
            return false;
        }
        m_nWidth = width;
        m_nHeight = height;
        m_nStride = DibStride(width, 24);
        m_pPixels = m_dib.Data() + DibPixelOffset(ParseInfoHeader(m_dib.Data()));
        return true;
    }
    uint8_t* RowTarget(uint32_t r) override {
        return m_pPixels + (uint64_t{m_nHeight} - 1 - r) * m_nStride;
    }
    void StoreRow(const uint8_t* samples, int components, uint32_t r) override {
        StoreRowIntoDib(samples, components, m_nWidth, m_nHeight, r, m_pPixels, m_nStride);
    }
    MemoryBlock Take() { return std::move(m_dib); }

  private:
    MemoryBlock m_spare;
    MemoryBlock m_dib;
    uint8_t* m_pPixels = nullptr;
    uint32_t m_nWidth = 0;
    uint32_t m_nHeight = 0;
    uint64_t m_nStride = 0;
};

bool Succeeded(LoadSource source) {
    return source == LoadSource::Jpeg || source == LoadSource::Gif || source == LoadSource::Bmp;
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
class DibRowSource final : public JpegRowSource, public PngRowSource {
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

// Output of a DIB found by FindDibPicture; 24-bit rows go to the encoder
// without a tight copy of the whole picture.
bool WriteDibPicture(const char* path, const uint8_t* dib, const DibPicture& picture,
                     const PictureOutput& output, int* error) {
    auto failed = [error](const Status& status) {
        *error = status.errorNumber;
        return !status.IsOk();
    };
    if (picture.header.biBitCount == 24) {
        DibRowSource source(dib + picture.offset, picture);
        if (!source.IsReady()) {
            *error = ENOMEM;
            return false;
        }
        if (output.png) {
            return !failed(
                EncodePngFile(path, source, picture.width, picture.height, output.metadata));
        }
        return EncodeJpegFile(path, source, picture.width, picture.height, output.quality, error) ==
               1;
    }
    ByteBuffer tight = TightPictureOfDib(dib, picture, error);
    if (!tight) {
        return false;
    }
    if (output.png) {
        return !failed(
            WritePngFile(path, tight.get(), picture.width, picture.height, output.metadata));
    }
    return WriteJpegFile(path, tight.get(), picture.width, picture.height, output.quality, error) ==
           1;
}

}  // namespace

void CDibImage::Load(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        m_bLoadFailed = 1;
        m_loadReport = LoadReport{LoadSource::None, ReadStatus::CantOpen};
        return;
    }
    LoadJpeg(path);
    if (!m_bLoadFailed) {
        return;
    }
    bool tooLarge = m_loadReport.status == ReadStatus::TooLarge;
    LoadGif(path);
    if (!m_bLoadFailed) {
        return;
    }
    tooLarge = tooLarge || m_loadReport.status == ReadStatus::TooLarge;
    LoadBmp(path);
    if (tooLarge && !Succeeded(m_loadReport.source)) {
        m_loadReport.status = ReadStatus::TooLarge;
    }
}

void CDibImage::LoadJpeg(const char* path) {
    Unlock();
    m_bLoadFailed = 0;
    DeletePaletteAndBitmap();
    // The previous image is gone from here on; only its memory may be used again.
    DibRowSink sink(std::move(m_hDib));
    ReadStatus status = ReadStatus::Ok;
    if (!DecodeJpegFile(path, sink, &status)) {
        m_hDib = CreateDib(kPlaceholderSize, kPlaceholderSize, 24);
        CreatePaletteAndBitmap();
        m_bLoadFailed = 1;
        m_loadReport = LoadReport{LoadSource::None, status};
        return;
    }
    m_hDib = sink.Take();
    CreatePaletteAndBitmap();
    m_loadReport = LoadReport{LoadSource::Jpeg, ReadStatus::Ok};
}

void CDibImage::LoadGif(const char* path) {
    Unlock();
    m_bLoadFailed = 0;
    DeletePaletteAndBitmap();
    m_hDib.Free();

    ReadStatus status = ReadStatus::Ok;
    int width = 0;
    int height = 0;
    ByteBuffer tight;
    {
        CGifReader reader;
        tight = reader.ReadGifFile(path, &width, &height, &status);
    }
    if (tight) {
        m_hDib = CreateDib(uint32_t(width), uint32_t(height), 24);
        if (m_hDib.IsNone()) {
            status = ReadStatus::OutOfMemory;
        }
    }
    if (!tight || m_hDib.IsNone()) {
        m_hDib = CreateDib(kPlaceholderSize, kPlaceholderSize, 24);
        CreatePaletteAndBitmap();
        m_bLoadFailed = 1;
        m_loadReport = LoadReport{LoadSource::None, status};
        return;
    }
    // Red-blue exchange, bottom-up rows and row padding in one pass.
    uint8_t* dib = m_hDib.Lock();
    TightRgbToDibRows(tight.get(), uint32_t(width), uint32_t(height),
                      dib + DibPixelOffset(ParseInfoHeader(dib)), DibStride(uint32_t(width), 24));
    m_hDib.Unlock();
    tight.reset();
    CreatePaletteAndBitmap();
    m_loadReport = LoadReport{LoadSource::Gif, ReadStatus::Ok};
}

void CDibImage::SaveJpeg(const char* path, int quality) {
    SavePicture(path, PictureOutput{false, quality, nullptr});
}

void CDibImage::SavePng(const char* path, const ImageMetadata* metadata) {
    SavePicture(path, PictureOutput{true, 0, metadata});
}

void CDibImage::SavePicture(const char* path, const PictureOutput& output) {
    m_saveReport = SaveReport();
    if (m_hDib.IsNone()) {
        return;
    }
    const bool lockedHere = !m_bLocked;
    if (lockedHere) {
        m_pDib = m_hDib.Lock();
    }
    int error = 0;
    DibPicture picture;
    if (FindDibPicture(m_pDib, m_hDib.Size(), &picture, &error)) {
        m_saveReport.written = WriteDibPicture(path, m_pDib, picture, output, &error);
    }
    m_saveReport.errorNumber = error;
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
