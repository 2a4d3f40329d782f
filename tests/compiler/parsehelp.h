// Test support: parsing a text and showing what came of it in one string.
#pragma once

#include <string>
#include <string_view>

#include "compiler/astdump.h"
#include "compiler/parse.h"

namespace tq::compiler::testing {

// The dump of a tree, or its errors (one "file:line:column: message" a line).
inline std::string Shown(const SyntaxTree& tree) {
    return tree.ok() ? DumpTree(tree) : FormatDiagnostics(tree.errors());
}

inline std::string ExprOf(std::string_view text) {
    const SyntaxTree tree = ParseExpression(text, "e");
    return tree.ok() ? DumpExpr(tree.expression()) : FormatDiagnostics(tree.errors());
}

inline std::string StmtsOf(std::string_view text) { return Shown(ParseStatements(text, "s")); }
inline std::string ModuleOf(std::string_view text) { return Shown(ParseModule(text, "m.tqs")); }
inline std::string ErrorsOf(std::string_view text, ParseGoal goal = ParseGoal::Statements) {
    return FormatDiagnostics(Parse(text, "t.tqs", goal).errors());
}

}  // namespace tq::compiler::testing
