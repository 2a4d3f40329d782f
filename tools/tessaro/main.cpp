// tessaro: the runtime from a shell. Runs programs written in the language,
// converts modules between text and binary, lists and dumps them, and
// offers an immediate-mode prompt.
//
//   tessaro [--help | --version] COMMAND [ARGS...]
#include <csignal>
#include <iostream>
#include <new>
#include <string>

#include <tqstore/tqstore.h>

#include "tools/tessaro/commands.h"

namespace tessaro {

namespace {

const char kRunHelp[] =
    "Loads FILE (a text module .tqs or a binary module .qbo; - reads a text\n"
    "module from standard input; a project file .tqp opens its project, and\n"
    "the module that holds the Project object is FILE) and runs Main of\n"
    "the first object that has one, or the method named. ARGS are passed to\n"
    "it as Strings, in order; a method whose only parameter is an array\n"
    "(Main(args() As String)) gets them all in it, FILE as args(0) and the\n"
    "ARGS from args(1). Without Object.Method, the words after FILE are Main's\n"
    "arguments (put \"--\" before them when the first has a dot). Print goes\n"
    "to standard output.\n"
    "\n"
    "The exit status is 0, or the value a numeric Function Main returns. A\n"
    "failure nothing catches is shown on standard error as\n"
    "  FILE:LINE: Object.Method: message\n"
    "with the chain of calls that led to it, and the status is 1. Ctrl-C stops\n"
    "the program before its next statement (status 130); a second Ctrl-C ends\n"
    "the process at once.\n"
    "\n"
    "Modules are not saved unless the program saves them, or --save is given.\n"
    "A text module is rewritten only when the program changed it and its file\n"
    "is in the form the saver writes (a first #! line is kept); a file written\n"
    "by hand is never rewritten, since its comments outside procedures would\n"
    "be lost: save the module under another name (tessaro repl, :save NEW.tqs).\n"
    "Nor is a file marked read-only. A binary module that cannot be written\n"
    "is run read-only. A module that cannot be saved is named with the reason\n"
    "(status 1); the others are saved.\n"
    "\n"
    "Options (before FILE; everything after FILE belongs to the program):\n"
    "  --save            save every module the program changed, when it ends\n"
    "                    without a failure\n"
    "  -l, --load MODULE load MODULE first (a module whose objects FILE's are\n"
    "                    made from); may be given more than once\n"
    "  --tree            run every procedure on the tree walker, never in its\n"
    "                    register form (to compare the two)\n"
    "  -h, --help        show this help\n"
    "\n"
    "A module named without a folder that is not in the current folder is\n"
    "looked for along TESSARO_PATH (folders separated by ':').\n";

const char kBuildHelp[] =
    "Compiles the text module FILE.tqs into a binary module, FILE.qbo beside\n"
    "it unless -o names another file. An existing file is replaced only when\n"
    "the whole module has been written, keeping its permissions (through a\n"
    "symbolic link, its target); the source, a text module, a file marked\n"
    "read-only, a device or a FIFO is never replaced.\n"
    "\n"
    "\n"
    "With --exe NAME, makes the stand-alone executable NAME from the modules\n"
    "FILE... (the first has Main, or an Application whose Startup is the\n"
    "program): the modules are copied beside NAME, and NAME, a copy of the\n"
    "run-time executable tqapp, loads them from there when it runs. It exits\n"
    "with Main's value, or 1 with a message when a module is missing or\n"
    "damaged. An existing NAME is replaced only once the new one is whole.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  the binary module to write\n"
    "  --exe NAME         make the executable NAME from FILE...\n"
    "  -l, --load MODULE  load MODULE first; may be given more than once\n"
    "  -h, --help         show this help\n";

const char kTextHelp[] =
    "Writes the binary module FILE.qbo as a text module, FILE.tqs beside it\n"
    "unless -o names another file (\"-\" for standard output). The binary\n"
    "module is only read. The output is written as build writes: never over\n"
    "the source, a binary module, a file marked read-only, a device or a FIFO.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  the text module to write, or - for standard output\n"
    "  -l, --load MODULE  load MODULE first (a module whose objects FILE's are\n"
    "                     made from); may be given more than once\n"
    "  -h, --help         show this help\n";

const char kListHelp[] =
    "Prints a module for a person to read. Without OBJECT: its enumerations,\n"
    "and its objects with their declarations, initial values and the headers\n"
    "of their procedures. With OBJECT: that object whole, procedures included.\n"
    "With OBJECT.METHOD: the source of that procedure. Lines are numbered as\n"
    "errors name them.\n"
    "\n"
    "Options:\n"
    "  -n, --no-numbers   leave out the line numbers\n"
    "  -l, --load MODULE  load MODULE first; may be given more than once\n"
    "  -h, --help         show this help\n";

const char kReplHelp[] =
    "Immediate mode: statements typed at the prompt run at once against the\n"
    "loaded modules. A block (For ... Next, If ... End If) may be typed over\n"
    "several lines; the prompt shows \"...\" until it is complete (an empty\n"
    "line gives it up). \"? expr\" prints a value. A failure is shown and the\n"
    "prompt comes back. Ctrl-C stops a running statement.\n"
    "\n"
    "Names are looked up on the current object (Main's object of the first\n"
    "module loaded, when it has one) and among the static objects.\n"
    "\n"
    "Commands:\n"
    "  :load FILE          load a module and make it current\n"
    "  :project FILE       open a project file (.tqp) and make it current\n"
    "  :save [FILE]        save the current module (to FILE: as FILE)\n"
    "  :list [OBJ[.METH]]  list the current module, an object or a procedure\n"
    "  :modules            show the loaded modules\n"
    "  :help               show the commands\n"
    "  :quit               leave (so does Ctrl-D)\n"
    "\n"
    "Line editing and history when standard input is a terminal; the\n"
    "history is kept in $XDG_STATE_HOME/tessaro/history\n"
    "(~/.local/state/tessaro/history).\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help\n";

const char kDumpHelp[] =
    "Shows what the binary module FILE.qbo holds, as tqdump does: its\n"
    "streams, version, identifiers, static globals, description tables and\n"
    "records. The file is opened read-only. Status 1 when it is not a sound\n"
    "module (each fault is reported where it was found).\n"
    "\n"
    "Options:\n"
    "  --json      the report as a JSON document\n"
    "  -h, --help  show this help\n";

const char kDebugHelp[] =
    "Loads FILE as run does and runs Main (or the method named) under the\n"
    "command-line debugger, which reads its commands from standard input:\n"
    "\n"
    "  break Object.Method:LINE | Object.Method | LINE   tbreak (once)\n"
    "  condition N [EXPR]   ignore N COUNT   commands N (lines, then end)\n"
    "  disable|enable|delete [N...]   watch EXPR   info breakpoints\n"
    "  run   continue   step   next   finish   where   up [N]   down [N]\n"
    "  print EXPR   list   catch on|off   quit\n"
    "\n"
    "Any other line runs as statements in the current frame (n = 10). Lines\n"
    "are counted within a procedure from its Sub or Function line, as list\n"
    "shows them; a stop shows Object.Method:LINE and that line. The source is\n"
    "the regenerated one, so binary modules debug as text ones do. Nothing is\n"
    "saved. The status is 1 when the last run ended with an error.\n"
    "\n"
    "Options (before FILE):\n"
    "  -l, --load MODULE load MODULE first; may be given more than once\n"
    "  -h, --help        show this help\n";

const std::vector<Command> kCommands = {
    {"run", "run [OPTIONS] FILE [Object.Method] [ARGS...]", "run Main (or the named method) of a module", kRunHelp,
     &RunCommand},
    {"debug", "debug [OPTIONS] FILE [Object.Method] [ARGS...]", "run under the command-line debugger", kDebugHelp,
     &DebugCommand},
    {"build", "build FILE.tqs [-o FILE.qbo] | build --exe NAME FILE...", "compile a text module to a binary one", kBuildHelp, &BuildCommand},
    {"text", "text FILE.qbo [-l MODULE] [-o FILE.tqs]", "write a binary module as text", kTextHelp, &TextCommand},
    {"list", "list FILE [Object[.Method]]", "print objects, declarations, source", kListHelp, &ListCommand},
    {"repl", "repl [FILE...]", "immediate mode against loaded modules", kReplHelp, &ReplCommand},
    {"dump", "dump [--json] FILE.qbo", "what tqdump shows", kDumpHelp, &DumpCommand},
};

int MainUsage(std::ostream& os) {
    os << "usage: tessaro [--help | --version] COMMAND [ARGS...]\n"
          "\n"
          "Runs and inspects programs and modules of the Tessaro language.\n"
          "\n"
          "Commands:\n";
    for (const Command& c : kCommands) {
        std::string name = c.name;
        name.resize(8, ' ');
        os << "  " << name << c.summary << "\n";
    }
    os << "\n"
          "\"tessaro COMMAND --help\" describes a command and its options.\n";
    return 0;
}

}  // namespace

const std::vector<Command>& Commands() { return kCommands; }

const Command* FindCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

int UsageFailure(const Command& command, const std::string& message) {
    std::cerr << "tessaro " << command.name << ": " << message << "\n"
              << "usage: tessaro " << command.synopsis << "\n"
              << "(\"tessaro " << command.name << " --help\" for more)\n";
    return 2;
}

int ShowHelp(const Command& command) {
    std::cout << "usage: tessaro " << command.synopsis << "\n\n" << command.help;
    return 0;
}

}  // namespace tessaro

int main(int argc, char** argv) {
    using namespace tessaro;
    if (argc < 2) {
        MainUsage(std::cerr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        if (first == "help" && argc > 2) {
            if (const Command* c = FindCommand(argv[2])) return ShowHelp(*c);
        }
        return MainUsage(std::cout);
    }
    if (first == "--version") {
        std::cout << "tessaro " << tq::LibraryVersion() << "\n";
        return 0;
    }
    const Command* command = FindCommand(first);
    if (!command) {
        std::cerr << "tessaro: " << (first[0] == '-' ? "unknown option '" : "unknown command '") << first
                  << "'\n(\"tessaro --help\" lists the commands)\n";
        return 2;
    }
    // A file-size limit (ulimit -f) makes a write fail with its reason
    // rather than end the process halfway through a save, which would leave
    // the temporary file behind and report nothing.
    std::signal(SIGXFSZ, SIG_IGN);
    // Whatever a command did not catch still ends as a failure with a
    // reason, after the output printed so far: never an abort.
    const auto failed = [&](const std::string& why) {
        std::cout.flush();
        std::cerr << "tessaro " << command->name << ": " << why << "\n";
        return 1;
    };
    try {
        return command->run(Args(argv + 2, argv + argc));
    } catch (const std::bad_alloc&) {
        return failed("Out of memory");
    } catch (const std::exception& e) {
        return failed(e.what());
    }
}
