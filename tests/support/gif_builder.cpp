#include "tests/support/gif_builder.h"

#include <algorithm>
#include <map>
#include <utility>

namespace tessary::test {

namespace {

void Put16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// The size code n of a map with 2^(n+1) entries holding at least `count` colours.
int MapSizeCode(size_t count) {
    int code = 0;
    while ((size_t{2} << code) < count && code < 7) {
        ++code;
    }
    return code;
}

void PutMap(Bytes& out, const Palette& map) {
    size_t entries = size_t{2} << MapSizeCode(map.size());
    for (size_t i = 0; i < entries; ++i) {
        Rgb colour = i < map.size() ? map[i] : Rgb{};
        out.push_back(colour.red);
        out.push_back(colour.green);
        out.push_back(colour.blue);
    }
}

// The rows of an interlaced image in the order they are stored.
std::vector<int> InterlacedRowOrder(int height) {
    std::vector<int> order;
    const int starts[4] = {0, 4, 2, 1};
    const int steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (int row = starts[pass]; row < height; row += steps[pass]) {
            order.push_back(row);
        }
    }
    return order;
}

// Follows the widths a decoder reads codes at.
class CodeWriter {
  public:
    CodeWriter(int minCodeSize, std::vector<LzwCode>& out) : m_nMin(minCodeSize), m_out(out) {
        Reset();
    }
    void Reset() {
        m_nWidth = m_nMin + 1;
        m_nLimit = 2 << m_nMin;
        m_nNext = (1 << m_nMin) + 2;
        m_bFirst = true;
    }
    void Emit(int code) {
        m_out.push_back({code, m_nWidth});
        if (!m_bFirst && m_nNext < 4096) {
            ++m_nNext;
            if (m_nNext >= m_nLimit && m_nLimit < 4096) {
                m_nLimit *= 2;
                ++m_nWidth;
            }
        }
        m_bFirst = false;
    }
    void EmitClear() {
        m_out.push_back({1 << m_nMin, m_nWidth});
        Reset();
    }

  private:
    int m_nMin;
    std::vector<LzwCode>& m_out;
    int m_nWidth = 0;
    int m_nLimit = 0;
    int m_nNext = 0;
    bool m_bFirst = true;
};

}  // namespace

std::vector<LzwCode> EncodeLzw(const std::vector<uint8_t>& pixels, const LzwOptions& options) {
    std::vector<LzwCode> codes;
    const int clear = 1 << options.minCodeSize;
    CodeWriter writer(options.minCodeSize, codes);
    std::map<std::pair<int, int>, int> table;
    int next = clear + 2;
    if (options.leadingClear) {
        writer.EmitClear();
    }
    size_t count = options.pixelLimit < 0 ? pixels.size() : size_t(options.pixelLimit);
    int current = -1;
    for (size_t i = 0; i < count && i < pixels.size(); ++i) {
        int pixel = pixels[i];
        if (current < 0) {
            current = pixel;
            continue;
        }
        auto found = table.find({current, pixel});
        if (!options.literalsOnly && found != table.end()) {
            current = found->second;
            continue;
        }
        writer.Emit(current);
        if (next < 4096) {
            table[{current, pixel}] = next++;
        } else if (!options.deferClear) {
            writer.EmitClear();
            table.clear();
            next = clear + 2;
        }
        current = pixel;
    }
    if (current >= 0) {
        writer.Emit(current);
    }
    if (options.endCode) {
        writer.Emit(clear + 1);
    }
    return codes;
}

Bytes PackCodes(const std::vector<LzwCode>& codes) {
    Bytes out;
    uint32_t bits = 0;
    int held = 0;
    for (const LzwCode& code : codes) {
        bits |= uint32_t(code.code & ((1 << code.width) - 1)) << held;
        held += code.width;
        while (held >= 8) {
            out.push_back(static_cast<uint8_t>(bits & 0xFF));
            bits >>= 8;
            held -= 8;
        }
    }
    if (held > 0) {
        out.push_back(static_cast<uint8_t>(bits & 0xFF));
    }
    return out;
}

Bytes SubBlocks(const Bytes& data, size_t blockSize, bool terminator) {
    Bytes out;
    for (size_t at = 0; at < data.size(); at += blockSize) {
        size_t count = std::min(blockSize, data.size() - at);
        out.push_back(static_cast<uint8_t>(count));
        out.insert(out.end(), data.begin() + at, data.begin() + at + count);
    }
    if (terminator) {
        out.push_back(0);
    }
    return out;
}

Bytes BuildGifImage(const GifImage& image) {
    Bytes out;
    out.push_back(',');
    Put16(out, image.left);
    Put16(out, image.top);
    Put16(out, image.width);
    Put16(out, image.height);
    uint8_t flags = image.interlaced ? 0x40 : 0;
    if (!image.localMap.empty()) {
        flags |= 0x80 | MapSizeCode(image.localMap.size());
    }
    out.push_back(flags);
    if (!image.localMap.empty()) {
        PutMap(out, image.localMap);
    }
    if (image.minCodeSizeByte == -2) {
        return out;
    }
    out.push_back(static_cast<uint8_t>(image.minCodeSizeByte >= 0 ? image.minCodeSizeByte
                                                                  : image.lzw.minCodeSize));
    Bytes data = image.rawData;
    if (!image.useRawData) {
        std::vector<uint8_t> stored = image.pixels;
        if (image.interlaced) {
            stored.clear();
            for (int row : InterlacedRowOrder(image.height)) {
                auto begin = image.pixels.begin() + size_t(row) * image.width;
                stored.insert(stored.end(), begin, begin + image.width);
            }
        }
        data = PackCodes(EncodeLzw(stored, image.lzw));
    }
    Bytes blocks = SubBlocks(data, image.blockSize, image.terminator);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

Bytes BuildGif(const GifFile& file) {
    Bytes out(file.signature.begin(), file.signature.end());
    out.insert(out.end(), file.version.begin(), file.version.end());
    Put16(out, file.screenWidth);
    Put16(out, file.screenHeight);
    uint8_t flags = 0x70;  // colour resolution 8 bits
    if (!file.globalMap.empty()) {
        flags |= 0x80 | MapSizeCode(file.globalMap.size());
    }
    out.push_back(flags);
    out.push_back(0);  // background
    out.push_back(file.aspect);
    if (!file.globalMap.empty()) {
        PutMap(out, file.globalMap);
    }
    out.insert(out.end(), file.beforeImages.begin(), file.beforeImages.end());
    for (const GifImage& image : file.images) {
        Bytes bytes = BuildGifImage(image);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (file.trailer) {
        out.push_back(0x3B);
    }
    return out;
}

Bytes SimpleGif(uint16_t width, uint16_t height, const std::vector<uint8_t>& pixels,
                const Palette& globalMap) {
    GifFile file;
    file.screenWidth = width;
    file.screenHeight = height;
    file.globalMap = globalMap;
    GifImage image;
    image.width = width;
    image.height = height;
    image.pixels = pixels;
    file.images.push_back(image);
    return BuildGif(file);
}

Bytes GraphicControlExtension(uint8_t transparentIndex) {
    return {0x21, 0xF9, 4, 0x01, 10, 0, transparentIndex, 0};
}

Bytes CommentExtension(const std::string& text) {
    Bytes out = {0x21, 0xFE};
    Bytes blocks = SubBlocks(Bytes(text.begin(), text.end()));
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

Palette DistinctPalette(int count) {
    Palette map;
    for (int i = 0; i < count; ++i) {
        map.push_back({uint8_t(i), uint8_t(255 - i), uint8_t((i * 7) & 0xFF)});
    }
    return map;
}

Bytes ExpectedRgb(const std::vector<uint8_t>& pixels, const Palette& map) {
    Bytes out;
    for (uint8_t index : pixels) {
        Rgb colour = index < map.size() ? map[index] : Rgb{};
        out.push_back(colour.red);
        out.push_back(colour.green);
        out.push_back(colour.blue);
    }
    return out;
}

}  // namespace tessary::test
