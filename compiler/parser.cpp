#include "compiler/parser.h"

#include <string>

namespace tq::compiler {

Parser::Parser(std::string_view source, Arena& arena, Diagnostics& diagnostics)
    : src_(source), arena_(arena), diag_(diagnostics), lexer_(source, diagnostics) {
    // The first line is read without loadLine's check for a full error
    // list: nothing could catch Fatal here. The next line read stops.
    lexer_.nextLine(toks_, lineComment_);
}

// ---- tokens -------------------------------------------------------------------

const Token& Parser::peek(size_t ahead) const {
    // Lookahead never leaves the line: past its end, every token is its end.
    const size_t at = i_ + ahead;
    return at < toks_.size() ? toks_[at] : toks_.back();
}

bool Parser::peekIsKw(size_t ahead, Kw k) const {
    const Token& t = peek(ahead);
    return t.kind == Tok::Word && t.kw == k;
}

bool Parser::isEnumWord(const Token& t) {
    return t.kind == Tok::Word && t.kw == Kw::None && t.text.size() == 4 &&
           (t.text[0] | 0x20) == 'e' && (t.text[1] | 0x20) == 'n' && (t.text[2] | 0x20) == 'u' &&
           (t.text[3] | 0x20) == 'm';
}

bool Parser::isNameWord(const Token& t) const {
    return t.kind == Tok::Word && (t.kw == Kw::None || t.kw == Kw::Left);
}

void Parser::loadLine() {
    lexer_.nextLine(toks_, lineComment_);
    i_ = 0;
    if (diag_.full()) throw Fatal{};
}

void Parser::advance() {
    const Token& t = cur();
    if (t.kind == Tok::EndOfFile) return;
    if (t.kind == Tok::EndOfLine) {
        if (lineComment_.present && sink_)
            sink_->push_back(Comment{lineComment_.pos, lineComment_.kind, lineComment_.text});
        loadLine();
        return;
    }
    lastEnd_ = t.offset + t.length;
    ++i_;
}

bool Parser::atStatementEnd() const {
    switch (cur().kind) {
    case Tok::Colon:
    case Tok::EndOfLine:
    case Tok::EndOfFile: return true;
    case Tok::Word: return singleLine_ && cur().kw == Kw::Else;
    default: return false;
    }
}

void Parser::expectStatementEnd() {
    if (atStatementEnd()) return;
    if (is(Tok::Rem))
        fail(cur().pos, "a 'Rem' comment must start a statement: write ': Rem' or use '''");
    fail(cur().pos, "expected the end of the statement, found " + DescribeToken(cur()));
}

void Parser::skipLine() {
    while (!is(Tok::EndOfLine) && !is(Tok::EndOfFile)) ++i_;
}

void Parser::finishLine() {
    if (is(Tok::EndOfLine)) advance();
}

std::string_view Parser::textFrom(uint32_t offset) const {
    if (lastEnd_ <= offset) return {};
    return src_.substr(offset, lastEnd_ - offset);
}

// ---- errors -------------------------------------------------------------------

void Parser::error(SourcePos pos, std::string message) {
    diag_.add(pos, std::move(message));
    if (diag_.full()) throw Fatal{};
}

void Parser::fail(SourcePos pos, std::string message) {
    error(pos, std::move(message));
    throw SyntaxError{};
}

void Parser::failExpected(const std::string& what) {
    fail(cur().pos, "expected " + what + ", found " + DescribeToken(cur()));
}

void Parser::expect(Tok kind, const char* message) {
    if (!is(kind)) fail(cur().pos, message);
    advance();
}

void Parser::expectKw(Kw kw, const char* message) {
    if (!isKw(kw)) fail(cur().pos, message);
    advance();
}

// ---- blocks -------------------------------------------------------------------

Parser::Closer Parser::closerAt() const {
    const Token& t = cur();
    if (t.kind != Tok::Word) return Closer::None;
    switch (t.kw) {
    case Kw::Next: return Closer::Next;
    case Kw::Loop: return Closer::Loop;
    case Kw::Wend: return Closer::Wend;
    case Kw::Else: return Closer::Else;
    case Kw::ElseIf: return Closer::ElseIf;
    case Kw::Case: return Closer::Case;
    case Kw::Catch: return Closer::Catch;
    case Kw::End: {
        const Token& n = peek();
        if (n.kind != Tok::Word) return Closer::None;
        switch (n.kw) {
        case Kw::If: return Closer::EndIf;
        case Kw::Select: return Closer::EndSelect;
        case Kw::With: return Closer::EndWith;
        case Kw::Try: return Closer::EndTry;
        case Kw::Sub: return Closer::EndSub;
        case Kw::Function: return Closer::EndFunction;
        case Kw::Type: return Closer::EndType;
        case Kw::Object: return Closer::EndObject;
        default:
            // "Enum" is a name, not a keyword: it closes an enumeration only here.
            return isEnumWord(n) ? Closer::EndEnum : Closer::None;
        }
    }
    default: return Closer::None;
    }
}

bool Parser::accepts(Construct c, Closer k) {
    switch (c) {
    case Construct::If: return k == Closer::ElseIf || k == Closer::Else || k == Closer::EndIf;
    case Construct::Select: return k == Closer::Case || k == Closer::EndSelect;
    case Construct::Do: return k == Closer::Loop;
    case Construct::While: return k == Closer::Wend;
    case Construct::For: return k == Closer::Next;
    case Construct::With: return k == Closer::EndWith;
    case Construct::Try: return k == Closer::Catch || k == Closer::EndTry;
    case Construct::Sub:
    case Construct::Function: return k == Closer::EndSub || k == Closer::EndFunction;
    case Construct::Object: return k == Closer::EndObject;
    case Construct::Type: return k == Closer::EndType;
    case Construct::Enum: return k == Closer::EndEnum;
    case Construct::Top:
    case Construct::LineIf: return false;
    }
    return false;
}

bool Parser::outerAccepts(Closer k) const {
    // A one-line If is a wall: nothing written on its line closes what
    // was opened on earlier lines.
    for (size_t i = open_.size(); i-- > 0;) {
        if (open_[i].what == Construct::LineIf) return false;
        if (accepts(open_[i].what, k)) return true;
    }
    return false;
}

const char* Parser::closerText(Closer k) {
    switch (k) {
    case Closer::EndIf: return "End If";
    case Closer::EndSelect: return "End Select";
    case Closer::EndWith: return "End With";
    case Closer::EndTry: return "End Try";
    case Closer::EndSub: return "End Sub";
    case Closer::EndFunction: return "End Function";
    case Closer::EndType: return "End Type";
    case Closer::EndObject: return "End Object";
    case Closer::EndEnum: return "End Enum";
    case Closer::Next: return "Next";
    case Closer::Loop: return "Loop";
    case Closer::Wend: return "Wend";
    case Closer::Else: return "Else";
    case Closer::ElseIf: return "ElseIf";
    case Closer::Case: return "Case";
    case Closer::Catch: return "Catch";
    case Closer::None: break;
    }
    return "";
}

const char* Parser::constructText(Construct c) {
    switch (c) {
    case Construct::If:
    case Construct::LineIf: return "If";
    case Construct::Select: return "Select Case";
    case Construct::Do: return "Do";
    case Construct::While: return "While";
    case Construct::For: return "For";
    case Construct::With: return "With";
    case Construct::Try: return "Try";
    case Construct::Sub: return "Sub";
    case Construct::Function: return "Function";
    case Construct::Object: return "Begin Object";
    case Construct::Type: return "Type";
    case Construct::Enum: return "Enum";
    case Construct::Top: break;
    }
    return "";
}

const char* Parser::closingText(Construct c) {
    switch (c) {
    case Construct::If: return "End If";
    case Construct::Select: return "End Select";
    case Construct::Do: return "Loop";
    case Construct::While: return "Wend";
    case Construct::For: return "Next";
    case Construct::With: return "End With";
    case Construct::Try: return "End Try";
    case Construct::Sub: return "End Sub";
    case Construct::Function: return "End Function";
    case Construct::Object: return "End Object";
    case Construct::Type: return "End Type";
    case Construct::Enum: return "End Enum";
    case Construct::Top:
    case Construct::LineIf: break;
    }
    return "";
}

// Called by a construct whose block ended on something other than its own
// closing word: another construct's closing word, the end of the line of a
// one-line If, or the end of the file.
void Parser::reportUnclosed(const Open& open) {
    std::string where;
    if (is(Tok::EndOfFile)) {
        where = "the end of the file";
    } else if (is(Tok::EndOfLine)) {
        where = "the end of the line";
    } else {
        where = std::string("'") + closerText(closerAt()) + "'";
    }
    error(cur().pos, std::string("expected '") + closingText(open.what) + "' to close the '" +
                         constructText(open.what) + "' of line " + std::to_string(open.pos.line) +
                         " before " + where);
    unclosed_ = true;
}

void Parser::reportWithout(Closer k) {
    const char* opener = "";
    switch (k) {
    case Closer::Else:
    case Closer::ElseIf:
    case Closer::EndIf: opener = "If"; break;
    case Closer::Case:
    case Closer::EndSelect: opener = "Select Case"; break;
    case Closer::Catch:
    case Closer::EndTry: opener = "Try"; break;
    case Closer::Next: opener = "For"; break;
    case Closer::Loop: opener = "Do"; break;
    case Closer::Wend: opener = "While"; break;
    case Closer::EndWith: opener = "With"; break;
    case Closer::EndSub: opener = "Sub"; break;
    case Closer::EndFunction: opener = "Function"; break;
    case Closer::EndType: opener = "Type"; break;
    case Closer::EndObject: opener = "Begin Object"; break;
    case Closer::EndEnum: opener = "Enum"; break;
    case Closer::None: break;
    }
    error(cur().pos, std::string("'") + closerText(k) + "' without '" + opener + "'");
}

void Parser::consumeCloser(Closer k) {
    advance();
    if (k >= Closer::EndIf && k <= Closer::EndEnum) advance();
}

Block* Parser::emptyBlock() { return arena_.make<Block>(); }

Block* Parser::parseBlock() {
    DepthScope depth(blockDepth_);
    if (blockDepth_ > kMaxBlockDepth) {
        error(cur().pos, "blocks are nested too deeply (more than " +
                             std::to_string(kMaxBlockDepth) + " levels)");
        throw Fatal{};
    }
    std::vector<Stmt*> stmts;
    for (;;) {
        if (is(Tok::Colon)) {
            advance();
            continue;
        }
        if (is(Tok::EndOfLine)) {
            if (singleLine_) break;
            advance();
            continue;
        }
        if (is(Tok::EndOfFile)) break;
        if (singleLine_ && isKw(Kw::Else)) break;
        if (const Closer k = closerAt(); k != Closer::None) {
            if (!open_.empty() && accepts(open_.back().what, k)) break;
            if (outerAccepts(k)) break;
            reportWithout(k);
            skipLine();
            continue;
        }
        try {
            unclosed_ = false;
            Stmt* s = parseStatement();
            if (s) stmts.push_back(s);
            if (unclosed_) {
                unclosed_ = false;
                continue;
            }
            expectStatementEnd();
        } catch (SyntaxError&) {
            unclosed_ = false;
            skipLine();
        }
    }
    Block* b = arena_.make<Block>();
    b->stmts = arena_.list(stmts);
    return b;
}

bool Parser::lineEndsWithThen() const {
    const size_t n = toks_.size();
    return n >= 2 && toks_[n - 2].kind == Tok::Word && toks_[n - 2].kw == Kw::Then;
}

// ---- entry points -----------------------------------------------------------

StatementList* Parser::parseStatementList() {
    auto* list = arena_.make<StatementList>();
    std::vector<Comment> comments;
    try {
        SinkScope sink(*this, &comments);
        OpenScope top(*this, Construct::Top, {1, 1});
        list->body = parseBlock();
    } catch (Fatal&) {
    }
    list->comments = arena_.list(comments);
    if (!list->body) list->body = emptyBlock();
    return list;
}

Expr* Parser::parseWholeExpression(std::vector<Comment>& outer) {
    SinkScope sink(*this, &outer);
    try {
        while (is(Tok::EndOfLine)) advance();
        if (is(Tok::EndOfFile)) fail(cur().pos, "expected an expression");
        Expr* e = parseExpr(0);
        if (!is(Tok::EndOfLine) && !is(Tok::EndOfFile))
            fail(cur().pos, "expected the end of the expression, found " + DescribeToken(cur()));
        while (is(Tok::EndOfLine)) advance();
        if (!is(Tok::EndOfFile))
            fail(cur().pos, "expected one expression, found more on line " +
                                std::to_string(cur().pos.line));
        return e;
    } catch (SyntaxError&) {
    } catch (Fatal&) {
    }
    return nullptr;
}

Procedure* Parser::parseOneProcedure(std::vector<Comment>& outer) {
    SinkScope sink(*this, &outer);
    Procedure* proc = nullptr;
    try {
        while (is(Tok::EndOfLine) || is(Tok::Colon)) advance();
        if (isKw(Kw::Sub) || isKw(Kw::Function) ||
            (isKw(Kw::Static) && (peekIsKw(1, Kw::Sub) || peekIsKw(1, Kw::Function)))) {
            proc = parseProcedure();
        } else {
            error(cur().pos, "expected 'Sub' or 'Function', found " + DescribeToken(cur()));
            return nullptr;
        }
        while (is(Tok::EndOfLine) || is(Tok::Colon)) advance();
        if (!is(Tok::EndOfFile))
            error(cur().pos, "expected the end of the text after the procedure, found " +
                                 DescribeToken(cur()));
    } catch (Fatal&) {
    }
    return proc;
}

}  // namespace tq::compiler
