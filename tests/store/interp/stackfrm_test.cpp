// Frames and the execution stack: scopes per activation, Exit across loop
// and procedure frames, the native-stack limit on every thread, the
// debugger's view of the stack.
#include <pthread.h>

#include <cstring>
#include <sstream>
#include <string>

#include "store/interp/dbgseam.h"
#include "store/interp/lookcache.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Frames = InterpTest;

TEST_F(Frames, EachActivationGetsFreshLocalsWhileStaticsLastFromCallToCall) {
    InterObj form(named("Form1"));
    addData(form.get(), "Total", IDT_LONG);
    Program p;
    p.block(R"(
        Dim n As Long
        Static s As Long = 10
        n = n + 1
        s = s + 1
        Total = n * 100 + s
    )");
    auto run = p.immediate();
    const BlockRep* body = run->blocks().body();
    for (int i = 1; i <= 3; ++i) {
        Context ctx(form.get(), 0);
        run->eval(ctx, 1);
        EXPECT_EQ(getLong(form.get(), "Total"), 100 + 10 + i);
    }
    // Each activation's clone left its prototype's signature again.
    EXPECT_EQ(body->localVarObj()->signature()->objects().length(), 1u);
}

// ---- Exit -----------------------------------------------------------------------------

struct ExitCase {
    const char* statement;
    FrameType outer, inner;
    bool outerLinked, innerLinked;
};

TEST_F(Frames, ExitUnlinksDownToTheNearestFrameOfItsKind) {
    const ExitCase cases[] = {
        {"Exit For", ForFrame, DoFrame, false, false},
        {"Exit Do", ForFrame, DoFrame, true, false},
        {"Exit Sub", SubFrame, IfFrame, false, false},
        {"Exit Function", FunctionFrame, ForFrame, false, false},
        {"Exit For", ForFrame, ForFrame, true, false},
    };
    for (const ExitCase& c : cases) {
        Program p;
        // What follows the Exit would fail if it ran.
        BlockRep* body = p.makeBlock(std::string(c.statement) + "\nMissing = 1");
        Faultp<BlockRep> keep(body);
        Context ctx(nullptr, 0);
        StackFrame outer(ctx, nullptr, c.outer);
        {
            StackFrame inner(ctx, nullptr, c.inner);
            body->eval(ctx);
            EXPECT_EQ(inner.isLinked(), c.innerLinked) << c.statement;
        }
        EXPECT_EQ(outer.isLinked(), c.outerLinked) << c.statement;
        EXPECT_EQ(ctx.frameCount(), c.outerLinked ? 1 : 0) << c.statement;
        EXPECT_EQ(ExecutionStack::activeFrames(), ctx.frameCount()) << c.statement;
    }
}

TEST_F(Frames, ExitWithoutAFrameOfItsKindInItsOwnContextIsRefused) {
    const std::pair<const char*, const char*> cases[] = {
        {"Exit", "EXIT PROGRAM statement not implemented."},
        {"Exit Function", "EXIT FUNCTION called outside of Function."},
        {"Exit Sub", "EXIT SUB called outside of Subroutine."},
        {"Exit For", "EXIT FOR called outside of For..Loop"},
        {"Exit Do", "EXIT DO called outside of Do..Loop"},
    };
    for (const auto& [statement, message] : cases) {
        Program p;
        BlockRep* body = p.makeBlock(std::string("4: ") + statement);
        Faultp<BlockRep> keep(body);
        // The caller runs every kind of frame; the callee's own context has
        // a Function frame only, which answers none but Exit Function.
        Context caller(nullptr, 0);
        StackFrame f1(caller, nullptr, ForFrame), f2(caller, nullptr, DoFrame), f3(caller, nullptr, SubFrame);
        Context callee(nullptr, 0);
        StackFrame own(callee, nullptr, std::string(statement) == "Exit Function" ? SubFrame : FunctionFrame);
        try {
            body->eval(callee);
            ADD_FAILURE() << statement;
        } catch (const StoreException& e) {
            EXPECT_STREQ(e.what(), message);
            EXPECT_EQ(e.line, 4);
        }
        EXPECT_EQ(ExecutionStack::activeFrames(), 4);
    }
}

// ---- the native stack -------------------------------------------------------------------

// Interpreted recursion: the block's only statement asks for "Again",
// which the global objects answer by running the block once more.
EvalableBlock* recursive = nullptr;
int depthReached = 0;

ValuePtr Again(const char* name, IdType, const ValueList*, int32_t, int& found) {
    found = std::strcmp(name, "Again") == 0;
    if (!found) return ValuePtr();
    ++depthReached;
    Context inner(nullptr, Context::kSearchGlobals);
    recursive->eval(inner, 1);
    return ValuePtr(new LongValue(1));
}

std::string RecurseUntilOverflow() {
    Program p;
    p.block("9: Again = Again");
    auto run = p.immediate();
    recursive = run.get();
    depthReached = 0;
    std::string text = "no failure";
    Context::globalObjects = &Again;
    try {
        Context outer(nullptr, Context::kSearchGlobals);
        run->eval(outer, 1);
    } catch (const StackOverflow& e) {
        text = e.what();
        if (e.line != 9) text += " (line " + std::to_string(e.line) + ")";
    }
    Context::globalObjects = nullptr;
    recursive = nullptr;
    return text;
}

TEST_F(Frames, DeepRecursionEndsWithStackOverflowAndLeavesNoFrameBehind) {
    EXPECT_EQ(RecurseUntilOverflow(), "Stack overflow.");
    EXPECT_GT(depthReached, 50);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
    EXPECT_EQ(LookupCachePool::Used(), 0u);
}

TEST_F(Frames, TheStackLimitHoldsOnThreadsWithSmallStacks) {
    struct Result {
        std::string text;
        int depth = 0;
    } result;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* arg) -> void* {
                      auto* r = static_cast<Result*>(arg);
                      r->text = RecurseUntilOverflow();
                      r->depth = depthReached;
                      return nullptr;
                  },
                  &result),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(result.text, "Stack overflow.");
    EXPECT_GT(result.depth, 5);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0);
}

// ---- the debugger's view --------------------------------------------------------------------

// A debugger that only watches: what the stack looked like before each
// statement.
class Watcher : public DebugHook {
public:
    std::vector<std::string> seen;
    void eval(Context&, int32_t line) override {
        std::ostringstream os;
        ExecutionStack::top()->lineWithArgs(os);
        seen.push_back(std::to_string(line) + " " + os.str());
    }
    int error(Context&, StoreException&) override { return 0; }
    void functionCalled() override {}
    void functionReturned() override {}
};

TEST_F(Frames, EachFrameDescribesItselfForTheCallStackList) {
    Watcher w;
    DebugHook::Install(&w);
    DebugHook::modes = 1;
    InterObj form(named("Form1"));
    addData(form.get(), "x", IDT_LONG);
    Program p;
    p.block(R"(
    3:  x = 1
    4:  x = 2
    9:  End Sub
    )");
    auto sub = p.sub("Main");
    {
        Context ctx(form.get(), sub.get(), 0);
        StackFrame frame(ctx, sub->body(), SubFrame);
        sub->body()->ieval(ctx);
    }
    Context immediate(form.get(), 0);
    RunImmediate(immediate, "5: x = 3");
    DebugHook::Install(nullptr);
    const std::vector<std::string> expected = {std::string("3 Main() at line 3") + '\0',
                                               std::string("4 Main() at line 4") + '\0',
                                               std::string("9 Main() at line 9") + '\0',
                                               std::string("5 Block with no source.") + '\0'};
    EXPECT_EQ(w.seen, expected);
}

TEST_F(Frames, TheIteratorMovesByFrameOrByProcedure) {
    Program a, b;
    a.block("x = 1");
    b.block("x = 1");
    auto procA = a.sub("A");
    auto procB = b.sub("B");
    Context ca(nullptr, procA.get(), 0);
    Context cb(nullptr, procB.get(), 0);
    Context plain(nullptr, 0);
    StackFrame aSub(ca, nullptr, SubFrame), aIf(ca, nullptr, IfFrame);
    StackFrame block(plain, nullptr, BlockFrame);
    StackFrame bSub(cb, nullptr, SubFrame), bFor(cb, nullptr, ForFrame);
    ExecutionStackIterator it;
    EXPECT_EQ(it.current(), &bFor);
    EXPECT_EQ(it.next(ExecutionStackIterator::ESI_SAME), &bFor);
    // From B's innermost frame to the innermost frame of its caller A,
    // past the frame of the plain block between them.
    EXPECT_EQ(it.next(ExecutionStackIterator::ESI_PROCEDURE), &aIf);
    EXPECT_EQ(it.next(ExecutionStackIterator::ESI_PROCEDURE), nullptr);
    EXPECT_EQ(it.current(), &aIf);
    EXPECT_EQ(it.previous(ExecutionStackIterator::ESI_PROCEDURE), &bFor);
    EXPECT_EQ(it.previous(ExecutionStackIterator::ESI_PROCEDURE), nullptr);
    EXPECT_EQ(it.next(ExecutionStackIterator::ESI_ANY), &bSub);
    EXPECT_EQ(it.next(ExecutionStackIterator::ESI_ANY), &block);
    EXPECT_EQ(it.previous(ExecutionStackIterator::ESI_ANY), &bSub);
    EXPECT_EQ(ExecutionStackIterator::topFrame(), &bFor);
    EXPECT_EQ(bFor.position(), 5);
    EXPECT_EQ(aSub.position(), 1);
}

TEST_F(Frames, AnEmptyStackHasNoCursor) {
    ScopedThrowingAsserts asserts;
    ExecutionStackIterator it;
    EXPECT_EQ(it.next(ExecutionStackIterator::ESI_ANY), nullptr);
    EXPECT_ASSERTION(it.current(), "cursor");
}

}  // namespace
}  // namespace tq
