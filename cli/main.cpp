#include "cli/cli_options.h"
#include "cli/cli_run.h"

int main(int argc, char** argv) {
    const tessary::cli::ParseResult parsed = tessary::cli::ParseCommandLine(argc, argv);
    if (!parsed.options) {
        return parsed.exitStatus;
    }
    return tessary::cli::RunCommandLineBatch(*parsed.options);
}
