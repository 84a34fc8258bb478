#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "formats/rgb_buffer.h"
#include "formats/size_limit.h"

namespace tessary {

// The library's error manager with a recovery point behind it: the library
// record comes first, so JpegErrorExit reaches the jump buffer through `err`.
struct JpegErrorManager {
    jpeg_error_mgr library;
    std::jmp_buf recovery;
};

// Fills `manager` with the library's routines, fatal errors jumping to its
// recovery point and messages discarded; returns the library record.
jpeg_error_mgr* SetUpJpegErrors(JpegErrorManager& manager);

// Called by the library for every fatal error; jumps to the recovery point.
[[noreturn]] void JpegErrorExit(j_common_ptr object);

// Receives the rows of a decode as the library delivers them.
class JpegRowSink {
  public:
    virtual ~JpegRowSink() = default;
    // The size is known: take the memory for width x height pixels, or refuse.
    virtual bool Begin(uint32_t width, uint32_t height) = 0;
    // Where the library may decode row r directly (room for width x 3 bytes), or
    // null for a row of the library's own.
    virtual uint8_t* RowTarget(uint32_t /*r*/) { return nullptr; }
    // Top-down row r: width x components samples (1 grey, or 3 red, green, blue),
    // at RowTarget(r) when that was given.
    virtual void StoreRow(const uint8_t* samples, int components, uint32_t r) = 0;
};

// Decodes a JPEG file row by row into `sink`. False on every failure, with the
// reason in `status` when given; the file is closed and nothing of the library held.
bool DecodeJpegFile(const char* path, JpegRowSink& sink, ReadStatus* status = nullptr);

// A new tight RGB buffer of the decoded picture, or none. width and height are
// 0 until the buffer exists.
ByteBuffer ReadJpegFile(const char* path, uint32_t* width, uint32_t* height,
                        ReadStatus* status = nullptr);

// Writes a baseline JPEG file of a tight RGB buffer at the given quality. The
// target is replaced only by a completely written file. 1 when written, else 0
// (with the errno of the failure in errorNumber when given, 0 for refused input).
int WriteJpegFile(const char* path, const uint8_t* buffer, uint32_t width, uint32_t height,
                  int quality, int* errorNumber = nullptr);

}  // namespace tessary
