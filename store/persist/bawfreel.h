// BlockArrayWithFreeList<T>: a BlockArray whose free items form a
// run-length free list kept inside the items themselves.
//
// The head of a run holds the number of further free items that directly
// follow it; the last item of a run holds the index of the next run's head.
// So a fresh block of n items costs one list entry. kNoMoreFree ends the
// list.
//
// T is a raw item that provides: isFree(), isUsed(), markUsed(), markFree(),
// next()/setNext(), run()/setRun().
#pragma once

#include <cstdint>
#include <vector>

#include "platform/util/uassert.h"
#include "store/persist/blockary.h"

namespace tq {

inline constexpr uint32_t kNoMoreFree = 0xFFFFFFFF;

template <class T>
class BlockArrayWithFreeList : public BlockArray<T> {
public:
    using BlockArray<T>::BlockArray;

    uint32_t firstFree() const { return firstFree_; }

    // Threads the new block in front of the free list as one run.
    void more() override {
        const uint32_t first = this->count();
        BlockArray<T>::more();
        const uint32_t last = this->count() - 1;
        (*this)[first].setRun(last - first);
        (*this)[last].setNext(firstFree_);
        if (last != first) (*this)[last].setRun(0);
        firstFree_ = first;
    }

    // Takes the head of the free list, growing the array when it is empty.
    uint32_t nextFree() {
        if (this->blockCount() == 0 || firstFree_ == kNoMoreFree) more();
        TQ_ASSERT(firstFree_ != kNoMoreFree && firstFree_ < this->count(),
                  "firstFree != kNoMoreFree && firstFree < count()");
        const uint32_t index = firstFree_;
        T& item = (*this)[index];
        TQ_ASSERT(item.isFree(), "item.isFree()");
        const uint32_t run = item.run();
        if (run != 0) {
            firstFree_ = index + 1;
            (*this)[index + 1].setRun(run - 1);
        } else {
            firstFree_ = item.next();
        }
        item.markUsed();
        TQ_ASSERT(item.isUsed(), "item.isUsed()");
        return index;
    }

    void setFree(uint32_t i) {
        T& item = (*this)[i];
        TQ_ASSERT(!item.isFree(), "item.isUsed()");
        item.markFree();
        TQ_ASSERT(item.isFree(), "item.isFree()");
        item.setNext(firstFree_);
        item.setRun(0);
        firstFree_ = i;
    }

    // Checks a free list read from a file: every step stays inside the array,
    // lands on a free item, and no item is on the list twice (a run whose
    // last item leads back into a run already walked would hand that item
    // out twice). Returns a text saying what is wrong, or null when the list
    // is sound. Costs one bit per item.
    const char* validateFreeList() const {
        const uint32_t n = this->count();
        std::vector<bool> listed(n, false);
        for (uint32_t i = firstFree_; i != kNoMoreFree;) {
            if (i >= n) return "free list leaves the array";
            const T& item = (*this)[i];
            if (!item.isFree()) return "free list names a used entry";
            const uint32_t run = item.run();
            if (run >= n - i) return "free run leaves the array";
            for (uint32_t k = 0; k <= run; ++k) {
                if (!(*this)[i + k].isFree()) return "free run covers a used entry";
                if (listed[i + k]) return "free list names an entry twice";
                listed[i + k] = true;
            }
            i = (*this)[i + run].next();
        }
        return nullptr;
    }

protected:
    void setFirstFree(uint32_t head) { firstFree_ = head; }

private:
    uint32_t firstFree_ = kNoMoreFree;
};

}  // namespace tq
