#include "app/dialog_engine.h"

#include <utility>

#include "image/image_surface.h"

namespace tessary {
namespace {

FileStartedHook& StartedHook() {
    static FileStartedHook hook;
    return hook;
}

// Passes every call on, after the test hook has seen a starting file.
class HookedListener final : public RunListener {
  public:
    HookedListener(RunListener& inner, const std::atomic<bool>& stop)
        : m_inner(inner), m_stop(stop) {}
    void FileStarted(const Job& job) override {
        m_inner.FileStarted(job);
        if (StartedHook()) {
            StartedHook()(job, m_stop);
        }
    }
    void FileFinished(const FileReport& report) override { m_inner.FileFinished(report); }

  private:
    RunListener& m_inner;
    const std::atomic<bool>& m_stop;
};

}  // namespace

BatchSettings RunSettingsOf(const DialogOptions& options) {
    BatchSettings settings = options;
    settings.onlyCombed = options.onlyCombed && options.m_bInterlace != 0;
    settings.autoClip = options.autoClip && options.m_bClip != 0;
    if (settings.autoClip) {
        // As the command line's automatic clip: the bands found replace Top and Bottom.
        settings.m_bClip = 0;
        settings.m_nClipTop = 0;
        settings.m_nClipBottom = 0;
    }
    return settings;
}

OutputPlace PlaceOf(const std::string& location) {
    const std::string prefix = OutputPrefixFor(location);
    const std::size_t slash = prefix.rfind('/');
    if (slash == std::string::npos) {
        return {{}, prefix};
    }
    return {prefix.substr(0, slash + 1), prefix.substr(slash + 1)};
}

std::string OutputPathFor(const std::string& input, const std::string& location,
                          const DialogOptions& options) {
    // The planner's own naming, so that the line under the field never differs from the run.
    const SequentialPlan plan = PlanSequentialRun({input}, location, RunSettingsOf(options));
    return plan.batch.jobs.empty() ? std::string() : plan.batch.jobs.front().job.output;
}

DialogPlan PlanDialogRun(const std::vector<std::string>& inputs, const std::string& location,
                         const DialogOptions& options) {
    return {PlanSequentialRun(inputs, location, RunSettingsOf(options)), PlaceOf(location)};
}

void RunTallyListener::FileStarted(const Job& job) {
    std::lock_guard lock(m_mutex);
    m_tally.status = job.input + kStatusJoin + job.output;
}

void RunTallyListener::FileFinished(const FileReport& report) {
    std::lock_guard lock(m_mutex);
    ++m_tally.finished;
    if (report.status == FileStatus::Written) {
        ++m_tally.written;
        if (!report.warning.empty()) {
            m_tally.warnings.push_back(report);
        }
    } else {
        m_tally.failures.push_back(report);
    }
}

RunTally RunTallyListener::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_tally;
}

RunOutcome RunDialogPlan(const DialogPlan& plan, unsigned workers, const std::atomic<bool>& stop,
                         RunListener& listener) {
    HookedListener hooked(listener, stop);
    return RunOnWorkers(plan.run, workers, stop, hooked);
}

void SetFileStartedHook(FileStartedHook hook) {
    StartedHook() = std::move(hook);
}

std::string RunSummary(const RunTally& tally) {
    return FailureSummary(tally.written, tally.failures, tally.total, tally.folderError,
                          tally.warnings);
}

OutputFormat OutputFormatOf(const std::string& input, const DialogOptions& options) {
    return options.format.value_or(OutputFormatFor(FileNameFromPath(input)));
}

FileReport RepairForPreview(CImageSurface& surface, const std::string& input,
                            const std::string& output, const DialogOptions& options) {
    const Job job{input, output, OutputFormatOf(input, options)};
    return ProcessFile(surface, job, RunSettingsOf(options));
}

}  // namespace tessary
