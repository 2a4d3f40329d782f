// Reading source text: the compiler's front end.
//
//   SyntaxTree t = ParseModule(text, "shapes.tqs");
//   if (!t.ok()) { std::cerr << FormatDiagnostics(t.errors()); return; }
//   for (const ModuleItem& item : t.module()->items) ...
//
// A SyntaxTree owns a copy of the source and every node made from it; the
// nodes' names and texts point into that copy, so they live exactly as long
// as the tree. Parsing keeps no state outside the tree: any number of trees
// may be made at once, on any threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/ast.h"
#include "compiler/diag.h"

namespace tq::compiler {

enum class ParseGoal {
    Module,      // a text module (.tqs): enumerations and objects
    Statements,  // statements for immediate mode (the REPL, the debugger's command line)
    Expression,  // one expression for immediate evaluation
    Procedure,   // one Sub or Function
};

class SyntaxTree {
public:
    SyntaxTree(SyntaxTree&&) noexcept;
    SyntaxTree& operator=(SyntaxTree&&) noexcept;
    ~SyntaxTree();

    ParseGoal goal() const;
    bool ok() const { return errors().empty(); }
    // Sorted by position, at most kMaxDiagnostics.
    const std::vector<Diagnostic>& errors() const;

    // The root for the goal the tree was parsed for; null for the others.
    // With errors, a root may be missing or lack parts.
    const Module* module() const;
    const StatementList* statements() const;
    const Expr* expression() const;
    const Procedure* procedure() const;
    // Comments outside the root of an Expression or Procedure tree.
    const List<Comment>& outerComments() const;

    std::string_view source() const;
    const std::string& fileName() const;
    // Bytes of nodes, lists and decoded texts (for the benchmarks).
    size_t nodeBytes() const;

private:
    struct Impl;
    explicit SyntaxTree(std::unique_ptr<Impl> impl);
    friend SyntaxTree Parse(std::string_view, std::string_view, ParseGoal);
    std::unique_ptr<Impl> impl_;
};

// fileName names the source in error messages ("shapes.tqs:3:1: ...").
SyntaxTree Parse(std::string_view source, std::string_view fileName, ParseGoal goal);

inline SyntaxTree ParseModule(std::string_view source, std::string_view fileName) {
    return Parse(source, fileName, ParseGoal::Module);
}
inline SyntaxTree ParseStatements(std::string_view source, std::string_view fileName) {
    return Parse(source, fileName, ParseGoal::Statements);
}
inline SyntaxTree ParseExpression(std::string_view source, std::string_view fileName) {
    return Parse(source, fileName, ParseGoal::Expression);
}
inline SyntaxTree ParseProcedure(std::string_view source, std::string_view fileName) {
    return Parse(source, fileName, ParseGoal::Procedure);
}

}  // namespace tq::compiler
