// What a program's run needs once its modules are loaded, shared by
// `tessaro run` and the executables tqapp starts: the Application the
// program sees (Globals.App, with its arguments), the exit status its Main
// gives, and its timers served until none runs.
#pragma once

#include <string>
#include <vector>

#include <tqstore/tqstore.h>

#include "tools/tessaro/launch.h"
#include "tools/tessaro/session.h"
#include "tools/tessaro/tessaroapp.h"

namespace tessaro {

// The exit status a Function Main's value gives: its number (the shell sees
// it modulo 256); 0 for a Sub, for no value and for a value that is no
// number.
int StatusOf(const tq::ValuePtr& value);

// The program lives on while a timer runs: its ticks are served until the
// last timer is disabled. False when Ctrl-C came while waiting (a Ctrl-C
// inside a Timeout ends it as it ends Main, through TerminateExecution).
// A Timeout that fails stops its timer and is reported through the
// application, as a failing Destruct is.
bool RunTimers(TessaroApp& app);

// What a running program reports to its Application: its arguments
// (args[0] the program's own file) and the data an executable carries.
struct RunInfo {
    std::vector<std::string> args;
    uint32_t word = tq::iApplication::kDefaultFlags;
    std::vector<std::string> modules;
    std::string splashFileName;
    std::string appName;  // the Application to look for; empty: any
};

// The static Application object named name, else the first static
// Application of module m; null when there is none.
tq::InterObj FindApplication(tq::tModuleIndex m, const std::string& name);

// The program's Application for one run: the static Application object
// named info.appName, else the first static Application of module m, else
// a new one made for the run (and destroyed with this). It is given info
// through SetInfo and named the program's (Globals.App).
class ProgramApplication {
public:
    ProgramApplication(tq::tModuleIndex m, const RunInfo& info);
    ~ProgramApplication();
    ProgramApplication(const ProgramApplication&) = delete;
    ProgramApplication& operator=(const ProgramApplication&) = delete;

    tq::InterObjRep* object() const { return object_.get(); }
    // Whether the object came from the program's modules (not made here).
    bool fromModules() const { return !made_; }
    // Raises the Application event `name` ("Startup", "Shutdown").
    void raise(const char* name);

private:
    tq::InterObj object_;
    bool made_ = false;
};

struct RunResult {
    int status = 0;          // the process's exit status
    bool completed = false;  // ended without a failure or a Ctrl-C
};

// One run of a loaded program: its Application named and told info, then
// (with events) "Startup" raised, the launched method called with the
// arguments (none when launch has no object: the program is its Startup
// handler), its timers served until none runs, and (with events)
// "Shutdown" raised. Application.Quit ends it as its last statement would.
// A failure nothing caught is shown on standard error as tessaro run shows
// it (status 1); Ctrl-C gives kBreakStatus.
RunResult RunProgram(Session& session, const Launch& launch, const RunOperands& operands, const RunInfo& info,
                     bool events);

}  // namespace tessaro
