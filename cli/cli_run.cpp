#include "cli/cli_run.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_parallel.h"
#include "batch/batch_plan.h"
#include "batch/batch_process.h"
#include "batch/batch_report.h"
#include "cli/stderr_reporter.h"
#include "image/image_surface.h"

namespace tessary::cli {

namespace {

// Set by SIGINT or SIGTERM: no new file starts, files in hand are finished.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int /*signal*/) {
    g_stopRequested.store(true);
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted calls: a write cut short would otherwise fail a file in hand.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The names in a list: one per line, or each ended by a NUL byte. Empty names are passed over.
bool ReadList(const std::string& source, bool nullSeparated, std::vector<std::string>& names) {
    const int fd = source == "-" ? STDIN_FILENO : ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const char separator = nullSeparated ? '\0' : '\n';
    std::string pending;
    char buffer[65536];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (ssize_t i = 0; i < count; ++i) {
            if (buffer[i] != separator) {
                pending += buffer[i];
            } else if (!pending.empty()) {
                names.push_back(std::move(pending));
                pending.clear();
            }
        }
    }
    const bool ok = count == 0;
    if (!pending.empty()) {
        names.push_back(std::move(pending));
    }
    if (fd != STDIN_FILENO) {
        ::close(fd);
    }
    return ok;
}

// What the run counts and says about each file, from any thread.
class Outcome final : public RunListener {
  public:
    Outcome(StderrReporter& reporter, ReportWriter* report)
        : m_reporter(reporter), m_report(report) {}

    void FileStarted(const Job& job) override { m_reporter.FileStarted(job.input); }

    void FileFinished(const FileReport& report) override {
        if (report.status == FileStatus::Failed) {
            m_reporter.Line(report.input, report.reason);
        } else if (!report.warning.empty()) {
            m_reporter.Line(report.input, report.warning);
        }
        {
            std::lock_guard lock(m_mutex);
            if (*report.roundedTo != '\0' && m_rounded.insert(report.roundedTo).second) {
                m_reporter.Line(
                    "note", std::string("16-bit pictures written as 8-bit ") + report.roundedTo);
            }
            ++(report.status == FileStatus::Written   ? written
               : report.status == FileStatus::Skipped ? skipped
                                                      : failed);
            if (m_report != nullptr && !m_report->Append(report) && !m_bReportFailed) {
                m_bReportFailed = true;
                m_reporter.Line("--report", "cannot append to the report; records are missing");
            }
        }
        m_reporter.FileFinished();
    }

    // Counts of problems that are not files (unreadable folders, loops).
    void Problem(const InputProblem& problem) {
        m_reporter.Line(problem.path, problem.reason);
        std::lock_guard lock(m_mutex);
        ++failed;
    }

    std::size_t written = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;

  private:
    StderrReporter& m_reporter;
    ReportWriter* m_report;
    std::mutex m_mutex;
    bool m_bReportFailed = false;
    // The formats whose rounding of 16-bit pictures has been told, once a run.
    std::set<std::string> m_rounded;
};

constexpr const char* kOverwriteHint = " (--overwrite-inputs allows it)";

// The report of a job that is not run, as the run would give it.
FileReport CliRefusalReport(const PlannedJob& planned) {
    FileReport report = RefusalReport(planned);
    if (planned.disposition == Disposition::ReplacesInput) {
        report.reason += kOverwriteHint;
    }
    return report;
}

// Whether a file can be opened for reading, without blocking on a FIFO.
bool Readable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

int DryRun(const BatchPlan& plan, const std::vector<InputProblem>& problems,
           StderrReporter& reporter) {
    bool failed = !problems.empty();
    for (const InputProblem& problem : problems) {
        reporter.Line(problem.path, problem.reason);
    }
    for (const InputProblem& duplicate : plan.duplicates) {
        reporter.Line(duplicate.path, "warning: " + duplicate.reason);
    }
    for (const PlannedJob& planned : plan.jobs) {
        const Job& job = planned.job;
        if (planned.disposition == Disposition::Run && !Readable(job.input)) {
            reporter.Line(job.input, "cannot be opened for reading");
            failed = true;
            continue;
        }
        const FileReport refusal = CliRefusalReport(planned);
        if (planned.disposition == Disposition::Run) {
            std::cout << job.input << " -> " << job.output << " (" << OutputFormatName(job.format)
                      << ")\n";
        } else if (refusal.status == FileStatus::Skipped) {
            std::cout << job.input << " -> " << job.output << " (skipped: " << refusal.reason
                      << ")\n";
        } else {
            reporter.Line(job.input, refusal.reason);
            failed = true;
        }
    }
    std::cout.flush();
    return failed ? kExitSomeNotWritten : kExitAllWritten;
}

// Looks at each file and prints what the detectors found, writing no picture.
int Detect(const std::vector<PlanInput>& inputs, const std::vector<InputProblem>& problems,
           const CliOptions& options, StderrReporter& reporter) {
    bool failed = !problems.empty();
    for (const InputProblem& problem : problems) {
        reporter.Line(problem.path, problem.reason);
    }
    ReportWriter report;
    if (!options.reportPath.empty()) {
        const std::string error =
            report.Open(options.reportPath, *ReportFormatFor(options.reportPath), true);
        if (!error.empty()) {
            reporter.Line(options.reportPath, "cannot open the report: " + error);
            return kExitSomeNotWritten;
        }
    }
    CImageSurface surface;
    std::cout << kDetectionHeader;
    for (const PlanInput& input : inputs) {
        if (g_stopRequested.load()) {
            std::cout.flush();
            return kExitInterrupted;
        }
        Detection found;
        const FileReport file = DetectFile(surface, input.path, found);
        const bool looked = file.status != FileStatus::Failed;
        if (looked) {
            std::cout << DetectionLine(input.path, found);
        } else {
            reporter.Line(input.path, file.reason);
            failed = true;
        }
        if (!options.reportPath.empty() && !report.Append(file, looked ? &found : nullptr)) {
            reporter.Line(options.reportPath, "cannot append to the report; records are missing");
            failed = true;
        }
    }
    std::cout.flush();
    return failed ? kExitSomeNotWritten : kExitAllWritten;
}

// Makes the output folders; false when the output folder itself can't be had.
bool PrepareFolders(const BatchPlan& plan, const std::string& root, StderrReporter& reporter) {
    for (const std::string& folder : plan.folders) {
        const std::string error = CreateOutputFolder(folder);
        if (!error.empty()) {
            reporter.Line(folder, error);
            if (folder == root) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int RunCommandLineBatch(const CliOptions& options) {
    InstallStopHandlers();
    const auto start = std::chrono::steady_clock::now();

    std::vector<std::string> arguments = options.inputs;
    if (!options.filesFrom.empty() &&
        !ReadList(options.filesFrom, options.nullSeparated, arguments)) {
        std::fprintf(stderr, "%s: %s: cannot read the list\n", kProgramName,
                     options.filesFrom.c_str());
        return kExitSomeNotWritten;
    }
    std::vector<PlanInput> inputs;
    std::vector<InputProblem> problems;
    for (const std::string& argument : arguments) {
        ExpandInput(argument, options.recursive, inputs, problems);
    }
    arguments.clear();
    arguments.shrink_to_fit();
    if (options.detect) {
        StderrReporter reporter(inputs.size(), false);
        return Detect(inputs, problems, options, reporter);
    }
    const BatchPlan plan =
        MakePlan(std::move(inputs), {options.outputFolder, options.overwriteInputs, options.update},
                 options.settings.format);

    const std::size_t total = plan.jobs.size();
    StderrReporter reporter(total, !options.quiet && !options.dryRun && StderrIsTerminal());
    if (options.dryRun) {
        return DryRun(plan, problems, reporter);
    }

    ReportWriter report;
    if (!options.reportPath.empty()) {
        const std::string error =
            report.Open(options.reportPath, *ReportFormatFor(options.reportPath));
        if (!error.empty()) {
            reporter.Line(options.reportPath, "cannot open the report: " + error);
            return kExitSomeNotWritten;
        }
    }
    Outcome outcome(reporter, options.reportPath.empty() ? nullptr : &report);
    for (const InputProblem& problem : problems) {
        outcome.Problem(problem);
    }
    for (const InputProblem& duplicate : plan.duplicates) {
        reporter.Line(duplicate.path, "warning: " + duplicate.reason);
    }
    for (const PlannedJob& planned : plan.jobs) {
        if (planned.disposition != Disposition::Run) {
            outcome.FileFinished(CliRefusalReport(planned));
        }
    }

    if (!g_stopRequested.load() && plan.runCount > 0) {
        if (PrepareFolders(plan, options.outputFolder, reporter)) {
            RunParallel(plan, options.settings, options.jobs, g_stopRequested, outcome);
        } else {
            outcome.failed += plan.runCount;
        }
    }
    reporter.Finish();

    const bool interrupted = g_stopRequested.load();
    if (!options.quiet) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        reporter.Plain(
            interrupted ? InterruptedLine(outcome.written, total)
                        : SummaryLine(outcome.written, outcome.failed, outcome.skipped, seconds));
    }
    if (interrupted) {
        return kExitInterrupted;
    }
    return outcome.failed > 0 ? kExitSomeNotWritten : kExitAllWritten;
}

}  // namespace tessary::cli
