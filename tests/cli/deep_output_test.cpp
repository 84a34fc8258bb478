// Pictures of 16 bits a sample through the tool: kept at 16 bits where the
// output format holds them, rounded with a note where it doesn't.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/png_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;
using test::TempDir;

// A combed 16-bit RGB PNG whose samples are not multiples of 257.
Bytes DeepPng(uint32_t seed) {
    constexpr uint32_t kWidth = 24;
    constexpr uint32_t kHeight = 16;
    Bytes rows;
    for (uint32_t y = 0; y < kHeight; ++y) {
        rows.push_back(0);  // no filter
        for (uint32_t x = 0; x < kWidth * 3; ++x) {
            const uint32_t sample = ((x + seed + (y % 2) * 9) * 2731 + y * 97) & 0xFFFF;
            rows.push_back(static_cast<uint8_t>(sample >> 8));
            rows.push_back(static_cast<uint8_t>(sample));
        }
    }
    return test::PngBuilder(kWidth, kHeight, 16, 2).ImageData(rows).Build();
}

// Runs the tool with `args` (paths without quotes in them); its standard error.
std::string RunTool(const TempDir& dir, const std::string& args) {
    const std::string err = dir.File("stderr");
    const int status = std::system(
        (std::string(TESSARY_BATCH_BINARY) + " -q " + args + " 2>'" + err + "'").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args;
    const Bytes text = test::ReadBytes(err);
    return std::string(text.begin(), text.end());
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(DeepOutput, SixteenBitsKeptInPngAndRoundedWithANoteOncePerFormat) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("a.png"), DeepPng(1)));
    ASSERT_TRUE(test::WriteBytes(dir.File("b.png"), DeepPng(5)));
    const std::string inputs = " '" + dir.File("a.png") + "' '" + dir.File("b.png") + "'";

    const std::string png = RunTool(dir, "-d -f png -o '" + dir.File("png") + "'" + inputs);
    const Bytes written = test::ReadBytes(dir.File("png/a.png"));
    ASSERT_GT(written.size(), 24u) << png;
    if (written[24] != 16) {
        GTEST_SKIP() << "16-bit PNGs are read or written at 8 bits in this build";
    }
    EXPECT_EQ(Count(png, "note:"), 0u) << png;

    const struct {
        const char* format;
        const char* note;
    } rounded[] = {{"jpeg", "note: 16-bit pictures written as 8-bit JPEG"},
                   {"bmp", "note: 16-bit pictures written as 8-bit BMP"}};
    for (const auto& c : rounded) {
        SCOPED_TRACE(c.format);
        const std::string err = RunTool(
            dir, std::string("-d -f ") + c.format + " -o '" + dir.File(c.format) + "'" + inputs);
        EXPECT_EQ(Count(err, c.note), 1u) << err;
        EXPECT_EQ(Count(err, "note:"), 1u) << err;
    }
}

}  // namespace
}  // namespace tessary
