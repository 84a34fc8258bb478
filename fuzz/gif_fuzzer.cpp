// GIF files through CGifReader::ReadGifFile.
#include <cstddef>
#include <cstdint>

#include "formats/gif_reader.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessary::fuzz::InputFile input;
    tessary::CGifReader reader;
    int width = 0;
    int height = 0;
    tessary::ByteBuffer pixels = reader.ReadGifFile(input.Hold(data, size), &width, &height);
    if (pixels) {
        if (width <= 0 || height <= 0) {
            __builtin_trap();
        }
        // Every byte of the buffer must exist (ASan checks the access).
        volatile uint8_t last = pixels[uint64_t(width) * uint64_t(height) * 3 - 1];
        (void)last;
    }
    return 0;
}
