#include "store/builtin/publish.h"

#include <string>

#include "platform/com/classreg.h"
#include "platform/storage/oclstream.h"
#include "store/builtin/iacl.h"
#include "store/errors/extexcep.h"
#include "store/interp/print.h"
#include "store/model/sigrep.h"
#include "store/persist/objstore.h"
#include "store/persist/proxy.h"
#include "store/storeapp.h"

namespace tq {

void ParseCppField(const char* declaration, SignatureRep& sig, const MemberPointer& method) {
    ParseCppMethod(declaration, sig, [&](const CppMethodHeader& h) -> MethodField* {
        // Names of compiled members belong to no module file.
        ObjectStore::OpenModuleScope detached(DETACHED_MODULE);
        if (!h.isFunction) return new CppProcField(h.name.c_str(), method, declaration);
        return new CppFuncField(h.name.c_str(), method, h.returnType, declaration,
                                h.returnClass.empty() ? nullptr : h.returnClass.c_str());
    });
}

tDescriptor ReadObjectReference(OCLStream& in, tModuleIndex m, uint8_t kind, const char* className) {
    uint8_t flags = 0;
    uint32_t raw = 0;
    in.readReference(flags, raw);
    tDescriptor d(raw);
    if (d.isNull()) return d;
    if (flags != (kind | Faultp<InterObjRep>::kDescriptor) || d.moduleIndex() >= MAX_MODULES)
        throw ObjectLoadFailed(className);
    d.setModuleIndex(m);
    const bool exists = d.isProxy() ? ProxiedObject<InterObjRep, InterObjProxy>::proxyExists(d)
                                    : DescribedObjectNoDescriptor<InterObjRep>::objectExists(d);
    if (!exists) throw ObjectLoadFailed(className);
    return d;
}

void HandleDefineFieldsFailure(const StoreException& e) {
    StoreException copy(e);
    StoreApplication::HandleException(copy);
}

// ---- PublishedClass ----------------------------------------------------------------------

namespace {

CLSID ClassIdOf(const char* text) {
    const auto id = text ? GUID::Parse(text) : std::nullopt;
    TQ_ASSERT(id.has_value(), "valid class id");
    return *id;
}

}  // namespace

PublishedClass::PublishedClass(const char* progId, const char* name, const char* clsid, Creator create,
                               PublishedClass* parent)
    : progId_(progId), name_(name), clsid_(ClassIdOf(clsid)), create_(create), parent_(parent) {
    // `Print #obj` writes where obj's compiled part says.
    Print::targetSink = [](InterObjRep* obj) -> Printable* {
        IInterObj* part = obj && !obj->isDestroyed() ? obj->compiledPart() : nullptr;
        return part ? part->printSink() : nullptr;
    };
}

bool PublishedClass::isRegistered() const {
    const ClassEntry* e = ClassRegistry::FindByClsid(clsid_);
    return registered_ && e && e->creator && e->library == library_;
}

void PublishedClass::registerClass() {
    const ClassEntry* mine = ClassRegistry::FindByClsid(clsid_);
    const ClassEntry* named = ClassRegistry::FindByProgId(progId_);
    // Publishing the same library again registers the same entry again;
    // anything else under this ProgID or class id is another class.
    const std::string& library = ClassRegistry::PublishingLibrary();
    auto other = [&](const ClassEntry* e) {
        if (!e) return false;
        if (!(e->clsid == clsid_)) return true;
        return e->library != library && !(registered_ && e->library == library_);
    };
    if (const ClassEntry* taken = other(named) ? named : other(mine) ? mine : nullptr)
        throw StoreException("Class '" + std::string(progId_) + "' is already published by " +
                             (taken->library.empty() ? std::string("the program") : taken->library) + ".");
    const Creator create = create_;
    ClassRegistry::Register(progId_, clsid_, [create](DllServer* server) -> IUnknown* { return create(server); });
    registered_ = true;
    library_ = library;
}

bool PublishedClass::isInstance(InterObjRep* obj) {
    InterObjRep* proto = object_.get();
    return obj && proto && obj->canBeTreatedAs(proto);
}

InterObjRep* PublishedClass::PO_InitObject() {
    if (!isRegistered()) registerClass();
    if (InterObjRep* o = object_.get()) return o;
    InterObj found;
    if (ObjectStore::find(name_, found) && found.get()) {
        // A module holds an object of the name: the prototype when it is of
        // this class, a collision otherwise.
        SignatureRep* s = found->signature();
        SignatureRep* holder = s && s->isGuidHolder() ? s : (s ? s->guidSrc() : nullptr);
        if (!holder || !holder->classId() || !(*holder->classId() == clsid_))
            throw StoreException("An object named '" + std::string(name_) + "' already exists and is not a " +
                                 progId_ + ".");
        object_ = found.get();
        return found.get();
    }
    ObjectStore::OpenModuleScope detached(DETACHED_MODULE);
    const InterObj parent(parent_ ? parent_->PO_GetObject() : nullptr);
    const IndirectInterObj made(progId_, name_, parent, IOT_ORDINARY);
    object_ = made.get();
    // Governed by the ACL prototype: a program may not destroy or rename a
    // class's prototype (iacl.h).
    if (InterObjRep* acl = iACL::Class().prototype(); acl && acl != made.get()) made->setAclObject(acl);
    // A library that fails later in its POD_Populate takes the prototype
    // back (the reference reads null once it is gone some other way).
    InterObjRep* proto = object_.get();
    ClassRegistry::OnAbandon([this, proto] {
        if (object_.get() != proto) return;
        proto->setAclObject(nullptr);
        proto->Destroy();
    });
    return proto;
}

InterObjRep* PublishedClass::PO_GetObject() {
    InterObjRep* o = object_.get();
    return o ? o : PO_InitObject();
}

}  // namespace tq
