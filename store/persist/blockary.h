// BlockArray<T>: a growable array of fixed-size raw items kept in blocks.
//
// Items never move once made, so pointers to them stay valid while the
// array grows. Item i lies in block 0 at slot i when i < firstBlockSize;
// otherwise in block (i - first) / blockSize + 1 at slot (i - first) %
// blockSize. New blocks are zero-filled. A stored array is read into one
// first block of exactly its count, so opening a module costs one read and
// one allocation per table.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/util/uassert.h"

namespace tq {

template <class T>
class BlockArray {
public:
    BlockArray(uint32_t blockSize, uint32_t firstBlockSize)
        : blockSize_(blockSize), firstBlockSize_(firstBlockSize) {}
    virtual ~BlockArray() = default;
    BlockArray(const BlockArray&) = delete;
    BlockArray& operator=(const BlockArray&) = delete;

    uint32_t count() const {
        const uint32_t n = static_cast<uint32_t>(blocks_.size());
        return n == 0 ? 0 : (n - 1) * blockSize_ + firstBlockSize_;
    }
    uint32_t blockCount() const { return static_cast<uint32_t>(blocks_.size()); }
    uint32_t blockSize() const { return blockSize_; }
    uint32_t firstBlockSize() const { return firstBlockSize_; }
    uint32_t itemsInBlock(uint32_t b) const { return b == 0 ? firstBlockSize_ : blockSize_; }
    T* block(uint32_t b) { return blocks_[b].get(); }
    const T* block(uint32_t b) const { return blocks_[b].get(); }

    T& operator[](uint32_t i) { return *locate(i); }
    const T& operator[](uint32_t i) const { return *locate(i); }

    // Grows the array by one zero-filled block.
    virtual void more() {
        const uint32_t items = blocks_.empty() ? firstBlockSize_ : blockSize_;
        blocks_.push_back(std::make_unique<T[]>(items));
    }

    void ensureCount(uint32_t n) {
        while (count() < n) more();
    }

    // Calls f(item, index) for items [lb, ub).
    template <class F>
    void forEach(F&& f, uint32_t lb, uint32_t ub) {
        TQ_ASSERT(ub <= count(), "ub <= count()");
        for (uint32_t i = lb; i < ub; ++i) f((*this)[i], i);
    }
    template <class F>
    void forEach(F&& f) {
        forEach(f, 0, count());
    }

    // The index of the first item in [lb, ub) for which f(item, index) is
    // true, or ub when there is none.
    template <class F>
    uint32_t firstThat(F&& f, uint32_t lb, uint32_t ub) {
        TQ_ASSERT(ub <= count(), "ub <= count()");
        for (uint32_t i = lb; i < ub; ++i)
            if (f((*this)[i], i)) return i;
        return ub;
    }

protected:
    // Makes the array one block of exactly n items; only an empty array can
    // take a stored image.
    T* resetToSingleBlock(uint32_t n) {
        TQ_ASSERT(blocks_.empty(), "nBlocks == 0");
        firstBlockSize_ = n;
        blocks_.push_back(std::make_unique_for_overwrite<T[]>(n));
        return blocks_.back().get();
    }

private:
    T* locate(uint32_t i) const {
        if (i < firstBlockSize_) return blocks_[0].get() + i;
        const uint32_t rest = i - firstBlockSize_;
        return blocks_[rest / blockSize_ + 1].get() + rest % blockSize_;
    }

    uint32_t blockSize_;
    uint32_t firstBlockSize_;
    std::vector<std::unique_ptr<T[]>> blocks_;
};

}  // namespace tq
