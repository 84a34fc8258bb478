#include "formats/tiff_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "formats/dib.h"
#include "formats/png_file.h"
#include "platform/file_handle.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;

// ---- A little-endian one-page TIFF from its tags ----

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;

struct Tag {
    uint16_t id;
    uint16_t type;
    std::vector<uint32_t> values;
};

void Put(Bytes& bytes, uint64_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes[at + i] = uint8_t(value >> (8 * i));
    }
}

// The tags in ascending order; a StripOffsets or TileOffsets value of 0 points
// at `data`, which follows the directory.
Bytes BuildTiff(const std::vector<Tag>& tags, const Bytes& data) {
    const uint64_t directoryEnd = 8 + 2 + 12 * tags.size() + 4;
    uint64_t extra = 0;
    for (const Tag& tag : tags) {
        const uint64_t size = tag.values.size() * (tag.type == kShort ? 2 : 4);
        extra += size > 4 ? size : 0;
    }
    const uint64_t dataAt = directoryEnd + extra;
    Bytes bytes(dataAt, 0);
    bytes[0] = bytes[1] = 'I';
    Put(bytes, 2, 42, 2);
    Put(bytes, 4, 8, 4);
    Put(bytes, 8, uint32_t(tags.size()), 2);
    uint64_t entry = 10;
    uint64_t outside = directoryEnd;
    for (const Tag& tag : tags) {
        const int size = tag.type == kShort ? 2 : 4;
        Put(bytes, entry, tag.id, 2);
        Put(bytes, entry + 2, tag.type, 2);
        Put(bytes, entry + 4, uint32_t(tag.values.size()), 4);
        const bool inline_ = tag.values.size() * size <= 4;
        uint64_t at = inline_ ? entry + 8 : outside;
        if (!inline_) {
            Put(bytes, entry + 8, uint32_t(outside), 4);
            outside += tag.values.size() * size;
        }
        const bool offsets = tag.id == TIFFTAG_STRIPOFFSETS || tag.id == TIFFTAG_TILEOFFSETS;
        for (uint32_t value : tag.values) {
            Put(bytes, at, offsets && value == 0 ? uint32_t(dataAt) : value, size);
            at += size;
        }
        entry += 12;
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

std::vector<Tag> RgbTags(uint32_t width, uint32_t height, uint16_t compression,
                         uint32_t stripBytes) {
    return {{TIFFTAG_IMAGEWIDTH, kLong, {width}},
            {TIFFTAG_IMAGELENGTH, kLong, {height}},
            {TIFFTAG_BITSPERSAMPLE, kShort, {8, 8, 8}},
            {TIFFTAG_COMPRESSION, kShort, {compression}},
            {TIFFTAG_PHOTOMETRIC, kShort, {PHOTOMETRIC_RGB}},
            {TIFFTAG_STRIPOFFSETS, kLong, {0}},
            {TIFFTAG_SAMPLESPERPIXEL, kShort, {3}},
            {TIFFTAG_ROWSPERSTRIP, kLong, {height}},
            {TIFFTAG_STRIPBYTECOUNTS, kLong, {stripBytes}}};
}

Status Decode(const Bytes& bytes, DecodedImage& image) {
    MemoryBlock spare;
    return DecodeTiffImage(bytes, spare, image);
}

// How far the process's peak address space grows while `work` runs, in MiB,
// measured in a child so that nothing before it counts.
template <typename Work>
int PeakGrowthMiB(Work work) {
    auto peak = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmPeak:", 0) == 0) {
                return std::stoll(line.substr(7));  // kB
            }
        }
        return 0LL;
    };
    const pid_t child = fork();
    if (child == 0) {
        const long long before = peak();
        work();
        _exit(int(std::min<long long>((peak() - before) / 1024, 255)));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

TEST(TiffFileTest, RefusesBombsBeforeTakingTheirMemory) {
    std::vector<Tag> hugeTile = RgbTags(64, 64, COMPRESSION_ADOBE_DEFLATE, 100);
    hugeTile[5] = {TIFFTAG_TILEOFFSETS, kLong, {0}};
    hugeTile[7] = {TIFFTAG_TILEWIDTH, kLong, {16384}};
    hugeTile[8] = {TIFFTAG_TILEBYTECOUNTS, kLong, {100}};
    hugeTile.insert(hugeTile.begin() + 8, {TIFFTAG_TILELENGTH, kLong, {16384}});
    // 2000 rows of one strip each, every strip the same 100 bytes of LZW data.
    std::vector<Tag> sharedStrips = RgbTags(12000, 2000, COMPRESSION_LZW, 100);
    sharedStrips[5].values.assign(2000, 0);
    sharedStrips[7].values = {1};
    sharedStrips[8].values.assign(2000, 100);
    const struct {
        const char* name;
        Bytes file;
        StatusCode code;
    } cases[] = {
        {"over the limit", BuildTiff(RgbTags(100000, 100000, COMPRESSION_NONE, 100), Bytes(100)),
         StatusCode::TooLarge},
        {"deflate far too short",
         BuildTiff(RgbTags(15000, 15000, COMPRESSION_ADOBE_DEFLATE, 100), Bytes(100)),
         StatusCode::Damaged},
        {"counts past the end",
         BuildTiff(RgbTags(4000, 4000, COMPRESSION_NONE, 48000000), Bytes(100)),
         StatusCode::Damaged},
        {"lzw far too short", BuildTiff(RgbTags(12000, 12000, COMPRESSION_LZW, 50), Bytes(50)),
         StatusCode::Damaged},
        {"one huge tile", BuildTiff(hugeTile, Bytes(100)), StatusCode::Damaged},
        {"strips sharing their data", BuildTiff(sharedStrips, Bytes(100)), StatusCode::Damaged},
    };
    for (const auto& c : cases) {
        DecodedImage image;
        EXPECT_EQ(Decode(c.file, image).code, c.code) << c.name;
        EXPECT_TRUE(image.dib.IsNone()) << c.name;
        EXPECT_LT(PeakGrowthMiB([&] {
                      DecodedImage inChild;
                      Decode(c.file, inChild);
                  }),
                  64)
            << c.name;
    }
}

// A small 16-bit picture with the extremes and the rounding edges in it.
DeepPixels DeepPicture(uint32_t width, uint32_t height) {
    DeepPixels pixels;
    pixels.Allocate(width, height);
    const uint16_t edges[] = {0, 65535, 0x80FF, 0x8080, 0x807F, 0x0080, 0x007F, 257};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t i = 0; i < pixels.RowSamples(); ++i) {
            const uint32_t n = y * uint32_t(pixels.RowSamples()) + i;
            pixels.Row(y)[i] = n < 24 ? edges[n % 8] : uint16_t(n * 40503u + y);
        }
    }
    return pixels;
}

bool SameSamples(const DeepPixels& a, const DeepPixels& b) {
    return a.width == b.width && a.height == b.height && !a.IsEmpty() && !b.IsEmpty() &&
           std::equal(a.samples.get(), a.samples.get() + a.RowSamples() * a.height,
                      b.samples.get());
}

// The DIB must hold the deep picture rounded to the nearest of 256 levels.
bool DibIsRounded(const DecodedImage& image) {
    const BitmapInfoHeader header = ParseInfoHeader(image.dib.Data());
    const uint8_t* pixels = image.dib.Data() + DibPixelOffset(header);
    for (uint32_t y = 0; y < image.deep.height; ++y) {
        const uint8_t* row = pixels + (image.deep.height - 1 - y) * DibStride(image.deep.width, 24);
        for (uint32_t x = 0; x < image.deep.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const uint16_t sample = image.deep.Row(y)[x * 3 + c];
                if (row[x * 3 + 2 - c] != (sample * 2 + 257) / 514) {
                    return false;
                }
            }
        }
    }
    return true;
}

// A big-endian EXIF block laid out as the reader lays out the EXIF it finds:
// header, a first directory pointing at the EXIF directory, that directory
// (exposure time, ISO speed, date taken), then its values.
Bytes ExifBlock() {
    Bytes block(96, 0);
    auto put = [&](uint32_t at, uint32_t value, int size) {
        for (int i = 0; i < size; ++i) {
            block[at + i] = uint8_t(value >> (8 * (size - 1 - i)));
        }
    };
    block[0] = block[1] = 'M';
    put(2, 42, 2), put(4, 8, 4);
    put(8, 1, 2), put(10, 34665, 2), put(12, kLong, 2), put(14, 1, 4), put(18, 26, 4);
    put(26, 3, 2);
    put(28, 33434, 2), put(30, 5, 2), put(32, 1, 4), put(36, 68, 4);
    put(40, 34855, 2), put(42, kShort, 2), put(44, 1, 4), put(48, 200, 2);
    put(52, 36867, 2), put(54, 2, 2), put(56, 20, 4), put(60, 76, 4);
    put(68, 1, 4), put(72, 250, 4);
    const char date[] = "2026:12:10 15:30:00";
    std::copy(date, date + 20, block.begin() + 76);
    return block;
}

using Writer16 = Status (*)(const char*, const DeepPixels&, const ImageMetadata*);
using Reader = Status (*)(ByteView, MemoryBlock&, DecodedImage&);

TEST(TiffFileTest, SixteenBitPicturesRoundTripSampleForSample) {
    const DeepPixels original = DeepPicture(13, 7);
    const struct {
        const char* name;
        Writer16 first;
        Reader read;
        Writer16 second;
        Reader readSecond;
    } cases[] = {
        {"png to png", WritePng16File, DecodePngImage, WritePng16File, DecodePngImage},
        {"tiff to tiff", WriteTiffFile, DecodeTiffImage, WriteTiffFile, DecodeTiffImage},
        {"png to tiff", WritePng16File, DecodePngImage, WriteTiffFile, DecodeTiffImage},
    };
    ImageMetadata metadata;
    metadata.icc = {1, 2, 3, 4, 5};
    metadata.xmp = "<x:xmpmeta/>";
    metadata.comments = {"kept"};
    metadata.exif = ExifBlock();
    for (const auto& c : cases) {
        test::TempDir dir;
        ASSERT_TRUE(c.first(dir.File("a").c_str(), original, &metadata).IsOk()) << c.name;
        DecodedImage once;
        MemoryBlock spare;
        ASSERT_TRUE(c.read(test::ReadBytes(dir.File("a")), spare, once).IsOk()) << c.name;
        ASSERT_TRUE(c.second(dir.File("b").c_str(), once.deep, &once.metadata).IsOk()) << c.name;
        DecodedImage twice;
        ASSERT_TRUE(c.readSecond(test::ReadBytes(dir.File("b")), spare, twice).IsOk()) << c.name;
        EXPECT_TRUE(SameSamples(twice.deep, original)) << c.name;
        EXPECT_TRUE(DibIsRounded(twice)) << c.name;
        EXPECT_EQ(twice.metadata.icc, metadata.icc) << c.name;
        EXPECT_EQ(twice.metadata.xmp, metadata.xmp) << c.name;
        EXPECT_EQ(twice.metadata.comments, metadata.comments) << c.name;
        EXPECT_EQ(twice.metadata.exif, metadata.exif) << c.name;
    }
}

TEST(TiffFileTest, EightBitPicturesRoundTripWithoutDeepSamples) {
    test::TempDir dir;
    std::vector<uint8_t> rgb(11 * 5 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = uint8_t(i * 7);
    }
    TightRgbRows rows(rgb.data(), 11);
    ASSERT_TRUE(WriteTiffFile(dir.File("a.tif").c_str(), rows, 11, 5).IsOk());
    DecodedImage image;
    ASSERT_TRUE(Decode(test::ReadBytes(dir.File("a.tif")), image).IsOk());
    EXPECT_TRUE(image.deep.IsEmpty());
    std::vector<uint8_t> back(rgb.size());
    const BitmapInfoHeader header = ParseInfoHeader(image.dib.Data());
    DibRowsToTightRgb(image.dib.Data() + DibPixelOffset(header), 11, 5, DibStride(11, 24),
                      back.data());
    EXPECT_EQ(back, rgb);
}

TEST(TiffFileTest, EveryPrefixIsRefusedWithAReasonOrWholeAndNothingReachesStderr) {
    test::TempDir dir;
    ASSERT_TRUE(WriteTiffFile(dir.File("a.tif").c_str(), DeepPicture(9, 6)).IsOk());
    const Bytes file = test::ReadBytes(dir.File("a.tif"));
    testing::internal::CaptureStderr();
    int refused = 0;
    for (size_t size = 0; size <= file.size(); ++size) {
        DecodedImage image;
        const Status status = Decode(Bytes(file.begin(), file.begin() + size), image);
        if (status.IsOk()) {
            EXPECT_TRUE(SameSamples(image.deep, DeepPicture(9, 6))) << size;
        } else {
            ++refused;
            EXPECT_TRUE(image.dib.IsNone() && image.deep.IsEmpty()) << size;
            EXPECT_FALSE(status.Text().empty()) << size;
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(refused, 0);
}

TEST(TiffFileTest, AFailedWriteLeavesTheTargetAlone) {
    test::TempDir dir;
    const std::string path = dir.File("out.tif");
    ASSERT_TRUE(test::WriteBytes(path, {1, 2, 3}));
    FailNthWriteForTesting(1, ENOSPC);
    const Status status = WriteTiffFile(path.c_str(), DeepPicture(4, 4));
    FailNthWriteForTesting(0, 0);
    EXPECT_EQ(status.code, StatusCode::IoError);
    EXPECT_EQ(status.errorNumber, ENOSPC);
    EXPECT_EQ(test::ReadBytes(path), Bytes({1, 2, 3}));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.tif"});
}

}  // namespace
}  // namespace tessary
