#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/deep_pixels.h"
#include "formats/metadata.h"
#include "formats/rgb_buffer.h"
#include "formats/status.h"
#include "platform/memory_block.h"

namespace tessary {

// Bytes of a whole file, already read; readers never open files themselves.
using ByteView = std::span<const uint8_t>;

enum class ImageFormat { Jpeg, Gif, Bmp, Png, Tiff };

// What a reader makes of a file it took.
struct DecodedImage {
    // A packed DIB with a 40-byte header, rows bottom-up.
    MemoryBlock dib;
    // What the file carries besides its pixels.
    ImageMetadata metadata;
    // Damage the reader worked around, in the user's words; empty when none.
    std::string warning;
    // The picture at 16 bits a sample when the file holds more than 8 (the DIB
    // then holds it rounded to 8 bits); empty otherwise.
    DeepPixels deep;
};

// One row of the reader table: a format recognised from its first bytes and
// decoded from the bytes of the whole file.
struct ImageReader {
    ImageFormat format;
    const char* name;
    bool (*recognises)(ByteView bytes);
    // Ok with `out` filled, or why not (NotThisFormat when not recognised).
    // `spare` is a block the reader may take for its DIB (see CreateDib);
    // whatever it leaves there stays the caller's.
    Status (*decode)(ByteView bytes, MemoryBlock& spare, DecodedImage& out);
};

// Every reader, in the order a load tries them.
std::span<const ImageReader> ImageReaders();
const ImageReader& ReaderFor(ImageFormat format);

// A whole file in memory.
struct FileBytes {
    ByteBuffer data;
    uint64_t size = 0;
    ByteView View() const { return {data.get(), static_cast<size_t>(size)}; }
};

// Reads the regular file at `path` whole. IoError with the errno when it can't
// be opened or read; TooLarge above kMaxFileBytes (nothing read then).
Status ReadFileBytes(const char* path, FileBytes* out);

}  // namespace tessary
