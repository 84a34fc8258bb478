#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <thread>

namespace tessary::cli {

namespace {

// Written out rather than generated, so that --help shows exactly the documented interface.
constexpr const char* kUsage =
    "Usage: tessary-batch [OPTIONS] FILE...\n"
    "Repairs still images captured from interlaced video and writes each one to\n"
    "DIR/NAME: as BMP when NAME ends in \"bmp\" (any case), else as JPEG at quality 100.\n"
    "Repairs run in the order deinterlace, clip, soften.\n"
    "\n"
    "  -o, --output DIR        output folder (required); created, with its parents, when missing\n"
    "  -d, --deinterlace       replace each pair of rows by their average\n"
    "  -c, --clip TOP:BOTTOM   paint TOP rows at the top and BOTTOM rows at the bottom black "
    "(each 0 to 480)\n"
    "  -s, --soften            soften the horizontal borders: the three rows next to each black "
    "band\n"
    "                          (without --clip: the image's own first and last three rows)\n"
    "  -j, --jobs N            files processed at once (default: the number of processors)\n"
    "      --overwrite-inputs  allow an output to replace one of the input files\n"
    "  -q, --quiet             no progress line\n"
    "  -h, --help              usage, then exit 0\n"
    "      --version           \"tessary-batch VERSION\", then exit 0\n"
    "\n"
    "When two FILEs share a NAME, they are done in list order and the later one's\n"
    "output is the one left, whatever the number of jobs.\n"
    "\n"
    "Exit status: 0 when every file was written, 1 when at least one was not,\n"
    "2 for a usage error, 130 after Ctrl-C.\n";

constexpr int kUsageError = 2;

std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max) {
    if (text.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > max) {
            return std::nullopt;
        }
    }
    return value;
}

int UsageError(const std::string& reason) {
    std::string line = reason;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgramName,
                 line.c_str(), kProgramName);
    return kUsageError;
}

unsigned DefaultJobs() {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors;
}

}  // namespace

std::optional<ClipRows> ParseClip(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto top = ParseDecimal(text.substr(0, colon), kMaxClipRows);
    const auto bottom = ParseDecimal(text.substr(colon + 1), kMaxClipRows);
    if (!top || !bottom) {
        return std::nullopt;
    }
    return ClipRows{static_cast<int32_t>(*top), static_cast<int32_t>(*bottom)};
}

std::optional<unsigned> ParseJobs(std::string_view text) {
    const auto jobs = ParseDecimal(text, std::numeric_limits<unsigned>::max());
    if (!jobs || *jobs < 1) {
        return std::nullopt;
    }
    return static_cast<unsigned>(*jobs);
}

ParseResult ParseCommandLine(int argc, char** argv) {
    CliOptions options;
    std::string clipText;
    std::string jobsText;

    CLI::App app{"", kProgramName};
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", std::string(kProgramName) + " " + TESSARY_VERSION);
    app.add_option("-o,--output", options.outputFolder)->required();
    app.add_flag("-d,--deinterlace");
    app.add_option("-c,--clip", clipText);
    app.add_flag("-s,--soften");
    app.add_option("-j,--jobs", jobsText);
    app.add_flag("--overwrite-inputs", options.overwriteInputs);
    app.add_flag("-q,--quiet", options.quiet);
    app.add_option("FILE", options.inputs)->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(kUsage, stdout);
        return {std::nullopt, 0};
    } catch (const CLI::CallForVersion&) {
        std::printf("%s %s\n", kProgramName, TESSARY_VERSION);
        return {std::nullopt, 0};
    } catch (const CLI::ParseError& error) {
        return {std::nullopt, UsageError(error.what())};
    }

    if (options.outputFolder.empty()) {
        return {std::nullopt, UsageError("--output: the folder name is empty")};
    }
    options.settings.m_bInterlace = app.count("--deinterlace") > 0 ? 1 : 0;
    options.settings.m_bSoftenBorders = app.count("--soften") > 0 ? 1 : 0;
    if (app.count("--clip") > 0) {
        const auto clip = ParseClip(clipText);
        if (!clip) {
            return {std::nullopt, UsageError("--clip: '" + clipText +
                                             "' is not TOP:BOTTOM with each from 0 to 480")};
        }
        options.settings.m_bClip = 1;
        options.settings.m_nClipTop = clip->top;
        options.settings.m_nClipBottom = clip->bottom;
    }
    options.jobs = DefaultJobs();
    if (app.count("--jobs") > 0) {
        const auto jobs = ParseJobs(jobsText);
        if (!jobs) {
            return {std::nullopt,
                    UsageError("--jobs: '" + jobsText + "' is not a whole number of at least 1")};
        }
        options.jobs = *jobs;
    }
    return {std::move(options), 0};
}

}  // namespace tessary::cli
