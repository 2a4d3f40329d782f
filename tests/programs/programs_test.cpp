// Programs written in the language, run end to end: every NAME.tqs in this
// folder, and every bundled example in examples/, is loaded as a text
// module and its Main run (the Main of the first object that has one, in
// the order the module lists its objects); what it prints must equal
// NAME.out beside it, byte for byte. An error that escapes Main ends the
// output with a line "error: " and its message, so a program can show how
// it fails too; one the store hands to the application (a failing Timeout)
// shows as a line "handed: " with its message and where it arose. Timers
// run on after Main until none is enabled.
//
// Every program runs in both execution forms, the tree walker and the
// register form, and both must print NAME.out and fail the same way: the
// same message, line, procedure and object.
//
// To add a case: write NAME.tqs, run it, check the output by hand and save
// it as NAME.out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "programrun.h"

namespace tq::compiler::test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A Main that takes the command line (`Sub Main(args() As String)`) gets
// what `tessaro run FILE` gives it: an array holding the file alone. The
// holder object is destroyed with the run.
struct MainArguments {
    MainArguments(InterObjRep& main, const std::string& file) {
        Field* f = main.findField("Main");
        auto* method = f && f->isMethod() ? static_cast<MethodField*>(f) : nullptr;
        InterObjRep* parameters = method && method->parmCount() == 1 ? method->parameterPrototype() : nullptr;
        const Field* p = parameters ? InterObjFieldIterator(parameters)() : nullptr;
        if (!p || !(p->type() & IDT_ARRAY) || (p->type() & IDT_TYPEMASK) != IDT_STRING) return;
        std::unique_ptr<InterArrayField> array(InterArrayField::make("Arguments", IDT_STRING, 1));
        array->defineBounds(0, 0, 0);
        holder = InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY);
        holder->addField(array.release());
        ValuePtr whole = holder->eval("Arguments");
        ValueList index{ValuePtr(new LongValue(0))};
        *whole->virtualMemberEval(&index) = *ValuePtr(new StringValue(ValString(file)));
        values.ppush(whole);
    }
    ~MainArguments() {
        values.clear();
        if (!holder.isNull()) holder->Destroy();
    }
    ValueList* list() { return values.isEmpty() ? nullptr : &values; }

    InterObj holder;
    ValueList values;
};

// Runs Main of module m and returns what it printed, with the error that
// escaped it, if any, on a last line; where the error arose goes to
// failedAt (empty for none).
std::string RunMain(tModuleIndex m, StringPrintable& out, std::string* failedAt = nullptr) {
    InterObjRep* main = ObjectWith(m, "Main");
    if (!main) return "no object with a Main";
    try {
        int handled = 0;
        MainArguments arguments(*main, ObjectStore::GetModuleFileNameA(m));
        main->evalIMember("Main", arguments.list(), &handled);
        // The program lives on while a timer runs, as under `tessaro run`
        // (a stuck one is given up after ten seconds, and the module's
        // unloading stops it).
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (MessageLoop::TimerCount() > 0 && std::chrono::steady_clock::now() < end) {
            MessageLoop::Wait(100);
            StoreApplication::PumpMessages();
        }
    } catch (const StoreException& e) {
        if (out.column() != 0) out.text += "\n";
        out.text += std::string("error: ") + e.what() + "\n";
        if (failedAt)
            *failedAt = "line " + std::to_string(e.line) + " in " + (e.procedure ? e.procedure->name() : "?") +
                        " of " + StoreException::ObjectName(e.object());
    }
    return out.text;
}

class Programs : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        EnableTextModules();
        // The library's own classes (Group), as a host's initializer
        // publishes them.
        ObjectStore::PublishObjectDLL("tqstore");
        // The system library, as tessaro publishes it; programs that read
        // the keyboard read an empty input, never the terminal of the run.
        ObjectStore::PublishObjectDLL(TQ_SYS_LIB);
        ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    }
    void TearDown() override {
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
    }
};

// What one run of a program shows: its output and where it failed.
struct Outcome {
    std::string printed;
    std::string failedAt;
};

// Failures the store hands to the application instead of raising them (a
// failing Timeout or Destruct) show in the output with their line.
class ProgramApp final : public DefaultStoreApplication {
public:
    explicit ProgramApp(StringPrintable& out) : out_(out) { setCurrentPrintable(&out); }
    int handleException(StoreException& e) override {
        if (out_.column() != 0) out_.text += "\n";
        out_.text += std::string("handed: ") + e.what() + " (line " + std::to_string(e.line) + " of " +
                     (e.procedure ? e.procedure->name() : "?") + ")\n";
        return 1;
    }

private:
    StringPrintable& out_;
};

Outcome RunProgram(const std::string& base, bool registerForm) {
    RegisterForm::SetEnabled(registerForm);
    StringPrintable out;
    ProgramApp app(out);
    const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
    Outcome o;
    try {
        LoadTextModuleFile(base + ".tqs", m);
        o.printed = RunMain(m, out, &o.failedAt);
    } catch (const StoreException& e) {
        o.printed = std::string("not loaded: ") + e.what();
    }
    UnloadEveryModule();
    InterObjRep::DeleteObjects();
    RegisterForm::SetEnabled(true);
    return o;
}

TEST_P(Programs, PrintWhatTheirExpectedOutputSaysInBothForms) {
    const std::string base = GetParam();
    ASSERT_TRUE(std::filesystem::exists(base + ".out")) << "no expected output beside " << base << ".tqs";
    const std::string expected = ReadFile(base + ".out");
    ASSERT_FALSE(expected.empty()) << "a program must show that it ran";
    const Outcome tree = RunProgram(base, false);
    const Outcome reg = RunProgram(base, true);
    EXPECT_EQ(tree.printed, expected) << "tree walker";
    EXPECT_EQ(reg.printed, expected) << "register form";
    EXPECT_EQ(reg.failedAt, tree.failedAt) << "where the failure arose";
}

INSTANTIATE_TEST_SUITE_P(Tqs, Programs, ::testing::ValuesIn(ProgramsIn(kPrograms)), ParamName);
INSTANTIATE_TEST_SUITE_P(Examples, Programs, ::testing::ValuesIn(ProgramsIn(kExamples)), ParamName);

// The meadow example keeps its state in the fields of a static object and
// saves its own module at the end of Main: run from its own file, the next
// run goes on from where the last one stopped, without the host saving
// anything.
class KeptState : public Programs {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tq-kept-state-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        path_ = (folder_ / "meadow.tqs").string();
        std::filesystem::copy_file(kExamples + "/meadow.tqs", path_);
    }
    void TearDown() override {
        Programs::TearDown();
        std::filesystem::remove_all(folder_);
    }

    // One run as a process would make it: load the file, run Main, unload
    // without saving.
    std::string run() {
        DefaultStoreApplication app;
        StringPrintable out;
        app.setCurrentPrintable(&out);
        const tModuleIndex m = ObjectStore::LoadModule(path_.c_str(), 0, 0);
        if (!ObjectStore::ValidIndex(m)) return "not loaded";
        const std::string printed = RunMain(m, out);
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
        return printed;
    }

    std::filesystem::path folder_;
    std::string path_;
};

TEST_F(KeptState, ASavedRunIsContinuedByTheNextOne) {
    EXPECT_EQ(run(), ReadFile(kExamples + "/meadow.out"));
    EXPECT_EQ(run(),
              "The meadow again, after year 5\n"
              "year  6:  830 rabbits  27 foxes  rrrrrrrrrrrrrrrrFFFFF\n"
              "year  7:  855 rabbits  32 foxes  rrrrrrrrrrrrrrrrrFFFFFF\n"
              "year  8:  838 rabbits  37 foxes  rrrrrrrrrrrrrrrrFFFFFFF\n"
              "year  9:  779 rabbits  43 foxes  rrrrrrrrrrrrrrrFFFFFFFF\n"
              "year 10:  678 rabbits  49 foxes  rrrrrrrrrrrrrFFFFFFFFF\n");
    // The saved module is a text module still, with the new values and the
    // procedures' comments.
    const std::string saved = ReadFile(path_);
    EXPECT_NE(saved.find("  .Year = 10\n  .Rabbits = 678\n  .Foxes = 49\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("' The meadow's state is kept"), std::string::npos) << saved;
}

}  // namespace
}  // namespace tq::compiler::test
