#include "formats/dib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "formats/size_limit.h"

namespace tessary {
namespace {

BitmapInfoHeader HeaderOf(uint32_t size, uint16_t bitCount, uint32_t clrUsed) {
    BitmapInfoHeader header;
    header.biSize = size;
    header.biBitCount = bitCount;
    header.biClrUsed = clrUsed;
    return header;
}

TEST(DibColorTable, EntryAndByteCounts) {
    struct Case {
        uint16_t bitCount;
        uint32_t clrUsed;
        uint16_t colors;
        uint16_t bytes;
    };
    const std::vector<Case> cases = {
        {1, 0, 2, 8},
        {4, 0, 16, 64},
        {8, 0, 256, 1024},
        {24, 0, 0, 0},
        {16, 0, 0, 0},
        {32, 0, 0, 0},
        {2, 0, 0, 0},
        {8, 17, 17, 68},
        {24, 2, 2, 8},
        {1, 300, 300, 1200},
        {8, 16383, 16383, 65532},
    };
    for (const Case& c : cases) {
        const BitmapInfoHeader header = HeaderOf(40, c.bitCount, c.clrUsed);
        EXPECT_EQ(DibNumColors(header), c.colors) << c.bitCount << "/" << c.clrUsed;
        EXPECT_EQ(DibPaletteSize(header), c.bytes) << c.bitCount << "/" << c.clrUsed;
    }
}

TEST(DibColorTable, CoreHeaderTakesBitCountAtOffset10AndThreeByteEntries) {
    // Parsed as 40 bytes, offset 10 of a core header is the high half of biHeight.
    BitmapInfoHeader core = HeaderOf(12, 0, 9999);
    for (auto [bits, colors] :
         std::vector<std::pair<uint16_t, uint16_t>>{{1, 2}, {4, 16}, {8, 256}, {24, 0}}) {
        core.biHeight = static_cast<int32_t>(uint32_t{bits} << 16 | 5);
        EXPECT_EQ(DibNumColors(core), colors) << bits;
        EXPECT_EQ(DibPaletteSize(core), colors * 3) << bits;
    }
}

TEST(CreateDib, TwentyFourBitBlankImage) {
    MemoryBlock dib = CreateDib(10, 10, 24);
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib.Size(), 360u);
    const uint8_t* b = dib.Data();
    EXPECT_EQ(LoadLe32(b), 40u);
    EXPECT_EQ(LoadLe32(b + 4), 10u);
    EXPECT_EQ(LoadLe32(b + 8), 10u);
    EXPECT_EQ(LoadLe16(b + 12), 1u);
    EXPECT_EQ(LoadLe16(b + 14), 24u);
    EXPECT_EQ(LoadLe32(b + 16), 0u);
    EXPECT_EQ(LoadLe32(b + 20), 320u);
    EXPECT_EQ(LoadLe32(b + 24), 3780u);
    EXPECT_EQ(LoadLe32(b + 28), 3780u);
    EXPECT_EQ(LoadLe32(b + 32), 0u);
    EXPECT_EQ(LoadLe32(b + 36), 0u);
    for (uint64_t i = 40; i < dib.Size(); ++i) {
        ASSERT_EQ(b[i], 0) << i;
    }
}

TEST(CreateDib, ReusesASpareOfTheRightSizeZeroFilledAgain) {
    MemoryBlock spare = CreateDib(7, 3, 24);
    ASSERT_TRUE(spare);
    std::vector<uint8_t> blank(spare.Data(), spare.Data() + spare.Size());
    std::memset(spare.Data(), 0xA5, spare.Size());
    const uint8_t* address = spare.Data();
    MemoryBlock dib = CreateDib(7, 3, 24, std::move(spare));
    ASSERT_TRUE(dib);
    EXPECT_TRUE(spare.IsNone());
    EXPECT_EQ(dib.Data(), address);
    EXPECT_EQ(std::vector<uint8_t>(dib.Data(), dib.Data() + dib.Size()), blank);

    // Another size (also one of equal area): a new block, the spare released.
    for (auto [w, h] : {std::pair{3u, 7u}, std::pair{8u, 3u}}) {
        MemoryBlock other = CreateDib(7, 3, 24);
        MemoryBlock made = CreateDib(w, h, 24, std::move(other));
        MemoryBlock fresh = CreateDib(w, h, 24);
        EXPECT_TRUE(other.IsNone());
        ASSERT_EQ(made.Size(), fresh.Size());
        EXPECT_EQ(std::memcmp(made.Data(), fresh.Data(), made.Size()), 0) << w << "x" << h;
    }
}

TEST(CreateDib, EightBitImageHasABlackTableOf256) {
    MemoryBlock dib = CreateDib(10, 10, 8);
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib.Size(), 1184u);
    const BitmapInfoHeader header = ParseInfoHeader(dib.Data());
    EXPECT_EQ(header.biSizeImage, 120u);
    EXPECT_EQ(header.biClrUsed, 256u);
    EXPECT_EQ(header.biClrImportant, 256u);
    for (uint64_t i = 40; i < dib.Size(); ++i) {
        ASSERT_EQ(dib.Data()[i], 0) << i;
    }
}

TEST(CreateDib, OneAndFourBitTables) {
    MemoryBlock one = CreateDib(33, 2, 1);
    ASSERT_TRUE(one);
    EXPECT_EQ(ParseInfoHeader(one.Data()).biClrUsed, 2u);
    EXPECT_EQ(one.Size(), 40u + 8 + 16);
    MemoryBlock four = CreateDib(3, 3, 4);
    ASSERT_TRUE(four);
    EXPECT_EQ(ParseInfoHeader(four.Data()).biClrImportant, 16u);
    EXPECT_EQ(four.Size(), 40u + 64 + 12);
}

TEST(CreateDib, RefusesMoreThanThePixelLimit) {
    EXPECT_FALSE(CreateDib(3000000, 2000000, 24));
    EXPECT_FALSE(CreateDib(0xFFFFFFFFu, 0xFFFFFFFFu, 32));  // wraps in 32 bits
    // kMaxPixelBytes + 4: one row of a stride just past the limit.
    EXPECT_FALSE(CreateDib(static_cast<uint32_t>(kMaxPixelBytes / 4 + 1), 1, 32));
}

TEST(CreateDib, HeightBeyondInt32WithNoPixelBytes) {
    // A zero-width image holds no pixel bytes, so any height fits; the field
    // then reads negative, which the store must survive.
    MemoryBlock dib = CreateDib(0, 0x80000000u, 24);
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib.Size(), 40u);
    EXPECT_LT(ParseInfoHeader(dib.Data()).biHeight, 0);
}

TEST(GetDibInfo, FillsZeroFieldsInTheCopyOnly) {
    MemoryBlock dib = CreateDib(5, 3, 8);
    ASSERT_TRUE(dib);
    StoreLe32(dib.Data() + 20, 0);  // biSizeImage
    StoreLe32(dib.Data() + 32, 0);  // biClrUsed
    BitmapInfoHeader header;
    ASSERT_EQ(GetDibInfo(dib, &header), 1);
    EXPECT_EQ(header.biSizeImage, 8u * 3);
    EXPECT_EQ(header.biClrUsed, 256u);
    EXPECT_EQ(LoadLe32(dib.Data() + 20), 0u);
    EXPECT_EQ(LoadLe32(dib.Data() + 32), 0u);

    StoreLe32(dib.Data(), 12);  // a core size: nothing is filled in
    ASSERT_EQ(GetDibInfo(dib, &header), 1);
    EXPECT_EQ(header.biSizeImage, 0u);
    EXPECT_EQ(header.biClrUsed, 0u);

    EXPECT_EQ(GetDibInfo(MemoryBlock(), &header), 0);
    EXPECT_EQ(GetDibInfo(MemoryBlock::Allocate(39), &header), 0);
}

}  // namespace
}  // namespace tessary
