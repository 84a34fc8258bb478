#pragma once

#include "cli/cli_options.h"

namespace tessary::cli {

inline constexpr int kExitAllWritten = 0;
inline constexpr int kExitSomeNotWritten = 1;
inline constexpr int kExitInterrupted = 130;

// Runs the batch over the options' files and returns the exit status.
int RunCommandLineBatch(const CliOptions& options);

}  // namespace tessary::cli
