#include "formats/jpeg_file.h"

#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/file_handle.h"

namespace tessary {

namespace {

// Warnings and error texts are neither shown nor kept.
void DiscardJpegMessage(j_common_ptr /*object*/) {}

// The state of one decode. Everything that must survive a jump back to the
// recovery point lives here rather than in locals of the function that set it.
struct DecodeContext {
    JpegErrorManager errors{};
    jpeg_decompress_struct library{};
    std::FILE* file = nullptr;
    JpegRowSink* sink = nullptr;
    ReadStatus failure = ReadStatus::Invalid;
};

bool Refuse(DecodeContext* context, ReadStatus reason) {
    context->failure = reason;
    jpeg_destroy_decompress(&context->library);
    return false;
}

bool RunDecode(DecodeContext* context) {
    jpeg_decompress_struct* library = &context->library;
    library->err = SetUpJpegErrors(context->errors);
    if (setjmp(context->errors.recovery) != 0) {
        // A fatal library error: not a JPEG file, or a stream it can't decode.
        jpeg_destroy_decompress(&context->library);
        return false;
    }
    jpeg_create_decompress(library);
    jpeg_stdio_src(library, context->file);
    jpeg_read_header(library, TRUE);
    // Refused from the header, before the library sizes its own buffers.
    if (TightBufferSize(library->image_width, library->image_height) > kMaxPixelBytes) {
        return Refuse(context, ReadStatus::TooLarge);
    }
    jpeg_start_decompress(library);
    if (library->out_color_components != 1 && library->out_color_components != 3) {
        return Refuse(context, ReadStatus::Invalid);  // CMYK and YCCK have no RGB form here
    }
    if (TightBufferSize(library->output_width, library->output_height) > kMaxPixelBytes) {
        return Refuse(context, ReadStatus::TooLarge);
    }
    if (!context->sink->Begin(library->output_width, library->output_height)) {
        return Refuse(context, ReadStatus::OutOfMemory);
    }
    JSAMPARRAY row = (*library->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(library), JPOOL_IMAGE,
        library->output_width * static_cast<JDIMENSION>(library->output_components), 1);
    while (library->output_scanline < library->output_height) {
        JSAMPROW target = context->sink->RowTarget(library->output_scanline);
        JSAMPARRAY rows = target != nullptr ? &target : row;
        if (jpeg_read_scanlines(library, rows, 1) != 1) {
            return Refuse(context, ReadStatus::Invalid);
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
    std::FILE* stream = nullptr;
    JpegRowSource* source = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    int quality = 0;
};

bool RunEncode(EncodeContext* context) {
    jpeg_compress_struct* library = &context->library;
    library->err = SetUpJpegErrors(context->errors);
    if (setjmp(context->errors.recovery) != 0) {
        jpeg_destroy_compress(&context->library);
        return false;
    }
    jpeg_create_compress(library);
    jpeg_stdio_dest(library, context->stream);
    library->image_width = context->width;
    library->image_height = context->height;
    library->input_components = 3;
    library->in_color_space = JCS_RGB;
    jpeg_set_defaults(library);
    jpeg_set_quality(library, context->quality, TRUE);
    jpeg_start_compress(library, TRUE);
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

class TightBufferSource final : public JpegRowSource {
  public:
    TightBufferSource(const uint8_t* buffer, uint32_t width) : m_pBuffer(buffer), m_nWidth(width) {}
    const uint8_t* Row(uint32_t r) override { return m_pBuffer + uint64_t{r} * m_nWidth * 3; }

  private:
    const uint8_t* m_pBuffer;
    uint32_t m_nWidth;
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
    library->output_message = DiscardJpegMessage;
    return library;
}

void JpegErrorExit(j_common_ptr object) {
    // Never returns into the library: back to the reader's or writer's recovery point.
    auto* manager = reinterpret_cast<JpegErrorManager*>(object->err);
    std::longjmp(manager->recovery, 1);
}

bool DecodeJpegFile(const char* path, JpegRowSink& sink, ReadStatus* status) {
    DecodeContext context;
    context.file = OpenReadStream(path);
    if (context.file == nullptr) {
        if (status != nullptr) {
            *status = ReadStatus::CantOpen;
        }
        return false;
    }
    context.sink = &sink;
    bool decoded = RunDecode(&context);
    std::fclose(context.file);
    if (status != nullptr) {
        *status = decoded ? ReadStatus::Ok : context.failure;
    }
    return decoded;
}

ByteBuffer ReadJpegFile(const char* path, uint32_t* width, uint32_t* height, ReadStatus* status) {
    *width = 0;
    *height = 0;
    TightBufferSink sink(width, height);
    if (!DecodeJpegFile(path, sink, status)) {
        return nullptr;
    }
    return sink.Take();
}

int WriteJpegFile(const char* path, const uint8_t* buffer, uint32_t width, uint32_t height,
                  int quality, int* errorNumber) {
    if (buffer == nullptr) {
        SetNumber(errorNumber, 0);
        return 0;
    }
    TightBufferSource source(buffer, width);
    return EncodeJpegFile(path, source, width, height, quality, errorNumber);
}

int EncodeJpegFile(const char* path, JpegRowSource& source, uint32_t width, uint32_t height,
                   int quality, int* errorNumber) {
    SetNumber(errorNumber, 0);
    if (width == 0 || height == 0) {
        return 0;
    }
    AtomicFileWriter writer;
    if (!writer.Open(path)) {
        SetNumber(errorNumber, writer.LastError());
        return 0;
    }
    EncodeContext context;
    context.stream = OpenWriteStream(writer.File());
    if (context.stream == nullptr) {
        SetNumber(errorNumber, errno != 0 ? errno : ENOMEM);
        return 0;  // the writer removes its temporary file
    }
    context.source = &source;
    context.width = width;
    context.height = height;
    context.quality = quality;
    bool encoded = RunEncode(&context);
    bool closed = std::fclose(context.stream) == 0;
    if (!encoded || !closed) {
        int error = writer.File().LastError();
        SetNumber(errorNumber, error != 0 ? error : EIO);
        writer.Abandon();
        return 0;
    }
    if (!writer.Commit()) {
        SetNumber(errorNumber, writer.LastError());
        return 0;
    }
    return 1;
}

}  // namespace tessary
