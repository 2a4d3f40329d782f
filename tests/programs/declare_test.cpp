// Programs that declare and call the C functions of the test library
// (tests/plugins/ffilib.c), whose path the build gives: every argument
// type by value and by reference and every result type, run on the tree
// walker and in register form, from the text module and from the binary
// module it saves; and the failures of declarations that cannot be called,
// at the line of the call.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "programrun.h"
#include "tests/support/freshproc.h"

namespace tq::compiler::test {
namespace {

// @LIB@ stands for the test library's path.
const char* const kProgram = R"(Begin Object Native
  Declare Function NegShort% Lib "@LIB@" Alias "ff_neg_short" (ByVal v As Integer)
  Declare Function SubLong Lib "@LIB@" Alias "ff_sub_long" (ByVal a As Long, ByVal b As Long) As Long
  Declare Function Half! Lib "@LIB@" Alias "ff_half_single" (ByVal x!)
  Declare Function Scale Lib "@LIB@" Alias "ff_scale_double" (ByVal x As Double, ByVal times As Long) As Double
  Declare Function Twice@ Lib "@LIB@" Alias "ff_double_currency" (ByVal c As Currency)
  Declare Function Describe$ Lib "@LIB@" Alias "ff_describe" (ByVal s%, ByVal l&, ByVal f!, ByVal d#, ByVal c@, ByVal t$)
  Declare Function Same Lib "@LIB@" Alias "ff_same_object" (ByVal o As Object) As Object
  Declare Sub SetLong Lib "@LIB@" Alias "ff_set_long" (out As Long, ByVal v As Long)
  Declare Function IncValue& Lib "@LIB@" Alias "ff_inc_value" (ByVal v As Long)
  Declare Sub BumpAll Lib "@LIB@" Alias "ff_bump_all" (s%, l&, f!, d#, c@)
  Declare Sub Upper Lib "@LIB@" Alias "ff_upper_in_place" (t As String)
  Declare Sub Repoint Lib "@LIB@" Alias "ff_point_elsewhere" (t As String)
  Declare Function Length& Lib "@LIB@" Alias "ff_length" (ByVal t As String)
  Declare Sub FailWith Lib "@LIB@" Alias "ff_fail_with" (ByVal errcode As Long)
  Dim Seen As Long

  Sub Main()
    Dim n As Long
    Dim s As Integer
    Dim f As Single
    Dim d As Double
    Dim c As Currency
    Dim t As String
    Print NegShort(-300); " "; SubLong(10, 3); " "; Half(3); " "; Scale(0.5, 5); " "; Twice(1.25)
    Print Describe(-1, 70000, 0.5, 0.25, -3.07, "abc")
    Print Same(Native) Is Native; " "; Same(Nothing) Is Nothing
    SetLong n, 42
    Print n; " "; IncValue(n); " "; n
    SetLong Seen, 7
    s = 1: n = 2: f = 1.5: d = 0.5: c = 1.5
    BumpAll s, n, f, d, c
    Print s; " "; n; " "; f; " "; d; " "; c
    t = "mixed Case"
    Upper t
    Print t; " "; Length(t)
    Repoint t
    Print t; " "; Seen
    FailWith 34
    t = Space(3) & UCase("later work")
  End Sub

  Sub Gone()
    Declared
  End Sub
End Object
)";

const char* const kExpected =
    "300 7 1.5 2.5 2.50\n"
    "s=-1 l=70000 f=0.5 d=0.25 c=-307 t=abc\n"
    "-1 -1\n"
    "42 43 42\n"
    "2 12 3 2 1.55\n"
    "MIXED CASE 10\n"
    "from the library 7\n";

class DeclaredPrograms : public ProgramSuite {
protected:
    // Writes text, with @LIB@ replaced, as name in the scratch folder.
    std::string write(const std::string& name, std::string text, const std::string& lib = TQ_TEST_FFILIB) {
        for (size_t at; (at = text.find("@LIB@")) != std::string::npos;) text.replace(at, 5, lib);
        const std::string path = dir_.file(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // Loads path afresh and runs method; what it printed, then the failure
    // that escaped and its line.
    std::string run(const std::string& path, const char* method, bool registerForm) {
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
        RegisterForm::SetEnabled(registerForm);
        DefaultStoreApplication app;
        StringPrintable out;
        app.setCurrentPrintable(&out);
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        InterObjRep* obj = ObjectWith(m, method);
        if (!obj) return "no object with " + std::string(method);
        try {
            int handled = 0;
            obj->evalIMember(method, nullptr, &handled);
        } catch (const StoreException& e) {
            out.text += std::string("failure: ") + e.name() + ": " + e.what() + " line " + std::to_string(e.line);
        }
        return out.text;
    }

    ScratchDir dir_;
};

TEST_F(DeclaredPrograms, EveryTypeCrossesBothWaysOnBothFormsAndFromTheBinaryModule) {
    const std::string text = write("native.tqs", kProgram);
    for (bool registerForm : {false, true}) {
        SetStashedAPIErrorCode(0);
        EXPECT_EQ(run(text, "Main", registerForm), kExpected) << (registerForm ? "register form" : "tree walker");
        // The callee's code outlives the string work after it.
        EXPECT_EQ(RetrieveStashedAPIErrorCode(), 34u);
    }
    // Saved as a binary module, the declarations are read back and called.
    {
        DefaultStoreApplication app;
        const tModuleIndex m = ObjectStore::LoadModule(text.c_str(), 0, 0);
        ObjectStore::SaveAs(m, dir_.file("native.qbo").c_str(), 0);
        ObjectStore::Commit(m);
        UnloadEveryModule();
    }
    EXPECT_EQ(run(dir_.file("native.qbo"), "Main", true), kExpected);
    // And printed back as written.
    {
        DefaultStoreApplication app;
        const tModuleIndex m = ObjectStore::LoadModule(dir_.file("native.qbo").c_str(), 0, 0);
        InterObjRep* native = ObjectWith(m, "Main");
        ASSERT_NE(native, nullptr);
        auto* scale = dynamic_cast<CDLLFuncField*>(native->findField("Scale"));
        ASSERT_NE(scale, nullptr);
        EXPECT_EQ(scale->getSource(), std::string("Declare Function Scale Lib \"") + TQ_TEST_FFILIB +
                                          "\" Alias \"ff_scale_double\" (ByVal x As Double, ByVal times As Long) "
                                          "As Double\r\n");
    }
}

TEST_F(DeclaredPrograms, ADeclarationThatCannotBeCalledFailsAtTheCallsLine) {
    const struct {
        const char* declare;
        const char* failure;
    } cases[] = {
        {"Declare Sub Declared Lib \"libtq-no-such-library.so\"",
         "failure: DllLoadFailure: unable to load requested DLL. Declare 'Declared', library "
         "\"libtq-no-such-library.so\": libtq-no-such-library.so: cannot open shared object file: No such file or "
         "directory line 2"},
        {"Declare Sub Declared Lib \"@LIB@\" Alias \"ff_no_such_function\"",
         "failure: DllFuncMissing: unable to load requested function from DLL. Declare 'Declared', library "
         "\"@LIB@\", symbol \"ff_no_such_function\": @LIB@: undefined symbol: ff_no_such_function line 2"},
        {"Declare Sub Declared Lib \"@LIB@\" Alias \"ff_fail_with\" (ByVal errcode As Long)",
         "failure: TooFewArguments: Not enough arguments line 2"},
        {"Declare Sub Declared Lib \"@LIB@\" Alias \"ff_no_error\" ()",
         "failure: TooManyArguments: Too many arguments line 2"},
    };
    for (const auto& c : cases) {
        std::string program = std::string("Begin Object Native\n  ") + c.declare +
                              "\n  Sub Main()\n    Declared\n  End Sub\n  Sub Extra()\n    Declared 1\n  End Sub\n"
                              "End Object\n";
        std::string failure = c.failure;
        for (size_t at; (at = failure.find("@LIB@")) != std::string::npos;) failure.replace(at, 5, TQ_TEST_FFILIB);
        const std::string path = write("failing.tqs", program);
        // Lines count from the procedure's header.
        const bool tooMany = failure.find("TooMany") != std::string::npos;
        for (bool registerForm : {false, true})
            EXPECT_EQ(run(path, tooMany ? "Extra" : "Main", registerForm), failure) << c.declare;
    }
    // A library path that names a pipe is refused before the loader could
    // wait on it for good.
    const std::string pipe = dir_.file("libpipe.so");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string piped = write(
        "piped.tqs", "Begin Object Native\n  Declare Sub Declared Lib \"@LIB@\"\n  Sub Main()\n    Declared\n"
                     "  End Sub\nEnd Object\n",
        pipe);
    EXPECT_EQ(run(piped, "Main", true), "failure: DllLoadFailure: unable to load requested DLL. Declare 'Declared', "
                                        "library \"" + pipe + "\": " + pipe + ": not a library file: it is a pipe line 2");
}

// Arguments that have no C form where the declaration wants one: each
// fails at its call's line as binding it to any procedure would, on both
// forms, and the library is never called with them.
const char* const kNoCFormProgram = R"(Begin Object Native
  Declare Function CAbs Lib "libc.so.6" Alias "abs" (ByVal n As Long) As Long
  Declare Sub SetLong Lib "@LIB@" Alias "ff_set_long" (out As Long, ByVal v As Long)
  Declare Function Same Lib "@LIB@" Alias "ff_same_object" (o As Object) As Object
  Dim A(3) As Long

  Sub ArrayByValue()
    Print CAbs(A)
  End Sub

  Sub ArrayByReference()
    SetLong A, 1
  End Sub

  Sub ObjectForALong()
    Print CAbs(Native)
  End Sub

  Sub ObjectByReference()
    Dim o As Object
    o = Native
    Print Same(o) Is Native
  End Sub
End Object
)";

TEST_F(DeclaredPrograms, ArgumentsWithNoCFormFailAtTheCallsLine) {
    const std::string path = write("noform.tqs", kNoCFormProgram);
    const struct {
        const char* method;
        const char* expected;
    } cases[] = {
        {"ArrayByValue", "failure: TypeMismatch: types mismatched for requested operation line 2"},
        {"ArrayByReference",
         "failure: InvalidByRef: Invalid to pass this field by reference to compiled function line 2"},
        {"ObjectForALong", "failure: TypeMismatch: types mismatched for requested operation line 2"},
        {"ObjectByReference",
         "failure: InvalidByRef: Invalid to pass this field by reference to compiled function line 4"},
    };
    for (const auto& c : cases)
        for (bool registerForm : {false, true})
            EXPECT_EQ(run(path, c.method, registerForm), c.expected)
                << c.method << (registerForm ? " in register form" : " on the tree walker");
}

// Number-only code with declared calls, which the register form runs as
// native calls straight from its registers: every number type by value and
// by reference (a variable written back, a temporary not), arguments
// converted to their parameters' types, the error code, and failures inside
// the call at its line.
const char* const kNumbersProgram = R"(Begin Object Numbers
  Declare Function NegShort% Lib "@LIB@" Alias "ff_neg_short" (ByVal v As Integer)
  Declare Function SubLong Lib "@LIB@" Alias "ff_sub_long" (ByVal a As Long, ByVal b As Long) As Long
  Declare Function Half! Lib "@LIB@" Alias "ff_half_single" (ByVal x!)
  Declare Function Scale Lib "@LIB@" Alias "ff_scale_double" (ByVal x As Double, ByVal times As Long) As Double
  Declare Function Sum3# Lib "@LIB@" Alias "ff_sum3" (ByVal a As Single, ByVal b As Double, ByVal c As Integer)
  Declare Sub SetLong Lib "@LIB@" Alias "ff_set_long" (out As Long, ByVal v As Long)
  Declare Sub BumpNumbers Lib "@LIB@" Alias "ff_bump_numbers" (s%, l&, f!, d#)
  Declare Sub FailWith Lib "@LIB@" Alias "ff_fail_with" (ByVal errcode As Long)
  Declare Function Missing& Lib "@LIB@" Alias "ff_no_such_function" (ByVal v As Long)

  Sub Main()
    Dim i As Long, n As Long, s As Integer, f As Single, d As Double, total As Double
    For i = 1 To 1000
      total = total + SubLong(i, 1) + NegShort(-i) + Half(i) + Scale(i, 2)
    Next i
    Print total
    Print Sum3(0.5, 0.25, 7); " "; SubLong(2.6, 1); " "; Half(7)
    SetLong n, 42
    Print n; " "; SubLong(n + 1, n)
    s = 5: n = 7: f = 1.5: d = 2
    BumpNumbers s, n, f, d
    Print s; " "; n; " "; f; " "; d
    BumpNumbers s + 1, n, f * 2, d
    Print s; " "; n; " "; f; " "; d
    FailWith 34
  End Sub

  Sub Gone()
    Dim n As Long
    n = 1
    n = Missing(n)
  End Sub
End Object
)";

TEST_F(DeclaredPrograms, NumberCodeCallsTheLibraryFromItsRegistersAsTheTreeWalkerDoes) {
    const std::string path = write("numbers.tqs", kNumbersProgram);
    const struct {
        const char* method;
        const char* expected;
    } cases[] = {
        {"Main",
         "2251250\n7.75 1 3.5\n42 1\n3 21 1.75 -2\n3 63 1.75 2\n"},
        {"Gone",
         "failure: DllFuncMissing: unable to load requested function from DLL. Declare 'Missing', library \"@LIB@\", "
         "symbol \"ff_no_such_function\": @LIB@: undefined symbol: ff_no_such_function line 4"},
    };
    for (const auto& c : cases) {
        std::string expected = c.expected;
        for (size_t at; (at = expected.find("@LIB@")) != std::string::npos;) expected.replace(at, 5, TQ_TEST_FFILIB);
        for (bool registerForm : {false, true}) {
            SetStashedAPIErrorCode(0);
            EXPECT_EQ(run(path, c.method, registerForm), expected)
                << c.method << (registerForm ? " in register form" : " on the tree walker");
            InterObj numbers;
            ASSERT_TRUE(ObjectStore::find("Numbers", numbers));
            auto* proc = dynamic_cast<InterProcField*>(numbers->findField(c.method));
            ASSERT_NE(proc, nullptr);
            bool notTaken = false;
            EXPECT_EQ(proc->registerForm().current(notTaken) != nullptr, registerForm) << c.method;
        }
        if (std::string(c.method) == "Main") {
            EXPECT_EQ(RetrieveStashedAPIErrorCode(), 34u);
        }
    }
}

TEST_F(DeclaredPrograms, ParametersWithNoCFormAreRefusedWhenTheModuleLoads) {
    const struct {
        const char* declare;
        const char* error;
    } cases[] = {
        {"Declare Sub F Lib \"libc.so.6\" (a() As Long)",
         "2:34: parameter 'a' is an array: a library procedure cannot take one"},
        {"Declare Sub F Lib \"libc.so.6\" (o As Native)",
         "2:39: parameter 'o' has type 'Native': a library procedure takes Integer, Long, Single, Double, "
         "Currency, String or Object"},
        {"Declare Function F Lib \"libc.so.6\" ()",
         "2:3: a library function needs its result type: 'As Long', 'As String', ... or a type suffix"},
        {"Declare Sub F Lib \"lib^Ic.so\" ()", "2:3: declaration 'F': the library's name holds control characters"},
        {"Declare Sub F Lib \"lib\x01c.so\" ()", "2:3: declaration 'F': the library's name holds control characters"},
        {"Declare Sub F Lib \"libc.so.6\" Alias \"a^?bs\" ()", "2:3: declaration 'F': the alias holds control characters"},
    };
    for (const auto& c : cases) {
        const std::string path =
            write("bad.tqs", std::string("Begin Object Native\n  ") + c.declare + "\nEnd Object\n");
        DefaultStoreApplication app;
        std::string what;
        try {
            const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
            LoadTextModuleFile(path, m);
        } catch (const StoreException& e) {
            what = e.what();
        }
        EXPECT_NE(what.find(c.error), std::string::npos) << what;
        UnloadEveryModule();
    }
}

}  // namespace
}  // namespace tq::compiler::test
