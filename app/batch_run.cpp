#include "app/batch_run.h"

#include <cstddef>

#include "image/image_surface.h"
#include "ops/field_ops.h"

namespace tessary {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void Repair(CImageSurface& surface, const BatchSettings& settings) {
    if (settings.m_bInterlace != 0) {
        Deinterlace(surface);
    }
    if (settings.m_bClip != 0) {
        ClipRows(surface, settings.m_nClipTop, settings.m_nClipBottom);
    }
    if (settings.m_bSoftenBorders != 0) {
        // Softening follows the clip edges only while clipping is on; otherwise
        // it fades the image's own first and last rows.
        const bool clip = settings.m_bClip != 0;
        SoftenBorders(surface, clip ? settings.m_nClipTop : 0, clip ? settings.m_nClipBottom : 0);
    }
}

}  // namespace

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
    if (outputPath.size() < 3) {
        return false;
    }
    const std::string_view tail = outputPath.substr(outputPath.size() - 3);
    return LowerAscii(tail[0]) == 'b' && LowerAscii(tail[1]) == 'm' && LowerAscii(tail[2]) == 'p';
}

FileReport ProcessFile(CImageSurface& surface, const std::string& inputPath,
                       const std::string& outputPath, const BatchSettings& settings,
                       MissingInput missing) {
    FileReport report;
    report.input = inputPath;
    report.output = outputPath;

    CDibImage& image = *surface.GetImage();
    image.Load(inputPath.c_str());
    surface.Lock();
    Repair(surface, settings);
    surface.Unlock();

    report.load = image.GetLoadReport();
    report.repairable = image.GetBitCount() == 24;
    const bool skip =
        missing == MissingInput::Skip && report.load.source == LoadSource::MissingFile;
    // Without an image the save would do nothing; say so rather than report
    // whatever an earlier file's save left in the store.
    if (!image.HasImage() || skip) {
        return report;
    }
    if (IsBmpOutputName(outputPath)) {
        image.SaveBmp(outputPath.c_str());
    } else {
        image.SaveJpeg(outputPath.c_str(), kJpegOutputQuality);
    }
    report.saveAttempted = true;
    report.save = image.GetSaveReport();
    return report;
}

bool RunBatch(const std::vector<std::string>& inputPaths, const std::string& outputFolder,
              const BatchSettings& settings, ProgressSink& progress) {
    CImageSurface surface;
    const std::size_t count = inputPaths.size();

    progress.SetRange(0, static_cast<int32_t>(count));
    // The run goes on without a window: it just can't be cancelled then.
    progress.Create();

    bool cancelled = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (cancelled) {
            break;
        }
        const std::string& input = inputPaths[i];
        // Plain concatenation: a location without a trailing separator becomes
        // a prefix of the file name, as the user typed it.
        const std::string output = outputFolder + FileNameFromPath(input);
        progress.SetStatus(input + kStatusJoin + output);
        progress.SetPos(static_cast<int32_t>(i));
        progress.FileDone(ProcessFile(surface, input, output, settings));
        cancelled = progress.PollCancel() != 0;
    }

    if (cancelled) {
        progress.ShowMessage(kCancelMessage);
    }
    progress.Destroy();
    return cancelled;
}

}  // namespace tessary
