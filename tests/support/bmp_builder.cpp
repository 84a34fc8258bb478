#include "tests/support/bmp_builder.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tessary::test {

namespace {

void Put16(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(Bytes& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

}  // namespace

BmpBuilder::BmpBuilder(int32_t width, int32_t height, uint16_t bitCount)
    : m_nWidth(width), m_nHeight(height), m_nBitCount(bitCount) {}

BmpBuilder& BmpBuilder::WithoutFileHeader() {
    m_bFileHeader = false;
    return *this;
}
BmpBuilder& BmpBuilder::CoreHeader() {
    m_bCore = true;
    m_nHeaderSize = 12;
    return *this;
}
BmpBuilder& BmpBuilder::HeaderSize(uint32_t size) {
    m_bCore = false;
    m_nHeaderSize = size;
    return *this;
}
BmpBuilder& BmpBuilder::Planes(uint16_t planes) {
    m_nPlanes = planes;
    return *this;
}
BmpBuilder& BmpBuilder::Compression(uint32_t compression) {
    m_nCompression = compression;
    return *this;
}
BmpBuilder& BmpBuilder::SizeImage(uint32_t bytes) {
    m_nSizeImage = bytes;
    return *this;
}
BmpBuilder& BmpBuilder::ClrUsed(uint32_t count) {
    m_nClrUsed = count;
    return *this;
}
BmpBuilder& BmpBuilder::ClrImportant(uint32_t count) {
    m_nClrImportant = count;
    return *this;
}
BmpBuilder& BmpBuilder::Resolution(int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
    m_nXPels = xPelsPerMeter;
    m_nYPels = yPelsPerMeter;
    return *this;
}
BmpBuilder& BmpBuilder::Palette(std::vector<BmpColor> entries) {
    m_palette = std::move(entries);
    return *this;
}
BmpBuilder& BmpBuilder::GreyPalette(uint32_t count) {
    m_palette.clear();
    for (uint32_t i = 0; i < count; ++i) {
        auto level = static_cast<uint8_t>(i);
        m_palette.push_back(BmpColor{level, level, level, 0});
    }
    return *this;
}
BmpBuilder& BmpBuilder::Gap(Bytes bytes) {
    m_gap = std::move(bytes);
    return *this;
}
BmpBuilder& BmpBuilder::OffBits(uint32_t offset) {
    m_offBits = offset;
    return *this;
}
BmpBuilder& BmpBuilder::FileSize(uint32_t size) {
    m_fileSize = size;
    return *this;
}
BmpBuilder& BmpBuilder::PixelArray(Bytes bytes) {
    m_pixels = std::move(bytes);
    return *this;
}

uint64_t BmpBuilder::Stride() const {
    const uint64_t bits = uint64_t{m_nBitCount} * static_cast<uint32_t>(m_nWidth);
    return (bits + 31) / 32 * 4;
}

uint32_t BmpBuilder::Rows() const {
    return static_cast<uint32_t>(std::abs(int64_t{m_nHeight}));
}

int32_t BmpBuilder::PictureRow(uint32_t storedRow) const {
    return m_nHeight > 0 ? m_nHeight - 1 - static_cast<int32_t>(storedRow)
                         : static_cast<int32_t>(storedRow);
}

BmpBuilder& BmpBuilder::Pixels24(const std::function<uint32_t(int32_t, int32_t)>& rgbAt) {
    Bytes pixels(Stride() * Rows(), 0);
    for (uint32_t s = 0; s < Rows(); ++s) {
        for (int32_t x = 0; x < m_nWidth; ++x) {
            const uint32_t rgb = rgbAt(x, PictureRow(s));
            uint8_t* pixel = &pixels[uint64_t{s} * Stride() + uint64_t(x) * 3];
            pixel[0] = static_cast<uint8_t>(rgb >> 16);
            pixel[1] = static_cast<uint8_t>(rgb >> 8);
            pixel[2] = static_cast<uint8_t>(rgb);
        }
    }
    return PixelArray(std::move(pixels));
}

BmpBuilder& BmpBuilder::Pixels8(const std::function<uint8_t(int32_t, int32_t)>& indexAt) {
    Bytes pixels(Stride() * Rows(), 0);
    for (uint32_t s = 0; s < Rows(); ++s) {
        for (int32_t x = 0; x < m_nWidth; ++x) {
            pixels[uint64_t{s} * Stride() + uint64_t(x)] = indexAt(x, PictureRow(s));
        }
    }
    return PixelArray(std::move(pixels));
}

BmpBuilder& BmpBuilder::PixelValues(const std::function<uint32_t(int32_t, int32_t)>& valueAt) {
    Bytes pixels(Stride() * Rows(), 0);
    const uint32_t bytes = m_nBitCount / 8;
    for (uint32_t s = 0; s < Rows(); ++s) {
        for (int32_t x = 0; x < m_nWidth; ++x) {
            const uint32_t value = valueAt(x, PictureRow(s));
            for (uint32_t b = 0; b < bytes; ++b) {
                pixels[uint64_t{s} * Stride() + uint64_t(x) * bytes + b] =
                    static_cast<uint8_t>(value >> (8 * b));
            }
        }
    }
    return PixelArray(std::move(pixels));
}

BmpBuilder& BmpBuilder::Masks(uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    m_masks = std::vector<uint32_t>{red, green, blue, alpha};
    return *this;
}

BmpBuilder& BmpBuilder::Profile(Bytes profile) {
    m_profile = std::move(profile);
    return *this;
}

uint32_t BmpBuilder::PixelOffset() const {
    const uint32_t entryBytes = m_bCore ? 3 : 4;
    const uint32_t masksBehind = m_masks && m_nHeaderSize < 56 ? 12 : 0;
    const uint32_t natural = (m_bFileHeader ? 14 : 0) + m_nHeaderSize + masksBehind +
                             static_cast<uint32_t>(m_palette.size()) * entryBytes +
                             static_cast<uint32_t>(m_gap.size());
    return natural;
}

Bytes BmpBuilder::Build() const {
    Bytes info;
    if (m_bCore) {
        Put32(info, 12);
        Put16(info, static_cast<uint32_t>(m_nWidth) & 0xFFFF);
        Put16(info, static_cast<uint32_t>(m_nHeight) & 0xFFFF);
        Put16(info, m_nPlanes);
        Put16(info, m_nBitCount);
    } else {
        Put32(info, m_nHeaderSize);
        Put32(info, static_cast<uint32_t>(m_nWidth));
        Put32(info, static_cast<uint32_t>(m_nHeight));
        Put16(info, m_nPlanes);
        Put16(info, m_nBitCount);
        Put32(info, m_nCompression);
        Put32(info, m_nSizeImage);
        Put32(info, static_cast<uint32_t>(m_nXPels));
        Put32(info, static_cast<uint32_t>(m_nYPels));
        Put32(info, m_nClrUsed);
        Put32(info, m_nClrImportant);
        info.resize(std::max<size_t>(info.size(), m_nHeaderSize), 0);
        if (m_masks && m_nHeaderSize >= 56) {
            for (int i = 0; i < 4; ++i) {
                Bytes mask;
                Put32(mask, (*m_masks)[i]);
                std::copy(mask.begin(), mask.end(), info.begin() + 40 + i * 4);
            }
        } else if (m_masks) {
            for (int i = 0; i < 3; ++i) {
                Put32(info, (*m_masks)[i]);
            }
        }
    }
    for (const BmpColor& entry : m_palette) {
        info.push_back(entry.blue);
        info.push_back(entry.green);
        info.push_back(entry.red);
        if (!m_bCore) {
            info.push_back(entry.reserved);
        }
    }
    info.insert(info.end(), m_gap.begin(), m_gap.end());
    Bytes pixels = m_pixels ? *m_pixels : Bytes(Stride() * Rows(), 0);
    if (!m_profile.empty() && m_nHeaderSize >= 124) {
        // CSType "MBED", then the profile's offset from the header's start and its size.
        const uint32_t at = static_cast<uint32_t>(info.size() + pixels.size());
        Bytes fields;
        Put32(fields, 0x4D424544);
        std::copy(fields.begin(), fields.end(), info.begin() + 56);
        fields.clear();
        Put32(fields, at);
        Put32(fields, static_cast<uint32_t>(m_profile.size()));
        std::copy(fields.begin(), fields.end(), info.begin() + 112);
        pixels.insert(pixels.end(), m_profile.begin(), m_profile.end());
    }

    Bytes out;
    if (m_bFileHeader) {
        out.push_back('B');
        out.push_back('M');
        Put32(out, m_fileSize.value_or(static_cast<uint32_t>(14 + info.size() + pixels.size())));
        Put32(out, 0);  // both reserved fields
        Put32(out, m_offBits.value_or(PixelOffset()));
    }
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

}  // namespace tessary::test
