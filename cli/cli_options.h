#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_job.h"

namespace CLI {
class App;
}

namespace tessary::cli {

inline constexpr const char* kProgramName = "tessary-batch";

struct CliOptions {
    std::string outputFolder;
    std::vector<std::string> inputs;
    std::string filesFrom;  // "-" for standard input
    bool nullSeparated = false;
    bool recursive = false;
    BatchSettings settings;  // the repairs and how outputs are written
    unsigned jobs = 1;
    bool overwriteInputs = false;
    bool update = false;
    bool dryRun = false;
    bool detect = false;
    std::string reportPath;
    bool quiet = false;
};

// Either options to run with, or an exit status for a run that ends here
// (help, version, usage error: already printed).
struct ParseResult {
    std::optional<CliOptions> options;
    int exitStatus = 0;
};

ParseResult ParseCommandLine(int argc, char** argv);

// The --help text.
std::string HelpText();

}  // namespace tessary::cli
