// Programs for tests: blocks built through the library's public builders
// from a compact text, so that a test reads as the program it runs.
//
//   Program p;
//   p.block(R"(
//       Dim x As Long
//       x = x + 1
//       End
//   )");
//   auto main = p.sub("Main");
//
// One statement per line; "N:" before a statement gives its source line,
// otherwise it is the line's number within the text (from 1). Blank lines
// and lines starting with "'" are skipped.
//
// Procedures (procedure()) start with a header, "Sub Name(a As Long, ByVal
// s As String)" or "Function Name(n As Long) As Long" (parameters by
// reference unless ByVal; "Static Sub" makes every local static), and end
// with "End Sub" / "End Function". A procedure is read as the language's
// compiler reads it, with its dead source: the header, declarations and
// Catch lines, comments ("'" and Rem, on a line of their own or after the
// statements), and several statements on a line separated by ":". Strings
// take the language's escapes ("" for a quote, ^^, ^I, ^?).
//
// Declarations (they make the block's variable objects):
//   Dim x As Long          a local (Integer, Long, Single, Double, Currency,
//                          String, Object)
//   Static x As Long [= 5] a static local with an initial constant
//   Param x As Long        a parameter of the block (Catch bodies)
// Statements:
//   [Let|Set] target = expr    target := expr    Exit [Function|Sub|For|Do]
//   Stop                       End ...   (the block's closing line)
//   Foo a, b   Foo(a)   obj.Foo a   Call Foo(a)   SendEvent [obj.]Ev(a)
//   If c Then s [Else s]       If c Then / ElseIf c Then / Else / End If
//   Select Case e / Case 1, 3 To 5, Is > 7 / Case Else / End Select
//   Do [While|Until c] / Loop [While|Until c]      While c / Wend
//   For v = a To b [Step s] / Next [v]
//   For Each v In|EmbeddedIn|CopiedFrom obj / Next
//   With obj / End With        Try / Catch [Name[(p As Type, ...)]] / End Try
//   Throw [Name[(args)]]       Print [items with , ; Spc(n) Tab(n)]
//   obj.Print items            Randomize [seed]    ReDim [Preserve] a(1 To 5, 3)
// Every statement list is a block of its own, entered into the block table
// before the block that names it; the body comes last.
// Expressions follow the language's precedence, highest first: ^; unary -;
// * /; \; Mod; + -; &; comparisons (= <> < > <= >= Like, TypeOf x Is y);
// Not; And &&; Or ||; Xor; Eqv; Imp. Literals: 12, &HFF, &O17, 2.5, "text"
// ("" for a quote), True, False, Nothing, Me. Names may carry a type suffix
// (% & ! # @ $), arguments f(a, b), a leading "." inside With, and chains
// a.b(1).c. Parentheses set the node's parenthesis flag. The built-in
// functions are written as in the language: Abs(x) .. Tan(x), Rnd,
// Left$(s, 2), Instr(...), UBound(a, 1), RGB(r, g, b), IIf(c, a, b).
//
// A text that is not a program fails the test (std::invalid_argument).
#pragma once

#include <memory>
#include <string>

#include "store/block.h"
#include "store/interp/evalable.h"
#include "store/interp/exprnode.h"
#include "store/methfld.h"
#include "store/persist/idstr.h"

namespace tq {

class Program {
public:
    // A block made from text, entered into the block table; its index.
    int32_t block(const std::string& text, int allLocalsStatic = 0);
    // The same, made and returned without entering it into the table.
    BlockRep* makeBlock(const std::string& text, int allLocalsStatic = 0);
    // An expression; names go into the identifier table.
    ExprPtr expression(const std::string& text);
    // The index of name in the identifier table (entered when new).
    int16_t id(const char* name) { return ids_.stringIndex(name); }

    // The procedure, function or immediate block whose body is the last
    // block entered; each takes the tables over (the Program starts empty
    // again).
    std::unique_ptr<InterProcField> sub(const char* name);
    // A procedure from its whole text (header to End), with its own tables
    // (the Program starts empty again); the field holds no count yet, ready
    // for InterObjRep::addField.
    InterProcField* procedure(const std::string& text);
    std::unique_ptr<InterFuncField> function(const char* name, IdType type);
    std::unique_ptr<EvalableBlock> immediate();
    std::unique_ptr<EvalableExpr> immediateExpression(const std::string& text);

    IdDynamicVector& ids() { return ids_; }
    BlockDynamicVector& blocks() { return blocks_; }

private:
    IdDynamicVector ids_;
    BlockDynamicVector blocks_;
};

// Adds the procedure of text to obj.
void AddProcedure(InterObjRep* obj, const std::string& text);
// Runs text as an immediate block in ctx (failures pass on).
void RunImmediate(Context& ctx, const std::string& text);
// The value of an expression in ctx, as immediate evaluation gives it.
ValuePtr EvalImmediate(Context& ctx, const std::string& text);

}  // namespace tq
