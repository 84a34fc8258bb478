#include "platform/file_handle.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>
#include <cstdio>
#include <string>

#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Bytes;
using test::TempDir;

TEST(FileHandle, WritesReadsSeeksAndTells) {
    TempDir dir;
    std::string path = dir.File("a.bin");
    FileHandle out = FileHandle::CreateForWriting(path.c_str());
    ASSERT_TRUE(out.IsOpen());
    EXPECT_EQ(out.Write("hello world", 11), 11);
    EXPECT_EQ(out.Tell(), 11);
    EXPECT_TRUE(out.Close());

    FileHandle in = FileHandle::OpenForReading(path.c_str());
    ASSERT_TRUE(in.IsOpen());
    char buffer[32] = {};
    EXPECT_EQ(in.Seek(6, SeekFrom::Begin), 6);
    EXPECT_EQ(in.Read(buffer, 32), 5);  // short only at the end of the file
    EXPECT_EQ(std::string(buffer), "world");
    EXPECT_EQ(in.Seek(-5, SeekFrom::Current), 6);
    EXPECT_EQ(in.Seek(-100, SeekFrom::Current), -1);
    EXPECT_EQ(in.LastError(), EINVAL);
}

TEST(FileHandle, CreateEmptiesAnExistingFile) {
    TempDir dir;
    std::string path = dir.File("b.bin");
    ASSERT_TRUE(test::WriteBytes(path, Bytes(100, 7)));
    FileHandle out = FileHandle::CreateForWriting(path.c_str());
    ASSERT_TRUE(out.IsOpen());
    out.Close();
    EXPECT_TRUE(test::ReadBytes(path).empty());
}

TEST(FileHandle, OpenFailureKeepsTheReason) {
    TempDir dir;
    FileHandle missing = FileHandle::OpenForReading(dir.File("nope").c_str());
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.LastError(), ENOENT);
    EXPECT_EQ(missing.Read(nullptr, 1), -1);
    EXPECT_TRUE(missing.Close());
}

TEST(FileHandle, ReadingRefusesFoldersAndFifosWithoutBlocking) {
    TempDir dir;
    EXPECT_FALSE(FileHandle::OpenForReading(dir.Path().c_str()).IsOpen());
    EXPECT_EQ(FileHandle::OpenForReading(dir.Path().c_str()).LastError(), EISDIR);
    std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(FileHandle::OpenForReading(fifo.c_str()).IsOpen());
    EXPECT_EQ(OpenReadStream(fifo.c_str()), nullptr);

    std::string file = dir.File("plain");
    ASSERT_TRUE(test::WriteBytes(file, Bytes{1, 2, 3}));
    std::FILE* stream = OpenReadStream(file.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(std::fgetc(stream), 1);
    std::fclose(stream);
}

TEST(FileHandle, WriteFaultSeamFailsExactlyTheNthWrite) {
    TempDir dir;
    FileHandle out = FileHandle::CreateForWriting(dir.File("c.bin").c_str());
    FailNthWriteForTesting(2, ENOSPC);
    EXPECT_EQ(out.Write("a", 1), 1);
    EXPECT_EQ(out.Write("b", 1), -1);
    EXPECT_EQ(out.LastError(), ENOSPC);
    EXPECT_EQ(out.Write("c", 1), 1);  // the seam fires once
    FailNthWriteForTesting(0, 0);
}

TEST(FileHandle, WriteStreamGoesThroughTheSeam) {
    TempDir dir;
    std::string path = dir.File("d.bin");
    FileHandle out = FileHandle::CreateForWriting(path.c_str());
    std::FILE* stream = OpenWriteStream(out);
    ASSERT_NE(stream, nullptr);
    std::fputs("streamed", stream);
    EXPECT_EQ(std::fclose(stream), 0);
    EXPECT_TRUE(out.IsOpen());  // the stream does not own the file
    out.Close();
    EXPECT_EQ(test::ReadBytes(path).size(), 8u);

    FileHandle failing = FileHandle::CreateForWriting(path.c_str());
    stream = OpenWriteStream(failing);
    FailNthWriteForTesting(1, EIO);
    std::fputs("lost", stream);
    EXPECT_NE(std::fclose(stream), 0);  // the failed flush is reported at close
    FailNthWriteForTesting(0, 0);
}

}  // namespace
}  // namespace tessary
