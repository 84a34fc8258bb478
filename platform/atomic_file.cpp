#include "platform/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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

// ".NAME" + ".XXXXXX.part": what the temporary name adds to the target's.
constexpr std::size_t kTempPrefixLength = 1;
constexpr std::size_t kTempSuffixLength = 12;
constexpr int kTempExtensionLength = 5;  // ".part", after the random part

// The part of the target's name that goes into the temporary name: all of it
// when that fits in NAME_MAX, else its start, ending on a whole UTF-8 character.
std::string TempStem(const std::string& name) {
    const std::size_t room = NAME_MAX - kTempPrefixLength - kTempSuffixLength;
    if (name.size() <= room) {
        return name;
    }
    std::size_t end = room;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    return name.substr(0, end);
}

thread_local DeferredReplace* t_deferred = nullptr;

}  // namespace

namespace {

int Abandon(PendingReplace& pending, int error) {
    pending.file.Close();
    ::unlink(pending.tempPath.c_str());
    pending.tempPath.clear();
    return error;
}

}  // namespace

int SyncPending(PendingReplace& pending) {
    if (pending.tempPath.empty()) {
        return EBADF;
    }
    struct stat existing {};
    const bool replacing = ::stat(pending.target.c_str(), &existing) == 0;
    if ((replacing && !pending.file.Sync()) || !pending.file.Close()) {
        return Abandon(pending, pending.file.LastError());
    }
    return 0;
}

int RenamePending(PendingReplace& pending) {
    if (pending.tempPath.empty()) {
        return EBADF;
    }
    if (::rename(pending.tempPath.c_str(), pending.target.c_str()) != 0) {
        return Abandon(pending, errno);
    }
    pending.tempPath.clear();
    return 0;
}

int FinishReplace(PendingReplace& pending) {
    const int error = SyncPending(pending);
    return error != 0 ? error : RenamePending(pending);
}

DeferredReplace::DeferredReplace() : m_pOuter(t_deferred) {
    t_deferred = this;
}

DeferredReplace::~DeferredReplace() {
    if (m_pending) {
        FinishReplace(*m_pending);
    }
    t_deferred = m_pOuter;
}

std::optional<PendingReplace> DeferredReplace::Take() {
    std::optional<PendingReplace> taken = std::move(m_pending);
    m_pending.reset();
    return taken;
}

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
    std::string pattern = folder + "." + TempStem(name) + ".XXXXXX.part";
    int fd = ::mkostemps(pattern.data(), kTempExtensionLength, O_CLOEXEC);
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
    if (t_deferred != nullptr && !t_deferred->m_pending) {
        t_deferred->m_pending = PendingReplace{std::move(m_file), m_strTempPath, m_strTarget};
        m_strTempPath.clear();
        return true;
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
