#include "formats/rgb_buffer.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;

Bytes Noise(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (uint8_t& b : bytes) {
        b = uint8_t(random());
    }
    return bytes;
}

TEST(RgbBufferTest, PadsRowsToWholeDwords) {
    struct Case {
        uint32_t width;
        uint32_t stride;
    };
    for (const Case& c : {Case{1, 4}, Case{4, 12}, Case{10, 32}, Case{3, 12}}) {
        SCOPED_TRACE(c.width);
        const uint32_t height = 3;
        Bytes tight = Noise(size_t(c.width) * 3 * height, c.width);
        uint32_t stride = 0;
        ByteBuffer padded = PadRowsToDword(tight.data(), c.width, height, &stride);
        ASSERT_TRUE(padded);
        EXPECT_EQ(stride, c.stride);
        for (uint32_t r = 0; r < height; ++r) {
            const uint8_t* row = padded.get() + r * stride;
            EXPECT_TRUE(std::equal(row, row + c.width * 3, tight.begin() + r * c.width * 3));
            EXPECT_EQ(Bytes(row + c.width * 3, row + stride), Bytes(stride - c.width * 3, 0));
        }
        ByteBuffer back = StripRowPadding(padded.get(), c.width, stride, height);
        ASSERT_TRUE(back);
        EXPECT_EQ(Bytes(back.get(), back.get() + tight.size()), tight);
    }
    uint32_t untouched = 77;
    EXPECT_FALSE(PadRowsToDword(nullptr, 4, 4, &untouched));
    EXPECT_EQ(untouched, 77u);
    EXPECT_FALSE(StripRowPadding(nullptr, 4, 12, 4));
}

TEST(RgbBufferTest, FlipsAndSwapsInPlace) {
    Bytes rows = {1, 1, 2, 2, 3, 3};  // three rows of two bytes
    EXPECT_EQ(FlipRowsVertically(rows.data(), 2, 3), 1);
    EXPECT_EQ(rows, (Bytes{3, 3, 2, 2, 1, 1}));  // the middle row stays
    EXPECT_EQ(FlipRowsVertically(rows.data(), 2, 0), 1);
    EXPECT_EQ(rows, (Bytes{3, 3, 2, 2, 1, 1}));
    Bytes even = {1, 2, 3, 4};
    FlipRowsVertically(even.data(), 1, 4);
    EXPECT_EQ(even, (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(FlipRowsVertically(nullptr, 2, 3), 0);

    Bytes pixels = {10, 20, 30, 40, 50, 60};
    EXPECT_EQ(SwapRedBlue(pixels.data(), 2, 1), 1);
    EXPECT_EQ(pixels, (Bytes{30, 20, 10, 60, 50, 40}));
    Bytes noise = Noise(7 * 5 * 3, 1);
    Bytes copy = noise;
    SwapRedBlue(copy.data(), 7, 5);
    SwapRedBlue(copy.data(), 7, 5);
    EXPECT_EQ(copy, noise);
    EXPECT_EQ(SwapRedBlue(nullptr, 1, 1), 0);
}

TEST(RgbBufferTest, StoresDecodedRows) {
    Bytes buffer(2 * 2 * 3, 0);
    const uint8_t rgb[] = {1, 2, 3, 4, 5, 6};
    StoreRgbRow(rgb, 2, buffer.data(), 1);
    EXPECT_EQ(buffer, (Bytes{0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
    const uint8_t grey[] = {7, 9};
    StoreGrayRow(grey, 2, buffer.data(), 0);
    EXPECT_EQ(buffer, (Bytes{7, 7, 7, 9, 9, 9, 1, 2, 3, 4, 5, 6}));
}

// The load and save steps convert in one pass; the bytes must be those of the
// step-by-step conversions.
TEST(RgbBufferTest, OnePassConversionsMatchTheStepByStepOnes) {
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 10u, 33u}) {
        for (uint32_t height : {1u, 2u, 7u}) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
            const Bytes tight = Noise(size_t(width) * height * 3, width * 31 + height);
            Bytes steps = tight;
            SwapRedBlue(steps.data(), width, height);
            FlipRowsVertically(steps.data(), width * 3, height);
            uint32_t stride = 0;
            ByteBuffer padded = PadRowsToDword(steps.data(), width, height, &stride);
            const Bytes expected(padded.get(), padded.get() + size_t(stride) * height);

            Bytes onePass(expected.size(), 0xEE);
            TightRgbToDibRows(tight.data(), width, height, onePass.data(), stride);
            EXPECT_EQ(onePass, expected);

            Bytes rowByRow(expected.size(), 0xEE);
            for (uint32_t r = 0; r < height; ++r) {
                StoreRowIntoDib(tight.data() + size_t(r) * width * 3, 3, width, height, r,
                                rowByRow.data(), stride);
            }
            EXPECT_EQ(rowByRow, expected);

            const Bytes grey = Noise(size_t(width) * height, width + height);
            Bytes greyTight(tight.size());
            for (uint32_t r = 0; r < height; ++r) {
                StoreGrayRow(grey.data() + size_t(r) * width, width, greyTight.data(), r);
            }
            Bytes greyExpected(expected.size());
            TightRgbToDibRows(greyTight.data(), width, height, greyExpected.data(), stride);
            Bytes greyRows(expected.size(), 0xEE);
            for (uint32_t r = 0; r < height; ++r) {
                StoreRowIntoDib(grey.data() + size_t(r) * width, 1, width, height, r,
                                greyRows.data(), stride);
            }
            EXPECT_EQ(greyRows, greyExpected);

            ByteBuffer stripped = StripRowPadding(expected.data(), width, stride, height);
            FlipRowsVertically(stripped.get(), width * 3, height);
            SwapRedBlue(stripped.get(), width, height);
            Bytes back(tight.size());
            DibRowsToTightRgb(expected.data(), width, height, stride, back.data());
            EXPECT_EQ(back, Bytes(stripped.get(), stripped.get() + tight.size()));
            EXPECT_EQ(back, tight);
        }
    }
}

TEST(RgbBufferTest, SizesDoNotWrap) {
    EXPECT_EQ(TightBufferSize(0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(TightBufferSize(65535, 65535), 65535ull * 65535 * 3);
    EXPECT_EQ(DwordStride24(0xFFFFFFFFu), 12884901888ull);
    uint32_t stride = 0;
    const uint8_t one = 0;
    EXPECT_FALSE(PadRowsToDword(&one, 0xFFFFFFFFu, 2, &stride));  // stride beyond 32 bits
}

}  // namespace
}  // namespace tessary
