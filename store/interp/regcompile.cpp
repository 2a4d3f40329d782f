// Translating a procedure into its register form (regcompile.h).
#include "store/interp/regcompile.h"

#include <cstring>

#include "store/block.h"
#include "store/methfld.h"

namespace tq {

std::unique_ptr<RegisterForm> RegisterForm::Translate(InterProcField& proc, InterObjRep& me) {
    auto form = std::make_unique<RegisterForm>();
    RegCompiler rc(proc, me, *form);
    if (!rc.translate()) return nullptr;
    return form;
}

RegCompiler::RegCompiler(InterProcField& proc, InterObjRep& me, RegisterForm& form)
    : proc_(proc), me_(me), form_(form) {}

bool RegCompiler::translate() { return false; }

// ---- emitting ----------------------------------------------------------------------------

uint32_t RegCompiler::emit(const RegInstr& in) {
    form_.code.push_back(in);
    form_.statementOf.push_back(currentStatement_);
    return here() - 1;
}

// ---- registers -----------------------------------------------------------------------------

int32_t RegCompiler::newNumber(IdType type) {
    RegNumber n{};
    n.type = type;
    form_.numberImage.push_back(n);
    return static_cast<int32_t>(form_.numberImage.size() - 1);
}

int32_t RegCompiler::newString() { return static_cast<int32_t>(form_.stringCount++); }

int32_t RegCompiler::newValue() { return static_cast<int32_t>(form_.valueCount++); }

const char* RegCompiler::identifierName(uint16_t idIndex) const {
    const IdStringVector& ids = proc_.identifiers();
    if (idIndex >= ids.count()) return nullptr;
    return static_cast<const char*>(ids[idIndex]);
}

}  // namespace tq
