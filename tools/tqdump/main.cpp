// tqdump: shows what a module file holds, without changing it.
//
//   tqdump [--json] <module file>
//
// Exit status: 0 when the file is a sound module, 1 when it is not (each
// fault is reported where it was found), 2 for wrong arguments.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/pathsrch.h"
#include "store/storeapp.h"
#include "store/tqstore.h"
#include "tools/tqdump/tqdump.h"

namespace {

int Usage() {
    std::cerr << "usage: tqdump [--json] <module file>\n"
                 "Shows the streams, version, identifiers, static globals, description tables\n"
                 "and records of a Tessaro module file. The file is opened read-only.\n";
    return 2;
}

// A file that cannot be shown at all: the fault on standard error and, for
// --json, a document that says so, so that a consumer of the output always
// gets one.
int Refuse(const std::string& path, bool json, const std::string& fault) {
    using namespace tq::dump;
    if (json) {
        Node doc = Node::Record();
        doc.add("file", tq::FullPathName(path));
        doc.add("faults", Node::List()).push(Node::Text(fault));
        doc.writeJson(std::cout);
        std::cout << "\n";
    }
    std::cerr << "tqdump: " << fault << "\n";
    return 1;
}

int Dump(const std::string& path, bool json) {
    using namespace tq;
    using namespace tq::dump;
    if (!FileExists(path)) return Refuse(path, json, path + ": no such file");
    if (!OCLStorage::IsStorageFile(path.c_str()))
        return Refuse(path, json, path + ": not a module file (no compound-file header)");
    Report report;
    report.root.add("file", FullPathName(path));
    try {
        OCLStorage storage(path.c_str(), 0, STGM_READ | STGM_SHARE_DENY_WRITE);
        DumpLayout(storage, report);
    } catch (const std::exception& e) {
        return Refuse(path, json, e.what());
    }
    DumpRecords(path, report);
    Node& faults = report.root.add("faults", Node::List());
    for (const std::string& f : report.faults) faults.push(Node::Text(f));
    if (json) {
        report.root.writeJson(std::cout);
        std::cout << "\n";
    } else {
        report.root.writeText(std::cout);
    }
    for (const std::string& f : report.faults) std::cerr << "tqdump: " << f << "\n";
    return report.faults.empty() ? 0 : 1;
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
    const int status = Dump(path, json);
    delete tq::StoreApplication::Current();
    return status;
}
