#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/image_reader.h"
#include "formats/lzw_decoder.h"
#include "formats/rgb_buffer.h"
#include "formats/status.h"

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
// One sub-block into `buffer` (room for 255 bytes); see SubBlockSource.
int ReadSubBlock(GifStream& stream, uint8_t* buffer);

// Where decoded rows go: picture row y starts at top + y x step.
struct GifRowLayout {
    uint8_t* top = nullptr;
    int64_t step = 0;  // negative for bottom-up rows
    bool bgr = false;  // pixels blue, green, red instead of red, green, blue
};

// DecodeGifPixels results.
inline constexpr int kGifDecoded = 1;
inline constexpr int kGifNoCodeSize = 0;    // the minimum code size byte is missing
inline constexpr int kGifBadCodeSize = -1;  // a minimum code size the decoder can't serve
inline constexpr int kGifNoMemory = -2;     // no memory for the decoder

// Reads the minimum code size and the image data, placing pixels row by row (in
// the four interlace passes when `bInterlaced`). Damaged data ends the placing
// early and still counts as decoded.
int DecodeGifRows(GifStream& stream, const GifRowLayout& rows, int width, int height,
                  const GifColorMap& map, int bInterlaced);
// The same into a tight RGB buffer.
int DecodeGifPixels(GifStream& stream, uint8_t* buffer, int width, int height,
                    const GifColorMap& map, int bInterlaced);

// Takes the memory for the picture once its size is known.
class GifPictureSink {
  public:
    virtual ~GifPictureSink() = default;
    // Zero-filled room for width x height pixels, or false when it can't be had.
    virtual bool Begin(uint32_t width, uint32_t height, GifRowLayout* rows) = 0;
};

// Reads the first image of a GIF 87a or 89a file, recording a text for every
// condition it meets. One object serves one read.
class CGifReader {
  public:
    CGifReader();
    ~CGifReader();
    CGifReader(const CGifReader&) = delete;
    CGifReader& operator=(const CGifReader&) = delete;

    // A new tight RGB buffer (zero where the data never reached) with its size, or
    // none. width and height are written only on success.
    ByteBuffer ReadGifFile(const char* path, int* width, int* height, Status* status = nullptr);
    // The file's bytes into `sink`'s rows. `warning` (when given) tells of an
    // animation of which only the first frame was read.
    Status ReadGif(ByteView bytes, GifPictureSink& sink, std::string* warning = nullptr);

    void SetError(const char* text, int bFirst);
    const char* GetError() const { return m_pszError.get(); }

  private:
    Status Fail(const char* text, Status status);

    std::unique_ptr<char[]> m_pszError;
};

// The reader table's row.
bool LooksLikeGif(ByteView bytes);
Status DecodeGifImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out);

// The largest number of pixels `bits` bits of LZW data with the given minimum
// code size can describe: every code at least its starting width, and no
// string longer than the table.
uint64_t GifPixelsWithin(uint64_t bits, int minCodeSize);

}  // namespace tessary
