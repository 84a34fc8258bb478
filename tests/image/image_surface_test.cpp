#include "image/image_surface.h"

#include <gtest/gtest.h>

#include <limits>
#include <string_view>
#include <vector>

#include "tests/image/test_image.h"

namespace tessary {
namespace {

struct Write {
    int32_t x, y;
    PackedColor color;
    bool operator==(const Write&) const = default;
};

// Records every write that reaches SetPixel, and the names of the steps a
// write passes through, then lets it reach the store.
class RecordingSurface : public CImageSurface {
  public:
    int SetPixel(int32_t x, int32_t y, PackedColor color) override {
        writes.push_back({x, y, color});
        steps.push_back("SetPixel");
        return CImageSurface::SetPixel(x, y, color);
    }
    int SetRgb(int32_t x, int32_t y, int r, int g, int b) override {
        steps.push_back("SetRgb");
        return CImageSurface::SetRgb(x, y, r, g, b);
    }
    int SetPixelTransparentF(int32_t x, int32_t y, PackedColor c, float t) override {
        steps.push_back("SetPixelTransparentF");
        return CImageSurface::SetPixelTransparentF(x, y, c, t);
    }
    int SetRgbFTransparentF(int32_t x, int32_t y, float r, float g, float b, float t) override {
        steps.push_back("SetRgbFTransparentF");
        return CImageSurface::SetRgbFTransparentF(x, y, r, g, b, t);
    }
    std::vector<int32_t> WrittenColumns() const {
        std::vector<int32_t> columns;
        for (const Write& w : writes) {
            columns.push_back(w.x);
        }
        return columns;
    }
    std::vector<Write> writes;
    std::vector<std::string_view> steps;
};

class SurfaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::LoadBlankImage(*surface.GetImage(), 8, 8));
        surface.Lock();
    }
    void Fill(PackedColor color) {
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 8; ++x) {
                surface.CImageSurface::SetPixel(x, y, color);
            }
        }
        surface.writes.clear();
    }
    RecordingSurface surface;
};

TEST(SurfaceBasics, NewSurfaceHoldsBlackTenByTen) {
    CImageSurface surface;
    EXPECT_EQ(surface.GetImage()->GetWidth(), 10);
    EXPECT_EQ(surface.GetImage()->GetHeight(), 10);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            ASSERT_EQ(surface.GetPixel(x, y), 0u);
        }
    }
    EXPECT_EQ(surface.IsLocked(), 0);
    EXPECT_EQ(surface.Lock(), 1);
    EXPECT_EQ(surface.IsLocked(), 1);
    EXPECT_EQ(surface.Unlock(), 1);
    EXPECT_EQ(surface.IsLocked(), 0);
    EXPECT_EQ(surface.GetRedF(-1, 0), 128 * kByteToFloat);
    EXPECT_EQ(surface.GetBlue(0, 10), 128);
}

TEST_F(SurfaceTest, PackingKeepsLowBitsWithoutClamping) {
    struct Case {
        float r, g, b;
        PackedColor expected;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Case> cases = {
        {1.0f, 0.5f, 0.0f, PackRgb(255, 127, 0)}, {1.5f, 0, 0, PackRgb(126, 0, 0)},
        {-0.001f, 0, 0, PackRgb(0, 0, 0)},        {-0.004f, 0, 0, PackRgb(255, 0, 0)},
        {nan, 1e30f, -1e30f, PackRgb(0, 255, 0)},
    };
    for (const Case& c : cases) {
        surface.SetRgbF(1, 2, c.r, c.g, c.b);
        EXPECT_EQ(surface.GetPixel(1, 2), c.expected) << c.r;
    }
    surface.SetRgb(1, 2, 256, -1, 511);
    EXPECT_EQ(surface.GetPixel(1, 2), PackRgb(0, 255, 255));
}

TEST_F(SurfaceTest, FloatChannelsRoundTripEveryByte) {
    for (int v = 0; v < 256; ++v) {
        surface.SetRgb(3, 3, v, 255 - v, v / 3);
        surface.SetRgbF(3, 3, surface.GetRedF(3, 3), surface.GetGreenF(3, 3),
                        surface.GetBlueF(3, 3));
        ASSERT_EQ(surface.GetPixel(3, 3), PackRgb(v, 255 - v, v / 3));
    }
}

TEST_F(SurfaceTest, BlendingFormulas) {
    const PackedColor old = PackRgb(200, 100, 3);
    struct Case {
        PackedColor color;
        int t;
        PackedColor expected;
    };
    for (const Case& c : std::vector<Case>{{0, 64, PackRgb(50, 25, 0)},
                                           {0, 0, 0},
                                           {0, 255, old},
                                           {0xFFFFFF, 128, PackRgb(227, 177, 128)}}) {
        surface.CImageSurface::SetPixel(0, 0, old);
        surface.SetPixelTransparent(0, 0, c.color, c.t);
        EXPECT_EQ(surface.GetPixel(0, 0), c.expected) << c.t;
    }
    surface.CImageSurface::SetPixel(0, 0, 0);
    surface.SetPixelTransparentF(0, 0, 0xFFFFFF, 0.5f);
    EXPECT_EQ(surface.GetPixel(0, 0), PackRgb(127, 127, 127));
    surface.SetRgbTransparentF(0, 0, 255, 0, 0, 0.25f);  // 255 x 0.75 + 127 x 0.25 = 223
    EXPECT_EQ(surface.GetPixel(0, 0), PackRgb(223, 31, 31));
    // Extreme transparencies stay defined; the fourth channel never counts.
    surface.SetPixelTransparent(0, 0, 0xFF000000u, INT32_MIN);
    surface.SetPixelTransparent(0, 0, 0xFF000000u, INT32_MAX);
    surface.SetPixelTransparentF(0, 0, 0xFF000000u, 1e30f);
    EXPECT_EQ(surface.GetAbgrA(0, 0), 0);
    // A blended write outside the image reaches SetPixel and is dropped there.
    surface.SetPixelTransparent(-1, 0, 0, 0);
    EXPECT_EQ(surface.writes.back(), (Write{-1, 0, PackRgb(0, 0, 0)}));
}

TEST_F(SurfaceTest, FourChannelFormsDropTheFourth) {
    surface.SetAbgr(2, 2, 255, 3, 2, 1);
    EXPECT_TRUE(surface.writes.empty());  // goes to the store directly
    EXPECT_EQ(surface.GetPixel(2, 2), PackRgb(1, 2, 3));
    EXPECT_EQ(surface.GetAbgrA(2, 2), 0);
    EXPECT_EQ(surface.GetAbgrAF(2, 2), 0.0f);
    EXPECT_EQ(surface.GetAbgrB(2, 2), 3);
    EXPECT_EQ(surface.GetAbgrRF(2, 2), kByteToFloat);
    surface.SetAbgrF(2, 2, 1.0f, 0.0f, 1.0f, 0.0f);
    ASSERT_EQ(surface.writes.size(), 1u);
    EXPECT_EQ(surface.writes[0].color, 0xFF00FF00u);
    EXPECT_EQ(surface.GetPixel(2, 2), PackRgb(0, 255, 0));
}

TEST_F(SurfaceTest, HsvReadsAndWrites) {
    surface.SetHsv(1, 1, 120, 255, 255);
    EXPECT_EQ(surface.GetPixel(1, 1), PackRgb(0, 255, 0));
    EXPECT_EQ(surface.GetHue(1, 1), 120);
    EXPECT_EQ(surface.GetSaturation(1, 1), 255);
    surface.SetHsvF(1, 1, 240.0f, 1.0f, 0.5f);
    EXPECT_EQ(surface.GetPixel(1, 1), PackRgb(0, 0, 127));
    EXPECT_EQ(surface.GetHueF(1, 1), 240.0f);
    EXPECT_EQ(surface.GetValue(1, 1), 127);
    surface.SetHsvTransparent(1, 1, 0, 0, 255, 255);  // fully transparent: unchanged
    EXPECT_EQ(surface.GetPixel(1, 1), PackRgb(0, 0, 127));
}

TEST_F(SurfaceTest, LinesPlotMidpointsInOrderThroughTheVirtualChain) {
    surface.DrawLine(3, 3, 3, 3, 0xFFFFFF);
    EXPECT_EQ(surface.steps,
              (std::vector<std::string_view>{"SetRgbFTransparentF", "SetPixelTransparentF",
                                             "SetRgb", "SetPixel"}));
    EXPECT_EQ(surface.writes, (std::vector<Write>{{3, 3, 0xFFFFFF}}));

    surface.writes.clear();
    surface.DrawLine(0, 0, 4, 0, 0x123456);
    EXPECT_EQ(surface.WrittenColumns(), (std::vector<int32_t>{2, 1, 0, 1, 3, 2, 3}));
    EXPECT_EQ(surface.GetPixel(4, 0), 0u);
    for (const Write& w : surface.writes) {
        EXPECT_EQ(w.y, 0);
        EXPECT_EQ(w.color, 0x123456u);
    }
    surface.writes.clear();
    surface.DrawLine(0, 4, 0, 0, 0xFF);  // vertical, drawn from the far end
    EXPECT_EQ(surface.writes.front(), (Write{0, 2, 0xFF}));
    EXPECT_EQ(surface.writes.size(), 7u);
}

TEST_F(SurfaceTest, GradientLinesAverageColourAndTransparency) {
    surface.DrawGradientLine(0, 1, 0x000000, 0, 4, 1, 0xFFFFFF, 0);
    ASSERT_EQ(surface.writes.size(), 7u);
    EXPECT_EQ(surface.writes[0], (Write{2, 1, PackRgb(127, 127, 127)}));
    EXPECT_EQ(surface.writes[2], (Write{0, 1, PackRgb(31, 31, 31)}));
    Fill(0xFFFFFF);
    surface.DrawGradientLineF(0.0f, 5.0f, 0, 1.0f, 2.0f, 5.0f, 0, 0.0f);  // t averages to 0.5
    EXPECT_EQ(surface.writes.at(0), (Write{1, 5, PackRgb(127, 127, 127)}));
}

TEST_F(SurfaceTest, LinesWithUnsplittableEndsTerminate) {
    // Floats this large are 2 apart, so the midpoint equals an end.
    surface.DrawLine(16777216, 0, 16777218, 0, 0);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    surface.DrawGradientLineF(nan, 0.0f, 0, 0.0f, 5.0f, nan, 0, 0.0f);
    surface.DrawGradientLineF(1e9f, 1e9f, 0, 0.0f, 1.0000001e9f, 1e9f, 0, 0.0f);
    EXPECT_LE(surface.writes.size(), 64u);
}

TEST_F(SurfaceTest, FramesWriteCornersTwice) {
    surface.DrawFrame(0, 0, 3, 2, 1);
    EXPECT_EQ(surface.writes, (std::vector<Write>{{0, 0, 1},
                                                  {0, 1, 1},
                                                  {1, 0, 1},
                                                  {1, 1, 1},
                                                  {2, 0, 1},
                                                  {2, 1, 1},
                                                  {0, 0, 1},
                                                  {2, 0, 1},
                                                  {0, 1, 1},
                                                  {2, 1, 1}}));
    Fill(0xFFFFFF);
    surface.DrawFrameTransparent(1, 1, 5, 5, 0, 128);
    EXPECT_EQ(surface.GetPixel(1, 1), PackRgb(64, 64, 64));  // 255 -> 128 -> 64
    EXPECT_EQ(surface.GetPixel(4, 4), PackRgb(64, 64, 64));
    EXPECT_EQ(surface.GetPixel(2, 1), PackRgb(128, 128, 128));
    EXPECT_EQ(surface.GetPixel(2, 2), 0xFFFFFFu);
    surface.writes.clear();
    surface.DrawFrame(3, 3, 3, 9, 0);  // empty column range: only the row loop runs
    EXPECT_EQ(surface.writes.size(), 12u);
    surface.writes.clear();
    surface.DrawFrame(0, 0, 2, INT32_MIN, 0);  // row y1 - 1 is beyond any coordinate
    EXPECT_EQ(surface.writes, (std::vector<Write>{{0, 0, 0}, {1, 0, 0}}));
}

TEST_F(SurfaceTest, BoxesWriteBorderThenRowsWithFill) {
    surface.DrawBox(0, 0, 3, 3, 1, 2);
    EXPECT_EQ(surface.writes, (std::vector<Write>{{0, 0, 1},
                                                  {0, 2, 1},
                                                  {1, 0, 1},
                                                  {1, 2, 1},
                                                  {2, 0, 1},
                                                  {2, 2, 1},
                                                  {0, 1, 1},
                                                  {2, 1, 1},
                                                  {1, 1, 2}}));
    Fill(0xFFFFFF);
    surface.DrawBoxTransparent(0, 0, 4, 1, 0, 128, 0, 0);  // one row high: blended twice
    EXPECT_EQ(surface.GetPixel(3, 0), PackRgb(64, 64, 64));
    surface.DrawBoxTransparentF(0, 2, 4, 6, 0, 0.5f, 0, 0.0f);
    EXPECT_EQ(surface.GetPixel(0, 2), PackRgb(127, 127, 127));
    EXPECT_EQ(surface.GetPixel(1, 3), 0u);
}

TEST_F(SurfaceTest, DiscsAreStrictlyInsideTheRadius) {
    surface.DrawDisc(5, 5, 2, 7);
    std::vector<Write> square;
    for (int32_t y = 4; y <= 6; ++y) {
        for (int32_t x = 4; x <= 6; ++x) {
            square.push_back({x, y, 7});
        }
    }
    EXPECT_EQ(surface.writes, square);
    surface.writes.clear();
    surface.DrawDisc(5, 5, 1, 7);
    EXPECT_EQ(surface.writes, (std::vector<Write>{{5, 5, 7}}));
    surface.writes.clear();
    surface.DrawDisc(5, 5, 0, 7);
    surface.DrawDisc(5, 5, -3, 7);
    EXPECT_TRUE(surface.writes.empty());
    surface.DrawDiscTransparent(INT32_MAX, INT32_MAX, 3, 0, 0);  // past the largest coordinate
    EXPECT_EQ(surface.writes.size(), 9u);
}

}  // namespace
}  // namespace tessary
