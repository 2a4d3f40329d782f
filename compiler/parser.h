// The parser: a hand-written recursive descent over the lexer's lines.
//
// One Parser reads one source text into one arena; it keeps no state outside
// itself, so any number of parsers may run at once.
//
// Grammar in brief (docs/language.md has it in full):
//
//   module     := { Enum ... End Enum | Begin Object ... End Object }
//   object     := { field | Event | Declare | .Field = value | procedure
//                 | Type Name [From Proto] ... End Type }
//   procedure  := [Static] (Sub | Function) header block (End Sub | End Function)
//   block      := { statement (":" | end of line) }
//   expression := Pratt parsing over the binding powers below
//
// Statements are separated by ":" or a line end; a compound statement's
// closing word (Next, Loop, End If...) may stand anywhere a statement may,
// so "For i = 1 To 3 : x = i : Next" reads back what the printer writes.
// Only the one-line If and the comments are bound to lines.
//
// Error recovery: a mistake inside a statement records an error and throws
// SyntaxError; the block that was reading the statement skips the rest of
// the line and goes on. A compound statement whose header was wrong still
// reads its body, so its closing word is not reported again. A closing word
// that belongs to an enclosing construct ends the inner ones, each reported
// as not closed; one that belongs to nothing open is reported and skipped.
//
// Limits, so that no input can exhaust the stack or run for ever: at most
// kMaxBlockDepth nested blocks (beyond, parsing stops), kMaxExprDepth nested
// parentheses, calls and prefix operators, and expression trees at most
// kMaxExprHeight nodes high (beyond either, the statement is dropped).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "compiler/arena.h"
#include "compiler/ast.h"
#include "compiler/diag.h"
#include "compiler/lexer.h"

namespace tq::compiler {

inline constexpr uint32_t kMaxBlockDepth = 128;
inline constexpr uint32_t kMaxExprDepth = 256;
inline constexpr uint32_t kMaxExprHeight = 1000;

class Parser {
public:
    Parser(std::string_view source, Arena& arena, Diagnostics& diagnostics);

    Module* parseModule();
    StatementList* parseStatementList();
    Expr* parseWholeExpression(std::vector<Comment>& outer);
    Procedure* parseOneProcedure(std::vector<Comment>& outer);

private:
    struct SyntaxError {};  // the statement is dropped; already reported
    struct Fatal {};        // parsing stops; already reported

    enum class Construct : uint8_t {
        Top, LineIf, If, Select, Do, While, For, With, Try, Sub, Function, Object, Type, Enum,
    };
    enum class Closer : uint8_t {
        None, EndIf, EndSelect, EndWith, EndTry, EndSub, EndFunction, EndType, EndObject,
        EndEnum, Next, Loop, Wend, Else, ElseIf, Case, Catch,
    };
    struct Open {
        Construct what;
        SourcePos pos;
    };
    class OpenScope;
    class DepthScope;
    class SinkScope;

    // ---- tokens (parser.cpp)
    const Token& cur() const { return toks_[i_]; }
    const Token& peek(size_t ahead = 1) const;
    bool is(Tok k) const { return cur().kind == k; }
    bool isKw(Kw k) const { return cur().kind == Tok::Word && cur().kw == k; }
    bool peekIsKw(size_t ahead, Kw k) const;
    bool isNameWord(const Token& t) const;
    static bool isEnumWord(const Token& t);
    void advance();
    void loadLine();
    bool atStatementEnd() const;
    void expectStatementEnd();
    void skipLine();
    void finishLine();
    std::string_view textFrom(uint32_t offset) const;

    // ---- errors
    void error(SourcePos pos, std::string message);
    [[noreturn]] void fail(SourcePos pos, std::string message);
    [[noreturn]] void failExpected(const std::string& what);
    void expect(Tok kind, const char* message);
    void expectKw(Kw kw, const char* message);

    // ---- blocks
    Closer closerAt() const;
    static bool accepts(Construct c, Closer k);
    bool outerAccepts(Closer k) const;
    static const char* closerText(Closer k);
    static const char* constructText(Construct c);
    static const char* closingText(Construct c);
    void reportUnclosed(const Open& open);
    void reportWithout(Closer k);
    void consumeCloser(Closer k);
    Block* parseBlock();
    Block* emptyBlock();
    bool lineEndsWithThen() const;

    // ---- statements (parsestmt.cpp)
    Stmt* parseStatement();
    Stmt* parseIf();
    Stmt* parseSelect();
    Stmt* parseDo();
    Stmt* parseWhile();
    Stmt* parseFor();
    Stmt* parseWith();
    Stmt* parseTry();
    Stmt* parseThrow();
    Stmt* parseExit();
    Stmt* parsePrint(Expr* target, bool hash, SourcePos pos);
    Stmt* parseRedim();
    Stmt* parseCallStatement(CallForm form, SourcePos pos);
    Stmt* parseChainStatement();
    Stmt* parseLetSet();
    Stmt* assignment(SourcePos pos, uint8_t form, Expr* target);
    Expr* parseLoopVariable(const char* context);
    CaseTestItem parseCaseTest();
    Expr* bareCallArguments(Expr* chain);

    // ---- declarations (parsedecl.cpp)
    DeclStmt* parseDecl(DeclKind kind);
    Declarator parseDeclarator(DeclKind kind);
    List<Bound> parseBounds();
    TypeRef parseTypeAfterAs(bool allowNew);
    List<Param> parseParams();
    Param parseParam();
    const Token& expectName(const char* what);
    Procedure* parseProcedure();

    // ---- text modules (parsemod.cpp)
    EnumDecl* parseEnum();
    ObjectDecl* parseObject(bool embedded);
    bool parseMember(std::vector<ObjectMember>& members);
    EventDecl* parseEvent();
    DeclareDecl* parseDeclare();
    InitialValue* parseInitialValue();

    // ---- expressions (parsexpr.cpp)
    Expr* parseExpr(int minPower = 0);
    Expr* parsePrefix();
    Expr* parsePrimary();
    Expr* parseChain(bool statementStart);
    Expr* parsePiece(bool statementStart, bool first);
    bool parenBelongsToChain() const;
    // At a '.': white space before it and none after, as in "Show .A": the
    // dot starts a With member, not a member of the name before it.
    bool startsWithMember() const;
    List<Expr*> parseArgumentList();
    Expr* parseIntrinsic();
    Expr* number(const Token& t, bool negate);
    Expr* finish(Expr* e, uint32_t childHeight);

    std::string_view src_;
    Arena& arena_;
    Diagnostics& diag_;
    Lexer lexer_;
    std::vector<Token> toks_;
    size_t i_ = 0;
    LineComment lineComment_;
    std::vector<Comment>* sink_ = nullptr;
    uint32_t lastEnd_ = 0;
    std::vector<Open> open_;
    uint32_t blockDepth_ = 0;
    uint32_t exprDepth_ = 0;
    bool singleLine_ = false;
    bool unclosed_ = false;  // the last compound statement ended without its closing word
};

// Pushes a construct on the stack of open ones for as long as it is read.
class Parser::OpenScope {
public:
    OpenScope(Parser& p, Construct c, SourcePos pos) : p_(p) { p_.open_.push_back({c, pos}); }
    ~OpenScope() { p_.open_.pop_back(); }
    OpenScope(const OpenScope&) = delete;
    OpenScope& operator=(const OpenScope&) = delete;

private:
    Parser& p_;
};

// Counts one level of nesting against a limit.
class Parser::DepthScope {
public:
    DepthScope(uint32_t& depth) : depth_(depth) { ++depth_; }
    ~DepthScope() { --depth_; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;

private:
    uint32_t& depth_;
};

// Sends the comments of the lines read meanwhile to another list.
class Parser::SinkScope {
public:
    SinkScope(Parser& p, std::vector<Comment>* sink) : p_(p), saved_(p.sink_) { p_.sink_ = sink; }
    ~SinkScope() { p_.sink_ = saved_; }
    SinkScope(const SinkScope&) = delete;
    SinkScope& operator=(const SinkScope&) = delete;

private:
    Parser& p_;
    std::vector<Comment>* saved_;
};

}  // namespace tq::compiler
