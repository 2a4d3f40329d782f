// String values: the shared, counted, persistent text of the language's
// String type.
//
// A ValStringRep holds one text. Handles (ValString) share it: a change
// made through one handle is seen through all. A string that belongs to a
// module's persistent data (the value of a string field of a stored object)
// lives in the module's "Strings" table and is written when it changed; a
// string made during execution is detached (DETACHED_MODULE) and dies with
// its last counted reference.
//
// Texts and numbers convert both ways. Numbers are written in the "C" form
// ('.' as the decimal point, whatever the locale) with the shortest digits
// that read back to the same double, in the notation printf's "%.64g" picks:
// plain digits for exponents from -4 to 63, exponent form outside. Currency
// amounts are written and read as money in the process's locale.
//
// Invariants:
//  1. Every representation starts detached with count 0.
//  2. A detached representation is destroyed when its count drops to 0; a
//     module's stays at count 0 until the module discards it or it is
//     deleted, because stored records may still name it. Releasing a
//     module's string that is already at 0 (a file that understated its
//     count) leaves it at 0. The field that held a module's string deletes
//     it at count 0 only when the count is the library's own (the string was
//     made in this process, discardIfUnnamed): a count read from a file may
//     be too small while another record still names the string.
//  3. Every change reports `changed` first, so a persistent string is
//     written again at the next save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "store/cntedobj.h"
#include "store/currency.h"
#include "store/faultp.h"
#include "store/handkind.h"
#include "store/persist/descobj.h"

namespace tq {

class OCLStream;
class RWCRegexp;
class ValString;

// Tag of the constructors that make an empty string with room reserved.
enum tConstructWithSize { ConstructWithSize };

class ValStringRep : public CountedObject, public DescribedObject<ValStringRep> {
public:
    static constexpr const char* storageName = "Strings";
    static constexpr HandleTable::Kind kHandleKind = HK_STRING;
    static constexpr uint32_t storageVersion = 1;

    // Every constructor makes a detached representation with count 0.
    ValStringRep() = default;
    // A null pointer gives the empty text.
    explicit ValStringRep(const char* text);
    explicit ValStringRep(int16_t n);
    explicit ValStringRep(int32_t n);
    // The shortest text that reads back as the same Single.
    explicit ValStringRep(float d);
    explicit ValStringRep(double d);
    // The money text of the amount in the process's locale.
    explicit ValStringRep(const Currency& c);
    explicit ValStringRep(const std::string& text) : text_(text) {}
    explicit ValStringRep(std::string_view text) : text_(text) {}
    ValStringRep(tConstructWithSize, size_t capacity) { text_.reserve(capacity); }
    ValStringRep(const ValStringRep& other) : CountedObject(), DescribedObject(), text_(other.text_) {}
    explicit ValStringRep(const ValString& other);

    // The record of a persistent string, read as entry `index` of module m's
    // "Strings" table:
    //
    //   order  width  content
    //   1      2      reference count
    //   2      4      n = text length + 1
    //   3      n      the text followed by its NUL
    //
    // The count is restored as it stands: it includes the references held
    // by the module's stored records. An n of 0 or one that runs past the
    // stream raises ObjectLoadFailed before anything is allocated.
    ValStringRep(OCLStream& in, uint32_t version, tModuleIndex m, uint32_t index);
    static ValStringRep* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m,
                                        uint32_t index);
    void write(OCLStream& out) const;

    ~ValStringRep() override = default;
    ValStringRep& operator=(const ValStringRep&) = delete;

    void deref();
    // The field or element that held this module's string has let it go:
    // the string goes too when nothing counts it any more and its count is
    // exact, made in this process. One whose count came from a file stays
    // (invariant 2): the file may name it from another record.
    void discardIfUnnamed();

    const std::string& text() const { return text_; }
    const char* c_str() const { return text_.c_str(); }

    // Changes; each reports `changed` first.
    void assign(std::string_view text);
    void append(std::string_view text);
    // Appends n's text, as a String made from it reads, without making one.
    void appendInteger(int32_t n);

    // Numeric readings of the text; a text that is no number of the kind
    // raises ConvertFailed.
    //  - Integer and Long: the whole text by strtod; failing that as an
    //    unsigned 32-bit number ("&H" prefix: hexadecimal; else C rules:
    //    "0x" hexadecimal, leading "0" octal); truncated toward zero, the
    //    low 32 bits kept (low 16 for Integer). No range check.
    //  - Single: strtod only.
    //  - Double: strtod, then the locale's money text (amount / 100).
    //  - Currency: the locale's money text first, then strtod.
    explicit operator int16_t() const;
    explicit operator int32_t() const;
    explicit operator float() const;
    explicit operator double() const;
    explicit operator Currency() const;

    // The number of non-overlapping matches, searching on after each; an
    // empty match moves the search on by one character.
    size_t countRegExp(const RWCRegexp& re) const;

    // Replaces the text with the whole content of the file at path. A file
    // that cannot be opened, sized or read raises StoreException 32678
    // ("File '%s' could not be opened.") and leaves the text as it was.
    void readFile(const char* path);

    void printOn(std::ostream& os) const;

private:
    std::string text_;
    // The count was read from a file, and may understate the references
    // that the file's records hold.
    bool countFromFile_ = false;
};

// ValString: a direct, counted reference to a string. Each constructor from a
// value makes a new detached representation and holds one count on it.
class ValString : public Faultp<ValStringRep> {
public:
    // A null handle.
    ValString() = default;
    // A null pointer gives a handle to the empty string, not a null handle.
    ValString(const char* text);
    ValString(int16_t n);
    ValString(int32_t n);
    ValString(float d);
    ValString(double d);
    ValString(const Currency& c);
    ValString(const std::string& text);
    ValString(std::string_view text);
    ValString(tConstructWithSize, size_t capacity);
    ValString(ValStringRep* rep) : Faultp<ValStringRep>(rep) {}
    explicit ValString(tDescriptor d) : Faultp<ValStringRep>(d) {}
    ValString(const ValString&) = default;
    ValString& operator=(const ValString&) = default;

    // A null handle converts to 0, to a zero Currency and to a null text.
    explicit operator int16_t() const;
    explicit operator int32_t() const;
    explicit operator float() const;
    explicit operator double() const;
    explicit operator Currency() const;
    operator const char*() const;
    // The whole text, NUL characters included; empty for a null handle.
    std::string_view view() const;

    // Appends the other string's text; this handle must not be null.
    ValString& operator+=(const ValString& other);

    // Replaces the text that every holder of the representation sees; a
    // null handle first gets a new detached representation.
    void copy(const char* text);
    // As copy(text); a null handle gets a new representation that joins
    // src's module (stays detached when src is null or detached).
    void copy(const ValString& src);
};

static_assert(sizeof(ValString) == 5, "a string handle is one fault pointer");

// PrimValString: the owner's own, uncounted reference to a new string. The
// reference itself holds no count (its stream form says so); the owner's hold
// keeps the representation alive until the owner goes, so that the reference
// can never outlive what it names. Counted handles taken from it share the
// representation as usual.
class PrimValString : public Faultp<ValStringRep> {
public:
    explicit PrimValString(const char* text);
    ~PrimValString();
    PrimValString(const PrimValString&) = delete;
    PrimValString& operator=(const PrimValString&) = delete;

    operator const char*() const;
};

static_assert(sizeof(PrimValString) == 5, "a primary string reference is one fault pointer");

}  // namespace tq
