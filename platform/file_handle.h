#pragma once

#include <cstdint>
#include <cstdio>

namespace tessary {

enum class SeekFrom { Begin, Current, End };

// RAII over a POSIX file descriptor: the stand-in for the handle-based file calls.
// Reads and writes move the whole count unless the file ends or an error occurs;
// the last error number is kept for messages.
class FileHandle {
  public:
    FileHandle() = default;
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens a regular file for reading. Anything else (a folder, a FIFO, a device)
    // is refused without blocking: a FIFO with no writer would hang the open.
    static FileHandle OpenForReading(const char* path);
    // Creates the file, or empties an existing one, for reading and writing.
    static FileHandle CreateForWriting(const char* path);
    // Takes ownership of an already open descriptor.
    static FileHandle Adopt(int fd);

    bool IsOpen() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }
    // Gives up ownership of the descriptor (to a stream that will close it).
    int ReleaseDescriptor();

    // Bytes moved (fewer than `count` only at the end of the file for Read), or -1 on error.
    int64_t Read(void* buffer, uint64_t count);
    int64_t Write(const void* buffer, uint64_t count);
    // The new position from the start of the file, or -1 on error.
    int64_t Seek(int64_t offset, SeekFrom from);
    int64_t Tell();
    bool Sync();
    // True when the descriptor closed without error (or none was open).
    bool Close();

    // errno of the last failed call on this handle (or of the failed open), 0 if none.
    int LastError() const { return m_nError; }

  private:
    int m_fd = -1;
    int m_nError = 0;
};

// A stdio stream ("rb") over a regular file opened as OpenForReading does. Null on failure.
std::FILE* OpenReadStream(const char* path);

// A stdio stream whose writes go through `file` (and so through the write-fault seam).
// fclose() flushes it and reports a failed write, but leaves `file` open. Null on failure.
std::FILE* OpenWriteStream(FileHandle& file);

// Test seam: makes the n-th write call from now on (counting from 1, over every
// FileHandle of the process) fail with `errorNumber`. 0 disarms it.
void FailNthWriteForTesting(uint64_t n, int errorNumber);

}  // namespace tessary
