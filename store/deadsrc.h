// Dead source: the text of a procedure that its nodes do not carry.
//
// Modules keep compiled code, not text; a procedure's text is printed back
// from its blocks (srcctl.h). What no node prints (the Sub or Function
// header line, declarations, comments, blank lines, Catch lines) is kept
// beside the code as a list of text fragments, each tied to a source line,
// in the order printing meets them. Lines count from the procedure's header
// line, which is line 0; its body starts at line 1.
//
// The compiler builds the list as DSObj fragments (each owning its text,
// in its building state, DS_STATE_POINTER set); DeadSourceRep packs them
// into one text pool and an array of 14-byte fragment records. The packed
// form is what a compiled procedure's record carries in the module file.
//
// Fragment record (14 bytes, little-endian):
//
//   offset  width  meaning
//   0       1      flags: the compiler's, kept unchanged (0 when unused)
//   1       4      source line
//   5       4      column: the compiler's, kept unchanged (0 when unused)
//   9       1      kind: 1 a plain text line, 2 a Rem comment, 3 a '
//                  comment (DS_STATE_POINTER only while being built)
//   10      4      offset of the fragment's NUL-terminated text in the pool
//
// Dead-source record, inside a compiled procedure's record:
//
//   offset  width  meaning
//   0       4      fragment count n times 14 (the array's length)
//   4       4      cursor: written as 0, ignored when read
//   8       4      n, the fragment count
//   12      4      p, the pool's length
//   16      14 n   the fragment records
//   16+14n  p      the text pool: every fragment's text and its NUL, end
//                  to end
//
// A record read from a file is checked before it is used: an array length
// that disagrees with the count, a count or pool that runs past the
// stream, a fragment of an unknown kind or whose text does not start and
// end (in a NUL) inside the pool raise ObjectLoadFailed. So printing never
// reads past the pool. (Lines are not limited here: the printer bounds the
// line ends it writes, srcctl.h.)
//
// Invariants:
//  1. Every fragment's text starts and ends (in a NUL) inside the pool.
//  2. The cursor (the next fragment to print) is shared by everyone who
//     prints the same dead source; a printer resets it before it starts, so
//     two printings give the same text (printings must not interleave).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/cntedobj.h"

namespace tq {

class OCLStream;

enum DSKind : uint8_t {
    DS_TEXT = 1,     // a plain text line (header, declaration, Catch line)
    DS_REM = 2,      // a Rem comment
    DS_APOSTROPHE = 3,  // a ' comment
};

// Set in a fragment's kind while its text is its own (being built).
inline constexpr uint8_t DS_STATE_POINTER = 0x80;

// Which white space a fragment's text loses when it is made.
enum DSTrimType : uint8_t {
    DS_TRIM_NONE = 0,
    DS_TRIM_LEADING = 1,
    DS_TRIM_TRAILING = 2,
    DS_TRIM_BOTH = 3,
};

// One fragment while the compiler builds the list.
class DSObj {
public:
    static constexpr uint32_t kRecordSize = 14;

    // The text up to its end or its first line feed; trim bit 1 skips leading
    // white space, bit 2 drops trailing white space. kind is a DSKind.
    DSObj(uint32_t line, const char* text, uint8_t kind, DSTrimType trim = DS_TRIM_NONE);

    uint32_t line() const { return line_; }
    // The kind with DS_STATE_POINTER.
    uint8_t type() const { return type_; }
    // The kind alone.
    uint8_t kind() const { return static_cast<uint8_t>(type_ & ~DS_STATE_POINTER); }
    const std::string& text() const { return text_; }

    // The compiler's own bytes of the record, kept unchanged.
    uint8_t flags = 0;
    uint32_t column = 0;

private:
    uint32_t line_;
    uint8_t type_;
    std::string text_;
};

// The compiler's fragment list, in print order.
using DSObjList = std::vector<DSObj>;

class DeadSourceRep : public CountedObject {
public:
    // No fragments.
    DeadSourceRep() = default;
    // Packs the fragments of list (each in its building state:
    // "dsobj.type & DS_STATE_POINTER") into the pool.
    explicit DeadSourceRep(const DSObjList& list);
    // The same fragments and pool; the copy's cursor starts at 0.
    DeadSourceRep(const DeadSourceRep& other);
    DeadSourceRep& operator=(const DeadSourceRep&) = delete;

    // Reads and checks a record (see above); where names the owner in the
    // messages ("procedure 'Main'").
    static DeadSourceRep* Read(OCLStream& in, const std::string& where);
    void write(OCLStream& out) const;

    // The last release deletes.
    void deref() {
        if (dropCount()) delete this;
    }

    uint32_t count() const { return count_; }
    uint32_t poolLength() const { return poolLength_; }
    uint32_t line(uint32_t i) const;
    uint8_t kind(uint32_t i) const;
    const char* text(uint32_t i) const;
    uint8_t flags(uint32_t i) const { return record(i)[0]; }
    uint32_t column(uint32_t i) const;

    uint32_t cursor() const { return cursor_; }
    void setCursor(uint32_t c) { cursor_ = c; }
    void resetCursor() { cursor_ = 0; }

private:
    const uint8_t* record(uint32_t i) const { return fragments_.get() + size_t(i) * DSObj::kRecordSize; }

    uint32_t cursor_ = 0;
    uint32_t count_ = 0;
    uint32_t poolLength_ = 0;
    std::unique_ptr<uint8_t[]> fragments_;
    std::unique_ptr<char[]> pool_;
};

// A counted reference to a DeadSourceRep; an empty handle prints as no
// fragments.
class DeadSource {
public:
    DeadSource() = default;
    // Takes a count on rep (which may be null).
    explicit DeadSource(DeadSourceRep* rep) : rep_(rep) {
        if (rep_) rep_->ref();
    }
    // Packs the compiler's list and empties it, for the compiler's reuse.
    explicit DeadSource(DSObjList& list) : DeadSource(new DeadSourceRep(list)) { list.clear(); }
    DeadSource(const DeadSource& other) : DeadSource(other.rep_) {}
    DeadSource& operator=(const DeadSource& other) {
        DeadSource keep(other);
        std::swap(rep_, keep.rep_);
        return *this;
    }
    ~DeadSource() {
        if (rep_) rep_->deref();
    }

    DeadSourceRep* get() const { return rep_; }
    DeadSourceRep* operator->() const { return rep_; }
    explicit operator bool() const { return rep_ != nullptr; }
    bool isEmpty() const { return !rep_ || rep_->count() == 0; }
    uint32_t count() const { return rep_ ? rep_->count() : 0; }

    // A copy with fragments of its own (for a procedure's copy).
    DeadSource copy() const { return rep_ ? DeadSource(new DeadSourceRep(*rep_)) : DeadSource(); }

    // The record of this dead source; an empty handle writes the record of
    // no fragments.
    void write(OCLStream& out) const;
    // Reads a record (DeadSourceRep::Read).
    static DeadSource Read(OCLStream& in, const std::string& where) { return DeadSource(DeadSourceRep::Read(in, where)); }

private:
    DeadSourceRep* rep_ = nullptr;
};

}  // namespace tq
