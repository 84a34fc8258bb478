#pragma once

#include <atomic>
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

// The dialog's run, worked out before anything is written: the planner's jobs,
// each output named OutputPrefixFor(location) + the input's file name, so that
// the dialog can show where files go and ask before outputs replace originals
// (batch.replaced) or two inputs write one output (batch.shared).
struct SequentialPlan {
    BatchPlan batch;
    BatchSettings settings;
    // A location that ends in a separator and does not exist yet: created
    // with its parents before the first file.
    std::string folderToCreate;
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
    // Files written from damaged data (the reader's warning in `warning`), in list order.
    std::vector<FileReport> damaged;
};

// The run over the plan, one file after the other in list order, telling the
// listener of each file; a file the planner turned down (a missing input) is
// reported failed without being opened. Once `stop` is set no file starts.
RunOutcome RunSequential(const SequentialPlan& plan, RunListener& listener,
                         const std::atomic<bool>& stop);

// The same with the progress window: a status text and position per file, and
// cancel between files.
RunOutcome RunSequential(const SequentialPlan& plan, ProgressSink& progress);

// The same jobs on `workers` threads (0: one per processor), for a caller that
// keeps its user interface going meanwhile: the listener hears from the
// workers' threads, and files turned down first, never started. Once `stop` is
// set no file starts; files in hand are finished, so only whole files are left.
RunOutcome RunOnWorkers(const SequentialPlan& plan, unsigned workers, const std::atomic<bool>& stop,
                        RunListener& listener);

// The message for the end of a run ("" when every processed file was written).
std::string FailureSummary(const RunOutcome& outcome);

// Plans and runs without asking anything. Returns true when it ended by a cancel request.
bool RunBatch(const std::vector<std::string>& inputPaths, const std::string& location,
              const BatchSettings& settings, ProgressSink& progress);

}  // namespace tessary
