// The lookup-cache pool: one process-wide array of member slots from which
// procedure activations take their lookup caches (context.h).
//
// It is a stack: an activation takes n slots from the top and gives them
// back in reverse order, which the nesting of activations on the native
// stack guarantees. A request that does not fit leaves the activation
// without a cache; nothing is ever taken from the heap.
//
// Activations at the same depth of a running program are mostly the same
// procedure on the same object with the same argument object (a loop
// calling one method, each level of a recursion), and they take the same
// slots. So an activation may give its slots back filled, described by a
// Leftover at their first position: the next activation to take exactly
// those slots with the same Leftover key finds its members already there,
// instead of searching for them again or copying them in from a kept set.
//
//   slots [0, nextFreeCachePos)             in use, by the live activations
//   slots [nextFreeCachePos, highWater)     free; filled only where a valid
//                                           leftover describes them
//   slots [highWater, kCapacity)            free, all empty
//
// Invariants:
//  1. A valid leftover at p of length n means slots [p, p+n) hold exactly
//     what the activation that gave them back left there: taking slots that
//     do not match empties them all and forgets every leftover inside them.
//  2. A leftover never holds a frame's local: its scope was popped (and the
//     slot cleared) before the activation gave its slots back.
//  3. Dumping the pool (DumpAll) and ending a run (DropLeftovers) empty every
//     free slot: nothing a leftover holds outlives the run or a change that
//     may have made it stale.
#pragma once

#include <cstdint>

#include "store/member.h"

namespace tq {

class InterObjRep;

class LookupCachePool {
public:
    static constexpr uint32_t kCapacity = 1000;

    // What an activation's slots held when it gave them back: whose they
    // are (the procedure, Me, whether Me was seen from outside), when (the
    // cache epoch and the field look-up revision), and the argument object
    // whose members they still hold (its handle id, 0 for none).
    struct Leftover {
        const void* procedure = nullptr;
        uint32_t length = 0;
        uint32_t meId = 0;
        uint32_t argsId = 0;
        bool foreignMe = false;
        uint64_t epoch = 0;
        uint64_t revision = 0;

        // Whether slots left like this serve an activation keyed like want
        // (argsId aside: the caller decides about the arguments once bound).
        bool serves(const Leftover& want) const {
            return procedure && procedure == want.procedure && length == want.length && meId == want.meId &&
                   foreignMe == want.foreignMe && epoch == want.epoch && revision == want.revision;
        }
    };

    // n slots from the top, or null with n set to 0 when they do not fit
    // (nextFreeCachePos + n must stay below the capacity) or n is 0. The
    // slots are empty.
    static MemberPtr* Allocate(uint32_t& n);
    // The same, for an activation keyed by want: when what was left in those
    // very slots serves it, they stay as left, reused is set and leftArgsId
    // tells whose argument members they hold; otherwise they are emptied.
    static MemberPtr* Take(uint32_t& n, const Leftover& want, bool& reused, uint32_t& leftArgsId);
    // Gives back the n slots at the top, which must be these
    // ("(nextFreeCachePos - size) >= 0"); each is emptied.
    static void Release(MemberPtr* slots, uint32_t n);
    // Gives back the n slots at the top as they are, for the next activation
    // that left serves.
    static void GiveBack(MemberPtr* slots, uint32_t n, const Leftover& left);
    // Slots in use.
    static uint32_t Used() { return nextFreeCachePos; }
    // Empties every slot in use, but those holding a frame's locals, which
    // nothing that dumps the cache can make stale (they go with their
    // frame's scope), and every free slot.
    static void DumpAll();
    // Empties every free slot: the run that left them has ended.
    static void DropLeftovers();
    // Empties one slot. A frame local that something else still holds is
    // orphaned first: its frame's locals object may go next.
    static void Drop(MemberPtr& slot) {
        if (slot) DropFilled(slot);
    }

private:
    static void DropFilled(MemberPtr& slot);
    static MemberPtr* takeTop(uint32_t& n);
    // Empties slots [at, at + n) and forgets the leftovers that start there.
    static void empty(uint32_t at, uint32_t n);

    static MemberPtr slots[kCapacity];
    static Leftover leftovers[kCapacity];
    static inline uint32_t nextFreeCachePos = 0;
    static inline uint32_t highWater = 0;
};

}  // namespace tq
