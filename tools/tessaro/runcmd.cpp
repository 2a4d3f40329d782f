// tessaro run: a program from the shell, start to end.
//
//   load (the -l modules, then FILE) -> find the method -> call it with the
//   arguments as Strings -> serve its timers until none runs -> report -> save (only with --save, only when the
//   run succeeded) -> unload without saving
//
// Nothing is written unless the program saves or --save asks: a failure, a
// Ctrl-C or a crash leaves every module file as it was last saved (the
// store commits a module by writing a new file and renaming it over the
// old one).
#include <iostream>
#include <optional>

#include <tqstore/tqstore.h>

#include "tools/tessaro/cmdline.h"
#include "tools/tessaro/commands.h"
#include "tools/tessaro/failure.h"
#include "tools/tessaro/launch.h"
#include "tools/tessaro/session.h"
#include "tools/tessaro/syslib.h"

namespace tessaro {

namespace {

// The exit status a Function Main's value gives: its number (the shell sees
// it modulo 256); 0 for a Sub, for no value and for a value that is no
// number.
int StatusOf(const tq::ValuePtr& value) {
    if (!value) return 0;
    switch (value->type() & tq::IDT_TYPEMASK) {
        case tq::IDT_SHORT:
        case tq::IDT_LONG:
        case tq::IDT_FLOAT:
        case tq::IDT_DOUBLE:
        case tq::IDT_CURRENCY: {
            try {
                return static_cast<int>(value->as<int32_t>());
            } catch (const tq::StoreException&) {
                return 1;
            }
        }
        default: return 0;
    }
}

// Saves and commits every module the program changed. A module without a
// file (a program read from standard input) has nowhere to go; a text module
// marked read-only is the user's to protect. A binary module opened
// read-only is asked all the same: the store refuses it when it has
// changes, so they are never dropped without a word.
void SaveChanged() {
    for (int i = 0; i < tq::MAX_MODULES; ++i) {
        const auto m = static_cast<tq::tModuleIndex>(i);
        if (!tq::ObjectStore::ValidIndex(m) || !tq::ObjectStore::IsDirty(m)) continue;
        if (tq::ObjectStore::ModuleIsUntitled(m)) continue;
        if (tq::ObjectStore::ModuleIsText(m) && tq::ObjectStore::ModuleIsReadOnly(m)) continue;
        tq::ObjectStore::Save(m);
        tq::ObjectStore::Commit(m);
    }
}

// The program lives on while a timer runs: its ticks are served until the
// last timer is disabled. False when Ctrl-C came while waiting (a Ctrl-C
// inside a Timeout ends it as it ends Main, through TerminateExecution).
// A Timeout that fails stops its timer and is reported through the
// application, as a failing Destruct is.
bool RunTimers(TessaroApp& app) {
    while (tq::MessageLoop::TimerCount() > 0) {
        tq::MessageLoop::Wait(-1);
        if (app.takeInterrupt()) return false;
        tq::StoreApplication::PumpMessages();
        std::cout.flush();
        std::fflush(stdout);
    }
    return true;
}

}  // namespace

int RunCommand(const Args& args) {
    const Command& self = *FindCommand("run");
    ParsedArgs parsed;
    RunOperands operands;
    if (const std::optional<int> ended =
            ParseRunCommandLine(self, args, {{"save", 0, false}, {"load", 'l', true}, {"tree", 0, false}},
                                parsed, operands))
        return *ended;
    // Every procedure on the tree walker: to compare the two forms' output
    // and speed on the same program.
    if (parsed.has("tree")) tq::RegisterForm::SetEnabled(false);

    Session session;
    std::cout.sync_with_stdio(true);
    const std::optional<Launch> launch = PrepareLaunch(session, parsed, operands);
    if (!launch) return 1;
    const tq::tModuleIndex m = launch->module;
    const Target& target = launch->target;

    ChainRecorder recorder;
    // A failure the store hands to the application (a failing Destruct)
    // is reported as an uncaught one is, and the run does not end well.
    session.app().setFailureReporter([&](const tq::StoreException& e) {
        std::cerr << DescribeFailure(e, recorder.chainFor(e.what()), SourceLines::fileName(m), target.object,
                                     target.method, session.lines());
    });
    struct ReporterReset {
        TessaroApp& app;
        ~ReporterReset() { app.setFailureReporter(nullptr); }
    } reporterReset{session.app()};
    int status = 0;
    try {
        ProgramArguments arguments(*launch, operands);
        int handled = 0;
        tq::ValuePtr result = launch->object->evalIMember(target.method.c_str(), &arguments.values(), &handled);
        status = ProgramExitStatus(StatusOf(result), result != nullptr);
        std::cout.flush();
        std::fflush(stdout);
        if (!RunTimers(session.app())) {
            std::cerr << "\ntessaro: stopped by the user (Ctrl-C); nothing was saved\n";
            return kBreakStatus;
        }
        if (session.app().handedFailures() > 0) return 1;
    } catch (const tq::StoreException& e) {
        // A line Print left open ends before the report, so that on a
        // terminal the report starts a line of its own.
        if (auto* out = dynamic_cast<tq::TextPrintable*>(session.app().getCurrentPrintable()); out && out->column() != 0)
            out->endOfStatement(-1);
        std::cout.flush();
        std::fflush(stdout);
        if (session.app().breakTaken()) {
            std::cerr << "\ntessaro: stopped by the user (Ctrl-C); nothing was saved\n";
            return kBreakStatus;
        }
        std::cerr << DescribeFailure(e, recorder.chainFor(e.what()), SourceLines::fileName(m), target.object, target.method, session.lines());
        return 1;
    }
    // Outside the program's try: a save that fails is no failure of Main's,
    // and its message names the module file and the reason.
    if (parsed.has("save")) {
        try {
            SaveChanged();
        } catch (const tq::StoreException& e) {
            std::cerr << "tessaro run: " << e.what() << "\n";
            return 1;
        }
    }
    return status;
}

}  // namespace tessaro
