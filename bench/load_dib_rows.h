#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/dib_image.h"

namespace tessary::bench {

// Loads bottom-up, padded 24-bit rows into the store through a real BMP file,
// as a batch run would load a picture.
inline bool LoadDibRows(CDibImage& image, const std::vector<uint8_t>& dibRows, int32_t width,
                        int32_t height) {
    const auto put = [](std::string& out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<char>(value >> (8 * i)));
        }
    };
    std::string file = "BM";
    const auto pixelBytes = static_cast<uint32_t>(dibRows.size());
    put(file, 54 + pixelBytes, 4), put(file, 0, 4), put(file, 54, 4);
    put(file, 40, 4), put(file, uint32_t(width), 4), put(file, uint32_t(height), 4);
    put(file, 1, 2), put(file, 24, 2), put(file, 0, 4), put(file, pixelBytes, 4);
    put(file, 0, 16);
    file.append(reinterpret_cast<const char*>(dibRows.data()), pixelBytes);
    char path[] = "/tmp/tessary-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
    close(fd);
    if (written) {
        image.LoadBmp(path);
    }
    unlink(path);
    return written && image.GetWidth() == width && image.GetHeight() == height;
}

}  // namespace tessary::bench
