#include "formats/image_reader.h"

#include <cerrno>

#include "formats/bmp_file.h"
#include "formats/gif_reader.h"
#include "formats/jpeg_file.h"
#include "formats/png_file.h"
#include "formats/size_limit.h"
#include "formats/tiff_file.h"
#include "platform/file_handle.h"

namespace tessary {

namespace {

// The order in which a load tries them; adding a format is one row here.
constexpr ImageReader kReaders[] = {
    {ImageFormat::Jpeg, "JPEG", LooksLikeJpeg, DecodeJpegImage},
    {ImageFormat::Gif, "GIF", LooksLikeGif, DecodeGifImage},
    {ImageFormat::Bmp, "BMP", LooksLikeBmp, DecodeBmpImage},
    {ImageFormat::Png, "PNG", LooksLikePng, DecodePngImage},
    {ImageFormat::Tiff, "TIFF", LooksLikeTiff, DecodeTiffImage},
};

}  // namespace

std::span<const ImageReader> ImageReaders() {
    return kReaders;
}

const ImageReader& ReaderFor(ImageFormat format) {
    for (const ImageReader& reader : kReaders) {
        if (reader.format == format) {
            return reader;
        }
    }
    return kReaders[0];
}

Status ReadFileBytes(const char* path, FileBytes* out) {
    *out = FileBytes();
    if (path == nullptr) {
        return Status::IoError(EINVAL);
    }
    FileHandle file = FileHandle::OpenForReading(path);
    if (!file.IsOpen()) {
        return Status::IoError(file.LastError(), "cannot be opened for reading");
    }
    const int64_t size = file.Seek(0, SeekFrom::End);
    if (size < 0 || file.Seek(0, SeekFrom::Begin) != 0) {
        return Status::IoError(file.LastError(), "cannot be read");
    }
    if (uint64_t(size) > kMaxFileBytes) {
        return Status::TooLarge("");
    }
    // One byte more than the size, so that an empty file still has a buffer.
    ByteBuffer data = AllocateBytes(uint64_t(size) + 1);
    if (!data) {
        return Status::OutOfMemory("");
    }
    const int64_t read = file.Read(data.get(), uint64_t(size));
    if (read < 0) {
        return Status::IoError(file.LastError(), "cannot be read");
    }
    out->data = std::move(data);
    out->size = uint64_t(read);  // a file that shrank meanwhile gives what it has
    return Status::Ok();
}

}  // namespace tessary
