// IInterObj: the compiled part of an object of a built-in class.
//
// A built-in class (Group, or a class an extension library publishes) is a
// compiled C++ class whose instances are COM-style objects. The store binds
// each instance to one store object, its owner, whose signature describes
// the class's properties, methods and events to the language; the object
// holds the instance as its compiled part (InterObjRep::compiledPart). The
// store drives the instance through the operations below; the class
// declares its members once per signature (PO_DefineFields, run by
// SignatureRep::ensureCompFields) and persists its own state (PO_Read,
// PO_Write) inside its owner's "Objects" record.
//
// The implementation of the base lies with the built-in classes
// (store/builtin/iintobj.cpp); the object model sees only this header.
//
// Invariants:
//  1. The owner holds one reference to its compiled part for as long as it
//     is alive; when the owner is destroyed or freed it clears the back
//     reference (setOwner(nullptr)) before it gives its reference up, so an
//     instance that a COM client still holds never names a dead object.
//  2. An instance that reads a stream of a newer revision than its class
//     knows refuses it (ObjectLoadFailed with the class's name) before it
//     changes anything; an older one is read and its owner marked changed,
//     so that the next save rewrites it at the current revision.
//
// Compiled part of an "Objects" record (after the 16-byte class id that
// SignatureRep::compWrite writes):
//
//   offset  width  meaning
//   0       1      revision of the class that wrote it (PO_GetRevisionLevel)
//   1       ...    the class's own state, as its PO_Write lays it out
#pragma once

#include <cstdint>

#include "platform/com/guid.h"
#include "platform/com/oclobj.h"
#include "store/dscrptr.h"
#include "store/idtype.h"

namespace tq {

class AccessControlRep;
class DllServer;
class InterObj;
class InterObjRep;
class OCLStream;
class Printable;
class SignatureRep;
class ValueList;
class ValuePtr;

// The interface id under which an instance answers QueryInterface.
inline constexpr IID IID_IInterObj{
    0xA7231B8F, 0xE641, 0x4B10, {0xAD, 0x5F, 0x5F, 0x05, 0xF1, 0x15, 0x84, 0xFA}};

class IInterObj : public OCLObject {
public:
    // server counts the instance as in use (null: none does).
    explicit IInterObj(DllServer* server);

    // ---- persistence (the IPersistStream operations) ---------------------

    // S_OK without writing the identifier: the store knows the class id
    // from the owner's signature.
    HRESULT GetClassID(CLSID* id);
    // S_OK while the instance holds unsaved changes, S_FALSE otherwise.
    HRESULT IsDirty() const { return dirty_ ? S_OK : S_FALSE; }
    // Reads the revision byte and the state (layout above). A newer
    // revision raises ObjectLoadFailed naming the class; a stream that ends
    // early or holds unsound references raises it too.
    HRESULT Load(OCLStream& in);
    // Writes the current revision and the state; clearDirty clears the
    // unsaved-changes mark.
    HRESULT Save(OCLStream& out, int clearDirty);
    // 1024 bytes: what a caller reserves for a save.
    HRESULT GetSizeMax(uint64_t* size);

    // ---- the class's protocol --------------------------------------------

    // Declares the class's properties, methods and events on sig (once per
    // signature; see SignatureRep::ensureCompFields).
    virtual void PO_DefineFields(SignatureRep& sig) = 0;
    virtual uint32_t PO_GetRevisionLevel() const = 0;
    virtual void PO_Read(OCLStream& in, uint32_t revision) = 0;
    virtual void PO_Write(OCLStream& out) = 0;
    // The class's prototype name ("Group"), for messages.
    virtual const char* className() const = 0;

    // ---- what the object model asks --------------------------------------

    // A new object was copied from an object whose compiled part is
    // other: take over what a copy inherits. Nothing by default.
    virtual void clone(const IInterObj& other);
    // The object applied to arguments (obj(args)); *handled 0 and no value
    // by default.
    virtual ValuePtr eval(const ValueList* args, int* handled);
    // A member the signature does not define, offered to the instance with
    // the evaluation flags of the call; *handled 0 and no value by default.
    virtual ValuePtr extEval(const char* name, IdType kind, const ValueList* args, int* handled,
                             int32_t flags);
    // The owner moved to module m, or its module opened: fault in what the
    // state names. Nothing by default.
    virtual void attach(tModuleIndex m);
    // Where `Print #obj` writes; null (the default) for a class that is no
    // printing target.
    virtual Printable* printSink();
    // The access control this part gives its owner (accctl.h); null (the
    // default) for a class that is no access control. Asked at every
    // permission test of an object with a compiled part.
    virtual AccessControlRep* accessControl() { return nullptr; }

    // ---- the owner -------------------------------------------------------

    InterObjRep* owner() const { return owner_; }
    void setOwner(InterObjRep* o) { owner_ = o; }
    // Marks unsaved changes and the owner's record changed, so that the
    // owner's module writes the instance again.
    void markChanged();

    // Member `name` of the owner evaluated with args (flags: dotted); no
    // value when there is no owner.
    ValuePtr evalIMember(const char* name, ValueList* args, int* handled);
    // The owner's descriptor, as a reference of the module being written.
    void writeMe(OCLStream& out);
    // After the owner was copied from source: when ref names an object
    // embedded in source, it is made to name the object the owner holds in
    // the embed field of the same name.
    void fixupCopiedReferenceToEmbed(InterObj& ref, const InterObj& source);

protected:
    ~IInterObj() override;
    IUnknown* findInterface(REFIID riid) override;

    uint32_t dirty_ = 0;

private:
    InterObjRep* owner_ = nullptr;
};

}  // namespace tq
