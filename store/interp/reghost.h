// The entry of a host's call into the register form when every argument is
// a number given by value (TessaroObject::EvalNumbers, which Eval's
// letters i, l, f and d and Call's number arguments reach).
//
// The entry from the tree walker (RunRegisterForm) takes the call's values
// and binds them as the tree walker binds them; it makes a Context and a
// frame, and keeps track of by-reference parameters bound to the caller's
// values. A host's number given by value is a temporary nobody else can
// reach: its parameter, by value or by reference, holds a copy that
// nobody reads back, so the numbers go straight into the callee's
// registers, converted as binding converts them, with no value made for
// them. The activation has no Context or frame, as a call from register
// code has none; a hook that records failures gets both made for it when
// a failure is offered (regrun.cpp), as for such a call.
//
// A host calls the same few members over and over, so its call site keeps
// the procedure's form (RegHostForm) as the language's call sites keep
// their callee's: while the field look-up revision and the cache epoch it
// was found under hold, it is still the form the procedure's holder keeps.
// A function's value comes back as the number in its result register, not
// as a value: that register has the function's return type, so the return
// conversion the tree walker makes would leave it as it is.
//
// The entry is inline, so that a host's call of numbers crosses no more
// function calls than the language's own call does.
//
// The checks of the general entry stay, in its order: the object readable,
// the number of arguments, each one's conversion (a failure of binding is
// the caller's, with no line of the procedure), then the native stack's
// room ("Stack overflow."), then the procedure's own statements.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/util/stackroom.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/field.h"
#include "store/interp/regcall.h"
#include "store/interp/regform.h"
#include "store/interp/regstack.h"
#include "store/interp/stackfrm.h"
#include "store/model/interobj.h"

namespace tq {

inline constexpr size_t kMaxHostNumbers = 8;

// A procedure's register form as a host's call site keeps it; form is null
// until it is found, and used only while revision and epoch are current.
struct RegHostForm {
    RegisterForm* form = nullptr;
    uint64_t revision = 0;
    uint64_t epoch = 0;
};

// proc's form for me, found as the general entry finds it (made now when
// the procedure has none yet), and kept under the keys of now; null when
// the general entry runs it.
RegisterForm* RegHostFindForm(InterProcField& proc, InterObjRep& me, RegHostForm& kept);
// The count of arguments does not match the parameters: binding's failure.
[[noreturn]] void RegHostWrongCount(InterProcField& proc, size_t n, size_t expected);

// Runs proc on me in register form with args (n numbers, in the order
// written), finding its form through kept: true with result set (a
// function's number, of its return type; IDT_UNTYPED for a Sub), false
// (and nothing done) when the general entry must run it: no register
// form, a debugger installed, more arguments than kMaxHostNumbers.
[[gnu::always_inline]] inline bool RunRegisterFormNumbers(InterProcField& proc, InterObjRep& me,
                                                          const RegNumber* args, size_t n, RegHostForm& kept,
                                                          RegNumber& result) {
    // A hook is told of every call and shown its frame: the general entry
    // makes them.
    if (n > kMaxHostNumbers || DebugHook::Installed() || !RegFormAllowed()) return false;
    RegisterForm* form = kept.form;
    if (!form || kept.revision != FieldLookupRevision::current() || kept.epoch != Context::cacheEpoch()) [[unlikely]]
        if (!(form = RegHostFindForm(proc, me, kept))) return false;
    if (!me.isReadAllowed()) throw AccessDenied("InterProcField::eval()", 32755);
    const size_t expected = form->parameters.size();
    if (n != expected) [[unlikely]]
        RegHostWrongCount(proc, n, expected);
    RegCallee callee(*form, proc, me);
    RegActivation& act = callee.activation();
    const RegOperand* parameters = form->parameters.data();
    for (size_t i = 0; i < n; ++i) {
        RegNumber& to = act.numbers[parameters[i].index];
        if (args[i].type == parameters[i].type)
            to = args[i];
        else
            RegStoreNumber(to, parameters[i].type, args[i]);
    }
    if (StackRoom::Short(StackFrame::kStackReserve)) throw StackOverflow("StackFrame::StackFrame()", 32713);
    callee.run();
    // Only a function's form has a result register.
    if (form->result.index < 0)
        result.type = IDT_UNTYPED;
    else
        result = act.numbers[form->result.index];
    return true;
}

}  // namespace tq
