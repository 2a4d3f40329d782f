#include "store/interp/fornext.h"

#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>

#include "platform/util/uassert.h"
#include "store/block.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/localval.h"
#include "store/interp/nodechk.h"
#include "store/model/objiter.h"
#include "store/model/objval.h"

namespace tq {

// ---- building ------------------------------------------------------------------------------

StmtPtr ForNext::build(int32_t line, ForNextLoopType type, uint32_t body, ExprPtr variable, ExprPtr start,
                       ExprPtr end, ExprPtr step, bool variableAfterNext) {
    TQ_ASSERT(body != NO_BLOCK, "blockIndex != NO_BLOCK");
    TQ_ASSERT(variable && variable->isIdentifier() && start, "variable && start");
    TQ_ASSERT((end && type == FN_Standard) || (!end && type != FN_Standard),
              "(end && (forLoopType == FN_Standard)) || (!end && (forLoopType != FN_Standard))");
    TQ_ASSERT(!step || type == FN_Standard, "step only for FN_Standard");
    const uint64_t size = uint64_t(kVariableOffset) + variable->size() + start->size() + (end ? end->size() : 0) +
                          (step ? step->size() : 0);
    TQ_ASSERT(size <= 0x7FFFFFFF, "size <= 0x7FFFFFFF");
    auto* node = ::new (Allocate(size)) ForNext(line);
    node->setSize(static_cast<uint32_t>(size));
    uint8_t* b = node->bytes();
    std::memset(b + 15, 0, kVariableOffset - 15);
    StoreLE32(b + 15, body);
    uint8_t flags = static_cast<uint8_t>(type << kLoopTypeShift);
    if (!step) flags |= kNoStep;
    if (variableAfterNext) flags |= kVariableAfterNext;
    node->addFlags(flags);
    uint32_t at = PlaceExpr(b, kVariableOffset, variable);
    StoreLE32(b + 23, at);
    at = PlaceExpr(b, at, start);
    if (end) {
        StoreLE32(b + 27, at);
        at = PlaceExpr(b, at, end);
    }
    if (step) {
        StoreLE32(b + 31, at);
        PlaceExpr(b, at, step);
    }
    return StmtPtr(node);
}

StmtPtr ForNext::make(int32_t line, uint32_t body, ExprPtr variable, ExprPtr start, ExprPtr end, ExprPtr step,
                      bool variableAfterNext) {
    TQ_ASSERT(end != nullptr, "end");
    return build(line, FN_Standard, body, std::move(variable), std::move(start), std::move(end), std::move(step),
                 variableAfterNext);
}

StmtPtr ForNext::makeEach(int32_t line, ForNextLoopType type, uint32_t body, ExprPtr variable, ExprPtr object,
                          bool variableAfterNext) {
    TQ_ASSERT(type != FN_Standard && type <= FN_CopiedFrom, "forLoopType != FN_Standard");
    return build(line, type, body, std::move(variable), std::move(object), nullptr, nullptr, variableAfterNext);
}

// ---- running ---------------------------------------------------------------------------------

namespace {

// The loop variable read and written in place when it is a Long or Double
// frame local (the commonest counter), else through its value. The body
// may change the locals' layout (a ReDim), so each turn asks again.
template <class T>
T ReadCounter(Value& var) {
    if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, double>)
        if (const uint8_t* at = LocalDatum<T>(&var)) return LoadDatum<T>(at);
    return var.as<T>();
}
// Writes v and gives what the variable holds now, which the test before
// the next turn compares: v itself when it went into the local's bytes,
// else the variable read again (a value may store something else).
template <class T>
T WriteCounter(Value& var, T v) {
    if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, double>) {
        if (uint8_t* at = LocalDatum<T>(&var)) {
            StoreDatum<T>(at, v);
            return v;
        }
    }
    var.set(v);
    return var.as<T>();
}

// The loop in the variable's own type T. The variable is read again after
// every turn: the body may change it.
template <class T>
void CountLoop(Value& var, const Value& start, const Value& end, const Value& step, Context& ctx, BlockRep* body,
               StackFrame& frame) {
    const T last = end.as<T>();
    const T by = step.as<T>();
    var.set(start.as<T>());
    T v = ReadCounter<T>(var);
    for (;;) {
        if (by >= 0 ? v > last : v < last) return;
        body->ievalIn(ctx, frame);
        if (!frame.isLinked()) return;
        const T now = ReadCounter<T>(var);
        if constexpr (std::is_integral_v<T>) {
            const int64_t next = int64_t(now) + int64_t(by);
            if (next > std::numeric_limits<T>::max() || next < std::numeric_limits<T>::min()) return;
            v = WriteCounter<T>(var, static_cast<T>(next));
        } else {
            v = WriteCounter<T>(var, static_cast<T>(now + by));
        }
    }
}

}  // namespace

void ForNext::eval(Context& ctx) const {
    BlockRep* body = SubBlock(ctx, bodyBlock());
    StackFrame frame(ctx, body, ForFrame);
    // The loop's start, end and step (or its group) are evaluated in the
    // loop's frame: a failure beneath a call in them shows this procedure
    // at the For line.
    frame.setNode(this);
    if (loopType() == FN_Standard)
        runStandard(ctx, body, frame);
    else
        runEach(ctx, body, frame);
}

void ForNext::runStandard(Context& ctx, BlockRep* body, StackFrame& frame) const {
    ValuePtr var = variable()->eval(ctx, EVAL_VALUE_REQUIRED | EVAL_ASSIGN_TARGET);
    ValuePtr first = start()->eval(ctx, EVAL_VALUE_REQUIRED);
    ValuePtr last = end()->eval(ctx, EVAL_VALUE_REQUIRED);
    ValuePtr by = step() ? step()->eval(ctx, EVAL_VALUE_REQUIRED) : ValuePtr(new LongValue(1));
    switch (var->type() & IDT_TYPEMASK) {
        case IDT_SHORT: return CountLoop<int16_t>(*var, *first, *last, *by, ctx, body, frame);
        case IDT_LONG: return CountLoop<int32_t>(*var, *first, *last, *by, ctx, body, frame);
        case IDT_FLOAT: return CountLoop<float>(*var, *first, *last, *by, ctx, body, frame);
        case IDT_DOUBLE: return CountLoop<double>(*var, *first, *last, *by, ctx, body, frame);
        // Written through stdio: the library holds no stream of <iostream>,
        // whose set-up every process would pay for at load.
        default: std::fputs("Loop type not implemented.\n", stderr);
    }
}

void ForNext::runEach(Context& ctx, BlockRep* body, StackFrame& frame) const {
    ValuePtr var = variable()->eval(ctx, EVAL_VALUE_REQUIRED | EVAL_ASSIGN_TARGET);
    ValuePtr of = start()->eval(ctx, EVAL_VALUE_REQUIRED);
    if ((of->type() & IDT_TYPEMASK) != IDT_OBJECT) throw NotObjectReference("ForNext::eval()", 32759);
    InterObj obj = of->as<InterObj>();
    std::vector<InterObj> elements;
    TakeMembers(loopType(), obj.isNull() ? nullptr : obj.get(), elements);
    for (InterObj& e : elements) {
        // An object the body destroyed is passed over.
        if (e.isNull()) continue;
        *var = ObjectValue(e);
        body->ieval(ctx);
        if (!frame.isLinked()) return;
    }
}

void ForNext::TakeMembers(ForNextLoopType type, InterObjRep* obj, std::vector<InterObj>& out) {
    if (!obj) throw Is_Null("ForNext::eval()", 32744);
    switch (type) {
        case FN_In:
            if (!groupMembers || !groupMembers(obj, out))
                throw StoreException("Expected an object of type 'Group' for 'In' object.", nullptr);
            break;
        case FN_EmbeddedIn: {
            InterObjEmbedIterator embeds(obj);
            while (embeds())
                if (InterObjRep* e = embeds.embed()) out.emplace_back(e);
            break;
        }
        default: {
            InterObjChildIterator children(obj, 0);
            while (InterObjRep* c = children()) out.emplace_back(c);
        }
    }
}

// ---- checking ---------------------------------------------------------------------------------

void ForNext::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    const uint8_t flags = c.u8(at + 6);
    const uint8_t type = (flags & kLoopTypeMask) >> kLoopTypeShift;
    if (type > FN_CopiedFrom) c.fail(at, "For loop type " + std::to_string(type) + " is not defined");
    c.subBlock(at, c.u32(at + 15));
    const uint32_t startAt = c.u32(at + 23), endAt = c.u32(at + 27), stepAt = c.u32(at + 31);
    uint32_t pos = c.identifierExpression(at + kVariableOffset, end, 1);
    auto expect = [&](uint32_t stored, const char* what) {
        if (uint64_t(at) + stored != pos)
            c.fail(at, std::string("the offset of the ") + what + " expression does not match where it lies");
        pos = c.expression(pos, end, 1);
    };
    expect(startAt, type == FN_Standard ? "start" : "object");
    if (type == FN_Standard) {
        if (endAt == 0) c.fail(at, "a For loop has no end expression");
        expect(endAt, "end");
        if ((stepAt == 0) != ((flags & kNoStep) != 0)) c.fail(at, "the no-step flag does not match the step offset");
        if (stepAt) expect(stepAt, "step");
    } else if (endAt != 0 || stepAt != 0) {
        c.fail(at, "a For Each loop has an end or step expression");
    }
    if (pos != end) c.fail(pos, "the size of ForNext does not match what it holds");
}

}  // namespace tq
