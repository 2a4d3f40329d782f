// tessaro repl: immediate mode at a prompt.
//
//   read a line -> ":" command | "? expr" (Print expr) | statements
//   statements: gathered until they parse as a whole (a block typed over
//   several lines), compiled as an immediate block and run on the current
//   object; a failure is shown and the prompt comes back.
//
// A name an entry assigns without declaring it becomes a variable of the
// REPL: a field of one object that every entry sees as its outermost
// scope, so it keeps its value until the REPL ends. It is not part of any
// module, and :save does not write it.
//
// An entry is incomplete while the only errors the parser reports stand at
// the end of the text (a For still waiting for its Next); an empty line
// gives it up and shows those errors.
#include <cctype>
#include <iostream>
#include <map>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "tools/tessaro/cmdline.h"
#include "tools/tessaro/commands.h"
#include "tools/tessaro/failure.h"
#include "tools/tessaro/implicit.h"
#include "tools/tessaro/lineread.h"
#include "tools/tessaro/listing.h"
#include "tools/tessaro/modules.h"
#include "tools/tessaro/runtarget.h"
#include "tools/tessaro/session.h"

namespace tessaro {

namespace {

constexpr const char* kEntryName = "<repl>";

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class Repl {
public:
    explicit Repl(Session& session) : session_(session) {}

    // Loads the module named name and makes it current; false, with the
    // reason on standard error, when it does not load.
    bool load(const std::string& name);
    int loop();

private:
    bool command(const std::string& line);  // false for :quit
    void runEntry(const std::string& text);
    void serveTimers();
    void endOutputLine();
    void chooseObject();
    tq::compiler::CodegenOptions spellings();

    Session& session_;
    LineReader reader_;
    ChainRecorder recorder_;
    tq::tModuleIndex current_ = tq::NO_MODULE;
    tq::InterObj me_;
    // The names spellings() found, lower case.
    std::shared_ptr<std::map<std::string, std::string>> known_;
    // The REPL's variables: the fields of its static-variable object, and
    // their names (lower case, to the spelling first typed).
    tq::BlockBuildRep variables_{1};
    std::map<std::string, std::string> variableNames_;
};

bool Repl::load(const std::string& name) {
    try {
        current_ = LoadModuleFile(session_.app(), name);
        if (me_.isNull()) chooseObject();
        return true;
    } catch (const LoadFailed& e) {
        std::cerr << e.what() << "\n";
        return false;
    }
}

// Main's object of the current module, when there is one: the object a
// program's statements are written in.
void Repl::chooseObject() {
    if (!tq::ObjectStore::ValidIndex(current_)) return;
    try {
        const Target t = MainTarget(current_, "");
        me_ = ResolveTarget(t, "");
    } catch (const TargetFailed&) {
    }
}

// The spelling the loaded program gives a name, so that "count" typed at
// the prompt reaches the field declared "Count": the current object's
// members and every static object.
tq::compiler::CodegenOptions Repl::spellings() {
    auto names = std::make_shared<std::map<std::string, std::string>>();
    if (!me_.isNull()) {
        tq::InterObjFieldIterator fields(me_.get());
        while (tq::Field* f = fields()) names->emplace(Lower(f->name()), f->name());
    }
    for (int i = 0; i < tq::MAX_MODULES; ++i) {
        const auto m = static_cast<tq::tModuleIndex>(i);
        if (!tq::ObjectStore::ValidIndex(m)) continue;
        tq::GroupObjectList objects;
        tq::ObjectStore::GetStaticObjects(m, objects, 0);
        for (size_t k = 0; k < objects.length(); ++k)
            if (tq::InterObjRep* o = objects[k].get(); o && o->name()) names->emplace(Lower(o->name()), o->name());
    }
    for (const auto& [lower, spelled] : variableNames_) names->emplace(lower, spelled);
    tq::compiler::CodegenOptions options;
    known_ = names;
    options.declaredSpelling = [names](std::string_view name) -> std::string_view {
        const auto found = names->find(Lower(std::string(name)));
        return found == names->end() ? std::string_view() : std::string_view(found->second);
    };
    return options;
}

// Print leaves its line open after a trailing separator; the prompt starts
// on a line of its own.
void Repl::endOutputLine() {
    std::cout.flush();
    auto* out = dynamic_cast<tq::TextPrintable*>(session_.app().getCurrentPrintable());
    if (out && out->column() != 0) {
        // Through the sink, so that its column goes back to 0 too.
        out->endOfStatement(-1);
    }
    std::fflush(stdout);
}

// Timers run between entries: the ticks that came due while the last
// entry ran or the prompt waited are served before the next prompt (one
// each: missed ticks are dropped). A Timeout that fails stops its timer
// and is shown through the application; a Ctrl-C inside one stops it.
void Repl::serveTimers() {
    if (tq::MessageLoop::TimerCount() == 0) return;
    session_.app().clearBreak();
    try {
        tq::StoreApplication::PumpMessages();
    } catch (const tq::StoreException& e) {
        endOutputLine();
        std::cerr << (session_.app().breakTaken() ? std::string("stopped (Ctrl-C)") : "error: " + std::string(e.what()))
                  << "\n";
        session_.app().clearBreak();
    }
    endOutputLine();
}

void Repl::runEntry(const std::string& text) {
    recorder_.clear();
    session_.app().clearBreak();
    try {
        spellings();
        // Undeclared names the entry assigns become variables of the REPL
        // before it is compiled, so that it reads them as declared.
        for (const ImplicitVariable& v :
             ImplicitVariables(text, [this](std::string_view name) { return known_->count(std::string(name)) != 0; })) {
            variables_.addStaticLocalVar(tq::InterDataField::make(v.name.c_str(), v.type, 1), nullptr);
            variableNames_.emplace(Lower(v.name), v.name);
        }
        const tq::compiler::CodegenOptions options = spellings();
        std::unique_ptr<tq::EvalableBlock> block = tq::compiler::CompileStatements(text, kEntryName, options);
        tq::Context ctx(me_.get(), tq::Context::kSearchGlobals);
        if (tq::InterObjRep* vars = variables_.staticVarObj()) {
            ctx.pushLocals(vars);
            // The variables outlive the entry: their scope is taken off,
            // not destroyed, however the entry ends.
            struct Keep {
                tq::Context& ctx;
                ~Keep() { ctx.popStatics(); }
            } keep{ctx};
            block->eval(ctx, 1);
        } else {
            block->eval(ctx, 1);
        }
    } catch (const tq::compiler::CompileError& e) {
        endOutputLine();
        std::cerr << e.what() << "\n";
        return;
    } catch (const tq::StoreException& e) {
        endOutputLine();
        if (session_.app().breakTaken()) {
            std::cerr << "stopped (Ctrl-C)\n";
            session_.app().clearBreak();
            return;
        }
        const std::vector<ChainFrame> chain = recorder_.chainFor(e.what());
        if (chain.empty())
            std::cerr << "error: " << e.what() << "\n";
        else
            std::cerr << DescribeFailure(e, chain, "", "", "", session_.lines());
        return;
    }
    endOutputLine();
}

bool Repl::command(const std::string& line) {
    const size_t space = line.find_first_of(" \t");
    const std::string name = line.substr(1, space == std::string::npos ? std::string::npos : space - 1);
    const std::string rest = space == std::string::npos ? std::string() : Trim(line.substr(space));
    if (name == "quit" || name == "q" || name == "exit") return false;
    if (name == "help" || name == "h") {
        std::cout << ":load FILE  :project FILE  :save [FILE]  :list [Obj[.Method]]  :modules  :quit\n"
                     "? expr prints a value; statements run at once; a block may span lines.\n";
    } else if (name == "load") {
        if (rest.empty())
            std::cerr << ":load needs a FILE\n";
        else {
            load(rest);
            // The object of the module just loaded, when it has a Main.
            tq::InterObj before = me_;
            chooseObject();
            if (me_.isNull()) me_ = before;
        }
    } else if (name == "project") {
        if (rest.empty()) {
            std::cerr << ":project needs a FILE\n";
        } else {
            try {
                current_ = OpenProjectFile(session_.app(), rest);
                // Main's object of the module that holds the project.
                tq::InterObj before = me_;
                me_ = tq::InterObj();
                chooseObject();
                if (me_.isNull()) me_ = before;
                std::cout << "project " << rest << ": " << tq::ObjectStore::ModuleCount() << " modules loaded\n";
            } catch (const LoadFailed& e) {
                std::cerr << e.what() << "\n";
            }
        }
    } else if (name == "save") {
        try {
            if (!tq::ObjectStore::ValidIndex(current_)) {
                std::cerr << "no module to save (:load one first)\n";
            } else if (!rest.empty()) {
                const bool asText = rest.size() >= 4 && Lower(rest.substr(rest.size() - 4)) == ".tqs";
                tq::ObjectStore::SaveAs(current_, rest.c_str(), asText ? 1 : 0);
                std::cout << "saved as " << rest << "\n";
            } else {
                tq::ObjectStore::Save(current_);
                tq::ObjectStore::Commit(current_);
                std::cout << "saved " << SourceLines::fileName(current_) << "\n";
            }
        } catch (const std::exception& e) {
            std::cerr << "error: " << e.what() << "\n";
        }
    } else if (name == "list") {
        if (!tq::ObjectStore::ValidIndex(current_))
            std::cerr << "no module to list (:load one first)\n";
        else
            ListModule(current_, rest, true, std::cout, std::cerr);
    } else if (name == "modules") {
        for (int i = 0; i < tq::MAX_MODULES; ++i) {
            const auto m = static_cast<tq::tModuleIndex>(i);
            if (!tq::ObjectStore::ValidIndex(m)) continue;
            std::cout << (m == current_ ? "* " : "  ") << SourceLines::fileName(m)
                      << (tq::ObjectStore::IsDirty(m) ? " (changed)" : "") << "\n";
        }
    } else {
        std::cerr << "unknown command :" << name << " (:help lists them)\n";
    }
    return true;
}

int Repl::loop() {
    if (reader_.interactive())
        std::cout << "tessaro " << tq::LibraryVersion() << " immediate mode; :help for commands, :quit to leave\n";
    std::string entry;
    std::string line;
    for (;;) {
        serveTimers();
        const LineReader::Got got =
            reader_.read(entry.empty() ? "> " : "... ", line, [this] { return session_.app().takeInterrupt(); });
        if (got == LineReader::Got::End) break;
        if (got == LineReader::Got::Interrupted) {
            entry.clear();
            continue;
        }
        reader_.remember(line);
        const std::string trimmed = Trim(line);
        if (entry.empty()) {
            if (trimmed.empty()) continue;
            if (trimmed[0] == ':') {
                if (!command(trimmed)) break;
                continue;
            }
            if (trimmed[0] == '?') {
                runEntry("Print " + trimmed.substr(1) + "\n");
                continue;
            }
        }
        entry += line + "\n";
        const tq::compiler::SyntaxTree tree = tq::compiler::ParseStatements(entry, kEntryName);
        if (!tree.ok() && !trimmed.empty()) {
            // Waiting for the rest of a block: every error stands past the
            // last line typed.
            uint32_t lines = 0;
            for (char c : entry) lines += c == '\n';
            bool atEnd = true;
            for (const tq::compiler::Diagnostic& d : tree.errors()) atEnd = atEnd && d.pos.line > lines;
            if (atEnd) continue;
        }
        runEntry(entry);
        entry.clear();
    }
    if (reader_.interactive()) std::cout << "\n";
    return 0;
}

}  // namespace

int ReplCommand(const Args& args) {
    const Command& self = *FindCommand("repl");
    ParsedArgs parsed;
    try {
        parsed = ParseArgs(args, {});
    } catch (const UsageError& e) {
        return UsageFailure(self, e.what());
    }
    if (parsed.help) return ShowHelp(self);
    Session session;
    Repl repl(session);
    // A module named on the command line that does not load ends the REPL
    // before its prompt, as run ends: statements typed against what did load
    // would run without the module the user asked for.
    for (const std::string& file : parsed.operands)
        if (!repl.load(file)) return 1;
    return repl.loop();
}

}  // namespace tessaro
