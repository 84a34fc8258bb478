#pragma once

#include <optional>
#include <string>

#include "platform/file_handle.h"

namespace tessary {

// Writes a file so that its target never holds a partial picture: the bytes go
// to a hidden temporary file beside the target (".NAME.XXXXXX.part", so that a
// run killed half-way leaves nothing that looks like a picture, and the name
// says which output it was for; NAME is cut short when the whole would exceed
// NAME_MAX), which replaces the target only once it has been written and
// closed without error.
class AtomicFileWriter {
  public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();  // abandons an uncommitted file
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file. False (with LastError) when that is impossible.
    bool Open(const char* targetPath);
    FileHandle& File() { return m_file; }

    // Closes the temporary file and renames it over the target. When the target
    // already exists its data is synced to disk first, so that an old picture is
    // only ever replaced by a complete new one. False (with LastError) on any
    // failure, and then the temporary file is gone and the target untouched.
    bool Commit();
    // Closes and removes the temporary file; the target is untouched.
    void Abandon();

    int LastError() const { return m_nError; }
    const std::string& TemporaryPath() const { return m_strTempPath; }

  private:
    FileHandle m_file;
    std::string m_strTarget;
    std::string m_strTempPath;
    int m_nError = 0;
    bool m_bReplacing = false;
};

// A written temporary file, still open, waiting to replace its target.
struct PendingReplace {
    FileHandle file;
    std::string tempPath;
    std::string target;
};

// Replaces the target by the pending file: syncs its data first when the
// target exists (so an old picture is only ever replaced by a complete new
// one), closes it and renames it over the target. 0, or the errno of the
// failure, after which the temporary file is gone and the target untouched.
int FinishReplace(PendingReplace& pending);
// The two halves of FinishReplace, for callers that sync several files at
// once (the file system can then commit them together) and rename in order.
int SyncPending(PendingReplace& pending);
int RenamePending(PendingReplace& pending);

// While one of these exists on a thread, a Commit on that thread hands its
// finished file over (Take) instead of syncing and renaming it, so that a
// caller can do that elsewhere. One file at a time: a second Commit before
// Take finishes the first in place.
class DeferredReplace {
  public:
    DeferredReplace();
    ~DeferredReplace();  // finishes a file that was never taken
    DeferredReplace(const DeferredReplace&) = delete;
    DeferredReplace& operator=(const DeferredReplace&) = delete;

    std::optional<PendingReplace> Take();

  private:
    friend class AtomicFileWriter;
    std::optional<PendingReplace> m_pending;
    DeferredReplace* m_pOuter;
};

// The folder part of a path, with its trailing separator ("" for a bare name).
std::string FolderOfPath(const std::string& path);

}  // namespace tessary
