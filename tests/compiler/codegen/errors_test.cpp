// What the generator refuses, reported like the parser's errors: file,
// line and column of the fault, all of them, in source order.
#include "tests/compiler/codegen/cgtest.h"

namespace tq::compiler {
namespace {

using GeneratorErrors = CodegenTest;

TEST_F(GeneratorErrors, EachRefusalNamesItsPosition) {
    const struct {
        const char* procedure;
        const char* message;
    } cases[] = {
        {"Sub A()\n  Dim x As Long\n  Dim X As String\nEnd Sub", "test.tqs:3:7: 'X' is already declared in this procedure"},
        {"Sub A(x As Long)\n  Dim x As Long\nEnd Sub", "test.tqs:2:7: 'x' is already declared in this procedure"},
        {"Sub A(x As Long, x As Long)\nEnd Sub", "test.tqs:1:18: 'x' is already declared in this procedure"},
        {"Sub A()\n  Dim v As Variant\nEnd Sub", "test.tqs:2:12: 'Variant' is not supported: give 'v' a type"},
        {"Sub A()\n  Dim n As Long\n  Dim a(n) As Long\nEnd Sub",
         "test.tqs:3:9: the bounds of an array must be whole numbers written out"},
        {"Sub A()\n  Dim a(5 To 1) As Long\nEnd Sub", "test.tqs:2:7: Illegal dimension: 0"},
        {"Sub A()\n  Const C = Len(x)\nEnd Sub", "test.tqs:2:13: a constant's value must be worked out from literals alone"},
        {"Function F()\n  Dim f As Long\nEnd Function", "test.tqs:2:7: 'f' is already declared in this procedure"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorsOf(c.procedure), c.message) << c.procedure;
}

TEST_F(GeneratorErrors, AllErrorsOfAProcedureComeTogetherInOrder) {
    const std::string text =
        errorsOf("Sub A()\n  Dim v As Variant\n  x = 1\n  Dim x As Long, x As Long\n  Const c = y\nEnd Sub");
    EXPECT_EQ(text,
              "test.tqs:2:12: 'Variant' is not supported: give 'v' a type\n"
              "test.tqs:4:18: 'x' is already declared in this procedure\n"
              "test.tqs:5:13: a constant's value must be worked out from literals alone");
}

TEST_F(GeneratorErrors, ParseErrorsAreThrownAsOneCompileError) {
    try {
        CompileProcedure("Sub A()\n  If x Then\n  Next\nEnd Sub", "p.tqs");
        FAIL() << "no error";
    } catch (const CompileError& e) {
        ASSERT_GE(e.errors().size(), 1u);
        EXPECT_EQ(e.file(), "p.tqs");
        EXPECT_EQ(e.sourceLine(), 3u);
        EXPECT_STREQ(e.name(), "CompileError");
        EXPECT_EQ(e.messageId(), CompileError::kMessageId);
        std::unique_ptr<ValueList> args = e.args();
        EXPECT_EQ(args->length(), 4);
        // A StoreException to everyone who does not know the class.
        const StoreException& base = e;
        EXPECT_NE(std::string(base.what()).find("p.tqs:3:"), std::string::npos);
    }
}

TEST_F(GeneratorErrors, UnknownTypeNamesAreRefusedWhereTheModuleKnowsItsTypes) {
    CodegenOptions options;
    options.isPrototypeName = [](std::string_view n) { return n == "Shape"; };
    EXPECT_NO_THROW(CompileProcedure("Sub A(s As Shape)\nEnd Sub", "t.tqs", options));
    try {
        CompileProcedure("Sub A(s As Shapes)\n  Dim t As Strictly Circle\nEnd Sub", "t.tqs", options);
        FAIL() << "no error";
    } catch (const CompileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "t.tqs:1:12: unknown type 'Shapes': no enumeration or object of that name\n"
                  "t.tqs:2:12: unknown type 'Circle': no enumeration or object of that name");
    }
}

TEST_F(GeneratorErrors, LimitsOfTheStoredCodeAreReported) {
    // An expression deeper than a module file may hold.
    std::string sum = "Sub A()\n  x = 1";
    for (int i = 0; i < 600; ++i) sum += " + 1";
    sum += "\nEnd Sub";
    EXPECT_NE(errorsOf(sum.c_str()).find("test.tqs:2:"), std::string::npos);
    EXPECT_NE(errorsOf(sum.c_str()).find("nested too deeply"), std::string::npos);

    // More names than an identifier table holds.
    std::string names = "Sub A()\n";
    for (int i = 0; i < 32770; ++i) names += "n" + std::to_string(i) + " = 0\n";
    names += "End Sub";
    EXPECT_EQ(errorsOf(names.c_str()), "test.tqs:32769:1: too many names in one procedure (at most 32767)");
}

}  // namespace
}  // namespace tq::compiler
