#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "image/image_surface.h"
#include "ops/pixel_rows.h"
#include "tests/image/test_image.h"

namespace tessary::test {

using Scene = std::function<PackedColor(int32_t x, int32_t y)>;

// Loads a w x h 24-bit picture drawn by `scene` into the surface's store.
inline void MakePicture(CImageSurface& surface, int32_t width, int32_t height, const Scene& scene) {
    ASSERT_TRUE(LoadBlankImage(*surface.GetImage(), width, height));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            surface.SetPixel(x, y, scene(x, y));
        }
    }
}

// Every byte of the store's block, padding and header included.
inline std::vector<uint8_t> BlockBytes(CDibImage& image) {
    const MemoryBlock& dib = image.GetDib();
    return std::vector<uint8_t>(dib.Data(), dib.Data() + dib.Size());
}

inline PackedColor Grey(int32_t v) {
    const uint32_t level = static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    return PackRgb(level, level, level);
}

// A still picture with smooth shapes and some fine, irregular detail: what a
// photograph looks like to the detectors, without any combing.
inline PackedColor Photo(int32_t x, int32_t y) {
    const uint32_t hash = (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u);
    const double detail = double(hash % 9) - 4.0;
    const double shape =
        60.0 * std::sin(x * 0.07) * std::cos(y * 0.05) + 30.0 * std::sin((x + y) * 0.11);
    return Grey(static_cast<int32_t>(120.0 + shape + detail));
}

// A light square of side `side` with its left edge at `left` on the photo.
inline PackedColor PhotoWithSquare(int32_t x, int32_t y, int32_t left, int32_t top, int32_t side) {
    if (x >= left && x < left + side && y >= top && y < top + side) {
        return PackRgb(240, 220, 60);
    }
    return Photo(x, y);
}

// The square moved by `shift` pixels between the two fields: even rows show it
// at `left`, odd rows at left + shift.
inline Scene WovenSquare(int32_t left, int32_t top, int32_t side, int32_t shift) {
    return [=](int32_t x, int32_t y) {
        return PhotoWithSquare(x, y, y % 2 == 0 ? left : left + shift, top, side);
    };
}

// The scene with noise of up to `amount` levels either way added to each
// pixel, the same in all three channels, as most of a camera's is.
inline Scene Noisy(Scene scene, int32_t amount) {
    return [=](int32_t x, int32_t y) {
        const uint32_t hash = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u + 977u);
        const int32_t n = int32_t((hash >> 7) % uint32_t(2 * amount + 1)) - amount;
        const PackedColor c = scene(x, y);
        const auto level = [n](uint32_t v) { return uint32_t(std::clamp(int32_t(v) + n, 0, 255)); };
        return PackRgb(level(RedOf(c)), level(GreenOf(c)), level(BlueOf(c)));
    };
}

}  // namespace tessary::test
