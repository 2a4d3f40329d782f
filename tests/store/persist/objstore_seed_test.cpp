// The seeds of the module fuzz target are modules the store saved, put into
// the target's input form. Each must come out of that form as a module that
// loads with what was saved in it, or the target would fuzz something else.
// With TQ_FUZZ_SEED_DIR set, the seeds are written there as well.
#include <cstdlib>
#include <fstream>

#include "store/arrayfld.h"
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

}  // namespace
}  // namespace tq::test
