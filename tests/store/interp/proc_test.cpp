// Procedures and method calls: programs that compute something, arguments
// by value and by reference, return values, Exit, failures with their
// line, object and procedure, recursion to exhaustion, and what the object
// model hands to procedures (property procedures, events, preloads, calls
// on other objects).
#include <string>

#include "store/arrayfld.h"
#include "store/interp/dbgseam.h"
#include "store/interp/lookcache.h"
#include "store/methfld.h"
#include "store/model/intfld.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Procedures = InterpTest;

ValuePtr Long(int32_t v) { return ValuePtr(new LongValue(v)); }

void AddArray(InterObjRep* o, const char* name, IdType type, int32_t lower, int32_t upper) {
    InterArrayField* a = InterArrayField::make(name, type, 1);
    a->defineBounds(0, lower, upper);
    o->addField(a);
}

TEST_F(Procedures, ARecursiveFunctionComputesFibonacci) {
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), kFibSource);
    EXPECT_EQ(Call(prog.get(), "Fib", {Long(16)})->as<int32_t>(), 987);
    EXPECT_EQ(Call(prog.get(), "Fib", {Long(1)})->as<int32_t>(), 1);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
}

TEST_F(Procedures, BubbleSortOrdersAnArrayField) {
    InterObj prog(named("Sorter"));
    AddArray(prog.get(), "A", IDT_LONG, 1, 8);
    AddProcedure(prog.get(), R"(
        Sub Fill()
          Dim i As Long
          For i = 1 To 8
            A(i) = (i * 37) Mod 11
          Next i
        End Sub
    )");
    AddProcedure(prog.get(), R"(
        Sub Sort(n As Long)
          Dim i As Long
          Dim j As Long
          Dim t As Long
          For i = 1 To n - 1
            For j = 1 To n - i
              If A(j) > A(j + 1) Then
                t = A(j)
                A(j) = A(j + 1)
                A(j + 1) = t
              End If
            Next j
          Next i
        End Sub
    )");
    Call(prog.get(), "Fill");
    Call(prog.get(), "Sort", {Long(8)});
    std::string order;
    for (int32_t i = 1; i <= 8; ++i) order += std::to_string(Element(prog.get(), "A", i)->as<int32_t>()) + " ";
    EXPECT_EQ(order, "1 2 4 5 6 8 9 10 ");
}

TEST_F(Procedures, ByReferenceArgumentsWriteBackAndByValueOnesDoNot) {
    InterObj prog(named("Program"));
    addData(prog.get(), "Count", IDT_LONG);
    addData(prog.get(), "Total", IDT_LONG);
    addData(prog.get(), "Kept", IDT_LONG);
    AddArray(prog.get(), "A", IDT_LONG, 0, 3);
    AddProcedure(prog.get(), R"(
        Sub Bump(a As Long, ByVal b As Long)
          a = a + 1
          b = b + 100
        End Sub
    )");
    AddProcedure(prog.get(), R"(
        Sub Main()
          Dim x As Long
          Dim y As Long
          x = 1
          y = 1
          Bump x, y
          Total = x * 10 + y
          Count = 5
          Kept = 7
          Bump Count, Kept
          A(2) = 40
          A(3) = 50
          Call Bump(A(2), A(3))
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(prog.get(), "Total"), 21) << "the local x changed, y did not";
    EXPECT_EQ(getLong(prog.get(), "Count"), 6) << "a field by reference";
    EXPECT_EQ(getLong(prog.get(), "Kept"), 7) << "a field by value";
    EXPECT_EQ(Element(prog.get(), "A", 2)->as<int32_t>(), 41) << "an array element by reference";
    EXPECT_EQ(Element(prog.get(), "A", 3)->as<int32_t>(), 50) << "an array element by value";
}

TEST_F(Procedures, ArgumentsBindInTheOrderTheyAreWritten) {
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), R"(
        Function Join(a As String, b As String, c As Long) As String
          Join = a & "-" & b & "-" & c
        End Function
    )");
    ValuePtr v = Call(prog.get(), "Join", {ValuePtr(new StringValue(ValString("x"))),
                                           ValuePtr(new StringValue(ValString("y"))), Long(3)});
    EXPECT_EQ(std::string(v->as<ValString>()), "x-y-3");
    // A temporary of another type is converted for its parameter.
    v = Call(prog.get(), "Join", {Long(1), Long(2), ValuePtr(new DoubleValue(4.0))});
    EXPECT_EQ(std::string(v->as<ValString>()), "1-2-4");
}

TEST_F(Procedures, AFunctionThatNeverAssignsReturnsItsTypesDefault) {
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), "Function Nothing1() As Long\nEnd Function");
    AddProcedure(prog.get(), "Function Nothing2() As String\nEnd Function");
    AddProcedure(prog.get(), "Function Nothing3() As Double\nEnd Function");
    ValuePtr l = Call(prog.get(), "Nothing1");
    EXPECT_EQ(l->type(), IDT_LONG);
    EXPECT_EQ(l->as<int32_t>(), 0);
    ValuePtr s = Call(prog.get(), "Nothing2");
    EXPECT_EQ(s->type(), IDT_STRING);
    const ValString text = s->as<ValString>();
    const char* c = text;
    EXPECT_TRUE(c == nullptr || *c == '\0');
    EXPECT_EQ(Call(prog.get(), "Nothing3")->type(), IDT_DOUBLE);
}

TEST_F(Procedures, ExitInsideLoopsReturnsNormallyWithTheValueSoFar) {
    InterObj prog(named("Program"));
    addData(prog.get(), "After", IDT_LONG);
    AddProcedure(prog.get(), R"(
        Function FirstOver(limit As Long) As Long
          Dim i As Long
          Dim r As Long
          Do
            i = i + 1
            r = i * i
            FirstOver = r
            If r > limit Then Exit Function
          Loop
        End Function
    )");
    AddProcedure(prog.get(), R"(
        Sub Leave()
          Dim i As Long
          For i = 1 To 10
            While True
              After = i
              If i = 3 Then Exit Sub
              Exit Do
            Wend
          Next
          After = -1
        End Sub
    )");
    EXPECT_EQ(Call(prog.get(), "FirstOver", {Long(50)})->as<int32_t>(), 64);
    // Exit Do leaves a While loop; Exit Sub leaves every loop of the Sub.
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "Leave"); }), "no failure");
    EXPECT_EQ(getLong(prog.get(), "After"), 3);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
}

TEST_F(Procedures, WrongCallsFailWithTheirMessages) {
    InterObj prog(named("Program"));
    addData(prog.get(), "x", IDT_LONG);
    AddProcedure(prog.get(), "Sub NoArgs()\nEnd Sub");
    AddProcedure(prog.get(), "Sub TwoArgs(a As Long, b As Long)\nEnd Sub");
    AddProcedure(prog.get(), "Sub IntArg(ByVal a As Integer)\nEnd Sub");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "NoArgs", {Long(1)}); }), "Too many arguments");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "TwoArgs", {Long(1)}); }), "Not enough arguments");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "TwoArgs", {Long(1), Long(2), Long(3)}); }), "Too many arguments");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "IntArg", {ValuePtr(new StringValue(ValString("abc")))}); }),
              "Conversion to type Integer failed");
    // A Sub where a value is needed, a procedure as an assignment's target.
    Context ctx(prog.get(), Context::kSearchGlobals);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "x = NoArgs"); }), "A return value was expected for identifier.");
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "NoArgs = 1"); }),
              "Call to procedure is illegal as left operand of assignment.");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "Missing"); }), "Identifier 'Missing' was not found");
}

TEST_F(Procedures, AFailureCarriesItsLineObjectAndProcedureAndLeavesTheStoreAsItWas) {
    InterObj prog(named("Program"));
    InterObj other(named("Other"));
    addData(prog.get(), "Count", IDT_LONG);
    addData(other.get(), "Seen", IDT_LONG);
    AddProcedure(other.get(), R"(
        Sub Divide(by As Long)
          Seen = 1
          Seen = Seen / by
        End Sub
    )");
    AddProcedure(prog.get(), R"(
        Sub Main()
          Count = 5
          Count = Count + 1
          Other.Divide 0
          Count = 100
        End Sub
    )");
    try {
        Call(prog.get(), "Main");
        ADD_FAILURE() << "no failure";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "FPE: Floating Point Divide by Zero.");
        EXPECT_EQ(e.line, 4) << "the line of the innermost statement";
        EXPECT_EQ(e.object(), other.get());
        ASSERT_NE(e.procedure, nullptr);
        EXPECT_STREQ(e.procedure->name(), "Divide");
    }
    EXPECT_EQ(getLong(prog.get(), "Count"), 6);
    EXPECT_EQ(getLong(other.get(), "Seen"), 1);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
    EXPECT_EQ(LookupCachePool::Used(), 0u);
}

TEST_F(Procedures, RecursionToExhaustionEndsInStackOverflowAndLeavesNothingBehind) {
    InterObj prog(named("Program"));
    const size_t objects = InterObjRep::LiveCount();
    const size_t values = Value::LiveCount();
    AddProcedure(prog.get(), R"(
        Function Deep(n As Long) As Long
          Dim local As String
          local = "level " & n
          Deep = Deep(n + 1)
        End Function
    )");
    const size_t withDeep = InterObjRep::LiveCount();
    try {
        Call(prog.get(), "Deep", {Long(1)});
        ADD_FAILURE() << "no failure";
    } catch (const StackOverflow& e) {
        EXPECT_STREQ(e.what(), "Stack overflow.");
        EXPECT_EQ(e.line, 5) << "the call that could not push its frame";
    }
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
    EXPECT_EQ(LookupCachePool::Used(), 0u);
    EXPECT_EQ(Value::LiveCount(), values);
    EXPECT_EQ(InterObjRep::LiveCount(), withDeep) << "no level's locals or arguments outlive the failed call";
    // The program still runs afterwards.
    AddProcedure(prog.get(), "Function One() As Long\nOne = 1\nEnd Function");
    EXPECT_EQ(Call(prog.get(), "One")->as<int32_t>(), 1);
    // With the procedures gone (their parameters, blocks and the argument
    // objects they keep for later calls), every level's objects are gone.
    prog->removeField("Deep");
    prog->removeField("One");
    EXPECT_EQ(InterObjRep::LiveCount(), objects);
}

TEST_F(Procedures, ArgumentObjectsKeptBetweenCallsStartEveryCallAfresh) {
    InterObj prog(named("Program"));
    addData(prog.get(), "Text", IDT_STRING);
    AddProcedure(prog.get(), R"(
        Function Walk(ByVal s As String, o As Object, ByVal n As Long) As String
          Dim mine As String
          mine = mine & s
          If n > 0 Then mine = mine & Walk(s & n, o, n - 1)
          Walk = mine & "."
        End Function
    )");
    AddProcedure(prog.get(), "Sub Main()\nText = Walk(\"a\", Me, 3) & Walk(\"b\", Me, 1)\nEnd Sub");
    const size_t objects = InterObjRep::LiveCount();
    Call(prog.get(), "Main");
    EXPECT_EQ(getText(prog.get(), "Text"), "aa3a32a321....bb1..");
    // The argument objects a run keeps for its calls end with the run.
    EXPECT_EQ(InterObjRep::LiveCount(), objects);
    Call(prog.get(), "Main");
    EXPECT_EQ(getText(prog.get(), "Text"), "aa3a32a321....bb1..");
}

TEST_F(Procedures, AProcedureWithoutCodeDoesNotCompileCorrectly) {
    InterObj prog(named("Program"));
    prog->addField(new InterProcField("Draft", "Sub Draft()\n  x = \nEnd Sub\n"));
    prog->addField(new InterFuncField("Guess", InterDataField::make("Guess", IDT_LONG, 1), "Function Guess("));
    IdDynamicVector ids;
    BlockDynamicVector none;
    prog->addField(new InterProcField("Empty", ids, none));
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "Draft"); }), "Subroutine 'Draft' does not compile correctly.");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "Guess"); }), "Function 'Guess' does not compile correctly.");
    EXPECT_EQ(FailureText([&] { Call(prog.get(), "Empty"); }), "Subroutine 'Empty' does not compile correctly.");
    EXPECT_EQ(static_cast<MethodField*>(prog->findField("Draft"))->getSource(), "Sub Draft()\n  x = \nEnd Sub\n");
}

TEST_F(Procedures, ParametersAreCountedAndCopiedWithTheProcedure) {
    Program p;
    InterProcField* f = p.procedure(R"(
        Sub Three(a As Long, ByVal b As String, c As Double)
          a = c
        End Sub
    )");
    FieldPtr keep(f);
    EXPECT_EQ(f->parmCount(), 3);
    FieldPtr copy(f->clone());
    auto* c = static_cast<InterProcField*>(copy.get());
    EXPECT_EQ(c->parmCount(), 3);
    EXPECT_NE(c->parameterPrototype(), f->parameterPrototype());
    EXPECT_NE(c->body(), f->body());
    InterObj prog(named("Program"));
    addData(prog.get(), "X", IDT_LONG);
    prog->addField(c);
    Context ctx(prog.get(), Context::kSearchGlobals);
    RunImmediate(ctx, "Three X, \"s\", 2");
    EXPECT_EQ(getLong(prog.get(), "X"), 2);
}

TEST_F(Procedures, TheNearestSourceLineLooksThroughEveryBlock) {
    Program p;
    InterProcField* f = p.procedure(R"(
        Sub Lines()
          Dim i As Long
          For i = 1 To 2
            i = i
          Next
          i = 3
        End Sub
    )");
    FieldPtr keep(f);
    EXPECT_EQ(f->getNearestSourceLine(0), 4);
    EXPECT_EQ(f->getNearestSourceLine(5), 5);
    EXPECT_EQ(f->getNearestSourceLine(6), 6) << "the For body's end line";
    EXPECT_EQ(f->getNearestSourceLine(8), 8) << "End Sub";
    EXPECT_EQ(f->getNearestSourceLine(9), -1);
}

// ---- what the object model hands to procedures ----------------------------------------------

TEST_F(Procedures, PropertyProceduresRunForReadsAndWrites) {
    InterObj obj(named("Thing"));
    addData(obj.get(), "store", IDT_LONG);
    obj->addField(new TypedInterProcDataField<int32_t, IDT_LONG>("Value", "SetValue", "GetValue"));
    AddProcedure(obj.get(), "Function GetValue() As Long\nGetValue = store * 2\nEnd Function");
    AddProcedure(obj.get(), "Sub SetValue(v As Long)\nstore = v + 1\nEnd Sub");
    Context ctx(obj.get(), Context::kSearchGlobals);
    RunImmediate(ctx, "Value = 20");
    EXPECT_EQ(getLong(obj.get(), "store"), 21);
    EXPECT_EQ(EvalImmediate(ctx, "Value")->as<int32_t>(), 42);
    EXPECT_EQ(obj->eval("Value")->as<int32_t>(), 42);
}

TEST_F(Procedures, EventsRunTheObjectsHandlerThenItsHostsAndSendEventRaisesThem) {
    InterObj button(named("Button"));
    addData(button.get(), "Clicks", IDT_LONG);
    button->addEventDef(new EventDef("Click", 0, "(times As Long)", 1));
    AddProcedure(button.get(), "Sub Click(times As Long)\nClicks = Clicks + times\nEnd Sub");
    AddProcedure(button.get(), "Sub Press()\nSendEvent Click(2)\nEnd Sub");
    InterObj form(named("Form1"));
    addData(form.get(), "Heard", IDT_LONG);
    form->addField(new EmbedObjField("Button1", "Button"));
    AddProcedure(form.get(), "Sub Button1_Click(times As Long)\nHeard = Heard + times * 10\nEnd Sub");
    AddProcedure(form.get(), "Sub Go()\nSendEvent Button1.Click(3)\nEnd Sub");
    InterObj embedded;
    ASSERT_TRUE(ObjectStore::find("Form1.Button1", embedded));

    Call(embedded.get(), "Press");
    EXPECT_EQ(getLong(embedded.get(), "Clicks"), 2);
    EXPECT_EQ(getLong(form.get(), "Heard"), 20);
    Call(form.get(), "Go");
    EXPECT_EQ(getLong(embedded.get(), "Clicks"), 5);
    EXPECT_EQ(getLong(form.get(), "Heard"), 50);
    // Events the store raises find the same handlers.
    ValueList args{Long(4)};
    embedded->evalIEvent("Click", &args, 1);
    EXPECT_EQ(getLong(form.get(), "Heard"), 90);
    // An event nobody defined is a failure, not a quiet no-op; the standard
    // events need no definition.
    Context ctx(form.get(), Context::kSearchGlobals);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "SendEvent Button1.Clik(1)"); }),
              "Event 'Clik' has not been registered.");
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "SendEvent Attach"); }), "no failure");
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "SendEvent Nowhere.Click(1)"); }),
              "Identifier 'Nowhere' was not found");
}

TEST_F(Procedures, PreloadMembersRunWhenTheModuleNotifiesItsPreloads) {
    const tModuleIndex m = openModule();
    InterObj first(named("First"));
    addData(first.get(), "Loaded", IDT_LONG);
    AddProcedure(first.get(), "Sub Preload()\nLoaded = Loaded + 1\nEnd Sub");
    EXPECT_TRUE(ObjectStore::IsPreload(first.get()));
    ObjectStore::NotifyPreloads(m);
    EXPECT_EQ(getLong(first.get(), "Loaded"), 1);
    first->Destroy();
    first = nullptr;
    closeModule(m);
}

TEST_F(Procedures, AMethodCalledOnAnotherObjectRunsWithThatObjectAsMe) {
    InterObj counter(counterObject("Counter"));
    InterObj prog(named("Program"));
    addData(prog.get(), "Count", IDT_LONG);
    AddProcedure(prog.get(), R"(
        Sub Main()
          Dim i As Long
          For i = 1 To 100
            Counter.Add i
          Next i
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(counter.get(), "Count"), 100);
    EXPECT_EQ(counter->eval("Total")->as<double>(), 5050.0);
    EXPECT_EQ(getLong(prog.get(), "Count"), 0) << "the caller's own Count is not Counter's";
}

TEST_F(Procedures, AProtectedFieldAnswersItsOwnMethodsButNotCallersFromOutside) {
    InterObj vault(named("Vault"));
    InterDataField* secret = InterDataField::make("Secret", IDT_LONG, 1);
    secret->setFlags(Field::kProtected);
    vault->addField(secret);
    AddProcedure(vault.get(), "Function Peek() As Long\nSecret = 7\nPeek = Secret\nEnd Function");
    InterObj prog(named("Program"));
    addData(prog.get(), "Got", IDT_LONG);
    Context ctx(prog.get(), Context::kSearchGlobals);
    RunImmediate(ctx, "Got = Vault.Peek");
    EXPECT_EQ(getLong(prog.get(), "Got"), 7);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "Got = Vault.Secret"); }), "Protection violation");
}

// ---- the debugger's notices ------------------------------------------------------------------------

class CountingHook : public DebugHook {
public:
    void eval(Context&, int32_t) override {}
    int error(Context&, StoreException&) override { return 0; }
    void functionCalled() override { ++depth, ++calls; }
    void functionReturned() override { --depth; }
    int depth = 0;
    int calls = 0;
};

TEST_F(Procedures, TheDebuggerIsToldOfEveryEntryAndExitAlsoWhenACallFails) {
    CountingHook hook;
    DebugHook::Install(&hook);
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), "Function Twice(n As Long) As Long\nTwice = n * 2\nEnd Function");
    AddProcedure(prog.get(), "Sub Fails()\nDim x As Long\nx = Twice(1) / 0\nEnd Sub");
    EXPECT_EQ(Call(prog.get(), "Twice", {Long(3)})->as<int32_t>(), 6);
    EXPECT_EQ(hook.calls, 1);
    EXPECT_EQ(hook.depth, 0);
    EXPECT_NE(FailureText([&] { Call(prog.get(), "Fails"); }), "no failure");
    EXPECT_EQ(hook.calls, 3);
    EXPECT_EQ(hook.depth, 0) << "the failing call was reported as returned";
    EXPECT_NE(FailureText([&] { Call(prog.get(), "Twice", {Long(1), Long(2)}); }), "no failure");
    EXPECT_EQ(hook.depth, 0);
    DebugHook::Install(nullptr);
}

}  // namespace
}  // namespace tq
