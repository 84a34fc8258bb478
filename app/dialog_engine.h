#pragma once

// The dialog's one door to the batch engine: its options in the engine's terms, the plan of a
// run, the run's listener, and one file repaired for the preview. Nothing else in app/ calls
// the engine's planner, drivers or per-file step.

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_plan.h"
#include "batch/batch_process.h"
#include "batch/batch_run.h"
#include "ops/deinterlace_method.h"

namespace tessary {

class CImageSurface;

// Every option the dialog offers, as its controls hold them: the run's own settings type, so
// that the dialog, the preview and the command line share one. Auto and "Only pictures that are
// combed" are kept as ticked even while Clip or Deinterlace is not; RunSettingsOf applies them.
using DialogOptions = BatchSettings;

// The options as a run takes them: Auto clips only with Clip ticked (the bands found then replace
// Top and Bottom), and only-combed applies only with Deinterlace ticked.
BatchSettings RunSettingsOf(const DialogOptions& options);

// Where an output location puts files: an existing folder, with or without a trailing "/",
// is that folder; otherwise the text after the last "/" prefixes every file name.
struct OutputPlace {
    std::string folder;  // ends in "/"
    std::string namePrefix;
};
OutputPlace PlaceOf(const std::string& location);

// The output path of one input, as the run would write it.
std::string OutputPathFor(const std::string& input, const std::string& location,
                          const DialogOptions& options);

// The engine's plan of a run, and where its files go.
struct DialogPlan {
    SequentialPlan run;
    OutputPlace place;
};

// The run over the listed inputs (in list order, a path listed twice run twice), checked before
// anything is written. Originals may be replaced: the dialog asks about them first.
DialogPlan PlanDialogRun(const std::vector<std::string>& inputs, const std::string& location,
                         const DialogOptions& options);

// What a run has done so far, gathered from the engine's threads.
struct RunTally {
    std::size_t total = 0;
    std::size_t finished = 0;
    std::size_t written = 0;
    std::string status;                // "INPUT --> OUTPUT" of the newest file started
    std::vector<FileReport> failures;  // not written, in the order they finished
    std::vector<FileReport> warnings;  // written, but with damaged data or bands too deep
    std::string folderError;
    bool cancelled = false;
};

class RunTallyListener final : public RunListener {
  public:
    explicit RunTallyListener(std::size_t total) { m_tally.total = total; }
    void FileStarted(const Job& job) override;
    void FileFinished(const FileReport& report) override;
    RunTally Snapshot() const;

  private:
    mutable std::mutex m_mutex;
    RunTally m_tally;
};

// The engine's run over the plan on its workers, on this thread: the output folder made, files
// the planner turned down reported, then the rest on `workers` threads.
RunOutcome RunDialogPlan(const DialogPlan& plan, unsigned workers, const std::atomic<bool>& stop,
                         RunListener& listener);

// Called on an engine thread as each file starts, with the run's stop request; tests hold a
// file there.
using FileStartedHook = std::function<void(const Job&, const std::atomic<bool>& stop)>;
void SetFileStartedHook(FileStartedHook hook);

// The message after a run: failures, then files written with a warning, as the command-line
// program words them. "" when every file was written cleanly.
std::string RunSummary(const RunTally& tally);

// One input through the run's own per-file step into `output`, which the caller then reads back.
FileReport RepairForPreview(CImageSurface& surface, const std::string& input,
                            const std::string& output, const DialogOptions& options);
// The format the run writes `input` in.
OutputFormat OutputFormatOf(const std::string& input, const DialogOptions& options);

}  // namespace tessary
