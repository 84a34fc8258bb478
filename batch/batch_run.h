#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "batch/batch_plan.h"
#include "batch/batch_process.h"

namespace tessary {

// The run's view of the progress window. The dialog's CProgressDialog
// implements it; tests record the calls.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    // Range 0..fileCount, then the window is created (disabling its parent).
    virtual void SetRange(int32_t lower, int32_t upper) = 0;
    virtual bool Create() = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetPos(int32_t position) = 0;
    // Non-zero once for each cancel request.
    virtual int PollCancel() = 0;
    // A message box, shown while the window is still up.
    virtual void ShowMessage(const std::string& text) = 0;
    // Re-enables the parent, then closes the window.
    virtual void Destroy() = 0;
};

// Where the dialog's outputs go: a location naming an existing folder without
// a trailing separator is that folder; anything else is a plain prefix of the
// file name, so a location used as a name prefix still works.
std::string OutputPrefixFor(const std::string& location);

// The dialog's run, worked out before anything is written, so that the dialog
// can ask before it replaces originals.
struct SequentialPlan {
    std::vector<Job> jobs;
    BatchSettings settings;
    // A location that ends in a separator and does not exist yet: created
    // with its parents before the first file.
    std::string folderToCreate;
    ReplacedOriginals replaced;
};

SequentialPlan PlanSequentialRun(const std::vector<std::string>& inputPaths,
                                 const std::string& location, const BatchSettings& settings);

struct RunOutcome {
    bool cancelled = false;
    // Set when the output folder could not be made; then nothing was run.
    std::string folderError;
    std::size_t total = 0;      // files in the plan
    std::size_t processed = 0;  // files the run went through before it ended
    std::size_t written = 0;
    // The files that were not written, in list order. Written files are only
    // counted, so that a long run holds no more than its failures.
    std::vector<FileReport> failures;
};

// The run over the plan, one file after the other, with progress and cancel
// between files.
RunOutcome RunSequential(const SequentialPlan& plan, ProgressSink& progress);

// The message for the end of a run ("" when every processed file was written).
std::string FailureSummary(const RunOutcome& outcome);

// Plans and runs without asking anything. Returns true when it ended by a cancel request.
bool RunBatch(const std::vector<std::string>& inputPaths, const std::string& location,
              const BatchSettings& settings, ProgressSink& progress);

}  // namespace tessary
