// Publishing a built-in class: what the library's own classes and the
// classes of extension libraries share.
//
// A class publishes itself from its library's POD_Populate by making its
// prototype (PublishedClass::PO_InitObject): the class is registered under
// its ProgID and class id with the creator that makes an instance, and a
// named store object of the class's name, in the detached module, becomes
// the prototype every program copies. When its signature first binds an
// instance, the class declares its members there (IInterObj::
// PO_DefineFields) with the declarations below.
//
// Declaring members, inside PO_DefineFields:
//
//   sig.addField(CompProcDataField::make("Count", IDT_LONG, NoSetter, Method(&iGroup::pdGetCount)),
//                nullptr, 0);
//   ParseCppField("Sub Append(Obj as Object)", sig, &iGroup::imAppendObject);
//   ParseCppEvent("Event Tick(n As Long)", sig);
//
// Invariants:
//  1. A ProgID belongs to one class and one library: publishing another
//     class under a ProgID or prototype name that is taken raises a
//     StoreException and publishes nothing of it.
//  2. A library whose POD_Populate fails leaves nothing published: the
//     classes it registered are unregistered and the prototypes it made
//     destroyed (ClassRegistry::PublishingScope undoes them).
//  3. A prototype that a module already holds under the class's name (a
//     module saved with a program's own prototype made From it) is taken as
//     the prototype instead of a new one.
#pragma once

#include <string>
#include <type_traits>

#include "store/builtin/compfld.h"
#include "store/builtin/declpars.h"
#include "store/iintobj.h"
#include "store/model/interobj.h"

namespace tq {

class DllServer;

// A member function of a class derived from IInterObj, as the members of
// the class keep it: bound to the IInterObj base, so that it is called on
// the object's compiled part.
template <class C, class R, class... A>
MemberPointer Method(R (C::*m)(A...)) {
    static_assert(std::is_base_of_v<IInterObj, C>, "a member function of a built-in class");
    return MemberPointer::Of(static_cast<R (IInterObj::*)(A...)>(m));
}
template <class C, class R, class... A>
MemberPointer Method(R (C::*m)(A...) const) {
    static_assert(std::is_base_of_v<IInterObj, C>, "a member function of a built-in class");
    return MemberPointer::Of(static_cast<R (IInterObj::*)(A...) const>(m));
}
// The setter of a read-only property.
inline constexpr MemberPointer NoSetter{};

// Declares the method of `declaration` ("Function ObjectAt(ByVal Index as
// long) as Object") on sig, bound to method. A declaration that does not
// parse raises its StoreException (declpars.h).
void ParseCppField(const char* declaration, SignatureRep& sig, const MemberPointer& method);
template <class C, class R, class... A>
void ParseCppField(const char* declaration, SignatureRep& sig, R (C::*method)(A...)) {
    ParseCppField(declaration, sig, Method(method));
}

// Reads an object reference of a compiled part's record (Faultp's stream
// form) written with the reference kind `kind`: null, or a descriptor
// naming an object (or an object proxy) that exists in module m, where the
// owner lives. Anything else is not the class's record: ObjectLoadFailed
// naming className.
tDescriptor ReadObjectReference(OCLStream& in, tModuleIndex m, uint8_t kind, const char* className);

// Runs a class's PO_DefineFields steps: fn declares the members; any
// StoreException goes to StoreApplication::HandleException, and the
// members declared so far stay. The flag is set either way, so a failing
// class is not declared again at every binding.
template <class F>
void DefineFields(SignatureRep& sig, F&& fn);

// The static part of a built-in class: its names, its creator and its
// prototype (PO_Object).
class PublishedClass {
public:
    using Creator = IInterObj* (*)(DllServer* server);

    // progId "Tessaro.Group", name "Group", clsid the class id's text;
    // parent, when given, is the class whose prototype this one's is made
    // From (Application's is a Project), so its members are inherited.
    PublishedClass(const char* progId, const char* name, const char* clsid, Creator create,
                   PublishedClass* parent = nullptr);
    PublishedClass(const PublishedClass&) = delete;
    PublishedClass& operator=(const PublishedClass&) = delete;

    // Registers the class and makes the prototype when there is none (see
    // the invariants above); returns the prototype.
    InterObjRep* PO_InitObject();
    // The prototype, made first when needed.
    InterObjRep* PO_GetObject();
    // The prototype when it has been made, else null.
    InterObjRep* prototype() const { return object_.get(); }

    const char* progId() const { return progId_; }
    const char* name() const { return name_; }
    const CLSID& classId() const { return clsid_; }
    // True when obj's signature chain is of this class.
    bool isInstance(InterObjRep* obj);

private:
    // True while the registry holds the entry this class registered.
    bool isRegistered() const;
    void registerClass();

    const char* progId_;
    const char* name_;
    CLSID clsid_;
    Creator create_;
    PublishedClass* parent_;
    bool registered_ = false;
    // The library the class was registered from (empty: the program).
    std::string library_;
    Faultp<InterObjRep> object_{UncountedIndirectReference, nullptr};
};

// ---- inline ----------------------------------------------------------------------------

void HandleDefineFieldsFailure(const StoreException& e);

template <class F>
void DefineFields(SignatureRep& sig, F&& fn) {
    TQ_ASSERT(!sig.isCompFieldsDefined(), "!sig.isCompFieldsDefined()");
    try {
        fn();
    } catch (const StoreException& e) {
        // Set first: an application that does not take the failure raises
        // it on, and the class must not declare its members again.
        sig.setCompFieldsDefined();
        HandleDefineFieldsFailure(e);
    }
    sig.setCompFieldsDefined();
}

}  // namespace tq
