#include "store/interp/lookcache.h"

#include "platform/util/uassert.h"
#include "store/interp/localval.h"

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
    for (uint32_t i = 0; i < n; ++i) Drop(taken[i]);
    nextFreeCachePos -= n;
}

void LookupCachePool::DumpAll() {
    for (uint32_t i = 0; i < nextFreeCachePos; ++i) {
        if (slots[i] && !(slots[i]->memberTraits() & Member::kFrameLocal)) slots[i].reset();
    }
}

void LookupCachePool::DropFilled(MemberPtr& slot) {
    if ((slot->memberTraits() & Member::kFrameLocal) && slot->refCount() > 1) {
        if (auto* local = dynamic_cast<FrameLocal*>(slot.get())) local->orphan();
    }
    slot.reset();
}

}  // namespace tq
