#include "store/model/enum.h"

#include "store/persist/proxy.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>

#include "platform/storage/oclstream.h"
#include "platform/util/strutil.h"
#include "store/errors/extexcep.h"
#include "store/persist/desciter.h"
#include "store/persist/objstore.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/vals.h"

namespace tq {

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareIgnoringCase(a, b) == 0;
}

[[noreturn]] void BadEnum(uint32_t index, const std::string& what) {
    const std::string text = "Enumerations entry " + std::to_string(index) + ": " + what;
    throw ObjectLoadFailed(text.c_str());
}

// The smallest an entry of the record can be: a name of one character and
// the value.
constexpr uint32_t kMinEntryBytes = 4 + 1 + 4;

}  // namespace

// ---- EnumEntryList ---------------------------------------------------------------

std::string EnumEntryList::Key(std::string_view text) {
    std::string key(text);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

void EnumEntryList::index(uint32_t at) {
    const EnumEntry& e = entries_[at];
    // An earlier entry keeps a text it already answers to.
    byText_.try_emplace(Key(e.name), at);
    byText_.try_emplace(Key(e.display), at);
    byValue_.try_emplace(e.value, at);
}

const EnumEntry* EnumEntryList::find(std::string_view text) const {
    const auto it = byText_.find(Key(text));
    return it == byText_.end() ? nullptr : &entries_[it->second];
}

const EnumEntry* EnumEntryList::findValue(int32_t value) const {
    const auto it = byValue_.find(value);
    return it == byValue_.end() ? nullptr : &entries_[it->second];
}

int32_t EnumEntryList::position(std::string_view text) const {
    const EnumEntry* e = find(text);
    return e ? static_cast<int32_t>(e - entries_.data()) : -1;
}

int EnumEntryList::addEntry(const char* name, int32_t value) {
    TQ_ASSERT(name && *name, "nm && *nm");
    if (find(name) || findValue(value)) return 0;
    entries_.push_back(EnumEntry{name, std::to_string(value) + " - " + name, value});
    index(static_cast<uint32_t>(entries_.size() - 1));
    return 1;
}

int EnumEntryList::remove(const char* name) {
    const int32_t at = name ? position(name) : -1;
    if (at < 0) return 0;
    entries_.erase(entries_.begin() + at);
    // The positions after it moved: the indexes are made again.
    byText_.clear();
    byValue_.clear();
    for (uint32_t i = 0; i < entries_.size(); ++i) index(i);
    return 1;
}

// ---- EnumRep: life -------------------------------------------------------------------

EnumRep::EnumRep(const char* name, int displayFlag) : name_(name ? name : "") {
    // Names come from programs and hosts: a missing one is raised before the
    // enumeration joins any module.
    if (!name || !*name) throw StoreException("EnumRep: an enumeration needs a name");
    entries_.setDisplayFlag(displayFlag ? 1 : 0);
    const tModuleIndex m = ObjectStore::OpenModule();
    if (m == DETACHED_MODULE)
        RememberDetachedEnum(this);
    else
        DescribedObjectNoDescriptor<EnumRep>::add(m, *this, desc_);
}

EnumRep::EnumRep(tDescriptor d) : DescribedObject<EnumRep>(d) {}

EnumRep::~EnumRep() { ForgetDetachedEnum(this); }

std::vector<EnumRep*>& EnumRep::DetachedEnums() {
    static auto* list = new std::vector<EnumRep*>;
    return *list;
}

void EnumRep::RememberDetachedEnum(EnumRep* e) { DetachedEnums().push_back(e); }

void EnumRep::ForgetDetachedEnum(EnumRep* e) {
    std::vector<EnumRep*>& list = DetachedEnums();
    auto it = std::find(list.begin(), list.end(), e);
    if (it != list.end()) list.erase(it);
}

void EnumRep::deref() {
    // A count that is already 0 belongs to an enumeration read from a file
    // or never held: nothing holds it that could let go.
    if (refCount() == 0) return;
    if (dropCount() && isDetached()) delete this;
}

EnumRep* EnumRep::fault(tDescriptor d) { return ProxiedObject<EnumRep, EnumProxy>::fault(d); }

tDescriptor EnumRep::internalDescriptor(const EnumRep& e, tModuleIndex m) {
    return ProxiedObject<EnumRep, EnumProxy>::internalDescriptor(e, m);
}

// ---- EnumRep: persistence ----------------------------------------------------------

EnumRep* EnumRep::readFromStream(OCLStream& in, uint32_t, tModuleIndex m, uint32_t index) {
    std::unique_ptr<EnumRep> e(new EnumRep(tDescriptor::Make(m, index)));
    // An enumeration being read is not yet in its table: destroying it on
    // failure must not report its description deleted.
    struct Forget {
        std::unique_ptr<EnumRep>& e;
        ~Forget() {
            if (e) e->desc_.setModuleIndex(DETACHED_MODULE);
        }
    } forget{e};

    // Every text of the record becomes a C string: one that is empty or has
    // a NUL inside is not a name.
    auto readName = [&](const char* what) {
        std::string s = in.readString();
        if (s.empty() || s.find('\0') != std::string::npos) BadEnum(index, std::string(what) + " is not a name");
        return s;
    };
    e->name_ = readName("its name");
    e->entries_.setDisplayFlag(in.readU8());
    const uint32_t count = in.readU32();
    // The count comes from the file: it must fit in what the record holds
    // before anything is read for it.
    const Description* d = DescribedObjectNoDescriptor<EnumRep>::objectDescription(tDescriptor::Make(m, index));
    const uint64_t end = d ? uint64_t(d->offset()) + d->length() : in.size();
    const uint64_t left = end > in.tell() ? end - in.tell() : 0;
    if (count > left / kMinEntryBytes)
        BadEnum(index, "its entry count " + std::to_string(count) + " is more than the record holds");
    for (uint32_t i = 0; i < count; ++i) {
        const std::string name = readName("an entry's name");
        const int32_t value = in.readI32();
        if (!e->entries_.addEntry(name.c_str(), value))
            BadEnum(index, "entry '" + name + "' repeats another entry's name or value");
    }
    return e.release();
}

void EnumRep::write(OCLStream& out) const {
    out.writeString(name_);
    out.writeU8(entries_.displayByte());
    out.writeU32(static_cast<uint32_t>(entries_.count()));
    for (int32_t i = 0; i < entries_.count(); ++i) {
        out.writeString(entries_.at(i).name);
        out.writeI32(entries_.at(i).value);
    }
}

void EnumRep::printOn(std::ostream& os, int indent) const {
    const std::string pad(static_cast<size_t>(std::max(indent, 0)), ' ');
    os << pad << "EnumRep: " << name_ << " count(" << refCount() << ") descriptor(" << int(moduleIndex()) << ":"
       << descriptor().descIndex() << ")\n";
    for (int32_t i = 0; i < entries_.count(); ++i)
        os << pad << "    " << entries_.at(i).name << " = " << entries_.at(i).value << "\n";
}

// ---- EnumRep: look-up and entries --------------------------------------------------

EnumRep* EnumRep::find(const char* name) {
    if (!name) return nullptr;
    AllStoresDescrObjIterator<EnumRep> all;
    while (EnumRep* e = all())
        if (SameText(e->name_, name)) return e;
    for (EnumRep* e : DetachedEnums())
        if (SameText(e->name_, name)) return e;
    return nullptr;
}

int EnumRep::addEntry(const char* name, int32_t value) {
    if (!name || !*name) throw StoreException("EnumRep::addEntry: an entry needs a name");
    const int added = entries_.addEntry(name, value);
    if (added) changed();
    return added;
}

int EnumRep::remove(const char* name) {
    const int removed = entries_.remove(name);
    if (removed) changed();
    return removed;
}

int32_t EnumRep::validLong(const char* text) const {
    const char* t = text ? text : "";
    if (const EnumEntry* e = entries_.find(t)) return e->value;
    // Otherwise the text is read as a decimal number the way strtol reads
    // one: blanks may lead it, and an empty text is 0 (False of a Boolean).
    // Anything left after the number is refused, and so is a text that holds
    // no digits at all (strtol then leaves everything, blanks included). A
    // number outside the 32-bit range is no number of an enumeration.
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(t, &end, 10);
    const bool number = *end == '\0' && errno == 0 && n >= INT32_MIN && n <= INT32_MAX;
    if (!number) throw StoreException(32739, t);
    return validLong(static_cast<int32_t>(n));
}

int32_t EnumRep::validLong(int32_t v) const {
    if (!entries_.findValue(v)) throw StoreException(32738, v);
    return v;
}

int32_t EnumRep::validLong(const Value& v) const {
    if ((v.type() & IDT_TYPEMASK) == IDT_STRING) {
        ValString text;
        v.get(text);
        return validLong(static_cast<const char*>(text));
    }
    int32_t n = 0;
    v.get(n);
    return validLong(n);
}

const char* EnumRep::validString(int32_t value) const {
    const EnumEntry* e = entries_.findValue(value);
    return e ? entries_.shown(*e) : nullptr;
}

const char* EnumRep::entry(int32_t index) const {
    if (index < 0 || index >= entries_.count()) return nullptr;
    return entries_.shown(entries_.at(index));
}

int32_t EnumRep::index(const char* name) const {
    const int32_t at = name ? entries_.position(name) : -1;
    if (at < 0) throw StoreException(32739, name ? name : "");
    return at;
}

// ---- built-in enumerations -------------------------------------------------------------

EnumRep* EnsureBooleanEnum() {
    if (EnumRep* e = EnumRep::find("Boolean")) return e;
    auto* e = new EnumRep("Boolean", 0);
    e->addEntry("False", 0);
    e->addEntry("True", -1);
    return e;
}

EnumRep* EnsureEvalRequiresEnum() {
    if (EnumRep* e = EnumRep::find("EvalRequires")) return e;
    auto* e = new EnumRep("EvalRequires", 1);
    e->addEntry("MatchNone", 1);
    e->addEntry("MatchOne", 2);
    e->addEntry("MatchAll", 4);
    return e;
}

}  // namespace tq
