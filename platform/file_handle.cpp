#include "platform/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace tessary {

namespace {

std::atomic<uint64_t> g_writesUntilFailure{0};
std::atomic<int> g_injectedError{0};

// True when the write-fault seam says this write must fail.
bool InjectedWriteFailure() {
    uint64_t left = g_writesUntilFailure.load(std::memory_order_relaxed);
    while (left != 0) {
        if (g_writesUntilFailure.compare_exchange_weak(left, left - 1)) {
            return left == 1;
        }
    }
    return false;
}

}  // namespace

void FailNthWriteForTesting(uint64_t n, int errorNumber) {
    g_injectedError.store(errorNumber);
    g_writesUntilFailure.store(n);
}

FileHandle::~FileHandle() {
    Close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_nError(std::exchange(other.m_nError, 0)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_nError = std::exchange(other.m_nError, 0);
    }
    return *this;
}

FileHandle FileHandle::OpenForReading(const char* path) {
    FileHandle file;
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        file.m_nError = errno;
        return file;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        file.m_nError = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return file;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.m_fd = fd;
    return file;
}

FileHandle FileHandle::CreateForWriting(const char* path) {
    FileHandle file;
    file.m_fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file.m_fd < 0) {
        file.m_nError = errno;
    }
    return file;
}

FileHandle FileHandle::Adopt(int fd) {
    FileHandle file;
    file.m_fd = fd;
    return file;
}

int FileHandle::ReleaseDescriptor() {
    return std::exchange(m_fd, -1);
}

int64_t FileHandle::Read(void* buffer, uint64_t count) {
    if (m_fd < 0) {
        m_nError = EBADF;
        return -1;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < count) {
        ssize_t n = ::read(m_fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_nError = errno;
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileHandle::Write(const void* buffer, uint64_t count) {
    if (m_fd < 0) {
        m_nError = EBADF;
        return -1;
    }
    if (InjectedWriteFailure()) {
        m_nError = g_injectedError.load();
        return -1;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < count) {
        ssize_t n = ::write(m_fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_nError = errno;
            return -1;
        }
        done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t FileHandle::Seek(int64_t offset, SeekFrom from) {
    if (m_fd < 0) {
        m_nError = EBADF;
        return -1;
    }
    int whence = from == SeekFrom::Begin     ? SEEK_SET
                 : from == SeekFrom::Current ? SEEK_CUR
                                             : SEEK_END;
    off_t position = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (position < 0) {
        m_nError = errno;
        return -1;
    }
    return static_cast<int64_t>(position);
}

int64_t FileHandle::Tell() {
    return Seek(0, SeekFrom::Current);
}

bool FileHandle::Sync() {
    if (m_fd < 0 || ::fsync(m_fd) != 0) {
        m_nError = m_fd < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

bool FileHandle::Close() {
    if (m_fd < 0) {
        return true;
    }
    int result = ::close(std::exchange(m_fd, -1));
    if (result != 0 && errno != EINTR) {
        m_nError = errno;
        return false;
    }
    return true;
}

std::FILE* OpenReadStream(const char* path) {
    FileHandle file = FileHandle::OpenForReading(path);
    if (!file.IsOpen()) {
        errno = file.LastError();
        return nullptr;
    }
    std::FILE* stream = ::fdopen(file.Descriptor(), "rb");
    if (stream != nullptr) {
        file.ReleaseDescriptor();  // the stream owns it now
    }
    return stream;
}

namespace {

ssize_t StreamWrite(void* cookie, const char* buffer, size_t size) {
    auto* file = static_cast<FileHandle*>(cookie);
    int64_t n = file->Write(buffer, size);
    if (n < 0) {
        errno = file->LastError();
        return -1;
    }
    return static_cast<ssize_t>(n);
}

}  // namespace

std::FILE* OpenWriteStream(FileHandle& file) {
    cookie_io_functions_t functions{};
    functions.write = StreamWrite;
    return ::fopencookie(&file, "wb", functions);
}

}  // namespace tessary
