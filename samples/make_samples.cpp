// tessary-make-samples FOLDER: draws the small interlaced frames used by the
// demo and the README, and writes them as JPEG, GIF and BMP files.
//
// Each frame is a synthetic still from interlaced video: the even rows show a
// moving scene one field earlier than the odd rows, so every moving edge is
// combed; the first and last rows carry the noise a tape's head switch leaves.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/bmp_file.h"
#include "formats/dib.h"
#include "formats/jpeg_file.h"
#include "formats/rgb_buffer.h"

namespace tessary::samples {

namespace {

constexpr uint32_t kWidth = 240;
constexpr uint32_t kHeight = 180;
constexpr int kNoiseTop = 6;
constexpr int kNoiseBottom = 4;
// How far the scene moves between the two fields, in pixels.
constexpr double kFieldShift = 9.0;

struct Rgb {
    double r, g, b;
};

// A fixed pseudo-random sequence, so the files are the same on every run.
class Noise {
  public:
    uint8_t Next() {
        m_state = m_state * 1103515245u + 12345u;
        return static_cast<uint8_t>(m_state >> 16);
    }

  private:
    uint32_t m_state = 20240601u;
};

uint8_t ToByte(double v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The scene at time `shift` (in pixels of motion): a sky, a field, a ball and a pole.
Rgb Scene(int variant, double x, double y, double shift) {
    const double horizon = kHeight * 0.62;
    Rgb c = y < horizon ? Rgb{90 + y * 0.4, 140 + y * 0.3, 230 - y * 0.2}
                        : Rgb{60 + (y - horizon) * 0.5, 130, 50};
    const double ballX = 70 + shift + variant * 30;
    const double ballY = horizon - 28;
    const double dx = x - ballX;
    const double dy = y - ballY;
    if (dx * dx + dy * dy < 26 * 26) {
        const double light = 1.0 - (dx + dy) / 80.0;
        c = variant == 1 ? Rgb{240 * light, 240 * light, 240 * light}
                         : Rgb{230 * light, 60 * light, 40 * light};
    }
    const double poleX = 170 - shift * 0.8;
    if (x > poleX && x < poleX + 14 && y > 30) {
        c = Rgb{250, 220, 60};
    }
    return c;
}

// Top-down RGB, three bytes a pixel.
std::vector<uint8_t> DrawFrame(int variant) {
    std::vector<uint8_t> rgb(kWidth * kHeight * 3);
    Noise noise;
    for (uint32_t y = 0; y < kHeight; ++y) {
        const double shift = (y % 2 == 0) ? 0.0 : kFieldShift;
        for (uint32_t x = 0; x < kWidth; ++x) {
            Rgb c = Scene(variant, x, y, shift);
            if (static_cast<int>(y) < kNoiseTop ||
                static_cast<int>(y) >= static_cast<int>(kHeight) - kNoiseBottom) {
                const double n = noise.Next();
                c = Rgb{n, n * 0.9, n};
            }
            uint8_t* p = &rgb[(y * kWidth + x) * 3];
            p[0] = ToByte(c.r);
            p[1] = ToByte(c.g);
            p[2] = ToByte(c.b);
        }
    }
    return rgb;
}

bool WriteJpeg(const std::string& path, const std::vector<uint8_t>& rgb) {
    int error = 0;
    // Below the tool's own quality 100, so the sample stays small.
    return WriteJpegFile(path.c_str(), rgb.data(), kWidth, kHeight, 90, &error) == 1;
}

bool WriteBmp(const std::string& path, const std::vector<uint8_t>& rgb) {
    MemoryBlock dib = CreateDib(kWidth, kHeight, 24);
    uint8_t* bytes = dib.Lock();
    if (bytes == nullptr) {
        return false;
    }
    TightRgbToDibRows(rgb.data(), kWidth, kHeight, bytes + kInfoHeaderSize, DibStride(kWidth, 24));
    dib.Unlock();
    return SaveDibFile(path.c_str(), dib) == 1;
}

// GIF with a 256-level grey palette. The LZW stream sends a clear code before
// every 254 pixel codes, so the code width stays at 9 bits: larger than a real
// encoder's output, but short and plainly correct.
class GifCodeWriter {
  public:
    explicit GifCodeWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Put(uint32_t code) {
        m_bits |= code << m_count;
        m_count += 9;
        while (m_count >= 8) {
            Byte(static_cast<uint8_t>(m_bits));
            m_bits >>= 8;
            m_count -= 8;
        }
    }
    void Finish() {
        if (m_count > 0) {
            Byte(static_cast<uint8_t>(m_bits));
        }
        FlushBlock();
        m_out.push_back(0);  // block terminator
    }

  private:
    void Byte(uint8_t b) {
        m_block.push_back(b);
        if (m_block.size() == 255) {
            FlushBlock();
        }
    }
    void FlushBlock() {
        if (!m_block.empty()) {
            m_out.push_back(static_cast<uint8_t>(m_block.size()));
            m_out.insert(m_out.end(), m_block.begin(), m_block.end());
            m_block.clear();
        }
    }
    std::vector<uint8_t>& m_out;
    std::vector<uint8_t> m_block;
    uint32_t m_bits = 0;
    int m_count = 0;
};

bool WriteGif(const std::string& path, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    auto put16 = [&out](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    put16(kWidth);
    put16(kHeight);
    out.insert(out.end(), {0xF7, 0, 0});  // global table of 256 entries
    for (int i = 0; i < 256; ++i) {
        out.insert(out.end(),
                   {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
    }
    out.push_back(0x2C);
    put16(0);
    put16(0);
    put16(kWidth);
    put16(kHeight);
    out.push_back(0);  // no local table, not interlaced
    out.push_back(8);  // minimum code size
    constexpr uint32_t kClear = 256;
    constexpr uint32_t kEnd = 257;
    GifCodeWriter codes(out);
    for (uint32_t i = 0; i < kWidth * kHeight; ++i) {
        if (i % 254 == 0) {
            codes.Put(kClear);
        }
        const uint8_t* p = &rgb[i * 3];
        codes.Put(static_cast<uint32_t>((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8));
    }
    codes.Put(kEnd);
    codes.Finish();
    out.push_back(0x3B);

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int Main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessary-make-samples FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const struct {
        const char* name;
        bool (*write)(const std::string&, const std::vector<uint8_t>&);
    } files[] = {
        {"interlaced-1.jpg", WriteJpeg},
        {"interlaced-2.gif", WriteGif},
        {"interlaced-3.bmp", WriteBmp},
    };
    int variant = 0;
    for (const auto& file : files) {
        const std::string path = folder + file.name;
        if (!file.write(path, DrawFrame(variant++))) {
            std::fprintf(stderr, "tessary-make-samples: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}

}  // namespace tessary::samples

int main(int argc, char** argv) {
    return tessary::samples::Main(argc, argv);
}
