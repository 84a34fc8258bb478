#include "ops/deinterlace_method.h"

#include <gtest/gtest.h>

#include "ops/field_ops.h"
#include "tests/ops/picture.h"

namespace tessary {
namespace {

TEST(DeinterlaceMethod, NamesRoundTripAndUnknownNamesAreRefused) {
    const DeinterlaceMethod methods[] = {DeinterlaceMethod::Average, DeinterlaceMethod::Top,
                                         DeinterlaceMethod::Bottom, DeinterlaceMethod::Adaptive};
    for (const DeinterlaceMethod method : methods) {
        EXPECT_EQ(ParseDeinterlaceMethod(NameOf(method)), method);
    }
    for (const char* name : {"", "Average", "blend", "top "}) {
        EXPECT_FALSE(ParseDeinterlaceMethod(name)) << name;
    }
    EXPECT_EQ(ParseField("top"), Field::Top);
    EXPECT_EQ(ParseField("bottom"), Field::Bottom);
    EXPECT_FALSE(ParseField("odd"));
}

TEST(DeinterlaceMethod, AverageIsThePairAverage) {
    CImageSurface viaMethod;
    CImageSurface direct;
    test::MakePicture(viaMethod, 30, 21, test::WovenSquare(5, 4, 10, 4));
    test::MakePicture(direct, 30, 21, test::WovenSquare(5, 4, 10, 4));
    DeinterlaceBy(viaMethod, DeinterlaceMethod::Average);
    Deinterlace(direct);
    EXPECT_EQ(test::BlockBytes(*viaMethod.GetImage()), test::BlockBytes(*direct.GetImage()));
}

// The row repairs work on 24-bit pictures only and leave anything else alone.
TEST(DeinterlaceMethod, RowMethodsLeaveOtherDepthsAlone) {
    for (const DeinterlaceMethod method :
         {DeinterlaceMethod::Top, DeinterlaceMethod::Bottom, DeinterlaceMethod::Adaptive}) {
        CImageSurface surface;
        ASSERT_TRUE(test::LoadBlankImage(*surface.GetImage(), 16, 16, 8));
        EXPECT_TRUE(RowsOf(*surface.GetImage()).IsEmpty());
        const std::vector<uint8_t> before = test::BlockBytes(*surface.GetImage());
        DeinterlaceBy(surface, method);
        EXPECT_EQ(test::BlockBytes(*surface.GetImage()), before);
    }
}

TEST(PixelRows, RowZeroIsTheTopRowInBlueGreenRed) {
    CImageSurface surface;
    test::MakePicture(surface, 3, 4,
                      [](int32_t x, int32_t y) { return PackRgb(uint32_t(10 * x + y), 100, 200); });
    const PixelRows rows = RowsOf(*surface.GetImage());
    ASSERT_FALSE(rows.IsEmpty());
    EXPECT_EQ(rows.width, 3);
    EXPECT_EQ(rows.height, 4);
    EXPECT_EQ(rows.Row(0)[3 * 2 + 0], 200);  // blue of (2, 0)
    EXPECT_EQ(rows.Row(0)[3 * 2 + 2], 20);   // red of (2, 0)
    EXPECT_EQ(rows.Row(3)[2], 3);            // red of (0, 3)
}

}  // namespace
}  // namespace tessary
