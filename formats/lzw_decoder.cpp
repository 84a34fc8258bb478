#include "formats/lzw_decoder.h"

#include <algorithm>

namespace tessary {

namespace {
// Internal result of DecodeCode: the string of the code is on the stack.
constexpr int kOnStack = -100;
}  // namespace

void LzwDecoder::ResetTables(bool clearSuffixes) {
    for (int i = 0; i < m_nClearCode; ++i) {
        m_prefix[i] = 0;
        m_suffix[i] = static_cast<uint8_t>(i);
    }
    std::fill(m_prefix + m_nClearCode, m_prefix + kTableSize, uint16_t{0});
    if (clearSuffixes) {
        std::fill(m_suffix + m_nClearCode, m_suffix + kTableSize, uint8_t{0});
    }
}

int LzwDecoder::NextLzwCode(int width, int bInit) {
    if (bInit) {
        m_nBitPos = 0;
        m_nBitLimit = 0;
        m_bTerminatorSeen = false;
        return 0;
    }
    if (m_nBitPos + width >= m_nBitLimit) {
        int result = Refill(width);
        if (result != 1) {
            return result;
        }
    }
    return TakeCode(width);
}

// Brings the bits of the next code into the buffer: 1 when they are there,
// otherwise the value NextLzwCode hands out instead of a code.
int LzwDecoder::Refill(int width) {
    do {
        if (m_bTerminatorSeen) {
            // Past the terminator every request gets code 0.
            return m_nBitPos < m_nBitLimit ? -1 : 0;
        }
        // The unread bits of a code split between two sub-blocks lie in the last
        // two bytes; keep them in front of the new data.
        if (m_nBuffered >= 2) {
            m_buffer[0] = m_buffer[m_nBuffered - 2];
            m_buffer[1] = m_buffer[m_nBuffered - 1];
        }
        int count = m_source.ReadSubBlock(m_buffer + 2);
        if (count < 0) {
            return -1;
        }
        if (count == 0) {
            m_bTerminatorSeen = true;
        }
        m_nBitPos = m_nBitPos - m_nBitLimit + 16;
        m_nBitLimit = (2 + count) * 8;
        m_nBuffered = 2 + count;
        // A one-byte sub-block may not complete a code of 9 bits or more.
    } while (m_nBitPos + width > m_nBitLimit && !m_bTerminatorSeen);
    return 1;
}

int LzwDecoder::TakeCode(int width) {
    // Codes are at most 12 bits, so with the bit offset they span at most 3 bytes;
    // the buffer has room beyond the data for the bytes that are not part of it.
    int index = m_nBitPos >> 3;
    uint32_t bits = uint32_t{m_buffer[index]} | (uint32_t{m_buffer[index + 1]} << 8) |
                    (uint32_t{m_buffer[index + 2]} << 16);
    int code = static_cast<int>((bits >> (m_nBitPos & 7)) & ((1u << width) - 1));
    m_nBitPos += width;
    return code;
}

int LzwDecoder::StartString(int code) {
    if (code >= 0) {
        m_nFirstByte = code;
        m_nPrevCode = code;
    }
    return code;
}

// The first code of an image or after a clear: an end code there ends the
// image; any other code starts the first string.
int LzwDecoder::FirstCodeOfString(int code) {
    return code == m_nEndCode ? DecodeCode(code) : StartString(code);
}

// Pushes the string of `code` on the stack and makes the new table entry.
int LzwDecoder::ExpandCode(int code) {
    int incoming = code;
    int top = m_nStackTop;
    if (code >= m_nNextCode) {
        // Not yet in the table: the previous string and its own first byte.
        m_stack[top++] = static_cast<uint8_t>(m_nFirstByte);
        code = m_nPrevCode;
    }
    while (code >= m_nClearCode) {
        if (top >= kStackSize) {
            m_nStackTop = top;
            return kLzwDamaged;  // a chain of corrupt entries longer than any real string
        }
        m_stack[top++] = m_suffix[code];
        if (m_prefix[code] == code) {
            m_nStackTop = top;
            return kLzwDamaged;
        }
        code = m_prefix[code];
    }
    if (top >= kStackSize) {
        m_nStackTop = top;
        return kLzwDamaged;
    }
    m_nFirstByte = m_suffix[code];
    m_stack[top++] = static_cast<uint8_t>(m_nFirstByte);
    m_nStackTop = top;

    if (m_nNextCode < kTableSize) {
        m_prefix[m_nNextCode] = static_cast<uint16_t>(m_nPrevCode);
        m_suffix[m_nNextCode] = static_cast<uint8_t>(m_nFirstByte);
        ++m_nNextCode;
        if (m_nNextCode >= m_nWidthLimit && m_nWidthLimit < kTableSize) {
            m_nWidthLimit *= 2;
            ++m_nCodeWidth;
        }
    }
    m_nPrevCode = incoming;
    return kOnStack;
}

int LzwDecoder::DecodeCode(int code) {
    if (code < 0) {
        return code;
    }
    if (code == m_nClearCode) {
        // A clear right after a clear is a clear again, never a pixel value.
        while (code == m_nClearCode) {
            ResetTables(true);
            m_nCodeWidth = m_nMinCodeSize + 1;
            m_nWidthLimit = 2 * m_nClearCode;
            m_nNextCode = m_nClearCode + 2;
            m_nStackTop = 0;
            code = NextLzwCode(m_nCodeWidth, 0);
        }
        return FirstCodeOfString(code);
    }
    if (code == m_nEndCode) {
        if (!m_source.LastBlockEmpty()) {
            uint8_t scratch[256];
            while (m_source.ReadSubBlock(scratch) > 0) {
            }
        }
        return kLzwEnd;
    }
    return ExpandCode(code);
}

int LzwDecoder::NextLzwByte(int bInit, int minCodeSize) {
    if (bInit) {
        m_bInvalid = minCodeSize < 0 || minCodeSize > kLzwMaxMinCodeSize;
        m_bStopped = false;
        if (m_bInvalid) {
            return 0;
        }
        m_nMinCodeSize = minCodeSize;
        m_nClearCode = 1 << minCodeSize;
        m_nEndCode = m_nClearCode + 1;
        m_nNextCode = m_nClearCode + 2;
        m_nWidthLimit = 2 * m_nClearCode;
        m_nCodeWidth = minCodeSize + 1;
        NextLzwCode(0, 1);
        m_bFresh = true;
        ResetTables(false);
        m_nStackTop = 0;
        return 0;
    }
    if (m_bInvalid) {
        return kLzwDamaged;
    }
    if (m_bFresh) {
        m_bFresh = false;
        int code = 0;
        do {
            code = NextLzwCode(m_nCodeWidth, 0);
        } while (code == m_nClearCode);
        return FirstCodeOfString(code);
    }
    if (m_nStackTop > 0) {
        return m_stack[--m_nStackTop];
    }
    int value = DecodeCode(NextLzwCode(m_nCodeWidth, 0));
    return value == kOnStack ? m_stack[--m_nStackTop] : value;
}

int LzwDecoder::ReadPixels(uint8_t* out, int count) {
    if (m_bStopped || m_bInvalid) {
        return 0;
    }
    int n = 0;
    while (n < count) {
        if (m_nStackTop > 0) {
            int take = std::min(count - n, m_nStackTop);
            const uint8_t* from = m_stack + m_nStackTop;
            for (int i = 0; i < take; ++i) {
                out[n + i] = *--from;
            }
            m_nStackTop -= take;
            n += take;
            continue;
        }
        int value = 0;
        if (m_bFresh) {
            value = NextLzwByte(0, 0);
        } else {
            int width = m_nCodeWidth;
            int code = m_nBitPos + width < m_nBitLimit ? TakeCode(width) : NextLzwCode(width, 0);
            if (code > m_nEndCode || (code >= 0 && code < m_nClearCode)) {
                if (ExpandCode(code) == kOnStack) {
                    continue;
                }
                value = kLzwDamaged;
            } else {
                value = DecodeCode(code);
                if (value == kOnStack) {
                    continue;
                }
            }
        }
        if (value < 0 || value > 255) {
            m_bStopped = true;
            break;
        }
        out[n++] = static_cast<uint8_t>(value);
    }
    return n;
}

}  // namespace tessary
