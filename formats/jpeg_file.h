#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/image_reader.h"
#include "formats/jpeg_options.h"
#include "formats/metadata.h"
#include "formats/rgb_buffer.h"
#include "formats/status.h"

namespace tessary {

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

// What a decode finds besides the rows.
struct JpegExtras {
    ImageMetadata metadata;
    // Damage the library worked around: "damaged data: rows from 40 on are
    // grey", or the library's own words.
    std::string warning;
};

// Decodes a JPEG file's bytes row by row into `sink`. Ok, or why not (the
// library's words for a damaged stream); nothing of the library is held after.
Status DecodeJpeg(ByteView bytes, JpegRowSink& sink, JpegExtras* extras = nullptr);

// A new tight RGB buffer of the decoded picture, or none. width and height are
// 0 until the buffer exists.
ByteBuffer ReadJpegFile(const char* path, uint32_t* width, uint32_t* height,
                        Status* status = nullptr);

// The reader table's row: rows decoded straight into a 24-bit DIB.
bool LooksLikeJpeg(ByteView bytes);
Status DecodeJpegImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out);
// A baseline JPEG of the picture's rows, with the metadata when given.
Status EncodeJpegImage(const char* path, const PictureToWrite& picture,
                       const WriteOptions& options);

// Writes a baseline JPEG file of width x height pixels taken row by row from
// `source`, with `metadata` when the options ask for it. The target is
// replaced only by a completely written file; otherwise an IoError says why
// (EINVAL for an empty picture, the library's words when it gave up).
Status WriteJpeg(const char* path, RgbRowSource& source, uint32_t width, uint32_t height,
                 const JpegSaveOptions& options, const ImageMetadata* metadata);

using JpegRowSource = RgbRowSource;

// The same into memory: `out` holds the whole file when Ok.
Status EncodeJpegToMemory(RgbRowSource& source, uint32_t width, uint32_t height,
                          const JpegSaveOptions& options, std::vector<uint8_t>* out);

// WriteJpeg as 1 or 0 with the errno; results as for WriteJpegFile, which is
// this over a tight buffer.
int EncodeJpegFile(const char* path, JpegRowSource& source, uint32_t width, uint32_t height,
                   const JpegSaveOptions& options, const ImageMetadata* metadata,
                   int* errorNumber = nullptr);
int EncodeJpegFile(const char* path, JpegRowSource& source, uint32_t width, uint32_t height,
                   int quality, int* errorNumber = nullptr);

// Writes a baseline JPEG file of a tight RGB buffer at the given quality. The
// target is replaced only by a completely written file. 1 when written, else 0
// (with the errno of the failure in errorNumber when given, 0 for refused input).
int WriteJpegFile(const char* path, const uint8_t* buffer, uint32_t width, uint32_t height,
                  int quality, int* errorNumber = nullptr);
int WriteJpegFile(const char* path, const uint8_t* buffer, uint32_t width, uint32_t height,
                  const JpegSaveOptions& options, const ImageMetadata* metadata,
                  int* errorNumber = nullptr);

}  // namespace tessary
