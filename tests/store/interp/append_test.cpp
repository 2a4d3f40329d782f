// "s = s & t" appends in place when nothing else holds s's text: what a
// program can see must be what the general form gives.
#include "store/persist/vlstrrep.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using SelfAppend = InterpTest;

std::string TextOf(const ValuePtr& v) {
    ValString s = v->as<ValString>();
    return s.isNull() ? std::string() : s->text();
}

class Form {
public:
    Form() : obj_(InterpTest_named()) {
        for (const char* n : {"s", "t", "u"}) obj_->addField(InterDataField::make(n, IDT_STRING, 1));
        obj_->addField(InterDataField::make("n", IDT_LONG, 1));
        obj_->addField(InterDataField::make("k", IDT_SHORT, 1));
    }
    Context& ctx() { return ctx_; }
    std::string text(const char* expr) { return TextOf(EvalImmediate(ctx_, expr)); }

private:
    static InterObjRep* InterpTest_named() {
        return InterObjRep::NewNamed("Form", nullptr, ObjectStore::OpenModule(), IOT_ORDINARY);
    }
    InterObj obj_;
    Context ctx_{obj_.get(), 0};
};

TEST_F(SelfAppend, ALoopOfAppendsBuildsTheWholeText) {
    Form f;
    Program p;
    p.block(R"(
        Dim i As Long
        s = "a"
        For i = 1 To 1000
          s = s & "x"
          s = s & i Mod 10
        Next
        n = Len(s)
    )");
    p.immediate()->eval(f.ctx(), 1);
    EXPECT_EQ(f.text("Len(s)"), "2001");
    EXPECT_EQ(f.text("Left(s, 6) & \"|\" & Right(s, 4)"), "ax1x2x|x9x0");
}

TEST_F(SelfAppend, TheOperandsAreReadAsTheGeneralFormReadsThem) {
    Form f;
    RunImmediate(f.ctx(), "s = \"ab\"");
    // The text doubles from what it was before the statement.
    RunImmediate(f.ctx(), "s = s & s");
    EXPECT_EQ(f.text("s"), "abab");
    RunImmediate(f.ctx(), "s = (s) & Mid(s, 2, 1)");
    EXPECT_EQ(f.text("s"), "ababb");
    // A String variable keeps a text up to a NUL, appended or assigned.
    RunImmediate(f.ctx(), "s = s & Chr(0) & \"z\"");
    EXPECT_EQ(f.text("s"), "ababb");
    RunImmediate(f.ctx(), "s = s & Chr(0)");
    EXPECT_EQ(f.text("Len(s)"), "5");
    // A Long or an Integer goes in as the text a String made from it has.
    RunImmediate(f.ctx(), "u = \"v\"");
    RunImmediate(f.ctx(), "n = -2147483647 - 1");
    RunImmediate(f.ctx(), "k = -32768");
    RunImmediate(f.ctx(), "u = u & n");
    RunImmediate(f.ctx(), "u = u & k");
    RunImmediate(f.ctx(), "u = u & 0");
    EXPECT_EQ(f.text("u"), "v-2147483648-327680");
    // A variable that was never set starts from the empty text.
    RunImmediate(f.ctx(), "t = t & \"q\"");
    EXPECT_EQ(f.text("t"), "q");
    // Assigning copies: appending to one variable leaves the other.
    RunImmediate(f.ctx(), "t = s");
    RunImmediate(f.ctx(), "s = s & \"!\"");
    EXPECT_EQ(f.text("t"), "ababb");
    EXPECT_EQ(f.text("s"), "ababb!");
}

TEST_F(SelfAppend, AValueThatSharesTheTextKeepsItsText) {
    Form f;
    RunImmediate(f.ctx(), "s = \"abc\"");
    // IIf's result is a value of its own that shares the variable's text.
    ValuePtr held = EvalImmediate(f.ctx(), "IIf(1, s, \"\")");
    RunImmediate(f.ctx(), "s = s & \"d\"");
    EXPECT_EQ(TextOf(held), "abc");
    EXPECT_EQ(f.text("s"), "abcd");
    // A Long variable on the left is no text to append to.
    RunImmediate(f.ctx(), "n = n & 5");
    EXPECT_EQ(f.text("n"), "5");
}

}  // namespace
}  // namespace tq
