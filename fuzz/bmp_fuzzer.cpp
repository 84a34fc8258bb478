// BMP files (and bare packed DIBs) through the BMP reader, every header size.
#include <cstddef>
#include <cstdint>

#include "formats/bmp_file.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessary::MemoryBlock spare;
    tessary::DecodedImage image;
    if (tessary::DecodeBmpImage({data, size}, spare, image).IsOk()) {
        tessary::fuzz::CheckWholeDib(image.dib);
    }
    return 0;
}
