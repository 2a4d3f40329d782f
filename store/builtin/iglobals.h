// iGlobals: the built-in class Globals, whose one property "App" gives a
// program the Application object the host named (SetApp): the object of a
// running executable, or the one `tessaro run` makes for its program.
//
// The process holds one uncounted indirect reference to that object (null
// at start): it reads Nothing once the object is gone, and the host names
// it at most once.
//
// PO_Write layout: nothing after the revision byte (revision 1; 0 is read
// the same).
#pragma once

#include <cstdint>

#include "store/builtin/publish.h"

namespace tq {

class iGlobals final : public IInterObj {
public:
    static constexpr uint32_t kRevision = 1;

    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }

    explicit iGlobals(DllServer* server);

    // Names the program's Application (asserts "app == 0" when one was
    // named already); an object that is no Application names nothing.
    static void SetApp(const InterObj& app);
    // The Application named, or null.
    static InterObjRep* GetApp();

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "Globals"; }
    // A Globals object of a module file asks for its module's preload.
    void clone(const IInterObj& other) override;

    InterObj pdGetApp();

private:
    ~iGlobals() override;
};

}  // namespace tq
