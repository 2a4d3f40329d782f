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
#include "tools/tessaro/programrun.h"
#include "tools/tessaro/session.h"

namespace tessaro {

namespace {

// Saves and commits every module the program changed; true when every one
// was saved. A module without a file (a program read from standard input)
// has nowhere to go. One that cannot be saved (opened read-only, a text
// file marked read-only or written by hand, a full disk) is named with the
// reason, and the others are saved all the same: changes are never dropped
// without a word, nor held back by another module's failure.
bool SaveChanged() {
    bool saved = true;
    for (int i = 0; i < tq::MAX_MODULES; ++i) {
        const auto m = static_cast<tq::tModuleIndex>(i);
        if (!tq::ObjectStore::ValidIndex(m) || !tq::ObjectStore::IsDirty(m)) continue;
        if (tq::ObjectStore::ModuleIsUntitled(m)) continue;
        try {
            tq::ObjectStore::Save(m);
            tq::ObjectStore::Commit(m);
        } catch (const tq::StoreException& e) {
            std::cerr << "tessaro run: " << e.what() << "\n";
            saved = false;
        }
    }
    return saved;
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

    // The program sees its arguments through Application too, its file
    // first, as argument 0.
    RunInfo info;
    info.args.push_back(operands.file);
    info.args.insert(info.args.end(), operands.args.begin(), operands.args.end());
    const RunResult run = RunProgram(session, *launch, operands, info, false);
    if (!run.completed) return run.status;
    // Outside the program's try: a save that fails is no failure of Main's,
    // and its message names the module file and the reason.
    if (parsed.has("save") && !SaveChanged()) return 1;
    return run.status;
}

}  // namespace tessaro
