// Fields in the register form. Until fields are translated, a procedure that
// names a field of Me or of another object is not taken.
#include "store/interp/regcompile.h"

namespace tq {

bool RegTranslateFieldRead(RegCompiler&, const ExprNode*, RegOperand&) { return false; }

bool RegTranslateFieldWrite(RegCompiler&, const ExprNode*, const RegOperand&) { return false; }

uint32_t RegRunField(RegActivation&, const RegInstr&, uint32_t pc) { return pc + 1; }

}  // namespace tq
