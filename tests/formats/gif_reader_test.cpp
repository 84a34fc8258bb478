#include "formats/gif_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "tests/support/gif_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;
using test::GifFile;
using test::GifImage;
using test::Palette;

struct Result {
    Bytes rgb;  // empty when the reader returned none
    int width = -1;
    int height = -1;
    std::string text;
    Status status;
};

Result ReadPath(const std::string& path) {
    CGifReader reader;
    Result result;
    ByteBuffer buffer =
        reader.ReadGifFile(path.c_str(), &result.width, &result.height, &result.status);
    if (buffer) {
        result.rgb.assign(buffer.get(), buffer.get() + size_t(result.width) * result.height * 3);
    }
    result.text = reader.GetError();
    return result;
}

Result ReadBytes(const Bytes& bytes) {
    test::TempDir dir;
    std::string path = dir.File("picture.gif");
    EXPECT_TRUE(test::WriteBytes(path, bytes));
    return ReadPath(path);
}

std::vector<uint8_t> Indices(size_t count, int levels, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(count);
    for (uint8_t& p : pixels) {
        p = uint8_t(random() % unsigned(levels));
    }
    return pixels;
}

// Bytes of a 2 x 2 file up to and including its image descriptor.
Bytes UpToDescriptor(uint8_t imageFlags = 0) {
    Bytes bytes = test::BuildGif(test::OneImageGif(2, 2, {0, 1, 2, 3}, test::DistinctPalette(4)));
    size_t comma = 6 + 7 + 4 * 3;
    bytes.resize(comma + 10);
    bytes.back() = imageFlags;
    return bytes;
}

TEST(GifReaderTest, ReportsEveryFailureWithItsText) {
    const Bytes good = test::SimpleGif(2, 2, {0, 1, 2, 3}, test::DistinctPalette(4));
    auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + n); };
    auto replaced = [&](size_t at, const std::string& text) {
        Bytes bytes = good;
        std::copy(text.begin(), text.end(), bytes.begin() + at);
        return bytes;
    };
    Bytes localMapCut = UpToDescriptor(0x81);
    localMapCut.insert(localMapCut.end(), {1, 2, 3, 4, 5});
    Bytes noCodeSizeLocal = UpToDescriptor(0x80);
    noCodeSizeLocal.insert(noCodeSizeLocal.end(), {1, 2, 3, 4, 5, 6});
    Bytes onlyTrailer = cut(6 + 7 + 12);
    onlyTrailer.push_back(0x3B);
    Bytes bang = cut(6 + 7 + 12);
    bang.push_back('!');

    struct Case {
        const char* name;
        Bytes bytes;
        const char* text;
        StatusCode code = StatusCode::Damaged;
    };
    const Case cases[] = {
        {"5 bytes", cut(5), "Error reading GIF Magic"},
        {"lower-case signature", replaced(0, "gif"), "Error: not a valid .GIF file",
         StatusCode::NotThisFormat},
        {"version 88a", replaced(3, "88a"), "Error: Bad GIF Version number",
         StatusCode::Unsupported},
        {"short screen descriptor", cut(12),
         "Error: failed to GIF read screen descriptor.\nGiving up"},
        {"short global map", cut(6 + 7 + 11), "Error reading GIF colormap"},
        {"only the trailer", onlyTrailer, "Unexpected EOF in GIF.\nGiving up"},
        {"end after !", bang, "Error on extension read.\nGiving up"},
        {"short image descriptor", cut(6 + 7 + 12 + 9), "Error on dimension read\nGiving up"},
        {"short local map", localMapCut, "Error reading GIF colormap\nGiving up"},
        {"no code size, local map", noCodeSizeLocal,
         "Error reading GIF file\nLocalColorMap\nGiving up"},
        {"no code size, global map", UpToDescriptor(),
         "Error reading GIF file\nGIFScreen Colormap\nGiving up"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result result = ReadBytes(c.bytes);
        EXPECT_TRUE(result.rgb.empty());
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.status.code, c.code);
        EXPECT_EQ(result.width, -1);  // untouched on failure
    }

    test::TempDir dir;
    Result noName = ReadPath("");
    EXPECT_EQ(noName.text, "No Name Given");
    EXPECT_EQ(ReadPath(dir.File("missing.gif")).text, "Cant open GIF");
    EXPECT_EQ(ReadPath(dir.Path()).text, "Cant open GIF");  // a folder
    EXPECT_EQ(ReadPath(dir.Path()).status.code, StatusCode::IoError);
}

TEST(GifReaderTest, RefusesImagesItCannotHold) {
    struct Case {
        const char* name;
        uint16_t width;
        uint16_t height;
        int codeSize;
        const char* text;
        StatusCode status;
    };
    const Case cases[] = {
        {"no columns", 0, 5, 2, "Error: GIF image has no pixels\nGiving up", StatusCode::Damaged},
        {"no rows", 5, 0, 2, "Error: GIF image has no pixels\nGiving up", StatusCode::Damaged},
        // 12.9 GB of pixels: refused from the descriptor, nothing allocated.
        {"65535 x 65535", 65535, 65535, 8, "Error: GIF image too large\nGiving up",
         StatusCode::TooLarge},
        {"code size 12", 2, 2, 12, "Error: bad LZW code size in GIF\nGiving up",
         StatusCode::Damaged},
        {"code size 255", 2, 2, 255, "Error: bad LZW code size in GIF\nGiving up",
         StatusCode::Damaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifFile file = test::OneImageGif(c.width, c.height, {}, test::DistinctPalette(4));
        file.images[0].useRawData = true;
        file.images[0].minCodeSizeByte = c.codeSize;
        file.images[0].rawData = {0x04, 0x05};
        Result result = ReadBytes(test::BuildGif(file));
        EXPECT_TRUE(result.rgb.empty());
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.status.code, c.status);
    }
}

TEST(GifReaderTest, AcceptsBothVersionsAndNotesNonSquarePixels) {
    struct Case {
        const char* version;
        uint8_t aspect;
        const char* text;
        StatusCode code = StatusCode::Damaged;
    };
    const Case cases[] = {
        {"87a", 0, "No Error"},
        {"89a", 0, "No Error"},
        {"89a", 49, "No Error"},
        {"89a", 50, "Non-square pixels in GIF image.\nIgnoring that fact..."},
    };
    const Palette map = test::DistinctPalette(4);
    const std::vector<uint8_t> pixels = {0, 1, 2, 3, 3, 2};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " " + std::to_string(c.aspect));
        GifFile file = test::OneImageGif(3, 2, pixels, map);
        file.version = c.version;
        file.aspect = c.aspect;
        Result result = ReadBytes(test::BuildGif(file));
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.width, 3);
        EXPECT_EQ(result.height, 2);
        EXPECT_EQ(result.rgb, test::ExpectedRgb(pixels, map));
    }
}

TEST(GifReaderTest, PassesOverExtensionsStrayBytesAndLaterImages) {
    const Palette map = test::DistinctPalette(8);
    const std::vector<uint8_t> pixels = Indices(4 * 3, 8, 1);
    GifFile file = test::OneImageGif(4, 3, pixels, map);
    file.beforeImages = test::CommentExtension("made by hand");
    Bytes control = test::GraphicControlExtension(2);  // index 2 transparent: ignored
    file.beforeImages.insert(file.beforeImages.end(), control.begin(), control.end());
    file.beforeImages.insert(file.beforeImages.end(), {0x00, 0x3B, 0x7F});  // stray bytes
    file.images[0].left = 7;
    file.images[0].top = 9;
    GifImage second = file.images[0];
    second.pixels = std::vector<uint8_t>(12, 5);
    file.images.push_back(second);

    Result result = ReadBytes(test::BuildGif(file));
    EXPECT_EQ(result.rgb, test::ExpectedRgb(pixels, map));
    EXPECT_EQ(result.text, "No Error");
}

TEST(GifReaderTest, ColoursFromTheLocalMapWhenThereIsOne) {
    Palette global = test::DistinctPalette(4);
    Palette local = {{200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {9, 9, 9}};
    std::vector<uint8_t> pixels = {0, 1, 2, 3};
    GifFile file = test::OneImageGif(2, 2, pixels, global);
    file.images[0].localMap = local;
    EXPECT_EQ(ReadBytes(test::BuildGif(file)).rgb, test::ExpectedRgb(pixels, local));
}

TEST(GifReaderTest, FileWithoutAnyMapIsBlackWhateverWasReadBefore) {
    std::vector<uint8_t> pixels = {0, 1, 2, 3};
    Result first = ReadBytes(test::SimpleGif(2, 2, pixels, test::DistinctPalette(4)));
    ASSERT_FALSE(first.rgb.empty());
    Result second = ReadBytes(test::BuildGif(test::OneImageGif(2, 2, pixels, {})));
    EXPECT_EQ(second.rgb, Bytes(12, 0));
}

TEST(GifReaderTest, PlacesInterlacedRowsInPassOrder) {
    // Decoding only the first k rows of data fills exactly the first k rows of
    // the pass order.
    struct Case {
        uint16_t height;
        std::vector<int> order;
    };
    const Case cases[] = {
        {8, {0, 4, 2, 6, 1, 3, 5, 7}},
        {3, {0, 2, 1}},
        {1, {0}},
        {11, {0, 8, 4, 2, 6, 10, 1, 3, 5, 7, 9}},
    };
    const uint16_t width = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        std::vector<uint8_t> pixels;
        Palette map = {{0, 0, 0}};
        for (int row = 0; row < c.height; ++row) {
            map.push_back({uint8_t(10 + row), uint8_t(20 + row), uint8_t(30 + row)});
            pixels.insert(pixels.end(), width, uint8_t(row + 1));
        }
        for (size_t k = 1; k <= c.order.size(); ++k) {
            GifFile file = test::OneImageGif(width, c.height, pixels, map);
            file.images[0].interlaced = true;
            file.images[0].lzw.pixelLimit = int(k * width);
            Result result = ReadBytes(test::BuildGif(file));
            ASSERT_EQ(result.height, c.height);
            for (int row = 0; row < c.height; ++row) {
                bool filled =
                    std::find(c.order.begin(), c.order.begin() + k, row) != c.order.begin() + k;
                uint8_t red = result.rgb[size_t(row) * width * 3];
                EXPECT_EQ(red, filled ? 10 + row : 0) << "k " << k << " row " << row;
            }
        }
    }
}

TEST(GifReaderTest, DamagedDataKeepsWhatWasDecoded) {
    const uint16_t width = 16;
    const uint16_t height = 16;
    const Palette map = test::DistinctPalette(16);
    std::vector<uint8_t> pixels = Indices(size_t(width) * height, 15, 2);
    for (uint8_t& p : pixels) {
        ++p;  // never entry 0
    }
    const Bytes expected = test::ExpectedRgb(pixels, map);

    {
        SCOPED_TRACE("file cut off in the image data");
        GifFile file = test::OneImageGif(width, height, pixels, map);
        file.images[0].blockSize = 16;  // the cut loses only the sub-block it falls in
        Bytes bytes = test::BuildGif(file);
        const size_t dataStart = 6 + 7 + 16 * 3 + 10 + 1;
        bytes.resize(dataStart + (bytes.size() - dataStart) / 2);  // about half the codes
        Result result = ReadBytes(bytes);
        ASSERT_EQ(result.rgb.size(), expected.size());
        size_t rowBytes = width * 3;
        EXPECT_TRUE(
            std::equal(expected.begin(), expected.begin() + 4 * rowBytes, result.rgb.begin()));
        EXPECT_EQ(result.rgb.back(), 0);  // never reached: zero
    }
    {
        SCOPED_TRACE("early end code");
        GifFile file = test::OneImageGif(width, height, pixels, map);
        file.images[0].lzw.pixelLimit = 40;
        Result result = ReadBytes(test::BuildGif(file));
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 120, result.rgb.begin()));
        EXPECT_EQ(Bytes(result.rgb.begin() + 120, result.rgb.end()),
                  Bytes(expected.size() - 120, 0));
    }
    {
        SCOPED_TRACE("terminator before the end code");
        GifFile file = test::OneImageGif(width, height, pixels, map);
        file.images[0].lzw.pixelLimit = 100;
        file.images[0].lzw.endCode = false;
        Result result = ReadBytes(test::BuildGif(file));
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 300, result.rgb.begin()));
        // The rest is entry 0's colour, after at most one garbled string.
        Bytes colour0 = test::ExpectedRgb({0}, map);
        for (size_t i = 200; i < size_t(width) * height; ++i) {
            ASSERT_EQ(Bytes(result.rgb.begin() + i * 3, result.rgb.begin() + i * 3 + 3), colour0)
                << i;
        }
    }
    {
        SCOPED_TRACE("pixel value without a colour-map entry");
        GifFile file = test::OneImageGif(width, height, pixels, map);
        file.images[0].useRawData = true;
        file.images[0].minCodeSizeByte = 9;
        // Clear, then literal 300 as the first code: no colour for it.
        file.images[0].rawData = test::PackCodes({{512, 10}, {300, 10}, {1, 10}, {513, 10}});
        Result result = ReadBytes(test::BuildGif(file));
        EXPECT_EQ(result.rgb, Bytes(expected.size(), 0));
        EXPECT_EQ(result.text, "No Error");
    }
}

TEST(GifReaderTest, DecodesLargeImagesAtEveryCodeSize) {
    struct Case {
        int minCodeSize;
        int levels;
        bool literalsOnly;
        bool deferClear;
        size_t blockSize;
    };
    const Case cases[] = {
        {0, 1, true, false, 255},    {1, 2, true, false, 255}, {2, 4, false, false, 255},
        {8, 256, false, false, 255}, {8, 256, false, true, 1}, {11, 256, false, false, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.minCodeSize);
        const uint16_t width = 203;
        const uint16_t height = 97;
        Palette map = test::DistinctPalette(256);
        std::vector<uint8_t> pixels = Indices(size_t(width) * height, c.levels, 3);
        GifFile file = test::OneImageGif(width, height, pixels, map);
        file.images[0].lzw = {.minCodeSize = c.minCodeSize,
                              .deferClear = c.deferClear,
                              .literalsOnly = c.literalsOnly};
        file.images[0].blockSize = c.blockSize;
        EXPECT_EQ(ReadBytes(test::BuildGif(file)).rgb, test::ExpectedRgb(pixels, map));
    }
}

TEST(GifReaderTest, TwoReadsOnTwoThreadsGiveWhatOneAtATimeGives) {
    test::TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 2; ++i) {
        Palette map = test::DistinctPalette(256);
        std::reverse(map.begin() + i, map.end());
        GifFile file = test::OneImageGif(320, 240, Indices(320 * 240, 256, 10 + i), map);
        file.images[0].interlaced = i == 1;
        paths.push_back(dir.File("thread" + std::to_string(i) + ".gif"));
        ASSERT_TRUE(test::WriteBytes(paths.back(), test::BuildGif(file)));
    }
    const Bytes alone0 = ReadPath(paths[0]).rgb;
    const Bytes alone1 = ReadPath(paths[1]).rgb;
    ASSERT_FALSE(alone0.empty());
    ASSERT_NE(alone0, alone1);

    bool same0 = true;
    bool same1 = true;
    std::thread first([&] {
        for (int round = 0; round < 20; ++round) {
            same0 = same0 && ReadPath(paths[0]).rgb == alone0;
        }
    });
    std::thread second([&] {
        for (int round = 0; round < 20; ++round) {
            same1 = same1 && ReadPath(paths[1]).rgb == alone1;
        }
    });
    first.join();
    second.join();
    EXPECT_TRUE(same0);
    EXPECT_TRUE(same1);
}

}  // namespace
}  // namespace tessary
