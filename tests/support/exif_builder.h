#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tessary::test {

// Where ExifBlock puts the bytes after its directories: the thumbnail's offset.
inline constexpr uint32_t kExifTailStart = 8 + 2 + 12 + 4 + 2 + 2 * 12 + 4;

// An EXIF block: TIFF header, IFD0 with one entry linking to IFD1 (none when
// `ifd1` is empty), whose entries are given as {tag, type, value}, then
// `tail` (the thumbnail). With two IFD1 entries the tail starts at kExifTailStart.
Bytes ExifBlock(bool little, const std::vector<std::array<uint32_t, 3>>& ifd1, const Bytes& tail);

// The JPEG thumbnail an ExifBlock-shaped block points at; empty when IFD0 no
// longer links to one.
Bytes ExifThumbnail(const Bytes& block);

}  // namespace tessary::test
