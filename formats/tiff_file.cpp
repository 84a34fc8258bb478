#include "formats/tiff_file.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "formats/dib.h"
#include "formats/size_limit.h"
#include "platform/atomic_file.h"
#include "platform/file_handle.h"

namespace tessary {

namespace {

// Most bytes one stored byte can decode to, per compression: PackBits repeats
// one byte 128 times for two; Deflate gives at most 1032 for one; LZW, JPEG and
// the rest are bounded generously. A file whose strips are too small for its
// picture even so is refused before the picture's memory is taken.
constexpr uint64_t kMaxRatioPackBits = 64;
constexpr uint64_t kMaxRatioDeflate = 1032;
constexpr uint64_t kMaxRatioOther = 4096;
constexpr uint64_t kRatioSlack = 4096;

constexpr char kMultiPageWarning[] = "multi-page TIFF: only the first page was used";
constexpr char kUnknownTagWarning[] = "Unknown field with tag";
constexpr size_t kMessageBytes = 512;

// libtiff's words for what went wrong, gathered per handle so that nothing
// reaches stderr and concurrent loads keep their own.
struct Messages {
    std::string error;
    std::string warning;
};

std::string Format(const char* format, va_list args) {
    char text[kMessageBytes];
    std::vsnprintf(text, sizeof text, format, args);
    return text;
}

int KeepError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* messages = static_cast<Messages*>(user);
    if (messages->error.empty()) {
        messages->error = Format(format, args);
    }
    return 1;
}

int KeepWarning(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* messages = static_cast<Messages*>(user);
    std::string text = Format(format, args);
    // Private tags are everyday content, not damage.
    if (messages->warning.empty() && text.find(kUnknownTagWarning) == std::string::npos) {
        messages->warning = std::move(text);
    }
    return 1;
}

// The library's process-wide handlers print to stderr; every handle here has
// its own, and the global ones are silenced for any path that bypasses them.
void SilenceGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct TiffDeleter {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffDeleter>;

std::unique_ptr<TIFFOpenOptions, OptionsDeleter> NewOptions(Messages* messages) {
    SilenceGlobalHandlers();
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (options) {
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), KeepError, messages);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), KeepWarning, messages);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(kMaxPixelBytes));
    }
    return options;
}

// ---- Reading from memory ----

struct MemoryStream {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;
};

tmsize_t ReadMemory(thandle_t handle, void* buffer, tmsize_t count) {
    auto* stream = static_cast<MemoryStream*>(handle);
    if (count < 0 || stream->position >= stream->size) {
        return 0;
    }
    const uint64_t n = std::min<uint64_t>(uint64_t(count), stream->size - stream->position);
    std::memcpy(buffer, stream->data + stream->position, n);
    stream->position += n;
    return tmsize_t(n);
}

tmsize_t RefuseWrite(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* stream = static_cast<MemoryStream*>(handle);
    uint64_t base = whence == SEEK_CUR ? stream->position : whence == SEEK_END ? stream->size : 0;
    uint64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target > kMaxFileBytes) {
        return toff_t(-1);
    }
    stream->position = target;
    return target;
}

int CloseMemory(thandle_t) {
    return 0;
}

toff_t SizeOfMemory(thandle_t handle) {
    return static_cast<MemoryStream*>(handle)->size;
}

int NoMap(thandle_t, void**, toff_t*) {
    return 0;
}

void NoUnmap(thandle_t, void*, toff_t) {}

// ---- What the first page holds ----

enum class Model { Grey, Palette, Rgb, Converted };

struct Layout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 1;
    uint16_t samples = 1;
    bool separate = false;  // one plane per sample
    bool invert = false;    // white is zero
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint16_t compression = COMPRESSION_NONE;
    Model model = Model::Grey;

    bool Deep() const { return bits == 16 && (model == Model::Grey || model == Model::Rgb); }
    // Bytes a pixel takes in the buffer the page is first read into.
    uint64_t RasterPixelBytes() const { return Deep() ? 6 : model == Model::Converted ? 4 : 3; }
    // Planes or channels a pixel needs; the rest (alpha) are skipped.
    uint16_t Needed() const { return model == Model::Rgb ? 3 : 1; }
};

uint16_t FieldOr(TIFF* tiff, ttag_t tag, uint16_t fallback) {
    uint16_t value = fallback;
    TIFFGetFieldDefaulted(tiff, tag, &value);
    return value;
}

Status Unsupported(std::string variant) {
    return Status::Unsupported(kTiffFormat, std::move(variant));
}

Status CheckSampleFormat(TIFF* tiff) {
    switch (FieldOr(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT)) {
        case SAMPLEFORMAT_UINT:
        case SAMPLEFORMAT_VOID:
            return Status::Ok();
        case SAMPLEFORMAT_IEEEFP:
            return Unsupported("TIFF with floating-point samples");
        case SAMPLEFORMAT_INT:
            return Unsupported("TIFF with signed samples");
        default:
            return Unsupported("TIFF with complex samples");
    }
}

bool BitsFit(Model model, uint16_t bits) {
    switch (model) {
        case Model::Grey:
            return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
        case Model::Palette:
            return bits == 1 || bits == 2 || bits == 4 || bits == 8;
        case Model::Rgb:
            return bits == 8 || bits == 16;
        case Model::Converted:
            return true;
    }
    return false;
}

// The colour model of the page, or why it is not read.
Status FindModel(TIFF* tiff, Layout& layout) {
    uint16_t photometric = 0;
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) {
        photometric = layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
            layout.invert = true;
            [[fallthrough]];
        case PHOTOMETRIC_MINISBLACK:
            layout.model = Model::Grey;
            break;
        case PHOTOMETRIC_PALETTE:
            layout.model = Model::Palette;
            break;
        case PHOTOMETRIC_RGB:
            layout.model = Model::Rgb;
            break;
        case PHOTOMETRIC_YCBCR:
            if (layout.compression == COMPRESSION_JPEG && !layout.separate) {
                // The JPEG codec turns the samples into RGB itself.
                TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
                layout.model = Model::Rgb;
            } else {
                layout.model = Model::Converted;
            }
            break;
        case PHOTOMETRIC_SEPARATED:
            return Unsupported("CMYK TIFF");
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB:
            return Unsupported("Lab TIFF");
        default:
            return Unsupported("TIFF in colour model " + std::to_string(photometric));
    }
    if (!BitsFit(layout.model, layout.bits)) {
        return Unsupported("TIFF with " + std::to_string(layout.bits) + " bits a sample");
    }
    if (layout.samples < layout.Needed()) {
        return Status::Damaged(kTiffFormat, "too few samples a pixel for its colour model");
    }
    return Status::Ok();
}

Status ReadLayout(TIFF* tiff, Layout& layout) {
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height) || layout.width == 0 ||
        layout.height == 0) {
        return Status::Damaged(kTiffFormat, "no picture size");
    }
    layout.bits = FieldOr(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    layout.samples = FieldOr(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    layout.separate =
        FieldOr(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE;
    layout.compression = FieldOr(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    layout.orientation = FieldOr(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (layout.orientation < ORIENTATION_TOPLEFT || layout.orientation > ORIENTATION_LEFTBOT) {
        layout.orientation = ORIENTATION_TOPLEFT;
    }
    Status status = CheckSampleFormat(tiff);
    return status.IsOk() ? FindModel(tiff, layout) : status;
}

uint64_t MaxRatio(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return 1;
        case COMPRESSION_PACKBITS:
            return kMaxRatioPackBits;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return kMaxRatioDeflate;
        default:
            return kMaxRatioOther;
    }
}

// The bytes of the file the strips or tiles cover, each counted once: many
// strips pointing at one small run of data must not pass for much data.
uint64_t StoredBytes(TIFF* tiff, bool tiled, uint64_t fileSize) {
    const uint32_t count = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tiff, i);
        const uint64_t bytes = TIFFGetStrileByteCount(tiff, i);
        if (offset < fileSize && bytes > 0) {
            ranges.emplace_back(offset, offset + std::min(bytes, fileSize - offset));
        }
    }
    std::sort(ranges.begin(), ranges.end());
    uint64_t stored = 0;
    uint64_t covered = 0;  // the end of what is counted so far
    for (const auto& [start, end] : ranges) {
        if (end > covered) {
            stored += end - std::max(start, covered);
            covered = end;
        }
    }
    return stored;
}

// The picture within the size limit at every depth it is held at, and enough
// stored data to fill it, before anything is allocated for it.
Status CheckSizes(TIFF* tiff, const Layout& layout, uint64_t fileSize) {
    const uint64_t pixels = uint64_t{layout.width} * layout.height;
    if (DibStride(layout.width, 24) * layout.height > kMaxPixelBytes ||
        pixels * layout.RasterPixelBytes() > kMaxPixelBytes) {
        return Status::TooLarge(kTiffFormat);
    }
    const bool tiled = TIFFIsTiled(tiff);
    const uint64_t block = tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
    if (block == 0 || block > kMaxPixelBytes) {
        return Status::Damaged(kTiffFormat, "unusable strip or tile size");
    }
    const uint64_t stored = StoredBytes(tiff, tiled, fileSize);
    uint64_t needed = 0;
    if (tiled) {
        if (__builtin_mul_overflow(block, uint64_t{TIFFNumberOfTiles(tiff)}, &needed)) {
            needed = UINT64_MAX;
        }
    } else {
        const uint64_t planes = layout.separate ? layout.samples : 1;
        needed = TIFFScanlineSize64(tiff) * layout.height * planes;
    }
    if (needed / MaxRatio(layout.compression) > stored + kRatioSlack) {
        return Status::Damaged(kTiffFormat, "far too little image data for its size");
    }
    return Status::Ok();
}

// ---- Samples into pixels ----

template <typename Sample>
struct Raster {
    uint32_t width = 0;
    uint32_t height = 0;
    Sample* samples = nullptr;  // width x height x 3, rows top-down
    Sample* At(uint32_t x, uint32_t y) const { return samples + (uint64_t{y} * width + x) * 3; }
};

// Turns decoded rows of samples into red, green, blue pixels.
class Unpacker {
  public:
    explicit Unpacker(const Layout& layout) : m_layout(layout) {}

    bool LoadPalette(TIFF* tiff) {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) {
            return false;
        }
        const uint32_t entries = 1u << m_layout.bits;
        // Some writers store 8-bit entries; all under 256 means that.
        bool narrow = true;
        for (uint32_t i = 0; i < entries; ++i) {
            narrow = narrow && red[i] < 256 && green[i] < 256 && blue[i] < 256;
        }
        for (uint32_t i = 0; i < entries; ++i) {
            m_palette[i] = {To8(red[i], narrow), To8(green[i], narrow), To8(blue[i], narrow)};
        }
        return true;
    }

    // `count` pixels of one row (of plane `plane` when planar) into `target`.
    template <typename Sample>
    void Row(const uint8_t* row, uint32_t count, uint16_t plane, Sample* target) const {
        const uint32_t step = m_layout.separate ? 1 : m_layout.samples;
        for (uint32_t x = 0; x < count; ++x, target += 3) {
            const uint32_t first = x * step;
            switch (m_layout.model) {
                case Model::Grey: {
                    const Sample grey = Scaled<Sample>(Grey(Fetch(row, first)));
                    target[0] = target[1] = target[2] = grey;
                    break;
                }
                case Model::Palette: {
                    const auto& colour = m_palette[Fetch(row, first) & 0xFF];
                    target[0] = colour[0], target[1] = colour[1], target[2] = colour[2];
                    break;
                }
                case Model::Rgb:
                case Model::Converted:
                    if (m_layout.separate) {
                        target[plane] = Sample(Fetch(row, x));
                    } else {
                        target[0] = Sample(Fetch(row, first));
                        target[1] = Sample(Fetch(row, first + 1));
                        target[2] = Sample(Fetch(row, first + 2));
                    }
                    break;
            }
        }
    }

  private:
    static uint8_t To8(uint16_t value, bool narrow) {
        return narrow ? uint8_t(value) : uint8_t((uint32_t{value} * 255 + 32895) >> 16);
    }
    uint32_t Grey(uint32_t value) const {
        return m_layout.invert ? ((1u << m_layout.bits) - 1) - value : value;
    }
    template <typename Sample>
    Sample Scaled(uint32_t value) const {
        if (sizeof(Sample) == 2 || m_layout.bits == 8) {
            return Sample(value);
        }
        return Sample(value * 255 / ((1u << m_layout.bits) - 1));
    }
    // Sample i of a row: host-order 16-bit words (the library swaps them),
    // bytes, or bits packed from the high end of each byte.
    uint32_t Fetch(const uint8_t* row, uint32_t i) const {
        const uint16_t bits = m_layout.bits;
        if (bits == 8) {
            return row[i];
        }
        if (bits == 16) {
            uint16_t word;
            std::memcpy(&word, row + uint64_t{i} * 2, 2);
            return word;
        }
        const uint64_t bit = uint64_t{i} * bits;
        return (row[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
    }

    const Layout& m_layout;
    std::array<std::array<uint8_t, 3>, 256> m_palette{};
};

Status LibraryFailure(const Messages& messages, const char* fallback) {
    return Status::Damaged(kTiffFormat, messages.error.empty() ? fallback : messages.error);
}

template <typename Sample>
Status ReadStrips(TIFF* tiff, const Layout& layout, const Unpacker& unpack,
                  const Raster<Sample>& raster, const Messages& messages) {
    uint32_t perStrip = layout.height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &perStrip);
    perStrip = std::clamp<uint32_t>(perStrip, 1, layout.height);
    const uint64_t rowBytes = TIFFScanlineSize64(tiff);
    ByteBuffer buffer = AllocateBytes(rowBytes * perStrip);
    if (!buffer) {
        return Status::OutOfMemory(kTiffFormat);
    }
    const uint16_t planes = layout.separate ? layout.Needed() : 1;
    for (uint16_t plane = 0; plane < planes; ++plane) {
        for (uint32_t top = 0; top < layout.height; top += perStrip) {
            const uint32_t rows = std::min(perStrip, layout.height - top);
            const uint64_t wanted = rowBytes * rows;
            const tmsize_t got = TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, top, plane),
                                                      buffer.get(), tmsize_t(wanted));
            if (got < 0 || uint64_t(got) < wanted) {
                return LibraryFailure(messages, "a strip cannot be read");
            }
            for (uint32_t r = 0; r < rows; ++r) {
                unpack.Row(buffer.get() + r * rowBytes, layout.width, plane, raster.At(0, top + r));
            }
        }
    }
    return Status::Ok();
}

template <typename Sample>
Status ReadTiles(TIFF* tiff, const Layout& layout, const Unpacker& unpack,
                 const Raster<Sample>& raster, const Messages& messages) {
    uint32_t tileWidth = 0;
    uint32_t tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    const uint64_t tileBytes = TIFFTileSize64(tiff);
    const uint64_t rowBytes = TIFFTileRowSize64(tiff);
    if (tileWidth == 0 || tileHeight == 0 || rowBytes * tileHeight > tileBytes) {
        return Status::Damaged(kTiffFormat, "unusable tile size");
    }
    ByteBuffer buffer = AllocateBytes(tileBytes);
    if (!buffer) {
        return Status::OutOfMemory(kTiffFormat);
    }
    const uint16_t planes = layout.separate ? layout.Needed() : 1;
    for (uint16_t plane = 0; plane < planes; ++plane) {
        for (uint32_t top = 0; top < layout.height; top += tileHeight) {
            for (uint32_t left = 0; left < layout.width; left += tileWidth) {
                const tmsize_t got =
                    TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, left, top, 0, plane),
                                        buffer.get(), tmsize_t(tileBytes));
                if (got < 0 || uint64_t(got) < tileBytes) {
                    return LibraryFailure(messages, "a tile cannot be read");
                }
                const uint32_t rows = std::min(tileHeight, layout.height - top);
                const uint32_t columns = std::min(tileWidth, layout.width - left);
                for (uint32_t r = 0; r < rows; ++r) {
                    unpack.Row(buffer.get() + r * rowBytes, columns, plane,
                               raster.At(left, top + r));
                }
            }
        }
    }
    return Status::Ok();
}

// YCbCr the JPEG codec does not convert goes through the library's RGBA
// interface, asked for the file's own orientation so that the rows come in
// stored order like every other path's.
Status ReadConverted(TIFF* tiff, const Raster<uint8_t>& raster, const Messages& messages) {
    const Status refused = Unsupported("YCbCr TIFF of a kind that cannot be converted");
    char reason[1024] = {};
    if (!TIFFRGBAImageOK(tiff, reason)) {
        return refused;
    }
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, tiff, 0, reason)) {
        return refused;
    }
    image.req_orientation = image.orientation;
    ByteBuffer packed = AllocateBytes(uint64_t{raster.width} * raster.height * 4);
    int done = 0;
    if (packed) {
        done = TIFFRGBAImageGet(&image, reinterpret_cast<uint32_t*>(packed.get()), raster.width,
                                raster.height);
    }
    TIFFRGBAImageEnd(&image);
    if (!packed) {
        return Status::OutOfMemory(kTiffFormat);
    }
    if (!done) {
        return LibraryFailure(messages, "the picture cannot be converted");
    }
    const uint64_t pixels = uint64_t{raster.width} * raster.height;
    const auto* abgr = reinterpret_cast<const uint32_t*>(packed.get());
    for (uint64_t i = 0; i < pixels; ++i) {
        raster.samples[i * 3] = uint8_t(TIFFGetR(abgr[i]));
        raster.samples[i * 3 + 1] = uint8_t(TIFFGetG(abgr[i]));
        raster.samples[i * 3 + 2] = uint8_t(TIFFGetB(abgr[i]));
    }
    return Status::Ok();
}

template <typename Sample>
Status ReadPixels(TIFF* tiff, const Layout& layout, const Messages& messages,
                  const Raster<Sample>& raster) {
    if constexpr (sizeof(Sample) == 1) {
        if (layout.model == Model::Converted) {
            return ReadConverted(tiff, raster, messages);
        }
    }
    Unpacker unpack(layout);
    if (layout.model == Model::Palette && !unpack.LoadPalette(tiff)) {
        return Status::Damaged(kTiffFormat, "palette picture without its colour map");
    }
    return TIFFIsTiled(tiff) ? ReadTiles(tiff, layout, unpack, raster, messages)
                             : ReadStrips(tiff, layout, unpack, raster, messages);
}

bool Transposed(uint16_t orientation) {
    return orientation >= ORIENTATION_LEFTTOP;
}

// The stored picture as it is meant to be seen. Each orientation moves a
// stored pixel a fixed step in the target per column and per row.
template <typename Sample>
void Orient(const Raster<Sample>& from, uint16_t orientation, const Raster<Sample>& to) {
    const int64_t w = from.width;
    const int64_t h = from.height;
    const int64_t across = 3;           // one target column
    const int64_t down = to.width * 3;  // one target row
    int64_t start = 0, perColumn = across, perRow = down;
    switch (orientation) {
        case ORIENTATION_TOPRIGHT:
            start = (w - 1) * across, perColumn = -across, perRow = down;
            break;
        case ORIENTATION_BOTRIGHT:
            start = (h - 1) * down + (w - 1) * across, perColumn = -across, perRow = -down;
            break;
        case ORIENTATION_BOTLEFT:
            start = (h - 1) * down, perColumn = across, perRow = -down;
            break;
        case ORIENTATION_LEFTTOP:
            start = 0, perColumn = down, perRow = across;
            break;
        case ORIENTATION_RIGHTTOP:
            start = (h - 1) * across, perColumn = down, perRow = -across;
            break;
        case ORIENTATION_RIGHTBOT:
            start = (w - 1) * down + (h - 1) * across, perColumn = -down, perRow = -across;
            break;
        case ORIENTATION_LEFTBOT:
            start = (w - 1) * down, perColumn = -down, perRow = across;
            break;
        default:
            break;
    }
    for (int64_t r = 0; r < h; ++r) {
        const Sample* source = from.At(0, uint32_t(r));
        Sample* target = to.samples + start + r * perRow;
        for (int64_t c = 0; c < w; ++c, source += 3, target += perColumn) {
            target[0] = source[0], target[1] = source[1], target[2] = source[2];
        }
    }
}

uint8_t RoundTo8(uint16_t sample) {
    // Nearest of the 256 levels: sample / 257 rounded, without a division.
    return static_cast<uint8_t>((uint32_t{sample} * 255 + 32895) >> 16);
}

MemoryBlock NewDib(uint32_t width, uint32_t height, MemoryBlock& spare, uint8_t** pixels) {
    MemoryBlock dib = CreateDib(width, height, 24, std::move(spare));
    if (dib) {
        *pixels = dib.Data() + DibPixelOffset(ParseInfoHeader(dib.Data()));
    }
    return dib;
}

Status Decode8(TIFF* tiff, const Layout& layout, const Messages& messages, MemoryBlock& spare,
               DecodedImage& out) {
    const uint32_t w = layout.width;
    const uint32_t h = layout.height;
    ByteBuffer stored = AllocateBytes(TightBufferSize(w, h));
    if (!stored) {
        return Status::OutOfMemory(kTiffFormat);
    }
    Status status = ReadPixels(tiff, layout, messages, Raster<uint8_t>{w, h, stored.get()});
    if (!status.IsOk()) {
        return status;
    }
    const bool swap = Transposed(layout.orientation);
    const uint32_t outWidth = swap ? h : w;
    const uint32_t outHeight = swap ? w : h;
    if (layout.orientation != ORIENTATION_TOPLEFT) {
        ByteBuffer turned = AllocateBytes(TightBufferSize(w, h));
        if (!turned) {
            return Status::OutOfMemory(kTiffFormat);
        }
        Orient(Raster<uint8_t>{w, h, stored.get()}, layout.orientation,
               Raster<uint8_t>{outWidth, outHeight, turned.get()});
        stored = std::move(turned);
    }
    uint8_t* pixels = nullptr;
    out.dib = NewDib(outWidth, outHeight, spare, &pixels);
    if (!out.dib) {
        return Status::OutOfMemory(kTiffFormat);
    }
    TightRgbToDibRows(stored.get(), outWidth, outHeight, pixels, DibStride(outWidth, 24));
    return Status::Ok();
}

Status DecodeDeep(TIFF* tiff, const Layout& layout, const Messages& messages, MemoryBlock& spare,
                  DecodedImage& out) {
    const uint32_t w = layout.width;
    const uint32_t h = layout.height;
    DeepPixels stored;
    if (!stored.Allocate(w, h)) {
        return Status::OutOfMemory(kTiffFormat);
    }
    Status status =
        ReadPixels(tiff, layout, messages, Raster<uint16_t>{w, h, stored.samples.get()});
    if (!status.IsOk()) {
        return status;
    }
    if (layout.orientation != ORIENTATION_TOPLEFT) {
        const bool swap = Transposed(layout.orientation);
        DeepPixels turned;
        if (!turned.Allocate(swap ? h : w, swap ? w : h)) {
            return Status::OutOfMemory(kTiffFormat);
        }
        Orient(Raster<uint16_t>{w, h, stored.samples.get()}, layout.orientation,
               Raster<uint16_t>{turned.width, turned.height, turned.samples.get()});
        stored = std::move(turned);
    }
    uint8_t* pixels = nullptr;
    out.dib = NewDib(stored.width, stored.height, spare, &pixels);
    if (!out.dib) {
        return Status::OutOfMemory(kTiffFormat);
    }
    const uint64_t stride = DibStride(stored.width, 24);
    for (uint32_t r = 0; r < stored.height; ++r) {
        const uint16_t* source = stored.Row(r);
        uint8_t* target = pixels + (uint64_t{stored.height} - 1 - r) * stride;
        for (uint32_t x = 0; x < stored.width; ++x, source += 3, target += 3) {
            target[0] = RoundTo8(source[2]);
            target[1] = RoundTo8(source[1]);
            target[2] = RoundTo8(source[0]);
        }
    }
    out.deep = std::move(stored);
    return Status::Ok();
}

// Metadata is a bonus on a picture already decoded: what can't be had is left out.
void ReadMetadata(TIFF* tiff, ImageMetadata& metadata) {
    uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &count, &data) && data != nullptr) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        metadata.icc.assign(bytes, bytes + count);
    }
    if (TIFFGetField(tiff, TIFFTAG_XMLPACKET, &count, &data) && data != nullptr) {
        std::string packet(static_cast<const char*>(data), count);
        packet.erase(std::find(packet.begin(), packet.end(), '\0'), packet.end());
        metadata.xmp = std::move(packet);
    }
    const char* description = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) && description != nullptr &&
        description[0] != '\0') {
        metadata.comments.emplace_back(description);
    }
}

std::string Warnings(TIFF* tiff, const Messages& messages) {
    std::string warning;
    if (!TIFFLastDirectory(tiff)) {
        warning = kMultiPageWarning;
    }
    if (!messages.warning.empty()) {
        warning += (warning.empty() ? "TIFF: " : "; TIFF: ") + messages.warning;
    }
    return warning;
}

Status DecodeOpened(TIFF* tiff, uint64_t fileSize, const Messages& messages, MemoryBlock& spare,
                    DecodedImage& out) {
    Layout layout;
    Status status = ReadLayout(tiff, layout);
    if (status.IsOk()) {
        status = CheckSizes(tiff, layout, fileSize);
    }
    if (status.IsOk()) {
        status = layout.Deep() ? DecodeDeep(tiff, layout, messages, spare, out)
                               : Decode8(tiff, layout, messages, spare, out);
    }
    if (!status.IsOk()) {
        out.dib = MemoryBlock();
        out.deep = DeepPixels();
    }
    return status;
}

// ---- EXIF between TIFF files and EXIF blocks ----
// An EXIF block is a small TIFF of its own whose first directory points at an
// EXIF and a GPS directory. These are copied entry by entry, the values that
// lie outside their entries moved with them, in the byte order they came in.

constexpr uint16_t kExifDirectories[] = {TIFFTAG_EXIFIFD, TIFFTAG_GPSIFD};
constexpr uint16_t kInteroperabilityTag = 40965;  // a directory of its own, left out
constexpr uint16_t kMaxExifEntries = 1024;
constexpr uint64_t kEntryBytes = 12;
constexpr uint64_t kHeaderBytes = 8;

using Bytes = std::vector<uint8_t>;

struct Order {
    bool big = false;
    uint32_t Get(const uint8_t* p, int size) const {
        uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value |= uint32_t(p[big ? i : size - 1 - i]) << (8 * (size - 1 - i));
        }
        return value;
    }
    void Put(uint8_t* p, uint32_t value, int size) const {
        for (int i = 0; i < size; ++i) {
            p[big ? size - 1 - i : i] = uint8_t(value >> (8 * i));
        }
    }
};

uint64_t TypeBytes(uint32_t type) {
    switch (type) {
        case TIFF_BYTE:
        case TIFF_ASCII:
        case TIFF_SBYTE:
        case TIFF_UNDEFINED:
            return 1;
        case TIFF_SHORT:
        case TIFF_SSHORT:
            return 2;
        case TIFF_LONG:
        case TIFF_SLONG:
        case TIFF_FLOAT:
            return 4;
        case TIFF_RATIONAL:
        case TIFF_SRATIONAL:
        case TIFF_DOUBLE:
            return 8;
        default:
            return 0;  // unknown types, and directory pointers, are left out
    }
}

// Appends to `out`, whose first byte lies at `base` in the file being made, a
// copy of the classic directory at `offset` in `source`. False (with `out` as
// it was) when the directory does not lie within the source.
bool CopyDirectory(ByteView source, Order order, uint64_t offset, uint64_t base, Bytes& out) {
    if (offset + 2 > source.size()) {
        return false;
    }
    const uint32_t count = order.Get(source.data() + offset, 2);
    if (count == 0 || count > kMaxExifEntries || offset + 2 + count * kEntryBytes > source.size()) {
        return false;
    }
    struct Kept {
        const uint8_t* entry;
        uint64_t bytes;
        uint64_t from;
    };
    std::vector<Kept> kept;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = source.data() + offset + 2 + i * kEntryBytes;
        const uint64_t bytes = TypeBytes(order.Get(entry + 2, 2)) * order.Get(entry + 4, 4);
        const uint64_t from = bytes > 4 ? order.Get(entry + 8, 4) : 0;
        if (bytes == 0 || order.Get(entry, 2) == kInteroperabilityTag ||
            (bytes > 4 && (from > source.size() || bytes > source.size() - from))) {
            continue;
        }
        kept.push_back({entry, bytes, from});
    }
    if (kept.empty()) {
        return false;
    }
    const uint64_t start = out.size();
    out.resize(start + 2 + kept.size() * kEntryBytes + 4, 0);
    order.Put(out.data() + start, uint32_t(kept.size()), 2);
    for (size_t i = 0; i < kept.size(); ++i) {
        uint8_t* entry = out.data() + start + 2 + i * kEntryBytes;
        std::memcpy(entry, kept[i].entry, kEntryBytes);
        if (kept[i].bytes > 4) {
            out.resize(out.size() + (out.size() & 1));  // values start on a word boundary
            order.Put(out.data() + start + 2 + i * kEntryBytes + 8, uint32_t(base + out.size()), 4);
            const uint8_t* value = source.data() + kept[i].from;
            out.insert(out.end(), value, value + kept[i].bytes);
        }
    }
    out.resize(out.size() + (out.size() & 1));
    return base + out.size() <= UINT32_MAX;
}

// The offsets of the EXIF and GPS directories a classic TIFF's first
// directory points at (0 where there is none), or false without a header.
bool FindExifDirectories(ByteView block, Order* order, uint64_t offsets[2]) {
    offsets[0] = offsets[1] = 0;
    if (block.size() < kHeaderBytes || !LooksLikeTiff(block) || block[2] == 43 || block[3] == 43) {
        return false;
    }
    order->big = block[0] == 'M';
    const uint64_t first = order->Get(block.data() + 4, 4);
    if (first + 2 > block.size()) {
        return false;
    }
    const uint32_t count = order->Get(block.data() + first, 2);
    for (uint32_t i = 0; i < count && first + 2 + (i + 1) * kEntryBytes <= block.size(); ++i) {
        const uint8_t* entry = block.data() + first + 2 + i * kEntryBytes;
        for (int d = 0; d < 2; ++d) {
            if (order->Get(entry, 2) == kExifDirectories[d] && order->Get(entry + 4, 4) == 1) {
                offsets[d] = order->Get(entry + 8, 4);
            }
        }
    }
    return true;
}

// The EXIF block of a TIFF file: its EXIF and GPS directories under a header
// and first directory of their own. Empty when it has none, or they are broken.
Bytes ExifBlockOf(ByteView file) {
    Order order;
    uint64_t offsets[2];
    if (!FindExifDirectories(file, &order, offsets) || (offsets[0] == 0 && offsets[1] == 0)) {
        return {};
    }
    const uint16_t count = uint16_t((offsets[0] != 0) + (offsets[1] != 0));
    Bytes block(kHeaderBytes + 2 + count * kEntryBytes + 4, 0);
    block[0] = block[1] = order.big ? 'M' : 'I';
    order.Put(block.data() + 2, 42, 2);
    order.Put(block.data() + 4, uint32_t(kHeaderBytes), 4);
    order.Put(block.data() + kHeaderBytes, count, 2);
    uint64_t entry = kHeaderBytes + 2;  // an index: the copies move the block
    for (int d = 0; d < 2; ++d) {
        if (offsets[d] == 0) {
            continue;
        }
        const uint64_t at = block.size();
        if (!CopyDirectory(file, order, offsets[d], 0, block)) {
            return {};
        }
        order.Put(&block[entry], kExifDirectories[d], 2);
        order.Put(&block[entry + 2], TIFF_LONG, 2);
        order.Put(&block[entry + 4], 1, 4);
        order.Put(&block[entry + 8], uint32_t(at), 4);
        entry += kEntryBytes;
    }
    return block;
}

}  // namespace

bool LooksLikeTiff(ByteView bytes) {
    if (bytes.size() < 4) {
        return false;
    }
    const uint8_t* b = bytes.data();
    const bool little = b[0] == 'I' && b[1] == 'I' && (b[2] == 42 || b[2] == 43) && b[3] == 0;
    const bool big = b[0] == 'M' && b[1] == 'M' && b[2] == 0 && (b[3] == 42 || b[3] == 43);
    return little || big;
}

Status DecodeTiffImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out) {
    if (!LooksLikeTiff(bytes)) {
        return Status::NotThisFormat(kTiffFormat);
    }
    Messages messages;
    auto options = NewOptions(&messages);
    if (!options) {
        return Status::OutOfMemory(kTiffFormat);
    }
    MemoryStream stream{bytes.data(), bytes.size(), 0};
    TiffHandle tiff(TIFFClientOpenExt(kTiffFormat, "rm", &stream, ReadMemory, RefuseWrite,
                                      SeekMemory, CloseMemory, SizeOfMemory, NoMap, NoUnmap,
                                      options.get()));
    if (!tiff) {
        return LibraryFailure(messages, "unreadable header");
    }
    Status status = DecodeOpened(tiff.get(), bytes.size(), messages, spare, out);
    if (status.IsOk()) {
        out.metadata = ImageMetadata();
        ReadMetadata(tiff.get(), out.metadata);
        out.metadata.exif = ExifBlockOf(bytes);
        out.warning = Warnings(tiff.get(), messages);
    }
    return status;
}

namespace {

// ---- Writing ----

// Deflate level 6 with the horizontal predictor: lossless, and the strips a
// quarter MiB each so that zlib's window is filled and their count stays low.
constexpr int kDeflateLevel = 6;
constexpr uint64_t kStripBytes = uint64_t{256} << 10;
constexpr uint32_t kMaxWriteSide = 0xFFFFFFFE;

struct FileStream {
    FileHandle* file = nullptr;
    int error = 0;  // the first failure's errno
};

void Remember(FileStream* stream) {
    if (stream->error == 0) {
        const int error = stream->file->LastError();
        stream->error = error != 0 ? error : EIO;
    }
}

tmsize_t ReadFromFile(thandle_t handle, void* buffer, tmsize_t count) {
    auto* stream = static_cast<FileStream*>(handle);
    const int64_t got = stream->file->Read(buffer, uint64_t(std::max<tmsize_t>(count, 0)));
    if (got < 0) {
        Remember(stream);
    }
    return tmsize_t(got);
}

tmsize_t WriteToFile(thandle_t handle, void* buffer, tmsize_t count) {
    auto* stream = static_cast<FileStream*>(handle);
    const int64_t written = stream->file->Write(buffer, uint64_t(std::max<tmsize_t>(count, 0)));
    if (written != int64_t(count)) {
        Remember(stream);
        return -1;
    }
    return tmsize_t(written);
}

toff_t SeekFile(thandle_t handle, toff_t offset, int whence) {
    auto* stream = static_cast<FileStream*>(handle);
    const SeekFrom from = whence == SEEK_CUR   ? SeekFrom::Current
                          : whence == SEEK_END ? SeekFrom::End
                                               : SeekFrom::Begin;
    const int64_t position = stream->file->Seek(int64_t(offset), from);
    if (position < 0) {
        Remember(stream);
        return toff_t(-1);
    }
    return toff_t(position);
}

toff_t SizeOfFile(thandle_t handle) {
    FileHandle* file = static_cast<FileStream*>(handle)->file;
    const int64_t here = file->Tell();
    const int64_t end = file->Seek(0, SeekFrom::End);
    file->Seek(here, SeekFrom::Begin);
    return toff_t(std::max<int64_t>(end, 0));
}

// The rows of either depth, top-down.
class RowFeed {
  public:
    virtual ~RowFeed() = default;
    virtual const void* Row(uint32_t r) = 0;
};

class RgbFeed final : public RowFeed {
  public:
    explicit RgbFeed(RgbRowSource& rows) : m_rows(rows) {}
    const void* Row(uint32_t r) override { return m_rows.Row(r); }

  private:
    RgbRowSource& m_rows;
};

class DeepFeed final : public RowFeed {
  public:
    explicit DeepFeed(const DeepPixels& pixels) : m_pixels(pixels) {}
    const void* Row(uint32_t r) override { return m_pixels.Row(r); }

  private:
    const DeepPixels& m_pixels;
};

void SetMetadata(TIFF* tiff, const ImageMetadata& metadata) {
    if (!metadata.icc.empty()) {
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, uint32_t(metadata.icc.size()), metadata.icc.data());
    }
    if (!metadata.xmp.empty()) {
        TIFFSetField(tiff, TIFFTAG_XMLPACKET, uint32_t(metadata.xmp.size()), metadata.xmp.data());
    }
    if (!metadata.comments.empty()) {
        TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, metadata.comments.front().c_str());
    }
}

bool SetFields(TIFF* tiff, uint32_t width, uint32_t height, uint16_t bits) {
    const uint64_t rowBytes = uint64_t{width} * 3 * (bits / 8);
    const uint32_t rowsPerStrip = uint32_t(std::clamp<uint64_t>(kStripBytes / rowBytes, 1, height));
    return TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) &&
           TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
           TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits) &&
           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3) &&
           TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
           TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
           TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
           TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
           TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, kDeflateLevel) &&
           TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
           TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

bool WriteRows(TIFF* tiff, RowFeed& feed, uint32_t height, uint64_t rowBytes) {
    ByteBuffer scratch = AllocateBytes(rowBytes);
    if (!scratch) {
        return false;
    }
    for (uint32_t r = 0; r < height; ++r) {
        // A copy, since the predictor works in place.
        std::memcpy(scratch.get(), feed.Row(r), rowBytes);
        if (TIFFWriteScanline(tiff, scratch.get(), r, 0) != 1) {
            return false;
        }
    }
    return TIFFWriteDirectory(tiff) == 1;
}

// The EXIF block's directories that can be carried, and the byte order the
// file must then be written in for their values to be copied unchanged.
struct ExifPlan {
    Order order;
    uint64_t offsets[2] = {0, 0};
    ByteView block;
    bool Any() const { return offsets[0] != 0 || offsets[1] != 0; }
};

ExifPlan PlanExif(const ImageMetadata* metadata) {
    ExifPlan plan;
    if (metadata == nullptr || !FindExifDirectories(metadata->exif, &plan.order, plan.offsets)) {
        return ExifPlan();
    }
    plan.block = metadata->exif;
    for (uint64_t& offset : plan.offsets) {
        Bytes trial;
        if (offset != 0 && !CopyDirectory(plan.block, plan.order, offset, 0, trial)) {
            offset = 0;  // a broken directory is left out, not the picture
        }
    }
    return plan;
}

bool ReadAt(FileHandle& file, uint64_t at, void* bytes, uint64_t size) {
    return file.Seek(int64_t(at), SeekFrom::Begin) == int64_t(at) &&
           file.Read(bytes, size) == int64_t(size);
}

bool WriteAt(FileHandle& file, uint64_t at, const void* bytes, uint64_t size) {
    return file.Seek(int64_t(at), SeekFrom::Begin) == int64_t(at) &&
           file.Write(bytes, size) == int64_t(size);
}

// Appends the planned directories to the finished file and points the
// entries reserved in its first directory at them.
bool AppendExif(FileHandle& file, const ExifPlan& plan) {
    const int64_t end = file.Seek(0, SeekFrom::End);
    if (end < 0) {
        return false;
    }
    Bytes tail(uint64_t(end) & 1, 0);
    uint32_t placed[2] = {0, 0};
    for (int d = 0; d < 2; ++d) {
        if (plan.offsets[d] != 0) {
            placed[d] = uint32_t(uint64_t(end) + tail.size());
            if (!CopyDirectory(plan.block, plan.order, plan.offsets[d], uint64_t(end), tail)) {
                return false;
            }
        }
    }
    uint8_t header[kHeaderBytes];
    uint8_t countBytes[2];
    if (!WriteAt(file, uint64_t(end), tail.data(), tail.size()) ||
        !ReadAt(file, 0, header, sizeof header) ||
        !ReadAt(file, plan.order.Get(header + 4, 4), countBytes, 2)) {
        return false;
    }
    const uint64_t first = plan.order.Get(header + 4, 4);
    Bytes entries(plan.order.Get(countBytes, 2) * kEntryBytes);
    if (!ReadAt(file, first + 2, entries.data(), entries.size())) {
        return false;
    }
    for (uint64_t at = 0; at < entries.size(); at += kEntryBytes) {
        for (int d = 0; d < 2; ++d) {
            if (plan.order.Get(&entries[at], 2) == kExifDirectories[d]) {
                plan.order.Put(&entries[at + 8], placed[d], 4);
            }
        }
    }
    return WriteAt(file, first + 2, entries.data(), entries.size());
}

Status Encode(const char* path, RowFeed& feed, uint32_t width, uint32_t height, uint16_t bits,
              const ImageMetadata* metadata) {
    if (width == 0 || height == 0 || width > kMaxWriteSide || height > kMaxWriteSide) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    AtomicFileWriter writer;
    if (!writer.Open(path)) {
        return Status::IoError(writer.LastError());
    }
    Messages messages;
    auto options = NewOptions(&messages);
    FileStream stream{&writer.File(), 0};
    const ExifPlan exif = PlanExif(metadata);
    const char* mode = !exif.Any() ? "w" : exif.order.big ? "wb" : "wl";
    TiffHandle tiff;
    if (options) {
        tiff.reset(TIFFClientOpenExt(path, mode, &stream, ReadFromFile, WriteToFile, SeekFile,
                                     CloseMemory, SizeOfFile, NoMap, NoUnmap, options.get()));
    }
    bool done = tiff && SetFields(tiff.get(), width, height, bits);
    if (done && metadata != nullptr) {
        SetMetadata(tiff.get(), *metadata);
        for (int d = 0; d < 2; ++d) {
            if (exif.offsets[d] != 0) {
                TIFFSetField(tiff.get(), kExifDirectories[d], uint64_t{0});  // set once placed
            }
        }
    }
    done = done && WriteRows(tiff.get(), feed, height, uint64_t{width} * 3 * (bits / 8));
    tiff.reset();
    if (done && stream.error == 0 && exif.Any() && !AppendExif(writer.File(), exif)) {
        Remember(&stream);
    }
    if (!done || stream.error != 0) {
        writer.Abandon();
        const int error = stream.error != 0 ? stream.error : (options ? EIO : ENOMEM);
        return Status::IoError(error, messages.error);
    }
    if (!writer.Commit()) {
        return Status::IoError(writer.LastError());
    }
    return Status::Ok();
}

}  // namespace

Status WriteTiffFile(const char* path, RgbRowSource& rows, uint32_t width, uint32_t height,
                     const ImageMetadata* metadata) {
    RgbFeed feed(rows);
    return Encode(path, feed, width, height, 8, metadata);
}

Status WriteTiffFile(const char* path, const DeepPixels& pixels, const ImageMetadata* metadata) {
    if (pixels.IsEmpty()) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    DeepFeed feed(pixels);
    return Encode(path, feed, pixels.width, pixels.height, 16, metadata);
}

Status EncodeTiffImage(const char* path, const PictureToWrite& picture,
                       const WriteOptions& options) {
    if (picture.deep != nullptr && !picture.deep->IsEmpty()) {
        return WriteTiffFile(path, *picture.deep, options.metadata);
    }
    if (picture.rows == nullptr) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    return WriteTiffFile(path, *picture.rows, picture.width, picture.height, options.metadata);
}

}  // namespace tessary
