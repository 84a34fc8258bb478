#include "batch/batch_run.h"

#include <sys/stat.h>

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
    const std::string prefix = OutputPrefixFor(location);
    plan.jobs.reserve(inputPaths.size());
    for (const std::string& input : inputPaths) {
        std::string output = prefix + FileNameFromPath(input);
        const OutputFormat format = OutputFormatFor(output);
        plan.jobs.push_back({input, std::move(output), format});
    }
    struct stat info {};
    if (!location.empty() && location.back() == '/' && ::stat(location.c_str(), &info) != 0) {
        plan.folderToCreate = location;
    }
    plan.replaced = FindReplacedOriginals(plan.jobs);
    return plan;
}

RunOutcome RunSequential(const SequentialPlan& plan, ProgressSink& progress) {
    RunOutcome outcome;
    outcome.total = plan.jobs.size();
    if (!plan.jobs.empty() && !plan.folderToCreate.empty()) {
        const std::string error = CreateOutputFolder(plan.folderToCreate);
        if (!error.empty()) {
            outcome.folderError = plan.folderToCreate + ": " + error;
            return outcome;
        }
    }

    CImageSurface surface;
    progress.SetRange(0, static_cast<int32_t>(plan.jobs.size()));
    // The run goes on without a window: it just can't be cancelled then.
    progress.Create();
    for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
        if (outcome.cancelled) {
            break;
        }
        const Job& job = plan.jobs[i];
        progress.SetStatus(job.input + kStatusJoin + job.output);
        progress.SetPos(static_cast<int32_t>(i));
        FileReport report = ProcessFile(surface, job, plan.settings);
        ++outcome.processed;
        if (report.status == FileStatus::Written) {
            ++outcome.written;
        } else {
            outcome.failures.push_back(std::move(report));
        }
        outcome.cancelled = progress.PollCancel() != 0;
    }
    if (outcome.cancelled) {
        progress.ShowMessage(kCancelMessage);
    }
    progress.Destroy();
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
