#include "compiler/compileerror.h"

namespace tq::compiler {

CompileError::CompileError(std::vector<Diagnostic> errors)
    : StoreException(FormatDiagnostics(errors).c_str(), "CompileError"), errors_(std::move(errors)) {
    // A compilation that failed has at least one error; a caller that hands
    // none still gets a message that says so rather than an empty one.
    if (errors_.empty()) {
        errors_.push_back(Diagnostic{"", SourcePos{}, "the compilation failed"});
        setMessage(FormatDiagnostics(errors_));
    }
    // The lines end in "\n" for a listing; the message itself needs none
    // after its last line.
    std::string text = message();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    setMessage(std::move(text));
}

std::unique_ptr<ValueList> CompileError::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(new StringValue(ValString(file().c_str())));
    list->append(new LongValue(static_cast<int32_t>(sourceLine())));
    list->append(new LongValue(static_cast<int32_t>(column())));
    list->append(new StringValue(ValString(text().c_str())));
    return list;
}

}  // namespace tq::compiler
