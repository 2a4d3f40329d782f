// OCLBlockArrayWFL<T>: a BlockArrayWithFreeList that reads and writes itself
// as one record. Description arrays and the identifier table are stored so:
//
//   order  width             content
//   1      4                 count()
//   2      4                 free-list head (0xFFFFFFFF when empty)
//   3      count * sizeof T  the items, block by block, as raw bytes
//
// Reading takes the whole image in one read into a single block of exactly
// the stored count, after checking the count against what descriptors can
// name and what the stream holds, and the free list against the items, so
// that nothing taken from the file sizes an allocation unchecked or sends
// the free list out of the array.
#pragma once

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

    uint32_t recordSize() const { return kHeaderSize + this->count() * sizeof(T); }

    // Writes the array; stored(item) turns a copy of each item into its
    // stored form (memory words cleared), block by block.
    template <class Stored>
    void write(OCLStream& out, Stored&& stored) const {
        out.writeU32(this->count());
        out.writeU32(this->firstFree());
        std::vector<T> image;
        for (uint32_t b = 0; b < this->blockCount(); ++b) {
            image.assign(this->block(b), this->block(b) + this->itemsInBlock(b));
            for (T& item : image) stored(item);
            out.write(image.data(), image.size() * sizeof(T));
        }
    }

    // Reads a stored array into this empty one. prepare(item) turns each
    // stored item into its in-memory form (memory words cleared).
    template <class Prepare>
    void read(OCLStream& in, Prepare&& prepare) {
        const uint32_t n = in.readU32();
        const uint32_t head = in.readU32();
        // Items are named by descriptors, whose 22 bits of index name no more
        // than this; a longer array is not one the library wrote.
        if (n > tDescriptor::kMaxIndex + 1)
            ThrowCorruptTable(in.name(), "more entries than descriptors can name");
        if (uint64_t(n) * sizeof(T) > in.remaining())
            ThrowCorruptTable(in.name(), "entry count runs past the end of the stream");
        if (head != kNoMoreFree && head >= n)
            ThrowCorruptTable(in.name(), "free-list head lies outside the table");
        if (n != 0) {
            T* items = this->resetToSingleBlock(n);
            in.read(items, size_t(n) * sizeof(T));
            for (uint32_t i = 0; i < n; ++i) prepare(items[i]);
        }
        this->setFirstFree(head);
        if (const char* fault = this->validateFreeList()) ThrowCorruptTable(in.name(), fault);
    }
};

}  // namespace tq
