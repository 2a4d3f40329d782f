#include "compiler/deadsrc.h"

#include <gtest/gtest.h>

#include <string>

#include "compiler/parse.h"

namespace tq::compiler {
namespace {

std::string Shown(const std::vector<DeadLine>& lines) {
    std::string out;
    for (const DeadLine& d : lines)
        out += std::to_string(d.pos.line) + ":" + std::to_string(d.pos.column) + " " +
               std::to_string(static_cast<int>(d.kind)) + " [" + std::string(d.text) + "]\n";
    return out;
}

TEST(DeadSource, HoldsTheHeaderDeclarationsCatchLinesAndCommentsInLineOrder) {
    const SyntaxTree t = ParseProcedure(
        "Sub Work(x As Long)   ' header note\n"
        "  '   indented note   \n"
        "  Dim y As Long, z  ' after a declaration\n"
        "  If x Then\n"
        "    Static n As Long : n = 1\n"
        "  End If\n"
        "  Try\n"
        "  Catch E(a As Long)  'why\n"
        "    Const k = 1\n"
        "  End Try : Rem done\n"
        "End Sub\n",
        "p");
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(Shown(DeadSourceOf(*t.procedure())),
              "1:1 1 [Sub Work(x As Long)]\n"
              "1:23 3 [header note]\n"
              "2:3 3 [indented note]\n"
              "3:3 1 [Dim y As Long, z]\n"
              "3:21 3 [after a declaration]\n"
              "5:5 1 [Static n As Long]\n"
              "8:3 1 [Catch E(a As Long)]\n"
              "8:23 3 [why]\n"
              "9:5 1 [Const k = 1]\n"
              "10:13 2 [done]\n");
}

TEST(DeadSource, OfImmediateStatementsHasNoHeader) {
    const SyntaxTree t = ParseStatements("Dim a ' x\nPrint a", "s");
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(Shown(DeadSourceOf(*t.statements())), "1:1 1 [Dim a]\n1:7 3 [x]\n");
}

}  // namespace
}  // namespace tq::compiler
