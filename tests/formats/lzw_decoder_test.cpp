#include "formats/lzw_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/support/gif_builder.h"

namespace tessary {
namespace {

using test::Bytes;
using test::LzwCode;
using test::LzwOptions;

// Sub-blocks from memory; a read past the end fails like a cut-off file.
class MemorySource final : public SubBlockSource {
  public:
    explicit MemorySource(Bytes blocks) : m_blocks(std::move(blocks)) {}
    int ReadSubBlock(uint8_t* buffer) override {
        if (m_nAt >= m_blocks.size()) {
            return -1;
        }
        int count = m_blocks[m_nAt++];
        m_bLastEmpty = count == 0;
        if (m_nAt + count > m_blocks.size()) {
            m_nAt = m_blocks.size();
            return -1;
        }
        std::memcpy(buffer, m_blocks.data() + m_nAt, size_t(count));
        m_nAt += size_t(count);
        return count;
    }
    bool LastBlockEmpty() const override { return m_bLastEmpty; }

  private:
    Bytes m_blocks;
    size_t m_nAt = 0;
    bool m_bLastEmpty = false;
};

// Every value NextLzwByte hands out, up to and including the first negative one.
std::vector<int> DecodeValues(const Bytes& blocks, int minCodeSize, size_t limit = 1 << 20) {
    MemorySource source(blocks);
    LzwDecoder decoder(source);
    decoder.NextLzwByte(1, minCodeSize);
    std::vector<int> values;
    while (values.size() < limit) {
        values.push_back(decoder.NextLzwByte(0, 0));
        if (values.back() < 0) {
            break;
        }
    }
    return values;
}

std::vector<int> AsValues(const std::vector<uint8_t>& pixels, int last) {
    std::vector<int> values(pixels.begin(), pixels.end());
    values.push_back(last);
    return values;
}

std::vector<uint8_t> RandomPixels(size_t count, int levels, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(count);
    for (uint8_t& p : pixels) {
        p = uint8_t(random() % unsigned(levels));
    }
    return pixels;
}

Bytes Encode(const std::vector<uint8_t>& pixels, const LzwOptions& options, size_t block = 255) {
    return test::SubBlocks(test::PackCodes(test::EncodeLzw(pixels, options)), block);
}

TEST(LzwDecoderTest, DecodesWhatTheEncoderWrote) {
    struct Case {
        const char* name;
        std::vector<uint8_t> pixels;
        LzwOptions options;
    };
    LzwOptions m2{.minCodeSize = 2};
    LzwOptions m8{.minCodeSize = 8};
    LzwOptions deferred{.minCodeSize = 8, .deferClear = true};
    LzwOptions m11{.minCodeSize = 11};
    LzwOptions m0{.minCodeSize = 0, .literalsOnly = true};
    LzwOptions m1{.minCodeSize = 1, .literalsOnly = true};
    LzwOptions noLeadingClear{.minCodeSize = 4, .leadingClear = false};
    const Case cases[] = {
        {"one pixel", {3}, m2},
        {"runs of one value", std::vector<uint8_t>(5000, 7), m8},
        {"random, four levels", RandomPixels(3000, 4, 1), m2},
        {"random, table refilled after clears", RandomPixels(70000, 256, 2), m8},
        {"random, clear deferred at a full table", RandomPixels(70000, 256, 3), deferred},
        {"code size 11", RandomPixels(9000, 256, 4), m11},
        {"code size 0", std::vector<uint8_t>(40, 0), m0},
        {"code size 1", RandomPixels(60, 2, 5), m1},
        {"no leading clear", RandomPixels(500, 16, 6), noLeadingClear},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeValues(Encode(c.pixels, c.options), c.options.minCodeSize),
                  AsValues(c.pixels, kLzwEnd));
    }
}

TEST(LzwDecoderTest, CarriesCodesAcrossSubBlocksOfEverySize) {
    // A code may straddle two sub-blocks; with one-byte blocks a 12-bit code
    // straddles three.
    std::vector<uint8_t> pixels = RandomPixels(6000, 256, 7);
    LzwOptions options{.minCodeSize = 8};
    for (size_t block = 1; block <= 255; ++block) {
        SCOPED_TRACE(block);
        ASSERT_EQ(DecodeValues(Encode(pixels, options, block), 8), AsValues(pixels, kLzwEnd));
    }
}

TEST(LzwDecoderTest, WidensCodesOnceEntry511Exists) {
    // The first code makes no entry and the next 254 make entries 258 to 511, so
    // the 256th code is the first one ten bits wide.
    std::vector<LzwCode> codes = {{256, 9}};
    std::vector<uint8_t> expected;
    for (int i = 0; i < 255; ++i) {
        codes.push_back({i, 9});
        expected.push_back(uint8_t(i));
    }
    for (int value : {255, 40, 41}) {
        codes.push_back({value, 10});
        expected.push_back(uint8_t(value));
    }
    codes.push_back({257, 10});

    MemorySource source(test::SubBlocks(test::PackCodes(codes)));
    LzwDecoder decoder(source);
    decoder.NextLzwByte(1, 8);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(decoder.NextLzwByte(0, 0), expected[i]) << i;
        ASSERT_EQ(decoder.CodeWidth(), i < 254 ? 9 : 10) << i;
    }
    EXPECT_EQ(decoder.NextLzwByte(0, 0), kLzwEnd);
}

TEST(LzwDecoderTest, FullTableAddsNothingAndStaysTwelveBitsUntilClear) {
    std::vector<uint8_t> pixels = RandomPixels(40000, 256, 8);
    std::vector<LzwCode> codes =
        test::EncodeLzw(pixels, LzwOptions{.minCodeSize = 8, .deferClear = true});
    codes.pop_back();  // the end code
    codes.push_back({256, 12});
    codes.push_back({9, 9});
    codes.push_back({10, 9});
    codes.push_back({257, 9});

    MemorySource source(test::SubBlocks(test::PackCodes(codes)));
    LzwDecoder decoder(source);
    decoder.NextLzwByte(1, 8);
    bool sawFullTable = false;
    for (size_t i = 0; i < pixels.size(); ++i) {
        ASSERT_EQ(decoder.NextLzwByte(0, 0), pixels[i]) << i;
        if (decoder.NextCode() == 4096) {
            sawFullTable = true;
            ASSERT_EQ(decoder.CodeWidth(), 12);
        }
    }
    EXPECT_TRUE(sawFullTable);
    EXPECT_EQ(decoder.NextLzwByte(0, 0), 9);
    EXPECT_EQ(decoder.CodeWidth(), 9);
    EXPECT_EQ(decoder.NextCode(), 258);
    EXPECT_EQ(decoder.NextLzwByte(0, 0), 10);
    EXPECT_EQ(decoder.NextLzwByte(0, 0), kLzwEnd);
}

TEST(LzwDecoderTest, HandCodedStreams) {
    struct Case {
        const char* name;
        int minCodeSize;
        std::vector<LzwCode> codes;
        std::vector<int> values;
    };
    const Case cases[] = {
        // Code 6 is the next free entry: the previous string plus its first byte.
        {"code equal to the next entry", 2, {{4, 3}, {1, 3}, {6, 3}, {5, 3}}, {1, 1, 1, kLzwEnd}},
        {"string of a string", 2, {{4, 3}, {2, 3}, {3, 3}, {6, 3}, {5, 3}}, {2, 3, 2, 3, kLzwEnd}},
        // Entry 7 is made with itself as prefix; expanding it is damaged data.
        {"entry that refers to itself",
         2,
         {{4, 3}, {1, 3}, {7, 3}, {7, 3}, {7, 4}},
         {1, 1, 1, 0, 0, 1, kLzwDamaged}},
        // Entries 11 and 12 name each other as prefix: the chain never ends.
        {"prefix cycle",
         3,
         {{8, 4}, {1, 4}, {12, 4}, {11, 4}, {2, 4}, {12, 4}},
         {1, 1, 1, 0, 0, 1, 2, kLzwDamaged}},
        {"clear codes before the first pixel",
         2,
         {{4, 3}, {4, 3}, {4, 3}, {2, 3}, {5, 3}},
         {2, kLzwEnd}},
        {"clear in the middle",
         2,
         {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {3, 3}, {5, 3}},
         {1, 2, 3, kLzwEnd}},
        // An end code where a string must start ends the image; a clear there
        // is a clear again. Neither is ever a pixel value.
        {"end code first", 2, {{4, 3}, {5, 3}}, {kLzwEnd}},
        {"end code right after a clear", 2, {{4, 3}, {1, 3}, {4, 3}, {5, 3}}, {1, kLzwEnd}},
        {"two clears in the middle",
         2,
         {{4, 3}, {1, 3}, {3, 3}, {4, 3}, {4, 3}, {2, 3}, {5, 3}},
         {1, 3, 2, kLzwEnd}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            DecodeValues(test::SubBlocks(test::PackCodes(c.codes)), c.minCodeSize, c.values.size()),
            c.values);
    }
}

TEST(LzwDecoderTest, CodesRunningOutGiveZeroForEveryRequest) {
    // One data byte and the terminator: the byte, then one code made of what is
    // left in the buffer (here the same byte), then code 0 forever.
    MemorySource source(Bytes{1, 0xAB, 0});
    LzwDecoder decoder(source);
    decoder.NextLzwCode(0, 1);
    EXPECT_EQ(decoder.NextLzwCode(8, 0), 0xAB);
    EXPECT_EQ(decoder.NextLzwCode(8, 0), 0xAB);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(decoder.NextLzwCode(8, 0), 0);
    }

    // Pixels of value 3 without an end code: once the data is used up, at most
    // one string from a garbled code, then pixels of value 0.
    std::vector<uint8_t> pixels(300, 3);
    LzwOptions options{.minCodeSize = 2, .endCode = false};
    std::vector<int> values = DecodeValues(Encode(pixels, options), 2, 2000);
    ASSERT_EQ(values.size(), 2000u);
    for (size_t i = 0; i < pixels.size(); ++i) {
        ASSERT_EQ(values[i], 3);
    }
    for (size_t i = 1000; i < values.size(); ++i) {
        ASSERT_EQ(values[i], 0) << i;
    }
}

TEST(LzwDecoderTest, FailedReadIsDamagedData) {
    Bytes blocks = Encode(RandomPixels(2000, 16, 9), LzwOptions{.minCodeSize = 4});
    blocks.resize(blocks.size() / 2);  // cut in the middle of a sub-block
    std::vector<int> values = DecodeValues(blocks, 4);
    EXPECT_EQ(values.back(), kLzwDamaged);
    EXPECT_GT(values.size(), 100u);
}

TEST(LzwDecoderTest, RefusesCodeSizesTheTablesCannotServe) {
    for (int size : {12, 255, -1}) {
        MemorySource source(Encode({1, 2, 3}, LzwOptions{.minCodeSize = 2}));
        LzwDecoder decoder(source);
        EXPECT_EQ(decoder.NextLzwByte(1, size), 0);
        EXPECT_EQ(decoder.NextLzwByte(0, 0), kLzwDamaged);
        uint8_t out[4];
        EXPECT_EQ(decoder.ReadPixels(out, 4), 0);
    }
}

// ReadPixels is the fast path of NextLzwByte; on any data, clean or not, it must
// hand out the same values and stop where a colour map would have no entry.
TEST(LzwDecoderTest, ReadPixelsMatchesNextLzwByteOnAnyData) {
    std::mt19937 random(12345);
    for (int round = 0; round < 400; ++round) {
        int minCodeSize = 0;
        Bytes data;
        if (round % 2 == 0) {
            minCodeSize = int(random() % 12);
            data.resize(random() % 3000);
            for (uint8_t& b : data) {
                b = uint8_t(random());
            }
        } else {
            minCodeSize = 2 + int(random() % 10);
            LzwOptions options{.minCodeSize = minCodeSize};
            int levels = std::min(1 << minCodeSize, 256);
            data = test::PackCodes(test::EncodeLzw(RandomPixels(4000, levels, round), options));
            for (int flips = 0; flips < 3; ++flips) {  // a few damaged bytes
                data[random() % data.size()] ^= uint8_t(1 << (random() % 8));
            }
        }
        Bytes blocks = test::SubBlocks(data, 1 + random() % 255, random() % 4 != 0);
        SCOPED_TRACE(round);

        const size_t cap = 30000;
        std::vector<int> expected;
        for (int v : DecodeValues(blocks, minCodeSize, cap)) {
            if (v < 0 || v > 255) {
                break;
            }
            expected.push_back(v);
        }
        MemorySource source(blocks);
        LzwDecoder decoder(source);
        decoder.NextLzwByte(1, minCodeSize);
        std::vector<int> fast;
        uint8_t chunk[700];
        while (fast.size() < cap) {
            int want = 1 + int(random() % 700);
            int got = decoder.ReadPixels(chunk, want);
            fast.insert(fast.end(), chunk, chunk + got);
            if (got < want) {
                break;
            }
        }
        fast.resize(std::min(fast.size(), cap));
        ASSERT_EQ(fast, expected);
    }
}

}  // namespace
}  // namespace tessary
