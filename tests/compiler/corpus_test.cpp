// The corpus of text modules in tests/compiler/corpus covers every
// statement, expression and declaration form with comments in every
// position and odd spacing; later it drives the round trips through the
// store. Here: every file reads without error, its printed text reads back
// to the same tree, and together the files use every form.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "parsehelp.h"
#include "textform.h"

namespace tq::compiler::testing {
namespace {

namespace fs = std::filesystem;

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

TEST(Corpus, EveryFileReadsWithoutErrors) {
    const auto files = CorpusFiles();
    ASSERT_GE(files.size(), 7u);
    for (const auto& f : files) {
        const SyntaxTree t = ParseModule(Read(f), f.filename().string());
        EXPECT_TRUE(t.ok()) << FormatDiagnostics(t.errors());
    }
}

TEST(Corpus, EveryFilesPrintedTextReadsBackToTheSameTree) {
    for (const auto& f : CorpusFiles()) {
        const SyntaxTree first = ParseModule(Read(f), f.filename().string());
        ASSERT_TRUE(first.ok()) << f;
        const std::string printed = PrintTree(first);
        const SyntaxTree second = ParseModule(printed, "printed");
        ASSERT_TRUE(second.ok()) << f << "\n" << printed << FormatDiagnostics(second.errors());
        EXPECT_EQ(ShapeOf(second), ShapeOf(first)) << f << "\n" << printed;
    }
}

TEST(Corpus, CrlfLineEndsReadAsLf) {
    const std::string crlf = Read(fs::path(TQ_SOURCE_DIR) / "tests/compiler/corpus/crlf.tqs");
    ASSERT_NE(crlf.find("\r\n"), std::string::npos);
    std::string lf;
    for (char c : crlf)
        if (c != '\r') lf += c;
    EXPECT_EQ(DumpTree(ParseModule(crlf, "x")), DumpTree(ParseModule(lf, "x")));
}

TEST(Corpus, CoversEveryForm) {
    std::set<std::string> seen;
    for (const auto& f : CorpusFiles()) {
        const SyntaxTree t = ParseModule(Read(f), "c");
        const auto forms = FormsOf(t);
        seen.insert(forms.begin(), forms.end());
    }
    std::vector<std::string> want = {
        "stmt:Assign", "stmt:Call", "stmt:Exit", "stmt:Stop", "stmt:If", "stmt:Select", "stmt:Do",
        "stmt:For", "stmt:Print", "stmt:Randomize", "stmt:Redim", "stmt:Try", "stmt:Throw", "stmt:With",
        "stmt:Decl", "assign:plain", "assign:Let", "assign:Set", "assign:deep", "call:Bare", "call:Call",
        "call:SendEvent", "exit:Plain", "exit:Function", "exit:Sub", "exit:For", "exit:Do", "if:line",
        "if:block", "if:ElseIf", "if:Else", "case:Else", "loop:Step", "for:Step", "for:NextNamed",
        "print:target", "print:#target", "print:empty", "print:item1", "print:item2", "print:item3",
        "print:sep0", "print:sep1", "print:sep2", "print:last0", "print:last1", "print:last2",
        "randomize:seed", "randomize:plain", "redim:Preserve", "catch:any", "catch:name", "catch:params",
        "throw:name", "throw:rethrow", "decl:Dim", "decl:Static", "decl:Const", "decl:Protected",
        "decl:array", "decl:suffix", "decl:New", "expr:Name", "expr:Call", "expr:Member", "expr:Integer",
        "expr:Double", "expr:String", "expr:Nothing", "expr:Bool", "expr:Binary", "expr:Unary",
        "expr:Intrinsic", "expr:parens", "name:Me", "name:dotted", "name:()", "callexpr:parens",
        "callexpr:bare", "callexpr:Me", "integer:radix8", "integer:radix10", "integer:radix16",
        "unary:-", "unary:Not", "builtin:$", "object:Begin", "object:Type", "object:From",
        "member:Event", "member:Declare", "member:DeclareAlias", "member:Initial", "member:InitialDeep",
        "member:Sub", "member:Function", "member:Static", "param:ByVal", "param:ByRef", "param:array",
        "param:Strictly", "module:Enum",
    };
    want.erase(std::find(want.begin(), want.end(), "loop:Step"));
    for (int i = 1; i <= 8; ++i) want.push_back("case:" + std::to_string(i));
    for (int i = 3; i <= 8; ++i) want.push_back("loop:" + std::to_string(i));
    for (int i = 0; i <= 3; ++i) want.push_back("for:" + std::to_string(i));
    for (int i = 1; i <= 6; ++i) want.push_back("name:suffix" + std::to_string(i));
    for (const char* op : {"+", "-", "*", "/", "\\", "^", "Mod", "&", "=", "<>", ">", "<", ">=", "<=", "Like",
                           "And", "Or", "Xor", "Imp", "Eqv", "TypeOf", "&&", "||", "Is"})
        want.push_back(std::string("binary:") + op);
    for (int b = 0; b <= static_cast<int>(Builtin::IIf); ++b)
        want.push_back("builtin:" + std::string(InfoOf(static_cast<Builtin>(b)).spelling));
    for (const std::string& w : want) EXPECT_TRUE(seen.count(w)) << "no corpus program uses " << w;
}

// Cut short anywhere, a program still reads to errors, never to a crash.
TEST(Corpus, EveryPrefixOfEveryFileReadsSoundly) {
    for (const auto& f : CorpusFiles()) {
        const std::string text = Read(f);
        for (size_t n = 0; n < text.size(); n += 5) {
            const SyntaxTree t = ParseModule(std::string_view(text).substr(0, n), "p");
            ASSERT_LE(t.errors().size(), kMaxDiagnostics);
        }
    }
}

}  // namespace
}  // namespace tq::compiler::testing
