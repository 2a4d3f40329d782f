// ObjectModule and ModuleManager: module objects that follow the store
// (also when a slot is reused), the refusals to unload and their texts,
// saving from a program (read-only modules, another module's edits seen by
// a fresh process), and loads that must fail cleanly.
#include <sys/stat.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "store/builtin/igroup.h"
#include "store/builtin/iobjstor.h"
#include "store/errors/extexcep.h"
#include "tests/store/builtin/storetest.h"

namespace tq {
namespace {

class Modules : public StoreTest {
protected:
    static iObjectModule& part(const InterObj& module) {
        iObjectModule* p = iObjectModule::Of(module.get());
        if (!p) throw std::runtime_error("no module object");
        return *p;
    }
    static void runMain(const char* object) {
        int handled = 0;
        found(object)->evalIMember("Main", nullptr, &handled);
    }
};

const char* const kShelf = R"(Begin Object Shelf
  Dim Count As Long
  Dim Items As New Group
End Object
)";

const char* const kBook = R"(Begin Object Book From Shelf
End Object
)";

TEST_F(Modules, AModuleObjectNamesItsOwnModuleAndNeverALaterOneInTheSameSlot) {
    const InterObj shelf = iModuleManager::LoadOne(write("shelf.tqs", kShelf).c_str(), 0, 0);
    const tModuleIndex slot = part(shelf).selector();
    ASSERT_TRUE(ObjectStore::ValidIndex(slot));
    EXPECT_EQ(iObjectModule::Find(slot), shelf.get());
    EXPECT_EQ(part(shelf).pdGetStaticCount(), 1);

    // The host unloads it behind the language's back; another module takes
    // the lowest free slot, which is the same one.
    ObjectStore::UnloadModule(slot);
    const tModuleIndex again = ObjectStore::LoadModule(write("book.tqs", kShelf).c_str(), 0, 0);
    ASSERT_EQ(again, slot);
    EXPECT_EQ(part(shelf).pdGetSelector(), NO_MODULE);
    EXPECT_EQ(part(shelf).pdGetStaticCount(), -1) << "a slot not in use";
    EXPECT_EQ(failure<AccessDenied>([&] { part(shelf).pdGetIsModified(); }), "Invalid module index.");
    InterObjRep* fresh = iObjectModule::FindOrMake(again);
    EXPECT_NE(fresh, shelf.get());
    EXPECT_EQ(iObjectModule::List().length(), 2u) << "the detached module's entry and the new module's";
    EXPECT_EQ(iObjectModule::PositionOf(shelf.get()), -1) << "the refresh dropped the old entry";
}

TEST_F(Modules, UnloadRefusalsSayWhyAndLeaveTheModuleLoaded) {
    const InterObj shelf = iModuleManager::LoadOne(write("shelf.tqs", kShelf).c_str(), 0, 0);
    const InterObj book = iModuleManager::LoadOne(write("book.tqs", kBook).c_str(), 0, 0);
    const InterObj detached(iObjectModule::Find(DETACHED_MODULE));
    ASSERT_EQ(detached.get(), iObjectModule::PO_GetObject());

    struct Case {
        const char* what;
        const InterObj* module;
        std::string text;
    } cases[] = {
        {"the detached module", &detached, "Detached Modules cannot be unloaded."},
        {"a module whose prototype another module's object derives from", &shelf,
         "Module is in use and cannot be unloaded."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(part(*c.module).pdGetCanUnload(), 0) << c.what;
        EXPECT_EQ(failure<ModuleUnloadFailed>([&] { part(*c.module).imUnload(); }), c.text) << c.what;
    }
    part(book).pdSetCanUnload(0);
    EXPECT_EQ(failure<ModuleUnloadFailed>([&] { part(book).imUnload(); }),
              "Modules with CanUnload set to False cannot be unloaded.");
    EXPECT_TRUE(ObjectStore::ValidIndex(part(shelf).selector()));
    EXPECT_TRUE(ObjectStore::ValidIndex(part(book).selector()));

    // Once the module that builds on it is gone, it goes too, and so does
    // its module object.
    part(book).pdSetCanUnload(-1);
    part(book).imUnload();
    EXPECT_TRUE(book.isNull()) << "the module object is destroyed with its module";
    EXPECT_EQ(part(shelf).pdGetCanUnload(), -1);
    const tModuleIndex m = part(shelf).selector();
    part(shelf).imUnload();
    EXPECT_FALSE(ObjectStore::ValidIndex(m));
    EXPECT_EQ(iObjectModule::List().length(), 1u);
}

TEST_F(Modules, SavingAReadOnlyModuleRaisesAndWritesNothing) {
    const std::string path = binary("shelf", kShelf);
    const InterObj shelf = iModuleManager::LoadOne(path.c_str(), 0, 1);
    EXPECT_EQ(part(shelf).pdGetReadOnly(), -1);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const std::string text = failure<StoreException>([&] { part(shelf).imSave(); });
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_NE(text.find("read-only"), std::string::npos) << text;
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the file was not replaced";
}

TEST_F(Modules, LoadsThatCannotSucceedSayWhatAndLeaveNothingLoaded) {
    const std::string shelf = write("shelf.tqs", kShelf);
    // A compound file's signature and nothing sound after it.
    const std::string garbage = dir_.file("garbage.qbo");
    std::ofstream(garbage) << std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) << std::string(4096, '\x07');
    iModuleManager::LoadOne(shelf.c_str(), 0, 0);
    const int loaded = ObjectStore::ModuleCount();
    struct Case {
        const char* what;
        std::string file;
        std::string says;
    } cases[] = {
        {"a module loaded already", shelf, "loaded already"},
        {"a missing file", dir_.file("missing.qbo"), "missing.qbo"},
        {"a file that is no module", garbage, "garbage.qbo"},
        {"a path longer than the system allows", dir_.file(std::string(300, 'x') + ".qbo"), "xxxx"},
    };
    for (const Case& c : cases) {
        const std::string text = failure<StoreException>([&] { iModuleManager::LoadOne(c.file.c_str(), 0, 0); });
        EXPECT_NE(text.find(c.says), std::string::npos) << c.what << ": " << text;
        EXPECT_EQ(ObjectStore::ModuleCount(), loaded) << c.what;
    }
}

TEST_F(Modules, SaveAsRefusesAFolderAndAPlaceNothingCanBeWrittenAndTheModuleStaysWhereItWas) {
    const std::string path = binary("shelf", kShelf);
    const InterObj shelf = iModuleManager::LoadOne(path.c_str(), 0, 0);
    ::mkdir(dir_.file("folder.qbo").c_str(), 0755);
    // /proc takes no new files, whoever runs the test (root included).
    for (const auto& [target, reason] : {std::pair{dir_.file("folder.qbo"), std::string("it is a folder")},
                                         std::pair{std::string("/proc/shelf.qbo"), std::string("(")}}) {
        const std::string text = failure<StoreException>([&] { part(shelf).imSaveAs(target.c_str(), 0); });
        EXPECT_NE(text.find(target), std::string::npos) << text;
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        EXPECT_EQ(static_cast<const char*>(part(shelf).pdGetFileName()), path);
    }
}

// The program in main.qbo changes a field of another module's object and
// saves that module; it changes its own too, without saving it.
const char* const kEditor = R"(Begin Object Editor
  Dim Runs As Long
  Dim MM As New ModuleManager
  Sub Main()
    Dim other As Object
    Runs = Runs + 1
    other = MM.ModuleContaining(Shelf)
    Shelf.Count = 42
    Shelf.Items.Append Novel
    other.Save
  End Sub
End Object
)";

TEST_F(Modules, AProgramThatSavesAnotherModuleLeavesItsOwnAsItWas) {
    auto value = [](const char* object, const char* field) { return found(object)->eval(field)->as<int32_t>(); };
    if (IsFreshProcess()) {
        ObjectStore::LoadModule(FreshProcessArg("TQ_SHELF").c_str(), 0, 0);
        ObjectStore::LoadModule(FreshProcessArg("TQ_MAIN").c_str(), 0, 0);
        EXPECT_EQ(value("Shelf", "Count"), 42);
        ASSERT_NE(found("Novel"), nullptr) << "the clone was saved with the module";
        EXPECT_TRUE(found("Novel")->canBeTreatedAs(found("Shelf")));
        iGroup* items = iGroup::Of(found("Shelf.Items"));
        ASSERT_NE(items, nullptr);
        ASSERT_EQ(items->pdGetCount(), 1);
        EXPECT_EQ(items->imObjectAt(0).get(), found("Novel"));
        EXPECT_EQ(value("Editor", "Runs"), 0) << "the program's own module was not saved";
        return;
    }
    const std::string shelfPath = binary("shelf", kShelf);
    const std::string mainPath = binary("main", kEditor);
    const tModuleIndex shelf = ObjectStore::LoadModule(shelfPath.c_str(), 0, 0);
    ObjectStore::LoadModule(mainPath.c_str(), 0, 0);
    // A clone the host adds to the other module, which the program saves.
    InterObjRep::NewNamed("Novel", found("Shelf"), shelf, IOT_ORDINARY);
    runMain("Editor");
    EXPECT_EQ(value("Editor", "Runs"), 1);
    // Unloaded without saving, as a process that ends: the files are free
    // for the fresh one.
    TearDown();
    EXPECT_EQ(RunInFreshProcess({{"TQ_SHELF", shelfPath}, {"TQ_MAIN", mainPath}}), 0);
}

}  // namespace
}  // namespace tq
