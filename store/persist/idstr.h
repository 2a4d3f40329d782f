// Identifier strings: the interned names of a module.
//
// Every name the store keeps (of objects, fields, signatures, enumeration
// entries, local variables, the identifiers of compiled code) is interned
// per module: each module has one table of 40-byte entries, stored whole in
// its "IdStrings" stream, and a hash dictionary from text to table index,
// built when something first needs it (interning, looking a text up). An
// IdString is a counted reference to one entry. Names are case-sensitive and
// at most 31 characters long; longer texts are cut to 31 without a report, so
// two texts that differ only after character 31 are the same name. A name
// that a thing of module A uses is interned into module B as well when the
// thing is written into B, so every module file is self-contained for names.
//
// The pseudo-module DETACHED_MODULE (254) has a table of its own without a
// stream; its entries are never freed.
//
// Invariants:
//  1. In table m, every used entry's text is NUL-terminated within its 32
//     bytes and is a key of dict[m] naming exactly that entry; free entries
//     form the run-length free list and are in no dictionary.
//  2. An entry's count includes the references held by the module's stored
//     records: faulting them in adds nothing, destroying them releases it.
//     An entry of a module whose count reaches 0 is freed; one whose count is
//     already 0 (a file that understated it) stays at 0 and is kept, because
//     stored records may still name it. A record that fails to read keeps
//     its count too: its partly built things release nothing as they go
//     (recordread.h).
//  3. A name's descriptor is (module << 22) | index; it never has the proxy
//     bit.
//  4. A table is read whole when its module opens, unless it is large and
//     its file carries checksums: then its head is read at open, and its
//     entries chunk by chunk the first time one of the chunk is reached
//     (following a name, asking whether it exists, writing it). Each piece
//     read is checked against its checksum then, and each used entry's text
//     (not empty, ended by NUL) as it comes in: an entry that fails is kept
//     but marked unreadable, and following it raises ObjectLoadFailed.
//  5. A module's dictionary exists only with the whole table in memory. It is
//     built on first need, after the checks that only the whole table shows
//     (free list, unreadable entries, a name held by two entries), which
//     raise ModuleOpenFailed as they do at an open that reads it whole; a
//     module whose table fails them interns nothing, but reads, releases and
//     saves what it holds. Entries change only in memory and only once read,
//     so an entry not yet read is as the file holds it.
//
// Life of an entry:
//
//   free --IdString(text, m)--> used, count 1 --ref/deref--> ...
//     ^                                                       |
//     +------------------- deref to 0 (modules only) ---------+
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/util/handle.h"
#include "platform/util/lebytes.h"
#include "store/dscrptr.h"
#include "store/faultp.h"
#include "store/handkind.h"

namespace tq {

class OCLStorage;
class OCLStream;

inline constexpr int32_t ID_NOT_FOUND = -1;
// The longest name; texts are cut to this many characters.
inline constexpr size_t kMaxIdLength = 31;

// IdStringRep: one table entry, kept in memory exactly as it lies in the
// "IdStrings" stream.
//
//   offset  width  used entry                      free entry
//   0       4      handle id of the entry while    -
//                  an IdString names it; written
//                  as 0, ignored when read
//   4       2      reference count                 -
//   6       1      flags: bit 0 used               flags: bit 0 clear
//                  (in memory only, written as 0: bit 1, the entry
//                  changed since the table was written; bit 2, the
//                  entry's text as read is not a name)
//   7       1      module index of the table       -
//   8       32     text: at most 31 characters,    index of the next free run
//                  then NUL (byte 39 always 0)     (offset 8, 4 bytes), number
//                                                  of further free entries
//                                                  that directly follow
//                                                  (offset 12, 4 bytes)
class IdStringRep {
public:
    enum : uint8_t { kUsed = 0x01, kEntryChanged = 0x02, kUnreadable = 0x04 };
    static constexpr HandleTable::Kind kHandleKind = HK_IDSTRING;
    static constexpr uint16_t kStuckCount = 0xFFFF;

    const char* text() const { return reinterpret_cast<const char*>(bytes + 8); }
    uint16_t refCount() const { return LoadLE16(bytes + 4); }
    tModuleIndex moduleIndex() const { return bytes[7]; }

    // What a fault pointer needs of its target.
    HandleTable::Id selfId() const;
    // Names are never referenced indirectly.
    HandleTable::Id handle() const;
    tDescriptor descriptor() const;
    void ref();
    void deref();
    // The entry d names; ObjectLoadFailed when it is not in use or cannot
    // be read (invariant 4).
    static IdStringRep* fault(tDescriptor d);
    // Whether d names an entry in use, without taking it; an entry that
    // cannot be read counts as one, so that following it names the damage.
    static bool objectExists(tDescriptor d);
    // How module m names this entry when it writes a reference to it: the
    // entry's own descriptor when it belongs to m; otherwise the text is
    // interned into m and m's entry takes one count for the reference that
    // is about to be written.
    static tDescriptor internalDescriptor(const IdStringRep& rep, tModuleIndex m);
    static bool isNullObject(const IdStringRep&) { return false; }

    void printOn(std::ostream& os) const;

    // The free-list view (BlockArrayWithFreeList).
    bool isUsed() const { return (bytes[6] & kUsed) != 0; }
    bool isFree() const { return !isUsed(); }
    void markUsed() { bytes[6] = kUsed | kEntryChanged; }
    void markFree() { bytes[6] = kEntryChanged; }
    uint32_t next() const { return LoadLE32(bytes + 8); }
    void setNext(uint32_t v) {
        StoreLE32(bytes + 8, v);
        bytes[6] |= kEntryChanged;
    }
    uint32_t run() const { return LoadLE32(bytes + 12); }
    void setRun(uint32_t v) {
        StoreLE32(bytes + 12, v);
        bytes[6] |= kEntryChanged;
    }

    // A used entry read from a file whose text is empty or runs past its 32
    // bytes: nothing may take it.
    bool isUnreadable() const { return (bytes[6] & kUnreadable) != 0; }
    // The flags as the file holds them: the marks kept in memory cleared.
    void keepStoredFlags() { bytes[6] &= kUsed; }

    // Every change of the stored bytes marks the entry, so that a save
    // writes back only the entries that changed (oclbawfl.h).
    bool entryChanged() const { return (bytes[6] & kEntryChanged) != 0; }
    void clearEntryChanged() { bytes[6] &= static_cast<uint8_t>(~kEntryChanged); }

    void setRefCount(uint16_t n) {
        StoreLE16(bytes + 4, n);
        bytes[6] |= kEntryChanged;
    }
    void setModuleIndex(tModuleIndex m) {
        if (bytes[7] == m) return;
        bytes[7] = m;
        bytes[6] |= kEntryChanged;
    }
    uint32_t memoryId() const { return LoadLE32(bytes); }
    void setMemoryId(uint32_t id) { StoreLE32(bytes, id); }

    uint8_t bytes[40];
};

static_assert(sizeof(IdStringRep) == 40, "an identifier entry is 40 bytes in the module file");

// IdString: a counted reference to an interned name.
class IdString : public Faultp<IdStringRep> {
public:
    IdString() = default;
    // Interns text in module m (a null text gives a null reference) and
    // takes one count on the entry.
    IdString(const char* text, tModuleIndex m);
    IdString(IdStringRep* rep) : Faultp<IdStringRep>(rep) {}
    explicit IdString(tDescriptor d) : Faultp<IdStringRep>(d) {}
    IdString(const IdString&) = default;
    IdString& operator=(const IdString&) = default;

    // The text; null for a null reference.
    operator const char*() const;

    // Two null names are equal; a null and a non-null one are not; otherwise
    // the same entry or the same text (case-sensitive).
    friend bool operator==(const IdString& a, const IdString& b);

    // Re-interns a non-null name into module m.
    void attach(tModuleIndex m);

    // The hash of the name's text, for the store's dictionaries keyed by name.
    uint32_t hash() const;
    // h = h * 5 + c over the text, each character taken as a signed char,
    // stopping at NUL or after 31 characters.
    static uint32_t Hash(const char* text);

    // Start and stop: the tables of DETACHED_MODULE.
    static void Initialize();
    static void Terminate();

    // Module life. newModule opens the "IdStrings" stream of the storage and
    // reads it, whole or its head (invariant 4); a stream whose bytes do not
    // make a sound table, as far as what is read shows, raises
    // ModuleOpenFailed.
    static void newModule(tModuleIndex m, OCLStorage& storage);
    static void delModule(tModuleIndex m);
    // Names alone never make a module need saving.
    static bool isDirty(tModuleIndex) { return false; }
    static void writeModule(tModuleIndex m);

    // Inspection: the table's count() (0 when there is none), the index of
    // text in module m without interning it, and a walk that checks the
    // invariants of table m and returns what is broken ("" when sound). Find
    // and CheckModule need the dictionary: building it raises
    // ModuleOpenFailed for a damaged table (invariant 5).
    static uint32_t TableCount(tModuleIndex m);
    // How many entries of module m's table have been given up since it was
    // read: an entry's text changes only by being given up and taken again.
    static uint64_t FreedCount(tModuleIndex m);
    static int32_t Find(const char* text, tModuleIndex m);
    static std::string CheckModule(tModuleIndex m);
    // How many entries of module m's table are in memory, and whether its
    // dictionary has been built.
    static uint32_t EntriesInMemory(tModuleIndex m);
    static bool HasDictionary(tModuleIndex m);

    // Test and fuzzing seam: how modules opened from now on read their
    // tables. kDefault: on demand when the table is large and its file has
    // checksums, otherwise whole; kOnDemand: every stored table on demand;
    // kWhole: every table whole, as from a file without checksums.
    enum class TableReading { kDefault, kOnDemand, kWhole };
    static void SetTableReading(TableReading how);
};

static_assert(sizeof(IdString) == 5, "an identifier string is one fault pointer");

// IdDynamicVector: the growing list of plain names that the compiler fills
// before a block is made.
struct IdStringBuild {
    char text[kMaxIdLength + 1];
};

class IdDynamicVector {
public:
    static constexpr uint32_t kInitialCapacity = 64;

    IdDynamicVector() { items_.reserve(kInitialCapacity); }

    // The position of the first item equal to text over 31 characters;
    // otherwise text (cut to 31 characters) is appended and its position
    // returned. Positions are 16-bit: a list that would pass 32767 items
    // raises StoreException instead of wrapping.
    int16_t stringIndex(const char* text);

    uint32_t count() const { return static_cast<uint32_t>(items_.size()); }
    const char* operator[](uint32_t i) const { return items_[i].text; }
    // Empties the list and gives it room for capacity items.
    void reshape(uint32_t capacity);

private:
    std::vector<IdStringBuild> items_;
    // Position of each item's text, so that a long list is not searched
    // item by item; the result is the same, as no text is entered twice.
    std::unordered_map<std::string, int16_t> positions_;
};

// IdStringVector: a persistent array of names (the name lists of compiled
// blocks). Its record, inside the record of its owner:
//
//   order  width  content
//   1      4      revision, always 1
//   2      4      element count n
//   3      5 * n  the names as fault pointers (flags byte, descriptor)
class IdStringVector {
public:
    static constexpr uint32_t kRevision = 1;

    IdStringVector() = default;
    // Interns every item of names, in order, into module m, then empties
    // names (count 0, room for 64).
    IdStringVector(IdDynamicVector& names, tModuleIndex m);
    // Re-interns each name in the current module (ObjectStore::OpenModule).
    IdStringVector(const IdStringVector& other);
    IdStringVector& operator=(const IdStringVector&) = delete;

    uint32_t count() const { return count_; }
    IdString& operator[](uint32_t i) { return items_[i]; }
    const IdString& operator[](uint32_t i) const { return items_[i]; }

    void attach(tModuleIndex m);
    // The position of the first name equal to text over 31 characters, or -1.
    int32_t findString(const char* text) const;

    // Reads the record into this empty vector, as module m's. A revision
    // other than 1 raises ModuleOpenFailed "ID strings revision error"; a
    // count that runs past the stream raises ObjectLoadFailed.
    void read(OCLStream& in, tModuleIndex m);
    void write(OCLStream& out) const;

private:
    uint32_t count_ = 0;
    std::unique_ptr<IdString[]> items_;
};

}  // namespace tq
