#include "store/interp/lookcache.h"

#include "platform/util/uassert.h"

namespace tq {

MemberPtr LookupCachePool::slots[kCapacity];

MemberPtr* LookupCachePool::Allocate(uint32_t& n) {
    if (n == 0 || nextFreeCachePos + n >= kCapacity) {
        n = 0;
        return nullptr;
    }
    MemberPtr* taken = slots + nextFreeCachePos;
    nextFreeCachePos += n;
    return taken;
}

void LookupCachePool::Release(MemberPtr* taken, uint32_t n) {
    if (!taken || n == 0) return;
    TQ_ASSERT(nextFreeCachePos >= n, "(nextFreeCachePos - size) >= 0");
    // Caches nest with the activations that hold them: the slots given back
    // are the top of the stack, or another activation's would be emptied.
    TQ_ASSERT(taken + n == slots + nextFreeCachePos, "cache + size == top of the pool");
    for (uint32_t i = 0; i < n; ++i) taken[i].reset();
    nextFreeCachePos -= n;
}

void LookupCachePool::DumpAll() {
    for (uint32_t i = 0; i < nextFreeCachePos; ++i) slots[i].reset();
}

}  // namespace tq
