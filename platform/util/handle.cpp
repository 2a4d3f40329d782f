#include "platform/util/handle.h"

#include <limits>

#include "platform/util/uassert.h"

namespace tq {

HandleTable::HandleTable() : slots_(1, nullptr), released_(1, false) {}

HandleTable& HandleTable::Global() {
    static HandleTable table;
    return table;
}

HandleTable::Id HandleTable::add(void* p) {
    if (!free_.empty()) {
        const Id id = free_.back();
        free_.pop_back();
        slots_[id] = p;
        released_[id] = false;
        return id;
    }
    TQ_ASSERT(slots_.size() < std::numeric_limits<Id>::max(), "handle table full");
    slots_.push_back(p);
    released_.push_back(false);
    return static_cast<Id>(slots_.size() - 1);
}

void HandleTable::set(Id id, void* p) {
    TQ_ASSERT(id != 0 && id < slots_.size() && !released_[id], "valid handle id");
    slots_[id] = p;
}

void HandleTable::release(Id id) {
    if (id == 0) return;
    TQ_ASSERT(id < slots_.size() && !released_[id], "valid handle id");
    slots_[id] = nullptr;
    released_[id] = true;
    free_.push_back(id);
}

}  // namespace tq
