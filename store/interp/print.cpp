#include "store/interp/print.h"

#include <string>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/nodechk.h"
#include "store/model/interobj.h"
#include "store/persist/vlstrrep.h"
#include "store/storeapp.h"

namespace tq {

StmtPtr Print::make(int32_t line, std::vector<PrintItem> items, PrintSeparator last, ExprPtr target) {
    const uint64_t n = items.size();
    uint64_t size = kTargetOffset + (target ? target->size() : 0) + 8 * n;
    for (const PrintItem& item : items) {
        TQ_ASSERT(item.expr != nullptr, "item expression");
        TQ_ASSERT(item.kind >= PRINT_SPC && item.kind <= PRINT_VALUE, "item kind 1 to 3");
        size += item.expr->size();
    }
    TQ_ASSERT(size <= 0x7FFFFFFF, "size <= 0x7FFFFFFF");
    auto* node = ::new (Allocate(size)) Print(line);
    node->setSize(static_cast<uint32_t>(size));
    uint8_t* b = node->bytes();
    const uint32_t separators = kTargetOffset + (target ? target->size() : 0);
    const uint32_t kinds = separators + 4 * static_cast<uint32_t>(n);
    uint32_t at = kinds + 4 * static_cast<uint32_t>(n);
    StoreLE32(b + 15, static_cast<uint32_t>(last));
    StoreLE32(b + 19, separators);
    StoreLE32(b + 23, kinds);
    StoreLE32(b + 27, at);
    StoreLE32(b + 31, static_cast<uint32_t>(n));
    if (target)
        PlaceExpr(b, kTargetOffset, target);
    else
        node->addFlags(kNoTarget);
    for (uint32_t i = 0; i < n; ++i) {
        StoreLE32(b + separators + 4 * i, static_cast<uint32_t>(items[i].separator));
        StoreLE32(b + kinds + 4 * i, items[i].kind);
        at = PlaceExpr(b, at, items[i].expr);
    }
    return StmtPtr(node);
}

namespace {

void PrintValue(Printable& sink, const Value& v) {
    switch (v.type() & IDT_TYPEMASK) {
        case IDT_SHORT: return sink.printInteger(v.as<int16_t>());
        case IDT_LONG: return sink.printLong(v.as<int32_t>());
        case IDT_FLOAT: return sink.printSingle(v.as<float>());
        case IDT_DOUBLE: return sink.printDouble(v.as<double>());
        default: {
            const ValString text = v.as<ValString>();
            if (const ValStringRep* rep = text.get()) sink.printString(rep->text().data(), rep->text().size());
        }
    }
}

}  // namespace

void Print::eval(Context& ctx) const {
    Printable* sink = nullptr;
    if (const ExprNode* t = target()) {
        ValuePtr v = t->eval(ctx, EVAL_VALUE_REQUIRED);
        if ((v->type() & IDT_TYPEMASK) != IDT_OBJECT) throw NotObjectReference("Print::eval()", 32759);
        InterObj obj = v->as<InterObj>();
        if (!obj.isNull() && targetSink) sink = targetSink(obj.get());
        if (!sink) throw NotFound(32740, "Print");
    } else {
        sink = StoreApplication::GetCurrentPrintable();
    }
    const ExprNode* item = firstItem();
    for (uint32_t i = 0; i < itemCount(); ++i, item = NextExpr(item)) {
        if (sink) sink->separator(separator(i));
        ValuePtr v = item->eval(ctx, EVAL_VALUE_REQUIRED);
        if (!sink) continue;
        switch (itemKind(i)) {
            case PRINT_SPC: sink->space(v->as<int16_t>()); break;
            case PRINT_TAB: sink->tab(v->as<int16_t>()); break;
            default: PrintValue(*sink, *v);
        }
    }
    if (sink) sink->endOfStatement(lastSeparator());
}

void Print::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    const uint32_t last = c.u32(at + 15);
    if (last > PRINT_NO_SEPARATOR) c.fail(at, "Print's last separator " + std::to_string(last) + " is not one");
    uint32_t pos = at + kTargetOffset;
    if (!(c.u8(at + 6) & kNoTarget)) pos = c.expression(pos, end, 1);
    const uint32_t n = c.u32(at + 31);
    const uint64_t separators = pos - at, kinds = separators + 4 * uint64_t(n), items = kinds + 4 * uint64_t(n);
    if (at + items > end) c.fail(at, "the tables of Print's " + std::to_string(n) + " items run past it");
    if (c.u32(at + 19) != separators || c.u32(at + 23) != kinds || c.u32(at + 27) != items)
        c.fail(at, "the table offsets of Print do not match its target and item count");
    pos = at + static_cast<uint32_t>(items);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t sep = c.u32(at + static_cast<uint32_t>(separators) + 4 * i);
        const uint32_t kind = c.u32(at + static_cast<uint32_t>(kinds) + 4 * i);
        if (sep > PRINT_NO_SEPARATOR) c.fail(at, "Print's separator " + std::to_string(sep) + " is not one");
        if (kind < PRINT_SPC || kind > PRINT_VALUE) c.fail(at, "Print's item kind " + std::to_string(kind) + " is not one");
        pos = c.expression(pos, end, 1);
    }
    if (pos != end) c.fail(pos, "the size of Print does not match what it holds");
}

}  // namespace tq
