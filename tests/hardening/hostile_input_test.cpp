#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/dib.h"
#include "image/image_surface.h"
#include "ops/field_ops.h"
#include "tests/hardening/hardening_support.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/gif_builder.h"
#include "tests/support/jpeg_builder.h"

namespace tessary {
namespace {

using test::BmpBuilder;
using test::Bytes;
using test::Sample;
using test::TempDir;

// Loads the bytes from a file and runs the repairs over the result, as a batch
// file would; the image stays in the surface for the caller to look at.
void LoadAndRepair(CImageSurface& surface, const std::string& path, const Bytes& bytes) {
    ASSERT_TRUE(test::WriteBytes(path, bytes));
    surface.GetImage()->Load(path.c_str());
    surface.Lock();
    Deinterlace(surface);
    ClipRows(surface, 8, 4);
    SoftenBorders(surface, 8, 4);
    surface.Unlock();
}

Bytes Prefix(const Bytes& bytes, size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// ---- Every truncation of a valid file -------------------------------------

TEST(Truncation, EveryPrefixOfABmpLoadsOnlyOnceTheHeaderIsThereAndZeroFillsTheRest) {
    TempDir dir;
    for (const Sample& sample : {test::SmallBmp24(), test::SmallBmp8()}) {
        const Bytes& file = sample.bytes;
        for (size_t length = 0; length <= file.size(); ++length) {
            SCOPED_TRACE("bit count sample of " + std::to_string(file.size()) + " bytes cut to " +
                         std::to_string(length));
            CImageSurface surface;
            CDibImage& image = *surface.GetImage();
            ASSERT_TRUE(test::WriteBytes(dir.File("cut.bmp"), Prefix(file, length)));
            image.Load(dir.File("cut.bmp").c_str());
            if (length < 54) {
                // Too short for the file and information headers: no reader takes it.
                EXPECT_FALSE(image.HasImage());
                EXPECT_EQ(image.GetLoadReport().source, LoadSource::None);
                continue;
            }
            ASSERT_TRUE(image.HasImage());
            EXPECT_EQ(image.GetLoadReport().FormatName(), std::string("BMP"));
            EXPECT_EQ(image.GetWidth(), sample.width);
            EXPECT_EQ(image.GetHeight(), sample.height);
            // Colour table and pixels follow the header directly in both file
            // and block: what the file held is kept, the rest is 0.
            const MemoryBlock& dib = image.GetDib();
            ASSERT_GE(dib.Size(), file.size() - 14);
            for (size_t i = 40; i < file.size() - 14; ++i) {
                const uint8_t expected = i + 14 < length ? file[i + 14] : 0;
                ASSERT_EQ(dib.Data()[i], expected) << "block byte " << i;
            }
        }
    }
}

// Offset of the LZW minimum code size byte of a one-image GIF with a global map.
size_t CodeSizeOffset(const Bytes& gif) {
    size_t offset = 13;
    if ((gif[10] & 0x80) != 0) {
        offset += 3 * (size_t{2} << (gif[10] & 7));
    }
    EXPECT_EQ(gif[offset], ',');
    return offset + 10;
}

TEST(Truncation, EveryPrefixOfAGifGivesAFullSizePictureOnceTheCodeSizeIsRead) {
    TempDir dir;
    const Sample sample = test::SmallGif();
    const Bytes& file = sample.bytes;
    const size_t codeSize = CodeSizeOffset(file);
    for (size_t length = 0; length <= file.size(); ++length) {
        SCOPED_TRACE("cut to " + std::to_string(length));
        CImageSurface surface;
        LoadAndRepair(surface, dir.File("cut.gif"), Prefix(file, length));
        CDibImage& image = *surface.GetImage();
        if (length <= codeSize) {
            EXPECT_FALSE(image.HasImage());
            continue;
        }
        ASSERT_TRUE(image.HasImage());
        EXPECT_EQ(image.GetLoadReport().FormatName(), std::string("GIF"));
        EXPECT_EQ(image.GetWidth(), sample.width);
        EXPECT_EQ(image.GetHeight(), sample.height);
        EXPECT_EQ(image.GetBitCount(), 24);
    }
}

TEST(Truncation, EveryPrefixOfAJpegLoadsAtFullSizeOnceTheScanHeaderIsComplete) {
    TempDir dir;
    const Sample sample = test::SmallJpeg();
    const Bytes& file = sample.bytes;
    size_t scanStart = 0;
    for (size_t i = 2; i + 3 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xDA) {
            scanStart = i;
            break;
        }
    }
    ASSERT_GT(scanStart, 0u);
    const size_t scanHeaderEnd =
        scanStart + 2 + (size_t{file[scanStart + 2]} << 8 | file[scanStart + 3]);
    for (size_t length = 0; length <= file.size(); ++length) {
        SCOPED_TRACE("cut to " + std::to_string(length));
        CImageSurface surface;
        LoadAndRepair(surface, dir.File("cut.jpg"), Prefix(file, length));
        CDibImage& image = *surface.GetImage();
        if (length < scanStart) {
            EXPECT_FALSE(image.HasImage());
            continue;
        }
        if (length < scanHeaderEnd && !image.HasImage()) {
            continue;  // a scan header cut short may or may not be taken
        }
        // Missing entropy data is filled in by the library: the picture keeps its size.
        ASSERT_TRUE(image.HasImage());
        EXPECT_EQ(image.GetLoadReport().FormatName(), std::string("JPEG"));
        EXPECT_EQ(image.GetWidth(), sample.width);
        EXPECT_EQ(image.GetHeight(), sample.height);
    }
}

// ---- Headers that claim enormous sizes --------------------------------------

Bytes GifClaiming(uint16_t width, uint16_t height) {
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    const Bytes descriptor = {',',
                              0,
                              0,
                              0,
                              0,
                              uint8_t(width),
                              uint8_t(width >> 8),
                              uint8_t(height),
                              uint8_t(height >> 8),
                              0,
                              2,
                              2,
                              0x44,
                              0x01,
                              0,
                              ';'};
    gif.insert(gif.end(), descriptor.begin(), descriptor.end());
    return gif;
}

// A hostile file and what to call it in a failure message.
struct NamedFile {
    const char* name;
    Bytes file;
};

Bytes BmpClaiming(int32_t width, int32_t height, size_t fileSize) {
    Bytes bmp = BmpBuilder(1, 1, 24).Build();
    StoreLe32(bmp.data() + 18, uint32_t(width));
    StoreLe32(bmp.data() + 22, uint32_t(height));
    bmp.resize(fileSize, 0x5A);
    return bmp;
}

TEST(HugeHeaders, AreRefusedBeforeAnyLargeAllocation) {
    struct Case {
        const char* name;
        Bytes file;
        StatusCode code;
    };
    const std::vector<Case> cases = {
        {"GIF 65535 x 65535", GifClaiming(65535, 65535), StatusCode::TooLarge},
        {"BMP 3,000,000 x 2,000,000 in 100 bytes", BmpClaiming(3000000, 2000000, 100),
         StatusCode::TooLarge},
        {"BMP 3,000,000 x -2,000,000 in 100 bytes", BmpClaiming(3000000, -2000000, 100),
         StatusCode::TooLarge},
        {"JPEG 65500 x 65500", test::JpegHeaderOnly(65500, 65500), StatusCode::TooLarge},
        // Within the size limit, but far beyond what the bytes can describe.
        {"GIF 16383 x 16383 in a few bytes", GifClaiming(16383, 16383), StatusCode::Damaged},
        {"JPEG 16000 x 16000 without data", test::JpegHeaderOnly(16000, 16000),
         StatusCode::Damaged},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteBytes(dir.File("huge"), c.file));
        const std::string path = dir.File("huge");
        // 0: refused within the memory bound; 1: an image came back; 2: too much memory.
        const int outcome = test::RunInChild([&] {
            const uint64_t before = test::PeakResidentKib();
            CDibImage image;
            image.Load(path.c_str());
            if (image.HasImage() || image.GetLoadReport().status.code != c.code) {
                return 1;
            }
            const uint64_t grown = test::PeakResidentKib() - before;
            return !test::kUnderAsan && grown > 64 * 1024 ? 2 : 0;
        });
        EXPECT_EQ(outcome, 0);
    }
}

// ---- Damaged BMP headers, end to end through the store -----------------------

// After a load the store's pixel addressing must stay inside its block, and the
// picture must survive a BMP round trip.
void ExpectUsableImage(CImageSurface& surface, const TempDir& dir, int32_t width, int32_t height) {
    CDibImage& image = *surface.GetImage();
    ASSERT_TRUE(image.HasImage());
    EXPECT_EQ(image.GetWidth(), width);
    EXPECT_EQ(image.GetHeight(), height);
    image.SaveBmp(dir.File("again.bmp").c_str());
    ASSERT_TRUE(image.GetSaveReport().written);
    CDibImage again;
    again.Load(dir.File("again.bmp").c_str());
    EXPECT_EQ(again.GetWidth(), width);
    EXPECT_EQ(again.GetHeight(), height);
}

TEST(DamagedBmp, InconsistentSizesStillLoadAndRepairInsideTheBlock) {
    auto rgb = [](int32_t x, int32_t y) { return uint32_t(0x102030 + x + y * 16); };
    const BmpBuilder base = BmpBuilder(5, 4, 24).Pixels24(rgb);
    Bytes cutTable = BmpBuilder(5, 4, 8).GreyPalette(256).Build();
    cutTable.resize(54 + 100);  // 25 of 256 colour entries, no pixels
    const std::vector<NamedFile> cases = {
        {"biSizeImage smaller than the rows", BmpBuilder(base).SizeImage(7).Build()},
        {"biSizeImage larger than the rows", BmpBuilder(base).SizeImage(4000).Build()},
        {"bfOffBits beyond the end of the file", BmpBuilder(base).OffBits(1u << 20).Build()},
        {"colour table cut short", cutTable},
        {"16383 colours", BmpBuilder(5, 4, 8).ClrUsed(16383).Build()},
    };
    TempDir dir;
    for (const NamedFile& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        LoadAndRepair(surface, dir.File("damaged.bmp"), c.file);
        ExpectUsableImage(surface, dir, 5, 4);
    }
}

TEST(DamagedBmp, SixteenThousandColoursAndPixelsOfNoBitsAreRefused) {
    Bytes zeroBits = BmpBuilder(4, 4, 24).Build();
    StoreLe16(zeroBits.data() + 28, 0);
    Bytes zeroBitsHuge = zeroBits;
    StoreLe32(zeroBitsHuge.data() + 22, uint32_t(-2147483000));  // top-down, two billion rows
    const std::vector<NamedFile> cases = {
        {"16384 colours", BmpBuilder(5, 4, 8).ClrUsed(16384).Build()},
        {"0 bits per pixel", zeroBits},
        {"0 bits per pixel, two billion rows", zeroBitsHuge},
    };
    TempDir dir;
    for (const NamedFile& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        LoadAndRepair(surface, dir.File("refused.bmp"), c.file);
        EXPECT_FALSE(surface.GetImage()->HasImage());
        EXPECT_EQ(surface.GetImage()->GetLoadReport().status.code, StatusCode::Damaged);
    }
}

TEST(DamagedBmp, EmptyPicturesLoadRepairAndSaveWithoutTouchingAnyPixel) {
    TempDir dir;
    // Two billion top-down rows of no bytes: nothing to reverse, and quick.
    for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{0, 4}, {4, 0}, {0, -2147483000}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        CImageSurface surface;
        ASSERT_TRUE(test::WriteBytes(dir.File("empty.bmp"), BmpBuilder(w, h, 24).Build()));
        surface.GetImage()->Load(dir.File("empty.bmp").c_str());
        ASSERT_TRUE(surface.GetImage()->HasImage());
        ClipRows(surface, 8, 4);
        SoftenBorders(surface, 8, 4);
        ExpectUsableImage(surface, dir, w, std::abs(h));
    }
}

TEST(DamagedBmp, AVeryWideEmptyPictureIsRepairedAtOnce) {
    // One 1-bit row of this width would fit the size limit; with no rows the
    // picture is empty, and softening must not walk its width six times.
    TempDir dir;
    CImageSurface surface;
    const auto start = std::chrono::steady_clock::now();
    LoadAndRepair(surface, dir.File("wide.bmp"), BmpBuilder(INT32_MAX, 0, 1).Build());
    EXPECT_EQ(surface.GetImage()->GetWidth(), INT32_MAX);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// ---- Empty GIF and JPEG pictures, and damaged GIF data -------------------------

TEST(EmptyPictures, GifAndJpegWithoutPixelsGiveNoImage) {
    const std::vector<NamedFile> cases = {
        {"GIF width 0", GifClaiming(0, 5)},
        {"GIF height 0", GifClaiming(5, 0)},
        {"JPEG width 0", test::JpegHeaderOnly(0, 8)},
        {"JPEG height 0", test::JpegHeaderOnly(8, 0)},
    };
    TempDir dir;
    for (const NamedFile& c : cases) {
        SCOPED_TRACE(c.name);
        CImageSurface surface;
        LoadAndRepair(surface, dir.File("empty"), c.file);
        EXPECT_FALSE(surface.GetImage()->HasImage());
    }
}

test::GifFile GifOf(const test::GifImage& image) {
    test::GifFile file;
    file.globalMap = test::DistinctPalette(256);
    file.images = {image};
    return file;
}

test::GifImage Image4x3() {
    test::GifImage image;
    image.width = 4;
    image.height = 3;
    image.pixels = {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2};
    return image;
}

TEST(DamagedGif, MinimumCodeSizesAtAndBeyondTheTables) {
    struct Case {
        int minCodeSize;
        bool loads;
    };
    // 0 and 1 have tables too narrow for the picture's codes but decode what
    // they can; 11 is the widest the 4096-entry tables serve; above that the
    // image is refused rather than decoded past the tables.
    const std::vector<Case> cases = {{0, true}, {1, true}, {11, true}, {12, false}, {255, false}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE("minimum code size " + std::to_string(c.minCodeSize));
        test::GifImage image = Image4x3();
        image.lzw.minCodeSize = std::min(c.minCodeSize, 11);
        image.lzw.literalsOnly = c.minCodeSize <= 1;
        if (c.minCodeSize <= 1) {
            // Only values below the clear code are literals.
            image.pixels.assign(12, 0);
            image.pixels[5] = uint8_t(c.minCodeSize);
        }
        image.minCodeSizeByte = c.minCodeSize;
        CImageSurface surface;
        LoadAndRepair(surface, dir.File("codes.gif"), test::BuildGif(GifOf(image)));
        CDibImage& stored = *surface.GetImage();
        EXPECT_EQ(stored.HasImage(), c.loads);
        if (c.loads) {
            EXPECT_EQ(stored.GetLoadReport().FormatName(), std::string("GIF"));
            EXPECT_EQ(stored.GetWidth(), 4);
        }
    }
}

TEST(DamagedGif, SelfReferringCodesAndMissingTerminatorsKeepWhatWasDecoded) {
    // Code size 2: clear 4, end 5, first free entry 6, codes 3 bits wide. The
    // first 6 after the clear stands for itself; the second makes entry 6 with
    // itself as prefix; the third then refers to itself.
    const Bytes selfReferring = test::PackCodes({{4, 3}, {6, 3}, {6, 3}, {6, 3}, {5, 3}});
    // A valid start, then data that stops without its terminator sub-block,
    // the end code or a trailer.
    const Bytes noTerminator = test::PackCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 3}});
    struct Case {
        const char* name;
        Bytes data;
        bool terminated;
    };
    const std::vector<Case> cases = {
        {"entry that refers to itself", selfReferring, true},
        {"sub-blocks without terminator", noTerminator, false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::GifImage image = Image4x3();
        image.lzw.minCodeSize = 2;
        image.useRawData = true;
        image.rawData = c.data;
        image.terminator = c.terminated;
        test::GifFile file = GifOf(image);
        file.trailer = c.terminated;
        CImageSurface surface;
        LoadAndRepair(surface, dir.File("damaged.gif"), test::BuildGif(file));
        ExpectUsableImage(surface, dir, 4, 3);
    }
}

// ---- Inputs once found by fuzzing --------------------------------------------

TEST(FuzzRegressions, EverySavedInputLoadsOrIsRefusedCleanly) {
    TempDir dir;
    size_t seen = 0;
    for (const auto& target : std::filesystem::directory_iterator(TESSARY_FUZZ_REGRESSIONS)) {
        for (const auto& input : std::filesystem::directory_iterator(target.path())) {
            SCOPED_TRACE(input.path().string());
            ++seen;
            CImageSurface surface;
            CDibImage& image = *surface.GetImage();
            LoadAndRepair(surface, dir.File("input"), test::ReadBytes(input.path().string()));
            image.SaveBmp(dir.File("out.bmp").c_str());
            image.SaveJpeg(dir.File("out.jpg").c_str(), 100);
            if (image.HasImage()) {
                EXPECT_TRUE(image.GetSaveReport().written || image.GetBitCount() != 24);
            }
            EXPECT_TRUE(test::HiddenEntries(dir.Path()).empty());
        }
    }
    EXPECT_GT(seen, 0u);
}

}  // namespace
}  // namespace tessary
