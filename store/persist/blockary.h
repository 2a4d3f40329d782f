// BlockArray<T>: a growable array of fixed-size raw items kept in blocks.
//
// Items never move once made, so pointers to them stay valid while the
// array grows. Item i lies in block 0 at slot i when i < firstBlockSize;
// otherwise in block (i - first) / blockSize + 1 at slot (i - first) %
// blockSize. New blocks are zero-filled. A stored array is read into one
// first block of exactly its count, so opening a module costs one read and
// one allocation per table.
//
// A stored image may also be taken on demand: the first block is then
// allocated whole but left unread, and each chunk of kChunkItems items is
// filled (fillChunk) the first time any of its items is reached through
// operator[], block() or readAll(). Nothing hands out an item of a chunk
// that has not been read; a fill that fails leaves its chunk unread, to be
// tried again. Walks that only care for what has been read (what a save
// writes back, what an unload lets go of) step over the rest with
// readRunFrom.
#pragma once

#include <algorithm>
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
    T* block(uint32_t b) {
        if (b == 0) readAll();
        return blocks_[b].get();
    }
    const T* block(uint32_t b) const {
        if (b == 0) readAll();
        return blocks_[b].get();
    }

    static constexpr uint32_t kChunkItems = 512;

    // Whether item i has been read (every item of an array not taken on
    // demand has).
    bool isRead(uint32_t i) const {
        return unreadChunks_ == 0 || i >= firstBlockSize_ || !unread_[i / kChunkItems];
    }
    bool hasUnread() const { return unreadChunks_ != 0; }
    // Fills every chunk not read yet.
    void readAll() const {
        for (uint32_t c = 0; unreadChunks_ != 0 && c < unread_.size(); ++c)
            if (unread_[c]) readChunk(c);
    }

    // A run of consecutive items that have been read: items[k] is item
    // first + k, for first <= first + k < end.
    struct Run {
        uint32_t first;
        uint32_t end;
        T* items;
    };
    // The first run of read items at or after i, within one chunk or one
    // block; first == end == count() when there is none. Reads nothing.
    Run readRunFrom(uint32_t i) {
        const uint32_t n = count();
        if (unreadChunks_ != 0 && i < firstBlockSize_) {
            uint32_t c = i / kChunkItems;
            while (c < unread_.size() && unread_[c]) i = ++c * kChunkItems;
            if (i < firstBlockSize_)
                return {i, std::min((c + 1) * kChunkItems, firstBlockSize_), blocks_[0].get() + i};
        }
        if (i >= n) return {n, n, nullptr};
        if (i < firstBlockSize_) return {i, firstBlockSize_, blocks_[0].get() + i};
        const uint32_t rest = i - firstBlockSize_;
        const uint32_t slot = rest % blockSize_;
        return {i, i - slot + blockSize_, blocks_[rest / blockSize_ + 1].get() + slot};
    }

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

    // Marks the single block resetToSingleBlock made as not read, its items
    // to be filled chunk by chunk on first need. The block is allocated but
    // not touched: memory the process never reads costs it nothing.
    void leaveSingleBlockUnread() {
        TQ_ASSERT(blocks_.size() == 1, "nBlocks == 1");
        unread_.assign((firstBlockSize_ + kChunkItems - 1) / kChunkItems, 1);
        unreadChunks_ = static_cast<uint32_t>(unread_.size());
    }

    // Fills items [first, first + n) of the first block, all of one chunk.
    // Only arrays that take an image on demand are ever asked.
    virtual void fillChunk(uint32_t first, uint32_t n, T* items) const {
        (void)first;
        (void)n;
        (void)items;
        TQ_ASSERT(false, "an array taken on demand fills its chunks");
    }

private:
    void readChunk(uint32_t c) const {
        const uint32_t first = c * kChunkItems;
        fillChunk(first, std::min(kChunkItems, firstBlockSize_ - first), blocks_[0].get() + first);
        unread_[c] = 0;
        if (--unreadChunks_ == 0) unread_.clear();
    }

    T* locate(uint32_t i) const {
        if (i < firstBlockSize_) {
            if (unreadChunks_ != 0 && unread_[i / kChunkItems]) readChunk(i / kChunkItems);
            return blocks_[0].get() + i;
        }
        const uint32_t rest = i - firstBlockSize_;
        return blocks_[rest / blockSize_ + 1].get() + rest % blockSize_;
    }

    uint32_t blockSize_;
    uint32_t firstBlockSize_;
    std::vector<std::unique_ptr<T[]>> blocks_;
    // Per chunk of the first block: 1 while it has not been read.
    mutable std::vector<uint8_t> unread_;
    mutable uint32_t unreadChunks_ = 0;
};

}  // namespace tq
