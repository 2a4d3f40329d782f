#include "store/interp/trycatch.h"

#include <cstring>
#include <string>

#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/ident.h"
#include "store/interp/nodechk.h"
#include "store/interp/stackfrm.h"
#include "store/model/interobj.h"

namespace tq {

// ---- the exceptions ---------------------------------------------------------------------------

InterpretiveException::InterpretiveException(const char* name, ValueList args)
    : StoreException(name ? name : "", nullptr), name_(name ? name : ""), args_(std::move(args)) {
    flags |= kInterpretiveFlag;
}

std::unique_ptr<ValueList> InterpretiveException::args() const { return std::make_unique<ValueList>(args_); }

// ---- Try ----------------------------------------------------------------------------------------

StmtPtr TryBlock::make(int32_t line, uint32_t body, int32_t endLine, const std::vector<CatchClause>& catches) {
    TQ_ASSERT(body != NO_BLOCK, "body != NO_BLOCK");
    const uint64_t size = kClausesOffset + uint64_t(kClauseSize) * catches.size();
    TQ_ASSERT(size <= 0x7FFFFFFF, "size <= 0x7FFFFFFF");
    auto* node = ::new (Allocate(size)) TryBlock(line);
    node->setSize(static_cast<uint32_t>(size));
    uint8_t* b = node->bytes();
    StoreLE32(b + 15, body);
    StoreLE32(b + 19, static_cast<uint32_t>(endLine));
    StoreLE32(b + 23, static_cast<uint32_t>(catches.size()));
    uint8_t* at = b + kClausesOffset;
    for (const CatchClause& c : catches) {
        TQ_ASSERT(c.block != NO_BLOCK, "catch block != NO_BLOCK");
        std::memset(at, 0, kClauseSize);
        StoreLE32(at, static_cast<uint32_t>(c.line));
        StoreLE16(at + 9, c.name);
        StoreLE32(at + 11, c.block);
        at += kClauseSize;
    }
    return StmtPtr(node);
}

CatchClause TryBlock::clause(uint32_t i) const {
    const uint8_t* at = bytes() + kClausesOffset + kClauseSize * i;
    return CatchClause{static_cast<int32_t>(LoadLE32(at)), LoadLE16(at + 9), LoadLE32(at + 11)};
}

void TryBlock::eval(Context& ctx) const {
    BlockRep* body = SubBlock(ctx, bodyBlock());
    std::unique_ptr<StoreException> caught;
    uint32_t handler = NO_BLOCK;
    try {
        RunInFrame(ctx, body, TryFrame);
        return;
    } catch (const IRethrow&) {
        throw;
    } catch (const StoreException& e) {
        if (e.flags & kExecutionControlFlag) throw;
        const char* name = e.name();
        for (uint32_t i = 0; i < clauseCount() && handler == NO_BLOCK; ++i) {
            const CatchClause c = clause(i);
            const char* wanted = c.name == kCatchAll ? nullptr : ctx.identifierName(c.name);
            if (c.name == kCatchAll || (wanted && name && std::strcmp(wanted, name) == 0)) handler = c.block;
        }
        if (handler == NO_BLOCK) throw;
        caught.reset(e.Clone());
    }
    // The Try body's frame is gone: the Catch body runs by itself, with the
    // particulars of the exception bound to its parameters when it takes
    // any. Its parameter list never fails the clause: parameters the
    // exception does not carry start from their type's default.
    BlockRep* catchBody = SubBlock(ctx, handler);
    try {
        InterObjRep* parameters = catchBody->staticVarObj();
        if (!parameters) {
            catchBody->eval(ctx);
        } else {
            // Bound afresh on every run, also with nothing to bind: a
            // parameter left unbound would read what the last run left. The
            // list keeps the values by-reference parameters name.
            std::unique_ptr<ValueList> args = caught->args();
            InterObjRep* bound = parameters->bindAsFar(args.get());
            StackFrame frame(ctx, catchBody, BlockFrame, bound);
            catchBody->ieval(ctx);
        }
    } catch (const IRethrow&) {
        caught->Throw();
    }
}

void TryBlock::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    c.subBlock(at, c.u32(at + 15));
    const uint32_t n = c.u32(at + 23);
    if (uint64_t(kClausesOffset) + uint64_t(kClauseSize) * n != end - at)
        c.fail(at, "the " + std::to_string(n) + " catch clauses do not fill TryBlock exactly");
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t clause = at + kClausesOffset + kClauseSize * i;
        const uint16_t name = c.u16(clause + 9);
        if (name != kCatchAll) c.identifier(clause, name);
        c.subBlock(clause, c.u32(clause + 11));
    }
}

// ---- Throw ----------------------------------------------------------------------------------

StmtPtr ThrowStmt::make(int32_t line, ExprPtr name) {
    if (name) {
        TQ_ASSERT(name->type() == EXPR_SID || name->type() == EXPR_CID, "name is a Sid or Cid");
        TQ_ASSERT(name->type() == EXPR_SID ? static_cast<const Sid*>(name.get())->getIdType() == IDT_UNTYPED
                                           : static_cast<const Cid*>(name.get())->getIdType() == IDT_UNTYPED,
                  "sid->getIdType() == IDT_UNTYPED");
    }
    const uint32_t size = kHeadSize + (name ? name->size() : 0);
    auto* node = ::new (Allocate(size)) ThrowStmt(line);
    node->setSize(size);
    if (name)
        PlaceExpr(node->bytes(), kHeadSize, name);
    else
        node->addFlags(kNoName);
    return StmtPtr(node);
}

void ThrowStmt::eval(Context& ctx) const {
    const ExprNode* n = name();
    if (!n) {
        if (ExecutionStack::frameTypeExists(BlockFrame, ctx.frameCount())) throw IRethrow();
        throw StoreException(32697u);
    }
    const bool isCid = n->type() == EXPR_CID;
    const uint16_t index = isCid ? static_cast<const Cid*>(n)->idIndex() : static_cast<const Sid*>(n)->idIndex();
    const bool me = isCid ? static_cast<const Cid*>(n)->isMe() : static_cast<const Sid*>(n)->isMe();
    const char* text = me ? "Me" : ctx.identifierName(index);
    if (!text) throw NotFound(32740, ("#" + std::to_string(index)).c_str());
    ValueList args;
    if (isCid) {
        // The call's list runs last argument first; the exception keeps its
        // particulars first argument first.
        ValueList stack = static_cast<const Cid*>(n)->getValueList(ctx, 1);
        for (int32_t i = stack.length(); i-- > 0;) args.append(ValuePtr(stack.at(i)));
    }
    throw InterpretiveException(text, std::move(args));
}

void ThrowStmt::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    if (c.u8(at + 6) & kNoName) {
        if (end - at != kHeadSize) c.fail(at, "a rethrow holds more than its head");
        return;
    }
    const uint16_t kind = c.u16(at + kHeadSize);
    if (kind != EXPR_SID && kind != EXPR_CID) c.fail(at + kHeadSize, "Throw names its exception with kind " + std::to_string(kind));
    if ((c.u8(at + kHeadSize + 7) & 0x1F) != IDT_UNTYPED) c.fail(at + kHeadSize, "the name a Throw raises has a type");
    if (c.expression(at + kHeadSize, end, 1) != end)
        c.fail(at, "the size of ThrowStmt does not match what it holds");
}

}  // namespace tq
