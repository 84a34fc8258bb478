#include "ops/combing.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/ops/picture.h"

namespace tessary {
namespace {

using test::Grey;

struct CombCase {
    const char* name;
    int32_t height;
    test::Scene scene;
    bool combed;
};

TEST(DetectCombing, TellsWovenMotionFromStillDetail) {
    const CombCase cases[] = {
        {"still photo", 48, test::Photo, false},
        {"still photo with a square", 48,
         [](int32_t x, int32_t y) { return test::PhotoWithSquare(x, y, 20, 10, 24); }, false},
        {"a one-row line", 48,
         [](int32_t x, int32_t y) { return y == 21 ? Grey(250) : test::Photo(x, y); }, false},
        {"square moved between the fields", 48, test::WovenSquare(20, 10, 24, 6), true},
        {"square moved, tall enough to be sampled", 160, test::WovenSquare(20, 60, 40, 6), true},
        {"still photo, tall enough to be sampled", 160, test::Photo, false},
    };
    for (const CombCase& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        test::MakePicture(surface, 80, c.height, c.scene);
        const CombingReport report = DetectCombing(RowsOf(*surface.GetImage()));
        EXPECT_EQ(report.combed, c.combed) << "score " << report.score;
        EXPECT_EQ(report.combed, report.score > kCombedScore);
        EXPECT_GE(report.score, 0.0);
        EXPECT_LE(report.score, 100.0);
    }
}

TEST(DetectCombing, MarksTheMovingEdgesOnly) {
    CImageSurface surface;
    test::MakePicture(surface, 80, 48, test::WovenSquare(20, 10, 24, 6));
    CombTeeth teeth;
    FindCombTeeth(RowsOf(*surface.GetImage()), teeth);
    int inside = 0;
    int outside = 0;
    for (int32_t y = 0; y < 48; ++y) {
        for (int32_t x = 0; x < 80; ++x) {
            // Where the fields differ: the strips the square left and entered,
            // give or take the rows at its top and bottom edges.
            const bool moved = y >= 8 && y < 36 && ((x >= 20 && x < 26) || (x >= 44 && x < 50));
            (moved ? inside : outside) += teeth.MarksOf(y)[x] & kTooth;
        }
    }
    EXPECT_GT(inside, 100);
    EXPECT_EQ(outside, 0);
}

// A thin still line marks the rows on either side of it and never its own,
// noise marks rows one at a time: neither leaves a firm tooth, which is what
// the adaptive repair rebuilds from. Moving edges do, noisy or not, moved far
// or by a step narrower than a run of teeth.
TEST(FindCombTeeth, FirmTeethOnlyWhereTheFieldsMoved) {
    const auto line = [](int32_t x, int32_t y) {
        return y == 21 || y == 24 ? PackRgb(215, 190, 60) : test::Photo(x, y);
    };
    // Two lines five rows apart rising one row in six pixels (about 10 degrees).
    const auto diagonal = [](int32_t x, int32_t y) {
        const int32_t row = 30 - x / 6;
        return y == row || y == row + 5 ? PackRgb(215, 190, 60) : Grey(100);
    };
    struct Case {
        const char* name;
        test::Scene scene;
        int firmAtLeast;  // 0: still, no firm tooth at all
    } const cases[] = {
        {"still double line", line, 0},
        {"still shallow double line", diagonal, 0},
        {"noisy still photo", test::Noisy(test::Photo, 12), 0},
        {"noisy still double line", test::Noisy(line, 12), 0},
        {"square moved", test::WovenSquare(20, 10, 24, 6), 50},
        {"noisy square moved", test::Noisy(test::WovenSquare(20, 10, 24, 6), 12), 50},
        // Teeth two pixels wide, too narrow for a run: found as columns.
        {"square moved two pixels", test::WovenSquare(20, 10, 30, 2), 20},
        {"noisy square moved two pixels", test::Noisy(test::WovenSquare(20, 10, 30, 2), 12), 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        test::MakePicture(surface, 80, 48, c.scene);
        const PixelRows rows = RowsOf(*surface.GetImage());
        CombTeeth teeth;
        FindCombTeeth(rows, teeth);
        int firm = 0;
        for (int32_t y = 0; y < 48; ++y) {
            for (int32_t x = 0; x < 80; ++x) {
                firm += (teeth.MarksOf(y)[x] & kFirmTooth) != 0;
            }
        }
        if (c.firmAtLeast > 0) {
            EXPECT_GE(firm, c.firmAtLeast);
        } else {
            EXPECT_EQ(firm, 0);
        }
        EXPECT_EQ(DetectCombing(rows).combed, c.firmAtLeast > 0);
    }
}

// The noise level is the picture's own: a clean picture keeps the least
// contrasts, a noisy one raises them with its noise.
TEST(MeasureNoise, RisesWithThePicturesNoise) {
    const test::Scene smooth = [](int32_t x, int32_t y) {
        return Grey(int32_t(120.0 + 60.0 * std::sin(x * 0.07) * std::cos(y * 0.05)));
    };
    int32_t last = -1;
    for (const int32_t amount : {0, 4, 12, 24}) {
        SCOPED_TRACE(amount);
        CImageSurface surface;
        test::MakePicture(surface, 90, 70, amount ? test::Noisy(smooth, amount) : smooth);
        const int32_t noise = MeasureNoise(RowsOf(*surface.GetImage()));
        EXPECT_GT(noise, last);
        last = noise;
        const CombThresholds t = ThresholdsForNoise(noise);
        EXPECT_GE(t.tooth, kToothContrast);
        EXPECT_GE(t.weak, kWeakContrast);
        EXPECT_GE(t.tooth, t.weak);  // every tooth is a weak sign too
        if (amount == 0) {
            EXPECT_EQ(t.tooth, kToothContrast);
            EXPECT_EQ(t.weak, kWeakContrast);
        }
    }
}

// The adaptive repair's one pass must come to the detector's verdict, with
// the same teeth as the plain search, on pictures counted whole and sampled.
TEST(FindCombedAreas, ReportsWhatTheDetectorReports) {
    const CombCase cases[] = {
        {"small, square moved", 48, test::WovenSquare(20, 10, 24, 6), true},
        {"sampled, square across band edges", 160, test::WovenSquare(10, 3, 120, 5), true},
        {"sampled, odd height, small square", 101, test::WovenSquare(30, 33, 14, 7), true},
        {"sampled, still", 75, test::Photo, false},
        {"sampled, panned", 160,
         [](int32_t x, int32_t y) { return test::Photo(y % 2 ? x + 3 : x, y); }, true},
        {"sampled, a one-row line", 96,
         [](int32_t x, int32_t y) { return y == 43 ? Grey(250) : test::Photo(x, y); }, false},
    };
    for (const CombCase& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        test::MakePicture(surface, 80, c.height, c.scene);
        const PixelRows rows = RowsOf(*surface.GetImage());
        const CombingReport detected = DetectCombing(rows);
        CombTeeth areas;
        const CombingReport found = FindCombedAreas(rows, areas);
        EXPECT_EQ(found.score, detected.score);
        EXPECT_EQ(found.combed, c.combed);
        EXPECT_EQ(found.combed, detected.combed);
        EXPECT_EQ(found.keep, detected.keep);
        CombTeeth teeth;
        FindCombTeeth(rows, teeth);
        for (int32_t y = 0; y < c.height; ++y) {
            for (int32_t x = 0; x < 80; ++x) {
                ASSERT_EQ(areas.MarksOf(y)[x], teeth.MarksOf(y)[x]) << x << "," << y;
            }
        }
    }
}

TEST(DetectCombing, NothingToFindInAnEmptyOrTinyPicture) {
    EXPECT_FALSE(DetectCombing(PixelRows{}).combed);
    CImageSurface surface;
    test::MakePicture(surface, 3, 4, [](int32_t, int32_t y) { return Grey(y % 2 ? 255 : 0); });
    const CombingReport report = DetectCombing(RowsOf(*surface.GetImage()));
    EXPECT_FALSE(report.combed);
    EXPECT_EQ(report.score, 0.0);
}

}  // namespace
}  // namespace tessary
