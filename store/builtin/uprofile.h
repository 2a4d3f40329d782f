// iUserProfile: the built-in class UserProfile, who runs the program.
//
// "Username" is the login name of the effective user (platform/util/
// username.h), read once and kept; "ProfileChanged" tells every ACL that
// the user's profile changed, so each evaluates its permissions again at
// its next test (iACL::ProfileChanged).
//
// PO_Write layout (after the revision byte, iintobj.h), revision 1: nothing.
#pragma once

#include <cstdint>
#include <string>

#include "store/builtin/publish.h"

namespace tq {

class ValString;

class iUserProfile final : public IInterObj {
public:
    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }
    static constexpr uint32_t kRevision = 1;

    explicit iUserProfile(DllServer* server);

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "UserProfile"; }

    ValString pdGetUsername();
    void imSecurityIDChanged();

private:
    ~iUserProfile() override;

    std::string userName_;
};

}  // namespace tq
