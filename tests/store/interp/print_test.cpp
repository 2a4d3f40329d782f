// Print: what the sink receives and how the default application lays it
// out: zones for commas, joined items for semicolons, Spc and Tab, the line
// end of a statement without a trailing separator, numbers as their string
// conversions.
#include <string>

#include "store/interp/print.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

class Printing : public InterpTest {
protected:
    void SetUp() override {
        InterpTest::SetUp();
        prog_ = named("Program");
        addData(prog_.get(), "N", IDT_LONG);
        addData(prog_.get(), "I", IDT_SHORT);
        addData(prog_.get(), "S", IDT_FLOAT);
        addData(prog_.get(), "D", IDT_DOUBLE);
        addData(prog_.get(), "C", IDT_CURRENCY);
        addData(prog_.get(), "T", IDT_STRING);
    }
    void TearDown() override {
        prog_->Destroy();
        prog_ = nullptr;
        InterpTest::TearDown();
    }
    // What running text prints.
    std::string printed(const std::string& text) {
        PrintingApp app;
        Context ctx(prog_.get(), Context::kSearchGlobals);
        RunImmediate(ctx, text);
        return app.printed.text;
    }
    InterObj prog_;
};

TEST_F(Printing, TheDefaultLayoutPutsCommasInZonesAndJoinsSemicolons) {
    const struct {
        const char* program;
        const char* out;
    } cases[] = {
        {"Print 1; 2", "12\n"},
        {"Print \"a\", \"b\"", "a             b\n"},
        {"Print , \"x\"", "              x\n"},
        {"Print \"12345678901234\", 5", "12345678901234              5\n"},
        {"Print 1;", "1"},
        {"Print 1,", "1             "},
        {"Print", "\n"},
        {"Print \"a\"; Spc(3); \"b\"", "a   b\n"},
        {"Print \"ab\"; Tab(6); \"c\"", "ab   c\n"},
        {"Print \"abcdef\"; Tab(3); \"c\"", "abcdef\n  c\n"},
        {"Print True; False", "-10\n"},
        {"Print 1.5; -3; 2 ^ 40", "1.5-31099511627776\n"},
        {"Print 1\nPrint 2;\nPrint 3", "1\n23\n"},
        {"T = \"x\"\nPrint T & T; 7", "xx7\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(printed(c.program), c.out) << c.program;
}

TEST_F(Printing, NumbersReachTheSinkInTheirOwnType) {
    struct Sink : Printable {
        std::string log;
        void printInteger(int16_t v) override { log += "I" + std::to_string(v) + " "; }
        void printLong(int32_t v) override { log += "L" + std::to_string(v) + " "; }
        void printSingle(float v) override { log += "S" + std::to_string(v) + " "; }
        void printDouble(double v) override { log += "D" + std::to_string(v) + " "; }
        void printString(const char* t, size_t n) override { log += "T" + std::string(t, n) + " "; }
        void space(int16_t n) override { log += "spc" + std::to_string(n) + " "; }
        void tab(int16_t n) override { log += "tab" + std::to_string(n) + " "; }
        void separator(int32_t s) override { log += "sep" + std::to_string(s) + " "; }
        void endOfStatement(int32_t s) override { log += "end" + std::to_string(s); }
    } sink;
    DefaultStoreApplication app;
    app.setCurrentPrintable(&sink);
    Context ctx(prog_.get(), Context::kSearchGlobals);
    RunImmediate(ctx, "I = 3\nN = 4\nS = 0.5\nD = 2\nT = \"x\"\nPrint I; N, S D; T; Spc(2); Tab(N + 1.2);");
    EXPECT_EQ(sink.log,
              "sep2 I3 sep1 L4 sep0 S0.500000 sep2 D2.000000 sep1 Tx sep1 spc2 sep1 tab5 end1");
}

TEST_F(Printing, ATargetWithoutASinkOrANumberAsTargetFails) {
    EXPECT_EQ(FailureText([&] { printed("Me.Print 1"); }), "Identifier 'Print' was not found");
    EXPECT_EQ(FailureText([&] { printed("N.Print 1"); }), "Object reference expected");
    // An object that offers a sink gets the output.
    CapturedPrint window;
    static CapturedPrint* target = &window;
    Print::targetSink = [](InterObjRep* o) -> Printable* { return o && o->name() ? target : nullptr; };
    EXPECT_EQ(printed("Me.Print \"in\"; 2"), "");
    EXPECT_EQ(window.text, "in2\n");
    Print::targetSink = nullptr;
}

TEST_F(Printing, WithoutASinkTheItemsAreStillEvaluated) {
    Context ctx(prog_.get(), Context::kSearchGlobals);
    EXPECT_EQ(StoreApplication::GetCurrentPrintable(), nullptr);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "Print 1 / 0"); }), "FPE: Floating Point Divide by Zero.");
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "Print 1"); }), "no failure");
}

TEST_F(Printing, SpcAndTabTakeTheirCountsWithinBounds) {
    EXPECT_EQ(printed("Print Spc(0); \"a\"; Spc(-4); \"b\""), "ab\n");
    EXPECT_EQ(printed("Print Tab(0); \"a\"; Tab(1); \"b\""), "a\nb\n");
    EXPECT_EQ(printed("Print \"abc\", Tab(15); \"d\""), "abc           d\n");
}

}  // namespace
}  // namespace tq
