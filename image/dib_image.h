#pragma once

#include <cstdint>
#include <memory>

#include <string>

#include "formats/deep_pixels.h"
#include "formats/image_reader.h"
#include "formats/jpeg_options.h"
#include "formats/metadata.h"
#include "formats/status.h"
#include "image/packed_color.h"
#include "platform/memory_block.h"

namespace tessary {

// One entry of a logical palette: red, green, blue and flags (always 0 here).
struct PaletteEntry {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t flags = 0;
};

// The palette made from a DIB: real data, since nothing here draws with it.
struct LogicalPalette {
    uint16_t version = 0x300;
    uint32_t count = 0;
    std::unique_ptr<PaletteEntry[]> entries;
};

// Stands in for the device bitmap made from the DIB for the screen. Nothing
// draws it; it records what it was made from so that its rebuilds can be seen.
struct DisplayBitmap {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    bool madeWithPalette = false;
    uint64_t serial = 0;  // counts the bitmaps made in this process, from 1
};

// Whether a reader took the file, for callers that report it.
enum class LoadSource {
    None,         // no image: empty path, or an existing file no reader accepts
    File,         // a reader took the file: LoadReport::format says which
    MissingFile,  // no file at the path: the 10 x 10 black 8-bit placeholder
};

struct LoadReport {
    LoadSource source = LoadSource::None;
    ImageFormat format = ImageFormat::Jpeg;  // the reader's, when source is File
    // Ok when a reader took the file. Otherwise the status of the first reader
    // that recognised the file, so that its text names what the file was
    // ("damaged JPEG (...)"); NotThisFormat when none did; IoError when the file
    // could not be read (ENOENT for MissingFile); OutOfMemory when not even the
    // placeholder could be made.
    Status status;
    // Damage the reader worked around, or frames it left out; empty when none.
    std::string warning;

    // "JPEG", "PNG", ... for a file read; "" otherwise.
    const char* FormatName() const { return source == LoadSource::File ? RowOf(format).name : ""; }
};

struct SaveReport {
    bool written = false;
    int errorNumber = 0;  // errno of the failure; 0 when nothing was attempted
    // Why it was not written, in the words every caller shows (its Text()).
    Status status;
};

// One image as a packed DIB in an owned memory block, with the palette and
// display bitmap made from it, the BMP/JPEG/GIF load chain and BMP/JPEG/PNG output.
class CDibImage {
  public:
    CDibImage();
    ~CDibImage();
    CDibImage(const CDibImage&) = delete;
    CDibImage& operator=(const CDibImage&) = delete;

    // Load chain: JPEG, then GIF, then BMP, then PNG, by content. An empty path leaves the image.
    void Load(const char* path);
    void LoadJpeg(const char* path);
    void LoadGif(const char* path);
    void LoadBmp(const char* path);

    void SaveBmp(const char* path);
    // At the quality given, without metadata.
    void SaveJpeg(const char* path, int quality);
    // With the metadata of the loaded file when the options ask for it.
    void SaveJpeg(const char* path, const JpegSaveOptions& options);
    // An RGB PNG file, at 16 bits a sample when the picture has them (see
    // GetDeep) and 8 otherwise, with the profile, EXIF, XMP and comments of
    // `metadata` when given (GetMetadata() carries the loaded file's on).
    void SavePng(const char* path, const ImageMetadata* metadata = nullptr);
    // Through the format's writer (none is tried for a format only read);
    // GetSaveReport() says how it went.
    void Save(const char* path, ImageFormat format, const WriteOptions& options);

    // Replaces a picture of another depth by the same picture at 24 bits per
    // pixel (indexed pixels through their colour table), so that pixel writes
    // reach it. 1 when the picture is 24-bit afterwards; 0 with the picture
    // unchanged when there is none, it is locked, or it can't be converted.
    int WidenTo24Bits();

    int SetFileName(const char* name);
    const char* GetFileName() const { return m_pszFileName.get(); }

    int Lock();
    int Unlock();

    int32_t GetWidth();
    int32_t GetHeight();
    // Out of range: kOutOfRangeGrey; in range but not 24 bits per pixel: 0.
    PackedColor GetPixel(int32_t x, int32_t y) {
        // One unsigned test per axis covers the lock, the range and the depth:
        // the limits are 0 unless the block is locked and 24 bits per pixel.
        // The two tests are separate branches (&&, not &), so that the compiler
        // leaves a caller after one channel a single byte load instead of
        // packing both ways' channels into one colour and taking it apart
        // again. The whole addressing is read before the tests, so that a run
        // of accesses shares one read of it whichever way they go.
        const FastAccess fast = m_fast;
        uint32_t blue, green, red;
        if (uint32_t(y) < fast.height && uint32_t(x) < fast.width) {
            const uint8_t* pixel = fast.Address(x, y);
            blue = pixel[0], green = pixel[1], red = pixel[2];
        } else {
            const PackedColor color = GetPixelSlow(x, y);
            blue = BlueOf(color), green = GreenOf(color), red = RedOf(color);
        }
        return PackRgb(red, green, blue);
    }
    // Dropped out of range and for images that are not 24 bits per pixel.
    void SetPixel(int32_t x, int32_t y, PackedColor color) {
        const FastAccess fast = m_fast;
        const BgrHalves halves = SplitBgr(color);
        if (uint32_t(y) < fast.height && uint32_t(x) < fast.width) {
            StoreBgr(fast.Address(x, y), halves);
            return;
        }
        SetPixelSlow(x, y, color);
    }
    int SetBits(const uint8_t* source, uint32_t length);

    void CreatePaletteAndBitmap();
    void RebuildPaletteAndBitmap();

    // Read-only views for callers and tests.
    int IsLoadFailed() const { return m_bLoadFailed; }
    int IsLocked() const { return m_bLocked; }
    bool HasImage() const { return !m_hDib.IsNone(); }
    uint16_t GetBitCount() const;  // 0 without an image
    const MemoryBlock& GetDib() const { return m_hDib; }
    // The packed DIB's bytes, for repairs that work on whole rows; null without an image.
    uint8_t* GetDibBytes() { return m_hDib.Data(); }
    const LogicalPalette* GetPalette() const { return m_hPalette.get(); }
    const DisplayBitmap* GetDisplayBitmap() const { return m_hBitmap.get(); }
    const LoadReport& GetLoadReport() const { return m_loadReport; }
    // What the loaded file carries besides its pixels (EXIF, colour profile, ...).
    const ImageMetadata& GetMetadata() const { return m_metadata; }
    const SaveReport& GetSaveReport() const { return m_saveReport; }

    // The picture at 16 bits a sample when the file held more than 8; null
    // otherwise. The DIB then holds it rounded to 8 bits, and repairs that
    // change the DIB change these samples alike and round them back into it.
    // Pixel writes through SetPixel reach only the DIB: callers that draw on
    // such a picture drop the deep one first.
    const DeepPixels* GetDeep() const { return m_deep.IsEmpty() ? nullptr : &m_deep; }
    DeepPixels* GetDeep() { return m_deep.IsEmpty() ? nullptr : &m_deep; }
    bool HasDeep() const { return !m_deep.IsEmpty(); }
    // Takes `deep` as the picture's 16-bit samples and rounds them into the
    // DIB. False, with `deep` dropped, unless the image is 24 bits per pixel
    // and of the same size.
    bool SetDeep(DeepPixels deep);
    void DropDeep() { m_deep = DeepPixels(); }

  private:
    // How pixels are addressed in a DIB, read from its header.
    struct PixelLayout {
        uint8_t* pixels = nullptr;
        int32_t width = 0;
        int32_t height = 0;
        int64_t stride = 0;
        uint16_t bitCount = 0;
        bool trueColor = false;  // 24 bits per pixel, and every row lies inside the block
    };
    static PixelLayout ReadLayout(uint8_t* dib, uint64_t blockSize);

    // Addressing of the locked 24-bit block for the inline pixel access; all
    // zero (so that every access takes the slow path) otherwise.
    struct FastAccess {
        uint8_t* topRow = nullptr;  // the row of y = 0, the last one in the block
        int64_t stride = 0;
        uint32_t width = 0;
        uint32_t height = 0;
        uint8_t* Address(int32_t x, int32_t y) const {
            return topRow - int64_t{y} * stride + int64_t{x} * 3;
        }
    };
    // A 16-bit type with byte alignment: stores through it can't alias the
    // store's own fields (as byte stores could), so a pass over many pixels
    // keeps the addressing in registers.
    typedef uint16_t UnalignedU16 __attribute__((aligned(1)));
    // Blue, green, red as two overlapping 16-bit values: (blue, green), then
    // (green, red). Split before the range test, so that writing one colour to
    // several pixels splits it once.
    struct BgrHalves {
        uint16_t blueGreen;
        uint16_t greenRed;
    };
    static BgrHalves SplitBgr(PackedColor color) {
        // (green, blue) and (red, green) are the colour's middle and low byte
        // pairs; each half is one of them with its two bytes swapped.
        return {__builtin_bswap16(static_cast<uint16_t>(color >> 8)),
                __builtin_bswap16(static_cast<uint16_t>(color))};
    }
    static void StoreBgr(uint8_t* pixel, BgrHalves halves) {
        *reinterpret_cast<UnalignedU16*>(pixel) = halves.blueGreen;
        *reinterpret_cast<UnalignedU16*>(pixel + 1) = halves.greenRed;
    }

    // Caches the pixel addressing of the locked block so that pixel access while
    // locked costs no header parsing.
    void CacheLayout();
    // Out of line, so that a pass over many pixels is not crowded by them.
    // Reads only: repeated reads of one pixel may share one call.
    [[gnu::noinline, gnu::cold, gnu::pure]] PackedColor GetPixelSlow(int32_t x, int32_t y);
    [[gnu::noinline, gnu::cold]] void SetPixelSlow(int32_t x, int32_t y, PackedColor color);
    void DeletePaletteAndBitmap();
    // The start of every load step: the previous image goes.
    void BeginLoadStep();
    void TakeImage(ImageFormat format, DecodedImage& image);
    void TakeDeep(DeepPixels deep);
    void LeaveNoImage(Status reason);
    void MakeMissingFilePlaceholder();
    void LoadWithPlaceholder(ImageFormat format, const char* path);
    PixelLayout CurrentLayout();
    static uint8_t* PixelAt(const PixelLayout& layout, int32_t x, int32_t y);
    bool MakePalette();
    void MakeDisplayBitmap();

    int m_bLoadFailed = 0;
    int m_bLocked = 0;
    uint8_t* m_pDib = nullptr;
    std::unique_ptr<char[]> m_pszFileName;
    std::unique_ptr<DisplayBitmap> m_hBitmap;
    MemoryBlock m_hDib;
    std::unique_ptr<LogicalPalette> m_hPalette;

    // Layout of the locked block (valid while m_bLocked is 1).
    PixelLayout m_layout;
    FastAccess m_fast;

    LoadReport m_loadReport;
    SaveReport m_saveReport;
    ImageMetadata m_metadata;
    DeepPixels m_deep;
};

}  // namespace tessary
