#include "platform/memory_block.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace {
// No object may be larger than PTRDIFF_MAX bytes.
constexpr uint64_t kLargestObject = static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max());
}  // namespace

namespace tessary {

MemoryBlock::~MemoryBlock() {
    Free();
}

MemoryBlock::MemoryBlock(MemoryBlock&& other) noexcept
    : m_pBytes(std::exchange(other.m_pBytes, nullptr)),
      m_nSize(std::exchange(other.m_nSize, 0)),
      m_nLocks(std::exchange(other.m_nLocks, 0)) {}

MemoryBlock& MemoryBlock::operator=(MemoryBlock&& other) noexcept {
    if (this != &other) {
        Free();
        m_pBytes = std::exchange(other.m_pBytes, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        m_nLocks = std::exchange(other.m_nLocks, 0);
    }
    return *this;
}

MemoryBlock MemoryBlock::Allocate(uint64_t size) {
    MemoryBlock block;
    if (size > kLargestObject) {
        return block;
    }
    // calloc(0) may legally return null; ask for one byte so that "no bytes" is not "none".
    void* bytes = std::calloc(size == 0 ? 1 : static_cast<size_t>(size), 1);
    if (bytes == nullptr) {
        return block;
    }
    block.m_pBytes = static_cast<uint8_t*>(bytes);
    block.m_nSize = size;
    return block;
}

bool MemoryBlock::Resize(uint64_t newSize) {
    if (m_pBytes == nullptr || newSize > kLargestObject) {
        return false;
    }
    if (newSize == m_nSize) {
        return true;
    }
    void* bytes = std::realloc(m_pBytes, newSize == 0 ? 1 : static_cast<size_t>(newSize));
    if (bytes == nullptr) {
        return false;
    }
    m_pBytes = static_cast<uint8_t*>(bytes);
    if (newSize > m_nSize) {
        std::memset(m_pBytes + m_nSize, 0, static_cast<size_t>(newSize - m_nSize));
    }
    m_nSize = newSize;
    return true;
}

void MemoryBlock::Free() {
    std::free(m_pBytes);
    m_pBytes = nullptr;
    m_nSize = 0;
    m_nLocks = 0;
}

uint8_t* MemoryBlock::Lock() {
    if (m_pBytes != nullptr) {
        ++m_nLocks;
    }
    return m_pBytes;
}

void MemoryBlock::Unlock() {
    if (m_nLocks > 0) {
        --m_nLocks;
    }
}

}  // namespace tessary
