#include "formats/image_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "formats/dib.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::TempDir;

std::string Upper(std::string text) {
    for (char& c : text) {
        c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The lists derived from the table agree with its rows, whatever rows it has.
TEST(FormatTable, EveryListFollowsTheRows) {
    std::set<std::string> names;
    for (const FormatRow& row : FileFormats()) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(names.insert(row.name).second) << "two rows share a name";
        EXPECT_EQ(&RowOf(row.format), &row);
        EXPECT_NE(Status::NotThisFormat("").Text().find(row.name), std::string::npos);
        ASSERT_NE(row.extensions[0], nullptr);
        for (const char* extension : row.extensions) {
            if (extension == nullptr) {
                continue;
            }
            EXPECT_EQ(extension[0], '.');
            EXPECT_TRUE(HasReadableExtension(std::string("a") + extension));
            EXPECT_TRUE(HasReadableExtension(Upper(std::string("dir/A") + extension)));
            EXPECT_FALSE(HasReadableExtension(std::string("a") + extension + ".txt"));
            const ImageFormat chosen = OutputFormatForName(Upper(std::string("a") + extension));
            EXPECT_EQ(chosen, row.IsWritten() ? row.format : kDefaultOutputFormat) << extension;
        }
        EXPECT_EQ(WrittenFormatNamed(row.optionName),
                  row.IsWritten() ? std::optional(row.format) : std::nullopt);
    }
    EXPECT_TRUE(RowOf(kDefaultOutputFormat).IsWritten());
    EXPECT_FALSE(HasReadableExtension("a.txt"));
    EXPECT_EQ(OutputFormatForName("a.txt"), kDefaultOutputFormat);
    EXPECT_EQ(OutputFormatForName("abmp"), ImageFormat::Bmp);  // the dot is not asked for
    EXPECT_EQ(Status::NotThisFormat("").Text(), "not a " + ReadFormatList() + " image");
}

// A 24-bit DIB of a grey ramp, smooth enough for a lossy writer.
MemoryBlock TestDib(uint32_t width, uint32_t height) {
    MemoryBlock dib = CreateDib(width, height, 24);
    uint8_t* pixels = dib.Data() + DibPixelOffset(ParseInfoHeader(dib.Data()));
    const uint64_t stride = DibStride(width, 24);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width * 3; ++x) {
            pixels[(height - 1 - y) * stride + x] = uint8_t(40 * y + 9 * (x / 3));  // grey
        }
    }
    return dib;
}

// Every written format reads back what it wrote, through its own row, and a
// failed write says why in the words of the system.
TEST(FormatTable, EveryWriterRoundTripsThroughItsReader) {
    TempDir dir;
    constexpr uint32_t kWidth = 8;
    constexpr uint32_t kHeight = 4;
    const MemoryBlock dib = TestDib(kWidth, kHeight);
    const uint8_t* pixels = dib.Data() + DibPixelOffset(ParseInfoHeader(dib.Data()));
    ByteBuffer tight = AllocateBytes(TightBufferSize(kWidth, kHeight));
    DibRowsToTightRgb(pixels, kWidth, kHeight, DibStride(kWidth, 24), tight.get());
    for (const FormatRow& row : FileFormats()) {
        if (!row.IsWritten()) {
            continue;
        }
        SCOPED_TRACE(row.name);
        TightRgbRows rows(tight.get(), kWidth);
        const PictureToWrite picture{&dib, &rows, kWidth, kHeight};
        const std::string path = dir.File(std::string("out") + row.extensions[0]);
        ASSERT_TRUE(row.encode(path.c_str(), picture, {}).IsOk());

        FileBytes file;
        ASSERT_TRUE(ReadFileBytes(path.c_str(), &file).IsOk());
        ASSERT_TRUE(row.recognises(file.View()));
        MemoryBlock spare;
        DecodedImage decoded;
        ASSERT_TRUE(row.decode(file.View(), spare, decoded).IsOk());
        const BitmapInfoHeader header = ParseInfoHeader(decoded.dib.Data());
        EXPECT_EQ(header.biWidth, int32_t(kWidth));
        EXPECT_EQ(header.biHeight, int32_t(kHeight));
        const uint8_t* back = decoded.dib.Data() + DibPixelOffset(header);
        const int tolerance = row.format == ImageFormat::Jpeg ? 4 : 0;  // lossy at quality 100
        for (uint64_t i = 0; i < DibStride(kWidth, 24) * kHeight; ++i) {
            ASSERT_LE(std::abs(int(back[i]) - int(pixels[i])), tolerance) << i;
        }

        TightRgbRows again(tight.get(), kWidth);
        const PictureToWrite second{&dib, &again, kWidth, kHeight};
        const Status failed = row.encode(dir.File("missing/out").c_str(), second, {});
        EXPECT_EQ(failed.code, StatusCode::IoError);
        EXPECT_EQ(failed.errorNumber, ENOENT);
        EXPECT_EQ(failed.Text(), std::strerror(ENOENT));
    }
}

}  // namespace
}  // namespace tessary
