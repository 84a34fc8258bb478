// GIF files through the GIF reader, rows straight into a DIB.
#include <cstddef>
#include <cstdint>

#include "formats/gif_reader.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tessary::MemoryBlock spare;
    tessary::DecodedImage image;
    if (tessary::DecodeGifImage({data, size}, spare, image).IsOk()) {
        tessary::fuzz::CheckWholeDib(image.dib);
    }
    return 0;
}
