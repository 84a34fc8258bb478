#pragma once

#include <cstdint>

namespace tessary {

// Where the decoder takes its data from: a chain of GIF data sub-blocks.
class SubBlockSource {
  public:
    virtual ~SubBlockSource() = default;
    // Reads one sub-block into `buffer` (room for 255 bytes): its count 1-255, 0 for
    // the terminator, -1 when the count byte or the data can't be read.
    virtual int ReadSubBlock(uint8_t* buffer) = 0;
    // True when the last sub-block read, by anyone, was the terminator.
    virtual bool LastBlockEmpty() const = 0;
};

// Values NextLzwByte hands out besides pixel values.
inline constexpr int kLzwDamaged = -1;  // codes ran out, failed read, or a broken entry
inline constexpr int kLzwEnd = -2;      // the end code

// The largest minimum code size the 4096-entry tables can serve.
inline constexpr int kLzwMaxMinCodeSize = 11;

// Variable-width LZW decompression of one GIF image. All state belongs to the
// object, so two images may be decoded at once on two threads.
class LzwDecoder {
  public:
    explicit LzwDecoder(SubBlockSource& source) : m_source(source) {}
    LzwDecoder(const LzwDecoder&) = delete;
    LzwDecoder& operator=(const LzwDecoder&) = delete;

    // bInit non-zero: starts an image with `minCodeSize` (0 to kLzwMaxMinCodeSize)
    // and returns 0. Otherwise: the next pixel value (0 or more), kLzwDamaged or kLzwEnd.
    int NextLzwByte(int bInit, int minCodeSize);
    // bInit non-zero: resets the bit reader and returns 0. Otherwise the next code
    // of `width` bits (0 or more), or -1 when a sub-block can't be read or the
    // data is used up part-way into a code.
    int NextLzwCode(int width, int bInit);

    // Up to `count` values into `out`, exactly as that many NextLzwByte calls would
    // give them, but stopping before the first value that is negative or 256 and
    // more (no colour map has an entry for it). Returns how many were stored; when
    // fewer than `count`, the decoder has stopped and further calls store nothing.
    int ReadPixels(uint8_t* out, int count);

    int CodeWidth() const { return m_nCodeWidth; }
    int NextCode() const { return m_nNextCode; }

  private:
    static constexpr int kTableSize = 4096;
    static constexpr int kStackSize = 8192;
    static constexpr int kBufferSize = 280;

    void ResetTables(bool clearSuffixes);
    int Refill(int width);
    int TakeCode(int width);
    int StartString(int code);
    int FirstCodeOfString(int code);
    int ExpandCode(int code);
    int DecodeCode(int code);

    SubBlockSource& m_source;

    // Bit reader: bytes 0-1 carry the last two bytes of the previous sub-block.
    uint8_t m_buffer[kBufferSize] = {};
    int m_nBuffered = 0;
    int m_nBitPos = 0;
    int m_nBitLimit = 0;
    bool m_bTerminatorSeen = false;

    int m_nMinCodeSize = 0;
    int m_nCodeWidth = 0;
    int m_nClearCode = 0;
    int m_nEndCode = 0;
    int m_nNextCode = 0;
    int m_nWidthLimit = 0;
    int m_nFirstByte = 0;
    int m_nPrevCode = 0;
    bool m_bFresh = false;
    bool m_bStopped = false;  // ReadPixels met a value it can't hand out
    bool m_bInvalid = false;  // started with a minimum code size the tables can't serve

    uint16_t m_prefix[kTableSize] = {};
    uint8_t m_suffix[kTableSize] = {};
    uint8_t m_stack[kStackSize] = {};
    int m_nStackTop = 0;
};

}  // namespace tessary
