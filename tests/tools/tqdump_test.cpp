// tqdump run on modules the library saved and on spoilt files: what it shows,
// its JSON read back by an independent parser, its exit status, and that it
// never changes the file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/block.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/objval.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/persist/vlstrrep.h"
#include "store/storeapp.h"
#include "store/vals.h"
#include "store/tqstore.h"
#include "tests/store/model/streams.h"
#include "tests/support/freshproc.h"
#include "tests/support/program.h"

namespace tq {
namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// Runs a shell command; its standard output (and error, with 2>&1) is
// captured.
ToolRun Shell(const std::string& command) {
    ToolRun r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string Tool() { return std::string(TQ_BINARY_DIR) + "/tqdump"; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class TqDump : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        start_ = new TessaroInitializer(1);
    }
    static void TearDownTestSuite() {
        delete StoreApplication::Current();
        delete start_;
    }

    // A module with two signatures, named objects, a clone, an embed, strings,
    // a dynamic object and a preload.
    std::string makeModule() {
        const std::string path = dir_.file("shown.qbo");
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        {
            InterObj shape(InterObjRep::NewNamed("Shape", nullptr, m, IOT_ORDINARY));
            shape->addField(InterDataField::make("Title", IDT_STRING, 1));
            shape->addField(InterDataField::make("Sides", IDT_LONG, 1));
            InterObj square(InterObjRep::NewNamed("Square", shape.get(), m, IOT_ORDINARY));
            *square->eval("Title") = StringValue(ValString("a square"));
            *square->eval("Sides") = LongValue(4);
            InterObj drawing(InterObjRep::NewNamed("Drawing", nullptr, m, IOT_ORDINARY));
            drawing->addField(new EmbedObjField("Frame", "Shape"));
            EnumRep* colour = new EnumRep("Colour", 0);
            colour->addEntry("Red", 1);
            colour->addEntry("Blue", 3);
            drawing->addField(InterEnumField::make("Ink", colour, 1));
            *drawing->eval("Ink") = StringValue(ValString("Blue"));
            InterArrayField* sizes = InterArrayField::make("Sizes", IDT_LONG, 1);
            sizes->defineBounds(0, 1, 3);
            drawing->addField(sizes);
            ValueList index;
            index.ppush(ValuePtr(new LongValue(2)));
            *drawing->eval("Sizes", IDT_UNTYPED, &index, nullptr, 0, nullptr, nullptr) = LongValue(42);
            InterObj loose(InterObjRep::NewCopy(*shape, m, IOT_DYNAMIC));
            ObjectStore::RequestPreload(drawing.get());
            ObjectStore::Save(m);
            ObjectStore::Commit(m);
        }
        ObjectStore::UnloadModule(m);
        InterObjRep::DeleteObjects();
        return path;
    }

    // A module whose clone, object field and enumeration field belong to
    // another module, which is unloaded with it: its file holds one proxy
    // of each kind.
    std::string makeReferringModule() {
        const std::string libPath = dir_.file("lib.qbo");
        const std::string path = dir_.file("referring.qbo");
        // New enumerations go into the current module: the library's first.
        const tModuleIndex lib = ObjectStore::LoadModule(libPath.c_str(), 1, 0);
        InterObj shape(InterObjRep::NewNamed("Shape", nullptr, lib, IOT_ORDINARY));
        shape->addField(InterDataField::make("Sides", IDT_LONG, 1));
        EnumRep* colour = new EnumRep("Colour", 0);
        colour->addEntry("Red", 1);
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        {
            InterObj square(InterObjRep::NewNamed("Square", shape.get(), m, IOT_ORDINARY));
            InterObj drawing(InterObjRep::NewNamed("Drawing", nullptr, m, IOT_ORDINARY));
            drawing->addField(InterDataField::make("Favourite", IDT_OBJECT, 1));
            *drawing->eval("Favourite") = ObjectValue(shape);
            drawing->addField(InterEnumField::make("Tint", colour, 1));
            ObjectStore::Save(m);
            ObjectStore::Commit(m);
        }
        shape = nullptr;
        const tModuleIndex both[] = {lib, m, NO_MODULE};
        ObjectStore::UnloadModules(both);
        InterObjRep::DeleteObjects();
        return path;
    }

    static TessaroInitializer* start_;
    ScratchDir dir_;
};

TessaroInitializer* TqDump::start_ = nullptr;

TEST_F(TqDump, ShowsTheStreamsNamesTablesAndRecordsOfASavedModule) {
    const std::string path = makeModule();
    const ToolRun r = Shell(Tool() + " " + path + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const std::string& line : std::vector<std::string>{
             "  - name=\"Static globals\"  size=",
             "version: product=\"" + std::string(LibraryVersion()) + ".0\"",
             "    - name=\"Drawing\"  object=",
             "  dynamic:\n    - flags=4  index=",
             "  preload:\n    - flags=5  index=",
             "  Objects:\n    revision: 1\n",
             "state=\"used\"  offset=16  length=",
             "      kind: \"named\"\n      name: \"Square\"",
             "      values: Title=\"a square\"  Sides=4",
             "      kind: \"embedded\"\n      host: ",
             "      path: \"Drawing.Frame\"",
             "- name=\"Sides\"  kind=\"data\"  type=2  offset=5  size=4  flags=0  declaration=\"Dim Sides As Long\"",
             "text=\"a square\"",
             "faults: []",
         })
        EXPECT_NE(r.out.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << r.out;
}

TEST_F(TqDump, JsonGivesTheSameAndAnIndependentParserReadsIt) {
    const std::string path = makeModule();
    const std::string script =
        "import json,sys\n"
        "d=json.load(sys.stdin)\n"
        "print(sorted(s['name'] for s in d['streams']))\n"
        "print([e['name'] for e in d['staticGlobals']['static']])\n"
        "print(len(d['staticGlobals']['dynamic']), len(d['staticGlobals']['preload']))\n"
        "o=[x for x in d['records']['Objects'] if x.get('name')=='Square'][0]\n"
        "print(o['values'], o['prototype'])\n"
        "print(d['tables']['Objects']['used'], d['faults'])\n"
        "o=[x for x in d['records']['Objects'] if x.get('name')=='Drawing'][0]\n"
        "print(o['values']['Ink'], o['arrays']['Sizes'])\n"
        "print(d['records']['Enumerations'][0]['entries'])\n";
    std::ofstream(dir_.file("check.py")) << script;
    const ToolRun r = Shell(Tool() + " --json " + path + " | python3 " + dir_.file("check.py") + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "['Blocks', 'EnumerationProxies', 'Enumerations', 'IdStrings', 'Module version', 'ObjectProxies', "
              "'Objects', 'SignatureProxies', 'Signatures', 'Static globals', 'Strings']\n"
              "['Drawing', 'Shape', 'Square']\n"
              "1 1\n"
              "{'Title': 'a square', 'Sides': 4} False\n"
              "5 []\n"
              "Blue {'type': 2, 'bounds': [[1, 3]], 'elements': [0, 42, 0]}\n"
              "[{'name': 'Red', 'value': 1}, {'name': 'Blue', 'value': 3}]\n");
}

TEST_F(TqDump, ProxiesAreShownByTheirTextAndWhatTheyNameInAModuleNotLoadedIsNoFault) {
    const std::string path = makeReferringModule();
    const std::string script =
        "import json,sys\n"
        "d=json.load(sys.stdin)\n"
        "for k in ('ObjectProxies','EnumerationProxies','SignatureProxies'):\n"
        "    print(k, sorted(set(p['text'] for p in d['records'][k])))\n"
        "print(sorted(set(x['unresolved'] for k in d['records'] for x in d['records'][k] if 'unresolved' in x)))\n"
        "print(d['faults'])\n";
    std::ofstream(dir_.file("proxies.py")) << script;
    const ToolRun r = Shell(Tool() + " --json " + path + " 2>/dev/null | python3 " + dir_.file("proxies.py") + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "ObjectProxies ['Shape']\n"
              "EnumerationProxies ['Colour']\n"
              "SignatureProxies ['Shape']\n"
              "['Unable to resolve: Colour']\n"
              "[]\n")
        << "a thing of a module that is not loaded is no fault of the file";
}

TEST_F(TqDump, TheFileIsNeverChanged) {
    const std::string path = makeModule();
    const std::string before = ReadFile(path);
    const auto when = std::filesystem::last_write_time(path);
    EXPECT_EQ(Shell(Tool() + " " + path + " >/dev/null 2>&1").status, 0);
    EXPECT_EQ(Shell(Tool() + " --json " + path + " >/dev/null 2>&1").status, 0);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(std::filesystem::last_write_time(path), when);
    // A file without write permission is shown just the same.
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(Shell(Tool() + " " + path + " >/dev/null 2>&1").status, 0);
    ::chmod(path.c_str(), 0644);
}

TEST_F(TqDump, ArgumentsAndFilesThatAreNoModulesGiveAClearErrorAndStatus) {
    EXPECT_EQ(Shell(Tool() + " 2>/dev/null").status, 2);
    EXPECT_EQ(Shell(Tool() + " a b 2>/dev/null").status, 2);
    ToolRun r = Shell(Tool() + " " + dir_.file("none.qbo") + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("no such file"), std::string::npos) << r.out;
    std::ofstream(dir_.file("text.qbo")) << "Object Form1\n";
    r = Shell(Tool() + " " + dir_.file("text.qbo") + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("not a module file"), std::string::npos) << r.out;
    // A compound file cut short.
    const std::string path = makeModule();
    std::string bytes = ReadFile(path);
    std::ofstream(dir_.file("cut.qbo"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    r = Shell(Tool() + " " + dir_.file("cut.qbo") + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("tqdump: "), std::string::npos) << r.out;
}

// Rewrites stream `name` of the module file with the bytes that edit makes
// of it.
template <class Edit>
void Spoil(const std::string& path, const char* name, Edit edit) {
    OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    OCLStream s(storage, name, 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    std::string bytes(s.size(), '\0');
    s.read(bytes.data(), bytes.size());
    edit(bytes);
    s.seek(0);
    s.write(bytes.data(), bytes.size());
    s.setSize(static_cast<uint32_t>(bytes.size()));
    storage.Commit();
}

TEST_F(TqDump, SpoiltStreamsAreReportedWhereTheyAreAndTheRestIsStillShown) {
    const std::string path = makeModule();
    // An unknown record kind in the first object's record.
    Spoil(path, "Objects", [](std::string& b) { b[16] = 9; });
    ToolRun r = Shell(Tool() + " " + path + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("fault: \"Unable to load object: Objects entry 0: Illegal Object Discriminant\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("name: \"Square\""), std::string::npos) << "the other records are still shown";

    // The description array of the signatures out of the stream: the layout
    // says so and the records cannot be read.
    Spoil(path, "Signatures", [](std::string& b) { b[5] = char(0x7F); });
    r = Shell(Tool() + " " + path + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("Signatures: the description array lies outside the stream"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the module does not load: Unable to open module: "), std::string::npos) << r.out;

    // An empty version stream is what a module never saved holds: the
    // library reads it as its own version, so it is no fault.
    Spoil(path, "Module version", [](std::string& b) { b.clear(); });
    r = Shell(Tool() + " " + path + " 2>&1");
    EXPECT_NE(r.out.find("version: empty=yes"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Module version:"), std::string::npos) << r.out;

    // A static globals revision of another store.
    Spoil(path, "Static globals", [](std::string& b) { b[0] = 7; });
    r = Shell(Tool() + " --json " + path + " 2>/dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"Static globals: revision 7 is unknown\""), std::string::npos) << r.out;
}

// A JSON consumer always gets a document, also for a file that cannot be
// shown at all: its name and what is wrong with it, and status 1.
TEST_F(TqDump, JsonGivesADocumentOfTheFaultForFilesThatAreNoModules) {
    std::ofstream(dir_.file("text.qbo")) << "Object Form1\n";
    const std::string path = makeModule();
    const std::string bytes = ReadFile(path);
    std::ofstream(dir_.file("cut.qbo"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const std::string script =
        "import json,sys\n"
        "d=json.load(sys.stdin)\n"
        "print(d['file'].split('/')[-1], len(d['faults']))\n"
        "print(d['faults'][0])\n";
    std::ofstream(dir_.file("fault.py")) << script;
    for (const char* name : {"text.qbo", "none.qbo", "cut.qbo"}) {
        const std::string file = dir_.file(name);
        const ToolRun r = Shell(Tool() + " --json " + file + " 2>/dev/null");
        EXPECT_EQ(r.status, 1) << name;
        std::ofstream(dir_.file("fault.json")) << r.out;
        const ToolRun parsed = Shell("python3 " + dir_.file("fault.py") + " <" + dir_.file("fault.json") + " 2>&1");
        EXPECT_EQ(parsed.out.substr(0, parsed.out.find('\n')), std::string(name) + " 1") << r.out;
        EXPECT_NE(parsed.out.find(file), std::string::npos) << parsed.out;
    }
}

// The verdict is the library's: a file the library refuses, or one of
// whose records it cannot read however it is reached, is not sound.
TEST_F(TqDump, WhatTheLibraryCannotOpenOrReadIsAFault) {
    // An element of an object array past those shown, naming an object
    // proxy the module does not have.
    const std::string path = dir_.file("links.qbo");
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    {
        InterObj holder(InterObjRep::NewNamed("Holder", nullptr, m, IOT_ORDINARY));
        InterArrayField* links = InterArrayField::make("Links", IDT_OBJECT, 1);
        links->defineBounds(0, 0, 39);
        holder->addField(links);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
    }
    ObjectStore::UnloadModule(m);
    InterObjRep::DeleteObjects();
    ASSERT_EQ(Shell(Tool() + " " + path + " >/dev/null 2>&1").status, 0);
    Spoil(path, "Objects", [](std::string& b) {
        // The only record: kind, flags and signature, then element 39.
        const uint32_t array = LoadLE32(reinterpret_cast<const uint8_t*>(b.data()) + 4);
        const uint32_t record = LoadLE32(reinterpret_cast<const uint8_t*>(b.data()) + array + 8 + 5);
        StoreLE32(reinterpret_cast<uint8_t*>(b.data()) + record + 10 + 39 * 5 + 1, 0x80000007);
    });
    ToolRun r = Shell(Tool() + " " + path + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("Objects entry 0: field Links: Unable to load object: a reference names entry 7"),
              std::string::npos)
        << r.out;

    // A module that lost a stream: the library does not open it.
    const std::string lost = makeModule();
    {
        OCLStorage storage(lost.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
        storage.removeStream("Strings");
        storage.Commit();
    }
    r = Shell(Tool() + " --json " + lost + " 2>/dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("is not a module: stream \\\"Strings\\\" is missing"), std::string::npos) << r.out;
}

// A module holding one block: x = y + 1 at line 3, then Exit Sub at 4.
std::string MakeBlockModule(const std::string& path, uint32_t& index) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    Program p;
    p.id("x");
    p.id("y");
    BlockRep* b = p.makeBlock(R"(
        Dim x As Long
    3:  x = y + 1
    4:  Exit Sub
    9:  End Sub
    )");
    b->ref();
    index = b->descriptor().descIndex();
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
    InterObjRep::DeleteObjects();
    return path;
}

TEST_F(TqDump, BlocksAreShownWithTheirHeadsAndOneNodePerLine) {
    uint32_t index = 0;
    const std::string path = MakeBlockModule(dir_.file("blocks.qbo"), index);
    const ToolRun r = Shell(Tool() + " " + path + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const std::string& line : std::vector<std::string>{
             "  Blocks:\n    -\n      index: " + std::to_string(index),
             "      nodeCount: 2\n      endLine: 9\n      locals: \"object #",
             "      statics: \"none\"\n      byteLength: 73",
             "        - at=0  depth=1  node=\"Assignment line 3\"",
             "        - at=15  depth=2  node=\"  Sid #0\"",
             "        - at=25  depth=2  node=\"  BinaryOp +\"",
             "        - at=33  depth=3  node=\"    Sid #1\"",
             "        - at=43  depth=3  node=\"    LongConstant 1\"",
             "        - at=54  depth=1  node=\"Exit Sub line 4\"",
         })
        EXPECT_NE(r.out.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << r.out;
}

TEST_F(TqDump, ANodeOfAKindTheToolDoesNotKnowIsShownRaw) {
    uint32_t index = 0;
    const std::string path = MakeBlockModule(dir_.file("odd.qbo"), index);
    const Span span = RecordOf(path, "Blocks", index);
    // The Exit statement becomes kind 99.
    Patch(path, "Blocks", span.offset + BlockRep::kRecordHead + 54, {0x63, 0x00});
    const ToolRun r = Shell(Tool() + " " + path + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("- at=54  depth=1  node=\"unknown statement line 4, kind 99 (19 bytes): 63 00 13 00 00 00 00 "
                         "04 00 00 00 04 00 00 00 02 ...\""),
              std::string::npos)
        << r.out;
    // The nodes before it are decoded all the same; the store refuses the
    // block, which is the fault.
    EXPECT_NE(r.out.find("node=\"Assignment line 3\""), std::string::npos);
    EXPECT_NE(r.out.find("unknown statement kind 99 at offset 54"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tq

namespace tq {
namespace {

// A module whose object Program holds a Function using every control
// statement, and a procedure that is not compiled.
std::string MakeProcedureModule(const std::string& path) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    InterObj prog(InterObjRep::NewNamed("Program", nullptr, m, IOT_ORDINARY));
    prog->addField(InterDataField::make("V", IDT_LONG, 1));
    Program p;
    prog->addField(p.procedure(R"(Function Every(n As Long, ByVal s As String) As Long
        Select Case n
          Case 1, 3 To 5
            V = 1
          Case Else
        End Select
        Do While V < 3
          V = V + 1
        Loop
        For V = 1 To 2 Step 1
        Next V
        If V Then V = 2 Else V = 3
        If V = 1 Then
        ElseIf V = 2 Then
        End If
        Print V; Spc(2), "x";
        Randomize
        Try
          Throw Oops(1)
        Catch Oops(a As Long)
        End Try
        With Me
        End With
        Every n, s
      End Function)"));
    prog->addField(new InterProcField("Draft", "Sub Draft()\n"));
    prog = nullptr;
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
    InterObjRep::DeleteObjects();
    return path;
}

TEST_F(TqDump, ProceduresShowTheirRecordsAndEveryStatementKindIsDecoded) {
    const std::string path = MakeProcedureModule(dir_.file("procs.qbo"));
    const ToolRun r = Shell(Tool() + " " + path + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const std::string& line : std::vector<std::string>{
             "          procedure: \"Function\"\n          parameters:\n"
             "            - name=\"n\"  type=2  byReference=yes\n"
             "            - name=\"s\"  type=6  byReference=no\n          compiled: yes\n"
             "          identifiers: [\"Every\", \"n\", \"V\", \"Oops\", \"s\"]\n"
             "          blocks: [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11]\n          deadSource:\n"
             "            - line=1  kind=\"text\"  text=\"Function Every(n As Long, ByVal s As String) As Long\"",
             "          procedure: \"Sub\"\n          parameters: []\n          compiled: no\n"
             "          source: \"Sub Draft()\\x0a\"",
             "node=\"SelectCase line 2, End Select at line 6, Case Else block 1 at line 5, 2 tests\"",
             "- at=39  depth=2  node=\"  test =, first of the Case at line 3, block 0\"",
             "- at=65  depth=2  node=\"  test To\"",
             "- at=94  depth=1  node=\"DoLoop line 7, Do While, body block 2\"",
             "- at=143  depth=1  node=\"ForNext line 10, For, body block 3, variable after Next\"",
             "- at=210  depth=2  node=\"  LongConstant 1\"",
             "- at=221  depth=1  node=\"SimpleIfThen line 12, Then block 4, Else block 5\"",
             "- at=254  depth=1  node=\"ComplexIfThen line 13, 2 conditions, Else block none at line 0\"",
             "- at=293  depth=2  node=\"  clause at line 14, block 7\"",
             "- at=363  depth=1  node=\"Print line 16, 3 items, last separator ;\"",
             "- at=432  depth=2  node=\"  item after ;, Spc\"",
             "- at=443  depth=2  node=\"  item after ,, value\"",
             "- at=456  depth=1  node=\"RandomizeStmt line 17, no seed\"",
             "- at=471  depth=1  node=\"TryBlock line 18, body block 8, End Try at line 21, 1 catches\"",
             "- at=498  depth=2  node=\"  Catch at line 20, #3, block 9\"",
             "- at=0  depth=1  node=\"ThrowStmt line 19\"",
             "- at=513  depth=1  node=\"WithBlock line 22, body block 10\"",
             "- at=542  depth=1  node=\"FunctionCallStmt line 24, bare call\"",
         })
        EXPECT_NE(r.out.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << r.out;
}

TEST_F(TqDump, EachProcedureShowsItsRegeneratedSourceInTextAndJson) {
    const std::string path = MakeProcedureModule(dir_.file("source.qbo"));
    const ToolRun text = Shell(Tool() + " " + path + " 2>&1");
    ASSERT_EQ(text.status, 0) << text.out;
    EXPECT_NE(text.out.find("          regenerated:\n"
                            "            - \"Function Every(n As Long, ByVal s As String) As Long\"\n"
                            "            - \"  Select Case n\"\n"
                            "            - \"  Case 1, 3 To 5\"\n"
                            "            - \"    V = 1\"\n"
                            "            - \"  Case Else\"\n"
                            "            - \"  End Select\"\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("            - \"  Print V; Spc(2), \"x\"; \"\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("            - \"End Function\"\n"), std::string::npos) << text.out;
    const ToolRun json = Shell(Tool() + " --json " + path + " 2>&1");
    ASSERT_EQ(json.status, 0) << json.out;
    EXPECT_NE(json.out.find("\"regenerated\": [\n"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"  Catch Oops(a As Long)\""), std::string::npos) << json.out;
}

TEST_F(TqDump, AProcedureRecordThatIsNotSoundIsAFaultOfTheFile) {
    const std::string path = MakeProcedureModule(dir_.file("badproc.qbo"));
    // The first signature's record: its field list holds V, then Every.
    const Span span = RecordOf(path, "Signatures", 0);
    const std::vector<uint8_t> bytes = ReadStream(path, "Signatures");
    std::string record(reinterpret_cast<const char*>(bytes.data()) + span.offset, span.length);
    // The compiled flag of Every: after its kind, name, flags and prototype.
    const size_t every = record.find(std::string(1, char(FRK_FUNCTION)));
    ASSERT_NE(every, std::string::npos);
    Patch(path, "Signatures", span.offset + static_cast<uint32_t>(every) + 12, {7});
    const ToolRun r = Shell(Tool() + " " + path + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("procedure 'Every': the compiled flag 7 is neither 0 nor 1"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tq
