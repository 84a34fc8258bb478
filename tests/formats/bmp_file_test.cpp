#include "formats/bmp_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "formats/dib.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::BmpBuilder;
using test::BmpColor;
using test::Bytes;
using test::TempDir;

// Loads `bytes` from a file; the status lands in `status`.
MemoryBlock LoadBytes(const TempDir& dir, const Bytes& bytes, Status* status = nullptr) {
    const std::string path = dir.File("in.bmp");
    EXPECT_TRUE(test::WriteBytes(path, bytes));
    return ReadDibFile(path.c_str(), status);
}

BitmapInfoHeader HeaderOf(const MemoryBlock& dib) {
    return ParseInfoHeader(dib.Data());
}

Bytes PixelsOf(const MemoryBlock& dib) {
    const uint64_t offset = DibPixelOffset(HeaderOf(dib));
    return Bytes(dib.Data() + offset, dib.Data() + dib.Size());
}

Bytes Range(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

uint32_t Rgb(int32_t x, int32_t y) {
    return static_cast<uint32_t>(x * 16 + 1) | static_cast<uint32_t>(y * 16 + 2) << 8 | 0x30u << 16;
}

// ---- chunked transfer ----

TEST(TransferInPieces, MovesWholePiecesThenTheRemainder) {
    struct Case {
        uint64_t count;
        std::vector<uint64_t> pieces;
    };
    const std::vector<Case> cases = {
        {0, {0}},
        {1, {1}},
        {32768, {32768}},
        {32769, {32768, 1}},
        {65536, {32768, 32768}},
        {65537, {32768, 32768, 1}},
    };
    for (const Case& c : cases) {
        std::vector<uint64_t> seen;
        std::vector<uint64_t> offsets;
        const uint64_t moved = TransferInPieces(c.count, [&](uint64_t offset, uint64_t size) {
            seen.push_back(size);
            offsets.push_back(offset);
            return static_cast<int64_t>(size);
        });
        EXPECT_EQ(moved, c.count);
        EXPECT_EQ(seen, c.pieces) << c.count;
        for (size_t i = 0; i < offsets.size(); ++i) {
            EXPECT_EQ(offsets[i], i * kFilePieceSize);
        }
    }
}

TEST(TransferInPieces, StopsAtTheFirstShortPiece) {
    int calls = 0;
    EXPECT_EQ(TransferInPieces(100000,
                               [&](uint64_t, uint64_t size) {
                                   ++calls;
                                   return static_cast<int64_t>(calls == 2 ? size - 1 : size);
                               }),
              0u);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(TransferInPieces(10, [](uint64_t, uint64_t) { return int64_t{-1}; }), 0u);
}

TEST(ChunkedFileIo, RoundTripsAndReportsAShortRead) {
    TempDir dir;
    const std::string path = dir.File("data");
    Bytes data(70000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    {
        FileHandle file = FileHandle::CreateForWriting(path.c_str());
        EXPECT_EQ(WriteFileChunked(file, data.data(), data.size()), data.size());
    }
    FileHandle file = FileHandle::OpenForReading(path.c_str());
    Bytes back(data.size() + 10, 0xEE);
    EXPECT_EQ(ReadFileChunked(file, back.data(), back.size()), 0u);  // 10 bytes short
    EXPECT_EQ(Range(back, 0, data.size()), data);
}

// ---- writing ----

TEST(SaveDibFile, TwentyFourBitLayoutFieldByField) {
    TempDir dir;
    MemoryBlock dib = CreateDib(10, 10, 24);
    dib.Data()[40] = 0xAB;
    const std::string path = dir.File("out.bmp");
    int error = -1;
    ASSERT_EQ(SaveDibFile(path.c_str(), dib, &error), 1);
    EXPECT_EQ(error, 0);
    const Bytes file = test::ReadBytes(path);
    ASSERT_EQ(file.size(), 374u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(LoadLe32(&file[2]), 54u + 320);  // bfSize
    EXPECT_EQ(LoadLe16(&file[6]), 0u);
    EXPECT_EQ(LoadLe16(&file[8]), 0u);
    EXPECT_EQ(LoadLe32(&file[10]), 54u);  // bfOffBits
    EXPECT_EQ(Range(file, 14, 360), Bytes(dib.Data(), dib.Data() + 360));
}

TEST(SaveDibFile, EightBitTablePutsPixelsAt1078) {
    TempDir dir;
    MemoryBlock dib = CreateDib(10, 10, 8);
    const std::string path = dir.File("out.bmp");
    ASSERT_EQ(SaveDibFile(path.c_str(), dib), 1);
    const Bytes file = test::ReadBytes(path);
    ASSERT_EQ(file.size(), 14u + 1184);
    EXPECT_EQ(LoadLe32(&file[2]), 14u + 1184);
    EXPECT_EQ(LoadLe32(&file[10]), 1078u);
}

TEST(SaveDibFile, NothingToWriteOrNowhereToWriteIt) {
    TempDir dir;
    int error = -1;
    EXPECT_EQ(SaveDibFile(dir.File("a.bmp").c_str(), MemoryBlock(), &error), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(SaveDibFile(dir.File("no/such/a.bmp").c_str(), CreateDib(1, 1, 24), &error), 0);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(SaveDibFile(dir.File("b.bmp").c_str(), MemoryBlock::Allocate(12), &error), 0);
    EXPECT_EQ(error, EINVAL);
    EXPECT_TRUE(dir.List().empty());
}

TEST(SaveDibFile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const std::string path = dir.File("out.bmp");
    const Bytes old = {'o', 'l', 'd'};
    ASSERT_TRUE(test::WriteBytes(path, old));
    // 128 x 128 x 3 = 49152 pixel bytes: two pieces after the two header writes.
    MemoryBlock dib = CreateDib(128, 128, 24);
    const int writesPerSave = 4;
    for (int n = 1; n <= writesPerSave; ++n) {
        FailNthWriteForTesting(n, ENOSPC);
        int error = 0;
        EXPECT_EQ(SaveDibFile(path.c_str(), dib, &error), 0) << n;
        EXPECT_EQ(error, ENOSPC) << n;
        EXPECT_EQ(test::ReadBytes(path), old) << n;
        EXPECT_EQ(dir.List(), std::vector<std::string>{"out.bmp"}) << n;
    }
    FailNthWriteForTesting(writesPerSave + 1, ENOSPC);  // past the last write of a save
    EXPECT_EQ(SaveDibFile(path.c_str(), dib), 1);
    FailNthWriteForTesting(0, 0);
    EXPECT_EQ(test::ReadBytes(path).size(), 14u + dib.Size());
    EXPECT_EQ(dir.List(), std::vector<std::string>{"out.bmp"});
}

// ---- reading: header kinds ----

TEST(ReadDibFile, FortyByteHeaderRoundTrip) {
    TempDir dir;
    const Bytes file = BmpBuilder(3, 2, 24).Resolution(100, 200).Pixels24(Rgb).Build();
    Status status;
    MemoryBlock dib = LoadBytes(dir, file, &status);
    ASSERT_TRUE(dib);
    EXPECT_EQ(status.code, StatusCode::Ok);
    const BitmapInfoHeader h = HeaderOf(dib);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 3);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biSizeImage, 24u);  // filled from stride x height
    EXPECT_EQ(h.biXPelsPerMeter, 100);
    EXPECT_EQ(h.biYPelsPerMeter, 200);
    EXPECT_EQ(dib.Size(), 64u);
    EXPECT_EQ(PixelsOf(dib), Range(file, 54, 24));
}

TEST(ReadDibFile, FileWithoutFileHeaderIsAPackedDib) {
    TempDir dir;
    const Bytes file = BmpBuilder(2, 2, 8)
                           .WithoutFileHeader()
                           .GreyPalette(3)
                           .ClrUsed(3)
                           .SizeImage(8)
                           .Pixels8([](int x, int y) { return static_cast<uint8_t>(x + 2 * y); })
                           .Build();
    MemoryBlock dib = LoadBytes(dir, file);
    ASSERT_TRUE(dib);
    EXPECT_EQ(HeaderOf(dib).biClrUsed, 3u);
    EXPECT_EQ(Bytes(dib.Data(), dib.Data() + dib.Size()), file);
}

TEST(ReadDibFile, OffBitsZeroOrPointingPastAGap) {
    TempDir dir;
    const Bytes pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    const Bytes direct = BmpBuilder(1, 2, 24).OffBits(0).Gap({}).PixelArray(pixels).Build();
    MemoryBlock a = LoadBytes(dir, direct);
    ASSERT_TRUE(a);
    EXPECT_EQ(PixelsOf(a), pixels);

    const Bytes gapped = BmpBuilder(1, 2, 24).Gap(Bytes(9, 0xEE)).PixelArray(pixels).Build();
    MemoryBlock b = LoadBytes(dir, gapped);
    ASSERT_TRUE(b);
    EXPECT_EQ(PixelsOf(b), pixels);
}

TEST(ReadDibFile, CoreHeaderIsWidenedWithItsColourTriples) {
    TempDir dir;
    // 16 x 2 at 4 bits: 16 triples and 16 pixel bytes, 88 bytes after the core header's start.
    std::vector<BmpColor> colours;
    for (uint8_t i = 0; i < 16; ++i) {
        colours.push_back(BmpColor{static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i * 5),
                                   static_cast<uint8_t>(i * 7), 0});
    }
    Bytes pixels(16);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint8_t>(0x10 * i + 1);
    }
    const Bytes file =
        BmpBuilder(16, 2, 4).CoreHeader().Palette(colours).PixelArray(pixels).Build();
    MemoryBlock dib = LoadBytes(dir, file);
    ASSERT_TRUE(dib);
    const BitmapInfoHeader h = HeaderOf(dib);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 16);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biPlanes, 1u);
    EXPECT_EQ(h.biBitCount, 4u);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 16u);
    EXPECT_EQ(h.biXPelsPerMeter, 0);
    EXPECT_EQ(h.biClrUsed, 16u);
    EXPECT_EQ(h.biClrImportant, 16u);
    ASSERT_EQ(dib.Size(), 40u + 64 + 16);
    for (int i = 0; i < 16; ++i) {
        const uint8_t* entry = dib.Data() + 40 + i * 4;
        EXPECT_EQ(Bytes(entry, entry + 4),
                  (Bytes{colours[i].blue, colours[i].green, colours[i].red, 0}))
            << i;
    }
    EXPECT_EQ(PixelsOf(dib), pixels);

    // Saved again, it carries a 40-byte header.
    const std::string out = dir.File("out.bmp");
    ASSERT_EQ(SaveDibFile(out.c_str(), dib), 1);
    const Bytes saved = test::ReadBytes(out);
    EXPECT_EQ(LoadLe32(&saved[14]), 40u);
    EXPECT_EQ(LoadLe32(&saved[10]), 14u + 40 + 64);
}

TEST(ReadDibFile, CoreHeaderTwentyFourBitsHasNoTable) {
    TempDir dir;
    const Bytes file = BmpBuilder(4, 3, 24).CoreHeader().Pixels24(Rgb).Build();
    MemoryBlock dib = LoadBytes(dir, file);
    ASSERT_TRUE(dib);
    EXPECT_EQ(HeaderOf(dib).biClrUsed, 0u);
    EXPECT_EQ(PixelsOf(dib), Range(file, 26, 36));
}

TEST(ReadDibFile, RefusedHeaders) {
    TempDir dir;
    struct Case {
        const char* what;
        Bytes file;
        StatusCode status;
    };
    const std::vector<Case> cases = {
        {"64-byte header", BmpBuilder(4, 4, 24).HeaderSize(64).Build(), StatusCode::Unsupported},
        {"bit fields at 24 bits", BmpBuilder(4, 4, 24).Compression(3).Build(),
         StatusCode::Unsupported},
        {"JPEG inside", BmpBuilder(4, 4, 24).Compression(4).Build(), StatusCode::Unsupported},
        {"PNG inside", BmpBuilder(4, 4, 24).Compression(5).Build(), StatusCode::Unsupported},
        {"negative width", BmpBuilder(-4, 4, 24).PixelArray(Bytes(64)).Build(),
         StatusCode::Damaged},
        {"lowest height", BmpBuilder(0, INT32_MIN, 24).Build(), StatusCode::Damaged},
        {"top-down RLE", BmpBuilder(4, -4, 8).Compression(1).GreyPalette(256).Build(),
         StatusCode::Damaged},
        {"16384 colours", BmpBuilder(1, 1, 8).ClrUsed(16384).Build(), StatusCode::Damaged},
        {"huge colour count", BmpBuilder(1, 1, 8).ClrUsed(0xFFFFFFFFu).Build(),
         StatusCode::Damaged},
        {"text", Bytes(200, 'a'), StatusCode::NotThisFormat},
        {"enormous", BmpBuilder(3000000, 2000000, 24).PixelArray(Bytes(46)).Build(),
         StatusCode::TooLarge},
        {"enormous top-down", BmpBuilder(3000000, -2000000, 24).PixelArray(Bytes(46)).Build(),
         StatusCode::TooLarge},
        {"size image over the limit", BmpBuilder(1, 1, 24).SizeImage(0x40000001u).Build(),
         StatusCode::TooLarge},
        {"wrapping stride", BmpBuilder(INT32_MAX, 1, 0xFFFF).PixelArray({}).Build(),
         StatusCode::TooLarge},
    };
    for (const Case& c : cases) {
        Status status;
        EXPECT_FALSE(LoadBytes(dir, c.file, &status)) << c.what;
        EXPECT_EQ(status.code, c.status) << c.what;
    }
    EXPECT_EQ(cases[10].file.size(), 100u);
}

TEST(ReadDibFile, UnopenablePaths) {
    TempDir dir;
    Status status;
    EXPECT_FALSE(ReadDibFile(dir.File("missing.bmp").c_str(), &status));
    EXPECT_EQ(status.code, StatusCode::IoError);
    status = Status::Ok();
    EXPECT_FALSE(ReadDibFile(dir.Path().c_str(), &status));
    EXPECT_EQ(status.code, StatusCode::IoError);
}

// ---- reading: sizes and damage ----

TEST(ReadDibFile, TopDownRowsAreReversed) {
    TempDir dir;
    const Bytes file = BmpBuilder(2, -3, 24).Pixels24(Rgb).Build();
    MemoryBlock dib = LoadBytes(dir, file);
    ASSERT_TRUE(dib);
    EXPECT_EQ(HeaderOf(dib).biHeight, 3);
    const Bytes bottomUp = BmpBuilder(2, 3, 24).Pixels24(Rgb).Build();
    EXPECT_EQ(PixelsOf(dib), Range(bottomUp, 54, 24));
}

TEST(ReadDibFile, RunLengthBytesAreKeptAsStored) {
    TempDir dir;
    const Bytes rle = {2, 5, 0, 0, 2, 7, 0, 1};  // as stored, never decoded
    const Bytes file =
        BmpBuilder(4, 2, 8).Compression(1).GreyPalette(256).SizeImage(8).PixelArray(rle).Build();
    MemoryBlock dib = LoadBytes(dir, file);
    ASSERT_TRUE(dib);
    EXPECT_EQ(HeaderOf(dib).biCompression, 1u);
    EXPECT_EQ(HeaderOf(dib).biSizeImage, 8u);
    EXPECT_EQ(PixelsOf(dib), rle);  // stride x height is 8 too
}

TEST(ReadDibFile, PixelArrayCoversStrideTimesHeightWhateverSizeImageSays) {
    TempDir dir;
    const Bytes rows = BmpBuilder(2, 2, 24).Pixels24(Rgb).Build();
    const Bytes pixels = Range(rows, 54, 16);

    // Smaller than the rows: only that much is read, the rest stays 0.
    MemoryBlock small =
        LoadBytes(dir, BmpBuilder(2, 2, 24).SizeImage(5).PixelArray(pixels).Build());
    ASSERT_TRUE(small);
    EXPECT_EQ(HeaderOf(small).biSizeImage, 5u);
    Bytes expected(16, 0);
    std::copy(pixels.begin(), pixels.begin() + 5, expected.begin());
    EXPECT_EQ(PixelsOf(small), expected);

    // Larger: the whole stated size is read, with zeros where the file ends.
    Bytes longer = pixels;
    longer.insert(longer.end(), {9, 9});
    MemoryBlock large =
        LoadBytes(dir, BmpBuilder(2, 2, 24).SizeImage(20).PixelArray(longer).Build());
    ASSERT_TRUE(large);
    EXPECT_EQ(HeaderOf(large).biSizeImage, 20u);
    longer.insert(longer.end(), {0, 0});
    EXPECT_EQ(PixelsOf(large), longer);
}

TEST(ReadDibFile, PixelsBeyondTheEndOfTheFileAreZero) {
    TempDir dir;
    MemoryBlock dib = LoadBytes(dir, BmpBuilder(2, 2, 24).OffBits(5000).Pixels24(Rgb).Build());
    ASSERT_TRUE(dib);
    EXPECT_EQ(PixelsOf(dib), Bytes(16, 0));
}

TEST(ReadDibFile, ColourTableCutShort) {
    TempDir dir;
    Bytes file = BmpBuilder(2, 2, 8).GreyPalette(256).Build();
    file.resize(54 + 10 * 4 + 2);  // ten whole entries and half of one
    for (size_t i = 54; i < file.size(); ++i) {
        file[i] = 0x77;
    }
    MemoryBlock dib = LoadBytes(dir, file);
    ASSERT_TRUE(dib);
    ASSERT_EQ(dib.Size(), 40u + 1024 + 8);
    EXPECT_EQ(Bytes(dib.Data() + 40, dib.Data() + 82), Bytes(42, 0x77));
    EXPECT_EQ(Bytes(dib.Data() + 82, dib.Data() + dib.Size()), Bytes(1024 - 42 + 8, 0));
}

TEST(ReadDibFile, ColourCounts) {
    TempDir dir;
    struct Case {
        uint16_t bits;
        uint32_t clrUsed;
        uint32_t entries;
    };
    for (const Case& c :
         std::vector<Case>{{8, 0, 256}, {8, 17, 17}, {24, 2, 2}, {8, 16383, 16383}}) {
        const Bytes file = BmpBuilder(1, 1, c.bits)
                               .ClrUsed(c.clrUsed)
                               .GreyPalette(c.entries)
                               .PixelArray({0xA1, 0xA2, 0xA3, 0xA4})
                               .Build();
        MemoryBlock dib = LoadBytes(dir, file);
        ASSERT_TRUE(dib) << c.clrUsed;
        EXPECT_EQ(HeaderOf(dib).biClrUsed, c.entries);
        EXPECT_EQ(DibPixelOffset(HeaderOf(dib)), 40u + c.entries * 4);
        EXPECT_EQ(dib.Data()[40 + 4 * (c.entries - 1)], static_cast<uint8_t>(c.entries - 1));
        EXPECT_EQ(PixelsOf(dib)[0], 0xA1) << c.clrUsed;
    }
}

TEST(ReadDibFile, ZeroSizedImagesLoadWithNoPixels) {
    TempDir dir;
    for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{0, 5}, {5, 0}, {0, 0}, {0, -5}}) {
        MemoryBlock dib = LoadBytes(dir, BmpBuilder(w, h, 24).Build());
        ASSERT_TRUE(dib) << w << "x" << h;
        EXPECT_EQ(dib.Size(), 40u);
        EXPECT_GE(HeaderOf(dib).biHeight, 0);
        EXPECT_EQ(SaveDibFile(dir.File("out.bmp").c_str(), dib), 1);
    }
}

TEST(ReadDibFile, EveryTruncationOfASmallFile) {
    TempDir dir;
    const Bytes full = BmpBuilder(3, 3, 8)
                           .GreyPalette(4)
                           .ClrUsed(4)
                           .SizeImage(12)
                           .Pixels8([](int x, int y) { return static_cast<uint8_t>((x + y) % 4); })
                           .Build();
    const Bytes headerless(full.begin() + 14, full.end());
    for (const Bytes* whole : {&full, &headerless}) {
        const size_t headerEnd = whole == &full ? 54 : 40;
        for (size_t length = 0; length <= whole->size(); ++length) {
            const Bytes part(whole->begin(), whole->begin() + length);
            Status status;
            MemoryBlock dib = LoadBytes(dir, part, &status);
            ASSERT_EQ(bool(dib), length >= headerEnd) << length;
            if (!dib) {
                // Until "BM" or a header size is there, it is no BMP at all.
                const size_t recognisedFrom = whole == &full ? 2 : 4;
                EXPECT_EQ(status.code,
                          length < recognisedFrom ? StatusCode::NotThisFormat : StatusCode::Damaged)
                    << length;
                continue;
            }
            ASSERT_EQ(dib.Size(), 40u + 16 + 12) << length;
            // Whatever the file held is there; the rest is 0.
            for (size_t i = 0; i < dib.Size(); ++i) {
                const size_t at = headerEnd - 40 + i;
                const uint8_t want = at < length ? (*whole)[at] : 0;
                ASSERT_EQ(dib.Data()[i], want) << length << " byte " << i;
            }
        }
    }
}

TEST(ReadDibFile, CoreHeaderNeedsFortyBytesBehindItsStart) {
    TempDir dir;
    // 1 bit, 2 x 2: 12 + 6 + 8 = 26 bytes behind the header's start.
    const Bytes small = BmpBuilder(2, 2, 1).CoreHeader().GreyPalette(2).Build();
    EXPECT_FALSE(LoadBytes(dir, small));
    Bytes padded = small;
    padded.resize(14 + 40);
    EXPECT_TRUE(LoadBytes(dir, padded));
}

}  // namespace
}  // namespace tessary
