#include "store/interp/funccall.h"

#include <string>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/ident.h"
#include "store/interp/nodechk.h"
#include "store/model/interobj.h"

namespace tq {

StmtPtr FunctionCallStmt::make(int32_t line, CallForm form, ExprPtr call) {
    TQ_ASSERT(call && call->isIdentifier(), "call->isIdentifier()");
    const uint32_t size = kCallOffset + call->size();
    auto* node = ::new (Allocate(size)) FunctionCallStmt(line);
    node->setSize(size);
    node->form_ = form;
    PlaceExpr(node->bytes(), kCallOffset, call);
    return StmtPtr(node);
}

void FunctionCallStmt::eval(Context& ctx) const {
    if (form() == CALL_SEND_EVENT) return sendEvent(ctx);
    // Whatever comes back is dropped here.
    call()->eval(ctx, 0);
}

void FunctionCallStmt::sendEvent(Context& ctx) const {
    const ExprNode* last = call();
    InterObj obj;
    if (last->type() == EXPR_MID) {
        obj = static_cast<const Mid*>(last)->getBaseObj(ctx, ctx, last);
    } else {
        obj = ctx.me();
    }
    const bool isCid = last->type() == EXPR_CID;
    const bool me = isCid ? static_cast<const Cid*>(last)->isMe() : static_cast<const Sid*>(last)->isMe();
    const uint16_t index = isCid ? static_cast<const Cid*>(last)->idIndex() : static_cast<const Sid*>(last)->idIndex();
    const char* name = me ? nullptr : ctx.identifierName(index);
    if (!name) throw NotFound(32740, me ? "Me" : ("#" + std::to_string(index)).c_str());
    if (obj.isNull()) throw NotFound(32740, name);
    ValueList args;
    if (isCid) args = static_cast<const Cid*>(last)->getValueList(ctx, 0);
    unsigned char isFunction = 0;
    int standard = 0;
    obj->getExtEventProto(name, isFunction, standard);
    obj->evalIEvent(name, &args, standard ? 0 : 1);
}

void FunctionCallStmt::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    if (c.identifierExpression(at + kCallOffset, end, 1) != end)
        c.fail(at, "the size of FunctionCallStmt does not match what it holds");
}

}  // namespace tq
