#include "store/interp/lookcache.h"

#include <algorithm>

#include "platform/util/uassert.h"
#include "store/interp/localval.h"

namespace tq {

MemberPtr LookupCachePool::slots[kCapacity];
LookupCachePool::Leftover LookupCachePool::leftovers[kCapacity];

MemberPtr* LookupCachePool::takeTop(uint32_t& n) {
    if (n == 0 || nextFreeCachePos + n >= kCapacity) {
        n = 0;
        return nullptr;
    }
    MemberPtr* taken = slots + nextFreeCachePos;
    nextFreeCachePos += n;
    return taken;
}

void LookupCachePool::empty(uint32_t at, uint32_t n) {
    // Below the high-water mark nothing was ever filled.
    const uint32_t end = std::min(at + n, highWater);
    for (uint32_t i = at; i < end; ++i) {
        Drop(slots[i]);
        leftovers[i] = Leftover();
    }
}

MemberPtr* LookupCachePool::Allocate(uint32_t& n) {
    MemberPtr* taken = takeTop(n);
    if (taken) empty(static_cast<uint32_t>(taken - slots), n);
    return taken;
}

MemberPtr* LookupCachePool::Take(uint32_t& n, const Leftover& want, bool& reused, uint32_t& leftArgsId) {
    MemberPtr* taken = takeTop(n);
    reused = false;
    if (!taken) return nullptr;
    const uint32_t at = static_cast<uint32_t>(taken - slots);
    if (at < highWater && leftovers[at].serves(want)) {
        reused = true;
        leftArgsId = leftovers[at].argsId;
        // In use now: the leftover describes them again only when they are
        // given back.
        leftovers[at].procedure = nullptr;
        return taken;
    }
    empty(at, n);
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

void LookupCachePool::GiveBack(MemberPtr* taken, uint32_t n, const Leftover& left) {
    if (!taken || n == 0) return;
    TQ_ASSERT(nextFreeCachePos >= n, "(nextFreeCachePos - size) >= 0");
    TQ_ASSERT(taken + n == slots + nextFreeCachePos, "cache + size == top of the pool");
    highWater = std::max(highWater, nextFreeCachePos);
    nextFreeCachePos -= n;
    leftovers[nextFreeCachePos] = left;
}

void LookupCachePool::DumpAll() {
    for (uint32_t i = 0; i < nextFreeCachePos; ++i) {
        if (slots[i] && !(slots[i]->memberTraits() & Member::kFrameLocal)) slots[i].reset();
    }
    DropLeftovers();
}

void LookupCachePool::DropLeftovers() {
    if (highWater > nextFreeCachePos) empty(nextFreeCachePos, highWater - nextFreeCachePos);
    highWater = nextFreeCachePos;
}

void LookupCachePool::DropFilled(MemberPtr& slot) {
    if ((slot->memberTraits() & Member::kFrameLocal) && slot->refCount() > 1) {
        if (auto* local = dynamic_cast<FrameLocal*>(slot.get())) local->orphan();
    }
    slot.reset();
}

}  // namespace tq
