// Do ... Loop and While ... Wend (statement kinds 3 and 14; the second kind
// is run and printed by the same code).
//
//   offset  width  meaning
//   0       15     statement head (execnode.h)
//   15      1      loop form (below)
//   16      4      block index of the body
//   20      ...    the condition; none for form 7
//
//   form  source                          runs while
//   3     Do While cond ... Loop          cond is true, tested first
//   4     Do ... Loop While cond          cond is true, tested after the body
//   5     Do Until cond ... Loop          cond is false, tested first
//   6     Do ... Loop Until cond          cond is false, tested after the body
//   7     Do ... Loop                     for ever (Exit or an error ends it)
//   8     While cond ... Wend             cond is true, tested first
//
// The whole loop runs in one DoFrame. A loop that tests after its body
// reports the body's end line (the Loop line) as its running line, so that
// a failing condition is reported on the line where it is written.
#pragma once

#include <cstdint>

#include "store/interp/compound.h"

namespace tq {

class SourceControl;

enum DoLoopForm : uint8_t {
    DO_WHILE = 3,
    DO_LOOP_WHILE = 4,
    DO_UNTIL = 5,
    DO_LOOP_UNTIL = 6,
    DO_FOREVER = 7,
    WHILE_WEND = 8,
};

class DoLoop final : public ExecNode {
public:
    static constexpr uint32_t kConditionOffset = 20;

    // condition must be null exactly for DO_FOREVER ("testExpr == NULL");
    // kind is STMT_DO_LOOP or STMT_DO_LOOP2.
    static StmtPtr make(int32_t line, DoLoopForm form, uint32_t body, ExprPtr condition,
                        uint16_t kind = STMT_DO_LOOP);

    DoLoopForm form() const { return static_cast<DoLoopForm>(bytes()[15]); }
    uint32_t bodyBlock() const { return LoadLE32(bytes() + 16); }
    const ExprNode* condition() const { return form() == DO_FOREVER ? nullptr : ExprAt(this, kConditionOffset); }
    bool testsAfterBody() const { return form() == DO_LOOP_WHILE || form() == DO_LOOP_UNTIL; }

    void eval(Context& ctx);
    // Its source text (srcctl.h).
    void print(SourceControl& sc) const;
    static void Check(NodeCheck& c, uint32_t at, uint32_t end);

private:
    DoLoop(uint16_t kind, int32_t line) : ExecNode(kind, line) {}
    uint8_t data_[kConditionOffset - kHeadSize];
};

static_assert(sizeof(DoLoop) == DoLoop::kConditionOffset, "a loop's head is 20 bytes");

}  // namespace tq
