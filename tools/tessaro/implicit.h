// Names a person types at the prompt without declaring them: "x = 5" or
// "For i = 1 To 3" in immediate mode. The library finds only declared
// names, so the REPL declares these as its own variables, which keep their
// values from one entry to the next until the REPL ends.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <tqstore/tqstore.h>

namespace tessaro {

struct ImplicitVariable {
    std::string name;  // as first written
    tq::IdType type;
};

// Every plain name that the statements of source assign or count with and
// that neither the entry declares nor known() knows (lower case), in order
// of first use. A name's type comes from its suffix, else from a string
// or decimal value first assigned to it, else it is a Long.
std::vector<ImplicitVariable> ImplicitVariables(std::string_view source,
                                                const std::function<bool(std::string_view)>& known);

}  // namespace tessaro
