#include "ops/field_interpolation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/ops/picture.h"

namespace tessary {
namespace {

using test::Grey;
using test::MakePicture;

struct KeepCase {
    const char* name;
    int32_t width;
    int32_t height;
    Field keep;
};

// Kept rows come out bit for bit, the padding after every row is never
// written, and the picture's edges (first and last rows, odd heights) are safe.
TEST(KeepField, KeptRowsAndPaddingStayBitForBit) {
    const KeepCase cases[] = {
        {"top, even height", 37, 20, Field::Top},  {"bottom, even height", 37, 20, Field::Bottom},
        {"top, odd height", 5, 7, Field::Top},     {"bottom, odd height", 6, 7, Field::Bottom},
        {"bottom, two rows", 9, 2, Field::Bottom}, {"top, one row", 9, 1, Field::Top},
        {"bottom, one row", 9, 1, Field::Bottom},
    };
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        MakePicture(surface, c.width, c.height, [](int32_t x, int32_t y) {
            return PackRgb(uint32_t(x * 37 + y * 11) & 255, uint32_t(x * x + 3 * y) & 255,
                           uint32_t(y * y * 7 + x) & 255);
        });
        CDibImage& image = *surface.GetImage();
        const PixelRows rows = RowsOf(image);
        // Padding bytes get a marker the repair must leave alone.
        const int64_t stride = -rows.step;
        for (int32_t y = 0; y < c.height; ++y) {
            std::fill(rows.Row(y) + rows.RowBytes(), rows.Row(y) + stride, uint8_t{0xA5});
        }
        const std::vector<uint8_t> before = test::BlockBytes(image);
        KeepField(rows, c.keep);
        const std::vector<uint8_t> after = test::BlockBytes(image);
        const uint8_t* block = image.GetDib().Data();
        for (int32_t y = 0; y < c.height; ++y) {
            const size_t row = size_t(rows.Row(y) - block);
            const bool kept = y % 2 == FirstRowOf(c.keep) || c.height == 1;
            const size_t from = kept ? row : row + size_t(rows.RowBytes());
            EXPECT_TRUE(std::equal(before.begin() + from, before.begin() + row + stride,
                                   after.begin() + from))
                << "row " << y;
        }
    }
}

// Rebuilt pixels take their value from the kept neighbours along an edge:
// never beyond them (no ringing at a hard edge), and along a slanted edge the
// edge itself rather than a grey mix of both sides.
TEST(KeepField, FollowsEdgesWithoutOvershoot) {
    struct EdgeCase {
        const char* name;
        test::Scene scene;
        int maxWrong;  // rebuilt pixels allowed to differ from the scene
    };
    const EdgeCase cases[] = {
        {"vertical step", [](int32_t x, int32_t) { return Grey(x < 20 ? 30 : 220); }, 0},
        {"slope of one pixel per row",
         [](int32_t x, int32_t y) { return Grey(x < y + 8 ? 30 : 220); }, 0},
        {"slope of two pixels per row",
         [](int32_t x, int32_t y) { return Grey(x < 2 * y + 4 ? 30 : 220); }, 0},
        {"linear ramp down the rows", [](int32_t, int32_t y) { return Grey(10 + 6 * y); }, 0},
    };
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        MakePicture(surface, 48, 24, c.scene);
        KeepField(RowsOf(*surface.GetImage()), Field::Top);
        int wrong = 0;
        int beyond = 0;
        // Away from the picture's left, right and bottom edges, where the
        // slanted edges leave the picture.
        for (int32_t y = 3; y < 20; y += 2) {
            for (int32_t x = 8; x < 40; ++x) {
                const int32_t got = int32_t(RedOf(surface.GetPixel(x, y)));
                const int32_t up = int32_t(RedOf(c.scene(x, y - 1)));
                wrong += got != int32_t(RedOf(c.scene(x, y)));
                beyond += got < 10 || got > 220 || (up == 30 && got < 30);
            }
        }
        EXPECT_LE(wrong, c.maxWrong);
        EXPECT_EQ(beyond, 0);
    }
}

// Beyond the picture's sides its edge pixels stand in: the same picture
// widened by repeats of its edge columns rebuilds its own columns alike, with
// slanted edges (turns) running into both sides.
TEST(KeepField, SidesActAsRepeatsOfTheEdgePixels) {
    const KeepCase cases[] = {
        {"top, 17 wide", 17, 24, Field::Top}, {"bottom, 17 wide", 17, 24, Field::Bottom},
        {"top, 5 wide", 5, 24, Field::Top},   {"bottom, 2 wide", 2, 24, Field::Bottom},
        {"top, 1 wide", 1, 9, Field::Top},
    };
    constexpr int32_t kRepeats = 16;
    for (const KeepCase& c : cases) {
        SCOPED_TRACE(c.name);
        const test::Scene scene = [&c](int32_t x, int32_t y) {
            x = std::clamp(x, 0, c.width - 1);
            const bool left = x < 2 * y - 20;
            const bool right = x > c.width + 12 - y;
            return PackRgb(left ? 220 : 30, right ? 200 : 40, uint32_t(40 + 11 * x + 3 * y) & 255);
        };
        CImageSurface narrow;
        MakePicture(narrow, c.width, c.height, scene);
        CImageSurface wide;
        MakePicture(wide, c.width + 2 * kRepeats, c.height,
                    [&scene](int32_t x, int32_t y) { return scene(x - kRepeats, y); });
        KeepField(RowsOf(*narrow.GetImage()), c.keep);
        KeepField(RowsOf(*wide.GetImage()), c.keep);
        for (int32_t y = 0; y < c.height; ++y) {
            for (int32_t x = 0; x < c.width; ++x) {
                ASSERT_EQ(narrow.GetPixel(x, y), wide.GetPixel(x + kRepeats, y))
                    << "pixel " << x << ", " << y;
            }
        }
    }
}

TEST(FieldInterpolator, RowsRebuiltOutOfOrderMatchARebuildInOrder) {
    CImageSurface surface;
    MakePicture(surface, 40, 30, test::Photo);
    const PixelRows rows = RowsOf(*surface.GetImage());
    FieldInterpolator inOrder(rows, Field::Bottom);
    FieldInterpolator jumping(rows, Field::Bottom);
    std::vector<uint8_t> expected(size_t(rows.RowBytes()));
    std::vector<uint8_t> got(size_t(rows.RowBytes()));
    std::vector<std::vector<uint8_t>> ordered;
    for (int32_t y = 0; y < 30; y += 2) {
        inOrder.Interpolate(y, expected.data());
        ordered.push_back(expected);
    }
    for (int32_t y : {28, 0, 14, 2, 26, 12}) {
        jumping.Interpolate(y, got.data());
        EXPECT_EQ(got, ordered[size_t(y / 2)]) << "row " << y;
    }
}

// A span comes out byte for byte as in the whole row, slanted edges (turns)
// included, and the bytes outside it stay as they were.
TEST(FieldInterpolator, SpanMatchesTheWholeRow) {
    CImageSurface surface;
    MakePicture(surface, 39, 16, [](int32_t x, int32_t y) {
        return x < y + 8 || x > 2 * y + 20 ? test::Photo(x, y) : Grey(230);
    });
    const PixelRows rows = RowsOf(*surface.GetImage());
    FieldInterpolator whole(rows, Field::Top);
    FieldInterpolator part(rows, Field::Top);
    std::vector<uint8_t> expected(size_t(rows.RowBytes()));
    const std::pair<int32_t, int32_t> spans[] = {{0, 39}, {1, 38}, {5, 6}, {30, 39}, {-4, 9}};
    for (int32_t y = 1; y < 16; y += 2) {
        whole.Interpolate(y, expected.data());
        for (const auto& [from, to] : spans) {
            std::vector<uint8_t> got(expected.size(), 0x5A);
            part.Interpolate(y, got.data(), from, to);
            for (int32_t i = 0; i < rows.RowBytes(); ++i) {
                const bool inside = i >= 3 * from && i < 3 * to;
                ASSERT_EQ(got[size_t(i)], inside ? expected[size_t(i)] : 0x5A)
                    << "row " << y << ", span " << from << " .. " << to << ", byte " << i;
            }
        }
    }
}

}  // namespace
}  // namespace tessary
