#include "formats/jpeg_file.h"

#include <jerror.h>
#include <jpeglib.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formats/dib.h"
#include "formats/size_limit.h"
#include "platform/atomic_file.h"
#include "platform/file_handle.h"

namespace tessary {

// The library's error manager with a recovery point behind it: the library
// record comes first, so JpegErrorExit reaches the jump buffer through `err`.
// The texts of the fatal error and of the first warning are kept for the
// reason a user reads.
struct JpegErrorManager {
    jpeg_error_mgr library;
    std::jmp_buf recovery;
    int errorCode = 0;
    char errorText[JMSG_LENGTH_MAX] = {};
    int warningCode = 0;  // of the first warning; 0 when there was none
    char warningText[JMSG_LENGTH_MAX] = {};
    uint32_t warningRow = 0;  // the first row of the blocks being decoded when it came
};

// Fills `manager` with the library's routines, fatal errors jumping to its
// recovery point and messages kept rather than printed; returns the library record.
jpeg_error_mgr* SetUpJpegErrors(JpegErrorManager& manager);

// Called by the library for every fatal error; jumps to the recovery point.
[[noreturn]] void JpegErrorExit(j_common_ptr object);

// The most pixels `bytes` bytes of JPEG data can describe: at least one bit
// for every 8 x 8 block, even in the tersest progressive scan.
uint64_t JpegPixelsWithin(uint64_t bytes);

namespace {

constexpr const char* kFormat = "JPEG";
// Pixels of an 8 x 8 block, and bits in a byte: the least a block can cost is one bit.
constexpr uint64_t kPixelsPerDataByte = 64 * 8;
// The largest payload of one marker segment.
constexpr size_t kMarkerPayload = 65533;
constexpr char kExifPrefix[] = "Exif\0";  // with the terminating zero: "Exif\0\0"
constexpr size_t kExifPrefixSize = 6;
constexpr char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/";  // and its zero
constexpr size_t kXmpPrefixSize = sizeof kXmpPrefix;

// Warnings are kept (the first one's text, and where decoding stood), never printed.
void KeepJpegWarning(j_common_ptr object, int level) {
    if (level >= 0) {
        return;  // trace messages
    }
    auto* manager = reinterpret_cast<JpegErrorManager*>(object->err);
    if (manager->library.num_warnings++ == 0) {
        manager->warningCode = manager->library.msg_code;
        (*manager->library.format_message)(object, manager->warningText);
        if (object->is_decompressor) {
            // The first row of the row of blocks being decoded: in a single
            // scan, the data ran out there.
            const auto* library = reinterpret_cast<j_decompress_ptr>(object);
            manager->warningRow =
                uint32_t(library->input_iMCU_row) * uint32_t(library->max_v_samp_factor) * DCTSIZE;
        }
    }
}

void DiscardJpegMessage(j_common_ptr /*object*/) {}

// The state of one decode. Everything that must survive a jump back to the
// recovery point lives here rather than in locals of the function that set it.
struct DecodeContext {
    JpegErrorManager errors{};
    jpeg_decompress_struct library{};
    ByteView bytes;
    JpegRowSink* sink = nullptr;
    JpegExtras* extras = nullptr;
    Status failure;
    bool multiScan = false;
};

bool Refuse(DecodeContext* context, Status reason) {
    context->failure = std::move(reason);
    jpeg_destroy_decompress(&context->library);
    return false;
}

// The reason for a fatal library error, in the library's words.
Status StatusOfLibraryError(const JpegErrorManager& errors) {
    switch (errors.errorCode) {
        case JERR_OUT_OF_MEMORY:
            return Status::OutOfMemory(kFormat);
        case JERR_SOF_UNSUPPORTED:
        case JERR_ARITH_NOTIMPL:
        case JERR_NOT_COMPILED:
        case JERR_CONVERSION_NOTIMPL:
        case JERR_BAD_PRECISION:
            return Status::Unsupported(kFormat, std::string("JPEG (") + errors.errorText + ")");
        default:
            return Status::Damaged(kFormat, errors.errorText);
    }
}

// Colour spaces with no RGB form here.
Status CheckColourSpace(const jpeg_decompress_struct& library) {
    switch (library.out_color_space) {
        case JCS_GRAYSCALE:
        case JCS_RGB:
            return Status::Ok();
        case JCS_CMYK:
            return Status::Unsupported(
                kFormat, library.jpeg_color_space == JCS_YCCK ? "YCCK JPEG" : "CMYK JPEG");
        default:
            return Status::Unsupported(
                kFormat,
                "JPEG of " + std::to_string(library.num_components) + " colour components");
    }
}

bool HasPrefix(const jpeg_saved_marker_ptr marker, const char* prefix, size_t size) {
    return marker->data_length >= size && std::memcmp(marker->data, prefix, size) == 0;
}

void CollectMetadata(jpeg_decompress_struct* library, ImageMetadata* metadata) {
    for (jpeg_saved_marker_ptr m = library->marker_list; m != nullptr; m = m->next) {
        const auto* data = reinterpret_cast<const char*>(m->data);
        if (m->marker == JPEG_COM) {
            metadata->comments.emplace_back(data, m->data_length);
        } else if (m->marker == JPEG_APP0 + 1 && metadata->exif.empty() &&
                   HasPrefix(m, kExifPrefix, kExifPrefixSize)) {
            metadata->exif.assign(m->data + kExifPrefixSize, m->data + m->data_length);
        } else if (m->marker == JPEG_APP0 + 1 && metadata->xmp.empty() &&
                   HasPrefix(m, kXmpPrefix, kXmpPrefixSize)) {
            metadata->xmp.assign(data + kXmpPrefixSize, m->data_length - kXmpPrefixSize);
        }
    }
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    // The library puts the chunks together and refuses a profile with a chunk missing.
    if (jpeg_read_icc_profile(library, &icc, &iccLength)) {
        metadata->icc.assign(icc, icc + iccLength);
        std::free(icc);
    }
}

std::string WarningText(const JpegErrorManager& errors, bool multiScan) {
    if (errors.warningCode == 0) {
        return {};
    }
    // In a single scan the data that did not come is the bottom of the
    // picture, which the library leaves grey.
    if (errors.warningCode == JWRN_JPEG_EOF && !multiScan) {
        return "damaged data: rows from " + std::to_string(errors.warningRow) + " on are grey";
    }
    return std::string("damaged data: ") + errors.warningText;
}

bool RunDecode(DecodeContext* context) {
    jpeg_decompress_struct* library = &context->library;
    library->err = SetUpJpegErrors(context->errors);
    if (setjmp(context->errors.recovery) != 0) {
        // A fatal library error: a stream it can't decode.
        context->failure = StatusOfLibraryError(context->errors);
        jpeg_destroy_decompress(&context->library);
        return false;
    }
    jpeg_create_decompress(library);
    jpeg_mem_src(library, context->bytes.data(), context->bytes.size());
    if (context->extras != nullptr) {
        jpeg_save_markers(library, JPEG_COM, 0xFFFF);
        jpeg_save_markers(library, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(library, JPEG_APP0 + 2, 0xFFFF);
    }
    jpeg_read_header(library, TRUE);
    const uint64_t pixels = uint64_t{library->image_width} * library->image_height;
    // Refused from the header, before the library sizes its own buffers.
    if (TightBufferSize(library->image_width, library->image_height) > kMaxPixelBytes) {
        return Refuse(context, Status::TooLarge(kFormat));
    }
    if (pixels > JpegPixelsWithin(context->bytes.size())) {
        return Refuse(context,
                      Status::Damaged(
                          kFormat, std::to_string(context->bytes.size()) + " bytes cannot hold a " +
                                       std::to_string(library->image_width) + " x " +
                                       std::to_string(library->image_height) + " image"));
    }
    // Scoped, so that no object with a destructor is alive when the library
    // may jump back to the recovery point.
    if (Status colours = CheckColourSpace(*library); !colours.IsOk()) {
        return Refuse(context, std::move(colours));
    }
    if (context->extras != nullptr) {
        CollectMetadata(library, &context->extras->metadata);
    }
    jpeg_start_decompress(library);
    context->multiScan = jpeg_has_multiple_scans(library);
    if (library->out_color_components != 1 && library->out_color_components != 3) {
        return Refuse(context,
                      Status::Unsupported(
                          kFormat, "JPEG of " + std::to_string(library->out_color_components) +
                                       " colour components"));
    }
    if (TightBufferSize(library->output_width, library->output_height) > kMaxPixelBytes) {
        return Refuse(context, Status::TooLarge(kFormat));
    }
    if (!context->sink->Begin(library->output_width, library->output_height)) {
        return Refuse(context, Status::OutOfMemory(kFormat));
    }
    JSAMPARRAY row = (*library->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(library), JPOOL_IMAGE,
        library->output_width * static_cast<JDIMENSION>(library->output_components), 1);
    while (library->output_scanline < library->output_height) {
        JSAMPROW target = context->sink->RowTarget(library->output_scanline);
        JSAMPARRAY rows = target != nullptr ? &target : row;
        if (jpeg_read_scanlines(library, rows, 1) != 1) {
            return Refuse(context, Status::Damaged(kFormat, "no more rows"));
        }
        context->sink->StoreRow(rows[0], library->out_color_components,
                                library->output_scanline - 1);
    }
    jpeg_finish_decompress(library);
    jpeg_destroy_decompress(library);
    return true;
}

struct EncodeContext {
    JpegErrorManager errors{};
    jpeg_compress_struct library{};
    std::FILE* stream = nullptr;  // the file; without one, memory below
    unsigned char* memory = nullptr;
    unsigned long memorySize = 0;
    JpegRowSource* source = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    JpegSaveOptions options;
    const ImageMetadata* metadata = nullptr;
};

void WriteMarkerWithPrefix(jpeg_compress_struct* library, int marker, const char* prefix,
                           size_t prefixSize, const uint8_t* data, size_t size) {
    if (prefixSize + size > kMarkerPayload) {
        return;  // one segment can't hold it, and it has no way to be split
    }
    jpeg_write_m_header(library, marker, static_cast<unsigned int>(prefixSize + size));
    for (size_t i = 0; i < prefixSize; ++i) {
        jpeg_write_m_byte(library, static_cast<uint8_t>(prefix[i]));
    }
    for (size_t i = 0; i < size; ++i) {
        jpeg_write_m_byte(library, data[i]);
    }
}

void WriteMetadata(jpeg_compress_struct* library, const ImageMetadata& metadata) {
    if (!metadata.exif.empty()) {
        WriteMarkerWithPrefix(library, JPEG_APP0 + 1, kExifPrefix, kExifPrefixSize,
                              metadata.exif.data(), metadata.exif.size());
    }
    if (!metadata.xmp.empty()) {
        WriteMarkerWithPrefix(library, JPEG_APP0 + 1, kXmpPrefix, kXmpPrefixSize,
                              reinterpret_cast<const uint8_t*>(metadata.xmp.data()),
                              metadata.xmp.size());
    }
    if (!metadata.icc.empty() && metadata.icc.size() <= UINT32_MAX) {
        // The library splits the profile into as many chunks as it needs.
        jpeg_write_icc_profile(library, metadata.icc.data(),
                               static_cast<unsigned int>(metadata.icc.size()));
    }
    for (const std::string& comment : metadata.comments) {
        WriteMarkerWithPrefix(library, JPEG_COM, "", 0,
                              reinterpret_cast<const uint8_t*>(comment.data()), comment.size());
    }
}

void SetSubsampling(jpeg_compress_struct* library, JpegSubsampling subsampling) {
    if (subsampling == JpegSubsampling::LibraryDefault) {
        return;
    }
    const int factor = subsampling == JpegSubsampling::Half ? 2 : 1;
    library->comp_info[0].h_samp_factor = factor;
    library->comp_info[0].v_samp_factor = factor;
    for (int c = 1; c < library->num_components; ++c) {
        library->comp_info[c].h_samp_factor = 1;
        library->comp_info[c].v_samp_factor = 1;
    }
}

bool RunEncode(EncodeContext* context) {
    jpeg_compress_struct* library = &context->library;
    library->err = SetUpJpegErrors(context->errors);
    if (setjmp(context->errors.recovery) != 0) {
        jpeg_destroy_compress(&context->library);
        return false;
    }
    jpeg_create_compress(library);
    if (context->stream != nullptr) {
        jpeg_stdio_dest(library, context->stream);
    } else {
        jpeg_mem_dest(library, &context->memory, &context->memorySize);
    }
    library->image_width = context->width;
    library->image_height = context->height;
    library->input_components = 3;
    library->in_color_space = JCS_RGB;
    jpeg_set_defaults(library);
    jpeg_set_quality(library, context->options.quality, TRUE);
    SetSubsampling(library, context->options.subsampling);
    jpeg_start_compress(library, TRUE);
    if (context->options.writeMetadata && context->metadata != nullptr) {
        WriteMetadata(library, *context->metadata);
    }
    while (library->next_scanline < library->image_height) {
        // The library only reads the row; its interface just isn't const.
        JSAMPROW row = const_cast<JSAMPROW>(context->source->Row(library->next_scanline));
        jpeg_write_scanlines(library, &row, 1);
    }
    jpeg_finish_compress(library);
    jpeg_destroy_compress(library);
    return true;
}

class TightBufferSink final : public JpegRowSink {
  public:
    TightBufferSink(uint32_t* width, uint32_t* height) : m_pWidth(width), m_pHeight(height) {}

    bool Begin(uint32_t width, uint32_t height) override {
        m_buffer = AllocateBytes(TightBufferSize(width, height));
        if (!m_buffer) {
            return false;
        }
        m_nWidth = width;
        *m_pWidth = width;
        *m_pHeight = height;
        return true;
    }
    void StoreRow(const uint8_t* samples, int components, uint32_t r) override {
        if (components == 3) {
            StoreRgbRow(samples, m_nWidth, m_buffer.get(), r);
        } else {
            StoreGrayRow(samples, m_nWidth, m_buffer.get(), r);
        }
    }
    ByteBuffer Take() { return std::move(m_buffer); }

  private:
    uint32_t* m_pWidth;
    uint32_t* m_pHeight;
    uint32_t m_nWidth = 0;
    ByteBuffer m_buffer;
};

// Rows are decoded straight into their bottom-up rows of a new 24-bit DIB and
// turned blue-green-red there while still in cache: the same bytes as decoding
// into a tight buffer and converting it afterwards, without the copy.
class DibRowSink final : public JpegRowSink {
  public:
    // `spare`: a block taken over when it has the right size.
    explicit DibRowSink(MemoryBlock& spare) : m_spare(spare) {}
    bool Begin(uint32_t width, uint32_t height) override {
        m_dib = CreateDib(width, height, 24, std::move(m_spare));
        if (m_dib.IsNone()) {
            return false;
        }
        m_nWidth = width;
        m_nHeight = height;
        m_nStride = DibStride(width, 24);
        m_pPixels = m_dib.Data() + DibPixelOffset(ParseInfoHeader(m_dib.Data()));
        return true;
    }
    uint8_t* RowTarget(uint32_t r) override {
        return m_pPixels + (uint64_t{m_nHeight} - 1 - r) * m_nStride;
    }
    void StoreRow(const uint8_t* samples, int components, uint32_t r) override {
        StoreRowIntoDib(samples, components, m_nWidth, m_nHeight, r, m_pPixels, m_nStride);
    }
    MemoryBlock Take() { return std::move(m_dib); }

  private:
    MemoryBlock& m_spare;
    MemoryBlock m_dib;
    uint8_t* m_pPixels = nullptr;
    uint32_t m_nWidth = 0;
    uint32_t m_nHeight = 0;
    uint64_t m_nStride = 0;
};

void SetNumber(int* target, int value) {
    if (target != nullptr) {
        *target = value;
    }
}

}  // namespace

jpeg_error_mgr* SetUpJpegErrors(JpegErrorManager& manager) {
    jpeg_error_mgr* library = jpeg_std_error(&manager.library);
    library->error_exit = JpegErrorExit;
    library->emit_message = KeepJpegWarning;
    library->output_message = DiscardJpegMessage;
    return library;
}

void JpegErrorExit(j_common_ptr object) {
    // Never returns into the library: back to the reader's or writer's recovery point.
    auto* manager = reinterpret_cast<JpegErrorManager*>(object->err);
    manager->errorCode = manager->library.msg_code;
    (*manager->library.format_message)(object, manager->errorText);
    std::longjmp(manager->recovery, 1);
}

uint64_t JpegPixelsWithin(uint64_t bytes) {
    return bytes * kPixelsPerDataByte;
}

bool LooksLikeJpeg(ByteView bytes) {
    return bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

Status DecodeJpeg(ByteView bytes, JpegRowSink& sink, JpegExtras* extras) {
    if (!LooksLikeJpeg(bytes)) {
        return Status::NotThisFormat(kFormat);
    }
    DecodeContext context;
    context.bytes = bytes;
    context.sink = &sink;
    context.extras = extras;
    if (!RunDecode(&context)) {
        return context.failure;
    }
    if (extras != nullptr) {
        extras->warning = WarningText(context.errors, context.multiScan);
    }
    return Status::Ok();
}

ByteBuffer ReadJpegFile(const char* path, uint32_t* width, uint32_t* height, Status* status) {
    *width = 0;
    *height = 0;
    TightBufferSink sink(width, height);
    Status ignored;
    Status& result = status != nullptr ? *status : ignored;
    FileBytes file;
    result = ReadFileBytes(path, &file);
    if (result.IsOk()) {
        result = DecodeJpeg(file.View(), sink);
    }
    return result.IsOk() ? sink.Take() : nullptr;
}

Status DecodeJpegImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out) {
    DibRowSink sink(spare);
    JpegExtras extras;
    Status status = DecodeJpeg(bytes, sink, &extras);
    if (status.IsOk()) {
        out.dib = sink.Take();
        out.metadata = std::move(extras.metadata);
        out.warning = std::move(extras.warning);
    }
    return status;
}

int WriteJpegFile(const char* path, const uint8_t* buffer, uint32_t width, uint32_t height,
                  int quality, int* errorNumber) {
    JpegSaveOptions options;
    options.quality = quality;
    return WriteJpegFile(path, buffer, width, height, options, nullptr, errorNumber);
}

int WriteJpegFile(const char* path, const uint8_t* buffer, uint32_t width, uint32_t height,
                  const JpegSaveOptions& options, const ImageMetadata* metadata, int* errorNumber) {
    if (buffer == nullptr) {
        SetNumber(errorNumber, 0);
        return 0;
    }
    TightRgbRows source(buffer, width);
    return EncodeJpegFile(path, source, width, height, options, metadata, errorNumber);
}

int EncodeJpegFile(const char* path, JpegRowSource& source, uint32_t width, uint32_t height,
                   int quality, int* errorNumber) {
    JpegSaveOptions options;
    options.quality = quality;
    return EncodeJpegFile(path, source, width, height, options, nullptr, errorNumber);
}

int EncodeJpegFile(const char* path, JpegRowSource& source, uint32_t width, uint32_t height,
                   const JpegSaveOptions& options, const ImageMetadata* metadata,
                   int* errorNumber) {
    const Status status = WriteJpeg(path, source, width, height, options, metadata);
    SetNumber(errorNumber, status.errorNumber);
    return status.IsOk() ? 1 : 0;
}

Status WriteJpeg(const char* path, JpegRowSource& source, uint32_t width, uint32_t height,
                 const JpegSaveOptions& options, const ImageMetadata* metadata) {
    if (width == 0 || height == 0) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    AtomicFileWriter writer;
    if (!writer.Open(path)) {
        return Status::IoError(writer.LastError());
    }
    EncodeContext context;
    context.stream = OpenWriteStream(writer.File());
    if (context.stream == nullptr) {
        return Status::IoError(errno != 0 ? errno : ENOMEM);  // the writer removes its file
    }
    context.source = &source;
    context.width = width;
    context.height = height;
    context.options = options;
    context.metadata = metadata;
    const bool encoded = RunEncode(&context);
    const bool closed = std::fclose(context.stream) == 0;
    if (!encoded || !closed) {
        const int error = writer.File().LastError();
        writer.Abandon();
        // Without an errno it was the library that gave up; its words say why.
        return error != 0 || encoded ? Status::IoError(error != 0 ? error : EIO)
                                     : Status::IoError(EIO, context.errors.errorText);
    }
    if (!writer.Commit()) {
        return Status::IoError(writer.LastError());
    }
    return Status::Ok();
}

Status EncodeJpegToMemory(RgbRowSource& source, uint32_t width, uint32_t height,
                          const JpegSaveOptions& options, std::vector<uint8_t>* out) {
    out->clear();
    if (width == 0 || height == 0) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    EncodeContext context;
    context.source = &source;
    context.width = width;
    context.height = height;
    context.options = options;
    const bool encoded = RunEncode(&context);
    if (encoded && context.memory != nullptr) {
        out->assign(context.memory, context.memory + context.memorySize);
    }
    std::free(context.memory);  // the library's buffer, taken with malloc
    return encoded ? Status::Ok() : Status::IoError(ENOMEM, context.errors.errorText);
}

Status EncodeJpegImage(const char* path, const PictureToWrite& picture,
                       const WriteOptions& options) {
    if (picture.rows == nullptr) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    JpegSaveOptions jpeg = options.jpeg;
    jpeg.writeMetadata = options.metadata != nullptr;
    return WriteJpeg(path, *picture.rows, picture.width, picture.height, jpeg, options.metadata);
}

}  // namespace tessary
