#pragma once

#include <cstdint>

#include "formats/deep_pixels.h"
#include "formats/image_reader.h"
#include "formats/metadata.h"
#include "formats/rgb_buffer.h"
#include "formats/status.h"
#include "platform/memory_block.h"

// TIFF files over libtiff: reading from bytes already in memory, writing
// lossless RGB files at 8 or 16 bits a sample.

namespace tessary {

inline constexpr char kTiffFormat[] = "TIFF";

// True when the bytes begin with a classic or BigTIFF header in either byte order.
bool LooksLikeTiff(ByteView firstBytes);

// Decodes the first page of the TIFF file in `bytes`: grey, palette and RGB
// pictures at 1, 2, 4, 8 or 16 bits a sample (alpha dropped), in strips or
// tiles, chunky or planar, uncompressed, PackBits, LZW, Deflate or JPEG, with
// the orientation tag applied. The DIB is made in `spare` when that has the
// right size. A 16-bit grey or RGB picture also fills `out.deep`, the DIB then
// holding it rounded to 8 bits. `out.metadata` receives the ICC profile, the
// XMP packet, the image description (as a comment) and the EXIF and GPS
// directories as an EXIF block; `out.warning` says when
// pages were left out or libtiff worked around damage.
//
// NotThisFormat without a TIFF header; TooLarge over kMaxPixelBytes and Damaged
// when the strips or tiles are far too small for the picture, both decided
// before the picture's memory is taken; Unsupported for CMYK, Lab, floating
// point or signed samples, YCbCr libtiff cannot convert and other colour
// models; Damaged with libtiff's reason for anything it refuses.
Status DecodeTiffImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out);

// Writes an 8-bit RGB TIFF of width x height pixels taken row by row from
// `rows`, compressed with Deflate and the horizontal predictor, carrying the
// metadata's ICC profile, XMP, first comment (as the image description) and
// the EXIF block's EXIF and GPS directories when given, the file then written
// in the EXIF block's byte order. The target is
// replaced only by a completely written file; on failure it is untouched and
// the status is an IoError with the errno (EINVAL for an empty picture).
Status WriteTiffFile(const char* path, RgbRowSource& rows, uint32_t width, uint32_t height,
                     const ImageMetadata* metadata = nullptr);

// The same at 16 bits a sample.
Status WriteTiffFile(const char* path, const DeepPixels& pixels,
                     const ImageMetadata* metadata = nullptr);

// The format table's write entry: at 16 bits when the picture has them.
Status EncodeTiffImage(const char* path, const PictureToWrite& picture,
                       const WriteOptions& options);

}  // namespace tessary
