#include "ops/field_shift.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ops/field_interpolation.h"
#include "tests/ops/picture.h"

namespace tessary {
namespace {

// Smooth shapes in both directions, without the photo's pixel-sized detail,
// which no row above or below predicts and which any shift matches alike.
PackedColor Shapes(int32_t x, int32_t y) {
    return test::Grey(int32_t(120.0 + 60.0 * std::sin(x * 0.21) * std::cos(y * 0.13) +
                              30.0 * std::sin((x + 2 * y) * 0.17)));
}

// `scene` moved between the fields: the field not kept shows every pixel
// `pan` to the left of and `drop` rows above where the kept one does.
test::Scene Moved(const test::Scene& scene, Field keep, int32_t pan, int32_t drop) {
    return [=](int32_t x, int32_t y) {
        return y % 2 == FirstRowOf(keep) ? scene(x, y) : scene(x + pan, y + drop);
    };
}

int64_t SquaredError(CImageSurface& surface, int32_t width, int32_t height,
                     const test::Scene& truth) {
    int64_t error = 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t d =
                int32_t(GreenOf(surface.GetPixel(x, y))) - int32_t(GreenOf(truth(x, y)));
            error += d * d;
        }
    }
    return error;
}

// Each block away from the picture's edges finds the motion of smooth shapes,
// along the row and by a field row up or down, and the photo's rows come out
// nearer its detail than interpolation alone brings them: the other field
// holds the detail that no kept row predicts.
TEST(FieldShift, FindsTheMotionAndBringsTheOtherFieldsDetailBack) {
    constexpr int32_t kWidth = 160;
    constexpr int32_t kHeight = 64;
    const struct {
        int32_t pan;
        int32_t drop;
    } cases[] = {{0, 0},     {3, 0},      {-5, 0},     {kMaxShift, 0}, {-kMaxShift, 0},
                 {0, kLift}, {0, -kLift}, {-4, kLift}, {6, -kLift}};
    for (const Field keep : {Field::Top, Field::Bottom}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "pan " << c.pan << ", drop " << c.drop
                                            << (keep == Field::Top ? ", top" : ", bottom"));
            CImageSurface shapes;
            test::MakePicture(shapes, kWidth, kHeight, Moved(Shapes, keep, c.pan, c.drop));
            const FieldShifts shifts(RowsOf(*shapes.GetImage()), keep);
            for (int32_t y = kShiftBlockRows; y < kHeight - kShiftBlockRows; ++y) {
                if (y % 2 == FirstRowOf(keep)) {
                    continue;
                }
                const BlockShift* found = shifts.Of(y);
                for (int32_t b = 1; b + 1 < kWidth / kShiftBlock; ++b) {
                    ASSERT_EQ(found[b].dx, -c.pan) << "row " << y << ", block " << b;
                    ASSERT_EQ(found[b].dy, -c.drop) << "row " << y << ", block " << b;
                }
            }
            CImageSurface shifted;
            CImageSurface interpolated;
            test::MakePicture(shifted, kWidth, kHeight, Moved(test::Photo, keep, c.pan, c.drop));
            test::MakePicture(interpolated, kWidth, kHeight,
                              Moved(test::Photo, keep, c.pan, c.drop));
            KeepField(RowsOf(*shifted.GetImage()), keep);
            InterpolateField(RowsOf(*interpolated.GetImage()), keep);
            EXPECT_LT(SquaredError(shifted, kWidth, kHeight, test::Photo),
                      SquaredError(interpolated, kWidth, kHeight, test::Photo) * 9 / 10);
        }
    }
}

// Half a frame row up or down no shift follows: where the kept rows already
// predict a smooth picture better than any shifted row, the rows come out as
// interpolation alone makes them.
TEST(FieldShift, KeepsTheInterpolationWhereNoShiftPredictsBetter) {
    constexpr int32_t kWidth = 96;
    constexpr int32_t kHeight = 48;
    for (const Field keep : {Field::Top, Field::Bottom}) {
        for (const int32_t drop : {1, -1}) {
            SCOPED_TRACE(testing::Message()
                         << "drop " << drop << (keep == Field::Top ? ", top" : ", bottom"));
            CImageSurface shifted;
            CImageSurface interpolated;
            test::MakePicture(shifted, kWidth, kHeight, Moved(Shapes, keep, 0, drop));
            test::MakePicture(interpolated, kWidth, kHeight, Moved(Shapes, keep, 0, drop));
            KeepField(RowsOf(*shifted.GetImage()), keep);
            InterpolateField(RowsOf(*interpolated.GetImage()), keep);
            EXPECT_EQ(test::BlockBytes(*shifted.GetImage()),
                      test::BlockBytes(*interpolated.GetImage()));
        }
    }
}

}  // namespace
}  // namespace tessary
