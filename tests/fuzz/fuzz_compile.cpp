// Source text from anywhere: arbitrary bytes read as a text module, as
// immediate-mode statements, as one expression and as one procedure. Each
// reading ends with a tree or with errors, never a crash, a hang or an
// overflow of the stack, and its errors are sound: at most the limit, in
// the order of their positions, each within the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "compiler/astdump.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    uint32_t lines = 1;
    for (char c : text) lines += c == '\n';
    for (ParseGoal goal : {ParseGoal::Module, ParseGoal::Statements, ParseGoal::Expression,
                           ParseGoal::Procedure})
        Check(Parse(text, "fuzz.tqs", goal), lines);
    return 0;
}
