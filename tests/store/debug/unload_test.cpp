// Unloading a module from a debugger's stop: while the debugger holds the
// program suspended, ObjectModule.Unload asks the user to end the method
// first and changes nothing, without raising.
#include <gtest/gtest.h>

#include "dbghost.h"

namespace tq::test {
namespace {

constexpr const char* kProgram = R"(
Begin Object Prog
  Dim Total As Long
  Sub Main()
    Total = 1
    Print Total
  End Sub
End Object
)";

TEST(UnloadWhileSuspended, ShowsTheMessageBoxAndLeavesTheModuleLoaded) {
    ObjectStore::PublishObjectDLL("tqstore");
    ProgramFixture prog{kProgram};
    ScriptedHost host;
    const tModuleIndex m = prog.object()->moduleIndex();
    std::string shown;
    bool raised = false;
    host.script.push_back([&](ScriptedHost& h) {
        iObjectModule* module = iObjectModule::Of(iObjectModule::FindOrMake(m));
        ASSERT_NE(module, nullptr);
        testing::internal::CaptureStderr();
        try {
            module->imUnload();
        } catch (const StoreException&) {
            raised = true;
        }
        shown = testing::internal::GetCapturedStderr();
        h.cont();
    });
    host.addBreakpoint(new SimpleBreakPoint(prog.proc("Main"), prog.lineOf("Main", "Print Total")));
    std::string printed;
    {
        DebugEnabler on;
        printed = prog.run("Main");
    }
    ASSERT_EQ(host.stops.size(), 1u);
    EXPECT_FALSE(raised) << "the refusal is the user's message, not an exception";
    EXPECT_NE(shown.find("Debugger suspended"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Please terminate the currently\nexecuting method."), std::string::npos) << shown;
    EXPECT_TRUE(ObjectStore::ValidIndex(m));
    EXPECT_EQ(printed, "1\n") << "the program went on where it stopped";
}

}  // namespace
}  // namespace tq::test
