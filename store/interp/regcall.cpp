// Calls in the register form. Until calls are translated, a procedure with
// parameters, a call or a function's own name is not taken.
#include "store/interp/regcompile.h"
#include "store/methfld.h"

namespace tq {

bool RegDeclareParameters(RegCompiler& rc) { return rc.proc().parameterPrototype() == nullptr && !rc.proc().isFunction(); }

bool RegTranslateCallExpr(RegCompiler&, const ExprNode*, RegOperand&) { return false; }

bool RegTranslateCallStmt(RegCompiler&, const ExecNode*) { return false; }

uint32_t RegRunCall(RegActivation&, const RegInstr&, uint32_t pc) { return pc + 1; }

}  // namespace tq
