#include "store/builtin/iacl.h"

#include <cstdio>
#include <string>

#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/sigrep.h"
#include "store/vals.h"

namespace tq {
namespace {

IInterObj* MakeACL(DllServer* server) { return new iACL(server); }

// The word a program or a file gives, checked against invariant 1.
bool SoundWord(int64_t value) { return value >= 0 && (value & ~int64_t(AccessControlRep::kAllBits)) == 0; }

}  // namespace

EnumRep* EnsureObjectPermissionsEnum() {
    if (EnumRep* e = EnumRep::find("ObjectPermissions")) return e;
    static const struct {
        const char* name;
        int32_t value;
    } kEntries[] = {
        {"None", 0},          {"R", 2},           {"R,C", 10},          {"R,D", 18},
        {"R,W", 6},           {"R,M", 66},        {"R,P", 34},          {"R,W,C", 14},
        {"R,W,D", 22},        {"R,W,P", 38},      {"R,C,P", 42},        {"R,C,D", 26},
        {"R,D,P", 50},        {"R,W,M", 70},      {"R,C,M", 74},        {"R,M,P", 98},
        {"R,W,C,P", 46},      {"R,W,D,P", 54},    {"R,W,C,D", 30},      {"R,C,D,P", 58},
        {"R,W,C,M", 78},      {"R,W,M,P", 102},   {"R,W,D,M", 86},      {"R,W,C,D,M", 94},
        {"R,W,C,D,P", 62},    {"R,W,C,M,P", 110}, {"R,W,D,M,P", 118},   {"R,W,C,D,M,P", 126},
    };
    auto* e = new EnumRep("ObjectPermissions", 0);
    for (const auto& entry : kEntries) e->addEntry(entry.name, entry.value);
    return e;
}

PublishedClass& iACL::Class() {
    static PublishedClass* const cls =
        new PublishedClass("Tessaro.ACL", "ACL", "{A7231B80-E641-4B10-AD5F-5F05F11584FA}", &MakeACL);
    return *cls;
}

InterObjRep* iACL::PO_InitObject() {
    const bool made = Class().prototype() == nullptr;
    InterObjRep* proto = Class().PO_InitObject();
    if (made) {
        if (iACL* acl = Of(proto)) acl->permissions_ = kPrototypePermissions;
        proto->setAclObject(proto);
        EnsureBooleanEnum();
    }
    return proto;
}

InterObjRep* iACL::PO_GetObject() {
    InterObjRep* o = Class().prototype();
    return o ? o : PO_InitObject();
}

iACL::iACL(DllServer* server) : IInterObj(server) {}

iACL::~iACL() = default;

iACL* iACL::Of(InterObjRep* obj) {
    if (!obj || obj->isDestroyed()) return nullptr;
    return dynamic_cast<iACL*>(obj->compiledPart());
}

void iACL::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnumRep* permissions = EnsureObjectPermissionsEnum();
        sig.addField(CompProcEnumField::make("ObjectAccess", permissions, Method(&iACL::pdSetAccessPermissions),
                                             Method(&iACL::pdGetAccessPermissions)),
                     nullptr, 0);
        ParseCppField("Sub AccessChanged()", sig, &iACL::imAccessChanged);
        ParseCppEvent("Event EvaluatePermissions(access as long)", sig);
    });
}

// ---- access control ---------------------------------------------------------------------

bool iACL::testPermission(uint32_t mask) {
    if (evaluating_) return true;
    if (evaluatedStamp_ != permissionStamp) reevalPermissions();
    return (permissions_ & mask) != 0;
}

void iACL::reevalPermissions() {
    const uint32_t stamp = permissionStamp;
    InterObjRep* me = owner();
    InterObjRep* handlerObject = nullptr;
    if (me && !me->isDestroyStarted() && me->findEventHandler("EvaluatePermissions", handlerObject)) {
        // The handler may destroy the object, and with it this instance.
        const InterObj keepOwner(me);
        AddRef();
        struct Restore {
            iACL* acl;
            ~Restore() {
                acl->evaluating_ = false;
                acl->Release();
            }
        } restore{this};
        // The argument starts as the word as it stands: a handler that
        // leaves it alone changes nothing.
        ValueList args;
        args.append(new LongValue(static_cast<int32_t>(permissions_)));
        evaluating_ = true;
        me->evalIEvent("EvaluatePermissions", &args, 0);
        evaluating_ = false;
        storePermissions(args.at(0)->as<int32_t>());
    }
    evaluatedStamp_ = stamp;
}

void iACL::storePermissions(int32_t value) {
    if (!SoundWord(value)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "iACL::pdSetAccessPermissions(): the permission word %d has bits that name no permission "
                      "(0 to 127 only).",
                      static_cast<int>(value));
        throw StoreException(std::string(text));
    }
    const auto word = static_cast<uint32_t>(value);
    if (word == permissions_) return;
    if (!(permissions_ & kPrivilege)) throw AccessDenied("iACL::pdSetAccessPermissions()", 32755);
    permissions_ = word;
    markChanged();
}

// ---- members ----------------------------------------------------------------------------

int32_t iACL::pdGetAccessPermissions() { return static_cast<int32_t>(permissions_); }

void iACL::pdSetAccessPermissions(int32_t value) {
    // The word is refreshed first, so that P is asked of the current one.
    if (!testPermission(kPrivilege)) throw AccessDenied("iACL::pdSetAccessPermissions()", 32755);
    storePermissions(value);
}

void iACL::imAccessChanged() { reevalPermissions(); }

// ---- persistence -------------------------------------------------------------

void iACL::PO_Write(OCLStream& out) { out.writeU32(permissions_); }

void iACL::PO_Read(OCLStream& in, uint32_t) {
    const uint32_t word = in.readU32();
    if (!SoundWord(word)) throw ObjectLoadFailed(className());
    permissions_ = word;
}

}  // namespace tq
