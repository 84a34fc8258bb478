#pragma once

#include <atomic>

#include "batch/batch_job.h"
#include "batch/batch_plan.h"
#include "batch/batch_process.h"

namespace tessary {

// Runs the plan's jobs on up to `workers` threads, one group of same-named
// outputs per worker at a time. Syncing and renaming the outputs happens on a
// few commit threads of their own, so workers go on with the next file meanwhile.
// Once `stop` is set no file starts; files in hand are finished and committed.
// Files reach the listener from the workers and the commit threads.
void RunParallel(const BatchPlan& plan, const BatchSettings& settings, unsigned workers,
                 const std::atomic<bool>& stop, RunListener& listener);

}  // namespace tessary
