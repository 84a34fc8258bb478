#include "batch/batch_job.h"

#include <cstddef>

namespace tessary {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

bool AnyRepairSelected(const BatchSettings& settings) {
    return settings.m_bInterlace != 0 || settings.m_bClip != 0 || settings.m_bSoftenBorders != 0;
}

const char* OutputFormatName(OutputFormat format) {
    return RowOf(format).name;
}

std::vector<OutputFormatEntry> NamedOutputFormats() {
    std::vector<OutputFormatEntry> entries;
    for (const FormatRow& row : FileFormats()) {
        if (row.IsWritten()) {
            entries.push_back({row.optionName, row.format, row.extensions[0]});
        }
    }
    return entries;
}

std::optional<OutputFormat> OutputFormatNamed(std::string_view name) {
    return WrittenFormatNamed(name);
}

std::string WithFormatExtension(std::string_view path, OutputFormat format) {
    const char* extension = RowOf(format).extensions[0];
    const std::size_t nameStart = path.size() - FileNameFromPath(path).size();
    const std::size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot > nameStart;
    return std::string(path.substr(0, hasExtension ? dot : path.size())) + extension;
}

const char* FileStatusName(FileStatus status) {
    switch (status) {
        case FileStatus::Written:
            return "written";
        case FileStatus::Skipped:
            return "skipped";
        case FileStatus::Failed:
            break;
    }
    return "failed";
}

std::string FileNameFromPath(std::string_view path) {
    // Paths are UTF-8. Every byte of a multi-byte UTF-8 sequence has its top bit
    // set, so none can be mistaken for '/' or '\\' and a plain byte search is safe.
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1])) {
            return std::string(path.substr(i));
        }
    }
    return std::string(path);
}

bool IsBmpOutputName(std::string_view outputPath) {
    return OutputFormatFor(outputPath) == OutputFormat::Bmp;
}

OutputFormat OutputFormatFor(std::string_view outputPath) {
    return OutputFormatForName(outputPath);
}

}  // namespace tessary
