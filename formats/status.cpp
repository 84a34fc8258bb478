#include "formats/status.h"

#include <cstring>

namespace tessary {

std::string Status::Text() const {
    switch (code) {
        case StatusCode::Ok:
            return "ok";
        case StatusCode::NotThisFormat:
            return "not a JPEG, GIF, BMP, PNG or TIFF image";
        case StatusCode::Damaged:
            return "damaged " + std::string(format) + (detail.empty() ? "" : " (" + detail + ")");
        case StatusCode::Unsupported:
            return (detail.empty() ? std::string(format) : detail) + ", not supported";
        case StatusCode::TooLarge:
            return "the image exceeds the size limit of 1 GiB of pixel data";
        case StatusCode::OutOfMemory:
            return "not enough memory to load the image";
        case StatusCode::IoError:
            return (detail.empty() ? std::string() : detail + ": ") + std::strerror(errorNumber);
    }
    return "unknown";
}

}  // namespace tessary
