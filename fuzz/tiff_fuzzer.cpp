// TIFF files through the reader, from memory as the reader table hands them
// over, and what it reads through both writers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/dib.h"
#include "formats/tiff_file.h"
#include "fuzz/fuzz_input.h"

namespace {

// Small pictures only go through the writers, so that an input stays fast.
constexpr uint64_t kMaxWrittenPixels = 1 << 14;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string out = tessary::fuzz::OutputFolder() + "/out.tif";
    tessary::MemoryBlock spare;
    tessary::DecodedImage image;
    const tessary::Status status = tessary::DecodeTiffImage({data, size}, spare, image);
    if (status.IsOk() != !image.dib.IsNone() || (!status.IsOk() && !image.deep.IsEmpty())) {
        __builtin_trap();  // a picture comes with Ok and only with Ok
    }
    if (!image.dib) {
        return 0;
    }
    tessary::fuzz::CheckWholeDib(image.dib);
    const tessary::BitmapInfoHeader header = tessary::ParseInfoHeader(image.dib.Data());
    const uint32_t width = uint32_t(header.biWidth);
    const uint32_t height = uint32_t(header.biHeight);
    if (!image.deep.IsEmpty()) {
        // The deep picture is the DIB's picture, every sample of it readable.
        if (image.deep.width != width || image.deep.height != height) {
            __builtin_trap();
        }
        volatile uint16_t last = image.deep.Row(height - 1)[image.deep.RowSamples() - 1];
        (void)last;
    }
    if (uint64_t{width} * height <= kMaxWrittenPixels) {
        tessary::Status written;
        if (image.deep.IsEmpty()) {
            std::string rgb(uint64_t{width} * height * 3, '\0');
            auto* tight = reinterpret_cast<uint8_t*>(rgb.data());
            tessary::DibRowsToTightRgb(image.dib.Data() + tessary::DibPixelOffset(header), width,
                                       height, tessary::DibStride(width, 24), tight);
            tessary::TightRgbRows rows(tight, width);
            written = tessary::WriteTiffFile(out.c_str(), rows, width, height, &image.metadata);
        } else {
            written = tessary::WriteTiffFile(out.c_str(), image.deep, &image.metadata);
        }
        if (!written.IsOk()) {
            __builtin_trap();  // any picture read can be written
        }
    }
    return 0;
}
