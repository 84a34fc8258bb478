#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tessary::test {

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};
using Palette = std::vector<Rgb>;

// One LZW code and the number of bits it is written with.
struct LzwCode {
    int code = 0;
    int width = 0;
};

struct LzwOptions {
    int minCodeSize = 8;
    bool leadingClear = true;
    // With a full table: send a clear code, or go on without new entries.
    bool deferClear = false;
    // Every pixel its own code (needed for code sizes 0 and 1, whose first codes
    // are too narrow for table entries).
    bool literalsOnly = false;
    bool endCode = true;
    // Encode only this many pixels (then the end code, if any); -1 for all.
    int pixelLimit = -1;
};

// The codes an encoder writes for the pixel values, each with the width a
// decoder reads it at.
std::vector<LzwCode> EncodeLzw(const std::vector<uint8_t>& pixels, const LzwOptions& options);
// Packs codes least significant bit first into bytes.
Bytes PackCodes(const std::vector<LzwCode>& codes);
// Cuts data into sub-blocks of at most blockSize bytes, then the terminator if asked.
Bytes SubBlocks(const Bytes& data, size_t blockSize = 255, bool terminator = true);

struct GifImage {
    uint16_t left = 0;
    uint16_t top = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    std::vector<uint8_t> pixels;  // width x height colour indices, top row first
    Palette localMap;             // none when empty
    bool interlaced = false;      // rows are then written in the four pass order
    LzwOptions lzw;
    size_t blockSize = 255;
    bool terminator = true;
    // When set, written after the minimum code size byte instead of the encoded pixels.
    bool useRawData = false;
    Bytes rawData;
    int minCodeSizeByte = -1;  // -1: lzw.minCodeSize; -2: leave the byte out
};

struct GifFile {
    std::string signature = "GIF";
    std::string version = "89a";
    uint16_t screenWidth = 0;
    uint16_t screenHeight = 0;
    Palette globalMap;  // none when empty
    uint8_t aspect = 0;
    Bytes beforeImages;  // extensions or stray bytes between the screen and the first image
    std::vector<GifImage> images;
    bool trailer = true;
};

Bytes BuildGif(const GifFile& file);
// The descriptor, map and data of one image, as BuildGif writes them.
Bytes BuildGifImage(const GifImage& image);
// A simple one-image file: the given indices with a global map.
Bytes SimpleGif(uint16_t width, uint16_t height, const std::vector<uint8_t>& pixels,
                const Palette& globalMap);

Bytes GraphicControlExtension(uint8_t transparentIndex);
Bytes CommentExtension(const std::string& text);

// A map of `count` distinct colours: entry i is (i, 255 - i, i * 7 mod 256).
Palette DistinctPalette(int count);

// The tight RGB picture a correct reader gives for the indices.
Bytes ExpectedRgb(const std::vector<uint8_t>& pixels, const Palette& map);

}  // namespace tessary::test
