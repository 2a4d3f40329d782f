#include "store/model/sigrep.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "platform/com/classreg.h"
#include "platform/com/oleresult.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/iintobj.h"
#include "store/member.h"
#include "store/methfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "store/sigproxy.h"
#include "store/storeapp.h"
#include "store/vals.h"

namespace tq {

namespace {

const char* const kAddWhere = "SignatureRep::addDataField()";

// How deep a chain of signature records may nest while it is read (each
// parent is read inside its child's record): far beyond any real hierarchy,
// well within the native stack.
constexpr int kMaxReadNesting = 512;

}  // namespace

// ---- life ------------------------------------------------------------------------

SignatureRep::SignatureRep(tModuleIndex m) {
    ++liveSignatures;
    if (m != DETACHED_MODULE) DescribedObjectNoDescriptor<SignatureRep>::add(m, *this, desc_);
}

SignatureRep::SignatureRep(tDescriptor d) : DescribedObject<SignatureRep>(d) { ++liveSignatures; }

SignatureRep::~SignatureRep() {
    // Proxies of other modules that are still linked will look the
    // prototype up again when next asked.
    if (proxy_) proxy_->forgetSignature();
    // What was found through this signature, also its parent's fields, is
    // found no more.
    FieldLookupRevision::advance();
    fields_.clear();
    events_.clear();
    objects_.clear();
    children_.clear();
    --liveSignatures;
}

Signature::Signature(tNoParentSig, tModuleIndex m) : Faultp<SignatureRep>(new SignatureRep(m)) {}

void SignatureRep::deref() {
    // A count that is already 0 belongs to a thing read from a file whose
    // references were never counted; nothing holds it that could let go.
    if (refCount() == 0) return;
    if (dropCount() && isDetached() && !destroying_) delete this;
}

SignatureRep* SignatureRep::fault(tDescriptor d) {
    return ProxiedObject<SignatureRep, SignatureProxy>::fault(d);
}

tDescriptor SignatureRep::internalDescriptor(const SignatureRep& s, tModuleIndex m) {
    return ProxiedObject<SignatureRep, SignatureProxy>::internalDescriptor(s, m);
}

// ---- persistence ------------------------------------------------------------------

void SignatureRep::BadRecord(uint32_t index, const std::string& what) {
    const std::string text = "Signatures entry " + std::to_string(index) + ": " + what;
    throw ObjectLoadFailed(text.c_str());
}

SignatureRep* SignatureRep::readFromStream(OCLStream& in, uint32_t, tModuleIndex m,
                                           uint32_t index) {
    // A parent chain that loops is refused by the table (a record that
    // leads back to itself); one that is merely very long stops here.
    const tDescriptor self = tDescriptor::Make(m, index);
    if (DescriptionTable<SignatureRep>::faultDepth > kMaxReadNesting)
        BadRecord(index, "its parent chain is too deep");

    std::unique_ptr<SignatureRep> s(new SignatureRep(self));
    // A thing being read is not yet in its table: destroying it on failure
    // must not report its description deleted.
    struct Forget {
        std::unique_ptr<SignatureRep>& s;
        ~Forget() {
            if (s) s->desc_.setModuleIndex(DETACHED_MODULE);
        }
    } forget{s};

    s->flags_ = in.readU8() & static_cast<uint8_t>(~(kCompFieldsDefined | kGuidSourceCached));
    s->parent_.read(in, m);
    if (s->parent_.flags() != (Faultp<SignatureRep>::kCounted | Faultp<SignatureRep>::kDescriptor))
        BadRecord(index, "its parent reference is not sound");
    // The parent is read now, inside this record: its size lays out this
    // signature's section, and a loop in the chain shows here.
    const tDescriptor pd = s->parent_.descriptor();
    if (!pd.isNull() && !pd.isProxy() && !objectExists(pd))
        BadRecord(index, "its parent does not exist");
    if (pd.isProxy() && !ProxiedObject<SignatureRep, SignatureProxy>::proxyExists(pd))
        BadRecord(index, "its parent names a signature proxy the module does not have");
    SignatureRep* parent = s->parent_.get();

    while (Field* f = Field::makeFrom(in, m)) {
        FieldPtr hold(f);
        if (!s->fields_.append(f)) BadRecord(index, "two of its fields have one name");
    }
    const bool listedTwice = s->readLists(in, index);
    s->iDataSize_ = in.readU32();
    while (EventDef* e = EventDef::makeFrom(in, m)) {
        e->ref();
        const bool added = s->events_.append(e);
        e->deref();
        if (!added) BadRecord(index, "two of its events have one name");
    }
    if (s->flags_ & kGuidHolder) s->classId_ = std::make_unique<GUID>(in.ReadClassStm());

    // The layout must hold before any object is laid out by it: the section
    // starts where the parent's data ends, and the own data fields fill it
    // exactly, each inside it and none over another. Moving fields between
    // signatures (a parent subsumed) relies on the section being exactly
    // the own fields.
    const uint32_t start = parent ? parent->iDataSize_ : 0;
    if (s->iDataSize_ < start) BadRecord(index, "its data size is smaller than its parent's");
    const uint32_t section = s->iDataSize_ - start;
    std::vector<std::pair<int64_t, int64_t>> spans;
    int64_t own = 0;
    for (size_t i = 0; i < s->fields_.length(); ++i) {
        Field* f = s->fields_.at(i);
        if (!f->isData() || f->size() == 0) continue;
        const int64_t off = static_cast<DataField*>(f)->fieldOffset();
        if (off < 0 || off + f->size() > section)
            BadRecord(index, std::string("field ") + f->name() + " lies outside its section");
        spans.emplace_back(off, off + f->size());
        own += f->size();
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) BadRecord(index, "two of its fields overlap");
    if (own != section) BadRecord(index, "its data size is not its parent's and its own fields'");
    if (listedTwice) BadRecord(index, "an object is listed twice");
    // A parent of another module does not list this signature in its own
    // record: the child joins its list now that it is complete.
    if (pd.isProxy() && parent) parent->attachExternalChild(*s);
    return s.release();
}

void SignatureRep::write(OCLStream& out) {
    // Lists still in the file are taken in, with their checks, before any
    // byte of the record is written: a save never writes over damage.
    readStoredLists();
    const tModuleIndex w = ObjectStore::WritingModule();
    out.writeU8(flags_);
    parent_.write(out);
    for (size_t i = 0; i < fields_.length(); ++i)
        if (!fields_.at(i)->isNonWritingField()) fields_.at(i)->write(out);
    out.writeU8(FRK_END);
    const Faultp<InterObjRep> noObject(PrimaryReference, nullptr);
    for (size_t i = 0; i < objects().length(); ++i)
        if (objects()[i].moduleIndex() == w && !objects()[i].isNull()) objects()[i].write(out);
    noObject.write(out);
    const Faultp<SignatureRep> noSignature(PrimaryReference, nullptr);
    for (size_t i = 0; i < children().length(); ++i)
        if (children()[i].moduleIndex() == w && !children()[i].isNull()) children()[i].write(out);
    noSignature.write(out);
    out.writeU32(iDataSize_);
    for (size_t i = 0; i < events_.length(); ++i)
        if (events_.at(i)->isWriteable()) events_.at(i)->write(out);
    out.writeU8(0);
    if (flags_ & kGuidHolder) out.WriteClassStm(*classId_);
}


// ---- look-up ------------------------------------------------------------------------

Field* SignatureRep::findField(const char* name, SignatureRep*& owner, int32_t flags) {
    if (!name) return nullptr;
    const uint32_t hash = IdString::Hash(name);
    bool own = true;
    for (SignatureRep* s = this; s; s = s->parent()) {
        if (Field* f = s->fields_.pvalue(name, hash)) {
            if (own && (flags & kProtectionFlag) && f->isProtected())
                throw StoreException("Protection violation", nullptr);
            owner = s;
            return f;
        }
        own = false;
    }
    return nullptr;
}

EventDef* SignatureRep::findEventDef(const char* name, SignatureRep*& owner) {
    for (SignatureRep* s = this; s; s = s->parent()) {
        if (EventDef* e = s->events_.pvalue(name)) {
            owner = s;
            return e;
        }
    }
    return nullptr;
}

bool SignatureRep::hasSignature(const SignatureRep* s) {
    if (!s) return true;
    for (SignatureRep* t = this; t; t = t->parent())
        if (t == s) return true;
    return false;
}

SignatureRep* SignatureRep::parent() {
    // A parent softened into a proxy when its module went is found again
    // through the proxy, and takes this signature back into its list.
    if (parent_.isDescriptor() && parent_.descriptor().isProxy()) {
        SignatureRep* p = parent_.get();
        if (p) p->attachExternalChild(*this);
        return p;
    }
    return parent_.get();
}

SignatureRep* SignatureRep::loadedParent() const {
    return parent_.isDescriptor() ? nullptr : parent_.get();
}

uint32_t SignatureRep::parentDataSize() {
    SignatureRep* p = parent_.get();
    return p ? p->iDataSize_ : 0;
}

SignatureRep* SignatureRep::guidSrc() {
    if (!(flags_ & kGuidSourceCached)) {
        SignatureRep* holder = nullptr;
        for (SignatureRep* p = parent(); p; p = p->parent())
            if (p->isGuidHolder()) {
                holder = p;
                break;
            }
        guidSource_ = holder;
        flags_ |= kGuidSourceCached;
    }
    return guidSource_.get();
}

SignatureRep* SignatureRep::getCompBase() {
    SignatureRep* p = parent();
    if (!p) return nullptr;
    SignatureRep* holder = p->isGuidHolder() ? p : p->guidSrc();
    return holder && !(holder->flags_ & kCompFieldsDefined) ? holder : nullptr;
}

bool SignatureRep::hasPreloadHandler() {
    for (SignatureRep* s = this; s; s = s->parent())
        if (s->flags_ & kHasPreload) return true;
    return false;
}

int32_t SignatureRep::objectIndex(const InterObjRep* o) {
    return static_cast<int32_t>(objects().indexOf(o));
}

int32_t SignatureRep::depth() {
    int32_t n = 0;
    for (SignatureRep* p = parent(); p; p = p->parent()) ++n;
    return n;
}

void SignatureRep::collectSubtree(std::vector<SignatureRep*>& out) {
    std::vector<SignatureRep*> pending{this};
    while (!pending.empty()) {
        SignatureRep* s = pending.back();
        pending.pop_back();
        // Objects and children held in other modules join the lists first,
        // or a walk over the whole progeny would miss them.
        s->reattachChildren();
        out.push_back(s);
        for (size_t i = s->children().length(); i-- > 0;)
            if (SignatureRep* c = s->children()[i].get()) pending.push_back(c);
    }
}

void SignatureRep::collectProgeny(std::vector<InterObjRep*>& out) {
    std::vector<SignatureRep*> sigs;
    collectSubtree(sigs);
    for (SignatureRep* s : sigs)
        for (size_t i = 0; i < s->objects().length(); ++i)
            if (InterObjRep* o = s->objects()[i].get()) out.push_back(o);
}

void SignatureRep::hardenObjectTree() {
    std::vector<SignatureRep*> sigs;
    collectSubtree(sigs);
    // A module whose lists disagree with the objects' own references would
    // have its layout changes applied to the wrong objects: refuse before
    // anything changes.
    for (SignatureRep* s : sigs) {
        for (size_t i = 0; i < s->children().length(); ++i) {
            SignatureRep* c = s->children()[i].get();
            if (c && c->parent() != s)
                throw ObjectLoadFailed("a child signature names another parent");
        }
        for (size_t i = 0; i < s->objects().length(); ++i) {
            InterObjRep* o = s->objects()[i].get();
            if (o && o->signature() != s)
                throw ObjectLoadFailed("an object is listed by a signature that is not its own");
        }
    }
}

// ---- fields -----------------------------------------------------------------------------

// A field added, removed or renamed changes what a name resolves to: the
// interpreter's cached resolutions (those of running activations and those
// procedures keep between calls) must be made again.
void SignatureRep::addField(Field* f, Value* init, int prepend) {
    FieldPtr hold(f);
    InterObjRep::DumpCache();
    f->attach(moduleIndex());
    f->addField(*this, prepend, init);
}

void SignatureRep::checkDataField(DataField& f) {
    SignatureRep* owner = nullptr;
    Field* found = findField(f.name(), owner, 0);
    if (!found) return;
    if (found->isMethod()) throw DataMethodCollision(kAddWhere);
    if (!found->isData() || !f.typeMatch(static_cast<DataField&>(*found))) {
        if (owner == this) throw CollisionOnSelf(kAddWhere);
        throw CollisionOnParent(kAddWhere);
    }
    if (!(f.isProcDataField() && owner != this)) throw MatchingFieldCollision(kAddWhere);
}

void SignatureRep::addDataField(DataField& f, int prepend) {
    checkDataField(f);
    insertField(f, prepend);
}

void SignatureRep::addMethodField(Field& m, int prepend) {
    SignatureRep* owner = nullptr;
    if (Field* found = findField(m.name(), owner, 0)) {
        if (!found->isMethod()) throw MethodDataCollision(kAddWhere);
        if (owner == this) throw CollisionOnSelf(kAddWhere);
    }
    insertField(m, prepend);
}

void SignatureRep::insertField(Field& f, int prepend) {
    const bool added = prepend ? fields_.prepend(&f) : fields_.append(&f);
    TQ_ASSERT(added, "fields.pvalue(f->fieldID()) == f");
}

// An initial value of another type than the field's is converted by the
// field, as an assignment would convert it (an enumeration field takes an
// entry's name); one that cannot be converted raises the field's failure
// before anything changes.
void SignatureRep::addField(InterDataField& f, int prepend, Value* init) {
    hardenObjectTree();
    checkDataField(f);
    std::vector<SignatureRep*> sigs;
    collectSubtree(sigs);
    // Arrays can be large: no object's data may pass 2 GB.
    for (SignatureRep* s : sigs)
        if (int64_t(s->iDataSize_) + f.size() > INT32_MAX) throw StoreException(32742u);
    std::vector<InterObjRep*> objs;
    collectProgeny(objs);
    // The new bytes; `keep` holds what they name until every object has
    // made them its own.
    std::vector<uint8_t> bytes(static_cast<size_t>(f.size()));
    ValuePtr keep;
    f.initialBytes(init, bytes.data(), keep);
    growObjects(f, prepend, bytes, objs);
    changed();
    // The objects hold the field's bytes; now each makes them its own.
    size_t constructed = 0;
    try {
        for (; constructed < objs.size(); ++constructed)
            f.fldConstructor(*objs[constructed], *this);
    } catch (...) {
        undoGrow(f, objs, constructed);
        throw;
    }
}

void SignatureRep::growObjects(InterDataField& f, int prepend, const std::vector<uint8_t>& bytes,
                               std::vector<InterObjRep*>& objs) {
    const uint32_t size = static_cast<uint32_t>(f.size());
    const uint32_t offset = iDataSize_ - parentDataSize();
    const uint32_t at = parentDataSize() + offset;

    // Every new block is made before any is swapped in, so running out of
    // memory leaves every object as it was.
    std::vector<std::unique_ptr<uint8_t[]>> blocks(objs.size());
    for (size_t i = 0; i < objs.size(); ++i) {
        InterObjRep& o = *objs[i];
        TQ_ASSERT(o.dataSize_ >= at, "dataSize() >= at");
        const uint32_t grown = o.dataSize_ + size;
        blocks[i] = std::make_unique_for_overwrite<uint8_t[]>(grown ? grown : 1);
        uint8_t* b = blocks[i].get();
        if (at) std::memcpy(b, o.data_.get(), at);
        if (size) std::memcpy(b + at, bytes.data(), size);
        if (o.dataSize_ > at) std::memcpy(b + at + size, o.data_.get() + at, o.dataSize_ - at);
    }
    std::vector<SignatureRep*> sigs;
    collectSubtree(sigs);
    fields_.reserveOne();
    // Nothing below can fail.
    f.fieldOffset(static_cast<int32_t>(offset));
    insertField(f, prepend);
    for (SignatureRep* s : sigs) {
        s->iDataSize_ += size;
        s->noteProxies(NO_MODULE);
    }
    for (size_t i = 0; i < objs.size(); ++i) objs[i]->swapData(blocks[i], objs[i]->dataSize_ + size);
}

void SignatureRep::undoGrow(InterDataField& f, std::vector<InterObjRep*>& objs, size_t constructed) {
    FieldPtr hold(&f);
    f.markRemoving(true);
    for (size_t i = 0; i < constructed; ++i) f.fldDestructor(*objs[i], *this);
    shrinkObjects(f, objs);
    f.markRemoving(false);
}

void SignatureRep::shrinkObjects(InterDataField& f, std::vector<InterObjRep*>& objs) {
    const uint32_t size = static_cast<uint32_t>(f.size());
    const int32_t offset = f.fieldOffset();
    const uint32_t at = parentDataSize() + static_cast<uint32_t>(offset);
    fields_.punbind(&f);
    for (InterObjRep* o : objs) o->removeBytes(at, size);
    std::vector<SignatureRep*> sigs;
    collectSubtree(sigs);
    for (size_t i = sigs.size(); i-- > 0;) {
        sigs[i]->iDataSize_ -= size;
        sigs[i]->noteProxies(NO_MODULE);
    }
    moveFieldsAfter(offset, -static_cast<int32_t>(size));
}

void SignatureRep::moveFieldsAfter(int32_t offset, int32_t delta) {
    for (size_t i = 0; i < fields_.length(); ++i) fields_.at(i)->adjustOffset(offset, delta);
}

void SignatureRep::addField(EmbedObjField& f, int prepend, Value* init) {
    InterObjRep* proto = protoObject();
    TQ_ASSERT(proto != nullptr, "proto");
    const bool report = !proto->isWorkerObj();
    if (report && f.circularEmbed(proto)) throw CircularEmbed(kAddWhere, 32756);
    addField(static_cast<InterDataField&>(f), prepend, init);
    if (report) StoreApplication::EmbedAdded(InterObj(proto));
}

void SignatureRep::addField(InterProcDataField& f, int prepend) {
    addDataField(f, prepend);
    changed();
}

void SignatureRep::addField(MethodField& m, int prepend) {
    addMethodField(m, prepend);
    if (!m.isNonWritingField()) changed();
    if (std::strcmp(m.name(), "Preload") == 0) {
        flags_ |= kHasPreload;
        forProgeny([](InterObjRep* o) { ObjectStore::RequestPreload(o); });
    }
}

void SignatureRep::removeField(const char* name) {
    SignatureRep* owner = nullptr;
    Field* f = findField(name, owner, 0);
    if (!f) throw NotFound(32737, name);
    if (owner != this) throw CollisionOnParent("SignatureRep::removeDataField()");
    StoreApplication::BatchNotifies batch;
    FieldPtr hold(f);
    InterObjRep::DumpCache();
    f->removeField(*this);
}

void SignatureRep::removeField(InterDataField* f) {
    hardenObjectTree();
    FieldPtr hold(f);
    std::vector<InterObjRep*> objs;
    collectProgeny(objs);
    InterObjRep* proto = protoObject();
    const bool embed = f->isEmbed();
    f->markRemoving(true);
    for (InterObjRep* o : objs) f->fldDestructor(*o, *this);
    shrinkObjects(*f, objs);
    changed();
    if (embed && proto && !proto->isWorkerObj() && !proto->isDestroyed())
        StoreApplication::EmbedDeleted(InterObj(proto));
}

void SignatureRep::removeField(InterProcDataField* f) {
    TQ_ASSERT(!f->isEmbed(), "!fld->isEmbed()");
    changed();
    fields_.punbind(f);
}

void SignatureRep::removeField(MethodField* m) {
    FieldPtr hold(m);
    changed();
    fields_.punbind(m);
    if (std::strcmp(m->name(), "Preload") == 0) {
        flags_ &= static_cast<uint8_t>(~kHasPreload);
        SignatureRep* p = parent();
        if (!(p && p->hasPreloadHandler()))
            forProgeny([](InterObjRep* o) { ObjectStore::RemovePreload(o); });
    }
}

void SignatureRep::renameField(Field* f, const char* name) {
    TQ_ASSERT(fields_.pvalue(f->name()) == f, "fields.pvalue(f->fieldID()) == f");
    InterObjRep::DumpCache();
    f->rename(name, moduleIndex());
    fields_.renamed(f);
    changed();
    if (f->isInterDataField()) {
        std::vector<SignatureRep*> sigs;
        collectSubtree(sigs);
        for (SignatureRep* s : sigs) s->noteProxies(NO_MODULE);
    }
}

InterArrayField* SignatureRep::checkRedim(InterArrayField* newField) {
    Field* found = newField ? fields_.pvalue(newField->name()) : nullptr;
    InterArrayField* oldField = found && found->isArrayData() ? static_cast<InterArrayField*>(found) : nullptr;
    TQ_ASSERT(oldField && newField, "oldField && newField");
    TQ_ASSERT(oldField->fieldID() == newField->fieldID(), "oldField->fieldID() == newField->fieldID()");
    TQ_ASSERT(!newField->isLaidOut(), "!newField->isLaidOut()");
    // The elements are carried over byte for byte: an array of another
    // element type would read them as what they are not.
    if ((oldField->type() & IDT_TYPEMASK) != (newField->type() & IDT_TYPEMASK))
        throw TypeMismatch("SignatureRep::redimArrayField()", 32765);
    const int64_t delta = int64_t(newField->size()) - oldField->size();
    std::vector<SignatureRep*> sigs;
    collectSubtree(sigs);
    for (SignatureRep* s : sigs)
        if (int64_t(s->iDataSize_) + delta > INT32_MAX) throw StoreException(32742u);
    return oldField;
}

void SignatureRep::redimArrayField(InterArrayField* newField, int preserve) {
    FieldPtr holdNew(newField);
    InterObjRep::DumpCache();
    hardenObjectTree();
    InterArrayField* oldField = checkRedim(newField);
    FieldPtr holdOld(oldField);
    std::vector<InterObjRep*> objs;
    collectProgeny(objs);
    std::vector<SignatureRep*> sigs;
    collectSubtree(sigs);
    const int32_t offset = oldField->fieldOffset();
    const uint32_t at = parentDataSize() + static_cast<uint32_t>(offset);
    const int32_t delta = newField->size() - oldField->size();

    // Everything that can fail comes first: the new blocks, room for the
    // references the dropped elements hold, room in the field list.
    std::vector<std::unique_ptr<uint8_t[]>> blocks(objs.size());
    for (size_t i = 0; i < objs.size(); ++i) {
        const uint32_t size = static_cast<uint32_t>(int64_t(objs[i]->dataSize_) + delta);
        blocks[i] = std::make_unique_for_overwrite<uint8_t[]>(size ? size : 1);
    }
    std::vector<uint8_t> dropped;
    if (oldField->holdsObjects()) {
        const int64_t kept = preserve ? oldField->commonElements(*newField) : 0;
        dropped.reserve(static_cast<size_t>(oldField->elementCount() - kept) * 5 * objs.size());
    }
    fields_.reserveOne();

    // Nothing below fails.
    oldField->markRemoving(true);
    newField->fieldOffset(offset);
    for (size_t i = 0; i < objs.size(); ++i)
        objs[i]->arrayFieldRedim(*oldField, *newField, at, blocks[i], preserve, dropped);
    fields_.punbind(oldField);
    insertField(*newField, 0);
    newField->laidOut();
    // The fields behind the array move. An array without elements takes no
    // bytes and shares its offset with the field that follows it: that one
    // is behind it too (an empty field there stays empty wherever it lies).
    const int32_t behind = oldField->size() == 0 ? offset - 1 : offset;
    for (size_t i = 0; i < fields_.length(); ++i)
        if (fields_.at(i) != newField) fields_.at(i)->adjustOffset(behind, delta);
    for (SignatureRep* s : sigs) {
        s->iDataSize_ = static_cast<uint32_t>(static_cast<int32_t>(s->iDataSize_) + delta);
        s->noteProxies(NO_MODULE);
    }
    changed();
    // Released last, when every object and the signature agree again:
    // letting an object go may run its Destruct handler.
    for (size_t i = 0; i < dropped.size(); i += 5)
        std::launder(reinterpret_cast<Faultp<InterObjRep>*>(&dropped[i]))->~Faultp<InterObjRep>();
}

void SignatureRep::fieldConstructors(InterObjRep& obj) {
    for (SignatureRep* s = this; s; s = s->parent())
        for (size_t i = 0; i < s->fields_.length(); ++i) s->fields_.at(i)->fldConstructor(obj, *s);
}

void SignatureRep::fieldDestructors(InterObjRep& obj) {
    for (SignatureRep* s = this; s; s = s->parent())
        for (size_t i = 0; i < s->fields_.length(); ++i) s->fields_.at(i)->fldDestructor(obj, *s);
}

template <class F>
void SignatureRep::forDataFields(F&& f) {
    for (SignatureRep* s = this; s; s = s->parent()) {
        const uint32_t start = s->parentDataSize();
        for (size_t i = 0; i < s->fields_.length(); ++i) {
            Field* field = s->fields_.at(i);
            if (!field->isData() || field->size() == 0) continue;
            f(*static_cast<DataField*>(field), start + static_cast<uint32_t>(
                                                          static_cast<DataField*>(field)->fieldOffset()));
        }
    }
}

void SignatureRep::conditionForWrite(uint8_t* block, InterObjRep& obj) {
    forDataFields([&](DataField& f, uint32_t at) { f.conditionForWrite(block + at, obj); });
}

void SignatureRep::conditionAfterRead(uint8_t* block, InterObjRep& obj) {
    forDataFields([&](DataField& f, uint32_t at) { f.conditionAfterRead(block + at, obj); });
}

void SignatureRep::conditionForAttach(InterObjRep& obj, tModuleIndex m) {
    uint8_t* block = obj.data_.get();
    forDataFields([&](DataField& f, uint32_t at) { f.conditionForAttach(block + at, obj, m); });
}

void SignatureRep::copyInterDataFields(FieldPtrList& out, tModuleIndex m, int clone) {
    for (SignatureRep* s = this; s; s = s->parent()) {
        for (size_t i = 0; i < s->fields_.length(); ++i) {
            Field* f = s->fields_.at(i);
            if (!f->isInterDataField()) continue;
            FieldPtr copy(clone ? f->clone() : f);
            copy->attach(m);
            out.append(copy.get());
        }
    }
}

// ---- events -----------------------------------------------------------------------------

void SignatureRep::addEventDef(EventDef* e) {
    TQ_ASSERT(e != nullptr, "e");
    e->ref();
    struct Drop {
        EventDef* e;
        ~Drop() { e->deref(); }
    } drop{e};
    SignatureRep* owner = nullptr;
    if (findEventDef(e->name(), owner)) {
        if (owner == this) throw CollisionOnSelf("SignatureRep::addEventDef()");
        throw CollisionOnParent("SignatureRep::addEventDef()");
    }
    changed();
    events_.append(e);
}

void SignatureRep::removeEventDef(const char* name) {
    SignatureRep* owner = nullptr;
    if (!findEventDef(name, owner)) throw NotFound(32720, name);
    if (owner != this) throw CollisionOnParent("SignatureRep::removeEvent()");
    changed();
    events_.punbind(name);
}

// ---- objects and children ----------------------------------------------------------

void SignatureRep::addObject(InterObjRep* o, int notifyProxy) {
    objects_.prepend(o);
    o->listings_ &= static_cast<uint8_t>(~InterObjRep::kOffSignatureList);
    if (o->moduleIndex() == moduleIndex())
        changed();
    else if (notifyProxy)
        noteProxies(o->moduleIndex());
}

void SignatureRep::addObjectAt(InterObjRep* o, size_t index) {
    objects().insertAt(std::min(index, objects().length()), o);
    o->listings_ &= static_cast<uint8_t>(~InterObjRep::kOffSignatureList);
    changed();
}

void SignatureRep::removeObject(const InterObjRep* o) {
    // An object that has left its list already is not looked for: the
    // search would read every clone of the prototype to find nothing.
    if (!o || (o->listings_ & InterObjRep::kOffSignatureList)) return;
    if (!objects_.remove(o) && !removeStored(o)) return;
    o->listings_ |= InterObjRep::kOffSignatureList;
    changed();
    noteProxies(o->moduleIndex());
}

void SignatureRep::removeWorker(const InterObjRep* o, tModuleIndex was) {
    if (!o || (o->listings_ & InterObjRep::kOffSignatureList)) return;
    if (!objects_.remove(o) && !removeStored(o)) return;
    o->listings_ |= InterObjRep::kOffSignatureList;
    if (was == moduleIndex()) changed();
}

void SignatureRep::removeObject(unsigned index) {
    if (index >= objects().length()) return;
    const tModuleIndex m = objects()[index].moduleIndex();
    objects().removeAt(index);
    changed();
    noteProxies(m);
}

void SignatureRep::addChildSignature(SignatureRep& s, int notifyProxy) {
    children().append(&s);
    if (s.moduleIndex() == moduleIndex())
        changed();
    else if (notifyProxy)
        noteProxies(s.moduleIndex());
}

void SignatureRep::removeChildSignature(SignatureRep* s) {
    if (!s || (!children_.remove(s) && !removeStored(s))) return;
    changed();
    noteProxies(s->moduleIndex());
}

void SignatureRep::removeChildSignature(unsigned index) {
    if (index >= children().length()) return;
    const tModuleIndex m = children()[index].moduleIndex();
    children().removeAt(index);
    changed();
    noteProxies(m);
}

void SignatureRep::attachChildObjectRef(InterObjRep& o) {
    const tDescriptor d = o.descriptor();
    for (size_t i = 0; i < objects().length(); ++i) {
        if (objects()[i].descriptor() != d) continue;
        objects().removeAt(i);
        objects().insertAt(i, &o);
        changed();
        return;
    }
}

void SignatureRep::attachChildSignatureRef(SignatureRep& s) {
    const tDescriptor d = s.descriptor();
    for (size_t i = 0; i < children().length(); ++i) {
        if (children()[i].descriptor() != d) continue;
        children().removeAt(i);
        children().insertAt(i, &s);
        changed();
        return;
    }
}

void SignatureRep::makeNewestPrototype() {
    if (objects().length() < 2) return;
    objects().moveToEnd(0);
    changed();
}

// ---- hierarchy ---------------------------------------------------------------------------

void SignatureRep::setParent(SignatureRep* p) {
    changed();
    FieldLookupRevision::advance();
    if (SignatureRep* old = parent_.get()) {
        Signature keep(old);
        parent_ = nullptr;
        old->removeChildSignature(this);
        iDataSize_ -= old->iDataSize_;
    }
    parent_ = p;
    if (p) {
        p->addChildSignature(*this, 1);
        iDataSize_ += p->iDataSize_;
    }
    noteProxies(NO_MODULE);
    flags_ &= static_cast<uint8_t>(~kGuidSourceCached);
    guidSource_ = nullptr;
}

Signature SignatureRep::makeChild(tModuleIndex m) {
    Signature child(NoParentSig, m);
    child->setParent(this);
    if (isGuidHolder())
        child->setGuid(this, nullptr);
    else
        child->setGuid(nullptr, guidSrc());
    return child;
}

SignatureRep* SignatureRep::unmakeChild() {
    Signature keep(this);
    SignatureRep* p = parent_.get();
    if (p) p->removeChildSignature(this);
    // The signature leaves its module now and goes with its last reference.
    if (!isDetached()) DescribedObject<SignatureRep>::attach(DETACHED_MODULE);
    return p;
}

void SignatureRep::subsumeParent() {
    Signature keepParent(parent());
    SignatureRep* P = keepParent.get();
    TQ_ASSERT(P != nullptr, "parent()");
    SignatureRep* GP = P->parent();
    const uint32_t GPsz = GP ? GP->iDataSize_ : 0;
    const uint32_t Pcnt = P->iDataSize_ - GPsz;
    const uint32_t Tsz = iDataSize_ - P->iDataSize_;
    uint32_t Ysz = 0;
    for (size_t i = 0; i < fields_.length(); ++i)
        if (fields_.at(i)->isData()) Ysz += static_cast<uint32_t>(fields_.at(i)->size());
    TQ_ASSERT(Ysz == Tsz, "Ysz == Tsz");
    const bool guidFromParent = !isGuidHolder() && guidSrc() == P;

    // 1. Own fields move behind the parent's section, which becomes ours.
    if (Pcnt != 0)
        for (size_t i = 0; i < fields_.length(); ++i)
            if (fields_.at(i)->isData())
                static_cast<DataField*>(fields_.at(i))->fieldOffset(
                    static_cast<DataField*>(fields_.at(i))->fieldOffset() + static_cast<int32_t>(Pcnt));
    // 2. The grandparent becomes the parent.
    iDataSize_ -= Tsz;
    setParent(GP);
    TQ_ASSERT(iDataSize_ == GPsz, "iDataSize() == GPsz");
    // 3. The class id the parent gave.
    if (guidFromParent) {
        TQ_ASSERT(P->isGuidHolder() && P->classId_, "P->isGuidHolder()");
        setGuid(P, nullptr);
    }
    // 4. The parent's fields that this signature does not define.
    for (size_t i = 0; i < P->fields_.length(); ++i) {
        Field* f = P->fields_.at(i);
        if (fields_.pvalue(f->name())) continue;
        FieldPtr copy(f->clone());
        copy->attach(moduleIndex());
        fields_.append(copy.get());
    }
    // 5. The parent's section, then our own.
    TQ_ASSERT(GPsz + Pcnt >= iDataSize_, "diff >= 0");
    iDataSize_ = GPsz + Pcnt;
    TQ_ASSERT(iDataSize_ == GPsz + Pcnt, "iDataSize() == GPsz + Pcnt");
    iDataSize_ += Tsz;
    // 6. The parent's event definitions.
    for (size_t i = 0; i < P->events_.length(); ++i) {
        EventDef* e = P->events_.at(i);
        if (events_.pvalue(e->name())) continue;
        const tModuleIndex previous = ObjectStore::OpenModule(moduleIndex());
        EventDef* copy = new EventDef(*e);
        ObjectStore::OpenModule(previous);
        copy->ref();
        events_.append(copy);
        copy->deref();
    }
    changed();
}

void SignatureRep::subsumeParent(SignatureRep* ancestor) {
    TQ_ASSERT(hasSignature(ancestor), "hasSignature(s)");
    if (!ancestor) return;
    Signature keep(ancestor);
    while (parent() != ancestor->parent()) subsumeParent();
}

InterObjRep* SignatureRep::createNewPrototype(const char* name) {
    InterObjRep* old = protoObject();
    TQ_ASSERT(old != nullptr, "proto");
    NamedInterObjRep* copy =
        InterObjRep::NewNamed(name, old, ObjectStore::OpenModule(), IOT_ORDINARY);
    old->flags_ |= InterObjRep::kClone;
    copy->flags_ &= static_cast<uint8_t>(~InterObjRep::kClone);
    const ptrdiff_t at = objects().indexOf(copy);
    TQ_ASSERT(at >= 0, "objectIndex(copy) >= 0");
    objects().moveToEnd(static_cast<size_t>(at));
    old->changed();
    copy->changed();
    changed();
    return copy;
}

void SignatureRep::softenParent() {
    parent_.soften(moduleIndex());
    changed();
}

void SignatureRep::hardenToParent(SignatureRep* p) {
    FieldLookupRevision::advance();
    parent_ = p;
}

// ---- class id ---------------------------------------------------------------------------

void SignatureRep::defineGuid(const char* progId) {
    const std::optional<CLSID> id = progId ? ClassRegistry::CLSIDFromProgID(progId) : std::nullopt;
    if (!id) throw StoreException(32753);
    classId_ = std::make_unique<GUID>(*id);
    flags_ |= kGuidHolder;
    flags_ &= static_cast<uint8_t>(~kCompFieldsDefined);
    changed();
}

void SignatureRep::setGuid(const SignatureRep* src, SignatureRep* guidSource) {
    if (!src) {
        flags_ &= static_cast<uint8_t>(~(kGuidHolder | kCompFieldsDefined));
        classId_.reset();
        guidSource_ = guidSource;
        flags_ |= kGuidSourceCached;
    } else {
        TQ_ASSERT(src->classId_ != nullptr, "src->classId");
        classId_ = std::make_unique<GUID>(*src->classId_);
        flags_ = static_cast<uint8_t>((flags_ & ~kCompFieldsDefined) | kGuidHolder |
                                      (src->flags_ & kCompFieldsDefined));
    }
    changed();
}

const char* SignatureRep::getDefiningDLL() {
    if (!isGuidHolder() || !classId_) return nullptr;
    const ClassEntry* entry = ClassRegistry::FindByClsid(*classId_);
    // The class id has no entry: the registry's answer for a missing key.
    if (!entry) OleException::Check(static_cast<int32_t>(0x80070002u), "SignatureRep::getDefiningDLL()");
    // The library's buffer, never destroyed like its other process-wide
    // state.
    static std::string* const library = new std::string;
    *library = entry->library.substr(0, 255);
    return library->c_str();
}

// ---- the compiled part -------------------------------------------------------------------

namespace {

SignatureRep* GuidHolderOf(SignatureRep& s) { return s.isGuidHolder() ? &s : s.guidSrc(); }

// The instance of class id, made through the creator its class registered;
// null when the class is not published here or makes nothing.
IInterObj* CreateCompiledPart(const GUID& id) {
    const ClassEntry* entry = ClassRegistry::FindByClsid(id);
    if (!entry || !entry->creator) return nullptr;
    IUnknown* made = entry->creator(nullptr);
    if (!made) return nullptr;
    void* part = nullptr;
    const HRESULT hr = made->QueryInterface(IID_IInterObj, &part);
    made->Release();
    if (FAILED(hr) || !part) throw StoreException(32679, OleResult::Describe(FAILED(hr) ? hr : E_NOINTERFACE));
    return static_cast<IInterObj*>(part);
}

}  // namespace

bool SignatureRep::isPublished() {
    SignatureRep* h = GuidHolderOf(*this);
    if (!h || !h->classId_) return false;
    const ClassEntry* entry = ClassRegistry::FindByClsid(*h->classId_);
    return entry && entry->creator;
}

void SignatureRep::compNew(InterObjRep* o) {
    SignatureRep* h = GuidHolderOf(*this);
    if (!h || !h->classId_ || o->comp_) return;
    IInterObj* c = CreateCompiledPart(*h->classId_);
    if (!c) return;
    c->setOwner(o);
    o->comp_ = c;
    ensureCompFields(c);
}

void SignatureRep::compRead(OCLStream& in, InterObjRep* o) {
    SignatureRep* h = GuidHolderOf(*this);
    TQ_ASSERT(h && h->classId_, "guidSrc()");
    const GUID stored = in.ReadClassStm();
    if (!(stored == *h->classId_)) throw ObjectLoadFailed("its compiled part is of another class");
    IInterObj* c = CreateCompiledPart(*h->classId_);
    if (!c) return;
    c->setOwner(o);
    o->comp_ = c;
    c->Load(in);
    ensureCompFields(c);
}

void SignatureRep::compWrite(OCLStream& out, IInterObj* c) {
    SignatureRep* h = GuidHolderOf(*this);
    TQ_ASSERT(h && h->classId_, "guidSrc()");
    out.WriteClassStm(*h->classId_);
    c->Save(out, 1);
}

void SignatureRep::ensureCompFields(IInterObj* c) {
    SignatureRep* h = GuidHolderOf(*this);
    if (!h) return;
    // Signatures below the class's own (a discriminated clone, a prototype
    // made From a built-in one) inherit the members from the topmost
    // signature that holds the same class id.
    for (SignatureRep* p = h->parent(); p; p = p->parent()) {
        SignatureRep* up = GuidHolderOf(*p);
        if (!up || !up->classId_ || !(*up->classId_ == *h->classId_)) break;
        h = up;
        p = up;
    }
    if (h->isCompFieldsDefined()) return;
    ObjectStore::OpenModuleScope detached(DETACHED_MODULE);
    c->PO_DefineFields(*h);
}

void SignatureRep::addCompiledField(Field& f, int prepend) {
    SignatureRep* owner = nullptr;
    if (Field* found = findField(f.name(), owner, 0); found && owner == this)
        throw CollisionOnSelf(kAddWhere);
    insertField(f, prepend);
    FieldLookupRevision::advance();
}

void SignatureRep::defineCompiledEvent(EventDef* e) {
    TQ_ASSERT(e != nullptr, "e");
    // The list takes its own count; a new definition is freed with ours.
    const CountedMemberPtr<EventDef> hold(e);
    events_.punbind(e->name());
    events_.append(e);
}

// ---- life -----------------------------------------------------------------------------------

void SignatureRep::attach(tModuleIndex m) {
    if (moduleIndex() == m) return;
    // The lists still in the file are in the module being left.
    readStoredLists();
    reattachChildren();
    for (size_t i = 0; i < fields_.length(); ++i) fields_.at(i)->attach(m);
    for (size_t i = 0; i < events_.length(); ++i)
        if (events_.at(i)->isWriteable()) events_.at(i)->attach(m);
    fileObjects_.clear();
    DescribedObject<SignatureRep>::attach(m);
    // What each proxy records of the module the signature came from or
    // went to has changed.
    noteProxies(NO_MODULE);
}

void SignatureRep::Destroy() {
    if (destroying_) return;
    hardenObjectTree();
    StoreApplication::BatchNotifies batch;
    Signature keep(this);
    destroying_ = true;
    while (!children().empty()) {
        Signature child(children().first().get());
        children().removeAt(0);
        if (child.get()) child->Destroy();
    }
    while (!objects().empty()) {
        InterObjRep* o = objects().first().get();
        objects().removeAt(0);
        if (o && !o->isDestroyStarted()) o->destroy();
    }
    if (proxy_) proxy_->forgetSignature();
    changed();
    if (!isDetached()) DescribedObject<SignatureRep>::attach(DETACHED_MODULE);
    destroying_ = false;
}

void SignatureRep::printOn(std::ostream& os, int indent) {
    const std::string pad(static_cast<size_t>(std::max(indent, 0)), ' ');
    os << pad << "SignatureRep: " << static_cast<const void*>(this) << " count(" << refCount()
       << ") descriptor(" << int(moduleIndex()) << ":" << descriptor().descIndex() << ")\n";
    if (parent_.isDescriptor() && !parent_.descriptor().isNull()) {
        os << pad << "   Orphaned Parent " << parent_.descriptor().raw() << "\n";
    } else if (SignatureRep* p = parent_.get()) {
        InterObjRep* proto = p->protoObject();
        os << pad << "   Parent: " << (proto ? proto->alias() : std::string("(no prototype)")) << "\n";
    } else {
        os << pad << "  Parent NULL\n";
    }
    os << pad << "  iDataSize = " << iDataSize_ << "\n";
    os << pad << "  Field Count: " << fields_.length() << "\n";
    for (size_t i = 0; i < fields_.length(); ++i) os << pad << "    " << fields_.at(i)->name() << "\n";
    os << pad << "  Event Def Count: " << events_.length() << "\n";
    for (size_t i = 0; i < events_.length(); ++i) os << pad << "    " << events_.at(i)->name() << "\n";
    os << pad << "  Child sigs  = " << children().length() << "\n";
    for (size_t i = 0; i < children().length(); ++i)
        if (children()[i].isDescriptor())
            os << pad << "  OrphanedSig(" << children()[i].descriptor().raw() << ")\n";
    os << pad << "  Clone count = " << (objects().empty() ? 0 : objects().length() - 1) << "\n";
}

// ---- method fields --------------------------------------------------------------------

void MethodField::addField(SignatureRep& sig, int prepend, Value*) { sig.addField(*this, prepend); }
void MethodField::removeField(SignatureRep& sig) { sig.removeField(this); }

}  // namespace tq
