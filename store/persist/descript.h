// Description: one entry of a description table, kept in memory exactly as
// it lies in the module file (13 bytes, packed, little-endian fields).
//
//   offset  width  used entry                    free entry
//   0       1      flags                         flags (bits 0 and 2 clear)
//   1       4      handle id of the loaded       -
//                  thing; 0 when not loaded,
//                  always written as 0
//   5       4      offset of the record in the   index of the next free run
//                  kind's stream
//   9       4      length of the record          further free entries that
//                                                directly follow this one
//
// Flags: bit 0 used; bit 1 changed (the record must be written at the next
// save; kept in memory only); bit 2 deleted (the slot still holds a thing that
// no longer counts as existing); bit 3 reading (the record is being read, in
// memory only: a record that leads back to itself while it is read is a
// fault of the file, not a reason to read it again without end); bit 4
// unreadable (in memory only: the record failed to read once and fails again
// at once, so a spoilt record that many references lead to costs one read,
// not one per reference); bit 5 entry changed (in memory only: the entry's
// stored bits or words changed since the array was last written, so the
// next save writes this entry back; every change of them sets it). Only the
// stored bits are written.
#pragma once

#include <cstdint>

#include "platform/util/lebytes.h"

namespace tq {

struct Description {
    enum : uint8_t {
        kUsed = 0x01,
        kChanged = 0x02,
        kDeleted = 0x04,
        kReading = 0x08,
        kUnreadable = 0x10,
        kEntryChanged = 0x20,
        kStoredFlags = 0x05
    };

    uint8_t bytes[13];

    // The entry as the file holds it: the stored flags, and no handle id.
    void prepareForStorage() {
        bytes[0] &= kStoredFlags;
        setMemory(0);
    }

    uint8_t flags() const { return bytes[0]; }
    void setFlags(uint8_t f) { bytes[0] = f; }

    bool isUsed() const { return (bytes[0] & kUsed) != 0; }
    bool isDeleted() const { return (bytes[0] & kDeleted) != 0; }
    bool isChanged() const { return (bytes[0] & kChanged) != 0; }
    bool isFree() const { return (bytes[0] & (kUsed | kDeleted)) == 0; }
    // A thing exists when its entry is used and not deleted.
    bool exists() const { return (bytes[0] & (kUsed | kDeleted)) == kUsed; }

    void markUsed() { bytes[0] = kUsed | kEntryChanged; }
    void markFree() {
        bytes[0] = static_cast<uint8_t>((bytes[0] & ~(kUsed | kDeleted | kChanged)) | kEntryChanged);
    }
    void markChanged() { bytes[0] |= kChanged; }
    void clearChanged() { bytes[0] &= static_cast<uint8_t>(~kChanged); }
    void markDeleted() { bytes[0] |= kDeleted | kEntryChanged; }
    bool entryChanged() const { return (bytes[0] & kEntryChanged) != 0; }
    void clearEntryChanged() { bytes[0] &= static_cast<uint8_t>(~kEntryChanged); }
    bool isUnreadable() const { return (bytes[0] & kUnreadable) != 0; }
    void markUnreadable() { bytes[0] |= kUnreadable; }
    bool isReading() const { return (bytes[0] & kReading) != 0; }
    void setReading(bool on) {
        bytes[0] = on ? (bytes[0] | kReading) : (bytes[0] & static_cast<uint8_t>(~kReading));
    }

    uint32_t memory() const { return LoadLE32(bytes + 1); }
    void setMemory(uint32_t id) { StoreLE32(bytes + 1, id); }
    bool hasFaulted() const { return exists() && memory() != 0; }

    uint32_t offset() const { return LoadLE32(bytes + 5); }
    void setOffset(uint32_t v) {
        StoreLE32(bytes + 5, v);
        bytes[0] |= kEntryChanged;
    }
    uint32_t length() const { return LoadLE32(bytes + 9); }
    void setLength(uint32_t v) {
        StoreLE32(bytes + 9, v);
        bytes[0] |= kEntryChanged;
    }

    // Free-list view of the same words.
    uint32_t next() const { return offset(); }
    void setNext(uint32_t v) { setOffset(v); }
    uint32_t run() const { return length(); }
    void setRun(uint32_t v) { setLength(v); }
};

static_assert(sizeof(Description) == 13, "a description is 13 bytes in the module file");

}  // namespace tq
