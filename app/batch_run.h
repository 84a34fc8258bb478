#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/dib_image.h"

namespace tessary {

class CImageSurface;

// The five persisted options, as the dialog holds them.
struct BatchSettings {
    int32_t m_bClip = 0;
    int32_t m_bInterlace = 0;
    int32_t m_bSoftenBorders = 0;
    int32_t m_nClipTop = 0;
    int32_t m_nClipBottom = 0;
};

// What happened to one file of a run. The dialog ignores it; the CLI prints it.
struct FileReport {
    std::string input;
    std::string output;
    LoadReport load;
    bool repairable = true;  // false: not 24 bits per pixel, so the repairs changed nothing
    // True when the store held an image after the load, so a save was tried;
    // `save` then says whether it landed.
    bool saveAttempted = false;
    SaveReport save;
};

// The run's view of the progress window. The dialog's CProgressDialog and the
// CLI's terminal line implement it; tests record the calls.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    // Range 0..fileCount, then the window is created (disabling its parent).
    virtual void SetRange(int32_t lower, int32_t upper) = 0;
    virtual bool Create() = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetPos(int32_t position) = 0;
    // Non-zero once for each cancel request.
    virtual int PollCancel() = 0;
    // A message box, shown while the window is still up.
    virtual void ShowMessage(const std::string& text) = 0;
    // Re-enables the parent, then closes the window.
    virtual void Destroy() = 0;
    // After each file's save; the dialog ignores it.
    virtual void FileDone(const FileReport& /*report*/) {}
};

inline constexpr const char* kCancelMessage = "Rendering canceled";
inline constexpr const char* kStatusJoin = " --> ";
inline constexpr int kJpegOutputQuality = 100;

// The last component of a path ("/" or "\" separated); the whole path when it
// has none, "" when it ends in a separator.
std::string FileNameFromPath(std::string_view path);

// True when the output name's last three characters are "bmp" in any case.
bool IsBmpOutputName(std::string_view outputPath);

// What to do when the load found no file at the input path. The dialog writes
// the store's 10 x 10 black placeholder like any picture; the CLI, which has
// already told the user the file is missing, writes nothing.
enum class MissingInput { WritePlaceholder, Skip };

// Load, repair (deinterlace, clip, soften, as selected) and save one file into
// the surface's image store. The surface is reused from file to file.
FileReport ProcessFile(CImageSurface& surface, const std::string& inputPath,
                       const std::string& outputPath, const BatchSettings& settings,
                       MissingInput missing = MissingInput::WritePlaceholder);

// The whole run over the list, with progress and cancel between files.
// Returns true when it ended by a cancel request.
bool RunBatch(const std::vector<std::string>& inputPaths, const std::string& outputFolder,
              const BatchSettings& settings, ProgressSink& progress);

}  // namespace tessary
