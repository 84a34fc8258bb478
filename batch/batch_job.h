#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_settings.h"
#include "image/dib_image.h"

namespace tessary {

const char* OutputFormatName(OutputFormat format);

// A format an output can be asked for by name, and the extension its files get.
struct OutputFormatEntry {
    const char* name;  // as the user gives it: "jpeg"
    OutputFormat format;
    const char* extension;  // with its dot: ".jpg"
};

// Every written format of the table, in its order.
std::vector<OutputFormatEntry> NamedOutputFormats();
std::optional<OutputFormat> OutputFormatNamed(std::string_view name);

// `path` with its file name's extension (from its last dot; a leading dot
// starts no extension) replaced by `format`'s own, or that appended when it has none.
std::string WithFormatExtension(std::string_view path, OutputFormat format);

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

// What a run tells its caller about each file, from either driver. The parallel
// driver calls from several threads: FileStarted from the workers, FileFinished
// once a file's output is in place (or has failed).
class RunListener {
  public:
    virtual ~RunListener() = default;
    virtual void FileStarted(const Job& job) = 0;
    virtual void FileFinished(const FileReport& report) = 0;
};

inline constexpr const char* kCancelMessage = "Rendering canceled";
inline constexpr const char* kStatusJoin = " --> ";

// The last component of a path ("/" or "\" separated); the whole path when it
// has none, "" when it ends in a separator.
std::string FileNameFromPath(std::string_view path);

// True when the output name's last three characters are "bmp" in any case.
bool IsBmpOutputName(std::string_view outputPath);

// The format an output name asks for: BMP for "bmp" names, PNG for "png"
// names (any written format by its extensions), JPEG otherwise.
OutputFormat OutputFormatFor(std::string_view outputPath);

}  // namespace tessary
