// CompileError: how a failed compilation reaches a host.
//
// It is a StoreException, so hosts, the language's Catch clauses and the
// module loader treat it like every other failure of the library, and it
// carries every error of the compilation (at most kMaxDiagnostics, sorted by
// position). Its message is all of them, one "file:line:column: text" per
// line; its particulars for a Catch clause are the first error's file, line,
// column and text.
//
// The message id stands outside the library's message table (32678 to
// 32768): the compiler is not part of the library, and its messages are
// texts of their own rather than table entries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <tqstore/tqstore.h>

#include "compiler/diag.h"

namespace tq::compiler {

class CompileError : public StoreException {
public:
    static constexpr unsigned kMessageId = 32800;

    // errors must not be empty; they are kept in the order given (take()
    // of a Diagnostics gives them sorted).
    explicit CompileError(std::vector<Diagnostic> errors);

    TQ_EXCEPTION_CLASS(CompileError)
    // File, line, column and text of the first error.
    std::unique_ptr<ValueList> args() const override;

    unsigned messageId() const { return kMessageId; }
    const std::vector<Diagnostic>& errors() const { return errors_; }
    // The first error's particulars.
    const std::string& file() const { return errors_.front().file; }
    uint32_t sourceLine() const { return errors_.front().pos.line; }
    uint32_t column() const { return errors_.front().pos.column; }
    const std::string& text() const { return errors_.front().message; }

private:
    std::vector<Diagnostic> errors_;
};

}  // namespace tq::compiler
