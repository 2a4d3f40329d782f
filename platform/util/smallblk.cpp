#include "platform/util/smallblk.h"

#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define TQ_POISON_FREE_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TQ_POISON_FREE_BLOCKS 1
#endif
#endif

#ifdef TQ_POISON_FREE_BLOCKS
#include <sanitizer/asan_interface.h>
#define TQ_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define TQ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define TQ_POISON(p, n) static_cast<void>(0)
#define TQ_UNPOISON(p, n) static_cast<void>(0)
#endif

namespace tq {
namespace {

constexpr std::size_t kClasses = SmallBlockAllocator::kMaxBlock / SmallBlockAllocator::kGranule;

struct Cell {
    Cell* next;
};

struct FreeList {
    Cell* head = nullptr;
    std::size_t count = 0;
};

FreeList freeLists[kClasses];

std::size_t ClassOf(std::size_t size) { return (size - 1) / SmallBlockAllocator::kGranule; }

std::size_t ClassBytes(std::size_t c) { return (c + 1) * SmallBlockAllocator::kGranule; }

bool IsSmall(std::size_t size) { return size != 0 && size <= SmallBlockAllocator::kMaxBlock; }

}  // namespace

void* SmallBlockAllocator::Allocate(std::size_t size) {
    if (!IsSmall(size)) return ::operator new(size);
    const std::size_t c = ClassOf(size);
    FreeList& list = freeLists[c];
    if (Cell* cell = list.head) {
        TQ_UNPOISON(cell + 1, ClassBytes(c) - sizeof(Cell));
        list.head = cell->next;
        --list.count;
        return cell;
    }
    return ::operator new(ClassBytes(c));
}

void SmallBlockAllocator::Free(void* p, std::size_t size) noexcept {
    if (!p) return;
    if (!IsSmall(size)) {
        ::operator delete(p);
        return;
    }
    const std::size_t c = ClassOf(size);
    FreeList& list = freeLists[c];
    if (list.count >= kMaxFreePerClass) {
        ::operator delete(p);
        return;
    }
    Cell* cell = static_cast<Cell*>(p);
    cell->next = list.head;
    list.head = cell;
    ++list.count;
    // The link stays readable: the leak checker follows pointers only
    // through memory that is not poisoned, and would report every block
    // behind the first as lost.
    TQ_POISON(cell + 1, ClassBytes(c) - sizeof(Cell));
}

std::size_t SmallBlockAllocator::FreeCount(std::size_t size) noexcept {
    return IsSmall(size) ? freeLists[ClassOf(size)].count : 0;
}

}  // namespace tq
