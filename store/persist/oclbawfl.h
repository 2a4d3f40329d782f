// OCLBlockArrayWFL<T>: a BlockArrayWithFreeList that reads and writes itself
// as one record. Description arrays and the identifier table are stored so:
//
//   order  width             content
//   1      4                 count()
//   2      4                 free-list head (0xFFFFFFFF when empty)
//   3      count * sizeof T  the items, block by block, as raw bytes
//
// Each item carries a mark, in memory only, set whenever its stored words
// change (T::entryChanged, cleared by clearEntryChanged): a save writes
// back only the marked items, over the record the stream already holds.
//
// Reading takes the whole image in one read into a single block of exactly
// the stored count, after checking the count against what descriptors can
// name and what the stream holds, and the free list against the items, so
// that nothing taken from the file sizes an allocation unchecked or sends
// the free list out of the array.
//
// Two ways take a stored array in part. readHead reads the head alone, and
// its owner brings items in itself with readItems and tells writeChanged
// which are in memory (nextHeld). readOnDemand reads the head and leaves
// the items to BlockArray, which fills each chunk through fillChunk the
// first time any of its items is reached. Either way the caller checks the
// free list before it first follows it, an item never read is unchanged on
// disk by definition and is never written back, and the stream must outlive
// the array: the record stays where it was read until the array is written
// whole (which reads every item first).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/storage/oclstream.h"
#include "store/dscrptr.h"
#include "store/persist/bawfreel.h"

namespace tq {

[[noreturn]] void ThrowCorruptTable(const std::string& stream, const char* what);

template <class T>
class OCLBlockArrayWFL : public BlockArrayWithFreeList<T> {
public:
    using BlockArrayWithFreeList<T>::BlockArrayWithFreeList;

    static constexpr uint32_t kHeaderSize = 8;

    // The nextHeld of writeChanged for an array read whole: every item is
    // in memory.
    struct HoldsAll {
        uint32_t operator()(uint32_t i) const { return i; }
    };

    uint32_t recordSize() const { return kHeaderSize + this->count() * sizeof(T); }

    // Writes the whole array at out's position; stored(item) turns a copy of
    // each item into its stored form (memory words and marks cleared), block
    // by block. Every item's change mark is cleared once its block is out.
    template <class Stored>
    void write(OCLStream& out, Stored&& stored) {
        // Items not read yet are taken from the record before anything of
        // the new one is written (it may lie over the old one).
        this->readAll();
        // Until the record is whole, the stream is not known to hold it.
        storedCount_ = kNotStored;
        const uint32_t at = out.tell();
        out.writeU32(this->count());
        out.writeU32(this->firstFree());
        std::vector<T> image;
        for (uint32_t b = 0; b < this->blockCount(); ++b) {
            T* items = this->block(b);
            image.assign(items, items + this->itemsInBlock(b));
            for (T& item : image) stored(item);
            out.write(image.data(), image.size() * sizeof(T));
            for (uint32_t k = 0; k < this->itemsInBlock(b); ++k) items[k].clearEntryChanged();
        }
        storedAt_ = at;
        storedCount_ = this->count();
    }

    // Writes over the record at offset `at` of out only what differs from
    // the record as this array last wrote or read it there: the head, the
    // items whose stored words changed since (T::entryChanged) and every item
    // past the count it had then. A save of one changed thing so writes a
    // few bytes, not the array. The whole array when the stream is not known
    // to hold the record at `at`.
    //
    // nextHeld(i) gives the first index from i on whose item is in memory
    // (i itself for an array read whole); the items it passes over were
    // never read and are not looked at.
    template <class Stored, class NextHeld = HoldsAll>
    void writeChanged(OCLStream& out, uint32_t at, Stored&& stored, NextHeld&& nextHeld = NextHeld{}) {
        if (storedCount_ == kNotStored || storedAt_ != at) {
            out.seek(at);
            write(out, stored);
            return;
        }
        out.seek(at);
        out.writeU32(this->count());
        out.writeU32(this->firstFree());
        // Runs of read items only: an item never read cannot have changed.
        std::vector<T> image;
        for (auto r = this->readRunFrom(0); r.first < r.end; r = this->readRunFrom(r.end)) {
            // Items before `known` were in the record as written; the rest
            // are new since and go out whatever their marks say.
            const uint32_t known = std::clamp(storedCount_, r.first, r.end);
            const auto held = [&](uint32_t i) { return nextHeld(i) == i; };
            for (uint32_t k = r.first; k < r.end;) {
                while (k < known) {
                    if (const uint32_t h = nextHeld(k); h != k) {
                        k = std::min(h, known);
                        continue;
                    }
                    if (r.items[k - r.first].entryChanged()) break;
                    ++k;
                }
                if (k == r.end) break;
                uint32_t end = k + 1;
                while (end < r.end && (end >= known || (held(end) && r.items[end - r.first].entryChanged()))) ++end;
                image.assign(r.items + (k - r.first), r.items + (end - r.first));
                for (T& item : image) stored(item);
                out.seek(at + kHeaderSize + k * uint32_t{sizeof(T)});
                out.write(image.data(), image.size() * sizeof(T));
                for (uint32_t j = k; j < end; ++j) r.items[j - r.first].clearEntryChanged();
                k = end;
            }
        }
        storedCount_ = this->count();
        out.seek(at + recordSize());
    }

    // Reads a stored array into this empty one. prepare(item) turns each
    // stored item into its in-memory form (memory words cleared).
    template <class Prepare>
    void read(OCLStream& in, Prepare&& prepare) {
        const uint32_t n = readHead(in);
        if (n != 0) {
            readItems(in, 0, n);
            T* items = this->block(0);
            for (uint32_t i = 0; i < n; ++i) {
                prepare(items[i]);
                items[i].clearEntryChanged();
            }
        }
        if (const char* fault = this->validateFreeList()) ThrowCorruptTable(in.name(), fault);
    }

    // Reads the head of a stored array at in's position into this empty one
    // and makes it one block of the stored count, whose items hold nothing
    // until readItems brings them in. The count is checked against what
    // descriptors can name and what the stream holds, the free-list head
    // against the count; the list itself is for the caller to check
    // (validateFreeList) once its items are in. Returns the count.
    uint32_t readHead(OCLStream& in) {
        const uint32_t at = in.tell();
        const uint32_t n = in.readU32();
        const uint32_t head = in.readU32();
        checkHead(in, n, head);
        if (n != 0) this->resetToSingleBlock(n);
        this->setFirstFree(head);
        storedAt_ = at;
        storedCount_ = n;
        return n;
    }

    // Reads items [first, first + n) of the record readHead read, as stored
    // (the caller prepares them); they must lie within its count. Raises what
    // the stream raises.
    void readItems(OCLStream& in, uint32_t first, uint32_t n) {
        TQ_ASSERT(storedCount_ != kNotStored && uint64_t(first) + n <= this->firstBlockSize(),
                  "first + n <= storedCount");
        in.seek(storedAt_ + kHeaderSize + first * uint32_t{sizeof(T)});
        in.read(this->block(0) + first, size_t(n) * sizeof(T));
    }

    // Whether the stream is known to hold the record at offset `at` as this
    // array last wrote or read it (so writeChanged need not write it whole).
    bool holdsRecordAt(uint32_t at) const { return storedCount_ != kNotStored && storedAt_ == at; }

    // Takes the head of a stored array into this empty one; its items are
    // read from `in` when first reached, each through prepare. The free list
    // is not checked (validateFreeList, before it is first followed).
    void readOnDemand(OCLStream& in, void (*prepare)(T&)) {
        if (readHead(in) != 0) this->leaveSingleBlockUnread();
        source_ = &in;
        prepare_ = prepare;
    }

protected:
    // One chunk from the record where it was read, the stream left where
    // its reader had it (a chunk may be needed in the middle of a record).
    void fillChunk(uint32_t first, uint32_t n, T* items) const override {
        struct Resume {
            OCLStream& in;
            uint32_t at;
            ~Resume() { in.seek(at); }
        } resume{*source_, source_->tell()};
        source_->seek(storedAt_ + kHeaderSize + first * uint32_t{sizeof(T)});
        source_->read(items, size_t(n) * sizeof(T));
        for (uint32_t i = 0; i < n; ++i) {
            prepare_(items[i]);
            items[i].clearEntryChanged();
        }
    }

private:
    static constexpr uint32_t kNotStored = 0xFFFFFFFF;

    // Checks a stored head read from `in` (positioned after it) before any
    // of it sizes an allocation.
    static void checkHead(OCLStream& in, uint32_t n, uint32_t head) {
        // Items are named by descriptors, whose 22 bits of index name no more
        // than this; a longer array is not one the library wrote.
        if (n > tDescriptor::kMaxIndex + 1)
            ThrowCorruptTable(in.name(), "more entries than descriptors can name");
        if (uint64_t(n) * sizeof(T) > in.remaining())
            ThrowCorruptTable(in.name(), "entry count runs past the end of the stream");
        if (head != kNoMoreFree && head >= n)
            ThrowCorruptTable(in.name(), "free-list head lies outside the table");
    }

    // Where the stream holds the record as last written or read, and the
    // count it had then; kNotStored when it holds none that is known.
    uint32_t storedAt_ = 0;
    uint32_t storedCount_ = kNotStored;
    // Where items not read yet come from (readOnDemand).
    OCLStream* source_ = nullptr;
    void (*prepare_)(T&) = nullptr;
};

}  // namespace tq
