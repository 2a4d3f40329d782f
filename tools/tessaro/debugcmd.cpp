// tessaro debug: a program run under the command-line debugger, which reads
// its commands from standard input. The modules are loaded and the method
// found as for run; nothing is saved.
#include <iostream>

#include <tqstore/tqstore.h>

#include "tools/tessaro/launch.h"
#include "tools/tqdebugcli/debugcli.h"

namespace tessaro {

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
    tq::debugcli::CommandLineDebugger debugger(std::cin, std::cout);
    try {
        ProgramArguments arguments(*launch, operands);
        return debugger.session(launch->target.object + "." + launch->target.method, &arguments.values());
    } catch (const tq::StoreException& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}

}  // namespace tessaro
