// tessary-eval: the deinterlacing methods and detectors on single BMP files,
// for the quality scripts.
//   tessary-eval deinterlace METHOD IN.bmp OUT.bmp   (average|top|bottom|adaptive)
//   tessary-eval detect IN.bmp    prints combed<TAB>score<TAB>field<TAB>top<TAB>bottom
#include <cstdio>
#include <cstring>
#include <optional>

#include "image/image_surface.h"
#include "ops/black_bands.h"
#include "ops/combing.h"
#include "ops/deinterlace_method.h"
#include "ops/pixel_rows.h"

namespace {

using namespace tessary;

int Usage() {
    std::fprintf(stderr,
                 "usage: tessary-eval deinterlace average|top|bottom|adaptive IN.bmp OUT.bmp\n"
                 "       tessary-eval detect IN.bmp\n");
    return 2;
}

// Loads a 24-bit picture, or says why not.
bool LoadPicture(CImageSurface& surface, const char* path) {
    CDibImage& image = *surface.GetImage();
    image.Load(path);
    if (RowsOf(image).IsEmpty()) {
        std::fprintf(stderr, "tessary-eval: %s: not a 24-bit picture\n", path);
        return false;
    }
    return true;
}

int Deinterlace(const char* methodName, const char* in, const char* out) {
    const std::optional<DeinterlaceMethod> method = ParseDeinterlaceMethod(methodName);
    if (!method) {
        return Usage();
    }
    CImageSurface surface;
    if (!LoadPicture(surface, in)) {
        return 1;
    }
    surface.Lock();
    DeinterlaceBy(surface, *method);
    surface.Unlock();
    CDibImage& image = *surface.GetImage();
    image.SaveBmp(out);
    if (!image.GetSaveReport().written) {
        std::fprintf(stderr, "tessary-eval: %s: %s\n", out,
                     std::strerror(image.GetSaveReport().errorNumber));
        return 1;
    }
    return 0;
}

int Detect(const char* in) {
    CImageSurface surface;
    if (!LoadPicture(surface, in)) {
        return 1;
    }
    const PixelRows rows = RowsOf(*surface.GetImage());
    const CombingReport combing = DetectCombing(rows);
    const BandReport bands = DetectBands(rows);
    std::printf("%s\t%.4f\t%s\t%d\t%d%s\n", combing.combed ? "yes" : "no", combing.score,
                NameOf(combing.keep), bands.top, bands.bottom, bands.blank ? "\tblank" : "");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "deinterlace") == 0) {
        return Deinterlace(argv[2], argv[3], argv[4]);
    }
    if (argc == 3 && std::strcmp(argv[1], "detect") == 0) {
        return Detect(argv[2]);
    }
    return Usage();
}
