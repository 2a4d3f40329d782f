#include "store/builtin/iglobals.h"

#include "store/builtin/iapplic.h"
#include "store/errors/extexcep.h"
#include "store/model/sigrep.h"
#include "store/persist/objstore.h"

namespace tq {
namespace {

IInterObj* MakeGlobals(DllServer* server) { return new iGlobals(server); }

// The program's Application. Never destroyed, like the store's other
// process-wide state; uncounted, so it reads null once the object goes.
Faultp<InterObjRep>& TheApp() {
    static auto* const app = new Faultp<InterObjRep>(UncountedIndirectReference, nullptr);
    return *app;
}

}  // namespace

PublishedClass& iGlobals::Class() {
    static PublishedClass* const cls =
        new PublishedClass("Tessaro.Globals", "Globals", "{A7231B85-E641-4B10-AD5F-5F05F11584FA}", &MakeGlobals);
    return *cls;
}

iGlobals::iGlobals(DllServer* server) : IInterObj(server) {}

iGlobals::~iGlobals() = default;

void iGlobals::SetApp(const InterObj& app) {
    InterObjRep* named = TheApp().get();
    InterObjRep* given = app.isNull() ? nullptr : app.get();
    if (named == given) return;
    // A host names its application once; naming another while the first
    // lives would leave programs holding two. One that is gone may be
    // followed by another (a host that runs programs one after another).
    if (named) throw StoreException("Globals.App is set already: the program's Application cannot change.");
    if (!iApplication::Class().isInstance(given)) return;
    TheApp() = given;
}

InterObjRep* iGlobals::GetApp() { return TheApp().get(); }

void iGlobals::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcDataField::make("App", IDT_OBJECT, NoSetter, Method(&iGlobals::pdGetApp)), nullptr, 0);
    });
}

void iGlobals::clone(const IInterObj&) {
    InterObjRep* me = owner();
    if (me && me->moduleIndex() != DETACHED_MODULE) ObjectStore::RequestPreload(me);
}

InterObj iGlobals::pdGetApp() { return InterObj(GetApp()); }

}  // namespace tq
