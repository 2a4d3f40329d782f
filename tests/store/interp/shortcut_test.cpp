// What the interpreter's shortcuts must not change: Long and Double
// arithmetic on variables done without values gives what the value rules
// give, at the edges of the Long range and with its failures; and members a method's
// earlier calls resolved on Me serve its next call only on the same object
// and only while nothing has made them stale.
#include <string>
#include <tuple>

#include "store/arrayfld.h"
#include "store/interp/lookcache.h"
#include "store/methfld.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using Shortcuts = InterpTest;

ValuePtr Long(int32_t v) { return ValuePtr(new LongValue(v)); }

// Each case runs a Sub on a fresh object that copies its arguments into the
// Long locals a and b, sets the Double local c to a quarter of x, and stores
// expr (written over a, b, c and the parameters x and y) into the Double
// field R, which shows a result beyond the Long range as it is.
struct Calculation {
    const char* expr;
    int32_t x, y;
    double value;
};

TEST_F(Shortcuts, ArithmeticOnVariablesGivesWhatTheValueRulesGive) {
    constexpr int32_t kMin = -2147483647 - 1;
    const Calculation cases[] = {
        {"a + b", 2147483647, 1, 2147483648.0},
        // Beyond the Long range the result is a Single: -2147483649 rounds.
        {"a - b", kMin, 1, -2147483648.0},
        {"a * y", 65536, 65536, 4294967296.0},
        {"x * b", -65536, 32768, -2147483648.0},
        {"a Mod b", -7, 2, -1},
        {"a Mod y", 7, -2, 1},
        {"x Mod b", kMin, -1, 0},
        {"a \\ b", -7, 2, -3},
        {"(a * b) Mod 7 + a", 3, 5, 4},
        {"a < b", 3, 5, -1},
        {"a >= y", 3, 5, 0},
        {"(a = b) + True", 4, 4, -2},
        {"a + b * x - y \\ 2", 10, 3, 39},
        {"c + a", 6, 0, 7.5},
        {"a * 0.5 - c", 6, 0, 1.5},
        {"c - y * 2", 10, 3, -3.5},
        // The Long sum overflows into a Single first (2147483651 rounds to
        // 2147483648), and only then meets the Double.
        {"(a + b) * c", 4, 2147483647, 2147483648.0},
    };
    int n = 0;
    for (const Calculation& c : cases) {
        InterObj o(named(("Calc" + std::to_string(n++)).c_str()));
        addData(o.get(), "R", IDT_DOUBLE);
        AddProcedure(o.get(), std::string(R"(
            Sub Run(x As Long, y As Long)
              Dim a As Long
              Dim b As Long
              Dim c As Double
              a = x
              b = y
              c = x * 0.25
              R = )") + c.expr + R"(
            End Sub
        )");
        Call(o.get(), "Run", {Long(c.x), Long(c.y)});
        EXPECT_EQ(o->eval("R")->as<double>(), c.value) << c.expr << " with " << c.x << ", " << c.y;
    }
}

TEST_F(Shortcuts, LongDivisionFailuresKeepTheirMessages) {
    constexpr int32_t kMin = -2147483647 - 1;
    const struct {
        const char* expr;
        int32_t x, y;
        const char* failure;
    } cases[] = {
        {"a Mod b", 5, 0, "Division by zero."},
        {"a \\ b", 5, 0, "Division by zero."},
        {"a \\ b", kMin, -1, "FPE: Integer Overflow."},
    };
    int n = 0;
    for (const auto& c : cases) {
        InterObj o(named(("Failing" + std::to_string(n++)).c_str()));
        addData(o.get(), "R", IDT_LONG);
        AddProcedure(o.get(), std::string(R"(
            Sub Run(x As Long, y As Long)
              Dim a As Long
              Dim b As Long
              a = x
              b = y
              R = )") + c.expr + R"(
            End Sub
        )");
        EXPECT_EQ(FailureText([&] { Call(o.get(), "Run", {Long(c.x), Long(c.y)}); }), c.failure) << c.expr;
        EXPECT_EQ(getLong(o.get(), "R"), 0) << c.expr;
    }
}

// Each case runs twice: indexed by a Long local, which array elements are
// read and written in place with, and by a Single local of the same value,
// which only the general path takes. Both must store the same in the
// Double field R or fail with the same message. The arrays are read once
// first, as a loop's first turn does, so that the lookup cache holds them.
TEST_F(Shortcuts, ArrayElementsInPlaceGiveWhatTheGeneralPathGives) {
    const struct {
        const char* body;
        int32_t x, y;
    } cases[] = {
        {"D(k) = k * 0.5 : R = D(k) + D(k)", 0, 0},
        {"D(k) = x : R = D(k) * y", 2147483647, 2},
        {"D(k) = x - y : R = D(k) * 0.5", 2147483647, -1},
        {"L(k) = x : R = L(k) * y", 65536, 65536},
        {"L(k) = x * y : R = L(k)", 65536, 65536},
        {"L(k) = c : R = L(k)", 10, 0},
        {"L(k) = c : R = L(k)", 14, 0},
        {"L(k) = x Mod y", 7, 0},
        {"M(k, 3) = x : M(3, k) = y : R = M(k, 3) - M(3, k) * 0.5", 7, 3},
        {"R = D(k + 9)", 0, 0},
        {"D(k - 2) = 1", 0, 0},
        {"F(k) = x : F(k + 2) = F(k) * 0.25 + y : R = F(k + 2)", 6, 1},
        {"ReDim D(1 To 20) : D(k + 17) = x : R = D(19) + UBound(D)", 5, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string body = c.body;
        for (size_t at = body.find(" : "); at != std::string::npos; at = body.find(" : ")) body.replace(at, 3, "\n");
        std::string outcome[2];
        for (const char* indexType : {"Long", "Single"}) {
            InterObj o(named(("Elements" + std::to_string(n++)).c_str()));
            addData(o.get(), "R", IDT_DOUBLE);
            for (const auto& [name, type, dims, upper] : {std::tuple{"D", IDT_DOUBLE, 1, 3}, {"L", IDT_LONG, 1, 3},
                                                           {"M", IDT_LONG, 2, 3}, {"F", IDT_DOUBLE, 1, 4}}) {
                InterArrayField* a = InterArrayField::make(name, type, dims);
                for (int d = 0; d < dims; ++d) a->defineBounds(d, 1, upper);
                o->addField(a);
            }
            AddProcedure(o.get(), std::string(R"(
                Sub Run(x As Long, y As Long)
                  Dim c As Double
                  Dim k As )") + indexType + R"(
                  k = 2
                  c = D(1) + L(1) + M(1, 1) + F(1)
                  c = x * 0.25
                  )" + body + R"(
                End Sub
            )");
            const std::string failure = FailureText([&] { Call(o.get(), "Run", {Long(c.x), Long(c.y)}); });
            outcome[indexType[0] == 'S'] = failure + "|" + std::to_string(o->eval("R")->as<double>());
        }
        EXPECT_EQ(outcome[0], outcome[1]) << c.body << " with " << c.x << ", " << c.y;
    }
}

TEST_F(Shortcuts, CallsOfOneMethodOnTwoObjectsEachUpdateTheirOwnFields) {
    InterObj first(counterObject("First"));
    // A clone shares the method (the same procedure) but not the data.
    InterObj second(InterObjRep::NewNamed("Second", first.get(), DETACHED_MODULE, IOT_ORDINARY));
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), R"(
        Sub Main()
          First.Add 1
          Second.Add 10
          First.Add 100
          First.Add 1000
          Second.Add 10000
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(first.get(), "Count"), 3);
    EXPECT_EQ(first->eval("Total")->as<double>(), 1101.0);
    EXPECT_EQ(getLong(second.get(), "Count"), 2);
    EXPECT_EQ(second->eval("Total")->as<double>(), 10010.0);
}

TEST_F(Shortcuts, AnArrayReDimensionedBetweenCallsIsResolvedAgain) {
    InterObj store(named("Store"));
    InterArrayField* a = InterArrayField::make("Arr", IDT_LONG, 1);
    a->defineBounds(0, 1, 2);
    store->addField(a);
    AddProcedure(store.get(), R"(
        Sub Put(i As Long, v As Long)
          Arr(i) = v
        End Sub
    )");
    AddProcedure(store.get(), R"(
        Sub Grow()
          ReDim Preserve Arr(1 To 10)
        End Sub
    )");
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), R"(
        Sub Main()
          Store.Put 1, 5
          Store.Put 2, 6
          Store.Grow
          Store.Put 9, 7
          Store.Put 10, 8
        End Sub
    )");
    Call(prog.get(), "Main");
    EXPECT_EQ(Element(store.get(), "Arr", 1)->as<int32_t>(), 5);
    EXPECT_EQ(Element(store.get(), "Arr", 2)->as<int32_t>(), 6);
    EXPECT_EQ(Element(store.get(), "Arr", 9)->as<int32_t>(), 7);
    EXPECT_EQ(Element(store.get(), "Arr", 10)->as<int32_t>(), 8);
}

TEST_F(Shortcuts, ARecursiveMethodOnNestedObjectsKeepsEachCallsMe) {
    // Sum calls the same method on the object's child: the nested calls
    // of one procedure each run on another object.
    InterObj top(named("Top"));
    addData(top.get(), "Level", IDT_LONG);
    addData(top.get(), "Child", IDT_OBJECT);
    AddProcedure(top.get(), R"(
        Function Sum() As Long
          If Level >= 300 Then
            Sum = Level
          Else
            Sum = Level + Child.Sum
          End If
        End Function
    )");
    InterObj middle(InterObjRep::NewNamed("Middle", top.get(), DETACHED_MODULE, IOT_ORDINARY));
    InterObj bottom(InterObjRep::NewNamed("Bottom", top.get(), DETACHED_MODULE, IOT_ORDINARY));
    setLong(top.get(), "Level", 1);
    setLong(middle.get(), "Level", 20);
    setLong(bottom.get(), "Level", 300);
    setObject(top.get(), "Child", middle.get());
    setObject(middle.get(), "Child", bottom.get());
    setObject(bottom.get(), "Child", nullptr);
    EXPECT_EQ(Call(top.get(), "Sum")->as<int32_t>(), 321);
    EXPECT_EQ(Call(top.get(), "Sum")->as<int32_t>(), 321);
    setObject(top.get(), "Child", nullptr);
    setObject(middle.get(), "Child", nullptr);
}

TEST_F(Shortcuts, AFieldTheHostReplacesDuringARunIsResolvedAgain) {
    // The host's print sink replaces Box's field V between two calls of
    // Fetch in one run: the second call must read the new field (0), not
    // what the first call resolved.
    InterObj box(named("Box"));
    addData(box.get(), "V", IDT_LONG);
    setLong(box.get(), "V", 7);
    AddProcedure(box.get(), R"(
        Function Fetch() As Long
          Fetch = V
        End Function
    )");
    InterObj prog(named("Program"));
    addData(prog.get(), "Before", IDT_LONG);
    addData(prog.get(), "After", IDT_LONG);
    AddProcedure(prog.get(), R"(
        Sub Main()
          Before = Box.Fetch
          Print "replace"
          After = Box.Fetch
        End Sub
    )");
    struct Replacer : CapturedPrint {
        InterObjRep* box = nullptr;
        void write(const char* s, size_t n) override {
            if (std::string(s, n) != "replace") return;
            box->removeField("V");
            addData(box, "V", IDT_LONG);
        }
    } sink;
    sink.box = box.get();
    DefaultStoreApplication app;
    app.setCurrentPrintable(&sink);
    Call(prog.get(), "Main");
    EXPECT_EQ(getLong(prog.get(), "Before"), 7);
    EXPECT_EQ(getLong(prog.get(), "After"), 0);
}

}  // namespace
}  // namespace tq
