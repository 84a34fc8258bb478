#include "batch/batch_process.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "image/image_surface.h"
#include "ops/black_bands.h"
#include "ops/combing.h"
#include "ops/field_ops.h"

namespace tessary {

namespace {

constexpr std::size_t kSummaryLines = 10;
constexpr const char* kNotCombedNote = "deinterlace skipped (not combed)";
constexpr const char* kDetectOnlyNote = "detection only: nothing written";

// The name a report gives the deinterlace: plain for the pair average, as
// before there was a choice.
std::string DeinterlaceName(DeinterlaceMethod method) {
    if (method == DeinterlaceMethod::Average) {
        return "deinterlace";
    }
    return std::string("deinterlace=") + NameOf(method);
}

}  // namespace

std::string ApplyRepairs(CImageSurface& surface, const BatchSettings& settings) {
    std::string applied;
    const auto note = [&applied](const std::string& name) {
        applied += applied.empty() ? name : "," + name;
    };
    if (settings.m_bInterlace != 0) {
        if (settings.onlyCombed && !DetectCombing(RowsOf(*surface.GetImage())).combed) {
            note(kNotCombedNote);
        } else {
            DeinterlaceBy(surface, settings.method, settings.field);
            note(DeinterlaceName(settings.method));
        }
    }
    if (settings.m_bClip != 0) {
        ClipRows(surface, settings.m_nClipTop, settings.m_nClipBottom);
        note("clip");
    }
    if (settings.m_bSoftenBorders != 0) {
        // Softening follows the clip edges only while clipping is on; otherwise
        // it fades the image's own first and last rows.
        const bool clip = settings.m_bClip != 0;
        SoftenBorders(surface, clip ? settings.m_nClipTop : 0, clip ? settings.m_nClipBottom : 0);
        note("soften");
    }
    return applied;
}

namespace {

std::string ClipWarning(const BatchSettings& settings, int32_t height) {
    if (settings.m_bClip == 0 ||
        int64_t{settings.m_nClipTop} + settings.m_nClipBottom < int64_t{height}) {
        return {};
    }
    return "warning: the clip bands (" + std::to_string(settings.m_nClipTop) + " + " +
           std::to_string(settings.m_nClipBottom) + " rows) cover the whole picture of " +
           std::to_string(height) + " rows";
}

void Write(CDibImage& image, const Job& job, const BatchSettings& settings, FileReport& report) {
    WriteOptions options;
    options.jpeg.quality = settings.jpegQuality;
    options.jpeg.subsampling = settings.jpegSubsampling;
    options.metadata = settings.keepMetadata ? &image.GetMetadata() : nullptr;
    image.Save(job.output.c_str(), job.format, options);
    report.saveAttempted = true;
    report.save = image.GetSaveReport();
    if (report.save.written) {
        report.status = FileStatus::Written;
        if (image.HasDeep() && !RowOf(job.format).holdsSixteenBits) {
            report.roundedTo = OutputFormatName(job.format);
        }
        return;
    }
    report.reason = "cannot write " + job.output;
    if (!report.save.status.IsOk()) {
        report.reason += ": " + report.save.status.Text();
    }
}

}  // namespace

std::string LoadFailureReason(const LoadReport& load) {
    if (load.source == LoadSource::MissingFile) {
        return std::strerror(ENOENT);
    }
    return load.status.Text();
}

namespace {

// The settings for one file: with automatic clipping, the bands found in it.
BatchSettings SettingsFor(CDibImage& image, BatchSettings settings) {
    if (settings.autoClip) {
        const BandReport bands = DetectBands(RowsOf(image));
        settings.m_bClip = 1;
        settings.m_nClipTop = bands.top;
        settings.m_nClipBottom = bands.bottom;
    }
    return settings;
}

}  // namespace

namespace {

std::atomic<RepairProbe> g_repairProbe{nullptr};

}  // namespace

void RepairLoaded(CImageSurface& surface, const BatchSettings& chosen, FileReport& report) {
    CDibImage& image = *surface.GetImage();
    report.format = report.load.FormatName();
    report.width = image.GetWidth();
    report.height = image.GetHeight();
    const bool widened = !(AnyRepairSelected(chosen) || chosen.autoClip) ||
                         image.GetBitCount() == 24 || image.WidenTo24Bits() != 0;
    surface.Lock();
    if (const RepairProbe probe = g_repairProbe.load(); probe != nullptr) {
        probe(report.input);
    }
    if (widened) {
        // Bands are found before any repair has blurred their edges.
        const BatchSettings settings = SettingsFor(image, chosen);
        report.repairs = ApplyRepairs(surface, settings);
        report.warning = ClipWarning(settings, report.height);
    } else {
        report.warning =
            "warning: not 24 bits per pixel and could not be widened, so the repairs cannot "
            "touch it; written unchanged";
    }
    surface.Unlock();
    if (!report.load.warning.empty()) {
        // What the reader worked around comes first; a repair's warning follows it.
        const std::string repairs = report.warning;
        report.warning = "warning: " + report.load.warning;
        if (!repairs.empty()) {
            report.warning += "; " + repairs.substr(std::string("warning: ").size());
        }
    }
}

void SetRepairProbeForTesting(RepairProbe probe) {
    g_repairProbe.store(probe);
}

FileReport OutOfMemoryReport(const Job& job) {
    FileReport report;
    report.input = job.input;
    report.output = job.output;
    report.reason = kOutOfMemoryReason;
    return report;
}

FileReport ProcessFile(CImageSurface& surface, const Job& job, const BatchSettings& chosen) {
    const auto start = std::chrono::steady_clock::now();
    FileReport report;
    try {
        report.input = job.input;
        report.output = job.output;
        CDibImage& image = *surface.GetImage();
        image.Load(job.input.c_str());
        report.load = image.GetLoadReport();
        if (image.HasImage() && report.load.source != LoadSource::MissingFile) {
            RepairLoaded(surface, chosen, report);
            Write(image, job, chosen, report);
        } else {
            report.reason = LoadFailureReason(report.load);
        }
    } catch (const std::bad_alloc&) {
        // The picture is given up, not the run: an unfinished output was
        // abandoned on the way out, and the store is left for the next load.
        if (surface.IsLocked() != 0) {
            surface.Unlock();
        }
        report = OutOfMemoryReport(job);
    }
    report.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return report;
}

FileReport DetectFile(CImageSurface& surface, const std::string& inputPath, Detection& found) {
    const auto start = std::chrono::steady_clock::now();
    FileReport report;
    report.input = inputPath;
    CDibImage& image = *surface.GetImage();
    image.Load(inputPath.c_str());
    report.load = image.GetLoadReport();
    if (!image.HasImage() || report.load.source == LoadSource::MissingFile) {
        report.reason = LoadFailureReason(report.load);
    } else if (image.GetBitCount() != 24 && image.WidenTo24Bits() == 0) {
        report.reason = "not 24 bits per pixel and could not be widened";
    } else {
        report.format = report.load.FormatName();
        report.width = image.GetWidth();
        report.height = image.GetHeight();
        try {
            const PixelRows rows = RowsOf(image);
            found = {DetectCombing(rows), DetectBands(rows)};
            report.status = FileStatus::Skipped;
            report.reason = kDetectOnlyNote;
        } catch (const std::bad_alloc&) {
            report.reason = kOutOfMemoryReason;  // this picture only; the next is looked at
        }
    }
    report.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return report;
}

FileReport ProcessFile(CImageSurface& surface, const std::string& inputPath,
                       const std::string& outputPath, const BatchSettings& settings) {
    return ProcessFile(surface, Job{inputPath, outputPath, OutputFormatFor(outputPath)}, settings);
}

std::string FormatCount(std::size_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

std::string FailureSummary(std::size_t written, const std::vector<FileReport>& failed,
                           std::size_t total, const std::string& folderError,
                           const std::vector<FileReport>& warned) {
    if (failed.empty() && warned.empty() && folderError.empty()) {
        return {};
    }
    std::string text = FormatCount(written) + " of " + FormatCount(total) +
                       (total == 1 ? " file was written." : " files were written.");
    if (!folderError.empty()) {
        text += "\n" + folderError;
    }
    std::size_t listed = 0;
    const auto list = [&](const std::vector<FileReport>& reports, std::string FileReport::*why) {
        for (const FileReport& report : reports) {
            if (listed++ < kSummaryLines) {
                text += "\n" + FileNameFromPath(report.input) + ": " + report.*why;
            }
        }
    };
    list(failed, &FileReport::reason);
    list(warned, &FileReport::warning);
    if (listed > kSummaryLines) {
        text += "\nand " + FormatCount(listed - kSummaryLines) + " more";
    }
    return text;
}

}  // namespace tessary
