// Try, Catch and Throw: which clause catches, what its parameters receive,
// rethrowing, and what passes every Catch.
#include <string>

#include "store/interp/trycatch.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

class Exceptions : public InterpTest {
protected:
    void SetUp() override {
        InterpTest::SetUp();
        prog_ = named("Program");
        for (const char* f : {"Result", "N", "M"}) addData(prog_.get(), f, IDT_LONG);
        addData(prog_.get(), "Text", IDT_STRING);
    }
    void TearDown() override {
        prog_->Destroy();
        prog_ = nullptr;
        InterpTest::TearDown();
    }
    void run(const std::string& text) {
        Context ctx(prog_.get(), Context::kSearchGlobals);
        RunImmediate(ctx, text);
    }
    std::string fails(const std::string& text) {
        return FailureText([&] { run(text); });
    }
    int32_t get(const char* f) { return getLong(prog_.get(), f); }

    InterObj prog_;
};

TEST_F(Exceptions, AnUnnamedCatchTakesEveryExceptionAndANamedOneOnlyItsName) {
    run(R"(
        Try
          Result = 1 / 0
        Catch
          Result = 5
        End Try
    )");
    EXPECT_EQ(get("Result"), 5);
    run(R"(
        Try
          Throw Oops
        Catch Other
          Result = 1
        Catch Oops
          Result = 2
        Catch
          Result = 3
        End Try
    )");
    EXPECT_EQ(get("Result"), 2);
    // No clause of the inner Try matches: the outer one catches.
    run(R"(
        Try
          Try
            Throw Oops
          Catch Other
            Result = 1
          End Try
          Result = 9
        Catch Oops
          Result = 4
        End Try
    )");
    EXPECT_EQ(get("Result"), 4);
    EXPECT_EQ(fails("Try\nThrow Oops\nCatch Other\nEnd Try"), "Oops");
}

TEST_F(Exceptions, ACatchTakesTheThrownArgumentsInTheirOrderAsCopies) {
    run(R"(
        N = 7
        Try
          Throw Bad(N, "seven", 2)
        Catch Bad(a As Long, b As String, c As Long)
          N = 0
          Result = a * 10 + c
          Text = b
        End Try
    )");
    EXPECT_EQ(get("Result"), 72);
    EXPECT_EQ(getText(prog_.get(), "Text"), "seven");
    // The system's exceptions hand their particulars the same way.
    run(R"(
        Try
          Text = Missing
        Catch NotFound(what As String)
          Text = what
        End Try
    )");
    EXPECT_EQ(getText(prog_.get(), "Text"), "Missing");
    // A Catch that takes no parameters runs whatever the exception carries.
    run("Result = 0\nTry\nThrow Bad(1, 2)\nCatch\nResult = 3\nEnd Try");
    EXPECT_EQ(get("Result"), 3);
}

TEST_F(Exceptions, AThrownExceptionCarriesItsNameFlagsAndArguments) {
    try {
        run("Throw Custom(1, \"two\")");
        ADD_FAILURE() << "no failure";
    } catch (const InterpretiveException& e) {
        EXPECT_STREQ(e.name(), "Custom");
        EXPECT_STREQ(e.what(), "Custom");
        EXPECT_EQ(e.flags & kInterpretiveFlag, kInterpretiveFlag);
        auto args = e.args();
        ASSERT_EQ(args->length(), 2);
        EXPECT_EQ(args->at(0)->as<int32_t>(), 1);
        EXPECT_EQ(std::string(args->at(1)->as<ValString>()), "two");
        EXPECT_EQ(e.line, 1);
    }
}

TEST_F(Exceptions, ABareThrowRethrowsInsideACatchAndFailsOutsideOne) {
    EXPECT_EQ(fails("Throw"), "Attempt to rethrow an exception outside a Catch block");
    EXPECT_EQ(fails("Try\nThrow\nCatch\nEnd Try"), "no failure") << "in a Try body it is a failure like any other";
    try {
        run(R"(
            1: Try
            2:   Try
            3:     N = 1 / 0
            4:   Catch
            5:     M = 1
            6:     Throw
            7:   End Try
            8: Catch Other
            9: End Try
        )");
        ADD_FAILURE() << "no failure";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "FPE: Floating Point Divide by Zero.");
        EXPECT_EQ(e.line, 3) << "the rethrown exception keeps the line where it arose";
    }
    EXPECT_EQ(get("M"), 1);
    run(R"(
        Try
          Try
            Throw First
          Catch First
            Throw
          End Try
        Catch First
          Result = 11
        End Try
    )");
    EXPECT_EQ(get("Result"), 11);
}

TEST_F(Exceptions, AFailureInsideACatchBodyPassesOn) {
    EXPECT_EQ(fails("Try\nThrow A\nCatch\nThrow B\nEnd Try"), "B");
    EXPECT_EQ(fails("Try\nThrow A\nCatch\nN = 1 / 0\nEnd Try"), "FPE: Floating Point Divide by Zero.");
}

TEST_F(Exceptions, ExecutionControlPassesEveryCatch) {
    // Stop without a debugger ends the run; a Catch of everything must not
    // keep the program from ending.
    EXPECT_THROW(run("Try\nStop\nCatch\nResult = 1\nEnd Try"), TerminateExecution);
    EXPECT_EQ(get("Result"), 0);
}

TEST_F(Exceptions, AnExceptionFromACalledProcedureReachesTheCallersTry) {
    AddProcedure(prog_.get(), R"(
        Sub Deep(n As Long)
          If n = 0 Then Throw Bottom(42)
          Deep n - 1
        End Sub
    )");
    run(R"(
        Try
          Deep 5
        Catch Bottom(v As Long)
          Result = v
        End Try
    )");
    EXPECT_EQ(get("Result"), 42);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
}

}  // namespace
}  // namespace tq
