// HandleTable: 32-bit ids for machine pointers.
//
// Module files keep 4-byte slots that once held a 32-bit machine pointer (the
// body of a fault pointer, a by-reference slot, the memory word of a
// description). On a 64-bit machine a pointer never lives in such a slot; an id
// of this table does. Ids live only in memory: a slot is written to a file as
// a descriptor or as 0, never as an id.
//
// An id is two fields:
//
//   bits   width  meaning
//   0-23   24     index of the table's slot (index 0 is never handed out)
//   24-31  8      generation of the slot when the id was handed out
//
// Each slot also records the kind of thing it holds, a small number chosen by
// the table's user (0: any kind). A slot that is given back keeps its index
// for a later thing but moves on to its next generation, so every id handed
// out before reads null from then on: a slot that still holds the old id
// (another object's field naming a destroyed object, a by-reference slot
// naming a value that has gone) can never reach the thing that took the slot
// over. A slot whose generations are used up is retired instead of wrapping
// round to generation 0, where it would answer ids that may still be held.
//
// Invariants:
//  1. An id whose index is 0 is null and always maps to null; so is id 0.
//  2. An id maps to the pointer it was given, or to what set() stored, until
//     it is released; from then on it maps to null for ever.
//  3. A look-up that names a kind finds only a slot of that kind: a slot
//     that expects an object never reads a string through an id that was
//     mixed up.
//  4. Indexes are handed out lowest-released first (LIFO), so the table stays
//     dense; at most 2^24 - 1 things hold ids at once, and one index serves
//     256 things in turn before it is retired.
//
// A thing that can be named from a slot takes an id when it is made and gives
// it back when its memory is freed. A handle cell (what uncounted indirect
// references hold) is an id of its own: when its thing dies the cell is set to
// null but not released while references to it may remain, so they read null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace tq {

class HandleTable {
public:
    using Id = uint32_t;
    // What a slot holds, as the table's user numbers its kinds.
    using Kind = uint8_t;
    static constexpr Kind kAnyKind = 0;

    static constexpr unsigned kIndexBits = 24;
    static constexpr Id kIndexMask = (Id(1) << kIndexBits) - 1;
    static constexpr uint32_t kMaxGeneration = 0xFF;

    HandleTable();
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // The process-wide table used by the store. It is made on first use and
    // never destroyed, so a host object with static storage that releases
    // ids while the process ends still finds it.
    // Every reference the store follows asks for it, so the common case is
    // one load here; the first use makes it.
    static HandleTable& Global() {
        HandleTable* t = global_;
        return t ? *t : MakeGlobal();
    }

    static constexpr uint32_t IndexOf(Id id) { return id & kIndexMask; }
    static constexpr uint32_t GenerationOf(Id id) { return id >> kIndexBits; }

    // The kind a type's ids are handed out and looked up with: its
    // kHandleKind when it declares one, any kind otherwise.
    template <class T>
    static constexpr Kind KindOf() {
        if constexpr (requires { T::kHandleKind; })
            return T::kHandleKind;
        else
            return kAnyKind;
    }

    // A new id that maps to p (p may be null, e.g. for a cell made early).
    // std::length_error when 2^24 - 1 ids are held at once.
    Id add(void* p, Kind kind);
    template <class T>
    Id add(T* p) {
        return add(const_cast<void*>(static_cast<const void*>(p)), KindOf<std::remove_cv_t<T>>());
    }

    // The pointer of id; null for index 0, for released and retired ids, for
    // ids never issued, and, when a kind is named, for a slot of another kind.
    void* get(Id id) const noexcept { return get(id, kAnyKind); }
    void* get(Id id, Kind kind) const noexcept {
        const uint32_t index = IndexOf(id);
        if (index >= slots_.size()) return nullptr;
        const Slot& s = slots_[index];
        // One comparison of the slot's stamp with the one the id expects:
        // the generation always, the kind when one is named.
        const uint16_t want = static_cast<uint16_t>(GenerationOf(id) | (unsigned(kind) << 8));
        const uint16_t mask = kind == kAnyKind ? 0x00FF : 0xFFFF;
        return ((s.stamp ^ want) & mask) == 0 ? s.pointer : nullptr;
    }
    template <class T>
    T* getAs(Id id) const noexcept {
        return static_cast<T*>(get(id, KindOf<std::remove_cv_t<T>>()));
    }

    // Points a live id at p. Setting a released or unknown id is a fault of the
    // caller and is reported through utilsAssert.
    void set(Id id, void* p);

    // Gives the id back; it reads null from now on. Releasing id 0 does
    // nothing; releasing an id that is not live is reported through
    // utilsAssert.
    void release(Id id);

    // Ids handed out and not yet released (id 0 not counted).
    size_t liveCount() const noexcept { return live_; }
    // Slots whose generations are used up.
    size_t retiredCount() const noexcept { return retired_; }

private:
    static HandleTable& MakeGlobal();
    static HandleTable* global_;

    // stamp: the slot's generation (bits 0-7) and the kind of what it holds
    // (bits 8-15).
    struct Slot {
        void* pointer = nullptr;
        uint16_t stamp = 0;
        bool live = false;

        uint32_t generation() const { return stamp & 0xFF; }
    };

    std::vector<Slot> slots_;
    std::vector<uint32_t> free_;
    size_t live_ = 0;
    size_t retired_ = 0;
};

}  // namespace tq
