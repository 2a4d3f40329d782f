// A compact text form of syntax trees, for tests and for looking at what the
// parser made of a program. One statement per line, "line:column" first,
// nested blocks indented by two spaces; expressions as S-expressions:
//
//   3:5 assign x (+ 1 (* 2 y))
//   4:5 If (> x 1) {to 6}
//     5:7 call (bare Foo [a] "b")
//
// [e] marks an expression written in parentheses; {to N} the line that
// closes a block.
#pragma once

#include <string>

#include "compiler/ast.h"
#include "compiler/parse.h"

namespace tq::compiler {

std::string DumpExpr(const Expr* e);
std::string DumpType(const TypeRef& t);
std::string DumpTree(const SyntaxTree& tree);

}  // namespace tq::compiler
