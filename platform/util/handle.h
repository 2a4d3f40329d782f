// HandleTable: 32-bit ids for machine pointers.
//
// Module files keep 4-byte slots that once held a 32-bit machine pointer (the
// body of a fault pointer, a by-reference slot, the memory word of a
// description). On a 64-bit machine a pointer never lives in such a slot; an id
// of this table does.
//
// Invariants:
//  1. Id 0 is null and always maps to null.
//  2. An id maps to the pointer it was given, or to what set() stored, until it
//     is released; a released id maps to null until it is handed out again.
//  3. Ids are handed out lowest-released first (LIFO), so the table stays dense.
//
// A thing that can be named from a slot takes an id when it is made and gives
// it back when its memory is freed. A handle cell (what uncounted indirect
// references hold) is an id of its own: when its thing dies the cell is set to
// null but not released while references to it may remain, so they read null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tq {

class HandleTable {
public:
    using Id = uint32_t;

    HandleTable();
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // The process-wide table used by the store.
    static HandleTable& Global();

    // A new id that maps to p (p may be null, e.g. for a cell made early).
    Id add(void* p);

    // The pointer of id; null for 0, for released ids and for ids never issued.
    void* get(Id id) const noexcept {
        return id < slots_.size() ? slots_[id] : nullptr;
    }
    template <class T>
    T* getAs(Id id) const noexcept {
        return static_cast<T*>(get(id));
    }

    // Points a live id at p. Setting a released or unknown id is a fault of the
    // caller and is reported through utilsAssert.
    void set(Id id, void* p);

    // Gives the id back; it reads null until it is handed out again.
    void release(Id id);

    // Ids handed out and not yet released (id 0 not counted).
    size_t liveCount() const noexcept { return slots_.size() - 1 - free_.size(); }

private:
    std::vector<void*> slots_;
    std::vector<Id> free_;
    std::vector<bool> released_;
};

}  // namespace tq
