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

// Samples of the picture's size are rounded in, red, green, blue into blue,
// green, red; others are refused; and they go when the pixels change hands.
TEST(DeepStore, KeepsOnlySamplesThatMatchThePixels) {
    CDibImage image;
    ASSERT_TRUE(test::LoadBlankImage(image, 5, 3));
    EXPECT_FALSE(image.SetDeep(Samples(4, 3)));
    EXPECT_FALSE(image.SetDeep(Samples(5, 2)));
    ASSERT_TRUE(image.SetDeep(Samples(5, 3)));
    const uint16_t* rgb = image.GetDeep()->Row(2) + 3 * 4;
    EXPECT_EQ(image.GetPixel(4, 2),
              PackRgb(ByteOfSample(rgb[0]), ByteOfSample(rgb[1]), ByteOfSample(rgb[2])));

    const uint8_t zeros[48] = {};
    EXPECT_EQ(image.SetBits(zeros, sizeof zeros), 1);
    EXPECT_FALSE(image.HasDeep());
    ASSERT_TRUE(image.SetDeep(Samples(5, 3)));
    image.LoadJpeg("/nonexistent/x.jpg");
    EXPECT_FALSE(image.HasDeep());

    CDibImage grey;
    ASSERT_TRUE(test::LoadBlankImage(grey, 5, 3, 8));
    EXPECT_FALSE(grey.SetDeep(Samples(5, 3)));
}

}  // namespace
}  // namespace tessary
