#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "image/dib_image.h"
#include "platform/file_handle.h"
#include "tests/hardening/hardening_support.h"
#include "tests/support/bmp_builder.h"

namespace tessary {
namespace {

using test::Bytes;
using test::TempDir;

struct Disarm {
    ~Disarm() { FailNthWriteForTesting(0, 0); }
};

// The size of the picture in a file, as the store loads it; (0, 0) for none.
std::pair<int32_t, int32_t> PictureSize(const std::string& path) {
    CDibImage image;
    image.Load(path.c_str());
    if (!image.HasImage()) {
        return {0, 0};
    }
    return {image.GetWidth(), image.GetHeight()};
}

// Runs the batch over `first` and then `second`, with the n-th write from the
// start of the run failing, for n = 1, 2, ... until `first` is written whole.
// Every failure must leave the old output byte for byte, no temporary file,
// and the next file written.
void FailEveryWriteOf(const std::string& first, const std::string& second, int errorNumber) {
    TempDir in;
    TempDir out;
    const test::Sample bmp = test::SmallBmp24();
    const test::Sample jpeg = test::SmallJpeg(320, 240);
    ASSERT_TRUE(test::WriteBytes(in.File("a.bmp"), bmp.bytes));
    ASSERT_TRUE(test::WriteBytes(in.File("b.jpg"), jpeg.bytes));
    const std::map<std::string, std::pair<int32_t, int32_t>> newSize = {
        {"a.bmp", {bmp.width, bmp.height}}, {"b.jpg", {jpeg.width, jpeg.height}}};
    // Earlier versions of the outputs, of another size than the new pictures.
    const Bytes oldBmp = test::BmpBuilder(3, 3, 24).Build();
    const Bytes oldJpeg = test::SmallJpeg(8, 8).bytes;
    const auto oldOf = [&](const std::string& name) { return name == "a.bmp" ? oldBmp : oldJpeg; };

    Disarm disarm;
    int failures = 0;
    for (uint64_t n = 1; n < 1000; ++n) {
        SCOPED_TRACE(first + ": write " + std::to_string(n) + " fails");
        ASSERT_TRUE(test::WriteBytes(out.File(first), oldOf(first)));
        ASSERT_TRUE(test::WriteBytes(out.File(second), oldOf(second)));
        test::QuietSink sink;
        FailNthWriteForTesting(n, errorNumber);
        const RunOutcome outcome =
            RunSequential(PlanSequentialRun({in.File(first), in.File(second)}, out.Path() + "/",
                                            BatchSettings{1, 1, 1, 1, 1}),
                          sink);
        FailNthWriteForTesting(0, 0);
        ASSERT_EQ(outcome.processed, 2u);
        EXPECT_TRUE(test::HiddenEntries(out.Path()).empty());
        EXPECT_EQ(test::ReadBytes(in.File("a.bmp")), bmp.bytes);
        EXPECT_EQ(test::ReadBytes(in.File("b.jpg")), jpeg.bytes);
        if (outcome.failures.empty() || outcome.failures[0].input != in.File(first)) {
            EXPECT_EQ(PictureSize(out.File(first)), newSize.at(first));
            break;  // n is past the writes of the first save
        }
        ++failures;
        EXPECT_EQ(outcome.failures[0].save.errorNumber, errorNumber);
        EXPECT_EQ(test::ReadBytes(out.File(first)), oldOf(first));
        // The run went on, and the next file's save was untouched by the fault.
        EXPECT_EQ(outcome.failures.size(), 1u);
        EXPECT_EQ(PictureSize(out.File(second)), newSize.at(second));
    }
    EXPECT_GE(failures, 2);
}

TEST(FailedWrites, EveryWriteOfABmpSaveCanFailWithoutLosingTheOldFile) {
    FailEveryWriteOf("a.bmp", "b.jpg", ENOSPC);
    FailEveryWriteOf("a.bmp", "b.jpg", EIO);
}

TEST(FailedWrites, EveryWriteOfAJpegSaveCanFailWithoutLosingTheOldFile) {
    FailEveryWriteOf("b.jpg", "a.bmp", ENOSPC);
    FailEveryWriteOf("b.jpg", "a.bmp", EIO);
}

}  // namespace
}  // namespace tessary
