// PNG files through ReadPng, from memory as the reader table hands them over.
#include <cstddef>
#include <cstdint>

#include "formats/dib.h"
#include "formats/png_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessary::MemoryBlock dib;
    tessary::ImageMetadata metadata;
    const tessary::Status status = tessary::ReadPng({data, size}, &dib, &metadata);
    if (status.IsOk() != !dib.IsNone()) {
        __builtin_trap();  // a picture comes with Ok and only with Ok
    }
    if (dib) {
        // The DIB must hold every row its header promises.
        const tessary::BitmapInfoHeader header = tessary::ParseInfoHeader(dib.Data());
        if (header.biBitCount != 24 ||
            tessary::DibPixelOffset(header) + tessary::DibPixelBytes(header) > dib.Size()) {
            __builtin_trap();
        }
        volatile uint8_t last = dib.Data()[dib.Size() - 1];
        (void)last;
    }
    return 0;
}
