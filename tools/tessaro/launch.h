// What run and debug share before the program starts: their operands
// (FILE [Object.Method | --] [ARGS...]), the modules loaded (the -l ones,
// then FILE), the method found, and the arguments made Strings.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <tqstore/tqstore.h>

#include "tools/tessaro/cmdline.h"
#include "tools/tessaro/commands.h"
#include "tools/tessaro/runtarget.h"
#include "tools/tessaro/session.h"

namespace tessaro {

struct RunOperands {
    std::string file;
    std::optional<Target> named;  // none: Main of the first object that has one
    std::vector<std::string> args;
};

// Reads the command line of a command that runs a program (run, debug):
// the options decls declares, then FILE and its operands. Without
// Object.Method (a word with a dot) the words after FILE are Main's
// arguments; "--" first lets the first of them have a dot. Gives the
// command's exit status when it ends here: its help shown (0) or wrong
// usage reported (2).
std::optional<int> ParseRunCommandLine(const Command& self, const Args& args, const std::vector<OptionDecl>& decls,
                                       ParsedArgs& parsed, RunOperands& operands);

struct Launch {
    tq::tModuleIndex module = tq::NO_MODULE;
    Target target;
    tq::InterObj object;  // the object whose method target names
};

// Loads the modules of the "load" option and FILE into session and finds
// the method to run. A failure is shown on standard error and gives
// nothing (the command's status is then 1).
std::optional<Launch> PrepareLaunch(Session& session, const ParsedArgs& parsed, const RunOperands& operands);

// The program's arguments as the method to run takes them. Each is a
// String, in the order written. When the method's only parameter is an
// array (Main(args() As String)), one array holds them all: element 0 is
// FILE as the command line named it, as a C program's argv[0], and the
// arguments follow from 1, so UBound gives their count and no run has an
// array without elements. The array lives until this goes.
class ProgramArguments {
public:
    ProgramArguments(const Launch& launch, const RunOperands& operands);
    ~ProgramArguments();
    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;

    // Listed as a call lists them: the last argument first.
    tq::ValueList& values() { return values_; }

private:
    tq::InterObj holder_;  // the array's object, when there is an array
    tq::ValueList values_;
};

// The program lives on after its method returns while a timer runs: the
// ticks are served until the last timer is disabled. False when Ctrl-C came
// while waiting (a Ctrl-C inside a Timeout ends it as it ends Main, through
// TerminateExecution). A Timeout that fails stops its timer and is reported
// through the application, as a failing Destruct is.
bool ServeTimers(TessaroApp& app);

}  // namespace tessaro
