#include "store/interp/withblk.h"

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/nodechk.h"
#include "store/model/interobj.h"

namespace tq {

StmtPtr WithBlock::make(int32_t line, uint32_t body, ExprPtr object) {
    TQ_ASSERT(object != nullptr && body != NO_BLOCK, "object && body");
    const uint32_t size = kObjectOffset + object->size();
    auto* node = ::new (Allocate(size)) WithBlock(line);
    node->setSize(size);
    StoreLE32(node->bytes() + 15, body);
    PlaceExpr(node->bytes(), kObjectOffset, object);
    return StmtPtr(node);
}

namespace {

// Puts the enclosing With object back however the body ends.
class WithScope {
public:
    WithScope(Context& ctx, InterObjRep* obj) : ctx_(ctx), previous_(ctx.setWithObj(obj)) {}
    ~WithScope() { ctx_.setWithObj(previous_.get()); }
    WithScope(const WithScope&) = delete;
    WithScope& operator=(const WithScope&) = delete;

private:
    Context& ctx_;
    InterObj previous_;
};

}  // namespace

void WithBlock::eval(Context& ctx) const {
    BlockRep* body = SubBlock(ctx, bodyBlock());
    ValuePtr v = object()->eval(ctx, EVAL_VALUE_REQUIRED);
    if ((v->type() & IDT_TYPEMASK) != IDT_OBJECT) throw NotObjectReference("WithBlock::eval()", 32759);
    InterObj obj = v->as<InterObj>();
    if (obj.isNull()) throw Is_Null("WithBlock::eval()", 32744);
    WithScope with(ctx, obj.get());
    RunInFrame(ctx, body, WithFrame);
}

void WithBlock::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    c.subBlock(at, c.u32(at + 15));
    if (c.expression(at + kObjectOffset, end, 1) != end)
        c.fail(at, "the size of WithBlock does not match what it holds");
}

}  // namespace tq
