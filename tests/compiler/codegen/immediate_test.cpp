// Immediate mode: statements and expressions compiled on their own and run
// in the context of an object, as the debugger's command line and the REPL
// run them.
#include "tests/compiler/codegen/cgtest.h"

namespace tq::compiler {
namespace {

class Immediate : public CodegenTest {
protected:
    void SetUp() override {
        CodegenTest::SetUp();
        prog_ = object("Program", {"Function Twice(n As Long) As Long\n  Twice = n * 2\nEnd Function"});
        addData(prog_, "Total");
    }
    std::string runStatements(const char* text) {
        CapturedPrint printed;
        DefaultStoreApplication app;
        app.setCurrentPrintable(&printed);
        Context ctx(prog_, Context::kSearchGlobals);
        try {
            CompileStatements(text, "repl")->eval(ctx, 1);
        } catch (const StoreException& e) {
            return printed.text + "error: " + e.what();
        }
        return printed.text;
    }
    ValuePtr value(const char* text) {
        Context ctx(prog_, Context::kSearchGlobals);
        return CompileExpression(text, "repl")->eval(ctx, 1);
    }
    InterObjRep* prog_ = nullptr;
};

TEST_F(Immediate, StatementsRunInTheObjectsContext) {
    EXPECT_EQ(runStatements("Total = Twice(4)\nPrint Total; Me.Total"), "88\n");
    EXPECT_EQ(runStatements("Dim i As Long\nFor i = 1 To 3: Total = Total + i: Next\nPrint Total"), "14\n");
    EXPECT_EQ(runStatements("Print 1: x = 1 \\ 0"), "1\nerror: Division by zero.");
}

TEST_F(Immediate, ExpressionsGiveTheirValues) {
    EXPECT_EQ(value("Twice(5) + 1")->as<int32_t>(), 11);
    EXPECT_STREQ(static_cast<const char*>(value("\"a\" & Len(\"xyz\")")->as<ValString>()), "a3");
}

TEST_F(Immediate, ErrorsAreCompileErrorsWithTheirPositions) {
    EXPECT_THROW(CompileExpression("1 +", "repl"), CompileError);
    try {
        CompileStatements("Print 1\nDim v As Variant", "repl");
        FAIL() << "no error";
    } catch (const CompileError& e) {
        EXPECT_EQ(std::string(e.what()), "repl:2:10: 'Variant' is not supported: give 'v' a type");
    }
}

}  // namespace
}  // namespace tq::compiler
