// JPEG files through the JPEG reader, with their metadata.
#include <cstddef>
#include <cstdint>

#include "formats/jpeg_file.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessary::MemoryBlock spare;
    tessary::DecodedImage image;
    if (tessary::DecodeJpegImage({data, size}, spare, image).IsOk()) {
        tessary::fuzz::CheckWholeDib(image.dib);
    }
    return 0;
}
