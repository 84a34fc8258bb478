#pragma once

#include <cstddef>
#include <cstdint>

namespace tessary {

// An owned, zero-filled, growable block of bytes: the stand-in for a movable
// global memory block. A default-constructed block is "none". Ownership moves;
// a block is never copied by accident.
class MemoryBlock {
  public:
    MemoryBlock() = default;
    ~MemoryBlock();
    MemoryBlock(MemoryBlock&& other) noexcept;
    MemoryBlock& operator=(MemoryBlock&& other) noexcept;
    MemoryBlock(const MemoryBlock&) = delete;
    MemoryBlock& operator=(const MemoryBlock&) = delete;

    // A new zero-filled block of `size` bytes, or none when the memory can't be had.
    // A size of 0 still gives a block (of no bytes), as an allocation would.
    static MemoryBlock Allocate(uint64_t size);

    // Grows (or shrinks) the block, keeping its contents and zero-filling any growth.
    // On failure the block is left as it was and false is returned.
    bool Resize(uint64_t newSize);

    // Frees the bytes; the block becomes none.
    void Free();

    // The address of the first byte, or null for none. Locking only counts; the
    // bytes never move while a lock is held.
    uint8_t* Lock();
    void Unlock();
    int LockCount() const { return m_nLocks; }

    uint64_t Size() const { return m_nSize; }
    bool IsNone() const { return m_pBytes == nullptr; }
    explicit operator bool() const { return m_pBytes != nullptr; }

    // Direct access for code that holds the block for a whole operation.
    uint8_t* Data() { return m_pBytes; }
    const uint8_t* Data() const { return m_pBytes; }

  private:
    uint8_t* m_pBytes = nullptr;
    uint64_t m_nSize = 0;
    int m_nLocks = 0;
};

}  // namespace tessary
