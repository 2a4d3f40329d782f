#include "store/interp/reghost.h"

#include "platform/util/stackroom.h"
#include "store/errors/extexcep.h"
#include "store/interp/regcall.h"
#include "store/interp/regstack.h"
#include "store/interp/stackfrm.h"
#include "store/methfld.h"
#include "store/model/interobj.h"

namespace tq {

bool RunRegisterFormNumbers(InterProcField& proc, InterObjRep& me, const RegNumber* args, size_t n,
                            ValuePtr& result) {
    if (n > kMaxHostNumbers || !RegisterForm::Enabled()) return false;
    // A hook is told of every call and shown its frame: the general entry
    // makes them.
    if (DebugHook::Installed()) return false;
    bool notTaken = false;
    RegisterForm* form = proc.registerForm().current(notTaken);
    if (notTaken || !RegFormAllowed()) return false;
    if (!me.isReadAllowed()) throw AccessDenied("InterProcField::eval()", 32755);
    if (!form && !(form = RegFormFor(proc, me))) return false;
    const size_t expected = form->parameters.size();
    if (n > expected) {
        if (!proc.parameterPrototype()) throw TooManyArguments("InterProcField::eval()", 32763);
        throw TooManyArguments("InterObjRep::checkBindings()", 32763);
    }
    if (n < expected) throw TooFewArguments("InterObjRep::checkBindings()", 32762);
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
    result = RegResult(act);
    return true;
}

}  // namespace tq
