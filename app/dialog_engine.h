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

#include "app/batch_parallel.h"
#include "app/batch_plan.h"
#include "app/batch_process.h"
#include "app/batch_run.h"
#include "ops/deinterlace_method.h"

namespace tessary {

class CImageSurface;

// Every option the dialog offers: the five persisted ones and those beside them. The defaults
// of the new ones leave the five doing what they always did.
struct DialogOptions {
    BatchSettings five;
    DeinterlaceMethod method = DeinterlaceMethod::Average;
    bool autoClip = false;    // with Clip: each picture's own bands instead of Top and Bottom
    bool onlyCombed = false;  // with Deinterlace: a picture without combing is left as it is
    std::optional<OutputFormat> format;  // unset: as the output's name asks
    int jpegQuality = kJpegBestQuality;
    bool keepMetadata = true;
};

bool operator==(const DialogOptions& a, const DialogOptions& b);

// The same options as the engine takes them.
struct EngineOptions {
    BatchSettings settings;
    SmartRepairs smart;
    WriteSettings write;
    std::optional<OutputFormat> format;
};
EngineOptions ForEngine(const DialogOptions& options);

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

// Outputs that two different inputs would both write: how many, and the first such pair.
struct SharedOutputs {
    std::size_t count = 0;
    std::string firstInput, secondInput, output;
};

struct DialogPlan {
    BatchPlan batch;
    OutputPlace place;
    ReplacedOriginals replaced;
    SharedOutputs shared;
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

// The reports of planned jobs that are not run (missing inputs, folders), as failures.
void ReportRefusedJobs(const BatchPlan& plan, RunListener& listener);
// Makes the plan's folders; the reason when the output folder itself can't be had, else "".
std::string PrepareOutputFolders(const DialogPlan& plan);
// The engine's parallel run over the plan, on this thread.
void RunDialogPlan(const DialogPlan& plan, const DialogOptions& options, unsigned workers,
                   const std::atomic<bool>& stop, RunListener& listener);

// Called on an engine thread as each file starts, with the run's stop request; tests hold a
// file there.
using FileStartedHook = std::function<void(const Job&, const std::atomic<bool>& stop)>;
void SetFileStartedHook(FileStartedHook hook);

// The message after a run: failures, then files written with a warning, as the command-line
// program words them. "" when every file was written cleanly.
std::string RunSummary(const RunTally& tally);

// How many processors the machine has, at least one.
unsigned AllProcessors();

// One input through the run's own per-file step into `output`, which the caller then reads back.
FileReport RepairForPreview(CImageSurface& surface, const std::string& input,
                            const std::string& output, const DialogOptions& options);
// The format the run writes `input` in.
OutputFormat OutputFormatOf(const std::string& input, const DialogOptions& options);

}  // namespace tessary
