// tqdump: what a module file holds, for a person to read.
//
// The tool opens a module file read-only and reports in two passes:
//  1. the layout, decoded from the bytes alone: the streams and their
//     sizes, the version record, the identifier table, the static globals,
//     and the head and description array of every table (used, deleted and
//     free entries with their offsets and lengths);
//  2. the records, read the way the store reads them, by loading the module
//     read-only and faulting every thing of every table: objects with their
//     values and arrays, signatures with their fields and events, strings,
//     enumerations, the text by which each proxy names its target, and
//     every block's head with its statements and expressions, one node
//     per line (dumpblocks.cpp). Then the library walks the module
//     (WalkModule): every value of every object, every element of every
//     array, what signatures and the static globals name. What the library
//     cannot open or read is a fault here, so the verdict is the library's.
// Every fault it meets is reported where it was found and makes the exit
// status 1; a record that refers to a thing of a module not loaded is shown
// as "unresolved" and is no fault. The file is never changed (its storage is
// opened without write access). A file that cannot be shown at all is still
// a JSON document with --json: its name and its fault.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/tqdumplib/dumpnode.h"

namespace tq {
class OCLStorage;
class VoidDescriptionTable;
struct Description;
}

namespace tq::dump {

// The description-table streams of a module, in the order of the file.
inline constexpr const char* kTableStreams[] = {
    "Objects", "Blocks", "Signatures", "Strings", "Enumerations", "ObjectProxies", "EnumerationProxies",
    "SignatureProxies"};

// Whether the library reads the records of this table (pass 2 shows them).
bool KindIsRead(const std::string& stream);

struct Report {
    Node root = Node::Record();
    std::vector<std::string> faults;

    // Notes a fault of the file under `where`, in the report and the list.
    void fault(Node& where, const std::string& text) {
        where.add("fault", text);
        faults.push_back(text);
    }
};

// Pass 1 (dumpfile.cpp).
void DumpLayout(OCLStorage& storage, Report& report);
// Pass 2 (dumprecs.cpp); the module is loaded from path.
void DumpRecords(const std::string& path, Report& report);
// The blocks of module m, loaded by pass 2, into `into` (dumpblocks.cpp).
void DumpBlocks(unsigned char m, Node& into, Report& report);
// Lists the entries of a description table (none when it is null) under
// into as the list `stream`: a record for each entry that exists, with its
// index and byte length; each(index, entry, record) describes the rest.
void DumpEntries(const VoidDescriptionTable* table, const char* stream, Node& into,
                 const std::function<void(uint32_t, const Description&, Node&)>& each);

// n bytes as two hex digits each, separated by blanks.
std::string HexBytes(const uint8_t* p, size_t n);

// Both passes over the module file at path, the report on standard output
// (as text or JSON) and every fault on standard error after "<tool>: ".
// 0 when the file is a sound module, 1 otherwise. An application must be
// alive (pass 2 loads the module).
int DumpModuleFile(const std::string& path, bool json, const char* tool);

}  // namespace tq::dump
