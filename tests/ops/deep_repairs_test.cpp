// Repairs of pictures with 16-bit samples: the same result as at 8 bits, and
// each 16-bit kernel against a plain per-pixel reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>

#include "image/deep_rows.h"
#include "ops/deinterlace_method.h"
#include "ops/field_interpolation.h"
#include "ops/field_ops.h"
#include "tests/ops/picture.h"

namespace tessary {
namespace {

// A still photo whose three channels differ, so that a swap of red and blue shows.
PackedColor ColourPhoto(int32_t x, int32_t y) {
    const uint32_t hash = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u);
    const auto level = [](double v) { return uint32_t(std::clamp(v, 0.0, 255.0)); };
    return PackRgb(level(120 + 70 * std::sin(x * 0.07) * std::cos(y * 0.05) + hash % 9),
                   level(100 + 50 * std::sin((x + y) * 0.11) + hash % 5),
                   level(40 + x % 60 + 40 * std::cos(y * 0.13)));
}

// A square moved 6 pixels between the fields over the photo: partly combed.
PackedColor WovenColour(int32_t x, int32_t y) {
    const int32_t left = y % 2 == 0 ? 30 : 36;
    if (x >= left && x < left + 40 && y >= 20 && y < 60) {
        return PackRgb(240, 200, 40);
    }
    return ColourPhoto(x, y);
}

// The whole photo moved between the fields: combed everywhere.
PackedColor PannedColour(int32_t x, int32_t y) {
    return ColourPhoto(x + 3 * (y % 2), y);
}

// Diagonal stripes: edges that the interpolator follows sideways.
PackedColor DiagonalColour(int32_t x, int32_t y) {
    return ((x + y) / 6) % 2 == 0 ? PackRgb(230, 40, 90) : PackRgb(20, 180, 250);
}

// The picture's 16-bit samples: its bytes x 257, plus up to `spread` either
// way, which still rounds to the same byte and shows 16-bit work that cut
// the samples to 8 bits.
DeepPixels DeepOf(CImageSurface& surface, int32_t spread, uint32_t seed) {
    CDibImage& image = *surface.GetImage();
    DeepPixels deep;
    EXPECT_TRUE(deep.Allocate(uint32_t(image.GetWidth()), uint32_t(image.GetHeight())));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> offset(-spread, spread);
    for (uint32_t y = 0; y < deep.height; ++y) {
        for (uint32_t x = 0; x < deep.width; ++x) {
            const PackedColor c = image.GetPixel(int32_t(x), int32_t(y));
            const uint32_t bytes[3] = {RedOf(c), GreenOf(c), BlueOf(c)};
            for (int i = 0; i < 3; ++i) {
                const int32_t sample = int32_t(bytes[i]) * 257 + offset(random);
                deep.Row(y)[3 * x + i] = uint16_t(std::clamp(sample, 0, 65535));
            }
        }
    }
    return deep;
}

// The same picture twice: at 8 bits, and with its samples at 16 bits.
struct TwoDepths {
    CImageSurface bytes;
    CImageSurface deep;
    TwoDepths(int32_t width, int32_t height, const test::Scene& scene, int32_t spread = 0) {
        test::MakePicture(bytes, width, height, scene);
        test::MakePicture(deep, width, height, scene);
        EXPECT_TRUE(deep.GetImage()->SetDeep(DeepOf(deep, spread, 7)));
    }
    const DeepPixels& Samples() { return *deep.GetImage()->GetDeep(); }
};

using Repair = std::function<void(CImageSurface&)>;

struct RepairCase {
    const char* name;
    Repair repair;
};

const RepairCase kRepairs[] = {
    {"average", [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Average); }},
    {"top", [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Top); }},
    {"bottom", [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Bottom); }},
    {"adaptive", [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Adaptive); }},
    {"adaptive, keep bottom",
     [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Adaptive, Field::Bottom); }},
    {"clip", [](CImageSurface& s) { ClipRows(s, 5, 3); }},
    {"soften", [](CImageSurface& s) { SoftenBorders(s, 5, 3); }},
    {"soften the picture's edges", [](CImageSurface& s) { SoftenBorders(s, 0, 0); }},
};

// Every repair at 16 bits on samples that are bytes x 257 gives its 8-bit
// result to within one, and leaves the 8-bit pixels as its samples rounded.
TEST(DeepRepairs, AgreeWithTheirEightBitResults) {
    const std::pair<const char*, test::Scene> scenes[] = {
        {"woven square", WovenColour}, {"panned", PannedColour}, {"diagonal", DiagonalColour}};
    for (const auto& [sceneName, scene] : scenes) {
        for (const RepairCase& c : kRepairs) {
            SCOPED_TRACE(std::string(sceneName) + ", " + c.name);
            TwoDepths picture(160, 70, scene);
            c.repair(picture.bytes);
            c.repair(picture.deep);
            const DeepPixels& samples = picture.Samples();
            int far = 0;
            int unrounded = 0;
            for (int32_t y = 0; y < 70; ++y) {
                for (int32_t x = 0; x < 160; ++x) {
                    const PackedColor want = picture.bytes.GetPixel(x, y);
                    const PackedColor got = picture.deep.GetPixel(x, y);
                    const uint32_t wants[3] = {RedOf(want), GreenOf(want), BlueOf(want)};
                    const uint32_t gots[3] = {RedOf(got), GreenOf(got), BlueOf(got)};
                    for (int i = 0; i < 3; ++i) {
                        const uint16_t sample = samples.Row(uint32_t(y))[3 * x + i];
                        far += std::abs(sample / 257.0 - wants[i]) > 1.0;
                        unrounded += gots[i] != ByteOfSample(sample);
                    }
                }
            }
            EXPECT_EQ(far, 0);
            EXPECT_EQ(unrounded, 0);
        }
    }
}

// The cubic through kept rows 1 and 3 above and below along `step`, edges
// repeated, held to the near pair's range: written plainly, per sample.
template <typename Sample>
int32_t CubicReference(const std::function<Sample(int32_t x, int32_t y, int c)>& at, int32_t x,
                       int32_t y, int c, int32_t step, Field keep, int32_t width, int32_t height) {
    const int32_t first = FirstRowOf(keep);
    const int32_t last = height - 1 - ((height - 1 - first) & 1);
    const auto sample = [&](int32_t dx, int32_t dy) {
        return int32_t(at(std::clamp(x + dx, 0, width - 1), std::clamp(y + dy, first, last), c));
    };
    const int32_t a = sample(step, -1);
    const int32_t b = sample(-step, 1);
    const int32_t value = (9 * (a + b) - sample(3 * step, -3) - sample(-3 * step, 3) + 8) >> 4;
    return std::clamp(value, std::min(a, b), std::max(a, b));
}

// At 16 bits every rebuilt pixel is the cubic along a direction that the
// 8-bit rebuild of the rounded picture took too. Samples off the multiples of
// 257 show any step that worked in bytes.
TEST(DeepRepairs, FieldInterpolationTakesTheEightBitDirections) {
    for (const Field keep : {Field::Top, Field::Bottom}) {
        SCOPED_TRACE(keep == Field::Top ? "top" : "bottom");
        constexpr int32_t kWidth = 90;
        constexpr int32_t kHeight = 41;
        TwoDepths picture(kWidth, kHeight, DiagonalColour, 128);
        const DeepPixels before = [&] {
            DeepPixels copy;
            EXPECT_TRUE(copy.Allocate(kWidth, kHeight));
            std::copy_n(picture.Samples().samples.get(), kWidth * kHeight * 3, copy.samples.get());
            return copy;
        }();
        CDibImage& bytesImage = *picture.bytes.GetImage();
        const std::vector<uint8_t> bytesBefore = test::BlockBytes(bytesImage);
        const PixelRows rows = RowsOf(bytesImage);
        const std::function<uint8_t(int32_t, int32_t, int)> byteAt = [&](int32_t x, int32_t y,
                                                                         int c) {
            // Kept rows are never written, so the repaired rows serve.
            return rows.Row(y)[3 * x + 2 - c];
        };
        const std::function<uint16_t(int32_t, int32_t, int)> sampleAt =
            [&](int32_t x, int32_t y, int c) { return before.Row(uint32_t(y))[3 * x + c]; };
        InterpolateField(rows, keep);
        InterpolateField(RowsOf(*picture.deep.GetImage()), keep,
                         DeepRowsOf(picture.deep.GetImage()->GetDeep()));
        int turned = 0;
        int wrong = 0;
        for (int32_t y = FirstRowOf(OtherField(keep)); y < kHeight; y += 2) {
            for (int32_t x = 0; x < kWidth; ++x) {
                bool matched = false;
                for (int32_t step = -FieldInterpolator::kMaxStep;
                     step <= FieldInterpolator::kMaxStep && !matched; ++step) {
                    bool bytesMatch = true;
                    bool samplesMatch = true;
                    for (int c = 0; c < 3; ++c) {
                        bytesMatch &= CubicReference(byteAt, x, y, c, step, keep, kWidth,
                                                     kHeight) == byteAt(x, y, c);
                        samplesMatch &=
                            CubicReference(sampleAt, x, y, c, step, keep, kWidth, kHeight) ==
                            picture.Samples().Row(uint32_t(y))[3 * x + c];
                    }
                    matched = bytesMatch && samplesMatch;
                    turned += matched && step != 0;
                }
                wrong += !matched;
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(turned, 100);  // the stripes' edges turned the search aside
        for (int32_t y = FirstRowOf(keep); y < kHeight; y += 2) {
            EXPECT_TRUE(std::equal(before.Row(uint32_t(y)), before.Row(uint32_t(y)) + kWidth * 3,
                                   picture.Samples().Row(uint32_t(y))))
                << "kept row " << y;
        }
    }
}

// Average, clip and soften at 16 bits against their plain definitions, on
// samples that are not multiples of 257.
TEST(DeepRepairs, RowRepairsMatchPlainReferences) {
    using Reference = std::function<int32_t(const DeepPixels& in, int32_t x, int32_t y)>;
    constexpr int32_t kHeight = 21;
    const auto faded = [](int32_t y, int32_t top, int32_t bottom) {
        for (int i = 0; i < 3; ++i) {
            if (y == top + i || y == kHeight - 1 - bottom - i) {
                return (i + 1) * 0.25;
            }
        }
        return 1.0;
    };
    const struct {
        const char* name;
        Repair repair;
        Reference reference;
    } cases[] = {
        {"average", [](CImageSurface& s) { Deinterlace(s); },
         [](const DeepPixels& in, int32_t x, int32_t y) {
             if (y == kHeight - 1) {
                 return int32_t(in.Row(uint32_t(y))[x]);
             }
             const int32_t upper = y - y % 2;
             return (in.Row(uint32_t(upper))[x] + in.Row(uint32_t(upper + 1))[x]) / 2;
         }},
        {"clip", [](CImageSurface& s) { ClipRows(s, 4, 2); },
         [](const DeepPixels& in, int32_t x, int32_t y) {
             return y < 4 || y >= kHeight - 2 ? 0 : int32_t(in.Row(uint32_t(y))[x]);
         }},
        {"soften", [](CImageSurface& s) { SoftenBorders(s, 4, 2); },
         [&](const DeepPixels& in, int32_t x, int32_t y) {
             return int32_t(in.Row(uint32_t(y))[x] * faded(y, 4, 2));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TwoDepths picture(23, kHeight, WovenColour, 128);
        DeepPixels before;
        ASSERT_TRUE(before.Allocate(23, kHeight));
        std::copy_n(picture.Samples().samples.get(), 23 * kHeight * 3, before.samples.get());
        c.repair(picture.deep);
        int wrong = 0;
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t i = 0; i < 23 * 3; ++i) {
                wrong += picture.Samples().Row(uint32_t(y))[i] != c.reference(before, i, y);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

}  // namespace
}  // namespace tessary
