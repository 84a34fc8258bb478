// JPEG files through ReadJpegFile.
#include <cstddef>
#include <cstdint>

#include "formats/jpeg_file.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessary::fuzz::InputFile input;
    uint32_t width = 0;
    uint32_t height = 0;
    tessary::ByteBuffer pixels = tessary::ReadJpegFile(input.Hold(data, size), &width, &height);
    if (pixels) {
        if (width == 0 || height == 0) {
            __builtin_trap();
        }
        volatile uint8_t last = pixels[uint64_t{width} * height * 3 - 1];
        (void)last;
    }
    return 0;
}
