#include "image/dib_image.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "formats/bmp_file.h"
#include "formats/dib.h"
#include "image/deep_rows.h"

namespace tessary {

namespace {

constexpr uint32_t kPlaceholderSize = 10;
constexpr uint32_t kFixedPaletteSize = 256;

std::atomic<uint64_t> g_bitmapsMade{0};

// Red and green take the eight levels 0, 32, ..., 224 and blue the four levels
// 0, 64, 128, 192; red changes fastest.
PaletteEntry FixedPaletteEntry(uint32_t i) {
    PaletteEntry entry;
    entry.red = static_cast<uint8_t>((i % 8) * 32);
    entry.green = static_cast<uint8_t>(((i / 8) % 8) * 32);
    entry.blue = static_cast<uint8_t>((i / 64) * 64);
    return entry;
}

std::unique_ptr<LogicalPalette> NewPalette(uint32_t count) {
    std::unique_ptr<LogicalPalette> palette(new (std::nothrow) LogicalPalette);
    if (!palette) {
        return palette;
    }
    palette->entries.reset(new (std::nothrow) PaletteEntry[count]());
    if (!palette->entries) {
        palette.reset();
        return palette;
    }
    palette->count = count;
    return palette;
}

}  // namespace

CDibImage::CDibImage() {
    SetFileName("");
    m_hDib = CreateDib(kPlaceholderSize, kPlaceholderSize, 24);
    CreatePaletteAndBitmap();
}

CDibImage::~CDibImage() {
    Unlock();
    m_pszFileName.reset();
    DeletePaletteAndBitmap();
    m_hDib.Free();
}

int CDibImage::SetFileName(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    const size_t length = std::strlen(name);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
    if (!copy) {
        return 0;
    }
    std::memcpy(copy.get(), name, length + 1);
    m_pszFileName = std::move(copy);
    return 1;
}

CDibImage::PixelLayout CDibImage::ReadLayout(uint8_t* dib, uint64_t blockSize) {
    PixelLayout layout;
    if (dib == nullptr || blockSize < kInfoHeaderSize) {
        return layout;
    }
    const BitmapInfoHeader header = ParseInfoHeader(dib);
    const uint64_t offset = DibPixelOffset(header);
    layout.width = header.biWidth;
    layout.height = header.biHeight;
    layout.bitCount = header.biBitCount;
    layout.stride =
        header.biWidth > 0 ? static_cast<int64_t>(DibStride(uint32_t(header.biWidth), 24)) : 0;
    layout.pixels = offset <= blockSize ? dib + offset : nullptr;
    // Blocks made here always hold every row; the test keeps a stray header
    // from ever pointing pixel access outside the block.
    layout.trueColor = layout.bitCount == 24 && layout.pixels != nullptr && layout.width > 0 &&
                       layout.height > 0 &&
                       uint64_t(layout.stride) * uint64_t(layout.height) <= blockSize - offset;
    return layout;
}

void CDibImage::CacheLayout() {
    m_layout = ReadLayout(m_pDib, m_hDib.Size());
    m_fast = FastAccess();
    if (m_layout.trueColor) {
        m_fast.topRow = m_layout.pixels + int64_t{m_layout.height - 1} * m_layout.stride;
        m_fast.stride = m_layout.stride;
        m_fast.width = uint32_t(m_layout.width);
        m_fast.height = uint32_t(m_layout.height);
    }
}

// Unlocked, the block is read in place (its bytes never move), so that no
// access changes a field the inline paths keep in registers.
CDibImage::PixelLayout CDibImage::CurrentLayout() {
    return m_bLocked ? m_layout : ReadLayout(m_hDib.Data(), m_hDib.Size());
}

// Where (x, y) lies in the pixel array, or null outside the image.
uint8_t* CDibImage::PixelAt(const PixelLayout& layout, int32_t x, int32_t y) {
    const int64_t row = int64_t{layout.height} - y - 1;
    if (x < 0 || row < 0 || x >= layout.width || row >= layout.height) {
        return nullptr;
    }
    return layout.pixels + row * layout.stride + int64_t{x} * 3;
}

// Everything the inline paths leave: unlocked access, pixels out of range and
// images that are not 24 bits per pixel.
PackedColor CDibImage::GetPixelSlow(int32_t x, int32_t y) {
    const PixelLayout layout = CurrentLayout();
    const uint8_t* pixel = PixelAt(layout, x, y);
    if (pixel == nullptr) {
        return kOutOfRangeGrey;
    }
    if (!layout.trueColor) {
        return 0;
    }
    return PackRgb(pixel[2], pixel[1], pixel[0]);
}

void CDibImage::SetPixelSlow(int32_t x, int32_t y, PackedColor color) {
    const PixelLayout layout = CurrentLayout();
    uint8_t* pixel = PixelAt(layout, x, y);
    if (pixel != nullptr && layout.trueColor) {
        StoreBgr(pixel, SplitBgr(color));
    }
}

int CDibImage::Lock() {
    if (m_hDib.IsNone()) {
        return 0;
    }
    if (m_bLocked) {
        return 1;
    }
    m_pDib = m_hDib.Lock();
    if (m_pDib == nullptr) {
        return 0;
    }
    m_bLocked = 1;
    CacheLayout();
    return 1;
}

int CDibImage::Unlock() {
    if (m_hDib.IsNone()) {
        return 0;
    }
    if (m_bLocked) {
        m_hDib.Unlock();
        m_bLocked = 0;
        m_fast = FastAccess();
        RebuildPaletteAndBitmap();
    }
    return 1;
}

int32_t CDibImage::GetWidth() {
    return m_hDib.IsNone() ? 0 : CurrentLayout().width;
}

int32_t CDibImage::GetHeight() {
    return m_hDib.IsNone() ? 0 : CurrentLayout().height;
}

uint16_t CDibImage::GetBitCount() const {
    if (m_hDib.IsNone() || m_hDib.Size() < kInfoHeaderSize) {
        return 0;
    }
    return ParseInfoHeader(m_hDib.Data()).biBitCount;
}

int CDibImage::SetBits(const uint8_t* source, uint32_t length) {
    if (m_hDib.IsNone()) {
        return 0;
    }
    uint8_t* dib = m_bLocked ? m_pDib : (m_pDib = m_hDib.Lock());
    const PixelLayout layout = ReadLayout(dib, m_hDib.Size());
    int copied = 0;
    // Never past the block, whatever the caller asks.
    if (layout.pixels != nullptr && length <= m_hDib.Size() - uint64_t(layout.pixels - dib) &&
        (length == 0 || source)) {
        if (length != 0) {
            std::memcpy(layout.pixels, source, length);
        }
        copied = 1;
        // The samples no longer match the pixels.
        DropDeep();
    }
    if (!m_bLocked) {
        m_hDib.Unlock();
    }
    return copied;
}

bool CDibImage::SetDeep(DeepPixels deep) {
    m_deep = DeepPixels();
    const PixelLayout layout = ReadLayout(m_hDib.Data(), m_hDib.Size());
    if (!layout.trueColor || deep.IsEmpty() || deep.width != uint32_t(layout.width) ||
        deep.height != uint32_t(layout.height)) {
        return false;
    }
    m_deep = std::move(deep);
    const DeepRows rows = DeepRowsOf(&m_deep);
    for (int32_t y = 0; y < rows.height; ++y) {
        RoundDeepRow(rows.Row(y), rows.width,
                     layout.pixels + int64_t{layout.height - 1 - y} * layout.stride);
    }
    return true;
}

void CDibImage::DeletePaletteAndBitmap() {
    m_hPalette.reset();
    m_hBitmap.reset();
}

void CDibImage::RebuildPaletteAndBitmap() {
    Unlock();
    DeletePaletteAndBitmap();
    CreatePaletteAndBitmap();
}

// A palette from the colour table, the fixed palette for a 24-bit DIB without
// table, or none for any other DIB. False when its memory can't be had.
bool CDibImage::MakePalette() {
    const BitmapInfoHeader header = ParseInfoHeader(m_pDib);
    const uint16_t colors = DibNumColors(header);
    if (colors > 0) {
        std::unique_ptr<LogicalPalette> palette = NewPalette(colors);
        if (!palette) {
            return false;
        }
        const uint8_t* table = m_pDib + kInfoHeaderSize;
        const uint64_t available = (m_hDib.Size() - kInfoHeaderSize) / 4;
        for (uint32_t i = 0; i < colors && i < available; ++i) {
            palette->entries[i].red = table[i * 4 + 2];
            palette->entries[i].green = table[i * 4 + 1];
            palette->entries[i].blue = table[i * 4];
        }
        m_hPalette = std::move(palette);
    } else if (header.biBitCount == 24) {
        std::unique_ptr<LogicalPalette> palette = NewPalette(kFixedPaletteSize);
        if (!palette) {
            return false;
        }
        for (uint32_t i = 0; i < kFixedPaletteSize; ++i) {
            palette->entries[i] = FixedPaletteEntry(i);
        }
        m_hPalette = std::move(palette);
    }
    return true;
}

// Nothing draws the display bitmap; it keeps what it was made from.
void CDibImage::MakeDisplayBitmap() {
    const BitmapInfoHeader header = ParseInfoHeader(m_pDib);
    std::unique_ptr<DisplayBitmap> bitmap(new (std::nothrow) DisplayBitmap);
    if (bitmap) {
        bitmap->width = header.biWidth;
        bitmap->height = header.biHeight;
        bitmap->bitCount = header.biBitCount;
        bitmap->madeWithPalette = m_hPalette != nullptr;
        bitmap->serial = ++g_bitmapsMade;
    }
    m_hBitmap = std::move(bitmap);
}

void CDibImage::CreatePaletteAndBitmap() {
    Unlock();
    if (m_hDib.IsNone()) {
        return;
    }
    m_pDib = m_hDib.Lock();
    m_hPalette.reset();
    if (m_pDib == nullptr) {
        return;
    }
    if (m_hDib.Size() < kInfoHeaderSize || LoadLe32(m_pDib) != kInfoHeaderSize || !MakePalette()) {
        m_hDib.Unlock();
        return;
    }
    m_hDib.Unlock();
    m_pDib = m_hDib.Lock();
    if (m_pDib == nullptr) {
        return;
    }
    MakeDisplayBitmap();
    m_hDib.Unlock();
}

void CDibImage::SaveBmp(const char* path) {
    Unlock();
    m_saveReport = SaveReport();
    if (m_hDib.IsNone()) {
        return;
    }
    const Status status = WriteBmp(path, m_hDib);
    m_saveReport = SaveReport{status.IsOk(), status.errorNumber, status};
}

}  // namespace tessary
