// Running the register form: the entry from a call and the run loop.
#include "store/context.h"
#include "store/interp/dbgseam.h"
#include "store/interp/regform.h"
#include "store/methfld.h"

namespace tq {

// ---- the holder ------------------------------------------------------------------------

RegisterForm* RegFormHolder::current(bool& notTaken) const {
    notTaken = false;
    if (!decided_ || revision_ != FieldLookupRevision::current() || epoch_ != Context::cacheEpoch()) return nullptr;
    notTaken = form_ == nullptr;
    return form_;
}

void RegFormHolder::drop() noexcept {
    if (form_) {
        if (form_->uses == 0)
            delete form_;
        else
            form_->orphaned = true;
    }
    form_ = nullptr;
    decided_ = false;
}

void RegFormHolder::keep(std::unique_ptr<RegisterForm> form) {
    drop();
    form_ = form.release();
    decided_ = true;
    revision_ = FieldLookupRevision::current();
    epoch_ = Context::cacheEpoch();
}

// ---- the entry ----------------------------------------------------------------------------

bool RunRegisterForm(InterProcField&, InterObjRep&, const ValueList*, ValuePtr&) { return false; }

}  // namespace tq
