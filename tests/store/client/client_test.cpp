// The client handles as a host uses them: objects of a text module found by
// name, procedures called through Eval's format string and through Call,
// fields read and written, and every way a host call can be wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "store/interp/regform.h"
#include "tests/support/program.h"

namespace tq {
namespace {

const char* const kModule = R"(
Begin Object Calc
  Dim Total As Long
  Dim Title As String
  Dim Ratio As Double
  Dim Link As Object
  Dim Calls As Long

  Function Add(a As Long, b As Long) As Long
    Calls = Calls + 1
    Add = a + b
  End Function

  Function Describe(n As Integer, s As String, d As Double) As String
    Calls = Calls + 1
    Describe = n & "|" & s & "|" & d
  End Function

  Sub Bump(k As Long)
    k = k + 1
  End Sub

  Sub Change(n As Integer, k As Long, f As Single, d As Double, s As String, o As Object)
    n = n + 1
    k = k * 2
    f = f / 2
    d = -d
    s = s & "!"
    Set o = Me
  End Sub

  Sub Remember(o As Object)
    Set Link = o
  End Sub

  Sub Fail(k As Long)
    k = 99
    k = k \ 0
  End Sub

  Sub Six(a As Long, b As Long, c As Long, d As Long, e As Long, f As Long)
    a = a + 1: b = b + 2: c = c + 3: d = d + 4: e = e + 5: f = f + 6
  End Sub

  Function Less(a As Long, b As Long) As Long
    Less = a - b
  End Function

  Function ThirtyOneCharactersLongFunction(a As Long) As Long
    ThirtyOneCharactersLongFunction = a + 1
  End Function

  Function Half(x As Single) As Single
    Half = x / 2
  End Function

  Function Rounded(d As Double) As Integer
    Rounded = d
  End Function

  Function Scaled(k As Long) As Double
    Scaled = k * 1.5
  End Function

  Function Deep(n As Long) As Long
    Dim x1 As Long, x2 As Long, x3 As Long, x4 As Long, x5 As Long
    Dim x6 As Long, x7 As Long, x8 As Long, x9 As Long, x10 As Long
    Dim x11 As Long, x12 As Long, x13 As Long, x14 As Long, x15 As Long
    Dim x16 As Long, x17 As Long, x18 As Long, x19 As Long, x20 As Long
    Dim x21 As Long, x22 As Long, x23 As Long, x24 As Long, x25 As Long
    Dim x26 As Long, x27 As Long, x28 As Long, x29 As Long, x30 As Long
    x1 = n
    x30 = n * 2
    If n > 0 Then Deep = Deep(n - 1) + x30 - x1
  End Function

  Function DeepTwice(n As Long) As Long
    DeepTwice = Deep(n) + Deep(n)
  End Function

  Type Panel
    Dim Total As Long
    Function Add(a As Long, b As Long) As Long
      Add = a * b
    End Function
  End Type
End Object
)";

class ClientHandles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        compiler::EnableTextModules();
    }
    void SetUp() override {
        valuesBefore_ = Value::LiveCount();
        module_ = ObjectStore::LoadModule(nullptr, 1, 0);
        compiler::LoadTextModule(kModule, "calc.tqs", module_);
        ASSERT_TRUE(calc_.Find("Calc"));
    }
    void TearDown() override {
        calc_ = nullptr;
        if (ObjectStore::ValidIndex(module_)) ObjectStore::UnloadModule(module_);
        InterObjRep::DeleteObjects();
        // Every value a handle or an argument list took was given back.
        EXPECT_EQ(Value::LiveCount(), valuesBefore_);
    }
    int32_t calls() { return calc_.Eval("Calls", nullptr); }

    DefaultStoreApplication app_;
    tModuleIndex module_ = 0;
    TessaroObject calc_;
    size_t valuesBefore_ = 0;
};

TEST_F(ClientHandles, ArgumentsReachTheProcedureInTheOrderWritten) {
    TessaroString text = calc_.Eval("Describe", "isd", 7, "abc", 2.5);
    EXPECT_STREQ(text, "7|abc|2.5");
    // The same call made from typed arguments.
    text = Call(calc_, "Describe", int16_t(7), std::string("abc"), 2.5);
    EXPECT_STREQ(text, "7|abc|2.5");
    EXPECT_EQ(int32_t(calc_.Eval("Add", "ll", 40, 2)), 42);
    EXPECT_EQ(int32_t(Call(calc_, "Add", 40, 2)), 42);
    EXPECT_EQ(calls(), 4);
}

TEST_F(ClientHandles, CharactersThatAreNoFormatLetterTakeNoArgument) {
    // Were the space or the "x" to take a variable argument, b would be
    // read from the wrong slot.
    EXPECT_EQ(int32_t(calc_.Eval("Add", "l x-l", 40, 2)), 42);
    int32_t k = 5;
    // An "&" holds until the next letter.
    calc_.Eval("Bump", "&?l", &k);
    EXPECT_EQ(k, 6);
}

TEST_F(ClientHandles, AnAssignmentToAParameterPassedByReferenceReachesTheHostVariable) {
    int32_t k = 41;
    calc_.Eval("Bump", "&l", &k);
    EXPECT_EQ(k, 42);
    Call(calc_, "Bump", &k);
    EXPECT_EQ(k, 43);
    // By value the host's variable stays as it was.
    calc_.Eval("Bump", "l", k);
    EXPECT_EQ(k, 43);

    // Every letter by reference.
    int16_t n = 1;
    float f = 3.0f;
    double d = 2.5;
    ValString s("hi");
    InterObj o;
    calc_.Eval("Change", "&i&l&f&d&s&o", &n, &k, &f, &d, &s, &o);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(k, 86);
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(d, -2.5);
    EXPECT_STREQ(static_cast<const char*>(s), "hi!");
    EXPECT_TRUE(TessaroObject(o.get()) == calc_);
}

TEST_F(ClientHandles, ANullHandleEvaluatesNothing) {
    TessaroObject none;
    EXPECT_TRUE(none.IsNull());
    // Not even the arguments are read: a reference to nothing would raise.
    EXPECT_TRUE(none.Eval("Bump", "&l", static_cast<int32_t*>(nullptr)).IsNull());
    EXPECT_TRUE(Call(none, "Add", 1, 2).IsNull());
    EXPECT_EQ(GetField<int32_t>(none, "Total"), 0);
    EXPECT_THROW(SetField(none, "Total", 1), Is_Null);
}

TEST_F(ClientHandles, ANullValueConvertsToZeroAndToNullHandles) {
    const TessaroValue none = calc_.Eval("Bump", "l", 1);  // a Sub has no value
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(double(none), 0.0);
    EXPECT_EQ(int32_t(none), 0);
    EXPECT_EQ(int16_t(none), 0);
    EXPECT_EQ(float(none), 0.0f);
    EXPECT_EQ(static_cast<const char*>(TessaroString(none)), nullptr);
    EXPECT_TRUE(TessaroObject(none).IsNull());
}

TEST_F(ClientHandles, ValuesConvertAsTheLanguageConvertsThem) {
    SetField(calc_, "Title", "12.75");
    const TessaroValue title = calc_.Eval("Title", nullptr);
    EXPECT_EQ(double(title), 12.75);
    EXPECT_EQ(int32_t(title), 12);
    SetField(calc_, "Title", "twelve");
    EXPECT_THROW((void)int32_t(calc_.Eval("Title", nullptr)), ConvertFailed);
    // A handle keeps the value it took even after the field changes: it
    // holds a count of the value, not the field.
    TessaroValue sum = calc_.Eval("Add", "ll", 1, 2);
    TessaroValue same = sum;
    sum = sum;
    sum = static_cast<Value*>(same);
    EXPECT_EQ(int32_t(sum), 3);
}

TEST_F(ClientHandles, FieldsAreReadAndWrittenByNameInOneCall) {
    SetField(calc_, "Total", 7);
    SetField(calc_, "Ratio", 2.5);
    SetField(calc_, "Title", std::string("main"));
    EXPECT_EQ(GetField<int32_t>(calc_, "Total"), 7);
    EXPECT_EQ(GetField<double>(calc_, "Ratio"), 2.5);
    EXPECT_EQ(GetField<std::string>(calc_, "Title"), "main");
    // Converted into the field's type, as the language's assignment does.
    SetField(calc_, "Total", 9.75);
    EXPECT_EQ(GetField<int32_t>(calc_, "Total"), 9);
    SetField(calc_, "Link", calc_);
    EXPECT_TRUE(GetField<TessaroObject>(calc_, "Link") == calc_);
    Call(calc_, "Remember", static_cast<InterObjRep*>(nullptr));
    EXPECT_TRUE(GetField<TessaroObject>(calc_, "Link").IsNull());
    // The language sees what the host wrote.
    SetField(calc_, "Total", 1);
    EXPECT_EQ(int32_t(calc_.Eval("Total", nullptr)), 1);
}

TEST_F(ClientHandles, FindTakesAnObjectByPathAndLeavesTheHandleWhenNothingIsFound) {
    TessaroObject h = calc_;
    EXPECT_FALSE(h.Find("NoSuchObject"));
    EXPECT_FALSE(h.Find("Calc.NoSuchPanel"));
    EXPECT_FALSE(h.Find(""));
    EXPECT_FALSE(h.Find(nullptr));
    EXPECT_TRUE(h == calc_);
    ASSERT_TRUE(h.Find("Calc.Panel"));
    EXPECT_FALSE(h == calc_);
    // The embedded object answers its own members.
    SetField(h, "Total", 5);
    EXPECT_EQ(GetField<int32_t>(h, "Total"), 5);
    EXPECT_EQ(GetField<int32_t>(calc_, "Total"), 0);
}

TEST_F(ClientHandles, GetNameGivesTheNameAndItsLengthOrLeavesTheStringAlone) {
    TessaroString name("untouched");
    EXPECT_EQ(calc_.GetName(name), 4);
    EXPECT_STREQ(name, "Calc");
    // A null object, and an object without a name, leave it as it was.
    name = "untouched";
    EXPECT_EQ(TessaroObject().GetName(name), 0);
    InterObj clone(InterObjRep::NewCopy(*static_cast<InterObjRep*>(calc_), DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_EQ(TessaroObject(clone.get()).GetName(name), 0);
    EXPECT_STREQ(name, "untouched");
    clone->Destroy();
}

TEST_F(ClientHandles, StringHandlesHoldTextOrNothing) {
    TessaroString none;
    EXPECT_EQ(static_cast<const char*>(none), nullptr);
    EXPECT_EQ(static_cast<ValStringRep*>(none), nullptr);
    TessaroString a("text");
    TessaroString b = a;
    EXPECT_EQ(static_cast<ValStringRep*>(a), static_cast<ValStringRep*>(b));
    // Assigning text makes a new string: b's stays as it was.
    a = "other";
    EXPECT_STREQ(b, "text");
    EXPECT_STREQ(a, "other");
    b = static_cast<ValStringRep*>(a);
    EXPECT_STREQ(b, "other");
    TessaroString empty(static_cast<const char*>(nullptr));
    EXPECT_STREQ(empty, "");
}

// Bad host calls: each raises the library's exception with its message and
// runs nothing of the procedure.
TEST_F(ClientHandles, BadCallsRaiseTheLibrarysExceptionAndRunNothing) {
    struct Case {
        const char* what;
        std::function<void()> call;
        const char* message;
    };
    int32_t k = 1;
    const Case cases[] = {
        {"a member that does not exist", [&] { calc_.Eval("Missing", "l", 1); },
         "Identifier 'Missing' was not found"},
        {"a member that does not exist, through Call", [&] { Call(calc_, "Missing"); },
         "Identifier 'Missing' was not found"},
        {"no member name", [&] { calc_.Eval(nullptr, nullptr); }, "Identifier '' was not found"},
        {"too few arguments", [&] { calc_.Eval("Add", "l", 1); }, "Not enough arguments"},
        {"a format promising more than the procedure takes", [&] { calc_.Eval("Add", "lll", 1, 2, 3); },
         "Too many arguments"},
        {"a text that is no number for a Long", [&] { calc_.Eval("Add", "sl", "abc", 2); },
         "Conversion to type Long failed"},
        {"an object for a Long", [&] { calc_.Eval("Add", "ol", static_cast<InterObjRep*>(calc_), 2); },
         "types mismatched for requested operation"},
        {"a reference to no variable", [&] { calc_.Eval("Bump", "&l", static_cast<int32_t*>(nullptr)); },
         "Invalid to pass this field by reference to compiled function"},
        {"writing a field that does not exist", [&] { SetField(calc_, "Missing", 1); },
         "Identifier 'Missing' was not found"},
        {"writing a text that is no number into a Long", [&] { SetField(calc_, "Total", "x"); },
         "Conversion to type Long failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.call();
            ADD_FAILURE() << "no exception";
        } catch (const StoreException& e) {
            EXPECT_NE(std::strstr(e.what(), c.message), nullptr) << e.what();
        }
    }
    EXPECT_EQ(calls(), 0);
    EXPECT_EQ(k, 1);
    EXPECT_EQ(GetField<int32_t>(calc_, "Total"), 0);
}

TEST_F(ClientHandles, NumbersByValueBindAsValuesDoOnBothForms) {
    // Eval's number letters and Call's numbers enter the register form
    // with no values made; with it switched off they go as values to the
    // tree walker. Both bind, convert and fail alike.
    struct Case {
        const char* what;
        std::function<TessaroValue()> call;
        const char* result;  // the value as text, or the failure's message
    };
    const Case cases[] = {
        {"two Longs", [&] { return calc_.Eval("Add", "ll", 40, 2); }, "42"},
        {"Doubles cut to Longs", [&] { return calc_.Eval("Add", "dd", 2.5, 3.5); }, "5"},
        {"an Integer and a Single", [&] { return calc_.Eval("Add", "if", 7, 1.75f); }, "8"},
        {"typed numbers", [&] { return Call(calc_, "Add", int16_t(3), 4.0); }, "7"},
        {"a Double too large for a Long", [&] { return calc_.Eval("Add", "ld", 1, 3e10); }, "Overflow"},
        {"too few", [&] { return Call(calc_, "Add", 1); }, "Not enough arguments"},
        {"too many", [&] { return Call(calc_, "Add", 1, 2, 3); }, "Too many arguments"},
        {"a failure inside", [&] { return calc_.Eval("Fail", "l", 5); }, "Division by zero"},
    };
    int32_t lineInside[2] = {0, 0};
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        const int32_t before = calls();
        int32_t ran = 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (registerForm ? " in register form" : " on the tree walker"));
            std::string got;
            try {
                const TessaroString text = c.call();
                got = static_cast<const char*>(text);
                ++ran;
            } catch (const StoreException& e) {
                got = e.what();
                if (std::string(c.what) == "a failure inside") lineInside[registerForm] = e.line;
            }
            EXPECT_NE(got.find(c.result), std::string::npos) << got;
        }
        // Only the four calls that bound ran the procedure.
        EXPECT_EQ(ran, 4);
        EXPECT_EQ(calls() - before, 4);
    }
    RegisterForm::SetEnabled(true);
    EXPECT_EQ(lineInside[0], 3);
    EXPECT_EQ(lineInside[1], 3);
}

TEST_F(ClientHandles, AFailureInsideTheProcedureReachesTheHost) {
    int32_t k = 1;
    EXPECT_THROW(calc_.Eval("Fail", "&l", &k), StoreException);
    // What the procedure did before it failed stands, as in the language.
    EXPECT_EQ(k, 99);
}

TEST_F(ClientHandles, AHandleWhoseObjectWentRaisesInsteadOfEvaluating) {
    TessaroObject panel;
    ASSERT_TRUE(panel.Find("Calc.Panel"));
    static_cast<InterObjRep*>(panel)->BeginDestroy();
    InterObjRep::DeleteObjects();
    EXPECT_TRUE(panel.IsNull());
    EXPECT_THROW(panel.Eval("Add", "ll", 1, 2), Is_Null);
    EXPECT_THROW(Call(panel, "Add", 1, 2), Is_Null);

    // The objects of a module that is unloaded go with it.
    TessaroObject calc = calc_;
    calc_ = nullptr;
    ObjectStore::UnloadModule(module_);
    InterObjRep::DeleteObjects();
    try {
        calc.Eval("Add", "ll", 1, 2);
        ADD_FAILURE() << "no exception";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "object is null");
    }
    TessaroString name;
    EXPECT_EQ(calc.GetName(name), 0);
}

TEST_F(ClientHandles, ACallByNameFollowsTheObjectsSignatureAndItsFieldChanges) {
    TessaroObject panel;
    ASSERT_TRUE(panel.Find("Calc.Panel"));
    // One name, two signatures, called in turn: each object its own method.
    for (int turn = 0; turn < 3; ++turn) {
        EXPECT_EQ(int32_t(calc_.Eval("Add", "ll", 2, 3)), 5);
        EXPECT_EQ(int32_t(panel.Eval("Add", "ll", 2, 3)), 6);
    }
    // The method removed: the name no longer reaches it.
    static_cast<InterObjRep*>(calc_)->removeField("Add");
    EXPECT_THROW(calc_.Eval("Add", "ll", 2, 3), NotFound);
    // Another method of the same name: that one runs.
    AddProcedure(calc_, "Function Add(a As Long, b As Long) As Long\n  Add = a - b\nEnd Function\n");
    EXPECT_EQ(int32_t(calc_.Eval("Add", "ll", 2, 3)), -1);
    EXPECT_EQ(int32_t(Call(calc_, "Add", 2, 3)), -1);
}

TEST_F(ClientHandles, EveryParameterPassedByReferenceIsWrittenBackHoweverMany) {
    // More by-reference parameters than a call keeps in place.
    ValueList args;
    ValuePtr given[6];
    for (int i = 0; i < 6; ++i) {
        given[i] = ValuePtr(new LongValue(10 * (i + 1)));
        args.ppush(given[i]);
    }
    calc_.EvalList("Six", args);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(given[i]->as<int32_t>(), 10 * (i + 1) + i + 1) << "parameter " << i;
    int32_t a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
    Call(calc_, "Six", &a, &b, &c, &d, &e, &f);
    EXPECT_EQ(std::vector<int32_t>({a, b, c, d, e, f}), std::vector<int32_t>({1, 2, 3, 4, 5, 6}));
}

// What a function gives back reads alike whether the register form ran it
// (its number held in the handle) or the tree walker (a value): as every
// number type, as text, as an object and as the value itself.
TEST_F(ClientHandles, AFunctionsResultReadsAsAValueOfItsTypeOnBothForms) {
    const std::function<TessaroValue()> calls[] = {
        [&] { return calc_.Eval("Add", "ll", 70000, 5); },    // Long
        [&] { return calc_.Eval("Rounded", "d", -2.75); },     // Integer
        [&] { return calc_.Eval("Half", "f", 7.0); },          // Single
        [&] { return Call(calc_, "Scaled", int32_t(100000)); },  // Double
    };
    auto read = [](const TessaroValue& v) {
        std::vector<std::string> out;
        auto note = [&](const std::function<std::string()>& f) {
            try {
                out.push_back(f());
            } catch (const StoreException& e) {
                out.push_back(std::string("raised: ") + e.what());
            }
        };
        note([&] { return std::to_string(int16_t(v)); });
        note([&] { return std::to_string(int32_t(v)); });
        note([&] { return std::to_string(float(v)); });
        note([&] { return std::to_string(double(v)); });
        note([&] { return std::string(static_cast<const char*>(TessaroString(v))); });
        note([&] { return std::to_string(TessaroObject(v).IsNull()); });
        // The value itself, made once and kept by the handle.
        note([&] {
            Value* made = v;
            if (made != static_cast<Value*>(v)) return std::string("made twice");
            return std::to_string(made->type()) + " " + std::to_string(made->as<double>());
        });
        return out;
    };
    std::vector<std::vector<std::string>> readings[2];
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        for (const auto& call : calls) {
            const TessaroValue v = call();
            TessaroValue copy = v;
            readings[registerForm].push_back(read(copy));
            EXPECT_EQ(read(v), readings[registerForm].back());
        }
    }
    RegisterForm::SetEnabled(true);
    EXPECT_EQ(readings[0], readings[1]);
    // A Long keeps its low 16 bits as an Integer; a Double too large for
    // one raises; -2.75 is cut to the Integer -2; a Single of 3.5 is the
    // text "3.5"; no number is an object.
    EXPECT_EQ(readings[1][0][0], "4469");
    EXPECT_NE(readings[1][3][0].find("raised"), std::string::npos);
    EXPECT_EQ(readings[1][2][4], "3.5");
    EXPECT_EQ(readings[1][1][1], "-2");
    EXPECT_NE(readings[1][0][5].find("raised"), std::string::npos);
}

TEST_F(ClientHandles, ACallFindsItsMemberByTheTextItIsGivenEachTime) {
    // The host's buffer keeps its address while its text changes.
    char name[48];
    for (int turn = 0; turn < 3; ++turn) {
        std::strcpy(name, "Add");
        EXPECT_EQ(int32_t(calc_.Eval(name, "ll", 5, 3)), 8);
        std::strcpy(name, "Less");
        EXPECT_EQ(int32_t(Call(calc_, name, 5, 3)), 2);
        std::strcpy(name, "Lesser");
        EXPECT_THROW(calc_.Eval(name, "ll", 5, 3), NotFound);
        // Names are told apart by their first 31 characters.
        std::strcpy(name, "ThirtyOneCharactersLongFunction");
        EXPECT_EQ(int32_t(calc_.Eval(name, "l", 1)), 2);
        std::strcpy(name, "ThirtyOneCharactersLongFunctionAndMore");
        EXPECT_EQ(int32_t(calc_.Eval(name, "l", 2)), 3);
    }
}

// Counts the calls a debugger is told of.
class CountingHook : public DebugHook {
public:
    CountingHook() : DebugHook(false) { DebugHook::Install(this); }
    ~CountingHook() override { DebugHook::Install(nullptr); }
    void eval(Context&, int32_t) override {}
    int error(Context&, StoreException&) override { return 0; }
    void functionCalled() override { ++called; }
    void functionReturned() override {}
    int called = 0;
};

TEST_F(ClientHandles, ADebuggerInstalledBetweenCallsIsToldOfTheNext) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(int32_t(calc_.Eval("Add", "ll", i, 1)), i + 1);
    {
        CountingHook hook;
        EXPECT_EQ(int32_t(calc_.Eval("Add", "ll", 2, 2)), 4);
        EXPECT_EQ(int32_t(Call(calc_, "Add", 3, 3)), 6);
        EXPECT_EQ(hook.called, 2);
    }
    EXPECT_EQ(int32_t(calc_.Eval("Add", "ll", 4, 4)), 8);
}

TEST_F(ClientHandles, DeepCallsFromTheHostKeepEveryCallersRegisters) {
    // Thirty locals a call: a few hundred calls deep take more than one
    // chunk of registers, and each caller reads its own after its callee
    // returns.
    const int32_t depths[] = {300, 4, 250, 300};
    for (int32_t n : depths) {
        EXPECT_EQ(int32_t(calc_.Eval("Deep", "l", n)), n * (n + 1) / 2) << n;
        EXPECT_EQ(int32_t(Call(calc_, "DeepTwice", n)), n * (n + 1)) << n;
    }
    SignatureRep* owner = nullptr;
    auto* deep = static_cast<InterProcField*>(
        static_cast<InterObjRep*>(calc_)->signature()->findField("Deep", owner, 0));
    bool notTaken = false;
    EXPECT_NE(deep->registerForm().current(notTaken), nullptr);
}

}  // namespace
}  // namespace tq
