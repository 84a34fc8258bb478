// The whole path of one batch file: the load chain, the three repairs inside a
// lock, and both writers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/bmp_file.h"
#include "fuzz/fuzz_input.h"
#include "image/image_surface.h"
#include "ops/field_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tessary::fuzz::InputFile input;
    static const std::string bmpOut = tessary::fuzz::OutputFolder() + "/out.bmp";
    static const std::string jpegOut = tessary::fuzz::OutputFolder() + "/out.jpg";

    tessary::CImageSurface surface;
    tessary::CDibImage& image = *surface.GetImage();
    image.Load(input.Hold(data, size));
    surface.Lock();
    tessary::Deinterlace(surface);
    tessary::ClipRows(surface, 8, 4);
    tessary::SoftenBorders(surface, 8, 4);
    surface.Unlock();
    image.SaveBmp(bmpOut.c_str());
    image.SaveJpeg(jpegOut.c_str(), 100);

    // What was written must read back (the BMP writer's output is always a
    // file this program takes).
    if (image.HasImage() && tessary::ReadDibFile(bmpOut.c_str()).IsNone()) {
        __builtin_trap();
    }
    tessary::fuzz::EmptyFolder(tessary::fuzz::OutputFolder());
    return 0;
}
