#include "platform/memory_block.h"

#include <gtest/gtest.h>

#include <utility>

namespace tessary {
namespace {

TEST(MemoryBlock, NoneUntilAllocatedAndZeroFilled) {
    MemoryBlock none;
    EXPECT_TRUE(none.IsNone());
    EXPECT_EQ(none.Lock(), nullptr);
    EXPECT_FALSE(none.Resize(10));

    MemoryBlock block = MemoryBlock::Allocate(64);
    ASSERT_FALSE(block.IsNone());
    EXPECT_EQ(block.Size(), 64u);
    for (uint64_t i = 0; i < block.Size(); ++i) {
        EXPECT_EQ(block.Data()[i], 0) << i;
    }
}

TEST(MemoryBlock, GrowthKeepsContentsAndIsZeroFilled) {
    MemoryBlock block = MemoryBlock::Allocate(4);
    for (int i = 0; i < 4; ++i) {
        block.Data()[i] = static_cast<uint8_t>(0xA0 + i);
    }
    ASSERT_TRUE(block.Resize(4096));
    EXPECT_EQ(block.Size(), 4096u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(block.Data()[i], 0xA0 + i);
    }
    for (int i = 4; i < 4096; ++i) {
        ASSERT_EQ(block.Data()[i], 0) << i;
    }
}

TEST(MemoryBlock, RefusesSizesNoAllocatorCanGive) {
    EXPECT_TRUE(MemoryBlock::Allocate(~uint64_t{0}).IsNone());
    MemoryBlock block = MemoryBlock::Allocate(8);
    EXPECT_FALSE(block.Resize(~uint64_t{0} - 1));
    EXPECT_EQ(block.Size(), 8u);  // unchanged after a failed growth
}

TEST(MemoryBlock, OwnershipMoves) {
    MemoryBlock a = MemoryBlock::Allocate(16);
    uint8_t* bytes = a.Data();
    MemoryBlock b = std::move(a);
    EXPECT_TRUE(a.IsNone());  // NOLINT(bugprone-use-after-move): moved-from is none by contract
    EXPECT_EQ(b.Data(), bytes);
    b.Free();
    EXPECT_TRUE(b.IsNone());
    EXPECT_EQ(b.Size(), 0u);
}

TEST(MemoryBlock, LocksCount) {
    MemoryBlock block = MemoryBlock::Allocate(1);
    EXPECT_EQ(block.Lock(), block.Data());
    block.Lock();
    EXPECT_EQ(block.LockCount(), 2);
    block.Unlock();
    block.Unlock();
    block.Unlock();  // an extra unlock is harmless
    EXPECT_EQ(block.LockCount(), 0);
}

}  // namespace
}  // namespace tessary
