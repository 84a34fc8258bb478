#pragma once

#include <string>
#include <vector>

#include "app/batch_job.h"

namespace tessary {

class CImageSurface;

// Load, repair (deinterlace, clip, soften, as selected) and save one file into
// the surface's image store, which is reused from file to file. A path that
// names no file writes nothing. A picture that is not 24 bits per pixel is
// widened first when a repair is selected, so that the repairs reach it.
FileReport ProcessFile(CImageSurface& surface, const Job& job, const BatchSettings& settings,
                       const WriteSettings& write = {});
// The same, with the format the output name asks for.
FileReport ProcessFile(CImageSurface& surface, const std::string& inputPath,
                       const std::string& outputPath, const BatchSettings& settings);

// Why a load gave no picture to write, as both programs tell it.
std::string LoadFailureReason(const LoadReport& load);

// "1,204": groups of three digits, for counts a person reads.
std::string FormatCount(std::size_t count);

// The message after a run in which at least one file was not written: how
// many of `total` were, then up to ten of `failures` as "NAME: reason" and
// "and K more". "" when nothing failed. `folderError`, when set, comes first.
std::string FailureSummary(std::size_t written, const std::vector<FileReport>& failures,
                           std::size_t total, const std::string& folderError = {});

}  // namespace tessary
