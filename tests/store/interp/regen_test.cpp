// Source regeneration: procedures print back as they were written (every
// statement and expression form, several statements on a line, comments,
// declarations and blank lines where they stood), what prints compiles
// back to the same code, literals read back as the same values, printing
// is repeatable and stays bounded whatever lines the code holds, and a
// signature's whole text.
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "platform/util/lebytes.h"
#include "store/eventdef.h"
#include "store/interp/assign.h"
#include "store/interp/evalable.h"
#include "store/interp/ident.h"
#include "store/interp/ifthen.h"
#include "store/interp/regform.h"
#include "store/interp/sigtext.h"
#include "store/interp/srcctl.h"
#include "store/model/sigrep.h"
#include "tests/store/interp/interptest.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using Regeneration = InterpTest;

std::string Lf(std::string s) {
    for (size_t at; (at = s.find("\r\n")) != std::string::npos;) s.erase(at, 1);
    return s;
}

// The text a procedure compiled from text prints, with "\n" line ends.
std::string Printed(const std::string& text) {
    Program p;
    FieldPtr f(p.procedure(text));
    return Lf(static_cast<InterProcField*>(f.get())->getSource());
}

// A procedure that uses every statement kind, in the printed form.
const char* const kEveryStatement = R"(Sub Main(n As Long)
  ' Counts and names things
  Dim i As Long
  Dim s As String
  Dim o As Object

  s = "a""b^Ic^^" : i = &HFF
  If n > 0 Then i = 1 Else i = 2
  If n = 1 Then 
    i = i + 1 ' one more
  ElseIf n = 2 Then 
    Rem two
    i = i * 2
  Else 
    i = 0
  End If
  Select Case n
  Case 1, 3 To 5, Is > 7
    i = 1
  Case Is == 2, Is <> 9, Is <= 1, Is >= 4, Is < 0
    i = 2
  Case Else
    i = 3
  End Select
  Do While i < 10
    i = i + 1
    If i = 7 Then Exit Do
  Loop
  Do Until i = 0
    i = i - 1
  Loop
  Do
    i = i - 1
  Loop Until i <= 0
  Do
    i = i + 1
  Loop While i < 3
  Do
    Exit Do
  Loop
  While i < 3
    i = i + 1
  Wend
  For i = 1 To 10 Step 2
    s = s & Str(i)
    Exit For
  Next i
  For i = 3 To 1
  Next 
  For Each o In Me
  Next o
  For Each o EmbeddedIn Me
  Next 
  For Each o CopiedFrom Me
  Next 
  With Me
    .Count = 2
    .Caption := "x"
  End With
  Try
    Throw Oops(1, "x")
  Catch Oops(a As Long, b As String)
    Throw
  Catch
    i = 0
  End Try
  Print s; i, Spc(2); Tab(3); 
  Me.Print "done"
  Print 
  Randomize 5
  Randomize
  Redim Preserve Grid(1 To 5, 3)
  Call Helper(1)
  Helper 2, 3
  SendEvent Changed(i)
  Let i = 2
  Set o = Nothing
  Stop
  Exit Sub
End Sub
)";

void ExpectSameCode(const InterProcField& a, const InterProcField& b) {
    ASSERT_EQ(a.identifiers().count(), b.identifiers().count());
    for (uint32_t i = 0; i < a.identifiers().count(); ++i)
        EXPECT_STREQ(static_cast<const char*>(a.identifiers()[i]), static_cast<const char*>(b.identifiers()[i]));
    ASSERT_EQ(a.blocks().length(), b.blocks().length());
    for (uint32_t i = 0; i < a.blocks().length(); ++i) {
        const BlockRep* x = a.blocks().block(i);
        const BlockRep* y = b.blocks().block(i);
        EXPECT_EQ(x->endLine(), y->endLine()) << "block " << i;
        ASSERT_EQ(x->byteLength(), y->byteLength()) << "block " << i;
        EXPECT_EQ(std::memcmp(x->nodes(), y->nodes(), x->byteLength()), 0) << "block " << i;
    }
    const DeadSource& p = a.deadSource();
    const DeadSource& q = b.deadSource();
    ASSERT_EQ(p.count(), q.count());
    for (uint32_t i = 0; i < p.count(); ++i) {
        EXPECT_EQ(p->line(i), q->line(i));
        EXPECT_EQ(p->kind(i), q->kind(i));
        EXPECT_STREQ(p->text(i), q->text(i));
    }
}

TEST_F(Regeneration, EveryStatementPrintsAsItWasWrittenAndCompilesBackToTheSameCode) {
    Program first;
    FieldPtr f(first.procedure(kEveryStatement));
    const auto& proc = static_cast<const InterProcField&>(*f.get());
    const std::string text = proc.getSource();
    EXPECT_EQ(Lf(text), kEveryStatement);
    // Every line ends in CR LF, the last one too.
    EXPECT_EQ(text.substr(text.size() - 9), "End Sub\r\n");
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
    Program second;
    FieldPtr g(second.procedure(Lf(text)));
    ExpectSameCode(proc, static_cast<const InterProcField&>(*g.get()));
    // Printing does not move anything for the next printing.
    EXPECT_EQ(proc.getSource(), text);
}

TEST_F(Regeneration, EveryExpressionPrintsInItsForm) {
    const char* const forms[] = {
        "x", "x% + y& - z! * w# / v@ & s$", "Me", "True", "False", "Nothing", "f()", "f(1, 2)", "Me(1)",
        "a.b(1).c", "Me.x", "(a + b) * c", "-2 ^ 2", "-(x)", "Not a And b", "a Mod b \\ c",
        "a = b Or a <> b Xor a < b Eqv a > b Imp a <= b", "a >= b && a Like b || c",
        "TypeOf a Is b", "12", "-5", "&HFF", "&HFFFFFFFF", "&O17", "2.0", "2.5", "-0.5", "1e+20",
        "\"a\"\"b^Ic^^^?\"", "\"\"", "abs(x) + atn(x) + cos(x) + exp(x) + fix(x) + int(x)",
        "log(x) + rnd() + sgn(x) + sin(x) + sqr(x) + tan(x) + rnd(0)", "Instr(1, s, \"a\", 1) + Instr(s, t)",
        "Str(1) & LCase(s) & UCase$(s) & Left$(s, 2) & Right(s, 1) & Mid(s, 2, 3) & Mid(s, 2)",
        "Len(s) + Asc(s) + Val(s) + StrComp(s, t, 1)", "LTrim(s) & RTrim(s) & Trim$(s)",
        "String(3, \"x\") & Space(2) & Chr(65) & Hex(255) & Oct$(8)", "LBound(a) + UBound(a, 2)",
        "RGB(1, 2, 3) + QBColor(9)", "IIf(a > 1, \"big\", \"small\")",
    };
    for (const char* form : forms) {
        Program p;
        auto e = p.immediateExpression(form);
        std::ostringstream out;
        e->print(out);
        EXPECT_EQ(out.str(), form);
    }
}

TEST_F(Regeneration, LinesKeepTheirLayout) {
    const struct Case {
        const char* what;
        const char* text;
    } cases[] = {
        {"two statements on a line", "Sub A()\n  x = 1 : y = 2\nEnd Sub\n"},
        {"a one-line If", "Sub A()\n  If x Then y = 1\nEnd Sub\n"},
        {"a one-line If with Else", "Sub A()\n  If x Then y = 1 Else y = 2\nEnd Sub\n"},
        {"a comment after a statement", "Sub A()\n  x = 1 ' set x\nEnd Sub\n"},
        {"a Rem after statements", "Sub A()\n  x = 1 : y = 2 : Rem both\nEnd Sub\n"},
        {"a comment after the header", "Sub A() ' the first\n  x = 1\nEnd Sub\n"},
        {"a comment on the closing line", "Sub A()\n  x = 1\nEnd Sub ' done\n"},
        {"blank lines", "Sub A()\n\n  x = 1\n\n\n  y = 2\n\nEnd Sub\n"},
        {"comments before the first statement", "Sub A()\n  ' one\n  Rem two\n  x = 1\nEnd Sub\n"},
        {"a function", "Function F(n As Long) As Long\n  F = n * 2\nEnd Function\n"},
        {"an empty body", "Sub A()\nEnd Sub\n"},
        {"statements on the header line", "Sub A() : x = 1\nEnd Sub\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Printed(c.text), c.text) << c.what;
    // A declaration sharing a line with a statement follows it.
    EXPECT_EQ(Printed("Sub A()\n  Dim x As Long : x = 1\nEnd Sub\n"), "Sub A()\n  x = 1 : Dim x As Long\nEnd Sub\n");
}

TEST_F(Regeneration, DoubleLiteralsReadBackAsTheSameDouble) {
    const struct Case {
        double value;
        const char* text;
    } cases[] = {
        {2, "2.0"},
        {-3, "-3.0"},
        {0, "0.0"},
        {-0.0, "-0.0"},
        {0.1, "0.1"},
        {1e20, "1e+20"},
        {1.5e-7, "1.5e-07"},
        {2147483646, "2147483646.0"},
        {2147483647, "2147483647.0"},
        {-2147483647, "-2147483647.0"},
        {3e9, "3000000000.0"},
        // Ten digits do not name these.
        {0.1 + 0.2, "0.30000000000000004"},
        {1.0 / 3, "0.3333333333333333"},
        {123456.78901234, "123456.78901234"},
    };
    for (const Case& c : cases) EXPECT_EQ(DoubleLiteralText(c.value), c.text) << c.value;
    std::mt19937_64 random(17);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = random();
        double v = 0;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) continue;
        const std::string text = DoubleLiteralText(v);
        double back = 0;
        std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
        ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text;
    }
}

TEST_F(Regeneration, StringLiteralsEscapeWhatWouldBreakTheirLine) {
    EXPECT_EQ(StringLiteralText("say \"hi\"\tnow"), "\"say \"\"hi\"\"^Inow\"");
    EXPECT_EQ(StringLiteralText("a^b"), "\"a^^b\"");
    EXPECT_EQ(StringLiteralText("\r\n"), "\"^M^J\"");
    EXPECT_EQ(StringLiteralText("\x01\x1F\x7F"), "\"^A^_^?\"");
    EXPECT_EQ(StringLiteralText("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    EXPECT_EQ(StringLiteralText(""), "\"\"");
}

TEST_F(Regeneration, PrintingStaysOrderedAndBoundedWhateverLinesTheCodeHolds) {
    // Lines out of order start a new line each; the current line never goes
    // back, so printing ends.
    EXPECT_EQ(Printed("Sub A()\n5: a = 1\n3: b = 2\nEnd Sub\n"), "Sub A()\n\n\n\n  a = 1\n  b = 2\nEnd Sub\n");
    // A line far away (a corrupt file's) costs one line end, not billions.
    EXPECT_EQ(Printed("Sub A()\n2000000000: a = 1\nEnd Sub\n"), "Sub A()\n  a = 1\nEnd Sub\n");
    const std::string near = Printed("Sub A()\n1000: a = 1\nEnd Sub\n");
    EXPECT_EQ(near, "Sub A()" + std::string(999, '\n') + "  a = 1\nEnd Sub\n");
}

TEST_F(Regeneration, ASubBlockThatContainsItselfIsRefusedNotPrintedForEver) {
    // Only a corrupt file's code names a block from inside it; builders let
    // it through, as a file would.
    IdDynamicVector ids;
    const auto x = static_cast<uint16_t>(ids.stringIndex("x"));
    BlockBuildRep first;
    first.addExecNode(Assignment::make(2, 0, Sid::make(x), LongConstant::make(1)));
    BlockBuildRep body;
    body.addExecNode(SimpleIfThen::make(3, Sid::make(x), 1));
    BlockDynamicVector blocks;
    blocks.blockIndex(BlockRep::New(first));
    blocks.blockIndex(BlockRep::New(body));
    InterProcField p("P", ids, blocks);
    EXPECT_EQ(FailureText([&] { p.getSource(); }),
              "Unable to load object: Blocks entry 0: sub-block index 1 does not come before the block (index 1 of "
              "its table): the block would run inside itself at offset 0");
}

// The register form's translator and the tree walker take the same blocks
// from the table, which refuses the cycle before either starts: the call
// fails cleanly instead of translating or running until the native stack
// runs out.
TEST_F(Regeneration, ASubBlockThatContainsItselfIsRefusedByTheTranslatorAndFailsTheCallCleanly) {
    IdDynamicVector ids;
    BlockBuildRep body;
    body.addExecNode(SimpleIfThen::make(2, LongConstant::make(1), 0));
    BlockDynamicVector blocks;
    blocks.blockIndex(BlockRep::New(body));
    InterObj prog(named("Looping"));
    auto* p = new InterProcField("P", ids, blocks);
    prog->addField(p);
    const std::string refused =
        "Unable to load object: Blocks entry 0: sub-block index 0 does not come before the block (index 0 of its "
        "table): the block would run inside itself at offset 0";
    EXPECT_EQ(FailureText([&] { RegisterForm::Translate(*p, *prog); }), refused);
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "P"); }), refused);
}

TEST_F(Regeneration, ImmediateStatementsPrintAtTheLeftMarginAndAnExpressionAlone) {
    Program p;
    p.block("1: x = 1\n1: y = 2\n2: Stop");
    std::ostringstream out;
    p.immediate()->print(out);
    EXPECT_EQ(out.str(), "x = 1 : y = 2\r\nStop");
}

TEST_F(Regeneration, AProcedureReloadedInAFreshProcessPrintsTheSameText) {
    if (IsFreshProcess()) {
        DefaultStoreApplication app;
        const tModuleIndex m = ObjectStore::LoadModule(FreshProcessArg("TQ_FILE").c_str(), 0, 0);
        InterObj prog;
        ASSERT_TRUE(ObjectStore::find("Program", prog));
        auto* main = dynamic_cast<InterProcField*>(prog->findField("Main"));
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(Lf(main->getSource()), kEveryStatement);
        prog = nullptr;
        ObjectStore::UnloadModule(m);
        return;
    }
    ScratchDir dir;
    const std::string path = dir.file("printed.qbo");
    {
        DefaultStoreApplication app;
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        InterObj prog(named("Program"));
        AddProcedure(prog.get(), kEveryStatement);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        prog = nullptr;
        ObjectStore::UnloadModule(m);
    }
    EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", path}}), 0);
}

TEST_F(Regeneration, ASignaturePrintsItsDeclarationsValuesProceduresAndEmbeddedPrototypes) {
    InterObj shape(named("Shape"));
    addData(shape.get(), "Sides", IDT_SHORT);
    addData(shape.get(), "Name", IDT_STRING);
    shape->addEventDef(new EventDef("Changed", 0, "(n As Integer)", 1));
    setText(shape.get(), "Name", "shape");
    AddProcedure(shape.get(), "Sub Describe()\n  Print Name ' aloud\nEnd Sub\n");
    InterObj square(InterObjRep::NewNamed("Square", shape.get(), DETACHED_MODULE, IOT_ORDINARY));
    setLong(square.get(), "Sides", 4);
    // An embedded object with members of its own.
    shape->addField(new EmbedObjField("Label", nullptr));
    InterObj label;
    ASSERT_TRUE(ObjectStore::find("Shape.Label", label));
    addData(label.get(), "Caption", IDT_STRING);
    setText(label.get(), "Caption", "x");
    EXPECT_EQ(SignatureText(*shape),
              "Dim Sides As Integer\r\n"
              "Dim Name As String\r\n"
              "Event Changed(n As Integer)\r\n"
              ".Sides = 0\r\n"
              ".Name = \"shape\"\r\n"
              "Sub Describe()\r\n"
              "  Print Name ' aloud\r\n"
              "End Sub\r\n"
              "Type Label\r\n"
              "  Dim Caption As String\r\n"
              "  .Caption = \"x\"\r\n"
              "End Type\r\n");
    // A clone has only the values that differ from its prototype's.
    EXPECT_EQ(SignatureText(*square, "  "), "  .Sides = 4\r\n");
}

}  // namespace
}  // namespace tq
