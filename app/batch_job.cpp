#include "app/batch_job.h"

#include <cstddef>

namespace tessary {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the path's last three characters are `ending` (lower case) in any case.
bool EndsInAnyCase(std::string_view path, const char (&ending)[4]) {
    if (path.size() < 3) {
        return false;
    }
    const std::string_view tail = path.substr(path.size() - 3);
    return LowerAscii(tail[0]) == ending[0] && LowerAscii(tail[1]) == ending[1] &&
           LowerAscii(tail[2]) == ending[2];
}

constexpr OutputFormatEntry kOutputFormats[] = {
    {"jpeg", OutputFormat::Jpeg, ".jpg"},
    {"bmp", OutputFormat::Bmp, ".bmp"},
    {"png", OutputFormat::Png, ".png"},
    {"tiff", OutputFormat::Tiff, ".tif"},
};

}  // namespace

bool AnyRepairSelected(const BatchSettings& settings) {
    return settings.m_bInterlace != 0 || settings.m_bClip != 0 || settings.m_bSoftenBorders != 0;
}

const char* OutputFormatName(OutputFormat format) {
    switch (format) {
        case OutputFormat::Bmp:
            return "BMP";
        case OutputFormat::Png:
            return "PNG";
        case OutputFormat::Tiff:
            return "TIFF";
        case OutputFormat::Jpeg:
            break;
    }
    return "JPEG";
}

std::span<const OutputFormatEntry> NamedOutputFormats() {
    return kOutputFormats;
}

std::optional<OutputFormat> OutputFormatNamed(std::string_view name) {
    for (const OutputFormatEntry& entry : kOutputFormats) {
        if (name == entry.name) {
            return entry.format;
        }
    }
    return std::nullopt;
}

std::string WithFormatExtension(std::string_view path, OutputFormat format) {
    const char* extension = "";
    for (const OutputFormatEntry& entry : kOutputFormats) {
        if (entry.format == format) {
            extension = entry.extension;
        }
    }
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
    return EndsInAnyCase(outputPath, "bmp");
}

bool IsPngOutputName(std::string_view outputPath) {
    return EndsInAnyCase(outputPath, "png");
}

bool IsTiffOutputName(std::string_view outputPath) {
    return EndsInAnyCase(outputPath, "tif") ||
           (EndsInAnyCase(outputPath, "iff") && outputPath.size() >= 4 &&
            LowerAscii(outputPath[outputPath.size() - 4]) == 't');
}

OutputFormat OutputFormatFor(std::string_view outputPath) {
    if (IsBmpOutputName(outputPath)) {
        return OutputFormat::Bmp;
    }
    if (IsTiffOutputName(outputPath)) {
        return OutputFormat::Tiff;
    }
    return IsPngOutputName(outputPath) ? OutputFormat::Png : OutputFormat::Jpeg;
}

}  // namespace tessary
