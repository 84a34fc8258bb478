#include "formats/exif_thumbnail.h"

#include <algorithm>
#include <cstring>

#include "formats/jpeg_file.h"

namespace tessary {

namespace {

constexpr uint16_t kTiffMagic = 42;
constexpr uint16_t kTagThumbnailOffset = 0x0201;
constexpr uint16_t kTagThumbnailLength = 0x0202;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint64_t kEntryBytes = 12;
// A thumbnail is small; a header claiming more is not rendered.
constexpr uint64_t kMaxThumbnailPixels = uint64_t{1} << 20;

// The JPEG standard's luminance table, the one encoders scale by quality.
constexpr int kStandardLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

// Bounds-checked reads of a TIFF structure in either byte order.
class TiffBytes {
  public:
    explicit TiffBytes(std::vector<uint8_t>& bytes) : m_bytes(bytes) {}
    bool Has(uint64_t at, uint64_t count) const {
        return at <= m_bytes.size() && count <= m_bytes.size() - at;
    }
    bool ReadOrder() {
        if (!Has(0, 8) || m_bytes[0] != m_bytes[1] || (m_bytes[0] != 'I' && m_bytes[0] != 'M')) {
            return false;
        }
        m_little = m_bytes[0] == 'I';
        return U16(2) == kTiffMagic;
    }
    uint16_t U16(uint64_t at) const {
        const uint8_t* p = m_bytes.data() + at;
        return m_little ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
    }
    uint32_t U32(uint64_t at) const {
        const uint8_t* p = m_bytes.data() + at;
        return m_little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                              uint32_t(p[3]) << 24
                        : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 |
                              uint32_t(p[3]);
    }
    void Put32(uint64_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            const int shift = m_little ? 8 * i : 24 - 8 * i;
            m_bytes[at + i] = uint8_t(value >> shift);
        }
    }
    // A SHORT or LONG value of one entry, written back as LONG.
    void PutValue(uint64_t entry, uint32_t value) {
        if (U16(entry + 2) == kTypeShort) {
            const uint8_t low = uint8_t(value), high = uint8_t(value >> 8);
            m_bytes[entry + 8] = m_little ? low : high;
            m_bytes[entry + 9] = m_little ? high : low;
            return;
        }
        Put32(entry + 8, value);
    }
    uint32_t Value(uint64_t entry) const {
        return U16(entry + 2) == kTypeShort ? U16(entry + 8) : U32(entry + 8);
    }

  private:
    std::vector<uint8_t>& m_bytes;
    bool m_little = true;
};

// Where the thumbnail of a block lies, as far as it could be found.
struct ThumbnailPlace {
    uint64_t link = 0;  // IFD0's link to IFD1; 0 when there is no IFD1
    uint64_t offsetEntry = 0;
    uint64_t lengthEntry = 0;
    uint64_t start = 0;
    uint64_t length = 0;
    bool usable = false;  // both entries found, the bytes inside the block
};

bool IsSingleNumber(const TiffBytes& tiff, uint64_t entry) {
    const uint16_t type = tiff.U16(entry + 2);
    return (type == kTypeShort || type == kTypeLong) && tiff.U32(entry + 4) == 1;
}

ThumbnailPlace FindThumbnail(const TiffBytes& tiff) {
    ThumbnailPlace place;
    const uint64_t ifd0 = tiff.U32(4);
    if (!tiff.Has(ifd0, 2) || !tiff.Has(ifd0 + 2, tiff.U16(ifd0) * kEntryBytes + 4)) {
        return place;  // no directory to find a thumbnail through
    }
    const uint64_t link = ifd0 + 2 + tiff.U16(ifd0) * kEntryBytes;
    const uint64_t ifd1 = tiff.U32(link);
    if (ifd1 == 0) {
        return place;
    }
    place.link = link;
    if (!tiff.Has(ifd1, 2) || !tiff.Has(ifd1 + 2, tiff.U16(ifd1) * kEntryBytes)) {
        return place;
    }
    for (uint64_t i = 0; i < tiff.U16(ifd1); ++i) {
        const uint64_t entry = ifd1 + 2 + i * kEntryBytes;
        const uint16_t tag = tiff.U16(entry);
        if ((tag == kTagThumbnailOffset || tag == kTagThumbnailLength) &&
            IsSingleNumber(tiff, entry)) {
            (tag == kTagThumbnailOffset ? place.offsetEntry : place.lengthEntry) = entry;
        }
    }
    if (place.offsetEntry == 0 || place.lengthEntry == 0) {
        return place;
    }
    place.start = tiff.Value(place.offsetEntry);
    place.length = tiff.Value(place.lengthEntry);
    place.usable = place.length > 0 && tiff.Has(place.start, place.length);
    return place;
}

// What can be told of a JPEG thumbnail from its headers.
struct ThumbnailLook {
    uint32_t width = 0;
    uint32_t height = 0;
    JpegSaveOptions options;
};

int ScaledStandardSum(int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    int sum = 0;
    for (int value : kStandardLuminance) {
        sum += std::clamp((value * scale + 50) / 100, 1, 255);
    }
    return sum;
}

// The quality whose scaled standard table comes nearest the file's first
// table (compared by sum, which needs no coefficient order).
int EstimatedQuality(int tableSum) {
    int best = kJpegBestQuality;
    for (int quality = 1; quality <= kJpegBestQuality; ++quality) {
        if (std::abs(ScaledStandardSum(quality) - tableSum) <
            std::abs(ScaledStandardSum(best) - tableSum)) {
            best = quality;
        }
    }
    return best;
}

// Walks the marker segments before the scan, every length checked.
bool LookAtJpeg(const uint8_t* data, uint64_t size, ThumbnailLook* look) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) {
        return false;
    }
    int tableSum = -1;
    uint64_t at = 2;
    while (at + 4 <= size && data[at] == 0xFF) {
        const uint8_t marker = data[at + 1];
        const uint64_t length = uint64_t{data[at + 2]} << 8 | data[at + 3];
        if (length < 2 || length > size - at - 2) {
            return false;
        }
        const uint8_t* segment = data + at + 4;
        const uint64_t payload = length - 2;
        // The first table of 8-bit values numbered 0: the luminance table.
        if (marker == 0xDB && tableSum < 0 && payload >= 65 && segment[0] == 0) {
            tableSum = 0;
            for (int i = 0; i < 64; ++i) {
                tableSum += segment[1 + i];
            }
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            if (payload < 9) {
                return false;
            }
            look->height = uint32_t{segment[1]} << 8 | segment[2];
            look->width = uint32_t{segment[3]} << 8 | segment[4];
            const uint8_t sampling = segment[7];
            look->options.subsampling = sampling == 0x22   ? JpegSubsampling::Half
                                        : sampling == 0x11 ? JpegSubsampling::Full
                                                           : JpegSubsampling::LibraryDefault;
            look->options.quality = tableSum < 0 ? kJpegBestQuality : EstimatedQuality(tableSum);
            return look->width > 0 && look->height > 0 &&
                   uint64_t{look->width} * look->height <= kMaxThumbnailPixels;
        }
        at += 2 + length;
    }
    return false;
}

// The picture scaled to width x height, each pixel the mean of the block of
// the picture it covers (one pixel at least).
std::vector<uint8_t> Scaled(RgbRowSource& rows, uint32_t width, uint32_t height, uint32_t toWidth,
                            uint32_t toHeight) {
    std::vector<uint8_t> out(uint64_t{toWidth} * toHeight * 3);
    std::vector<uint64_t> sums(uint64_t{toWidth} * 3);
    for (uint32_t oy = 0; oy < toHeight; ++oy) {
        const uint32_t y0 = uint32_t(uint64_t{oy} * height / toHeight);
        const uint32_t y1 = std::max(y0 + 1, uint32_t(uint64_t{oy + 1} * height / toHeight));
        std::fill(sums.begin(), sums.end(), 0);
        for (uint32_t y = y0; y < y1; ++y) {
            const uint8_t* row = rows.Row(y);
            for (uint32_t ox = 0; ox < toWidth; ++ox) {
                const uint32_t x0 = uint32_t(uint64_t{ox} * width / toWidth);
                const uint32_t x1 = std::max(x0 + 1, uint32_t(uint64_t{ox + 1} * width / toWidth));
                for (uint32_t x = x0; x < x1; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        sums[ox * 3 + c] += row[uint64_t{x} * 3 + c];
                    }
                }
            }
        }
        for (uint32_t ox = 0; ox < toWidth; ++ox) {
            const uint32_t x0 = uint32_t(uint64_t{ox} * width / toWidth);
            const uint32_t x1 = std::max(x0 + 1, uint32_t(uint64_t{ox + 1} * width / toWidth));
            const uint64_t count = uint64_t{x1 - x0} * (y1 - y0);
            for (int c = 0; c < 3; ++c) {
                out[(uint64_t{oy} * toWidth + ox) * 3 + c] =
                    uint8_t((sums[ox * 3 + c] + count / 2) / count);
            }
        }
    }
    return out;
}

// The block without its thumbnail: unlinked from IFD0 and its bytes cleared.
std::vector<uint8_t> Dropped(std::vector<uint8_t> block, const ThumbnailPlace& place) {
    TiffBytes tiff(block);
    tiff.ReadOrder();
    tiff.Put32(place.link, 0);
    if (place.usable) {
        std::fill_n(block.begin() + place.start, place.length, 0);
    }
    return block;
}

}  // namespace

std::vector<uint8_t> WithThumbnailOf(const std::vector<uint8_t>& exif, RgbRowSource& rows,
                                     uint32_t width, uint32_t height) {
    std::vector<uint8_t> block = exif;
    TiffBytes tiff(block);
    if (!tiff.ReadOrder() || width == 0 || height == 0) {
        return block;
    }
    const ThumbnailPlace place = FindThumbnail(tiff);
    if (place.link == 0) {
        return block;  // no thumbnail anyone could find
    }
    ThumbnailLook look;
    if (!place.usable || !LookAtJpeg(block.data() + place.start, place.length, &look)) {
        return Dropped(std::move(block), place);
    }
    std::vector<uint8_t> pixels = Scaled(rows, width, height, look.width, look.height);
    TightRgbRows thumbnailRows(pixels.data(), look.width);
    std::vector<uint8_t> jpeg;
    if (!EncodeJpegToMemory(thumbnailRows, look.width, look.height, look.options, &jpeg).IsOk()) {
        return Dropped(std::move(block), place);
    }
    // In the old one's place when it fits there, else after the block's end.
    uint64_t start = place.start;
    if (jpeg.size() > place.length) {
        start = block.size() + (block.size() & 1);  // TIFF offsets are even
    }
    const bool isShort = tiff.U16(place.offsetEntry + 2) == kTypeShort ||
                         tiff.U16(place.lengthEntry + 2) == kTypeShort;
    const uint64_t limit = isShort ? UINT16_MAX : kMaxExifBytes;
    const uint64_t room = std::max<uint64_t>(kMaxExifBytes, exif.size());
    if (start + jpeg.size() > room || start > limit || jpeg.size() > limit) {
        return Dropped(std::move(block), place);
    }
    std::fill_n(block.begin() + place.start, place.length, 0);
    if (start + jpeg.size() > block.size()) {
        block.resize(start + jpeg.size());
    }
    std::copy(jpeg.begin(), jpeg.end(), block.begin() + start);
    TiffBytes rewritten(block);
    rewritten.ReadOrder();
    rewritten.PutValue(place.offsetEntry, uint32_t(start));
    rewritten.PutValue(place.lengthEntry, uint32_t(jpeg.size()));
    return block;
}

}  // namespace tessary
