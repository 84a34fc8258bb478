// The 16-bit samples the store keeps beside its DIB.
#include <gtest/gtest.h>

#include <cmath>

#include "image/deep_rows.h"
#include "image/dib_image.h"
#include "tests/image/test_image.h"

namespace tessary {
namespace {

DeepPixels Samples(uint32_t width, uint32_t height) {
    DeepPixels deep;
    EXPECT_TRUE(deep.Allocate(width, height));
    for (uint64_t i = 0; i < uint64_t{width} * height * 3; ++i) {
        deep.samples[i] = static_cast<uint16_t>(i * 4099 + 77);
    }
    return deep;
}

TEST(DeepStore, SamplesRoundToTheNearestByte) {
    int wrong = 0;
    for (uint32_t v = 0; v <= 65535; ++v) {
        wrong += ByteOfSample(v) != std::lround(v / 257.0);
    }
    EXPECT_EQ(wrong, 0);
}

// Taken samples are rounded into the DIB, red, green, blue into blue, green, red.
TEST(DeepStore, TakesSamplesOfItsOwnSizeAndRoundsThemIn) {
    CDibImage image;
    ASSERT_TRUE(test::LoadBlankImage(image, 5, 3));
    ASSERT_TRUE(image.SetDeep(Samples(5, 3)));
    const DeepPixels& deep = *image.GetDeep();
    image.Lock();
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 5; ++x) {
            const uint16_t* rgb = deep.Row(y) + 3 * x;
            EXPECT_EQ(image.GetPixel(int32_t(x), int32_t(y)),
                      PackRgb(ByteOfSample(rgb[0]), ByteOfSample(rgb[1]), ByteOfSample(rgb[2])));
        }
    }
    image.Unlock();

    const struct {
        const char* name;
        uint32_t width, height;
        uint16_t bitCount;
    } refused[] = {{"narrower", 4, 3, 24}, {"shorter", 5, 2, 24}, {"8 bits a pixel", 5, 3, 8}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        CDibImage other;
        ASSERT_TRUE(test::LoadBlankImage(other, 5, 3, c.bitCount));
        EXPECT_FALSE(other.SetDeep(Samples(c.width, c.height)));
        EXPECT_FALSE(other.HasDeep());
    }
}

// Samples that no longer match the pixels go: at the next load, and when the
// pixels are replaced wholesale.
TEST(DeepStore, DroppedWhenThePixelsChangeHands) {
    const struct {
        const char* name;
        void (*change)(CDibImage& image);
    } cases[] = {
        {"load", [](CDibImage& image) { test::LoadBlankImage(image, 5, 3); }},
        {"failed load", [](CDibImage& image) { image.LoadJpeg("/nonexistent/x.jpg"); }},
        {"set bits",
         [](CDibImage& image) {
             const uint8_t zeros[48] = {};
             EXPECT_EQ(image.SetBits(zeros, sizeof zeros), 1);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDibImage image;
        ASSERT_TRUE(test::LoadBlankImage(image, 5, 3));
        ASSERT_TRUE(image.SetDeep(Samples(5, 3)));
        c.change(image);
        EXPECT_FALSE(image.HasDeep());
    }
}

}  // namespace
}  // namespace tessary
