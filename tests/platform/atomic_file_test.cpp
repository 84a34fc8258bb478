#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
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
