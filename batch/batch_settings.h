#pragma once

#include <cstdint>
#include <optional>

#include "formats/image_reader.h"
#include "formats/jpeg_options.h"
#include "ops/deinterlace_method.h"
#include "ops/pixel_rows.h"

namespace tessary {

// The most rows a clip band may take, at the top and at the bottom each.
inline constexpr int32_t kMaxClipRows = 480;

// How an output is written: a written format of the format table. Chosen from
// the output name unless a caller decides otherwise.
using OutputFormat = ImageFormat;

// Everything a run is asked to do to each file, one type for both programs and
// the preview, so that the same choices give the same bytes wherever they are made.
struct BatchSettings {
    // The five persisted options the dialog has always had.
    int32_t m_bClip = 0;
    int32_t m_bInterlace = 0;
    int32_t m_bSoftenBorders = 0;
    int32_t m_nClipTop = 0;
    int32_t m_nClipBottom = 0;

    // Repairs beyond them; the defaults change nothing.
    DeinterlaceMethod method = DeinterlaceMethod::Average;
    // The field Adaptive keeps; chosen per frame when unset.
    std::optional<Field> field = std::nullopt;
    bool onlyCombed = false;  // a frame without combing is not deinterlaced
    bool autoClip = false;    // clip the black bands found in each file

    // How outputs are encoded. Unset format: as the output's name asks.
    std::optional<OutputFormat> format = std::nullopt;
    int jpegQuality = kJpegBestQuality;  // 1 to 100
    JpegSubsampling jpegSubsampling = JpegSubsampling::LibraryDefault;
    // Carry the input's metadata into every output whose format can hold it.
    bool keepMetadata = true;

    bool operator==(const BatchSettings&) const = default;
};

bool AnyRepairSelected(const BatchSettings& settings);

}  // namespace tessary
