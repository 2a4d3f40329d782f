#include "store/interp/assign.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/model/interobj.h"

namespace tq {

namespace {

const char* NameOf(const Context& ctx, uint16_t index) {
    if (const char* name = ctx.identifierName(index)) return name;
    char text[16];
    std::snprintf(text, sizeof text, "#%u", unsigned(index));
    throw NotFound(32740, text);
}

// "target := value": the field named by the target's last identifier, on
// the object the target reaches before it.
void DeepSet(Context& ctx, const ExprNode* target, Value* returnValue, Value& value) {
    if (returnValue) throw StoreException("Illegal use of deep-set (function return value).", nullptr);
    if (target->type() == EXPR_CID) throw StoreException("Illegal use of deep-set (function or array)", nullptr);
    InterObj obj;
    const ExprNode* last = target;
    if (target->type() == EXPR_MID) {
        obj = static_cast<const Mid*>(target)->getBaseObj(ctx, ctx, last);
        if (last->type() == EXPR_CID) throw StoreException("Illegal use of deep-set (function or array)", nullptr);
    } else {
        const auto* sid = static_cast<const Sid*>(target);
        // Me, True and False name no field.
        if (sid->isMe() || sid->isTruthConstant())
            throw StoreException("Illegal use of deep-set (Me, True or False).", nullptr);
        if (sid->isDotted()) {
            if (!ctx.withObj()) throw StoreException(32709u);
            obj = ctx.withObj();
        } else {
            if (!ctx.me()) throw StoreException(32735u);
            obj = ctx.me();
        }
    }
    const char* name = NameOf(ctx, static_cast<const Sid*>(last)->idIndex());
    if (obj.isNull()) throw Is_Null("Assignment::eval()", 32744);
    obj->deepDataMemberSet(name, &value);
}

}  // namespace

StmtPtr Assignment::make(int32_t line, int form, ExprPtr target, ExprPtr value) {
    TQ_ASSERT(target && value, "target && value");
    // A stored block is refused when its target is anything else, so a
    // block built with one could not be read back.
    TQ_ASSERT(target->isIdentifier(), "target->isIdentifier()");
    const uint32_t size = kTargetOffset + target->size() + value->size();
    auto* node = ::new (Allocate(size)) Assignment(line);
    node->setSize(size);
    node->addFlags(static_cast<uint8_t>((form & 7) << 3));
    uint8_t* at = node->bytes() + kTargetOffset;
    for (ExprPtr* e : {&target, &value}) {
        const uint32_t n = (*e)->size();
        std::memcpy(at, (*e)->bytes(), n);
        at += n;
        e->reset();
    }
    return StmtPtr(node);
}

void Assignment::eval(Context& ctx) const {
    const ExprNode* t = target();
    const ExprNode* source = value();
    // An operator whose result is a Long hands it over as a number: the
    // value that would hold it is never seen by anything but this statement.
    ValuePtr v;
    int32_t longResult = 0;
    const bool isLong = source->type() == EXPR_BINARY_OP
                            ? static_cast<const BinaryOp*>(source)->evalLong(ctx, ctx, longResult, v)
                            : (v = source->eval(ctx, EVAL_VALUE_REQUIRED), false);
    // The running function's own name is its return value.
    Value* returnValue = t->type() == EXPR_SID ? ctx.getReturnValue(*static_cast<const Sid*>(t)) : nullptr;
    if (isDeepSet() || returnValue) [[unlikely]] {
        if (isLong) v = ValuePtr(new LongValue(longResult));
        if (isDeepSet())
            DeepSet(ctx, t, returnValue, *v);
        else
            *returnValue = *v;
        return;
    }
    constexpr int32_t kTarget = EVAL_VALUE_REQUIRED | EVAL_ASSIGN_TARGET;
    ValuePtr place = t->type() == EXPR_SID ? static_cast<const Sid*>(t)->eval(ctx, kTarget) : t->eval(ctx, kTarget);
    if (isLong) {
        // A Long target takes the number as it is, which is what assigning
        // a Long value to it does.
        if (place->type() == IDT_LONG) {
            place->set(longResult);
            return;
        }
        v = ValuePtr(new LongValue(longResult));
    }
    *place = *v;
}

}  // namespace tq
