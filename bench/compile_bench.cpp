// Speed of the compiler's front end on a generated text module of 100,000
// lines (many objects, fields, initial values and procedures using every
// kind of statement), in lines per second, against the lexer alone over the
// same text as the baseline; and the memory a tree takes (its nodes, and
// the heap allocations one parse makes).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/support/alloccount.h"
#include <sys/resource.h>

#include <tqstore/tqstore.h>

#include "compiler/codegen.h"
#include "compiler/lexer.h"
#include "compiler/parse.h"

namespace {

using namespace tq::compiler;

// One object of about 100 lines.
void AppendObject(std::string& out, int n) {
    const std::string id = std::to_string(n);
    out += "' object " + id + "\n";
    out += "Begin Object Shape" + id + (n ? " From Shape0" : "") + "\n";
    out += "  Dim Name As String\n  Dim Sides As Integer, Area As Double\n";
    out += "  Protected Secret As Long\n  Const Limit% = 10\n  Dim Cells(1 To 3, 4) As String\n";
    out += "  Event Changed(ByVal Sides As Integer)\n";
    out += "  .Name = \"shape " + id + "\"\n  .Sides = " + std::to_string(n % 9) + "\n";
    out += "  Function Compute#(ByVal w As Double, ByVal h As Double)\n"
           "    Dim i As Long, total As Double\n"
           "    For i = 1 To Sides Step 1\n"
           "      total = total + w * h / (i + 1) - Sqr(w ^ 2 + h ^ 2)\n"
           "    Next i\n"
           "    If total > Limit And Not (w = h) Then\n"
           "      Compute = total\n"
           "    ElseIf total < 0 Then\n"
           "      Compute = -total\n"
           "    Else\n"
           "      Compute = 0\n"
           "    End If\n"
           "  End Function\n";
    out += "  Sub Describe()   ' prints itself\n"
           "    Print Name; \" has \"; Sides; \" sides\", Tab(30); Compute(2.5, 3)\n"
           "    Select Case Sides\n"
           "      Case 3\n"
           "        Print \"triangle\"\n"
           "      Case 4, 5 To 8\n"
           "        Print \"polygon\"\n"
           "      Case Is > 8\n"
           "        Print \"many\"\n"
           "      Case Else\n"
           "        Print \"none\"\n"
           "    End Select\n"
           "  End Sub\n";
    out += "  Sub Loop1(ByRef items() As Long)\n"
           "    Dim i As Long\n"
           "    i = LBound(items)\n"
           "    Do While i <= UBound(items)\n"
           "      items(i) = items(i) * 2 + Len(Name) Mod 7\n"
           "      i = i + 1\n"
           "    Loop\n"
           "    While i > 0 : i = i - 1 : Wend\n"
           "  End Sub\n";
    out += "  Sub Handle()\n"
           "    Try\n"
           "      With Me\n"
           "        .Name = Left$(.Name, 3) & UCase(Mid(.Name, 4)) & Chr(65 + .Sides)\n"
           "        .Describe\n"
           "      End With\n"
           "      If Sides = 0 Then Throw Empty(Name) Else SendEvent Changed Sides\n"
           "    Catch Empty(what As String)\n"
           "      Print \"empty: \"; what\n"
           "    Catch\n"
           "      Throw\n"
           "    End Try\n"
           "  End Sub\n";
    out += "  Function Color&(ByVal r As Integer, ByVal g As Integer, ByVal b As Integer)\n"
           "    Color = IIf(r < 0, QBColor(9), RGB(r, g, b)) + &HFF00\n"
           "  End Function\n";
    out += "  Type Label From Shape0\n    .Name = \"label\"\n  End Type\n";
    out += "  Sub Walk()\n"
           "    Dim v As Object\n"
           "    For Each v EmbeddedIn Me\n"
           "      Call v.Describe\n"
           "    Next\n"
           "    ReDim Preserve Cells(1 To 4, 5)\n"
           "    Randomize 42\n"
           "    Area = Rnd * 100 + Abs(Sin(1.5)) + Int(Log(10))\n"
           "    Set v = Nothing\n"
           "    Me.Sides := Sides + 1\n"
           "  End Sub\n";
    out += "End Object\n\n";
}

const std::string& Module100k() {
    static const std::string text = [] {
        std::string out = "Enum Kind\n  Plain = 1\n  Fancy = 2\nEnd Enum\n\n";
        size_t lines = 0;
        for (int n = 0; lines < 100000; ++n) {
            const size_t from = out.size();
            AppendObject(out, n);
            for (size_t i = from; i < out.size(); ++i) lines += out[i] == '\n';
        }
        return out;
    }();
    return text;
}

size_t Lines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

void BM_LexOnly(benchmark::State& state) {
    const std::string& text = Module100k();
    const size_t lines = Lines(text);
    std::vector<Token> tokens;
    LineComment comment;
    for (auto _ : state) {
        Diagnostics diag("bench.tqs");
        Lexer lexer(text, diag);
        size_t count = 0;
        do {
            lexer.nextLine(tokens, comment);
            count += tokens.size();
        } while (tokens.back().kind != Tok::EndOfFile);
        benchmark::DoNotOptimize(count);
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_LexOnly)->Unit(benchmark::kMillisecond);

void BM_ParseModule100kLines(benchmark::State& state) {
    const std::string& text = Module100k();
    const size_t lines = Lines(text);
    size_t nodeBytes = 0;
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = tq::bench::Allocations();
        SyntaxTree tree = ParseModule(text, "bench.tqs");
        allocations = tq::bench::Allocations() - before;
        if (!tree.ok()) state.SkipWithError(tree.errors()[0].text().c_str());
        nodeBytes = tree.nodeBytes();
        benchmark::DoNotOptimize(tree.module());
    }
    state.counters["lines"] = double(lines);
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["source_MB"] = double(text.size()) / 1e6;
    state.counters["node_MB"] = double(nodeBytes) / 1e6;
    state.counters["allocations"] = double(allocations);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ParseModule100kLines)->Unit(benchmark::kMillisecond);

void ProceduresOf(const ObjectDecl* o, std::vector<const Procedure*>& out) {
    for (const ObjectMember& m : o->members) {
        if (m.kind == MemberKind::Procedure) out.push_back(m.procedure);
        if (m.kind == MemberKind::Embedded) ProceduresOf(m.embedded, out);
    }
}

long PeakResidentKB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Parse and generate: every procedure of the module compiled into the
// store's fields, blocks and dead source (the module's declarations are
// the text-module loader's and not counted here).
void BM_CompileModule100kLines(benchmark::State& state) {
    tq::IdString::Initialize();
    const std::string& text = Module100k();
    const size_t lines = Lines(text);
    size_t procedures = 0;
    for (auto _ : state) {
        SyntaxTree tree = ParseModule(text, "bench.tqs");
        if (!tree.ok()) state.SkipWithError(tree.errors()[0].text().c_str());
        std::vector<const Procedure*> procs;
        for (const ModuleItem& item : tree.module()->items)
            if (item.kind == ItemKind::Object) ProceduresOf(item.object, procs);
        Diagnostics errors("bench.tqs");
        std::vector<std::unique_ptr<tq::InterProcField>> fields;
        fields.reserve(procs.size());
        for (const Procedure* p : procs) fields.push_back(GenerateProcedure(*p, errors));
        if (!errors.empty()) state.SkipWithError(errors.take()[0].text().c_str());
        procedures = fields.size();
        state.PauseTiming();
        fields.clear();
        state.ResumeTiming();
    }
    state.counters["lines"] = double(lines);
    state.counters["procedures"] = double(procedures);
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_RSS_MB"] = double(PeakResidentKB()) / 1024.0;
}
BENCHMARK(BM_CompileModule100kLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
