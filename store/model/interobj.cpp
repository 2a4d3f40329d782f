#include "store/model/interobj.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/com/classreg.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "platform/util/radixsort.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/iintobj.h"
#include "store/interp/keytab.h"
#include "store/model/fldval.h"
#include "store/model/intfld.h"
#include "store/model/objiter.h"
#include "store/model/objval.h"
#include "store/persist/desciter.h"
#include "store/persist/objstore.h"
#include "store/persist/proxy.h"
#include "store/sigproxy.h"
#include "store/storeapp.h"
#include "store/vals.h"

namespace tq {

namespace {

// How deep a chain of embedded objects may nest while it is read (each host
// is read inside the record of the object it embeds).
constexpr int kMaxReadNesting = 512;

// The class id that opens an object's compiled part.
constexpr uint64_t kClassIdBytes = 16;

[[noreturn]] void BadObject(uint32_t index, const std::string& what) {
    const std::string text = "Objects entry " + std::to_string(index) + ": " + what;
    throw ObjectLoadFailed(text.c_str());
}

// The embed field of host's chain whose slot names e, without reading
// anything that is not in memory: a slot still holding a descriptor is
// compared by descriptor.
Field* EmbedFieldOf(InterObjRep& host, const InterObjRep* e, SignatureRep*& owner) {
    if (!e) return nullptr;
    for (SignatureRep* s = host.signature(); s; s = s->parent()) {
        const FieldPtrList& fields = s->fields();
        for (size_t i = 0; i < fields.length(); ++i) {
            Field* f = fields.at(i);
            if (!f->isEmbed()) continue;
            auto& slot = static_cast<EmbedObjField*>(f)->slot(host, *s);
            const bool same = slot.isDescriptor()
                                  ? (!e->isDetached() && slot.descriptor() == e->descriptor())
                                  : slot.get() == e;
            if (same) {
                owner = s;
                return f;
            }
        }
    }
    return nullptr;
}

// The name of the host's handler of event `name` raised by obj:
// "<embed field>_<event>". False when obj has no host, or when its host no
// longer holds it in an embed field (the field is going): the host's member
// of the bare event name is the host's own and never handles obj's events.
bool HostHandlerName(InterObjRep& obj, const char* name, InterObjRep*& host, std::string& handler) {
    host = obj.host();
    if (!host) return false;
    SignatureRep* owner = nullptr;
    Field* f = EmbedFieldOf(*host, &obj, owner);
    if (!f) return false;
    handler = std::string(f->name()) + "_" + name;
    return true;
}

// Raises event `name` on obj: its own member, then, while obj is alive and
// the store unlocked, its host's handler, whose value wins when it handled
// the event.
void RaiseEvent(InterObjRep& obj, const char* name, ValueList* args, ValuePtr& result, int mustExist) {
    if (mustExist && !obj.findEventDef(name)) throw StoreException(32719, name);
    int handled = 0;
    result = obj.eval(name, IDT_UNTYPED, args, nullptr, EVAL_DOTTED, &handled, nullptr);
    if (obj.isDestroyed() || ObjectStore::LockState() != LOCK_NORMAL) return;
    InterObjRep* h = nullptr;
    std::string handler;
    if (!HostHandlerName(obj, name, h, handler)) return;
    int hostHandled = 0;
    ValuePtr r = h->eval(handler.c_str(), IDT_UNTYPED, args, nullptr, EVAL_DOTTED, &hostHandled, nullptr);
    if (hostHandled) result = r;
}

// The signature that holds the class id of the compiled part an object of
// s carries: s itself or its guid source; null for a class without one.
SignatureRep* CompiledClassHolder(SignatureRep& s) { return s.isGuidHolder() ? &s : s.guidSrc(); }

const GUID* CompiledClassOf(SignatureRep& s) {
    SignatureRep* holder = CompiledClassHolder(s);
    return holder ? holder->classId() : nullptr;
}

// The compiled-part bytes of objects whose class is not published in this
// process, kept so that saving such an object writes them back unchanged
// instead of dropping the state of a class that is merely not loaded.
std::unordered_map<const InterObjRep*, std::vector<uint8_t>>& UnreadCompiledParts() {
    static auto* const kept = new std::unordered_map<const InterObjRep*, std::vector<uint8_t>>;
    return *kept;
}

void KeepUnreadCompiledPart(const InterObjRep* o, OCLStream& in, uint32_t n) {
    if (n == 0) return;
    std::vector<uint8_t> bytes(n);
    in.read(bytes.data(), n);
    UnreadCompiledParts()[o] = std::move(bytes);
}

const std::vector<uint8_t>* UnreadCompiledPart(const InterObjRep* o) {
    auto& kept = UnreadCompiledParts();
    if (kept.empty()) return nullptr;
    const auto it = kept.find(o);
    return it == kept.end() ? nullptr : &it->second;
}

void ForgetUnreadCompiledPart(const InterObjRep* o) {
    auto& kept = UnreadCompiledParts();
    if (!kept.empty()) kept.erase(o);
}

// Undoing a discrimination needs where the object stood and what its embed
// field was called; the one discrimination that may still be undone is
// remembered here.
struct Discrimination {
    const InterObjRep* obj = nullptr;
    size_t index = 0;
    std::string typeName;
};
Discrimination lastDiscrimination;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// n hexadecimal digits at p; false when any is not one.
bool ParseHex(const char* p, int n, uint32_t& out) {
    out = 0;
    for (int i = 0; i < n; ++i) {
        const int d = HexDigit(p[i]);
        if (d < 0) return false;
        out = out * 16 + static_cast<uint32_t>(d);
    }
    return true;
}

// The module a new object goes into comes from the host or a program:
// one that is not loaded is refused before anything is made.
void CheckModuleIndex(tModuleIndex m) {
    if (m != DETACHED_MODULE && !ObjectStore::ValidIndex(m)) throw AccessDenied("InterObjRep::InterObjRep()", 32717);
}

}  // namespace

// ---- creation ------------------------------------------------------------------------

InterObjRep::InterObjRep(tModuleIndex, tInterObjType) { ++liveObjects; }

InterObjRep::InterObjRep(tFromRecord, tDescriptor d) : DescribedObject<InterObjRep>(d) { ++liveObjects; }

template <class T>
T* InterObjRep::Make(SignatureRep* sig, InterObjRep* proto, const char* progId, tModuleIndex m,
                     tInterObjType kind, bool clone) {
    CheckModuleIndex(m);
    if (proto && !proto->isCopyAllowed()) throw AccessDenied("InterObjRep::InterObjRep()", 32755);
    // A ProgID that names no class fails before anything is made.
    if (progId && !ClassRegistry::CLSIDFromProgID(progId)) throw StoreException(32753);
    std::unique_ptr<T> o(new T(m, kind));
    if (clone) o->flags_ |= kClone;
    o->init(sig, proto, progId, m, kind);
    return o.release();
}

InterObjRep* InterObjRep::New(tModuleIndex m, tInterObjType kind, const char* progId) {
    return Make<InterObjRep>(nullptr, nullptr, progId, m, kind, false);
}

InterObjRep* InterObjRep::NewCopy(InterObjRep& copyOf, tModuleIndex m, tInterObjType kind) {
    return Make<InterObjRep>(copyOf.signature(), &copyOf, nullptr, m, kind, true);
}

InterObjRep* InterObjRep::NewOf(const Signature& sig, tModuleIndex m, tInterObjType kind) {
    SignatureRep* s = sig.get();
    TQ_ASSERT(s != nullptr, "sig");
    return Make<InterObjRep>(s, s->protoObject(), nullptr, m, kind, true);
}

NamedInterObjRep* InterObjRep::NewNamed(const char* name, InterObjRep* copyOf, tModuleIndex m,
                                        tInterObjType kind, const char* progId) {
    ObjectStore::ValidateNewStaticGlobal(name, m);
    NamedInterObjRep* o = Make<NamedInterObjRep>(copyOf ? copyOf->signature() : nullptr, copyOf,
                                                 progId, m, kind, copyOf != nullptr);
    o->name_ = IdString(name, m);
    ObjectStore::addStaticGlobal(*o, m);
    return o;
}

EmbeddedInterObjRep* InterObjRep::NewEmbedded(InterObjRep& host, InterObjRep* copyOf,
                                              SignatureRep* sig, tModuleIndex m) {
    CheckModuleIndex(m);
    if (copyOf) sig = copyOf->signature();
    InterObjRep* proto = copyOf ? copyOf : (sig ? sig->protoObject() : nullptr);
    // The new object is embedded in host from the start, so that its own
    // embeds and event names see where it lives.
    if (proto && !proto->isCopyAllowed()) throw AccessDenied("InterObjRep::InterObjRep()", 32755);
    std::unique_ptr<EmbeddedInterObjRep> o(new EmbeddedInterObjRep(m, IOT_EMBEDDED));
    if (sig) o->flags_ |= kClone;
    o->host_ = &host;
    o->init(sig, proto, nullptr, m, IOT_EMBEDDED);
    return o.release();
}

void InterObjRep::init(SignatureRep* sig, InterObjRep* proto, const char* progId, tModuleIndex m,
                       tInterObjType kind) {
    // 1. Copies of a frame's locals prototype are frame locals too.
    if (proto && proto->isWorkerObj() && proto->isHosted()) flags_ |= kWorker | kHosted;
    // 2. The description.
    if (m != DETACHED_MODULE) DescribedObjectNoDescriptor<InterObjRep>::add(m, *this, desc_);
    // 3. The signature; the object goes in front of its object list.
    Signature s = sig ? Signature(sig) : Signature(NoParentSig, m);
    if (!sig && progId) s->defineGuid(progId);
    signature_ = s;
    s->addObject(this, 1);
    if (sig && progId) {
        discriminateClone();
        signature()->defineGuid(progId);
    }
    // 4. The compiled part of a class with a class id.
    if (CompiledClassHolder(*signature())) signature()->compNew(this);
    // 5. The data: a byte copy of the prototype's, then every field makes
    // its bytes the object's own.
    SignatureRep* own = signature();
    dataSize_ = own->iDataSize();
    if (dataSize_) {
        data_ = std::make_unique<uint8_t[]>(dataSize_);
        if (proto && proto != this && proto->data_)
            std::memcpy(data_.get(), proto->data_.get(), std::min(dataSize_, proto->dataSize_));
    }
    std::vector<std::pair<Field*, SignatureRep*>> constructed;
    try {
        for (SignatureRep* t = own; t; t = t->parent())
            for (size_t i = 0; i < t->fields().length(); ++i) {
                Field* f = t->fields().at(i);
                f->fldConstructor(*this, *t);
                constructed.emplace_back(f, t);
            }
    } catch (...) {
        for (size_t i = constructed.size(); i-- > 0;)
            constructed[i].first->fldDestructor(*this, *constructed[i].second);
        abandon();
        throw;
    }
    // 8 (before the kind, so that a failing copy leaves nothing listed).
    if (comp_ && proto && proto != this && proto->comp_) comp_->clone(*proto->comp_);
    // 6. The kind.
    switch (kind) {
        case IOT_DYNAMIC: ObjectStore::addDynamicObject(*this, m); break;
        case IOT_EMBEDDED: flags_ |= kHosted; break;
        case IOT_FRAME: flags_ |= kWorker | kHosted; break;
        case IOT_WORKER: flags_ |= kWorker; break;
        case IOT_ORDINARY: break;
    }
    // 7.
    if (own->hasPreloadHandler()) ObjectStore::RequestPreload(this);
}

// The fields' bytes are released already; the object leaves its signature
// and its module as if it had never been made.
void InterObjRep::abandon() {
    releaseCompiledPart();
    if (SignatureRep* s = signature()) {
        Signature keep(s);
        s->removeObject(this);
        signature_ = nullptr;
    }
    std::memset(data_.get(), 0, dataSize_);
    if (!isDetached()) DescribedObject<InterObjRep>::attach(DETACHED_MODULE);
}

InterObjRep::~InterObjRep() {
    if (!isDestroyed()) releaseData();
    releaseCompiledPart();
    ForgetUnreadCompiledPart(this);
    // Freed with its module without being destroyed: references read null
    // from now on all the same.
    ++destroyedObjects;
    --liveObjects;
}

void InterObjRep::releaseCompiledPart() {
    if (IInterObj* c = std::exchange(comp_, nullptr)) {
        c->setOwner(nullptr);
        c->Release();
    }
}

IInterObj* InterObjRep::RWCDataPtr(int32_t) {
    if (isDestroyed() || !comp_) throw Is_Null("InterObjRep::cDataPtr()", 32743);
    return comp_;
}

const IInterObj* InterObjRep::ROCDataPtr(int32_t index) { return RWCDataPtr(index); }

void InterObjRep::releaseData() {
    if (!data_ || (flags_ & kDataReleased) || signature_.isDescriptor()) return;
    SignatureRep* s = signature_.get();
    if (!s) return;
    // Teardown follows only what is in memory: a parent softened into a
    // proxy must not be looked up again while modules go.
    for (SignatureRep* t = s; t; t = t->loadedParent()) {
        const uint32_t start = t->parentDataSize();
        for (size_t i = 0; i < t->fields().length(); ++i) {
            Field* f = t->fields().at(i);
            if (!f->isData() || f->size() == 0) continue;
            const uint32_t at = start + static_cast<uint32_t>(static_cast<DataField*>(f)->fieldOffset());
            if (at + static_cast<uint32_t>(f->size()) <= dataSize_) f->releaseBytes(data_.get() + at);
        }
    }
}

// ---- fault pointers ---------------------------------------------------------------

InterObjRep* InterObjRep::fault(tDescriptor d) {
    return ProxiedObject<InterObjRep, InterObjProxy>::fault(d);
}

tDescriptor InterObjRep::internalDescriptor(const InterObjRep& o, tModuleIndex m) {
    return ProxiedObject<InterObjRep, InterObjProxy>::internalDescriptor(o, m);
}

void InterObjRep::deref() {
    // A count that is already 0 belongs to a thing read from a file.
    if (refCount() == 0) return;
    if (!dropCount()) return;
    if (!isDetached() || isWorkerObj() || isHosted() || isStaticObj() || isDestroyStarted()) return;
    if (ObjectStore::LockState() != LOCK_NORMAL) return;
    // Releases happen in destructors; a failure here is the host's to hear.
    try {
        Destroy();
    } catch (StoreException& e) {
        try {
            StoreApplication::HandleException(e);
        } catch (...) {
        }
    }
}

// ---- persistence -----------------------------------------------------------------------

InterObjRep* InterObjRep::readFromStream(OCLStream& in, uint32_t, tModuleIndex m, uint32_t index) {
    // A host chain that loops is refused by the table (a record that leads
    // back to itself); one that is merely very long stops here.
    const tDescriptor self = tDescriptor::Make(m, index);
    if (DescriptionTable<InterObjRep>::faultDepth > kMaxReadNesting)
        BadObject(index, "its host chain is too deep");

    const uint32_t kind = in.readU32();
    std::unique_ptr<InterObjRep> o;
    switch (kind) {
        case kRecordEmbedded: o.reset(new EmbeddedInterObjRep(tFromRecord{}, self)); break;
        case kRecordNamed: o.reset(new NamedInterObjRep(tFromRecord{}, self)); break;
        case kRecordPlain: o.reset(new InterObjRep(tFromRecord{}, self)); break;
        default: BadObject(index, "Illegal Object Discriminant");
    }
    // Until the object is complete, destroying it must neither report its
    // description nor release what its unchecked bytes name.
    struct Forget {
        std::unique_ptr<InterObjRep>& o;
        ~Forget() {
            if (!o) return;
            o->desc_.setModuleIndex(DETACHED_MODULE);
            o->flags_ |= kDestroyed;
        }
    } forget{o};
    const bool throughProxy = o->readBody(in, m, index, kind);
    // A signature behind a proxy does not list this object in its own
    // record: the object joins its list now that it is complete.
    InterObjRep* done = o.release();
    if (throughProxy) done->signature()->attachExternalObject(*done);
    return done;
}

namespace {

// The kind of a record that is not in memory, from its first five bytes
// (kind and flags) and, for a named record, its last five (its name).
InterObjRep::StoredKind KindFromEnds(const uint8_t* head, const uint8_t* tail, tModuleIndex m, tDescriptor* name) {
    using Kind = InterObjRep::StoredKind;
    const uint32_t kind = LoadLE32(head);
    const uint8_t flags = head[4] & InterObjRep::kStoredFlags;
    switch (kind) {
        case InterObjRep::kRecordNamed: {
            const tDescriptor d(LoadLE32(tail + 1));
            if (name && tail[0] == (IdString::kCounted | IdString::kDescriptor) && !d.isNull() && !d.isProxy() &&
                d.moduleIndex() < MAX_MODULES)
                *name = tDescriptor::Make(m, d.descIndex());
            return Kind::Named;
        }
        case InterObjRep::kRecordEmbedded: return Kind::Embedded;
        case InterObjRep::kRecordPlain: return (flags & (InterObjRep::kWorker | InterObjRep::kHosted)) ? Kind::Worker : Kind::Dynamic;
        default: return Kind::Spoilt;
    }
}

// Records no longer than this, whose places are at most this far apart, are
// looked at in one read (the file is read in blocks of this size, so a gap
// bridged costs at most a block more); a run of them reads no more than
// kLookRun bytes.
constexpr uint32_t kLookGap = 512;
constexpr uint64_t kLookRun = 256 * 1024;
constexpr uint32_t kEndBytes = 5;

}  // namespace

InterObjRep::StoredKind InterObjRep::StoredKindOf(tModuleIndex m, uint32_t index, tDescriptor* name) {
    if (name) *name = tDescriptor();
    auto* table = DescribedObjectNoDescriptor<InterObjRep>::descriptionTable(m);
    if (!table || index >= table->count() || !table->entry(index).exists()) return StoredKind::Spoilt;
    const Description& e = table->entry(index);
    if (e.memory() != 0) {
        InterObjRep* o = HandleTable::Global().getAs<InterObjRep>(e.memory());
        if (!o) return StoredKind::Spoilt;
        if (o->isStaticObj()) {
            if (name) *name = o->idname().descriptor();
            return StoredKind::Named;
        }
        if (o->isEmbeddedObj()) return StoredKind::Embedded;
        return o->isDynamicObj() ? StoredKind::Dynamic : StoredKind::Worker;
    }
    // The table checked at open that the record lies inside its stream. The
    // kind and flags open the record; a named record ends with its name.
    if (e.length() < 2 * kEndBytes) return StoredKind::Spoilt;
    OCLStream& in = table->stream();
    const uint32_t resumeAt = in.tell();
    uint8_t head[kEndBytes], tail[kEndBytes];
    try {
        // A look only, unchecked: the record's bytes are checked against
        // the file's checksums when it is read, and a look that checked them
        // would read the whole stream around the records it looks at.
        in.seek(e.offset());
        in.peek(head, sizeof head);
        in.seek(e.offset() + e.length() - sizeof tail);
        in.peek(tail, sizeof tail);
    } catch (...) {
        in.seek(resumeAt);
        throw;
    }
    in.seek(resumeAt);
    return KindFromEnds(head, tail, m, name);
}

void InterObjRep::StoredKindsOf(tModuleIndex m, const std::vector<uint32_t>& indexes, std::vector<StoredKind>& kinds,
                                std::vector<tDescriptor>* names) {
    kinds.assign(indexes.size(), StoredKind::Spoilt);
    if (names) names->assign(indexes.size(), tDescriptor());
    auto* table = DescribedObjectNoDescriptor<InterObjRep>::descriptionTable(m);
    if (!table) return;
    // Place and position packed in one word, so that the sort compares
    // integers; the lengths by position.
    std::vector<uint64_t> places;
    std::vector<uint32_t> lengths(indexes.size());
    const uint32_t count = table->count();
    for (size_t k = 0; k < indexes.size(); ++k) {
        const uint32_t index = indexes[k];
        if (index >= count) continue;
        const Description& e = table->entry(index);
        if (!e.exists()) continue;
        tDescriptor* name = names ? &(*names)[k] : nullptr;
        if (e.memory() != 0 || e.length() > kLookGap) {
            kinds[k] = StoredKindOf(m, index, name);
        } else if (e.length() >= 2 * kEndBytes) {
            places.push_back(uint64_t(e.offset()) << 32 | k);
            lengths[k] = e.length();
        }
    }
    // By place; the same record asked for twice keeps its positions' order.
    SortNearlyInOrder(places, 32, 64);
    auto offsetOf = [&places](size_t i) { return static_cast<uint32_t>(places[i] >> 32); };
    auto positionOf = [&places](size_t i) { return static_cast<uint32_t>(places[i]); };
    auto endOf = [&](size_t i) { return uint64_t(offsetOf(i)) + lengths[positionOf(i)]; };
    OCLStream& in = table->stream();
    const uint32_t resumeAt = in.tell();
    std::vector<uint8_t> window;
    uint64_t windowAt = 0;
    try {
        for (size_t i = 0; i < places.size(); ++i) {
            const uint32_t offset = offsetOf(i);
            if (offset < windowAt || endOf(i) > windowAt + window.size()) {
                // This record and those that follow close behind it, in one
                // unchecked look (see StoredKindOf).
                uint64_t end = endOf(i);
                for (size_t j = i + 1;
                     j < places.size() && offsetOf(j) <= end + kLookGap && endOf(j) - offset <= kLookRun; ++j)
                    end = std::max<uint64_t>(end, endOf(j));
                windowAt = offset;
                window.resize(static_cast<size_t>(end - windowAt));
                in.seek(offset);
                in.peek(window.data(), window.size());
            }
            const size_t at = positionOf(i);
            const uint8_t* record = window.data() + (offset - windowAt);
            kinds[at] = KindFromEnds(record, record + lengths[at] - kEndBytes, m, names ? &(*names)[at] : nullptr);
        }
    } catch (...) {
        in.seek(resumeAt);
        throw;
    }
    in.seek(resumeAt);
}

bool InterObjRep::readBody(OCLStream& in, tModuleIndex m, uint32_t index, uint32_t kind) {
    const Description* e =
        DescribedObjectNoDescriptor<InterObjRep>::objectDescription(tDescriptor::Make(m, index));
    flags_ = in.readU8() & kStoredFlags;
    signature_.read(in, m);
    if (signature_.flags() != (Faultp<SignatureRep>::kCounted | Faultp<SignatureRep>::kDescriptor))
        BadObject(index, "its signature reference is not sound");
    const tDescriptor sd = signature_.descriptor();
    if (sd.isNull()) BadObject(index, "it has no signature");
    if (sd.isProxy() ? !ProxiedObject<SignatureRep, SignatureProxy>::proxyExists(sd)
                     : !DescribedObjectNoDescriptor<SignatureRep>::objectExists(sd))
        BadObject(index, "its signature does not exist");
    SignatureRep* sig = signature_.get();
    if (!sig) BadObject(index, "its signature does not exist");
    // A signature of this module lists the object in its record; one that
    // stands behind a proxy knows it only once it is read.
    if (!sd.isProxy() && !sig->admitsObject(index))
        BadObject(index, "it is not among its signature's objects");

    // The record's length says how many data bytes it holds: they must be
    // exactly the signature's data size. A compiled part may follow them: a
    // class id and the part's own bytes, or nothing in a record written
    // before objects carried one. It is skipped whether the class is
    // compiled now or not, so an object outlives a class id its signature
    // has lost.
    const uint32_t tail = kind == kRecordPlain ? 5 : 10;
    const uint64_t expected = uint64_t(4 + 1 + 5) + sig->iDataSize() + tail;
    if (e->length() < expected) BadObject(index, "its data size disagrees with its signature");
    const uint64_t compiledPart = e->length() - expected;
    if (compiledPart != 0 && compiledPart < kClassIdBytes)
        BadObject(index, "its compiled part is shorter than a class id");
    dataSize_ = sig->iDataSize();
    if (dataSize_) {
        data_ = std::make_unique<uint8_t[]>(dataSize_);
        in.read(data_.get(), dataSize_);
        sig->conditionAfterRead(data_.get(), *this);
    }
    // The compiled part reads its own bytes, which must end before item 6;
    // a class not published in this process keeps them as they are.
    if (compiledPart) {
        const uint32_t itemSix = static_cast<uint32_t>(e->offset() + e->length() - tail);
        in.seek(in.tell() + static_cast<uint32_t>(kClassIdBytes));
        if (SignatureRep* holder = CompiledClassHolder(*sig); holder && holder->isPublished()) {
            in.seek(in.tell() - static_cast<uint32_t>(kClassIdBytes));
            try {
                sig->compRead(in, this);
            } catch (const StorageError&) {
                BadObject(index, "its compiled part ends early");
            }
            if (in.tell() > itemSix) BadObject(index, "its compiled part runs past its record");
        } else {
            KeepUnreadCompiledPart(this, in, itemSix - in.tell());
        }
        in.seek(itemSix);
    }
    acl_.read(in, m);
    if (acl_.flags() != (Faultp<InterObjRep>::kIndirect | Faultp<InterObjRep>::kDescriptor))
        BadObject(index, "its access-control reference is not sound");
    if (kind == kRecordNamed) {
        auto* named = static_cast<NamedInterObjRep*>(this);
        const std::string what = "Objects entry " + std::to_string(index) + ": its name";
        ReadIdReference(in, m, named->name_, false, what.c_str());
    } else if (kind == kRecordEmbedded) {
        auto* embedded = static_cast<EmbeddedInterObjRep*>(this);
        embedded->host_.read(in, m);
        const tDescriptor hd = embedded->host_.descriptor();
        if (embedded->host_.flags() != Faultp<InterObjRep>::kDescriptor || hd.isNull() ||
            hd.isProxy() || !DescribedObjectNoDescriptor<InterObjRep>::objectExists(hd))
            BadObject(index, "its host reference is not sound");
        // The host is read now, inside this record, so a loop shows here.
        if (!embedded->host_.get()) BadObject(index, "its host does not exist");
    }
    return sd.isProxy();
}

void InterObjRep::writeBody(OCLStream& out, uint32_t kind) {
    out.writeU32(kind);
    out.writeU8(flags_ & kStoredFlags);
    signature_.write(out);
    if (dataSize_) {
        // The live block stays as it is: references are prepared in a copy.
        std::vector<uint8_t> copy(data_.get(), data_.get() + dataSize_);
        signature()->conditionForWrite(copy.data(), *this);
        out.write(copy.data(), copy.size());
    }
    // The compiled part: its class id, then what the part saves of itself,
    // or the bytes kept for a class that is not published here.
    if (comp_) {
        signature()->compWrite(out, comp_);
    } else if (const GUID* id = CompiledClassOf(*signature())) {
        out.WriteClassStm(*id);
        if (const std::vector<uint8_t>* kept = UnreadCompiledPart(this)) out.write(kept->data(), kept->size());
    }
    acl_.write(out);
}

void InterObjRep::write(OCLStream& out) { writeBody(out, kRecordPlain); }

void NamedInterObjRep::write(OCLStream& out) {
    writeBody(out, kRecordNamed);
    name_.write(out);
}

void EmbeddedInterObjRep::write(OCLStream& out) {
    writeBody(out, kRecordEmbedded);
    host_.write(out);
}

// ---- names and aliases ----------------------------------------------------------------

const IdString& InterObjRep::idname() const { throw TypeMismatch("InterObjRep::idname()", 32765); }
void InterObjRep::Name(const char*) { throw TypeMismatch("InterObjRep::Name()", 32765); }

void NamedInterObjRep::Name(const char* name) {
    name_ = IdString(name, moduleIndex());
    changed();
    ObjectStore::addStaticGlobal(*this, moduleIndex());
}

std::string InterObjRep::genericAlias() {
    bool isNull = false;
    const std::string root = rootname(0, &isNull);
    char tail[32];
    std::snprintf(tail, sizeof tail, "@%02x:%06x:%08x", unsigned(moduleIndex()),
                  unsigned(descriptor().descIndex()), unsigned(selfId()));
    return (isNull ? std::string() : root) + tail;
}

std::string InterObjRep::alias() { return genericAlias(); }

std::string NamedInterObjRep::alias() { return name() ? std::string(name()) : genericAlias(); }

std::string EmbeddedInterObjRep::alias() {
    std::string path;
    InterObjRep* obj = this;
    while (obj->isEmbeddedObj()) {
        InterObjRep* h = obj->host();
        SignatureRep* owner = nullptr;
        Field* f = h ? EmbedFieldOf(*h, obj, owner) : nullptr;
        if (!f) return genericAlias();
        path = std::string(".") + f->name() + path;
        obj = h;
    }
    if (!obj->isStaticObj() || !obj->name()) return genericAlias();
    return obj->name() + path;
}

bool InterObjRep::isAlias(const char* text) {
    if (!text || !*text) return false;
    const char* at = std::strchr(text, '@');
    return at && std::strlen(at) == 19 && at[3] == ':';
}

InterObj::InterObj(const char* alias) : Faultp<InterObjRep>() {
    if (!InterObjRep::isAlias(alias)) throw NotFound(32686, alias);
    const char* a = std::strchr(alias, '@');
    uint32_t module = 0, index = 0, number = 0;
    // isAlias has checked the shape; the digits themselves come from the
    // caller and are checked here.
    if (!ParseHex(a + 1, 2, module) || !ParseHex(a + 4, 6, index) || a[10] != ':' ||
        !ParseHex(a + 11, 8, number))
        throw NotFound(32686, alias);
    if (module == DETACHED_MODULE) {
        const std::string rootName(alias, a);
        InterObj root;
        if (rootName.empty() || !ObjectStore::find(rootName.c_str(), root)) throw NotFound(32686, alias);
        InterObjChildIterator children(root.get(), 0);
        while (InterObjRep* c = children()) {
            if (c->selfId() == number && !c->isDestroyed()) {
                *this = c;
                return;
            }
        }
        throw NotFound(32686, alias);
    }
    const tDescriptor d = tDescriptor::Make(static_cast<tModuleIndex>(module), index);
    if (module >= MAX_MODULES || !ObjectStore::ValidIndex(static_cast<tModuleIndex>(module)) ||
        !DescribedObjectNoDescriptor<InterObjRep>::objectExists(d))
        throw NotFound(32741, alias);
    *this = InterObjRep::fault(d);
}

InterObj::InterObj(const Signature& sig)
    : Faultp<InterObjRep>(InterObjRep::NewOf(sig, ObjectStore::OpenModule(), IOT_ORDINARY)) {}

PrimInterObj::PrimInterObj(const char* name)
    : Faultp<InterObjRep>(PrimaryReference,
                          InterObjRep::NewNamed(name, nullptr, ObjectStore::OpenModule(), IOT_ORDINARY)) {}

PrimInterObj::PrimInterObj(const InterObj& copyOf)
    : Faultp<InterObjRep>(PrimaryReference,
                          InterObjRep::NewCopy(*copyOf, ObjectStore::OpenModule(), IOT_ORDINARY)) {}

PrimInterObj::PrimInterObj(const char* name, const InterObj& copyOf)
    : Faultp<InterObjRep>(PrimaryReference,
                          InterObjRep::NewNamed(name, copyOf.get(), ObjectStore::OpenModule(), IOT_ORDINARY)) {}

PrimInterObj::PrimInterObj(tModuleIndex m)
    : Faultp<InterObjRep>(PrimaryReference, InterObjRep::New(m, IOT_ORDINARY)) {}

IndirectInterObj::IndirectInterObj(const char* progId, const char* name, const InterObj& copyOf,
                                   tInterObjType kind)
    : Faultp<InterObjRep>(UncountedIndirectReference,
                          InterObjRep::NewNamed(name, copyOf.get(), ObjectStore::OpenModule(), kind, progId)) {}

CountedIndirectInterObj::CountedIndirectInterObj(InterObjRep& host, const InterObj& copyOf)
    : Faultp<InterObjRep>(IndirectReference,
                          InterObjRep::NewEmbedded(host, copyOf.get(), nullptr, host.moduleIndex())) {}

CountedIndirectInterObj::CountedIndirectInterObj(InterObjRep& host, const Signature& sig)
    : Faultp<InterObjRep>(IndirectReference,
                          InterObjRep::NewEmbedded(host, nullptr, sig.get(), host.moduleIndex())) {}

InterObjRep* InterObjRep::protoObject() const {
    SignatureRep* s = signature();
    return s ? s->protoObject() : nullptr;
}

InterObjRep* InterObjRep::rootObj(int self) {
    SignatureRep* s = signature();
    if (!s) return nullptr;
    SignatureRep* target = (isProto() && !self) ? s->parent() : s;
    if (!target) return nullptr;
    InterObjRep* r = target->protoObject();
    return r && r->isStaticallyRooted() ? r : nullptr;
}

std::string InterObjRep::rootname(int self, bool* isNull) {
    if (isNull) *isNull = false;
    SignatureRep* s = signature();
    SignatureRep* target = s ? ((isProto() && !self) ? s->parent() : s) : nullptr;
    if (!target) return "Object";
    InterObjRep* r = target->protoObject();
    if (!r || !r->isStaticallyRooted()) {
        if (isNull) *isNull = true;
        return std::string();
    }
    return r->alias();
}

bool InterObjRep::isStaticallyRooted() {
    if (isStaticObj()) return true;
    if (!isEmbeddedObj()) return false;
    InterObjRep* root = rootHost();
    return root && root->isStaticObj();
}

InterObjRep* EmbeddedInterObjRep::rootHost() {
    InterObjRep* h = host();
    // Host chains are acyclic (each host is read before what it embeds);
    // the bound keeps a broken one from looping all the same.
    for (int steps = 0; h && h->isEmbeddedObj() && steps < 1 << 20; ++steps) {
        InterObjRep* up = h->host();
        if (!up) break;
        h = up;
    }
    return h;
}

bool InterObjRep::containedBy(const InterObjRep* obj) {
    for (InterObjRep* h = host(); h; h = h->host())
        if (h == obj) return true;
    return false;
}

int32_t InterObjRep::depth() {
    SignatureRep* s = signature();
    return s ? s->depth() : 0;
}

int32_t InterObjRep::numChildren() {
    if (isClone() || !signature()) return 0;
    SignatureRep* s = signature();
    return static_cast<int32_t>(s->objects().length() - 1 + s->children().length());
}

bool InterObjRep::hasChild(const InterObjRep* o) {
    return isProto() && signature() && o && signature()->objectIndex(o) >= 0;
}

bool InterObjRep::contains(const InterObjRep* o) {
    SignatureRep* owner = nullptr;
    return o && o != this && EmbedFieldOf(*this, o, owner) != nullptr;
}

void InterObjRep::renameObject(const char* newName) {
    if (isStaticObj()) {
        ObjectStore::Rename(name(), newName);
        return;
    }
    if (!isWorkerObj() && !isHosted()) throw StoreException("Dynamic objects cannot be renamed.", nullptr);
    if (!isEmbeddedObj() || !host()) throw StoreException("Dynamic objects cannot be renamed.", nullptr);
    host()->renameField(this, newName);
}

const char* InterObjRep::uniqueName(const char* prefix) {
    // The library's buffer, never destroyed like its other process-wide
    // state.
    static std::string* const buffer = new std::string;
    std::string& name = *buffer;
    std::vector<SignatureRep*> sigs;
    signature()->collectSubtree(sigs);
    for (int n = 1;; ++n) {
        name = std::string(prefix ? prefix : "") + std::to_string(n);
        if (findField(name.c_str())) continue;
        const bool taken = std::any_of(sigs.begin(), sigs.end(), [&name](SignatureRep* s) {
            return s->fields().pvalue(name.c_str()) != nullptr;
        });
        if (!taken) return name.c_str();
    }
}

bool InterObjRep::canBeTreatedAs(const InterObjRep* o) { return o && canBeTreatedAs(o->signature()); }

bool InterObjRep::canBeTreatedAs(const SignatureRep* s) {
    SignatureRep* own = signature();
    return s && own && own->hasSignature(s);
}

bool InterObjRep::dependsOn(InterObjRep* o) {
    if (!o || o->isClone() || !o->signature()) return false;
    std::vector<SignatureRep*> signatures;
    dependencySignatures(signatures);
    return std::find(signatures.begin(), signatures.end(), o->signature()) != signatures.end();
}

void InterObjRep::dependencySignatures(std::vector<SignatureRep*>& out) {
    auto ancestry = [&out](InterObjRep* o) {
        for (SignatureRep* s = o->signature(); s; s = s->parent()) out.push_back(s);
    };
    if (InterObjRep* r = rootObj(0)) {
        ancestry(r);
        if (r->isHosted())
            if (InterObjRep* rh = r->rootHost()) ancestry(rh);
    }
    InterObjEmbedIterator embeds(this);
    while (embeds()) {
        InterObjRep* e = embeds.embed();
        if (e && e != this) e->dependencySignatures(out);
    }
}

bool InterObjRep::subsumes(InterObjRep* o) {
    if (canBeTreatedAs(o)) return true;
    InterObjEmbedIterator embeds(this);
    while (embeds()) {
        InterObjRep* e = embeds.embed();
        if (e && e != this && e->subsumes(o)) return true;
    }
    return false;
}

// ---- instance data -------------------------------------------------------------------

uint8_t* InterObjRep::RWIDataPtr(int32_t offset, int32_t size) {
    if (!data_ && dataSize_) throw Is_Null("InterObjRep::iDataPtr()", 32744);
    // Defensive: a block out of step with its signature would let a field
    // write outside it.
    if (offset < 0 || size < 0 || static_cast<uint64_t>(offset) + size > dataSize_)
        throw Is_Null("InterObjRep::iDataPtr()", 32743);
    return data_.get() + offset;
}

const uint8_t* InterObjRep::ROIDataPtr(int32_t offset, int32_t size) { return RWIDataPtr(offset, size); }

void InterObjRep::swapData(std::unique_ptr<uint8_t[]>& block, uint32_t size) {
    data_ = std::move(block);
    dataSize_ = size;
    changed();
}

void InterObjRep::removeBytes(uint32_t at, uint32_t n) {
    TQ_ASSERT(at + n <= dataSize_, "at + n <= dataSize()");
    std::memmove(data_.get() + at, data_.get() + at + n, dataSize_ - at - n);
    dataSize_ -= n;
    changed();
}

void InterObjRep::dataFieldConstruct(DataField& f, SignatureRep& owner) { f.fldConstructor(*this, owner); }
void InterObjRep::dataFieldDestruct(DataField& f, SignatureRep& owner) { f.fldDestructor(*this, owner); }

// ---- fields and events -------------------------------------------------------------------

void InterObjRep::addField(Field* f, Value* init, int prepend) {
    FieldPtr hold(f);
    if (!isPropertyAddAllowed()) throw AccessDenied("InterObjRep::addField()", 32755);
    if (isProto()) {
        checkNoChildDefines(f->name(), f->isMethod(), "InterobjRep::addField()");
        signature()->addField(f, init, prepend);
        return;
    }
    if (!isStaticallyRooted()) throw UnnamedSignature("InterObjRep::addField()", 32721);
    discriminateClone();
    try {
        signature()->addField(f, init, prepend);
    } catch (...) {
        undiscriminateProto();
        throw;
    }
}

// A name this prototype gives a field must not be a field of a child
// signature already: the child's field would hide it there (two methods of
// one name are an override, which is allowed).
void InterObjRep::checkNoChildDefines(const char* name, bool isMethod, const char* where) const {
    std::vector<SignatureRep*> sigs;
    signature()->collectSubtree(sigs);
    for (size_t i = 1; i < sigs.size(); ++i) {
        Field* theirs = sigs[i]->fields().pvalue(name);
        if (theirs && (!isMethod || !theirs->isMethod())) throw CollisionOnChild(where);
    }
}

void InterObjRep::removeField(const char* name) {
    if (!isPropertyDeleteAllowed()) throw AccessDenied("InterObjRep::removeField()", 32755);
    if (isClone()) throw CollisionOnParent("SignatureRep::removeDataField()");
    signature()->removeField(name);
}

void InterObjRep::removeField(const InterObjRep* embedded) {
    if (!isPropertyDeleteAllowed()) throw AccessDenied("InterObjRep::removeField()", 32755);
    if (isClone()) throw CollisionOnParent("SignatureRep::removeDataField()");
    SignatureRep* owner = nullptr;
    Field* f = EmbedFieldOf(*this, embedded, owner);
    if (!f) throw StoreException(32726);
    if (owner != signature()) throw CollisionOnParent("SignatureRep::removeDataField()");
    FieldPtr hold(f);
    static_cast<EmbedObjField*>(f)->yieldEmbed(*this, *owner);
    signature()->removeField(f->name());
}

void InterObjRep::forciblyRemoveField(const char* name) {
    if (!isPropertyDeleteAllowed()) throw AccessDenied("InterObjRep::forciblyRemoveField()", 32755);
    SignatureRep* owner = nullptr;
    Field* f = signature()->findField(name, owner, 0);
    if (!f) throw NotFound(32737, name);
    if (owner != signature() || isClone()) {
        if (isClone()) {
            if (!isStaticallyRooted()) throw UnnamedSignature("InterObjRep::forciblyRemoveField()", 32721);
            discriminateClone();
        }
        signature()->subsumeParent(owner);
    }
    removeField(name);
}

void InterObjRep::renameField(const InterObjRep* embedded, const char* newName) {
    if (!isPropertyAddAllowed()) throw AccessDenied("InterObjRep::renameField()", 32755);
    if (!IsIdentifierValid(newName)) throw InvalidObjectName(32708, newName);
    SignatureRep* owner = nullptr;
    Field* f = EmbedFieldOf(*this, embedded, owner);
    if (!f) throw StoreException(32726);
    if (std::strcmp(f->name(), newName) == 0) return;
    if (isClone() || owner != signature()) throw CollisionOnParent("InterObjRep::renameField()");
    if (findField(newName)) throw CollisionOnParent("InterObjRep::renameField()");
    checkNoChildDefines(newName, false, "InterObjRep::renameField()");
    signature()->renameField(f, newName);
    StoreApplication::EmbedRenamed(InterObj(const_cast<InterObjRep*>(embedded)));
}

void InterObjRep::redimArrayField(SignatureRep& owner, InterArrayField* f, int preserve) {
    FieldPtr hold(f);
    if (!isPropertyAddAllowed()) throw AccessDenied("InterObjRep::redimArrayField()", 32755);
    // A resize that cannot be made must fail before a clone is turned into
    // a prototype for it.
    owner.checkRedim(f);
    if (isLocalVarCopy()) {
        // A frame's locals are its own: the resize must reach neither the
        // procedure's other frames (recursion) nor the size its next call
        // starts with.
        SignatureRep* own = privateLocalsSignature();
        own->redimArrayField(f, preserve);
    } else if (isClone()) {
        if (!isStaticallyRooted()) throw UnnamedSignature("InterObjRep::redimArrayField()", 32721);
        discriminateClone();
        signature()->subsumeParent(&owner);
        signature()->redimArrayField(f, preserve);
    } else {
        owner.redimArrayField(f, preserve);
    }
    StoreApplication::FieldChanged();
}

SignatureRep* InterObjRep::privateLocalsSignature() {
    SignatureRep* S = signature();
    if (S->objects().length() == 1 && !S->parent()) return S;
    // A signature of the frame's own that holds every field itself (so the
    // locals keep their offsets) and lives in no module, so it is never
    // saved; it goes with the locals object. The object stays a copy: its
    // object fields keep the counted references a frame's copies hold.
    Signature keepS(S);
    Signature own = S->makeChild(DETACHED_MODULE);
    while (own->parent()) own->subsumeParent();
    S->removeWorker(this, moduleIndex());
    signature_ = own;
    own->addObject(this, 0);
    return own.get();
}

bool InterObjRep::followPrivateLocals(FieldPtr& field, Signature& owner) {
    SignatureRep* s = isLocalVarCopy() ? signature() : nullptr;
    if (!s || !field || s->hasSignature(owner.get())) return false;
    SignatureRep* now = nullptr;
    Field* f = s->findField(field->name(), now, 0);
    if (!f || !now || f->type() != field->type()) return false;
    field = f;
    owner = Signature(now);
    return true;
}

void InterObjRep::arrayFieldRedim(InterArrayField& oldField, InterArrayField& newField, uint32_t at,
                                  std::unique_ptr<uint8_t[]>& block, int preserve, std::vector<uint8_t>& dropped) {
    TQ_ASSERT(oldField.fieldOffset() == newField.fieldOffset(), "of->fieldOffset() == nf->fieldOffset()");
    const uint32_t oldSize = static_cast<uint32_t>(oldField.size());
    const uint32_t newSize = static_cast<uint32_t>(newField.size());
    TQ_ASSERT(dataSize_ >= at + oldSize, "dataSize() >= at + oldSize");
    uint8_t* b = block.get();
    uint8_t* d = data_.get();
    if (at) std::memcpy(b, d, at);
    oldField.rebuildElements(newField, d + at, b + at, *this, preserve != 0, dropped);
    const uint32_t tail = dataSize_ - at - oldSize;
    if (tail) std::memcpy(b + at + newSize, d + at + oldSize, tail);
    swapData(block, dataSize_ - oldSize + newSize);
}

bool InterObjRep::definesField(Field* f, const char* name) {
    Field* own = signature() ? signature()->fields().pvalue(name) : nullptr;
    return own && (!f || own == f);
}

Field* InterObjRep::findField(const char* name) {
    SignatureRep* owner = nullptr;
    return signature() ? signature()->findField(name, owner, 0) : nullptr;
}

Field* InterObjRep::findField(const InterObjRep* embedded) {
    SignatureRep* owner = nullptr;
    return EmbedFieldOf(*this, embedded, owner);
}

Field* InterObjRep::findField(const InterObjRep* embedded, SignatureRep*& owner) {
    return EmbedFieldOf(*this, embedded, owner);
}

MemberPtr InterObjRep::getMember(const char* name) {
    SignatureRep* owner = nullptr;
    Field* f = signature() ? signature()->findField(name, owner, 0) : nullptr;
    return f ? f->getMember(*this, *owner) : MemberPtr();
}

void InterObjRep::addEventDef(EventDef* e) {
    TQ_ASSERT(signature() != nullptr, "signature().is()");
    e->ref();
    struct Drop {
        EventDef* e;
        ~Drop() { e->deref(); }
    } drop{e};
    if (!isPropertyAddAllowed()) throw AccessDenied("InterObjRep::addEventDef()", 32755);
    if (isProto()) {
        signature()->addEventDef(e);
        return;
    }
    if (!isStaticallyRooted()) throw UnnamedSignature("InterObjRep::addEventDef()", 32721);
    discriminateClone();
    try {
        signature()->addEventDef(e);
    } catch (...) {
        undiscriminateProto();
        throw;
    }
}

void InterObjRep::removeEventDef(const char* name) {
    if (!isPropertyDeleteAllowed()) throw AccessDenied("InterObjRep::removeEventDef()", 32755);
    if (isClone()) throw CollisionOnParent("InterObjRep::removeEventDef()");
    signature()->removeEventDef(name);
}

void InterObjRep::forciblyRemoveEventDef(const char* name) {
    if (!isPropertyDeleteAllowed()) throw AccessDenied("InterObjRep::forciblyRemoveField()", 32755);
    SignatureRep* owner = nullptr;
    if (!signature()->findEventDef(name, owner)) throw NotFound(32720, name);
    if (owner != signature() || isClone()) {
        if (isClone()) {
            if (!isStaticallyRooted()) throw UnnamedSignature("InterObjRep::forciblyRemoveField()", 32721);
            discriminateClone();
        }
        signature()->subsumeParent(owner);
    }
    removeEventDef(name);
}

EventDef* InterObjRep::findEventDef(const char* name) {
    SignatureRep* owner = nullptr;
    return signature() ? signature()->findEventDef(name, owner) : nullptr;
}

// ---- evaluation ------------------------------------------------------------------------

ValuePtr InterObjRep::eval(const char* name, IdType type, const ValueList* args, SignatureRep* from,
                           int32_t flags, int* handled, MemberPtr* cache) {
    if (handled) *handled = 0;
    if (isDestroyed() && isDestroyStarted()) return ValuePtr();
    MemberPtr member = cache ? *cache : MemberPtr();
    if (!member) {
        SignatureRep* start = from ? from : signature();
        SignatureRep* owner = nullptr;
        Field* f = start ? start->findField(name, owner, flags) : nullptr;
        if (f) member = f->getMember(*this, *owner);
        if (cache) *cache = member;
    }
    if (!member) {
        // A member the signature does not define is the compiled part's to
        // answer (a Group broadcasts it to its members).
        if (comp_) return comp_->extEval(name, type, args, handled, flags);
        return ValuePtr();
    }
    if (handled) *handled = 1;
    return member->memberEval(type, args, flags);
}

ValuePtr InterObjRep::eval(const char* name) { return eval(name, IDT_UNTYPED, nullptr, nullptr, 0, nullptr, nullptr); }

ValuePtr InterObjRep::eval(const ValueList* args, int* handled) {
    // An object applied to arguments is its compiled part's to answer;
    // interpreted objects have no such member.
    if (comp_ && !isDestroyed()) return comp_->eval(args, handled);
    if (handled) *handled = 0;
    return ValuePtr();
}

ValuePtr InterObjRep::evalIMember(const char* name, ValueList* args, int* handled) {
    return eval(name, IDT_UNTYPED, args, nullptr, EVAL_DOTTED, handled, nullptr);
}

std::string InterObjRep::constructEventName(const char* name) {
    InterObjRep* h = host();
    if (!h) return name;
    SignatureRep* owner = nullptr;
    Field* f = EmbedFieldOf(*h, this, owner);
    return f ? std::string(f->name()) + "_" + name : std::string(name);
}

Field* InterObjRep::findEventHandler(const char* name, InterObjRep*& handlerObject) {
    handlerObject = nullptr;
    auto isHandler = [](Field* f) { return f && (f->isMethod() || f->isInterProcDataField()); };
    InterObjRep* h = nullptr;
    std::string handler;
    if (HostHandlerName(*this, name, h, handler)) {
        if (Field* f = h->findField(handler.c_str()); isHandler(f)) {
            handlerObject = h;
            return f;
        }
    }
    if (Field* f = findField(name); isHandler(f)) {
        handlerObject = this;
        return f;
    }
    // Objects have no compiled part yet to ask.
    return nullptr;
}

void InterObjRep::evalIEvent_Return(const char* name, ValueList* args, ValuePtr& result, int mustExist) {
    result.reset();
    if (isDestroyStarted() || ObjectStore::LockState() != LOCK_NORMAL) return;
    RaiseEvent(*this, name, args, result, mustExist);
}

void InterObjRep::evalIEvent(const char* name, ValueList* args, int mustExist) {
    ValuePtr ignored;
    evalIEvent_Return(name, args, ignored, mustExist);
}

void InterObjRep::evalIEvent_NoThrow(const char* name, ValueList* args, int mustExist) {
    try {
        evalIEvent(name, args, mustExist);
    } catch (StoreException& e) {
        StoreApplication::HandleException(e);
    }
}

void InterObjRep::evalICopy(InterObjRep* src) {
    ValueList args;
    args.append(new ObjectValue(InterObj(src)));
    evalIEvent("Construct", &args, 0);
}

void InterObjRep::evalIDelete() {
    // destroy() raises "Destruct" once its destruction has started, when
    // every other event is refused: so it runs exactly once, while the
    // object is still whole. An object already destroyed, or a locked
    // store, raises nothing.
    if (isDestroyed() || ObjectStore::LockState() != LOCK_NORMAL) return;
    ValuePtr ignored;
    RaiseEvent(*this, "Destruct", nullptr, ignored, 0);
}

void InterObjRep::deepDataMemberSet(const char* name, Value* v) {
    SignatureRep* owner = nullptr;
    Field* f = signature()->findField(name, owner, 0);
    if (!f) throw NotFound(32737, name);
    if (!f->isData()) throw TypeMismatch("InterObjRep::deepDataMemberSet()", 32765);
    FieldPtr hold(f);
    Signature keepOwner(owner);
    // Values are read and written through the field directly: the objects
    // of the progeny are not counted on the way, so none of them meets a
    // last release here.
    ValuePtr old = SnapshotField(*f, *this, *owner);
    AssignField(*f, *this, *owner, *v);
    auto update = [&](InterObjRep* o) {
        if (!o || o == this || o->isDestroyed() || !o->signature() || !o->signature()->hasSignature(owner))
            return;
        ValuePtr theirs = SnapshotField(*f, *o, *owner);
        if ((*theirs == *old) != 0) AssignField(*f, *o, *owner, *v);
    };
    if (isProto())
        signature()->forProgeny(update);
    else if (isEmbeddedObj())
        PropagateChangeFunction(update, 0);
}

// Converts each argument for its parameter field, in place: the list then
// holds (and keeps alive for the call) the values that by-reference
// parameters refer to. f receives each parameter field and its argument.
template <class F>
void InterObjRep::convertArguments(ValueList* args, F&& f) {
    SignatureRep* s = signature();
    const FieldPtrList& fields = s->fields();
    const int32_t given = args ? args->length() : 0;
    if (given > static_cast<int32_t>(fields.length()))
        throw TooManyArguments("InterObjRep::checkBindings()", 32763);
    if (given < static_cast<int32_t>(fields.length()))
        throw TooFewArguments("InterObjRep::checkBindings()", 32762);
    ValueList converted;
    int32_t next = 0;
    for (size_t i = 0; i < fields.length(); ++i) {
        Field* field = fields.at(i);
        if (!field->isInterDataField()) continue;
        if (next >= given) throw TooFewArguments("InterObjRep::checkBindings()", 32762);
        ValuePtr v(args->at(next++));
        field->typeConvert(v);
        f(*static_cast<InterDataField*>(field), v.get());
        converted.append(v.get());
    }
    while (next < given) converted.append(args->at(next++));
    // A call without an argument list has nothing to keep.
    if (args) *args = std::move(converted);
}

void InterObjRep::checkBindings(ValueList* args) {
    convertArguments(args, [](InterDataField& f, Value* v) {
        f.checkBinding(v);
        v->setByRef(f.isByReference());
    });
}

InterObjRep* InterObjRep::bind(ValueList* args) {
    convertArguments(args, [](InterDataField& f, Value* v) { f.checkBinding(v); });
    InterObjRep* w = NewCopy(*this, DETACHED_MODULE, IOT_WORKER);
    try {
        bindFields(*w, args);
    } catch (...) {
        w->destroy();
        throw;
    }
    return w;
}

bool InterObjRep::bindInto(ValueList* args, InterObjRep& w) {
    if (w.signature() != signature() || w.dataSize_ != dataSize_ || !w.isWorkerObj() || w.isDestroyStarted())
        return false;
    convertArguments(args, [](InterDataField& f, Value* v) { f.checkBinding(v); });
    // As a new copy starts: this prototype's bytes, made the worker's own.
    if (dataSize_) std::memcpy(w.data_.get(), data_.get(), dataSize_);
    SignatureRep* s = signature();
    try {
        s->fieldConstructors(w);
        bindFields(w, args);
    } catch (...) {
        w.releaseWorkerData();
        throw;
    }
    return true;
}

InterObjRep* InterObjRep::bindAsFar(ValueList* args) {
    SignatureRep* s = signature();
    const FieldPtrList& fields = s->fields();
    const int32_t given = args ? args->length() : 0;
    ValueList kept;
    InterObjRep* w = NewCopy(*this, DETACHED_MODULE, IOT_WORKER);
    try {
        int32_t next = 0;
        for (size_t i = 0; i < fields.length() && next < given; ++i) {
            Field* field = fields.at(i);
            if (!field->isInterDataField()) continue;
            auto* f = static_cast<InterDataField*>(field);
            ValuePtr v(args->at(next++));
            try {
                f->typeConvert(v);
                f->checkBinding(v.get());
            } catch (const StoreException&) {
                continue;
            }
            f->bind(*w, *s, v.get());
            kept.append(v.get());
        }
    } catch (...) {
        w->destroy();
        throw;
    }
    if (args) *args = std::move(kept);
    return w;
}

void InterObjRep::bindFields(InterObjRep& w, ValueList* args) {
    SignatureRep* s = signature();
    int32_t next = 0;
    for (size_t i = 0; i < s->fields().length(); ++i) {
        Field* f = s->fields().at(i);
        if (!f->isInterDataField()) continue;
        static_cast<InterDataField*>(f)->bind(w, *s, args->at(next++));
    }
}

void InterObjRep::releaseWorkerData() {
    if (SignatureRep* s = signature()) s->fieldDestructors(*this);
    if (dataSize_) std::memset(data_.get(), 0, dataSize_);
}

std::string InterObjRep::getExtEventList() {
    std::string out;
    InterObjEventDefIterator events(this);
    while (EventDef* e = events()) out += std::string(e->name()) + "\n";
    out += "Attach\nConstruct\nDestruct\nPreload\nTextUnload\n";
    return out;
}

const char* InterObjRep::getExtEventProto(const char* name, unsigned char& isFunction, int& found) {
    static const struct {
        const char* name;
        const char* args;
        unsigned char function;
    } kStandard[] = {
        {"Attach", "()", 0},
        {"Construct", "(src As Object)", 0},
        {"Destruct", "()", 0},
        {"Preload", "()", 0},
        {"TextUnload", "(ByVal indent As String, cmds As String)", 1},
    };
    for (const auto& s : kStandard) {
        if (name && std::strcmp(name, s.name) == 0) {
            isFunction = s.function;
            found = 1;
            return s.args;
        }
    }
    found = 0;
    isFunction = 0;
    return nullptr;
}

int32_t InterObjRep::getLocalEventCount() {
    int32_t n = 0;
    InterObjEventDefIterator events(this);
    while (events()) ++n;
    return n;
}

void InterObjRep::PropagateChangeFunction(const std::function<void(InterObjRep*)>& fn, int withProgeny) {
    if (isProto() && withProgeny) {
        signature()->forProgeny([&](InterObjRep* o) {
            if (o != this) fn(o);
        });
        fn(this);
        return;
    }
    if (isEmbeddedObj()) {
        std::vector<std::string> path;
        InterObjRep* obj = this;
        InterObjRep* h = host();
        while (h) {
            SignatureRep* fo = nullptr;
            Field* ef = EmbedFieldOf(*h, obj, fo);
            if (!ef) break;
            path.emplace_back(ef->name());
            if (h->isProto()) {
                std::reverse(path.begin(), path.end());
                h->signature()->forProgeny([&](InterObjRep* p) {
                    InterObjRep* target = p;
                    for (const std::string& step : path) {
                        SignatureRep* so = nullptr;
                        Field* sf = target->signature()->findField(step.c_str(), so, 0);
                        if (!sf || !sf->isEmbed()) return;
                        target = static_cast<EmbedObjField*>(sf)->slot(*target, *so).get();
                        if (!target) return;
                    }
                    if (target != this) fn(target);
                });
                break;
            }
            obj = h;
            h = h->host();
        }
    }
    fn(this);
}

// ---- hierarchy edits ----------------------------------------------------------------

void InterObjRep::discriminateClone() {
    changed();
    SignatureRep* S = signature();
    EmbedObjField* field = nullptr;
    InterObjRep* h = host();
    if (isEmbeddedObj()) {
        SignatureRep* owner = nullptr;
        Field* f = h ? EmbedFieldOf(*h, this, owner) : nullptr;
        if (!f || owner != h->signature() || h->isClone())
            throw AccessDenied("InterObjRep::discriminateClone()", 32684);
        field = static_cast<EmbedObjField*>(f);
    }
    Signature keepS(S);
    lastDiscrimination = {this, static_cast<size_t>(std::max(S->objectIndex(this), 0)),
                          field && field->typeName() ? field->typeName() : ""};
    S->removeObject(this);
    Signature child = S->makeChild(moduleIndex());
    signature_ = child;
    child->addObject(this, 1);
    flags_ &= static_cast<uint8_t>(~kClone);
    if (field) {
        field->setTypeName(alias().c_str());
        // The host's clones embed clones of this object's old signature:
        // they follow it into the new one.
        SignatureRep* hostSig = h->signature();
        hostSig->forProgeny([&](InterObjRep* o) {
            if (o == h) return;
            InterObjRep* theirs = field->slot(*o, *hostSig).get();
            if (theirs && theirs != this && theirs->signature() == S) theirs->reparent(child.get());
        });
    }
}

void InterObjRep::undiscriminateProto() {
    TQ_ASSERT(isProto(), "isProto()");
    SignatureRep* N = signature();
    Signature keepN(N);
    SignatureRep* S = N->parent();
    TQ_ASSERT(S != nullptr, "parent()");
    Signature keepS(S);
    const bool remembered = lastDiscrimination.obj == this;
    if (isEmbeddedObj()) {
        InterObjRep* h = host();
        SignatureRep* owner = nullptr;
        Field* f = h ? EmbedFieldOf(*h, this, owner) : nullptr;
        if (f) {
            auto* field = static_cast<EmbedObjField*>(f);
            InterObjRep* oldProto = S->protoObject();
            field->setTypeName(remembered ? lastDiscrimination.typeName.c_str()
                                          : (oldProto ? oldProto->alias().c_str() : ""));
            SignatureRep* hostSig = h->signature();
            hostSig->forProgeny([&](InterObjRep* o) {
                if (o == h) return;
                InterObjRep* theirs = field->slot(*o, *hostSig).get();
                if (theirs && theirs != this && theirs->signature() == N) theirs->reparent(S);
            });
        }
    }
    N->removeObject(this);
    signature_ = S;
    N->unmakeChild();
    flags_ |= kClone;
    if (remembered)
        S->addObjectAt(this, lastDiscrimination.index);
    else
        S->addObject(this, 1);
    lastDiscrimination = {};
    changed();
}

void InterObjRep::reparent(SignatureRep* sig) {
    TQ_ASSERT(sig != nullptr, "sig");
    SignatureRep* own = signature();
    if (sig == own) return;
    if (isProto()) {
        // The prototype's signature moves under sig; its section must start
        // where it started.
        if (sig->hasSignature(own) || sig->iDataSize() != own->parentDataSize())
            throw TypeMismatch("InterObjRep::reparent()", 32765);
        own->setParent(sig);
        return;
    }
    if (sig->iDataSize() != own->iDataSize()) throw TypeMismatch("InterObjRep::reparent()", 32765);
    Signature keep(own);
    own->removeObject(this);
    signature_ = sig;
    sig->addObject(this, 1);
    changed();
}

void InterObjRep::subsumeParent() {
    SignatureRep* above = isProto() ? signature()->parent() : signature();
    if (!above || above->isGuidHolder() || (isClone() && !above->parent()))
        throw StoreException("The parent signature cannot be subsumed.", nullptr);
    if (isClone()) {
        if (!isStaticallyRooted()) throw UnnamedSignature("InterObjRep::subsumeParent()", 32721);
        discriminateClone();
    }
    signature()->subsumeParent();
}

InterObjRep* InterObjRep::Abstract(const char* name) {
    const tModuleIndex m = moduleIndex() == DETACHED_MODULE ? DETACHED_MODULE : moduleIndex();
    if (!isEmbeddedObj()) {
        InterObjRep* root = rootObj(0);
        NamedInterObjRep* a = NewNamed(name, root, m, IOT_ORDINARY);
        if (a->isClone()) a->discriminateClone();
        reparent(a->signature());
        return a;
    }
    InterObjRep* h = host();
    SignatureRep* owner = nullptr;
    Field* f = h ? EmbedFieldOf(*h, this, owner) : nullptr;
    if (!f || owner != h->signature()) throw CollisionOnParent("discriminate");
    auto* field = static_cast<EmbedObjField*>(f);
    InterObjRep* result;
    if (isProto()) {
        result = signature()->createNewPrototype(name);
    } else {
        NamedInterObjRep* a = NewNamed(name, this, m, IOT_ORDINARY);
        a->discriminateClone();
        reparent(a->signature());
        result = a;
    }
    field->setTypeName(name);
    SignatureRep* target = result->signature();
    SignatureRep* hostSig = h->signature();
    hostSig->forProgeny([&](InterObjRep* o) {
        if (o == h) return;
        InterObjRep* theirs = field->slot(*o, *hostSig).get();
        if (theirs && theirs != this && theirs->signature() != target && theirs->isClone() &&
            target->hasSignature(theirs->signature()) &&
            theirs->signature()->iDataSize() == target->iDataSize())
            theirs->reparent(target);
    });
    return result;
}

// ---- life -------------------------------------------------------------------------------

void InterObjRep::unembedded(InterObjRep* embedded) {
    SignatureRep* owner = nullptr;
    if (Field* f = EmbedFieldOf(*this, embedded, owner)) {
        auto& slot = static_cast<EmbedObjField*>(f)->slot(*this, *owner);
        slot = nullptr;
        changed();
    }
}

void EmbeddedInterObjRep::unhosted() {
    host_ = nullptr;
    changed();
}

void InterObjRep::destroy() {
    TQ_ASSERT(!isDestroyStarted(), "!isDestroyStarted()");
    if (!isWorkerObj() && !isAllAccessAllowed()) throw AccessDenied("InterObjRep::destroy()", 32755);
    flags_ |= kDestroyStarted;
    const bool wasDestroyed = isDestroyed();
    const bool wasDetached = isDetached();
    const tModuleIndex from = moduleIndex();
    flags_ &= static_cast<uint8_t>(~kDestroyed);
    std::string fieldToRemove;
    InterObjRep* hostOfField = nullptr;
    if (!isWorkerObj()) {
        TQ_ASSERT(!ObjectStore::DeletingModule(moduleIndex()), "!ObjectStore::DeletingModule(moduleIndex())");
        // A failing Destruct handler does not stop the destruction half
        // way: its failure goes to the application, as the failure of a
        // last release does.
        try {
            evalIDelete();
        } catch (StoreException& e) {
            try {
                StoreApplication::HandleException(e);
            } catch (const StoreException&) {
            }
        }
        if (isDynamicObj()) ObjectStore::removeDynamicObject(*this, moduleIndex());
        if (isStaticObj()) ObjectStore::removeStaticGlobal(*this, moduleIndex());
        DumpCache();
        InterObjRep* h = host();
        if (isEmbeddedObj() && h && !h->isWorkerObj()) {
            SignatureRep* owner = nullptr;
            Field* f = EmbedFieldOf(*h, this, owner);
            h->unembedded(this);
            if (f && owner == h->signature() && !h->isClone() && !h->isDestroyStarted()) {
                fieldToRemove = f->name();
                hostOfField = h;
            }
        }
    }
    flags_ |= kDestroyed;
    ++destroyedObjects;
    if (!wasDetached) ObjectStore::RemovePreload(this);
    if (!isDetached()) DescribedObject<InterObjRep>::attach(DETACHED_MODULE);
    clearHandleCell();
    if (SignatureRep* s = signature()) s->fieldDestructors(*this);
    if (isWorkerObj()) {
        if (SignatureRep* s = signature(); s && !s->isDestroying()) s->removeWorker(this, from);
        delete this;
        return;
    }
    // The signature's list must not name an object that will be freed;
    // the object has left its module already, so the proxies of the module
    // it was in are told by name.
    if (SignatureRep* s = signature(); s && !s->isDestroying()) {
        s->removeObject(this);
        s->noteProxies(from);
    }
    releaseCompiledPart();
    signature_ = nullptr;
    awaitingDeletion.push_back(this);
    if (hostOfField) hostOfField->removeField(fieldToRemove.c_str());
    if (!(wasDetached && !wasDestroyed)) StoreApplication::ObjectDeleted();
}

void InterObjRep::Destroy() {
    if (isDestroyStarted()) return;
    if (!isAllAccessAllowed()) throw AccessDenied("InterObjRep::Destroy()", 32755);
    SignatureRep* s = signature();
    if (isProto() && s) {
        Signature keep(s);
        SignatureRep* p = s->parent();
        s->Destroy();
        if (p) p->removeChildSignature(s);
        return;
    }
    if (s) s->removeObject(this);
    destroy();
}

void InterObjRep::BeginDestroy() {
    if (isEmbeddedObj()) {
        InterObjRep* h = host();
        SignatureRep* owner = nullptr;
        Field* f = h ? EmbedFieldOf(*h, this, owner) : nullptr;
        if (f && owner == h->signature() && h->isProto()) {
            const std::string name = f->name();
            h->removeField(name.c_str());
            return;
        }
    }
    Destroy();
}

void InterObjRep::DeleteObjects() {
    std::vector<InterObjRep*> gone;
    gone.swap(awaitingDeletion);
    for (InterObjRep* o : gone) delete o;
}

size_t InterObjRep::AwaitingDeletion() { return awaitingDeletion.size(); }

void InterObjRep::AttachToModule(tModuleIndex m) {
    if (moduleIndex() == m) return;
    TQ_ASSERT(!isWorkerObj(), "!isWorkerObj()");
    if (isHosted()) throw AccessDenied("InterObjRep::AttachToModule()", 32755);
    attach(m);
    evalIEvent("Attach", nullptr, 0);
}

void InterObjRep::attach(tModuleIndex m) {
    const tModuleIndex old = moduleIndex();
    if (old == m) return;
    if (m != DETACHED_MODULE && !ObjectStore::ValidIndex(m)) throw AccessDenied("InterObjRep::attach()", 32717);
    const bool dynamic = ObjectStore::isListedDynamic(*this, old);
    if (dynamic) ObjectStore::removeDynamicObject(*this, old);
    SignatureRep* s = signature();
    if (s) {
        if (isProto() && s->moduleIndex() == old) s->attach(m);
        s->conditionForAttach(*this, m);
    }
    DescribedObject<InterObjRep>::attach(m);
    // Embedded objects live where their host lives.
    InterObjEmbedIterator embeds(this);
    while (embeds()) {
        InterObjRep* e = embeds.embed();
        if (e && e != this) e->attach(m);
    }
    if (dynamic) ObjectStore::addDynamicObject(*this, m);
    if (comp_) comp_->attach(m);
    changed();
}

void NamedInterObjRep::attach(tModuleIndex m) {
    const tModuleIndex old = moduleIndex();
    if (old == m) return;
    ObjectStore::ValidateNewStaticGlobal(name(), m);
    ObjectStore::removeStaticGlobal(*this, old);
    InterObjRep::attach(m);
    name_.attach(m);
    ObjectStore::addStaticGlobal(*this, m);
}

void EmbeddedInterObjRep::attach(tModuleIndex m) { InterObjRep::attach(m); }

void InterObjRep::softenSignature() {
    signature_.soften(moduleIndex());
    changed();
}

void InterObjRep::hardenToSignature(SignatureRep* sig) { signature_ = sig; }

void InterObjRep::printOn(std::ostream& os, int indent) {
    const std::string pad(static_cast<size_t>(std::max(indent, 0)), ' ');
    os << pad << "InterObjRep: " << static_cast<const void*>(this) << " count(" << refCount()
       << ") descriptor(" << int(moduleIndex()) << ":" << descriptor().descIndex() << ") flags("
       << int(flags_) << ") " << alias() << "\n";
    InterObjFieldIterator fields(this);
    while (Field* f = fields()) {
        os << pad << "  " << f->name();
        std::string decl;
        f->declarationText(decl, this);
        if (!decl.empty()) os << ": " << decl;
        os << "\n";
    }
}

// ---- other modules -------------------------------------------------------------------

void InterObjRep::duplicateProxyFields(SignatureProxy& p) {
    for (Field* f : ProxyLayoutOrder(p.expectedFields())) {
        FieldPtr copy(f->clone());
        addField(copy.get(), nullptr, 0);
    }
}

void InterObjRep::releaseForUnload() {
    if (isDestroyed() || !data_ || (flags_ & kDataReleased)) return;
    releaseData();
    releaseCompiledPart();
    // Zeros read as null references and empty values, should anything look
    // before the object is freed.
    std::memset(data_.get(), 0, dataSize_);
    flags_ |= kDataReleased;
}

void InterObjRep::SoftenReferencesInto(tModuleIndex m) {
    auto softenData = [m](InterObjRep* o, tModuleIndex holder) {
        if (!o || o->isDestroyed() || !o->data_ || (o->flags_ & kDataReleased) ||
            o->signature_.isDescriptor())
            return;
        for (SignatureRep* t = o->signature_.get(); t; t = t->loadedParent()) {
            SignatureRep* p = t->loadedParent();
            const uint32_t start = p ? p->iDataSize() : 0;
            for (size_t i = 0; i < t->fields().length(); ++i) {
                Field* f = t->fields().at(i);
                if (!f->isData() || f->size() <= 0) continue;
                const uint32_t at = start + static_cast<uint32_t>(static_cast<DataField*>(f)->fieldOffset());
                if (static_cast<uint64_t>(at) + static_cast<uint32_t>(f->size()) > o->dataSize_) continue;
                f->softenDataInto(o->data_.get() + at, holder, m);
            }
        }
    };
    for (tModuleIndex k = ObjectStore::NextValidIndex(DETACHED_MODULE); k != DETACHED_MODULE;
         k = ObjectStore::NextValidIndex(k)) {
        if (k == m) continue;
        DescribedObjectIterator<SignatureRep> sigs(k);
        while (SignatureRep* s = sigs.nextFaulted())
            for (size_t i = 0; i < s->fields().length(); ++i) s->fields().at(i)->softenInto(k, m);
        DescribedObjectIterator<InterObjRep> objs(k);
        while (InterObjRep* o = objs.nextFaulted()) softenData(o, k);
    }
    ObjectStore::Dictionary(DETACHED_MODULE).forEach(
        [&](StaticGlobals::Entry& e) { softenData(e.object.get(), DETACHED_MODULE); });
    DynamicObjectList& dynamics = ObjectStore::DynamicsList(DETACHED_MODULE);
    for (size_t i = 0; i < dynamics.length(); ++i) softenData(dynamics[i].get(), DETACHED_MODULE);
}

}  // namespace tq
