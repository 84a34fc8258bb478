// Writes the seed corpora: small valid files of every kind the readers take,
// one folder per fuzz target (the whole-path target gets all of them).
//   tessary-fuzz-seeds OUTPUT_FOLDER
#include <tiffio.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/bmp_builder.h"
#include "tests/support/gif_builder.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/png_builder.h"

namespace {

using tessary::test::Bytes;
namespace fs = std::filesystem;

using Seeds = std::vector<std::pair<std::string, Bytes>>;

std::vector<uint8_t> Indices(int width, int height, int colours) {
    std::vector<uint8_t> pixels(size_t(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = uint8_t((i * 7 + i / width) % colours);
    }
    return pixels;
}

Seeds BmpSeeds() {
    using tessary::test::BmpBuilder;
    auto rgb = [](int32_t x, int32_t y) {
        return uint32_t(x * 40) | uint32_t(y * 30) << 8 | 0x800000;
    };
    auto index = [](int32_t x, int32_t y) { return uint8_t(x + 2 * y); };
    // Run-length coded 8-bit rows: two runs, an end of line, a literal run, end of bitmap.
    const Bytes rle8 = {3, 1, 2, 5, 0, 0, 0, 4, 1, 2, 3, 4, 1, 7, 0, 1};
    return {
        {"1bit.bmp", BmpBuilder(9, 3, 1)
                         .GreyPalette(2)
                         .Pixels8([](int x, int y) { return uint8_t((x + y) & 1); })
                         .Build()},
        {"4bit.bmp", BmpBuilder(5, 4, 4).GreyPalette(16).Pixels8(index).Build()},
        {"8bit.bmp", BmpBuilder(6, 5, 8).GreyPalette(256).Pixels8(index).Build()},
        {"8bit-17colours.bmp",
         BmpBuilder(4, 4, 8).ClrUsed(17).GreyPalette(17).Pixels8(index).Build()},
        {"24bit.bmp", BmpBuilder(7, 6, 24).Pixels24(rgb).Build()},
        {"24bit-topdown.bmp", BmpBuilder(5, -4, 24).Pixels24(rgb).Build()},
        {"core-8bit.bmp", BmpBuilder(4, 3, 8).CoreHeader().GreyPalette(256).Pixels8(index).Build()},
        {"core-24bit.bmp", BmpBuilder(3, 3, 24).CoreHeader().Pixels24(rgb).Build()},
        {"no-file-header.dib", BmpBuilder(3, 2, 24).WithoutFileHeader().Pixels24(rgb).Build()},
        {"gap-offbits.bmp", BmpBuilder(2, 2, 24).Gap(Bytes(10, 0xAA)).Pixels24(rgb).Build()},
        {"rle8.bmp", BmpBuilder(8, 3, 8)
                         .Compression(1)
                         .GreyPalette(8)
                         .SizeImage(uint32_t(rle8.size()))
                         .PixelArray(rle8)
                         .Build()},
        {"32bit.bmp", BmpBuilder(3, 2, 32).Build()},
        // Today's headers and bit fields, which become 24-bit pictures.
        {"v4-32bit-fields.bmp", BmpBuilder(3, 2, 32)
                                    .HeaderSize(108)
                                    .Compression(3)
                                    .Masks(0xFF0000, 0xFF00, 0xFF, 0xFF000000)
                                    .PixelValues(rgb)
                                    .Build()},
        {"v5-16bit-565-topdown.bmp", BmpBuilder(5, -3, 16)
                                         .HeaderSize(124)
                                         .Compression(3)
                                         .Masks(0xF800, 0x07E0, 0x001F)
                                         .PixelValues(rgb)
                                         .Build()},
        {"v5-8bit-profile.bmp", BmpBuilder(4, 3, 8)
                                    .HeaderSize(124)
                                    .ClrUsed(16)
                                    .GreyPalette(16)
                                    .Pixels8(index)
                                    .Profile(Bytes(200, 0x33))
                                    .Build()},
        {"fields-16bit-555.bmp", BmpBuilder(4, 2, 16)
                                     .Compression(3)
                                     .Masks(0x7C00, 0x03E0, 0x001F)
                                     .PixelValues(rgb)
                                     .Build()},
        {"fields-32bit-10bit.bmp", BmpBuilder(3, 3, 32)
                                       .Compression(3)
                                       .Masks(0x3FF00000, 0xFFC00, 0x3FF)
                                       .PixelValues(rgb)
                                       .Build()},
    };
}

Seeds GifSeeds() {
    using namespace tessary::test;
    Seeds seeds;
    const Palette map = DistinctPalette(16);
    GifFile plain;
    plain.version = "87a";
    plain.globalMap = map;
    GifImage image;
    image.width = 9;
    image.height = 7;
    image.pixels = Indices(9, 7, 16);
    image.lzw.minCodeSize = 4;
    plain.images = {image};
    seeds.emplace_back("87a.gif", BuildGif(plain));

    GifFile extended = plain;
    extended.version = "89a";
    extended.aspect = 49;
    extended.beforeImages = GraphicControlExtension(3);
    const Bytes comment = CommentExtension("seed");
    extended.beforeImages.insert(extended.beforeImages.end(), comment.begin(), comment.end());
    seeds.emplace_back("89a-extensions.gif", BuildGif(extended));

    GifFile interlaced = extended;
    interlaced.images[0].height = 11;
    interlaced.images[0].pixels = Indices(9, 11, 16);
    interlaced.images[0].interlaced = true;
    seeds.emplace_back("interlaced.gif", BuildGif(interlaced));

    GifFile local = plain;
    local.globalMap.clear();
    local.images[0].localMap = DistinctPalette(8);
    local.images[0].pixels = Indices(9, 7, 8);
    local.images[0].lzw.minCodeSize = 3;
    local.images.push_back(image);
    seeds.emplace_back("local-map-two-images.gif", BuildGif(local));

    GifFile wide = plain;
    wide.globalMap = DistinctPalette(256);
    wide.images[0].width = 70;
    wide.images[0].height = 40;
    wide.images[0].pixels = Indices(70, 40, 256);
    wide.images[0].lzw.minCodeSize = 8;
    wide.images[0].blockSize = 100;
    seeds.emplace_back("8bit-codes.gif", BuildGif(wide));

    GifFile tiny = plain;
    tiny.globalMap = DistinctPalette(2);
    tiny.images[0].width = 3;
    tiny.images[0].height = 2;
    tiny.images[0].pixels = {0, 1, 1, 0, 0, 1};
    tiny.images[0].lzw.minCodeSize = 2;
    seeds.emplace_back("2-colours.gif", BuildGif(tiny));
    return seeds;
}

// libjpeg straight, for restart markers, which the test builder has no option for.
Bytes JpegWithRestarts(uint32_t width, uint32_t height) {
    struct Errors {
        jpeg_error_mgr library;
        std::jmp_buf recovery;
    } errors{};
    jpeg_compress_struct library{};
    unsigned char* memory = nullptr;
    unsigned long size = 0;
    const Bytes picture = tessary::test::GradientPicture(width, height);
    library.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = [](j_common_ptr object) {
        std::longjmp(reinterpret_cast<Errors*>(object->err)->recovery, 1);
    };
    if (setjmp(errors.recovery) != 0) {
        jpeg_destroy_compress(&library);
        std::free(memory);
        return {};
    }
    jpeg_create_compress(&library);
    jpeg_mem_dest(&library, &memory, &size);
    library.image_width = width;
    library.image_height = height;
    library.input_components = 3;
    library.in_color_space = JCS_RGB;
    jpeg_set_defaults(&library);
    jpeg_set_quality(&library, 80, TRUE);
    library.restart_interval = 2;  // a marker every two MCUs
    jpeg_start_compress(&library, TRUE);
    while (library.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.data() + library.next_scanline * width * 3);
        jpeg_write_scanlines(&library, &row, 1);
    }
    jpeg_finish_compress(&library);
    jpeg_destroy_compress(&library);
    Bytes file(memory, memory + size);
    std::free(memory);
    return file;
}

Seeds JpegSeeds() {
    using namespace tessary::test;
    const Bytes colour = GradientPicture(24, 17);
    Bytes grey(20 * 13);
    for (size_t i = 0; i < grey.size(); ++i) {
        grey[i] = uint8_t(i * 3);
    }
    JpegOptions greyOptions;
    greyOptions.components = 1;
    greyOptions.space = JCS_GRAYSCALE;
    JpegOptions progressive;
    progressive.progressive = true;
    JpegOptions best;
    best.quality = 100;
    return {
        {"colour.jpg", EncodeJpeg(colour, 24, 17)},
        {"colour-q100.jpg", EncodeJpeg(colour, 24, 17, best)},
        {"grey.jpg", EncodeJpeg(grey, 20, 13, greyOptions)},
        {"progressive.jpg", EncodeJpeg(colour, 24, 17, progressive)},
        {"restarts.jpg", JpegWithRestarts(40, 24)},
        {"one-pixel.jpg", EncodeJpeg(Bytes{200, 10, 60}, 1, 1)},
    };
}

// Filtered scanlines of the right length for the layout, every filter type
// in turn, with varying bytes; for an interlaced picture, pass by pass.
Bytes PngScanlines(uint32_t width, uint32_t height, uint32_t bitsPerPixel, bool interlaced) {
    static const uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static const uint32_t kWhole[1][4] = {{0, 0, 1, 1}};
    Bytes data;
    uint32_t n = 0;
    const std::span<const uint32_t[4]> passes =
        interlaced ? std::span<const uint32_t[4]>(kPasses) : std::span<const uint32_t[4]>(kWhole);
    for (const auto& pass : passes) {
        if (width <= pass[0]) {
            continue;
        }
        const uint32_t columns = (width - pass[0] + pass[2] - 1) / pass[2];
        for (uint32_t y = pass[1]; y < height; y += pass[3], ++n) {
            data.push_back(uint8_t(n % 5));
            for (uint32_t i = 0; i < (columns * bitsPerPixel + 7) / 8; ++i) {
                data.push_back(uint8_t(i * 29 + n * 7));
            }
        }
    }
    return data;
}

Seeds PngSeeds() {
    using tessary::test::PngBuilder;
    auto rgb = [](int x, int y) { return uint32_t(x * 40) | uint32_t(y * 30) << 8 | 0x800000; };
    const Bytes palette = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 90, 90, 90};
    const Bytes deflatedProfile = {'I',  'C',  'C',  0,    0,    0x78, 0x9C, 0x63,
                                   0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};
    const Bytes exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
    const Bytes xmp = {'X', 'M', 'L', ':', 'c', 'o', 'm', '.', 'a', 'd', 'o', 'b', 'e',
                       '.', 'x', 'm', 'p', 0,   0,   0,   0,   0,   '<', 'x', '/', '>'};
    return {
        {"rgb8.png", PngBuilder(7, 5, 8, 2).RgbRows(rgb).Build()},
        {"grey1.png", PngBuilder(13, 4, 1, 0).ImageData(PngScanlines(13, 4, 1, false)).Build()},
        {"grey16-adam7.png",
         PngBuilder(9, 9, 16, 0, 1).ImageData(PngScanlines(9, 9, 16, true)).Build()},
        {"palette4-trns.png", PngBuilder(6, 3, 4, 3)
                                  .Chunk("PLTE", palette)
                                  .Chunk("tRNS", {0, 128})
                                  .ImageData(PngScanlines(6, 3, 4, false))
                                  .Build()},
        {"grey-alpha16.png",
         PngBuilder(5, 4, 16, 4).ImageData(PngScanlines(5, 4, 32, false)).Build()},
        {"rgba8-adam7.png",
         PngBuilder(11, 10, 8, 6, 1).ImageData(PngScanlines(11, 10, 32, true)).Build()},
        {"rgb16-metadata.png", PngBuilder(4, 3, 16, 2)
                                   .Chunk("gAMA", {0, 1, 0x86, 0xA0})
                                   .Chunk("iCCP", deflatedProfile)
                                   .Chunk("eXIf", exif)
                                   .Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'})
                                   .Chunk("iTXt", xmp)
                                   .ImageData(PngScanlines(4, 3, 48, false))
                                   .Build()},
    };
}

// Pictures for the repairs target: width and height (16 bits each, less one),
// a byte of choices, then blue, green, red of every pixel, top row first.
Bytes RepairsPicture(int width, int height, uint8_t choices, uint32_t (*bgr)(int x, int y)) {
    Bytes bytes = {uint8_t(width - 1), uint8_t((width - 1) >> 8), uint8_t(height - 1),
                   uint8_t((height - 1) >> 8), choices};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = bgr(x, y);
            bytes.insert(bytes.end(), {uint8_t(pixel), uint8_t(pixel >> 8), uint8_t(pixel >> 16)});
        }
    }
    return bytes;
}

uint32_t Grey(int level) {
    const uint32_t v = uint32_t(level < 0 ? 0 : level > 255 ? 255 : level);
    return v * 0x010101u;
}

Seeds RepairsSeeds() {
    // A square that moved between the fields, over a textured background.
    const auto woven = [](int x, int y) {
        const int left = y % 2 == 0 ? 20 : 26;
        return x >= left && x < left + 24 && y >= 12 && y < 36 ? 0x30C0F0u
                                                               : Grey(100 + (x * 7 + y * 3) % 40);
    };
    // Black bands beside a dark scene, video black with noise at the bottom.
    const auto bands = [](int x, int y) {
        return y < 10    ? Grey(0)
               : y >= 50 ? Grey(16 + int((x * 2654435761u ^ y * 40503u) % 9) - 4)
                         : Grey(12 + (x + y) % 9);
    };
    const auto flat = [](int, int) { return 0x804020u; };
    const auto noise = [](int x, int y) { return uint32_t(x * 2654435761u ^ y * 2246822519u); };
    return {
        {"woven.px", RepairsPicture(64, 48, 0, woven)},
        {"woven-bottom-up.px", RepairsPicture(64, 48, 0x82, woven)},
        {"bands.px", RepairsPicture(40, 60, 0x25, bands)},
        {"flat.px", RepairsPicture(16, 16, 0, flat)},
        {"one-pixel.px", RepairsPicture(1, 1, 0, noise)},
        {"narrow.px", RepairsPicture(2, 33, 3, noise)},
        {"odd.px", RepairsPicture(67, 5, 1, noise)},
    };
}

// One TIFF layout: written by libtiff to `scratch` and read back.
struct TiffLayout {
    const char* name;
    uint16_t bits;
    uint16_t samples;
    uint16_t photometric;
    uint16_t compression;
    bool planar = false;
    uint32_t tile = 0;  // tile side, 0 for strips
    uint16_t orientation = ORIENTATION_TOPLEFT;
    bool bigEndian = false;
    int pages = 1;
};

void SetTiffFields(TIFF* tiff, const TiffLayout& layout, uint32_t width, uint32_t height) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, layout.orientation);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
                 layout.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (layout.samples == 4 || layout.samples == 2) {
        const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    if (layout.photometric == PHOTOMETRIC_PALETTE) {
        static uint16_t red[256], green[256], blue[256];
        for (int i = 0; i < 256; ++i) {
            red[i] = uint16_t(i * 257), green[i] = uint16_t((255 - i) * 257);
            blue[i] = uint16_t((i * 37 % 256) * 257);
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red, green, blue);
    }
    if (layout.photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, 1, 1);
    }
    if (layout.compression == COMPRESSION_JPEG) {
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (layout.compression == COMPRESSION_ADOBE_DEFLATE || layout.compression == COMPRESSION_LZW) {
        TIFFSetField(tiff, TIFFTAG_PREDICTOR,
                     layout.bits >= 8 ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE);
    }
    if (layout.tile != 0) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, layout.tile);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, layout.tile);
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    }
}

bool WriteTiffPage(TIFF* tiff, const TiffLayout& layout, uint32_t height) {
    const uint16_t planes = layout.planar ? layout.samples : 1;
    const uint64_t size = layout.tile != 0 ? TIFFTileSize64(tiff) : TIFFScanlineSize64(tiff);
    std::vector<uint8_t> block(size);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = uint8_t(i * 13 + i / 7);
    }
    if (layout.tile != 0) {
        for (uint32_t t = 0; t < TIFFNumberOfTiles(tiff); ++t) {
            if (TIFFWriteEncodedTile(tiff, t, block.data(), tmsize_t(size)) < 0) {
                return false;
            }
        }
    } else {
        for (uint16_t plane = 0; plane < planes; ++plane) {
            for (uint32_t row = 0; row < height; ++row) {
                std::vector<uint8_t> copy = block;  // the predictor changes it
                if (TIFFWriteScanline(tiff, copy.data(), row, plane) != 1) {
                    return false;
                }
            }
        }
    }
    return TIFFWriteDirectory(tiff) == 1;
}

Bytes MakeTiff(const TiffLayout& layout, const fs::path& scratch) {
    constexpr uint32_t kWidth = 24;
    constexpr uint32_t kHeight = 17;
    TIFF* tiff = TIFFOpen(scratch.c_str(), layout.bigEndian ? "wb" : "wl");
    if (tiff == nullptr) {
        return {};
    }
    bool ok = true;
    for (int page = 0; page < layout.pages && ok; ++page) {
        SetTiffFields(tiff, layout, kWidth, kHeight);
        ok = WriteTiffPage(tiff, layout, kHeight);
    }
    TIFFClose(tiff);
    Bytes bytes = ok ? tessary::test::ReadBytes(scratch.string()) : Bytes();
    fs::remove(scratch);
    return bytes;
}

Seeds TiffSeeds(const fs::path& scratch) {
    const TiffLayout layouts[] = {
        {"rgb8.tif", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE},
        {"rgb16-deflate-be.tif", 16, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, false, 0,
         ORIENTATION_TOPLEFT, true},
        {"grey1-packbits.tif", 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_PACKBITS},
        {"grey4-lzw-tiled.tif", 4, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, false, 16},
        {"grey16-tiled-be.tif", 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, false, 16,
         ORIENTATION_TOPLEFT, true},
        {"palette8-lzw.tif", 8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_LZW},
        {"rgb8-planar-lzw.tif", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, true},
        {"rgba8-packbits.tif", 8, 4, PHOTOMETRIC_RGB, COMPRESSION_PACKBITS},
        {"ycbcr-jpeg.tif", 8, 3, PHOTOMETRIC_YCBCR, COMPRESSION_JPEG},
        {"ycbcr.tif", 8, 3, PHOTOMETRIC_YCBCR, COMPRESSION_NONE},
        {"rgb16-deflate-tiled-turned.tif", 16, 3, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, false,
         16, ORIENTATION_RIGHTTOP},
        {"two-pages.tif", 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, false, 0,
         ORIENTATION_BOTRIGHT, false, 2},
    };
    Seeds seeds;
    for (const TiffLayout& layout : layouts) {
        seeds.emplace_back(layout.name, MakeTiff(layout, scratch));
    }
    return seeds;
}

bool WriteSeeds(const fs::path& folder, const Seeds& seeds) {
    fs::create_directories(folder);
    for (const auto& [name, bytes] : seeds) {
        if (bytes.empty() || !tessary::test::WriteBytes((folder / name).string(), bytes)) {
            std::fprintf(stderr, "cannot make seed %s\n", name.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const Seeds bmp = BmpSeeds();
    const Seeds gif = GifSeeds();
    const Seeds jpeg = JpegSeeds();
    const Seeds png = PngSeeds();
    fs::create_directories(root);
    const Seeds tiff = TiffSeeds(root / "scratch.tif");
    Seeds all = bmp;
    all.insert(all.end(), gif.begin(), gif.end());
    all.insert(all.end(), jpeg.begin(), jpeg.end());
    all.insert(all.end(), png.begin(), png.end());
    all.insert(all.end(), tiff.begin(), tiff.end());
    const bool ok = WriteSeeds(root / "fuzz_bmp", bmp) && WriteSeeds(root / "fuzz_gif", gif) &&
                    WriteSeeds(root / "fuzz_jpeg", jpeg) && WriteSeeds(root / "fuzz_png", png) &&
                    WriteSeeds(root / "fuzz_tiff", tiff) && WriteSeeds(root / "fuzz_load", all) &&
                    WriteSeeds(root / "fuzz_repairs", RepairsSeeds());
    return ok ? 0 : 1;
}
