#include "formats/jpeg_file.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "formats/metadata.h"
#include "platform/file_handle.h"
#include "tests/support/gif_builder.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

struct Read {
    Bytes rgb;
    uint32_t width = 0;
    uint32_t height = 0;
    Status status;
};

Read ReadPath(const std::string& path) {
    Read read;
    read.width = read.height = 99;
    ByteBuffer buffer = ReadJpegFile(path.c_str(), &read.width, &read.height, &read.status);
    if (buffer) {
        read.rgb.assign(buffer.get(), buffer.get() + size_t(read.width) * read.height * 3);
    }
    return read;
}

Read ReadFileBytes(const Bytes& bytes) {
    test::TempDir dir;
    std::string path = dir.File("picture.jpg");
    EXPECT_TRUE(test::WriteBytes(path, bytes));
    return ReadPath(path);
}

TEST(JpegFileTest, RefusesWhatIsNotJpegQuietly) {
    test::TempDir dir;
    const Bytes bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0,  54, 0, 0, 0, 40, 0, 0, 0, 1,
                       0,   0,   0,  1, 0, 0, 0, 1, 0, 24, 0,  0, 0, 0, 0,  4, 0, 0, 0};
    struct Case {
        const char* name;
        Bytes bytes;
        StatusCode status;
    };
    const Case cases[] = {
        {"empty file", {}, StatusCode::NotThisFormat},
        {"BMP", bmp, StatusCode::NotThisFormat},
        {"GIF", test::SimpleGif(2, 2, {0, 1, 1, 0}, test::DistinctPalette(2)),
         StatusCode::NotThisFormat},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, StatusCode::NotThisFormat},
        {"JPEG signature only", Bytes{0xFF, 0xD8, 0xFF}, StatusCode::Damaged},
    };
    const int descriptors = OpenDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        Read read = ReadFileBytes(c.bytes);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(read.rgb.empty());
        EXPECT_EQ(read.status.code, c.status);
        EXPECT_EQ(read.width, 0u);
        EXPECT_EQ(read.height, 0u);
    }
    EXPECT_EQ(ReadPath(dir.File("missing.jpg")).status.code, StatusCode::IoError);
    EXPECT_EQ(ReadPath(dir.Path()).status.code, StatusCode::IoError);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(JpegFileTest, DecodesAsTheLibraryDoes) {
    struct Case {
        const char* name;
        uint32_t width;
        uint32_t height;
        test::JpegOptions options;
    };
    const Case cases[] = {
        {"colour", 37, 23, {}},
        {"progressive", 40, 16, {.progressive = true}},
        {"greyscale", 19, 11, {.components = 1, .space = JCS_GRAYSCALE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes samples = test::GradientPicture(c.width, c.height);
        if (c.options.components == 1) {
            for (size_t i = 0; i < samples.size() / 3; ++i) {
                samples[i] = samples[i * 3];
            }
            samples.resize(samples.size() / 3);
        }
        Bytes file = test::EncodeJpeg(samples, c.width, c.height, c.options);
        test::DecodedJpeg reference = test::DecodeJpeg(file);
        ASSERT_TRUE(reference.ok);
        Read read = ReadFileBytes(file);
        EXPECT_EQ(read.status.code, StatusCode::Ok);
        EXPECT_EQ(read.width, c.width);
        EXPECT_EQ(read.height, c.height);
        Bytes expected = reference.samples;
        if (reference.components == 1) {
            expected.clear();
            for (uint8_t grey : reference.samples) {
                expected.insert(expected.end(), 3, grey);
            }
        }
        EXPECT_EQ(read.rgb, expected);
    }
}

TEST(JpegFileTest, RefusesFourComponentFiles) {
    Bytes cmyk(16 * 8 * 4, 128);
    Bytes file = test::EncodeJpeg(cmyk, 16, 8, {.components = 4, .space = JCS_CMYK});
    ASSERT_FALSE(file.empty());
    Read read = ReadFileBytes(file);
    EXPECT_TRUE(read.rgb.empty());
    EXPECT_EQ(read.status.Text(), "CMYK JPEG, not supported");
}

TEST(JpegFileTest, DataEndingEarlyStillLoadsAtFullSize) {
    Bytes file = test::EncodeJpeg(test::GradientPicture(64, 64), 64, 64);
    size_t scan = 0;
    while (scan + 1 < file.size() && !(file[scan] == 0xFF && file[scan + 1] == 0xDA)) {
        ++scan;
    }
    file.resize(scan + (file.size() - scan) / 2);  // half of the scan data
    testing::internal::CaptureStderr();
    Read read = ReadFileBytes(file);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(read.status.code, StatusCode::Ok);
    EXPECT_EQ(read.width, 64u);
    EXPECT_EQ(read.rgb.size(), 64u * 64 * 3);
}

TEST(JpegFileTest, RefusesHugeHeadersBeforeDecoding) {
    // 65500 x 65500 x 3 bytes is 12 GB: refused from the header alone.
    Read read = ReadFileBytes(test::JpegHeaderOnly(65500, 65500));
    EXPECT_TRUE(read.rgb.empty());
    EXPECT_EQ(read.status.code, StatusCode::TooLarge);
    // Just under the limit in one dimension still reads (the data covers 8 x 8).
    EXPECT_EQ(ReadFileBytes(test::JpegHeaderOnly(64, 64)).status.code, StatusCode::Ok);
}

TEST(JpegFileTest, WriterRefusesMissingInputWithoutTouchingTheFile) {
    test::TempDir dir;
    const std::string existing = dir.File("old.jpg");
    ASSERT_TRUE(test::WriteBytes(existing, Bytes{1, 2, 3}));
    const Bytes picture = test::GradientPicture(4, 4);
    struct Case {
        const char* name;
        const uint8_t* buffer;
        uint32_t width;
        uint32_t height;
    };
    const Case cases[] = {
        {"no buffer", nullptr, 4, 4},
        {"width 0", picture.data(), 0, 4},
        {"height 0", picture.data(), 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WriteJpegFile(existing.c_str(), c.buffer, c.width, c.height, 100), 0);
        EXPECT_EQ(WriteJpegFile(dir.File("new.jpg").c_str(), c.buffer, c.width, c.height, 100), 0);
    }
    EXPECT_EQ(test::ReadBytes(existing), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"old.jpg"});

    int error = 0;
    EXPECT_EQ(
        WriteJpegFile(dir.File("no/such/folder.jpg").c_str(), picture.data(), 4, 4, 100, &error),
        0);
    EXPECT_EQ(error, ENOENT);
}

TEST(JpegFileTest, QualityHundredIsBaselineWithUnitQuantisation) {
    test::TempDir dir;
    const std::string path = dir.File("out.jpg");
    const Bytes picture = test::GradientPicture(50, 30);
    ASSERT_EQ(WriteJpegFile(path.c_str(), picture.data(), 50, 30, 100), 1);
    const Bytes file = test::ReadBytes(path);
    test::JpegLayout layout = test::InspectJpeg(file);
    EXPECT_TRUE(layout.baseline);
    EXPECT_EQ(layout.frameComponents, 3);
    ASSERT_FALSE(layout.quantTables.empty());
    for (const auto& table : layout.quantTables) {
        EXPECT_EQ(table, std::vector<uint16_t>(64, 1));
    }
    // The same bytes as the library writes with nothing but these settings.
    EXPECT_EQ(file, test::EncodeJpeg(picture, 50, 30, {.quality = 100}));

    // Round trip: orientation and colour order survive, values nearly.
    Read read = ReadPath(path);
    ASSERT_EQ(read.rgb.size(), picture.size());
    for (size_t i = 0; i < picture.size(); ++i) {
        ASSERT_NEAR(read.rgb[i], picture[i], 8) << i;
    }
}

TEST(JpegFileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
    test::TempDir dir;
    const std::string path = dir.File("out.jpg");
    const Bytes old = {9, 8, 7, 6};
    ASSERT_TRUE(test::WriteBytes(path, old));
    // Noise compresses badly, so the file takes many writes.
    Bytes picture(160 * 160 * 3);
    uint32_t seed = 1;
    for (uint8_t& b : picture) {
        seed = seed * 1103515245 + 12345;
        b = uint8_t(seed >> 16);
    }
    int failures = 0;
    for (uint64_t n = 1; n < 1000; ++n) {
        SCOPED_TRACE(n);
        FailNthWriteForTesting(n, ENOSPC);
        int error = 0;
        int written = WriteJpegFile(path.c_str(), picture.data(), 160, 160, 100, &error);
        FailNthWriteForTesting(0, 0);
        if (written == 1) {
            break;  // the save needed fewer than n writes
        }
        ++failures;
        EXPECT_EQ(error, ENOSPC);
        ASSERT_EQ(test::ReadBytes(path), old);
        ASSERT_EQ(dir.List(), std::vector<std::string>{"out.jpg"});
    }
    EXPECT_GT(failures, 5);
    EXPECT_EQ(test::ReadBytes(path), test::EncodeJpeg(picture, 160, 160, {.quality = 100}));
}

// Collects what a decode hands over, nothing more.
class NullSink final : public JpegRowSink {
  public:
    bool Begin(uint32_t, uint32_t) override { return true; }
    void StoreRow(const uint8_t*, int, uint32_t) override {}
};

// The luma sampling factors a file was written with, and its APP2 marker count.
struct WrittenLayout {
    int lumaH = 0;
    int lumaV = 0;
    int iccChunks = 0;
};

WrittenLayout LayoutOf(const Bytes& file) {
    WrittenLayout layout;
    for (size_t i = 2; i + 4 <= file.size() && file[i] == 0xFF;) {
        const uint8_t marker = file[i + 1];
        const size_t length = size_t(file[i + 2]) << 8 | file[i + 3];
        if (marker == 0xE2) {
            ++layout.iccChunks;
        }
        if (marker == 0xC0 && i + 11 < file.size()) {
            layout.lumaH = file[i + 11] >> 4;
            layout.lumaV = file[i + 11] & 15;
        }
        if (marker == 0xDA) {
            break;
        }
        i += 2 + length;
    }
    return layout;
}

class Rows final : public JpegRowSource {
  public:
    explicit Rows(uint32_t width) : m_row(width * 3, 90) {}
    const uint8_t* Row(uint32_t) override { return m_row.data(); }

  private:
    Bytes m_row;
};

TEST(JpegFileTest, MetadataGoesOutAndComesBackWhenAsked) {
    ImageMetadata metadata;
    metadata.exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 1, 2, 3};
    metadata.icc.resize(150000);  // three chunks of at most 65519 bytes
    for (size_t i = 0; i < metadata.icc.size(); ++i) {
        metadata.icc[i] = uint8_t(i * 7 + i / 251);
    }
    metadata.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    metadata.comments = {"first", std::string("second\0with a zero", 18)};
    test::TempDir dir;
    struct Case {
        const char* name;
        JpegSaveOptions options;
        bool metadataBack;
        WrittenLayout layout;
    };
    const Case cases[] = {
        {"library's sampling, no metadata", {}, false, {2, 2, 0}},
        {"4:4:4 with metadata", {90, JpegSubsampling::Full, true}, true, {1, 1, 3}},
        {"4:2:0 with metadata", {100, JpegSubsampling::Half, true}, true, {2, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("out.jpg");
        Rows rows(40);
        ASSERT_EQ(EncodeJpegFile(path.c_str(), rows, 40, 24, c.options, &metadata), 1);
        const Bytes file = test::ReadBytes(path);
        const WrittenLayout layout = LayoutOf(file);
        EXPECT_EQ(layout.lumaH, c.layout.lumaH);
        EXPECT_EQ(layout.lumaV, c.layout.lumaV);
        EXPECT_EQ(layout.iccChunks, c.layout.iccChunks);
        NullSink sink;
        JpegExtras extras;
        ASSERT_TRUE(DecodeJpeg(file, sink, &extras).IsOk());
        if (c.metadataBack) {
            EXPECT_EQ(extras.metadata.exif, metadata.exif);
            EXPECT_EQ(extras.metadata.icc, metadata.icc);
            EXPECT_EQ(extras.metadata.xmp, metadata.xmp);
            EXPECT_EQ(extras.metadata.comments, metadata.comments);
        } else {
            EXPECT_TRUE(extras.metadata.IsEmpty());
        }
    }
}

}  // namespace
}  // namespace tessary
