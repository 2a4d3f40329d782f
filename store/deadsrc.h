// Dead source: the text of a procedure that its node trees do not carry.
//
// A compiled procedure keeps code, not text. Its Sub or Function header,
// declarations, comments, blank lines and Catch lines have no statement
// node; the compiler keeps them beside the code as fragments, each tied to
// a source line, so that printing can walk the nodes and the fragments
// together in line order and give back the procedure's text.
//
// The fragments are packed into one DeadSourceRep (counted, shared through
// the DeadSource handle): a fragment array of 14-byte records and a text
// pool holding every fragment's text with its NUL, end to end.
//
// Fragment (DSObj) in the array:
//
//   offset  width  meaning
//   0       1      the compiler's, kept unchanged
//   1       4      source line
//   5       4      the compiler's, kept unchanged
//   9       1      kind: 1 plain text line, 2 Rem comment, 3 ' comment
//   10      4      offset of the text in the pool
//
// Record, inside a compiled procedure's record (methfld.h):
//
//   width   meaning
//   4       fragment count * 14
//   4       cursor: not kept; written as 0, ignored when read
//   4       fragment count n
//   4       pool length p
//   14 * n  the fragments
//   p       the pool
//
// A record read from a file is checked whole before it is used: the two
// counts agree, every kind is 1 to 3, every text starts inside the pool and
// ends in a NUL there (ObjectLoadFailed otherwise).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/cntedobj.h"

namespace tq {

class OCLStream;

enum DSKind : uint8_t {
    DS_TEXT = 1,         // a plain text line (header, declaration, Catch line)
    DS_REM = 2,          // a Rem comment
    DS_APOSTROPHE = 3,   // a ' comment
};

// How a fragment's text is trimmed when it is made: bit 1 skips leading
// white space, bit 2 drops trailing white space.
enum DSTrimType : int {
    DS_TRIM_NONE = 0,
    DS_TRIM_LEADING = 1,
    DS_TRIM_TRAILING = 2,
    DS_TRIM_BOTH = 3,
};

// One fragment while the compiler builds a procedure: its text is its own
// until the fragments are packed into a DeadSource.
class DSObj {
public:
    static constexpr uint32_t kRecordSize = 14;

    // The text up to its end or its first line feed, trimmed as asked.
    DSObj(uint32_t line, const char* text, uint8_t kind, int trim = DS_TRIM_NONE);

    uint32_t line() const { return line_; }
    uint8_t kind() const { return kind_; }
    const std::string& text() const { return text_; }

private:
    uint32_t line_;
    uint8_t kind_;
    std::string text_;
};

class DeadSourceRep : public CountedObject {
public:
    // Packs the fragments, in order.
    explicit DeadSourceRep(const std::vector<DSObj>& fragments);
    DeadSourceRep(const DeadSourceRep&) = delete;
    DeadSourceRep& operator=(const DeadSourceRep&) = delete;

    // Reads and checks a record; where names the owner in failures.
    static DeadSourceRep* Read(OCLStream& in, const std::string& where);
    void write(OCLStream& out) const;

    uint32_t count() const { return static_cast<uint32_t>(fragments_.size() / DSObj::kRecordSize); }
    uint32_t line(uint32_t i) const;
    uint8_t kind(uint32_t i) const;
    const char* text(uint32_t i) const;

    // The printing position: the next fragment to print. Printers reset it
    // before they start, so two printings give the same text.
    uint32_t cursor = 0;

    void deref() {
        if (dropCount()) delete this;
    }

private:
    DeadSourceRep() = default;
    std::vector<uint8_t> fragments_;
    std::vector<char> pool_;
};

// A counted handle; an empty handle stands for a procedure without dead
// source.
class DeadSource {
public:
    DeadSource() = default;
    // Packs fragments and empties the list, for the compiler's reuse.
    explicit DeadSource(std::vector<DSObj>& fragments);
    explicit DeadSource(DeadSourceRep* rep);
    DeadSource(const DeadSource& other) : DeadSource(other.rep_) {}
    DeadSource& operator=(const DeadSource& other);
    ~DeadSource();

    DeadSourceRep* get() const { return rep_; }
    DeadSourceRep* operator->() const { return rep_; }
    explicit operator bool() const { return rep_ != nullptr; }
    uint32_t count() const { return rep_ ? rep_->count() : 0; }

    // The record; an empty handle writes a record of no fragments.
    void write(OCLStream& out) const;
    static DeadSource Read(OCLStream& in, const std::string& where);

private:
    DeadSourceRep* rep_ = nullptr;
};

}  // namespace tq
