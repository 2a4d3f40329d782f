#include "platform/util/handle.h"

#include <stdexcept>

#include "platform/util/uassert.h"

namespace tq {

HandleTable::HandleTable() : slots_(1) {}

HandleTable& HandleTable::MakeGlobal() {
    // Never destroyed: hosts may release ids from their own static
    // destructors, which can run after any destructor of ours.
    static HandleTable* const table = new HandleTable;
    global_ = table;
    return *table;
}

// Set when the library loads; a static initialiser that runs before this one
// and follows a reference still gets the same table through MakeGlobal.
HandleTable* HandleTable::global_ = &HandleTable::MakeGlobal();

HandleTable::Id HandleTable::add(void* p, Kind kind) {
    uint32_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (slots_.size() > kIndexMask) throw std::length_error("handle table full");
        slots_.emplace_back();
        index = static_cast<uint32_t>(slots_.size() - 1);
    }
    Slot& s = slots_[index];
    s.pointer = p;
    s.stamp = static_cast<uint16_t>(s.generation() | (unsigned(kind) << 8));
    s.live = true;
    ++live_;
    return index | (Id(s.generation()) << kIndexBits);
}

void HandleTable::set(Id id, void* p) {
    const uint32_t index = IndexOf(id);
    TQ_ASSERT(index != 0 && index < slots_.size() && slots_[index].live &&
                  slots_[index].generation() == GenerationOf(id),
              "valid handle id");
    slots_[index].pointer = p;
}

void HandleTable::release(Id id) {
    const uint32_t index = IndexOf(id);
    if (index == 0) return;
    TQ_ASSERT(index < slots_.size() && slots_[index].live && slots_[index].generation() == GenerationOf(id),
              "valid handle id");
    Slot& s = slots_[index];
    s.pointer = nullptr;
    s.live = false;
    --live_;
    // The last generation's ids may still be held: the slot never serves
    // again rather than wrap round and answer them.
    if (s.generation() == kMaxGeneration) {
        ++retired_;
        return;
    }
    s.stamp = static_cast<uint16_t>(s.generation() + 1);
    free_.push_back(index);
}

}  // namespace tq
