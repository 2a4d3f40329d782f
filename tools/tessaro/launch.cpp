#include "tools/tessaro/launch.h"

#include <iostream>

#include "tools/tessaro/modules.h"

namespace tessaro {

namespace {

RunOperands SplitRunOperands(const std::vector<std::string>& operands) {
    RunOperands out;
    out.file = operands.at(0);
    size_t firstArg = 1;
    if (operands.size() > 1) {
        if (operands[1] == "--") {
            firstArg = 2;
        } else if (operands[1].find('.') != std::string::npos) {
            out.named = ParseTarget(operands[1]);
            if (!out.named) throw UsageError("'" + operands[1] + "' is not Object.Method");
            firstArg = 2;
        }
    }
    out.args.assign(operands.begin() + static_cast<std::ptrdiff_t>(firstArg), operands.end());
    return out;
}

}  // namespace

std::optional<int> ParseRunCommandLine(const Command& self, const Args& args, const std::vector<OptionDecl>& decls,
                                       ParsedArgs& parsed, RunOperands& operands) {
    try {
        parsed = ParseArgs(args, decls, true);
        if (parsed.help) return ShowHelp(self);
        if (parsed.operands.empty()) return UsageFailure(self, std::string("no FILE to ") + self.name);
        operands = SplitRunOperands(parsed.operands);
    } catch (const UsageError& e) {
        return UsageFailure(self, e.what());
    }
    return std::nullopt;
}

std::optional<Launch> PrepareLaunch(Session& session, const ParsedArgs& parsed, const RunOperands& operands) {
    Launch launch;
    try {
        if (parsed.has("load"))
            for (const std::string& other : parsed.options.at("load"))
                session.lines().remember(LoadModuleFile(session.app(), other));
        launch.module = IsProjectFile(operands.file) ? OpenProjectFile(session.app(), operands.file)
                                                     : LoadModuleFile(session.app(), operands.file);
        session.lines().remember(launch.module);
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return std::nullopt;
    }
    try {
        const std::string shown = SourceLines::fileName(launch.module);
        launch.target = operands.named ? *operands.named : MainTarget(launch.module, shown);
        launch.object = ResolveTarget(launch.target, shown);
    } catch (const TargetFailed& e) {
        std::cerr << e.what() << "\n";
        return std::nullopt;
    } catch (const tq::StoreException& e) {
        // Looking for the method faults objects in: a damaged module fails
        // here, not only when it is opened.
        std::cerr << SourceLines::fileName(launch.module) << ": " << e.what() << "\n";
        return std::nullopt;
    }
    return launch;
}

}  // namespace tessaro
