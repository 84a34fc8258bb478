#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessary {

// What a picture carries besides its pixels, kept as data and never applied:
// an output of the same picture can then carry it on.
struct ImageMetadata {
    // The EXIF block from its TIFF header on, without JPEG's "Exif\0\0" prefix
    // (PNG's eXIf chunk holds the same bytes).
    std::vector<uint8_t> exif;
    // The whole ICC profile, reassembled from however many chunks held it.
    std::vector<uint8_t> icc;
    // The XMP packet as stored (UTF-8 XML), without JPEG's namespace prefix.
    std::string xmp;
    // Text comments in file order (JPEG COM markers, PNG tEXt "Comment").
    std::vector<std::string> comments;

    bool IsEmpty() const { return exif.empty() && icc.empty() && xmp.empty() && comments.empty(); }
};

}  // namespace tessary
