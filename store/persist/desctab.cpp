#include "store/persist/desctab.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/util/radixsort.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"

namespace tq {

namespace {

// Streams are opened read-write and exclusive, created when missing.
constexpr int kCreateWhenMissing = 1;
constexpr uint32_t kStreamMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

std::string Where(const OCLStream& s) { return "stream \"" + s.name() + "\""; }

// Whether a write acts on the entry: a deleted thing (its slot to be freed
// once it has left memory) or a changed one.
bool WriteActsOn(const Description& e) { return e.isDeleted() || (e.isUsed() && e.isChanged()); }

// The first entry at or after i that a write acts on, or count(): a save of
// one changed thing in a table of a million passes over the rest run by run,
// not entry by entry through the index arithmetic, and over entries never
// read not at all (nothing can have changed them).
uint32_t NextToWrite(OCLBlockArrayWFL<Description>& array, uint32_t i) {
    for (auto r = array.readRunFrom(i); r.first < r.end; r = array.readRunFrom(r.end)) {
        // One test of the flags byte passes over an entry the write leaves.
        constexpr uint8_t kActive = Description::kDeleted | Description::kChanged;
        for (uint32_t k = r.first; k < r.end; ++k) {
            const Description& e = r.items[k - r.first];
            if ((e.bytes[0] & kActive) != 0 && WriteActsOn(e)) return k;
        }
    }
    return array.count();
}

// An entry as it is kept in memory: a loaded thing's handle id and the
// in-memory flag bits live in memory only; a file that carries them set must
// not make an entry look changed or in the middle of a read.
void FromStorage(Description& e) {
    e.setMemory(0);
    e.setFlags(e.flags() & Description::kStoredFlags);
}

[[noreturn]] void ThrowCorruptSave(const std::string& stream, const std::string& what) {
    const std::string text = "Could not save module: stream \"" + stream + "\": " + what;
    throw StoreException(text.c_str(), "ModuleSaveError");
}

}  // namespace

void ThrowCorruptTable(const std::string& stream, const char* what) {
    const std::string text = "stream \"" + stream + "\": " + what;
    throw ModuleOpenFailed(text.c_str());
}

VoidDescriptionTable::VoidDescriptionTable(OCLStorage& storage, const char* name,
                                           uint32_t storageVersion, tModuleIndex m)
    : stream_(storage, name, kCreateWhenMissing, kStreamMode),
      array_(kBlockSize, kBlockSize),
      module_(m),
      version_(storageVersion) {
    if (stream_.size() == 0) return;
    readHead();
    stream_.seek(arrayOffset_);
    if (storage.hasChecksums()) {
        onDemand_ = true;
        array_.readOnDemand(stream_, &FromStorage);
        freeListChecked_ = false;
        return;
    }
    array_.read(stream_, &FromStorage);
    checkRecords(false);
}

// Every record an entry names must lie inside the stream, or a later save
// would copy bytes that are not there (compaction moves every live record)
// and size its buffer by a length taken from the file. And no two things'
// records share a byte: a writer gives each record bytes of its own, so an
// entry whose offset points into another's record is damage, which would
// otherwise read as a second copy of that thing (a loop's body read as
// another block, run for ever), and which a compaction would spread over
// the records it slides down. One pass over the array and a sort, no reads
// of records. saving: the check guards a compaction about to start.
void VoidDescriptionTable::checkRecords(bool saving) {
    const auto refuse = [&](const std::string& what) {
        if (saving) ThrowCorruptSave(stream_.name(), what);
        ThrowCorruptTable(stream_.name(), what.c_str());
    };
    const uint32_t size = stream_.size();
    // offset << 32 | entry, in entry order: sorted by offset alone, entries
    // at one offset stay in entry order.
    std::vector<uint64_t> extents;
    for (uint32_t i = 0; i < array_.count(); ++i) {
        const Description& e = array_[i];
        if (e.isFree() || e.length() == 0) continue;
        if (e.offset() < kHeadSize || e.offset() > size || e.length() > size - e.offset())
            refuse("entry " + std::to_string(i) + ": record lies outside the stream");
        if (e.exists()) extents.push_back(uint64_t(e.offset()) << 32 | i);
    }
    SortNearlyInOrder(extents, 32, 64);
    for (size_t k = 1; k < extents.size(); ++k) {
        const auto before = static_cast<uint32_t>(extents[k - 1]);
        const auto entry = static_cast<uint32_t>(extents[k]);
        if (uint64_t(array_[before].offset()) + array_[before].length() <= extents[k] >> 32) continue;
        refuse("entry " + std::to_string(entry) + ": record overlaps the record of entry " + std::to_string(before));
    }
}

// The free list of a table read on demand, before it is first followed: the
// checks of an eager open, on the entries the list names.
void VoidDescriptionTable::checkFreeList() {
    if (freeListChecked_) return;
    const char* fault = nullptr;
    try {
        fault = array_.validateFreeList();
    } catch (const StorageError& e) {
        const std::string text = Where(stream_) + " free list: " + e.what();
        throw ObjectLoadFailed(text.c_str());
    }
    if (fault) ThrowCorruptTable(stream_.name(), fault);
    freeListChecked_ = true;
}

VoidDescriptionTable::~VoidDescriptionTable() = default;

void VoidDescriptionTable::readHead() {
    const uint32_t size = stream_.size();
    if (size < kHeadSize) ThrowCorruptTable(stream_.name(), "table head is truncated");
    stream_.seek(0);
    const uint32_t revision = stream_.readU32();
    arrayOffset_ = stream_.readU32();
    arraySlot_ = stream_.readU32();
    deadBytes_ = stream_.readU32();
    if (revision == 0 || revision > version_)
        ThrowCorruptTable(stream_.name(), "table revision is unknown");
    version_ = revision;
    if (arrayOffset_ < kHeadSize || arrayOffset_ > size ||
        size - arrayOffset_ < OCLBlockArrayWFL<Description>::kHeaderSize ||
        arraySlot_ > size - arrayOffset_)
        ThrowCorruptTable(stream_.name(), "description array lies outside the stream");
    if (deadBytes_ > size) deadBytes_ = size;
}

Description& VoidDescriptionTable::entry(uint32_t index) {
    TQ_ASSERT(index < array_.count(), "index < count()");
    if (!array_.isRead(index)) readEntry(index);
    return array_[index];
}

const Description& VoidDescriptionTable::entry(uint32_t index) const {
    TQ_ASSERT(index < array_.count(), "index < count()");
    if (!array_.isRead(index)) readEntry(index);
    return array_[index];
}

void VoidDescriptionTable::readEntry(uint32_t index) const {
    try {
        (void)array_[index];
    } catch (const StorageError& e) {
        const std::string text = Where(stream_) + " entry " + std::to_string(index) + ": " + e.what();
        throw ObjectLoadFailed(text.c_str());
    }
}

void VoidDescriptionTable::noteHeld(uint32_t index) {
    const uint32_t chunk = index / OCLBlockArrayWFL<Description>::kChunkItems;
    if (chunk >= held_.size()) held_.resize(chunk + 1, 0);
    held_[chunk] = 1;
}

uint32_t VoidDescriptionTable::nextHeld(uint32_t i) const {
    constexpr uint32_t kChunk = OCLBlockArrayWFL<Description>::kChunkItems;
    const uint32_t n = array_.count();
    for (uint32_t chunk = i / kChunk; i < n; i = ++chunk * kChunk) {
        if (chunk >= held_.size()) return n;
        if (held_[chunk]) return i;
    }
    return n;
}

uint32_t VoidDescriptionTable::add(uint32_t memory) {
    // A new block must not take the table past what descriptors can name: a
    // program that makes that many things of one kind is refused, and no
    // file this table writes holds more entries than it could read back.
    if (array_.firstFree() == kNoMoreFree &&
        uint64_t(array_.count()) + kBlockSize > uint64_t(tDescriptor::kMaxIndex) + 1) {
        throw StoreException(Where(stream_) + ": too many entries in one module");
    }
    checkFreeList();
    const uint32_t index = array_.nextFree();
    TQ_ASSERT(index <= tDescriptor::kMaxIndex, "descIndex() == d");
    Description& e = array_[index];
    e.setMemory(memory);
    e.setOffset(0);
    e.setLength(0);
    e.markChanged();
    noteHeld(index);
    markDirty();
    return index;
}

void VoidDescriptionTable::changed(uint32_t index) {
    entry(index).markChanged();
    markDirty();
}

bool VoidDescriptionTable::stillNames(uint32_t index, uint32_t owner) const {
    const Description& e = entry(index);
    return !e.isFree() && (owner == 0 || e.memory() == 0 || e.memory() == owner);
}

void VoidDescriptionTable::deleted(uint32_t index, uint32_t owner) {
    if (!stillNames(index, owner)) return;
    Description& e = entry(index);
    e.markDeleted();
    e.setMemory(0);
    markDirty();
}

void VoidDescriptionTable::reclaimed(uint32_t index, uint32_t owner) {
    if (stillNames(index, owner)) entry(index).setMemory(0);
}

// An entry never read holds nothing in memory: answering reads nothing.
bool VoidDescriptionTable::hasFaulted(uint32_t index) const {
    return index < array_.count() && array_.isRead(index) && array_[index].hasFaulted();
}

void VoidDescriptionTable::checkRecordBounds(const Description& e, uint32_t index) {
    const uint32_t size = stream_.size();
    if (e.offset() < kHeadSize || e.offset() > size || e.length() > size - e.offset()) {
        const std::string text =
            Where(stream_) + " entry " + std::to_string(index) + ": record lies outside the stream";
        throw ObjectLoadFailed(text.c_str());
    }
}

uint32_t VoidDescriptionTable::liveBytes() const {
    const uint32_t size = stream_.size();
    return size > deadBytes_ ? size - deadBytes_ : 0;
}

void VoidDescriptionTable::write() {
    if (!dirty_) return;
    ++writesBegun;
    if (array_.count() == 0 && stream_.size() == 0) {
        dirty_ = false;
        return;
    }
    changedWhileWriting_ = false;
    uint32_t end = std::max(stream_.size(), kHeadSize);
    // Writers may enter new things of this kind while they write (a record
    // that attaches a string, say), so the count is read afresh each step.
    for (uint32_t i = NextToWrite(array_, 0); i < array_.count(); i = NextToWrite(array_, i + 1)) {
        Description& e = array_[i];
        if (e.isDeleted()) {
            if (e.memory() == 0) {
                deadBytes_ += e.length();
                array_.setFree(i);
            }
            continue;
        }
        if (!e.isChanged()) continue;
        if (e.memory() == 0) {
            e.clearChanged();
            continue;
        }
        // The mark is cleared only once the record is out: a writer that
        // fails leaves it changed, so a later save writes it again instead
        // of keeping the old record as if it were current.
        stream_.seek(end);
        if (!writeRecord(e, i)) {
            // The writer discarded the thing: its old record is dead and its
            // slot free.
            deadBytes_ += e.length();
            array_.setFree(i);
            continue;
        }
        const uint32_t newEnd = stream_.tell();
        deadBytes_ += e.length();
        e.setOffset(end);
        e.setLength(newEnd - end);
        e.clearChanged();
        end = newEnd;
    }
    if (deadBytes_ > kCompactAtDeadBytes && deadBytes_ > liveBytes()) end = compact();
    writeArray(end);
    // A record writer may have entered or changed things of this table at
    // entries the walk had passed; those stay pending, and the table dirty,
    // so that the save writes them before it ends.
    dirty_ = changedWhileWriting_ && hasPendingEntries();
}

void VoidDescriptionTable::markDirty() {
    dirty_ = true;
    changedWhileWriting_ = true;
}

// What the next write would act upon: a changed thing in memory, or a
// deleted one that has left memory and whose slot is to be freed. Entries
// never read are neither.
bool VoidDescriptionTable::hasPendingEntries() {
    for (auto r = array_.readRunFrom(0); r.first < r.end; r = array_.readRunFrom(r.end)) {
        for (uint32_t k = r.first; k < r.end; ++k) {
            const Description& e = r.items[k - r.first];
            if (e.isFree()) continue;
            if (e.isDeleted() ? e.memory() == 0 : e.isChanged() && e.memory() != 0) return true;
        }
    }
    return false;
}

void VoidDescriptionTable::compactStream() {
    // Records changed since the last write go out first: compaction moves
    // only what the stream holds.
    write();
    if (stream_.size() == 0 || deadBytes_ == 0) return;
    writeArray(compact());
}

void VoidDescriptionTable::writeArray(uint32_t end) {
    const uint32_t need = array_.recordSize();
    const bool newSlot = arraySlot_ < need || arrayOffset_ < kHeadSize;
    if (newSlot) {
        deadBytes_ += arraySlot_;
        arrayOffset_ = end;
        arraySlot_ = need + need / 4;
    }
    // A loaded thing's handle id and the flags kept in memory only never
    // reach the file. An array that keeps its slot gets only its changed
    // entries written over the stored one.
    const auto stored = [](Description& e) { e.prepareForStorage(); };
    if (newSlot) {
        stream_.seek(arrayOffset_);
        array_.write(stream_, stored);
    } else {
        array_.writeChanged(stream_, arrayOffset_, stored);
    }
    // The spare bytes of a new slot are zeroed so the file carries no stale
    // bytes there (after a compaction the slot may lie over old records). An
    // array only grows within its slot, so later saves leave the rest as it is.
    const uint32_t spare = arraySlot_ - need;
    if (spare && newSlot) {
        std::vector<uint8_t> zeros(spare, 0);
        stream_.write(zeros.data(), zeros.size());
    }
    const uint32_t tableEnd = std::max(end, arrayOffset_ + arraySlot_);
    stream_.setSize(tableEnd);
    stream_.seek(0);
    stream_.writeU32(version_);
    stream_.writeU32(arrayOffset_);
    stream_.writeU32(arraySlot_);
    stream_.writeU32(deadBytes_);
}

// Slides every live record down to close the gaps, in offset order, so no
// record is ever overwritten before it has been moved. The array is given a
// new slot after the records. A table read on demand was not checked at
// open: every entry is read and checked now, before anything moves.
uint32_t VoidDescriptionTable::compact() {
    checkRecords(true);
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < array_.count(); ++i) {
        const Description& e = array_[i];
        if (!e.isFree() && e.length() != 0) order.push_back(i);
    }
    std::sort(order.begin(), order.end(),
              [this](uint32_t a, uint32_t b) { return array_[a].offset() < array_[b].offset(); });
    std::vector<uint8_t> buffer;
    // Every record that is to move is read once before anything moves: one
    // the file cannot give back (damage its checksums name) stops the
    // compaction with the storage's failure while the table is still as it
    // was, instead of half way, over records already overwritten.
    uint32_t end = kHeadSize;
    for (uint32_t i : order) {
        const Description& e = array_[i];
        if (e.offset() != end) {
            buffer.resize(e.length());
            stream_.seek(e.offset());
            stream_.read(buffer.data(), buffer.size());
        }
        end += e.length();
    }
    end = kHeadSize;
    for (uint32_t i : order) {
        Description& e = array_[i];
        if (e.offset() != end) {
            buffer.resize(e.length());
            stream_.seek(e.offset());
            stream_.read(buffer.data(), buffer.size());
            stream_.seek(end);
            stream_.write(buffer.data(), buffer.size());
            e.setOffset(end);
        }
        end += e.length();
    }
    deadBytes_ = 0;
    arrayOffset_ = 0;
    arraySlot_ = 0;
    return end;
}

}  // namespace tq
