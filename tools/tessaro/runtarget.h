// What a run calls: "Object.Method" as the user names it, or Main of the
// first static object (in the order the module lists them, prototypes
// before their clones) that has one.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include <tqstore/tqstore.h>

namespace tessaro {

struct Target {
    std::string object;
    std::string method;
};

class TargetFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "Object.Method" split at its last dot (an embedded object's path keeps
// its own dots); nothing when either side is empty.
std::optional<Target> ParseTarget(const std::string& text);

// Main of the first static object of module m that has one; TargetFailed
// naming file when none has.
Target MainTarget(tq::tModuleIndex m, const std::string& file);

// The object target names, checked to have the method; TargetFailed naming
// file when it has not.
tq::InterObj ResolveTarget(const Target& target, const std::string& file);

}  // namespace tessaro
