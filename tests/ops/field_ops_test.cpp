#include "ops/field_ops.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/image/test_image.h"

namespace tessary {
namespace {

using PixelFunction = std::function<PackedColor(int32_t x, int32_t y)>;

// A locked surface of the given size whose pixels come from `color`.
void MakeImage(CImageSurface& surface, int32_t width, int32_t height, const PixelFunction& color) {
    ASSERT_TRUE(test::LoadBlankImage(*surface.GetImage(), width, height));
    surface.Lock();
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            surface.SetPixel(x, y, color(x, y));
        }
    }
}

std::vector<uint32_t> RowGreys(CImageSurface& surface) {
    std::vector<uint32_t> rows;
    for (int32_t y = 0; y < surface.GetImage()->GetHeight(); ++y) {
        rows.push_back(RedOf(surface.GetPixel(0, y)));
    }
    return rows;
}

PackedColor Grey(uint32_t v) {
    return PackRgb(v, v, v);
}

TEST(Deinterlace, AveragesEveryPairOfBytesDownward) {
    // Row pair p holds b = p in its upper row and a = x in its lower row (red);
    // green and blue mirror the values so that the channels can't be mixed up.
    CImageSurface surface;
    MakeImage(surface, 256, 512, [](int32_t x, int32_t y) {
        const uint32_t p = static_cast<uint32_t>(y / 2);
        const uint32_t a = static_cast<uint32_t>(x);
        return y % 2 == 0 ? PackRgb(p, p, 255 - p) : PackRgb(a, 255 - a, a);
    });
    EXPECT_TRUE(Deinterlace(surface));
    int wrong = 0;
    for (int32_t y = 0; y < 512; ++y) {
        for (uint32_t a = 0; a < 256; ++a) {
            const uint32_t b = static_cast<uint32_t>(y / 2);
            const PackedColor expected = PackRgb((a + b) / 2, (255 - a + b) / 2, (a + 255 - b) / 2);
            wrong += surface.GetPixel(static_cast<int32_t>(a), y) != expected;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(Deinterlace, OddLastRowAndTinyImagesStay) {
    CImageSurface five;
    MakeImage(five, 2, 5, [](int32_t, int32_t y) { return Grey(10 * static_cast<uint32_t>(y)); });
    Deinterlace(five);
    EXPECT_EQ(RowGreys(five), (std::vector<uint32_t>{5, 5, 25, 25, 40}));
    Deinterlace(five);  // a second pass finds equal pairs
    EXPECT_EQ(RowGreys(five), (std::vector<uint32_t>{5, 5, 25, 25, 40}));

    CImageSurface one;
    MakeImage(one, 3, 1, [](int32_t x, int32_t) { return Grey(static_cast<uint32_t>(x) + 7); });
    Deinterlace(one);
    EXPECT_EQ(one.GetPixel(2, 0), Grey(9));
}

// Names each surface call the repairs make, with its row.
class CallLog : public CImageSurface {
  public:
    float GetRedF(int32_t x, int32_t y) override {
        return Note("R", y, CImageSurface::GetRedF(x, y));
    }
    float GetGreenF(int32_t x, int32_t y) override {
        return Note("G", y, CImageSurface::GetGreenF(x, y));
    }
    float GetBlueF(int32_t x, int32_t y) override {
        return Note("B", y, CImageSurface::GetBlueF(x, y));
    }
    int SetRgbF(int32_t x, int32_t y, float r, float g, float b) override {
        return Note("W", y, CImageSurface::SetRgbF(x, y, r, g, b));
    }
    int SetRgb(int32_t x, int32_t y, int r, int g, int b) override {
        return Note("S", y, CImageSurface::SetRgb(x, y, r, g, b));
    }
    int SetRgbTransparentF(int32_t x, int32_t y, int r, int g, int b, float t) override {
        // Appended piece by piece: GCC 12 takes "T" + std::string for an overlapping copy.
        std::string call = "T";
        call += std::to_string(y);
        call += "@";
        call += std::to_string(t);
        calls.push_back(call);
        return CImageSurface::SetRgbTransparentF(x, y, r, g, b, t);
    }
    template <typename T>
    T Note(const char* what, int32_t y, T value) {
        calls.push_back(what + std::to_string(y));
        return value;
    }
    std::vector<std::string> calls;
};

TEST(FieldOps, CallTheSurfaceInTheDocumentedOrder) {
    CallLog surface;
    MakeImage(surface, 1, 2, [](int32_t, int32_t) { return Grey(0); });
    Deinterlace(surface);
    EXPECT_EQ(surface.calls,
              (std::vector<std::string>{"R1", "R0", "G1", "G0", "B1", "B0", "W1", "W0"}));
    surface.calls.clear();
    ClipRows(surface, 1, 1);
    EXPECT_EQ(surface.calls, (std::vector<std::string>{"S0", "S1"}));
    surface.calls.clear();
    SoftenBorders(surface, 0, 1);
    std::vector<std::string> blends;
    for (const std::string& call : surface.calls) {
        if (call[0] == 'T') {
            blends.push_back(call);
        }
    }
    EXPECT_EQ(blends, (std::vector<std::string>{"T0@0.250000", "T1@0.500000", "T2@0.750000",
                                                "T0@0.250000", "T-1@0.500000", "T-2@0.750000"}));
}

TEST(ClipRows, PaintsBandsAndIgnoresEmptyOrHugeCounts) {
    struct Case {
        int32_t top, bottom;
        std::vector<uint32_t> rows;
    };
    const std::vector<Case> cases = {
        {2, 3, {0, 0, 9, 9, 9, 9, 9, 0, 0, 0}},
        {0, 0, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
        {-4, -1, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
        {20, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {0, 20, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {INT32_MAX, INT32_MAX, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {INT32_MIN, INT32_MIN, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        CImageSurface surface;
        MakeImage(surface, 3, 10, [](int32_t, int32_t) { return Grey(9); });
        EXPECT_TRUE(ClipRows(surface, c.top, c.bottom));
        EXPECT_EQ(RowGreys(surface), c.rows) << c.top << "/" << c.bottom;
    }
}

TEST(SoftenBorders, DarkensThreeRowsBesideEachBand) {
    struct Case {
        int32_t height, top, bottom;
        uint32_t grey;
        std::vector<uint32_t> rows;
    };
    const std::vector<Case> cases = {
        {10, 2, 3, 255, {255, 255, 63, 127, 143, 127, 63, 255, 255, 255}},
        {8, 0, 0, 255, {63, 127, 191, 255, 255, 191, 127, 63}},
        {8, 0, 0, 4, {1, 2, 3, 4, 4, 3, 2, 1}},
        {8, 0, 0, 1, {0, 0, 0, 1, 1, 0, 0, 0}},
        {1, 0, 0, 255, {15}},  // both passes darken the only row
        {4, INT32_MAX, INT32_MIN, 255, {255, 255, 255, 255}},
        {4, INT32_MIN, INT32_MAX, 255, {255, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        CImageSurface surface;
        MakeImage(surface, 2, c.height, [&c](int32_t, int32_t) { return Grey(c.grey); });
        EXPECT_TRUE(SoftenBorders(surface, c.top, c.bottom));
        EXPECT_EQ(RowGreys(surface), c.rows) << c.height << ":" << c.top << "/" << c.bottom;
    }
}

TEST(FieldOps, LeaveImagesWithoutTrueColourUnchanged) {
    CImageSurface surface;
    CDibImage& image = *surface.GetImage();
    ASSERT_TRUE(test::LoadBlankImage(image, 4, 6, 8));
    const std::vector<uint8_t> before(image.GetDib().Data(),
                                      image.GetDib().Data() + image.GetDib().Size());
    surface.Lock();
    EXPECT_TRUE(Deinterlace(surface));
    EXPECT_TRUE(ClipRows(surface, 1, 1));
    EXPECT_TRUE(SoftenBorders(surface, 1, 1));
    surface.Unlock();
    EXPECT_EQ(
        std::vector<uint8_t>(image.GetDib().Data(), image.GetDib().Data() + image.GetDib().Size()),
        before);

    // A file that is no image leaves the store without one: nothing to do.
    test::TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("note.txt"), {'h', 'i', '\n'}));
    image.LoadBmp(dir.File("note.txt").c_str());
    ASSERT_FALSE(image.HasImage());
    EXPECT_TRUE(Deinterlace(surface));
    EXPECT_TRUE(ClipRows(surface, 3, 3));
    EXPECT_TRUE(SoftenBorders(surface, 0, 0));
}

TEST(FieldOps, WorkOnAnUnlockedSurfaceToo) {
    CImageSurface surface;
    MakeImage(surface, 2, 4, [](int32_t, int32_t y) { return Grey(y % 2 ? 200 : 100); });
    surface.Unlock();
    Deinterlace(surface);
    ClipRows(surface, 1, 0);
    SoftenBorders(surface, 1, 4);
    EXPECT_EQ(RowGreys(surface), (std::vector<uint32_t>{0, 37, 75, 112}));
}

}  // namespace
}  // namespace tessary
