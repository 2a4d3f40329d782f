#include "store/iintobj.h"

#include <string>

#include "platform/storage/oclstream.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/persist/objstore.h"
#include "store/vals.h"

namespace tq {

IInterObj::IInterObj(DllServer* server) : OCLObject(server) {}

IInterObj::~IInterObj() = default;

IUnknown* IInterObj::findInterface(REFIID riid) {
    if (riid == IID_IInterObj) return this;
    return OCLObject::findInterface(riid);
}

HRESULT IInterObj::GetClassID(CLSID*) { return S_OK; }

HRESULT IInterObj::GetSizeMax(uint64_t* size) {
    if (size) *size = 1024;
    return S_OK;
}

HRESULT IInterObj::Save(OCLStream& out, int clearDirty) {
    if (clearDirty) dirty_ = 0;
    out.writeU8(static_cast<uint8_t>(PO_GetRevisionLevel()));
    PO_Write(out);
    return S_OK;
}

HRESULT IInterObj::Load(OCLStream& in) {
    const uint32_t current = PO_GetRevisionLevel();
    uint32_t revision = 0;
    try {
        revision = in.readU8();
        // A newer writer's layout is unknown here: nothing of it is read.
        if (revision > current) throw ObjectLoadFailed(className());
        PO_Read(in, revision);
    } catch (const StorageError&) {
        // The record ended inside the state: the bytes are not this class's.
        throw ObjectLoadFailed(className());
    }
    if (revision < current && owner_) owner_->changed();
    return S_OK;
}

void IInterObj::clone(const IInterObj&) {}

ValuePtr IInterObj::eval(const ValueList*, int* handled) {
    if (handled) *handled = 0;
    return ValuePtr();
}

ValuePtr IInterObj::extEval(const char*, IdType, const ValueList*, int* handled, int32_t) {
    if (handled) *handled = 0;
    return ValuePtr();
}

void IInterObj::attach(tModuleIndex) {}

Printable* IInterObj::printSink() { return nullptr; }

void IInterObj::markChanged() {
    dirty_ = 1;
    if (owner_) owner_->changed();
}

ValuePtr IInterObj::evalIMember(const char* name, ValueList* args, int* handled) {
    if (!owner_) {
        if (handled) *handled = 0;
        return ValuePtr();
    }
    return owner_->evalIMember(name, args, handled);
}

void IInterObj::writeMe(OCLStream& out) {
    const Faultp<InterObjRep> me(PrimaryReference, owner_);
    me.write(out);
}

void IInterObj::fixupCopiedReferenceToEmbed(InterObj& ref, const InterObj& source) {
    InterObjRep* target = ref.get();
    if (!owner_ || !target || !source.get() || target->host() != source.get()) return;
    SignatureRep* fieldOwner = nullptr;
    Field* f = source.get()->findField(target, fieldOwner);
    if (!f) return;
    // The copy holds its own embedded object under the field's name.
    int handled = 0;
    ValuePtr mine = owner_->eval(f->name(), IDT_UNTYPED, nullptr, nullptr, EVAL_DOTTED, &handled, nullptr);
    if (handled && mine && (mine->type() & IDT_TYPEMASK) == IDT_OBJECT) ref = mine->as<InterObj>();
}

}  // namespace tq
