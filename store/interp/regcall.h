// Calls and fields in the register form: the records their instructions
// name (regcall.cpp, regfield.cpp).
//
// A call or a field access names a site of its form's RegSites: what the
// translator resolved once (the object, the method or field, where the
// field's datum lies) and the keys under which that resolution holds. Each
// use checks the keys; while they hold, a call passes its arguments in
// registers and a field is read or written where its datum lies. When they
// do not (a field list changed while the procedure ran, Me is an object of
// another signature, the object named is gone, a debugger was installed,
// the callee has no register form), the site goes the general road: the
// name looked up on the object as the tree walker looks it up, with values,
// so that the result and every failure are the tree walker's.
//
// Nothing here is counted: a method or field the site names is used only
// while the field look-up revision it was found in holds (while it does,
// the field is still listed in its signature), and an object only while
// its handle id, never issued twice, still names it. A form thus keeps no
// object, signature or module alive.
//
// Parameters live in the callee's registers. A by-value parameter holds its
// value. A by-reference parameter holds a copy of the caller's variable for
// the length of the call, written back when the call ends, however it ends:
// the caller's variable (a register), a field (through its site) or the
// tree walker's value (the entry). A call that would give the same variable
// to two by-reference parameters is not taken, so no write can be lost
// between two copies of one variable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/util/handle.h"
#include "store/interp/dbgseam.h"
#include "store/interp/regform.h"
#include "store/member.h"

namespace tq {

// The types a register holds as a number: what register code reads, writes
// and passes without making a value.
inline bool IsRegisterNumberType(IdType t) {
    return t == IDT_SHORT || t == IDT_LONG || t == IDT_FLOAT || t == IDT_DOUBLE;
}

class CDLLProcField;
class CompProcDataField;
class CppProcField;
class Field;
class ObjectSlotField;
class SignatureRep;

// Calls (operands: a the call site).
inline constexpr RegOp ROP_CALL = static_cast<RegOp>(kCallFirst);
// A call of a procedure of a shared library (a the native site,
// regnative.cpp).
inline constexpr RegOp ROP_CALL_NATIVE = static_cast<RegOp>(kCallFirst + 1);
// A compiled member of the object held in a field of Me (a the compiled
// site, regcompiled.cpp).
inline constexpr RegOp ROP_CALL_COMPILED = static_cast<RegOp>(kCallFirst + 2);
// Fields (a the number register, b the field site): read into a; write
// number a into the field, with the conversion an assignment makes.
inline constexpr RegOp ROP_FIELD_GET_N = static_cast<RegOp>(kFieldFirst);
inline constexpr RegOp ROP_FIELD_SET_N = static_cast<RegOp>(kFieldFirst + 1);

// The object a site applies to: the activation's Me, or a static object
// named where the procedure is written, found by its name when the form was
// made.
struct RegObjectRef {
    bool onMe = true;
    std::string name;
    InterObjRep* object = nullptr;
    HandleTable::Id id = 0;

    // The object now: Me; the object found, while its id still names it
    // and it is not destroyed; else the static object of that name now
    // (NotFound 32740 when there is none).
    InterObjRep& resolve(const RegActivation& act) const { return onMe ? *act.me : named(); }

private:
    InterObjRep& named() const;
};

// The look-up flags of a member of obj on the general road: a member
// chain's object is looked up from outside unless it is the running Me.
inline int32_t RegLookupFlags(const RegActivation& act, int32_t how, const InterObjRep& obj) {
    return (how & EVAL_DOTTED) && &obj != act.me ? how | EVAL_FROM_OUTSIDE : how;
}

struct RegFieldSite {
    RegObjectRef target;
    std::string name;
    // The look-up flags the tree walker uses here (dotted, from outside).
    int32_t how = 0;
    // Where the datum lies in an object of signature, while the field
    // look-up revision is the one it was found in.
    SignatureRep* signature = nullptr;
    uint64_t revision = 0;
    uint32_t offset = 0;
    IdType type = IDT_LONG;
    // The place last found: the object (by address and by its handle id,
    // never issued twice), its data block and size, and the revision it
    // was found in (0: none). While all hold, the datum is where it was.
    mutable InterObjRep* placeObject = nullptr;
    mutable HandleTable::Id placeId = 0;
    mutable const uint8_t* placeData = nullptr;
    mutable uint32_t placeSize = 0;
    mutable uint64_t placeRevision = 0;
    // The count of table writes begun when a write here last marked the
    // place's object changed (kUnmarked: not since the place was found):
    // until that count moves, the mark stands and need not be made again.
    static constexpr uint64_t kUnmarked = UINT64_MAX;
    mutable uint64_t placeMarkedAt = kUnmarked;
};

// How an argument reaches its parameter.
struct RegArgument {
    // The caller's register holding the argument: a variable, or a
    // temporary the argument was evaluated into (of the parameter's type
    // when it is by reference).
    int32_t source = 0;
    IdType parameterType = IDT_LONG;
    bool byReference = false;
    // By reference to a variable of the caller: the parameter's value is
    // copied back to source when the call ends.
    bool writeBack = false;
};

struct RegCallSite {
    RegObjectRef target;
    std::string name;
    int32_t how = 0;
    IdType suffix = IDT_UNTYPED;
    // The method found on an object of signature, while the revision
    // holds.
    SignatureRep* signature = nullptr;
    uint64_t revision = 0;
    InterProcField* method = nullptr;
    // In parameter order.
    std::vector<RegArgument> arguments;
    // A function's value goes to this number register (-1: dropped).
    int32_t result = -1;
    // Whether any argument is copied back when the call ends.
    bool writesBack = false;
    // The callee's form as last found, with the field look-up revision and
    // cache epoch it was found under: the keys under which its holder keeps
    // it, so that while they hold the form is still the callee's.
    mutable RegisterForm* calleeForm = nullptr;
    mutable uint64_t calleeRevision = 0;
    mutable uint64_t calleeEpoch = 0;
    // The handle id of signature, as an object's direct reference to it
    // holds it: ids are never issued twice, so an object whose reference
    // holds this id directly has that signature, found without a look-up.
    mutable HandleTable::Id signatureId = 0;
};

// A call of a Declare'd procedure whose parameters and result are numbers
// the registers hold: the arguments go to the native function in their C
// forms straight from the registers, with no value made. The site's call
// record (whose method is null) serves the general road when its keys no
// longer hold.
struct RegNativeSite {
    RegCallSite call;
    CDLLProcField* field = nullptr;
    // IDT_VOID for a Sub, else the function's number type.
    IdType resultType = IDT_VOID;
    // Per argument, its native form (GenericStackPusher::tArgForm).
    std::vector<uint8_t> forms;
    static constexpr size_t kMaxArguments = 8;
};

// How a compiled site's holder is found: an object field of Me, an
// object local (a value register), an object named where the procedure
// is written (call.target).
enum RegCompiledHolder : uint8_t { RCH_ME_FIELD, RCH_LOCAL, RCH_NAMED };
// The arguments of a direct call of a compiled member: none, a String, a
// Long, a Double, two Strings; any other goes the general road.
enum RegCompiledShape : uint8_t { RCS_NONE, RCS_STRING, RCS_LONG, RCS_DOUBLE, RCS_STRING_STRING, RCS_GENERAL };

// "Holder.Member(arguments)" where Member is a compiled property, Sub or
// Function of the object in Holder, taking and giving numbers the
// registers hold or Strings (regcompiled.cpp): the held object is read
// where the holder lies and the member function called directly, with no
// value made. For an object field of Me: while Me has the signature
// holder was found on and the field look-up revision holds, the slot is
// where it was. While the held object has call.signature, the member is
// the one found; an object of another signature has its member of that
// name and shape found and kept in its place. Otherwise the call goes the
// general road: the holder's name evaluated on Me (for a field), then the
// member looked up by name on the object, with the arguments as values.
struct RegCompiledSite {
    RegCallSite call;
    RegCompiledHolder holderKind = RCH_ME_FIELD;
    std::string holderName;
    SignatureRep* holderSignature = nullptr;
    SignatureRep* holderOwner = nullptr;
    ObjectSlotField* holder = nullptr;
    int32_t holderRegister = -1;
    // One of the two.
    CompProcDataField* property = nullptr;
    CppProcField* method = nullptr;
    // IDT_VOID for a Sub, else the member's number type or IDT_STRING
    // (call.result then names a string register).
    IdType resultType = IDT_VOID;
    RegCompiledShape shape = RCS_NONE;
    // The arguments' registers (numbers or string operands), in order.
    std::vector<RegOperand> args;
    // Whether only the number of the result is used (an enumeration's
    // property is taken there).
    bool asNumber = false;
};

struct RegSites {
    std::vector<RegFieldSite> fields;
    std::vector<RegCallSite> calls;
    std::vector<RegNativeSite> natives;
    std::vector<RegCompiledSite> compiled;
    // Objects read into registers (regobject.cpp): a site's target, and
    // for a member of it its name and look-up flags.
    std::vector<RegFieldSite> objects;
};

// The form's sites, made when its first site is.
RegSites& RegSitesOf(RegisterForm& form);

// The object a member chain's head names, for a field or a call: Me ("Me."),
// or a static object when the name is neither a local, a parameter nor a
// member of Me; how receives the look-up flags. False when it is anything
// else.
bool RegFindTarget(RegCompiler& rc, const ExprNode* head, RegObjectRef& target, int32_t& how);

// The field site for a field of Me or of a named object, written at e (a
// name or a two-piece member chain), when it is a plain number field of a
// type the registers hold; -1 when it is not taken.
int32_t RegFieldSiteFor(RegCompiler& rc, const ExprNode* e);

// The call at site as the tree walker makes it: the arguments as values,
// the name looked up on obj, the member evaluated, by-reference variables
// read back and the result stored, however the call ends.
void RegGeneralCall(RegActivation& act, const RegCallSite& site, InterObjRep& obj);

// The declared procedure f when a call of it can be a native site: a
// CDLLProcField that is a Sub or a Function of a number type the registers
// hold (its parameters are checked with the call's); null otherwise.
CDLLProcField* RegNativeCallee(Field& f);
// Makes site (translated as for an interpreted callee) a native site of
// field and emits its call; false, emitting nothing, when it is not taken.
bool RegEmitNativeCall(RegCompiler& rc, RegCallSite&& site, CDLLProcField& field);
uint32_t RegRunNativeCall(RegActivation& act, const RegInstr& in, uint32_t pc);

// Translates e, "Holder.Member" as RegCompiledSite tells, into a compiled
// site; false when it is not one (its arguments may have been emitted:
// the procedure is then not taken).
bool RegTranslateCompiledCall(RegCompiler& rc, const ExprNode* e, bool wantValue, RegOperand* out);
uint32_t RegRunCompiledCall(RegActivation& act, const RegInstr& in, uint32_t pc);

// Whether procedures may run in register form now: switched on, and no
// debugger that follows execution installed.
inline bool RegFormAllowed() {
    if (!RegisterForm::Enabled() || DebugHook::modes) return false;
    DebugHook* hook = DebugHook::Installed();
    return !hook || !hook->watchesExecution();
}

// proc's register form for running on me: the current one, or one made now;
// null when the register form is switched off, a debugger is installed or
// the translator does not take proc.
RegisterForm* RegFormFor(InterProcField& proc, InterObjRep& me);

// The entry with a call's values: by-reference parameters bound to the
// caller's own values, written back when the call ends.
//
// The copy is not seen only when nothing but the parameter can reach the
// value while the call runs. RegEntryTakes is false when a by-reference
// parameter would be bound to storage (a field, a frame's local, an array
// element: the callee, or what it calls, may read or write it by its name
// meanwhile) or two such parameters to one value; that call runs on the
// tree walker, which binds the storage itself.
bool RegEntryTakes(InterProcField& proc, const ValueList* args);
struct RegEntryBack {
    ValuePtr value;
    int32_t index = 0;
};
// A call's by-reference parameters are few: the first kInline are kept in
// place, so that an entry (a host's call, every call the tree walker makes
// into the register form) allocates nothing for them.
class RegEntryBacks {
public:
    static constexpr size_t kInline = 4;
    void push_back(RegEntryBack b) {
        if (size_ < kInline)
            inline_[size_] = std::move(b);
        else
            more_.push_back(std::move(b));
        ++size_;
    }
    size_t size() const { return size_; }
    const RegEntryBack& operator[](size_t i) const { return i < kInline ? inline_[i] : more_[i - kInline]; }

private:
    RegEntryBack inline_[kInline];
    std::vector<RegEntryBack> more_;
    size_t size_ = 0;
};
// Binds args (listed last first) into act's parameter registers as the
// tree walker binds them: their number, then each one's conversion and
// check, with the same failures.
void RegBindArguments(RegActivation& act, const ValueList* args, RegEntryBacks& backs);
// Writes the by-reference parameters back to the caller's values.
void RegWriteBack(RegActivation& act, const RegEntryBacks& backs);
// A function's value as the tree walker hands it over; null for a Sub.
ValuePtr RegResult(const RegActivation& act);

}  // namespace tq
