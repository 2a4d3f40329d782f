// Procedures in module files: the record byte for byte, programs that give
// the same results after a save and a reload in a fresh process (blocks read
// only when a procedure first runs), and records from a file that are not
// sound, refused with ObjectLoadFailed before anything runs.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/methfld.h"
#include "tests/store/interp/interptest.h"
#include "tests/fuzz/procinput.h"
#include "tests/store/model/streams.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using ProcedureFiles = InterpTest;

std::string Hex(const std::vector<uint8_t>& b) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t c : b) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// What reading bytes as a field record of module m gives: "read" or the
// failure's text.
std::string ReadFailure(const std::vector<uint8_t>& bytes, tModuleIndex m) {
    OCLStorage storage;
    OCLStream s(storage, "x", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.write(bytes.data(), bytes.size());
    s.seek(0);
    try {
        FieldPtr f(Field::makeFrom(s, m));
        // The parameter prototype is checked when it is first used.
        if (auto* p = dynamic_cast<InterProcField*>(f.get())) p->parmCount();
    } catch (const ObjectLoadFailed& e) {
        return e.objectName() ? e.objectName() : "";
    }
    return "read";
}

const char* kSort = R"(
    Sub Sort(n As Long, ByVal swaps As Long)
      Dim i As Long
      Dim j As Long
      Dim t As Long
      For i = 1 To n - 1
        For j = 1 To n - i
          If A(j) > A(j + 1) Then
            t = A(j)
            A(j) = A(j + 1)
            A(j + 1) = t
            swaps = swaps + 1
          End If
        Next j
      Next i
      Swapped = swaps
    End Sub
)";

TEST_F(ProcedureFiles, ARecordHoldsTheParametersTheDeadSourceTheNamesAndTheBlocks) {
    const tModuleIndex m = openModule();
    Program p;
    InterProcField* f = p.procedure("Function Twice(ByVal n As Long) As Long\nTwice = n * 2\nEnd Function");
    FieldPtr keep(f);
    const std::vector<uint8_t> r = RecordBytes(*f, m);
    size_t at = 0;
    EXPECT_EQ(r[at], FRK_FUNCTION);
    EXPECT_EQ(r[at + 1], 0x06) << "the name: a counted identifier descriptor";
    EXPECT_EQ(r[at + 6], 0) << "field flags";
    at = 7;
    EXPECT_EQ(r[at], 0x04) << "the parameter prototype: the procedure's own, uncounted";
    EXPECT_EQ(LoadLE32(&r[at + 1]), f->parameterPrototype()->descriptor().raw());
    at += 5;
    EXPECT_EQ(r[at], 1) << "compiled";
    ++at;
    // The dead source: one fragment, the header at line 1.
    EXPECT_EQ(LoadLE32(&r[at]), 14u);
    EXPECT_EQ(LoadLE32(&r[at + 4]), 0u);
    EXPECT_EQ(LoadLE32(&r[at + 8]), 1u);
    const uint32_t pool = LoadLE32(&r[at + 12]);
    const std::string header = "Function Twice(ByVal n As Long) As Long";
    EXPECT_EQ(pool, header.size() + 1);
    EXPECT_EQ(LoadLE32(&r[at + 16 + 1]), 1u) << "the fragment's line";
    EXPECT_EQ(r[at + 16 + 9], DS_TEXT);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[at + 16 + 14])), header);
    at += 16 + 14 + pool;
    // The identifier table: revision 1, Twice and n.
    EXPECT_EQ(LoadLE32(&r[at]), 1u);
    EXPECT_EQ(LoadLE32(&r[at + 4]), 2u);
    at += 8 + 2 * 5;
    // The block table: the body alone, as a counted descriptor.
    EXPECT_EQ(LoadLE32(&r[at]), 1u);
    EXPECT_EQ(r[at + 4], 0x06);
    EXPECT_EQ(LoadLE32(&r[at + 5]), f->body()->descriptor().raw());
    at += 9;
    // The return field: a Long data field named like the function.
    EXPECT_EQ(r[at], FRK_DATA);
    EXPECT_EQ(r[at + 1], IDT_LONG);
    EXPECT_EQ(r.size(), at + 2 + 5 + 1 + 4);

    // A procedure that is not compiled keeps its text with a NUL.
    InterProcField draft("Draft", "Sub Draft()\n");
    const std::vector<uint8_t> d = RecordBytes(draft, m);
    ASSERT_EQ(d.size(), 13u + 4 + 13);
    EXPECT_EQ(d[0], FRK_PROCEDURE);
    EXPECT_EQ(LoadLE32(&d[8]), 0x3FFFFFFFu) << "no parameters";
    EXPECT_EQ(d[12], 0);
    EXPECT_EQ(LoadLE32(&d[13]), 13u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d[17])), "Sub Draft()\n");
    EXPECT_EQ(d.back(), 0);
}

TEST_F(ProcedureFiles, ProgramsGiveTheSameResultsAfterASaveAndAReloadInAFreshProcess) {
    if (IsFreshProcess()) {
        DefaultStoreApplication app;
        const tModuleIndex m = ObjectStore::LoadModule(FreshProcessArg("TQ_FILE").c_str(), 0, 0);
        InterObj prog;
        ASSERT_TRUE(ObjectStore::find("Program", prog));
        auto* fib = dynamic_cast<InterFuncField*>(prog->findField("Fib"));
        auto* sort = dynamic_cast<InterProcField*>(prog->findField("Sort"));
        ASSERT_TRUE(fib && sort);
        // Opening the module and finding the procedures read no block.
        EXPECT_FALSE(DescribedObjectNoDescriptor<BlockRep>::hasFaulted(fib->blocks().ref(0).descriptor()));
        EXPECT_EQ(Hex(RecordBytes(*fib, m)), FreshProcessArg("TQ_FIB"));
        EXPECT_EQ(Hex(RecordBytes(*sort, m)), FreshProcessArg("TQ_SORT"));
        EXPECT_EQ(Call(prog.get(), "Fib", {ValuePtr(new LongValue(15))})->as<int32_t>(), 610);
        EXPECT_TRUE(DescribedObjectNoDescriptor<BlockRep>::hasFaulted(fib->blocks().ref(0).descriptor()));
        for (int32_t i = 1; i <= 6; ++i) Element(prog.get(), "A", i)->set(int32_t(7 - i));
        Call(prog.get(), "Sort", {ValuePtr(new LongValue(6)), ValuePtr(new LongValue(0))});
        std::string order;
        for (int32_t i = 1; i <= 6; ++i) order += std::to_string(Element(prog.get(), "A", i)->as<int32_t>());
        EXPECT_EQ(order, "123456");
        EXPECT_EQ(getLong(prog.get(), "Swapped"), 15);
        prog = nullptr;
        ObjectStore::UnloadModule(m);
        return;
    }
    ScratchDir dir;
    const std::string path = dir.file("programs.qbo");
    std::string fibBytes, sortBytes;
    {
        DefaultStoreApplication app;
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        InterObj prog(named("Program"));
        addData(prog.get(), "Swapped", IDT_LONG);
        InterArrayField* a = InterArrayField::make("A", IDT_LONG, 1);
        a->defineBounds(0, 1, 6);
        prog->addField(a);
        AddProcedure(prog.get(), kFibSource);
        AddProcedure(prog.get(), kSort);
        EXPECT_EQ(Call(prog.get(), "Fib", {ValuePtr(new LongValue(15))})->as<int32_t>(), 610);
        fibBytes = Hex(RecordBytes(*prog->findField("Fib"), m));
        sortBytes = Hex(RecordBytes(*prog->findField("Sort"), m));
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        prog = nullptr;
        ObjectStore::UnloadModule(m);
    }
    EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", path}, {"TQ_FIB", fibBytes}, {"TQ_SORT", sortBytes}}), 0);
}

TEST_F(ProcedureFiles, ACopyRunsOnItsOwnBlocksAndParameters) {
    InterObj prog(named("Program"));
    addData(prog.get(), "Swapped", IDT_LONG);
    InterArrayField* a = InterArrayField::make("A", IDT_LONG, 1);
    a->defineBounds(0, 1, 3);
    prog->addField(a);
    Program p;
    FieldPtr original(p.procedure(kSort));
    FieldPtr copy(original->clone());
    prog->addField(copy.get());
    original = FieldPtr();
    for (int32_t i = 1; i <= 3; ++i) Element(prog.get(), "A", i)->set(int32_t(4 - i));
    Call(prog.get(), "Sort", {ValuePtr(new LongValue(3)), ValuePtr(new LongValue(0))});
    EXPECT_EQ(Element(prog.get(), "A", 1)->as<int32_t>(), 1);
    EXPECT_EQ(getLong(prog.get(), "Swapped"), 3);
}

// ---- records that are not sound -----------------------------------------------------------------

// Reading a record takes no count of the names it follows (the module's
// stored counts hold them) while letting the field go gives one back, so
// every corrupt record is read in a module of its own, made afresh.
TEST_F(ProcedureFiles, ARecordThatIsNotSoundIsRefusedWithWhatIsWrong) {
    auto u32 = [](uint32_t v) {
        return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    // Offsets in the record of Twice: 13 the dead source, then the
    // identifier table, the block table and the return field.
    auto ids = [](const std::vector<uint8_t>& r) { return 13 + 16 + 14 + LoadLE32(&r[13 + 12]); };
    auto blocks = [&](const std::vector<uint8_t>& r) { return ids(r) + 8 + 2 * 5; };
    using Edit = std::function<std::vector<uint8_t>(std::vector<uint8_t>, InterObjRep* stranger)>;
    auto put = [](size_t at, std::vector<uint8_t> bytes) -> std::function<std::vector<uint8_t>(std::vector<uint8_t>)> {
        return [at, bytes](std::vector<uint8_t> r) {
            for (size_t i = 0; i < bytes.size(); ++i) r[at + i] = bytes[i];
            return r;
        };
    };
    const struct Case {
        const char* what;
        Edit edit;
        const char* text;
    } cases[] = {
        {"a sound record", [](std::vector<uint8_t> r, InterObjRep*) { return r; }, "read"},
        {"a compiled flag that is neither 0 nor 1", [&](auto r, auto*) { return put(12, {2})(r); },
         "procedure 'Twice': the compiled flag 2 is neither 0 nor 1"},
        {"a dead source whose counts disagree", [&](auto r, auto*) { return put(13, u32(28))(r); },
         "procedure 'Twice': dead source: the fragment count 1 does not match the array of 28 bytes"},
        {"a fragment of an unknown kind", [&](auto r, auto*) { return put(13 + 16 + 9, {9})(r); },
         "procedure 'Twice': dead source: fragment 0 has the unknown kind 9"},
        {"a fragment text outside the pool", [&](auto r, auto*) { return put(13 + 16 + 10, u32(500))(r); },
         "procedure 'Twice': dead source: the text of fragment 0 does not lie in the pool"},
        {"a pool past the stream", [&](auto r, auto*) { return put(13 + 12, u32(100000))(r); },
         "procedure 'Twice': dead source: the record runs past the end of the stream"},
        {"an identifier that is not in the module", [&](auto r, auto*) { return put(ids(r) + 8 + 1, u32(0x00123456))(r); },
         "procedure 'Twice': identifier 0 is not in the module"},
        {"an empty block table",
         [&](auto r, auto*) {
             const size_t at = blocks(r);
             std::vector<uint8_t> out(r.begin(), r.begin() + static_cast<ptrdiff_t>(at));
             for (uint8_t b : u32(0)) out.push_back(b);
             out.insert(out.end(), r.begin() + static_cast<ptrdiff_t>(at + 9), r.end());
             return out;
         },
         "procedure 'Twice': the block table is empty: it does not end in a body"},
        {"a block table that ends in no block", [&](auto r, auto*) { return put(blocks(r) + 5, u32(0x3FFFFFFF))(r); },
         "procedure 'Twice': the block table does not end in a body"},
        {"a return field that is no value", [&](auto r, auto*) { return put(blocks(r) + 9, {FRK_END})(r); },
         "procedure 'Twice': the return field is not a value of a language type"},
        {"a parameter prototype of another module", [&](auto r, auto*) { return put(8, u32(0x80000001))(r); },
         "procedure 'Twice': the parameter prototype is not an object of the module"},
        {"a parameter prototype that is a static object",
         [&](auto r, InterObjRep* stranger) { return put(8, u32(stranger->descriptor().raw()))(r); },
         "procedure 'Twice': the parameter prototype 0 is not a static-variables object of the module"},
        {"a record cut short",
         [&](auto r, auto*) { return std::vector<uint8_t>(r.begin(), r.begin() + static_cast<ptrdiff_t>(blocks(r) + 6)); },
         "BlockVector: block count runs past the end of the stream"},
    };
    for (const Case& c : cases) {
        const tModuleIndex m = openModule();
        InterObj stranger(named("Stranger"));
        Program p;
        FieldPtr f(p.procedure("Function Twice(n As Long) As Long\nTwice = n * 2\nEnd Function"));
        EXPECT_EQ(ReadFailure(c.edit(RecordBytes(*f.get(), m), stranger.get()), m), c.text) << c.what;
        f = FieldPtr();
        stranger = nullptr;
        closeModule(m);
    }
    // An uncompiled record whose text has no NUL, or runs past the stream.
    const struct {
        std::function<void(std::vector<uint8_t>&)> edit;
        const char* text;
    } drafts[] = {
        {[](std::vector<uint8_t>& r) { r.back() = 'x'; }, "procedure 'Draft': the source text does not end in NUL"},
        {[](std::vector<uint8_t>& r) { StoreLE32(&r[13], 1000); },
         "procedure 'Draft': the source text runs past the end of the stream"},
    };
    for (const auto& c : drafts) {
        const tModuleIndex m = openModule();
        FieldPtr draft(new InterProcField("Draft", "abc"));
        std::vector<uint8_t> d = RecordBytes(*draft.get(), m);
        c.edit(d);
        EXPECT_EQ(ReadFailure(d, m), c.text);
        draft = FieldPtr();
        closeModule(m);
    }
}

// The seeds of the procedure fuzz target: procedures that use every
// statement kind, saved, and taken apart into the records the target puts
// back together. With TQ_FUZZ_SEED_DIR set they are written there.
TEST_F(ProcedureFiles, FuzzSeedsAreProceduresTheStoreSaved) {
    const char* const procedures[] = {
        R"(Sub Main()
            Dim i As Long
            Select Case a
              Case 1, 3 To 5, Is > 9
                b = 1
              Case Else
                b = 2
            End Select
            Do While i < 3
              i = i + 1
            Loop
            Do
              i = i - 1
            Loop Until i < 1
            For i = 1 To 3 Step 2
              c = c + i
            Next i
            If a Then b = 3 Else b = 4
            If a = 1 Then
              c = 1
            ElseIf a = 2 Then
              c = 2
            Else
              c = 3
            End If
            Print a; Spc(1), Tab(3); Text;
            Randomize 3
            Try
              Throw Oops(1)
            Catch Oops(n As Long)
              a = n
            End Try
            With Program
            End With
          End Sub)",
        R"(Function Fib(n As Long) As Long
            If n < 2 Then
              Fib = n
            Else
              Fib = Fib(n - 1) + Fib(n - 2)
            End If
          End Function)",
        R"(Sub Main(ByVal s As String, a As Long)
            Text = s & a
            Main "x", a
          End Sub)",
        R"(Sub Texts(n As Long) ' built-in functions, comments, a shared line
            ' a comment line
            Dim t As String
            t = Left$(Text, 2) & Mid(Text, 2, 1) & Chr(65) : a = Len(t) ' two
            Rem more
            b = Abs(-2.5) + Int(Rnd(0)) + RGB(1, 2, 3) + QBColor(9) + Instr(1, t, "A", 1)
            c = IIf(a > 1, UBound(a), Val("&H10"))
          End Sub)",
    };
    const char* seedDir = std::getenv("TQ_FUZZ_SEED_DIR");
    int k = 0;
    for (const char* text : procedures) {
        ScratchDir dir;
        const std::string path = dir.file("seed.qbo");
        fuzz::ProcInput input;
        {
            DefaultStoreApplication app;
            const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
            // The names take the places the target's identifier table gives
            // them.
            std::vector<IdString> names;
            for (const char* n : fuzz::kProcNames) names.emplace_back(n, m);
            Program p;
            FieldPtr f(p.procedure(text));
            const std::vector<uint8_t> r = RecordBytes(*f.get(), m);
            input.field.assign(r.begin(), r.end());
            ObjectStore::Save(m);
            ObjectStore::Commit(m);
            f = FieldPtr();
            names.clear();
            ObjectStore::UnloadModule(m);
        }
        for (auto [stream, list] : {std::pair{"Blocks", &input.blocks}, std::pair{"Signatures", &input.signatures},
                                    std::pair{"Objects", &input.objects}}) {
            const std::vector<uint8_t> bytes = ReadStream(path, stream);
            const uint32_t array = LoadLE32(&bytes[4]);
            for (uint32_t i = 0; array + 8 + 13 * (i + 1) <= bytes.size() && (bytes[array + 8 + 13 * i] & 1); ++i) {
                const Span span = RecordOf(path, stream, i);
                list->emplace_back(reinterpret_cast<const char*>(bytes.data()) + span.offset, span.length);
            }
        }
        EXPECT_FALSE(input.blocks.empty());
        const std::string encoded = fuzz::EncodeProcInput(input);
        const fuzz::ProcInput back = fuzz::DecodeProcInput(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size());
        EXPECT_EQ(back.blocks, input.blocks);
        EXPECT_EQ(back.objects, input.objects);
        EXPECT_EQ(back.field, input.field);
        if (seedDir) {
            std::ofstream out(std::string(seedDir) + "/saved" + std::to_string(k), std::ios::binary);
            out << encoded;
        }
        ++k;
    }
}

}  // namespace
}  // namespace tq
