// The syntax tree: what the parser makes of a text module, a procedure, a
// statement list or an expression, before any node stream is built.
//
// The tree keeps everything the code generator needs to build the store's
// nodes and a procedure's dead source, and nothing it does not: every
// statement has its position (statements that share a line print joined by
// " : "), every block the line that closes it (the line of its Next, Loop,
// End If, ElseIf, Case, Catch...; 0 when it has none, as in a one-line If),
// every line the nodes cannot print (a procedure's header, a declaration, a
// Catch line) its text as written without its comment, and every comment
// its own entry in the comment list of the procedure, object, enumeration
// or module it stands in.
//
// Numbering follows the store's nodes wherever there is one to follow:
// BinaryOp is BinOpType (plus Is, which is stored as "="), the Print
// separators, the Case tests, the loop forms, the For kinds, the exit kinds
// and the assignment forms carry the numbers their nodes store, and a type
// is an IdType code. So the code generator mostly copies.
//
// Ownership: every node lives in the arena of the SyntaxTree that made it
// (parse.h); names and comment texts are views into the tree's copy of the
// source; decoded string literals are arena texts ending in a NUL. A tree
// that came with errors may lack parts (null expressions or blocks) where
// the errors stood; only a tree without errors is complete.
#pragma once

#include <cstdint>
#include <string_view>

#include "compiler/arena.h"
#include "compiler/diag.h"
#include "compiler/lexer.h"

namespace tq::compiler {

// A type code as the store numbers them (IdType), or a class or enumeration
// named by the program.
enum class TypeKind : uint8_t {
    None = 0,
    Integer = 1,
    Long = 2,
    Single = 3,
    Double = 4,
    Currency = 5,
    String = 6,
    Object = 7,
    Variant = 9,
    Named = 31,  // a prototype or enumeration name: name says which
};

// "As T", "As New T", "As Strictly T"; kind None when there is no As.
struct TypeRef {
    TypeKind kind = TypeKind::None;
    bool isNew = false;
    bool strictly = false;
    std::string_view name;  // for Named
    SourcePos pos;
};

// ---- expressions ----------------------------------------------------------

enum class ExprKind : uint8_t {
    Name,       // Sid: x, x%, .x, Me, x() ; True and False are Bool
    Call,       // Cid: x(a, b), x a, b (a call statement), Me(a)
    Member,     // Mid: a.b(1).c
    Integer,    // LongConstant
    Double,     // Constant<double>
    String,     // StringConstant
    Nothing,    // NullObjConstant
    Bool,       // Sid 65535 (True) / 65534 (False)
    Binary,     // BinaryOp
    Unary,      // UnaryOp
    Intrinsic,  // IntrMath, IntrString, IntrBound, IntrColor, IntrIIf
};

struct Expr {
    ExprKind kind;
    bool parenthesized = false;  // written inside "(" ")": the node's flag 1
    uint16_t height = 1;         // levels of nodes below and including this one
    SourcePos pos;

    explicit Expr(ExprKind k, SourcePos p) : kind(k), pos(p) {}
};

struct NameExpr : Expr {
    std::string_view name;   // empty for Me
    uint8_t suffix = 0;      // IdType code of the suffix, 0 none
    bool me = false;
    bool dotted = false;     // written ".x" inside With
    bool emptyParens = false;  // written "x()"

    explicit NameExpr(SourcePos p) : Expr(ExprKind::Name, p) {}
};

struct CallExpr : Expr {
    std::string_view name;   // empty for Me
    uint8_t suffix = 0;
    bool me = false;
    bool dotted = false;
    bool parenArgs = true;   // false for "Foo a, b": the node's flag 2 clear
    List<Expr*> args;        // at least one

    explicit CallExpr(SourcePos p) : Expr(ExprKind::Call, p) {}
};

struct MemberExpr : Expr {
    List<Expr*> pieces;      // two or more, each a NameExpr or CallExpr; only the first may be dotted or Me

    explicit MemberExpr(SourcePos p) : Expr(ExprKind::Member, p) {}
};

struct IntegerExpr : Expr {
    int32_t value = 0;
    uint8_t radix = 10;      // 16 and 8 print back as &H and &O

    explicit IntegerExpr(SourcePos p) : Expr(ExprKind::Integer, p) {}
};

struct DoubleExpr : Expr {
    double value = 0;

    explicit DoubleExpr(SourcePos p) : Expr(ExprKind::Double, p) {}
};

struct StringExpr : Expr {
    std::string_view text;   // decoded, followed by a NUL in the arena

    explicit StringExpr(SourcePos p) : Expr(ExprKind::String, p) {}
};

struct NothingExpr : Expr {
    explicit NothingExpr(SourcePos p) : Expr(ExprKind::Nothing, p) {}
};

struct BoolExpr : Expr {
    bool value = false;

    explicit BoolExpr(SourcePos p) : Expr(ExprKind::Bool, p) {}
};

// The store's BinOpType numbers, and Is: "a Is b" compares object
// references, which "=" does for object values; it is stored as "=".
enum class BinaryOp : uint8_t {
    Add = 0, Sub = 1, Mul = 2, Div = 3, IntDiv = 4, Pow = 5, Mod = 6, Concat = 7,
    Eq = 8, Ne = 9, Gt = 10, Lt = 11, Ge = 12, Le = 13, Like = 14,
    And = 15, Or = 16, Xor = 17, Imp = 18, Eqv = 19, TypeOf = 20,
    AndAlso = 21, OrElse = 22,
    Is = 23,
};

struct BinaryExpr : Expr {
    BinaryOp op;
    Expr* left;
    Expr* right;             // for TypeOf: the class the left side is tested against

    BinaryExpr(SourcePos p, BinaryOp o, Expr* l, Expr* r)
        : Expr(ExprKind::Binary, p), op(o), left(l), right(r) {}
};

enum class UnaryOp : uint8_t { Neg = 0, Not = 1 };

struct UnaryExpr : Expr {
    UnaryOp op;
    Expr* operand;

    UnaryExpr(SourcePos p, UnaryOp o, Expr* e) : Expr(ExprKind::Unary, p), op(o), operand(e) {}
};

// The intrinsic functions. The families and codes are those of the nodes.
enum class Builtin : uint8_t {
    Abs, Atn, Cos, Exp, Fix, Int, Log, Rnd, Sgn, Sin, Sqr, Tan,
    Instr, Str, LCase, UCase, Left, Right, Mid, Len, LTrim, RTrim, Trim, Asc,
    Val, StrComp, String, Space, Chr, Hex, Oct,
    LBound, UBound,
    RGB, QBColor,
    IIf,
};

enum class BuiltinFamily : uint8_t { Math, String, Bound, Color, IIf };

struct BuiltinInfo {
    Builtin fn;
    BuiltinFamily family;
    std::string_view spelling;  // as the node prints it: "abs", "Instr", "LBound", "RGB", "IIf"
    uint32_t code;              // MathType, StringType word (class bits included), 1/2 for L/UBound, tColorFunc
    uint8_t minArgs;
    uint8_t maxArgs;
};

const BuiltinInfo& InfoOf(Builtin fn);

struct IntrinsicExpr : Expr {
    Builtin fn;
    bool dollar = false;     // written "Left$": the node's flag 16
    List<Expr*> args;        // within the function's argument counts (Rnd may have none)

    IntrinsicExpr(SourcePos p, Builtin f) : Expr(ExprKind::Intrinsic, p), fn(f) {}
};

// ---- statements -----------------------------------------------------------

enum class StmtKind : uint8_t {
    Assign, Call, Exit, Stop, If, Select, Do, For, Print, Randomize, Redim,
    Try, Throw, With, Decl,
};

struct Stmt {
    StmtKind kind;
    SourcePos pos;           // of the statement's first word

    Stmt(StmtKind k, SourcePos p) : kind(k), pos(p) {}
};

struct Block {
    List<Stmt*> stmts;
    uint32_t endLine = 0;    // line of the word that closed the block; 0 for none
};

// Let, Set and deep set are the node's form bits 1, 2 and 4.
enum : uint8_t { kAssignLet = 1, kAssignSet = 2, kAssignDeep = 4 };

struct AssignStmt : Stmt {
    uint8_t form = 0;
    Expr* target = nullptr;  // a Name, Call or Member
    Expr* value = nullptr;

    explicit AssignStmt(SourcePos p) : Stmt(StmtKind::Assign, p) {}
};

// The FunctionCallStmt form byte.
enum class CallForm : uint8_t { Bare = 0, Call = 2, SendEvent = 4 };

struct CallStmt : Stmt {
    CallForm form = CallForm::Bare;
    Expr* call = nullptr;    // a Name, Call or Member

    explicit CallStmt(SourcePos p) : Stmt(StmtKind::Call, p) {}
};

// The Exiter's exit type.
enum class ExitKind : uint8_t { Plain = 0, Function = 1, Sub = 2, For = 3, Do = 4 };

struct ExitStmt : Stmt {
    ExitKind what = ExitKind::Plain;

    explicit ExitStmt(SourcePos p) : Stmt(StmtKind::Exit, p) {}
};

struct StopStmt : Stmt {
    explicit StopStmt(SourcePos p) : Stmt(StmtKind::Stop, p) {}
};

struct IfClause {
    SourcePos pos;           // of If or ElseIf
    Expr* cond;
    Block* body;
};

struct IfStmt : Stmt {
    bool singleLine = false; // SimpleIfThen: one clause, blocks without closing lines
    List<IfClause> clauses;  // the If and every ElseIf
    Block* elseBody = nullptr;
    uint32_t elseLine = 0;   // 0 when there is no Else
    uint32_t endLine = 0;    // line of End If; 0 for a one-line If

    explicit IfStmt(SourcePos p) : Stmt(StmtKind::If, p) {}
};

// The Case test types.
enum class CaseTest : uint8_t {
    IsEq = 1, Value = 2, Range = 3, IsGt = 4, IsLt = 5, IsLe = 6, IsGe = 7, IsNe = 8,
};

struct CaseTestItem {
    CaseTest test;
    Expr* first;
    Expr* second;            // the upper bound of a Range, else null
};

struct CaseClause {
    SourcePos pos;           // of Case
    List<CaseTestItem> tests;
    Block* body;
};

struct SelectStmt : Stmt {
    Expr* selector = nullptr;
    List<CaseClause> cases;
    Block* elseBody = nullptr;
    uint32_t elseLine = 0;   // line of Case Else; 0 when there is none
    uint32_t endLine = 0;    // line of End Select

    explicit SelectStmt(SourcePos p) : Stmt(StmtKind::Select, p) {}
};

// The DoLoop forms.
enum class LoopForm : uint8_t {
    DoWhile = 3, LoopWhile = 4, DoUntil = 5, LoopUntil = 6, Forever = 7, WhileWend = 8,
};

struct DoStmt : Stmt {
    LoopForm form = LoopForm::Forever;
    Expr* cond = nullptr;    // null for Forever
    Block* body = nullptr;   // its endLine is the line of Loop or Wend

    explicit DoStmt(SourcePos p) : Stmt(StmtKind::Do, p) {}
};

// The ForNext loop types.
enum class ForKind : uint8_t { Standard = 0, In = 1, EmbeddedIn = 2, CopiedFrom = 3 };

struct ForStmt : Stmt {
    ForKind each = ForKind::Standard;
    Expr* var = nullptr;
    Expr* start = nullptr;   // the collection of a For Each
    Expr* end = nullptr;     // null for For Each
    Expr* step = nullptr;    // null when there is none
    Block* body = nullptr;   // its endLine is the line of Next
    bool nextNamesVar = false;  // "Next i" rather than "Next"

    explicit ForStmt(SourcePos p) : Stmt(StmtKind::For, p) {}
};

// The Print separator and item-kind numbers.
enum class PrintSep : uint8_t { Comma = 0, Semicolon = 1, None = 2 };
enum class PrintItemKind : uint8_t { Spc = 1, Tab = 2, Expr = 3 };

struct PrintItem {
    PrintSep sep;            // written before the item; only the first may be None
    PrintItemKind kind;
    Expr* expr;
};

struct PrintStmt : Stmt {
    Expr* target = nullptr;  // "obj.Print ..." or "Print #obj, ..."; null for the host's sink
    bool hashTarget = false; // written "Print #obj, ..."
    List<PrintItem> items;
    PrintSep last = PrintSep::None;  // separator after the last item

    explicit PrintStmt(SourcePos p) : Stmt(StmtKind::Print, p) {}
};

struct RandomizeStmt : Stmt {
    Expr* seed = nullptr;

    explicit RandomizeStmt(SourcePos p) : Stmt(StmtKind::Randomize, p) {}
};

// A dimension: "[lower To] upper".
struct Bound {
    Expr* lower;             // null for the default lower bound 0
    Expr* upper;
};

struct RedimStmt : Stmt {
    bool preserve = false;
    NameExpr* array = nullptr;  // a plain name, perhaps with a suffix
    List<Bound> dims;

    explicit RedimStmt(SourcePos p) : Stmt(StmtKind::Redim, p) {}
};

struct Param {
    SourcePos pos;
    std::string_view name;
    uint8_t suffix = 0;
    bool byVal = false;
    bool byRef = false;      // written ByRef (the default either way)
    bool isArray = false;    // written "a()"
    TypeRef type;            // strictly set for "As Strictly T" and "Strictly As T"
};

struct CatchClause {
    SourcePos pos;           // of Catch
    std::string_view text;   // the Catch line as written, for the dead source
    std::string_view name;   // the exception's class; empty catches everything
    bool hasParams = false;  // written with "(...)"
    List<Param> params;
    Block* body;
};

struct TryStmt : Stmt {
    Block* body = nullptr;   // its endLine is the line of the first Catch (or End Try)
    List<CatchClause> catches;
    uint32_t endLine = 0;    // line of End Try

    explicit TryStmt(SourcePos p) : Stmt(StmtKind::Try, p) {}
};

struct ThrowStmt : Stmt {
    Expr* exception = nullptr;  // a Name or Call without suffix; null rethrows

    explicit ThrowStmt(SourcePos p) : Stmt(StmtKind::Throw, p) {}
};

struct WithStmt : Stmt {
    Expr* object = nullptr;
    Block* body = nullptr;   // its endLine is the line of End With

    explicit WithStmt(SourcePos p) : Stmt(StmtKind::With, p) {}
};

enum class DeclKind : uint8_t { Dim, Static, Const, Protected };

struct Declarator {
    SourcePos pos;
    std::string_view name;
    uint8_t suffix = 0;
    bool isArray = false;    // written with "(...)", perhaps empty
    List<Bound> dims;
    TypeRef type;
    Expr* value = nullptr;   // a Const's value
};

// Dim, Static and Const in a procedure; Dim, Protected and Const as the
// fields of an object.
struct DeclStmt : Stmt {
    DeclKind decl = DeclKind::Dim;
    List<Declarator> vars;
    std::string_view text;   // as written, for the dead source

    explicit DeclStmt(SourcePos p) : Stmt(StmtKind::Decl, p) {}
};

struct Comment {
    SourcePos pos;           // of the ' or the Rem
    CommentKind kind;        // the dead-source kinds: 2 Rem, 3 '
    std::string_view text;   // after the marker, as written
};

// ---- procedures, objects, modules -------------------------------------------

struct Procedure {
    SourcePos pos;           // of the header's first word
    bool isFunction = false;
    bool allStatic = false;  // "Static Sub": every local keeps its value
    std::string_view name;
    uint8_t suffix = 0;      // a Function's return type given by suffix
    bool hasParens = false;
    List<Param> params;
    TypeRef returnType;
    std::string_view header; // the header line as written, without its comment
    Block* body = nullptr;   // its endLine is the line of End Sub / End Function
    List<Comment> comments;
};

struct EventDecl {
    SourcePos pos;
    std::string_view name;
    List<Param> params;
    std::string_view argText;  // "(...)" as written; empty when written without
    TypeRef returnType;
    std::string_view text;
};

struct DeclareDecl {
    SourcePos pos;
    bool isFunction = false;
    std::string_view name;
    uint8_t suffix = 0;
    std::string_view lib;    // decoded
    std::string_view alias;  // decoded; empty when there is none
    bool hasAlias = false;
    List<Param> params;
    TypeRef returnType;
    std::string_view text;   // the Declare line as written
};

// ".Field = value" or ".Field := value"; ".Field(2, 3) = value" sets one
// element of an array field.
struct InitialValue {
    SourcePos pos;
    std::string_view field;
    List<Expr*> indices;   // empty for a whole field
    bool deep = false;
    Expr* value;
};

struct ObjectDecl;

enum class MemberKind : uint8_t { Field, Event, Declare, InitialValue, Procedure, Embedded };

struct ObjectMember {
    MemberKind kind;
    union {
        DeclStmt* field;
        EventDecl* event;
        DeclareDecl* declare;
        InitialValue* value;
        Procedure* procedure;
        ObjectDecl* embedded;
    };
};

// "Begin Object Name [From Proto]" ... "End Object", or an embedded object
// "Type Name [From Proto]" ... "End Type".
struct ObjectDecl {
    SourcePos pos;
    bool embedded = false;
    std::string_view name;
    std::string_view from;   // empty when there is no From
    List<ObjectMember> members;  // in the order written
    List<Comment> comments;  // outside its procedures
    uint32_t endLine = 0;
};

struct EnumEntry {
    SourcePos pos;
    std::string_view name;
    bool hasValue = false;
    int32_t value = 0;
};

struct EnumDecl {
    SourcePos pos;
    std::string_view name;
    List<EnumEntry> entries;
    List<Comment> comments;
    uint32_t endLine = 0;
};

enum class ItemKind : uint8_t { Enum, Object };

struct ModuleItem {
    ItemKind kind;
    union {
        EnumDecl* enumeration;
        ObjectDecl* object;
    };
};

struct Module {
    List<ModuleItem> items;
    List<Comment> comments;  // outside every enumeration and object
};

// What immediate mode compiles: statements outside any procedure.
struct StatementList {
    Block* body = nullptr;
    List<Comment> comments;
};

}  // namespace tq::compiler
