// EnumRep: an enumeration, a named list of named long values.
//
// Enumerations type fields and properties (enumfld.h): such a field keeps a
// long in the object's data but is written and read as names, so that
// assigning the text of an entry's name stores its value and reading the
// field as a String yields the name. An entry matches a text when the text
// equals its name or its display text ("%d - %s" of its value and name),
// ignoring case.
//
// Enumerations are persistent descriptions of the module that was current
// when they were made ("Enumerations" table). One made while no module is
// current (DETACHED_MODULE) is held on the list of detached enumerations
// instead, and goes with its last counted reference. EnumRep::find looks a
// name up in every loaded module, in ascending module index, and then on
// the detached list. Two enumerations are built in and made on demand:
// "Boolean" and "EvalRequires".
//
// A module refers to another module's enumeration through an enumeration
// proxy of its own (proxy.h), which finds the enumeration by name again
// whenever the reference is followed.
//
// Invariants:
//  1. No two entries share a value, and no entry's name matches another
//     entry (ignoring case).
//  2. The name is never empty.
//  3. A detached enumeration is on the detached list exactly while it is in
//     memory.
//  4. Every change of the entries marks the record changed.
//
// Life:
//
//   EnumRep(name, flag) --current module--> in its table --module discarded--> gone
//                       --detached-->       on the detached list --last deref--> gone
//   read from "Enumerations" --> in its table
//
// "Enumerations" record (write / readFromStream):
//
//   item  width  meaning
//   1     4+n    name, a string
//   2     1      display flag: entries show as their display texts
//   3     4      entry count, unsigned
//   4     ...    each entry in order: its name (a string), its value
//                (signed 32-bit); reading adds them with addEntry, so the
//                display texts are made again
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/cntedobj.h"
#include "store/handkind.h"
#include "store/model/fwd.h"
#include "store/persist/descobj.h"

namespace tq {

class OCLStream;

struct EnumEntry {
    std::string name;
    // "%d - %s" of the value and the name.
    std::string display;
    int32_t value;
};

// The entries of one enumeration in the order they were added.
class EnumEntryList {
public:
    // Adds an entry at the end and returns 1, or returns 0 and adds nothing
    // when an entry matches the name or has the value. The name must not be
    // empty ("nm && *nm").
    int addEntry(const char* name, int32_t value);
    // Removes the entry the name matches; 1, or 0 when none does.
    int remove(const char* name);

    // The entry that text matches (name or display text, ignoring case).
    const EnumEntry* find(std::string_view text) const;
    const EnumEntry* findValue(int32_t value) const;
    // The position of the entry text matches, or -1.
    int32_t position(std::string_view text) const;

    int32_t count() const { return static_cast<int32_t>(entries_.size()); }
    const EnumEntry& at(int32_t i) const { return entries_[static_cast<size_t>(i)]; }
    bool displayFlag() const { return display_ != 0; }
    uint8_t displayByte() const { return display_; }
    void setDisplayFlag(uint8_t flag) { display_ = flag; }
    // What an entry shows: its display text with the flag set, else its
    // name.
    const char* shown(const EnumEntry& e) const { return (display_ ? e.display : e.name).c_str(); }

private:
    // The text every look-up compares: ASCII letters in lower case.
    static std::string Key(std::string_view text);
    // Enters entry `at` into the indexes.
    void index(uint32_t at);

    std::vector<EnumEntry> entries_;
    // Positions by name and display text (Key), and by value, so that an
    // enumeration of many entries is read and searched without comparing
    // each entry; each text and value names the first entry it matches.
    std::unordered_map<std::string, uint32_t> byText_;
    std::unordered_map<int32_t, uint32_t> byValue_;
    uint8_t display_ = 0;
};

class EnumRep : public CountedObject, public DescribedObject<EnumRep> {
public:
    static constexpr const char* storageName = "Enumerations";
    static constexpr HandleTable::Kind kHandleKind = HK_ENUMERATION;
    static constexpr uint32_t storageVersion = 1;

    // A new empty enumeration in the current module, or on the detached
    // list. The name must not be empty ("ename && *ename").
    EnumRep(const char* name, int displayFlag);
    ~EnumRep() override;
    EnumRep(const EnumRep&) = delete;
    EnumRep& operator=(const EnumRep&) = delete;

    // ---- persistence ---------------------------------------------------------

    // Bytes that do not make a sound record raise ObjectLoadFailed.
    static EnumRep* readFromStream(OCLStream& in, uint32_t version, tModuleIndex m, uint32_t index);
    void write(OCLStream& out) const;

    // What a fault pointer needs. A descriptor with the proxy bit names an
    // enumeration proxy of its module, which looks the enumeration up by
    // name (ProxyResolveFailed reason 3 when there is none); module m names
    // an enumeration that is not its own by a new proxy of m.
    static EnumRep* fault(tDescriptor d);
    static tDescriptor internalDescriptor(const EnumRep& e, tModuleIndex m);
    static bool isNullObject(const EnumRep&) { return false; }
    void deref();

    // ---- look-up ----------------------------------------------------------------

    // The first enumeration whose name equals `name` ignoring case, over
    // all loaded modules and then the detached list; null when none does.
    static EnumRep* find(const char* name);

    // ---- entries ----------------------------------------------------------------

    int addEntry(const char* name, int32_t value);
    int remove(const char* name);

    // The value of the entry text matches; otherwise text read as a
    // decimal number as strtol reads one (blanks may lead it; an empty text
    // is 0) and checked by validLong(number). A text with anything after the
    // number, without digits, or outside the 32-bit range raises
    // StoreException 32739 with the text.
    int32_t validLong(const char* text) const;
    // v itself when an entry has it; else StoreException 32738 with v.
    int32_t validLong(int32_t v) const;
    // A String value through validLong(text), any other through its Long
    // reading.
    int32_t validLong(const Value& v) const;
    // What the entry of that value shows (display text or name); null when
    // no entry has the value.
    const char* validString(int32_t value) const;
    // What the entry at that position shows; null outside 0 to count-1.
    const char* entry(int32_t index) const;
    // The position of the entry the name matches; StoreException 32739 when
    // none does.
    int32_t index(const char* name) const;

    const char* name() const { return name_.c_str(); }
    bool displayFlag() const { return entries_.displayFlag(); }
    int32_t count() const { return entries_.count(); }
    const EnumEntryList& entries() const { return entries_; }

    void printOn(std::ostream& os, int indent = 0) const;
    void changed() { DescribedObject<EnumRep>::changed(); }

    // Enumerations on the detached list, for tests and leak checks.
    static size_t DetachedCount() { return DetachedEnums().size(); }

private:
    explicit EnumRep(tDescriptor d);
    static void RememberDetachedEnum(EnumRep* e);
    static void ForgetDetachedEnum(EnumRep* e);
    // The list lives as long as the process: detached enumerations that
    // nothing references (a built-in one nobody has used yet) stay on it to
    // the end, and are still found there.
    static std::vector<EnumRep*>& DetachedEnums();

    EnumEntryList entries_;
    std::string name_;
};

// The built-in enumerations: found by name, or made in the current module.
//   "Boolean"       display flag off   "False" = 0, "True" = -1
//   "EvalRequires"  display flag on    "MatchNone" = 1, "MatchOne" = 2, "MatchAll" = 4
EnumRep* EnsureBooleanEnum();
EnumRep* EnsureEvalRequiresEnum();

}  // namespace tq
