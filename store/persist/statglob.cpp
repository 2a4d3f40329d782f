// The object store's name space of static objects, its lists of dynamic and
// preload objects, and the "Static globals" stream that keeps them.
//
// "Static globals" record, from offset 0 (a reference is the five-byte form
// of faultp.h, flags then descriptor; a null reference has the descriptor
// 0x3FFFFFFF):
//
//   offset    width   meaning
//   0         4       revision, always 1
//   4         4       N, the number of static objects
//   8         10 * N  N pairs in dictionary order: the name (an identifier
//                     reference), then the object (a reference)
//   8 + 10N   5 * d   the dynamic objects in list order, then a null reference
//   ...       5 * p   the module's preload objects in list order, then a null
//                     reference
//
// An empty stream means no static, dynamic or preload objects. Dynamic
// references are written with flags 4, preload references (the closing null
// of their list too) with flags 5, the indirect bit set: the reader tells by
// it that an entry of the dynamic list was lost.
//
// A module file with checksums is opened reading the head and the two lists
// only: its pairs stay in the stream, where a look-up binary searches them
// (StaticGlobals, StoredStatics), since a module of a hundred thousand names
// is mostly opened to find a few.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include <utility>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/errors/extexcep.h"
#include "store/interp/keytab.h"
#include "store/model/interobj.h"
#include "store/persist/desciter.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"

namespace tq {

// ---- StaticGlobals -------------------------------------------------------------

StaticGlobals::Entry::Entry(IdString n, InterObjRep* o)
    : name(std::move(n)), object(PrimaryReference, o) {}

StaticGlobals::Entry::Entry(tDescriptor n, tDescriptor o) : name(n), object(o, 0) {}

StaticGlobals::StaticGlobals() = default;
StaticGlobals::~StaticGlobals() = default;

namespace {

// Names are cut to 31 characters when they are made, so a text that agrees
// with a name in its first 31 characters is that name.
std::string_view AsName(std::string_view text) { return text.substr(0, kMaxIdLength); }

}  // namespace

StaticGlobals::Key::Key(std::string_view text) : size_(static_cast<uint8_t>(std::min(text.size(), kMaxIdLength))) {
    std::memcpy(text_, text.data(), size_);
}

StaticGlobals::Filed& StaticGlobals::makeSlot(size_t i) {
    std::unique_ptr<Filed[]>& block = blocks_[i / kSlotBlock];
    if (!block) block = std::make_unique<Filed[]>(kSlotBlock);
    return block[i % kSlotBlock];
}

// Binary search over the slots. A slot not read yet is looked at in the
// record without entering it; the names met on the way must keep
// dictionary order, since a record that does not cannot be searched.
StaticGlobals::Filed* StaticGlobals::filedSlot(std::string_view text) {
    size_t lo = 0, hi = filedCount_;
    // The names of the slots that bound the range, once one was met.
    std::optional<Key> below, above;
    std::vector<StoredPair> pair;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        Filed* slot = slotAt(mid);
        const bool read = slot && slot->read;
        if (!read) {
            pair.clear();
            stored_->read(static_cast<uint32_t>(mid), 1, pair);
        }
        const std::string_view key = read ? slot->key.view() : pair.front().key.view();
        if (unread_ != 0) {
            const uint32_t at = static_cast<uint32_t>(mid);
            if (below && !(below->view() < key)) stored_->outOfOrder(at, key, below->view() == key);
            if (above && !(key < above->view())) stored_->outOfOrder(at, key, above->view() == key);
        }
        if (key < text) {
            below.emplace(key);
            lo = mid + 1;
        } else if (text < key) {
            above.emplace(key);
            hi = mid;
        } else {
            return read ? slot : &enter(pair.front());
        }
    }
    return nullptr;
}

StaticGlobals::Filed& StaticGlobals::enter(const StoredPair& pair) {
    std::vector<tDescriptor> objects;
    stored_->settle({pair}, objects);
    Filed& slot = makeSlot(pair.slot);
    slot.key = pair.key;
    slot.entry.emplace(pair.name, objects.front());
    slot.read = true;
    --unread_;
    return slot;
}

void StaticGlobals::readOnDemand(uint32_t n, Stored& from) {
    TQ_ASSERT(count_ == 0 && filedCount_ == 0, "an empty dictionary");
    expectFiled(n);
    filedCount_ = unread_ = count_ = n;
    stored_ = &from;
}

// In runs of unread slots, a bounded number at a time: the record is read
// in few reads, and the objects' records are looked at together.
void StaticGlobals::readAll() {
    constexpr size_t kRun = 4096;
    std::optional<Key> previous;
    auto follows = [&](size_t slot, std::string_view key) {
        if (previous && !(previous->view() < key))
            stored_->outOfOrder(static_cast<uint32_t>(slot), key, previous->view() == key);
        previous.emplace(key);
    };
    std::vector<StoredPair> pairs;
    std::vector<tDescriptor> objects;
    for (size_t i = 0; unread_ != 0 && i < filedCount_;) {
        if (Filed* slot = slotAt(i); slot && slot->read) {
            follows(i, slot->key.view());
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < filedCount_ && end - i < kRun && !(slotAt(end) && slotAt(end)->read)) ++end;
        pairs.clear();
        stored_->read(static_cast<uint32_t>(i), static_cast<uint32_t>(end - i), pairs);
        for (const StoredPair& p : pairs) follows(p.slot, p.key.view());
        stored_->settle(pairs, objects);
        for (size_t k = 0; k < pairs.size(); ++k) {
            Filed& slot = makeSlot(pairs[k].slot);
            slot.key = pairs[k].key;
            slot.entry.emplace(pairs[k].name, objects[k]);
            slot.read = true;
            --unread_;
        }
        i = end;
    }
}

StaticGlobals::Entry* StaticGlobals::findFiled(std::string_view text) {
    Filed* slot = filedSlot(text);
    return slot && slot->entry ? &*slot->entry : nullptr;
}

StaticGlobals::Entry* StaticGlobals::findAdded(std::string_view text) {
    if (added_.empty()) return nullptr;
    auto it = added_.find(text);
    return it == added_.end() ? nullptr : &it->second;
}

StaticGlobals::Entry* StaticGlobals::find(std::string_view name) {
    const std::string_view text = AsName(name);
    if (Entry* e = findFiled(text)) return e;
    return findAdded(text);
}

StaticGlobals::Entry* StaticGlobals::after(std::string_view name, std::string* key) {
    readAll();
    // The first slot whose name comes after `name`.
    size_t lo = 0, hi = filedCount_;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (slotAt(mid)->key.view() <= name)
            lo = mid + 1;
        else
            hi = mid;
    }
    while (lo < filedCount_ && !slotAt(lo)->entry) ++lo;
    auto a = added_.upper_bound(name);
    if (lo < filedCount_ && (a == added_.end() || slotAt(lo)->key.view() < a->first.view())) {
        Filed& f = *slotAt(lo);
        *key = f.key.view();
        return &*f.entry;
    }
    if (a == added_.end()) return nullptr;
    *key = a->first.view();
    return &a->second;
}

bool StaticGlobals::add(const IdString& name, InterObjRep* obj) {
    const char* text = name;
    TQ_ASSERT(text != nullptr, "(const char*)id");
    ++revision_;
    if (findFiled(AsName(text))) return false;
    if (!added_.try_emplace(Key(text), name, obj).second) return false;
    ++count_;
    return true;
}

void StaticGlobals::expectFiled(size_t n) {
    if (filedRoom_ != 0 || n == 0) return;
    blocks_.resize((n + kSlotBlock - 1) / kSlotBlock);
    filedRoom_ = n;
}

bool StaticGlobals::add(std::string_view key, tDescriptor name, tDescriptor obj) {
    const std::string_view text = AsName(key);
    ++revision_;
    // A record lists its names in dictionary order: each goes after the last.
    if (filedCount_ < filedRoom_ && (filedCount_ == 0 || slotAt(filedCount_ - 1)->key.view() < text) &&
        !findAdded(text)) {
        Filed& slot = makeSlot(filedCount_++);
        slot.key = Key(text);
        slot.entry.emplace(name, obj);
        slot.read = true;
        ++count_;
        return true;
    }
    if (findFiled(text)) return false;
    if (!added_.try_emplace(Key(text), name, obj).second) return false;
    ++count_;
    return true;
}

namespace {

// Whether a name kept as the descriptor a file gave still names `key`.
bool StillNamed(const IdString& name, std::string_view key) {
    const tDescriptor d = name.descriptor();
    return IdStringRep::objectExists(d) && key == IdStringRep::fault(d)->text();
}

}  // namespace

void StaticGlobals::Settle(std::string_view key, Entry& e, tModuleIndex m) {
    if (e.name.isDescriptor()) {
        if (StillNamed(e.name, key)) {
            e.name.get();
            return;
        }
        // A descriptor holds no count: there is nothing to give back.
        e.name.nullify();
    } else if (const char* text = e.name; text && key == text) {
        return;
    }
    e.name = IdString(std::string(key).c_str(), m);
}

bool StaticGlobals::remove(std::string_view name) {
    const std::string_view text = AsName(name);
    Entry* e = findFiled(text);
    if (!e) e = findAdded(text);
    if (!e) return false;
    ++revision_;
    // Followed first, so that erasing gives back the count the entry holds;
    // a name that is no longer the entry's holds none.
    IdString& n = e->name;
    if (n.isDescriptor()) {
        if (StillNamed(n, text))
            n.get();
        else
            n.nullify();
    }
    if (Filed* slot = filedSlot(text); slot && slot->entry)
        slot->entry.reset();
    else
        added_.erase(added_.find(text));
    --count_;
    return true;
}

void StaticGlobals::clear() {
    ++revision_;
    added_.clear();
    blocks_.clear();
    filedCount_ = filedRoom_ = unread_ = 0;
    stored_ = nullptr;
    count_ = 0;
}

// ---- the name space ------------------------------------------------------------

StaticGlobals& ObjectStore::detachedGlobals() {
    // Never destroyed: static objects of the detached module may outlive
    // every other static of the process.
    static StaticGlobals* globals = new StaticGlobals();
    return *globals;
}

DynamicObjectList& ObjectStore::detachedDynamics() {
    static DynamicObjectList* list = new DynamicObjectList();
    return *list;
}

StaticGlobals& ObjectStore::Dictionary(tModuleIndex m) {
    if (m == DETACHED_MODULE) return detachedGlobals();
    return Store(m, "ObjectStore::Dictionary").statics_;
}

int32_t ObjectStore::StaticCount(tModuleIndex m) {
    if (m != DETACHED_MODULE && !ValidIndex(m)) return -1;
    return static_cast<int32_t>(Dictionary(m).count());
}

void ObjectStore::ValidateNewStaticGlobal(const char* name, tModuleIndex m) {
    if (!IsIdentifierValid(name)) throw InvalidObjectName(32708, name);
    if (Dictionary(m).find(name)) throw DuplicateName(name);
}

void ObjectStore::addStaticGlobal(InterObjRep& obj, tModuleIndex m) {
    const IdString& name = obj.idname();
    if (!Dictionary(m).add(name, &obj)) throw DuplicateName(static_cast<const char*>(name));
}

void ObjectStore::removeStaticGlobal(InterObjRep& obj, tModuleIndex m) {
    if (DeletingModule(m)) return;
    if (const char* name = obj.name()) {
        StaticGlobals::Entry* e = nullptr;
        try {
            e = Dictionary(m).find(name);
        } catch (const ObjectLoadFailed&) {
            // A stored pair that fails its checks never became an entry, so
            // it is not the object's; it stays to refuse the next save of
            // the names. An object that goes is not held back by it.
            return;
        }
        // Only the object's own entry goes: a name another object took
        // meanwhile stays.
        if (e && e->object.get() == &obj) Dictionary(m).remove(name);
    }
}

bool ObjectStore::findStatic(const char* name, InterObj& out) {
    if (!name || !*name) return false;
    for (tModuleIndex m = DETACHED_MODULE;; m = NextValidIndex(m)) {
        if (StaticGlobals::Entry* e = Dictionary(m).find(name)) {
            if (InterObjRep* o = e->object.get()) {
                out = o;
                return true;
            }
        }
        if (NextValidIndex(m) == DETACHED_MODULE) return false;
    }
}

bool ObjectStore::contains(const char* name) {
    if (!name || !*name) return false;
    if (InterObjRep::isAlias(name)) {
        try {
            InterObj o(name);
            return o.is();
        } catch (const StoreException&) {
            return false;
        }
    }
    for (tModuleIndex m = DETACHED_MODULE;; m = NextValidIndex(m)) {
        if (Dictionary(m).find(name)) return true;
        if (NextValidIndex(m) == DETACHED_MODULE) return false;
    }
}

bool ObjectStore::find(const char* path, InterObj& out) {
    if (!path || !*path) return false;
    const std::string_view text(path);
    // A generated alias starts with its root's name, which may itself hold
    // dots: the first step ends at the first "." after the "@".
    const size_t at = text.find('@');
    const size_t dot = text.find('.', at == std::string_view::npos ? 0 : at);
    const std::string first(text.substr(0, dot));
    InterObj root;
    if (InterObjRep::isAlias(first.c_str())) {
        try {
            root = InterObj(first.c_str());
        } catch (const NotFound&) {
            return false;
        }
    } else if (!findStatic(first.c_str(), root)) {
        return false;
    }
    if (dot == std::string_view::npos) {
        if (root.isNull()) return false;
        out = root;
        return true;
    }
    return lookupEmbed(root.get(), text.substr(dot + 1), out);
}

bool ObjectStore::findEmbed(InterObjRep* obj, const char* path, InterObj& out) {
    if (!obj || !path) return false;
    return lookupEmbed(obj, path, out);
}

bool ObjectStore::lookupEmbed(InterObjRep* obj, std::string_view path, InterObj& out) {
    InterObj current(obj);
    while (!path.empty()) {
        if (current.isNull()) return false;
        const size_t dot = path.find('.');
        const std::string step(path.substr(0, dot));
        path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
        SignatureRep* owner = nullptr;
        SignatureRep* sig = current->signature();
        Field* f = sig ? sig->findField(step.c_str(), owner) : nullptr;
        if (!f || !f->isEmbed()) return false;
        InterObj next;
        f->get(next, *current, *owner);
        current = next;
    }
    if (current.isNull()) return false;
    out = current;
    return true;
}

void ObjectStore::Rename(const char* oldName, const char* newName) {
    InterObj obj;
    if (!findStatic(oldName, obj)) throw NotFound(32740, oldName);
    if (!obj->isAllAccessAllowed()) throw AccessDenied("ObjectStore::Rename()", 32755);
    if (!IsIdentifierValid(newName)) throw InvalidFieldName(32708, newName);
    if (contains(newName)) throw DuplicateName(newName);
    const tModuleIndex m = obj->moduleIndex();
    Dictionary(m).remove(oldName);
    obj->Name(newName);
    InterObjRep::DumpCache();
    StoreApplication::ObjectRenamed(obj.get());
}

// ---- dynamic objects ---------------------------------------------------------------

DynamicObjectList& ObjectStore::DynamicsList(tModuleIndex m) {
    if (m == DETACHED_MODULE) return detachedDynamics();
    return Store(m, "ObjectStore::DynamicsList").dynamics_;
}

int32_t ObjectStore::DynamicCount(tModuleIndex m) {
    if (m != DETACHED_MODULE && !ValidIndex(m)) return -1;
    return static_cast<int32_t>(DynamicsList(m).length());
}

// An object can be on m's list only if it joined it in this session or m's
// record listed it: the list takes entries from nowhere else, and an object
// leaves the list before it leaves its module (attach, destroy), so the
// descriptor it is listed under is still its own. Anything else is not
// looked for: a search that finds nothing reads the whole list, and a
// program that makes objects in a loop would pay that for every one.
bool ObjectStore::mayBeListedDynamic(const InterObjRep& obj, tModuleIndex m) {
    if (obj.isOnDynamicList()) return true;
    if (m == DETACHED_MODULE) return false;
    const std::vector<uint32_t>& file = module[m]->fileDynamics_;
    return std::binary_search(file.begin(), file.end(), obj.descriptor().raw());
}

bool ObjectStore::isListedDynamic(InterObjRep& obj, tModuleIndex m) {
    if (m != DETACHED_MODULE && !ValidIndex(m)) return false;
    return mayBeListedDynamic(obj, m) && DynamicsList(m).contains(&obj);
}

void ObjectStore::addDynamicObject(InterObjRep& obj, tModuleIndex m) {
    TQ_ASSERT(m == DETACHED_MODULE || module[m] != nullptr, "module[i]");
    TQ_ASSERT(!isListedDynamic(obj, m), "!olist->contains(val)");
    DynamicsList(m).append(&obj);
    obj.setOnDynamicList(true);
}

// The list names each object once (adding asserts it, a record that lists
// one twice is refused), so one removal leaves it unlisted.
void ObjectStore::removeDynamicObject(InterObjRep& obj, tModuleIndex m) {
    if (DeletingModule(m)) return;
    if (m != DETACHED_MODULE && !ValidIndex(m)) return;
    if (mayBeListedDynamic(obj, m)) DynamicsList(m).remove(&obj);
    obj.setOnDynamicList(false);
}

// ---- preloads ------------------------------------------------------------------------

void ObjectStore::RequestPreload(InterObjRep* obj) {
    if (!obj || obj->isDetached()) return;
    const tModuleIndex m = obj->moduleIndex();
    TQ_ASSERT(ValidIndex(m), "ValidIndex(i)");
    PreloadList& list = module[m]->preloads_;
    if (list.contains(obj)) return;
    list.append(obj);
    obj->changed();
}

bool ObjectStore::RemovePreload(InterObjRep* obj) {
    if (!obj || obj->isDetached() || !ValidIndex(obj->moduleIndex())) return false;
    if (!module[obj->moduleIndex()]->preloads_.remove(obj)) return false;
    obj->changed();
    return true;
}

bool ObjectStore::IsPreload(InterObjRep* obj) {
    if (!obj || obj->isDetached() || !ValidIndex(obj->moduleIndex())) return false;
    return module[obj->moduleIndex()]->preloads_.contains(obj);
}

// ---- the "Static globals" stream ------------------------------------------------------

namespace {

constexpr uint32_t kStaticGlobalsRevision = 1;
constexpr uint32_t kReferenceSize = 5;
constexpr uint32_t kHeadSize = 8;
constexpr uint32_t kPairSize = 2 * kReferenceSize;

// How a fault of the record is raised: as the open's refusal, or, for a
// pair read on demand, as the failure of the look-up or walk that met it.
enum class Refusal { kOpen, kLookUp };

[[noreturn]] void Refuse(Refusal how, const std::string& module, const std::string& what) {
    const std::string text = module + ": stream \"Static globals\": " + what;
    if (how == Refusal::kLookUp) throw ObjectLoadFailed(text.c_str());
    throw ModuleOpenFailed(text.c_str());
}

[[noreturn]] void BadStaticGlobals(const std::string& module, const std::string& what) {
    Refuse(Refusal::kOpen, module, what);
}

[[noreturn]] void BadStoredPair(const std::string& module, const std::string& what) {
    Refuse(Refusal::kLookUp, module, what);
}

// Bytes of the record, read from the stream in one read and taken apart in
// memory: from offset `at` of a stream of `size` bytes. A read past the end
// is named as the stream names it.
class RecordCursor {
public:
    RecordCursor(const std::vector<uint8_t>& bytes, size_t at, size_t size, const std::string& module)
        : bytes_(bytes), at_(at), size_(size), module_(module) {}

    const std::string& module() const { return module_; }
    size_t remaining() const { return bytes_.size() - pos_; }

    uint32_t u32() {
        need(4);
        const uint32_t v = LoadLE32(bytes_.data() + pos_);
        pos_ += 4;
        return v;
    }

    void reference(uint8_t& flags, uint32_t& descriptor) {
        need(kReferenceSize);
        flags = bytes_[pos_];
        descriptor = LoadLE32(bytes_.data() + pos_ + 1);
        pos_ += kReferenceSize;
    }

private:
    void need(size_t n) const {
        if (n > remaining()) [[unlikely]]
            runsPastEnd(n);
    }

    [[noreturn]] void runsPastEnd(size_t n) const {
        BadStaticGlobals(module_, "cannot read " + std::to_string(n) + " bytes at offset " +
                                      std::to_string(at_ + pos_) + ": the stream holds " + std::to_string(size_) +
                                      " bytes");
    }

    const std::vector<uint8_t>& bytes_;
    size_t at_;
    size_t size_;
    const std::string& module_;
    size_t pos_ = 0;
};

// One object reference of the record, as module m's descriptor: null, or an
// object of m that exists. Anything else is a fault of the file. A preload
// reference, its list's closing null too, is written as the uncounted
// indirect reference the list keeps; one without the indirect bit is a
// dynamic entry (or the dynamic list's closing null) that slid into the
// preload list because an entry before it read as null, and opening the
// module so would drop the dynamic objects after that entry from their list.
// `what` names the entry for the text of a fault, and is made only then.
template <class What>
tDescriptor CheckObjectReference(uint8_t flags, uint32_t raw, tModuleIndex m, const std::string& module, Refusal refuse,
                                 What&& what, bool preload = false) {
    if ((flags & ~Faultp<InterObjRep>::kAllFlags) != 0 || !(flags & Faultp<InterObjRep>::kDescriptor))
        Refuse(refuse, module, what() + ": the reference is not sound");
    if (preload && !(flags & Faultp<InterObjRep>::kIndirect))
        Refuse(refuse, module, what() + ": the reference is not a preload's (a dynamic entry before it is lost)");
    tDescriptor d(raw);
    if (d.isNull()) return tDescriptor();
    if (d.isProxy() || d.moduleIndex() >= MAX_MODULES)
        Refuse(refuse, module, what() + ": the object is not in the module");
    d.setModuleIndex(m);
    if (!DescribedObjectNoDescriptor<InterObjRep>::objectExists(d))
        Refuse(refuse, module, what() + ": the object does not exist");
    return d;
}

template <class What>
tDescriptor ReadObjectReference(RecordCursor& in, tModuleIndex m, What&& what, bool preload = false) {
    uint8_t flags = 0;
    uint32_t raw = 0;
    in.reference(flags, raw);
    return CheckObjectReference(flags, raw, m, in.module(), Refusal::kOpen, what, preload);
}

// The name of a pair, as module m's descriptor with its entry's text: a
// counted reference to a name the module holds. Fault refuses a name the
// module does not hold, with a text of its own that this one replaces.
template <class What>
tDescriptor CheckNameReference(uint8_t flags, uint32_t raw, tModuleIndex m, const std::string& module, Refusal refuse,
                               What&& what, const char** text) {
    tDescriptor nd(raw);
    if (flags != (IdString::kCounted | IdString::kDescriptor) || nd.isNull() || nd.isProxy() ||
        nd.moduleIndex() >= MAX_MODULES)
        Refuse(refuse, module, what() + ": its name is not in the module");
    nd.setModuleIndex(m);
    const IdStringRep* rep = nullptr;
    try {
        rep = IdStringRep::fault(nd);
    } catch (const ObjectLoadFailed&) {
    }
    if (!rep) Refuse(refuse, module, what() + ": its name is not in the module");
    *text = rep->text();
    return nd;
}

// The static objects whose descriptors are objects[k] must be named objects
// whose records name them by the text keyAt(k) (the name they were entered
// under, entered[k], when that is known). The first that is not is refused.
// A record too spoilt to tell its kind is left to fail when it is read; the
// module keeps it as it is.
template <class KeyAt>
void CheckStaticKinds(tModuleIndex m, const std::vector<uint32_t>& objects, const std::vector<tDescriptor>& entered,
                      KeyAt&& keyAt, const std::string& module, Refusal refuse) {
    using Kind = InterObjRep::StoredKind;
    std::vector<Kind> kinds;
    std::vector<tDescriptor> names;
    InterObjRep::StoredKindsOf(m, objects, kinds, &names);
    for (size_t k = 0; k < objects.size(); ++k) {
        if (kinds[k] != Kind::Named && kinds[k] != Kind::Spoilt)
            Refuse(refuse, module, "the static object " + std::string(keyAt(k)) + " is not a named object");
        // The record names the object too: an entry whose name points at
        // another name would lose the object's own. (A record whose name
        // entry is gone fails when it is read; the module keeps it.) The
        // names of "IdStrings" are distinct, so another entry is another
        // text, and the text is asked for only for a record that fails.
        const tDescriptor own = names[k];
        const bool sameEntry = !entered[k].isNull() && own.descIndex() == entered[k].descIndex();
        if (!own.isNull() && !sameEntry && IdStringRep::objectExists(own) &&
            IdStringRep::fault(own)->text() != std::string(keyAt(k)))
            Refuse(refuse, module, "the static object " + std::string(keyAt(k)) + " has another name in its record");
    }
}

void AppendReference(std::vector<uint8_t>& out, const Faultp<InterObjRep>& ref) {
    uint8_t form[kReferenceSize];
    ref.streamForm(form);
    out.insert(out.end(), form, form + kReferenceSize);
}

void AppendNull(std::vector<uint8_t>& out, uint8_t kind) {
    uint8_t form[kReferenceSize];
    form[0] = static_cast<uint8_t>(kind | Faultp<InterObjRep>::kDescriptor);
    StoreLE32(form + 1, tDescriptor::kNull);
    out.insert(out.end(), form, form + kReferenceSize);
}

std::string StaticObject(uint32_t i) { return "static object " + std::to_string(i); }

}  // namespace

// A file with checksums is read on demand: its named part stays in the
// stream, and only the head and the two lists after it are read here. A
// file without them is read whole, and every pair is checked now.
void ObjectStore::initStaticGlobals() {
    staticsRead_ = true;
    OCLStream& in = *staticGlobals_;
    const size_t size = in.size();
    if (size == 0) return;
    const std::string module = where();
    const bool onDemand = storage_->hasChecksums();
    auto readFrom = [&](size_t at, size_t n) {
        staticsBytes_.resize(n);
        heldFrom_ = at;
        try {
            in.seek(static_cast<uint32_t>(at));
            in.read(staticsBytes_.data(), n);
        } catch (const StorageError& e) {
            throw ModuleOpenFailed(e.what());
        }
    };
    readFrom(0, onDemand ? std::min<size_t>(size, kHeadSize) : size);
    RecordCursor head(staticsBytes_, 0, size, module);
    if (head.u32() != kStaticGlobalsRevision) throw ModuleOpenFailed("Static globals revision error");
    const uint32_t n = head.u32();
    if (uint64_t(n) * kPairSize > size - kHeadSize)
        BadStaticGlobals(module, "the count of static objects runs past the end of the stream");
    const size_t namesEnd = kHeadSize + size_t{n} * kPairSize;
    if (onDemand) {
        readFrom(namesEnd, size - namesEnd);
        statics_.readOnDemand(n, storedStatics_);
    } else {
        statics_.expectFiled(n);
        for (uint32_t i = 0; i < n; ++i) {
            auto what = [i] { return StaticObject(i); };
            uint8_t flags = 0;
            uint32_t raw = 0;
            head.reference(flags, raw);
            const char* name = nullptr;
            const tDescriptor nd = CheckNameReference(flags, raw, index_, module, Refusal::kOpen, what, &name);
            const tDescriptor obj = ReadObjectReference(head, index_, what);
            // The store enters a name only with its object. A name without
            // one would count as a static object that no look-up or walk
            // finds, and the object it named would be left without its name.
            if (obj.isNull()) BadStaticGlobals(module, what() + ": the name " + name + " names no object");
            if (!statics_.add(name, nd, obj))
                BadStaticGlobals(module, what() + ": the name " + name + " is there twice");
        }
    }
    // The named part as read stands for the dictionary as it now is, when it
    // lists the names in dictionary order as a save writes them (opening
    // enters such names fastest); else the next save writes it afresh. A
    // part read on demand is searched in that order, and refused where it
    // is not.
    namesKnown_ = statics_.allFiledInOrder();
    namesEnd_ = namesEnd;
    staticsRevision_ = statics_.revision();
    namesFreed_ = IdString::FreedCount(index_);
    // The lists follow the pairs: in the bytes read whole, or in those read
    // from the end of the named part.
    std::optional<RecordCursor> lists;
    if (onDemand) lists.emplace(staticsBytes_, heldFrom_, size, module);
    RecordCursor& record = onDemand ? *lists : head;
    for (uint32_t i = 0;; ++i) {
        auto what = [i] { return "dynamic object " + std::to_string(i); };
        const tDescriptor d = ReadObjectReference(record, index_, what);
        if (d.isNull()) break;
        dynamics_.appendDescriptor(d);
        fileDynamics_.push_back(d.raw());
    }
    // A list that names one object twice would leave it listed after it
    // was removed. The second naming is the one reported.
    std::sort(fileDynamics_.begin(), fileDynamics_.end());
    if (auto twice = std::adjacent_find(fileDynamics_.begin(), fileDynamics_.end()); twice != fileDynamics_.end()) {
        bool first = true;
        for (size_t i = 0;; ++i) {
            if (dynamics_[i].descriptor().raw() != *twice) continue;
            if (!first) BadStaticGlobals(module, "dynamic object " + std::to_string(i) + " is listed twice");
            first = false;
        }
    }
    std::unordered_set<uint32_t> seen;
    for (uint32_t i = 0;; ++i) {
        auto what = [i] { return "preload object " + std::to_string(i); };
        const tDescriptor d = ReadObjectReference(record, index_, what, true);
        if (d.isNull()) break;
        if (!seen.insert(d.raw()).second) BadStaticGlobals(module, what() + " is listed twice");
        preloads_.appendDescriptor(d);
    }
}

void ObjectStore::StoredStatics::read(uint32_t first, uint32_t n, std::vector<StaticGlobals::StoredPair>& out) {
    ObjectStore& s = store_;
    const std::string module = s.where();
    std::vector<uint8_t> bytes(size_t{n} * kPairSize);
    try {
        s.staticGlobals_->seek(kHeadSize + first * kPairSize);
        s.staticGlobals_->read(bytes.data(), bytes.size());
    } catch (const StorageError& e) {
        BadStoredPair(module, e.what());
    }
    out.reserve(out.size() + n);
    for (uint32_t k = 0; k < n; ++k) {
        const uint8_t* at = bytes.data() + size_t{k} * kPairSize;
        StaticGlobals::StoredPair& p = out.emplace_back();
        p.slot = first + k;
        auto what = [&p] { return StaticObject(p.slot); };
        const char* text = nullptr;
        try {
            p.name = CheckNameReference(at[0], LoadLE32(at + 1), s.index_, module, Refusal::kLookUp, what, &text);
        } catch (const StorageError& e) {
            BadStoredPair(module, what() + ": " + e.what());
        }
        p.key = StaticGlobals::Key(text);
        p.objectFlags = at[kReferenceSize];
        p.object = LoadLE32(at + kReferenceSize + 1);
    }
}

// What the open checks of each pair of a file without checksums, and what
// it checks of each static object's record, for the pairs a look-up or a
// walk has come to.
void ObjectStore::StoredStatics::settle(const std::vector<StaticGlobals::StoredPair>& pairs,
                                        std::vector<tDescriptor>& objects) {
    ObjectStore& s = store_;
    const std::string module = s.where();
    objects.clear();
    std::vector<uint32_t> indexes;
    std::vector<tDescriptor> entered;
    for (const StaticGlobals::StoredPair& p : pairs) {
        auto what = [&p] { return StaticObject(p.slot); };
        const tDescriptor d = CheckObjectReference(p.objectFlags, p.object, s.index_, module, Refusal::kLookUp, what);
        if (d.isNull()) BadStoredPair(module, what() + ": the name " + std::string(p.key.view()) + " names no object");
        objects.push_back(d);
        indexes.push_back(d.descIndex());
        entered.push_back(p.name);
    }
    try {
        CheckStaticKinds(
            s.index_, indexes, entered, [&pairs](size_t k) { return pairs[k].key.view(); }, module, Refusal::kLookUp);
    } catch (const StorageError& e) {
        BadStoredPair(module, e.what());
    }
}

void ObjectStore::StoredStatics::outOfOrder(uint32_t slot, std::string_view key, bool twice) {
    BadStoredPair(store_.where(), StaticObject(slot) + ": the name " + std::string(key) +
                                      (twice ? " is there twice" : " is out of dictionary order"));
}

// The record and the tables must agree on what the module holds; what
// cannot be a module is refused here, because a module that opened without
// the things the record lost would be saved without them. A save writes
// the record before the tables, so tables that hold things always come
// with a record. Each entry's object is looked at by the first bytes of its
// record only (one small read per entry, no object is read), and the table
// of objects is walked that way only when the record names no static
// object. The static objects of a record read on demand are looked at when
// a look-up comes to them (StoredStatics::settle).
void ObjectStore::checkStaticGlobals() {
    const std::string module = where();
    if (staticGlobals_->size() == 0) {
        if (tablesHoldThings()) BadStaticGlobals(module, "the stream is empty, but the module's tables hold things");
        return;
    }
    // A record too spoilt to tell its kind is left to fail when it is read;
    // the module keeps it as it is.
    using Kind = InterObjRep::StoredKind;
    std::vector<uint32_t> indexes;
    std::vector<Kind> kinds;
    try {
        if (heldFrom_ == 0) {
            // The name each entry was read with: a record that names the
            // same entry of "IdStrings" names the same text.
            std::vector<tDescriptor> entered;
            indexes.reserve(statics_.count());
            entered.reserve(statics_.count());
            statics_.forEachKeyed([&](std::string_view, StaticGlobals::Entry& e) {
                const tDescriptor d = e.object.descriptor();
                if (d.isNull()) return;
                indexes.push_back(d.descIndex());
                entered.push_back(e.name.isDescriptor() ? e.name.descriptor() : tDescriptor());
            });
            // The name of the k-th entry that names an object, walked to
            // again only when a check needs the text: keeping every name
            // aside would cost a module of many names as much memory again.
            auto keyAt = [this](size_t k) {
                std::string key;
                size_t at = 0;
                statics_.forEachKeyed([&](std::string_view name, StaticGlobals::Entry& e) {
                    if (!e.object.descriptor().isNull() && at++ == k) key = name;
                });
                return key;
            };
            CheckStaticKinds(index_, indexes, entered, keyAt, module, Refusal::kOpen);
        }
        indexes.clear();
        for (size_t i = 0; i < dynamics_.length(); ++i) indexes.push_back(dynamics_[i].descriptor().descIndex());
        InterObjRep::StoredKindsOf(index_, indexes, kinds);
        for (size_t i = 0; i < kinds.size(); ++i) {
            if (kinds[i] != Kind::Dynamic && kinds[i] != Kind::Spoilt)
                BadStaticGlobals(module, "dynamic object " + std::to_string(i) + " is not a dynamic object");
        }
        if (statics_.count() != 0) return;
        auto* objects = DescribedObjectNoDescriptor<InterObjRep>::descriptionTable(index_);
        indexes.clear();
        for (uint32_t i = 0; objects && i < objects->count(); ++i)
            if (objects->entry(i).exists()) indexes.push_back(i);
        InterObjRep::StoredKindsOf(index_, indexes, kinds);
        for (size_t k = 0; k < indexes.size(); ++k) {
            if (kinds[k] == Kind::Named)
                BadStaticGlobals(module, "it names no static object, but the module holds named object " +
                                             std::to_string(indexes[k]));
        }
    } catch (const StorageError& e) {
        throw ModuleOpenFailed((module + ": " + e.what()).c_str());
    }
}

// The record as the module is now, in two parts. Entries that were never
// followed are written as they were read. A dynamic entry whose object has
// gone, lies in another module or is not dynamic cannot come from the
// store's own lists (those keep themselves right), only from a file that
// said so: it is left out rather than written back.
void ObjectStore::appendStaticNames(std::vector<uint8_t>& out) {
    out.reserve(out.size() + 8 + statics_.count() * 2 * kReferenceSize);
    const size_t at = out.size();
    out.resize(at + 8);
    StoreLE32(out.data() + at, kStaticGlobalsRevision);
    StoreLE32(out.data() + at + 4, static_cast<uint32_t>(statics_.count()));
    statics_.forEachKeyed([&](std::string_view key, StaticGlobals::Entry& e) {
        // The name goes out as the entry was entered, also when a file that
        // understated the name's count has let its reference go.
        if (!e.name.isDescriptor() || !StillNamed(e.name, key)) StaticGlobals::Settle(key, e, index_);
        uint8_t form[kReferenceSize];
        e.name.streamForm(form);
        out.insert(out.end(), form, form + kReferenceSize);
        AppendReference(out, e.object);
    });
}

void ObjectStore::appendObjectLists(std::vector<uint8_t>& out) {
    out.reserve(out.size() + (dynamics_.length() + preloads_.length() + 2) * kReferenceSize);
    for (size_t i = 0; i < dynamics_.length(); ++i) {
        const Faultp<InterObjRep>& ref = dynamics_[i];
        if (!ref.isDescriptor()) {
            InterObjRep* o = ref.get();
            if (!o || o->isDestroyed() || o->moduleIndex() != index_ || !o->isDynamicObj()) continue;
        }
        AppendReference(out, ref);
    }
    AppendNull(out, 0);
    for (size_t i = 0; i < preloads_.length(); ++i) {
        const Faultp<InterObjRep>& ref = preloads_[i];
        if (!ref.isDescriptor()) {
            InterObjRep* o = ref.get();
            if (!o || o->moduleIndex() != index_) continue;
        }
        AppendReference(out, ref);
    }
    AppendNull(out, Faultp<InterObjRep>::kIndirect);
}

// Writes bytes from offset `at` to the end of the stream. A write that fails
// part way leaves the stream holding neither record: nothing is known of it
// then, and the next save writes the record whole.
void ObjectStore::writeStaticsFrom(uint32_t at, const std::vector<uint8_t>& bytes) {
    OCLStream& s = *staticGlobals_;
    try {
        s.seek(at);
        s.write(bytes.data(), bytes.size());
        s.setSize(static_cast<uint32_t>(at + bytes.size()));
    } catch (...) {
        namesKnown_ = false;
        staticsBytes_.clear();
        heldFrom_ = 0;
        throw;
    }
}

// A module of a hundred thousand named objects saved after one field
// changed must not pay for a hundred thousand names: the named part is made
// afresh only when the dictionary has entered or removed a name, or a name
// of the module was given up (which can leave an entry's stored name
// reading another text), since it was last made or read. Otherwise it is
// the part the stream holds, which the open checked name by name (or, read
// on demand, is left as the file has it). The lists are made every time.
void ObjectStore::writeStaticGlobals() {
    // A store made directly on a module file has not read its static globals
    // yet; writing without them would lose every name of the module.
    if (!staticsRead_) initStaticGlobals();
    const bool namesSame = namesKnown_ && namesEnd_ != 0 && heldFrom_ <= namesEnd_ &&
                           namesEnd_ <= heldFrom_ + staticsBytes_.size() && staticsRevision_ == statics_.revision() &&
                           namesFreed_ == IdString::FreedCount(index_);
    if (namesSame) {
        std::vector<uint8_t> lists;
        appendObjectLists(lists);
        const auto namesEnd = staticsBytes_.begin() + static_cast<ptrdiff_t>(namesEnd_ - heldFrom_);
        if (std::equal(lists.begin(), lists.end(), namesEnd, staticsBytes_.end())) return;
        // Only the lists go out, after the named part the stream holds.
        writeStaticsFrom(static_cast<uint32_t>(namesEnd_), lists);
        staticsBytes_.erase(namesEnd, staticsBytes_.end());
        staticsBytes_.insert(staticsBytes_.end(), lists.begin(), lists.end());
        return;
    }
    // The named part is written whole, so every pair still in the stream is
    // read and checked first: one that fails refuses the save, and nothing
    // of the record is written over.
    try {
        statics_.readAll();
    } catch (const ObjectLoadFailed& e) {
        throw StoreException(("Could not save module: " + where() + " (" + e.what() + ")").c_str(), "ModuleSaveError");
    }
    std::vector<uint8_t> image;
    appendStaticNames(image);
    const size_t namesEnd = image.size();
    appendObjectLists(image);
    // Making the named part may settle names (and so enter them), so the
    // state it stands for is taken after it.
    const uint64_t revision = statics_.revision();
    const uint64_t freed = IdString::FreedCount(index_);
    if (heldFrom_ != 0 || image != staticsBytes_) {
        writeStaticsFrom(0, image);
        staticsBytes_ = std::move(image);
        heldFrom_ = 0;
    }
    namesKnown_ = true;
    namesEnd_ = namesEnd;
    staticsRevision_ = revision;
    namesFreed_ = freed;
}

// ---- collecting objects for a group ------------------------------------------------------

int32_t ObjectStore::GetDynamicObjects(tModuleIndex m, GroupObjectList& group) {
    DynamicObjectList& list = DynamicsList(m);
    for (size_t i = 0; i < list.length(); ++i) {
        if (InterObjRep* o = list[i].get(); o && !o->isDestroyed()) group.append(o);
    }
    return static_cast<int32_t>(group.length());
}

namespace {

// The list behind a group object of a program or host; null for Nothing.
GroupObjectList* GroupList(InterObj& group, const char* where) {
    InterObjRep* g = group.get();
    if (!g) return nullptr;
    GroupObjectList* list = ObjectStore::groupListOf ? ObjectStore::groupListOf(g) : nullptr;
    if (!list) throw TypeMismatch(where, 32765);
    return list;
}

}  // namespace

int32_t ObjectStore::GetDynamicObjects(tModuleIndex m, InterObj& group) {
    GroupObjectList* list = GroupList(group, "ObjectStore::GetDynamicObjects()");
    return list ? GetDynamicObjects(m, *list) : 0;
}

int32_t ObjectStore::GetPrototypeObjects(tModuleIndex m, InterObj& group) {
    GroupObjectList* list = GroupList(group, "ObjectStore::GetPrototypeObjects()");
    return list ? GetPrototypeObjects(m, *list) : 0;
}

int32_t ObjectStore::GetStaticObjects(tModuleIndex m, InterObj& group, int sorted) {
    GroupObjectList* list = GroupList(group, "ObjectStore::GetStaticObjects()");
    return list ? GetStaticObjects(m, *list, sorted) : 0;
}

int32_t ObjectStore::GetPrototypeObjects(tModuleIndex m, GroupObjectList& group) {
    if (m != DETACHED_MODULE) Store(m, "ObjectStore::GetPrototypeObjects");
    DescribedObjectIterator<SignatureRep> signatures(m);
    while (SignatureRep* s = signatures()) {
        InterObjRep* proto = s->protoObject();
        if (proto && !proto->isWorkerObj()) group.append(proto);
    }
    return static_cast<int32_t>(group.length());
}

// Sorted: each object is preceded by the objects it depends on, found by a
// depth-first walk over the dictionary order. The walk keeps its own stack,
// so a long chain of dependencies cannot exhaust the machine's. What an
// object depends on is worked out once, from the signatures it depends on
// (InterObjRep::dependencySignatures) and the prototypes among the static
// objects, not by asking it about every other object: a module of tens of
// thousands of objects is sorted in time that grows with its size. Each
// object's dependencies are visited in dictionary order, as a walk that
// asked dependsOn of every object in turn would visit them.
int32_t ObjectStore::GetStaticObjects(tModuleIndex m, GroupObjectList& group, int sorted) {
    std::vector<InterObjRep*> objects;
    Dictionary(m).forEach([&](StaticGlobals::Entry& e) {
        InterObjRep* o = e.object.get();
        objects.push_back(o && !o->isDestroyed() ? o : nullptr);
    });
    if (!sorted) {
        for (InterObjRep* o : objects)
            if (o) group.prepend(o);
        return static_cast<int32_t>(group.length());
    }
    const size_t n = objects.size();
    // The prototypes among them, by their signatures.
    std::unordered_map<const SignatureRep*, std::vector<size_t>> prototypes;
    for (size_t i = 0; i < n; ++i)
        if (InterObjRep* o = objects[i]; o && !o->isClone() && o->signature())
            prototypes[o->signature()].push_back(i);
    auto dependencies = [&](size_t i) {
        std::vector<SignatureRep*> signatures;
        objects[i]->dependencySignatures(signatures);
        std::vector<size_t> out;
        for (const SignatureRep* s : signatures)
            if (auto it = prototypes.find(s); it != prototypes.end())
                out.insert(out.end(), it->second.begin(), it->second.end());
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    };
    std::vector<bool> used(n);
    for (size_t i = 0; i < n; ++i) used[i] = objects[i] == nullptr;
    struct Visit {
        size_t object;
        std::vector<size_t> dependencies;
        size_t next;
    };
    std::vector<Visit> stack;
    for (size_t i = 0; i < n; ++i) {
        if (used[i]) continue;
        used[i] = true;
        stack.push_back({i, dependencies(i), 0});
        while (!stack.empty()) {
            Visit& v = stack.back();
            while (v.next < v.dependencies.size() && used[v.dependencies[v.next]]) ++v.next;
            if (v.next < v.dependencies.size()) {
                const size_t j = v.dependencies[v.next++];
                used[j] = true;
                stack.push_back({j, dependencies(j), 0});
                continue;
            }
            group.append(objects[v.object]);
            stack.pop_back();
        }
    }
    for (size_t j = 0; j < n; ++j) TQ_ASSERT(used[j], "used[j]");
    return static_cast<int32_t>(group.length());
}

// ---- iterators ----------------------------------------------------------------------------

ObjectStore::StaticObjectsIterator::StaticObjectsIterator() : module_(DETACHED_MODULE), all_(true) {}

ObjectStore::StaticObjectsIterator::StaticObjectsIterator(tModuleIndex m) : module_(m), all_(false) {}

// A module whose record fails to read is named once, and the walk goes on
// with the next module: a caller that goes on after the failure is not
// held at that module for good.
StaticGlobals::Entry* ObjectStore::StaticObjectsIterator::operator()() {
    auto nextModule = [this] {
        const tModuleIndex next = all_ ? NextValidIndex(module_) : DETACHED_MODULE;
        module_ = next == DETACHED_MODULE ? NO_MODULE : next;
        last_.clear();
    };
    for (;;) {
        if (module_ == NO_MODULE) return nullptr;
        if (module_ == DETACHED_MODULE || ValidIndex(module_)) {
            StaticGlobals::Entry* e = nullptr;
            try {
                e = Dictionary(module_).after(last_, &last_);
            } catch (...) {
                nextModule();
                throw;
            }
            if (e) return e;
        }
        nextModule();
    }
}

ObjectStore::DynamicObjectsIterator::DynamicObjectsIterator() : module_(DETACHED_MODULE), all_(true) {}

ObjectStore::DynamicObjectsIterator::DynamicObjectsIterator(tModuleIndex m) : module_(m), all_(false) {}

Faultp<InterObjRep>* ObjectStore::DynamicObjectsIterator::operator()() {
    for (;;) {
        if (module_ == NO_MODULE) return nullptr;
        if (module_ == DETACHED_MODULE || ValidIndex(module_)) {
            DynamicObjectList& list = DynamicsList(module_);
            if (next_ < list.length()) return &list[next_++];
        }
        if (!all_) {
            module_ = NO_MODULE;
            continue;
        }
        const tModuleIndex next = NextValidIndex(module_);
        module_ = next == DETACHED_MODULE ? NO_MODULE : next;
        next_ = 0;
    }
}

}  // namespace tq
