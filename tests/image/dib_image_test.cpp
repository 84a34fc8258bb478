#include "image/dib_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "formats/bmp_file.h"
#include "formats/dib.h"
#include "platform/file_handle.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::BmpBuilder;
using test::BmpColor;
using test::Bytes;
using test::TempDir;

const uint8_t* PixelArray(const CDibImage& image) {
    const MemoryBlock& dib = image.GetDib();
    return dib.Data() + DibPixelOffset(ParseInfoHeader(dib.Data()));
}

uint32_t Pattern(int32_t x, int32_t y) {
    return PackRgb(static_cast<uint32_t>(x * 20 + 3), static_cast<uint32_t>(y * 30 + 5), 0x99);
}

// Loads a BMP made by the builder into a store.
void LoadInto(CDibImage& image, const TempDir& dir, const Bytes& bytes) {
    const std::string path = dir.File("in.bmp");
    ASSERT_TRUE(test::WriteBytes(path, bytes));
    image.LoadBmp(path.c_str());
}

// Runs `check` on the store unlocked and again while locked, so that both
// paths of the pixel operations are held to the same results.
template <typename Check>
void InBothLockStates(CDibImage& image, Check check) {
    check("unlocked");
    ASSERT_EQ(image.Lock(), 1);
    check("locked");
    image.Unlock();
}

// ---- a new store ----

TEST(CDibImage, NewStoreIsATenByTenBlackTrueColourImage) {
    CDibImage image;
    EXPECT_EQ(image.GetWidth(), 10);
    EXPECT_EQ(image.GetHeight(), 10);
    EXPECT_EQ(image.GetBitCount(), 24u);
    EXPECT_STREQ(image.GetFileName(), "");
    EXPECT_EQ(image.IsLocked(), 0);
    EXPECT_EQ(image.IsLoadFailed(), 0);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            ASSERT_EQ(image.GetPixel(x, y), 0u) << x << "," << y;
        }
    }
    ASSERT_NE(image.GetDisplayBitmap(), nullptr);
    EXPECT_TRUE(image.GetDisplayBitmap()->madeWithPalette);
    EXPECT_EQ(image.GetDisplayBitmap()->width, 10);
}

TEST(CDibImage, FixedPaletteForTrueColourWithoutTable) {
    CDibImage image;
    const LogicalPalette* palette = image.GetPalette();
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->version, 0x300);
    ASSERT_EQ(palette->count, 256u);
    struct Entry {
        int index;
        uint8_t red, green, blue;
    };
    for (const Entry& e : std::vector<Entry>{{0, 0, 0, 0},
                                             {1, 32, 0, 0},
                                             {7, 224, 0, 0},
                                             {8, 0, 32, 0},
                                             {63, 224, 224, 0},
                                             {64, 0, 0, 64},
                                             {192, 0, 0, 192},
                                             {255, 224, 224, 192}}) {
        const PaletteEntry& p = palette->entries[e.index];
        EXPECT_EQ(p.red, e.red) << e.index;
        EXPECT_EQ(p.green, e.green) << e.index;
        EXPECT_EQ(p.blue, e.blue) << e.index;
        EXPECT_EQ(p.flags, 0) << e.index;
    }
}

// ---- pixels ----

TEST(CDibImage, OutOfRangeReadsGreyAndWritesAreDropped) {
    CDibImage image;
    const std::vector<std::pair<int32_t, int32_t>> outside = {{-1, 0},
                                                              {10, 0},
                                                              {0, -1},
                                                              {0, 10},
                                                              {INT32_MIN, 0},
                                                              {0, INT32_MIN},
                                                              {INT32_MAX, INT32_MAX},
                                                              {0, INT32_MAX}};
    InBothLockStates(image, [&](const char* state) {
        for (auto [x, y] : outside) {
            image.SetPixel(x, y, 0xFFFFFF);
            EXPECT_EQ(image.GetPixel(x, y), kOutOfRangeGrey) << state << " " << x << "," << y;
        }
    });
    const MemoryBlock& dib = image.GetDib();
    for (uint64_t i = 40; i < dib.Size(); ++i) {
        ASSERT_EQ(dib.Data()[i], 0) << i;
    }
}

TEST(CDibImage, ColourPackingAndPixelBytes) {
    CDibImage image;
    InBothLockStates(image, [&](const char* state) {
        // Bytes from bit 0 up: 0x12, 0x34, 0x56.
        image.SetPixel(2, 9, 0x00563412u);
        EXPECT_EQ(image.GetPixel(2, 9), 0x00563412u) << state;
        image.SetPixel(3, 9, 0xFF563412u);
        EXPECT_EQ(image.GetPixel(3, 9), 0x00563412u) << state;
    });
    // (x, 9) is the bottom row: the first in the array. Blue, green, red.
    const uint8_t* row = PixelArray(image);
    EXPECT_EQ(Bytes(row + 6, row + 12), (Bytes{0x56, 0x34, 0x12, 0x56, 0x34, 0x12}));
}

TEST(CDibImage, StrideOfLoadedImagesAndOrientation) {
    TempDir dir;
    for (int32_t width : {1, 2, 3, 10}) {
        for (int32_t height : {3, -3}) {
            CDibImage image;
            LoadInto(image, dir, BmpBuilder(width, height, 24).Pixels24(Pattern).Build());
            ASSERT_EQ(image.GetHeight(), 3);
            InBothLockStates(image, [&](const char* state) {
                for (int32_t y = 0; y < 3; ++y) {
                    for (int32_t x = 0; x < width; ++x) {
                        ASSERT_EQ(image.GetPixel(x, y), Pattern(x, y))
                            << state << " w" << width << " h" << height << " " << x << "," << y;
                    }
                }
            });
        }
    }
    CDibImage one;
    LoadInto(one, dir, BmpBuilder(1, 2, 24).PixelArray({1, 2, 3, 9, 4, 5, 6, 9}).Build());
    EXPECT_EQ(one.GetPixel(0, 0), PackRgb(6, 5, 4));  // stride 4: padding skipped
    EXPECT_EQ(one.GetPixel(0, 1), PackRgb(3, 2, 1));
}

TEST(CDibImage, ColourTableAheadOfTrueColourPixels) {
    TempDir dir;
    CDibImage image;
    LoadInto(image, dir,
             BmpBuilder(2, 1, 24)
                 .ClrUsed(2)
                 .Palette({BmpColor{10, 20, 30, 0}, BmpColor{40, 50, 60, 0}})
                 .PixelArray({1, 2, 3, 4, 5, 6, 0, 0})
                 .Build());
    EXPECT_EQ(image.GetPixel(1, 0), PackRgb(6, 5, 4));
    const LogicalPalette* palette = image.GetPalette();
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->count, 2u);
    EXPECT_EQ(palette->entries[1].red, 40);
    EXPECT_EQ(palette->entries[1].blue, 60);
}

TEST(CDibImage, OtherDepthsReadBlackAndTakeNoWrites) {
    TempDir dir;
    CDibImage image;
    const Bytes file = BmpBuilder(4, 2, 8).GreyPalette(256).PixelArray(Bytes(8, 0x42)).Build();
    LoadInto(image, dir, file);
    ASSERT_EQ(image.GetBitCount(), 8u);
    InBothLockStates(image, [&](const char* state) {
        image.SetPixel(1, 1, 0xFFFFFF);
        EXPECT_EQ(image.GetPixel(1, 1), 0u) << state;
        EXPECT_EQ(image.GetPixel(4, 0), kOutOfRangeGrey) << state;  // range test comes first
    });
    EXPECT_EQ(Bytes(PixelArray(image), PixelArray(image) + 8), Bytes(8, 0x42));
    ASSERT_NE(image.GetPalette(), nullptr);
    EXPECT_EQ(image.GetPalette()->count, 256u);
    EXPECT_EQ(image.GetPalette()->entries[200].green, 200);
}

TEST(CDibImage, SetBitsCopiesToThePixelArrayButNeverPastIt) {
    CDibImage image;
    const Bytes bytes = {0x10, 0x20, 0x30};
    EXPECT_EQ(image.SetBits(bytes.data(), 3), 1);
    EXPECT_EQ(image.GetPixel(0, 9), PackRgb(0x30, 0x20, 0x10));
    const Bytes tooMany(321, 0xAA);
    EXPECT_EQ(image.SetBits(tooMany.data(), 321), 0);
    EXPECT_EQ(image.GetPixel(0, 9), PackRgb(0x30, 0x20, 0x10));
    const Bytes exact(320, 0x01);
    EXPECT_EQ(image.SetBits(exact.data(), 320), 1);
    EXPECT_EQ(image.GetPixel(9, 0), 0x010101u);
}

// ---- locks ----

TEST(CDibImage, LocksDoNotNest) {
    CDibImage image;
    EXPECT_EQ(image.Lock(), 1);
    EXPECT_EQ(image.Lock(), 1);
    EXPECT_EQ(image.IsLocked(), 1);
    EXPECT_EQ(image.Unlock(), 1);
    EXPECT_EQ(image.IsLocked(), 0);
    EXPECT_EQ(image.GetDib().LockCount(), 0);
    EXPECT_EQ(image.Unlock(), 1);
}

TEST(CDibImage, UnlockFromTheLockedStateRebuildsPaletteAndBitmap) {
    CDibImage image;
    const uint64_t before = image.GetDisplayBitmap()->serial;
    image.Unlock();  // not locked: nothing is rebuilt
    EXPECT_EQ(image.GetDisplayBitmap()->serial, before);
    image.GetPixel(0, 0);  // an unlocked access locks only for itself
    EXPECT_EQ(image.GetDisplayBitmap()->serial, before);
    EXPECT_EQ(image.GetDib().LockCount(), 0);

    image.Lock();
    image.SetPixel(0, 0, 0x123456);
    EXPECT_EQ(image.GetDisplayBitmap()->serial, before);
    image.Unlock();
    ASSERT_NE(image.GetDisplayBitmap(), nullptr);
    EXPECT_GT(image.GetDisplayBitmap()->serial, before);
    ASSERT_NE(image.GetPalette(), nullptr);
    EXPECT_EQ(image.GetPalette()->count, 256u);
    EXPECT_EQ(image.GetDib().LockCount(), 0);
}

// ---- loading ----

TEST(CDibImage, PathOfNoFileGivesTheEightBitPlaceholder) {
    TempDir dir;
    CDibImage image;
    image.LoadBmp(dir.File("missing.bmp").c_str());
    EXPECT_EQ(image.IsLoadFailed(), 1);
    EXPECT_EQ(image.GetWidth(), 10);
    EXPECT_EQ(image.GetHeight(), 10);
    EXPECT_EQ(image.GetBitCount(), 8u);
    EXPECT_EQ(image.GetLoadReport().source, LoadSource::MissingFile);
    EXPECT_EQ(image.GetPixel(5, 5), 0u);
    EXPECT_EQ(image.GetPixel(10, 5), kOutOfRangeGrey);
    const LogicalPalette* palette = image.GetPalette();
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->count, 256u);
    for (uint32_t i = 0; i < palette->count; ++i) {
        const PaletteEntry& e = palette->entries[i];
        ASSERT_EQ(e.red | e.green | e.blue, 0) << i;
    }
    const MemoryBlock& dib = image.GetDib();
    for (uint64_t i = 40; i < dib.Size(); ++i) {
        ASSERT_EQ(dib.Data()[i], 0) << i;
    }
}

TEST(CDibImage, AFileThatCantBeReadLeavesNoImage) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("text.bmp"), Bytes(100, 'x')));
    ASSERT_EQ(mkdir(dir.File("folder.bmp").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.bmp").c_str(), 0600), 0);  // must not block
    ASSERT_TRUE(test::WriteBytes(dir.File("huge.bmp"),
                                 BmpBuilder(3000000, 2000000, 24).PixelArray({}).Build()));
    struct Case {
        const char* name;
        StatusCode status;
    };
    for (const Case& c : std::vector<Case>{{"text.bmp", StatusCode::NotThisFormat},
                                           {"folder.bmp", StatusCode::IoError},
                                           {"fifo.bmp", StatusCode::IoError},
                                           {"huge.bmp", StatusCode::TooLarge}}) {
        CDibImage image;
        image.LoadBmp(dir.File(c.name).c_str());
        EXPECT_FALSE(image.HasImage()) << c.name;
        EXPECT_EQ(image.IsLoadFailed(), 0) << c.name;
        EXPECT_EQ(image.GetLoadReport().source, LoadSource::None) << c.name;
        EXPECT_EQ(image.GetLoadReport().status.code, c.status) << c.name;
        EXPECT_EQ(image.GetWidth(), 0);
        EXPECT_EQ(image.GetHeight(), 0);
        EXPECT_EQ(image.GetBitCount(), 0u);
        EXPECT_EQ(image.GetPixel(0, 0), kOutOfRangeGrey);
        EXPECT_EQ(image.Lock(), 0);
        EXPECT_EQ(image.Unlock(), 0);
        EXPECT_EQ(image.GetPalette(), nullptr);
        EXPECT_EQ(image.GetDisplayBitmap(), nullptr);
        image.SaveBmp(dir.File("out.bmp").c_str());
        EXPECT_FALSE(image.GetSaveReport().written);
        EXPECT_FALSE(test::FileExists(dir.File("out.bmp")));
    }
}

TEST(CDibImage, ALoadAfterARefusedFileStillLoads) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("text.bmp"), Bytes(100, 'x')));
    CDibImage image;
    image.LoadBmp(dir.File("text.bmp").c_str());
    ASSERT_FALSE(image.HasImage());
    LoadInto(image, dir, BmpBuilder(3, 2, 24).Pixels24(Pattern).Build());
    ASSERT_TRUE(image.HasImage());
    EXPECT_EQ(image.GetLoadReport().FormatName(), std::string("BMP"));
    EXPECT_EQ(image.GetLoadReport().status.code, StatusCode::Ok);
    EXPECT_EQ(image.GetPixel(2, 1), Pattern(2, 1));
    ASSERT_NE(image.GetDisplayBitmap(), nullptr);
    EXPECT_EQ(image.GetDisplayBitmap()->width, 3);
}

TEST(CDibImage, LoadWhileLockedUnlocksFirst) {
    TempDir dir;
    CDibImage image;
    image.Lock();
    LoadInto(image, dir, BmpBuilder(4, 4, 24).Pixels24(Pattern).Build());
    EXPECT_EQ(image.IsLocked(), 0);
    EXPECT_EQ(image.GetPixel(3, 3), Pattern(3, 3));
    image.Lock();
    EXPECT_EQ(image.GetPixel(3, 3), Pattern(3, 3));  // the cache follows the new image
    image.Unlock();
}

TEST(CDibImage, ZeroSizedImagesHaveNoAddressablePixels) {
    TempDir dir;
    for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{0, 4}, {4, 0}}) {
        CDibImage image;
        LoadInto(image, dir, BmpBuilder(w, h, 24).Build());
        ASSERT_TRUE(image.HasImage());
        InBothLockStates(image, [&](const char*) {
            image.SetPixel(0, 0, 1);
            EXPECT_EQ(image.GetPixel(0, 0), kOutOfRangeGrey);
        });
    }
}

// ---- saving ----

TEST(CDibImage, SaveWritesThePixelsAsChanged) {
    TempDir dir;
    CDibImage image;
    image.Lock();
    image.SetPixel(1, 2, 0x563412);
    const std::string path = dir.File("out.bmp");
    image.SaveBmp(path.c_str());  // unlocks first
    EXPECT_EQ(image.IsLocked(), 0);
    EXPECT_TRUE(image.GetSaveReport().written);
    EXPECT_EQ(image.GetSaveReport().errorNumber, 0);
    const Bytes file = test::ReadBytes(path);
    ASSERT_EQ(file.size(), 374u);
    EXPECT_EQ(Bytes(file.begin() + 14, file.end()),
              Bytes(image.GetDib().Data(), image.GetDib().Data() + 360));

    CDibImage back;
    back.LoadBmp(path.c_str());
    EXPECT_EQ(back.GetPixel(1, 2), 0x563412u);
}

TEST(CDibImage, AFailedSaveIsReportedAndKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("out.bmp");
    ASSERT_TRUE(test::WriteBytes(path, {'o', 'l', 'd'}));
    CDibImage image;
    FailNthWriteForTesting(3, ENOSPC);
    image.SaveBmp(path.c_str());
    FailNthWriteForTesting(0, 0);
    EXPECT_FALSE(image.GetSaveReport().written);
    EXPECT_EQ(image.GetSaveReport().errorNumber, ENOSPC);
    EXPECT_EQ(test::ReadBytes(path), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.bmp"});
}

TEST(CDibImage, SetFileNameKeepsItsOwnCopy) {
    CDibImage image;
    EXPECT_EQ(image.SetFileName(nullptr), 0);
    EXPECT_STREQ(image.GetFileName(), "");
    std::string name = "frame.bmp";
    EXPECT_EQ(image.SetFileName(name.c_str()), 1);
    name[0] = 'X';
    EXPECT_STREQ(image.GetFileName(), "frame.bmp");
}

}  // namespace
}  // namespace tessary
