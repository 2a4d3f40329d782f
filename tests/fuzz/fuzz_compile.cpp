// Source text from anywhere: arbitrary bytes read as a text module, as
// immediate-mode statements, as one expression and as one procedure. Each
// reading ends with a tree or with errors, never a crash, a hang or an
// overflow of the stack, and its errors are sound: at most the limit, in
// the order of their positions, each within the text. A tree without
// errors goes on to the code generator (every procedure of a module, the
// statements, the expression), which builds code or reports errors as
// soundly, and whatever it built prints.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sstream>

#include <tqstore/tqstore.h>

#include "compiler/astdump.h"
#include "compiler/codegen.h"
#include "compiler/parse.h"

namespace {

using namespace tq::compiler;

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "unsound errors: %s\n", what.c_str());
    std::abort();
}

void Check(const SyntaxTree& tree, uint32_t lines) {
    const auto& errors = tree.errors();
    if (errors.size() > kMaxDiagnostics) Broken("more errors than the limit");
    for (size_t i = 0; i < errors.size(); ++i) {
        const Diagnostic& d = errors[i];
        if (d.message.empty()) Broken("an error without a message");
        if (d.pos.line < 1 || d.pos.line > lines + 1 || d.pos.column < 1) Broken(d.text());
        if (i > 0 && d.pos < errors[i - 1].pos) Broken("errors out of order: " + d.text());
    }
    // Walking the whole tree (as the code generator will) must be safe too.
    (void)DumpTree(tree);
}

void CheckErrors(Diagnostics& d, uint32_t lines) {
    const std::vector<Diagnostic> errors = d.take();
    for (const Diagnostic& e : errors)
        if (e.message.empty() || e.pos.line > lines + 1) Broken("generator: " + e.text());
}

void ProceduresOf(const ObjectDecl* o, std::vector<const Procedure*>& out) {
    for (const ObjectMember& m : o->members) {
        if (m.kind == MemberKind::Procedure) out.push_back(m.procedure);
        if (m.kind == MemberKind::Embedded) ProceduresOf(m.embedded, out);
    }
}

// Generates the code of an error-free tree and prints what was built.
void Generate(const SyntaxTree& tree, uint32_t lines) {
    if (!tree.ok()) return;
    Diagnostics errors(tree.fileName());
    std::vector<const Procedure*> procs;
    switch (tree.goal()) {
    case ParseGoal::Module:
        for (const ModuleItem& item : tree.module()->items)
            if (item.kind == ItemKind::Object) ProceduresOf(item.object, procs);
        break;
    case ParseGoal::Procedure: procs.push_back(tree.procedure()); break;
    case ParseGoal::Statements:
        if (auto b = GenerateStatements(*tree.statements(), errors)) {
            std::ostringstream out;
            b->print(out);
        }
        break;
    case ParseGoal::Expression:
        if (auto e = GenerateExpression(*tree.expression(), errors)) {
            std::ostringstream out;
            e->print(out);
        }
        break;
    }
    for (const Procedure* p : procs)
        if (auto f = GenerateProcedure(*p, errors)) (void)f->getSource();
    CheckErrors(errors, lines);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tq::IdString::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    uint32_t lines = 1;
    for (char c : text) lines += c == '\n';
    for (ParseGoal goal : {ParseGoal::Module, ParseGoal::Statements, ParseGoal::Expression,
                           ParseGoal::Procedure})
    {
        const SyntaxTree tree = Parse(text, "fuzz.tqs", goal);
        Check(tree, lines);
        Generate(tree, lines);
    }
    return 0;
}
