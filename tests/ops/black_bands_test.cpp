#include "ops/black_bands.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/ops/picture.h"
#include "tests/support/jpeg_builder.h"

namespace tessary {
namespace {

using test::Grey;

constexpr int32_t kWidth = 120;
constexpr int32_t kHeight = 160;
// As wide as a capture: a row's mean is only as sure as its width makes it.
constexpr int32_t kCaptureWidth = 720;
// Rows over which a dark coloured picture brightens by a level: slowly
// enough that its first rows keep the band's brightness.
constexpr int32_t kSlowRise = 8;

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

// A dark scene: the photo squeezed into levels 12 .. 20.
PackedColor DarkScene(int32_t x, int32_t y) {
    return Grey(12 + (int32_t(RedOf(test::Photo(x, y))) - 26) * 8 / 188);
}

// Camera noise around `level` reaching `reach` levels either way, the same in
// every channel as a luma noise is.
PackedColor Noisy(int32_t level, int32_t reach, int32_t x, int32_t y) {
    uint32_t mixed = uint32_t(x) * 2246822519u + uint32_t(y) * 3266489917u + 374761393u;
    mixed = (mixed ^ (mixed >> 15)) * 2246822519u;
    mixed = (mixed ^ (mixed >> 13)) * 3266489917u;
    mixed ^= mixed >> 16;
    // A sum of two uniforms: most pixels near the level, a few at the reach.
    const int32_t a = int32_t((mixed >> 8) % uint32_t(reach + 1));
    const int32_t b = int32_t((mixed >> 20) % uint32_t(reach + 1));
    return Grey(level + a - b);
}

// The band's own black decides where it ends, not a fixed threshold.
TEST(DetectBands, StopsAtTheBandsOwnBlack) {
    struct DarkCase {
        const char* name;
        test::Scene scene;
        int32_t wantTop;
        int32_t wantBottom;
    };
    const DarkCase cases[] = {
        {"dark scene below a band at 0",
         [](int32_t x, int32_t y) { return y < 20 ? Grey(0) : DarkScene(x, y); }, 20, 0},
        {"dark scene between bands at 16",
         [](int32_t x, int32_t y) {
             return y < 14 || y >= kHeight - 18 ? Grey(16) : DarkScene(x, y);
         },
         14, 18},
        {"noisy video black reaching 27",
         [](int32_t x, int32_t y) {
             return y < 40 || y >= kHeight - 40 ? Noisy(16, 11, x, y) : test::Photo(x, y);
         },
         40, 40},
        {"noisy black beside a dark scene",
         [](int32_t x, int32_t y) { return y < 40 ? Noisy(16, 9, x, y) : DarkScene(x, y); }, 40, 0},
        {"dark scene alone", DarkScene, 0, 0},
    };
    for (const DarkCase& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        test::MakePicture(surface, kWidth, kHeight, c.scene);
        const BandReport bands = DetectBands(RowsOf(*surface.GetImage()));
        EXPECT_EQ(bands.top, c.wantTop);
        EXPECT_EQ(bands.bottom, c.wantBottom);
        EXPECT_FALSE(bands.blank);
    }
}

// The camera noise of Noisy alone, as a change of level.
int32_t NoiseOf(int32_t reach, int32_t x, int32_t y) {
    return int32_t(RedOf(Noisy(64, reach, x, y))) - 64;
}

// The bands found in the surface's picture: at most a row of band left at
// either end, never a row of picture taken.
void ExpectBandsWithoutPicture(CImageSurface& surface, int32_t top, int32_t bottom) {
    const BandReport bands = DetectBands(RowsOf(*surface.GetImage()));
    EXPECT_LE(bands.top, top);
    EXPECT_GE(bands.top, top - 1);
    EXPECT_LE(bands.bottom, bottom);
    EXPECT_GE(bands.bottom, bottom - 1);
    EXPECT_FALSE(bands.blank);
}

// Noisy black at 0 and at 16 beside a dark scene under the same camera noise,
// the scene brightening slowly away from the bands: the first rows of picture
// pass for band in level and in noise alike, so the detector may leave a row
// of band but must never cut a row of picture. Under strong noise only the
// scene's blocks, a little brighter or darker than noise leaves them, and its
// slow drift tell it apart; a scene without bands has none to find.
TEST(DetectBands, NeverClipsADarkSceneBesideNoisyBlack) {
    struct FadeCase {
        const char* name;
        int32_t level;  // the bands' black
        int32_t reach;  // of the noise, either way
        int32_t top;
        int32_t bottom;
    };
    const FadeCase cases[] = {
        {"video black, little noise", 16, 4, 24, 30},
        {"black at 0, clipped noise", 0, 9, 32, 28},
        {"video black, noise reaching 27", 16, 11, 40, 36},
        {"top band only, noise reaching 27", 16, 11, 40, 0},
        {"bottom band only, noise reaching 25", 16, 9, 0, 34},
        {"no band, dark scene under noise", 16, 11, 0, 0},
        {"no band, dark scene under little noise", 16, 4, 0, 0},
        {"black at 0, noise reaching 11", 0, 11, 30, 30},
    };
    for (const FadeCase& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        test::MakePicture(surface, kCaptureWidth, kHeight, [&c](int32_t x, int32_t y) {
            const int32_t noise = NoiseOf(c.reach, x, y);
            if (y < c.top || y >= kHeight - c.bottom) {
                return Grey(c.level + noise);
            }
            const int32_t away = std::min(y - c.top, kHeight - c.bottom - 1 - y);
            return Grey(int32_t(RedOf(DarkScene(x, y))) + away / 3 + noise);
        });
        ExpectBandsWithoutPicture(surface, c.top, c.bottom);
    }
}

// The scene after a round trip through the library's JPEG at `quality`, with
// colour at half the width and height.
void MakeJpegPicture(CImageSurface& surface, int32_t width, int32_t height, int quality,
                     const test::Scene& scene) {
    test::Bytes rgb;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const PackedColor c = scene(x, y);
            rgb.insert(rgb.end(), {uint8_t(RedOf(c)), uint8_t(GreenOf(c)), uint8_t(BlueOf(c))});
        }
    }
    test::JpegOptions options;
    options.quality = quality;
    const test::DecodedJpeg decoded =
        test::DecodeJpeg(test::EncodeJpeg(rgb, uint32_t(width), uint32_t(height), options));
    ASSERT_TRUE(decoded.ok);
    ASSERT_EQ(decoded.components, 3);
    test::MakePicture(surface, width, height, [&decoded, width](int32_t x, int32_t y) {
        const uint8_t* p = decoded.samples.data() + 3 * (size_t(y) * size_t(width) + size_t(x));
        return PackRgb(p[0], p[1], p[2]);
    });
}

// A capture-wide picture of `scene`, through JPEG at `quality` in 4:2:0, or as
// drawn for quality 0.
void MakeCapture(CImageSurface& surface, int quality, const test::Scene& scene) {
    if (quality > 0) {
        MakeJpegPicture(surface, kCaptureWidth, kHeight, quality, scene);
    } else {
        test::MakePicture(surface, kCaptureWidth, kHeight, scene);
    }
}

// A flat dark picture of a colour `level` bright: red 4 above, blue 2 below
// the grey of the same brightness.
PackedColor TintedDark(int32_t level) {
    return PackRgb(uint32_t(std::clamp(level + 4, 0, 255)), uint32_t(std::clamp(level - 1, 0, 255)),
                   uint32_t(std::clamp(level - 2, 0, 255)));
}

// A flat dark picture of a cool colour: blue + 2 green + red measure it
// `level` bright, JPEG's luma (0.299 red, 0.587 green, 0.114 blue) nearly a level
// brighter.
PackedColor CoolDark(int32_t level) {
    return PackRgb(uint32_t(std::clamp(level - 1, 0, 255)), uint32_t(std::clamp(level + 3, 0, 255)),
                   uint32_t(std::clamp(level - 5, 0, 255)));
}

// Bands beside a dark picture after JPEG in 4:2:0, their edges on and off the
// blocks of 8 rows of brightness and 16 rows of colour: a block that holds
// both band and picture rings, and the band's rows in it are still band; a
// picture of the band's own brightness and noise, and no detail, that differs
// only in colour is picture; a picture whose colour the shared colour samples
// lend the band's last rows leaves those rows band. The detector may leave a
// row of band, never cut one of picture.
TEST(DetectBands, FindsBandsBesideADarkPictureAfterJpeg) {
    enum class Beside {
        DarkScene,
        Tinted,  // coloured, at the band's brightness
        Cool,    // coloured, at the band's blue + 2 green + red, brighter in JPEG's luma
        Photo,
        Faint,  // the dark scene with a faint colour that varies along the row
    };
    struct JpegCase {
        const char* name;
        int quality;
        int32_t level;  // the bands' black
        int32_t reach;  // of its noise, either way
        Beside beside;  // the picture next to the bands
        int32_t top;
        int32_t bottom;
    };
    const JpegCase cases[] = {
        {"black at 0, off the blocks, quality 75", 75, 0, 0, Beside::DarkScene, 37, 21},
        {"black at 0 with noise, off the blocks, quality 75", 75, 0, 3, Beside::DarkScene, 45, 27},
        {"video black, on the blocks, quality 90", 90, 16, 0, Beside::DarkScene, 40, 24},
        {"noisy video black beside a coloured picture", 0, 16, 6, Beside::Tinted, 40, 34},
        {"noisy black at 8 beside a coloured picture", 0, 8, 4, Beside::Tinted, 36, 30},
        // The picture's colour lent to the band's last rows by 4:2:0, whose
        // stored luma is still the band's.
        {"noisy video black beside a cool picture, quality 90", 90, 16, 3, Beside::Cool, 30, 34},
        {"video black, faint noise, beside a cool picture, quality 90", 90, 16, 1, Beside::Cool, 30,
         34},
        {"strong noise beside a cool picture, quality 90", 90, 16, 4, Beside::Cool, 30, 34},
        {"noisy black at 8 beside a cool picture, quality 90", 90, 8, 3, Beside::Cool, 30, 34},
        {"cool picture, a band on the colour blocks, quality 90", 90, 16, 3, Beside::Cool, 32, 48},
        {"noisy video black beside a cool picture", 0, 16, 3, Beside::Cool, 30, 34},
        // Without noise the coloured picture shows an edge in the stored luma
        // only where it brightens, rows into the picture: colour ends the band.
        {"noiseless video black beside a cool picture, quality 90", 90, 16, 0, Beside::Cool, 37,
         21},
        {"noiseless video black beside a coloured picture", 0, 16, 0, Beside::Tinted, 17, 23},
        // A dark picture's edge of texture rather than of level rings over
        // the band's rows in its block of 8: they stay band.
        {"faint black, edge of texture mid-block, quality 75", 75, 16, 1, Beside::DarkScene, 43,
         21},
        {"noiseless black, edge of texture mid-block, quality 75", 75, 16, 0, Beside::DarkScene, 43,
         21},
        // Where the band fades into the picture, its rows in the picture's
        // block of 8 lean a little both ways with the block's ringing.
        {"faint black fading mid-block, quality 90", 90, 16, 1, Beside::DarkScene, 35, 29},
        {"noisy black fading mid-block, quality 90", 90, 16, 2, Beside::DarkScene, 26, 43},
        // A faint colour is about one shade over the 16 rows of the picture's
        // first colour block, band rows included: the stored luma places the edge.
        {"faint black beside a faintly coloured dark scene, quality 75", 75, 16, 1, Beside::Faint,
         40, 44},
        {"noisy black beside a faintly coloured dark scene, quality 75", 75, 16, 2, Beside::Faint,
         40, 44},
        {"black at 0 with noise beside a photo, off the blocks, quality 75", 75, 0, 2,
         Beside::Photo, 33, 34},
        // JPEG turns the clipped noise of a black at 0 into blocks a level
        // apart, which a dark picture's smooth content would show too, but
        // they stray less than half a level: still a band's first row.
        {"black at 0 with noise beside a photo, quality 75", 75, 0, 2, Beside::Photo, 24, 40},
    };
    for (const JpegCase& c : cases) {
        SCOPED_TRACE(c.name);
        const test::Scene scene = [&c](int32_t x, int32_t y) {
            const int32_t noise = c.reach > 0 ? NoiseOf(c.reach, x, y) : 0;
            if (y < c.top || y >= kHeight - c.bottom) {
                return Grey(c.level + noise);
            }
            const int32_t away = std::min(y - c.top, kHeight - c.bottom - 1 - y);
            if (c.beside == Beside::Tinted) {
                return TintedDark(c.level + away / kSlowRise + noise);
            }
            if (c.beside == Beside::Cool) {
                return CoolDark(c.level + away / kSlowRise + noise);
            }
            if (c.beside == Beside::Photo) {
                return test::Photo(x, y);
            }
            if (c.beside == Beside::Faint) {
                const int32_t dark = int32_t(RedOf(DarkScene(x, y))) + noise;
                const int32_t tint = int32_t(RedOf(test::Photo(x, y))) % 3 - 1;
                return PackRgb(uint32_t(dark + tint), uint32_t(dark), uint32_t(dark - tint));
            }
            return Grey(int32_t(RedOf(DarkScene(x, y))) + noise);
        };
        CImageSurface surface;
        MakeCapture(surface, c.quality, scene);
        ExpectBandsWithoutPicture(surface, c.top, c.bottom);
    }
}

// A flat picture of the band's brightness in another colour, after JPEG in
// 4:2:0 without noise, shows an edge in the stored luma only where it
// brightens, rows into the picture, and a block's ringing there: the band's
// colour, not that edge, ends it. Rows of band may be left where the blocks
// blur the colour; not a row of picture may be cut.
TEST(DetectBands, NeverClipsAFlatColouredPictureOfTheBandsBrightness) {
    struct FlatCase {
        const char* name;
        int quality;
        int32_t top;
        int32_t bottom;
        PackedColor (*colour)(int32_t level);
        int32_t reach = 0;  // of the camera noise, either way
    };
    const FlatCase cases[] = {
        {"warm, on the colour blocks, quality 75", 75, 40, 44, TintedDark},
        {"warm, off the blocks, quality 90", 90, 37, 21, TintedDark},
        {"cool, on the luma blocks, quality 75", 75, 24, 32, CoolDark},
        // A dark strip of colour at the edge is picture, not a band.
        {"cool, no band at the top, quality 75", 75, 0, 16, CoolDark},
        {"warm, no bands", 0, 0, 0, TintedDark},
        // Too thin to show its own colour: the band is taken as grey.
        {"warm, a band of one row", 0, 30, 1, TintedDark},
        {"cool, a band of one row, noise", 0, 0, 1, CoolDark, 2},
        // Picture rows of the band's brightness that passed for band leave
        // its colour measured over the rows before their colour block.
        {"warm, a band of 12 rows, noise, quality 90", 90, 12, 30, TintedDark, 1},
        // The band's last row shares its colour sample with the picture's
        // first, whose edge JPEG softened: the pair is left to the picture.
        {"warm, a band ending mid-pair, noise, quality 75", 75, 12, 30, TintedDark, 1},
    };
    for (const FlatCase& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        const test::Scene scene = [&c](int32_t x, int32_t y) {
            const int32_t noise = c.reach > 0 ? NoiseOf(c.reach, x, y) : 0;
            if (y < c.top || y >= kHeight - c.bottom) {
                return Grey(16 + noise);
            }
            return c.colour(16 + noise +
                            std::min(y - c.top, kHeight - c.bottom - 1 - y) / kSlowRise);
        };
        MakeCapture(surface, c.quality, scene);
        const BandReport bands = DetectBands(RowsOf(*surface.GetImage()));
        EXPECT_LE(bands.top, c.top);
        EXPECT_LE(bands.bottom, c.bottom);
        EXPECT_FALSE(bands.blank);
    }
}

// A picture of one colour has no bands to clip, whatever its colour.
TEST(DetectBands, ReportsAOneColourPictureAsBlank) {
    const test::Scene scenes[] = {
        Black,
        [](int32_t, int32_t) { return Grey(0); },
        [](int32_t x, int32_t y) { return Noisy(128, 6, x, y); },
        [](int32_t x, int32_t y) { return PackRgb(200, 30, 90 + (x + y) % 2); },
        [](int32_t x, int32_t y) { return y >= 150 ? Tape(x, y, 150) : Black(x, y); },
    };
    for (const test::Scene& scene : scenes) {
        CImageSurface surface;
        test::MakePicture(surface, kWidth, kHeight, scene);
        const BandReport bands = DetectBands(RowsOf(*surface.GetImage()));
        EXPECT_TRUE(bands.blank);
        EXPECT_EQ(bands.top, 0);
        EXPECT_EQ(bands.bottom, 0);
    }
    const BandReport none = DetectBands(PixelRows{});
    EXPECT_FALSE(none.blank);
    EXPECT_EQ(none.top, 0);
}

}  // namespace
}  // namespace tessary
