#include "compiler/textproc.h"

#include <string>

namespace tq::compiler {

ProcedureMaker::ProcedureMaker(const SyntaxTree& tree) : source_(tree.source()) {
    lineStarts_.push_back(0);
    for (size_t i = 0; i < source_.size(); ++i)
        if (source_[i] == '\n') lineStarts_.push_back(i + 1);
}

std::string ProcedureMaker::lines(uint32_t from, uint32_t to) const {
    std::string out;
    std::string_view indent;
    for (uint32_t line = from; line <= to && line >= 1 && line <= lineStarts_.size(); ++line) {
        const size_t start = lineStarts_[line - 1];
        size_t end = line < lineStarts_.size() ? lineStarts_[line] - 1 : source_.size();
        std::string_view text = source_.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (line == from) indent = text.substr(0, text.find_first_not_of(" \t"));
        if (text.substr(0, indent.size()) == indent) text.remove_prefix(indent.size());
        out += text;
        out += "\r\n";
    }
    return out;
}

Field* ProcedureMaker::make(const Procedure& proc, Diagnostics&, const std::function<bool(std::string_view)>&) {
    // Until procedures compile, a procedure keeps its text: it prints and
    // saves as written, and a call to it says that it is not compiled.
    const uint32_t last = proc.body ? proc.body->endLine : proc.pos.line;
    const std::string text = lines(proc.pos.line, last);
    return new InterProcField(std::string(proc.name).c_str(), text.c_str());
}

}  // namespace tq::compiler
