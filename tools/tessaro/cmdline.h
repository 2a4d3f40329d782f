// The command line of a subcommand: its options and its operands.
//
// Options are "--name", "--name=value", "--name value", "-x" and "-x value"
// as each command declares them; "--" ends the options. A run's program
// arguments follow its file and are never read as options: a command may
// stop at its first operand (stopAtOperand) and take the rest as written.
// Anything else is a UsageError, which the command reports with its usage
// line and exit status 2.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessaro {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionDecl {
    const char* longName;  // without "--"
    char shortName;        // 0 for none
    bool takesValue;
};

struct ParsedArgs {
    std::vector<std::string> operands;
    // Every value given for an option, by its long name, in order; a flag
    // has one empty value per time it was given.
    std::map<std::string, std::vector<std::string>> options;
    bool help = false;

    bool has(const std::string& name) const { return options.count(name) != 0; }
    // The last value of option name, or fallback.
    std::string value(const std::string& name, const std::string& fallback = {}) const;
};

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionDecl>& decls,
                     bool stopAtOperand = false);

}  // namespace tessaro
