#include <gtest/gtest.h>

#include "formats/png_file.h"
#include "tests/support/png_builder.h"

namespace tessary {
namespace {

using test::Bytes;
using test::PngBuilder;

constexpr uint32_t kWidth = 11;
constexpr uint32_t kHeight = 9;
// First column, first row, column step, row step of the seven Adam7 passes.
constexpr uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

uint16_t Sample(uint32_t x, uint32_t y, uint32_t channel) {
    const uint16_t edges[] = {0, 65535, 0x80FF, 0x807F};
    return y == 0 && x < 4 ? edges[x] : uint16_t((x * 7919 + y * 104729 + channel * 4099) * 13);
}

// Unfiltered scanlines of 16-bit samples, big-endian, in pass order when interlaced.
Bytes Scanlines(uint32_t channels, bool interlaced) {
    Bytes data;
    const uint32_t plain[1][4] = {{0, 0, 1, 1}};
    const auto& passes = interlaced ? kPasses : plain;
    const int count = interlaced ? 7 : 1;
    for (int p = 0; p < count; ++p) {
        const auto& pass = passes[p];
        if (pass[0] >= kWidth) {
            continue;
        }
        for (uint32_t y = pass[1]; y < kHeight; y += pass[3]) {
            data.push_back(0);
            for (uint32_t x = pass[0]; x < kWidth; x += pass[2]) {
                for (uint32_t c = 0; c < channels; ++c) {
                    const uint16_t value = Sample(x, y, c);
                    data.push_back(uint8_t(value >> 8));
                    data.push_back(uint8_t(value));
                }
            }
        }
    }
    return data;
}

TEST(PngDeepTest, SixteenBitPicturesKeepEverySampleBesideTheDib) {
    const struct {
        uint8_t colourType;
        uint32_t channels;
        bool grey;
        bool interlaced;
    } cases[] = {{0, 1, true, false},  {2, 3, false, false}, {4, 2, true, false},
                 {6, 4, false, false}, {2, 3, false, true},  {4, 2, true, true}};
    for (const auto& c : cases) {
        const Bytes file = PngBuilder(kWidth, kHeight, 16, c.colourType, c.interlaced)
                               .ImageData(Scanlines(c.channels, c.interlaced))
                               .Build();
        DecodedImage image;
        MemoryBlock spare;
        ASSERT_TRUE(DecodePngImage(file, spare, image).IsOk()) << int(c.colourType);
        ASSERT_EQ(image.deep.width, kWidth);
        ASSERT_EQ(image.deep.height, kHeight);
        int wrong = 0;
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                for (uint32_t k = 0; k < 3; ++k) {
                    wrong += image.deep.Row(y)[x * 3 + k] != Sample(x, y, c.grey ? 0 : k);
                }
            }
        }
        EXPECT_EQ(wrong, 0) << int(c.colourType) << (c.interlaced ? " interlaced" : "");
    }
}

TEST(PngDeepTest, PicturesOfEightBitsOrFewerHaveNoDeepSamples) {
    for (const uint8_t colourType : {2, 3}) {
        Bytes scanlines;
        for (uint32_t y = 0; y < kHeight; ++y) {
            scanlines.push_back(0);
            scanlines.insert(scanlines.end(), kWidth * (colourType == 2 ? 3 : 1), uint8_t(y));
        }
        PngBuilder builder(kWidth, kHeight, 8, colourType);
        if (colourType == 3) {
            builder.Chunk("PLTE", Bytes(3 * kHeight, 0x40));
        }
        DecodedImage image;
        MemoryBlock spare;
        ASSERT_TRUE(DecodePngImage(builder.ImageData(scanlines).Build(), spare, image).IsOk());
        EXPECT_TRUE(image.deep.IsEmpty()) << int(colourType);
    }
}

}  // namespace
}  // namespace tessary
