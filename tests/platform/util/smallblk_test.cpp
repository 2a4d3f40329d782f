#include "platform/util/smallblk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tq {
namespace {

TEST(SmallBlockAllocator, AFreedBlockIsTheNextOneOfItsSizeClass) {
    void* first = SmallBlockAllocator::Allocate(24);
    const size_t waiting = SmallBlockAllocator::FreeCount(24);
    SmallBlockAllocator::Free(first, 24);
    EXPECT_EQ(SmallBlockAllocator::FreeCount(24), waiting + 1);
    // 17 to 32 bytes share one class, so a 32-byte request takes it back.
    void* again = SmallBlockAllocator::Allocate(32);
    EXPECT_EQ(again, first);
    std::memset(again, 0xAB, 32);  // the whole class size is usable
    SmallBlockAllocator::Free(again, 32);
}

TEST(SmallBlockAllocator, SizeClassesDoNotShareBlocks) {
    void* small = SmallBlockAllocator::Allocate(16);
    SmallBlockAllocator::Free(small, 16);
    void* larger = SmallBlockAllocator::Allocate(48);
    EXPECT_NE(larger, small);
    SmallBlockAllocator::Free(larger, 48);
}

TEST(SmallBlockAllocator, LargeBlocksBypassTheFreeLists) {
    void* big = SmallBlockAllocator::Allocate(SmallBlockAllocator::kMaxBlock + 1);
    std::memset(big, 0, SmallBlockAllocator::kMaxBlock + 1);
    SmallBlockAllocator::Free(big, SmallBlockAllocator::kMaxBlock + 1);
    EXPECT_EQ(SmallBlockAllocator::FreeCount(SmallBlockAllocator::kMaxBlock + 1), 0u);
}

TEST(SmallBlockAllocator, FreeListsKeepABoundedNumberOfBlocks) {
    std::vector<void*> blocks;
    for (size_t i = 0; i < SmallBlockAllocator::kMaxFreePerClass + 100; ++i)
        blocks.push_back(SmallBlockAllocator::Allocate(64));
    for (void* p : blocks) SmallBlockAllocator::Free(p, 64);
    EXPECT_EQ(SmallBlockAllocator::FreeCount(64), SmallBlockAllocator::kMaxFreePerClass);
}

}  // namespace
}  // namespace tq
