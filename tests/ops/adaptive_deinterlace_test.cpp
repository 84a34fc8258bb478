#include "ops/adaptive_deinterlace.h"

#include <gtest/gtest.h>

#include "ops/field_interpolation.h"
#include "tests/ops/picture.h"

namespace tessary {
namespace {

TEST(DeinterlaceAdaptive, LeavesAPictureWithoutCombingAsItWas) {
    const test::Scene scenes[] = {
        test::Photo,
        [](int32_t x, int32_t y) { return test::PhotoWithSquare(x, y, 20, 10, 24); },
    };
    for (const test::Scene& scene : scenes) {
        CImageSurface surface;
        test::MakePicture(surface, 80, 48, scene);
        const std::vector<uint8_t> before = test::BlockBytes(*surface.GetImage());
        const CombingReport report = DeinterlaceAdaptive(RowsOf(*surface.GetImage()));
        EXPECT_FALSE(report.combed);
        EXPECT_EQ(test::BlockBytes(*surface.GetImage()), before);
    }
}

// A square moved 6 pixels between the fields over a still photo: the kept
// field's rows and every pixel away from the square stay as captured, and
// the other field's rows show the square where the kept field has it.
TEST(DeinterlaceAdaptive, RebuildsOnlyWhereTheFieldsDisagree) {
    const Field fields[] = {Field::Top, Field::Bottom};
    for (const Field keep : fields) {
        SCOPED_TRACE(keep == Field::Top ? "keep top" : "keep bottom");
        CImageSurface surface;
        const test::Scene woven = test::WovenSquare(30, 20, 40, 6);
        test::MakePicture(surface, 300, 80, woven);
        const CombingReport report = DeinterlaceAdaptive(RowsOf(*surface.GetImage()), keep);
        EXPECT_TRUE(report.combed);
        EXPECT_EQ(report.keep, keep);
        const int32_t left = keep == Field::Top ? 30 : 36;
        int changedFar = 0;
        int wrongInside = 0;
        for (int32_t y = 0; y < 80; ++y) {
            for (int32_t x = 0; x < 300; ++x) {
                const PackedColor got = surface.GetPixel(x, y);
                const bool kept = y % 2 == FirstRowOf(keep);
                // Beyond the reach of the square's combed edges (64 pixels,
                // in blocks of 16) nothing may change.
                if (kept || x >= 176) {
                    changedFar += got != woven(x, y);
                }
                // Inside the square, clear of its soft edges.
                if (!kept && y >= 24 && y < 56 && x >= left + 8 && x < left + 32) {
                    wrongInside += got != test::PhotoWithSquare(x, y, left, 20, 40);
                }
            }
        }
        EXPECT_EQ(changedFar, 0);
        EXPECT_EQ(wrongInside, 0);
    }
}

// A still double road line beside a moving square: the line marks the rows
// beside it, never firmly, so it keeps every captured pixel (rebuilt from one
// field it would come out as steps).
TEST(DeinterlaceAdaptive, KeepsStillLinesBesideMotion) {
    const auto lineRow = [](int32_t x) { return 62 - x / 12; };  // rising a row in twelve pixels
    const test::Scene scene = [lineRow](int32_t x, int32_t y) {
        const bool square = x >= (y % 2 ? 36 : 30) && x < (y % 2 ? 76 : 70) && y >= 10 && y < 50;
        const bool line = x >= 90 && (y == lineRow(x) || y == lineRow(x) + 4);
        return square ? PackRgb(240, 220, 60)
               : line ? PackRgb(215, 190, 60)
                      : test::Grey(100 + x / 8);
    };
    CImageSurface surface;
    test::MakePicture(surface, 300, 80, scene);
    EXPECT_TRUE(DeinterlaceAdaptive(RowsOf(*surface.GetImage())).combed);
    int changed = 0;
    for (int32_t x = 90; x < 300; ++x) {
        for (int32_t y = lineRow(x) - 2; y <= lineRow(x) + 6; ++y) {
            changed += surface.GetPixel(x, y) != scene(x, y);
        }
    }
    EXPECT_EQ(changed, 0);
}

// A square moving over a smooth still scene whose second field is a little
// brighter, as a camera's fields often are: beside the square's combed edges,
// where its pixels are rebuilt, the scene's pixels differ from what the kept
// field predicts by less than a sign of combing and keep their captured
// values; the combed edges themselves are rebuilt.
TEST(DeinterlaceAdaptive, KeepsCapturedPixelsTheRebuiltOnesAgreeWith) {
    const Field fields[] = {Field::Top, Field::Bottom};
    for (const Field keep : fields) {
        SCOPED_TRACE(keep == Field::Top ? "keep top" : "keep bottom");
        const test::Scene scene = [](int32_t x, int32_t y) {
            const bool square =
                x >= (y % 2 ? 36 : 30) && x < (y % 2 ? 76 : 70) && y >= 10 && y < 50;
            return square ? PackRgb(240, 220, 60) : test::Grey(100 + x / 8 + 2 * (y % 2));
        };
        CImageSurface surface;
        test::MakePicture(surface, 300, 64, scene);
        EXPECT_TRUE(DeinterlaceAdaptive(RowsOf(*surface.GetImage()), keep).combed);
        int changedBeside = 0;
        int keptInEdges = 0;
        for (int32_t y = 1 - FirstRowOf(keep); y < 64; y += 2) {
            for (int32_t x = 0; x < 300; ++x) {
                const bool changed = surface.GetPixel(x, y) != scene(x, y);
                if (x < 30 || x >= 76) {
                    changedBeside += changed;
                } else if (y >= 12 && y < 48 && (x < 36 || x >= 70)) {
                    keptInEdges += !changed;
                }
            }
        }
        EXPECT_EQ(changedBeside, 0);
        EXPECT_EQ(keptInEdges, 0);
    }
}

// The whole photo moved between the fields, as in a pan: nothing is still, so
// the other field is rebuilt everywhere, as keeping the field does.
TEST(DeinterlaceAdaptive, RebuildsTheWholeFieldWhenEverythingMoved) {
    const test::Scene panned = [](int32_t x, int32_t y) { return test::Photo(x + 3 * (y % 2), y); };
    CImageSurface adaptive;
    CImageSurface kept;
    test::MakePicture(adaptive, 300, 96, panned);
    test::MakePicture(kept, 300, 96, panned);
    const CombingReport report = DeinterlaceAdaptive(RowsOf(*adaptive.GetImage()), Field::Top);
    InterpolateField(RowsOf(*kept.GetImage()), Field::Top);
    EXPECT_TRUE(report.combed);
    EXPECT_EQ(test::BlockBytes(*adaptive.GetImage()), test::BlockBytes(*kept.GetImage()));
}

// People spread over a still square put teeth in every part of the picture,
// but in few of its textured blocks: that is no pan, and most of the square
// between them is kept as captured, where a pan would rebuild every row of
// the other field.
TEST(DeinterlaceAdaptive, KeepsTheStillSceneBetweenSubjectsSpreadAllOver) {
    // A subject in each ninth of a PAL frame, moving six pixels between the fields.
    constexpr int32_t kWidth = 960;
    constexpr int32_t kHeight = 576;
    const test::Scene spread = [](int32_t x, int32_t y) {
        const int32_t cx = x % 320 - (y % 2 ? 6 : 0);
        const int32_t cy = y % 192;
        return cx >= 150 && cx < 170 && cy >= 84 && cy < 108 ? PackRgb(240, 220, 60)
                                                             : test::Photo(x, y);
    };
    CImageSurface surface;
    test::MakePicture(surface, kWidth, kHeight, spread);
    EXPECT_TRUE(DeinterlaceAdaptive(RowsOf(*surface.GetImage()), Field::Top).combed);
    int changed = 0;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            changed += surface.GetPixel(x, y) != spread(x, y);
        }
    }
    EXPECT_LT(changed, kWidth * kHeight / 10);
}

}  // namespace
}  // namespace tessary
