// Control statements: which body runs, how often, what the loop variable
// holds afterwards, which line a failure reports, what Exit leaves, and
// what With puts back.
#include <cstdlib>
#include <string>

#include "store/arrayfld.h"
#include "store/interp/mathfunc.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

class Control : public InterpTest {
protected:
    void SetUp() override {
        InterpTest::SetUp();
        prog_ = named("Program");
        for (const char* f : {"Result", "Count", "Probes", "V"}) addData(prog_.get(), f, IDT_LONG);
        addData(prog_.get(), "Text", IDT_STRING);
        // A function whose calls are counted: it shows which expressions ran.
        AddProcedure(prog_.get(), "Function Probe(v As Long) As Long\nProbes = Probes + 1\nProbe = v\nEnd Function");
    }
    void TearDown() override {
        prog_->Destroy();
        prog_ = nullptr;
        InterpTest::TearDown();
    }
    // Runs text as a Sub of Program and returns Result.
    int32_t run(const std::string& text) {
        Context ctx(prog_.get(), Context::kSearchGlobals);
        RunImmediate(ctx, text);
        return getLong(prog_.get(), "Result");
    }
    std::string fails(const std::string& text) {
        return FailureText([&] { run(text); });
    }
    int32_t get(const char* f) { return getLong(prog_.get(), f); }
    void set(const char* f, int32_t v) { setLong(prog_.get(), f, v); }

    InterObj prog_;
};

// ---- Select Case ---------------------------------------------------------------------------------

TEST_F(Control, SelectCaseChoosesTheFirstMatchingTestAndEvaluatesNothingAfterIt) {
    AddProcedure(prog_.get(), R"(
        Sub Classify(v As Long)
          Select Case v
            Case 1, 3 To 5, Probe(100)
              Result = 1
            Case Is > 10
              Result = 2
            Case Is = 7, Is <= -1
              Result = 3
            Case 8
            Case Else
              Result = 9
          End Select
        End Sub
    )");
    const struct {
        int32_t value;
        int32_t result;
        int32_t probes;
    } cases[] = {
        {1, 1, 0}, {4, 1, 0}, {5, 1, 0}, {100, 1, 1}, {11, 2, 1}, {7, 3, 1}, {-5, 3, 1}, {6, 9, 1}, {2, 9, 1},
        {8, -1, 1},  // an empty Case body matches and runs nothing, not Case Else
    };
    for (const auto& c : cases) {
        set("Result", -1);
        set("Probes", 0);
        Call(prog_.get(), "Classify", {ValuePtr(new LongValue(c.value))});
        EXPECT_EQ(get("Result"), c.result) << "Select Case " << c.value;
        EXPECT_EQ(get("Probes"), c.probes) << "Select Case " << c.value;
    }
}

TEST_F(Control, SelectCaseComparesTextsAndRunsCaseElseWhenNothingMatches) {
    EXPECT_EQ(run(R"(
        Text = "kiwi"
        Select Case Text
          Case "a" To "j"
            Result = 1
          Case "k" To "p"
            Result = 2
        End Select
    )"),
              2);
    EXPECT_EQ(run(R"(
        Result = 0
        Select Case 3 * 3
          Case 1
            Result = 1
          Case Else
            Result = 5
        End Select
    )"),
              5);
}

// ---- For ----------------------------------------------------------------------------------------

TEST_F(Control, AForLoopLeavesItsVariableAtTheFirstValuePastTheEnd) {
    const struct {
        const char* loop;
        int32_t count;
        int32_t after;
    } cases[] = {
        {"For V = 1 To 0", 0, 1},
        {"For V = 1 To 3", 3, 4},
        {"For V = 10 To 1 Step -3", 4, -2},
        {"For V = 2 To 2", 1, 3},
        {"For V = -1 To 1 Step 2", 2, 3},
    };
    for (const auto& c : cases) {
        run(std::string("Count = 0\n") + c.loop + "\nCount = Count + 1\nNext V");
        EXPECT_EQ(get("Count"), c.count) << c.loop;
        EXPECT_EQ(get("V"), c.after) << c.loop;
    }
}

TEST_F(Control, AStepOfZeroLoopsUntilExitForAndTheBodyMayMoveTheVariable) {
    run(R"(
        Count = 0
        For V = 1 To 5 Step 0
          Count = Count + 1
          If Count = 7 Then Exit For
        Next
    )");
    EXPECT_EQ(get("Count"), 7);
    EXPECT_EQ(get("V"), 1);
    run(R"(
        Count = 0
        For V = 1 To 10
          Count = Count + 1
          V = V + 2
        Next
    )");
    EXPECT_EQ(get("Count"), 4) << "1, 4, 7, 10";
    EXPECT_EQ(get("V"), 13);
}

TEST_F(Control, LoopsRunInTheVariablesOwnType) {
    AddProcedure(prog_.get(), R"(
        Sub Quarters()
          Dim s As Single
          Dim d As Double
          Dim n As Integer
          For s = 0 To 1 Step 0.25
            Count = Count + 1
          Next
          For d = 1.5 To 0 Step -0.5
            Count = Count + 10
          Next
          For n = 32765 To 32767
            Count = Count + 100
          Next
          Result = n
        End Sub
    )");
    set("Count", 0);
    Call(prog_.get(), "Quarters");
    EXPECT_EQ(get("Count"), 5 + 40 + 300);
    EXPECT_EQ(get("Result"), 32767) << "an Integer loop to 32767 ends instead of wrapping round for ever";
}

TEST_F(Control, AForLoopOverATextVariableSaysItIsNotImplementedAndRunsNothing) {
    testing::internal::CaptureStderr();
    run(R"(
        Count = 0
        For Text = 1 To 3
          Count = Count + 1
        Next
    )");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Loop type not implemented.\n");
    EXPECT_EQ(get("Count"), 0);
}

TEST_F(Control, ForEachWalksEmbeddedObjectsAndCopiesButNeedsAGroupForIn) {
    InterObj button(named("Button"));
    addData(button.get(), "Tag", IDT_LONG);
    prog_->addField(new EmbedObjField("One", "Button"));
    prog_->addField(new EmbedObjField("Two", "Button"));
    InterObj clone1(InterObjRep::NewCopy(*button, DETACHED_MODULE, IOT_DYNAMIC));
    InterObj clone2(InterObjRep::NewCopy(*button, DETACHED_MODULE, IOT_DYNAMIC));
    AddProcedure(prog_.get(), R"(
        Sub Walk()
          Dim o As Object
          Count = 0
          For Each o EmbeddedIn Me
            Count = Count + 1
            o.Tag = Count
          Next
          For Each o CopiedFrom Button
            Count = Count + 10
          Next o
        End Sub
    )");
    Call(prog_.get(), "Walk");
    EXPECT_EQ(get("Count"), 2 + 2 * 10 + 20) << "two embedded; the copies are the two embedded and two clones";
    EXPECT_EQ(getLong(getObject(prog_.get(), "One"), "Tag") + getLong(getObject(prog_.get(), "Two"), "Tag"), 3);
    EXPECT_EQ(fails("Dim o As Object\nFor Each o In Me\nNext"), "Expected an object of type 'Group' for 'In' object.");
    EXPECT_EQ(fails("Dim o As Object\nFor Each o EmbeddedIn 3\nNext"), "Object reference expected");
    EXPECT_EQ(fails("Dim o As Object\nFor Each o EmbeddedIn Nothing\nNext"), "object is null");
    clone1->Destroy();
    clone2->Destroy();
}

// ---- Do and While ------------------------------------------------------------------------------

TEST_F(Control, EachLoopFormTestsWhereItIsWritten) {
    const struct {
        const char* text;
        int32_t count;
    } cases[] = {
        {"V = 0\nDo While V < 3\nV = V + 1\nCount = Count + 1\nLoop", 3},
        {"V = 5\nDo While V < 3\nCount = Count + 1\nLoop", 0},
        {"V = 5\nDo\nCount = Count + 1\nLoop While V < 3", 1},
        {"V = 0\nDo Until V = 4\nV = V + 1\nCount = Count + 1\nLoop", 4},
        {"V = 4\nDo\nCount = Count + 1\nLoop Until V = 4", 1},
        {"V = 0\nDo\nV = V + 1\nCount = Count + 1\nIf V = 6 Then Exit Do\nLoop", 6},
        {"V = 0\nWhile V < 2\nV = V + 1\nCount = Count + 1\nWend", 2},
    };
    for (const auto& c : cases) {
        set("Count", 0);
        run(c.text);
        EXPECT_EQ(get("Count"), c.count) << c.text;
    }
}

TEST_F(Control, AFailingConditionOfALoopThatTestsLastReportsItsLoopLine) {
    Program p;
    p.block(R"(
        10: V = 0
        11: Do
        12:   V = V + 1
        13: Loop While 1 / (2 - V) > 0
    )");
    auto b = p.immediate();
    Context ctx(prog_.get(), Context::kSearchGlobals);
    try {
        b->eval(ctx, 1);
        ADD_FAILURE() << "no failure";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "FPE: Floating Point Divide by Zero.");
        EXPECT_EQ(e.line, 13);
    }
    EXPECT_EQ(get("V"), 2);
    // A loop that tests first reports its own line.
    Program q;
    q.block("20: Do While 1 / 0 > 0\n21: Loop");
    auto c = q.immediate();
    try {
        c->eval(ctx, 1);
        ADD_FAILURE() << "no failure";
    } catch (const StoreException& e) {
        EXPECT_EQ(e.line, 20);
    }
}

TEST_F(Control, ExitLeavesTheNearestLoopOfItsKindAndNoOtherProceduresLoops) {
    run(R"(
        Count = 0
        For V = 1 To 3
          Do
            Count = Count + 1
            Exit For
          Loop
        Next
    )");
    EXPECT_EQ(get("Count"), 1) << "Exit For inside Do inside For leaves both";
    run(R"(
        Count = 0
        For V = 1 To 3
          Do
            Count = Count + 1
            Exit Do
          Loop
        Next
    )");
    EXPECT_EQ(get("Count"), 3) << "Exit Do leaves only the Do";
    AddProcedure(prog_.get(), "Sub Leave()\nExit For\nEnd Sub");
    EXPECT_EQ(fails("For V = 1 To 3\nLeave\nNext"), "EXIT FOR called outside of For..Loop");
    EXPECT_EQ(fails("Exit Do"), "EXIT DO called outside of Do..Loop");
}

// ---- If -------------------------------------------------------------------------------------------

TEST_F(Control, IfRunsTheFirstTrueBranchAndEvaluatesNoLaterCondition) {
    AddProcedure(prog_.get(), R"(
        Sub Branch(v As Long)
          If v = 1 Then
            Result = 10
          ElseIf Probe(v) = 2 Then
            Result = 20
          ElseIf Probe(v) > 2 Then
            Result = 30
          Else
            Result = 40
          End If
        End Sub
    )");
    const struct {
        int32_t v, result, probes;
    } cases[] = {{1, 10, 0}, {2, 20, 1}, {5, 30, 2}, {0, 40, 2}};
    for (const auto& c : cases) {
        set("Probes", 0);
        Call(prog_.get(), "Branch", {ValuePtr(new LongValue(c.v))});
        EXPECT_EQ(get("Result"), c.result) << c.v;
        EXPECT_EQ(get("Probes"), c.probes) << c.v;
    }
    EXPECT_EQ(run("If 0 Then Result = 1 Else Result = 2"), 2);
    EXPECT_EQ(run("If \"1\" Then Result = 3 Else Result = 4"), 3) << "truth is the Long conversion";
    EXPECT_EQ(run("Result = 7\nIf False Then Result = 8"), 7);
}

// ---- With -----------------------------------------------------------------------------------------

TEST_F(Control, WithPutsTheEnclosingObjectBackAlsoWhenAFailurePasses) {
    InterObj a(named("A")), b(named("B"));
    addData(a.get(), "v", IDT_LONG);
    addData(b.get(), "v", IDT_LONG);
    run(R"(
        With A
          .v = 1
          Try
            With B
              .v = 2
              V = 1 / 0
            End With
          Catch
          End Try
          .v = .v + 2
        End With
    )");
    EXPECT_EQ(getLong(a.get(), "v"), 3);
    EXPECT_EQ(getLong(b.get(), "v"), 2);
    Context ctx(prog_.get(), Context::kSearchGlobals);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "With B\nV = 1 / 0\nEnd With"); }),
              "FPE: Floating Point Divide by Zero.");
    EXPECT_EQ(ctx.withObj(), nullptr);
    EXPECT_EQ(fails("With 3\nEnd With"), "Object reference expected");
    EXPECT_EQ(fails("With Nothing\nEnd With"), "object is null");
    EXPECT_EQ(fails(".v = 1"), "With syntax used outside With block.");
    a->Destroy();
    b->Destroy();
}

// ---- ReDim and Randomize ------------------------------------------------------------------------------

TEST_F(Control, ReDimResizesAnArrayAndRefusesWhatIsNoArray) {
    InterArrayField* a = InterArrayField::make("A", IDT_LONG, 1);
    a->defineBounds(0, 0, 2);
    prog_->addField(a);
    run(R"(
        A(2) = 9
        ReDim A(1 To 5, 3)
        A(5, 3) = 4
        Result = A(5, 3)
    )");
    auto* resized = static_cast<InterArrayField*>(prog_->findField("A"));
    EXPECT_EQ(resized->dimensions(), 2);
    EXPECT_EQ(resized->getLBound(0), 1);
    EXPECT_EQ(resized->getUBound(0), 5);
    EXPECT_EQ(resized->getUBound(1), 3);
    EXPECT_EQ(get("Result"), 4);
    run("ReDim Preserve A(1 To 6, 3)");
    EXPECT_EQ(static_cast<InterArrayField*>(prog_->findField("A"))->getUBound(0), 6);
    EXPECT_EQ(fails("ReDim Count(3)"), "types mismatched for requested operation");
    // Bounds are computed when the ReDim runs.
    run("V = 4\nReDim A(V - 1 To V * 2)\nA(8) = 7\nResult = A(8) + LBound(A)");
    EXPECT_EQ(get("Result"), 10);
    EXPECT_EQ(static_cast<InterArrayField*>(prog_->findField("A"))->getUBound(0), 8);
    EXPECT_EQ(fails("ReDim A(V - 10)"), "Illegal dimension: 0");
    EXPECT_EQ(static_cast<InterArrayField*>(prog_->findField("A"))->getUBound(0), 8) << "a refused ReDim changes nothing";
}

TEST_F(Control, RandomizeSeedsTheRandomNumbers) {
    run("Randomize 42");
    const int32_t first = RandomNext();
    RandomSeed(42);
    EXPECT_EQ(first, RandomNext());
    run("Randomize");
    EXPECT_EQ(run("Randomize V + 1\nResult = 1"), 1);
}

}  // namespace
}  // namespace tq
