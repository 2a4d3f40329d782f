// Contexts: the order in which names resolve, the lookup cache (who gets
// one, what it remembers, when it forgets), Me, With and the return value.
#include <string>

#include "store/interp/ident.h"
#include "store/interp/lookcache.h"
#include "store/model/objval.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Contexts = InterpTest;

// A block that names n distinct identifiers (x0 ... x{n-1}, declared as
// locals), as the body of a Sub.
std::unique_ptr<InterProcField> SubWithNames(int n) {
    std::string text;
    for (int i = 0; i < n - 1; ++i) text += "Dim x" + std::to_string(i) + " As Long\n";
    text += "Dim x" + std::to_string(n - 1) + " As Long\n";
    text += "x0 = 1\n";
    Program p;
    for (int i = 0; i < n; ++i) p.id(("x" + std::to_string(i)).c_str());
    p.block(text);
    auto sub = p.sub("x0");
    EXPECT_EQ(sub->identifiers().count(), static_cast<uint32_t>(n));
    return sub;
}

TEST_F(Contexts, AnActivationGetsACacheOnlyForTablesUpToTheLimit) {
    auto hundred = SubWithNames(100);
    auto hundredOne = SubWithNames(101);
    const int32_t before = Context::GetLookupCacheLength();
    {
        Context a(nullptr, hundred.get(), Context::kSearchGlobals);
        EXPECT_EQ(a.cacheLength(), 100u);
        EXPECT_EQ(Context::GetLookupCacheLength(), before + 100);
        Context b(nullptr, hundredOne.get(), Context::kSearchGlobals);
        EXPECT_EQ(b.cacheLength(), 0u);
        EXPECT_EQ(Context::GetLookupCacheLength(), before + 100);
        // Both run the same either way.
        hundred->body()->eval(a);
        hundredOne->body()->eval(b);
    }
    EXPECT_EQ(Context::GetLookupCacheLength(), before);
}

TEST_F(Contexts, NestedActivationsThatOverflowThePoolRunUncached) {
    const int32_t savedMax = Context::lookupCacheMax;
    Context::lookupCacheMax = 1000;
    auto big = SubWithNames(400);
    {
        Context a(nullptr, big.get(), 0);
        Context b(nullptr, big.get(), 0);
        EXPECT_EQ(Context::GetLookupCacheLength(), 800);
        {
            // 800 + 400 would pass the pool's 1,000 slots.
            Context c(nullptr, big.get(), 0);
            EXPECT_EQ(c.cacheLength(), 0u);
            big->body()->eval(c);
            EXPECT_EQ(Context::GetLookupCacheLength(), 800);
        }
        EXPECT_EQ(Context::GetLookupCacheLength(), 800);
    }
    EXPECT_EQ(Context::GetLookupCacheLength(), 0);
    // The pool keeps one slot free: 1,000 slots in one request do not fit,
    // 999 do, and then not one more.
    {
        auto all = SubWithNames(1000);
        Context d(nullptr, all.get(), 0);
        EXPECT_EQ(d.cacheLength(), 0u);
        auto most = SubWithNames(999);
        Context e(nullptr, most.get(), 0);
        EXPECT_EQ(e.cacheLength(), 999u);
        auto one = SubWithNames(1);
        Context f(nullptr, one.get(), 0);
        EXPECT_EQ(f.cacheLength(), 0u);
    }
    Context::lookupCacheMax = savedMax;
}

TEST_F(Contexts, ACachedNameIsFoundAgainWithoutASearch) {
    InterObj form(named("Form1"));
    addData(form.get(), "Count", IDT_LONG);
    Program p;
    const int16_t count = p.id("Count");
    p.block("Count = Count + 1");
    auto sub = p.sub("Main");
    Context ctx(form.get(), sub.get(), 0);
    int found = 0;
    ValuePtr first = ctx.eval(static_cast<uint32_t>(count), IDT_UNTYPED, nullptr, EVAL_VALUE_REQUIRED, found);
    EXPECT_EQ(found, 1);
    // A search would make a new member; the cache gives the same one back.
    ValuePtr again = ctx.eval(static_cast<uint32_t>(count), IDT_UNTYPED, nullptr, EVAL_VALUE_REQUIRED, found);
    EXPECT_EQ(again.get(), first.get());
    again->set(int32_t(12));
    EXPECT_EQ(getLong(form.get(), "Count"), 12);
}

TEST_F(Contexts, AShadowingLocalPushedAfterACachedResolutionWins) {
    InterObj form(named("Form1"));
    addData(form.get(), "Value", IDT_LONG);
    setLong(form.get(), "Value", 1);
    Program p;
    const int16_t value = p.id("Value");
    p.block("Value = Value");
    auto sub = p.sub("Main");
    Context ctx(form.get(), sub.get(), 0);
    InterObjRep* statics = InterObjRep::New(DETACHED_MODULE, IOT_WORKER);
    addData(statics, "Other", IDT_LONG);
    ctx.pushLocals(statics);
    int found = 0;
    EXPECT_EQ(ctx.eval(uint32_t(value), 0, nullptr, EVAL_VALUE_REQUIRED, found)->as<int32_t>(), 1);
    // A scope with a field of the same name goes in front of Me.
    InterObjRep* shadow = InterObjRep::New(DETACHED_MODULE, IOT_WORKER);
    addData(shadow, "Value", IDT_LONG);
    setLong(shadow, "Value", 2);
    ctx.pushLocals(shadow);
    EXPECT_EQ(ctx.eval(uint32_t(value), 0, nullptr, EVAL_VALUE_REQUIRED, found)->as<int32_t>(), 2);
    // Popped again (and destroyed), the name resolves to Me once more.
    ctx.popLocals();
    EXPECT_EQ(ctx.eval(uint32_t(value), 0, nullptr, EVAL_VALUE_REQUIRED, found)->as<int32_t>(), 1);
    ctx.popStatics();
    EXPECT_EQ(ctx.scopeCount(), 0u);
    statics->destroy();
}

TEST_F(Contexts, NamesResolveThroughScopesThenMeThenStaticObjectsThenGlobals) {
    InterObj form(named("Form1"));
    addData(form.get(), "A", IDT_LONG);
    addData(form.get(), "B", IDT_LONG);
    setLong(form.get(), "A", 10);
    setLong(form.get(), "B", 20);
    InterObj b(named("B"));
    InterObj c(named("C"));
    InterObjRep* scope = InterObjRep::New(DETACHED_MODULE, IOT_WORKER);
    addData(scope, "A", IDT_LONG);
    setLong(scope, "A", 1);
    Context ctx(form.get(), Context::kSearchGlobals);
    ctx.pushLocals(scope);
    int found = 0;
    EXPECT_EQ(ctx.eval("A", 0, nullptr, EVAL_VALUE_REQUIRED, found, nullptr)->as<int32_t>(), 1);
    EXPECT_EQ(ctx.eval("B", 0, nullptr, EVAL_VALUE_REQUIRED, found, nullptr)->as<int32_t>(), 20);
    ValuePtr object = ctx.eval("C", 0, nullptr, EVAL_VALUE_REQUIRED, found, nullptr);
    EXPECT_EQ(object->as<InterObj>().get(), c.get());
    // The global objects are asked last of all.
    static int asked = 0;
    Context::globalObjects = [](const char* name, IdType, const ValueList*, int32_t, int& f) -> ValuePtr {
        ++asked;
        f = std::string(name) == "Screen";
        return f ? ValuePtr(new LongValue(640)) : ValuePtr();
    };
    EXPECT_EQ(ctx.eval("Screen", 0, nullptr, EVAL_VALUE_REQUIRED, found, nullptr)->as<int32_t>(), 640);
    EXPECT_EQ(ctx.eval("C", 0, nullptr, EVAL_VALUE_REQUIRED, found, nullptr)->type(), IDT_OBJECT);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(ctx.eval("Nowhere", 0, nullptr, EVAL_VALUE_REQUIRED, found, nullptr));
    EXPECT_EQ(found, 0);
    Context::globalObjects = nullptr;
    ctx.popLocals();
}

TEST_F(Contexts, DestroyingAnObjectEmptiesEveryCache) {
    InterObj gone(named("Gone"));
    Program p;
    const int16_t name = p.id("Gone");
    p.block("x = Gone");
    auto sub = p.sub("Main");
    Context ctx(nullptr, sub.get(), Context::kSearchGlobals);
    int found = 0;
    EXPECT_EQ(ctx.eval(uint32_t(name), 0, nullptr, EVAL_VALUE_REQUIRED, found)->as<InterObj>().get(), gone.get());
    gone->Destroy();
    gone = nullptr;
    EXPECT_EQ(FailureText([&] { ctx.eval(uint32_t(name), 0, nullptr, EVAL_VALUE_REQUIRED, found); }), "no failure");
    EXPECT_EQ(found, 0);
}

TEST_F(Contexts, ACopyKeepsTheCodeButNeitherScopesNorCacheNorReturnValue) {
    InterObj form(named("Form1"));
    Program p;
    p.block("F = 1");
    auto f = p.function("F", IDT_LONG);
    Context ctx(form.get(), f.get(), Context::kSearchGlobals);
    InterObjRep* scope = InterObjRep::New(DETACHED_MODULE, IOT_WORKER);
    ctx.pushLocals(scope);
    const int32_t used = Context::GetLookupCacheLength();
    {
        Context copy(ctx, 0);
        EXPECT_EQ(copy.me(), form.get());
        EXPECT_EQ(copy.procField(), f.get());
        EXPECT_EQ(copy.scopeCount(), 0u);
        EXPECT_EQ(copy.cacheLength(), 0u);
        EXPECT_EQ(copy.flags(), 0);
        EXPECT_EQ(Context::GetLookupCacheLength(), used);
        // reinit on another object marks look-ups on Me as from outside.
        InterObj other(named("Other"));
        copy.reinit(other.get(), nullptr, ctx);
        EXPECT_TRUE(copy.flags() & Context::kForeignMe);
        copy.reinit(form.get(), nullptr, ctx);
        EXPECT_FALSE(copy.flags() & Context::kForeignMe);
    }
    ctx.popLocals();
}

TEST_F(Contexts, TheLastStatementStartedGivesTheLineOfImmediateCode) {
    InterObj form(named("Form1"));
    addData(form.get(), "x", IDT_LONG);
    addData(form.get(), "y", IDT_LONG);
    Context ctx(form.get(), 0);
    EXPECT_EQ(ctx.getLastNodeExeLine(), -1);
    Program p;
    p.block(R"(
        x = 1
    7:  y = z
    )");
    auto block = p.immediate();
    block->eval(ctx, 0);
    EXPECT_EQ(ctx.getLastNodeExeLine(), 7);
    try {
        block->eval(ctx, 1);
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_EQ(e.line, 7);
    }
}

// A local that the cache keeps is the variable itself while its frame
// runs, and a value of its own once the frame is gone.
TEST_F(Contexts, ACachedLocalIsTheVariableAndOutlivesItsFrameSafely) {
    Program p;
    const int16_t x = p.id("x");
    p.block(R"(
        Dim x As Long
        x = 41
    )");
    auto main = p.sub("Main");
    ValuePtr kept;
    {
        Context ctx(nullptr, main.get(), 0);
        StackFrame frame(ctx, main->body(), SubFrame);
        main->body()->ieval(ctx);
        int found = 0;
        ValuePtr first = ctx.eval(uint32_t(x), 0, nullptr, EVAL_VALUE_REQUIRED, found);
        kept = ctx.eval(uint32_t(x), 0, nullptr, EVAL_VALUE_REQUIRED, found);
        EXPECT_EQ(kept->as<int32_t>(), 41);
        // Writing through the kept value writes the variable.
        kept->set(int32_t(42));
        EXPECT_EQ(first->as<int32_t>(), 42);
        EXPECT_EQ(ctx.eval(uint32_t(x), 0, nullptr, EVAL_VALUE_REQUIRED, found)->as<int32_t>(), 42);
        // Destroying some other object empties caches, but not of locals.
        InterObj other(named("Other"));
        other->Destroy();
        EXPECT_EQ(ctx.eval(uint32_t(x), 0, nullptr, EVAL_VALUE_REQUIRED, found).get(), kept.get());
    }
    // The frame and its locals are gone; the value still reads and writes
    // (AddressSanitizer would see a read of the freed locals).
    EXPECT_EQ(kept->as<int32_t>(), 42);
    kept->set(int32_t(7));
    EXPECT_EQ(kept->as<int32_t>(), 7);
}

TEST_F(Contexts, ACachedLocalFollowsItsFieldWhenTheLocalsChangeShape) {
    Program p;
    const int16_t x = p.id("x");
    p.block(R"(
        Dim x As Double
        x = 1.5
    )");
    auto main = p.sub("Main");
    Context ctx(nullptr, main.get(), 0);
    StackFrame frame(ctx, main->body(), SubFrame);
    main->body()->ieval(ctx);
    int found = 0;
    ctx.eval(uint32_t(x), 0, nullptr, EVAL_VALUE_REQUIRED, found);
    ValuePtr local = ctx.eval(uint32_t(x), 0, nullptr, EVAL_VALUE_REQUIRED, found);
    // A field added to the locals' prototype rebuilds every locals object's
    // data, the running frame's among them.
    main->body()->localVarObj()->addField(InterDataField::make("y", IDT_STRING, 1), nullptr, 1);
    EXPECT_DOUBLE_EQ(local->as<double>(), 1.5);
    local->set(2.25);
    ValuePtr again = frame.locals()->eval("x");
    EXPECT_DOUBLE_EQ(again->as<double>(), 2.25);
}

}  // namespace
}  // namespace tq
