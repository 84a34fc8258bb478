#pragma once

#include <atomic>

#include "batch/batch_job.h"
#include "batch/batch_plan.h"
#include "batch/batch_process.h"

namespace tessary {

// What a parallel run tells its caller, from several threads: FileStarted from
// the workers, FileFinished once a file's output is in place (or has failed).
class RunListener {
  public:
    virtual ~RunListener() = default;
    virtual void FileStarted(const Job& job) = 0;
    virtual void FileFinished(const FileReport& report) = 0;
};

// Runs the plan's jobs on up to `workers` threads, one group of same-named
// outputs per worker at a time. Syncing and renaming the outputs happens on a
// few commit threads of their own, so workers go on with the next file meanwhile.
// Once `stop` is set no file starts; files in hand are finished and committed.
void RunParallel(const BatchPlan& plan, const BatchSettings& settings, unsigned workers,
                 const std::atomic<bool>& stop, RunListener& listener,
                 const SmartRepairs& smart = {}, const WriteSettings& write = {});

}  // namespace tessary
