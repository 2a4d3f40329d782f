// Blocks in module files: the record byte for byte, the round trip through
// a fresh process (read only when first run), and the check that refuses a
// corrupt or hostile record before anything runs.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/interp/nodechk.h"
#include "tests/store/interp/interptest.h"
#include "tests/fuzz/blockinput.h"
#include "tests/store/model/streams.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using BlockFiles = InterpTest;

const char* const kNames[] = {"Result", "n", "k"};

const char* kProgram = R"(
    Dim n As Long
    Static k As Long = 6
2:  n = k * 7
3:  Result = n & "!"
9:  End Sub
)";

IdDynamicVector& Filled(IdDynamicVector& v) {
    for (const char* n : kNames) v.stringIndex(n);
    return v;
}

// The identifier table the program's nodes index, made again from the names.
struct Names {
    IdDynamicVector dyn;
    IdStringVector table{Filled(dyn), DETACHED_MODULE};
};

std::vector<uint8_t> RecordBytes(BlockRep& b, tModuleIndex m) {
    OCLStorage scratch;
    OCLStream s(scratch, "x", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    {
        ObjectStore::WritingScope writing(m);
        b.write(s);
    }
    std::vector<uint8_t> bytes(s.size());
    s.seek(0);
    s.read(bytes.data(), bytes.size());
    return bytes;
}

TEST_F(BlockFiles, ARecordIsItsHeadThenTheNodeAreaAsItLiesInMemory) {
    const tModuleIndex m = openModule();
    Program p;
    for (const char* n : kNames) p.id(n);
    BlockRep* b = p.makeBlock(kProgram);
    Faultp<BlockRep> keep(b);
    EXPECT_EQ(b->moduleIndex(), m);
    const std::vector<uint8_t> r = RecordBytes(*b, m);
    ASSERT_EQ(r.size(), BlockRep::kRecordHead + b->byteLength());
    EXPECT_EQ(LoadLE32(&r[0]), b->byteLength() + 37);
    EXPECT_EQ(LoadLE32(&r[4]), 2u);
    EXPECT_EQ(LoadLE32(&r[8]), 9u);
    // Both variable objects are the block's own, uncounted, in its module.
    EXPECT_EQ(r[12], 0x04);
    EXPECT_EQ(LoadLE32(&r[13]), b->localVarObj()->descriptor().raw());
    EXPECT_EQ(r[17], 0x04);
    EXPECT_EQ(LoadLE32(&r[18]), b->staticVarObj()->descriptor().raw());
    EXPECT_EQ(LoadLE32(&r[22]), b->byteLength());
    EXPECT_EQ(std::memcmp(&r[26], b->nodes(), b->byteLength()), 0);
    // The first statement starts the area: kind 1, line 2 twice.
    EXPECT_EQ(LoadLE16(&r[26]), STMT_ASSIGNMENT);
    EXPECT_EQ(LoadLE32(&r[26 + 7]), 2u);
    EXPECT_EQ(LoadLE32(&r[26 + 11]), 2u);
}

TEST_F(BlockFiles, ABlockRoundTripsThroughAModuleFileAndRunsTheSameInAFreshProcess) {
    if (IsFreshProcess()) {
        const tModuleIndex m = openModule(FreshProcessArg("TQ_FILE"));
        const tDescriptor d = tDescriptor::Make(m, static_cast<uint32_t>(std::stoul(FreshProcessArg("TQ_BLOCK"))));
        // Opening the module read no block.
        EXPECT_FALSE(DescribedObjectNoDescriptor<BlockRep>::hasFaulted(d));
        Faultp<BlockRep> ref(d);
        BlockRep* b = ref.get();
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(DescribedObjectNoDescriptor<BlockRep>::hasFaulted(d));
        EXPECT_EQ(b->refCount(), 1);
        const Span span = RecordOf(FreshProcessArg("TQ_FILE"), "Blocks", d.descIndex());
        const std::vector<uint8_t> onFile = ReadStream(FreshProcessArg("TQ_FILE"), "Blocks");
        const std::vector<uint8_t> again = RecordBytes(*b, m);
        ASSERT_EQ(again.size(), span.length);
        EXPECT_EQ(std::memcmp(again.data(), onFile.data() + span.offset, span.length), 0);
        InterObj form(InterObjRep::fault(tDescriptor::Make(m, static_cast<uint32_t>(std::stoul(FreshProcessArg("TQ_FORM"))))));
        ASSERT_TRUE(form.is());
        EXPECT_EQ(getText(form.get(), "Result"), "");
        Names names;
        Context ctx(form.get(), 0);
        ctx.setEvalTables(&names.table, nullptr);
        b->eval(ctx);
        ctx.setEvalTables(nullptr, nullptr);
        EXPECT_EQ(getText(form.get(), "Result"), "42!");
        // Running it changed nothing that the module keeps of the block.
        EXPECT_FALSE(DescribedObjectNoDescriptor<BlockRep>::isDirty(m));
        return;
    }
    ScratchDir dir;
    const std::string path = dir.file("blocks.qbo");
    uint32_t index = 0;
    uint32_t formIndex = 0;
    {
        const tModuleIndex m = openModule(path);
        InterObj form(named("Form1"));
        formIndex = form->descriptor().descIndex();
        addData(form.get(), "Result", IDT_STRING);
        Program p;
        for (const char* n : kNames) p.id(n);
        BlockRep* b = p.makeBlock(kProgram);
        Faultp<BlockRep> keep(b);
        index = b->descriptor().descIndex();
        Names names;
        Context ctx(form.get(), 0);
        ctx.setEvalTables(&names.table, nullptr);
        b->eval(ctx);
        ctx.setEvalTables(nullptr, nullptr);
        EXPECT_EQ(getText(form.get(), "Result"), "42!");
        setText(form.get(), "Result", "");
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        // The block stays with the module when the test lets it go.
        keep->ref();
        form = nullptr;
        closeModule(m);
    }
    EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", path}, {"TQ_BLOCK", std::to_string(index)}, {"TQ_FORM", std::to_string(formIndex)}}), 0);
}

// ---- corrupt records -----------------------------------------------------------------------

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A statement head.
std::vector<uint8_t> Stmt(uint16_t kind, uint32_t size, int32_t line = 1) {
    std::vector<uint8_t> out;
    Put16(out, kind);
    Put32(out, size);
    out.push_back(0);
    Put32(out, static_cast<uint32_t>(line));
    Put32(out, static_cast<uint32_t>(line));
    return out;
}

std::vector<uint8_t> Bytes(const ExprPtr& e) { return std::vector<uint8_t>(e->bytes(), e->bytes() + e->size()); }

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An assignment of value to target, with the size its parts give.
std::vector<uint8_t> Assign(const std::vector<uint8_t>& target, const std::vector<uint8_t>& value) {
    return Join({Stmt(STMT_ASSIGNMENT, static_cast<uint32_t>(15 + target.size() + value.size())), target, value});
}

std::vector<uint8_t> Record(uint32_t nodeCount, const std::vector<uint8_t>& area, int32_t sizeAdjust = 0,
                            uint32_t localRef = 0x3FFFFFFF) {
    std::vector<uint8_t> out;
    Put32(out, static_cast<uint32_t>(area.size() + 37 + sizeAdjust));
    Put32(out, nodeCount);
    Put32(out, 0);
    out.push_back(0x04);
    Put32(out, localRef);
    out.push_back(0x04);
    Put32(out, 0x3FFFFFFF);
    Put32(out, static_cast<uint32_t>(area.size()));
    out.insert(out.end(), area.begin(), area.end());
    return out;
}

// The text with which reading the record as entry 3 of a module fails.
std::string ReadFailure(const std::vector<uint8_t>& record) {
    OCLStorage storage;
    OCLStream s(storage, "Blocks", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.write(record.data(), record.size());
    s.seek(0);
    try {
        BlockRep* b = BlockRep::readFromStream(s, 1, 200, 3);
        delete b;
    } catch (const ObjectLoadFailed& e) {
        return e.objectName() ? e.objectName() : "";
    }
    return "no failure";
}

TEST_F(BlockFiles, ASoundRecordReadsBack) {
    Program p;
    const auto target = Bytes(p.expression("a"));
    EXPECT_EQ(ReadFailure(Record(1, Assign(target, Bytes(p.expression("a + 1 * \"x\""))))), "no failure");
}

TEST_F(BlockFiles, ACorruptNodeAreaIsRefusedNamingTheBlockAndTheOffset) {
    Program p;
    const auto a = Bytes(p.expression("a"));
    const auto one = Bytes(p.expression("1"));
    const auto stop = Stmt(STMT_STOP, 15);
    std::vector<uint8_t> deep = one;
    for (int i = 0; i < 600; ++i) {
        std::vector<uint8_t> wrapped = {8, 0, 0, 0, 0, 0, 0, UNOP_NOT};
        StoreLE32(&wrapped[2], static_cast<uint32_t>(8 + deep.size()));
        wrapped.insert(wrapped.end(), deep.begin(), deep.end());
        deep = wrapped;
    }
    std::vector<uint8_t> unnamedCall = Bytes(ExprPtr(Cid::make(nullptr).release()));
    std::vector<uint8_t> noNul = Bytes(p.expression("\"ab\""));
    noNul.back() = 'c';
    std::vector<uint8_t> leftTooLong = Bytes(p.expression("a + 1"));
    StoreLE32(&leftTooLong[8 + 2], 30);
    std::vector<uint8_t> badOp = Bytes(p.expression("a + 1"));
    badOp[7] = 99;
    std::vector<uint8_t> exitSeven = Join({Stmt(STMT_EXITER, 19), {7, 0, 0, 0}});
    const struct Case {
        const char* what;
        std::vector<uint8_t> record;
        const char* text;
    } cases[] = {
        {"a statement past its block", Record(1, Stmt(STMT_STOP, 40)),
         "Blocks entry 3: a statement's size runs past the block at offset 0"},
        {"a size too small", Record(1, Join({Stmt(STMT_ASSIGNMENT, 20), {0, 0, 0, 0, 0}})),
         "Blocks entry 3: size 20 is too small for Assignment at offset 0"},
        {"an unknown statement kind", Record(1, Stmt(99, 15)), "Blocks entry 3: unknown statement kind 99 at offset 0"},
        {"a function without room for its argument", Record(1, Assign(a, {9, 0, 11, 0, 0, 0, 0, 1, 0, 0, 0})),
         "Blocks entry 3: an expression runs past its parent at offset 36"},
        {"an expression where a statement stands", Record(1, a),
         "Blocks entry 3: statement 1 of 1 runs past the block at offset 0"},
        {"an expression where a statement stands, with room", Record(2, Join({a, stop})),
         "Blocks entry 3: size 10 is too small for Assignment at offset 0"},
        {"a statement where an expression stands", Record(1, Assign(a, stop)),
         "Blocks entry 3: unknown expression kind 16 at offset 25"},
        {"a constant as a target", Record(1, Assign(one, a)),
         "Blocks entry 3: an identifier must stand here, not expression kind 4 at offset 15"},
        {"nesting too deep", Record(1, Assign(a, deep)),
         "Blocks entry 3: expressions nest deeper than 512 at offset 4121"},
        {"an operand past its parent", Record(1, Assign(a, leftTooLong)),
         "Blocks entry 3: an expression's size runs past its parent at offset 33"},
        {"an unknown operator", Record(1, Assign(a, badOp)), "Blocks entry 3: unknown binary operator 99 at offset 25"},
        {"a call without a name", Record(1, Assign(unnamedCall, one)),
         "Blocks entry 3: an identifier with arguments has no name at offset 15"},
        {"a text without its NUL", Record(1, Assign(a, noNul)),
         "Blocks entry 3: the text of StringConstant does not end in NUL at offset 38"},
        {"an unknown exit", Record(1, exitSeven), "Blocks entry 3: unknown exit type 7 at offset 0"},
        {"bytes after the last statement", Record(1, Join({stop, stop})),
         "Blocks entry 3: bytes after the last statement at offset 15"},
        {"fewer statements than counted", Record(2, stop),
         "Blocks entry 3: statement 2 of 2 runs past the block at offset 15"},
        {"a head that disagrees with the area", Record(1, stop, 1),
         "Blocks entry 3: the block size 53 does not match its node area of 15 bytes"},
        {"a variable object of another module", Record(1, stop, 0, 0x80000001),
         "Blocks entry 3: a variable object names another module's object"},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadFailure(c.record), c.text) << c.what;
    // A node area longer than the stream is refused before any room is
    // taken for it.
    std::vector<uint8_t> huge = Record(1, stop);
    StoreLE32(&huge[0], 0x7FFFFFF0u + 37);
    StoreLE32(&huge[22], 0x7FFFFFF0u);
    EXPECT_EQ(ReadFailure(huge), "Blocks entry 3: the node area runs past the end of the stream");
}

TEST_F(BlockFiles, ABlockTableRefusesABlockThatIndexesBeyondItsTables) {
    Program p;
    for (const char* n : {"a", "b", "c", "d", "e"}) p.id(n);
    const auto e = Bytes(p.expression("e"));
    const auto one = Bytes(p.expression("1"));
    OCLStorage storage;
    OCLStream s(storage, "Blocks", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    const std::vector<uint8_t> record = Record(1, Assign(e, one));
    s.write(record.data(), record.size());
    s.seek(0);
    BlockRep* b = BlockRep::readFromStream(s, 1, 200, 3);
    EXPECT_EQ(b->uses().maxIdIndex, 4);
    BlockDynamicVector dyn;
    dyn.blockIndex(b);
    b->deref();
    BlockVector table(dyn, DETACHED_MODULE);
    table.setIdentifierCount(4);
    try {
        table.block(0);
        ADD_FAILURE();
    } catch (const ObjectLoadFailed& ex) {
        EXPECT_STREQ(ex.objectName(),
                     "Blocks entry 3: identifier index 4 lies beyond the identifier table of 4 names at offset 15");
    }
    table.setIdentifierCount(5);
    EXPECT_EQ(table.block(0), b);
    EXPECT_EQ(table.block(1), nullptr);
}

TEST_F(BlockFiles, ASpoiltBlockInAModuleFailsToLoadAndLeavesTheModuleUsable) {
    ScratchDir dir;
    const std::string path = dir.file("spoilt.qbo");
    uint32_t index = 0;
    {
        const tModuleIndex m = openModule(path);
        Program p;
        p.id("Result");
        BlockRep* b = p.makeBlock("Result = 1");
        b->ref();
        index = b->descriptor().descIndex();
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        closeModule(m);
    }
    const Span span = RecordOf(path, "Blocks", index);
    // The first statement's kind becomes one no library knows.
    Patch(path, "Blocks", span.offset + BlockRep::kRecordHead, {0x63, 0x00});
    const tModuleIndex m = openModule(path);
    const tDescriptor d = tDescriptor::Make(m, index);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Faultp<BlockRep> ref(d);
        try {
            ref.get();
            ADD_FAILURE();
        } catch (const ObjectLoadFailed& e) {
            EXPECT_NE(std::string(e.what()).find("Blocks entry " + std::to_string(index)), std::string::npos)
                << e.what();
        }
    }
    InterObj later(named("Later"));
    EXPECT_EQ(later->moduleIndex(), m);
}

// The seeds of the block fuzz target are blocks the store saved, in the
// target's input form; with TQ_FUZZ_SEED_DIR set they are written there.
TEST_F(BlockFiles, SavedBlocksSurviveTheFuzzersInputForm) {
    const char* const programs[] = {
        "a = b + c * 2\nText = \"x\" & a\nb = -a\n9: End",
        "Dim g As Double\ng = 2.5 ^ 2 \\ 3 Mod 2\na = (b && c) || Not d Xor e Eqv f Imp g\nText := Me.Text & Nothing",
        "Static f As String = \"s\"\nLet a = &HFF\nSet Text = f & a(1, \"q\").b\nExit For\nStop",
    };
    ScratchDir dir;
    const std::string path = dir.file("seeds.qbo");
    std::vector<uint32_t> indexes;
    {
        const tModuleIndex m = openModule(path);
        for (const char* text : programs) {
            Program p;
            for (const char* n : fuzz::kBlockNames) p.id(n);
            BlockRep* b = p.makeBlock(text);
            b->ref();
            indexes.push_back(b->descriptor().descIndex());
        }
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        closeModule(m);
    }
    const std::vector<uint8_t> stream = ReadStream(path, "Blocks");
    std::vector<std::string> records;
    for (uint32_t i : indexes) {
        const Span span = RecordOf(path, "Blocks", i);
        records.emplace_back(reinterpret_cast<const char*>(stream.data() + span.offset), span.length);
    }
    const char* seedDir = std::getenv("TQ_FUZZ_SEED_DIR");
    for (size_t k = 0; k <= records.size(); ++k) {
        // Each record alone, then all of them together.
        const std::vector<std::string> input =
            k < records.size() ? std::vector<std::string>{records[k]} : records;
        const std::string encoded = fuzz::EncodeBlockInput(input);
        EXPECT_EQ(fuzz::DecodeBlockInput(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size()), input);
        for (const std::string& r : input) {
            EXPECT_EQ(ReadFailure(std::vector<uint8_t>(r.begin(), r.end())), "no failure");
        }
        if (seedDir) {
            std::ofstream out(std::string(seedDir) + "/saved" + std::to_string(k), std::ios::binary);
            out << encoded;
        }
    }
}

}  // namespace
}  // namespace tq
