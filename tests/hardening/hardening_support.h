#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "tests/support/temp_dir.h"

namespace tessary::test {

// A progress sink that shows nothing and never cancels.
class QuietSink final : public ProgressSink {
  public:
    void SetRange(int32_t, int32_t) override {}
    bool Create() override { return true; }
    void SetStatus(const std::string&) override {}
    void SetPos(int32_t) override {}
    int PollCancel() override { return 0; }
    void ShowMessage(const std::string&) override {}
    void Destroy() override {}
};

// Memory figures mean nothing under AddressSanitizer, whose shadow memory and
// quarantine dwarf what the program itself holds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAsan = true;
#else
inline constexpr bool kUnderAsan = false;
#endif
#else
inline constexpr bool kUnderAsan = false;
#endif

// Peak resident memory of this process so far (VmHWM), in KiB; 0 if unknown.
uint64_t PeakResidentKib();

// Runs `body` in a forked child and gives its exit status (body's result), or
// 128 + the signal that ended it. The child ends with _exit, so nothing of the
// test framework runs twice.
int RunInChild(const std::function<int()>& body);

// Runs `body` in a forked child and gives the child's peak resident memory in
// KiB (as time -v reports it), or 0 when the child failed.
uint64_t PeakOfChildKib(const std::function<bool()>& body);

// In a child: gives up root for the "nobody" user (65534), so that permission
// bits apply. False when that is impossible.
bool DropToNobody();
// Whether this process can run the permission cases at all (root, so it can
// drop to nobody); the cases that need it skip with a message otherwise.
bool CanDropToNobody();

struct ProcessResult {
    int status = -1;          // exit status, or 128 + signal
    uint64_t peakRssKib = 0;  // the child's maximum resident set, as time -v shows it
    std::string err;          // what it wrote to standard error
};
// Runs tessary-batch with `args` to the end.
ProcessResult RunBatchTool(const std::vector<std::string>& args);
// Starts tessary-batch with `args`, standard output and error to /dev/null.
pid_t StartBatchTool(const std::vector<std::string>& args);

// Small valid files of each kind, with their size.
struct Sample {
    Bytes bytes;
    int32_t width = 0;
    int32_t height = 0;
};
Sample SmallBmp24();
Sample SmallBmp8();
Sample SmallGif();
Sample SmallJpeg(uint32_t width = 16, uint32_t height = 8);

// Entries of a folder whose names start with a dot (temporary files).
std::vector<std::string> HiddenEntries(const std::string& folder);

}  // namespace tessary::test
