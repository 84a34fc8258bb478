#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "formats/lzw_decoder.h"
#include "formats/rgb_buffer.h"
#include "formats/size_limit.h"

namespace tessary {

// 256 colours in three planes: reds in bytes 0-255, greens in 256-511, blues in 512-767.
struct GifColorMap {
    uint8_t planes[768] = {};
};

// An open GIF file as a chain of sub-blocks. It remembers whether the last
// sub-block read, by the block walker or the decoder, was the terminator.
class GifStream final : public SubBlockSource {
  public:
    explicit GifStream(std::FILE* file) : m_file(file) {}
    std::FILE* File() const { return m_file; }
    int ReadSubBlock(uint8_t* buffer) override;
    bool LastBlockEmpty() const override { return m_bLastBlockEmpty; }

  private:
    std::FILE* m_file;
    bool m_bLastBlockEmpty = false;
};

// Reads `count` 3-byte entries into entries 0 to count - 1 of the map. 1 when
// every entry was read (also for a count of 0 or less), 0 at a short read.
int ReadGifPalette(std::FILE* file, int count, GifColorMap& map);
// Consumes the sub-blocks of an extension; nothing in the picture depends on them.
void HandleGifExtension(GifStream& stream, int label);
// One sub-block into `buffer` (room for 255 bytes); see SubBlockSource.
int ReadSubBlock(GifStream& stream, uint8_t* buffer);

// DecodeGifPixels results.
inline constexpr int kGifDecoded = 1;
inline constexpr int kGifNoCodeSize = 0;    // the minimum code size byte is missing
inline constexpr int kGifBadCodeSize = -1;  // a minimum code size the decoder can't serve
inline constexpr int kGifNoMemory = -2;     // no memory for the decoder

// Reads the minimum code size and the image data, placing pixels row by row (in
// the four interlace passes when `bInterlaced`). Damaged data ends the placing
// early and still counts as decoded.
int DecodeGifPixels(GifStream& stream, uint8_t* buffer, int width, int height,
                    const GifColorMap& map, int bInterlaced);

// Reads the first image of a GIF 87a or 89a file into a tight RGB buffer,
// recording a text for every condition it meets. One object serves one read.
class CGifReader {
  public:
    CGifReader();
    ~CGifReader();
    CGifReader(const CGifReader&) = delete;
    CGifReader& operator=(const CGifReader&) = delete;

    // A new tight RGB buffer (zero where the data never reached) with its size, or
    // none. width and height are written only on success.
    ByteBuffer ReadGifFile(const char* path, int* width, int* height, ReadStatus* status = nullptr);

    void SetError(const char* text, int bFirst);
    const char* GetError() const { return m_pszError.get(); }

  private:
    ByteBuffer Fail(const char* text, ReadStatus reason, ReadStatus* status);

    std::unique_ptr<char[]> m_pszError;
};

}  // namespace tessary
