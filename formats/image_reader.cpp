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

// The order in which a load tries them.
constexpr FormatRow kFormats[] = {
    {ImageFormat::Jpeg,
     "JPEG",
     "jpeg",
     "JPEG Images",
     {".jpg", ".jpeg"},
     LooksLikeJpeg,
     DecodeJpegImage,
     EncodeJpegImage,
     false},
    {ImageFormat::Gif,
     "GIF",
     "gif",
     "GIF Images",
     {".gif"},
     LooksLikeGif,
     DecodeGifImage,
     nullptr,
     false},
    {ImageFormat::Bmp,
     "BMP",
     "bmp",
     "Windows BMP",
     {".bmp"},
     LooksLikeBmp,
     DecodeBmpImage,
     EncodeBmpImage,
     false},
    {ImageFormat::Png,
     "PNG",
     "png",
     "PNG Images",
     {".png"},
     LooksLikePng,
     DecodePngImage,
     EncodePngImage,
     true},
    {ImageFormat::Tiff,
     "TIFF",
     "tiff",
     "TIFF Images",
     {".tif", ".tiff"},
     LooksLikeTiff,
     DecodeTiffImage,
     EncodeTiffImage,
     true},
};

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsInAnyCase(std::string_view text, std::string_view ending) {
    if (text.size() < ending.size()) {
        return false;
    }
    const std::string_view tail = text.substr(text.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i) {
        if (LowerAscii(tail[i]) != LowerAscii(ending[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const FormatRow> FileFormats() {
    return kFormats;
}

const FormatRow& RowOf(ImageFormat format) {
    for (const FormatRow& row : kFormats) {
        if (row.format == format) {
            return row;
        }
    }
    return kFormats[0];
}

std::optional<ImageFormat> WrittenFormatNamed(std::string_view optionName) {
    for (const FormatRow& row : kFormats) {
        if (row.IsWritten() && optionName == row.optionName) {
            return row.format;
        }
    }
    return std::nullopt;
}

ImageFormat OutputFormatForName(std::string_view outputName) {
    for (const FormatRow& row : kFormats) {
        if (!row.IsWritten()) {
            continue;
        }
        for (const char* extension : row.extensions) {
            // The dot is not asked for: an output named "abmp" is a BMP.
            if (extension != nullptr && EndsInAnyCase(outputName, extension + 1)) {
                return row.format;
            }
        }
    }
    return kDefaultOutputFormat;
}

bool HasReadableExtension(std::string_view fileName) {
    for (const FormatRow& row : kFormats) {
        for (const char* extension : row.extensions) {
            if (extension != nullptr && EndsInAnyCase(fileName, extension)) {
                return true;
            }
        }
    }
    return false;
}

std::string ReadFormatList() {
    std::string list;
    const size_t count = std::size(kFormats);
    for (size_t i = 0; i < count; ++i) {
        list += (i == 0 ? "" : (i + 1 == count ? " or " : ", ")) + std::string(kFormats[i].name);
    }
    return list;
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
