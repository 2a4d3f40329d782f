// Expressions and assignment: identifiers and member chains, constants,
// operators, the short-circuit and TypeOf rules, assignment through
// fields and to a function's return value, deep sets, and their failures.
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/model/objval.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Expressions = InterpTest;

int32_t LongOf(const ValuePtr& v) { return v->as<int32_t>(); }

std::string TextOf(const ValuePtr& v) {
    ValString s = v->as<ValString>();
    const char* c = s;
    return c ? c : "";
}

TEST_F(Expressions, TrueAndFalseNeedNoLookupAndAreLongs) {
    Context none(nullptr, 0);
    ValuePtr t = EvalImmediate(none, "True");
    ValuePtr f = EvalImmediate(none, "False");
    EXPECT_EQ(t->type(), IDT_LONG);
    EXPECT_EQ(LongOf(t), -1);
    EXPECT_EQ(LongOf(f), 0);
    // A Sid of True names no identifier: a block holding only these needs
    // no identifier table at all.
    Program p;
    p.block("x = True");
    EXPECT_EQ(p.ids().count(), 1u);
}

TEST_F(Expressions, ArithmeticFollowsTheValuePromotionRules) {
    Context none;
    struct Case {
        const char* text;
        IdType type;
        double value;
    } cases[] = {
        {"1 + 2", IDT_LONG, 3},
        {"2147483647 + 1", IDT_FLOAT, 2147483648.0},
        {"7 / 2", IDT_LONG, 3},
        {"7 \\ 2", IDT_LONG, 3},
        {"7 Mod 2", IDT_LONG, 1},
        {"2 ^ 3", IDT_DOUBLE, 8},
        {"-2 ^ 2", IDT_DOUBLE, -4},
        {"-(-2147483647 - 1)", IDT_FLOAT, 2147483648.0},
        {"1.5 * 2", IDT_DOUBLE, 3},
        {"3 - 5", IDT_LONG, -2},
        {"Not 0", IDT_LONG, -1},
        {"5 And 3", IDT_LONG, 1},
        {"-1 Imp 0", IDT_LONG, 0},
        {"1 < 2", IDT_LONG, -1},
        {"\"10\" < \"9\"", IDT_LONG, -1},
        {"2 = 2.0", IDT_LONG, -1},
    };
    for (const Case& c : cases) {
        ValuePtr v = EvalImmediate(none, c.text);
        EXPECT_EQ(v->type(), c.type) << c.text;
        EXPECT_DOUBLE_EQ(v->as<double>(), c.value) << c.text;
    }
}

TEST_F(Expressions, ConcatenationJoinsTheTextsAndLikeAlwaysFails) {
    Context none;
    ValuePtr v = EvalImmediate(none, "\"a\" & 1");
    EXPECT_EQ(v->type(), IDT_STRING);
    EXPECT_EQ(TextOf(v), "a1");
    EXPECT_EQ(FailureText([&] { EvalImmediate(none, "\"a\" Like \"a\""); }), "LIKE is not implemented.");
}

TEST_F(Expressions, ShortCircuitOperatorsLeaveTheRightOperandAlone) {
    Context none(nullptr, 0);
    // Nowhere is missing, so evaluating it would fail.
    EXPECT_EQ(LongOf(EvalImmediate(none, "0 && Nowhere")), 0);
    EXPECT_EQ(LongOf(EvalImmediate(none, "5 || Nowhere")), -1);
    ValuePtr both = EvalImmediate(none, "7 && 2");
    EXPECT_EQ(both->type(), IDT_LONG);
    EXPECT_EQ(LongOf(both), -1);
    EXPECT_EQ(LongOf(EvalImmediate(none, "0 || 0")), 0);
    EXPECT_EQ(FailureText([&] { EvalImmediate(none, "1 && Nowhere"); }), "Identifier 'Nowhere' was not found");
}

TEST_F(Expressions, TypeOfAsksWhetherTheLeftObjectCanBeTreatedAsTheRight) {
    InterObj shape(named("Shape"));
    InterObj square(InterObjRep::NewNamed("Square", shape.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(square.get(), "Side", IDT_LONG);
    InterObj other(named("Other"));
    Context ctx;
    ValuePtr yes = EvalImmediate(ctx, "TypeOf Square Is Shape");
    EXPECT_EQ(yes->type(), IDT_SHORT);
    EXPECT_EQ(LongOf(yes), -1);
    EXPECT_EQ(LongOf(EvalImmediate(ctx, "TypeOf Shape Is Square")), 0);
    EXPECT_EQ(LongOf(EvalImmediate(ctx, "TypeOf Other Is Shape")), 0);
    EXPECT_EQ(LongOf(EvalImmediate(ctx, "TypeOf Nothing Is Shape")), -1);
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "TypeOf 1 Is Shape"); }), "Object reference expected");
}

TEST_F(Expressions, NamesResolveThroughMeAndStaticObjects) {
    InterObj form(named("Form1"));
    addData(form.get(), "Count", IDT_LONG);
    setLong(form.get(), "Count", 41);
    Context onForm(form.get(), Context::kSearchGlobals);
    EXPECT_EQ(LongOf(EvalImmediate(onForm, "Count + 1")), 42);
    EXPECT_EQ(LongOf(EvalImmediate(onForm, "Form1.Count")), 41);
    Context nowhere(nullptr, Context::kSearchGlobals);
    EXPECT_EQ(LongOf(EvalImmediate(nowhere, "Form1.Count * 2")), 82);
    // Without the global search only scopes and Me answer.
    Context closed(nullptr, 0);
    EXPECT_EQ(FailureText([&] { EvalImmediate(closed, "Form1.Count"); }), "Identifier 'Form1' was not found");
    EXPECT_EQ(FailureText([&] { EvalImmediate(nowhere, "Me"); }), "'Me' is not available in this Context.");
}

TEST_F(Expressions, ATypeSuffixMustMatchTheMembersType) {
    InterObj form(named("Form1"));
    addData(form.get(), "Caption", IDT_STRING);
    Context ctx(form.get(), 0);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "Caption% = 5"); }), "types mismatched for requested operation");
    RunImmediate(ctx, "Caption$ = \"ok\"");
    EXPECT_EQ(getText(form.get(), "Caption"), "ok");
}

TEST_F(Expressions, ADottedNameNeedsAWithObject) {
    InterObj form(named("Form1"));
    addData(form.get(), "Count", IDT_LONG);
    InterObj box(named("Box"));
    addData(box.get(), "Count", IDT_LONG);
    setLong(box.get(), "Count", 7);
    Context ctx(form.get(), 0);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "Count = .Count"); }), "With syntax used outside With block.");
    InterObj previous = ctx.setWithObj(box.get());
    EXPECT_TRUE(previous.isNull());
    EXPECT_TRUE(ctx.flags() & Context::kWithNotMe);
    RunImmediate(ctx, "Count = .Count + 1");
    EXPECT_EQ(getLong(form.get(), "Count"), 8);
    ctx.setWithObj(nullptr);
}

TEST_F(Expressions, AMemberChainNeedsAnObjectAtEveryStep) {
    InterObj form(named("Form1"));
    addData(form.get(), "Count", IDT_LONG);
    addData(form.get(), "Link", IDT_OBJECT);
    InterObj second(named("Second"));
    addData(second.get(), "Count", IDT_LONG);
    setLong(second.get(), "Count", 3);
    setObject(form.get(), "Link", second.get());
    Context ctx;
    EXPECT_EQ(LongOf(EvalImmediate(ctx, "Form1.Link.Count")), 3);
    RunImmediate(ctx, "Form1.Link.Count = 9");
    EXPECT_EQ(getLong(second.get(), "Count"), 9);
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "Form1.Count.Link"); }), "Object reference expected");
    setObject(form.get(), "Link", nullptr);
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "Form1.Link.Count"); }), "object is null");
    // A later piece is a member of the object only: not a static object.
    EXPECT_EQ(FailureText([&] { EvalImmediate(ctx, "Form1.Second"); }), "Identifier 'Second' was not found");
}

TEST_F(Expressions, AssignmentConvertsIntoTheTargetsType) {
    InterObj form(named("Form1"));
    addData(form.get(), "Small", IDT_SHORT);
    addData(form.get(), "Text", IDT_STRING);
    Context ctx(form.get(), 0);
    RunImmediate(ctx, "Small = 3.9");
    EXPECT_EQ(getLong(form.get(), "Small"), 3);
    RunImmediate(ctx, "Let Small = -3.9");
    EXPECT_EQ(getLong(form.get(), "Small"), -3);
    RunImmediate(ctx, "Text = 12 + 30");
    EXPECT_EQ(getText(form.get(), "Text"), "42");
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "Small = \"abc\""); }), "Conversion to type Integer failed");
    EXPECT_EQ(getLong(form.get(), "Small"), -3);
}

TEST_F(Expressions, DeepSetCarriesTheValueToClonesThatStillHadTheOldOne) {
    InterObj form(named("Form1"));
    addData(form.get(), "Color", IDT_LONG);
    setLong(form.get(), "Color", 1);
    InterObj same(InterObjRep::NewNamed("Same", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    InterObj changed(InterObjRep::NewNamed("Changed", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    setLong(changed.get(), "Color", 5);
    Context ctx(form.get(), Context::kSearchGlobals);
    RunImmediate(ctx, "Color := 2");
    EXPECT_EQ(getLong(form.get(), "Color"), 2);
    EXPECT_EQ(getLong(same.get(), "Color"), 2);
    EXPECT_EQ(getLong(changed.get(), "Color"), 5);
    Context outside;
    RunImmediate(outside, "Form1.Color := 3");
    EXPECT_EQ(getLong(same.get(), "Color"), 3);
}

TEST_F(Expressions, DeepSetRefusesFunctionsArraysAndTheReturnValue) {
    InterObj form(named("Form1"));
    addData(form.get(), "Color", IDT_LONG);
    Context ctx(form.get(), 0);
    EXPECT_EQ(FailureText([&] { RunImmediate(ctx, "Color(1) := 2"); }), "Illegal use of deep-set (function or array)");
    Program p;
    p.block("Area := 5");
    auto area = p.function("Area", IDT_LONG);
    Context activation(form.get(), area.get(), Context::kSearchGlobals);
    EXPECT_EQ(FailureText([&] { area->body()->eval(activation); }),
              "Illegal use of deep-set (function return value).");
}

TEST_F(Expressions, AssigningToTheFunctionsNameSetsItsReturnValue) {
    Program p;
    p.block(R"(
        Area = 6 * 7
        Area = 41.9 + 0.2
    )");
    auto area = p.function("Area", IDT_SHORT);
    Context activation(nullptr, area.get(), Context::kSearchGlobals);
    area->body()->eval(activation);
    ValuePtr v = activation.takeReturnValue();
    EXPECT_EQ(v->type(), IDT_SHORT);
    EXPECT_EQ(LongOf(v), 42);
    // A function that never assigns its name returns its type's default.
    Program q;
    q.block("x = 1");
    auto nothing = q.function("Nothing1", IDT_STRING);
    Context again(nullptr, nothing.get(), 0);
    ValuePtr d = again.takeReturnValue();
    EXPECT_EQ(d->type(), IDT_STRING);
    EXPECT_EQ(TextOf(d), "");
}

TEST_F(Expressions, ArgumentListsAreStacksAndByValueListsHoldCopies) {
    InterObj form(named("Form1"));
    addData(form.get(), "A", IDT_LONG);
    setLong(form.get(), "A", 5);
    Context ctx(form.get(), 0);
    Program p;
    ExprPtr call = p.expression("F(A, A + 1)");
    auto block = p.immediate();
    ctx.setEvalTables(&block->identifiers(), nullptr);
    const auto* cid = static_cast<const Cid*>(call.get());
    ValueList byRef = cid->getValueList(ctx, 0);
    ASSERT_EQ(byRef.length(), 2);
    EXPECT_EQ(byRef.at(0)->as<int32_t>(), 6);
    EXPECT_EQ(byRef.at(1)->as<int32_t>(), 5);
    // By reference the first argument is the field itself; by value a copy.
    byRef.at(1)->set(int32_t(9));
    EXPECT_EQ(getLong(form.get(), "A"), 9);
    ValueList byValue = cid->getValueList(ctx, 1);
    byValue.at(1)->set(int32_t(1));
    EXPECT_EQ(getLong(form.get(), "A"), 9);
    ctx.setEvalTables(nullptr, nullptr);
}

TEST_F(Expressions, AFailingStatementReleasesEveryValueItMade) {
    InterObj form(named("Form1"));
    addData(form.get(), "Count", IDT_LONG);
    Context ctx(form.get(), 0);
    const size_t values = Value::LiveCount();
    for (const char* text : {"Count = (1 + 2) * \"x\"", "Count = Count + Missing(1, 2 & 3)",
                             "Count.Caption = 1 + 1", "Count = 1 / 0", "Count = \"a\" Like \"b\""}) {
        EXPECT_NE(FailureText([&] { RunImmediate(ctx, text); }), "no failure") << text;
        EXPECT_EQ(Value::LiveCount(), values) << text;
    }
}

}  // namespace
}  // namespace tq
