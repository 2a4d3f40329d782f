// Statements of procedure bodies and of immediate mode.
#include <string>

#include "compiler/parser.h"

namespace tq::compiler {

namespace {

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

// Whether "Next v" names the loop's own variable: the same names, pieces
// and arguments, without regard to case.
bool SameVariable(const Expr* a, const Expr* b) {
    if (!a || !b || a->kind != b->kind) return false;
    switch (a->kind) {
    case ExprKind::Name: {
        auto* x = static_cast<const NameExpr*>(a);
        auto* y = static_cast<const NameExpr*>(b);
        return x->me == y->me && x->dotted == y->dotted && SameWord(x->name, y->name);
    }
    case ExprKind::Member: {
        auto* x = static_cast<const MemberExpr*>(a);
        auto* y = static_cast<const MemberExpr*>(b);
        if (x->pieces.size() != y->pieces.size()) return false;
        for (uint32_t i = 0; i < x->pieces.size(); ++i)
            if (!SameVariable(x->pieces[i], y->pieces[i])) return false;
        return true;
    }
    case ExprKind::Call: {
        auto* x = static_cast<const CallExpr*>(a);
        auto* y = static_cast<const CallExpr*>(b);
        return x->me == y->me && x->dotted == y->dotted && SameWord(x->name, y->name);
    }
    default: return false;
    }
}

}  // namespace

Stmt* Parser::parseStatement() {
    const Token& t = cur();
    const SourcePos pos = t.pos;
    switch (t.kind) {
    case Tok::Rem:
        advance();
        return nullptr;
    case Tok::Question: {
        advance();
        return parsePrint(nullptr, false, pos);
    }
    case Tok::Dot: return parseChainStatement();
    case Tok::Word: break;
    default: failExpected("a statement");
    }
    switch (t.kw) {
    case Kw::None:
    case Kw::Me:
    case Kw::Left: return parseChainStatement();
    case Kw::Dim: return parseDecl(DeclKind::Dim);
    case Kw::Static:
        if (peekIsKw(1, Kw::Sub) || peekIsKw(1, Kw::Function))
            fail(pos, "a procedure cannot be declared inside a procedure or a statement list");
        return parseDecl(DeclKind::Static);
    case Kw::Const: return parseDecl(DeclKind::Const);
    case Kw::Let:
    case Kw::Set: return parseLetSet();
    case Kw::Exit: return parseExit();
    case Kw::Stop: {
        advance();
        return arena_.make<StopStmt>(pos);
    }
    case Kw::If: return parseIf();
    case Kw::Select: return parseSelect();
    case Kw::Do: return parseDo();
    case Kw::While: return parseWhile();
    case Kw::For: return parseFor();
    case Kw::With: return parseWith();
    case Kw::Try: return parseTry();
    case Kw::Throw: return parseThrow();
    case Kw::Print: {
        advance();
        if (is(Tok::Hash)) {
            advance();
            Expr* target = parseExpr(0);
            expect(Tok::Comma, "expected ',' after the target of 'Print #'");
            return parsePrint(target, true, pos);
        }
        return parsePrint(nullptr, false, pos);
    }
    case Kw::Randomize: {
        advance();
        auto* s = arena_.make<RandomizeStmt>(pos);
        if (!atStatementEnd()) s->seed = parseExpr(0);
        return s;
    }
    case Kw::ReDim: return parseRedim();
    case Kw::Call: {
        advance();
        return parseCallStatement(CallForm::Call, pos);
    }
    case Kw::SendEvent: {
        advance();
        return parseCallStatement(CallForm::SendEvent, pos);
    }
    case Kw::Sub:
    case Kw::Function:
        fail(pos, "a procedure cannot be declared inside a procedure or a statement list");
    case Kw::End:
        fail(pos, "expected 'If', 'Select', 'With', 'Try', 'Sub' or 'Function' after 'End'");
    default:
        if (peek().kind == Tok::Eq)
            fail(pos, "'" + std::string(t.text) + "' is a keyword and cannot be used as a name");
        fail(pos, "expected a statement, found the keyword '" + std::string(t.text) + "'");
    }
}

// ---- assignments and calls -------------------------------------------------

Stmt* Parser::assignment(SourcePos pos, uint8_t form, Expr* target) {
    if (is(Tok::DeepAssign)) {
        form |= kAssignDeep;
    } else if (!is(Tok::Eq)) {
        failExpected("'=' or ':=' after the target of the assignment");
    }
    advance();
    auto* s = arena_.make<AssignStmt>(pos);
    s->form = form;
    s->target = target;
    s->value = parseExpr(0);
    return s;
}

Stmt* Parser::parseLetSet() {
    const SourcePos pos = cur().pos;
    const uint8_t form = isKw(Kw::Let) ? kAssignLet : kAssignSet;
    advance();
    if (!is(Tok::Dot) && !isNameWord(cur()) && !isKw(Kw::Me))
        failExpected(std::string("a variable after '") + (form == kAssignLet ? "Let" : "Set") + "'");
    Expr* target = parseChain(false);
    return assignment(pos, form, target);
}

// The arguments of a call written without parentheses, "Foo a, b", added to
// the chain's last piece.
Expr* Parser::bareCallArguments(Expr* chain) {
    Expr** last = &chain;
    if (chain->kind == ExprKind::Member) {
        auto* m = static_cast<MemberExpr*>(chain);
        last = &m->pieces.back();
    }
    if ((*last)->kind != ExprKind::Name || static_cast<NameExpr*>(*last)->emptyParens)
        failExpected("the end of the statement");
    auto* name = static_cast<NameExpr*>(*last);
    const List<Expr*> args = parseArgumentList();
    auto* c = arena_.make<CallExpr>(name->pos);
    c->name = name->name;
    c->suffix = name->suffix;
    c->me = name->me;
    c->dotted = name->dotted;
    c->parenArgs = false;
    c->args = args;
    uint32_t height = 0;
    for (Expr* a : args) height = std::max<uint32_t>(height, a->height);
    *last = finish(c, height);
    if (chain->kind == ExprKind::Member) finish(chain, (*last)->height);
    return chain;
}

Stmt* Parser::parseChainStatement() {
    const SourcePos pos = cur().pos;
    if (is(Tok::Dot) && peekIsKw(1, Kw::Print))
        fail(pos, "'.Print' needs the object to print on: 'obj.Print'");
    Expr* chain = parseChain(true);
    if (is(Tok::Dot) && peekIsKw(1, Kw::Print)) {
        advance();
        advance();
        return parsePrint(chain, false, pos);
    }
    if (is(Tok::Eq) || is(Tok::DeepAssign)) return assignment(pos, 0, chain);
    auto* s = arena_.make<CallStmt>(pos);
    s->form = CallForm::Bare;
    s->call = atStatementEnd() ? chain : bareCallArguments(chain);
    return s;
}

Stmt* Parser::parseCallStatement(CallForm form, SourcePos pos) {
    if (!is(Tok::Dot) && !isNameWord(cur()) && !isKw(Kw::Me))
        failExpected(form == CallForm::Call ? "the name of a procedure after 'Call'"
                                            : "the name of an event after 'SendEvent'");
    Expr* chain = parseChain(true);
    auto* s = arena_.make<CallStmt>(pos);
    s->form = form;
    s->call = atStatementEnd() ? chain : bareCallArguments(chain);
    return s;
}

// ---- simple statements -------------------------------------------------------

Stmt* Parser::parseExit() {
    auto* s = arena_.make<ExitStmt>(cur().pos);
    advance();
    if (atStatementEnd()) return s;
    switch (cur().kind == Tok::Word ? cur().kw : Kw::None) {
    case Kw::Function: s->what = ExitKind::Function; break;
    case Kw::Sub: s->what = ExitKind::Sub; break;
    case Kw::For: s->what = ExitKind::For; break;
    case Kw::Do: s->what = ExitKind::Do; break;
    default: failExpected("'Sub', 'Function', 'For', 'Do' or the end of the statement after 'Exit'");
    }
    advance();
    return s;
}

Stmt* Parser::parseThrow() {
    auto* s = arena_.make<ThrowStmt>(cur().pos);
    advance();
    if (atStatementEnd()) return s;
    if (!isNameWord(cur())) failExpected("the name of an exception after 'Throw'");
    if (cur().suffix) fail(cur().pos, "an exception's name takes no type suffix");
    Expr* e = parseChain(true);
    if (e->kind == ExprKind::Member) fail(e->pos, "expected the name of an exception after 'Throw'");
    if (!atStatementEnd()) e = bareCallArguments(e);
    s->exception = e;
    return s;
}

Stmt* Parser::parseRedim() {
    auto* s = arena_.make<RedimStmt>(cur().pos);
    advance();
    if (isKw(Kw::Preserve)) {
        s->preserve = true;
        advance();
    }
    const Token& name = expectName("array");
    auto* n = arena_.make<NameExpr>(name.pos);
    n->name = name.text;
    n->suffix = name.suffix;
    s->array = n;
    advance();
    expect(Tok::LParen, "expected '(' and the new bounds after the array's name in 'ReDim'");
    s->dims = parseBounds();
    expect(Tok::RParen, "expected ')' after the bounds of 'ReDim'");
    if (is(Tok::Comma)) fail(cur().pos, "'ReDim' resizes one array: write one 'ReDim' per array");
    if (isKw(Kw::As)) fail(cur().pos, "'ReDim' keeps the array's type: leave out 'As'");
    return s;
}

Stmt* Parser::parsePrint(Expr* target, bool hash, SourcePos pos) {
    auto* s = arena_.make<PrintStmt>(pos);
    s->target = target;
    s->hashTarget = hash;
    std::vector<PrintItem> items;
    bool pending = false;  // a separator was read and waits for its item
    PrintSep sep = PrintSep::None;
    auto separator = [&] { return is(Tok::Comma) ? PrintSep::Comma : PrintSep::Semicolon; };
    while (!atStatementEnd()) {
        if (is(Tok::Comma) || is(Tok::Semicolon)) {
            if (pending) {
                // "Print a,,b": the item between two separators is empty text.
                auto* empty = arena_.make<StringExpr>(cur().pos);
                empty->text = arena_.text("");
                items.push_back({sep, PrintItemKind::Expr, empty});
            }
            sep = separator();
            pending = true;
            advance();
            continue;
        }
        if (!items.empty() && !pending)
            failExpected("',' or ';' between the items of 'Print'");
        PrintItem item{pending ? sep : PrintSep::None, PrintItemKind::Expr, nullptr};
        if ((isKw(Kw::Spc) || isKw(Kw::Tab)) && peek().kind == Tok::LParen) {
            item.kind = isKw(Kw::Spc) ? PrintItemKind::Spc : PrintItemKind::Tab;
            advance();
            advance();
            item.expr = parseExpr(0);
            expect(Tok::RParen, item.kind == PrintItemKind::Spc ? "expected ')' after the argument of 'Spc'"
                                                                : "expected ')' after the argument of 'Tab'");
        } else {
            item.expr = parseExpr(0);
        }
        items.push_back(item);
        pending = false;
        sep = PrintSep::None;
    }
    s->last = pending ? sep : PrintSep::None;
    s->items = arena_.list(items);
    return s;
}

// ---- compound statements -----------------------------------------------------

Stmt* Parser::parseIf() {
    auto* s = arena_.make<IfStmt>(cur().pos);
    const SourcePos pos = cur().pos;
    advance();
    Expr* cond = nullptr;
    bool block = false;
    try {
        cond = parseExpr(0);
        if (!isKw(Kw::Then)) {
            // "If x > 1" alone on its line is a block If that lacks its Then.
            if (singleLine_ || !is(Tok::EndOfLine))
                fail(cur().pos, "expected 'Then' after the condition of 'If'");
            error(cur().pos, "expected 'Then' after the condition of 'If'");
        } else {
            advance();
        }
        block = !singleLine_ && is(Tok::EndOfLine);
    } catch (SyntaxError&) {
        // A block If whose condition is wrong still owns its lines up to End If.
        if (singleLine_ || !lineEndsWithThen()) throw;
        skipLine();
        block = true;
    }
    std::vector<IfClause> clauses;
    if (!block) {
        s->singleLine = true;
        OpenScope open(*this, Construct::LineIf, pos);
        const bool saved = singleLine_;
        singleLine_ = true;
        try {
            Block* then = parseBlock();
            clauses.push_back({pos, cond, then});
            if (isKw(Kw::Else)) {
                s->elseLine = cur().pos.line;
                advance();
                s->elseBody = parseBlock();
            }
        } catch (...) {
            singleLine_ = saved;
            throw;
        }
        singleLine_ = saved;
        s->clauses = arena_.list(clauses);
        return s;
    }
    OpenScope open(*this, Construct::If, pos);
    Block* body = parseBlock();
    clauses.push_back({pos, cond, body});
    Block* last = body;
    for (;;) {
        const Closer k = closerAt();
        if (k == Closer::ElseIf && !s->elseBody) {
            const SourcePos at = cur().pos;
            last->endLine = at.line;
            advance();
            Expr* c = nullptr;
            try {
                c = parseExpr(0);
                if (!isKw(Kw::Then)) fail(cur().pos, "expected 'Then' after the condition of 'ElseIf'");
                advance();
            } catch (SyntaxError&) {
                skipLine();
            }
            last = parseBlock();
            clauses.push_back({at, c, last});
        } else if (k == Closer::Else && !s->elseBody) {
            last->endLine = cur().pos.line;
            s->elseLine = cur().pos.line;
            advance();
            last = s->elseBody = parseBlock();
        } else if (k == Closer::ElseIf || k == Closer::Else) {
            error(cur().pos, std::string("'") + closerText(k) + "' after the 'Else' of line " +
                                 std::to_string(s->elseLine));
            skipLine();
            parseBlock();
        } else if (k == Closer::EndIf) {
            last->endLine = s->endLine = cur().pos.line;
            consumeCloser(k);
            break;
        } else {
            reportUnclosed(open_.back());
            break;
        }
    }
    s->clauses = arena_.list(clauses);
    return s;
}

CaseTestItem Parser::parseCaseTest() {
    if (isKw(Kw::Is)) {
        advance();
        CaseTest test;
        switch (cur().kind) {
        case Tok::Eq:
        case Tok::EqEq: test = CaseTest::IsEq; break;
        case Tok::Ne: test = CaseTest::IsNe; break;
        case Tok::Lt: test = CaseTest::IsLt; break;
        case Tok::Gt: test = CaseTest::IsGt; break;
        case Tok::Le: test = CaseTest::IsLe; break;
        case Tok::Ge: test = CaseTest::IsGe; break;
        default: failExpected("a comparison ('=', '<>', '<', '>', '<=' or '>=') after 'Is'");
        }
        advance();
        return {test, parseExpr(0), nullptr};
    }
    Expr* first = parseExpr(0);
    if (isKw(Kw::To)) {
        advance();
        return {CaseTest::Range, first, parseExpr(0)};
    }
    return {CaseTest::Value, first, nullptr};
}

Stmt* Parser::parseSelect() {
    auto* s = arena_.make<SelectStmt>(cur().pos);
    const SourcePos pos = cur().pos;
    advance();
    try {
        expectKw(Kw::Case, "expected 'Case' after 'Select'");
        s->selector = parseExpr(0);
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    OpenScope open(*this, Construct::Select, pos);
    Block* before = parseBlock();
    if (!before->stmts.empty())
        error(before->stmts[0]->pos, "expected 'Case' before the first statement of 'Select Case'");
    std::vector<CaseClause> cases;
    uint32_t records = 0;
    Block* last = before;
    for (;;) {
        const Closer k = closerAt();
        if (k == Closer::Case) {
            const SourcePos at = cur().pos;
            last->endLine = at.line;
            advance();
            if (isKw(Kw::Else)) {
                if (s->elseBody)
                    error(at, "a second 'Case Else' in one 'Select Case' (the first is on line " +
                                  std::to_string(s->elseLine) + ")");
                advance();
                s->elseLine = at.line;
                try {
                    expectStatementEnd();
                } catch (SyntaxError&) {
                    skipLine();
                }
                last = s->elseBody = parseBlock();
                continue;
            }
            if (s->elseBody) error(at, "'Case' after 'Case Else'");
            std::vector<CaseTestItem> tests;
            try {
                for (;;) {
                    tests.push_back(parseCaseTest());
                    if (++records > 65535) fail(at, "too many Case tests in one 'Select Case' (at most 65535)");
                    if (!is(Tok::Comma)) break;
                    advance();
                }
                expectStatementEnd();
            } catch (SyntaxError&) {
                skipLine();
            }
            last = parseBlock();
            cases.push_back({at, arena_.list(tests), last});
        } else if (k == Closer::EndSelect) {
            last->endLine = s->endLine = cur().pos.line;
            consumeCloser(k);
            break;
        } else {
            reportUnclosed(open_.back());
            break;
        }
    }
    s->cases = arena_.list(cases);
    return s;
}

Stmt* Parser::parseDo() {
    auto* s = arena_.make<DoStmt>(cur().pos);
    const SourcePos pos = cur().pos;
    advance();
    try {
        if (isKw(Kw::While) || isKw(Kw::Until)) {
            s->form = isKw(Kw::While) ? LoopForm::DoWhile : LoopForm::DoUntil;
            advance();
            s->cond = parseExpr(0);
        }
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    OpenScope open(*this, Construct::Do, pos);
    s->body = parseBlock();
    if (closerAt() != Closer::Loop) {
        reportUnclosed(open_.back());
        return s;
    }
    s->body->endLine = cur().pos.line;
    advance();
    if (isKw(Kw::While) || isKw(Kw::Until)) {
        const SourcePos at = cur().pos;
        const bool isWhile = isKw(Kw::While);
        advance();
        Expr* cond = parseExpr(0);
        if (s->form != LoopForm::Forever)
            fail(at, "a 'Do' loop tests its condition at the top or at the bottom, not both");
        s->form = isWhile ? LoopForm::LoopWhile : LoopForm::LoopUntil;
        s->cond = cond;
    }
    return s;
}

Stmt* Parser::parseWhile() {
    auto* s = arena_.make<DoStmt>(cur().pos);
    const SourcePos pos = cur().pos;
    s->form = LoopForm::WhileWend;
    advance();
    try {
        s->cond = parseExpr(0);
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    OpenScope open(*this, Construct::While, pos);
    s->body = parseBlock();
    if (closerAt() != Closer::Wend) {
        reportUnclosed(open_.back());
        return s;
    }
    s->body->endLine = cur().pos.line;
    advance();
    return s;
}

Expr* Parser::parseLoopVariable(const char* context) {
    if (!is(Tok::Dot) && !isNameWord(cur()) && !isKw(Kw::Me)) {
        if (cur().kind == Tok::Word && cur().kw != Kw::None)
            fail(cur().pos, "'" + std::string(cur().text) + "' is a keyword and cannot be used as a name");
        failExpected(std::string("the loop variable after '") + context + "'");
    }
    return parseChain(false);
}

Stmt* Parser::parseFor() {
    auto* s = arena_.make<ForStmt>(cur().pos);
    const SourcePos pos = cur().pos;
    advance();
    try {
        if (isKw(Kw::Each)) {
            advance();
            s->var = parseLoopVariable("For Each");
            if (isKw(Kw::In)) {
                s->each = ForKind::In;
            } else if (isKw(Kw::EmbeddedIn)) {
                s->each = ForKind::EmbeddedIn;
            } else if (isKw(Kw::CopiedFrom)) {
                s->each = ForKind::CopiedFrom;
            } else {
                failExpected("'In', 'EmbeddedIn' or 'CopiedFrom' after the variable of 'For Each'");
            }
            advance();
            s->start = parseExpr(0);
        } else {
            s->var = parseLoopVariable("For");
            expect(Tok::Eq, "expected '=' after the variable of 'For'");
            s->start = parseExpr(0);
            expectKw(Kw::To, "expected 'To' after the start value of 'For'");
            s->end = parseExpr(0);
            if (isKw(Kw::Step)) {
                advance();
                s->step = parseExpr(0);
            }
        }
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    OpenScope open(*this, Construct::For, pos);
    s->body = parseBlock();
    if (closerAt() != Closer::Next) {
        reportUnclosed(open_.back());
        return s;
    }
    s->body->endLine = cur().pos.line;
    advance();
    if (!atStatementEnd()) {
        const SourcePos at = cur().pos;
        Expr* named = parseLoopVariable("Next");
        if (s->var && !SameVariable(named, s->var))
            error(at, "'Next' names another variable than the 'For' of line " + std::to_string(pos.line));
        s->nextNamesVar = true;
        if (is(Tok::Comma))
            fail(cur().pos, "'Next' closes one loop: write 'Next j : Next i'");
    }
    return s;
}

Stmt* Parser::parseWith() {
    auto* s = arena_.make<WithStmt>(cur().pos);
    const SourcePos pos = cur().pos;
    advance();
    try {
        s->object = parseExpr(0);
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    OpenScope open(*this, Construct::With, pos);
    s->body = parseBlock();
    if (closerAt() != Closer::EndWith) {
        reportUnclosed(open_.back());
        return s;
    }
    s->body->endLine = cur().pos.line;
    consumeCloser(Closer::EndWith);
    return s;
}

Stmt* Parser::parseTry() {
    auto* s = arena_.make<TryStmt>(cur().pos);
    const SourcePos pos = cur().pos;
    advance();
    try {
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    OpenScope open(*this, Construct::Try, pos);
    s->body = parseBlock();
    Block* last = s->body;
    std::vector<CatchClause> catches;
    for (;;) {
        const Closer k = closerAt();
        if (k == Closer::Catch) {
            CatchClause c{};
            c.pos = cur().pos;
            last->endLine = c.pos.line;
            const uint32_t start = cur().offset;
            advance();
            try {
                if (!atStatementEnd()) {
                    const Token& name = expectName("exception");
                    if (name.suffix) fail(name.pos, "an exception's name takes no type suffix");
                    c.name = name.text;
                    advance();
                    if (is(Tok::LParen)) {
                        advance();
                        c.hasParams = true;
                        if (!is(Tok::RParen)) c.params = parseParams();
                        expect(Tok::RParen, "expected ')' after the parameters of 'Catch'");
                    }
                }
                c.text = textFrom(start);
                expectStatementEnd();
            } catch (SyntaxError&) {
                c.text = textFrom(start);
                skipLine();
            }
            last = c.body = parseBlock();
            catches.push_back(c);
        } else if (k == Closer::EndTry) {
            if (catches.empty())
                error(cur().pos, "expected 'Catch' before 'End Try': a 'Try' without 'Catch' catches nothing");
            last->endLine = s->endLine = cur().pos.line;
            consumeCloser(k);
            break;
        } else {
            reportUnclosed(open_.back());
            break;
        }
    }
    s->catches = arena_.list(catches);
    return s;
}

}  // namespace tq::compiler
