// Data fields of a number type that a method's lookup cache keeps in place:
// what a program reads and writes through them must be what it reads and
// writes through the field itself, with the same conversions and failures,
// on the right object, and stay so while fields, flags and objects change
// between and during calls.
#include <cmath>
#include <string>

#include "store/model/fldval.h"
#include "store/model/intfld.h"
#include "store/persist/descobj.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using FieldsInPlace = InterpTest;

ValuePtr Long(int32_t v) { return ValuePtr(new LongValue(v)); }
ValuePtr Double(double v) { return ValuePtr(new DoubleValue(v)); }

// The object's number fields as one line, to compare whole outcomes.
std::string Fields(InterObjRep* o) {
    std::string out;
    for (const char* name : {"L", "D", "I", "S", "C"}) {
        double v = 0;
        o->eval(name)->get(v);
        char text[48];
        std::snprintf(text, sizeof text, "%s=%.17g ", name, v);
        out += text;
    }
    return out;
}

// Each case runs its body three times as a Sub of a fresh object with the
// fields L (Long), D (Double), I (Integer), S (Single), C (Currency) and the
// Const Long K = 7: the first call resolves the names, the later ones start
// from the slots it kept. The outcome is the fields after the last call and
// the failure that stopped the calls, if one did.
TEST_F(FieldsInPlace, NumberFieldsReadAndWrittenByAMethodFollowTheValueRules) {
    const struct {
        const char* body;
        int32_t x;
        double y;
        const char* outcome;
    } cases[] = {
        {"L = L + 1 : D = D + x", 2147483647, 0,
         "L=3 D=6442450941 I=0 S=0 C=0 |no failure"},
        // Double into a Long field: truncated toward zero, on every call.
        {"L = L + y", 0, 1.5, "L=3 D=0 I=0 S=0 C=0 |no failure"},
        {"L = D : D = D + y", 0, 1.25, "L=2 D=3.75 I=0 S=0 C=0 |no failure"},
        // A Long sum beyond the Long range becomes a Single, which no Long
        // field holds: the second call's store is an overflow and the field
        // keeps the first call's value.
        {"L = L + x", 2147483647, 0, "L=2147483647 D=0 I=0 S=0 C=0 |FPE: Integer Overflow."},
        {"L = L * 2 + x : D = L", 1073741824, 0, "L=1073741824 D=1073741824 I=0 S=0 C=0 |FPE: Integer Overflow."},
        // A Long into a Double field is exact; a Double field read into a
        // Long expression.
        {"D = D * 2 + x : L = D - 1", 1, 0, "L=6 D=7 I=0 S=0 C=0 |no failure"},
        // An Integer field keeps the low 16 bits: 60000 stores -5536.
        {"I = I + x", 20000, 0, "L=0 D=0 I=-5536 S=0 C=0 |no failure"},
        {"S = S + y : D = S", 0, 0.1, "L=0 D=0.30000001192092896 I=0 S=0.30000001192092896 C=0 |no failure"},
        {"C = C + y : D = C * 2", 0, 0.12345, "L=0 D=0.74070000000000014 I=0 S=0 C=0.37035000000000007 |no failure"},
        {"L = K + L", 0, 0, "L=21 D=0 I=0 S=0 C=0 |no failure"},
        {"L = L + 1 : K = K + 1", 0, 0, "L=1 D=0 I=0 S=0 C=0 |Attempt to set a constant value"},
        {"K = 1", 0, 0, "L=0 D=0 I=0 S=0 C=0 |Attempt to set a constant value"},
        // A failure on the right leaves the field as it was.
        {"L = L + 1 : D = 6 \\ (3 - L)", 0, 0, "L=3 D=6 I=0 S=0 C=0 |Division by zero."},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string body = c.body;
        for (size_t at = body.find(" : "); at != std::string::npos; at = body.find(" : ")) body.replace(at, 3, "\n");
        InterObj o(named(("Numbers" + std::to_string(n++)).c_str()));
        addData(o.get(), "L", IDT_LONG);
        addData(o.get(), "D", IDT_DOUBLE);
        addData(o.get(), "I", IDT_SHORT);
        addData(o.get(), "S", IDT_FLOAT);
        addData(o.get(), "C", IDT_CURRENCY);
        addData(o.get(), "K", IDT_LONG);
        setLong(o.get(), "K", 7);
        o->findField("K")->setFlags(Field::kConst);
        AddProcedure(o.get(), "Sub Run(x As Long, y As Double)\n" + body + "\nEnd Sub\n");
        std::string failure = "no failure";
        std::string fields;
        for (int call = 0; call < 3 && failure == "no failure"; ++call) {
            failure = FailureText([&] { Call(o.get(), "Run", {Long(c.x), Double(c.y)}); });
        }
        fields = Fields(o.get());
        EXPECT_EQ(fields + "|" + failure, c.outcome) << c.body;
    }
}

// A value a host holds for a field goes on naming that field while the
// layout of its object changes under it.
TEST_F(FieldsInPlace, AHeldFieldValueFollowsItsFieldThroughLayoutChanges) {
    InterObj o(named("Held"));
    addData(o.get(), "A", IDT_LONG);
    addData(o.get(), "B", IDT_DOUBLE);
    ValuePtr b = o->eval("B");
    ASSERT_TRUE(NumberField<double>(b.get()));
    *b = *Double(1.5);
    // A's four bytes go from before B, and C's four come after it: the block
    // has its old size again.
    o->removeField("A");
    addData(o.get(), "C", IDT_LONG);
    *b = *Double(2.5);
    EXPECT_EQ(o->eval("B")->as<double>(), 2.5);
    EXPECT_EQ(getLong(o.get(), "C"), 0);
    EXPECT_EQ(b->as<double>(), 2.5);
    // Made Const, the field refuses the value it took before.
    o->findField("B")->setFlags(Field::kConst);
    EXPECT_EQ(FailureText([&] { *b = *Double(3.5); }), "Attempt to set a constant value");
    EXPECT_EQ(b->as<double>(), 2.5);
    o->findField("B")->setFlags(0);
    // Removed, and another field of its name made: the value refuses every
    // access rather than reach the new field's bytes.
    o->removeField("B");
    addData(o.get(), "B", IDT_DOUBLE);
    EXPECT_EQ(FailureText([&] { *b = *Double(4.5); }), "object does not exist");
    EXPECT_EQ(FailureText([&] { b->as<double>(); }), "object does not exist");
    EXPECT_EQ(o->eval("B")->as<double>(), 0.0);
}

// Between two calls of Bump in one run the field it adds to changes (the
// host's print sink changes it, as a host may while a program runs); the
// second call must reach the field as it is then, though the first call's
// resolutions are kept for it.
TEST_F(FieldsInPlace, AFieldChangedDuringARunIsFoundAgain) {
    const struct {
        const char* change;
        const char* outcome;
    } cases[] = {
        // The first call leaves Hits at 1 (Long); the second adds 1, or 1.5
        // to the new Double field, which starts at 0.
        {"none", "Hits=2 Other=0 |no failure"},
        {"a field before it goes", "Hits=2 Other=0 |no failure"},
        {"it becomes a Double", "Hits=1.5 Other=0 |no failure"},
        {"it is renamed", "Hits=0 Other=0 |Identifier 'Hits' was not found"},
        {"it is made Const", "Hits=1 Other=0 |Attempt to set a constant value"},
        {"the parent gains a field", "Hits=2 Other=0 |no failure"},
    };
    struct Changer : CapturedPrint {
        std::string change;
        InterObjRep* base = nullptr;
        InterObjRep* tally = nullptr;
        void write(const char* s, size_t n) override {
            if (std::string(s, n) != "change") return;
            if (change == "a field before it goes") tally->removeField("Pad");
            if (change == "it becomes a Double") {
                tally->removeField("Hits");
                addData(tally, "Hits", IDT_DOUBLE);
            }
            if (change == "it is renamed") tally->signature()->renameField(tally->findField("Hits"), "Gone");
            if (change == "it is made Const") tally->findField("Hits")->setFlags(Field::kConst);
            if (change == "the parent gains a field") addData(base, "First", IDT_DOUBLE);
        }
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string suffix = std::to_string(n++);
        InterObj base(named(("Base" + suffix).c_str()));
        addData(base.get(), "Other", IDT_LONG);
        InterObj tally(InterObjRep::NewNamed(("Tally" + suffix).c_str(), base.get(), DETACHED_MODULE, IOT_ORDINARY));
        tally->discriminateClone();
        addData(tally.get(), "Pad", IDT_LONG);
        addData(tally.get(), "Hits", IDT_LONG);
        AddProcedure(tally.get(), R"(
            Sub Bump(by As Double)
              Hits = Hits + by
            End Sub
        )");
        InterObj prog(named(("Driver" + suffix).c_str()));
        const std::string by = std::string(c.change) == "it becomes a Double" ? "1.5" : "1";
        AddProcedure(prog.get(), "Sub Main()\nTally" + suffix + ".Bump 1\nPrint \"change\"\nTally" + suffix +
                                     ".Bump " + by + "\nEnd Sub\n");
        Changer sink;
        sink.change = c.change;
        sink.base = base.get();
        sink.tally = tally.get();
        DefaultStoreApplication app;
        app.setCurrentPrintable(&sink);
        const std::string failure = FailureText([&] { Call(prog.get(), "Main"); });
        double hits = 0;
        if (tally->findField("Hits")) tally->eval("Hits")->get(hits);
        char text[64];
        std::snprintf(text, sizeof text, "Hits=%g Other=%d |", hits, int(getLong(tally.get(), "Other")));
        EXPECT_EQ(text + failure, c.outcome) << c.change;
    }
}

// One call site reaches the fields of several objects that share a
// signature's layout: each call must write its own object's bytes, also
// when the objects alternate and when one is a clone made from the other's
// data.
TEST_F(FieldsInPlace, CallsOnObjectsOfOneLayoutEachWriteTheirOwnFields) {
    InterObj first(counterObject("First"));
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), R"(
        Sub Main(turns As Long)
          Dim i As Long
          For i = 1 To turns
            First.Add i
            Second.Add 1000
            Second.Add 1
          Next i
        End Sub
    )");
    setLong(first.get(), "Count", 5);
    // The clone starts from First's data (Count 5) and keeps its own.
    InterObj second(InterObjRep::NewNamed("Second", first.get(), DETACHED_MODULE, IOT_ORDINARY));
    Call(prog.get(), "Main", {Long(3)});
    EXPECT_EQ(getLong(first.get(), "Count"), 8);
    EXPECT_EQ(first->eval("Total")->as<double>(), 6.0);
    EXPECT_EQ(getLong(second.get(), "Count"), 11);
    EXPECT_EQ(second->eval("Total")->as<double>(), 3003.0);
    // Called on the clone alone, then on First again: neither is behind.
    Call(second.get(), "Add", {Long(7)});
    Call(first.get(), "Add", {Long(7)});
    EXPECT_EQ(getLong(first.get(), "Count"), 9);
    EXPECT_EQ(getLong(second.get(), "Count"), 12);
    EXPECT_EQ(second->eval("Total")->as<double>(), 3010.0);
}

// Inside With, a plain name is still Me's field and a dotted one the With
// object's, though both objects have a field of that name at that offset.
TEST_F(FieldsInPlace, WithReachesItsObjectsFieldBesideMesFieldOfTheSameName) {
    InterObj me(named("Owner"));
    addData(me.get(), "Count", IDT_LONG);
    InterObj other(named("Other"));
    addData(other.get(), "Count", IDT_LONG);
    AddProcedure(me.get(), R"(
        Sub Run()
          Dim i As Long
          For i = 1 To 4
            Count = Count + 1
            With Other
              .Count = .Count + Count * 10
              Count = Count + .Count
            End With
          Next i
        End Sub
    )");
    Call(me.get(), "Run");
    // Owner: 1, +10 = 11; 12, Other 10+120 = 130, Owner 142; ...
    int32_t owner = 0, withCount = 0;
    for (int i = 0; i < 4; ++i) {
        owner += 1;
        withCount += owner * 10;
        owner += withCount;
    }
    EXPECT_EQ(getLong(me.get(), "Count"), owner);
    EXPECT_EQ(getLong(other.get(), "Count"), withCount);
}

// A field written in place changes its object as far as its module is
// concerned: a commit after the call has the new value to write, for a
// Long and for a Double field, on the first call and on later ones.
TEST_F(FieldsInPlace, AWriteInPlaceMarksTheObjectChangedForItsModule) {
    const tModuleIndex m = openModule();
    InterObj o(named("Saved"));
    addData(o.get(), "Count", IDT_LONG);
    addData(o.get(), "Total", IDT_DOUBLE);
    AddProcedure(o.get(), R"(
        Sub AddCount(k As Long)
          Count = Count + k
        End Sub
    )");
    AddProcedure(o.get(), R"(
        Sub AddTotal(k As Long)
          Total = Total + k
        End Sub
    )");
    InterObj prog(named("Program"));
    AddProcedure(prog.get(), R"(
        Sub Main(k As Long)
          Saved.AddCount k
          Saved.AddCount k
          Print "commit"
          Saved.AddCount k
          Print "check"
          Saved.AddTotal k
          Print "commit"
          Saved.AddTotal k
          Print "check"
        End Sub
    )");
    struct Committer : CapturedPrint {
        tModuleIndex m = 0;
        std::string dirty;
        void write(const char* s, size_t n) override {
            const std::string what(s, n);
            if (what == "commit") {
                ObjectStore::Save(m);
                ObjectStore::Commit(m);
                dirty += DescribedObjectNoDescriptor<InterObjRep>::isDirty(m) ? "dirty " : "clean ";
            }
            if (what == "check") dirty += DescribedObjectNoDescriptor<InterObjRep>::isDirty(m) ? "dirty " : "clean ";
        }
    } sink;
    sink.m = m;
    DefaultStoreApplication app;
    app.setCurrentPrintable(&sink);
    for (int32_t k : {1, 10}) {
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        sink.dirty.clear();
        Call(prog.get(), "Main", {Long(k)});
        EXPECT_EQ(sink.dirty, "clean dirty clean dirty ") << k;
        EXPECT_TRUE(DescribedObjectNoDescriptor<InterObjRep>::isDirty(m)) << k;
    }
    EXPECT_EQ(getLong(o.get(), "Count"), 33);
    EXPECT_EQ(o->eval("Total")->as<double>(), 22.0);
    o = nullptr;
    prog = nullptr;
    closeModule(m);
}

}  // namespace
}  // namespace tq
