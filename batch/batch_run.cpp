#include "batch/batch_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "batch/batch_parallel.h"
#include "image/image_surface.h"

namespace tessary {

std::string OutputPrefixFor(const std::string& location) {
    struct stat info {};
    if (!location.empty() && location.back() != '/' && ::stat(location.c_str(), &info) == 0 &&
        S_ISDIR(info.st_mode)) {
        return location + "/";
    }
    return location;
}

SequentialPlan PlanSequentialRun(const std::vector<std::string>& inputPaths,
                                 const std::string& location, const BatchSettings& settings) {
    SequentialPlan plan;
    plan.settings = settings;
    std::vector<PlanInput> inputs;
    inputs.reserve(inputPaths.size());
    for (const std::string& input : inputPaths) {
        inputs.push_back({input, FileNameFromPath(input)});
    }
    PlanOptions options;
    options.outputFolder = OutputPrefixFor(location);
    options.overwriteInputs = true;  // the dialog asks about it first
    options.namePrefix = true;
    plan.batch = MakePlan(std::move(inputs), options, settings.format);
    struct stat info {};
    if (!location.empty() && location.back() == '/' && ::stat(location.c_str(), &info) != 0) {
        plan.folderToCreate = location;
    }
    return plan;
}

namespace {

// Counts what the run did while passing each file on to the caller's listener.
class Tally final : public RunListener {
  public:
    Tally(RunListener& listener, RunOutcome& outcome) : m_listener(listener), m_outcome(outcome) {}

    void FileStarted(const Job& job) override { m_listener.FileStarted(job); }

    void FileFinished(const FileReport& report) override {
        {
            std::lock_guard lock(m_mutex);
            ++m_outcome.processed;
            if (report.status != FileStatus::Written) {
                m_outcome.failures.push_back(report);
            } else {
                ++m_outcome.written;
                if (!report.load.warning.empty()) {
                    m_outcome.damaged.push_back(report);
                }
            }
        }
        m_listener.FileFinished(report);
    }

  private:
    RunListener& m_listener;
    RunOutcome& m_outcome;
    std::mutex m_mutex;
};

// Workers finish files in no set order; reports are read in the list's. A
// dialog plan gives one input one output, so the input finds its place.
void SortByList(const BatchPlan& plan, std::vector<FileReport>& reports) {
    if (reports.size() < 2) {
        return;
    }
    std::map<std::string, std::size_t, std::less<>> place;
    for (const FileReport& report : reports) {
        place.emplace(report.input, 0);
    }
    for (std::size_t i = plan.jobs.size(); i-- > 0;) {
        const auto found = place.find(std::string_view(plan.jobs[i].job.input));
        if (found != place.end()) {
            found->second = i;
        }
    }
    std::vector<std::pair<std::size_t, FileReport>> ranked;
    ranked.reserve(reports.size());
    for (FileReport& report : reports) {
        const std::size_t at = place.at(report.input);
        ranked.emplace_back(at, std::move(report));
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        reports[i] = std::move(ranked[i].second);
    }
}

// Makes the location's folder when the plan asks for it; false when it can't be had.
bool PrepareFolder(const SequentialPlan& plan, RunOutcome& outcome) {
    outcome.total = plan.batch.jobs.size();
    if (plan.batch.jobs.empty() || plan.folderToCreate.empty()) {
        return true;
    }
    const std::string error = CreateOutputFolder(plan.folderToCreate);
    if (!error.empty()) {
        outcome.folderError = plan.folderToCreate + ": " + error;
        return false;
    }
    return true;
}

void RunInListOrder(const SequentialPlan& plan, RunListener& listener,
                    const std::atomic<bool>& stop) {
    CImageSurface surface;
    for (const PlannedJob& planned : plan.batch.jobs) {
        if (stop.load()) {
            break;
        }
        listener.FileStarted(planned.job);
        listener.FileFinished(planned.disposition == Disposition::Run
                                  ? ProcessFile(surface, planned.job, plan.settings)
                                  : RefusalReport(planned));
    }
}

// The progress window as a listener: the status and position as each file
// starts, a look for a cancel request as it ends.
class ProgressListener final : public RunListener {
  public:
    ProgressListener(ProgressSink& progress, std::atomic<bool>& stop)
        : m_progress(progress), m_stop(stop) {}

    void FileStarted(const Job& job) override {
        m_progress.SetStatus(job.input + kStatusJoin + job.output);
        m_progress.SetPos(m_nStarted++);
    }

    void FileFinished(const FileReport&) override {
        if (m_progress.PollCancel() != 0) {
            m_stop.store(true);
        }
    }

  private:
    ProgressSink& m_progress;
    std::atomic<bool>& m_stop;
    int32_t m_nStarted = 0;
};

}  // namespace

RunOutcome RunSequential(const SequentialPlan& plan, RunListener& listener,
                         const std::atomic<bool>& stop) {
    RunOutcome outcome;
    if (PrepareFolder(plan, outcome)) {
        Tally tally(listener, outcome);
        RunInListOrder(plan, tally, stop);
        outcome.cancelled = stop.load();
    }
    return outcome;
}

RunOutcome RunSequential(const SequentialPlan& plan, ProgressSink& progress) {
    RunOutcome outcome;
    if (!PrepareFolder(plan, outcome)) {
        return outcome;
    }
    progress.SetRange(0, static_cast<int32_t>(plan.batch.jobs.size()));
    // The run goes on without a window: it just can't be cancelled then.
    progress.Create();
    std::atomic<bool> stop{false};
    ProgressListener window(progress, stop);
    Tally tally(window, outcome);
    RunInListOrder(plan, tally, stop);
    outcome.cancelled = stop.load();
    if (outcome.cancelled) {
        progress.ShowMessage(kCancelMessage);
    }
    progress.Destroy();
    return outcome;
}

RunOutcome RunOnWorkers(const SequentialPlan& plan, unsigned workers, const std::atomic<bool>& stop,
                        RunListener& listener) {
    RunOutcome outcome;
    if (!PrepareFolder(plan, outcome)) {
        return outcome;
    }
    Tally tally(listener, outcome);
    for (const PlannedJob& planned : plan.batch.jobs) {
        if (planned.disposition != Disposition::Run) {
            tally.FileFinished(RefusalReport(planned));
        }
    }
    if (workers == 0) {
        workers = std::max(1u, std::thread::hardware_concurrency());
    }
    RunParallel(plan.batch, plan.settings, workers, stop, tally);
    outcome.cancelled = stop.load();
    SortByList(plan.batch, outcome.failures);
    SortByList(plan.batch, outcome.damaged);
    return outcome;
}

std::string FailureSummary(const RunOutcome& outcome) {
    return FailureSummary(outcome.written, outcome.failures, outcome.total, outcome.folderError);
}

bool RunBatch(const std::vector<std::string>& inputPaths, const std::string& location,
              const BatchSettings& settings, ProgressSink& progress) {
    return RunSequential(PlanSequentialRun(inputPaths, location, settings), progress).cancelled;
}

}  // namespace tessary
