// Procedures of the corpus through the store and back: compiled, printed
// by the store's source regeneration, and compiled again, they give the
// same identifiers, the same dead source and node streams equal byte for
// byte; and printing the second compilation gives the same text again.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/compiler/codegen/cgtest.h"

namespace tq::compiler {
namespace {

namespace fs = std::filesystem;

using RoundTrip = CodegenTest;

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(TQ_SOURCE_DIR) / "tests/compiler/corpus"))
        if (e.path().extension() == ".tqs") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void ProceduresOf(const ObjectDecl* o, std::vector<const Procedure*>& out) {
    for (const ObjectMember& m : o->members) {
        if (m.kind == MemberKind::Procedure) out.push_back(m.procedure);
        if (m.kind == MemberKind::Embedded) ProceduresOf(m.embedded, out);
    }
}

// Everything of a compiled procedure that printing must carry over: its
// identifiers, its dead source, and each block's end line, statement count
// and node bytes.
std::string Image(const InterProcField& f) {
    std::string out = "ids:";
    for (uint32_t i = 0; i < f.identifiers().count(); ++i) out += std::string(" ") + static_cast<const char*>(f.identifiers()[i]);
    out += "\ndead:";
    if (const DeadSource& d = f.deadSource())
        for (uint32_t i = 0; i < d->count(); ++i)
            out += "\n  " + std::to_string(d->line(i)) + "/" + std::to_string(d->kind(i)) + " " + d->text(i);
    for (uint32_t i = 0; i < f.blocks().length(); ++i) {
        const BlockRep* b = f.blocks().block(i);
        out += "\nblock " + std::to_string(i) + " end " + std::to_string(b->endLine()) + " count " +
               std::to_string(b->nodeCount()) + ":";
        static const char* hex = "0123456789abcdef";
        for (uint32_t k = 0; k < b->byteLength(); ++k) {
            out += ' ';
            out += hex[b->nodes()[k] >> 4];
            out += hex[b->nodes()[k] & 15];
        }
    }
    return out;
}

std::string WithoutCr(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

TEST_F(RoundTrip, CorpusProceduresPrintAndCompileBackToTheSameCode) {
    size_t procedures = 0;
    for (const fs::path& file : CorpusFiles()) {
        const SyntaxTree tree = ParseModule(Read(file), file.filename().string());
        ASSERT_TRUE(tree.ok()) << FormatDiagnostics(tree.errors());
        std::vector<const Procedure*> procs;
        for (const ModuleItem& item : tree.module()->items)
            if (item.kind == ItemKind::Object) ProceduresOf(item.object, procs);
        for (const Procedure* proc : procs) {
            ++procedures;
            Diagnostics errors(file.filename().string());
            std::unique_ptr<InterProcField> first = GenerateProcedure(*proc, errors);
            ASSERT_TRUE(first) << FormatDiagnostics(errors.take());
            const std::string printed = first->getSource();
            std::unique_ptr<InterProcField> second;
            try {
                second = CompileProcedure(printed, "printed");
            } catch (const CompileError& e) {
                FAIL() << file << " " << proc->name << ":\n" << printed << "\n" << e.what();
            }
            EXPECT_EQ(Image(*second), Image(*first)) << file << " " << proc->name << ":\n" << printed;
            EXPECT_EQ(second->getSource(), printed) << file;
        }
    }
    EXPECT_GE(procedures, 10u);
}

TEST_F(RoundTrip, ProceduresPrintAsWrittenInTheirCanonicalForm) {
    // Text in the printer's own form prints back unchanged: comments and
    // blank lines where they stood, declarations as written, joined
    // statements, one-line Ifs, Case lines at the indentation of their
    // Select, a separator ending a Print followed by a space.
    const char* cases[] = {
        "Sub Main()\n  Dim x As Long ' a counter\n\n  x = 1 : x = x + 1\n  Rem done\n  If x > 1 Then Print x Else Print -x\nEnd Sub\n",
        "Function F#(ByVal a As Double, b() As Long)\n  F = a * 2.5 + UBound(b)\nEnd Function\n",
        "Sub T()\n  Try\n    Throw Oops(1, \"x\")\n  Catch Oops(n As Long, s As String)\n    Print n; s; \n  Catch\n    Throw\n  End Try\nEnd Sub\n",
        "Sub S()\n  Select Case x\n  Case 1, 3 To 4, Is > 6\n    Print \"a\"\n  Case Else\n  End Select\n  For Each o In g\n  Next o\nEnd Sub\n",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        std::unique_ptr<InterProcField> f = CompileProcedure(text, "t.tqs");
        EXPECT_EQ(WithoutCr(f->getSource()), text);
    }
}

TEST_F(RoundTrip, NamesPrintInTheSpellingOfTheirDeclaration) {
    // The declaration's spelling wins even below the first use; the
    // declaration's own line is kept as written.
    std::unique_ptr<InterProcField> f =
        CompileProcedure("Sub U(Limit As Long)\n  count = LIMIT\n  Dim Count As Long\n  Print COUNT\nEnd Sub\n", "t.tqs");
    EXPECT_EQ(WithoutCr(f->getSource()),
              "Sub U(Limit As Long)\n  Count = Limit\n  Dim Count As Long\n  Print Count\nEnd Sub\n");
}

}  // namespace
}  // namespace tq::compiler
