// Description tables: per module and per kind of thing, the index from a
// descriptor's description index to where the thing's record lies in the
// kind's stream and, once read, to the thing in memory.
//
// A table stands on one stream of the module's storage ("Objects",
// "Strings", ...). Its layout within that stream:
//
//   offset  width  content
//   0       4      table revision (the kind's storageVersion)
//   4       4      offset of the description array record (oclbawfl.h)
//   8       4      bytes reserved at that offset for the array record
//   12      4      bytes of dead space: records and arrays that were
//                  superseded and are no longer named by any description
//   16      ...    records, each at the offset and with the length its
//                  description holds, and the array record in its slot
//
// An empty stream is an empty table (a new module).
//
// Invariants and costs:
//  1. Opening reads the 16-byte head and the array record in one read each,
//     into one block of exactly the stored count: no record is read, and no
//     per-entry allocation is made. Every record an entry names is checked
//     to lie inside the stream, and no two things' records to share a byte.
//     A module file that carries the checksums of its streams has each piece
//     checked when first read, so its tables read only the 16-byte head and
//     the array's count at open, and the entries chunk by chunk when first
//     reached (entry() and every walk of the table go through the one
//     accessor of the array). The checks move to what they guard: a
//     record's bounds to its fault (checkRecordBounds), the free list to the
//     first add, bounds and overlaps of all records to the compaction, the
//     one write that moves records over others' bytes (checkRecords).
//  2. A save writes only the records whose descriptions are marked changed,
//     each appended after the end of the stream, then the array's changed
//     entries over the array in its slot (or, when the array has outgrown
//     it, the whole array in a new slot at the end with a quarter to spare).
//     Unchanged records and entries are never rewritten.
//  3. What a rewritten record, a deleted thing or a moved array leaves
//     behind is counted as dead space. When dead space exceeds both the live
//     bytes and kCompactAtDeadBytes, the save compacts the stream: the live
//     records slide down in offset order to close every gap and the dead
//     count returns to zero. So a stream never holds more than about twice
//     its live bytes plus the threshold, however many saves change it.
//  4. A deleted thing gives up its slot at once (its memory word is cleared)
//     and the next save frees the slot. A thing may stay in memory after
//     that (objects awaiting deletion) with its old index in its descriptor;
//     it reports later changes of its own only while the slot still names it
//     (stillNames), so a slot that was given to another thing is never
//     touched through a stale descriptor.
//
// Life of an entry (state: how it changes):
//
//   free --add--> used+changed --write--> used --changed--> used+changed
//     ^                                    |
//     |                                  deleted
//     +---------- write (not in memory) -- used+deleted
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/dscrptr.h"
#include "store/persist/descript.h"
#include "store/persist/oclbawfl.h"

namespace tq {

class VoidDescriptionTable {
public:
    static constexpr uint32_t kHeadSize = 16;
    static constexpr uint32_t kBlockSize = 256;
    static constexpr uint32_t kCompactAtDeadBytes = 64 * 1024;

    // Opens the table on stream `name` of the storage (created when missing)
    // and reads its array. A stream whose head or array does not fit raises
    // ModuleOpenFailed.
    VoidDescriptionTable(OCLStorage& storage, const char* name, uint32_t storageVersion,
                         tModuleIndex m);
    virtual ~VoidDescriptionTable();
    VoidDescriptionTable(const VoidDescriptionTable&) = delete;
    VoidDescriptionTable& operator=(const VoidDescriptionTable&) = delete;

    // While set, discarding a module's tables destroys its loaded things
    // without the per-thing bookkeeping (all modules are going at once).
    static bool SkipReclaim() { return skipReclaim; }
    static void SetSkipReclaim(bool on) { skipReclaim = on; }

    tModuleIndex moduleIndex() const { return module_; }
    uint32_t version() const { return version_; }
    OCLStream& stream() { return stream_; }
    // Whether the table's module is read on demand (its file has the stream
    // of checksums): its records' parts may stay in the file until used.
    bool readsOnDemand() const { return onDemand_; }
    bool isDirty() const { return dirty_; }
    uint32_t count() const { return array_.count(); }
    uint32_t deadBytes() const { return deadBytes_; }

    Description& entry(uint32_t index);
    const Description& entry(uint32_t index) const;

    // Enters a thing held by handle id `memory`; returns its index.
    uint32_t add(uint32_t memory);
    void changed(uint32_t index);
    // How many writes of any table have begun. A changed mark is cleared
    // only by its table's write, so a thing marked changed while this count
    // stood still is still marked: code that changes one thing again and
    // again (a field written in a loop) marks it once per count.
    static uint64_t WritesBegun() { return writesBegun; }
    // The thing no longer counts as existing; it is not in memory either.
    // owner (when not 0) is the handle id of the thing that reports: a thing
    // whose slot has since been freed and given to another thing leaves that
    // slot alone.
    void deleted(uint32_t index, uint32_t owner = 0);
    // The thing left memory but still exists on file.
    void reclaimed(uint32_t index, uint32_t owner = 0);
    bool hasFaulted(uint32_t index) const;
    // The first index at or after i that may hold a thing in memory, or
    // count(): things come into memory only by add and fault, which note
    // their chunk, so walks for loaded things (unloading a module) cost
    // what was loaded, not the size of the table.
    uint32_t nextHeld(uint32_t i) const;

    // Writes the changed records and the array (see the layout above). The
    // table stays dirty only when its writers left something of its own
    // unwritten.
    void write();
    // Writes what changed, then slides the live records together, however
    // little dead space there is.
    void compactStream();

protected:
    // Writes the record of the thing of entry e, with the stream positioned
    // where the record starts. A kind that writes conditionally may instead
    // discard the thing (it is freed and its entry deleted) and return false.
    virtual bool writeRecord(Description& e, uint32_t index) = 0;

    // Checks that entry e's record lies inside the stream, before a fault.
    void checkRecordBounds(const Description& e, uint32_t index);
    // Entry index now holds a thing in memory (see nextHeld).
    void noteHeld(uint32_t index);

private:
    bool stillNames(uint32_t index, uint32_t owner) const;
    void markDirty();
    bool hasPendingEntries();
    void readHead();
    // Raises StorageError from the first read of an entry's chunk as
    // ObjectLoadFailed naming the entry.
    void readEntry(uint32_t index) const;
    // Bounds and overlaps of every record (see checkRecords in the .cpp);
    // what is wrong is ModuleOpenFailed at open, ModuleSaveError before a
    // compaction.
    void checkRecords(bool saving);
    void checkFreeList();
    void writeArray(uint32_t end);
    uint32_t compact();
    uint32_t liveBytes() const;

    static inline bool skipReclaim = false;

    OCLStream stream_;
    OCLBlockArrayWFL<Description> array_;
    tModuleIndex module_;
    uint32_t version_;
    uint32_t arrayOffset_ = 0;
    uint32_t arraySlot_ = 0;
    uint32_t deadBytes_ = 0;
    bool dirty_ = false;
    // Whether the free list read from the file has been checked.
    bool freeListChecked_ = true;
    bool onDemand_ = false;
    // Per chunk of BlockArray::kChunkItems entries: 1 once a thing of one of
    // them came into memory.
    std::vector<uint8_t> held_;
    // Something was entered, changed or deleted since the last write began.
    bool changedWhileWriting_ = false;
    static inline uint64_t writesBegun = 0;
};

}  // namespace tq
