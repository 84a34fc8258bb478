#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "image/image_surface.h"
#include "tests/hardening/hardening_support.h"

namespace tessary {
namespace {

using test::TempDir;

// A path of more than 4096 bytes that still names an existing file: the folder
// repeated through "./" steps.
std::string OverlongPathTo(const TempDir& dir, const std::string& name) {
    std::string path = dir.Path();
    while (path.size() <= 4200) {
        path += "/.";
    }
    return path + "/" + name;
}

// Loads the path in a child (a FIFO must not make the load wait for a writer)
// and gives 0 when it left no image and said the file could not be opened.
int LoadRefusedInChild(const std::string& path, bool asNobody) {
    return test::RunInChild([&] {
        alarm(20);  // a load that blocks ends the child by SIGALRM
        if (asNobody && !test::DropToNobody()) {
            return 3;
        }
        CDibImage image;
        image.Load(path.c_str());
        if (image.HasImage()) {
            return 1;
        }
        return image.GetLoadReport().status.code == StatusCode::IoError ? 0 : 2;
    });
}

struct Inputs {
    TempDir dir;
    std::string good, folder, fifo, unreadable, overlong;
    Inputs() {
        chmod(dir.Path().c_str(), 0755);  // so that "nobody" may look inside
        good = dir.File("good.bmp");
        folder = dir.File("folder.bmp");
        fifo = dir.File("fifo.bmp");
        unreadable = dir.File("unreadable.bmp");
        test::WriteBytes(good, test::SmallBmp24().bytes);
        chmod(good.c_str(), 0644);
        std::filesystem::create_directory(folder);
        mkfifo(fifo.c_str(), 0644);
        test::WriteBytes(unreadable, test::SmallBmp24().bytes);
        chmod(unreadable.c_str(), 0);
        overlong = OverlongPathTo(dir, "good.bmp");
    }
};

TEST(InputKinds, FolderFifoAndOverlongPathLoadNothingWithoutBlocking) {
    Inputs inputs;
    for (const std::string* path : {&inputs.folder, &inputs.fifo, &inputs.overlong}) {
        SCOPED_TRACE(path->substr(0, 80));
        EXPECT_EQ(LoadRefusedInChild(*path, false), 0);
    }
}

TEST(InputKinds, FileWithoutReadPermissionLoadsNothing) {
    if (!test::CanDropToNobody()) {
        GTEST_SKIP() << "needs root to run as 'nobody'; permission bits don't stop root itself";
    }
    Inputs inputs;
    // The same child can read a readable file beside it: the refusal is the
    // permission bit's doing, not a folder it can't enter.
    EXPECT_EQ(test::RunInChild([&] {
                  if (!test::DropToNobody()) {
                      return 3;
                  }
                  CDibImage image;
                  image.Load(inputs.good.c_str());
                  return image.HasImage() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(LoadRefusedInChild(inputs.unreadable, true), 0);
}

TEST(InputKinds, TheToolReportsEachBadInputAndStillWritesTheGoodOne) {
    Inputs inputs;
    TempDir out;
    std::vector<std::string> args = {
        "-q", "-o", out.Path(), inputs.folder, inputs.fifo, inputs.overlong, inputs.good};
    const test::ProcessResult run = test::RunBatchTool(args);
    EXPECT_EQ(run.status, 1);  // some files were not written
    // The folder is walked for images like any input folder; it holds none.
    EXPECT_NE(run.err.find(inputs.fifo), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(inputs.overlong), std::string::npos) << run.err;
    EXPECT_TRUE(test::FileExists(out.File("good.bmp")));
    EXPECT_FALSE(test::FileExists(out.File("folder.bmp")));
    EXPECT_FALSE(test::FileExists(out.File("fifo.bmp")));
}

TEST(InputKinds, TheToolRunAsNobodyReportsTheUnreadableFile) {
    if (!test::CanDropToNobody()) {
        GTEST_SKIP() << "needs root to run as 'nobody'; permission bits don't stop root itself";
    }
    Inputs inputs;
    TempDir out;
    chmod(out.Path().c_str(), 0777);
    const int status = test::RunInChild([&] {
        if (!test::DropToNobody()) {
            return 3;
        }
        const test::ProcessResult run =
            test::RunBatchTool({"-q", "-o", out.Path(), inputs.unreadable, inputs.good});
        const bool named = run.err.find(inputs.unreadable) != std::string::npos;
        return run.status == 1 && named ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(test::FileExists(out.File("good.bmp")));
    EXPECT_FALSE(test::FileExists(out.File("unreadable.bmp")));
}

// ---- Outputs that can't be written ---------------------------------------------

TEST(OutputKinds, AnExistingFolderInTheWayIsLeftAloneAndTheRunGoesOn) {
    TempDir in;
    TempDir out;
    test::WriteBytes(in.File("a.bmp"), test::SmallBmp24().bytes);
    test::WriteBytes(in.File("b.jpg"), test::SmallJpeg().bytes);
    test::WriteBytes(in.File("c.bmp"), test::SmallBmp24().bytes);
    for (const char* name : {"a.bmp", "b.jpg"}) {
        std::filesystem::create_directory(out.File(name));
        test::WriteBytes(out.File(name) + "/inside", {1, 2, 3});
    }
    CImageSurface surface;
    for (const char* name : {"a.bmp", "b.jpg"}) {
        SCOPED_TRACE(name);
        const FileReport report = ProcessFile(surface, in.File(name), out.File(name), {});
        EXPECT_TRUE(report.saveAttempted);
        EXPECT_FALSE(report.save.written);
        EXPECT_NE(report.save.errorNumber, 0);
        EXPECT_EQ(test::ReadBytes(out.File(name) + "/inside"), (test::Bytes{1, 2, 3}));
    }
    EXPECT_TRUE(ProcessFile(surface, in.File("c.bmp"), out.File("c.bmp"), {}).save.written);
    EXPECT_TRUE(test::HiddenEntries(out.Path()).empty());

    const test::ProcessResult run =
        test::RunBatchTool({"-q", "-o", out.Path(), in.File("a.bmp"), in.File("c.bmp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("a.bmp"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_directory(out.File("a.bmp")));
    EXPECT_TRUE(test::HiddenEntries(out.Path()).empty());
}

TEST(OutputKinds, AFolderWithoutWritePermissionFailsEachSaveCleanly) {
    if (!test::CanDropToNobody()) {
        GTEST_SKIP() << "needs root to run as 'nobody'; permission bits don't stop root itself";
    }
    TempDir in;
    TempDir out;
    chmod(in.Path().c_str(), 0755);
    chmod(out.Path().c_str(), 0555);
    test::WriteBytes(in.File("a.bmp"), test::SmallBmp24().bytes);
    test::WriteBytes(in.File("b.jpg"), test::SmallJpeg().bytes);
    chmod(in.File("a.bmp").c_str(), 0644);
    chmod(in.File("b.jpg").c_str(), 0644);
    const int status = test::RunInChild([&] {
        if (!test::DropToNobody()) {
            return 3;
        }
        CImageSurface surface;
        for (const char* name : {"a.bmp", "b.jpg"}) {
            const FileReport report = ProcessFile(surface, in.File(name), out.File(name), {});
            if (!report.saveAttempted || report.save.written || report.save.errorNumber != EACCES) {
                return 1;
            }
        }
        const test::ProcessResult run =
            test::RunBatchTool({"-q", "-o", out.Path(), in.File("a.bmp"), in.File("b.jpg")});
        return run.status == 1 && run.err.find("Permission denied") != std::string::npos ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    chmod(out.Path().c_str(), 0755);
    EXPECT_TRUE(out.List().empty());
}

}  // namespace
}  // namespace tessary
