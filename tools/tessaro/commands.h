// The subcommands of tessaro, one table: the front (main.cpp) finds a
// command by its name, shows its help, and runs it with the arguments that
// follow its name. A command returns the process's exit status: 0 done,
// 1 failed (the reason on standard error), 2 wrong usage, 130 stopped by
// the user; a program run may give another (its Main's value).
#pragma once

#include <string>
#include <vector>

namespace tessaro {

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* synopsis;  // the usage line after "tessaro "
    const char* summary;   // one line for the command list
    const char* help;      // the options and what the command does
    int (*run)(const Args& args);
};

// In the order "tessaro --help" lists them.
const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

// Shows "tessaro: <name>: <message>" and the command's usage line; 2.
int UsageFailure(const Command& command, const std::string& message);
// Shows the command's whole help on standard output; 0.
int ShowHelp(const Command& command);

int RunCommand(const Args& args);    // runcmd.cpp
int DebugCommand(const Args& args);  // debugcmd.cpp
int BuildCommand(const Args& args);  // convcmd.cpp
struct ParsedArgs;
// build --exe NAME FILE...: a stand-alone executable (exebuild.cpp).
int BuildExe(const Command& self, const ParsedArgs& parsed);
int TextCommand(const Args& args);   // convcmd.cpp
int DumpCommand(const Args& args);   // convcmd.cpp
int ListCommand(const Args& args);   // listcmd.cpp
int ReplCommand(const Args& args);   // repl.cpp

}  // namespace tessaro
