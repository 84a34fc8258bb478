#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "formats/dib.h"
#include "formats/gif_reader.h"
#include "formats/jpeg_file.h"
#include "image/dib_image.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/exif_builder.h"
#include "tests/support/gif_builder.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;

void Put32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(uint8_t(v >> (8 * i)));
    }
}

// A BMP file: 40-byte header, `colours` table entries (blue, green, red, 0), rows
// bottom-up as given.
Bytes MakeBmp(int32_t width, int32_t height, uint16_t bits, const std::vector<test::Rgb>& colours,
              const Bytes& rows) {
    Bytes out = {'B', 'M'};
    Put32(out, uint32_t(54 + colours.size() * 4 + rows.size()));
    Put32(out, 0);
    Put32(out, uint32_t(54 + colours.size() * 4));
    Put32(out, 40);
    Put32(out, uint32_t(width));
    Put32(out, uint32_t(height));
    out.insert(out.end(), {1, 0, uint8_t(bits), 0});
    Put32(out, 0);
    Put32(out, uint32_t(rows.size()));
    Put32(out, 3780);
    Put32(out, 3780);
    Put32(out, uint32_t(colours.size()));
    Put32(out, 0);
    for (const test::Rgb& c : colours) {
        out.insert(out.end(), {c.blue, c.green, c.red, 0});
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

Bytes PixelArray(CDibImage& image) {
    const MemoryBlock& dib = image.GetDib();
    BitmapInfoHeader header = ParseInfoHeader(dib.Data());
    const uint8_t* pixels = dib.Data() + DibPixelOffset(header);
    return Bytes(pixels, pixels + DibPixelBytes(header));
}

// What the step-by-step conversions make of a tight buffer.
Bytes StepByStep(uint8_t* tight, uint32_t width, uint32_t height) {
    SwapRedBlue(tight, width, height);
    FlipRowsVertically(tight, width * 3, height);
    uint32_t stride = 0;
    ByteBuffer padded = PadRowsToDword(tight, width, height, &stride);
    return Bytes(padded.get(), padded.get() + size_t(stride) * height);
}

class LoadChainTest : public testing::Test {
  protected:
    std::string Write(const std::string& name, const Bytes& bytes) {
        std::string path = m_dir.File(name);
        EXPECT_TRUE(test::WriteBytes(path, bytes));
        return path;
    }
    test::TempDir m_dir;
};

TEST_F(LoadChainTest, TakesEachFileByContentNotName) {
    const Bytes jpeg = test::EncodeJpeg(test::GradientPicture(21, 13), 21, 13);
    const Bytes gif = test::SimpleGif(5, 3, std::vector<uint8_t>(15, 2), test::DistinctPalette(4));
    // 2 x 1, 24 bits: a red and a blue pixel, rows padded to 8 bytes.
    const Bytes bmp = MakeBmp(2, 1, 24, {}, {0, 0, 255, 255, 0, 0, 0, 0});
    struct Case {
        const char* name;
        Bytes bytes;
        const char* format;
        int32_t width;
        int32_t height;
    };
    const Case cases[] = {
        {"a.bmp", jpeg, "JPEG", 21, 13},
        {"b.jpg", bmp, "BMP", 2, 1},
        {"c.jpg", gif, "GIF", 5, 3},
        {"d.gif", jpeg, "JPEG", 21, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDibImage image;
        image.Load(Write(c.name, c.bytes).c_str());
        EXPECT_EQ(image.IsLoadFailed(), 0);
        EXPECT_EQ(image.GetLoadReport().FormatName(), std::string(c.format));
        EXPECT_EQ(image.GetWidth(), c.width);
        EXPECT_EQ(image.GetHeight(), c.height);
        EXPECT_EQ(image.GetBitCount(), 24);
        BitmapInfoHeader header = ParseInfoHeader(image.GetDib().Data());
        EXPECT_EQ(DibNumColors(header), 0);  // never a colour table
    }
    CDibImage image;
    image.Load(Write("e.jpg", bmp).c_str());
    EXPECT_EQ(image.GetPixel(0, 0), PackRgb(255, 0, 0));
    EXPECT_EQ(image.GetPixel(1, 0), PackRgb(0, 0, 255));
    image.Load(Write("f.bmp", gif).c_str());
    EXPECT_EQ(image.GetPixel(4, 2), PackRgb(2, 253, 14));  // entry 2
}

TEST_F(LoadChainTest, FilesNoReaderTakes) {
    CDibImage image;
    image.Load(Write("notes.jpg", Bytes{'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't'}).c_str());
    EXPECT_FALSE(image.HasImage());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.IsLoadFailed(), 0);
    EXPECT_EQ(image.GetLoadReport().source, LoadSource::None);
    image.SaveJpeg(m_dir.File("out.jpg").c_str(), 100);
    image.SaveBmp(m_dir.File("out.bmp").c_str());
    EXPECT_FALSE(test::FileExists(m_dir.File("out.jpg")));
    EXPECT_FALSE(test::FileExists(m_dir.File("out.bmp")));

    image.Load(m_dir.File("missing.gif").c_str());
    EXPECT_EQ(image.IsLoadFailed(), 1);
    EXPECT_EQ(image.GetWidth(), 10);
    EXPECT_EQ(image.GetHeight(), 10);
    EXPECT_EQ(image.GetBitCount(), 8);
    EXPECT_EQ(image.GetPixel(3, 3), 0u);
    EXPECT_EQ(image.GetLoadReport().source, LoadSource::MissingFile);

    // A GIF too large for the limit: refused for that reason, and said so.
    test::GifFile huge;
    huge.globalMap = test::DistinctPalette(2);
    test::GifImage descriptor;
    descriptor.width = descriptor.height = 65535;
    descriptor.useRawData = true;
    huge.images.push_back(descriptor);
    image.Load(Write("huge.gif", test::BuildGif(huge)).c_str());
    EXPECT_EQ(image.GetLoadReport().status.code, StatusCode::TooLarge);
    EXPECT_FALSE(image.HasImage());
}

TEST_F(LoadChainTest, EmptyPathKeepsTheImage) {
    CDibImage image;
    image.Load(Write("a.gif", test::SimpleGif(3, 2, {1, 1, 1, 1, 1, 1}, test::DistinctPalette(2)))
                   .c_str());
    ASSERT_EQ(image.GetWidth(), 3);
    image.Load("");
    EXPECT_EQ(image.IsLoadFailed(), 1);
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetPixel(0, 0), PackRgb(1, 254, 7));
}

TEST_F(LoadChainTest, SingleStepsLeaveAPlaceholderWhenTheyRefuse) {
    const std::string gif =
        Write("a.gif", test::SimpleGif(3, 2, {1, 1, 1, 1, 1, 1}, test::DistinctPalette(2)));
    CDibImage image;
    image.LoadJpeg(gif.c_str());
    EXPECT_EQ(image.IsLoadFailed(), 1);
    EXPECT_EQ(image.GetWidth(), 10);
    EXPECT_EQ(image.GetBitCount(), 24);
    image.LoadGif(Write("b.jpg", test::EncodeJpeg(test::GradientPicture(4, 4), 4, 4)).c_str());
    EXPECT_EQ(image.IsLoadFailed(), 1);
    EXPECT_EQ(image.GetHeight(), 10);
    EXPECT_EQ(image.GetPixel(9, 9), 0u);
}

// Loading converts in one pass; the pixel array must be what the readers'
// buffers give through the step-by-step conversions.
TEST_F(LoadChainTest, PixelsMatchTheStepByStepConversion) {
    for (uint32_t width : {1u, 6u, 33u}) {
        SCOPED_TRACE(width);
        const uint32_t height = 9;
        const std::string jpeg =
            Write("p.jpg", test::EncodeJpeg(test::GradientPicture(width, height), width, height));
        uint32_t w = 0;
        uint32_t h = 0;
        ByteBuffer tight = ReadJpegFile(jpeg.c_str(), &w, &h);
        ASSERT_TRUE(tight);
        CDibImage image;
        image.Load(jpeg.c_str());
        EXPECT_EQ(PixelArray(image), StepByStep(tight.get(), w, h));

        std::vector<uint8_t> indices(width * height);
        for (size_t i = 0; i < indices.size(); ++i) {
            indices[i] = uint8_t(i * 37);
        }
        const std::string gif =
            Write("p.gif", test::SimpleGif(uint16_t(width), uint16_t(height), indices,
                                           test::DistinctPalette(256)));
        CGifReader reader;
        int gw = 0;
        int gh = 0;
        ByteBuffer gifTight = reader.ReadGifFile(gif.c_str(), &gw, &gh);
        ASSERT_TRUE(gifTight);
        image.Load(gif.c_str());
        EXPECT_EQ(PixelArray(image), StepByStep(gifTight.get(), uint32_t(gw), uint32_t(gh)));
    }
    const std::string grey = Write(
        "g.jpg",
        test::EncodeJpeg(Bytes(12 * 5, 90), 12, 5, {.components = 1, .space = JCS_GRAYSCALE}));
    uint32_t w = 0;
    uint32_t h = 0;
    ByteBuffer tight = ReadJpegFile(grey.c_str(), &w, &h);
    CDibImage image;
    image.Load(grey.c_str());
    EXPECT_EQ(PixelArray(image), StepByStep(tight.get(), w, h));
}

TEST_F(LoadChainTest, JpegRoundTripKeepsOrientationAndColourOrder) {
    const uint32_t width = 48;
    const uint32_t height = 32;
    const Bytes picture = test::GradientPicture(width, height);
    CDibImage image;
    image.Load(Write("in.jpg", test::EncodeJpeg(picture, width, height, {.quality = 100})).c_str());
    // Top left has no red and no blue; bottom right is full red and blue.
    EXPECT_LT(RedOf(image.GetPixel(0, 0)), 10u);
    EXPECT_LT(BlueOf(image.GetPixel(0, 0)), 10u);
    EXPECT_GT(RedOf(image.GetPixel(47, 0)), 245u);
    EXPECT_GT(BlueOf(image.GetPixel(0, 31)), 245u);

    const std::string out = m_dir.File("out.jpg");
    image.SaveJpeg(out.c_str(), 100);
    EXPECT_TRUE(image.GetSaveReport().written);
    test::DecodedJpeg written = test::DecodeJpeg(test::ReadBytes(out));
    ASSERT_TRUE(written.ok);
    ASSERT_EQ(written.samples.size(), picture.size());
    for (size_t i = 0; i < picture.size(); ++i) {
        ASSERT_NEAR(written.samples[i], picture[i], 10) << i;
    }
    EXPECT_TRUE(test::InspectJpeg(test::ReadBytes(out)).baseline);
}

TEST_F(LoadChainTest, SaveJpegWritesWhatTheStepByStepConversionsWould) {
    // Odd width: every row carries padding that must not reach the encoder.
    const uint32_t width = 37;
    const uint32_t height = 21;
    CDibImage image;
    image.Load(Write("in.jpg", test::EncodeJpeg(test::GradientPicture(width, height), width, height,
                                                {.quality = 90}))
                   .c_str());
    ASSERT_EQ(image.GetWidth(), int32_t(width));
    const std::string saved = m_dir.File("saved.jpg");
    image.SaveJpeg(saved.c_str(), 100);
    ASSERT_TRUE(image.GetSaveReport().written);

    const Bytes pixels = PixelArray(image);
    ByteBuffer tight =
        StripRowPadding(pixels.data(), width, uint32_t(DwordStride24(width)), height);
    FlipRowsVertically(tight.get(), width * 3, height);
    SwapRedBlue(tight.get(), width, height);
    const std::string expected = m_dir.File("expected.jpg");
    ASSERT_EQ(WriteJpegFile(expected.c_str(), tight.get(), width, height, 100), 1);
    EXPECT_EQ(test::ReadBytes(saved), test::ReadBytes(expected));
}

TEST_F(LoadChainTest, ALoadIntoTheBlockOfAnEqualSizedImageMatchesAFreshLoad) {
    const uint32_t width = 30;
    const uint32_t height = 10;
    const std::string first =
        Write("a.jpg", test::EncodeJpeg(test::GradientPicture(width, height), width, height, {}));
    test::Bytes flat(width * height * 3, 77);
    const std::string second = Write("b.jpg", test::EncodeJpeg(flat, width, height, {}));
    CDibImage reused;
    reused.Load(first.c_str());
    reused.Lock();
    for (int32_t y = 0; y < int32_t(height); ++y) {
        for (int32_t x = 0; x < int32_t(width); ++x) {
            reused.SetPixel(x, y, 0xFFFFFF);
        }
    }
    reused.Unlock();
    reused.Load(second.c_str());
    CDibImage fresh;
    fresh.Load(second.c_str());
    EXPECT_EQ(reused.GetDib().Size(), fresh.GetDib().Size());
    EXPECT_EQ(PixelArray(reused), PixelArray(fresh));
}

TEST_F(LoadChainTest, SavesEveryTableAndTrueColourDepthAsSeen) {
    const test::Rgb red{200, 10, 10};
    const test::Rgb green{10, 200, 10};
    const test::Rgb blue{10, 10, 200};
    const test::Rgb white{250, 250, 250};
    // 16 x 16 pictures: the bottom half (first in the file) red on the left and
    // blue on the right, the top half green and white (1 bit: red and blue again).
    auto repeat = [](std::initializer_list<std::pair<Bytes, int>> parts) {
        Bytes out;
        for (const auto& [bytes, times] : parts) {
            for (int i = 0; i < times; ++i) {
                out.insert(out.end(), bytes.begin(), bytes.end());
            }
        }
        return out;
    };
    auto pixel32 = [](test::Rgb c) { return Bytes{c.blue, c.green, c.red, 0x55}; };
    struct Case {
        const char* name;
        uint16_t bits;
        std::vector<test::Rgb> colours;
        Bytes rows;
    };
    const Case cases[] = {
        {"1 bit", 1, {red, blue}, repeat({{{0x00, 0xFF, 0, 0}, 16}})},
        {"4 bits",
         4,
         {red, blue, green, white},
         repeat({{{0, 0, 0, 0, 0x11, 0x11, 0x11, 0x11}, 8},
                 {{0x22, 0x22, 0x22, 0x22, 0x33, 0x33, 0x33, 0x33}, 8}})},
        {"8 bits",
         8,
         {red, blue, green, white},
         repeat({{repeat({{{0}, 8}, {{1}, 8}}), 8}, {repeat({{{2}, 8}, {{3}, 8}}), 8}})},
        {"32 bits",
         32,
         {},
         repeat({{repeat({{pixel32(red), 8}, {pixel32(blue), 8}}), 8},
                 {repeat({{pixel32(green), 8}, {pixel32(white), 8}}), 8}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDibImage image;
        image.Load(Write("in.bmp", MakeBmp(16, 16, c.bits, c.colours, c.rows)).c_str());
        ASSERT_EQ(image.GetBitCount(), c.bits);
        const std::string out = m_dir.File("out.jpg");
        image.SaveJpeg(out.c_str(), 100);
        ASSERT_TRUE(image.GetSaveReport().written);
        test::DecodedJpeg written = test::DecodeJpeg(test::ReadBytes(out));
        ASSERT_EQ(written.width, 16u);
        ASSERT_EQ(written.height, 16u);
        auto near = [&](size_t x, size_t y, test::Rgb want) {
            const uint8_t* p = written.samples.data() + (y * 16 + x) * 3;
            EXPECT_NEAR(p[0], want.red, 12) << x << "," << y;
            EXPECT_NEAR(p[1], want.green, 12) << x << "," << y;
            EXPECT_NEAR(p[2], want.blue, 12) << x << "," << y;
        };
        const bool oneBit = c.bits == 1;
        near(3, 12, red);
        near(12, 12, blue);
        near(3, 3, oneBit ? red : green);
        near(12, 3, oneBit ? blue : white);
    }

    CDibImage sixteen;
    sixteen.Load(Write("in16.bmp", MakeBmp(2, 2, 16, {}, Bytes(8, 0x11))).c_str());
    ASSERT_EQ(sixteen.GetBitCount(), 16);
    sixteen.SaveJpeg(m_dir.File("out16.jpg").c_str(), 100);
    EXPECT_FALSE(sixteen.GetSaveReport().written);
    EXPECT_FALSE(test::FileExists(m_dir.File("out16.jpg")));

    CDibImage placeholder;
    placeholder.Load(m_dir.File("missing.bmp").c_str());  // 10 x 10, 8 bits, black
    placeholder.SaveJpeg(m_dir.File("black.jpg").c_str(), 100);
    test::DecodedJpeg black = test::DecodeJpeg(test::ReadBytes(m_dir.File("black.jpg")));
    EXPECT_EQ(black.width, 10u);
    for (uint8_t sample : black.samples) {
        ASSERT_LT(sample, 3);
    }
}

TEST_F(LoadChainTest, SaveJpegLeavesTheLockStateAndReportsFailures) {
    CDibImage image;
    image.Lock();
    image.SaveJpeg(m_dir.File("a.jpg").c_str(), 90);
    EXPECT_EQ(image.IsLocked(), 1);
    EXPECT_TRUE(image.GetSaveReport().written);
    image.Unlock();
    image.SaveJpeg(m_dir.File("b.jpg").c_str(), 90);
    EXPECT_EQ(image.IsLocked(), 0);
    EXPECT_EQ(image.GetDib().LockCount(), 0);

    image.SaveJpeg(m_dir.File("no/folder.jpg").c_str(), 90);
    EXPECT_FALSE(image.GetSaveReport().written);
    EXPECT_EQ(image.GetSaveReport().errorNumber, ENOENT);
}

}  // namespace
}  // namespace tessary

namespace tessary {
namespace {

// A GIF whose descriptor claims the given size over two bytes of data.
Bytes GifClaiming(uint16_t width, uint16_t height) {
    test::GifFile file;
    test::GifImage image;
    image.width = width;
    image.height = height;
    image.lzw.minCodeSize = 2;
    image.useRawData = true;
    image.rawData = {0x04, 0x05};
    file.images.push_back(image);
    return test::BuildGif(file);
}

// The same files-in-a-folder fixture, under its own name for the report cases.
class LoadReportTest : public LoadChainTest {};

TEST_F(LoadReportTest, TheReasonNamesWhatTheFileWas) {
    Bytes cmyk =
        test::EncodeJpeg(Bytes(16 * 8 * 4, 128), 16, 8, {.components = 4, .space = JCS_CMYK});
    const Bytes tinyGif = GifClaiming(16383, 16383);
    const Bytes headerOnly = test::JpegHeaderOnly(8000, 8000);
    struct Case {
        const char* name;
        Bytes file;
        std::string reason;
    };
    const Case cases[] = {
        {"JPEG with no image",
         {0xFF, 0xD8, 0xFF},
         "damaged JPEG (JPEG datastream contains no image)"},
        {"CMYK JPEG", cmyk, "CMYK JPEG, not supported"},
        {"BMP with PNG inside", test::BmpBuilder(4, 4, 24).Compression(5).Build(),
         "BMP with compression 5 (PNG inside), not supported"},
        {"text", Bytes(100, 'x'), "not a JPEG, GIF, BMP, PNG or TIFF image"},
        // Refused before the picture's memory is taken.
        {"GIF claiming far more than its bytes hold", tinyGif,
         "damaged GIF (" + std::to_string(tinyGif.size()) +
             " bytes cannot hold a 16383 x 16383 image)"},
        {"JPEG claiming far more than its bytes hold", headerOnly,
         "damaged JPEG (" + std::to_string(headerOnly.size()) +
             " bytes cannot hold a 8000 x 8000 image)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDibImage image;
        image.Load(Write("in", c.file).c_str());
        EXPECT_FALSE(image.HasImage());
        EXPECT_EQ(image.IsLoadFailed(), 0);
        EXPECT_EQ(image.GetLoadReport().status.Text(), c.reason);
    }
    // The same claim within what the bytes can hold still loads, black.
    CDibImage image;
    image.Load(Write("small.gif", GifClaiming(64, 64)).c_str());
    EXPECT_EQ(image.GetLoadReport().FormatName(), std::string("GIF"));
    EXPECT_EQ(image.GetWidth(), 64);
}

TEST_F(LoadReportTest, WarningsForDamageWorkedAroundAndFramesLeftOut) {
    test::GifFile animation = test::OneImageGif(2, 2, {0, 1, 1, 0}, test::DistinctPalette(2));
    animation.images.push_back(animation.images[0]);
    struct Case {
        const char* name;
        Bytes file;
        std::string warning;
    };
    const Case cases[] = {
        {"whole JPEG", test::EncodeJpeg(test::GradientPicture(64, 64), 64, 64), ""},
        {"animated GIF", test::BuildGif(animation), "animated GIF: only the first frame was used"},
        {"GIF of one image", test::SimpleGif(2, 2, {0, 1, 1, 0}, test::DistinctPalette(2)), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDibImage image;
        image.Load(Write("in", c.file).c_str());
        ASSERT_TRUE(image.HasImage()) << image.GetLoadReport().status.Text();
        EXPECT_EQ(image.GetLoadReport().warning, c.warning);
    }
}

TEST_F(LoadReportTest, AJpegCutShortSaysFromWhichRowItIsGrey) {
    const Bytes whole = test::EncodeJpeg(test::GradientPicture(256, 256), 256, 256);
    CDibImage full;
    full.Load(Write("whole.jpg", whole).c_str());
    CDibImage cut;
    cut.Load(Write("cut.jpg", Bytes(whole.begin(), whole.begin() + whole.size() / 2)).c_str());
    ASSERT_EQ(cut.GetLoadReport().FormatName(), std::string("JPEG"));
    const std::string& warning = cut.GetLoadReport().warning;
    int32_t from = -1;
    ASSERT_EQ(std::sscanf(warning.c_str(), "damaged data: rows from %d on are grey", &from), 1)
        << warning;
    ASSERT_GT(from, 1);
    ASSERT_LT(from + 17, 256);
    // Rows above it are as in the whole file (but for the last one, whose
    // colours are smoothed with the row below); from the next row of blocks
    // on, every pixel is the library's grey.
    for (int32_t x = 0; x < 256; x += 5) {
        EXPECT_EQ(cut.GetPixel(x, from - 2), full.GetPixel(x, from - 2)) << x;
        EXPECT_EQ(cut.GetPixel(x, from + 17), 0x808080u) << x;
        EXPECT_EQ(cut.GetPixel(x, 255), 0x808080u) << x;
    }
}

TEST_F(LoadReportTest, MetadataIsKeptAndWrittenOnlyWhenAsked) {
    ImageMetadata metadata;
    metadata.exif = {'I', 'I', 42, 0, 8, 0, 0, 0};
    metadata.icc = Bytes(3000, 0x5A);
    metadata.comments = {"a comment"};
    const Bytes rgb = test::GradientPicture(16, 16);
    JpegSaveOptions withMetadata;
    withMetadata.writeMetadata = true;
    const std::string source = m_dir.File("source.jpg");
    ASSERT_EQ(WriteJpegFile(source.c_str(), rgb.data(), 16, 16, withMetadata, &metadata), 1);

    CDibImage image;
    image.Load(source.c_str());
    EXPECT_EQ(image.GetMetadata().exif, metadata.exif);
    EXPECT_EQ(image.GetMetadata().icc, metadata.icc);
    image.SaveJpeg(m_dir.File("plain.jpg").c_str(), 100);
    image.SaveJpeg(m_dir.File("carried.jpg").c_str(), withMetadata);

    CDibImage plain;
    plain.Load(m_dir.File("plain.jpg").c_str());
    EXPECT_TRUE(plain.GetMetadata().IsEmpty());
    CDibImage carried;
    carried.Load(m_dir.File("carried.jpg").c_str());
    EXPECT_EQ(carried.GetMetadata().exif, metadata.exif);
    EXPECT_EQ(carried.GetMetadata().icc, metadata.icc);
    EXPECT_EQ(carried.GetMetadata().comments, metadata.comments);
    // The next file's load leaves nothing of this one's.
    carried.Load(Write("next.gif", test::SimpleGif(1, 1, {0}, test::DistinctPalette(2))).c_str());
    EXPECT_TRUE(carried.GetMetadata().IsEmpty());
}

// Whatever the output format, its EXIF thumbnail shows the picture written
// (here red), not the one the input carried (grey).
TEST_F(LoadReportTest, EveryOutputsExifThumbnailShowsThePictureWritten) {
    const Bytes grey(12 * 9 * 3, 128);
    TightRgbRows greyRows(grey.data(), 12);
    Bytes old;
    ASSERT_TRUE(EncodeJpegToMemory(greyRows, 12, 9, {}, &old).IsOk());
    ImageMetadata metadata;
    metadata.exif = test::ExifBlock(
        true, {{0x201, 4, test::kExifTailStart}, {0x202, 4, uint32_t(old.size())}}, old);
    Bytes red;
    for (int i = 0; i < 48 * 36; ++i) {
        red.insert(red.end(), {240, 16, 16});
    }
    JpegSaveOptions withMetadata;
    withMetadata.writeMetadata = true;
    const std::string source = m_dir.File("source.jpg");
    ASSERT_EQ(WriteJpegFile(source.c_str(), red.data(), 48, 36, withMetadata, &metadata), 1);
    CDibImage image;
    image.Load(source.c_str());
    ASSERT_EQ(test::ExifThumbnail(image.GetMetadata().exif), old);
    image.SaveJpeg(m_dir.File("out.jpg").c_str(), withMetadata);
    image.SavePng(m_dir.File("out.png").c_str(), &image.GetMetadata());
    for (const char* name : {"out.jpg", "out.png"}) {
        SCOPED_TRACE(name);
        CDibImage written;
        written.Load(m_dir.File(name).c_str());
        const Bytes thumbnail = test::ExifThumbnail(written.GetMetadata().exif);
        MemoryBlock spare;
        DecodedImage decoded;
        ASSERT_TRUE(DecodeJpegImage(thumbnail, spare, decoded).IsOk());
        const BitmapInfoHeader header = ParseInfoHeader(decoded.dib.Data());
        EXPECT_EQ(header.biWidth, 12);
        EXPECT_EQ(header.biHeight, 9);
        const uint8_t* pixel = decoded.dib.Data() + DibPixelOffset(header);
        EXPECT_GT(pixel[2], 200);  // red, blue, green: as the picture
        EXPECT_LT(pixel[0], 60);
    }
}

}  // namespace
}  // namespace tessary
