#include "tests/support/png_builder.h"

#include <zlib.h>

namespace tessary::test {

namespace {

void PutBe32(Bytes& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(uint8_t(value >> shift));
    }
}

uint32_t CrcOf(const std::string& type, const Bytes& data) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), uInt(type.size()));
    return uint32_t(crc32(crc, data.data(), uInt(data.size())));
}

}  // namespace

PngBuilder::PngBuilder(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType,
                       uint8_t interlace)
    : m_nWidth(width), m_nHeight(height) {
    Bytes header;
    PutBe32(header, width);
    PutBe32(header, height);
    header.insert(header.end(), {depth, colourType, 0, 0, interlace});
    Chunk("IHDR", header);
}

PngBuilder& PngBuilder::Chunk(const std::string& type, const Bytes& data) {
    return ChunkWithCrc(type, data, CrcOf(type, data));
}

PngBuilder& PngBuilder::ChunkWithCrc(const std::string& type, const Bytes& data, uint32_t crc) {
    PutBe32(m_chunks, uint32_t(data.size()));
    m_chunks.insert(m_chunks.end(), type.begin(), type.end());
    m_chunks.insert(m_chunks.end(), data.begin(), data.end());
    PutBe32(m_chunks, crc);
    return *this;
}

PngBuilder& PngBuilder::ImageData(const Bytes& scanlines) {
    uLongf size = compressBound(uLong(scanlines.size()));
    Bytes compressed(size);
    compress(compressed.data(), &size, scanlines.data(), uLong(scanlines.size()));
    compressed.resize(size);
    return Chunk("IDAT", compressed);
}

PngBuilder& PngBuilder::RgbRows(const std::function<uint32_t(int x, int y)>& colour) {
    Bytes scanlines;
    for (uint32_t y = 0; y < m_nHeight; ++y) {
        scanlines.push_back(0);
        for (uint32_t x = 0; x < m_nWidth; ++x) {
            const uint32_t rgb = colour(int(x), int(y));
            scanlines.insert(scanlines.end(),
                             {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16)});
        }
    }
    return ImageData(scanlines);
}

Bytes PngBuilder::Build() const {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    // Byte by byte: a range insert here draws a false GCC 12 warning under LTO.
    for (const uint8_t byte : m_chunks) {
        file.push_back(byte);
    }
    PutBe32(file, 0);
    file.insert(file.end(), {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
    return file;
}

}  // namespace tessary::test
