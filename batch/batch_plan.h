#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_job.h"

namespace tessary {

// One input file as the planner takes it: its path, and its output's path
// below the output folder (the bare name for a file given by itself, the path
// below the input folder for a file found in one).
struct PlanInput {
    std::string path;
    std::string relative;
};

// A folder that could not be walked, or a file that can't be run, with why.
struct InputProblem {
    std::string path;
    std::string reason;
};

// Adds `argument` to `files`: a folder adds its images (names ending in .jpg,
// .jpeg, .gif, .bmp or .png in any case), by path in byte order, descending
// into subfolders when `recursive`; anything else is taken as one file.
// Unreadable folders and symbolic-link loops go to `problems`, once each.
void ExpandInput(const std::string& argument, bool recursive, std::vector<PlanInput>& files,
                 std::vector<InputProblem>& problems);

// True for the names a folder walk picks up.
bool HasImageExtension(const std::string& name);

// FOLDER/RELATIVE, with no doubled separator when FOLDER already ends in one.
std::string JoinPath(const std::string& folder, const std::string& relative);

// How many distinct input files the jobs' outputs would replace (the same file
// by device and inode, however it is spelt), and the first of them.
struct ReplacedOriginals {
    std::size_t count = 0;
    std::string first;  // the input path as listed
};
ReplacedOriginals FindReplacedOriginals(const std::vector<Job>& jobs);

// Creates a folder with its parents. "" on success, else the reason to show
// after the folder's name.
std::string CreateOutputFolder(const std::string& folder);

enum class Disposition : uint8_t {
    Run,
    Missing,        // stat failed; `error` says why
    NotRegular,     // a folder, device or pipe given as a file
    ReplacesInput,  // its output is one of the input files
    UpToDate,       // --update: the output is at least as new as the input
};

inline constexpr uint32_t kNoJob = UINT32_MAX;

struct PlannedJob {
    Job job;
    Disposition disposition = Disposition::Run;
    int error = 0;
    // The job that runs after this one in its group, or kNoJob.
    uint32_t nextInGroup = kNoJob;
    // Reads a file that a job before it in its group replaces (only where jobs
    // replace each other's inputs in a circle): that file must have landed first.
    bool waitsForEarlier = false;
};

struct PlanOptions {
    // The output folder; with `namePrefix`, what every output's name starts with.
    std::string outputFolder;
    bool overwriteInputs = false;
    bool update = false;
    // Outputs are LOCATION + NAME, no separator put between ("out/" is a folder,
    // "out/x-" a prefix in "out/"); only a location ending in one is created.
    bool namePrefix = false;
};

// Outputs that more than one input would write: how many, and of the first
// such output the first two inputs.
struct SharedOutputs {
    std::size_t count = 0;
    std::string output;
    std::string first;
    std::string second;
};

// The work of a run, in list order. Jobs form groups, each run in its order by
// one worker: jobs with the same output, in list order, so the later file wins
// as it would in a one-by-one run; and jobs of which one replaces a file another
// reads, the reader first. Both hold whatever the number of workers.
struct BatchPlan {
    std::vector<PlannedJob> jobs;
    std::vector<uint32_t> groupHeads;      // the first job of each group to run
    std::vector<std::string> folders;      // output folders to create, parents first
    std::vector<InputProblem> duplicates;  // outputs written by more than one input
    SharedOutputs shared;                  // the same, counted by output
    ReplacedOriginals replaced;            // input files that jobs to run replace
    std::size_t runCount = 0;              // jobs to run
};

// Checks every input (exists, is a regular file) and every output (does not
// name an input unless allowed; with update, is older than its input) before
// any file is written: once outputs land they are new files, and a later check
// could no longer see what they replaced. With `format`, every output is in it,
// its name's extension made the format's own.
BatchPlan MakePlan(std::vector<PlanInput> inputs, const PlanOptions& options,
                   std::optional<OutputFormat> format = std::nullopt);

// The reason shown for a job that is not run; "" for one that is.
std::string DispositionReason(const PlannedJob& planned);
FileStatus DispositionStatus(Disposition disposition);
// The report of a job that is not run, as a run gives it.
FileReport RefusalReport(const PlannedJob& planned);

}  // namespace tessary
