#include "store/interp/doloop.h"

#include <string>

#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/context.h"
#include "store/interp/nodechk.h"

namespace tq {

StmtPtr DoLoop::make(int32_t line, DoLoopForm form, uint32_t body, ExprPtr condition, uint16_t kind) {
    TQ_ASSERT(form >= DO_WHILE && form <= WHILE_WEND, "form >= 3 && form <= 8");
    TQ_ASSERT((form == DO_FOREVER) == (condition == nullptr), "testExpr == NULL");
    TQ_ASSERT(kind == STMT_DO_LOOP || kind == STMT_DO_LOOP2, "kind == 3 || kind == 14");
    const uint32_t size = kConditionOffset + (condition ? condition->size() : 0);
    auto* node = ::new (Allocate(size)) DoLoop(kind, line);
    node->setSize(size);
    node->bytes()[15] = form;
    StoreLE32(node->bytes() + 16, body);
    if (condition) PlaceExpr(node->bytes(), kConditionOffset, condition);
    return StmtPtr(node);
}

void DoLoop::eval(Context& ctx) {
    BlockRep* body = SubBlock(ctx, bodyBlock());
    const ExprNode* cond = condition();
    // Set before the frame: a failing condition is then reported on the
    // Loop line, where it is written.
    if (testsAfterBody() && body->endLine() != 0) setRunningLine(body->endLine());
    StackFrame frame(ctx, body, DoFrame);
    // While the condition runs, the loop's frame stands at the loop itself:
    // a failure beneath a call in it shows this procedure at the line the
    // condition is written on.
    auto holds = [&] {
        frame.setNode(this);
        return IsTrue(cond, ctx);
    };
    switch (form()) {
        case DO_WHILE:
        case WHILE_WEND:
            while (holds()) {
                body->ieval(ctx);
                if (!frame.isLinked()) return;
            }
            return;
        case DO_UNTIL:
            while (!holds()) {
                body->ieval(ctx);
                if (!frame.isLinked()) return;
            }
            return;
        case DO_LOOP_WHILE:
            do {
                body->ieval(ctx);
                if (!frame.isLinked()) return;
            } while (holds());
            return;
        case DO_LOOP_UNTIL:
            do {
                body->ieval(ctx);
                if (!frame.isLinked()) return;
            } while (!holds());
            return;
        case DO_FOREVER:
            for (;;) {
                body->ieval(ctx);
                if (!frame.isLinked()) return;
            }
    }
}

void DoLoop::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    const uint8_t form = c.u8(at + 15);
    if (form < DO_WHILE || form > WHILE_WEND) c.fail(at, "loop form " + std::to_string(form) + " is not defined");
    c.subBlock(at, c.u32(at + 16));
    if (form == DO_FOREVER) {
        if (end - at != kConditionOffset) c.fail(at, "a loop without a condition holds more than its head");
        return;
    }
    if (c.expression(at + kConditionOffset, end, 1) != end)
        c.fail(at, "the size of DoLoop does not match what it holds");
}

}  // namespace tq
