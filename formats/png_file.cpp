#include "formats/png_file.h"

#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "formats/dib.h"
#include "formats/png_row_filter.h"
#include "formats/rgb_buffer.h"
#include "formats/size_limit.h"
#include "platform/atomic_file.h"

namespace tessary {

namespace {

constexpr uint8_t kSignature[kPngSignatureSize] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// No picture side beyond what one row of the DIB can hold within the limit,
// and never beyond what PNG itself allows.
constexpr uint32_t kMaxSide = uint32_t(std::min<uint64_t>(kMaxPixelBytes / 3, 0x7FFFFFFF));
// Ancillary chunks (profiles, EXIF, text) larger than this, or more than the
// cache in all, are refused by the library rather than held in memory.
constexpr size_t kMaxChunkBytes = size_t{64} << 20;
constexpr size_t kMaxChunkCache = size_t{128} << 20;
// Deflate gives at most 1032 bytes for every byte it reads (a 258-byte match
// coded in two bits), so a file can't inflate to more than that many times its
// own size. The slack covers the smallest files.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 1024;

// Length, type and CRC around a chunk's data.
constexpr uint64_t kChunkFrame = 12;
// A last IDAT chunk shorter than this may hold nothing but the end of the
// zlib stream (end-of-block code, an empty final block, the Adler-32).
constexpr uint64_t kUnfedTailBytes = 16;
// zlib's message for a stream whose Adler-32 does not match its data.
constexpr char kBadAdler[] = "incorrect data check";

constexpr char kCommentKeyword[] = "Comment";
constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";
constexpr char kProfileName[] = "ICC profile";

// Output settings, chosen by measurement on 1080p frames, clean, with camera
// noise and with a JPEG history (docs/performance.md). Pictures whose filtered
// rows fit in kWholePictureBytes are compressed in one piece by libdeflate at
// kDeflateLevel, with the none, sub and up row filters: within 3 % of
// ImageMagick's default output on every set, in a third of zlib's time.
// Larger pictures stream row by row through the library's zlib at level 6 with
// the filtered strategy, so memory stays at a few rows whatever their size.
constexpr int kDeflateLevel = 4;
constexpr uint64_t kWholePictureBytes = uint64_t{96} << 20;
constexpr uint32_t kIdatBytes = uint32_t{1} << 20;
constexpr int kCompressionLevel = 6;
constexpr int kCompressionStrategy = Z_FILTERED;
constexpr int kFilterChoice =
    SPNG_FILTER_CHOICE_NONE | SPNG_FILTER_CHOICE_SUB | SPNG_FILTER_CHOICE_UP;

// Where the pixels of each Adam7 pass lie in a row: first column and step.
constexpr uint32_t kPassStart[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t kPassStep[7] = {8, 8, 4, 4, 2, 2, 1};

struct FreeContext {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, FreeContext>;

uint32_t LoadBe32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// One chunk of a file, its data within the bytes (a cut-short chunk has none).
struct ChunkView {
    char type[5] = {};
    std::span<const uint8_t> data;
    bool whole = false;  // data and CRC all present
    uint64_t at = 0;     // where its length field starts
};

// Walks the chunks after the signature, stopping at IEND, at the end of the
// bytes, or when `visit` returns false. Every length is checked against what
// is there before it is used.
template <typename Visit>
void WalkChunks(std::span<const uint8_t> bytes, Visit&& visit) {
    uint64_t at = kPngSignatureSize;
    while (at + kChunkFrame <= bytes.size()) {
        ChunkView chunk;
        chunk.at = at;
        std::memcpy(chunk.type, bytes.data() + at + 4, 4);
        const uint64_t length = LoadBe32(bytes.data() + at);
        chunk.whole = length <= bytes.size() - at - kChunkFrame;
        if (chunk.whole) {
            chunk.data = bytes.subspan(at + 8, length);
        }
        if (!visit(chunk) || !chunk.whole || std::strcmp(chunk.type, "IEND") == 0) {
            return;
        }
        at += kChunkFrame + length;
    }
}

// For a whole chunk: whether the CRC after its data covers its type and data.
bool CrcFits(std::span<const uint8_t> bytes, const ChunkView& chunk) {
    const uLong crc =
        crc32(crc32(0, bytes.data() + chunk.at + 4, 4), chunk.data.data(), uInt(chunk.data.size()));
    return crc == LoadBe32(chunk.data.data() + chunk.data.size());
}

bool IsCritical(const ChunkView& chunk) {
    return (chunk.type[0] & 0x20) == 0;
}

// Names the first critical chunk whose CRC fails, for the reason a user reads.
std::string ChecksumFailure(std::span<const uint8_t> bytes) {
    std::string failed;
    WalkChunks(bytes, [&](const ChunkView& chunk) {
        if (chunk.whole && IsCritical(chunk) && !CrcFits(bytes, chunk)) {
            failed = chunk.type;
            return false;
        }
        return true;
    });
    return failed.empty() ? "bad chunk checksum" : "bad checksum in " + failed;
}

// The library stops reading image data once the last row is decoded, so a
// zlib trailer that sits alone in the last IDAT chunk(s) is never compared.
// When the tail of the stream is that short, the whole stream is inflated
// once more (output thrown away) for zlib to check its Adler-32; otherwise
// the library has already fed the trailer to zlib with the last rows.
bool TrailerMayBeUnread(std::span<const uint8_t> bytes) {
    uint64_t lastIdat = UINT64_MAX;
    WalkChunks(bytes, [&](const ChunkView& chunk) {
        if (std::strcmp(chunk.type, "IDAT") == 0 && chunk.whole) {
            lastIdat = chunk.data.size();
        }
        return true;
    });
    return lastIdat < kUnfedTailBytes;
}

// True when zlib, inflating every IDAT chunk in turn, finds the stream's
// Adler-32 wrong (and the data otherwise sound).
bool AdlerFails(std::span<const uint8_t> bytes) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;  // no memory to check with: the library's word stands
    }
    uint8_t sink[16384];
    int result = Z_OK;
    WalkChunks(bytes, [&](const ChunkView& chunk) {
        if (std::strcmp(chunk.type, "IDAT") != 0) {
            return true;
        }
        stream.next_in = const_cast<Bytef*>(chunk.data.data());
        stream.avail_in = uInt(chunk.data.size());
        while (result == Z_OK && stream.avail_in > 0) {
            stream.next_out = sink;
            stream.avail_out = sizeof sink;
            result = inflate(&stream, Z_NO_FLUSH);
        }
        return result == Z_OK;
    });
    const bool checkFailed =
        result == Z_DATA_ERROR && stream.msg != nullptr && std::strcmp(stream.msg, kBadAdler) == 0;
    inflateEnd(&stream);
    return checkFailed;
}

Status StatusOfError(int error, std::span<const uint8_t> bytes) {
    switch (error) {
        case SPNG_ECHUNK_CRC:
            return Status::Damaged(kPngFormat, ChecksumFailure(bytes));
        case SPNG_EIDAT_STREAM:
            return Status::Damaged(
                kPngFormat, AdlerFails(bytes) ? "bad checksum in IDAT" : spng_strerror(error));
        case SPNG_EMEM:
            return Status::OutOfMemory(kPngFormat);
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT:
            return Status::TooLarge(kPngFormat);
        case SPNG_ECHUNK_LIMITS:
            return Status::Unsupported(kPngFormat, "PNG with a chunk over 64 MiB");
        case SPNG_ECHUNK_UNKNOWN_CRITICAL:
            return Status::Unsupported(kPngFormat, "PNG with an unknown critical chunk");
        case SPNG_IO_EOF:
        case SPNG_EOF:
            return Status::Damaged(kPngFormat, "the file ends early");
        default:
            return Status::Damaged(kPngFormat, spng_strerror(error));
    }
}

uint32_t ChannelsOf(uint8_t colorType) {
    switch (colorType) {
        case SPNG_COLOR_TYPE_TRUECOLOR:
            return 3;
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
            return 2;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
            return 4;
        default:
            return 1;
    }
}

// The fewest bytes the image data can inflate to: every row with its filter
// byte (an interlaced picture has at least as many).
uint64_t LeastInflatedBytes(const spng_ihdr& header) {
    const uint64_t bitsPerRow =
        uint64_t{header.width} * ChannelsOf(header.color_type) * header.bit_depth;
    return uint64_t{header.height} * (1 + (bitsPerRow + 7) / 8);
}

// Checks the header against the size limit and against the data present.
Status CheckHeader(const spng_ihdr& header, uint64_t fileSize) {
    if (DibStride(header.width, 24) * header.height > kMaxPixelBytes) {
        return Status::TooLarge(kPngFormat);
    }
    if (LeastInflatedBytes(header) > fileSize * kMaxInflateRatio + kInflateSlack) {
        return Status::Damaged(kPngFormat, "far too little image data for its size");
    }
    return Status::Ok();
}

uint8_t RoundTo8(uint16_t sample) {
    // Nearest of the 256 levels: sample / 257 rounded, without a division.
    return static_cast<uint8_t>((uint32_t{sample} * 255 + 32895) >> 16);
}

// Copies the pixels one pass has decoded into `decoded` (a full-width row of
// red-green-blue bytes, or of host-endian 16-bit red-green-blue-alpha) into
// the DIB row as blue, green, red, and 16-bit ones whole into `deep` (a row of
// red, green, blue) when given.
void StorePassPixels(const uint8_t* decoded, bool sixteen, uint32_t start, uint32_t step,
                     uint32_t width, uint8_t* target, uint16_t* deep) {
    if (sixteen) {
        for (uint32_t x = start; x < width; x += step) {
            uint16_t sample[4];
            std::memcpy(sample, decoded + uint64_t{x} * 8, sizeof sample);
            uint8_t* pixel = target + uint64_t{x} * 3;
            pixel[0] = RoundTo8(sample[2]);
            pixel[1] = RoundTo8(sample[1]);
            pixel[2] = RoundTo8(sample[0]);
            if (deep != nullptr) {
                std::memcpy(deep + uint64_t{x} * 3, sample, 3 * sizeof(uint16_t));
            }
        }
        return;
    }
    for (uint32_t x = start; x < width; x += step) {
        const uint8_t* source = decoded + uint64_t{x} * 3;
        uint8_t* pixel = target + uint64_t{x} * 3;
        pixel[0] = source[2];
        pixel[1] = source[1];
        pixel[2] = source[0];
    }
}

// Decodes every row into the DIB, and a 16-bit picture into `deep` too when
// that has room for it. 8-bit output of a picture that is not interlaced is
// decoded straight into its DIB row and turned round there; everything else
// goes through one row of scratch memory, from which each pass takes its own
// pixels.
Status DecodeRows(spng_ctx* context, std::span<const uint8_t> bytes, const spng_ihdr& header,
                  uint8_t* pixels, DeepPixels* deep) {
    const bool sixteen = header.bit_depth == 16;
    const int format = sixteen ? SPNG_FMT_RGBA16 : SPNG_FMT_RGB8;
    int error = spng_decode_image(context, nullptr, 0, format, SPNG_DECODE_PROGRESSIVE);
    if (error != SPNG_OK) {
        return StatusOfError(error, bytes);
    }
    const uint32_t width = header.width;
    const uint32_t height = header.height;
    const uint64_t stride = DibStride(width, 24);
    const size_t rowBytes = size_t{width} * (sixteen ? 8 : 3);
    const bool direct = !sixteen && header.interlace_method == SPNG_INTERLACE_NONE;
    ByteBuffer scratch;
    if (!direct) {
        scratch = AllocateBytes(rowBytes);
        if (!scratch) {
            return Status::OutOfMemory(kPngFormat);
        }
    }
    do {
        spng_row_info row{};
        error = spng_get_row_info(context, &row);
        if (error == SPNG_OK && row.row_num >= height) {
            error = SPNG_EINTERNAL;  // never from a library that keeps its word
        }
        if (error != SPNG_OK) {
            break;
        }
        uint8_t* target = pixels + (uint64_t{height} - 1 - row.row_num) * stride;
        error = spng_decode_row(context, direct ? target : scratch.get(), rowBytes);
        if (error != SPNG_OK && error != SPNG_EOI) {
            break;
        }
        if (direct) {
            StoreRowIntoDib(target, 3, width, height, row.row_num, pixels, stride);
        } else {
            const bool interlaced = header.interlace_method != SPNG_INTERLACE_NONE;
            const int pass = interlaced ? std::clamp(row.pass, 0, 6) : 6;
            uint16_t* deepRow =
                deep != nullptr && !deep->IsEmpty() ? deep->Row(row.row_num) : nullptr;
            StorePassPixels(scratch.get(), sixteen, kPassStart[pass], kPassStep[pass], width,
                            target, deepRow);
        }
    } while (error == SPNG_OK);
    return error == SPNG_EOI ? Status::Ok() : StatusOfError(error, bytes);
}

std::vector<uint8_t> BytesOf(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

// Metadata is a bonus on a picture already decoded: chunks the library can't
// give (or that lie after a damaged end) are simply left out.
void ReadMetadata(spng_ctx* context, ImageMetadata* metadata) {
    spng_iccp profile{};
    if (spng_get_iccp(context, &profile) == SPNG_OK && profile.profile != nullptr) {
        metadata->icc = BytesOf(profile.profile, profile.profile_len);
    }
    spng_exif exif{};
    if (spng_get_exif(context, &exif) == SPNG_OK && exif.data != nullptr) {
        metadata->exif = BytesOf(exif.data, exif.length);
    }
    uint32_t count = 0;
    if (spng_get_text(context, nullptr, &count) != SPNG_OK || count == 0) {
        return;
    }
    std::vector<spng_text> texts(count);
    if (spng_get_text(context, texts.data(), &count) != SPNG_OK) {
        return;
    }
    for (const spng_text& text : texts) {
        if (text.text == nullptr) {
            continue;
        }
        std::string value(text.text, text.length);
        if (std::strcmp(text.keyword, kCommentKeyword) == 0) {
            metadata->comments.push_back(std::move(value));
        } else if (std::strcmp(text.keyword, kXmpKeyword) == 0 && text.type == SPNG_ITXT) {
            metadata->xmp = std::move(value);
        }
    }
}

// Reads the rest of the file after the last row: the last IDAT chunk's CRC,
// the zlib stream's Adler-32 and every critical chunk up to IEND must check
// out; a file cut short after the image data keeps its picture, and damaged
// ancillary chunks are only left out.
Status CheckImageDataEnd(spng_ctx* context, std::span<const uint8_t> bytes) {
    const int error = spng_decode_chunks(context);
    if (error == SPNG_ECHUNK_CRC) {
        return Status::Damaged(kPngFormat, ChecksumFailure(bytes));
    }
    if (TrailerMayBeUnread(bytes) && AdlerFails(bytes)) {
        return Status::Damaged(kPngFormat, "bad checksum in IDAT");
    }
    return Status::Ok();
}

Context NewDecoder(std::span<const uint8_t> bytes) {
    Context context(spng_ctx_new(0));
    if (context) {
        spng_set_crc_action(context.get(), SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
        spng_set_image_limits(context.get(), kMaxSide, kMaxSide);
        spng_set_chunk_limits(context.get(), kMaxChunkBytes, kMaxChunkCache);
        spng_set_png_buffer(context.get(), bytes.data(), bytes.size());
    }
    return context;
}

}  // namespace

bool LooksLikePng(std::span<const uint8_t> firstBytes) {
    return firstBytes.size() >= kPngSignatureSize &&
           std::memcmp(firstBytes.data(), kSignature, kPngSignatureSize) == 0;
}

namespace {

// A 16-bit picture is kept whole in `deep` when that is given; the DIB gets it
// rounded to 8 bits either way.
Status ReadPngKeepingDepth(std::span<const uint8_t> bytes, MemoryBlock* dib,
                           ImageMetadata* metadata, MemoryBlock spare, DeepPixels* deep) {
    *dib = MemoryBlock();
    if (!LooksLikePng(bytes)) {
        return Status::NotThisFormat(kPngFormat);
    }
    Context context = NewDecoder(bytes);
    if (!context) {
        return Status::OutOfMemory(kPngFormat);
    }
    spng_ihdr header{};
    int error = spng_get_ihdr(context.get(), &header);
    if (error != SPNG_OK) {
        return StatusOfError(error, bytes);
    }
    Status status = CheckHeader(header, bytes.size());
    if (!status.IsOk()) {
        return status;
    }
    const bool keepDeep = deep != nullptr && header.bit_depth == 16;
    if (keepDeep &&
        uint64_t{header.width} * header.height * 3 * sizeof(uint16_t) > kMaxPixelBytes) {
        return Status::TooLarge(kPngFormat);
    }
    MemoryBlock block = CreateDib(header.width, header.height, 24, std::move(spare));
    if (block.IsNone() || (keepDeep && !deep->Allocate(header.width, header.height))) {
        return Status::OutOfMemory(kPngFormat);
    }
    uint8_t* pixels = block.Data() + DibPixelOffset(ParseInfoHeader(block.Data()));
    status = DecodeRows(context.get(), bytes, header, pixels, keepDeep ? deep : nullptr);
    if (status.IsOk()) {
        status = CheckImageDataEnd(context.get(), bytes);
    }
    if (!status.IsOk()) {
        if (keepDeep) {
            *deep = DeepPixels();
        }
        return status;
    }
    if (metadata != nullptr) {
        *metadata = ImageMetadata();
        ReadMetadata(context.get(), metadata);
    }
    *dib = std::move(block);
    return Status::Ok();
}

}  // namespace

Status ReadPng(std::span<const uint8_t> bytes, MemoryBlock* dib, ImageMetadata* metadata,
               MemoryBlock spare) {
    return ReadPngKeepingDepth(bytes, dib, metadata, std::move(spare), nullptr);
}

Status DecodePngImage(ByteView bytes, MemoryBlock& spare, DecodedImage& out) {
    return ReadPngKeepingDepth(bytes, &out.dib, &out.metadata, std::move(spare), &out.deep);
}

namespace {

// Where the encoder's bytes go, and the first failure on the way.
struct Output {
    FileHandle* file = nullptr;
    int error = 0;
};

int WriteToFile(spng_ctx* /*context*/, void* user, void* bytes, size_t length) {
    auto* output = static_cast<Output*>(user);
    if (output->file->Write(bytes, length) != static_cast<int64_t>(length)) {
        const int error = output->file->LastError();
        output->error = error != 0 ? error : EIO;
        return SPNG_IO_ERROR;
    }
    return 0;
}

// Text chunks for the comments and the XMP packet. Plain ASCII goes into tEXt;
// anything else into uncompressed iTXt, whose text is UTF-8.
std::vector<spng_text> TextChunks(const ImageMetadata& metadata) {
    static char noTag[] = "";
    std::vector<spng_text> texts;
    auto add = [&](const char* keyword, const std::string& value, bool international) {
        spng_text text{};
        std::strncpy(text.keyword, keyword, sizeof text.keyword - 1);
        text.type = international ? SPNG_ITXT : SPNG_TEXT;
        text.length = value.size();
        // The library copies the text; its interface just isn't const.
        text.text = const_cast<char*>(value.data());
        text.language_tag = noTag;
        text.translated_keyword = noTag;
        texts.push_back(text);
    };
    for (const std::string& comment : metadata.comments) {
        const bool ascii = std::all_of(comment.begin(), comment.end(), [](char c) {
            return c != '\0' && static_cast<unsigned char>(c) < 0x80;
        });
        add(kCommentKeyword, comment, !ascii);
    }
    if (!metadata.xmp.empty()) {
        add(kXmpKeyword, metadata.xmp, true);
    }
    return texts;
}

void AddMetadata(spng_ctx* context, const ImageMetadata& metadata) {
    if (!metadata.icc.empty()) {
        spng_iccp profile{};
        std::strncpy(profile.profile_name, kProfileName, sizeof profile.profile_name - 1);
        profile.profile_len = metadata.icc.size();
        profile.profile = reinterpret_cast<char*>(const_cast<uint8_t*>(metadata.icc.data()));
        spng_set_iccp(context, &profile);
    }
    if (!metadata.exif.empty()) {
        spng_exif exif{};
        exif.length = metadata.exif.size();
        exif.data = reinterpret_cast<char*>(const_cast<uint8_t*>(metadata.exif.data()));
        spng_set_exif(context, &exif);
    }
    std::vector<spng_text> texts = TextChunks(metadata);
    if (!texts.empty()) {
        spng_set_text(context, texts.data(), uint32_t(texts.size()));
    }
}

int SetHeader(spng_ctx* context, uint32_t width, uint32_t height, uint8_t bitDepth,
              const ImageMetadata* metadata) {
    spng_ihdr header{};
    header.width = width;
    header.height = height;
    header.bit_depth = bitDepth;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    const int error = spng_set_ihdr(context, &header);
    if (error == SPNG_OK && metadata != nullptr) {
        AddMetadata(context, *metadata);
    }
    return error;
}

// Streams the rows through the library's own filters and zlib.
int EncodeRows(spng_ctx* context, PngRowSource& source, uint32_t width, uint32_t height,
               uint8_t bitDepth) {
    spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, kCompressionLevel);
    spng_set_option(context, SPNG_IMG_COMPRESSION_STRATEGY, kCompressionStrategy);
    spng_set_option(context, SPNG_FILTER_CHOICE, kFilterChoice);
    int error = spng_encode_image(context, nullptr, 0, SPNG_FMT_PNG,
                                  SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    const size_t rowBytes = size_t{width} * 3 * (bitDepth / 8);
    for (uint32_t r = 0; r < height && error == SPNG_OK; ++r) {
        error = spng_encode_row(context, source.Row(r), rowBytes);
    }
    return error == SPNG_EOI ? SPNG_OK : (error == SPNG_OK ? SPNG_EINTERNAL : error);
}

uint64_t FilteredBytes(uint32_t width, uint32_t height, uint8_t bitDepth) {
    return (uint64_t{width} * 3 * (bitDepth / 8) + 1) * height;
}

// Every row filtered into one buffer; 16-bit samples turned big-endian first.
std::vector<uint8_t> FilterRows(PngRowSource& source, uint32_t width, uint32_t height,
                                uint8_t bitDepth) {
    const size_t pixelBytes = size_t{3} * (bitDepth / 8);
    const size_t rowBytes = size_t{width} * pixelBytes;
    std::vector<uint8_t> filtered(FilteredBytes(width, height, bitDepth));
    std::vector<uint8_t> up(rowBytes, 0);
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t r = 0; r < height; ++r) {
        std::memcpy(row.data(), source.Row(r), rowBytes);
        if (bitDepth == 16) {
            for (size_t i = 0; i < rowBytes; i += 2) {
                uint16_t sample;
                std::memcpy(&sample, &row[i], 2);
                row[i] = uint8_t(sample >> 8);
                row[i + 1] = uint8_t(sample);
            }
        }
        FilterPngRow(row.data(), up.data(), rowBytes, pixelBytes, &filtered[r * (rowBytes + 1)]);
        row.swap(up);
    }
    return filtered;
}

bool WriteChunk(Output& output, const char* type, const uint8_t* data, uint32_t length) {
    uint8_t head[8] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8),
                       uint8_t(length)};
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (length > 0) {
        crc = crc32(crc, data, length);
    }
    uint8_t tail[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
    return WriteToFile(nullptr, &output, head, sizeof head) == 0 &&
           (length == 0 ||
            WriteToFile(nullptr, &output, const_cast<uint8_t*>(data), length) == 0) &&
           WriteToFile(nullptr, &output, tail, sizeof tail) == 0;
}

struct FreeCompressor {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

// The image data filtered and compressed in one piece, which libdeflate does
// in a fraction of zlib's time, and written as IDAT chunks and the end.
int CompressWhole(Output& output, PngRowSource& source, uint32_t width, uint32_t height,
                  uint8_t bitDepth) {
    const std::vector<uint8_t> filtered = FilterRows(source, width, height, bitDepth);
    const std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor(
        libdeflate_alloc_compressor(kDeflateLevel));
    if (!compressor) {
        return SPNG_EMEM;
    }
    std::vector<uint8_t> packed(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
    const size_t length = libdeflate_zlib_compress(compressor.get(), filtered.data(),
                                                   filtered.size(), packed.data(), packed.size());
    if (length == 0) {
        return SPNG_EINTERNAL;
    }
    for (size_t at = 0; at < length; at += kIdatBytes) {
        const auto part = uint32_t(std::min<size_t>(kIdatBytes, length - at));
        if (!WriteChunk(output, "IDAT", packed.data() + at, part)) {
            return SPNG_IO_ERROR;
        }
    }
    return WriteChunk(output, "IEND", nullptr, 0) ? SPNG_OK : SPNG_IO_ERROR;
}

// The library writes the signature, the header and the metadata; the image
// data comes from here.
int EncodeWhole(spng_ctx* context, Output& output, PngRowSource& source, uint32_t width,
                uint32_t height, uint8_t bitDepth) {
    const int error = spng_encode_chunks(context);
    if (error != SPNG_OK) {
        return error;
    }
    // The two buffers are the size of the picture: running short of memory
    // fails this file, not the run.
    try {
        return CompressWhole(output, source, width, height, bitDepth);
    } catch (const std::bad_alloc&) {
        return SPNG_EMEM;
    }
}

// The rows of a 16-bit picture as the encoder takes them: six bytes a pixel,
// host-endian (the library stores them big-endian itself).
class DeepRows final : public PngRowSource {
  public:
    explicit DeepRows(const DeepPixels& pixels) : m_pixels(pixels) {}
    const uint8_t* Row(uint32_t r) override {
        return reinterpret_cast<const uint8_t*>(m_pixels.Row(r));
    }

  private:
    const DeepPixels& m_pixels;
};

Status EncodeFile(const char* path, PngRowSource& source, uint32_t width, uint32_t height,
                  uint8_t bitDepth, const ImageMetadata* metadata) {
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    AtomicFileWriter writer;
    if (!writer.Open(path)) {
        return Status::IoError(writer.LastError());
    }
    Context context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) {
        return Status::IoError(ENOMEM);
    }
    Output output{&writer.File(), 0};
    spng_set_png_stream(context.get(), WriteToFile, &output);
    int error = SetHeader(context.get(), width, height, bitDepth, metadata);
    if (error == SPNG_OK) {
        error = FilteredBytes(width, height, bitDepth) <= kWholePictureBytes
                    ? EncodeWhole(context.get(), output, source, width, height, bitDepth)
                    : EncodeRows(context.get(), source, width, height, bitDepth);
    }
    context.reset();
    if (error != SPNG_OK) {
        writer.Abandon();
        if (output.error != 0) {
            return Status::IoError(output.error);
        }
        return Status::IoError(error == SPNG_EMEM ? ENOMEM : EIO, spng_strerror(error));
    }
    if (!writer.Commit()) {
        return Status::IoError(writer.LastError());
    }
    return Status::Ok();
}

}  // namespace

Status EncodePngFile(const char* path, PngRowSource& source, uint32_t width, uint32_t height,
                     const ImageMetadata* metadata) {
    return EncodeFile(path, source, width, height, 8, metadata);
}

Status WritePng16File(const char* path, const DeepPixels& pixels, const ImageMetadata* metadata) {
    if (pixels.IsEmpty()) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    DeepRows rows(pixels);
    return EncodeFile(path, rows, pixels.width, pixels.height, 16, metadata);
}

Status EncodePngImage(const char* path, const PictureToWrite& picture,
                      const WriteOptions& options) {
    if (picture.deep != nullptr && !picture.deep->IsEmpty()) {
        return WritePng16File(path, *picture.deep, options.metadata);
    }
    if (picture.rows == nullptr) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    return EncodePngFile(path, *picture.rows, picture.width, picture.height, options.metadata);
}

Status WritePngFile(const char* path, const uint8_t* rgb, uint32_t width, uint32_t height,
                    const ImageMetadata* metadata) {
    if (rgb == nullptr) {
        return Status::IoError(EINVAL, "no picture to write");
    }
    TightRgbRows source(rgb, width);
    return EncodePngFile(path, source, width, height, metadata);
}

}  // namespace tessary
