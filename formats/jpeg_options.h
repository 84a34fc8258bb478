#pragma once

namespace tessary {

enum class JpegSubsampling {
    LibraryDefault,  // the library's own choice (4:2:0 for colour)
    Half,            // 4:2:0: colour at half the width and half the height
    Full             // 4:4:4: colour at full resolution
};

inline constexpr int kJpegBestQuality = 100;

// How a JPEG file is written.
struct JpegSaveOptions {
    int quality = kJpegBestQuality;  // 1 to 100
    JpegSubsampling subsampling = JpegSubsampling::LibraryDefault;
    // Write the picture's metadata (EXIF, ICC profile, XMP, comments) with it.
    bool writeMetadata = false;
};

}  // namespace tessary
