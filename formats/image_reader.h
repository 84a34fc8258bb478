#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/deep_pixels.h"
#include "formats/jpeg_options.h"
#include "formats/metadata.h"
#include "formats/rgb_buffer.h"
#include "formats/status.h"
#include "platform/memory_block.h"

namespace tessary {

// Bytes of a whole file, already read; readers never open files themselves.
using ByteView = std::span<const uint8_t>;

// Every format the program knows, one value per row of the table below.
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

// A picture handed to a writer.
struct PictureToWrite {
    // The packed DIB as the program holds it (formats that store it whole).
    const MemoryBlock* dib = nullptr;
    // The same picture top-down as red, green, blue rows; null when the DIB
    // has no such picture.
    RgbRowSource* rows = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    // The same picture at 16 bits a sample, for formats that hold them; null
    // or empty when the picture has only 8.
    const DeepPixels* deep = nullptr;
};

// How a writer encodes, beside the pixels.
struct WriteOptions {
    JpegSaveOptions jpeg;
    // Carried into the file when given and the format can hold it.
    const ImageMetadata* metadata = nullptr;
};

// One row of the format table. Adding a format is one reader/writer file pair
// and one row here.
struct FormatRow {
    ImageFormat format;
    const char* name;  // as reasons and reports give it: "JPEG"
    // As -f takes it and file filters show it; the first extension is the one
    // outputs get.
    const char* optionName;
    const char* filterLabel;
    const char* extensions[3];  // with their dots; unused entries null
    bool (*recognises)(ByteView bytes);
    // Ok with `out` filled, or why not (NotThisFormat when not recognised).
    // `spare` is a block the reader may take for its DIB (see CreateDib);
    // whatever it leaves there stays the caller's.
    Status (*decode)(ByteView bytes, MemoryBlock& spare, DecodedImage& out);
    // Null for a format that is only read. The target is replaced only by a
    // completely written file; the status says why not.
    Status (*encode)(const char* path, const PictureToWrite& picture, const WriteOptions& options);
    bool holdsSixteenBits;

    bool IsWritten() const { return encode != nullptr; }
};

// Every format, in the order a load tries them.
std::span<const FormatRow> FileFormats();
const FormatRow& RowOf(ImageFormat format);

// The format written when an output name asks for none.
inline constexpr ImageFormat kDefaultOutputFormat = ImageFormat::Jpeg;

// The written format whose -f name is `optionName` (exact), if any.
std::optional<ImageFormat> WrittenFormatNamed(std::string_view optionName);
// The format an output name asks for: a written format when the name ends
// (in any case) in one of its extensions without the dot ("abmp" is BMP),
// kDefaultOutputFormat otherwise.
ImageFormat OutputFormatForName(std::string_view outputName);
// True when the file name ends (in any case) in a read format's extension.
bool HasReadableExtension(std::string_view fileName);
// "JPEG, GIF, BMP or PNG": the read formats' names for a sentence.
std::string ReadFormatList();

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
