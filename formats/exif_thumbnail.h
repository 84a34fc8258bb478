#pragma once

#include <cstdint>
#include <vector>

#include "formats/rgb_buffer.h"

namespace tessary {

// The largest EXIF block a JPEG APP1 segment can carry after its prefix.
inline constexpr uint64_t kMaxExifBytes = 65527;

// An EXIF block (from its TIFF header on) whose JPEG thumbnail shows `rows`
// (width x height, top-down red-green-blue) instead of the picture it was
// made from: same size, same quality and colour sampling as far as they can
// be told from the old one. A block without a thumbnail comes back as it was.
// When the thumbnail can't be replaced (a damaged directory, a thumbnail that
// is not JPEG, no room left in the block), it comes back without one, so that
// no output shows the unrepaired picture as its preview.
std::vector<uint8_t> WithThumbnailOf(const std::vector<uint8_t>& exif, RgbRowSource& rows,
                                     uint32_t width, uint32_t height);

}  // namespace tessary
