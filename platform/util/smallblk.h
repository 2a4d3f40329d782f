// SmallBlockAllocator: recycles the small blocks that the store makes and
// frees by the million (values, above all).
//
// Blocks up to kMaxBlock bytes are rounded up to a multiple of kGranule and
// kept, when freed, on a free list of their size class; the next request of
// that class takes the most recently freed block back. Each block is its own
// allocation of the general heap, so the lists hold at most kMaxFreePerClass
// blocks each and anything beyond goes back to the heap: the allocator never
// holds more than a fixed amount of memory that nobody uses. Larger blocks go
// straight to the heap.
//
// Invariants:
//  1. A block is freed with the size it was requested with.
//  2. In sanitizer builds a block on a free list is poisoned past its link,
//     so a use after free is still reported.
//
// Like the rest of the store, it is used from one thread only.
#pragma once

#include <cstddef>

namespace tq {

class SmallBlockAllocator {
public:
    static constexpr std::size_t kGranule = 16;
    static constexpr std::size_t kMaxBlock = 64;
    static constexpr std::size_t kMaxFreePerClass = 4096;

    static void* Allocate(std::size_t size);
    static void Free(void* p, std::size_t size) noexcept;

    // Blocks of size's class waiting on its free list.
    static std::size_t FreeCount(std::size_t size) noexcept;
};

}  // namespace tq
