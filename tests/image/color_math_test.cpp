#include "image/color_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace tessary {
namespace {

struct Rgb {
    int r, g, b;
};

struct HsvCase {
    int h, s, v;
    Rgb rgb;
};

TEST(ColorMathConstants, ByteScaleRoundTripsEveryByte) {
    EXPECT_EQ(std::bit_cast<uint32_t>(kByteToFloat), 0x3B808081u);
    EXPECT_EQ(static_cast<double>(kOneSixtieth), 0.01666666753590107);
    EXPECT_EQ(static_cast<double>(kRandomScale), 3.0518509447574615e-05);
    // The table must hold exactly the single-precision product made at run time.
    volatile float scale = kByteToFloat;
    for (uint32_t b = 0; b < 256; ++b) {
        EXPECT_EQ(std::bit_cast<uint32_t>(FloatFromByte(b)),
                  std::bit_cast<uint32_t>(static_cast<float>(b) * scale))
            << b;
        EXPECT_EQ(ByteFromFloat(FloatFromByte(b)), b) << b;
    }
    CColorMath math;
    EXPECT_EQ(math.m_pi, 3.1415926535);
    EXPECT_EQ(math.m_degToRad, 0.017453292519444445);
}

TEST(ColorMathConstants, ConversionOutsideIntRangeIsDefined) {
    EXPECT_EQ(TruncToInt(-0.9), 0);
    EXPECT_EQ(TruncToInt(2147483647.9), INT32_MAX);
    EXPECT_EQ(TruncToInt(-2147483648.9), INT32_MIN);
    EXPECT_EQ(TruncToInt(2147483648.0), INT32_MAX);
    EXPECT_EQ(TruncToInt(-1e300), INT32_MIN);
    EXPECT_EQ(TruncToInt(std::numeric_limits<double>::quiet_NaN()), INT32_MIN);
    EXPECT_EQ(ByteFromFloat(std::numeric_limits<float>::infinity()), 255u);
    EXPECT_EQ(ByteFromFloat(-1e30f), 0u);
    // The same at run time as when folded: the compiler must not see the values.
    volatile double huge = 1e30;
    volatile double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(TruncToInt(huge), INT32_MAX);
    EXPECT_EQ(TruncToInt(nan), INT32_MIN);
    volatile float hugeF = 1e30f;
    volatile float nanF = std::numeric_limits<float>::quiet_NaN();
    volatile float minusOne = -1.0f;
    EXPECT_EQ(ByteFromFloat(hugeF), 255u);
    EXPECT_EQ(ByteFromFloat(-hugeF), 0u);
    EXPECT_EQ(ByteFromFloat(nanF), 0u);
    EXPECT_EQ(ByteFromFloat(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(ByteFromFloat(minusOne), 1u);  // -255 is 0x...01 in its low byte
}

// The per-pixel conversion takes a shortcut through the processor's own
// truncation; it must agree with the portable clamped form for every kind of
// float: signs, subnormals, both 32-bit edges, infinities and NaN payloads.
TEST(ColorMathConstants, ByteFromFloatAgreesWithTruncToIntAcrossFloats) {
    const auto portable = [](float v) {
        return static_cast<uint32_t>(TruncToInt(static_cast<double>(v) * 255.0)) & 0xFF;
    };
    for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 4099) {
        volatile float v = std::bit_cast<float>(static_cast<uint32_t>(bits));
        ASSERT_EQ(ByteFromFloat(v), portable(v)) << std::hex << bits;
    }
    // Floats whose product with 255 lies next to either 32-bit edge.
    constexpr float kUp = std::numeric_limits<float>::infinity();
    for (const double edge : {2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0}) {
        float v = static_cast<float>(edge / 255.0);
        for (int step = 0; step < 64; ++step) {
            v = std::nextafter(v, -kUp);
        }
        for (int step = 0; step < 128; ++step) {
            volatile float probe = v;
            ASSERT_EQ(ByteFromFloat(probe), portable(probe)) << v;
            v = std::nextafter(v, kUp);
        }
    }
}

TEST(RgbToHsv, PrimariesGreysAndBlack) {
    const std::vector<HsvCase> cases = {
        {0, 255, 255, {255, 0, 0}},    {120, 255, 255, {0, 255, 0}},   {240, 255, 255, {0, 0, 255}},
        {60, 255, 255, {255, 255, 0}}, {300, 255, 255, {255, 0, 255}}, {0, 0, 128, {128, 128, 128}},
        {0, 0, 0, {0, 0, 0}},
    };
    CColorMath math;
    for (const HsvCase& c : cases) {
        int h = -1, s = -1, v = -1;
        EXPECT_EQ(math.RgbToHsv(c.rgb.r, c.rgb.g, c.rgb.b, h, s, v), 1);
        EXPECT_EQ(h, c.h) << c.rgb.r << "," << c.rgb.g << "," << c.rgb.b;
        EXPECT_EQ(s, c.s);
        EXPECT_EQ(v, c.v);
    }
}

TEST(HsvToRgb, TruncatesRatherThanRounds) {
    const std::vector<HsvCase> cases = {
        {0, 255, 255, {255, 0, 0}},     {120, 255, 255, {0, 255, 0}},
        {30, 255, 255, {255, 127, 0}},  {-30, 255, 255, {255, 127, 0}},
        {360, 255, 255, {255, 0, 0}},   {300, 255, 255, {255, 0, 254}},
        {180, 255, 255, {0, 254, 255}}, {200, 0, 77, {77, 77, 77}},
    };
    CColorMath math;
    for (const HsvCase& c : cases) {
        int r = -1, g = -1, b = -1;
        EXPECT_EQ(math.HsvToRgb(c.h, c.s, c.v, r, g, b), 1);
        EXPECT_EQ(r, c.rgb.r) << "hue " << c.h;
        EXPECT_EQ(g, c.rgb.g) << "hue " << c.h;
        EXPECT_EQ(b, c.rgb.b) << "hue " << c.h;
        EXPECT_EQ(math.HsvToColor(c.h, c.s, c.v), PackRgb(c.rgb.r, c.rgb.g, c.rgb.b));
    }
}

TEST(HsvToRgb, GreysAndValuesRoundTrip) {
    CColorMath math;
    for (int i = 0; i < 256; ++i) {
        int h, s, v, r, g, b;
        math.RgbToHsv(i, i, i, h, s, v);
        math.HsvToRgb(h, s, v, r, g, b);
        EXPECT_EQ(r, i);
        EXPECT_EQ(g, i);
        EXPECT_EQ(b, i);
        EXPECT_EQ(math.ValueOfColor(PackRgb(i, 255 - i, i / 2)), std::max(i, 255 - i));
    }
}

TEST(HsvToRgb, HuesAboveFullCircleWrapAndOddInputsStayDefined) {
    CColorMath math;
    EXPECT_EQ(math.HsvToColor(390, 255, 255), math.HsvToColor(30, 255, 255));
    EXPECT_EQ(math.HsvToColor(720 + 120, 255, 255), math.HsvToColor(120, 255, 255));
    // INT32_MAX is 2^31 as a float, which is 128 degrees round the wheel.
    EXPECT_EQ(math.HsvToColor(INT32_MAX, 255, 255), math.HsvToColor(128, 255, 255));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(math.HsvToColorF(inf, 1.0f, 1.0f), 0x0000FFu);  // taken as hue 0
    math.HsvToColorF(nan, nan, nan);                          // no undefined conversion
    float h, s, v;
    math.RgbToHsvF(nan, 0.5f, inf, h, s, v);
}

TEST(HsvToColorF, PacksWithoutClamping) {
    CColorMath math;
    EXPECT_EQ(math.HsvToColorF(0.0f, 0.0f, 1.0f), 0x00FFFFFFu);
    EXPECT_EQ(math.HsvToColorF(0.0f, 0.0f, 1.0045f), 0u);  // 256 wraps to 0
    EXPECT_EQ(math.HsvToColorF(0.0f, 0.0f, 1.008f), 0x00010101u);
    EXPECT_EQ(math.HueOfColorF(0xFF0000FFu), 0.0f);
    EXPECT_EQ(math.SaturationOfColorF(0xFF0000FFu), 1.0f);
    EXPECT_EQ(math.HueOfColor(0xAB00FF00u), 120);
}

TEST(ColorMathGeometry, AnglesDistancesAndProducts) {
    CColorMath math;
    const float pi = static_cast<float>(std::atan2(0.0, -1.0));
    EXPECT_EQ(math.Angle2D(0, 0, -1, 0), pi);
    EXPECT_EQ(math.Angle2D(0, 0, 0, 0), 0.0f);
    EXPECT_EQ(math.IsAngleInRange(0, 0, 1, 1, 0.0f, 1.0f), 1);
    EXPECT_EQ(math.IsAngleInRange(0, 0, 1, 0, 0.0f, 1.0f), 0);  // exactly at start
    const float quarter = math.Angle2D(0, 0, 0, 1);
    EXPECT_EQ(math.IsAngleInRange(0, 0, 0, 1, 0.0f, quarter), 0);  // exactly at the end
    EXPECT_EQ(math.Distance2D(1, 1, 4, 5), 5.0f);
    EXPECT_EQ(math.Distance3D(0, 0, 0, 2, 3, 6), 7.0f);
    EXPECT_EQ(math.CornerProduct(0, 0, 1, 0, 2, 0), -1.0f);
    EXPECT_EQ(math.CornerProduct(0, 0, 1, 0, 1, 1), 0.0f);
    EXPECT_NEAR(math.PolarX(pi / 3, 2.0f), 1.0f, 1e-6);
    EXPECT_NEAR(math.PolarY(pi / 2, 3.0f), 3.0f, 1e-6);
}

TEST(ColorMathInterpolation, EndsRunInOppositeDirections) {
    CColorMath math;
    EXPECT_EQ(math.LinearInterpolate(10, 20, 0, 4, 1), 17.5f);
    EXPECT_EQ(math.LinearInterpolate(10, 20, 0, 4, 4), 10.0f);
    EXPECT_EQ(math.LinearInterpolate(10, 20, 3, 3, 99), 10.0f);
    EXPECT_EQ(math.LinearInterpolate(10, 20, 0, 4, 8), 0.0f);  // extrapolates
    EXPECT_EQ(math.LinearInterpolate(1, 0, INT32_MIN, INT32_MAX, INT32_MAX), 1.0f);
    EXPECT_EQ(math.CosineInterpolate(10, 20, 0, 4, 0, 1), 10.0f);
    EXPECT_FLOAT_EQ(math.CosineInterpolate(10, 20, 0, 4, 4, 1), 20.0f);
    EXPECT_EQ(math.CosineInterpolate(10, 20, 5, 5, 0, 1), 10.0f);
    EXPECT_EQ(math.CosineWave(0, 6, 1), 6.0f);
    EXPECT_FLOAT_EQ(math.CosineWave(0.5f, 6, 1), 3.0f);
}

TEST(ColorMathRandom, StaysInRangeAndFollowsTheGenerator) {
    CColorMath math;
    EXPECT_EQ(math.RandomInRange(5, 1), 5.0f);
    std::srand(42);
    const int r = std::rand() & 0x7FFF;
    std::srand(42);
    EXPECT_EQ(math.RandomInRange(2, 4),
              static_cast<float>(2.0 + r * static_cast<double>(kRandomScale) * 2.0));
    for (int i = 0; i < 1000; ++i) {
        const float value = math.RandomInRange(-1, 1);
        ASSERT_GE(value, -1.0f);
        ASSERT_LE(value, 1.0f);
    }
}

// The composite operations reach their parts through the virtual table.
class TracingMath : public CColorMath {
  public:
    int HsvToRgbF(float, float, float, float& red, float& green, float& blue) override {
        red = green = blue = 0.5f;
        return 1;
    }
    float Angle2D(float, float, float, float) override { return 2.0f; }
    int RedFromHsv(int, int, int) override { return 0x1FF; }
};

TEST(ColorMathDispatch, CompositesCallOverridableParts) {
    TracingMath math;
    EXPECT_EQ(math.RedFromHsvF(0, 0, 0), 0.5f);
    int r, g, b;
    math.HsvToRgb(0, 0, 0, r, g, b);
    EXPECT_EQ(g, 127);
    EXPECT_EQ(math.HsvToColor(0, 0, 0), 0x7F7FFFu);  // red cut to its low 8 bits
    EXPECT_EQ(math.IsAngleInRange(0, 0, 1, 0, 1.5f, 1.0f), 1);
}

}  // namespace
}  // namespace tessary
