#include "formats/png_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <random>
#include <set>
#include <string>

#include "formats/deep_pixels.h"
#include "formats/dib.h"
#include "image/dib_image.h"
#include "platform/file_handle.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/png_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;
using test::PngBuilder;

uint32_t Pattern(int x, int y) {
    return (uint32_t(x * 37 + y) & 0xFF) | (uint32_t(y * 23) & 0xFF) << 8 | uint32_t(x ^ y) << 16;
}

// The picture of a 24-bit DIB, top-down, as packed colours (red in the low byte).
std::vector<uint32_t> PictureOf(const MemoryBlock& dib) {
    const BitmapInfoHeader header = ParseInfoHeader(dib.Data());
    const uint8_t* pixels = dib.Data() + DibPixelOffset(header);
    const uint64_t stride = DibStride(uint32_t(header.biWidth), 24);
    std::vector<uint32_t> picture;
    for (int32_t y = 0; y < header.biHeight; ++y) {
        const uint8_t* row = pixels + uint64_t(header.biHeight - 1 - y) * stride;
        for (int32_t x = 0; x < header.biWidth; ++x) {
            picture.push_back(row[3 * x + 2] | row[3 * x + 1] << 8 | row[3 * x] << 16);
        }
    }
    return picture;
}

std::vector<uint32_t> PatternPicture(int width, int height) {
    std::vector<uint32_t> picture;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.push_back(Pattern(x, y));
        }
    }
    return picture;
}

TEST(PngFileTest, RecognisesTheSignatureOnly) {
    const Bytes png = PngBuilder(1, 1, 8, 2).RgbRows(Pattern).Build();
    EXPECT_TRUE(LooksLikePng(png));
    EXPECT_FALSE(LooksLikePng(std::span(png).first(7)));
    Bytes wrong = png;
    wrong[1] = 'p';
    EXPECT_FALSE(LooksLikePng(wrong));
    MemoryBlock dib;
    EXPECT_EQ(ReadPng(wrong, &dib).code, StatusCode::NotThisFormat);
    EXPECT_TRUE(dib.IsNone());
}

TEST(PngFileTest, RefusesHostileHeadersBeforeDecoding) {
    struct Case {
        const char* name;
        uint32_t width, height;
        uint8_t depth, colour, interlace;
        StatusCode code;
    };
    const Case cases[] = {
        {"zero width", 0, 5, 8, 2, 0, StatusCode::Damaged},
        {"zero height", 5, 0, 8, 2, 0, StatusCode::Damaged},
        {"width beyond 2^31", 0x80000000u, 1, 8, 2, 0, StatusCode::Damaged},
        {"largest sides", 0x7FFFFFFF, 0x7FFFFFFF, 8, 2, 0, StatusCode::TooLarge},
        {"over the pixel limit", 20000, 20000, 1, 0, 0, StatusCode::TooLarge},
        {"depth 3", 4, 4, 3, 0, 0, StatusCode::Damaged},
        {"16-bit palette", 4, 4, 16, 3, 0, StatusCode::Damaged},
        {"1-bit RGB", 4, 4, 1, 2, 0, StatusCode::Damaged},
        {"4-bit grey+alpha", 4, 4, 4, 4, 0, StatusCode::Damaged},
        {"colour type 1", 4, 4, 8, 1, 0, StatusCode::Damaged},
        {"colour type 7", 4, 4, 8, 7, 0, StatusCode::Damaged},
        {"interlace method 2", 4, 4, 8, 2, 2, StatusCode::Damaged},
        // Within the limit, but a few bytes can't inflate to 805 MB.
        {"16383 x 16383 from nothing", 16383, 16383, 8, 2, 0, StatusCode::Damaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes png = PngBuilder(c.width, c.height, c.depth, c.colour, c.interlace)
                              .ImageData(Bytes(100, 0))
                              .Build();
        MemoryBlock dib;
        const Status status = ReadPng(png, &dib);
        EXPECT_EQ(status.code, c.code) << status.Text();
        EXPECT_TRUE(dib.IsNone());
    }
    // Decided from the header: nothing of the picture was decoded.
    MemoryBlock dib;
    EXPECT_EQ(ReadPng(PngBuilder(16383, 16383, 8, 2).ImageData({}).Build(), &dib).detail,
              "far too little image data for its size");
}

TEST(PngFileTest, RefusesDamagedFilesWithTheirReason) {
    const Bytes good = PngBuilder(5, 4, 8, 2).RgbRows(Pattern).Build();
    MemoryBlock dib;
    ASSERT_TRUE(ReadPng(good, &dib).IsOk());

    Bytes badCrc = good;
    badCrc[29] ^= 1;  // IHDR's CRC
    Bytes badPixels = good;
    badPixels[good.size() - 20] ^= 0x55;  // inside IDAT: its CRC no longer fits
    struct Case {
        const char* name;
        Bytes bytes;
        StatusCode code;
    };
    const Case cases[] = {
        {"IHDR CRC", badCrc, StatusCode::Damaged},
        {"IDAT CRC", badPixels, StatusCode::Damaged},
        {"deflate stream broken",
         PngBuilder(5, 4, 8, 2).Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF}).Build(),
         StatusCode::Damaged},
        {"too few rows", PngBuilder(5, 4, 8, 2).ImageData(Bytes(16 * 2, 0)).Build(),
         StatusCode::Damaged},
        {"no image data", PngBuilder(5, 4, 8, 2).Build(), StatusCode::Damaged},
        {"palette picture without palette", PngBuilder(5, 4, 8, 3).ImageData(Bytes(24)).Build(),
         StatusCode::Damaged},
        {"unknown critical chunk",
         PngBuilder(5, 4, 8, 2).Chunk("QQQQ", {1, 2}).RgbRows(Pattern).Build(),
         StatusCode::Unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Status status = ReadPng(c.bytes, &dib);
        EXPECT_EQ(status.code, c.code) << status.Text();
        EXPECT_EQ(status.format, std::string("PNG"));
        EXPECT_FALSE(status.detail.empty());
        EXPECT_TRUE(dib.IsNone());
    }
}

// The zlib stream of the pattern's rows (filter 0), as one piece.
Bytes PatternStream(int width, int height) {
    Bytes rows;
    for (int y = 0; y < height; ++y) {
        rows.push_back(0);
        for (int x = 0; x < width; ++x) {
            const uint32_t colour = Pattern(x, y);
            rows.insert(rows.end(), {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16)});
        }
    }
    uLongf size = compressBound(rows.size());
    Bytes stream(size);
    compress2(stream.data(), &size, rows.data(), rows.size(), 6);
    stream.resize(size);
    return stream;
}

// Checksums the library would let pass at the end of the image data are
// refused all the same; an ancillary chunk's is not the picture's business.
TEST(PngFileTest, RefusesEveryBadChecksumOfTheImageData) {
    const Bytes stream = PatternStream(6, 5);
    const Bytes head(stream.begin(), stream.end() - 4);
    const Bytes adler(stream.end() - 4, stream.end());
    Bytes badAdler = adler;
    badAdler[3] ^= 1;
    Bytes wholeBadAdler = head;
    wholeBadAdler.insert(wholeBadAdler.end(), badAdler.begin(), badAdler.end());
    const Bytes firstHalf(stream.begin(), stream.begin() + stream.size() / 2);
    const Bytes secondHalf(stream.begin() + stream.size() / 2, stream.end());
    Bytes lastCrc = PngBuilder(6, 5, 8, 2).Chunk("IDAT", stream).Build();
    lastCrc[lastCrc.size() - 13] ^= 1;  // the IDAT's CRC, just before IEND
    Bytes iendCrc = PngBuilder(6, 5, 8, 2).Chunk("IDAT", stream).Build();
    iendCrc.back() ^= 1;
    struct Case {
        const char* name;
        Bytes file;
        const char* detail;  // null: the picture loads
    };
    const Case cases[] = {
        {"the only IDAT's CRC", lastCrc, "bad checksum in IDAT"},
        {"the first IDAT's CRC",
         PngBuilder(6, 5, 8, 2)
             .ChunkWithCrc("IDAT", firstHalf, 0)
             .Chunk("IDAT", secondHalf)
             .Build(),
         "bad checksum in IDAT"},
        {"Adler-32 in its own IDAT",
         PngBuilder(6, 5, 8, 2).Chunk("IDAT", head).Chunk("IDAT", badAdler).Build(),
         "bad checksum in IDAT"},
        {"Adler-32 with the data", PngBuilder(6, 5, 8, 2).Chunk("IDAT", wholeBadAdler).Build(),
         "bad checksum in IDAT"},
        {"IEND's CRC", iendCrc, "bad checksum in IEND"},
        {"sound, Adler-32 in its own IDAT",
         PngBuilder(6, 5, 8, 2).Chunk("IDAT", head).Chunk("IDAT", adler).Build(), nullptr},
        {"ancillary CRC after the data",
         PngBuilder(6, 5, 8, 2)
             .Chunk("IDAT", stream)
             .ChunkWithCrc("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'x'}, 0)
             .Build(),
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryBlock dib;
        ImageMetadata metadata;
        const Status status = ReadPng(c.file, &dib, &metadata);
        if (c.detail == nullptr) {
            ASSERT_TRUE(status.IsOk()) << status.Text();
            EXPECT_EQ(PictureOf(dib), PatternPicture(6, 5));
            EXPECT_TRUE(metadata.comments.empty());
        } else {
            EXPECT_EQ(status.Text(), std::string("damaged PNG (") + c.detail + ")");
            EXPECT_TRUE(dib.IsNone());
        }
    }
}

// Cut anywhere inside its image data, a file is refused as damaged; cut after
// that (even in the last CRC, once the pixels are all there) it may load, and
// then with the whole picture.
TEST(PngFileTest, EveryPrefixIsRefusedOrWhole) {
    Bytes file = PngBuilder(9, 7, 8, 2).RgbRows(Pattern).Chunk("tEXt", {'a', 0, 'b'}).Build();
    // The IDAT CRC, the tEXt chunk and IEND follow the image data.
    const size_t imageEnd = file.size() - 4 - 15 - 12;
    const std::vector<uint32_t> whole = PatternPicture(9, 7);
    for (size_t length = 0; length < file.size(); ++length) {
        SCOPED_TRACE(length);
        MemoryBlock dib;
        const Status status = ReadPng(std::span(file).first(length), &dib);
        if (length < kPngSignatureSize) {
            EXPECT_EQ(status.code, StatusCode::NotThisFormat);
        } else if (length < imageEnd) {
            EXPECT_EQ(status.code, StatusCode::Damaged) << status.Text();
        }
        EXPECT_EQ(dib.IsNone(), !status.IsOk());
        if (status.IsOk()) {
            EXPECT_EQ(PictureOf(dib), whole);
        }
    }
}

TEST(PngFileTest, TakesMetadataFromEitherSideOfTheImageData) {
    const Bytes exif = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const Bytes png = PngBuilder(2, 2, 8, 2)
                          .Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'o', 'n', 'e'})
                          .Chunk("tEXt", {'T', 'i', 't', 'l', 'e', 0, 'x'})
                          .RgbRows(Pattern)
                          .Chunk("eXIf", exif)
                          .Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 't', 'w', 'o'})
                          .Build();
    MemoryBlock dib;
    ImageMetadata metadata;
    ASSERT_TRUE(ReadPng(png, &dib, &metadata).IsOk());
    EXPECT_EQ(metadata.comments, std::vector<std::string>({"one", "two"}));
    EXPECT_EQ(metadata.exif, exif);
}

ImageMetadata SomeMetadata() {
    ImageMetadata metadata;
    metadata.icc = Bytes(600, 0);
    for (size_t i = 0; i < metadata.icc.size(); ++i) {
        metadata.icc[i] = uint8_t(i * 7);
    }
    metadata.exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
    metadata.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\xC3\xA9</x:xmpmeta>";
    metadata.comments = {"first comment", "caf\xC3\xA9, second"};
    return metadata;
}

TEST(PngFileTest, WritesWhatItReadsBackExactly) {
    test::TempDir dir;
    const std::string path = dir.File("out.png");
    CDibImage image;
    const Bytes bmp = test::BmpBuilder(13, 6, 24).Pixels24(Pattern).Build();
    ASSERT_TRUE(test::WriteBytes(dir.File("in.bmp"), bmp));
    image.LoadBmp(dir.File("in.bmp").c_str());

    struct Case {
        const char* name;
        const ImageMetadata* metadata;
        bool exifKept;
    };
    const ImageMetadata full = SomeMetadata();
    ImageMetadata badExif = SomeMetadata();
    badExif.exif = {'n', 'o', 't', ' ', 'T', 'I', 'F', 'F'};
    const Case cases[] = {{"plain", nullptr, true},
                          {"with metadata", &full, true},
                          {"EXIF without TIFF header left out", &badExif, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        image.SavePng(path.c_str(), c.metadata);
        ASSERT_TRUE(image.GetSaveReport().written);
        EXPECT_EQ(dir.List(), std::vector<std::string>({"in.bmp", "out.png"}));
        const Bytes file = test::ReadBytes(path);
        ASSERT_GT(file.size(), 26u);
        EXPECT_EQ(file[24], 8);  // bit depth
        EXPECT_EQ(file[25], 2);  // RGB
        MemoryBlock dib;
        ImageMetadata read;
        ASSERT_TRUE(ReadPng(file, &dib, &read).IsOk());
        EXPECT_EQ(PictureOf(dib), PatternPicture(13, 6));
        ImageMetadata expected = c.metadata != nullptr ? *c.metadata : ImageMetadata();
        if (!c.exifKept) {
            expected.exif.clear();
        }
        EXPECT_EQ(read.icc, expected.icc);
        EXPECT_EQ(read.exif, expected.exif);
        EXPECT_EQ(read.xmp, expected.xmp);
        EXPECT_EQ(read.comments, expected.comments);
    }
}

TEST(PngFileTest, WritesIndexedPicturesThroughTheirColours) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("in.bmp"),
                                 test::BmpBuilder(6, 3, 8)
                                     .GreyPalette(256)
                                     .Pixels8([](int x, int y) { return uint8_t(x * 40 + y); })
                                     .Build()));
    CDibImage image;
    image.LoadBmp(dir.File("in.bmp").c_str());
    image.SavePng(dir.File("out.png").c_str());
    ASSERT_TRUE(image.GetSaveReport().written);
    MemoryBlock dib;
    ASSERT_TRUE(ReadPng(test::ReadBytes(dir.File("out.png")), &dib).IsOk());
    const std::vector<uint32_t> picture = PictureOf(dib);
    ASSERT_EQ(picture.size(), 18u);
    EXPECT_EQ(picture[6 * 2 + 5], 0x010101u * (5 * 40 + 2));
}

TEST(PngFileTest, AFailedWriteLeavesTheTargetAlone) {
    test::TempDir dir;
    const Bytes rgb(4 * 3 * 3, 0x80);
    Status status = WritePngFile(dir.File("missing/out.png").c_str(), rgb.data(), 4, 3);
    EXPECT_EQ(status.code, StatusCode::IoError);
    EXPECT_EQ(status.errorNumber, ENOENT);

    const std::string path = dir.File("old.png");
    ASSERT_TRUE(test::WriteBytes(path, {1, 2, 3}));
    status = WritePngFile(path.c_str(), rgb.data(), 0, 3);
    EXPECT_EQ(status.errorNumber, EINVAL);
    FailNthWriteForTesting(1, ENOSPC);
    status = WritePngFile(path.c_str(), rgb.data(), 4, 3);
    FailNthWriteForTesting(0, 0);
    EXPECT_EQ(status.errorNumber, ENOSPC);
    EXPECT_EQ(test::ReadBytes(path), Bytes({1, 2, 3}));
    EXPECT_EQ(dir.List(), std::vector<std::string>({"old.png"}));
}

// The row filters a written file used, from its inflated image data.
std::set<uint8_t> FiltersUsed(const Bytes& file, uint64_t rowBytes, uint32_t height) {
    Bytes packed;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length =
            uint32_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        if (std::string(file.begin() + at + 4, file.begin() + at + 8) == "IDAT") {
            packed.insert(packed.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
        }
        at += 12 + length;
    }
    Bytes raw((rowBytes + 1) * height);
    uLongf rawLength = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &rawLength, packed.data(), packed.size()), Z_OK);
    EXPECT_EQ(rawLength, raw.size());
    std::set<uint8_t> filters;
    for (uint32_t r = 0; r < height; ++r) {
        filters.insert(raw[r * (rowBytes + 1)]);
    }
    return filters;
}

// Rows that each favour one filter: noise (none), a ramp (sub), the row above
// plus one (up).
uint16_t FilterSample(std::vector<uint16_t>& samples, uint32_t width, uint32_t x, uint32_t y,
                      uint32_t c, std::mt19937& random) {
    switch (y % 3) {
        case 0:
            return uint16_t(random());
        case 1:
            return uint16_t(x * 3 + c) * 257;
        default:
            return uint16_t(samples[(uint64_t{y - 1} * width + x) * 3 + c] + 257);
    }
}

TEST(PngFileTest, WritesEveryWidthAndDepthExactlyWithTheRowFilters) {
    test::TempDir dir;
    const std::string path = dir.File("out.png");
    for (const uint32_t width : {1u, 2u, 3u, 17u, 67u}) {
        for (const bool deep : {false, true}) {
            SCOPED_TRACE(std::to_string(width) + (deep ? " x 16 bits" : " x 8 bits"));
            const uint32_t height = 9;
            std::mt19937 random(width);
            std::vector<uint16_t> samples(uint64_t{width} * height * 3);
            for (uint32_t y = 0; y < height; ++y) {
                for (uint32_t x = 0; x < width; ++x) {
                    for (uint32_t c = 0; c < 3; ++c) {
                        samples[(uint64_t{y} * width + x) * 3 + c] =
                            FilterSample(samples, width, x, y, c, random);
                    }
                }
            }
            if (!deep) {
                for (uint16_t& sample : samples) {
                    sample >>= 8;
                }
            }
            DeepPixels pixels;
            ASSERT_TRUE(pixels.Allocate(width, height));
            std::copy(samples.begin(), samples.end(), pixels.Row(0));
            std::vector<uint8_t> rgb(samples.begin(), samples.end());
            ASSERT_TRUE((deep ? WritePng16File(path.c_str(), pixels)
                              : WritePngFile(path.c_str(), rgb.data(), width, height))
                            .IsOk());

            const Bytes file = test::ReadBytes(path);
            DecodedImage decoded;
            MemoryBlock spare;
            ASSERT_TRUE(DecodePngImage(file, spare, decoded).IsOk());
            if (deep) {
                ASSERT_FALSE(decoded.deep.IsEmpty());
                EXPECT_TRUE(std::equal(samples.begin(), samples.end(), decoded.deep.Row(0)));
            } else {
                std::vector<uint32_t> expected;
                for (uint64_t i = 0; i < samples.size(); i += 3) {
                    expected.push_back(samples[i] | samples[i + 1] << 8 | samples[i + 2] << 16);
                }
                EXPECT_EQ(PictureOf(decoded.dib), expected);
            }
            if (width >= 17) {
                EXPECT_EQ(FiltersUsed(file, uint64_t{width} * 3 * (deep ? 2 : 1), height),
                          std::set<uint8_t>({0, 1, 2}));
            }
        }
    }
}

// Pictures too large to filter in one piece go through the streaming encoder.
TEST(PngFileTest, WritesAPictureTooLargeForOnePiece) {
    test::TempDir dir;
    const std::string path = dir.File("big.png");
    const uint32_t width = 6000;
    const uint32_t height = 6000;
    std::vector<uint8_t> rgb(uint64_t{width} * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        std::fill_n(rgb.begin() + int64_t(uint64_t{y} * width * 3), width * 3, uint8_t(y * 7));
    }
    ASSERT_TRUE(WritePngFile(path.c_str(), rgb.data(), width, height).IsOk());
    rgb = {};
    MemoryBlock dib;
    ASSERT_TRUE(ReadPng(test::ReadBytes(path), &dib).IsOk());
    const BitmapInfoHeader header = ParseInfoHeader(dib.Data());
    ASSERT_EQ(header.biWidth, int32_t(width));
    const uint8_t* pixels = dib.Data() + DibPixelOffset(header);
    for (const uint32_t y : {0u, 1u, 2999u, 5999u}) {
        const uint8_t* row = pixels + uint64_t(height - 1 - y) * DibStride(width, 24);
        EXPECT_EQ(row[0], uint8_t(y * 7));
        EXPECT_EQ(row[3 * width - 1], uint8_t(y * 7));
    }
}

}  // namespace
}  // namespace tessary
