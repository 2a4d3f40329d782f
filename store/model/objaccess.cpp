// The object model's permission tests, answered by the object's access
// control (accctl.h).
#include "store/accctl.h"
#include "store/iintobj.h"
#include "store/model/interobj.h"

namespace tq {

namespace {

// The permission bit each test of the object model asks for.
constexpr uint32_t kPermissionBits[] = {
    AccessControlRep::kRead,       // kPermitRead: properties read, methods called
    AccessControlRep::kWrite,      // kPermitWrite
    AccessControlRep::kCopy,       // kPermitCopy
    AccessControlRep::kMember,     // kPermitAddMember
    AccessControlRep::kMember,     // kPermitDeleteMember
    AccessControlRep::kPrivilege,  // kPermitSetPermission
    AccessControlRep::kDelete,     // kPermitAll: destroying, renaming
};

AccessControlRep* AccessControlOf(InterObjRep* holder) {
    if (!holder || holder->isDestroyed()) return nullptr;
    IInterObj* part = holder->compiledPart();
    return part ? part->accessControl() : nullptr;
}

}  // namespace

bool InterObjRep::testAccess(tPermission p) {
    // The access control named, else the object itself when it is an ACL.
    // A name that no longer leads to an ACL (destroyed, or a record naming
    // an object of another class) leaves the object without access control.
    InterObjRep* named = acl_.get();
    AccessControlRep* acl = AccessControlOf(named ? named : this);
    return !acl || acl->testPermission(kPermissionBits[p]);
}

void InterObjRep::setAclObject(InterObjRep* acl) {
    acl_ = acl;
    changed();
}

}  // namespace tq
