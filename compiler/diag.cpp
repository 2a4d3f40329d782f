#include "compiler/diag.h"

#include <algorithm>

namespace tq::compiler {

std::string Diagnostic::text() const {
    std::string out = file;
    out += ':';
    out += std::to_string(pos.line);
    out += ':';
    out += std::to_string(pos.column);
    out += ": ";
    out += message;
    return out;
}

void Diagnostics::add(SourcePos pos, std::string message) {
    if (full()) return;
    list_.push_back(Diagnostic{file_, pos, std::move(message)});
}

std::vector<Diagnostic> Diagnostics::take() {
    std::stable_sort(list_.begin(), list_.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.pos < b.pos; });
    return std::move(list_);
}

std::string FormatDiagnostics(const std::vector<Diagnostic>& list) {
    std::string out;
    for (const Diagnostic& d : list) {
        out += d.text();
        out += '\n';
    }
    return out;
}

}  // namespace tq::compiler
