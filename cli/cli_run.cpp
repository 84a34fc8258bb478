#include "cli/cli_run.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/batch_run.h"
#include "cli/batch_plan.h"
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

bool PrepareOutputFolder(const std::string& folder, StderrReporter& reporter) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        reporter.Line(folder, "cannot create the output folder: " +
                                  (error ? error.message() : std::string(std::strerror(errno))));
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        reporter.Line(folder, "the output folder exists and is not a folder");
        return false;
    }
    return true;
}

std::string LoadFailureReason(const LoadReport& load) {
    if (load.source == LoadSource::MissingFile) {
        return std::strerror(ENOENT);  // removed since the run started
    }
    return load.status.Text();
}

// Prints what went wrong with one file; true when its output was written.
bool ReportFile(const FileReport& report, bool repairsAsked, StderrReporter& reporter) {
    if (!report.saveAttempted) {
        reporter.Line(report.input, LoadFailureReason(report.load));
        return false;
    }
    if (!report.save.written) {
        std::string reason = "cannot write " + report.output;
        if (report.save.errorNumber != 0) {
            reason += std::string(": ") + std::strerror(report.save.errorNumber);
        }
        reporter.Line(report.input, reason);
        return false;
    }
    if (!report.load.warning.empty()) {
        reporter.Line(report.input, "warning: " + report.load.warning);
    }
    if (!report.repairable && repairsAsked) {
        reporter.Line(report.input,
                      "warning: not 24 bits per pixel, so the repairs cannot touch it; written "
                      "unchanged");
    }
    return true;
}

bool AnyRepairAsked(const BatchSettings& settings) {
    return settings.m_bInterlace != 0 || settings.m_bClip != 0 || settings.m_bSoftenBorders != 0;
}

class Workers {
  public:
    Workers(const BatchPlan& plan, const CliOptions& options, StderrReporter& reporter)
        : m_plan(plan), m_options(options), m_reporter(reporter) {}

    // Runs the groups on up to `jobs` threads; returns the number of files written.
    std::size_t Run(unsigned jobs) {
        const std::size_t threads = std::min<std::size_t>(jobs, m_plan.groups.size());
        std::vector<std::thread> pool;
        for (std::size_t t = 1; t < threads; ++t) {
            try {
                pool.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;  // the system gave fewer threads than asked: run on those
            }
        }
        if (threads > 0) {
            Work();  // the main thread is a worker too
        }
        for (std::thread& thread : pool) {
            thread.join();
        }
        return m_written.load();
    }

  private:
    // One surface per worker, reused for all of that worker's files.
    void Work() {
        CImageSurface surface;
        const bool repairsAsked = AnyRepairAsked(m_options.settings);
        for (;;) {
            const std::size_t g = m_nextGroup.fetch_add(1);
            if (g >= m_plan.groups.size()) {
                return;
            }
            for (const PlannedFile& file : m_plan.groups[g]) {
                if (g_stopRequested.load()) {
                    return;
                }
                m_reporter.FileStarted(file.input);
                const FileReport report = ProcessFile(surface, file.input, file.output,
                                                      m_options.settings, MissingInput::Skip);
                if (ReportFile(report, repairsAsked, m_reporter)) {
                    m_written.fetch_add(1);
                }
                m_reporter.FileFinished();
            }
        }
    }

    const BatchPlan& m_plan;
    const CliOptions& m_options;
    StderrReporter& m_reporter;
    std::atomic<std::size_t> m_nextGroup{0};
    std::atomic<std::size_t> m_written{0};
};

}  // namespace

int RunCommandLineBatch(const CliOptions& options) {
    InstallStopHandlers();
    const std::size_t total = options.inputs.size();
    StderrReporter reporter(total, !options.quiet && StderrIsTerminal());

    const BatchPlan plan = MakePlan(options.inputs, options.outputFolder, options.overwriteInputs);
    for (const Refusal& refusal : plan.refusals) {
        reporter.Line(refusal.input, refusal.reason);
        reporter.FileFinished();
    }

    std::size_t written = 0;
    if (!g_stopRequested.load() && PrepareOutputFolder(options.outputFolder, reporter)) {
        written = Workers(plan, options, reporter).Run(options.jobs);
    }
    reporter.Finish();

    if (g_stopRequested.load()) {
        return kExitInterrupted;
    }
    return written == total ? kExitAllWritten : kExitSomeNotWritten;
}

}  // namespace tessary::cli
