#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;
using test::TempDir;

TEST(AtomicFileWriter, TemporaryFileIsHiddenAndNamesItsTarget) {
    TempDir dir;
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("frame.jpg").c_str()));
    std::vector<std::string> names = dir.List();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind(".frame.jpg.", 0), 0u) << names[0];
    EXPECT_FALSE(test::FileExists(dir.File("frame.jpg")));
}

TEST(AtomicFileWriter, CommitReplacesTheTargetWhole) {
    TempDir dir;
    std::string target = dir.File("out.bmp");
    ASSERT_TRUE(test::WriteBytes(target, Bytes(10, 1)));
    chmod(target.c_str(), 0640);
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open(target.c_str()));
    ASSERT_EQ(writer.File().Write("new", 3), 3);
    EXPECT_EQ(test::ReadBytes(target), Bytes(10, 1));  // untouched until the commit
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(test::ReadBytes(target), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.bmp"});
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);  // a replaced file keeps its permissions
}

TEST(AtomicFileWriter, AbandonAndDestructionLeaveTheTargetAndNoTemporary) {
    TempDir dir;
    std::string target = dir.File("keep.jpg");
    ASSERT_TRUE(test::WriteBytes(target, Bytes(5, 9)));
    {
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.Open(target.c_str()));
        writer.File().Write("partial", 7);
    }
    EXPECT_EQ(test::ReadBytes(target), Bytes(5, 9));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"keep.jpg"});
}

TEST(AtomicFileWriter, CommitOverAFolderFailsAndCleansUp) {
    TempDir dir;
    std::string target = dir.File("sub");
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((target + "/x").c_str(), 0755), 0);
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open(target.c_str()));
    EXPECT_FALSE(writer.Commit());
    EXPECT_NE(writer.LastError(), 0);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"sub"});
}

TEST(AtomicFileWriter, OpenFailsInAMissingFolder) {
    TempDir dir;
    AtomicFileWriter writer;
    EXPECT_FALSE(writer.Open(dir.File("no/such/out.jpg").c_str()));
    EXPECT_EQ(writer.LastError(), ENOENT);
    EXPECT_FALSE(writer.Open(dir.File("").c_str()));  // a path naming a folder, not a file
}

TEST(FolderOfPath, KeepsTheTrailingSeparator) {
    EXPECT_EQ(FolderOfPath("/a/b/c.jpg"), "/a/b/");
    EXPECT_EQ(FolderOfPath("c.jpg"), "");
    EXPECT_EQ(FolderOfPath("/c.jpg"), "/");
}

}  // namespace
}  // namespace tessary

namespace tessary {
namespace {

// `count` copies of `text` and then ".jpg". Not inlined: GCC 12 with link-time
// optimisation took the long names built in place for an overflow of the
// short-string buffer and warned.
[[gnu::noinline]] std::string JpegName(const std::string& lead, int count, const char* text) {
    std::string name = lead;
    for (int i = 0; i < count; ++i) {
        name += text;
    }
    return name + ".jpg";
}

TEST(AtomicFileWriter, LongNamesKeepTheTemporaryNameWithinTheLimit) {
    // 255 bytes is the most a name may have; the two-byte letters test the cut.
    for (const std::string& name :
         {JpegName("", 242, "n"), JpegName("", 251, "n"), JpegName("x", 125, "\xC3\xA9")}) {
        test::TempDir dir;
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.Open(dir.File(name).c_str())) << name.size();
        const std::string temp = dir.List().at(0);
        EXPECT_LE(temp.size(), 255u);
        EXPECT_EQ(temp.substr(temp.size() - 5), ".part");
        // Whole characters only: the cut never splits the two bytes of a letter.
        EXPECT_NE(static_cast<unsigned char>(temp[temp.size() - 13]) & 0xC0, 0xC0u) << temp;
        ASSERT_EQ(writer.File().Write("ok", 2), 2);
        ASSERT_TRUE(writer.Commit());
        EXPECT_EQ(dir.List(), std::vector<std::string>{name});
    }
}

TEST(DeferredReplace, CommitHandsTheFileOverAndFinishingPutsItInPlace) {
    test::TempDir dir;
    const std::string target = dir.File("out.bmp");
    ASSERT_TRUE(test::WriteBytes(target, {9}));
    std::optional<PendingReplace> pending;
    {
        DeferredReplace deferred;
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.Open(target.c_str()));
        ASSERT_EQ(writer.File().Write("\1\2", 2), 2);
        ASSERT_TRUE(writer.Commit());
        pending = deferred.Take();
    }
    ASSERT_TRUE(pending.has_value());
    EXPECT_EQ(test::ReadBytes(target), test::Bytes{9});  // the old file stands until then
    EXPECT_EQ(FinishReplace(*pending), 0);
    EXPECT_EQ(test::ReadBytes(target), (test::Bytes{1, 2}));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.bmp"});

    // A rename that fails leaves the target and no temporary file.
    std::optional<PendingReplace> blocked;
    ASSERT_EQ(::mkdir(dir.File("dir.bmp").c_str(), 0700), 0);
    ASSERT_TRUE(test::WriteBytes(dir.File("dir.bmp/inside"), {1}));
    {
        DeferredReplace deferred;
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.Open(dir.File("dir.bmp").c_str()));
        ASSERT_TRUE(writer.Commit());
        blocked = deferred.Take();
    }
    ASSERT_TRUE(blocked.has_value());
    EXPECT_NE(FinishReplace(*blocked), 0);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"dir.bmp", "out.bmp"}));
}

}  // namespace
}  // namespace tessary
