#pragma once

#include <string>
#include <vector>

#include "batch/batch_job.h"
#include "ops/black_bands.h"
#include "ops/combing.h"
#include "ops/deinterlace_method.h"

namespace tessary {

class CImageSurface;

// Load, repair (deinterlace, clip, soften, as selected) and save one file into
// the surface's image store, which is reused from file to file. A path that
// names no file writes nothing. A picture that is not 24 bits per pixel is
// widened first when a repair is selected, so that the repairs reach it. When
// memory runs out on the way the file fails "out of memory", leaving no output.
FileReport ProcessFile(CImageSurface& surface, const Job& job, const BatchSettings& settings);
// The same, with the format the output name asks for.
FileReport ProcessFile(CImageSurface& surface, const std::string& inputPath,
                       const std::string& outputPath, const BatchSettings& settings);

// The repairs of ProcessFile on a picture already in the surface's store, whose
// load report is in `report.load`, for a caller that shows the result rather than
// writing it (the preview): widening, the bands found when asked, the repairs.
// Fills the report's format, size, repairs and warning.
void RepairLoaded(CImageSurface& surface, const BatchSettings& settings, FileReport& report);

inline constexpr const char* kOutOfMemoryReason = "out of memory";

// The failed report of a file whose memory ran out.
FileReport OutOfMemoryReport(const Job& job);

// For tests: called with the input of each loaded picture, before its repairs,
// from the thread that runs the file. It may throw std::bad_alloc as an
// allocation deep in a repair would. None by default.
using RepairProbe = void (*)(const std::string& input);
void SetRepairProbeForTesting(RepairProbe probe);

// What the detectors find in one picture.
struct Detection {
    CombingReport combing;
    BandReport bands;
};

// Loads one file into the surface's store and looks for combing and black
// bands, writing nothing. The report is Skipped with `found` filled in when the
// picture could be looked at, else Failed with the reason.
FileReport DetectFile(CImageSurface& surface, const std::string& inputPath, Detection& found);

// Runs the selected repairs on the locked surface, in the order deinterlace,
// clip, soften, and names them in that order ("deinterlace,clip").
std::string ApplyRepairs(CImageSurface& surface, const BatchSettings& settings);

// Why a load gave no picture to write, as both programs tell it.
std::string LoadFailureReason(const LoadReport& load);

// "1,204": groups of three digits, for counts a person reads.
std::string FormatCount(std::size_t count);

// The message after a run in which at least one file was not written (or,
// with `warned`, written with a warning): how many of `total` were, then up to
// ten of `failures` as "NAME: reason" and of `warned` as "NAME: warning", and
// "and K more". "" when there is nothing to tell. `folderError`, when set,
// comes first.
std::string FailureSummary(std::size_t written, const std::vector<FileReport>& failures,
                           std::size_t total, const std::string& folderError = {},
                           const std::vector<FileReport>& warned = {});

}  // namespace tessary
