// The seeds of the module fuzz target are modules the store saved, put into
// the target's input form. Each must come out of that form as a module that
// loads with what was saved in it, or the target would fuzz something else.
// With TQ_FUZZ_SEED_DIR set, the seeds are written there as well.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/field.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/objval.h"
#include "store/vals.h"
#include "tests/fuzz/modinput.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

using FuzzSeeds = ModuleStoreTest;

fuzz::StreamList StreamsOf(const std::string& path) {
    fuzz::StreamList out;
    for (const char* name : fuzz::kModuleStreams) {
        const std::vector<uint8_t> bytes = ModuleStoreTest::StreamBytes(path, name);
        out.emplace_back(name, std::string(bytes.begin(), bytes.end()));
    }
    return out;
}

TEST_F(FuzzSeeds, SavedModulesSurviveTheFuzzersInputForm) {
    struct Seed {
        const char* name;
        int statics;
        int dynamics;
    };
    const Seed seeds[] = {{"empty", 0, 0}, {"shapes", 3, 1}, {"edited", 2, 1}};
    for (const Seed& seed : seeds) {
        const std::string path = file(std::string(seed.name) + ".qbo");
        {
            const tModuleIndex m = load(path);
            if (seed.statics > 0) {
                InterObj shape(named("Shape", m));
                addData(shape.get(), "Title", IDT_STRING);
                addData(shape.get(), "Sides", IDT_LONG);
                EnumRep* colour = new EnumRep("Colour", 1);
                colour->addEntry("Red", 1);
                colour->addEntry("Blue", 2);
                shape->addField(InterEnumField::make("Colour", colour, 1));
                InterArrayField* sizes = InterArrayField::make("Sizes", IDT_DOUBLE, 1);
                sizes->defineBounds(0, 0, 2);
                shape->addField(sizes);
                setText(shape.get(), "Title", "shape");
                InterObj square(named("Square", m, shape.get()));
                setLong(square.get(), "Sides", 4);
                InterObj drawing(named("Drawing", m));
                drawing->addField(new EmbedObjField("Frame", "Shape"));
                addData(drawing.get(), "Favourite", IDT_OBJECT, "Shape");
                *drawing->eval("Favourite") = ObjectValue(square);
                InterObj loose(InterObjRep::NewCopy(*shape, m, IOT_DYNAMIC));
                ObjectStore::RequestPreload(drawing.get());
                if (std::string(seed.name) == "edited") {
                    ObjectStore::Save(m);
                    setText(shape.get(), "Title", "a longer title after the first save");
                    square->Destroy();
                }
            }
            ObjectStore::Save(m);
            ObjectStore::Commit(m);
        }
        ObjectStore::UnloadModule(ObjectStore::FindModule(path.c_str()));

        const std::string input = fuzz::EncodeModuleInput(StreamsOf(path));
        if (const char* out = std::getenv("TQ_FUZZ_SEED_DIR"))
            std::ofstream(std::string(out) + "/" + seed.name, std::ios::binary) << input;
        const std::string copy = file(std::string(seed.name) + "-copy.qbo");
        for (const auto& [name, bytes] :
             fuzz::DecodeModuleInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()))
            WriteStream(copy, name.c_str(), std::vector<uint8_t>(bytes.begin(), bytes.end()));
        const tModuleIndex m = load(copy, 0);
        EXPECT_EQ(ObjectStore::StaticCount(m), seed.statics) << seed.name;
        EXPECT_EQ(ObjectStore::DynamicCount(m), seed.dynamics) << seed.name;
        if (seed.statics > 0) {
            EXPECT_EQ(found("Drawing.Frame")->host(), found("Drawing")) << seed.name;
        }
        ObjectStore::UnloadModule(m);
    }
}

// A module whose objects belong to another module's signature and refer to
// its objects and enumerations: alone, it loads with a replacement object
// that keeps its clone's data.
TEST_F(FuzzSeeds, AModuleReferringToAnotherSurvivesTheFuzzersInputForm) {
    const std::string pathA = file("prototypes.qbo");
    const std::string path = file("referring.qbo");
    const tModuleIndex a = load(pathA);
    InterObj shape(named("Shape", a));
    addData(shape.get(), "Sides", IDT_LONG);
    EnumRep* colour = new EnumRep("Colour", 1);
    colour->addEntry("Red", 1);
    const tModuleIndex m = load(path);
    InterObj square(named("Square", m, shape.get()));
    setLong(square.get(), "Sides", 4);
    InterObj drawing(named("Drawing", m));
    addData(drawing.get(), "Favourite", IDT_OBJECT);
    *drawing->eval("Favourite") = ObjectValue(shape);
    drawing->addField(InterEnumField::make("Tint", colour, 1));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    square = nullptr;
    drawing = nullptr;
    shape = nullptr;
    const tModuleIndex both[] = {a, m, NO_MODULE};
    ObjectStore::UnloadModules(both);

    const std::string input = fuzz::EncodeModuleInput(StreamsOf(path));
    if (const char* out = std::getenv("TQ_FUZZ_SEED_DIR"))
        std::ofstream(std::string(out) + "/referring", std::ios::binary) << input;
    const std::string copy = file("referring-copy.qbo");
    for (const auto& [name, bytes] :
         fuzz::DecodeModuleInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()))
        WriteStream(copy, name.c_str(), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const tModuleIndex c = load(copy, 0);
    EXPECT_EQ(getLong(found("Square"), "Sides"), 4);
    ASSERT_NE(found("ShapeProxy"), nullptr);
    EXPECT_EQ(found("Square")->signature(), found("ShapeProxy")->signature());
    ObjectStore::UnloadModule(c);
}

// Damaged modules, in the fuzzer's input form: each decodes to a file the
// store refuses (or, for a spoilt record, one whose record fails to read),
// so the fuzzer starts from the refusals' edges.
TEST_F(FuzzSeeds, DamagedModulesInTheFuzzersInputFormAreRefused) {
    const std::string path = file("whole.qbo");
    {
        const tModuleIndex m = load(path);
        InterObj shape(named("Shape", m));
        addData(shape.get(), "Title", IDT_STRING);
        InterObj circle(named("Circle", m, shape.get()));
        addData(circle.get(), "Radius", IDT_LONG);
        InterObj loose(InterObjRep::NewCopy(*shape, m, IOT_DYNAMIC));
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
    }
    ObjectStore::UnloadModule(ObjectStore::FindModule(path.c_str()));
    const fuzz::StreamList whole = StreamsOf(path);
    auto streamOf = [&](const char* name) -> std::string {
        for (const auto& [n, bytes] : whole)
            if (n == name) return bytes;
        return {};
    };
    auto put32 = [](std::string& b, size_t at, uint32_t v) {
        StoreLE32(reinterpret_cast<uint8_t*>(b.data()) + at, v);
    };
    auto get32 = [](const std::string& b, size_t at) {
        return LoadLE32(reinterpret_cast<const uint8_t*>(b.data()) + at);
    };
    auto nameIndex = [&](const char* text) {
        const std::string names = streamOf("IdStrings");
        for (uint32_t i = 0; 8 + (i + 1) * 40 <= names.size(); ++i)
            if (names.compare(8 + i * 40 + 8, std::strlen(text) + 1, std::string(text) + '\0') == 0) return i;
        ADD_FAILURE() << "no name " << text;
        return 0u;
    };
    struct Damaged {
        const char* seed;
        const char* stream;
        std::function<void(std::string&)> edit;
    };
    const std::vector<Damaged> damaged = {
        {"empty_statics", "Static globals", [](std::string& b) { b.clear(); }},
        // The dynamic entry names the first static object instead.
        {"dynamic_names_static", "Static globals",
         [&](std::string& b) { b.replace(8 + 2 * 10, 5, b.substr(8 + 5, 5)); }},
        // The first static name pointed at a field's name.
        {"renamed_static", "Static globals", [&](std::string& b) { put32(b, 8 + 1, nameIndex("Title")); }},
        // Four free entries more, whose list hands entry n + 1 out twice.
        {"free_list_twice", "Objects",
         [&](std::string& b) {
             const uint32_t array = get32(b, 4);
             const uint32_t n = get32(b, array);
             std::string entries = b.substr(array + 8, size_t{n} * 13);
             auto free = [](uint32_t next, uint32_t run) {
                 std::string e(13, '\0');
                 StoreLE32(reinterpret_cast<uint8_t*>(e.data()) + 5, next);
                 StoreLE32(reinterpret_cast<uint8_t*>(e.data()) + 9, run);
                 return e;
             };
             entries += free(0, 1) + free(n + 1, 1) + free(0xFFFFFFFF, 0) + free(0xFFFFFFFF, 0);
             std::string head(8, '\0');
             put32(head, 0, n + 4);
             put32(head, 4, n);
             put32(b, 4, static_cast<uint32_t>(b.size()));
             put32(b, 8, static_cast<uint32_t>(8 + entries.size()));
             b += head + entries;
         }},
        {"table_too_long", "Objects", [&](std::string& b) { put32(b, get32(b, 4), 0x400001); }},
        // Circle's Long field made Short: its section keeps two bytes of no field.
        {"gapped_signature", "Signatures",
         [&](std::string& b) {
             const uint32_t array = get32(b, 4);
             for (uint32_t i = 0; i < get32(b, array); ++i) {
                 const uint32_t at = get32(b, array + 8 + i * 13 + 5);
                 if (get32(b, at + 2) != tDescriptor::kNull && b[at + 6] == FRK_DATA && b[at + 7] == IDT_LONG)
                     b[at + 7] = IDT_SHORT;
             }
         }},
    };
    for (const Damaged& d : damaged) {
        fuzz::StreamList streams = whole;
        for (auto& [name, bytes] : streams)
            if (name == d.stream) d.edit(bytes);
        const std::string input = fuzz::EncodeModuleInput(streams);
        if (const char* out = std::getenv("TQ_FUZZ_SEED_DIR"))
            std::ofstream(std::string(out) + "/" + d.seed, std::ios::binary) << input;
        const std::string copy = file(std::string(d.seed) + ".qbo");
        // Written as a file from before the checksums, whose tables are read
        // and checked whole at open (a file with them has its table checks
        // made at the first use of what they guard).
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
        for (const auto& [name, bytes] :
             fuzz::DecodeModuleInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()))
            WriteStream(copy, name.c_str(), std::vector<uint8_t>(bytes.begin(), bytes.end()));
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
        try {
            const tModuleIndex m = load(copy, 0);
            EXPECT_THROW(found("Circle"), ObjectLoadFailed) << d.seed;
            EXPECT_STREQ(d.seed, "gapped_signature");
            ObjectStore::UnloadModule(m);
        } catch (const ModuleOpenFailed&) {
            EXPECT_STRNE(d.seed, "gapped_signature");
        }
        EXPECT_EQ(ObjectStore::ModuleCount(), 0) << d.seed;
    }
}

}  // namespace
}  // namespace tq::test
