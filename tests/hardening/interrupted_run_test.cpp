#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_run.h"
#include "formats/dib.h"
#include "image/dib_image.h"
#include "tests/hardening/hardening_support.h"
#include "tests/support/bmp_builder.h"

namespace tessary {
namespace {

using test::Bytes;
using test::TempDir;

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;
constexpr int kFiles = 24;

struct Batch {
    TempDir in;
    TempDir out;
    std::vector<std::string> names;
    std::vector<Bytes> inputs;
    Bytes oldJpeg;
    Bytes oldBmp;

    Batch() {
        const Bytes jpeg = test::SmallJpeg(kWidth, kHeight).bytes;
        const Bytes bmp =
            test::BmpBuilder(kWidth, kHeight, 24)
                .Pixels24([](int32_t x, int32_t y) { return uint32_t(x ^ y) * 0x010203u; })
                .Build();
        oldJpeg = test::SmallJpeg(32, 24).bytes;
        oldBmp = test::BmpBuilder(4, 4, 24).Build();
        for (int i = 0; i < kFiles; ++i) {
            const bool isBmp = i % 3 == 2;
            names.push_back("frame" + std::to_string(i) + (isBmp ? ".bmp" : ".jpg"));
            inputs.push_back(isBmp ? bmp : jpeg);
            test::WriteBytes(in.File(names.back()), inputs.back());
        }
    }
    void RestoreOldOutputs() const {
        for (const std::string& name : names) {
            test::WriteBytes(out.File(name), IsBmp(name) ? oldBmp : oldJpeg);
        }
    }
    static bool IsBmp(const std::string& name) { return name.ends_with(".bmp"); }
    // Outputs no longer the old file: each is replaced whole, by a rename.
    int NewOutputs() const {
        int count = 0;
        for (const std::string& name : names) {
            const Bytes& old = IsBmp(name) ? oldBmp : oldJpeg;
            std::error_code error;
            count += std::filesystem::file_size(out.File(name), error) != old.size() ? 1 : 0;
        }
        return count;
    }
    std::vector<std::string> Args() const {
        std::vector<std::string> args = {"-q",  "-j", "2",  "-d",      "-c",
                                         "8:4", "-s", "-o", out.Path()};
        for (const std::string& name : names) {
            args.push_back(in.File(name));
        }
        return args;
    }
};

// A complete new output: the whole file is there (a BMP of the full size; a
// JPEG that ends with its end marker) and it loads at the input's size.
bool IsCompleteNewOutput(const std::string& path, bool bmp) {
    const Bytes bytes = test::ReadBytes(path);
    if (bmp &&
        bytes.size() != kFileHeaderSize + kInfoHeaderSize + DibStride(kWidth, 24) * kHeight) {
        return false;
    }
    if (!bmp && (bytes.size() < 4 || bytes[bytes.size() - 2] != 0xFF || bytes.back() != 0xD9)) {
        return false;
    }
    CDibImage image;
    image.Load(path.c_str());
    return image.HasImage() && image.GetWidth() == int32_t(kWidth) &&
           image.GetHeight() == int32_t(kHeight);
}

TEST(InterruptedRun, KilledAtAnyPointEveryOutputIsOldOrCompleteAndLeftoversAreHidden) {
    Batch batch;
    // The hidden temporary name the writer uses for an output.
    const std::regex leftover(R"(^\.(.+)\.[A-Za-z0-9]{6}\.part$)");
    const std::set<std::string> outputs(batch.names.begin(), batch.names.end());

    bool sawOld = false;
    bool sawNew = false;
    // Each run is killed once so many outputs are new, watched rather than
    // timed, so that the kills fall inside the run however busy the machine
    // is: at once, after the first output, and further on.
    for (int written : {0, 1, 3, 8, 14, 20}) {
        SCOPED_TRACE("killed after " + std::to_string(written) + " new outputs");
        batch.RestoreOldOutputs();
        const pid_t pid = test::StartBatchTool(batch.Args());
        ASSERT_GT(pid, 0);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        bool exited = false;
        while (!exited && batch.NewOutputs() < written &&
               std::chrono::steady_clock::now() < giveUp) {
            exited = waitpid(pid, &status, WNOHANG) == pid;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!exited) {
            kill(pid, SIGKILL);
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
        }

        for (size_t i = 0; i < batch.names.size(); ++i) {
            const std::string& name = batch.names[i];
            SCOPED_TRACE(name);
            EXPECT_EQ(test::ReadBytes(batch.in.File(name)), batch.inputs[i]);
            const Bytes now = test::ReadBytes(batch.out.File(name));
            const bool old = now == (Batch::IsBmp(name) ? batch.oldBmp : batch.oldJpeg);
            const bool complete =
                !old && IsCompleteNewOutput(batch.out.File(name), Batch::IsBmp(name));
            EXPECT_TRUE(old || complete);
            sawOld = sawOld || old;
            sawNew = sawNew || complete;
        }
        for (const std::string& entry : batch.out.List()) {
            if (outputs.count(entry) != 0) {
                continue;
            }
            std::smatch match;
            EXPECT_TRUE(std::regex_match(entry, match, leftover)) << entry;
            if (match.size() == 2) {
                EXPECT_EQ(outputs.count(match[1].str()), 1u) << entry;
            }
            std::filesystem::remove(batch.out.File(entry));
        }
    }
    // The kills must have fallen inside the run, or the test saw nothing.
    EXPECT_TRUE(sawOld);
    EXPECT_TRUE(sawNew);
}

TEST(LongRun, PeakMemoryStaysFlatFromTenToAThousandFiles) {
    if (test::kUnderAsan) {
        GTEST_SKIP() << "memory figures are meaningless under AddressSanitizer";
    }
    TempDir in;
    const std::vector<std::pair<std::string, Bytes>> kinds = {
        {".jpg", test::SmallJpeg(64, 48).bytes},
        {".bmp", test::SmallBmp24().bytes},
        {".gif", test::SmallGif().bytes},
    };
    for (const auto& [extension, bytes] : kinds) {
        test::WriteBytes(in.File("source" + extension), bytes);
    }
    std::vector<std::string> inputs;
    for (int i = 0; i < 1000; ++i) {
        const std::string& extension = kinds[i % kinds.size()].first;
        const std::string name = in.File("f" + std::to_string(i) + extension);
        ASSERT_EQ(link(in.File("source" + extension).c_str(), name.c_str()), 0);
        inputs.push_back(name);
    }
    // Both runs hold the same list, so that only what the files themselves
    // cost can differ.
    auto peakOf = [&](size_t count) {
        TempDir out;
        return test::PeakOfChildKib([&] {
            const std::vector<std::string> list(
                inputs.begin(), inputs.begin() + static_cast<std::ptrdiff_t>(count));
            test::QuietSink sink;
            RunBatch(list, out.Path() + "/", BatchSettings{1, 1, 1, 2, 2}, sink);
            return out.List().size() == count;
        });
    };
    const uint64_t ten = peakOf(10);
    const uint64_t thousand = peakOf(1000);
    ASSERT_GT(ten, 0u);
    // The plan of the run holds every file's paths and facts before the first
    // starts (so that replaced originals and shared outputs are known first):
    // about half a KiB a file. A picture kept from file to file costs far more.
    constexpr uint64_t kPlanKibPerHundredFiles = 64;
    EXPECT_LE(thousand, ten + ten / 10 + 10 * kPlanKibPerHundredFiles)
        << "10 files: " << ten << " KiB, 1000 files: " << thousand << " KiB";
}

}  // namespace
}  // namespace tessary
