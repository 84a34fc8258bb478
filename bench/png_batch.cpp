// A PNG -> repairs -> PNG batch in one process, file after file, as the batch
// run does it: read the file, decode it into the store, run the three repairs
// (deinterlace, clip 8/4, soften borders 8/4) through the surface unless -n is
// given, and write it as PNG. For timing against other tools (docs/performance.md).
//
// Usage: bench_png_batch [-n] OUT_DIR FILE.png...
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/bmp_file.h"
#include "formats/dib.h"
#include "formats/png_file.h"
#include "image/image_surface.h"
#include "ops/field_ops.h"
#include "platform/file_handle.h"

namespace {

std::vector<uint8_t> ReadWhole(const char* path) {
    tessary::FileHandle file = tessary::FileHandle::OpenForReading(path);
    std::vector<uint8_t> bytes;
    const int64_t size = file.Seek(0, tessary::SeekFrom::End);
    if (size > 0 && file.Seek(0, tessary::SeekFrom::Begin) == 0) {
        bytes.resize(size_t(size));
        if (file.Read(bytes.data(), bytes.size()) != size) {
            bytes.clear();
        }
    }
    return bytes;
}

std::string NameOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    const bool repairs = !(argc > 1 && std::strcmp(argv[1], "-n") == 0);
    if (!repairs) {
        ++first;
    }
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: %s [-n] OUT_DIR FILE.png...\n", argv[0]);
        return 2;
    }
    const std::string out = argv[first];
    tessary::CImageSurface surface;
    tessary::CDibImage& image = *surface.GetImage();
    tessary::MemoryBlock dib;
    int failures = 0;
    for (int i = first + 1; i < argc; ++i) {
        const tessary::Status status =
            tessary::ReadPng(ReadWhole(argv[i]), &dib, nullptr, std::move(dib));
        if (!status.IsOk()) {
            std::fprintf(stderr, "%s: %s\n", argv[i], status.Text().c_str());
            ++failures;
            continue;
        }
        // The store takes a picture only from a file or by copying its pixels
        // into one of the same size; a BMP of the first picture gives it that.
        if (image.GetWidth() != tessary::ParseInfoHeader(dib.Data()).biWidth ||
            image.GetHeight() != tessary::ParseInfoHeader(dib.Data()).biHeight) {
            const std::string shape = out + "/.shape.bmp";
            tessary::SaveDibFile(shape.c_str(), dib);
            image.LoadBmp(shape.c_str());
            std::remove(shape.c_str());
        }
        const tessary::BitmapInfoHeader header = tessary::ParseInfoHeader(dib.Data());
        image.SetBits(dib.Data() + tessary::DibPixelOffset(header),
                      uint32_t(tessary::DibPixelBytes(header)));
        if (repairs) {
            surface.Lock();
            tessary::Deinterlace(surface);
            tessary::ClipRows(surface, 8, 4);
            tessary::SoftenBorders(surface, 8, 4);
            surface.Unlock();
        }
        image.SavePng((out + "/" + NameOf(argv[i])).c_str());
        if (!image.GetSaveReport().written) {
            std::fprintf(stderr, "%s: not written\n", argv[i]);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
