// iGroup: the built-in class Group, an ordered collection of objects.
//
// A program appends, inserts, removes and indexes objects; a group may be
// restricted to objects that can be treated as a given type; it persists
// its member list with its module; and a member call the group does not
// define is broadcast to every member (extEval) under the EvalRequires
// policy. `For Each x In group` walks the members, and the store hands
// lists of objects back in groups (ObjectStore::GetDynamicObjects, ...).
//
// Invariants:
//  1. Members are counted references through the handle cell: a member
//     whose object has been destroyed reads null, and every operation that
//     counts or indexes drops such entries first (cleanList).
//  2. groupFlags holds exactly one EvalRequires value (1 MatchNone, 2
//     MatchOne, 4 MatchAll) in bits 0-2 and Persistent in bit 3.
//  3. When a group type is set, every member added can be treated as it;
//     the type reference is uncounted and does not keep its object alive.
//  4. A failing operation leaves the list, the flags and the type as they
//     were: every check comes before the first change.
//  5. Walks that run the program's code (broadcast, For Each) walk a copy
//     of the list, so a member's code may change the group meanwhile.
//
// PO_Write layout (after the revision byte, iintobj.h), revision 1:
//
//   offset  width  meaning
//   0       5      group type, an object reference (null when unset)
//   5       5 * n  the members, object references in list order, only when
//                  Persistent is on (n is 0 otherwise)
//   5+5n    5      null reference: the end of the members
//   10+5n   1      groupFlags
#pragma once

#include <cstdint>
#include <vector>

#include "store/builtin/publish.h"
#include "store/persist/objstore.h"

namespace tq {

class ValString;

class iGroup final : public IInterObj {
public:
    enum : uint8_t {
        kMatchNone = 0x01,
        kMatchOne = 0x02,
        kMatchAll = 0x04,
        kEvalRequiresMask = 0x07,
        kPersistent = 0x08,
    };

    static PublishedClass& Class();
    static InterObjRep* PO_InitObject() { return Class().PO_InitObject(); }
    static InterObjRep* PO_GetObject() { return Class().PO_GetObject(); }
    static constexpr uint32_t kRevision = 1;

    explicit iGroup(DllServer* server);

    // The group part of obj; null when obj is no group.
    static iGroup* Of(InterObjRep* obj);

    // ---- the protocol --------------------------------------------------------------

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return kRevision; }
    void PO_Read(OCLStream& in, uint32_t revision) override;
    void PO_Write(OCLStream& out) override;
    const char* className() const override { return "Group"; }
    void clone(const IInterObj& other) override;
    // g(i): the member at index i.
    ValuePtr eval(const ValueList* args, int* handled) override;
    // The broadcast of a member the group does not define.
    ValuePtr extEval(const char* name, IdType kind, const ValueList* args, int* handled, int32_t flags) override;
    void attach(tModuleIndex m) override;

    // ---- what the store and the interpreter use ------------------------------------

    GroupObjectList& list() { return list_; }
    // The live members, in order (For Each).
    void members(std::vector<InterObj>& out);
    // Drops the members whose objects are gone.
    void cleanList();
    // Modifying methods raise AccessDenied while locked.
    void setLocked(int32_t locked) { locked_ = locked; }
    // The owner is marked changed when Persistent is on.
    void noteChange();

    // ---- properties ----------------------------------------------------------------

    int32_t pdGetCount();
    InterObj pdGetGroupType();
    void pdSetGroupType(const InterObj* type);
    int32_t pdGetEvalRequires();
    void pdSetEvalRequires(int32_t v);
    int32_t pdGetPersistent();
    void pdSetPersistent(int32_t v);

    // ---- methods -------------------------------------------------------------------

    void imAppendObject(const InterObj* obj);
    void imPrependObject(const InterObj* obj);
    InterObj imObjectAt(int32_t index);
    int32_t imObjectIndex(const InterObj* obj);
    InterObj imRemoveObject(const InterObj* obj);
    InterObj imRemoveAt(int32_t index);
    void imInsertAt(const InterObj* obj, int32_t index);
    void imClear();
    int16_t imTextUnload(const char* indent, ValString* cmds);

private:
    ~iGroup() override;
    // The checks of an object about to be added (AccessDenied, a null or
    // destroyed object, TypeMismatch); the object to add.
    InterObjRep* admit(const InterObj* obj, const char* where);
    void checkUnlocked(const char* where) const;
    uint8_t evalRequires() const;
    bool persistent() const { return (groupFlags_ & kPersistent) != 0; }

    GroupObjectList list_;
    uint8_t groupFlags_ = kMatchOne | kPersistent;
    Faultp<InterObjRep> groupType_{UncountedIndirectReference, nullptr};
    int32_t locked_ = 0;
    // InterObjRep::DestroyedCount() when the list was last cleaned.
    static constexpr uint64_t kNeverCleaned = ~uint64_t(0);
    uint64_t cleanedAt_ = kNeverCleaned;
};

// The EvalRequires policy that bits 0-2 of flags hold.
uint8_t EvalRequiresOf(uint8_t flags);
// flags with the policy v in bits 0-2; RangeError 32727 for a value that is
// no policy.
uint8_t WithEvalRequires(uint8_t flags, int32_t v);

// Whether a member `name` that owner's signature does not define, evaluated
// with flags, is broadcast: a dotted call that is none of the standard
// events every object answers itself.
bool Broadcasts(InterObjRep* owner, const char* name, int32_t flags);

// Evaluates member `name` on each of objects (a walk of a copy, so the
// members' code may change whatever the list came from) under the
// EvalRequires policy (kMatchNone, kMatchOne, kMatchAll): the broadcast of a
// group and of a module's objects. The last value a member gave, else the
// Integer 0; messages 32691 to 32693 when the policy is not met.
ValuePtr BroadcastEval(const std::vector<InterObj>& objects, uint8_t policy, const char* name, IdType kind,
                       const ValueList* args, int32_t flags);

}  // namespace tq
