#include <gtest/gtest.h>

#include "app/preview_render.h"
#include "image/deep_rows.h"
#include "image/dib_image.h"
#include "tests/support/png_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

// A picture with 16-bit samples is shown from their rounding and described by
// its samples, not by the 8 bits it is drawn with.
TEST(RenderPreview, SaysSixteenBitsPerSampleAndShowsThemRounded) {
    test::TempDir dir;
    const std::string path = dir.File("deep.png");
    const uint16_t red = 0x1234;
    const uint16_t green = 0x80FF;
    const uint16_t blue = 0xFE01;
    test::Bytes rows;
    for (int y = 0; y < 4; ++y) {
        rows.push_back(0);
        for (int x = 0; x < 3; ++x) {
            for (const uint16_t sample : {red, green, blue}) {
                rows.push_back(uint8_t(sample >> 8));
                rows.push_back(uint8_t(sample));
            }
        }
    }
    ASSERT_TRUE(test::WriteBytes(path, test::PngBuilder(3, 4, 16, 2).ImageData(rows).Build()));
    CDibImage probe;
    probe.Load(path.c_str());
    if (!probe.HasDeep()) {
        GTEST_SKIP() << "16-bit PNGs are read at 8 bits in this build";
    }
    const PreviewPicture picture = RenderPreview(QString::fromStdString(path), BatchSettings());
    EXPECT_TRUE(picture.description.endsWith(QStringLiteral("16 bits per sample")))
        << picture.description.toStdString();
    EXPECT_EQ(picture.original.pixel(1, 2),
              qRgb(ByteOfSample(red), ByteOfSample(green), ByteOfSample(blue)));
}

}  // namespace
}  // namespace tessary
