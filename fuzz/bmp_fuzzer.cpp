// BMP files (and bare packed DIBs) through ReadDibFile.
#include <cstddef>
#include <cstdint>

#include "formats/bmp_file.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessary::fuzz::InputFile input;
    tessary::ReadStatus status = tessary::ReadStatus::Ok;
    tessary::MemoryBlock dib = tessary::ReadDibFile(input.Hold(data, size), &status);
    if (dib) {
        // A returned DIB must hold its whole pixel array: reading the last byte
        // the header promises lands outside the block otherwise.
        tessary::BitmapInfoHeader header;
        tessary::GetDibInfo(dib, &header);
        const uint64_t end = tessary::DibPixelOffset(header) + tessary::DibPixelBytes(header);
        if (end > dib.Size()) {
            __builtin_trap();
        }
        volatile uint8_t last = dib.Data()[dib.Size() - 1];
        (void)last;
    }
    return 0;
}
