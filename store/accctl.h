// AccessControlRep: the access control an object of the store carries.
//
// An object may name an access-control object (InterObjRep's access
// control, written with the object's record); the object model asks it
// before every operation that needs a permission (reading, writing,
// calling, copying, adding or removing members, destroying, changing the
// permissions). An object without one allows everything. The built-in
// class ACL is the one implementation (store/builtin/iacl.h); an ACL object
// that names no other access control answers for itself.
//
// Permission bits, with the letters the "ObjectPermissions" enumeration
// uses:
//
//   bit   letter  allows
//   0x02  R       reading properties and calling methods
//   0x04  W       writing properties
//   0x08  C       copying the object (clones, named copies)
//   0x10  D       destroying and renaming it
//   0x20  P       changing an ACL's permissions
//   0x40  M       adding, removing and renaming members
//   0x01  -       no letter; kept for compiled classes
#pragma once

#include <cstdint>

namespace tq {

class AccessControlRep {
public:
    enum : uint32_t {
        kFlagBit = 0x01,
        kRead = 0x02,
        kWrite = 0x04,
        kCopy = 0x08,
        kDelete = 0x10,
        kPrivilege = 0x20,
        kMember = 0x40,
        kAllBits = 0x7F,
    };

    // True when the permissions allow what mask asks (any of its bits).
    // May run the program's code (an ACL re-evaluating its permissions)
    // and pass its failure on.
    virtual bool testPermission(uint32_t mask) = 0;

protected:
    virtual ~AccessControlRep() = default;
};

}  // namespace tq
