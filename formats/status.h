#pragma once

#include <string>

namespace tessary {

// How a reader or writer ended. One type for every format, so a caller can tell
// "not an image" from "damaged" from "too big" and show a reason that names what
// the file was.
enum class StatusCode {
    Ok,
    NotThisFormat,  // the first bytes are not this reader's format
    Damaged,        // recognised, but the data is broken
    Unsupported,    // recognised, a variant this program does not read
    TooLarge,       // a valid header asking for more than kMaxPixelBytes
    OutOfMemory,    // within the limit, but the memory could not be had
    IoError         // the system refused a read or write; errorNumber says why
};

struct Status {
    StatusCode code = StatusCode::Ok;
    // The format's name ("JPEG", "PNG"): who recognised the file or wrote it.
    const char* format = "";
    // Damaged: what is broken; Unsupported: the variant ("CMYK JPEG").
    std::string detail;
    int errorNumber = 0;  // errno for IoError

    bool IsOk() const { return code == StatusCode::Ok; }
    // The reason a user reads, e.g. "damaged JPEG (premature end of data)",
    // "CMYK JPEG, not supported", "not a JPEG, GIF, BMP, PNG or TIFF image".
    std::string Text() const;

    static Status Ok() { return {}; }
    static Status NotThisFormat(const char* format) {
        return {StatusCode::NotThisFormat, format, {}, 0};
    }
    static Status Damaged(const char* format, std::string detail) {
        return {StatusCode::Damaged, format, std::move(detail), 0};
    }
    static Status Unsupported(const char* format, std::string variant) {
        return {StatusCode::Unsupported, format, std::move(variant), 0};
    }
    static Status TooLarge(const char* format) { return {StatusCode::TooLarge, format, {}, 0}; }
    static Status OutOfMemory(const char* format) {
        return {StatusCode::OutOfMemory, format, {}, 0};
    }
    static Status IoError(int errorNumber, std::string detail = {}) {
        return {StatusCode::IoError, "", std::move(detail), errorNumber};
    }
};

}  // namespace tessary
