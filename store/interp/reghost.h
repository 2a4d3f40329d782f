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
// The checks of the general entry stay, in its order: the object readable,
// the number of arguments, each one's conversion (a failure of binding is
// the caller's, with no line of the procedure), then the native stack's
// room ("Stack overflow."), then the procedure's own statements.
#pragma once

#include <cstddef>

#include "store/interp/regform.h"

namespace tq {

// Runs proc on me in register form with args (n numbers, in the order
// written): true with result set as RunRegisterForm sets it, false (and
// nothing done) when the general entry must run it: no register form, a
// debugger installed, more arguments than kMaxHostNumbers.
inline constexpr size_t kMaxHostNumbers = 8;
bool RunRegisterFormNumbers(InterProcField& proc, InterObjRep& me, const RegNumber* args, size_t n,
                            ValuePtr& result);

}  // namespace tq
