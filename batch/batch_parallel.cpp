#include "batch/batch_parallel.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "batch/batch_process.h"
#include "image/image_surface.h"
#include "platform/atomic_file.h"

namespace tessary {

namespace {

struct FinishedFile {
    FileReport report;
    std::optional<PendingReplace> pending;
    uint64_t sequence = 0;  // order of hand-over, which is the order of renames
};

// Each pending file holds a descriptor and a temporary file: a bound keeps both few.
constexpr std::size_t kQueuedPerWorker = 4;
// Syncs in flight at once: the file system commits concurrent syncs together,
// so a few threads cost far less than one syncing file after file.
constexpr unsigned kCommitThreads = 4;

// Finishes files off the workers' path. Syncs run side by side; renames, and
// the report of each file, follow the order of hand-over, so that of two
// files with the same output the later one is renamed last.
class CommitStage {
  public:
    CommitStage(std::size_t capacity, RunListener& listener)
        : m_capacity(capacity), m_listener(listener) {
        for (unsigned t = 0; t < kCommitThreads; ++t) {
            try {
                m_threads.emplace_back([this] { Drain(); });
            } catch (const std::system_error&) {
                break;  // fewer threads, or none: see Push
            }
        }
    }

    ~CommitStage() {
        {
            std::lock_guard lock(m_mutex);
            m_bClosed = true;
        }
        m_changed.notify_all();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }

    bool Threaded() const { return !m_threads.empty(); }

    // Returns the file's place in the order of renames.
    uint64_t Push(FinishedFile file) {
        if (!Threaded()) {
            Finish(file, file.pending ? SyncPending(*file.pending) : 0);
            return 0;
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_queue.size() < m_capacity; });
        const uint64_t sequence = file.sequence = m_nextSequence++;
        m_queue.push_back(std::move(file));
        lock.unlock();
        m_changed.notify_all();
        return sequence;
    }

    // Waits until the file pushed as `sequence`, and every one before it, has landed.
    void WaitLanded(uint64_t sequence) {
        if (!Threaded()) {
            return;
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_nextRename > sequence; });
    }

  private:
    void Drain() {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_bClosed || !m_queue.empty(); });
            if (m_queue.empty()) {
                return;
            }
            FinishedFile file = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            m_changed.notify_all();

            const int synced = file.pending ? SyncPending(*file.pending) : 0;
            lock.lock();
            m_changed.wait(lock, [&] { return m_nextRename == file.sequence; });
            lock.unlock();
            Finish(file, synced);
            lock.lock();
            ++m_nextRename;
            lock.unlock();
            m_changed.notify_all();
        }
    }

    void Finish(FinishedFile& file, int error) {
        if (file.pending && error == 0) {
            error = RenamePending(*file.pending);
        }
        if (error != 0) {
            FileReport& report = file.report;
            report.status = FileStatus::Failed;
            report.save.written = false;
            report.save.errorNumber = error;
            report.save.status = Status::IoError(error);
            report.reason = "cannot write " + report.output + ": " + report.save.status.Text();
        }
        m_listener.FileFinished(file.report);
    }

    std::size_t m_capacity;
    RunListener& m_listener;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<FinishedFile> m_queue;
    uint64_t m_nextSequence = 0;
    uint64_t m_nextRename = 0;
    bool m_bClosed = false;
    std::vector<std::thread> m_threads;  // last: started once the rest is ready
};

class Workers {
  public:
    Workers(const BatchPlan& plan, const BatchSettings& settings, const std::atomic<bool>& stop,
            RunListener& listener, CommitStage& stage)
        : m_plan(plan), m_settings(settings), m_stop(stop), m_listener(listener), m_stage(stage) {}

    void Run(unsigned workers) {
        const std::size_t threads = std::min<std::size_t>(workers, m_plan.groupHeads.size());
        std::vector<std::thread> pool;
        for (std::size_t t = 1; t < threads; ++t) {
            try {
                pool.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;  // the system gave fewer threads than asked: run on those
            }
        }
        if (threads > 0) {
            Work();  // the calling thread is a worker too
        }
        for (std::thread& thread : pool) {
            thread.join();
        }
    }

  private:
    // ProcessFile answers for its own allocations; a listener's that fail fail this file.
    FileReport RunJob(CImageSurface& surface, const Job& job) {
        try {
            m_listener.FileStarted(job);
            return ProcessFile(surface, job, m_settings);
        } catch (const std::bad_alloc&) {
            return OutOfMemoryReport(job);
        }
    }

    // One surface per worker, reused for all of that worker's files.
    void Work() {
        CImageSurface surface;
        std::optional<DeferredReplace> deferred;
        if (m_stage.Threaded()) {
            deferred.emplace();
        }
        for (;;) {
            const std::size_t g = m_nextGroup.fetch_add(1);
            if (g >= m_plan.groupHeads.size()) {
                return;
            }
            std::optional<uint64_t> pushed;
            for (uint32_t j = m_plan.groupHeads[g]; j != kNoJob; j = m_plan.jobs[j].nextInGroup) {
                if (m_stop.load()) {
                    return;
                }
                if (m_plan.jobs[j].waitsForEarlier && pushed) {
                    m_stage.WaitLanded(*pushed);
                }
                FinishedFile file{RunJob(surface, m_plan.jobs[j].job), {}};
                if (deferred) {
                    file.pending = deferred->Take();
                }
                pushed = m_stage.Push(std::move(file));
            }
        }
    }

    const BatchPlan& m_plan;
    const BatchSettings& m_settings;
    const std::atomic<bool>& m_stop;
    RunListener& m_listener;
    CommitStage& m_stage;
    std::atomic<std::size_t> m_nextGroup{0};
};

}  // namespace

void RunParallel(const BatchPlan& plan, const BatchSettings& settings, unsigned workers,
                 const std::atomic<bool>& stop, RunListener& listener) {
    workers = std::max(workers, 1u);
    CommitStage stage(kQueuedPerWorker * workers + kCommitThreads, listener);
    Workers(plan, settings, stop, listener, stage).Run(workers);
}

}  // namespace tessary
