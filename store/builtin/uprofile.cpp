#include "store/builtin/uprofile.h"

#include "platform/util/username.h"
#include "store/builtin/iacl.h"
#include "store/model/sigrep.h"
#include "store/vals.h"

namespace tq {
namespace {

IInterObj* MakeUserProfile(DllServer* server) { return new iUserProfile(server); }

}  // namespace

PublishedClass& iUserProfile::Class() {
    static PublishedClass* const cls = new PublishedClass(
        "Tessaro.UserProfile", "UserProfile", "{A7231B81-E641-4B10-AD5F-5F05F11584FA}", &MakeUserProfile);
    return *cls;
}

iUserProfile::iUserProfile(DllServer* server) : IInterObj(server) {}

iUserProfile::~iUserProfile() = default;

void iUserProfile::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcDataField::make("Username", IDT_STRING, NoSetter, Method(&iUserProfile::pdGetUsername)),
                     nullptr, 0);
        ParseCppField("Sub ProfileChanged()", sig, &iUserProfile::imSecurityIDChanged);
    });
}

ValString iUserProfile::pdGetUsername() {
    // Read once: a program compares it often, and the password database
    // may be slow (a network directory).
    if (userName_.empty()) userName_ = UserName();
    return ValString(userName_.c_str());
}

void iUserProfile::imSecurityIDChanged() { iACL::ProfileChanged(); }

}  // namespace tq
