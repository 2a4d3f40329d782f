// Names a person types at the prompt without declaring them: "x = 5" or
// "For i = 1 To 3" in immediate mode. The library finds only declared
// names, so the REPL declares these for the entry (as locals of its
// block, which live until the entry has run).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tessaro {

// The declarations ("Dim i\nDim s As String\n") of every plain name that
// the statements of source assign or count with and that neither the entry
// declares nor known() knows; empty when there is none. A name's type comes
// from its suffix, else from a string or decimal value first assigned to it.
std::string ImplicitDeclarations(std::string_view source, const std::function<bool(std::string_view)>& known);

}  // namespace tessaro
