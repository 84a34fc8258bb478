// Every repair and detector on a picture made straight from the input: two
// bytes of width, two of height, one of choices, the rest pixels (repeated to
// fill the picture). The row repairs get rows with no byte to spare before or
// after them, so that AddressSanitizer sees any read or write past the
// picture; the surface repairs get the same picture through a BMP.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "image/image_surface.h"
#include "ops/adaptive_deinterlace.h"
#include "ops/black_bands.h"
#include "ops/combing.h"
#include "ops/field_interpolation.h"
#include "ops/field_ops.h"

namespace {

using namespace tessary;

// Small enough that no input runs for long; large enough for the detectors'
// sampling and the adaptive repair's blocks to come into play.
constexpr uint32_t kMaxSide = 320;
constexpr size_t kHeaderBytes = 5;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    bool bottomUp = false;     // rows stored bottom row first, as a DIB stores them
    std::vector<uint8_t> bgr;  // rows packed without padding

    PixelRows Rows() const {
        PixelRows rows;
        rows.width = width;
        rows.height = height;
        rows.step = int64_t{width} * 3;
        rows.top = const_cast<uint8_t*>(bgr.data());
        if (bottomUp) {
            rows.top += int64_t{height - 1} * rows.step;
            rows.step = -rows.step;
        }
        return rows;
    }
    // The same picture with its rows stored the other way round.
    Picture Flipped() const {
        Picture flipped = *this;
        flipped.bottomUp = !bottomUp;
        const size_t rowBytes = size_t(width) * 3;
        for (int32_t y = 0; y < height; ++y) {
            std::copy_n(bgr.data() + size_t(y) * rowBytes, rowBytes,
                        flipped.bgr.data() + size_t(height - 1 - y) * rowBytes);
        }
        return flipped;
    }
    bool SameRow(const Picture& other, int32_t y) const {
        const uint8_t* row = Rows().Row(y);
        return std::equal(row, row + int64_t{width} * 3, other.Rows().Row(y));
    }
};

Picture PictureFrom(const uint8_t* data, size_t size) {
    Picture picture;
    picture.width = int32_t(1 + (data[0] | data[1] << 8) % kMaxSide);
    picture.height = int32_t(1 + (data[2] | data[3] << 8) % kMaxSide);
    picture.bgr.resize(size_t(picture.width) * size_t(picture.height) * 3);
    const uint8_t* pixels = data + kHeaderBytes;
    const size_t count = size - kHeaderBytes;
    for (size_t i = 0; i < picture.bgr.size(); ++i) {
        picture.bgr[i] = count == 0 ? 0 : pixels[i % count];
    }
    return picture;
}

// The detectors see the same picture whichever way its rows are stored.
void RunDetectors(const Picture& picture) {
    const Picture flipped = picture.Flipped();
    const CombingReport down = DetectCombing(picture.Rows());
    const CombingReport up = DetectCombing(flipped.Rows());
    Check(down.score >= 0 && down.score <= 100);
    Check(down.score == up.score && down.combed == up.combed && down.keep == up.keep);
    const BandReport bands = DetectBands(picture.Rows());
    const BandReport same = DetectBands(flipped.Rows());
    Check(bands.top == same.top && bands.bottom == same.bottom && bands.blank == same.blank);
    Check(bands.top >= 0 && bands.bottom >= 0 && bands.top + bands.bottom <= picture.height);
    Check(!bands.blank || (bands.top == 0 && bands.bottom == 0));
}

// The kept field's rows come out bit for bit; a frame not found combed stays whole.
void RunRowRepairs(const Picture& made, std::optional<Field> keep) {
    for (const Field field : {Field::Top, Field::Bottom}) {
        Picture picture = made;
        KeepField(picture.Rows(), field);
        for (int32_t y = FirstRowOf(field); y < made.height; y += 2) {
            Check(picture.SameRow(made, y));
        }
    }
    Picture picture = made;
    const CombingReport report = DeinterlaceAdaptive(picture.Rows(), keep);
    for (int32_t y = 0; y < made.height; ++y) {
        if (!report.combed || (y & 1) == FirstRowOf(report.keep)) {
            Check(picture.SameRow(made, y));
        }
    }
}

// A 24-bit BMP of the picture, for the repairs that go through the surface.
std::vector<uint8_t> BmpOf(const Picture& picture) {
    const uint32_t stride = (uint32_t(picture.width) * 3 + 3) & ~3u;
    const uint32_t pixelBytes = stride * uint32_t(picture.height);
    std::vector<uint8_t> bmp;
    const auto put = [&bmp](uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            bmp.push_back(uint8_t(value >> (8 * i)));
        }
    };
    put('B', 1), put('M', 1), put(54 + pixelBytes, 4), put(0, 4), put(54, 4);
    put(40, 4), put(uint32_t(picture.width), 4), put(uint32_t(picture.height), 4);
    put(1, 2), put(24, 2), put(0, 4), put(pixelBytes, 4), put(0, 4), put(0, 4), put(0, 4);
    put(0, 4);
    for (int32_t y = picture.height - 1; y >= 0; --y) {
        const uint8_t* row = picture.Rows().Row(y);
        bmp.insert(bmp.end(), row, row + int64_t{picture.width} * 3);
        bmp.resize(bmp.size() + (stride - uint32_t(picture.width) * 3), 0);
    }
    return bmp;
}

void RunSurfaceRepairs(const Picture& picture, uint8_t choices) {
    static fuzz::InputFile file;
    const std::vector<uint8_t> bmp = BmpOf(picture);
    const char* path = file.Hold(bmp.data(), bmp.size());
    // Band depths from none to past the picture's height.
    const int32_t top = (choices >> 2) % 8 * picture.height / 4;
    const int32_t bottom = (choices >> 5) * picture.height / 4;
    CImageSurface surface;
    surface.GetImage()->Load(path);
    surface.Lock();
    Deinterlace(surface);
    ClipRows(surface, top, bottom);
    SoftenBorders(surface, top, bottom);
    surface.Unlock();
    fuzz::CheckWholeDib(surface.GetImage()->GetDib());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes) {
        return 0;
    }
    const uint8_t choices = data[4];
    const Picture picture = PictureFrom(data, size);
    const std::optional<Field> keep =
        (choices & 3) == 0 ? std::nullopt
                           : std::optional<Field>((choices & 3) == 1 ? Field::Top : Field::Bottom);
    RunDetectors(picture);
    RunRowRepairs((choices & 0x80) != 0 ? picture.Flipped() : picture, keep);
    RunSurfaceRepairs(picture, choices);
    return 0;
}
