// Source text comes from anywhere: whatever the bytes, reading ends with a
// tree or errors in bounded time and stack.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>

#include "compiler/parser.h"
#include "parsehelp.h"

namespace tq::compiler::testing {
namespace {

void ExpectSound(const SyntaxTree& t) {
    ASSERT_LE(t.errors().size(), kMaxDiagnostics);
    for (size_t i = 1; i < t.errors().size(); ++i) ASSERT_LE(t.errors()[i - 1].pos, t.errors()[i].pos);
    (void)DumpTree(t);
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(Nesting, TenThousandParenthesesAreAnErrorNotAStackOverflow) {
    const std::string text = "x = " + Repeat("(", 10000) + "1" + Repeat(")", 10000);
    EXPECT_EQ(ErrorsOf(text), "t.tqs:1:261: the expression is nested too deeply (more than 256 levels)\n");
    EXPECT_EQ(ErrorsOf("x = " + Repeat("-", 10000) + "y"),
              "t.tqs:1:261: the expression is nested too deeply (more than 256 levels)\n");
    EXPECT_NE(ErrorsOf("x = " + Repeat("f(", 10000) + "1" + Repeat(")", 10000))
                  .find(": the expression is nested too deeply (more than 256 levels)"),
              std::string::npos);
}

TEST(Nesting, JustWithinTheLimitParses) {
    const std::string text = "x = " + Repeat("(", kMaxExprDepth - 1) + "1" + Repeat(")", kMaxExprDepth - 1);
    EXPECT_EQ(ErrorsOf(text), "");
}

TEST(Nesting, TenThousandBlocksStopParsingWithOneError) {
    const std::string ifs = Repeat("If a Then\n", 10000) + Repeat("End If\n", 10000);
    EXPECT_EQ(ErrorsOf(ifs), "t.tqs:128:10: blocks are nested too deeply (more than 128 levels)\n");
    const std::string types = "Begin Object A\n" + Repeat("Type T\n", 10000) + Repeat("End Type\n", 10000) +
                              "End Object\n";
    EXPECT_EQ(ErrorsOf(types, ParseGoal::Module),
              "t.tqs:129:1: objects are nested too deeply (more than 128 levels)\n");
    const std::string lineIfs = Repeat("If a Then ", 10000) + "x";
    EXPECT_EQ(ErrorsOf(lineIfs), "t.tqs:1:1281: blocks are nested too deeply (more than 128 levels)\n");
}

TEST(LongLines, AMegabyteOfOperatorsIsAnErrorInLinearTime) {
    const std::string text = "x = 1" + Repeat(" + 1", 250000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorsOf(text), "t.tqs:1:5: the expression is too complex (more than 1000 levels of operators)\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(LongLines, AMegabyteStringOrArgumentListReads) {
    const std::string big(1 << 20, 'a');
    const SyntaxTree s = ParseStatements("x = \"" + big + "\"", "t");
    ASSERT_TRUE(s.ok());
    auto* a = static_cast<const AssignStmt*>(s.statements()->body->stmts[0]);
    EXPECT_EQ(static_cast<const StringExpr*>(a->value)->text.size(), big.size());
    const SyntaxTree p = ParseStatements("Print 1" + Repeat("; 1", 100000), "t");
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(static_cast<const PrintStmt*>(p.statements()->body->stmts[0])->items.size(), 100001u);
    EXPECT_EQ(ErrorsOf("f " + Repeat("1, ", 70000) + "1"), "t.tqs:1:196606: too many arguments (at most 65535)\n");
}

TEST(LongLines, AMegabyteOfBadBytesGivesOneError) {
    std::string text(1 << 20, '\x01');
    EXPECT_EQ(ErrorsOf(text), "t.tqs:1:1: unexpected byte 0x01\n");
    text.assign(1 << 20, '\0');
    EXPECT_EQ(ErrorsOf(text), "t.tqs:1:1: unexpected byte 0x00\n");
}

TEST(BadBytes, NeverCrashOrBreakTheErrorList) {
    std::mt19937 random(18);
    const std::string alphabet =
        "If Then Else End Sub For Next Do Loop Select Case Begin Object Type Enum Dim As ( ) , : . = \" ' "
        "\n\n\r\n x y 1 2.5 &H1 _ ^ # ? Rem With Try Catch Print \x01\xFF";
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int n = static_cast<int>(random() % 300);
        for (int i = 0; i < n; ++i) {
            if (random() % 4 == 0) {
                text += static_cast<char>(random() % 256);
            } else {
                const size_t at = random() % alphabet.size();
                text.append(alphabet, at, 1 + random() % 6);
            }
        }
        for (ParseGoal goal : {ParseGoal::Module, ParseGoal::Statements, ParseGoal::Expression, ParseGoal::Procedure})
            ExpectSound(Parse(text, "r", goal));
    }
}

TEST(Trees, AreIndependentOfOneAnother) {
    // No state is kept between parses: an error in one tree leaves the next alone.
    const SyntaxTree bad = ParseStatements(Repeat("If a Then\n", 200), "a");
    SyntaxTree good = ParseStatements("If a Then\nEnd If", "b");
    EXPECT_FALSE(bad.ok());
    EXPECT_TRUE(good.ok());
    SyntaxTree moved = std::move(good);
    EXPECT_EQ(moved.fileName(), "b");
    EXPECT_EQ(DumpTree(moved), "1:1 If a {to 2}\n");
}

}  // namespace
}  // namespace tq::compiler::testing
