// tqdump: shows what a module file holds, without changing it.
//
//   tqdump [--json] <module file>
//
// Exit status: 0 when the file is a sound module, 1 when it is not (each
// fault is reported where it was found), 2 for wrong arguments.
#include <cstring>
#include <iostream>
#include <string>

#include "store/storeapp.h"
#include "store/tqstore.h"
#include "tools/tqdumplib/tqdump.h"

namespace {

int Usage() {
    std::cerr << "usage: tqdump [--json] <module file>\n"
                 "Shows the streams, version, identifiers, static globals, description tables\n"
                 "and records of a Tessaro module file. The file is opened read-only.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return Usage();
        else if (path.empty())
            path = argv[i];
        else
            return Usage();
    }
    if (path.empty()) return Usage();
    tq::TessaroInitializer start(1);
    const int status = tq::dump::DumpModuleFile(path, json, "tqdump");
    delete tq::StoreApplication::Current();
    return status;
}
