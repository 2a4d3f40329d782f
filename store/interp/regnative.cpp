// Calls of declared library procedures in the register form (regcall.h
// tells the sites' design).
//
// The tree walker calls a Declare'd procedure with the call's values: each
// argument a value, bound to the parameter prototype (converted, checked),
// pushed in its C form, and the native result made into a new value. Here
// the arguments are numbers in registers already: each is converted to
// its parameter's type as binding converts it, laid out in its C form on
// the native stack of this call, and the result written into its register.
// No value, list or argument object is made.
//
// The same call, the same failures, in the same order: the declaration is
// made ready first (a parameter with no C form, a missing library or
// symbol raise before any argument is converted), then the arguments are
// converted in parameter order, then the native function runs and the
// system error code is stashed at once. A by-reference parameter gets the
// address of a copy of its argument in the parameter's C type, stored back
// into the caller's variable after the call: the callee sees storage of
// exactly its declared type, and an Integer's register (32 bits wide) is
// never written half.
#include "store/interp/dllfld.h"
#include "store/interp/regcall.h"
#include "store/interp/regcompile.h"
#include "store/model/interobj.h"
#include "store/stkpush.h"

namespace tq {

namespace {

uint8_t NativeForm(const RegArgument& a) {
    if (a.byReference) return GenericStackPusher::ARG_ADDRESS;
    switch (a.parameterType) {
        case IDT_SHORT: return GenericStackPusher::ARG_SHORT;
        case IDT_LONG: return GenericStackPusher::ARG_LONG;
        case IDT_FLOAT: return GenericStackPusher::ARG_FLOAT;
        default: return GenericStackPusher::ARG_DOUBLE;
    }
}

// One argument's native storage: the C type of its parameter.
union NativeSlot {
    int16_t s;
    int32_t l;
    float f;
    double d;
};

// n (of any number type) converted to parameter type t, as binding
// converts it, into its C form.
void ToNative(NativeSlot& to, IdType t, const RegNumber& n) {
    RegNumber c;
    if (n.type == t)
        c = n;
    else
        RegStoreNumber(c, t, n);
    switch (t) {
        case IDT_SHORT: to.s = static_cast<int16_t>(c.l); break;
        case IDT_LONG: to.l = c.l; break;
        case IDT_FLOAT: to.f = c.f; break;
        default: to.d = c.d; break;
    }
}

// A native number of type t into a register of that type.
void FromNative(RegNumber& to, IdType t, const NativeSlot& from) {
    to.type = t;
    switch (t) {
        case IDT_SHORT: to.l = from.s; break;
        case IDT_LONG: to.l = from.l; break;
        case IDT_FLOAT: to.f = from.f; break;
        default: to.d = from.d; break;
    }
}

}  // namespace

CDLLProcField* RegNativeCallee(Field& f) {
    auto* native = dynamic_cast<CDLLProcField*>(&f);
    if (!native) return nullptr;
    const IdType t = static_cast<IdType>(native->type() & IDT_TYPEMASK);
    return t == IDT_VOID || IsRegisterNumberType(t) ? native : nullptr;
}

bool RegEmitNativeCall(RegCompiler& rc, RegCallSite&& site, CDLLProcField& field) {
    if (site.arguments.size() > RegNativeSite::kMaxArguments) return false;
    RegNativeSite native;
    native.field = &field;
    native.resultType = static_cast<IdType>(field.type() & IDT_TYPEMASK);
    for (const RegArgument& a : site.arguments) native.forms.push_back(NativeForm(a));
    native.call = std::move(site);
    RegSites& sites = RegSitesOf(rc.form());
    sites.natives.push_back(std::move(native));
    rc.emit(RegInstr{ROP_CALL_NATIVE, 0, 0, static_cast<int32_t>(sites.natives.size() - 1), 0, 0});
    return true;
}

uint32_t RegRunNativeCall(RegActivation& act, const RegInstr& in, uint32_t pc) {
    const RegNativeSite& site = act.form->sites->natives[static_cast<size_t>(in.a)];
    const RegCallSite& call = site.call;
    InterObjRep& obj = call.target.resolve(act);
    // While the field look-up revision holds, the declaration found on
    // objects of this signature is still theirs (and still alive).
    if (call.revision != FieldLookupRevision::current() || obj.signature() != call.signature) [[unlikely]] {
        RegGeneralCall(act, call, obj);
        return pc + 1;
    }
    CDLLProcField& field = *site.field;
    field.ready();
    const size_t n = call.arguments.size();
    const RegArgument* given = call.arguments.data();
    NativeSlot slots[RegNativeSite::kMaxArguments];
    void* addresses[RegNativeSite::kMaxArguments];
    void* values[RegNativeSite::kMaxArguments];
    for (size_t i = 0; i < n; ++i) {
        ToNative(slots[i], given[i].parameterType, act.numbers[given[i].source]);
        if (given[i].byReference) {
            addresses[i] = &slots[i];
            values[i] = &addresses[i];
        } else {
            values[i] = &slots[i];
        }
    }
    NativeWord result;
    field.callNative(site.forms.data(), values, n, result);
    if (call.writesBack)
        for (size_t i = 0; i < n; ++i)
            if (given[i].writeBack) FromNative(act.numbers[given[i].source], given[i].parameterType, slots[i]);
    if (call.result < 0) return pc + 1;
    NativeSlot r;
    switch (site.resultType) {
        case IDT_SHORT: r.s = static_cast<int16_t>(result.word); break;
        case IDT_LONG: r.l = static_cast<int32_t>(result.word); break;
        case IDT_FLOAT: r.f = result.f; break;
        default: r.d = result.d; break;
    }
    FromNative(act.numbers[call.result], site.resultType, r);
    return pc + 1;
}

}  // namespace tq
