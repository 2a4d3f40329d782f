// Listing a loaded module (tessaro list and the REPL's :list).
#pragma once

#include <ostream>
#include <string>

#include <tqstore/tqstore.h>

namespace tessaro {

// Lists module m: whole when what is empty, else the object "Obj" or the
// procedure "Obj.Method". Lines carry their numbers when numbers is set.
// 0, or 1 with the reason on err when what names nothing.
int ListModule(tq::tModuleIndex m, const std::string& what, bool numbers, std::ostream& out, std::ostream& err);

}  // namespace tessaro
