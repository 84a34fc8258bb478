#include "ops/black_bands.h"

#include <gtest/gtest.h>

#include "tests/ops/picture.h"

namespace tessary {
namespace {

using test::Grey;

constexpr int32_t kWidth = 120;
constexpr int32_t kHeight = 160;

// Video black with a little noise.
PackedColor Black(int32_t x, int32_t y) {
    return Grey(16 + int32_t((uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) % 5) - 2);
}

// Head-switching noise: the picture's rows shifted further sideways towards
// the bottom, with noise on top.
PackedColor Tape(int32_t x, int32_t y, int32_t first) {
    const int32_t shift = 8 + 4 * (y - first);
    const int32_t noise = int32_t((uint32_t(x) * 97u + uint32_t(y) * 31u) % 41) - 20;
    const PackedColor source = test::Photo(x - shift, y);
    return x < shift ? Grey(30 + noise) : Grey(int32_t(RedOf(source)) + noise);
}

struct BandCase {
    const char* name;
    int32_t blackTop;
    int32_t blackBottom;
    int32_t tape;
    int32_t wantTop;
    int32_t wantBottom;
};

TEST(DetectBands, FindsBlackBandsAndTapeNoise) {
    const BandCase cases[] = {
        {"none", 0, 0, 0, 0, 0},
        {"letterbox", 12, 14, 0, 12, 14},
        {"top only", 9, 0, 0, 9, 0},
        {"tape noise only", 0, 0, 6, 0, 6},
        {"letterbox over tape noise", 10, 8, 5, 10, 13},
    };
    for (const BandCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t tapeFrom = kHeight - c.tape;
        const int32_t bottomFrom = tapeFrom - c.blackBottom;
        CImageSurface surface;
        test::MakePicture(surface, kWidth, kHeight, [&](int32_t x, int32_t y) {
            if (y < c.blackTop || (y >= bottomFrom && y < tapeFrom)) {
                return Black(x, y);
            }
            return y >= tapeFrom ? Tape(x, y, tapeFrom) : test::Photo(x, y);
        });
        const BandReport bands = DetectBands(RowsOf(*surface.GetImage()));
        EXPECT_EQ(bands.top, c.wantTop);
        EXPECT_EQ(bands.bottom, c.wantBottom);
    }
}

// Dark, busy, or brightening towards the bottom: none of it is a band.
TEST(DetectBands, ReportsNoBandOnDarkOrBusyPictures) {
    const test::Scene scenes[] = {
        [](int32_t x, int32_t y) { return Grey(20 + (x + y) % 40); },
        [](int32_t x, int32_t y) {
            return Grey(30 + y / 4 + int32_t(RedOf(test::Photo(x, y))) / 8);
        },
        [](int32_t x, int32_t y) { return test::WovenSquare(20, 120, 30, 6)(x, y); },
    };
    for (const test::Scene& scene : scenes) {
        CImageSurface surface;
        test::MakePicture(surface, kWidth, kHeight, scene);
        const BandReport bands = DetectBands(RowsOf(*surface.GetImage()));
        EXPECT_EQ(bands.top, 0);
        EXPECT_EQ(bands.bottom, 0);
    }
}

TEST(DetectBands, AnAllBlackPictureIsAllTopBand) {
    CImageSurface surface;
    test::MakePicture(surface, 20, 30, Black);
    const BandReport bands = DetectBands(RowsOf(*surface.GetImage()));
    EXPECT_EQ(bands.top, 30);
    EXPECT_EQ(bands.bottom, 0);
    const BandReport none = DetectBands(PixelRows{});
    EXPECT_EQ(none.top, 0);
    EXPECT_EQ(none.bottom, 0);
}

}  // namespace
}  // namespace tessary
