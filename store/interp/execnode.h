// Statement nodes (ExecNode) and the statement dispatcher.
//
// A block's node area is its statements end to end; each statement is
// followed, inside its own size, by the expression nodes it owns. Like
// expression nodes, a statement is its own bytes (alignment 1, no virtual
// functions), built by the make() functions of its kind and run where it
// lies in the block.
//
// Head of every statement:
//
//   offset  width  meaning
//   0       2      kind (tStmtType)
//   2       4      size in bytes, everything embedded included; the next
//                  statement starts at this one's start + size
//   6       1      flags (0 when built; kinds use them, e.g. Let/Set)
//   7       4      source line of the statement
//   11      4      line reported for the running statement; set to the
//                  source line every time the statement starts (a post-test
//                  loop reports its closing line while its condition runs)
//   15      ...    the data of the kind
//
// The kinds of this file:
//
//   kind 4, Exiter (Exit), size 19:
//     15  4   exit type: 0 Exit, 1 Exit Function, 2 Exit Sub, 3 Exit For,
//             4 Exit Do
//   kind 16, StopStmt (Stop), size 15: nothing more
//   kind 127, end marker, size 15: the closing line of a block (End Sub,
//             Loop, ...), run so that the debugger can stop there; does
//             nothing else and is never stored
//
// Dispatching a statement (ExecNode::eval):
//  1. when a debugger is active, it is consulted first (breakpoints,
//     stepping; dbgseam.h);
//  2. the running line is set and the host may take a user break
//     (StoreApplication::CheckForBreak);
//  3. the kind's code runs;
//  4. a failure passing out is given its line, object and procedure once,
//     by the innermost statement it passes (StoreException::handled), and
//     is offered to the debugger there. Stop (PauseExecution) continues in
//     the debugger, or ends the run with TerminateExecution when there is
//     none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/util/lebytes.h"

namespace tq {

class Context;
class ExecNode;
class SourceControl;

enum tStmtType : uint16_t {
    STMT_ASSIGNMENT = 1,
    STMT_SELECT_CASE = 2,
    STMT_DO_LOOP = 3,
    STMT_EXITER = 4,
    STMT_FOR_NEXT = 5,
    STMT_FUNCTION_CALL = 6,
    STMT_SIMPLE_IF = 7,
    STMT_COMPLEX_IF = 8,
    STMT_PRINT = 9,
    STMT_RANDOMIZE = 10,
    STMT_REDIM = 11,
    STMT_TRY = 12,
    STMT_THROW = 13,
    STMT_DO_LOOP2 = 14,
    STMT_WITH = 15,
    STMT_STOP = 16,
    STMT_END_MARKER = 127,
};

using StmtPtr = std::unique_ptr<ExecNode>;

class ExecNode {
public:
    static constexpr uint32_t kHeadSize = 15;

    ExecNode(const ExecNode&) = delete;
    ExecNode& operator=(const ExecNode&) = delete;

    uint16_t type() const { return LoadLE16(kind_); }
    uint32_t size() const { return LoadLE32(size_); }
    uint8_t flags() const { return flags_; }
    int32_t line() const { return static_cast<int32_t>(LoadLE32(line_)); }
    int32_t runningLine() const { return static_cast<int32_t>(LoadLE32(runLine_)); }
    void setRunningLine(int32_t line) { StoreLE32(runLine_, static_cast<uint32_t>(line)); }
    void addFlags(uint8_t f) { flags_ = static_cast<uint8_t>(flags_ | f); }

    // Runs the statement in ctx (see the dispatching steps above).
    void eval(Context& ctx);
    // Writes the statement as source text on its own line (the sink moves
    // there first); the end marker prints nothing.
    void print(SourceControl& sc) const;

    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this); }
    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(this); }

    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void operator delete(ExecNode* node, std::destroying_delete_t) { ::operator delete(node); }
    // Frees the bytes of a node whose construction failed.
    static void operator delete(void* p) { ::operator delete(p); }

protected:
    ExecNode(uint16_t kind, int32_t line) : ExecNode(kind, kHeadSize, line) {}
    ExecNode(uint16_t kind, uint32_t size, int32_t line);
    void setSize(uint32_t size) { StoreLE32(size_, size); }
    static void* Allocate(std::size_t size) { return ::operator new(size); }

private:
    // The kind's own code, without the dispatcher's steps around it; inline
    // in eval, so that a statement costs one call before its kind's code.
    [[gnu::always_inline]] inline void run(Context& ctx);
    // Step 4 for the failure being handled (called from a catch clause).
    void failed(Context& ctx);

    uint8_t kind_[2];
    uint8_t size_[4];
    uint8_t flags_ = 0;
    uint8_t line_[4];
    uint8_t runLine_[4];
};

static_assert(sizeof(ExecNode) == ExecNode::kHeadSize && alignof(ExecNode) == 1,
              "the statement head is 15 unaligned bytes");

// Exit, Exit Function, Exit Sub, Exit For, Exit Do.
class Exiter final : public ExecNode {
public:
    enum ExitType : uint32_t {
        EXIT_PROGRAM = 0,
        EXIT_FUNCTION = 1,
        EXIT_SUB = 2,
        EXIT_FOR = 3,
        EXIT_DO = 4,
        EXIT_LIMIT = 5,
    };

    Exiter(int32_t line, ExitType type);
    static StmtPtr make(int32_t line, ExitType type) { return StmtPtr(new Exiter(line, type)); }

    ExitType exitType() const { return static_cast<ExitType>(LoadLE32(exitType_)); }

    // Unlinks the frames down to the nearest frame of the exit's kind among
    // ctx's own; with none, the exit's message (32730 to 32734).
    void eval(Context& ctx) const;
    // "Exit", "Exit Function", "Exit Sub", "Exit For" or "Exit Do".
    void print(SourceControl& sc) const;

private:
    uint8_t exitType_[4];
};

static_assert(sizeof(Exiter) == 19, "an Exit statement is 19 bytes");

// Stop: pauses in the debugger, or ends the run when there is none.
class StopStmt final : public ExecNode {
public:
    explicit StopStmt(int32_t line) : ExecNode(STMT_STOP, line) {}
    static StmtPtr make(int32_t line) { return StmtPtr(new StopStmt(line)); }
    [[noreturn]] void eval(Context& ctx) const;
};

// The closing line of a block, run after its last statement.
class EndMarker final : public ExecNode {
public:
    explicit EndMarker(int32_t line) : ExecNode(STMT_END_MARKER, line) {}
};

}  // namespace tq
