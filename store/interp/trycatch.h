// Try ... Catch ... End Try (statement kind 12), Throw (kind 13), and the
// exceptions they use.
//
// TryBlock:
//
//   offset  width  meaning
//   0       15     statement head (execnode.h)
//   15      4      block index of the Try body
//   19      4      line of End Try
//   23      4      number of catch clauses n
//   27      15n    the catch clauses:
//                    0   4   line of the Catch line
//                    4   5   0 (reserved for the compiler)
//                    9   2   the caught name, an identifier index;
//                            65534 catches everything
//                    11  4   block index of the Catch body
//
// The Try body runs in a TryFrame. A StoreException coming out of it is
// matched against the clauses in order: a clause catches every exception or
// those whose name (StoreException::name, the thrown name of a Throw) is
// its name. A matching clause's body runs by itself, in a frame of its
// own, with the exception's particulars (StoreException::args) bound to its
// parameters by position on every run, when it declares any
// (InterObjRep::bindAsFar): a parameter the exception carries nothing for
// (or nothing of a convertible type) starts from its type's default,
// particulars beyond the parameters are left out, so a clause never fails
// because of its own parameter list. The Try then ends normally unless the
// body rethrows. With no match the exception passes on unchanged.
// Execution control (TerminateExecution, PauseExecution) is never caught:
// a Catch that caught everything would make a program impossible to stop.
//
// ThrowStmt:
//
//   offset  width  meaning
//   0       15     statement head; flag 4: no name
//   15      ...    a Sid or Cid, untyped, naming the exception, with its
//                  arguments
//
// "Throw Name(a, b)" raises an InterpretiveException carrying the name and
// copies of the arguments. A bare "Throw" inside a Catch body rethrows the
// exception being handled; anywhere else it fails (32697).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/errors/storeexc.h"
#include "store/interp/compound.h"
#include "store/vals.h"

namespace tq {

class SourceControl;

inline constexpr uint16_t kCatchAll = 65534;

// One catch clause, for the builder: the line of its Catch line, the name
// it catches (an identifier index, or kCatchAll) and its body.
struct CatchClause {
    int32_t line;
    uint16_t name;
    uint32_t block;
};

class TryBlock final : public ExecNode {
public:
    static constexpr uint32_t kClausesOffset = 27;
    static constexpr uint32_t kClauseSize = 15;

    static StmtPtr make(int32_t line, uint32_t body, int32_t endLine, const std::vector<CatchClause>& catches);

    uint32_t bodyBlock() const { return LoadLE32(bytes() + 15); }
    int32_t endLine() const { return static_cast<int32_t>(LoadLE32(bytes() + 19)); }
    uint32_t clauseCount() const { return LoadLE32(bytes() + 23); }
    CatchClause clause(uint32_t i) const;

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit TryBlock(int32_t line) : ExecNode(STMT_TRY, line) {}
    uint8_t data_[kClausesOffset - kHeadSize];
};

static_assert(sizeof(TryBlock) == TryBlock::kClausesOffset, "a Try's head is 27 bytes");

class ThrowStmt final : public ExecNode {
public:
    enum : uint8_t { kNoName = 0x04 };

    // name: an untyped Sid or Cid ("sid->getIdType() == IDT_UNTYPED"), or
    // null for a rethrow.
    static StmtPtr make(int32_t line, ExprPtr name = nullptr);

    const ExprNode* name() const { return (flags() & kNoName) ? nullptr : ExprAt(this, kHeadSize); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit ThrowStmt(int32_t line) : ExecNode(STMT_THROW, line) {}
};

// What "Throw Name(args)" raises: its message and name are the thrown name,
// its particulars copies of the arguments, first argument first.
class InterpretiveException : public StoreException {
public:
    // Sets the flag that tells a program's own exceptions from the
    // system's (kInterpretiveFlag).
    InterpretiveException(const char* name, ValueList args);

    InterpretiveException* Clone() const override { return new InterpretiveException(*this); }
    [[noreturn]] void Throw() const override { throw InterpretiveException(*this); }
    const char* name() const override { return name_.c_str(); }
    std::unique_ptr<ValueList> args() const override;

private:
    std::string name_;
    ValueList args_;
};

// Raised by a bare Throw inside a Catch body, to reach the Try whose
// exception it rethrows. Statements pass it on as it is; it surfaces only
// when a block run by itself outside any Try rethrows.
class IRethrow : public StoreException {
public:
    IRethrow() : StoreException("Rethrow outside of catch block.", nullptr) {}
    IRethrow* Clone() const override { return new IRethrow(*this); }
    [[noreturn]] void Throw() const override { throw IRethrow(*this); }
    const char* name() const override { return "IRethrow"; }
};

}  // namespace tq
