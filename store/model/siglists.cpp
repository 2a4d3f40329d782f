// A signature's lists of objects and child signatures as its record holds
// them: read with the record, or, for a large record of a module read on
// demand, located with the record and taken in when first needed.
//
// In the record the two lists follow the fields: five-byte references (a
// flags byte, 0x04, and a descriptor of the record's module), each list
// closed by a null reference. What follows them (the data size, the event
// definitions, the class id) can only be found by passing over them.

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/model/sigrep.h"

namespace tq {

namespace {

constexpr size_t kReference = 5;

// Lists of at most this many bytes are read with their record: the saving
// matters only for a class with thousands of objects, and a small record
// keeps every check at its read.
constexpr uint64_t kListsReadWhole = 4096;

// Reads a list of references of one module's things from the record's
// bytes in memory (at *at, which moves past the list's closing null); each
// must be a plain descriptor of this module. A list may name a hundred
// thousand objects: it is taken from one read of the record, not one read
// of the stream per reference.
//
// With `listed`, each entry's index is marked in that bitmap; an index met
// twice sets *twice.
// refuse(text) raises the record's failure.
template <class List, class Refuse>
void ReadLocalList(std::span<const uint8_t> record, size_t* at, tModuleIndex m, List& list,
                   const char* what, std::vector<uint64_t>* listed, bool* twice, const Refuse& refuse) {
    // The list is taken into one array of the right size: its length is
    // where the closing null lies.
    size_t n = 0;
    for (size_t k = *at; record.size() - k >= kReference && !tDescriptor(LoadLE32(record.data() + k + 1)).isNull();
         k += kReference)
        ++n;
    list.reserveDescriptors(n);
    for (;;) {
        if (record.size() - *at < kReference)
            refuse(std::string("its list of ") + what + " runs past the end of its record");
        const uint8_t flags = record[*at];
        tDescriptor d(LoadLE32(record.data() + *at + 1));
        *at += kReference;
        if (d.isNull()) return;
        if (flags != 0x04 || d.isProxy() || d.moduleIndex() >= MAX_MODULES)
            refuse(std::string("a reference in its list of ") + what + " is not sound");
        d.setModuleIndex(m);
        list.appendDescriptor(d);
        if (!listed) continue;
        const uint32_t i = d.descIndex();
        if (i / 64 >= listed->size()) listed->resize(i / 64 + 1);
        uint64_t& word = (*listed)[i / 64];
        if (word >> (i % 64) & 1) *twice = true;
        word |= uint64_t{1} << (i % 64);
    }
}

// Whether bit i of the bitmap (of the indexes a record lists) is set.
bool Marked(const std::vector<uint64_t>& bitmap, uint32_t i) {
    return i / 64 < bitmap.size() && (bitmap[i / 64] >> (i % 64) & 1);
}

// Leaves out of the list the entries still descriptors whose indexes were
// noted removed (any number: sorted first, then searched).
template <class List>
void LeaveOut(List& list, std::vector<uint32_t>& removed) {
    if (removed.empty()) return;
    std::sort(removed.begin(), removed.end());
    list.removeIf([&](const auto& r) {
        return r.isDescriptor() && std::binary_search(removed.begin(), removed.end(), r.descriptor().descIndex());
    });
}

}  // namespace

bool SignatureRep::readLists(OCLStream& in, uint32_t index) {
    const tModuleIndex m = moduleIndex();
    const Description* e = DescribedObjectNoDescriptor<SignatureRep>::objectDescription(desc_);
    const auto* table = DescribedObjectNoDescriptor<SignatureRep>::descriptionTable(m);
    // The rest of the record, which the table checked lies inside the
    // stream; the stream goes on after the two lists.
    const uint32_t from = in.tell();
    const uint64_t end = e ? uint64_t(e->offset()) + e->length() : from;
    const size_t size = end > from ? static_cast<size_t>(end - from) : 0;
    const auto refuse = [index](const std::string& what) { BadRecord(index, what); };

    if (table && table->readsOnDemand() && size > kListsReadWhole) {
        // Only the closing nulls are looked for, a piece at a time; each
        // piece is checked against its checksum as it is read.
        constexpr size_t kPiece = kReference * 4096;
        const auto piece = std::make_unique_for_overwrite<uint8_t[]>(kPiece);
        uint64_t at = from;
        uint64_t objectsEnd = 0;
        uint64_t listsEnd = 0;
        while (!listsEnd && end - at >= kReference) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, (end - at) / kReference * kReference));
            in.seek(static_cast<uint32_t>(at));
            in.read(piece.get(), n);
            for (size_t k = 0; k < n; k += kReference) {
                // A null descriptor's low byte is 0xFF: one byte rules out
                // all but one in 256 entries naming a thing.
                if (piece[k + 1] != 0xFF || !tDescriptor(LoadLE32(piece.get() + k + 1)).isNull()) continue;
                if (objectsEnd) {
                    listsEnd = at + k + kReference;
                    break;
                }
                objectsEnd = at + k + kReference;
            }
            at += n;
        }
        if (!listsEnd)
            refuse(std::string("its list of ") + (objectsEnd ? "child signatures" : "objects") +
                   " runs past the end of its record");
        auto stored = std::make_unique<StoredLists>();
        stored->from = from - e->offset();
        stored->to = static_cast<uint32_t>(listsEnd - e->offset());
        // The prototype is the objects list's last entry: it is asked for
        // far more often than the list, and needs only its own checks.
        if (objectsEnd - from > kReference) {
            uint8_t last[kReference];
            in.seek(static_cast<uint32_t>(objectsEnd - 2 * kReference));
            in.read(last, kReference);
            tDescriptor d(LoadLE32(last + 1));
            if (last[0] != 0x04 || d.isProxy() || d.moduleIndex() >= MAX_MODULES)
                refuse("a reference in its list of objects is not sound");
            d.setModuleIndex(m);
            stored->last = d;
        }
        in.seek(static_cast<uint32_t>(listsEnd));
        storedLists_ = std::move(stored);
        return false;
    }

    // Not zeroed first: the read fills every byte.
    const auto bytes = std::make_unique_for_overwrite<uint8_t[]>(size);
    in.read(bytes.get(), size);
    const std::span<const uint8_t> rest(bytes.get(), size);
    size_t at = 0;
    bool twice = false;
    ReadLocalList(rest, &at, m, objects_, "objects", &fileObjects_, &twice, refuse);
    ReadLocalList(rest, &at, m, children_, "child signatures", nullptr, nullptr, refuse);
    in.seek(from + static_cast<uint32_t>(at));
    return twice;
}

void SignatureRep::takeStoredLists() {
    const StoredLists& stored = *storedLists_;
    const uint32_t index = desc_.descIndex();
    const tModuleIndex m = moduleIndex();
    auto* table = DescribedObjectNoDescriptor<SignatureRep>::descriptionTable(m);
    const Description* e = DescribedObjectNoDescriptor<SignatureRep>::objectDescription(desc_);
    // While its lists are in the file the signature stays in its module
    // (leaving it, or being destroyed, takes them in first).
    TQ_ASSERT(table && e, "the signature's record");
    const auto refuse = [index](const std::string& what) { BadRecord(index, what); };

    const size_t size = stored.to - stored.from;
    const auto bytes = std::make_unique_for_overwrite<uint8_t[]>(size);
    {
        // Asked for in the middle of other reads of the stream (a save
        // writing this table): its position is kept.
        OCLStream& in = table->stream();
        const uint32_t resume = in.tell();
        try {
            in.seek(e->offset() + stored.from);
            in.read(bytes.get(), size);
        } catch (const StorageError& x) {
            in.seek(resume);
            refuse(x.what());
        }
        in.seek(resume);
    }
    std::vector<uint64_t> listed;
    try {
        const std::span<const uint8_t> rest(bytes.get(), size);
        size_t at = 0;
        bool twice = false;
        ReadLocalList(rest, &at, m, objects_, "objects", &listed, &twice, refuse);
        ReadLocalList(rest, &at, m, children_, "child signatures", nullptr, nullptr, refuse);
        if (twice) refuse("an object is listed twice");
        for (const uint32_t i : stored.admitted) {
            if (Marked(listed, i)) continue;
            const std::string text = "Objects entry " + std::to_string(i) + ": it is not among its signature's objects";
            throw ObjectLoadFailed(text.c_str());
        }
    } catch (...) {
        objects_.discardStored();
        children_.discardStored();
        throw;
    }
    fileObjects_ = std::move(listed);
    const std::unique_ptr<StoredLists> done = std::move(storedLists_);
    LeaveOut(objects_, done->removedObjects);
    LeaveOut(children_, done->removedChildren);
}

bool SignatureRep::listedInFile(uint32_t objectIndex) const {
    return Marked(fileObjects_, objectIndex);
}

bool SignatureRep::admitsObject(uint32_t objectIndex) {
    if (!storedLists_) return listedInFile(objectIndex);
    storedLists_->admitted.push_back(objectIndex);
    return true;
}

template <class T>
bool SignatureRep::removeStored(const T* thing) {
    if (!storedLists_ || thing->moduleIndex() != moduleIndex()) return false;
    std::vector<uint32_t>& removed =
        std::is_same_v<T, InterObjRep> ? storedLists_->removedObjects : storedLists_->removedChildren;
    const tDescriptor d = thing->descriptor();
    removed.push_back(d.descIndex());
    if constexpr (std::is_same_v<T, InterObjRep>)
        if (!storedLists_->last.isNull() && d.descIndex() == storedLists_->last.descIndex())
            storedLists_->last.setNull();
    return true;
}

template bool SignatureRep::removeStored(const InterObjRep*);
template bool SignatureRep::removeStored(const SignatureRep*);

InterObjRep* SignatureRep::protoObject() {
    if (storedLists_ && !storedLists_->last.isNull()) return InterObjRep::fault(storedLists_->last);
    PrimInterObjList& list = objects();
    return list.empty() ? nullptr : list.last().get();
}

}  // namespace tq
