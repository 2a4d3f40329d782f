// Signature proxies and shadows, and the signature's side of them: making
// proxies, matching, and the module-wide steps of unloading.
#include "store/sigproxy.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/util/msgbox.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/desciter.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"

namespace tq {

namespace {

// The warning box: exclamation icon, task-modal.
constexpr unsigned kWarningStyle = MB_ICONEXCLAMATION | 0x2000;
// Identifiers hold at most this many characters.
constexpr size_t kMaxName = 31;
// Beyond this many fields a proxy's list is not split into sections: the
// split can cost time that grows with the square of the count, and the list
// comes from a file. No signature chain of a real module comes near it.
constexpr size_t kMaxLaidOutFields = 2048;

[[noreturn]] void BadProxy(uint32_t index, const std::string& what) {
    const std::string text = std::string(SignatureProxy::storageName) + " entry " +
                             std::to_string(index) + ": " + what;
    throw ObjectLoadFailed(text.c_str());
}

// The text a proxy names a signature by: its prototype's static name, or its
// path from a static root. A prototype that cannot be named from another
// module gets a text that names nothing in particular, so that the objects
// saved with the proxy are kept by a replacement when it is loaded again.
std::string ProxyTextOf(SignatureRep& s) {
    InterObjRep* proto = s.protoObject();
    if (proto && proto->isStaticallyRooted()) {
        std::string text = proto->isStaticObj() ? std::string(proto->name()) : proto->alias();
        if (!text.empty()) return text;
    }
    return "Object";
}

// The name of the replacement object for a proxy's text: the text and
// "Proxy", made an identifier (a dotted path's dots become '_') of at most
// 31 characters; `serial` tells apart replacements that must not share it.
std::string ReplacementName(const std::string& text, unsigned serial) {
    std::string base;
    for (const char c : text)
        base += std::isalnum(static_cast<unsigned char>(c)) || c == '_' ? c : '_';
    if (base.empty() || !std::isalpha(static_cast<unsigned char>(base[0]))) base.insert(0, "P");
    const std::string tail = serial ? "Proxy" + std::to_string(serial) : std::string("Proxy");
    if (base.size() + tail.size() > kMaxName) base.resize(kMaxName - tail.size());
    return base + tail;
}

bool Listed(const tModuleIndex* indexes, tModuleIndex m) {
    for (const tModuleIndex* i = indexes; *i != NO_MODULE; ++i)
        if (*i == m) return true;
    return false;
}

// A list entry that names a thing of module m that still exists, without
// reading it.
template <class T>
bool NamesThingOf(const Faultp<T>& r, tModuleIndex m) {
    return r.moduleIndex() == m && !r.isNull();
}

// Reads references into list until the null reference that ends it. Each
// must name a thing of the proxy's own module: a proxy records only things
// of the module that holds it.
template <class List>
void ReadRecordedList(OCLStream& in, tModuleIndex m, uint32_t index, List& list) {
    for (;;) {
        uint8_t flags = 0;
        uint32_t raw = 0;
        in.readReference(flags, raw);
        tDescriptor d(raw);
        if (d.isNull()) return;
        if ((flags & ~0x07) != 0 || !(flags & 0x04) || d.isProxy() || d.moduleIndex() >= MAX_MODULES)
            BadProxy(index, "a reference in its lists is not sound");
        d.setModuleIndex(m);
        list.appendDescriptor(d);
    }
}

// Ends a list of references.
void WriteNullReference(OCLStream& out) { out.writeReference(0x04, tDescriptor::kNull); }

}  // namespace

// A proxy's field list holds the signature's own fields, then its parent's,
// and so on up to the root, each with its offset within its own signature's
// section. The replacement object is one root signature, so to lay every
// field at the same place in the data block its fields are added root
// section first, each section in offset order. The sections are found as
// the split of the list into runs that each fill a section exactly (the
// longest such first run when there is a choice); a list that does not
// split so, or is too long to split, is added in its own order.
std::vector<Field*> ProxyLayoutOrder(const FieldPtrList& list) {
    std::vector<Field*> inOrder;
    std::vector<DataField*> data;
    for (size_t i = 0; i < list.length(); ++i) {
        inOrder.push_back(list.at(i));
        if (!list.at(i)->isInterDataField()) return inOrder;
        data.push_back(static_cast<DataField*>(list.at(i)));
    }
    const size_t n = data.size();
    if (n > kMaxLaidOutFields) return inOrder;
    // splits[i]: the end of the first run of a split of data[i..n), or 0
    // when data[i..n) does not split.
    std::vector<size_t> splits(n + 1, 0);
    std::vector<bool> splittable(n + 1, false);
    splittable[n] = true;
    // rest[i]: the sizes of data[i..n) added up.
    std::vector<int64_t> rest(n + 1, 0);
    for (size_t i = n; i-- > 0;) rest[i] = rest[i + 1] + std::max<int64_t>(data[i]->size(), 0);
    for (size_t i = n; i-- > 0;) {
        // The run [i, end) grows one field at a time. Spans that do not
        // overlap, lie at or after 0 and add up to the furthest end fill a
        // section exactly. Once two spans overlap, or one has no size or
        // lies before 0, or the spans reach further than all the fields
        // left could fill, no longer run is a section either: stop there.
        std::map<int64_t, int64_t> spans;
        int64_t sum = 0;
        int64_t furthest = 0;
        for (size_t end = i + 1; end <= n; ++end) {
            const int64_t offset = data[end - 1]->fieldOffset();
            const int64_t size = data[end - 1]->size();
            if (size <= 0 || offset < 0) break;
            const auto next = spans.lower_bound(offset);
            if (next != spans.end() && next->first < offset + size) break;
            if (next != spans.begin() && std::prev(next)->second > offset) break;
            spans.emplace_hint(next, offset, offset + size);
            sum += size;
            furthest = std::max(furthest, offset + size);
            if (furthest > rest[i]) break;
            // The longest such first run wins: later ends overwrite.
            if (sum == furthest && splittable[end]) {
                splits[i] = end;
                splittable[i] = true;
            }
        }
    }
    if (!splittable[0]) return inOrder;
    std::vector<std::vector<DataField*>> sections;
    for (size_t i = 0; i < n; i = splits[i])
        sections.emplace_back(data.begin() + static_cast<ptrdiff_t>(i),
                              data.begin() + static_cast<ptrdiff_t>(splits[i]));
    std::vector<Field*> laidOut;
    for (size_t k = sections.size(); k-- > 0;) {
        std::sort(sections[k].begin(), sections[k].end(),
                  [](DataField* a, DataField* b) { return a->fieldOffset() < b->fieldOffset(); });
        laidOut.insert(laidOut.end(), sections[k].begin(), sections[k].end());
    }
    return laidOut;
}

namespace {

// Whether s is what a failed resolution of p makes: a root signature whose
// data fields are p's expected fields in ProxyLayoutOrder, each laid behind
// the one before. It tells a replacement an earlier load made even while
// p's record still holds the missing signature's chain (a record is written
// again only when something changes it), where match() would see other
// offsets and a replacement would be made again at every load.
bool IsReplacementFor(SignatureRep& s, const FieldPtrList& expected) {
    if (s.parent()) return false;
    const std::vector<Field*> laidOut = ProxyLayoutOrder(expected);
    size_t j = 0;
    int64_t offset = 0;
    for (size_t i = 0; i < s.fields().length(); ++i) {
        Field* f = s.fields().at(i);
        if (!f->isInterDataField()) continue;
        if (j == laidOut.size() || !laidOut[j]->isInterDataField()) return false;
        const auto& mine = static_cast<InterDataField&>(*f);
        const auto& theirs = static_cast<InterDataField&>(*laidOut[j++]);
        if (!(mine == theirs) || !mine.typeMatch(theirs) || mine.size() != theirs.size() || mine.fieldOffset() != offset)
            return false;
        offset += mine.size();
    }
    return j == laidOut.size();
}

}  // namespace

// ---- SignatureProxy ------------------------------------------------------------------

SignatureProxy::SignatureProxy(SignatureShadow& shadow, const std::string& text, tModuleIndex m)
    : Proxy(text, m) {
    link(shadow);
}

SignatureProxy::SignatureProxy(tModuleIndex m, uint32_t index, std::string text)
    : Proxy(m, index, std::move(text)) {}

SignatureProxy::~SignatureProxy() {
    if (SignatureShadow* s = shadow_) {
        shadow_ = nullptr;
        s->remove(*this);
    }
}

void SignatureProxy::link(SignatureShadow& shadow) {
    shadow_ = &shadow;
    shadow.add(*this);
}

SignatureProxy* SignatureProxy::readFromStream(OCLStream& in, uint32_t, tModuleIndex m, uint32_t index) {
    std::unique_ptr<SignatureProxy> p(new SignatureProxy(m, index, ReadProxyText(in, storageName, index)));
    // A proxy whose record fails leaves its entry as it was.
    struct Forget {
        std::unique_ptr<SignatureProxy>& p;
        ~Forget() {
            if (p) p->forgetEntry();
        }
    } forget{p};
    uint64_t total = 0;
    for (;;) {
        Field* f = nullptr;
        // A field record's own complaint is told with the proxy it is in.
        try {
            f = Field::makeFrom(in, m);
        } catch (const ObjectLoadFailed& e) {
            BadProxy(index, std::string("its field list: ") + (e.objectName() ? e.objectName() : e.what()));
        }
        if (!f) break;
        FieldPtr hold(f);
        if (!f->isInterDataField()) BadProxy(index, std::string("its field ") + f->name() + " is not a data field");
        if (!p->fields_.append(f)) BadProxy(index, std::string("its field ") + f->name() + " is listed twice");
        total += static_cast<uint32_t>(f->size());
    }
    p->dataSize_ = in.readU32();
    if (p->dataSize_ < total) BadProxy(index, "its data size is smaller than its fields");
    ReadRecordedList(in, m, index, p->objects_);
    ReadRecordedList(in, m, index, p->children_);
    ReadRecordedList(in, m, index, p->objects_);
    ReadRecordedList(in, m, index, p->children_);
    return p.release();
}

SignatureRep* SignatureProxy::signature() const { return shadow_ ? shadow_->signature() : nullptr; }

const FieldPtrList& SignatureProxy::expectedFields() const { return shadow_ ? shadow_->fields() : fields_; }

bool SignatureProxy::hasRecorded() const {
    for (size_t i = 0; i < objects_.length(); ++i)
        if (!objects_[i].isNull()) return true;
    for (size_t i = 0; i < children_.length(); ++i)
        if (!children_[i].isNull()) return true;
    return false;
}

bool SignatureProxy::isNeeded() {
    if (hasRecorded()) return true;
    return shadow_ && shadow_->hasExternalChildren(moduleIndex());
}

void SignatureProxy::noteChange() {
    fields_.clear();
    changed();
}

void SignatureProxy::refreshFields() {
    const tModuleIndex m = moduleIndex();
    if (SignatureRep* s = signature()) {
        fields_.clear();
        s->copyInterDataFields(fields_, m, 1);
        dataSize_ = s->iDataSize();
    } else if (shadow_) {
        fields_.clear();
        const FieldPtrList& kept = shadow_->fields();
        for (size_t i = 0; i < kept.length(); ++i) {
            FieldPtr copy(kept.at(i)->clone());
            copy->attach(m);
            fields_.append(copy.get());
        }
        dataSize_ = shadow_->dataSize();
    }
}

bool SignatureProxy::writeIfNeeded(OCLStream& out) {
    if (!isNeeded()) return false;
    refreshFields();
    const tModuleIndex m = moduleIndex();
    out.writeString(text());
    for (size_t i = 0; i < fields_.length(); ++i) fields_.at(i)->write(out);
    out.writeU8(FRK_END);
    out.writeU32(dataSize_);
    // 4 and 5: what belongs to the signature now.
    if (SignatureRep* s = signature()) {
        PrimInterObjList& objs = s->objects();
        for (size_t i = 0; i < objs.length(); ++i)
            if (NamesThingOf(objs[i], m)) objs[i].write(out);
        WriteNullReference(out);
        PrimSignatureList& sigs = s->children();
        for (size_t i = 0; i < sigs.length(); ++i)
            if (NamesThingOf(sigs[i], m)) sigs[i].write(out);
        WriteNullReference(out);
    } else {
        // Without its signature the shadow's capture tells; a proxy that was
        // never resolved knows only what it recorded (lists 6 and 7).
        if (shadow_) {
            const IndirectInterObjList& objs = shadow_->externalObjects();
            for (size_t i = 0; i < objs.length(); ++i)
                if (NamesThingOf(objs[i], m)) objs[i].write(out);
        }
        WriteNullReference(out);
        if (shadow_) {
            const IndirectSignatureList& sigs = shadow_->externalSigs();
            for (size_t i = 0; i < sigs.length(); ++i)
                if (NamesThingOf(sigs[i], m)) sigs[i].write(out);
        }
        WriteNullReference(out);
    }
    // 6 and 7: what the proxy recorded and nobody has read since (what was
    // read is in the signature's lists above).
    for (size_t i = 0; i < objects_.length(); ++i) {
        const Faultp<InterObjRep>& r = objects_[i];
        if (r.isDescriptor() && !r.isNull() &&
            !DescribedObjectNoDescriptor<InterObjRep>::hasFaulted(r.descriptor()))
            r.write(out);
    }
    WriteNullReference(out);
    for (size_t i = 0; i < children_.length(); ++i) {
        const Faultp<SignatureRep>& r = children_[i];
        if (r.isDescriptor() && !r.isNull() &&
            !DescribedObjectNoDescriptor<SignatureRep>::hasFaulted(r.descriptor()))
            r.write(out);
    }
    WriteNullReference(out);
    return true;
}

tDescriptor SignatureProxy::Describe(const SignatureRep& s, tModuleIndex m) {
    SignatureProxy* p = const_cast<SignatureRep&>(s).getProxy(m);
    TQ_ASSERT(p != nullptr, "proxy");
    return p->descriptor();
}

SignatureRep* SignatureProxy::resolve() {
    if (SignatureRep* s = signature()) return s;
    // Finding the prototype may read objects whose signature is this very
    // proxy (a module whose prototype stands behind its own proxy).
    if (resolving_) {
        const std::string what = std::string(storageName) + " entry " + std::to_string(descriptor().descIndex()) +
                                 ": the prototype " + text() + " stands behind the proxy itself";
        throw ObjectLoadFailed(what.c_str());
    }
    struct Resolving {
        bool& flag;
        explicit Resolving(bool& f) : flag(f) { flag = true; }
        ~Resolving() { flag = false; }
    } resolving(resolving_);
    InterObj found;
    int reason = ProxyResolveFailed::NOT_FOUND;
    if (ObjectStore::find(text().c_str(), found) && found.is()) {
        SignatureRep* s = found->signature();
        if (s && s->match(*this)) {
            SignatureShadow& target = s->shadow();
            if (!shadow_)
                link(target);
            else if (shadow_ != &target)
                target.merge(*shadow_);
            return s;
        }
        reason = ProxyResolveFailed::SIGNATURE_MISMATCH;
    }
    fail(reason);
}

void SignatureProxy::fail(int reason) {
    const tModuleIndex m = moduleIndex();
    struct Current {
        tModuleIndex previous;
        ~Current() { ObjectStore::OpenModule(previous); }
    } current{ObjectStore::OpenModule(m)};
    // The replacement is made once: a module saved with its replacement
    // keeps it, and loading that module alone again finds it by name (and
    // knows it by its fields, whether the proxy's record was written again
    // since or not). A static object of that name that does not match
    // takes another name.
    SignatureRep* s = nullptr;
    for (unsigned serial = 0; !s; ++serial) {
        const std::string name = ReplacementName(text(), serial);
        if (StaticGlobals::Entry* e = ObjectStore::Dictionary(m).find(name)) {
            InterObjRep* o = e->object.get();
            SignatureRep* theirs = o ? o->signature() : nullptr;
            if (theirs && (theirs->match(*this) || IsReplacementFor(*theirs, expectedFields()))) s = theirs;
            continue;
        }
        InterObjRep* o = InterObjRep::NewNamed(name.c_str(), nullptr, m, IOT_ORDINARY);
        o->duplicateProxyFields(*this);
        s = o->signature();
    }
    SignatureShadow& target = s->shadow();
    if (!shadow_)
        link(target);
    else if (shadow_ != &target)
        target.merge(*shadow_);
    throw ProxyResolveFailed(text().c_str(), static_cast<ProxyResolveFailed::tResolveFailure>(reason));
}

std::string SignatureProxy::WarningText(const ProxyResolveFailed& e, const std::string& replacement) {
    const char* name = e.proxyName() ? e.proxyName() : "";
    std::string text = "Proxy Resolve Failure";
    text += e.reason() == ProxyResolveFailed::SIGNATURE_MISMATCH ? " due to Prototype mismatch for \n"
                                                                : " due to Prototype missing for \n";
    text += "the object: ";
    text += name;
    text += ".\n";
    text += "Making the replacement object: ";
    text += replacement;
    text += "\nin order to satisy the expected prototype.";
    return text;
}

void SignatureProxy::ResolveModule(tModuleIndex m) {
    DescribedObjectIterator<SignatureProxy> proxies(m);
    while (SignatureProxy* p = proxies()) {
        try {
            p->resolve();
        } catch (const ProxyResolveFailed& e) {
            SignatureRep* s = p->signature();
            InterObjRep* proto = s ? s->protoObject() : nullptr;
            const std::string replacement =
                proto && proto->name() ? std::string(proto->name()) : ReplacementName(p->text(), 0);
            StoreApplication::MessageBox(nullptr, WarningText(e, replacement).c_str(),
                                         "Proxy Resolve Warning", kWarningStyle);
        }
    }
}

// ---- SignatureShadow -----------------------------------------------------------------

SignatureShadow::SignatureShadow(SignatureRep& s) : signature_(&s) {}

SignatureShadow::~SignatureShadow() {
    dying_ = true;
    detached_.clear();
    if (signature_) signature_->proxy_ = nullptr;
}

void SignatureShadow::add(SignatureProxy& p) {
    proxies_.push_back(&p);
    if (p.moduleIndex() != DETACHED_MODULE) ref();
}

void SignatureShadow::remove(SignatureProxy& p) {
    if (dying_) return;
    proxies_.erase(std::remove(proxies_.begin(), proxies_.end(), &p), proxies_.end());
    if (p.moduleIndex() != DETACHED_MODULE) deref();
}

void SignatureShadow::deref() {
    --count_;
    releaseIfUnused();
}

void SignatureShadow::releaseIfUnused() {
    if (count_ > 0) return;
    // Detached proxies have no table to keep them: they live while the
    // signature does.
    if (signature_ && !detached_.empty()) return;
    delete this;
}

SignatureProxy* SignatureShadow::proxyOf(tModuleIndex m) const {
    for (SignatureProxy* p : proxies_)
        if (p->moduleIndex() == m) return p;
    return nullptr;
}

SignatureProxy* SignatureShadow::getProxy(tModuleIndex m) {
    if (SignatureProxy* p = proxyOf(m)) return p;
    const std::string text = signature_ ? ProxyTextOf(*signature_) : protoName_;
    if (m != DETACHED_MODULE) return new SignatureProxy(*this, text, m);
    detached_.push_back(std::unique_ptr<SignatureProxy>(new SignatureProxy(*this, text, m)));
    return detached_.back().get();
}

void SignatureShadow::reattachChildren() {
    const std::vector<SignatureProxy*> proxies = proxies_;
    for (SignatureProxy* p : proxies) {
        // Each entry goes only once it has been read: one that fails to read
        // stays recorded, and the failure passes on.
        IndirectInterObjList& objs = p->objects_;
        while (!objs.empty()) {
            (void)objs.first().get();
            objs.removeAt(0);
        }
        IndirectSignatureList& sigs = p->children_;
        while (!sigs.empty()) {
            if (SignatureRep* c = sigs.first().get()) (void)c->protoObject();
            sigs.removeAt(0);
        }
    }
}

void SignatureShadow::noteChange(tModuleIndex m) {
    if (m == DETACHED_MODULE) return;
    for (SignatureProxy* p : proxies_)
        if (m == NO_MODULE || p->moduleIndex() == m) p->noteChange();
}

void SignatureShadow::forgetSignature() {
    if (signature_) signature_->proxy_ = nullptr;
    signature_ = nullptr;
    noteChange(NO_MODULE);
    releaseIfUnused();
}

bool SignatureShadow::hasExternalChildren(tModuleIndex m) {
    if (signature_) return signature_->hasExternalChildren(m);
    for (size_t i = 0; i < objects_.length(); ++i)
        if (NamesThingOf(objects_[i], m)) return true;
    for (size_t i = 0; i < children_.length(); ++i)
        if (NamesThingOf(children_[i], m)) return true;
    return false;
}

void SignatureShadow::capture() {
    SignatureRep* s = signature_;
    if (!s) return;
    fields_.clear();
    s->copyInterDataFields(fields_, DETACHED_MODULE, 1);
    objects_.clear();
    children_.clear();
    s->shadowExternalObjects(objects_);
    s->shadowExternalSigs(children_);
    dataSize_ = s->iDataSize();
    protoName_ = ProxyTextOf(*s);
    s->proxy_ = nullptr;
    signature_ = nullptr;
    releaseIfUnused();
}

void SignatureShadow::merge(SignatureShadow& old) {
    SignatureRep* s = signature_;
    TQ_ASSERT(s != nullptr && &old != this && old.signature_ == nullptr, "merge");
    for (size_t i = 0; i < old.objects_.length(); ++i) {
        if (InterObjRep* o = old.objects_[i].get()) {
            o->hardenToSignature(s);
            s->attachExternalObject(*o);
        }
    }
    for (size_t i = 0; i < old.children_.length(); ++i) {
        if (SignatureRep* c = old.children_[i].get()) {
            c->hardenToParent(s);
            s->attachExternalChild(*c);
        }
    }
    // The proxies move as they are: each keeps its one count, now on this
    // shadow.
    for (SignatureProxy* p : old.proxies_) {
        p->shadow_ = this;
        proxies_.push_back(p);
        if (p->moduleIndex() != DETACHED_MODULE) ++count_;
    }
    for (auto& d : old.detached_) detached_.push_back(std::move(d));
    old.proxies_.clear();
    old.detached_.clear();
    old.count_ = 0;
    delete &old;
}

// ---- the signature's side -------------------------------------------------------------

SignatureShadow& SignatureRep::shadow() {
    if (!proxy_) proxy_ = new SignatureShadow(*this);
    return *proxy_;
}

SignatureProxy* SignatureRep::getProxy(tModuleIndex m) { return shadow().getProxy(m); }

void SignatureRep::noteProxies(tModuleIndex m) {
    if (proxy_) proxy_->noteChange(m);
}

void SignatureRep::reattachChildren() {
    if (proxy_) proxy_->reattachChildren();
}

bool SignatureRep::match(const SignatureProxy& p) {
    const FieldPtrList& expected = p.expectedFields();
    size_t j = 0;
    for (SignatureRep* s = this; s; s = s->parent()) {
        for (size_t i = 0; i < s->fields_.length(); ++i) {
            Field* f = s->fields_.at(i);
            if (!f->isInterDataField()) continue;
            if (j == expected.length()) return false;
            Field* g = expected.at(j++);
            if (!g->isInterDataField() ||
                !static_cast<InterDataField*>(f)->match(*static_cast<InterDataField*>(g)))
                return false;
        }
    }
    return j == expected.length();
}

bool SignatureRep::hasExternalChildren(tModuleIndex m) {
    for (size_t i = 0; i < objects_.length(); ++i)
        if (NamesThingOf(objects_[i], m)) return true;
    for (size_t i = 0; i < children_.length(); ++i)
        if (NamesThingOf(children_[i], m)) return true;
    return false;
}

void SignatureRep::shadowExternalObjects(IndirectInterObjList& out) {
    for (size_t i = 0; i < objects_.length(); ++i) {
        if (objects_[i].isDescriptor()) continue;
        InterObjRep* o = objects_[i].get();
        if (o && o->moduleIndex() != moduleIndex()) out.append(o);
    }
}

void SignatureRep::shadowExternalSigs(IndirectSignatureList& out) {
    for (size_t i = 0; i < children_.length(); ++i) {
        if (children_[i].isDescriptor()) continue;
        SignatureRep* c = children_[i].get();
        if (c && c->moduleIndex() != moduleIndex()) out.append(c);
    }
}

// An object read through a proxy is new in memory, so it cannot be in the
// list already; a child may be met again through its parent reference.
void SignatureRep::attachExternalObject(InterObjRep& o) { objects_.prepend(&o); }

void SignatureRep::attachExternalChild(SignatureRep& s) {
    if (!children().contains(&s)) children().append(&s);
}

// Another module's object is never among the entries still in the file.
void SignatureRep::detachExternalObject(const InterObjRep& o) { objects_.remove(&o); }

void SignatureRep::NoExternalChildren(const tModuleIndex* indexes) {
    TQ_ASSERT(indexes != nullptr, "indexes");
    // Entries still held as descriptors were read from the signature's own
    // record, so they lie in its module.
    auto outside = [indexes](auto& list) {
        bool found = false;
        list.forEachFollowed([&](const auto* thing) { found = found || !Listed(indexes, thing->moduleIndex()); });
        return found;
    };
    // The refusal names no module object: modules have none until the
    // module manager's classes give them one.
    for (const tModuleIndex* m = indexes; *m != NO_MODULE; ++m) {
        DescribedObjectIterator<SignatureRep> sigs(*m);
        while (SignatureRep* s = sigs.nextFaulted()) {
            if (outside(s->objects_) || outside(s->children_)) throw ModuleUnloadFailed(32682, nullptr);
            // Things of other modules that those modules recorded and have
            // not read yet belong to the signature as much.
            if (!s->proxy_) continue;
            for (SignatureProxy* p : s->proxy_->proxies())
                if (!Listed(indexes, p->moduleIndex()) && p->hasRecorded()) throw ModuleUnloadFailed(32682, nullptr);
        }
    }
}

void SignatureRep::ConstructProxies(tModuleIndex m) {
    DescribedObjectIterator<SignatureRep> sigs(m);
    while (SignatureRep* s = sigs.nextFaulted()) s->constructProxies();

    // Other modules' references into m become proxies now, while m's objects
    // still hold their data: an embedded object is named by its path from
    // its static root, which only its host's data can tell. Later, the path
    // is gone and only an alias naming m's slot would be left, which any
    // module that takes the slot next could answer.
    InterObjRep::SoftenReferencesInto(m);

    // Then the module's objects let go of what their data holds, while
    // every signature chain is still whole (softening, which follows for
    // every module of the set, cuts chains), and leave the lists of
    // signatures of other modules.
    std::vector<InterObjRep*> foreignMembers;
    std::vector<SignatureRep*> foreign;
    DescribedObjectIterator<InterObjRep> objs(m);
    while (InterObjRep* o = objs.nextFaulted()) {
        o->releaseForUnload();
        if (o->signature_.isDescriptor()) continue;
        SignatureRep* s = o->signature_.get();
        if (!s || s->moduleIndex() == m) continue;
        foreignMembers.push_back(o);
        if (std::find(foreign.begin(), foreign.end(), s) == foreign.end()) foreign.push_back(s);
    }
    for (SignatureRep* s : foreign)
        s->objects_.removeIf([m](const Faultp<InterObjRep>& r) { return !r.isDescriptor() && r.moduleIndex() == m; });
    for (InterObjRep* o : foreignMembers) o->signature_ = nullptr;
}

void SignatureRep::constructProxies() {
    const tModuleIndex own = moduleIndex();
    const auto proxyFor = [&](const auto* thing) {
        if (thing->moduleIndex() != own) getProxy(thing->moduleIndex());
    };
    objects_.forEachFollowed(proxyFor);
    children_.forEachFollowed(proxyFor);
    if (proxy_) proxy_->capture();
}

void SignatureRep::SoftenExternalReferences(tModuleIndex m) {
    DescribedObjectIterator<SignatureRep> sigs(m);
    while (SignatureRep* s = sigs.nextFaulted()) s->softenExternalReferences();
}

void SignatureRep::softenExternalReferences() {
    const tModuleIndex own = moduleIndex();
    std::vector<InterObjRep*> objs;
    objects_.forEachFollowed([&](InterObjRep* o) {
        if (o->moduleIndex() != own) objs.push_back(o);
    });
    for (InterObjRep* o : objs) {
        o->releaseForUnload();
        o->softenSignature();
    }
    std::vector<SignatureRep*> kids;
    children_.forEachFollowed([&](SignatureRep* c) {
        if (c->moduleIndex() != own) kids.push_back(c);
    });
    for (SignatureRep* c : kids) c->softenParent();
    if (SignatureRep* p = loadedParent(); p && p->moduleIndex() != own) {
        p->children_.remove(this);
        parent_ = nullptr;
    }
}

}  // namespace tq
