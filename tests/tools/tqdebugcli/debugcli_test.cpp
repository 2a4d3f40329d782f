// The command-line debugger driven by strings: a session's commands go in,
// what a person would see comes out (the program's own Print output in
// the same stream). The same session runs on the text module and on the
// binary module saved from it, whose source is regenerated.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "tests/support/freshproc.h"
#include "tools/tqdebugcli/debugcli.h"

namespace tq::debugcli {
namespace {

constexpr const char* kProgram = R"(Begin Object Prog
  Dim Total As Long
  Sub Main()
    Dim i As Long
    Total = 0
    For i = 1 To 3
      Add i
    Next i
    Print "total " & Total
  End Sub
  Sub Add(ByVal n As Long)
    Total = Total + n
  End Sub
  Sub FailSystem()
    Print 1 \ 0
    Print "went on"
  End Sub
  Sub Repeat(ByVal n As Long)
    Dim k As Long
    For k = 1 To 3
      Total = Total + n
    Next k
    Print "repeat " & k
  End Sub
  Sub Loops()
    Dim i As Long
    For i = 1 To 2
      Repeat i
    Next i
    Print "loops " & i & " " & Total
  End Sub
End Object
)";

// The program's Print output joins the debugger's own.
class StreamSink final : public TextPrintable {
public:
    explicit StreamSink(std::ostream& os) : os_(os) {}

protected:
    void write(const char* t, size_t length) override { os_.write(t, static_cast<std::streamsize>(length)); }

private:
    std::ostream& os_;
};

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        compiler::EnableTextModules();
    }
    void SetUp() override {
        app_.setCurrentPrintable(&sink_);
        std::ofstream(dir_.file("prog.tqs")) << kProgram;
        module_ = ObjectStore::LoadModule(dir_.file("prog.tqs").c_str(), 0, 0);
        ASSERT_TRUE(ObjectStore::ValidIndex(module_));
    }
    void TearDown() override {
        for (int m = MAX_MODULES - 1; m >= 0; --m)
            if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m)))
                ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
        InterObjRep::DeleteObjects();
    }

    // The module again, saved as a binary module and loaded from there.
    void reloadAsBinary() {
        const std::string qbo = dir_.file("prog.qbo");
        ObjectStore::SaveAs(module_, qbo.c_str(), 0);
        ObjectStore::UnloadModule(module_);
        module_ = ObjectStore::LoadModule(qbo.c_str(), 0, 0);
        ASSERT_TRUE(ObjectStore::ValidIndex(module_));
        ASSERT_FALSE(ObjectStore::ModuleIsText(module_));
    }

    // Line of Prog.proc's source holding text.
    static int lineOf(const char* proc, const std::string& text) {
        InterObj o;
        ObjectStore::find("Prog", o);
        std::istringstream src(dynamic_cast<InterProcField*>(o->findField(proc))->getSource());
        std::string l;
        for (int n = 1; std::getline(src, l); ++n)
            if (l.find(text) != std::string::npos) return n;
        return -1;
    }
    static std::string at(const char* proc, const std::string& text) {
        return std::string("Prog.") + proc + ":" + std::to_string(lineOf(proc, text));
    }

    std::string session(const std::string& commands, const std::string& target = "Prog.Main") {
        out_.str("");
        std::istringstream in(commands);
        CommandLineDebugger dbg(in, out_);
        status_ = dbg.session(target);
        return out_.str();
    }

    std::ostringstream out_;
    int status_ = -1;

private:
    ScratchDir dir_;
    StreamSink sink_{out_};
    DefaultStoreApplication app_;
    tModuleIndex module_ = 0;
};

void ExpectInOrder(const std::string& out, const std::vector<std::string>& pieces) {
    size_t from = 0;
    for (const std::string& p : pieces) {
        const size_t found = out.find(p, from);
        ASSERT_NE(found, std::string::npos) << "missing, in order: " << p << "\n--- output:\n" << out;
        from = found + p.size();
    }
}

// The walk the issue asks for: a breakpoint, run, print a local, step,
// step over a call, the call chain, continue to the end.
std::string Walk(int addLine) {
    return "break Prog.Add:" + std::to_string(addLine) +
           "\nrun\nprint n\nup\nprint i\nwhere\ndown\ndelete 1\nnext\nnext\nnext\nstep\ncontinue\nquit\n";
}

TEST_F(CommandLine, StopsStepsAndShowsTheCallChainOnTheTextModule) {
    const std::string out = session(Walk(lineOf("Add", "Total = Total + n")));
    ExpectInOrder(out, {
        "Breakpoint 1 at " + at("Add", "Total = Total"),
        "Breakpoint 1, " + at("Add", "Total = Total") + "\n",
        std::to_string(lineOf("Add", "Total = Total")) + "\tTotal = Total + n\n",
        "n = 1\n",
        at("Main", "Add i") + "\n",  // up
        "i = 1\n",
        "  #0  Add(",                   // where: the callee first, the caller current
        "* #1  Main() at line " + std::to_string(lineOf("Main", "Add i")),
        at("Add", "Total = Total") + "\n",  // down
        at("Add", "End Sub") + "\n",        // next
        at("Main", "Next i") + "\n",        // next leaves Add for the caller
        at("Main", "Add i") + "\n",         // next again: over the call, not into it
        at("Add", "Total = Total") + "\n",  // step goes into the call
        "total 6\n",
        "Program finished.\n",
    });
    EXPECT_EQ(status_, 0);
}

TEST_F(CommandLine, TheSameWalkWorksOnTheBinaryModuleFromRegeneratedSource) {
    const std::string onText = session(Walk(lineOf("Add", "Total = Total + n")));
    reloadAsBinary();
    EXPECT_EQ(session(Walk(lineOf("Add", "Total = Total + n"))), onText);
}

TEST_F(CommandLine, ConditionsIgnoreCountsAndTemporaryBreakpointsShowInTheTable) {
    const int line = lineOf("Add", "Total = Total");
    const std::string out = session("break Prog.Add:" + std::to_string(line) + "\ncondition 1 n >= 2\n" +
                                    "tbreak Prog.Main:" + std::to_string(lineOf("Main", "Print")) +
                                    "\nignore 1 1\ninfo breakpoints\nrun\nprint n\ninfo breakpoints\ncontinue\n"
                                    "info breakpoints\ncontinue\n");
    ExpectInOrder(out, {
        "Temporary breakpoint 2 at " + at("Main", "Print"),
        "Will ignore next 1 crossings of breakpoint 1.",
        "Num  Type        Disp  Enb  What\n",
        "1    breakpoint  keep  y    " + at("Add", "Total = Total") + "\n     stop only if n >= 2\n     ignore next 1 hits\n",
        "2    breakpoint  del   y    " + at("Main", "Print") + "\n",
        "Breakpoint 1, ",
        "n = 3\n",  // n = 2 was the ignored crossing
        "1    breakpoint  keep  y    ",
        "Breakpoint 2, " + at("Main", "Print"),
        "1    breakpoint  keep  y    ",
        "Program finished.",
    });
    EXPECT_EQ(out.find("2    breakpoint  del", out.find("Breakpoint 2, ")), std::string::npos) << "deleted after firing";
}

TEST_F(CommandLine, CommandsRunInsteadOfStoppingAndAssignmentsChangeTheProgram) {
    const std::string line = std::to_string(lineOf("Add", "Total = Total"));
    EXPECT_NE(session("break Prog.Add:" + line + "\ncommands 1\nTotal = Total + 100\nend\nrun\nquit\n")
                  .find("total 306\nProgram finished."),
              std::string::npos);
    const std::string out = session("break Prog.Add:" + line + "\nrun\nn = 10\ndisable 1\ncontinue\nquit\n");
    EXPECT_NE(out.find("total 15\n"), std::string::npos) << out;
}

TEST_F(CommandLine, ListMarksTheCurrentLine) {
    const int line = lineOf("Add", "Total = Total");
    const std::string out = session("break Prog.Add:" + std::to_string(line) + "\nrun\nlist\nquit\n");
    ExpectInOrder(out, {"   1\tSub Add(ByVal n As Long)\n", "=> " + std::to_string(line) + "\t", "Total = Total + n\n",
                        "End Sub\n", "Program terminated."});
}

// The stop shows the failure; going on from it ends the run with that
// failure, as a run without the debugger ends. At the stop, Stop asks for
// nothing new and up finds no caller.
TEST_F(CommandLine, CatchStopsAtASystemExceptionWhichThenEndsTheRunAndCatchOffEndsItAtOnce) {
    std::string out = session("run\nStop\nup\ncontinue\nquit\n", "Prog.FailSystem");
    ExpectInOrder(out, {"Division by zero.", at("FailSystem", "Print 1") + "\n", "(tqdb) (tqdb) ",
                        "Initial frame selected; you cannot go up.\n",
                        "Program ended with an error: Division by zero. (line " +
                            std::to_string(lineOf("FailSystem", "Print 1")) + ")\n"});
    EXPECT_EQ(out.find("went on"), std::string::npos) << out;
    EXPECT_EQ(out.find("Terminated"), std::string::npos) << out;
    EXPECT_EQ(status_, 1);
    out = session("catch off\nrun\nquit\n", "Prog.FailSystem");
    ExpectInOrder(out, {"Exceptions are not caught.", "Program ended with an error: "});
    EXPECT_EQ(status_, 1);
}

TEST_F(CommandLine, WatchStopsWhereTheConditionBecomesTrue) {
    const std::string out = session("watch Total >= 3\nrun\nprint Total\ndelete\ncontinue\nquit\n");
    ExpectInOrder(out, {"Watchpoint 1: Total >= 3", "Watchpoint 1: Total >= 3, Prog.", "Total = 3\n",
                        "Program finished."});
}

// k is a local of Repeat only: in Loops the watch cannot be evaluated and
// must let the program run, not end it.
TEST_F(CommandLine, AWatchIsSilentInProceduresWhereItsNamesDoNotResolve) {
    const std::string out = session("watch k = 2\nrun\nprint n\ndelete\ncontinue\nquit\n", "Prog.Loops");
    ExpectInOrder(out, {"Watchpoint 1: k = 2, Prog.Repeat:", "n = 1\n", "repeat 4\nrepeat 4\nloops 3 9\n",
                        "Program finished."});
    EXPECT_EQ(status_, 0);
}

// Exit For typed in the caller's frame cannot leave the caller's loop while
// the callee runs above it; it must not end the callee's loop instead.
TEST_F(CommandLine, ExitInACallersFrameIsRefusedAndLeavesTheCalleesLoopAlone) {
    const std::string out = session("break " + at("Repeat", "Total = Total + n") +
                                        "\nrun\nup\nExit For\ndown\ndown\ndelete\ncontinue\nquit\n",
                                    "Prog.Loops");
    ExpectInOrder(out, {at("Loops", "Repeat i") + "\n", "EXIT FOR called outside of For..Loop\n",
                        at("Repeat", "Total = Total + n") + "\n",
                        "Bottom (innermost) frame selected; you cannot go down.\n",
                        "repeat 4\nrepeat 4\nloops 3 9\n", "Program finished."});
}

TEST_F(CommandLine, BadCommandsAndTheEndOfInputAreReportedNotFatal) {
    const std::string out = session("break Nowhere.Main:3\nbreak Prog.Nothing\ncontinue\nprint 1\ncondition 9 1\n"
                                    "break Prog.Add\nrun\n");
    ExpectInOrder(out, {"No object Nowhere.", "No procedure Prog.Nothing.", "The program is not being run.",
                        "No frame", "No breakpoint number 9.", "Breakpoint 1 at Prog.Add:",
                        "Breakpoint 1, ", "Program terminated."});
}

}  // namespace
}  // namespace tq::debugcli
