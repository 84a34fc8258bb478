#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <map>
#include <thread>

#include "app/batch_report.h"

namespace tessary::cli {

namespace {

constexpr int kUsageError = 2;

constexpr const char* kDescription =
    "Repairs still images captured from interlaced video and writes each one to\n"
    "DIR/NAME: as BMP when NAME ends in \"bmp\", as PNG when it ends in \"png\", as\n"
    "TIFF when it ends in \"tif\" or \"tiff\" (any case), else as JPEG at quality\n"
    "100; with -f, in that format, NAME's extension made the format's own.\n"
    "Repairs run in the order deinterlace, clip, soften. A folder given as FILE adds\n"
    "its .jpg, .jpeg, .gif, .bmp, .png, .tif and .tiff images (any case), by name in\n"
    "byte order, and its structure is kept under DIR.\n";

constexpr const char* kFooter =
    "When two FILEs share a NAME, they are done in list order and the later one's\n"
    "output is the one left, whatever the number of jobs.\n"
    "\n"
    "Exit status: 0 when every file was written or skipped, 1 when at least one\n"
    "was not, 2 for a usage error, 130 after Ctrl-C.";

// Option name -> what to say when its value is wrong, in words a user reads
// rather than the parser's.
using Hints = std::map<std::string, std::string>;

const CLI::Validator kWholeNumber(
    [](std::string& text) -> std::string {
        const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        return digits ? std::string() : "not a whole number";
    },
    "", "");

unsigned DefaultJobs() {
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors;
}

// What a bare flag with an optional value gives.
constexpr const char* kBareFlag = "true";
constexpr const char* kAutoClip = "auto";

struct Bindings {
    std::string deinterlace;  // "" when not given, kBareFlag for -d alone
    std::string field;
    bool soften = false;
    std::string clip;  // "TOP:BOTTOM" or "auto"
    std::string format;
    std::string subsampling;
    bool strip = false;
};

std::vector<std::string> FormatNames() {
    std::vector<std::string> names;
    for (const OutputFormatEntry& entry : NamedOutputFormats()) {
        names.emplace_back(entry.name);
    }
    return names;
}

std::string JoinNames(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : separator) + name;
    }
    return text;
}

void AddFormatOptions(CLI::App& app, CliOptions& options, Bindings& bound, Hints& hints) {
    const std::vector<std::string> names = FormatNames();
    app.add_option("-f,--format", bound.format,
                   "write every output in this format, its name's\nextension made the format's own")
        ->option_text(JoinNames(names, "|"))
        ->check(CLI::IsMember(names));
    hints["--format"] = "give one of " + JoinNames(names, ", ");
    app.add_option("--quality", options.write.jpegQuality, "JPEG quality, 1 to 100 (default 100)")
        ->option_text("N")
        ->check(kWholeNumber)
        ->check(CLI::Range(1, 100));
    hints["--quality"] = "give the JPEG quality as a whole number from 1 to 100";
    app.add_option("--subsampling", bound.subsampling,
                   "JPEG colour resolution: 420 (half) or 444 (full);\n"
                   "default: the library's own choice")
        ->option_text("420|444")
        ->check(CLI::IsMember({"420", "444"}));
    hints["--subsampling"] = "give 420 or 444";
    app.add_flag("--strip", bound.strip,
                 "write no metadata; by default a JPEG output keeps\n"
                 "the input's EXIF, ICC profile, XMP and comments");
}

// Rows to clip as "TOP:BOTTOM", each a whole number from 0 to kMaxClipRows.
std::optional<std::pair<int32_t, int32_t>> ParseClipRows(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto rows = [](const std::string& part) -> std::optional<int32_t> {
        const bool digits =
            !part.empty() && part.size() <= 9 &&
            std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int32_t value = digits ? std::stoi(part) : -1;
        return value >= 0 && value <= kMaxClipRows ? std::optional(value) : std::nullopt;
    };
    const auto top = rows(text.substr(0, colon));
    const auto bottom = rows(text.substr(colon + 1));
    if (!top || !bottom) {
        return std::nullopt;
    }
    return std::pair{*top, *bottom};
}

void AddOutputOptions(CLI::App& app, CliOptions& options, Hints& hints) {
    app.add_option("-o,--output", options.outputFolder,
                   "output folder (required); created, with its parents,\nwhen missing")
        ->type_name("DIR");
    hints["--output"] = "give the output folder: -o DIR";
    app.add_flag("--overwrite-inputs", options.overwriteInputs,
                 "allow an output to replace one of the input files");
    app.add_flag("-u,--update", options.update,
                 "skip a file whose output exists and is not older than it");
    app.add_flag("-n,--dry-run", options.dryRun,
                 "print what would be written and every problem found;\nwrite nothing");
    app.add_option("--report", options.reportPath,
                   "append one record per file to FILE: JSON Lines\n(.jsonl, .json) or CSV (.csv)")
        ->option_text("FILE")
        ->check(CLI::Validator(
            [](std::string& path) -> std::string {
                return ReportFormatFor(path) ? std::string() : "unknown report format";
            },
            "", ""));
    hints["--report"] = "the report's name must end in .jsonl, .json or .csv";
}

void AddRepairOptions(CLI::App& app, Bindings& bound, Hints& hints) {
    app.add_flag("-d,--deinterlace", bound.deinterlace,
                 "replace each pair of rows by their average, or\n"
                 "deinterlace by METHOD (-d=METHOD):\n"
                 "average, top, bottom (keep that field, rebuild the\n"
                 "other), adaptive (rebuild only the combed areas)")
        ->option_text("[=METHOD]");
    hints["--deinterlace"] = "give average, top, bottom or adaptive: --deinterlace=METHOD";
    app.add_option("-c,--clip", bound.clip,
                   "paint TOP rows at the top and BOTTOM rows at the\n"
                   "bottom black (each 0 to 480); auto: the black\n"
                   "bands and tape noise found in each file")
        ->option_text("TOP:BOTTOM")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return text == kAutoClip || ParseClipRows(text) ? std::string() : "not rows";
            },
            "", ""));
    hints["--clip"] = "give TOP:BOTTOM, each a whole number from 0 to 480, or auto";
    app.add_flag("-s,--soften", bound.soften,
                 "soften the horizontal borders: the three rows next to\n"
                 "each black band (without --clip: the image's own first\n"
                 "and last three rows)");
}

void AddSmartRepairOptions(CLI::App& app, CliOptions& options, Bindings& bound, Hints& hints) {
    app.add_option("--field", bound.field,
                   "the field --deinterlace=adaptive keeps (else chosen\nper frame)")
        ->option_text("top|bottom")
        ->check(CLI::IsMember({"top", "bottom"}));
    hints["--field"] = "give top or bottom, with --deinterlace=adaptive";
    app.add_flag("--only-combed", options.smart.onlyCombed,
                 "deinterlace only the frames found combed");
    app.add_flag("--detect", options.detect,
                 "write nothing: print a table of the combing and the\n"
                 "black bands found in each file (no -o needed)");
}

void AddInputOptions(CLI::App& app, CliOptions& options, Hints& hints) {
    app.add_flag("-r,--recursive", options.recursive, "descend into the subfolders of a folder");
    app.add_option("--files-from", options.filesFrom,
                   "read more FILEs from LIST, one per line\n(- for standard input)")
        ->option_text("LIST")
        ->check(CLI::ExistingFile | CLI::IsMember({"-"}));
    hints["--files-from"] = "give a list file that exists, or - for standard input";
    app.add_flag("-0,--null", options.nullSeparated,
                 "the names in LIST end with a NUL byte, not a line break");
    app.add_option("FILE", options.inputs, "image files and folders")->type_name("");
}

void AddRunOptions(CLI::App& app, CliOptions& options, Hints& hints) {
    app.add_option("-j,--jobs", options.jobs,
                   "files processed at once (default: the number of\nprocessors)")
        ->option_text("N")
        ->check(kWholeNumber)
        ->check(CLI::Range(1u, 1u << 16));
    hints["--jobs"] = "give the number of files at once as a whole number of at least 1";
    app.add_flag("-q,--quiet", options.quiet, "no progress line and no summary line");
}

void Configure(CLI::App& app, CliOptions& options, Bindings& bound, Hints& hints) {
    app.description(kDescription);
    app.footer(kFooter);
    app.get_formatter()->column_width(26);
    app.get_formatter()->label("OPTIONS", "OPTIONS");
    app.set_help_flag("-h,--help", "usage, then exit 0");
    app.set_version_flag("--version", std::string(kProgramName) + " " + TESSARY_VERSION,
                         "\"tessary-batch VERSION\", then exit 0");
    AddOutputOptions(app, options, hints);
    AddRepairOptions(app, bound, hints);
    AddSmartRepairOptions(app, options, bound, hints);
    AddInputOptions(app, options, hints);
    AddRunOptions(app, options, hints);
    AddFormatOptions(app, options, bound, hints);
}

int UsageError(const std::string& reason) {
    std::string line = reason;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgramName,
                 line.c_str(), kProgramName);
    return kUsageError;
}

// The option a parser message is about: the one whose name it mentions first.
std::string OptionNamed(const std::string& message, const Hints& hints) {
    std::size_t best = std::string::npos;
    std::string found;
    for (const auto& [name, hint] : hints) {
        const std::size_t at = message.find(name);
        if (at < best) {
            best = at;
            found = name;
        }
    }
    return found;
}

std::string PlainReason(const CLI::ParseError& error, const CLI::App& app, const Hints& hints) {
    const std::string message = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        const std::size_t colon = message.find(": ");
        return "not an option this program knows: " +
               (colon == std::string::npos ? message : message.substr(colon + 2));
    }
    std::string name = OptionNamed(message, hints);
    if (name.empty()) {
        // Short names: the message may give "-c" where the hints hold "--clip".
        for (const CLI::Option* option : app.get_options()) {
            for (const std::string& s : option->get_snames()) {
                if (message.find("-" + s) != std::string::npos && !option->get_lnames().empty()) {
                    name = "--" + option->get_lnames().front();
                }
            }
        }
    }
    const auto hint = hints.find(name);
    if (hint != hints.end()) {
        return name + ": " + hint->second;
    }
    return "the command line is not understood: " + message;
}

// The repairs asked for, or why they don't go together.
std::string TakeRepairs(const Bindings& bound, CliOptions& options) {
    SmartRepairs& smart = options.smart;
    if (!bound.deinterlace.empty()) {
        const auto method = bound.deinterlace == kBareFlag
                                ? std::optional(DeinterlaceMethod::Average)
                                : ParseDeinterlaceMethod(bound.deinterlace);
        if (!method) {
            return "--deinterlace: give average, top, bottom or adaptive: --deinterlace=METHOD";
        }
        options.settings.m_bInterlace = 1;
        smart.method = *method;
    }
    if (!bound.field.empty()) {
        if (smart.method != DeinterlaceMethod::Adaptive) {
            return "--field: goes with --deinterlace=adaptive (top and bottom name their field)";
        }
        smart.field = ParseField(bound.field);
    }
    if (smart.onlyCombed && options.settings.m_bInterlace == 0) {
        return "--only-combed: goes with -d, --deinterlace";
    }
    options.settings.m_bSoftenBorders = bound.soften ? 1 : 0;
    if (bound.clip == kAutoClip) {
        smart.autoClip = true;
    } else if (const auto rows = ParseClipRows(bound.clip)) {
        options.settings.m_bClip = 1;
        options.settings.m_nClipTop = rows->first;
        options.settings.m_nClipBottom = rows->second;
    }
    return {};
}

void ApplyFormatOptions(const Bindings& bound, CliOptions& options) {
    if (!bound.format.empty()) {
        options.format = OutputFormatNamed(bound.format);
    }
    if (!bound.subsampling.empty()) {
        options.write.jpegSubsampling =
            bound.subsampling == "444" ? JpegSubsampling::Full : JpegSubsampling::Half;
    }
    options.write.writeMetadata = !bound.strip;
}

// The parser gives a short flag no value, so "-d=METHOD" is read as
// "--deinterlace=METHOD". Arguments after "--" are names, left alone.
std::vector<std::string> WithLongDeinterlace(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
        if (args[i].rfind("-d=", 0) == 0) {
            args[i] = "--deinterlace" + args[i].substr(2);
        }
    }
    return args;
}

}  // namespace

std::string HelpText() {
    CliOptions options;
    Bindings bound;
    Hints hints;
    CLI::App app{"", kProgramName};
    Configure(app, options, bound, hints);
    return app.help();
}

ParseResult ParseCommandLine(int argc, char** argv) {
    CliOptions options;
    options.jobs = DefaultJobs();
    Bindings bound;
    Hints hints;
    CLI::App app{"", kProgramName};
    Configure(app, options, bound, hints);
    std::vector<std::string> args = WithLongDeinterlace(argc, argv);
    std::vector<char*> pointers;
    for (std::string& arg : args) {
        pointers.push_back(arg.data());
    }
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return {std::nullopt, 0};
    } catch (const CLI::CallForVersion&) {
        std::printf("%s %s\n", kProgramName, TESSARY_VERSION);
        return {std::nullopt, 0};
    } catch (const CLI::ParseError& error) {
        return {std::nullopt, UsageError(PlainReason(error, app, hints))};
    }

    if (options.outputFolder.empty() && !options.detect) {
        return {std::nullopt, UsageError("the output folder is missing: give it with -o DIR")};
    }
    if (options.inputs.empty() && options.filesFrom.empty()) {
        return {std::nullopt,
                UsageError("no input is given: name FILEs or folders, or --files-from LIST")};
    }
    const std::string error = TakeRepairs(bound, options);
    if (!error.empty()) {
        return {std::nullopt, UsageError(error)};
    }
    ApplyFormatOptions(bound, options);
    return {std::move(options), 0};
}

}  // namespace tessary::cli
