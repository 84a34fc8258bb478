#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/image_reader.h"
#include "formats/rgb_buffer.h"
#include "formats/status.h"

namespace tessary {

// Takes the memory for the picture once its size is known (in the .cpp).
class GifPictureSink;

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

}  // namespace tessary
