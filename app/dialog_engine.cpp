#include "app/dialog_engine.h"

#include <thread>
#include <utility>

#include "image/image_surface.h"

namespace tessary {
namespace {

// The most lines a summary lists before "and K more".
constexpr std::size_t kSummaryLines = 10;

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

SharedOutputs FindSharedOutputs(const BatchPlan& plan) {
    SharedOutputs shared;
    for (const uint32_t head : plan.groupHeads) {
        const Job& first = plan.jobs[head].job;
        // The same path listed twice writes the same picture twice: nothing is lost.
        for (uint32_t j = plan.jobs[head].nextSameOutput; j != kNoJob;
             j = plan.jobs[j].nextSameOutput) {
            if (plan.jobs[j].job.input != first.input) {
                if (shared.count++ == 0) {
                    shared.firstInput = first.input;
                    shared.secondInput = plan.jobs[j].job.input;
                    shared.output = first.output;
                }
                break;
            }
        }
    }
    return shared;
}

}  // namespace

bool operator==(const DialogOptions& a, const DialogOptions& b) {
    const BatchSettings& x = a.five;
    const BatchSettings& y = b.five;
    return x.m_bClip == y.m_bClip && x.m_bInterlace == y.m_bInterlace &&
           x.m_bSoftenBorders == y.m_bSoftenBorders && x.m_nClipTop == y.m_nClipTop &&
           x.m_nClipBottom == y.m_nClipBottom && a.method == b.method && a.autoClip == b.autoClip &&
           a.onlyCombed == b.onlyCombed && a.format == b.format && a.jpegQuality == b.jpegQuality &&
           a.keepMetadata == b.keepMetadata;
}

EngineOptions ForEngine(const DialogOptions& options) {
    EngineOptions engine;
    engine.settings = options.five;
    engine.smart.method = options.method;
    engine.smart.onlyCombed = options.onlyCombed && options.five.m_bInterlace != 0;
    if (options.autoClip && options.five.m_bClip != 0) {
        // As the command line's automatic clip: the bands found replace Top and Bottom.
        engine.smart.autoClip = true;
        engine.settings.m_bClip = 0;
        engine.settings.m_nClipTop = 0;
        engine.settings.m_nClipBottom = 0;
    }
    engine.write.jpegQuality = options.jpegQuality;
    engine.write.writeMetadata = options.keepMetadata;
    engine.format = options.format;
    return engine;
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
    const OutputPlace place = PlaceOf(location);
    const std::string output = JoinPath(place.folder, place.namePrefix + FileNameFromPath(input));
    return options.format ? WithFormatExtension(output, *options.format) : output;
}

DialogPlan PlanDialogRun(const std::vector<std::string>& inputs, const std::string& location,
                         const DialogOptions& options) {
    DialogPlan plan;
    plan.place = PlaceOf(location);
    std::vector<PlanInput> planInputs;
    planInputs.reserve(inputs.size());
    for (const std::string& input : inputs) {
        planInputs.push_back({input, plan.place.namePrefix + FileNameFromPath(input)});
    }
    PlanOptions planOptions;
    planOptions.outputFolder = plan.place.folder;
    planOptions.overwriteInputs = true;
    planOptions.format = options.format;
    plan.batch = MakePlan(std::move(planInputs), planOptions);

    std::vector<Job> jobs;
    for (const PlannedJob& planned : plan.batch.jobs) {
        if (planned.disposition == Disposition::Run) {
            jobs.push_back(planned.job);
        }
    }
    plan.replaced = FindReplacedOriginals(jobs);
    plan.shared = FindSharedOutputs(plan.batch);
    return plan;
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

void ReportRefusedJobs(const BatchPlan& plan, RunListener& listener) {
    for (const PlannedJob& planned : plan.jobs) {
        if (planned.disposition == Disposition::Run) {
            continue;
        }
        FileReport report;
        report.input = planned.job.input;
        report.output = planned.job.output;
        report.status = DispositionStatus(planned.disposition);
        report.reason = DispositionReason(planned);
        listener.FileFinished(report);
    }
}

std::string PrepareOutputFolders(const DialogPlan& plan) {
    for (const std::string& folder : plan.batch.folders) {
        const std::string error = CreateOutputFolder(folder);
        if (!error.empty() && folder == plan.place.folder) {
            return folder + ": " + error;
        }
    }
    return {};
}

void RunDialogPlan(const DialogPlan& plan, const DialogOptions& options, unsigned workers,
                   const std::atomic<bool>& stop, RunListener& listener) {
    const EngineOptions engine = ForEngine(options);
    HookedListener hooked(listener, stop);
    RunParallel(plan.batch, engine.settings, workers, stop, hooked, engine.smart, engine.write);
}

void SetFileStartedHook(FileStartedHook hook) {
    StartedHook() = std::move(hook);
}

std::string RunSummary(const RunTally& tally) {
    if (tally.failures.empty() && tally.warnings.empty() && tally.folderError.empty()) {
        return {};
    }
    std::string text = FormatCount(tally.written) + " of " + FormatCount(tally.total) +
                       (tally.total == 1 ? " file was written." : " files were written.");
    if (!tally.folderError.empty()) {
        text += "\n" + tally.folderError;
    }
    std::size_t listed = 0;
    const auto list = [&](const std::vector<FileReport>& reports, bool warning) {
        for (const FileReport& report : reports) {
            if (listed++ < kSummaryLines) {
                text += "\n" + FileNameFromPath(report.input) + ": " +
                        (warning ? report.warning : report.reason);
            }
        }
    };
    list(tally.failures, false);
    list(tally.warnings, true);
    if (listed > kSummaryLines) {
        text += "\nand " + FormatCount(listed - kSummaryLines) + " more";
    }
    return text;
}

unsigned AllProcessors() {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors;
}

OutputFormat OutputFormatOf(const std::string& input, const DialogOptions& options) {
    return options.format.value_or(OutputFormatFor(FileNameFromPath(input)));
}

FileReport RepairForPreview(CImageSurface& surface, const std::string& input,
                            const std::string& output, const DialogOptions& options) {
    const EngineOptions engine = ForEngine(options);
    const Job job{input, output, OutputFormatOf(input, options)};
    return ProcessFile(surface, job, engine.settings, engine.smart, engine.write);
}

}  // namespace tessary
