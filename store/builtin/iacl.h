// iACL: the built-in class ACL, an object's permissions as an object.
//
// An ACL holds a permission word (the bits of accctl.h) and answers the
// object model's permission tests for the objects it governs: itself,
// when no other access control is named, and every object that names it.
// The program may compute the word through the "EvaluatePermissions"
// event: after UserProfile.ProfileChanged (a new process-wide permission
// stamp) every ACL raises it again at its next test, once.
//
// Invariants:
//  1. The word holds only the bits of accctl.h (kAllBits); a word with
//     others is refused from a program and from a file.
//  2. evaluatedStamp == permissionStamp after every test that returns:
//     the event is raised once per profile change, not at every test. A
//     handler that fails leaves the stamp as it was, so the next test asks
//     again instead of running on a word nobody computed.
//  3. While the handler runs, this ACL's tests answer allowed (the store
//     raising the event is no access of the program's, and a test there
//     would raise the event again without end); the word itself changes
//     only with the P permission of the word as it stands.
//  4. The ACL prototype has R, W, C and M only and governs itself and the
//     other built-in prototypes: programs can neither change its
//     permissions nor destroy a prototype.
//
// PO_Write layout (after the revision byte, iintobj.h), revision 1:
//
//   offset  width  meaning
//   0       4      the permission word (bits of accctl.h only)
#pragma once

#include <cstdint>

#include "store/accctl.h"
#include "store/builtin/publish.h"

namespace tq {

class iACL final : public IInterObj, public AccessControlRep {
public:
    static PublishedClass& Class();
    // Makes the prototype (when there is none) with the prototype's word,
    // governing itself.
    static InterObjRep* PO_InitObject();
    static InterObjRep* PO_GetObject();
    static constexpr uint32_t kRevision = 1;
    static constexpr uint32_t kDefaultPermissions = 0x7E;
    static constexpr uint32_t kPrototypePermissions = kDefaultPermissions & ~(kDelete | kPrivilege);

    explicit iACL(DllServer* server);

    // The ACL part of obj; null when obj is no ACL.
    static iACL* Of(InterObjRep* obj);
    // The profile changed: every ACL evaluates again at its next test.
    static void ProfileChanged() { ++permissionStamp; }
    static uint32_t PermissionStamp() { return permissionStamp; }

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream& in, uint32_t revision) override;
    void PO_Write(OCLStream& out) override;
    const char* className() const override { return "ACL"; }

    // ---- access control --------------------------------------------------------------

    AccessControlRep* accessControl() override { return this; }
    bool testPermission(uint32_t mask) override;
    // Raises "EvaluatePermissions" and takes the word its handler leaves.
    void reevalPermissions();
    uint32_t permissions() const { return permissions_; }

    // ---- members ---------------------------------------------------------------------

    int32_t pdGetAccessPermissions();
    void pdSetAccessPermissions(int32_t value);
    void imAccessChanged();

private:
    ~iACL() override;
    // Stores value when the word as it stands has P (invariants 1, 3).
    void storePermissions(int32_t value);

    uint32_t permissions_ = kDefaultPermissions;
    uint32_t evaluatedStamp_ = 0;
    bool evaluating_ = false;

    static inline uint32_t permissionStamp = 0;
};

// The "ObjectPermissions" enumeration: found by name, or made in the
// current module, with the 28 combinations of letters that include R.
EnumRep* EnsureObjectPermissionsEnum();

}  // namespace tq
