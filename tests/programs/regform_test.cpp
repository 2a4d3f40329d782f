// The register form against the tree walker (that every program of this
// folder and of examples/ prints and fails the same both ways is the
// driver's rule, programs_test.cpp): the procedures of registerform.tqs are
// really run in register form; a procedure the translator does not take
// still runs; a change to the module drops a form; a watching debugger and
// the user break are honoured.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "programrun.h"

namespace tq::compiler::test {
namespace {

// Replaces (or adds) the procedure of text on obj, as an editor's
// recompilation does.
void CompileProcedureInto(InterObjRep* obj, const char* text) {
    const tModuleIndex previous = ObjectStore::OpenModule(obj->moduleIndex());
    std::unique_ptr<InterProcField> f = CompileProcedure(text, "edit");
    if (obj->findField(f->name())) obj->removeField(f->name());
    obj->addField(f.release());
    ObjectStore::OpenModule(previous);
}

// What a run shows: what it printed, then the failure that escaped, with
// where it arose.
std::string Outcome(InterObjRep* obj, const char* method, StringPrintable& out) {
    std::string failure;
    try {
        int handled = 0;
        obj->evalIMember(method, nullptr, &handled);
    } catch (const StoreException& e) {
        failure = std::string("failure: ") + e.what() + " line " + std::to_string(e.line) + " in " +
                  (e.procedure ? e.procedure->name() : "?") + " of " + StoreException::ObjectName(e.object());
    }
    return out.text + "\n" + failure;
}

// A module loaded from a program file, run with the register form on or
// off.
class RegisterFormRun : public ProgramSuite {
protected:
    // Loads base.tqs afresh and runs method on the object that has it.
    std::string run(const std::string& base, const char* method, bool registerForm) {
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
        RegisterForm::SetEnabled(registerForm);
        DefaultStoreApplication app;
        StringPrintable out;
        app.setCurrentPrintable(&out);
        module_ = ObjectStore::LoadModule(nullptr, 1, 0);
        LoadTextModuleFile(base + ".tqs", module_);
        obj_ = ObjectWith(module_, method);
        if (!obj_) return "no object with " + std::string(method);
        return Outcome(obj_, method, out);
    }

    // The procedure's register form now, and whether the translator
    // refused it.
    RegisterForm* formOf(const char* method, bool& notTaken) {
        auto* proc = dynamic_cast<InterProcField*>(obj_->findField(method));
        notTaken = false;
        return proc ? proc->registerForm().current(notTaken) : nullptr;
    }

    tModuleIndex module_ = 0;
    InterObjRep* obj_ = nullptr;
};

const std::string kEdges = kPrograms + "/registerform";

// Each procedure of registerform.tqs alone: the same output and the same
// failure both ways, and translated (it must not pass by falling back).
class EdgeProcedure : public RegisterFormRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(EdgeProcedure, RunsInRegisterFormWithTheTreeWalkersResult) {
    const char* method = GetParam();
    const std::string tree = run(kEdges, method, false);
    const std::string reg = run(kEdges, method, true);
    EXPECT_EQ(reg, tree);
    bool notTaken = true;
    EXPECT_NE(formOf(method, notTaken), nullptr) << method << " was not translated";
}

INSTANTIATE_TEST_SUITE_P(Procedures, EdgeProcedure,
                         ::testing::Values("Edges", "Texts", "Counting", "Arrays", "Zones", "Choices", "IntegerOverflow",
                                           "FailDivide", "FailDoubleDivide", "FailModulo", "FailIndex",
                                           "FailIndices", "FailConversion", "LongFromDouble",
                                           "FailLoopCondition", "FailRedim", "FailEmptyArray",
                                           "FailOverflowingDouble", "Assignments", "Comparisons", "Steps", "OperandsAfterCalls",
                                           "Elements", "FailOneIndexOfTwo", "FailBelowTheLowerBound",
                                           "FailIntoVariable"));

TEST_F(RegisterFormRun, FailuresNameTheLineOfTheStatementThatFailed) {
    struct Case {
        const char* method;
        int32_t line;
        const char* message;
    };
    // Lines counted from the procedure's header (1); a post-test loop's
    // condition fails on its Loop line.
    const Case cases[] = {
        {"FailDivide", 5, "Division by zero."},
        {"FailDoubleDivide", 4, nullptr},
        {"FailModulo", 3, nullptr},
        {"FailIndex", 4, "Index 4 out of range."},
        {"FailIndices", 3, nullptr},
        {"FailLoopCondition", 5, "Division by zero."},
        {"FailOverflowingDouble", 5, nullptr},
    };
    for (const Case& c : cases) {
        const std::string outcome = run(kEdges, c.method, true);
        EXPECT_NE(outcome.find(" line " + std::to_string(c.line) + " in " + c.method + " of Program"), std::string::npos)
            << c.method << ": " << outcome;
        if (c.message) {
            EXPECT_NE(outcome.find(c.message), std::string::npos) << outcome;
        }
    }
}

// A procedure with a Try block, which the form does not take, runs on the
// tree walker; what it calls runs in register form.
TEST_F(RegisterFormRun, AProcedureTheTranslatorDoesNotTakeRunsOnTheTreeWalker) {
    run(kEdges, "Counting", true);
    CompileProcedureInto(obj_, "Sub Guarded()\n  Try\n    Counting\n    FailDivide\n  Catch\n    Print \"caught\"\n"
                               "  End Try\nEnd Sub\n");
    StringPrintable out;
    DefaultStoreApplication app;
    app.setCurrentPrintable(&out);
    const std::string outcome = Outcome(obj_, "Guarded", out);
    EXPECT_NE(outcome.find("caught"), std::string::npos) << outcome;
    bool notTaken = false;
    EXPECT_EQ(formOf("Guarded", notTaken), nullptr);
    EXPECT_TRUE(notTaken);
    EXPECT_NE(formOf("Counting", notTaken), nullptr);
}

TEST_F(RegisterFormRun, AChangedFieldListDropsTheFormAndTheNextRunMakesAnother) {
    const std::string first = run(kEdges, "Arrays", true);
    bool notTaken = false;
    ASSERT_NE(formOf("Arrays", notTaken), nullptr);
    // A field added to the object: whatever the form resolved may mean
    // something else now.
    obj_->addField(InterDataField::make("Added", IDT_LONG, 1));
    EXPECT_EQ(formOf("Arrays", notTaken), nullptr);
    EXPECT_FALSE(notTaken);
    StringPrintable out;
    DefaultStoreApplication app;
    app.setCurrentPrintable(&out);
    EXPECT_EQ(Outcome(obj_, "Arrays", out), first);
    EXPECT_NE(formOf("Arrays", notTaken), nullptr);
}

TEST_F(RegisterFormRun, EditingAProcedureRunsTheNewText) {
    run(kEdges, "Zones", true);
    bool notTaken = false;
    ASSERT_NE(formOf("Zones", notTaken), nullptr);
    // The procedure replaced by one of another text, as an edit does.
    StringPrintable out;
    DefaultStoreApplication app;
    app.setCurrentPrintable(&out);
    CompileProcedureInto(obj_, "Sub Zones()\n  Dim k As Long\n  k = 41\n  Print k + 1\nEnd Sub\n");
    EXPECT_EQ(Outcome(obj_, "Zones", out), "42\n\n");
}

// A debugger that follows execution gets the tree walker, with its checks
// before every statement.
class WatchingDebugger final : public DebugHook {
public:
    void eval(Context&, int32_t) override { ++statements; }
    int error(Context&, StoreException&) override { return 0; }
    void functionCalled() override {}
    void functionReturned() override {}
    int statements = 0;
};

TEST_F(RegisterFormRun, AWatchingDebuggerKeepsProceduresOnTheTreeWalker) {
    WatchingDebugger debugger;
    DebugHook::Install(&debugger);
    DebugHook::modes = 1;
    const std::string outcome = run(kEdges, "Zones", true);
    DebugHook::Install(nullptr);
    EXPECT_GT(debugger.statements, 5);
    bool notTaken = false;
    EXPECT_EQ(formOf("Zones", notTaken), nullptr);
    EXPECT_EQ(outcome, run(kEdges, "Zones", false));
}

// The host's user break reaches a loop that never ends by itself.
class BreakingApplication final : public DefaultStoreApplication {
public:
    void checkForBreak() override {
        if (++checks == 1000) throw TerminateExecution();
    }
    int checks = 0;
};

// Every kind of loop offers the user break on each turn: Do, a Do whose
// test is a comparison, and For over Long, Integer and Double counters.
// Each would end after a few thousand turns, before the break, if one of
// them did not ask.
class BreakingLoop : public RegisterFormRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(BreakingLoop, TheUserBreakStopsTheLoopAtTheThousandthTurn) {
    UnloadEveryModule();
    BreakingApplication app;
    StringPrintable out;
    app.setCurrentPrintable(&out);
    module_ = ObjectStore::LoadModule(nullptr, 1, 0);
    LoadTextModuleFile(kEdges + ".tqs", module_);
    obj_ = ObjectWith(module_, "Main");
    CompileProcedureInto(obj_, GetParam());
    int handled = 0;
    EXPECT_THROW(obj_->evalIMember("Spin", nullptr, &handled), TerminateExecution);
    EXPECT_EQ(app.checks, 1000);
    bool notTaken = false;
    EXPECT_NE(formOf("Spin", notTaken), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Loops, BreakingLoop,
    ::testing::Values("Sub Spin()\n  Dim n As Long\n  Do\n    n = n + 1\n  Loop\nEnd Sub\n",
                      "Sub Spin()\n  Dim d As Double\n  Do While d < 3000\n    d = d + 0.5\n  Loop\nEnd Sub\n",
                      "Sub Spin()\n  Dim i As Long, n As Long\n  For i = 5000 To 1 Step -1\n"
                      "    n = n + 1\n  Next i\nEnd Sub\n",
                      "Sub Spin()\n  Dim k As Integer, n As Long\n  For k = 1 To 5000\n    n = n + 1\n  Next k\n"
                      "End Sub\n",
                      "Sub Spin()\n  Dim x As Double\n  For x = 0 To 3000 Step 0.5\n  Next x\nEnd Sub\n"));

}  // namespace
}  // namespace tq::compiler::test
