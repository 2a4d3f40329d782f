// A program outside the tree, built against the installed compiler.
#include <tqcompile/tqcompile.h>

#include <cstdio>

int main() {
    using namespace tq::compiler;
    const SyntaxTree ok = ParseModule("Begin Object A\n  Dim x As Long\nEnd Object\n", "a.tqs");
    if (!ok.ok() || ok.module()->items.size() != 1) {
        std::fprintf(stderr, "a sound module did not parse\n");
        return 1;
    }
    const SyntaxTree bad = ParseStatements("If x > 1\n  y = 2\nEnd If\n", "b.tqs");
    const std::string text = FormatDiagnostics(bad.errors());
    if (text != "b.tqs:1:9: expected 'Then' after the condition of 'If'\n") {
        std::fprintf(stderr, "unexpected errors: %s", text.c_str());
        return 1;
    }
    std::printf("Tessaro compiler (tqcompile): consumer ran\n");
    return 0;
}
