#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tessary {

namespace {

// The process's file-creation mask, read without changing it (umask() can't be
// read without setting it, which would race with other threads).
mode_t CurrentUmask() {
    static const mode_t mask = [] {
        mode_t value = 022;
        if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, status) != nullptr) {
                unsigned int parsed = 0;
                if (std::sscanf(line, "Umask: %o", &parsed) == 1) {
                    value = static_cast<mode_t>(parsed);
                    break;
                }
            }
            std::fclose(status);
        }
        return value;
    }();
    return mask;
}

}  // namespace

std::string FolderOfPath(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

AtomicFileWriter::~AtomicFileWriter() {
    Abandon();
}

bool AtomicFileWriter::Open(const char* targetPath) {
    Abandon();
    m_strTarget = targetPath;
    std::string folder = FolderOfPath(m_strTarget);
    std::string name = m_strTarget.substr(folder.size());
    if (name.empty()) {
        m_nError = EISDIR;
        return false;
    }
    std::string pattern = folder + "." + name + ".XXXXXX.part";
    const int suffixLength = 5;
    int fd = ::mkostemps(pattern.data(), suffixLength, O_CLOEXEC);
    if (fd < 0) {
        m_nError = errno;
        return false;
    }
    m_strTempPath = pattern;
    m_file = FileHandle::Adopt(fd);

    // mkstemp makes the file private; give it the permissions a new file (or the
    // file it replaces) would have.
    struct stat existing {};
    m_bReplacing = ::stat(targetPath, &existing) == 0;
    mode_t mode = m_bReplacing && S_ISREG(existing.st_mode) ? (existing.st_mode & 07777)
                                                            : (0666 & ~CurrentUmask());
    ::fchmod(fd, mode);
    m_nError = 0;
    return true;
}

bool AtomicFileWriter::Commit() {
    if (m_strTempPath.empty()) {
        m_nError = EBADF;
        return false;
    }
    bool ok = true;
    if (m_bReplacing && !m_file.Sync()) {
        ok = false;
    }
    if (ok && !m_file.Close()) {
        ok = false;
    }
    if (!ok) {
        m_nError = m_file.LastError();
        Abandon();
        return false;
    }
    if (::rename(m_strTempPath.c_str(), m_strTarget.c_str()) != 0) {
        m_nError = errno;
        Abandon();
        return false;
    }
    m_strTempPath.clear();
    return true;
}

void AtomicFileWriter::Abandon() {
    m_file.Close();
    if (!m_strTempPath.empty()) {
        ::unlink(m_strTempPath.c_str());
        m_strTempPath.clear();
    }
}

}  // namespace tessary
