#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "tests/support/temp_dir.h"

namespace tessary::test {

// Loads a w x h image of the given depth, every byte 0, into the store through
// a real BMP file (8-bit images get a 256-entry colour table).
inline bool LoadBlankImage(CDibImage& image, int32_t width, int32_t height,
                           uint16_t bitCount = 24) {
    const uint32_t stride = ((static_cast<uint32_t>(width) * bitCount + 31) / 32) * 4;
    const uint32_t colours = bitCount <= 8 ? (1u << bitCount) : 0;
    const uint32_t offBits = 14 + 40 + colours * 4;
    const uint32_t pixelBytes = stride * static_cast<uint32_t>(height);
    Bytes bytes;
    auto put = [&bytes](uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    put('B', 1), put('M', 1), put(offBits + pixelBytes, 4), put(0, 4), put(offBits, 4);
    put(40, 4), put(static_cast<uint32_t>(width), 4), put(static_cast<uint32_t>(height), 4);
    put(1, 2), put(bitCount, 2), put(0, 4), put(pixelBytes, 4), put(0, 4), put(0, 4);
    put(colours, 4), put(0, 4);
    bytes.resize(bytes.size() + colours * 4 + pixelBytes, 0);

    TempDir dir;
    const std::string path = dir.File("blank.bmp");
    if (!WriteBytes(path, bytes)) {
        return false;
    }
    image.LoadBmp(path.c_str());
    return image.GetWidth() == width && image.GetHeight() == height;
}

}  // namespace tessary::test
