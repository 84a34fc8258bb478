#include "formats/bmp_bitfields.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "formats/bmp_file.h"
#include "formats/dib.h"
#include "tests/support/bmp_builder.h"

namespace tessary {
namespace {

using test::BmpBuilder;
using test::Bytes;

TEST(ChannelScale, ScalesEveryWidthToEightBitsRounded) {
    struct Case {
        uint32_t mask;
        uint32_t pixel;
        uint8_t want;
    };
    // Up to 8 bits the bits repeat (what other programs make of 5-6-5 files:
    // 7 of 31 is 57, not the rounded 58); wider channels are rounded.
    const Case cases[] = {
        {0x001F, 0x001F, 255},
        {0x001F, 7, 57},
        {0x001F, 16, 132},
        {0x07E0, 1u << 5, 4},
        {0x0380, 5u << 7, 182},
        {0xFF0000, 0x123456, 0x12},
        {0x3FF, 512, 128},
        {0x3FF00000, 1023u << 20, 255},
        {0xFFFFFFFF, 0x80000000, 128},
        {0, 0xFFFFFFFF, 0},
        {0x0F0F, 0x0F0F, 255},  // a mask with a gap: scaled
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChannelScale(c.mask)(c.pixel), c.want) << std::hex << c.mask << " " << c.pixel;
    }
}

uint32_t Rgb(int32_t x, int32_t y) {
    return uint32_t(0x20 + x * 0x40) << 16 | uint32_t(0x10 + y * 0x60) << 8 | 0x99;
}

// `value` of a channel whose largest value is `max`, in 8 bits (for these
// values repeating the bits and rounding agree).
uint32_t Scaled(int value, int max) {
    return uint32_t((value * 255 + max / 2) / max);
}

// The decoded DIB's colour at (x, y) of the picture, as 0xRRGGBB.
uint32_t ColourAt(const MemoryBlock& dib, int32_t x, int32_t y) {
    const BitmapInfoHeader header = ParseInfoHeader(dib.Data());
    const uint8_t* row = dib.Data() + DibPixelOffset(header) +
                         (header.biHeight - 1 - y) * DibStride(header.biWidth, 24);
    const uint8_t* pixel = row + x * 3;
    return uint32_t(pixel[2]) << 16 | uint32_t(pixel[1]) << 8 | pixel[0];
}

TEST(BmpBitFields, TodaysHeadersAndMasksLoadAsTwentyFourBits) {
    constexpr int32_t kWidth = 3;
    constexpr int32_t kHeight = 2;
    auto r = [](int32_t x, int32_t y) { return Rgb(x, y) >> 16; };
    auto g = [](int32_t x, int32_t y) { return (Rgb(x, y) >> 8) & 0xFF; };
    auto b = [](int32_t x, int32_t y) { return Rgb(x, y) & 0xFF; };
    struct Case {
        const char* name;
        BmpBuilder file;
        std::function<uint32_t(int32_t, int32_t)> want;
    };
    const std::vector<Case> cases = {
        {"108 bytes, 32 bits, BGRA masks, alpha 0 keeps the colours",
         BmpBuilder(kWidth, kHeight, 32)
             .HeaderSize(108)
             .Compression(3)
             .Masks(0xFF0000, 0xFF00, 0xFF, 0xFF000000)
             .PixelValues([](int32_t x, int32_t y) { return Rgb(x, y); }),
         Rgb},
        {"124 bytes, 32 bits top-down, RGBA masks",
         BmpBuilder(kWidth, -kHeight, 32)
             .HeaderSize(124)
             .Compression(3)
             .Masks(0xFF, 0xFF00, 0xFF0000, 0xFF000000)
             .PixelValues([&](int32_t x, int32_t y) {
                 return 0x80000000u | b(x, y) << 16 | g(x, y) << 8 | r(x, y);
             }),
         Rgb},
        {"124 bytes, 16 bits 5-6-5",
         BmpBuilder(kWidth, kHeight, 16)
             .HeaderSize(124)
             .Compression(3)
             .Masks(0xF800, 0x07E0, 0x001F)
             .PixelValues(
                 [](int32_t x, int32_t y) { return uint32_t(x * 15) << 11 | y * 63 << 5 | 16; }),
         [](int32_t x, int32_t y) {
             return Scaled(x * 15, 31) << 16 | Scaled(y * 63, 63) << 8 | 132;
         }},
        {"40 bytes with bit fields, 16 bits 5-5-5 behind the header",
         BmpBuilder(kWidth, kHeight, 16)
             .Compression(3)
             .Masks(0x7C00, 0x03E0, 0x001F)
             .PixelValues(
                 [](int32_t x, int32_t y) { return uint32_t(x * 15) << 10 | y * 31 << 5; }),
         [](int32_t x, int32_t y) { return Scaled(x * 15, 31) << 16 | Scaled(y * 31, 31) << 8; }},
        {"40 bytes with bit fields, 32 bits of 10-bit channels",
         BmpBuilder(kWidth, kHeight, 32)
             .Compression(3)
             .Masks(0x3FF00000, 0xFFC00, 0x3FF)
             .PixelValues([](int32_t x, int32_t y) {
                 return uint32_t(x * 511) << 20 | uint32_t(y * 1023) << 10 | 1;
             }),
         [](int32_t x, int32_t y) {
             return Scaled(x * 511, 1023) << 16 | Scaled(y * 1023, 1023) << 8;
         }},
        {"108 bytes, plain 24 bits top-down",
         // The builder takes red in the low byte.
         BmpBuilder(kWidth, -kHeight, 24).HeaderSize(108).Pixels24([&](int32_t x, int32_t y) {
             return b(x, y) << 16 | g(x, y) << 8 | r(x, y);
         }),
         Rgb},
        {"124 bytes, plain 32 bits: 8-8-8",
         BmpBuilder(kWidth, kHeight, 32).HeaderSize(124).PixelValues([](int32_t x, int32_t y) {
             return 0xFF000000u | Rgb(x, y);
         }),
         Rgb},
        {"124 bytes, 8-bit indices through the colour table",
         BmpBuilder(kWidth, kHeight, 8)
             .HeaderSize(124)
             .ClrUsed(2)
             .Palette({{1, 2, 3}, {200, 100, 50}})
             .Pixels8([](int32_t x, int32_t y) { return uint8_t((x + y) % 3); }),
         [](int32_t x, int32_t y) {
             const int i = (x + y) % 3;
             return i == 0 ? 0x010203u : i == 1 ? 0xC86432u : 0u;  // past the table: black
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryBlock spare;
        DecodedImage image;
        ASSERT_TRUE(DecodeBmpImage(c.file.Build(), spare, image).IsOk());
        const BitmapInfoHeader header = ParseInfoHeader(image.dib.Data());
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biBitCount, 24);
        EXPECT_EQ(header.biCompression, 0u);
        ASSERT_EQ(header.biWidth, kWidth);
        ASSERT_EQ(header.biHeight, kHeight);
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                EXPECT_EQ(ColourAt(image.dib, x, y), c.want(x, y)) << x << "," << y;
            }
        }
    }
}

TEST(BmpBitFields, EmbeddedProfileIsKeptAsData) {
    const Bytes profile = {'a', 'c', 's', 'p', 0, 1, 2, 3, 4};
    MemoryBlock spare;
    DecodedImage image;
    ASSERT_TRUE(
        DecodeBmpImage(BmpBuilder(2, 2, 24).HeaderSize(124).Profile(profile).Build(), spare, image)
            .IsOk());
    EXPECT_EQ(image.metadata.icc, profile);
    // A profile that lies past the end of the file is no profile.
    Bytes cut = BmpBuilder(2, 2, 24).HeaderSize(124).Profile(profile).Build();
    cut.resize(cut.size() - 1);
    DecodedImage again;
    ASSERT_TRUE(DecodeBmpImage(cut, spare, again).IsOk());
    EXPECT_TRUE(again.metadata.icc.empty());
}

TEST(BmpBitFields, RefusalsNameTheVariant) {
    struct Case {
        Bytes file;
        std::string reason;
    };
    const Case cases[] = {
        {BmpBuilder(2, 2, 24).Compression(5).Build(),
         "BMP with compression 5 (PNG inside), not supported"},
        {BmpBuilder(2, 2, 24).HeaderSize(124).Compression(4).Build(),
         "BMP with compression 4 (JPEG inside), not supported"},
        {BmpBuilder(2, 2, 8).HeaderSize(108).Compression(1).Build(),
         "BMP with compression 1 at 8 bits per pixel, not supported"},
        {BmpBuilder(2, 2, 24).Compression(3).Build(),
         "BMP with compression 3 at 24 bits per pixel, not supported"},
        {BmpBuilder(2, 2, 24).HeaderSize(56).Build(), "BMP with a 56-byte header, not supported"},
        {BmpBuilder(0, 2, 32).HeaderSize(108).Build(), "damaged BMP (an image of no pixels)"},
    };
    for (const Case& c : cases) {
        MemoryBlock spare;
        DecodedImage image;
        EXPECT_EQ(DecodeBmpImage(c.file, spare, image).Text(), c.reason);
        EXPECT_TRUE(image.dib.IsNone());
    }
}

TEST(BmpBitFields, PixelsCutShortAreBlack) {
    Bytes file = BmpBuilder(2, 3, 32)
                     .HeaderSize(108)
                     .PixelValues([](int32_t, int32_t) { return 0xFFFFFFu; })
                     .Build();
    file.resize(file.size() - 12);  // the top row and half the middle one
    MemoryBlock spare;
    DecodedImage image;
    ASSERT_TRUE(DecodeBmpImage(file, spare, image).IsOk());
    EXPECT_EQ(ColourAt(image.dib, 0, 2), 0xFFFFFFu);
    EXPECT_EQ(ColourAt(image.dib, 0, 1), 0xFFFFFFu);
    EXPECT_EQ(ColourAt(image.dib, 1, 1), 0u);
    EXPECT_EQ(ColourAt(image.dib, 0, 0), 0u);
}

}  // namespace
}  // namespace tessary
