// Printing the control statements back as source text.
//
// A compound statement prints its opening line, its sub-blocks (each one
// indentation step in, BlockRep::print) and its closing line, which it
// moves to itself: the closing line of a loop or With is its body's end
// line; Select Case, Try and the block If keep theirs.
#include <ostream>

#include "store/block.h"
#include "store/interp/case.h"
#include "store/interp/doloop.h"
#include "store/interp/fornext.h"
#include "store/interp/funccall.h"
#include "store/interp/ident.h"
#include "store/interp/ifthen.h"
#include "store/interp/print.h"
#include "store/interp/redim.h"
#include "store/interp/srcctl.h"
#include "store/interp/trycatch.h"
#include "store/interp/withblk.h"

namespace tq {

namespace {

// Prints sub-block index when there is one.
void PrintOptional(SourceControl& sc, uint32_t index) {
    if (index != NO_BLOCK) sc.printBlock(index);
}

int32_t EndLineOf(SourceControl& sc, uint32_t index) { return sc.block(index)->endLine(); }

void PrintCaseTest(SourceControl& sc, const CaseClauseRec& r) {
    static constexpr const char* kPrefixes[] = {"",      "Is == ", "",      "",
                                                "Is > ", "Is < ",  "Is <= ", "Is >= ", "Is <> "};
    const ECaseCompareType t = r.testType();
    if (t < sizeof kPrefixes / sizeof kPrefixes[0]) sc.stream() << kPrefixes[t];
    r.first()->print(sc);
    if (const ExprNode* upper = r.second()) {
        sc.stream() << " To ";
        upper->print(sc);
    }
}

}  // namespace

void SelectCase::print(SourceControl& sc) const {
    sc.stream() << "Select Case ";
    test()->print(sc);
    // A Case line's body follows all the tests of its line.
    const CaseClauseRec* r = firstClause();
    uint32_t pending = NO_BLOCK;
    for (uint16_t i = 0; i < clauseCount(); ++i, r = r->next()) {
        if (r->isFirstOfLine()) {
            PrintOptional(sc, pending);
            sc.advancePos(r->line());
            sc.stream() << "Case ";
            pending = r->block();
        } else {
            sc.stream() << ", ";
        }
        PrintCaseTest(sc, *r);
    }
    PrintOptional(sc, pending);
    if (elseLine() != 0 || elseBlock() != NO_BLOCK) {
        sc.advancePos(elseLine());
        sc.stream() << "Case Else";
        PrintOptional(sc, elseBlock());
    }
    sc.advancePos(endLine());
    sc.stream() << "End Select";
}

void DoLoop::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    const DoLoopForm f = form();
    switch (f) {
        case DO_WHILE: os << "Do While "; break;
        case DO_UNTIL: os << "Do Until "; break;
        case WHILE_WEND: os << "While "; break;
        default: os << "Do"; break;
    }
    if (f == DO_WHILE || f == DO_UNTIL || f == WHILE_WEND) condition()->print(sc);
    sc.printBlock(bodyBlock());
    sc.advancePos(EndLineOf(sc, bodyBlock()));
    switch (f) {
        case DO_LOOP_WHILE: os << "Loop While "; break;
        case DO_LOOP_UNTIL: os << "Loop Until "; break;
        case WHILE_WEND: os << "Wend"; break;
        default: os << "Loop"; break;
    }
    if (f == DO_LOOP_WHILE || f == DO_LOOP_UNTIL) condition()->print(sc);
}

void ForNext::print(SourceControl& sc) const {
    static constexpr const char* kWords[] = {"", "In", "EmbeddedIn", "CopiedFrom"};
    std::ostream& os = sc.stream();
    const ForNextLoopType t = loopType();
    if (t == FN_Standard) {
        os << "For ";
        variable()->print(sc);
        os << " = ";
        start()->print(sc);
        os << " To ";
        if (const ExprNode* e = end()) e->print(sc);
        if (const ExprNode* s = step()) {
            os << " Step ";
            s->print(sc);
        }
    } else {
        os << "For Each ";
        variable()->print(sc);
        os << ' ' << (t < 4 ? kWords[t] : "In") << ' ';
        start()->print(sc);
    }
    sc.printBlock(bodyBlock());
    sc.advancePos(EndLineOf(sc, bodyBlock()));
    os << "Next ";
    if (flags() & kVariableAfterNext) variable()->print(sc);
}

void FunctionCallStmt::print(SourceControl& sc) const {
    if (form() == CALL_CALL)
        sc.stream() << "Call ";
    else if (form() == CALL_SEND_EVENT)
        sc.stream() << "SendEvent ";
    call()->print(sc);
}

void SimpleIfThen::print(SourceControl& sc) const {
    sc.stream() << "If ";
    condition()->print(sc);
    sc.stream() << " Then ";
    // The statements of a one-line If follow " Then " and " Else " on the
    // same line, without a separator.
    sc.setSameLine();
    sc.printBlock(thenBlock());
    if (elseBlock() != NO_BLOCK) {
        sc.stream() << " Else ";
        sc.setSameLine();
        sc.printBlock(elseBlock());
    }
}

void ComplexIfThen::print(SourceControl& sc) const {
    const ExprNode* c = firstCondition();
    uint32_t last = NO_BLOCK;
    for (uint32_t i = 0; i < clauseCount(); ++i, c = NextExpr(c)) {
        if (i > 0) sc.advancePos(clauseLine(i));
        sc.stream() << (i == 0 ? "If " : "ElseIf ");
        c->print(sc);
        sc.stream() << " Then ";
        sc.setSameLine();
        sc.printBlock(block(i));
        last = block(i);
    }
    int32_t endLine = EndLineOf(sc, last);
    if (elseLine() != 0 || elseBlock() != NO_BLOCK) {
        sc.advancePos(elseLine());
        sc.stream() << "Else ";
        sc.setSameLine();
        if (elseBlock() != NO_BLOCK) {
            sc.printBlock(elseBlock());
            endLine = EndLineOf(sc, elseBlock());
        } else if (endLine <= elseLine()) {
            // An empty Else has no block to tell where End If stands: the
            // line after the Else.
            endLine = elseLine() + 1;
        }
    }
    sc.advancePos(endLine);
    sc.stream() << "End If";
}

void Print::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    if (const ExprNode* t = target()) {
        t->print(sc);
        os << '.';
    }
    os << "Print ";
    auto writeSeparator = [&os](PrintSeparator s) {
        if (s == PRINT_COMMA)
            os << ", ";
        else if (s == PRINT_SEMICOLON)
            os << "; ";
    };
    const ExprNode* e = firstItem();
    for (uint32_t i = 0; i < itemCount(); ++i, e = NextExpr(e)) {
        writeSeparator(separator(i));
        const PrintItemKind k = itemKind(i);
        if (k == PRINT_SPC || k == PRINT_TAB) {
            os << (k == PRINT_SPC ? "Spc(" : "Tab(");
            e->print(sc);
            os << ')';
        } else {
            e->print(sc);
        }
    }
    writeSeparator(lastSeparator());
}

void RandomizeStmt::print(SourceControl& sc) const {
    sc.stream() << "Randomize";
    if (const ExprNode* s = seed()) {
        sc.stream() << ' ';
        s->print(sc);
    }
}

void RedimStmt::print(SourceControl& sc) const {
    std::ostream& os = sc.stream();
    os << "Redim ";
    if (preserve()) os << "Preserve ";
    array()->print(sc);
    os << '(';
    const ExprNodePair* p = firstPair();
    for (uint16_t i = 0; i < dimensionCount(); ++i) {
        if (i > 0) os << ", ";
        if (const ExprNode* lower = p->first()) {
            lower->print(sc);
            os << " To ";
        }
        if (const ExprNode* upper = p->second()) upper->print(sc);
        p = reinterpret_cast<const ExprNodePair*>(p->bytes() + p->size());
    }
    os << ')';
}

void TryBlock::print(SourceControl& sc) const {
    sc.stream() << "Try";
    sc.printBlock(bodyBlock());
    uint32_t previous = bodyBlock();
    for (uint32_t i = 0; i < clauseCount(); ++i) {
        // The Catch line is dead source: it stands on the line where the
        // block before it ends.
        sc.printDS(int64_t(EndLineOf(sc, previous)) + 1);
        const uint32_t handler = clause(i).block;
        sc.printBlock(handler);
        previous = handler;
    }
    sc.advancePos(endLine());
    sc.stream() << "End Try";
}

void ThrowStmt::print(SourceControl& sc) const {
    sc.stream() << "Throw";
    if (const ExprNode* n = name()) {
        sc.stream() << ' ';
        n->print(sc);
    }
}

void WithBlock::print(SourceControl& sc) const {
    sc.stream() << "With ";
    object()->print(sc);
    sc.printBlock(bodyBlock());
    sc.advancePos(EndLineOf(sc, bodyBlock()));
    sc.stream() << "End With";
}

}  // namespace tq
