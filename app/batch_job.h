#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/jpeg_options.h"
#include "image/dib_image.h"

namespace tessary {

// The five persisted options, as the dialog holds them.
struct BatchSettings {
    int32_t m_bClip = 0;
    int32_t m_bInterlace = 0;
    int32_t m_bSoftenBorders = 0;
    int32_t m_nClipTop = 0;
    int32_t m_nClipBottom = 0;
};

bool AnyRepairSelected(const BatchSettings& settings);

// How an output is written. Chosen from the output name unless a caller decides otherwise.
enum class OutputFormat { Bmp, Jpeg, Png };

const char* OutputFormatName(OutputFormat format);

// A format an output can be asked for by name, and the extension its files get.
struct OutputFormatEntry {
    const char* name;  // as the user gives it: "jpeg"
    OutputFormat format;
    const char* extension;  // with its dot: ".jpg"
};

std::span<const OutputFormatEntry> NamedOutputFormats();
std::optional<OutputFormat> OutputFormatNamed(std::string_view name);

// `path` with its file name's extension (from its last dot; a leading dot
// starts no extension) replaced by `format`'s own, or that appended when it has none.
std::string WithFormatExtension(std::string_view path, OutputFormat format);

// How outputs are encoded, beside the repairs. The defaults write what the
// dialog always has: JPEG at quality 100, the library's subsampling, no metadata.
struct WriteSettings {
    int jpegQuality = kJpegBestQuality;  // 1 to 100
    JpegSubsampling jpegSubsampling = JpegSubsampling::LibraryDefault;
    // Carry the input's metadata into every output whose format can hold it.
    bool writeMetadata = false;
};

// One planned file of a run.
struct Job {
    std::string input;
    std::string output;
    OutputFormat format = OutputFormat::Jpeg;
};

enum class FileStatus { Written, Skipped, Failed };

const char* FileStatusName(FileStatus status);

// What happened to one file of a run.
struct FileReport {
    std::string input;
    std::string output;
    FileStatus status = FileStatus::Failed;
    std::string reason;       // why it was not written; "" when it was
    std::string warning;      // written, but surely not as meant
    const char* format = "";  // as read: "JPEG", "GIF", "BMP"; "" when nothing was read
    int32_t width = 0;
    int32_t height = 0;
    std::string repairs;  // as applied, comma-separated in the order they ran
    double ms = 0;
    LoadReport load;
    // True when the store held an image after the load, so a save was tried;
    // `save` then says whether it landed.
    bool saveAttempted = false;
    SaveReport save;
    // The output format's name when a picture with 16-bit samples was written
    // to a format of 8 bits a sample, rounded; "" otherwise.
    const char* roundedTo = "";
};

inline constexpr const char* kCancelMessage = "Rendering canceled";
inline constexpr const char* kStatusJoin = " --> ";

// The last component of a path ("/" or "\" separated); the whole path when it
// has none, "" when it ends in a separator.
std::string FileNameFromPath(std::string_view path);

// True when the output name's last three characters are "bmp" in any case.
bool IsBmpOutputName(std::string_view outputPath);

// True when the output name's last three characters are "png" in any case.
bool IsPngOutputName(std::string_view outputPath);

// The format an output name asks for: BMP for "bmp" names, PNG for "png"
// names, JPEG otherwise.
OutputFormat OutputFormatFor(std::string_view outputPath);

}  // namespace tessary
