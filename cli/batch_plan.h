#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tessary::cli {

// One input that passed the checks made before anything is written.
struct PlannedFile {
    std::size_t index = 0;  // position in the command line's list
    std::string input;
    std::string output;
};

// A refusal found before the run starts, in list order.
struct Refusal {
    std::string input;
    std::string reason;
};

// The work of a run. Inputs that share an output path form one group, kept in
// list order and given to a single worker, so the later file wins as it would
// in a one-by-one run, whatever the number of workers.
struct BatchPlan {
    std::vector<std::vector<PlannedFile>> groups;
    std::vector<Refusal> refusals;
    std::size_t fileCount = 0;  // files in the groups
};

// DIR/NAME for one input, with no doubled separator when DIR already ends in one.
std::string OutputPathFor(const std::string& outputFolder, const std::string& input);

// Checks every input (exists, is a regular file) and every output (does not
// name an input, unless allowed) before any file is written: once outputs land
// they are new files, and a later check could no longer see what they replaced.
BatchPlan MakePlan(const std::vector<std::string>& inputs, const std::string& outputFolder,
                   bool overwriteInputs);

}  // namespace tessary::cli
