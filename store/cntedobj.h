// CountedObject: the reference-counted, polymorphic base of the store's
// representations.
//
// The count is 16 bits wide because it is part of stored records. A count
// that reaches 0xFFFF sticks there: the thing is never released again rather
// than released while references remain (which would free it under them).
// What "acts" when the count reaches zero depends on the kind, so each kind
// has its own deref(); this base only keeps the number.
#pragma once

#include <cstdint>

#include "platform/util/uassert.h"

namespace tq {

class CountedObject {
public:
    static constexpr uint16_t kStuckCount = 0xFFFF;

    virtual ~CountedObject() = default;

    uint16_t refCount() const { return count_; }
    void ref() {
        if (count_ != kStuckCount) ++count_;
    }

    // Restores a stored count (records that carry their count).
    void setRefCount(uint16_t n) { count_ = n; }

protected:
    CountedObject() = default;
    CountedObject(const CountedObject&) : count_(0) {}
    CountedObject& operator=(const CountedObject&) { return *this; }

    // Drops one count and reports whether it reached zero. Releasing a thing
    // that holds no count breaks the library's own bookkeeping.
    bool dropCount() {
        TQ_ASSERT(count_ > 0, "count>0");
        if (count_ == kStuckCount) return false;
        return --count_ == 0;
    }

private:
    uint16_t count_ = 0;
};

}  // namespace tq
