#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch_run.h"

namespace tessary::cli {

inline constexpr const char* kProgramName = "tessary-batch";
// The same bound the dialog's Top and Bottom fields enforce.
inline constexpr int32_t kMaxClipRows = 480;

struct CliOptions {
    std::string outputFolder;
    std::vector<std::string> inputs;
    BatchSettings settings;
    unsigned jobs = 1;
    bool overwriteInputs = false;
    bool quiet = false;
};

struct ClipRows {
    int32_t top = 0;
    int32_t bottom = 0;
};

// "TOP:BOTTOM", each a plain decimal 0..kMaxClipRows; nothing else is accepted.
std::optional<ClipRows> ParseClip(std::string_view text);
// A plain decimal of at least 1.
std::optional<unsigned> ParseJobs(std::string_view text);

// Either options to run with, or an exit status for a run that ends here
// (help, version, usage error: already printed).
struct ParseResult {
    std::optional<CliOptions> options;
    int exitStatus = 0;
};

ParseResult ParseCommandLine(int argc, char** argv);

}  // namespace tessary::cli
