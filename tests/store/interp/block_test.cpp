// Blocks and the statement dispatcher: what running a block leaves behind,
// where a failure records its line, object and procedure, how Stop and the
// debugger meet, immediate evaluation, copies, and the builders' bytes.
#include <cstring>
#include <sstream>
#include <string>

#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/dbgseam.h"
#include "store/interp/ident.h"
#include "store/interp/lookcache.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Blocks = InterpTest;

std::string Hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        if (i) out += ' ';
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

TEST_F(Blocks, AnEmptyBlockRunsNothingAndLeavesNoTrace) {
    Program p;
    p.block("");
    auto run = p.immediate();
    EXPECT_EQ(run->blocks().body()->nodeCount(), 0u);
    EXPECT_EQ(run->blocks().body()->byteLength(), 0u);
    Context ctx;
    const size_t objects = InterObjRep::LiveCount();
    run->eval(ctx, 1);
    EXPECT_EQ(ctx.frameCount(), 0);
    EXPECT_EQ(ctx.scopeCount(), 0u);
    EXPECT_EQ(InterObjRep::LiveCount(), objects);
    EXPECT_EQ(ctx.getLastNodeExeLine(), -1);
}

// Nesting without control statements: the global object "Inner<n>" runs
// block n, so a statement of block 1 runs block 2, whose statement runs
// block 3.
std::vector<EvalableBlock*> nested;

ValuePtr RunsInner(const char* name, IdType, const ValueList*, int32_t, int& found) {
    found = std::strncmp(name, "Inner", 5) == 0;
    if (!found) return ValuePtr();
    EvalableBlock* b = nested.at(static_cast<size_t>(name[5] - '1'));
    Context inner(nullptr, Context::kSearchGlobals);
    b->eval(inner, 1);
    return ValuePtr(new LongValue(0));
}

TEST_F(Blocks, AFailureThreeBlocksDeepCarriesTheInnermostLine) {
    Program one, two, three;
    one.block("10: x = 1 + Inner2");
    two.block(R"(
            Dim y As Long
        20: y = 1
        21: y = Inner3
    )");
    three.block(R"(
            Dim z As Long
        30: z = 1 / 0
    )");
    auto b1 = one.immediate(), b2 = two.immediate(), b3 = three.immediate();
    nested = {b1.get(), b2.get(), b3.get()};
    Context::globalObjects = &RunsInner;
    InterObj form(named("Form1"));
    for (const char* name : {"x", "y", "z"}) addData(form.get(), name, IDT_LONG);
    try {
        Context outer(form.get(), Context::kSearchGlobals);
        b1->eval(outer, 1);
        ADD_FAILURE();
    } catch (const FPException& e) {
        EXPECT_STREQ(e.what(), "FPE: Floating Point Divide by Zero.");
        EXPECT_EQ(e.line, 30);
        EXPECT_TRUE(e.handled);
        // The innermost statement ran with no Me and no procedure.
        EXPECT_EQ(e.object(), nullptr);
        EXPECT_EQ(e.procedure, nullptr);
    }
    Context::globalObjects = nullptr;
    nested.clear();
}

TEST_F(Blocks, AFailureRecordsTheObjectAndProcedureOfItsStatement) {
    InterObj form(named("Form1"));
    addData(form.get(), "Count", IDT_LONG);
    Program p;
    p.block(R"(
    5:  Count = 1
    6:  Count = Count / 0
    )");
    auto main = p.sub("Main");
    try {
        Context ctx(form.get(), main.get(), Context::kSearchGlobals);
        main->body()->eval(ctx);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_EQ(e.line, 6);
        EXPECT_EQ(e.object(), form.get());
        EXPECT_EQ(e.procedure, main.get());
    }
    EXPECT_EQ(getLong(form.get(), "Count"), 1);
}

// A debugger that takes every failure and records what it was asked.
class Taker : public DebugHook {
public:
    bool take = true;
    std::vector<std::string> calls;
    void eval(Context&, int32_t line) override { calls.push_back("eval " + std::to_string(line)); }
    int error(Context&, StoreException& e) override {
        calls.push_back(std::string("error ") + e.name() + " " + std::to_string(e.line));
        return take;
    }
    void functionCalled() override {}
    void functionReturned() override {}
};

TEST_F(Blocks, StopEndsTheRunWhenNoDebuggerTakesIt) {
    InterObj form(named("Form1"));
    addData(form.get(), "x", IDT_LONG);
    Context ctx(form.get(), 0);
    Program p;
    p.block(R"(
    1:  x = 1
    2:  Stop
    3:  x = 3
    )");
    auto run = p.immediate();
    EXPECT_THROW(run->eval(ctx, 1), TerminateExecution);
    EXPECT_EQ(getLong(form.get(), "x"), 1);
    // A debugger that takes the pause runs its break loop there, and the
    // block goes on with the next statement.
    Taker t;
    DebugHook::Install(&t);
    run->eval(ctx, 1);
    DebugHook::Install(nullptr);
    EXPECT_EQ(getLong(form.get(), "x"), 3);
    EXPECT_EQ(t.calls, (std::vector<std::string>{"error PauseExecution 2", "eval 2"}));
}

TEST_F(Blocks, TheDebuggerIsAskedBeforeEveryStatementOnlyWhileItsModesAreSet) {
    InterObj form(named("Form1"));
    addData(form.get(), "x", IDT_LONG);
    Context ctx(form.get(), 0);
    Program p;
    p.block(R"(
    1:  x = 1
    2:  x = x / 0
    3:  x = 3
    8:  End
    )");
    auto run = p.immediate();
    Taker t;
    DebugHook::Install(&t);
    EXPECT_THROW(run->eval(ctx, 1), FPException);
    EXPECT_TRUE(t.calls.size() == 2) << t.calls.size();
    t.calls.clear();
    DebugHook::modes = 0x8;
    // The failure is offered once, at its own statement, and stops there;
    // then it goes on as it would without the debugger.
    EXPECT_THROW(run->eval(ctx, 1), FPException);
    DebugHook::Install(nullptr);
    EXPECT_EQ(t.calls, (std::vector<std::string>{"eval 1", "eval 2", "error FPException 2", "eval 2"}));
    EXPECT_EQ(getLong(form.get(), "x"), 1);
}

TEST_F(Blocks, TerminationPassesEveryStatementUnchanged) {
    InterObj form(named("Form1"));
    addData(form.get(), "x", IDT_LONG);
    Program p;
    p.block("4: x = Quit");
    auto main = p.sub("Main");
    Taker t;
    DebugHook::Install(&t);
    Context ctx(form.get(), main.get(), Context::kSearchGlobals);
    Context::globalObjects = [](const char*, IdType, const ValueList*, int32_t, int&) -> ValuePtr {
        throw TerminateExecution();
    };
    try {
        main->body()->eval(ctx);
        ADD_FAILURE();
    } catch (const TerminateExecution& e) {
        EXPECT_EQ(e.line, -1);
        EXPECT_FALSE(e.handled);
    }
    Context::globalObjects = nullptr;
    DebugHook::Install(nullptr);
    EXPECT_TRUE(t.calls.empty());
}

TEST_F(Blocks, AnImmediateBlockThatFailsWithoutPropagationReturns) {
    InterObj form(named("Form1"));
    addData(form.get(), "x", IDT_LONG);
    Context ctx(form.get(), 0);
    Program p;
    p.block(R"(
        x = 1
    12: x = Missing
        x = 2
    )");
    auto run = p.immediate();
    run->eval(ctx, 0);
    EXPECT_EQ(getLong(form.get(), "x"), 1);
    EXPECT_EQ(ctx.getLastNodeExeLine(), 12);
    EXPECT_EQ(ctx.evalIds(), nullptr);
    Program q;
    auto noValue = q.immediateExpression("x");
    EXPECT_EQ(noValue->eval(ctx, 1)->as<int32_t>(), 1);
}

TEST_F(Blocks, ABlockRunWithArgumentsBindsThemToItsParameters) {
    InterObj form(named("Form1"));
    addData(form.get(), "Total", IDT_LONG);
    Program p;
    p.block(R"(
        Param a As Long
        Param b As Long
        Total = a * 10 + b
    )");
    auto run = p.immediate();
    BlockRep* body = run->blocks().body();
    Context ctx(form.get(), 0);
    ctx.setEvalTables(&run->identifiers(), &run->blocks());
    ValueList args;
    args.ppush(ValuePtr(new LongValue(1)));
    args.ppush(ValuePtr(new LongValue(2)));
    body->eval(ctx, &args);
    // Arguments are a stack: the last pushed binds to the first parameter.
    EXPECT_EQ(getLong(form.get(), "Total"), 21);
    ValueList tooMany = args;
    tooMany.ppush(ValuePtr(new LongValue(3)));
    EXPECT_EQ(FailureText([&] { body->eval(ctx, &tooMany); }), "Too many arguments");
    ctx.setEvalTables(nullptr, nullptr);
}

TEST_F(Blocks, ACopyHasVariablesOfItsOwn) {
    InterObj form(named("Form1"));
    addData(form.get(), "Total", IDT_LONG);
    Program p;
    p.block(R"(
        Static s As Long = 5
        s = s + 1
        Total = s
    )");
    auto original = p.sub("Main");
    auto copy = std::unique_ptr<InterProcField>(static_cast<InterProcField*>(original->clone()));
    EXPECT_NE(copy->body(), original->body());
    EXPECT_EQ(std::memcmp(copy->body()->nodes(), original->body()->nodes(), original->body()->byteLength()), 0);
    EXPECT_NE(copy->body()->staticVarObj(), original->body()->staticVarObj());
    for (InterProcField* proc : {original.get(), copy.get(), original.get()}) {
        Context ctx(form.get(), proc, 0);
        proc->body()->eval(ctx);
    }
    EXPECT_EQ(getLong(form.get(), "Total"), 7);
    Context ctx(form.get(), copy.get(), 0);
    copy->body()->eval(ctx);
    EXPECT_EQ(getLong(form.get(), "Total"), 7);
}

TEST_F(Blocks, TheNearestSourceLineIsTheSmallestStatementLineAtOrAfterTheOneAsked) {
    Program p;
    BlockRep* b = p.makeBlock(R"(
    3:  x = 1
    7:  x = 2
    5:  x = 3
    12: End
    )");
    Faultp<BlockRep> keep(b);
    auto nearest = [b](int32_t line, int32_t best) {
        b->getNearestSourceLine(line, best);
        return best;
    };
    EXPECT_EQ(nearest(1, 0), 3);
    EXPECT_EQ(nearest(4, 0), 5);
    EXPECT_EQ(nearest(6, 0), 7);
    EXPECT_EQ(nearest(8, 0), 12);
    EXPECT_EQ(nearest(13, 0), 0);
    EXPECT_EQ(nearest(4, 6), 5);
    EXPECT_EQ(nearest(6, 7), 7);
    std::ostringstream os;
    b->printOn(os);
    EXPECT_EQ(os.str(), "BlockRep: count(1) descriptor(254:0)\n");
}

// The nodes' bytes are the module file's: each builder's layout, exactly.
TEST_F(Blocks, BuildersLayOutTheirNodesByteForByte) {
    Program p;
    p.id("a");
    p.id("b");
    struct Case {
        const char* text;
        const char* bytes;
    } cases[] = {
        {"b", "01 00 0a 00 00 00 00 00 01 00"},
        {"b$", "01 00 0a 00 00 00 00 06 01 00"},
        {"True", "01 00 0a 00 00 00 00 00 ff ff"},
        {"b(7)", "02 00 17 00 00 00 02 00 01 00 01 00 04 00 0b 00 00 00 00 07 00 00 00"},
        {"Me(2)", "02 00 17 00 00 00 0a 00 ff ff 01 00 04 00 0b 00 00 00 00 02 00 00 00"},
        {"a.b", "03 00 1d 00 00 00 00 02 00 01 00 0a 00 00 00 00 00 00 00 01 00 0a 00 00 00 00 00 01 00"},
        {"-1", "08 00 13 00 00 00 00 00 04 00 0b 00 00 00 00 01 00 00 00"},
        {"(a)", "01 00 0a 00 00 00 01 00 00 00"},
        {"\"x\"\"\"", "06 00 0e 00 00 00 00 03 00 00 00 78 22 00"},
        {"2.5", "05 00 0f 00 00 00 00 00 00 00 00 00 00 04 40"},
        {"&H10", "04 00 0b 00 00 00 20 10 00 00 00"},
        {"Nothing", "0c 00 07 00 00 00 00"},
        {"a && b",
         "07 00 1c 00 00 00 00 15 01 00 0a 00 00 00 00 00 00 00 01 00 0a 00 00 00 00 00 01 00"},
    };
    for (const Case& c : cases) {
        ExprPtr e = p.expression(c.text);
        EXPECT_EQ(Hex(e->bytes(), e->size()), c.bytes) << c.text;
    }
    StmtPtr let = Assignment::make(9, Assignment::FORM_LET | Assignment::FORM_DEEP_SET, p.expression("a"),
                                   p.expression("b"));
    EXPECT_EQ(Hex(let->bytes(), let->size()),
              "01 00 23 00 00 00 28 09 00 00 00 09 00 00 00 "
              "01 00 0a 00 00 00 00 00 00 00 01 00 0a 00 00 00 00 00 01 00");
    StmtPtr exitFor = Exiter::make(3, Exiter::EXIT_FOR);
    EXPECT_EQ(Hex(exitFor->bytes(), exitFor->size()), "04 00 13 00 00 00 00 03 00 00 00 03 00 00 00 03 00 00 00");
    auto pair = ExprNodePair::make(nullptr, p.expression("b"));
    EXPECT_EQ(Hex(pair->bytes(), pair->size()),
              "01 00 19 00 00 00 00 00 00 00 00 0f 00 00 00 01 00 0a 00 00 00 00 00 01 00");
    EXPECT_EQ(pair->first(), nullptr);
    EXPECT_EQ(pair->second()->type(), EXPR_SID);
}

TEST_F(Blocks, BuildersRefuseWhatNoBlockCouldHold) {
    ScopedThrowingAsserts asserts;
    Program p;
    EXPECT_THROW(ExprNode::convertToComplex(p.expression("1"), Cid::make(nullptr)), IllegalConversion);
    EXPECT_ASSERTION(p.expression("1")->markAsDotted(), "Illegal ExprNode type for markAsDotted");
    EXPECT_ASSERTION(Mid::make(p.expression("a"), p.expression("1")),
                     "nextPiece->type() == EXPR_CID || nextPiece->type() == EXPR_SID");
    EXPECT_ASSERTION(Assignment::make(1, 0, p.expression("1"), p.expression("2")), "target->isIdentifier()");
    auto cid = Cid::make(nullptr);
    cid->defineBaseId(Sid::make(0));
    EXPECT_ASSERTION(cid->defineBaseId(Sid::make(1)), "idx == -1");
    // Nesting a stored block could not hold is refused when the block is
    // made, not when it is read back.
    ExprPtr deep = LongConstant::make(1);
    for (int i = 0; i < 600; ++i) deep = UnaryOp::make(UNOP_NOT, std::move(deep));
    BlockBuildRep b;
    b.addExecNode(Assignment::make(1, 0, Sid::make(0), std::move(deep)));
    EXPECT_EQ(FailureText([&] { BlockRep::New(b); }),
              "The block cannot be made: new block: expressions nest deeper than 512 at offset 4121");
    // A unary minus folds into a numeric literal only.
    ExprPtr n = p.expression("5");
    EXPECT_EQ(n->negate(), 1);
    EXPECT_EQ(static_cast<LongConstant*>(n.get())->value(), -5);
    EXPECT_EQ(p.expression("a")->negate(), 0);
}

TEST_F(Blocks, AChainEndingInANameBecomesOneEndingInACall) {
    Program p;
    ExprPtr chain = p.expression("a.b.c");
    auto call = Cid::make(LongConstant::make(1));
    ExprPtr converted = ExprNode::convertToComplex(std::move(chain), std::move(call));
    EXPECT_EQ(converted->type(), EXPR_MID);
    ExprPtr expected = p.expression("a.b.c(1)");
    const auto* last = static_cast<const Mid*>(expected.get())->lastPiece();
    ASSERT_EQ(converted->size(), expected->size());
    const auto* mine = static_cast<const Mid*>(converted.get())->lastPiece();
    EXPECT_EQ(mine->type(), EXPR_CID);
    EXPECT_EQ(static_cast<const Cid*>(mine)->idIndex(), static_cast<const Cid*>(last)->idIndex());
    EXPECT_EQ(static_cast<const Cid*>(mine)->argCount(), 1);
}

}  // namespace
}  // namespace tq
