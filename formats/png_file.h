#pragma once

#include <cstdint>
#include <span>

#include "formats/image_reader.h"
#include "formats/metadata.h"
#include "formats/rgb_buffer.h"
#include "formats/status.h"
#include "platform/memory_block.h"

// PNG files over libspng: reading from bytes already in memory into a 24-bit
// packed DIB, and writing 8-bit RGB files.

namespace tessary {

inline constexpr char kPngFormat[] = "PNG";
inline constexpr uint64_t kPngSignatureSize = 8;

// True when the bytes begin with the 8-byte PNG signature.
bool LooksLikePng(std::span<const uint8_t> firstBytes);

// Decodes the PNG file held in `bytes` into a new 24-bit packed DIB in `*dib`
// (40-byte header, bottom-up rows of blue, green, red, each padded to a
// multiple of 4 bytes), made in `spare` when that block has the right size
// (see CreateDib). Every colour type and depth: palette, grey, grey+alpha, RGB
// and RGBA at 1 to 16 bits, interlaced or not. 16-bit samples are rounded to
// 8; alpha and transparency are dropped, the colours kept as stored; gamma and
// colour profiles are not applied. `metadata` (when given) receives the ICC
// profile (iCCP), EXIF (eXIf), XMP (iTXt "XML:com.adobe.xmp") and comments
// (text chunks with the keyword "Comment").
//
// Ok with the DIB; otherwise `*dib` is none and the status says why:
// NotThisFormat without the signature; TooLarge for a header over
// kMaxPixelBytes (decided from the header, before anything is allocated);
// Damaged for a broken header, a CRC error in a critical chunk, image data
// that is corrupt, cut short, or far too little to fill the picture;
// Unsupported for an unknown critical chunk; OutOfMemory.
Status ReadPng(std::span<const uint8_t> bytes, MemoryBlock* dib, ImageMetadata* metadata = nullptr,
               MemoryBlock spare = {});

// The reader table's entry: ReadPng into `out`, its DIB made in `spare` when
// that has the right size. A 16-bit grey or RGB picture (with or without
// alpha) is also kept whole in `out.deep`.
Status DecodePngImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out);

// The reader table's write entry: EncodePngFile of the picture's rows.
Status EncodePngImage(const char* path, const PictureToWrite& picture, const WriteOptions& options);

using PngRowSource = RgbRowSource;

// Writes an 8-bit RGB PNG of width x height pixels taken row by row from
// `source`, with the metadata's ICC profile, EXIF, XMP and comments when
// given (a piece libspng refuses, such as EXIF without a TIFF header, is left
// out rather than failing the picture). The target is replaced only by a
// completely written file (the temporary-file-and-rename writer); on failure
// it is untouched and the status is an IoError with the errno (EINVAL for an
// empty picture).
Status EncodePngFile(const char* path, PngRowSource& source, uint32_t width, uint32_t height,
                     const ImageMetadata* metadata = nullptr);

// A 16-bit RGB PNG of the picture, with the same metadata and the same
// failures as EncodePngFile.
Status WritePng16File(const char* path, const DeepPixels& pixels,
                      const ImageMetadata* metadata = nullptr);

// The same from a tight RGB buffer (rows top-down, no padding).
Status WritePngFile(const char* path, const uint8_t* rgb, uint32_t width, uint32_t height,
                    const ImageMetadata* metadata = nullptr);

}  // namespace tessary
