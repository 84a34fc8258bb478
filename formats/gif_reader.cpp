#include "formats/gif_reader.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "formats/dib.h"
#include "formats/lzw_decoder.h"
#include "formats/size_limit.h"

namespace tessary {

// 256 colours in three planes: reds in bytes 0-255, greens in 256-511, blues in 512-767.
struct GifColorMap {
    uint8_t planes[768] = {};
};

// The bytes of a GIF file read front to back, as a chain of sub-blocks. It
// remembers whether the last sub-block read, by the block walker or the
// decoder, was the terminator.
class GifStream final : public SubBlockSource {
  public:
    explicit GifStream(ByteView bytes) : m_bytes(bytes) {}
    // The next byte, or -1 at the end.
    int ReadByte() { return m_nPos < m_bytes.size() ? m_bytes[m_nPos++] : -1; }
    // Exactly `count` bytes into `out`, or false (and the stream at its end).
    bool ReadBytes(uint8_t* out, size_t count);
    // The next byte without taking it, or -1 at the end.
    int PeekByte() const { return m_nPos < m_bytes.size() ? m_bytes[m_nPos] : -1; }
    size_t Remaining() const { return m_bytes.size() - m_nPos; }
    int ReadSubBlock(uint8_t* buffer) override;
    bool LastBlockEmpty() const override { return m_bLastBlockEmpty; }

  private:
    ByteView m_bytes;
    size_t m_nPos = 0;
    bool m_bLastBlockEmpty = false;
};

// Reads `count` 3-byte entries into entries 0 to count - 1 of the map. 1 when
// every entry was read (also for a count of 0 or less), 0 at a short read.
int ReadGifPalette(GifStream& stream, int count, GifColorMap& map);
// Consumes the sub-blocks of an extension; nothing in the picture depends on them.
void HandleGifExtension(GifStream& stream, int label);

// Where decoded rows go: picture row y starts at top + y x step.
struct GifRowLayout {
    uint8_t* top = nullptr;
    int64_t step = 0;  // negative for bottom-up rows
    bool bgr = false;  // pixels blue, green, red instead of red, green, blue
};

// DecodeGifRows results.
inline constexpr int kGifDecoded = 1;
inline constexpr int kGifNoCodeSize = 0;    // the minimum code size byte is missing
inline constexpr int kGifBadCodeSize = -1;  // a minimum code size the decoder can't serve
inline constexpr int kGifNoMemory = -2;     // no memory for the decoder

// Reads the minimum code size and the image data, placing pixels row by row (in
// the four interlace passes when `bInterlaced`). Damaged data ends the placing
// early and still counts as decoded.
int DecodeGifRows(GifStream& stream, const GifRowLayout& rows, int width, int height,
                  const GifColorMap& map, int bInterlaced);

// Takes the memory for the picture once its size is known.
class GifPictureSink {
  public:
    virtual ~GifPictureSink() = default;
    // Zero-filled room for width x height pixels, or false when it can't be had.
    virtual bool Begin(uint32_t width, uint32_t height, GifRowLayout* rows) = 0;
};

// The largest number of pixels `bits` bits of LZW data with the given minimum
// code size can describe: every code at least its starting width, and no
// string longer than the table.
uint64_t GifPixelsWithin(uint64_t bits, int minCodeSize);

namespace {

constexpr const char* kNoError = "No Error";
constexpr const char* kFormat = "GIF";
constexpr const char* kCutShort = "cut short before the image data";
// No string of the 4096-entry table is longer than this.
constexpr uint64_t kLongestLzwString = 4096;

uint16_t ReadLittle16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

struct InterlacePass {
    int firstRow;
    int step;
};
constexpr InterlacePass kPasses[4] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

// Everything one image's decoding needs, kept off the stack: the decoder's
// tables, one row of pixel values and the colour map packed per entry in the
// order the rows take.
struct DecodeContext {
    explicit DecodeContext(GifStream& stream) : decoder(stream) {}
    LzwDecoder decoder;
    uint8_t values[65536];
    uint8_t colours[256 * 3];
};

void PlaceRow(const DecodeContext& context, int count, uint8_t* target) {
    const uint8_t* colours = context.colours;
    for (int x = 0; x < count; ++x) {
        const uint8_t* colour = colours + context.values[x] * 3;
        target[0] = colour[0];
        target[1] = colour[1];
        target[2] = colour[2];
        target += 3;
    }
}

// Rows of a tight RGB buffer, taken once the size is known.
class TightSink final : public GifPictureSink {
  public:
    bool Begin(uint32_t width, uint32_t height, GifRowLayout* rows) override {
        m_buffer = AllocateBytes(TightBufferSize(width, height), true);
        *rows = GifRowLayout{m_buffer.get(), int64_t{width} * 3, false};
        m_nWidth = int(width);
        m_nHeight = int(height);
        return m_buffer != nullptr;
    }
    ByteBuffer m_buffer;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

// Rows straight into a new 24-bit DIB: one picture's memory.
class DibSink final : public GifPictureSink {
  public:
    explicit DibSink(MemoryBlock& spare) : m_spare(spare) {}
    bool Begin(uint32_t width, uint32_t height, GifRowLayout* rows) override {
        m_dib = CreateDib(width, height, 24, std::move(m_spare));
        if (m_dib.IsNone()) {
            return false;
        }
        const int64_t stride = int64_t(DibStride(width, 24));
        uint8_t* pixels = m_dib.Data() + DibPixelOffset(ParseInfoHeader(m_dib.Data()));
        *rows = GifRowLayout{pixels + (int64_t{height} - 1) * stride, -stride, true};
        return true;
    }
    MemoryBlock m_dib;

  private:
    MemoryBlock& m_spare;
};

// After the first image: is there a second one? Walks the blocks that follow
// without decoding anything; bytes that are no block end the search.
bool AnotherImageFollows(GifStream& stream) {
    uint8_t scratch[256];
    if (!stream.LastBlockEmpty()) {
        while (stream.ReadSubBlock(scratch) > 0) {
        }
    }
    for (;;) {
        const int introducer = stream.ReadByte();
        if (introducer == ',') {
            return true;
        }
        if (introducer != '!' || stream.ReadByte() < 0) {
            return false;  // the trailer, the end, or bytes that are no block
        }
        HandleGifExtension(stream, 0);
    }
}

}  // namespace

bool GifStream::ReadBytes(uint8_t* out, size_t count) {
    if (Remaining() < count) {
        m_nPos = m_bytes.size();
        return false;
    }
    std::memcpy(out, m_bytes.data() + m_nPos, count);
    m_nPos += count;
    return true;
}

int GifStream::ReadSubBlock(uint8_t* buffer) {
    const int count = ReadByte();
    if (count < 0) {
        return -1;
    }
    m_bLastBlockEmpty = count == 0;
    if (count == 0) {
        return 0;
    }
    return ReadBytes(buffer, size_t(count)) ? count : -1;
}

int ReadGifPalette(GifStream& stream, int count, GifColorMap& map) {
    for (int i = 0; i < count && i < 256; ++i) {
        uint8_t entry[3];
        if (!stream.ReadBytes(entry, 3)) {
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

uint64_t GifPixelsWithin(uint64_t bits, int minCodeSize) {
    const uint64_t narrowest = uint64_t(minCodeSize < 0 ? 0 : minCodeSize) + 1;
    return bits / narrowest * kLongestLzwString;
}

int DecodeGifRows(GifStream& stream, const GifRowLayout& rows, int width, int height,
                  const GifColorMap& map, int bInterlaced) {
    const int minCodeSize = stream.ReadByte();
    if (minCodeSize < 0) {
        return kGifNoCodeSize;
    }
    if (minCodeSize > kLzwMaxMinCodeSize) {
        return kGifBadCodeSize;
    }
    std::unique_ptr<DecodeContext> context(new (std::nothrow) DecodeContext(stream));
    if (!context) {
        return kGifNoMemory;
    }
    const int red = rows.bgr ? 2 : 0;
    for (int i = 0; i < 256; ++i) {
        context->colours[i * 3 + red] = map.planes[i];
        context->colours[i * 3 + 1] = map.planes[256 + i];
        context->colours[i * 3 + 2 - red] = map.planes[512 + i];
    }
    LzwDecoder& decoder = context->decoder;
    decoder.NextLzwByte(1, minCodeSize);

    int y = 0;
    int pass = 0;
    for (;;) {
        const int count = decoder.ReadPixels(context->values, width);
        PlaceRow(*context, count, rows.top + int64_t{y} * rows.step);
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

Status CGifReader::Fail(const char* text, Status status) {
    SetError(text, 0);
    return status;
}

ByteBuffer CGifReader::ReadGifFile(const char* path, int* width, int* height, Status* status) {
    Status ignored;
    Status& result = status != nullptr ? *status : ignored;
    if (path == nullptr || path[0] == '\0') {
        result = Fail("No Name Given", Status::IoError(ENOENT));
        return nullptr;
    }
    FileBytes file;
    result = ReadFileBytes(path, &file);
    if (!result.IsOk()) {
        SetError("Cant open GIF", 0);
        return nullptr;
    }
    TightSink sink;
    result = ReadGif(file.View(), sink);
    if (!result.IsOk()) {
        return nullptr;
    }
    *width = sink.m_nWidth;
    *height = sink.m_nHeight;
    return std::move(sink.m_buffer);
}

Status CGifReader::ReadGif(ByteView bytes, GifPictureSink& sink, std::string* warning) {
    GifStream stream(bytes);
    uint8_t magic[6];
    if (!stream.ReadBytes(magic, 6)) {
        return Fail("Error reading GIF Magic",
                    LooksLikeGif(bytes) ? Status::Damaged(kFormat, "cut short in the header")
                                        : Status::NotThisFormat(kFormat));
    }
    if (std::memcmp(magic, "GIF", 3) != 0) {
        return Fail("Error: not a valid .GIF file", Status::NotThisFormat(kFormat));
    }
    if (std::memcmp(magic + 3, "87a", 3) != 0 && std::memcmp(magic + 3, "89a", 3) != 0) {
        return Fail("Error: Bad GIF Version number",
                    Status::Unsupported(kFormat, "GIF of a version other than 87a and 89a"));
    }

    uint8_t screen[7];
    if (!stream.ReadBytes(screen, 7)) {
        return Fail("Error: failed to GIF read screen descriptor.\nGiving up",
                    Status::Damaged(kFormat, kCutShort));
    }
    // Per read, so no file's colours depend on one read before it; a file without
    // any colour map decodes black.
    GifColorMap globalMap;
    if ((screen[4] & 0x80) != 0 && !ReadGifPalette(stream, 2 << (screen[4] & 7), globalMap)) {
        return Fail("Error reading GIF colormap", Status::Damaged(kFormat, kCutShort));
    }
    if (screen[6] != 0 && screen[6] != 49) {
        SetError("Non-square pixels in GIF image.\nIgnoring that fact...", 0);
    }

    for (;;) {
        const int introducer = stream.ReadByte();
        if (introducer < 0) {
            return Fail("Unexpected EOF in GIF.\nGiving up",
                        Status::Damaged(kFormat, "no image in the file"));
        }
        if (introducer == ',') {
            break;
        }
        if (introducer == '!') {
            const int label = stream.ReadByte();
            if (label < 0) {
                return Fail("Error on extension read.\nGiving up",
                            Status::Damaged(kFormat, kCutShort));
            }
            HandleGifExtension(stream, label);
        }
    }

    uint8_t descriptor[9];
    if (!stream.ReadBytes(descriptor, 9)) {
        return Fail("Error on dimension read\nGiving up", Status::Damaged(kFormat, kCutShort));
    }
    const int width = ReadLittle16(descriptor + 4);
    const int height = ReadLittle16(descriptor + 6);
    const uint8_t flags = descriptor[8];
    if (width == 0 || height == 0) {
        return Fail("Error: GIF image has no pixels\nGiving up",
                    Status::Damaged(kFormat, "an image of no pixels"));
    }
    if (TightBufferSize(width, height) > kMaxPixelBytes) {
        return Fail("Error: GIF image too large\nGiving up", Status::TooLarge(kFormat));
    }
    const bool local = (flags & 0x80) != 0;
    GifColorMap localMap;
    if (local && !ReadGifPalette(stream, 1 << ((flags & 7) + 1), localMap)) {
        return Fail("Error reading GIF colormap\nGiving up", Status::Damaged(kFormat, kCutShort));
    }
    const int minCodeSize = stream.PeekByte();
    if (minCodeSize < 0) {
        return Fail(local ? "Error reading GIF file\nLocalColorMap\nGiving up"
                          : "Error reading GIF file\nGIFScreen Colormap\nGiving up",
                    Status::Damaged(kFormat, kCutShort));
    }
    // Refused before the picture's memory is taken: a few bytes claiming
    // millions of pixels would otherwise cost that memory for nothing. Counting
    // the whole file keeps files cut short in their data loading.
    const uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (minCodeSize <= kLzwMaxMinCodeSize &&
        GifPixelsWithin(uint64_t{bytes.size()} * 8, minCodeSize) < pixels) {
        return Fail("Error: GIF data too short for the image\nGiving up",
                    Status::Damaged(kFormat, std::to_string(bytes.size()) +
                                                 " bytes cannot hold a " + std::to_string(width) +
                                                 " x " + std::to_string(height) + " image"));
    }
    GifRowLayout rows;
    if (!sink.Begin(uint32_t(width), uint32_t(height), &rows)) {
        return Fail("Out of Memory in GIFRead", Status::OutOfMemory(kFormat));
    }
    const int result = DecodeGifRows(stream, rows, width, height, local ? localMap : globalMap,
                                     (flags & 0x40) != 0);
    if (result == kGifBadCodeSize) {
        return Fail("Error: bad LZW code size in GIF\nGiving up",
                    Status::Damaged(kFormat, "LZW code size " + std::to_string(minCodeSize)));
    }
    if (result == kGifNoMemory) {
        return Fail("Out of Memory in GIFRead", Status::OutOfMemory(kFormat));
    }
    if (warning != nullptr && AnotherImageFollows(stream)) {
        *warning = "animated GIF: only the first frame was used";
    }
    return Status::Ok();
}

bool LooksLikeGif(ByteView bytes) {
    return bytes.size() >= 3 && std::memcmp(bytes.data(), "GIF", 3) == 0;
}

Status DecodeGifImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out) {
    CGifReader reader;
    DibSink sink(spare);
    const Status status = reader.ReadGif(bytes, sink, &out.warning);
    if (status.IsOk()) {
        out.dib = std::move(sink.m_dib);
    }
    return status;
}

}  // namespace tessary
