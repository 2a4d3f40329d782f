// tessaro debug: a program run under the command-line debugger, which reads
// its commands from standard input. The modules are loaded and the method
// found as for run; nothing is saved. Breakpoints take the lines of the
// module files as failure reports print them. Timers are served after the
// method returns, as run serves them, under the debugger.
#include <filesystem>
#include <iostream>

#include <tqstore/tqstore.h>

#include "tools/tessaro/launch.h"
#include "tools/tessaro/programrun.h"
#include "tools/tqdebugcli/debugcli.h"

namespace tessaro {

namespace {

// File lines of the loaded modules, through the lines failure reports use.
class FilePlaces final : public tq::debugcli::SourcePlaces {
public:
    FilePlaces(SourceLines& lines, tq::tModuleIndex program) : lines_(lines), program_(program) {}

    bool procedureAt(const std::string& file, int32_t line, std::string& object, std::string& proc,
                     int32_t& procLine) override {
        const tq::tModuleIndex m = file.empty() ? program_ : moduleNamed(file);
        return tq::ObjectStore::ValidIndex(m) && lines_.procedureAt(m, line, object, proc, procLine);
    }

    std::string placeOf(const std::string& object, tq::InterProcField* proc, int32_t line) override {
        tq::InterObj o;
        if (!proc || !tq::ObjectStore::find(object.c_str(), o) || !o.get()) return {};
        const tq::tModuleIndex m = o->moduleIndex();
        if (!tq::ObjectStore::ValidIndex(m)) return {};
        const int32_t at = lines_.fileLine(m, object, proc->name(), line);
        return at > 0 ? SourceLines::fileName(m) + ":" + std::to_string(at) : std::string();
    }

private:
    // The loaded module a person names by its file: as reports show it, or
    // by the file's name alone.
    static tq::tModuleIndex moduleNamed(const std::string& file) {
        for (int i = 0; i < tq::MAX_MODULES; ++i) {
            const auto m = static_cast<tq::tModuleIndex>(i);
            if (!tq::ObjectStore::ValidIndex(m)) continue;
            const std::string shown = SourceLines::fileName(m);
            if (shown == file || std::filesystem::path(shown).filename() == file) return m;
        }
        return tq::NO_MODULE;
    }

    SourceLines& lines_;
    tq::tModuleIndex program_;
};

}  // namespace

int DebugCommand(const Args& args) {
    const Command& self = *FindCommand("debug");
    ParsedArgs parsed;
    RunOperands operands;
    if (const std::optional<int> ended = ParseRunCommandLine(self, args, {{"load", 'l', true}}, parsed, operands))
        return *ended;

    Session session;
    std::cout.sync_with_stdio(true);
    const std::optional<Launch> launch = PrepareLaunch(session, parsed, operands);
    if (!launch) return 1;
    FilePlaces places(session.lines(), launch->module);
    tq::debugcli::CommandLineDebugger debugger(std::cin, std::cout);
    debugger.setPlaces(&places);
    // The program lives on while a timer runs, as under `tessaro run`.
    debugger.setAfterReturn([&session] { return RunTimers(session.app()); });
    try {
        ProgramArguments arguments(*launch, operands);
        return debugger.session(launch->target.object + "." + launch->target.method, &arguments.values());
    } catch (const tq::StoreException& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}

}  // namespace tessaro
