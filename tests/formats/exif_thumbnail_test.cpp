#include "formats/exif_thumbnail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "formats/dib.h"
#include "formats/jpeg_file.h"
#include "tests/support/exif_builder.h"

namespace tessary {
namespace {

using test::Bytes;
using test::ExifBlock;
using test::ExifThumbnail;
using test::kExifTailStart;

// A picture of one colour, as tight red-green-blue rows.
Bytes Plain(uint32_t width, uint32_t height, uint8_t red, uint8_t green, uint8_t blue) {
    Bytes rgb;
    for (uint64_t i = 0; i < uint64_t{width} * height; ++i) {
        rgb.insert(rgb.end(), {red, green, blue});
    }
    return rgb;
}

Bytes JpegOf(const Bytes& rgb, uint32_t width, uint32_t height, int quality) {
    TightRgbRows rows(rgb.data(), width);
    JpegSaveOptions options;
    options.quality = quality;
    Bytes jpeg;
    EXPECT_TRUE(EncodeJpegToMemory(rows, width, height, options, &jpeg).IsOk());
    return jpeg;
}

TEST(ExifThumbnail, ShowsTheNewPictureOrGoes) {
    const Bytes grey = Plain(16, 12, 128, 128, 128);
    const Bytes small = JpegOf(grey, 16, 12, 75);
    const uint32_t start = kExifTailStart;
    auto jpegEntries = [&](uint32_t offset, uint32_t length, uint32_t type = 4) {
        return std::vector<std::array<uint32_t, 3>>{{0x201, type, offset}, {0x202, type, length}};
    };
    Bytes bigHeader = small;  // claims 60000 x 60000 in its frame header
    for (uint64_t i = 0; i + 8 < bigHeader.size(); ++i) {
        if (bigHeader[i] == 0xFF && bigHeader[i + 1] == 0xC0) {
            bigHeader[i + 5] = bigHeader[i + 7] = 0xEA;
            bigHeader[i + 6] = bigHeader[i + 8] = 0x60;
        }
    }
    const uint32_t headersOnly = 200;  // the old slot: up to its frame header, no room for more
    enum class Expect { Replaced, Dropped, Unchanged };
    struct Case {
        const char* name;
        Bytes block;
        Expect expect;
    };
    const Case cases[] = {
        {"little-endian", ExifBlock(true, jpegEntries(start, uint32_t(small.size())), small),
         Expect::Replaced},
        {"big-endian", ExifBlock(false, jpegEntries(start, uint32_t(small.size())), small),
         Expect::Replaced},
        {"SHORT entries", ExifBlock(true, jpegEntries(start, uint32_t(small.size()), 3), small),
         Expect::Replaced},
        {"larger than the old slot", ExifBlock(true, jpegEntries(start, headersOnly), small),
         Expect::Replaced},
        {"offset beyond the block", ExifBlock(true, jpegEntries(60000, 100), small),
         Expect::Dropped},
        {"length beyond the block",
         ExifBlock(true, jpegEntries(start, uint32_t(small.size()) + 1), small), Expect::Dropped},
        {"not a JPEG", ExifBlock(true, jpegEntries(start, 16), Bytes(16, 0x55)), Expect::Dropped},
        {"cut before its frame header", ExifBlock(true, jpegEntries(start, 100), small),
         Expect::Dropped},
        {"uncompressed thumbnail", ExifBlock(true, {{0x0111, 4, start}}, small), Expect::Dropped},
        {"thumbnail header far too large",
         ExifBlock(true, jpegEntries(start, uint32_t(bigHeader.size())), bigHeader),
         Expect::Dropped},
        {"no thumbnail", ExifBlock(true, {}, {}), Expect::Unchanged},
        {"not TIFF", Bytes{'X', 'X', 42, 0, 8, 0, 0, 0}, Expect::Unchanged},
        {"IFD0 beyond the block", Bytes{'I', 'I', 42, 0, 200, 0, 0, 0}, Expect::Unchanged},
    };
    const Bytes red = Plain(64, 48, 250, 10, 10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TightRgbRows rows(red.data(), 64);
        const Bytes out = WithThumbnailOf(c.block, rows, 64, 48);
        if (c.expect == Expect::Unchanged) {
            EXPECT_EQ(out, c.block);
            continue;
        }
        const Bytes thumbnail = ExifThumbnail(out);
        if (c.expect == Expect::Dropped) {
            EXPECT_TRUE(thumbnail.empty());
            continue;
        }
        MemoryBlock spare;
        DecodedImage decoded;
        ASSERT_TRUE(DecodeJpegImage(thumbnail, spare, decoded).IsOk());
        const BitmapInfoHeader header = ParseInfoHeader(decoded.dib.Data());
        EXPECT_EQ(header.biWidth, 16);
        EXPECT_EQ(header.biHeight, 12);
        const uint8_t* pixel = decoded.dib.Data() + DibPixelOffset(header);
        EXPECT_NEAR(pixel[2], 250, 12);  // red, as the picture written
        EXPECT_NEAR(pixel[0], 10, 12);
        EXPECT_LE(out.size(), kMaxExifBytes);
    }
}

// The new thumbnail is encoded as the old one was: same quantisation.
TEST(ExifThumbnail, KeepsTheOldThumbnailsQuality) {
    const Bytes grey = Plain(16, 12, 128, 128, 128);
    for (int quality : {20, 75, 95}) {
        SCOPED_TRACE(quality);
        const Bytes old = JpegOf(grey, 16, 12, quality);
        const uint32_t start = kExifTailStart;
        const Bytes block =
            ExifBlock(true, {{0x201, 4, start}, {0x202, 4, uint32_t(old.size())}}, old);
        const Bytes red = Plain(32, 24, 250, 10, 10);
        TightRgbRows rows(red.data(), 32);
        const Bytes fresh = ExifThumbnail(WithThumbnailOf(block, rows, 32, 24));
        const auto table = [](const Bytes& jpeg) {
            for (uint64_t i = 0; i + 69 < jpeg.size(); ++i) {
                if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB) {
                    return Bytes(jpeg.begin() + i + 5, jpeg.begin() + i + 69);
                }
            }
            return Bytes();
        };
        ASSERT_FALSE(fresh.empty());
        EXPECT_EQ(table(fresh), table(old));
    }
}

// Whatever a block's bytes say, nothing is read or written outside it (the
// sanitizer build watches) and the result never outgrows what APP1 can hold.
TEST(ExifThumbnail, EveryCutAndEveryByteChangedIsSafe) {
    const Bytes small = JpegOf(Plain(16, 12, 128, 128, 128), 16, 12, 75);
    const Bytes block =
        ExifBlock(false, {{0x201, 4, kExifTailStart}, {0x202, 4, uint32_t(small.size())}}, small);
    const Bytes picture = Plain(20, 10, 1, 2, 3);
    auto check = [&](const Bytes& hostile) {
        TightRgbRows rows(picture.data(), 20);
        const Bytes out = WithThumbnailOf(hostile, rows, 20, 10);
        EXPECT_LE(out.size(), std::max<uint64_t>(kMaxExifBytes, hostile.size()));
    };
    for (size_t length = 0; length < block.size(); length += 7) {
        check(Bytes(block.begin(), block.begin() + length));
    }
    for (size_t at = 0; at < block.size(); ++at) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF)}) {
            Bytes changed = block;
            changed[at] = value;
            check(changed);
        }
    }
}

}  // namespace
}  // namespace tessary
