#include "store/interp/case.h"

#include <string>

#include "platform/util/uassert.h"
#include "store/context.h"
#include "store/interp/nodechk.h"

namespace tq {

StmtPtr SelectCase::make(int32_t line, ExprPtr test, std::vector<CaseLine> cases, int32_t endLine,
                         uint32_t elseBlock, int32_t elseLine) {
    TQ_ASSERT(test != nullptr, "test");
    uint64_t size = kTestOffset + test->size();
    size_t records = 0;
    for (const CaseLine& c : cases) {
        TQ_ASSERT(!c.tests.empty(), "a Case line has a test");
        for (size_t i = 0; i < c.tests.size(); ++i) {
            const CaseTest& t = c.tests[i];
            TQ_ASSERT(t.first && t.type >= ECC_IS_EQUAL && t.type <= ECC_NOT_EQUAL, "a test has its type and value");
            TQ_ASSERT((t.type == ECC_RANGE) == (t.second != nullptr),
                      "((t == ECC_RANGE) && e2) || ((t != ECC_RANGE) && !e2)");
            size += (i == 0 ? CaseClauseRec::kFirstHead : CaseClauseRec::kFurtherHead) + t.first->size() +
                    (t.second ? t.second->size() : 0);
            ++records;
        }
    }
    TQ_ASSERT(records <= 0xFFFF, "clause count <= 65535");
    TQ_ASSERT(size <= 0x7FFFFFFF, "size <= 0x7FFFFFFF");
    auto* node = ::new (Allocate(size)) SelectCase(line);
    node->setSize(static_cast<uint32_t>(size));
    uint8_t* b = node->bytes();
    StoreLE32(b + 15, static_cast<uint32_t>(endLine));
    StoreLE32(b + 19, elseBlock);
    StoreLE32(b + 23, static_cast<uint32_t>(elseLine));
    StoreLE16(b + 27, static_cast<uint16_t>(records));
    uint32_t at = PlaceExpr(b, kTestOffset, test);
    for (CaseLine& c : cases) {
        for (size_t i = 0; i < c.tests.size(); ++i) {
            CaseTest& t = c.tests[i];
            const uint32_t start = at;
            const bool first = i == 0;
            StoreLE16(b + at, static_cast<uint16_t>(t.type | (first ? 0 : CaseClauseRec::kFurtherTest)));
            b[at + 6] = 0;
            if (first) {
                StoreLE32(b + at + 7, c.block);
                StoreLE32(b + at + 11, static_cast<uint32_t>(c.line));
            }
            at += first ? CaseClauseRec::kFirstHead : CaseClauseRec::kFurtherHead;
            at = PlaceExpr(b, at, t.first);
            if (t.second) at = PlaceExpr(b, at, t.second);
            StoreLE32(b + start + 2, at - start);
        }
    }
    return StmtPtr(node);
}

namespace {

bool Matches(const Value& t, const CaseClauseRec& r, Context& ctx) {
    ValuePtr e = r.first()->eval(ctx, EVAL_VALUE_REQUIRED);
    switch (r.testType()) {
        case ECC_IS_EQUAL:
        case ECC_EQUAL: return (t == *e) != 0;
        case ECC_RANGE: {
            ValuePtr upper = r.second()->eval(ctx, EVAL_VALUE_REQUIRED);
            return (t >= *e) != 0 && (t <= *upper) != 0;
        }
        case ECC_GREATER: return (t > *e) != 0;
        case ECC_LESS: return (t < *e) != 0;
        case ECC_LESS_EQUAL: return (t <= *e) != 0;
        case ECC_GREATER_EQUAL: return (t >= *e) != 0;
        case ECC_NOT_EQUAL: return (t != *e) != 0;
    }
    return false;
}

}  // namespace

void SelectCase::eval(Context& ctx) const {
    ValuePtr t = test()->eval(ctx, EVAL_VALUE_REQUIRED);
    uint32_t chosen = elseBlock();
    uint32_t current = NO_BLOCK;
    const CaseClauseRec* r = firstClause();
    for (uint16_t i = 0; i < clauseCount(); ++i, r = r->next()) {
        if (r->isFirstOfLine()) current = r->block();
        if (Matches(*t, *r, ctx)) {
            chosen = current;
            break;
        }
    }
    t.reset();
    if (chosen != NO_BLOCK) RunInFrame(ctx, SubBlock(ctx, chosen), SelectFrame);
}

void SelectCase::Check(NodeCheck& c, uint32_t at, uint32_t end) {
    CheckOptionalBlock(c, at, c.u32(at + 19));
    const uint16_t n = c.u16(at + 27);
    uint32_t pos = c.expression(at + kTestOffset, end, 1);
    for (uint16_t i = 0; i < n; ++i) {
        if (uint64_t(pos) + CaseClauseRec::kFurtherHead > end)
            c.fail(pos, "clause record " + std::to_string(i + 1) + " of " + std::to_string(n) +
                            " runs past its Select Case");
        const uint16_t kind = c.u16(pos);
        const uint32_t size = c.u32(pos + 2);
        const uint8_t type = kind & 0x7F;
        const bool first = (kind & CaseClauseRec::kFurtherTest) == 0;
        if (kind > 0xFF || type < ECC_IS_EQUAL || type > ECC_NOT_EQUAL)
            c.fail(pos, "clause record kind " + std::to_string(kind) + " is not a Case test");
        if (i == 0 && !first) c.fail(pos, "the first clause record is not the first test of a Case line");
        const uint32_t head = first ? CaseClauseRec::kFirstHead : CaseClauseRec::kFurtherHead;
        if (size < head || uint64_t(pos) + size > end)
            c.fail(pos, "clause record " + std::to_string(i + 1) + " of " + std::to_string(n) +
                            " runs past its Select Case");
        if (first) CheckOptionalBlock(c, pos, c.u32(pos + 7));
        const uint32_t stop = pos + size;
        uint32_t e = c.expression(pos + head, stop, 1);
        if (type == ECC_RANGE) e = c.expression(e, stop, 1);
        if (e != stop) c.fail(pos, "a clause record's size does not match its expressions");
        pos = stop;
    }
    if (pos != end) c.fail(pos, "the size of SelectCase does not match what it holds");
}

}  // namespace tq
