// A call used as a statement (statement kind 6): "Foo a, b", "Call
// Foo(a, b)", "obj.Foo a" and "SendEvent [obj.]Name(a, b)".
//
//   offset  width  meaning
//   0       15     statement head (execnode.h)
//   15      1      form: 2 written with Call, 4 SendEvent, anything else a
//                  bare call
//   16      ...    the call: a Sid, Cid or Mid
//
// A call evaluates its expression wanting nothing in particular (a
// Function's value is dropped). Its arguments go by reference wherever
// they name storage, so a procedure can write back to the caller's
// variables.
//
// SendEvent raises an event of Me, or of the object a member chain reaches
// before its last piece, which names the event; the arguments go by
// reference. The event must be one the object defines, or one of the five
// every object answers (Attach, Construct, Destruct, Preload, TextUnload):
// raising a misspelt event is a failure (32719), not a call that quietly
// finds no handler.
#pragma once

#include <cstdint>

#include "store/interp/compound.h"

namespace tq {

class SourceControl;

enum CallForm : uint8_t {
    CALL_BARE = 0,
    CALL_CALL = 2,
    CALL_SEND_EVENT = 4,
};

class FunctionCallStmt final : public ExecNode {
public:
    static constexpr uint32_t kCallOffset = 16;

    // call must be an identifier (a Sid, Cid or Mid).
    static StmtPtr make(int32_t line, CallForm form, ExprPtr call);

    CallForm form() const { return static_cast<CallForm>(bytes()[15]); }
    const ExprNode* call() const { return ExprAt(this, kCallOffset); }

    void eval(Context& ctx) const;
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    explicit FunctionCallStmt(int32_t line) : ExecNode(STMT_FUNCTION_CALL, line) {}
    void sendEvent(Context& ctx) const;
    uint8_t form_;
};

static_assert(sizeof(FunctionCallStmt) == FunctionCallStmt::kCallOffset, "a call statement's head is 16 bytes");

}  // namespace tq
