// EventDef: the declaration that the objects of a signature can raise an
// event of a given name with a given argument list.
//
// Definitions belong to signatures and are inherited by child signatures.
// Only writeable definitions (flag bit 0: they belong to the program) are
// saved with their signature; the others are made again by whoever made
// them (the built-in classes).
//
// Event definition record (a 0 byte where the flags would be ends a list):
//
//   item  width  meaning
//   1     1      flags, not 0 (bit 0 set for every written definition)
//   2     5      name, an identifier reference
//   3     1      returns value: the event returns a value like a Function
//   4     ...    argument text, a string ("(src As Object)")
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/cntedobj.h"
#include "store/dscrptr.h"
#include "store/persist/idstr.h"

namespace tq {

class OCLStream;

class EventDef : public CountedObject {
public:
    enum : uint8_t { kWriteable = 0x01 };

    // The name is interned in the current module.
    EventDef(const char* name, uint8_t returnsValue, const char* args, int writeable);
    // A copy whose name is interned again in the current module.
    EventDef(const EventDef& other);
    EventDef& operator=(const EventDef&) = delete;

    // One record, or null at the end marker. Bytes that do not make a
    // record raise ObjectLoadFailed.
    static EventDef* makeFrom(OCLStream& in, tModuleIndex m);
    void write(OCLStream& out) const;
    void attach(tModuleIndex m);

    const char* name() const { return static_cast<const char*>(name_); }
    const IdString& eventID() const { return name_; }
    const std::string& args() const { return args_; }
    uint8_t returnsValue() const { return returnsValue_; }
    uint8_t flags() const { return flags_; }
    bool isWriteable() const { return (flags_ & kWriteable) != 0; }

    void deref() {
        if (dropCount()) delete this;
    }

private:
    EventDef() = default;

    uint8_t flags_ = 0;
    IdString name_;
    std::string args_;
    uint8_t returnsValue_ = 0;
};

// EventDefPtrList: the definitions of one signature, in order, each counted.
class EventDefPtrList {
public:
    EventDefPtrList() = default;
    ~EventDefPtrList();
    EventDefPtrList(const EventDefPtrList&) = delete;
    EventDefPtrList& operator=(const EventDefPtrList&) = delete;

    // The definition whose name text equals `name`; null when none does.
    EventDef* pvalue(const char* name) const;
    // Add e unless a definition of that name is in the list.
    bool append(EventDef* e);
    bool prepend(EventDef* e);
    bool punbind(const char* name);
    void clear();

    size_t length() const { return defs_.size(); }
    EventDef* at(size_t i) const { return defs_[i]; }

private:
    std::vector<EventDef*> defs_;
};

}  // namespace tq
