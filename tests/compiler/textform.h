// Test support: the printed text of a syntax tree, written by the rules the
// store's source regeneration follows (spacing, parentheses only where the
// tree says so, joined statements), and a walk that records which forms a
// tree uses. Tests read the printed text back and compare trees, so every
// form the printer writes is shown to parse back to the same tree.
#pragma once

#include <set>
#include <string>

#include "compiler/ast.h"
#include "compiler/parse.h"

namespace tq::compiler::testing {

std::string PrintExpr(const Expr* e);
// The tree's text: statements one per line (a one-line If keeps its line).
std::string PrintTree(const SyntaxTree& tree);

// A tree's dump without positions, block end lines and comments: what must
// survive printing and reading back.
std::string ShapeOf(const SyntaxTree& tree);

// Names of the forms a tree uses: "stmt:Assign", "binary:Mod", "builtin:Left",
// "case:Range", "loop:LoopUntil", "for:In", "print:Tab", "exit:Sub",
// "decl:Protected", "member:Event", "call:SendEvent", "assign:deep", ...
std::set<std::string> FormsOf(const SyntaxTree& tree);

}  // namespace tq::compiler::testing
