// The whole of a dump, from a file name to the report on standard output:
// what tqdump and "tessaro dump" both run.
#include <exception>
#include <iostream>
#include <string>

#include "platform/storage/oclstorage.h"
#include "platform/util/pathsrch.h"
#include "tools/tqdumplib/tqdump.h"

namespace tq::dump {

namespace {

// A file that cannot be shown at all: the fault on standard error and, for
// --json, a document that says so, so that a consumer of the output always
// gets one.
int Refuse(const std::string& path, bool json, const std::string& fault, const char* tool) {
    if (json) {
        Node doc = Node::Record();
        doc.add("file", FullPathName(path));
        doc.add("faults", Node::List()).push(Node::Text(fault));
        doc.writeJson(std::cout);
        std::cout << "\n";
    }
    std::cerr << tool << ": " << fault << "\n";
    return 1;
}

}  // namespace

int DumpModuleFile(const std::string& path, bool json, const char* tool) {
    if (!FileExists(path)) return Refuse(path, json, path + ": no such file", tool);
    if (!OCLStorage::IsStorageFile(path.c_str()))
        return Refuse(path, json, path + ": not a module file (no compound-file header)", tool);
    Report report;
    report.root.add("file", FullPathName(path));
    try {
        OCLStorage storage(path.c_str(), 0, STGM_READ | STGM_SHARE_DENY_WRITE);
        DumpLayout(storage, report);
    } catch (const std::exception& e) {
        return Refuse(path, json, e.what(), tool);
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
    for (const std::string& f : report.faults) std::cerr << tool << ": " << f << "\n";
    return report.faults.empty() ? 0 : 1;
}

}  // namespace tq::dump
