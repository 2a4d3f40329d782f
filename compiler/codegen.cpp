#include "compiler/codegen.h"

namespace tq::compiler {

std::unique_ptr<InterProcField> GenerateProcedure(const Procedure& proc, Diagnostics& errors,
                                                  const CodegenOptions&) {
    errors.add(proc.pos, "procedures cannot be compiled yet");
    return nullptr;
}

std::unique_ptr<EvalableBlock> GenerateStatements(const StatementList&, Diagnostics& errors,
                                                  const CodegenOptions&) {
    errors.add(SourcePos{1, 1}, "statements cannot be compiled yet");
    return nullptr;
}

std::unique_ptr<EvalableExpr> GenerateExpression(const Expr& expr, Diagnostics& errors, const CodegenOptions&) {
    errors.add(expr.pos, "expressions cannot be compiled yet");
    return nullptr;
}

}  // namespace tq::compiler
