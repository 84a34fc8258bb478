#include "tests/support/exif_builder.h"

namespace tessary::test {

namespace {

constexpr uint16_t kTypeShort = 3;
constexpr uint32_t kLinkAt = 8 + 2 + 12;

uint32_t Read(const Bytes& b, uint64_t at, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) {
        const int shift = b[0] == 'I' ? 8 * i : 8 * (size - 1 - i);
        value |= uint32_t(b.at(at + i)) << shift;
    }
    return value;
}

}  // namespace

Bytes ExifBlock(bool little, const std::vector<std::array<uint32_t, 3>>& ifd1, const Bytes& tail) {
    Bytes b = little ? Bytes{'I', 'I'} : Bytes{'M', 'M'};
    auto u16 = [&](uint32_t v) {
        little ? b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)})
               : b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    };
    auto u32 = [&](uint32_t v) {
        little ? (u16(v & 0xFFFF), u16(v >> 16)) : (u16(v >> 16), u16(v & 0xFFFF));
    };
    u16(42);
    u32(8);
    u16(1);  // IFD0: orientation 1
    u16(0x0112), u16(kTypeShort), u32(1), u16(1), u16(0);
    u32(ifd1.empty() ? 0 : kLinkAt + 4);
    if (!ifd1.empty()) {
        u16(uint32_t(ifd1.size()));
        for (const auto& [tag, type, value] : ifd1) {
            u16(tag), u16(type), u32(1);
            type == kTypeShort ? (u16(value), u16(0)) : u32(value);
        }
        u32(0);
    }
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

Bytes ExifThumbnail(const Bytes& b) {
    if (b.size() < kLinkAt + 4 || Read(b, kLinkAt, 4) == 0) {
        return {};
    }
    const uint32_t ifd1 = Read(b, kLinkAt, 4);
    uint32_t start = 0;
    uint32_t length = 0;
    for (uint32_t i = 0; i < Read(b, ifd1, 2); ++i) {
        const uint64_t entry = ifd1 + 2 + i * 12;
        const uint32_t value = Read(b, entry + 8, Read(b, entry + 2, 2) == kTypeShort ? 2 : 4);
        const uint32_t tag = Read(b, entry, 2);
        if (tag == 0x201) {
            start = value;
        } else if (tag == 0x202) {
            length = value;
        }
    }
    if (uint64_t{start} + length > b.size()) {
        return {};
    }
    return Bytes(b.begin() + start, b.begin() + start + length);
}

}  // namespace tessary::test
