// The code generator: syntax trees to the store's structures, built through
// the store's public builders.
//
//   SyntaxTree t = ParseProcedure(text, "shapes.tqs");
//   Diagnostics errors(t.fileName());
//   std::unique_ptr<InterProcField> f = GenerateProcedure(*t.procedure(), errors);
//   if (f) obj->addField(f.release());
//
// One procedure is generated at a time, in one pass: its identifier table
// (names keep the spelling they were first written in), its blocks built
// bottom up (every sub-block entered into the block table before the block
// that names it, the body last), its locals, parameters and return field,
// and its dead source (header, declarations, Catch lines, comments), so
// that the procedure prints back as written. Stored statement lines count
// from the procedure's header (line 1); error positions are lines of the
// file.
//
// The generator reports what the parser cannot know: names that must name
// something and do not (an enumeration or a type), more identifiers than a
// procedure can hold, array bounds that are not constant, declarations the
// store refuses. Each is added to errors at its position; a procedure with
// any error gives no field. A tree that came with parse errors must not be
// given to the generator (it may lack parts).
//
// The structures go into the module being opened (ObjectStore's current
// module); a host that builds a module from text opens it first.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include <tqstore/tqstore.h>

#include "compiler/ast.h"
#include "compiler/compileerror.h"
#include "compiler/diag.h"
#include "compiler/parse.h"

namespace tq::compiler {

// What the generator asks of the place the code will live in.
struct CodegenOptions {
    // True when name names a prototype a variable may be typed with ("Dim f
    // As Form"). Without it every name that is not an enumeration is taken
    // for a prototype, which is then looked up when the code runs.
    std::function<bool(std::string_view name)> isPrototypeName;
    // The spelling of a name the code's surroundings declare (the object's
    // fields, procedures and events, the module's objects and enumeration
    // entries), found without regard to case; empty when it declares none.
    // Names are case-sensitive in the store and case-blind in the language:
    // a name written "count" in a procedure must reach the field declared
    // "Count". Without it a name keeps the spelling it is first written in
    // within the procedure (its parameters and locals first).
    std::function<std::string_view(std::string_view name)> declaredSpelling;
};

// The field of one procedure: an InterProcField for a Sub, an
// InterFuncField for a Function, holding no count, ready for
// InterObjRep::addField. Null when errors were found (they are in errors).
std::unique_ptr<InterProcField> GenerateProcedure(const Procedure& proc, Diagnostics& errors,
                                                  const CodegenOptions& options = {});

// The field of a Declare line: a CDLLProcField for a Sub, a CDLLFuncField
// for a Function, with its parameters, holding no count. Parameters and the
// result must have types a C function can take (no arrays, embedded
// objects, enumerations or specific classes; a Function needs its type).
// Null when errors were found.
std::unique_ptr<CDLLProcField> GenerateDeclare(const DeclareDecl& decl, Diagnostics& errors,
                                               const CodegenOptions& options = {});

// Immediate mode: a statement list as a block that runs in the frame of
// whoever evaluates it (the debugger's command line, the REPL). Its
// statement lines are lines of the text. Null when errors were found.
std::unique_ptr<EvalableBlock> GenerateStatements(const StatementList& list, Diagnostics& errors,
                                                  const CodegenOptions& options = {});
// Immediate mode: one expression. Null when errors were found.
std::unique_ptr<EvalableExpr> GenerateExpression(const Expr& expr, Diagnostics& errors,
                                                 const CodegenOptions& options = {});

// Parse and generate in one step; every error of the text (parse or
// generation) is thrown together as one CompileError.
std::unique_ptr<InterProcField> CompileProcedure(std::string_view source, std::string_view fileName,
                                                 const CodegenOptions& options = {});
std::unique_ptr<EvalableBlock> CompileStatements(std::string_view source, std::string_view fileName,
                                                 const CodegenOptions& options = {});
std::unique_ptr<EvalableExpr> CompileExpression(std::string_view source, std::string_view fileName,
                                                const CodegenOptions& options = {});

}  // namespace tq::compiler
