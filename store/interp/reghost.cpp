#include "store/interp/reghost.h"

#include "store/methfld.h"

namespace tq {

RegisterForm* RegHostFindForm(InterProcField& proc, InterObjRep& me, RegHostForm& kept) {
    bool notTaken = false;
    RegisterForm* form = proc.registerForm().current(notTaken);
    if (notTaken) return nullptr;
    if (!form) {
        // An object that may not be read refuses the call before its
        // procedure is translated.
        if (!me.isReadAllowed()) throw AccessDenied("InterProcField::eval()", 32755);
        if (!(form = RegFormFor(proc, me))) return nullptr;
    }
    // An array parameter is bound from a value: the general entry binds it.
    if (form->heldParameters) return nullptr;
    kept = RegHostForm{form, FieldLookupRevision::current(), Context::cacheEpoch()};
    return form;
}

void RegHostWrongCount(InterProcField& proc, size_t n, size_t expected) {
    if (n > expected) {
        if (!proc.parameterPrototype()) throw TooManyArguments("InterProcField::eval()", 32763);
        throw TooManyArguments("InterObjRep::checkBindings()", 32763);
    }
    throw TooFewArguments("InterObjRep::checkBindings()", 32762);
}

}  // namespace tq
