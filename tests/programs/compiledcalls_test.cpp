// Compiled members called from register code: the procedures of
// compiledcalls.tqs (run by the driver on both forms) are really
// translated, and a compiled getter that fails does so at its line with
// the same failure on both forms, its procedure translated too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "programrun.h"
#include "store/builtin/publish.h"
#include "tests/support/freshproc.h"

namespace tq::compiler::test {
namespace {

// A class whose Level fails once Tick has run three times past a reading;
// Ratio and Tick are a Function and a Sub of no argument.
class Gauge final : public IInterObj {
public:
    static PublishedClass& Class() {
        static PublishedClass cls("TessaroTest.Gauge", "Gauge", "{5E1F0000-0000-4000-8000-00000000AB20}",
                                  [](DllServer* s) -> IInterObj* { return new Gauge(s); });
        return cls;
    }
    explicit Gauge(DllServer* s) : IInterObj(s) {}
    void PO_DefineFields(SignatureRep& sig) override {
        DefineFields(sig, [&] {
            sig.addField(CompProcDataField::make("Level", IDT_LONG, NoSetter, Method(&Gauge::pdGetLevel)), nullptr, 0);
            ParseCppField("Sub Tick()", sig, &Gauge::imTick);
            ParseCppField("Function Ratio() As Double", sig, &Gauge::imRatio);
        });
    }
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream& in, uint32_t) override { ticks_ = in.readI32(); }
    void PO_Write(OCLStream& out) override { out.writeI32(ticks_); }
    const char* className() const override { return "Gauge"; }

    int32_t pdGetLevel() {
        if (ticks_ > 3) throw StoreException("the gauge is past its range", nullptr);
        return ticks_ * 100;
    }
    void imTick() { ++ticks_; }
    double imRatio() { return ticks_ / 4.0; }

private:
    int32_t ticks_ = 0;
};

const char* const kGaugeProgram = R"(Begin Object Meter
  Dim G As New Gauge

  Sub Run()
    Dim i As Long, s As Double
    For i = 1 To 3
      G.Tick
      s = s + G.Level + G.Ratio
    Next i
    Print s
    G.Tick
    s = G.Level
    Print "not reached"
  End Sub
End Object
)";

class CompiledCalls : public ProgramSuite {
protected:
    // Loads path afresh and runs method; what it printed, then the failure
    // that escaped with its line.
    std::string run(const std::string& path, const char* method, bool registerForm) {
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
        RegisterForm::SetEnabled(registerForm);
        Gauge::Class().PO_InitObject();
        DefaultStoreApplication app;
        StringPrintable out;
        app.setCurrentPrintable(&out);
        const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
        LoadTextModuleFile(path, m);
        obj_ = ObjectWith(m, method);
        if (!obj_) return "no object with " + std::string(method);
        try {
            int handled = 0;
            obj_->evalIMember(method, nullptr, &handled);
        } catch (const StoreException& e) {
            out.text += std::string("failure: ") + e.what() + " line " + std::to_string(e.line);
        }
        return out.text;
    }

    bool translated(const char* method) {
        auto* proc = dynamic_cast<InterProcField*>(obj_->findField(method));
        bool notTaken = false;
        return proc && proc->registerForm().current(notTaken) != nullptr;
    }

    // Made in the last run, though objects destroyed since made it stale.
    bool madeInTheRun(const char* method) {
        auto* proc = dynamic_cast<InterProcField*>(obj_->findField(method));
        return proc && proc->registerForm().lastMade() != nullptr;
    }

    InterObjRep* obj_ = nullptr;
    ScratchDir dir_;
};

TEST_F(CompiledCalls, TheProgramsProceduresAreTranslated) {
    const std::string out = run(kPrograms + "/compiledcalls.tqs", "Main", true);
    EXPECT_NE(out.find("before0"), std::string::npos) << out;
    for (const char* method : {"Tally", "Half", "Emptied", "Drop"}) EXPECT_TRUE(translated(method)) << method;
}

TEST_F(CompiledCalls, AFailingGetterFailsAtItsLineOnBothForms) {
    const std::string path = dir_.file("gauge.tqs");
    std::ofstream(path, std::ios::binary) << kGaugeProgram;
    const std::string tree = run(path, "Run", false);
    EXPECT_EQ(tree, "601.5\nfailure: the gauge is past its range line 9");
    EXPECT_EQ(run(path, "Run", true), tree);
    EXPECT_TRUE(translated("Run"));
}

// Members of the system library's objects: an As New local's file written
// and read to its end, named objects with String arguments and results,
// the Boolean EOF as a number; a file left open in an As New local is
// closed (its text written) when the procedure ends; a member of an empty
// object variable fails at its line.
const char* const kReaderProgram = R"(Begin Object Reader
  Sub Keep()
    Dim kept As New TextFile
    kept.OpenWrite "KEPT"
    kept.WriteLine "kept"
  End Sub

  Sub Run()
    Dim file As New TextFile
    Dim line As String, words As Long
    file.OpenWrite "READ"
    file.WriteLine "one two"
    file.Write "three"
    file.Close
    file.OpenRead "READ"
    Do While Not file.EOF
      line = file.ReadLine()
      words = words + Text.CountWords(line)
    Loop
    Print words; file.EOF; Text.PadRight("x", 3) & "|"
    Keep
    Print FileSystem.ReadAllText("KEPT");
    Tail
  End Sub

  Sub Tail()
    Dim empty As TextFile
    Print "before"
    Print empty.IsOpen
  End Sub
End Object
)";

class SystemMembers : public CompiledCalls {
protected:
    static void SetUpTestSuite() {
        CompiledCalls::SetUpTestSuite();
        ObjectStore::PublishObjectDLL(TQ_SYS_LIB);
    }
};

TEST_F(SystemMembers, AreCalledFromTranslatedProceduresWithTheTreeWalkersResults) {
    std::string text = kReaderProgram;
    for (const auto& [name, file] : {std::pair{"READ", "read.txt"}, std::pair{"KEPT", "kept.txt"}})
        for (size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, 4, dir_.file(file));
    const std::string path = dir_.file("reader.tqs");
    std::ofstream(path, std::ios::binary) << text;
    const std::string tree = run(path, "Run", false);
    EXPECT_EQ(tree, "3-1x  |\nkept\nbefore\nfailure: object is null line 4");
    for (const char* method : {"Run", "Keep", "Tail"}) EXPECT_FALSE(madeInTheRun(method)) << method;
    std::filesystem::remove(dir_.file("kept.txt"));
    EXPECT_EQ(run(path, "Run", true), tree);
    for (const char* method : {"Run", "Keep", "Tail"}) EXPECT_TRUE(madeInTheRun(method)) << method;
}

}  // namespace
}  // namespace tq::compiler::test
