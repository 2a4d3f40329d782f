// The lookup-cache pool: one process-wide array of member slots from which
// procedure activations take their lookup caches (context.h).
//
// It is a stack: an activation takes n slots from the top and gives them
// back in reverse order, which the nesting of activations on the native
// stack guarantees. A request that does not fit leaves the activation
// without a cache; nothing is ever taken from the heap.
//
//   slots [0, nextFreeCachePos)           in use, by the live activations
//   slots [nextFreeCachePos, kCapacity)   free, all empty
#pragma once

#include <cstdint>

#include "store/member.h"

namespace tq {

class InterObjRep;

class LookupCachePool {
public:
    static constexpr uint32_t kCapacity = 1000;

    // n slots from the top, or null with n set to 0 when they do not fit
    // (nextFreeCachePos + n must stay below the capacity) or n is 0.
    static MemberPtr* Allocate(uint32_t& n);
    // Gives back the n slots at the top, which must be these
    // ("(nextFreeCachePos - size) >= 0"); each is emptied.
    static void Release(MemberPtr* slots, uint32_t n);
    // Slots in use.
    static uint32_t Used() { return nextFreeCachePos; }
    // Empties every slot in use, but those holding a frame's locals, which
    // nothing that dumps the cache can make stale (they go with their
    // frame's scope).
    static void DumpAll();
    // Empties one slot. A frame local that something else still holds is
    // orphaned first: its frame's locals object may go next.
    static void Drop(MemberPtr& slot) {
        if (slot) DropFilled(slot);
    }

private:
    static void DropFilled(MemberPtr& slot);

    static MemberPtr slots[kCapacity];
    static inline uint32_t nextFreeCachePos = 0;
};

}  // namespace tq
