#include "formats/gif_reader.h"

#include <cstring>
#include <new>

#include "platform/file_handle.h"

namespace tessary {

namespace {

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, CloseFile>;

constexpr const char* kNoError = "No Error";

uint16_t ReadLittle16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

struct InterlacePass {
    int firstRow;
    int step;
};
constexpr InterlacePass kPasses[4] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

// Everything one image's decoding needs, kept off the stack: the decoder's
// tables, one row of pixel values and the colour map packed per entry.
struct DecodeContext {
    explicit DecodeContext(GifStream& stream) : decoder(stream) {}
    LzwDecoder decoder;
    uint8_t values[65536];
    uint8_t rgb[256 * 3];
};

void PlaceRow(const DecodeContext& context, int count, uint8_t* target) {
    const uint8_t* rgb = context.rgb;
    for (int x = 0; x < count; ++x) {
        const uint8_t* colour = rgb + context.values[x] * 3;
        target[0] = colour[0];
        target[1] = colour[1];
        target[2] = colour[2];
        target += 3;
    }
}

}  // namespace

int GifStream::ReadSubBlock(uint8_t* buffer) {
    int count = std::getc(m_file);
    if (count == EOF) {
        return -1;
    }
    m_bLastBlockEmpty = count == 0;
    if (count == 0) {
        return 0;
    }
    if (std::fread(buffer, 1, static_cast<size_t>(count), m_file) != static_cast<size_t>(count)) {
        return -1;
    }
    return count;
}

int ReadSubBlock(GifStream& stream, uint8_t* buffer) {
    return stream.ReadSubBlock(buffer);
}

int ReadGifPalette(std::FILE* file, int count, GifColorMap& map) {
    for (int i = 0; i < count && i < 256; ++i) {
        uint8_t entry[3];
        if (std::fread(entry, 3, 1, file) != 1) {
            return 0;
        }
        map.planes[i] = entry[0];
        map.planes[256 + i] = entry[1];
        map.planes[512 + i] = entry[2];
    }
    return 1;
}

void HandleGifExtension(GifStream& stream, int /*label*/) {
    // No extension changes the picture (a transparent index keeps its colour).
    uint8_t buffer[256];
    while (stream.ReadSubBlock(buffer) > 0) {
    }
}

int DecodeGifPixels(GifStream& stream, uint8_t* buffer, int width, int height,
                    const GifColorMap& map, int bInterlaced) {
    int minCodeSize = std::getc(stream.File());
    if (minCodeSize == EOF) {
        return kGifNoCodeSize;
    }
    if (minCodeSize > kLzwMaxMinCodeSize) {
        return kGifBadCodeSize;
    }
    std::unique_ptr<DecodeContext> context(new (std::nothrow) DecodeContext(stream));
    if (!context) {
        return kGifNoMemory;
    }
    for (int i = 0; i < 256; ++i) {
        context->rgb[i * 3] = map.planes[i];
        context->rgb[i * 3 + 1] = map.planes[256 + i];
        context->rgb[i * 3 + 2] = map.planes[512 + i];
    }
    LzwDecoder& decoder = context->decoder;
    decoder.NextLzwByte(1, minCodeSize);

    const uint64_t rowBytes = uint64_t(width) * 3;
    int y = 0;
    int pass = 0;
    for (;;) {
        int count = decoder.ReadPixels(context->values, width);
        PlaceRow(*context, count, buffer + uint64_t(y) * rowBytes);
        if (count < width) {
            break;  // damaged or cut-off data: keep what was decoded
        }
        if (!bInterlaced) {
            if (++y >= height) {
                break;
            }
            continue;
        }
        y += kPasses[pass].step;
        while (y >= height && pass < 3) {
            ++pass;
            y = kPasses[pass].firstRow;
        }
        if (y >= height) {
            break;
        }
    }
    return kGifDecoded;
}

CGifReader::CGifReader() {
    SetError(kNoError, 1);
}

CGifReader::~CGifReader() = default;

void CGifReader::SetError(const char* text, int /*bFirst*/) {
    size_t length = std::strlen(text);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
    if (copy) {
        std::memcpy(copy.get(), text, length + 1);
        m_pszError = std::move(copy);
    }
}

ByteBuffer CGifReader::Fail(const char* text, ReadStatus reason, ReadStatus* status) {
    SetError(text, 0);
    if (status != nullptr) {
        *status = reason;
    }
    return nullptr;
}

ByteBuffer CGifReader::ReadGifFile(const char* path, int* width, int* height, ReadStatus* status) {
    const ReadStatus invalid = ReadStatus::Invalid;
    if (path == nullptr || path[0] == '\0') {
        return Fail("No Name Given", ReadStatus::CantOpen, status);
    }
    FilePtr file(OpenReadStream(path));
    if (!file) {
        return Fail("Cant open GIF", ReadStatus::CantOpen, status);
    }
    std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 16);
    GifStream stream(file.get());

    uint8_t magic[6];
    if (std::fread(magic, 6, 1, file.get()) != 1) {
        return Fail("Error reading GIF Magic", invalid, status);
    }
    if (std::memcmp(magic, "GIF", 3) != 0) {
        return Fail("Error: not a valid .GIF file", invalid, status);
    }
    char version[4] = {static_cast<char>(magic[3]), static_cast<char>(magic[4]),
                       static_cast<char>(magic[5]), '\0'};
    if (std::strcmp(version, "87a") != 0 && std::strcmp(version, "89a") != 0) {
        return Fail("Error: Bad GIF Version number", invalid, status);
    }

    uint8_t screen[7];
    if (std::fread(screen, 7, 1, file.get()) != 1) {
        return Fail("Error: failed to GIF read screen descriptor.\nGiving up", invalid, status);
    }
    // Per read, so no file's colours depend on one read before it; a file without
    // any colour map decodes black.
    GifColorMap globalMap;
    if ((screen[4] & 0x80) != 0 && !ReadGifPalette(file.get(), 2 << (screen[4] & 7), globalMap)) {
        return Fail("Error reading GIF colormap", invalid, status);
    }
    if (screen[6] != 0 && screen[6] != 49) {
        SetError("Non-square pixels in GIF image.\nIgnoring that fact...", 0);
    }

    for (;;) {
        int introducer = std::getc(file.get());
        if (introducer == EOF) {
            return Fail("Unexpected EOF in GIF.\nGiving up", invalid, status);
        }
        if (introducer == ',') {
            break;
        }
        if (introducer == '!') {
            int label = std::getc(file.get());
            if (label == EOF) {
                return Fail("Error on extension read.\nGiving up", invalid, status);
            }
            HandleGifExtension(stream, label);
        }
    }

    uint8_t descriptor[9];
    if (std::fread(descriptor, 9, 1, file.get()) != 1) {
        return Fail("Error on dimension read\nGiving up", invalid, status);
    }
    int imageWidth = ReadLittle16(descriptor + 4);
    int imageHeight = ReadLittle16(descriptor + 6);
    uint8_t flags = descriptor[8];
    if (imageWidth == 0 || imageHeight == 0) {
        return Fail("Error: GIF image has no pixels\nGiving up", invalid, status);
    }
    uint64_t size = TightBufferSize(imageWidth, imageHeight);
    if (size > kMaxPixelBytes) {
        return Fail("Error: GIF image too large\nGiving up", ReadStatus::TooLarge, status);
    }
    // Zero-filled: pixels the data never reaches are black.
    ByteBuffer buffer = AllocateBytes(size, true);
    if (!buffer) {
        return Fail("Out of Memory in GIFRead", ReadStatus::OutOfMemory, status);
    }

    bool local = (flags & 0x80) != 0;
    GifColorMap localMap;
    if (local && !ReadGifPalette(file.get(), 1 << ((flags & 7) + 1), localMap)) {
        return Fail("Error reading GIF colormap\nGiving up", invalid, status);
    }
    int result = DecodeGifPixels(stream, buffer.get(), imageWidth, imageHeight,
                                 local ? localMap : globalMap, (flags & 0x40) != 0);
    if (result == kGifNoCodeSize) {
        return Fail(local ? "Error reading GIF file\nLocalColorMap\nGiving up"
                          : "Error reading GIF file\nGIFScreen Colormap\nGiving up",
                    invalid, status);
    }
    if (result == kGifBadCodeSize) {
        return Fail("Error: bad LZW code size in GIF\nGiving up", invalid, status);
    }
    if (result == kGifNoMemory) {
        return Fail("Out of Memory in GIFRead", ReadStatus::OutOfMemory, status);
    }
    *width = imageWidth;
    *height = imageHeight;
    if (status != nullptr) {
        *status = ReadStatus::Ok;
    }
    return buffer;
}

}  // namespace tessary
