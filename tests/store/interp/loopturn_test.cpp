// A loop's turn over number locals takes shortcuts: the For counter is
// read and written in place, and an operator's result goes straight into a
// Long or Double local. What a program sees must stay what the general path
// gives: a counter the body changes (directly or through a by-reference
// call), bounds taken once, the edge of the Long range, a Double into a
// Long variable, and the failures with their messages. (Arrays resized
// under a loop are a program of tests/programs, loops.tqs: the test
// compiler here declares no arrays.)
#include <cstdio>
#include <string>

#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

class LoopTurns : public InterpTest {
protected:
    // Runs body as Sub Run of a fresh object with the Long field N and the
    // Double field R; the body's own Dims are its locals. The outcome is
    // the failure text (or "no failure"), N and R.
    static std::string RunBody(const std::string& objectName, const std::string& body,
                               const std::string& helpers = "") {
        InterObj o(named(objectName.c_str()));
        addData(o.get(), "N", IDT_LONG);
        addData(o.get(), "R", IDT_DOUBLE);
        if (!helpers.empty()) AddProcedure(o.get(), helpers);
        AddProcedure(o.get(), "Sub Run()\n" + body + "\nEnd Sub\n");
        const std::string failure = FailureText([&] { Call(o.get(), "Run"); });
        char text[64];
        std::snprintf(text, sizeof text, "|N=%d R=%.17g", getLong(o.get(), "N"), o->eval("R")->as<double>());
        return failure + text;
    }
};

TEST_F(LoopTurns, AForCounterIsWhatTheBodyLeftInIt) {
    const struct {
        const char* body;
        const char* outcome;
    } cases[] = {
        {"For i = 1 To 10\nN = N + 1\ni = i + 2\nNext i\nR = i", "no failure|N=4 R=13"},
        // Bump adds 4 through its by-reference parameter.
        {"For i = 1 To 10\nN = N + 1\nBump i\nNext i\nR = i", "no failure|N=2 R=11"},
        // The bound is evaluated once, before the first turn.
        {"n = 3\nFor i = 1 To n\nN = N + 1\nn = 10\nNext i\nR = i", "no failure|N=3 R=4"},
        {"For i = 1 To 10\nN = N + 1\nIf i = 4 Then Exit For\nNext i\nR = i", "no failure|N=4 R=4"},
        {"For i = 10 To 1 Step -3\nN = N + 1\nNext i\nR = i", "no failure|N=4 R=-2"},
        {"For i = 1 To 0\nN = N + 1\nNext i\nR = i", "no failure|N=0 R=1"},
        // The next value would not fit a Long: the loop ends at the last.
        {"For i = 2147483645 To 2147483647\nN = N + 1\nNext i\nR = i", "no failure|N=3 R=2147483647"},
        {"For d = 0 To 1 Step 0.25\nN = N + 1\nNext d\nR = d", "no failure|N=5 R=1.25"},
        {"For d = 0 To 3\nN = N + 1\nd = d + 0.5\nNext d\nR = d", "no failure|N=3 R=4.5"},
        // The counter written by an assignment of a Long expression, and a
        // Long local summed from it and a Double one.
        {"For i = 1 To 5\nk = i * i\nw = w + k * 0.5\nN = N + k\nNext i\nR = w + i", "no failure|N=55 R=33.5"},
        // Nested loops whose inner bound is the outer counter.
        {"For i = 1 To 4\nFor j = i To 4\nN = N + i * j\nNext j\nNext i\nR = i * 10 + j", "no failure|N=65 R=55"},
    };
    const std::string declarations = "Dim i As Long\nDim j As Long\nDim k As Long\nDim n As Long\nDim d As Double\n"
                                     "Dim w As Double\n";
    int count = 0;
    for (const auto& c : cases)
        EXPECT_EQ(RunBody("Counter" + std::to_string(count++), declarations + c.body,
                          "Sub Bump(k As Long)\nk = k + 4\nEnd Sub\n"),
                  c.outcome)
            << c.body;
}

// Each case runs with v and w as Long and Double locals (stored in place)
// and again as fields of the object (the field's own path): both must end
// the same, with the same failure.
TEST_F(LoopTurns, NumbersStoredIntoLocalsInALoopGiveWhatFieldsGive) {
    const char* cases[] = {
        "For i = 1 To 3\nv = v + 2147483647\nNext i",
        "For i = 1 To 3\nv = v * 3 + i\nw = v / 4\nNext i",
        "For i = 1 To 3\nw = w + i * 0.75\nv = w * 2\nNext i",
        "For i = 1 To 3\nv = i * 1073741824\nNext i",
        "For i = -3 To 3\nv = v + 100 \\ i\nNext i",
        "For i = 1 To 3\nv = v + i Mod (i - 2)\nNext i",
        "For i = 1 To 3\nw = w + 1E308 * i\nNext i",
        "For i = 1 To 4\nw = (w + i) * (i < 3)\nv = w - True\nNext i",
    };
    int count = 0;
    for (const char* body : cases) {
        const std::string tail = "\nN = v\nR = w";
        const std::string local = RunBody("Local" + std::to_string(count), std::string("Dim i As Long\n") +
                                                                                "Dim v As Long\nDim w As Double\n" +
                                                                                body + tail);
        InterObj o(named(("Fields" + std::to_string(count++)).c_str()));
        addData(o.get(), "N", IDT_LONG);
        addData(o.get(), "R", IDT_DOUBLE);
        addData(o.get(), "v", IDT_LONG);
        addData(o.get(), "w", IDT_DOUBLE);
        AddProcedure(o.get(), std::string("Sub Run()\nDim i As Long\n") + body + tail + "\nEnd Sub\n");
        const std::string failure = FailureText([&] { Call(o.get(), "Run"); });
        char text[64];
        std::snprintf(text, sizeof text, "|N=%d R=%.17g", getLong(o.get(), "N"), o->eval("R")->as<double>());
        // A failing statement leaves N and R as they were: compare the
        // variables themselves.
        char vars[64];
        std::snprintf(vars, sizeof vars, " v=%d w=%.17g", getLong(o.get(), "v"), o->eval("w")->as<double>());
        const std::string field = failure + text;
        EXPECT_EQ(local.substr(0, local.find('|')), failure) << body << vars;
        if (failure == "no failure") {
            EXPECT_EQ(local, field) << body << vars;
        }
    }
}

}  // namespace
}  // namespace tq
