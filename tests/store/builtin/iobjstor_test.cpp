// ObjectModule and ModuleManager: module objects that follow the store
// (also when a slot is reused), the refusals to unload and their texts,
// saving from a program (read-only modules, another module's edits seen by
// a fresh process), and loads that must fail cleanly.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "store/builtin/igroup.h"
#include "store/builtin/iobjstor.h"
#include "store/builtin/iproject.h"
#include "store/errors/extexcep.h"
#include "store/interp/regform.h"
#include "store/vals.h"
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

// What a refusal could leave behind: the store's lock state, another
// current module, a file (a temporary, a journal, a half-made target) or an
// open descriptor.
struct Leftovers {
    LockStateType lock = ObjectStore::LockState();
    tModuleIndex current = ObjectStore::OpenModule();
    int modules = ObjectStore::ModuleCount();
    std::set<std::string> files;
    size_t descriptors = 0;

    explicit Leftovers(const std::string& dir) {
        for (const auto& e : std::filesystem::directory_iterator(dir)) files.insert(e.path().filename().string());
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++descriptors;
    }
    bool operator==(const Leftovers&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Leftovers& l) {
    out << "lock " << int(l.lock) << ", current " << int(l.current) << ", " << l.modules << " modules, "
        << l.descriptors << " descriptors, files:";
    for (const std::string& f : l.files) out << " " << f;
    return out;
}

TEST_F(Modules, EveryRefusalLeavesNoModuleLockedAndNothingBehind) {
    const std::string path = binary("shelf", kShelf);
    const InterObj shelf = iModuleManager::LoadOne(path.c_str(), 0, 0);
    const std::string other = binary("other", kBook);
    const InterObj readOnly = iModuleManager::LoadOne(other.c_str(), 0, 1);
    const std::string garbage = write("garbage.qbo", std::string(4096, 'g'));
    const std::string lockedFile = write("locked.qbo", "old");
    ::chmod(lockedFile.c_str(), 0444);
    ::mkdir(dir_.file("folder.qbo").c_str(), 0755);
    const std::string project = write("odd.tqp", "Proj\nshelf.qbo\nnot a module line\x01\n");
    std::string deep = dir_.path();
    while (deep.size() < 5000) deep += "/deeper";
    const std::string tooLong = deep + "/m.qbo";

    const struct {
        const char* what;
        std::function<void()> refused;
        std::string says;
    } cases[] = {
        {"loading a text that is no module", [&] { iModuleManager::LoadOne(garbage.c_str(), 0, 0); },
         garbage + " (" + garbage + ":1:1: "},
        {"loading a module loaded already", [&] { iModuleManager::LoadOne(path.c_str(), 0, 0); }, "loaded already"},
        {"loading a missing file", [&] { iModuleManager::LoadOne(dir_.file("none.qbo").c_str(), 0, 0); },
         "none.qbo"},
        {"loading a path longer than the system allows", [&] { iModuleManager::LoadOne(tooLong.c_str(), 0, 0); },
         "deeper"},
        {"loading a list with such a path",
         [&] { iModuleManager::LoadModules((other + ";" + tooLong).c_str(), 1, nullptr); }, "deeper"},
        {"a project file with a line that is no module", [&] { iProjectManager::OpenProjectFile(project.c_str()); },
         "line 3"},
        {"saving a module opened read-only", [&] { part(readOnly).imSave(); }, "read-only"},
        {"saving as a folder", [&] { part(shelf).imSaveAs(dir_.file("folder.qbo").c_str(), 0); }, "it is a folder"},
        {"saving as a read-only file", [&] { part(shelf).imSaveAs(lockedFile.c_str(), 0); }, "the file is read-only"},
        {"saving where nothing can be written", [&] { part(shelf).imSaveAs("/proc/shelf.qbo", 0); },
         "/proc/shelf.qbo"},
        {"saving as a path longer than the system allows", [&] { part(shelf).imSaveAs(tooLong.c_str(), 0); },
         "too long"},
        {"unloading a module another builds on", [&] { part(shelf).imUnload(); }, "in use"},
    };
    const Leftovers before(dir_.path());
    ASSERT_EQ(before.lock, LOCK_NORMAL);
    for (const auto& c : cases) {
        const std::string text = failure([&] { c.refused(); });
        EXPECT_NE(text.find(c.says), std::string::npos) << c.what << ": " << text;
        EXPECT_EQ(Leftovers(dir_.path()), before) << c.what;
    }

    // Both modules are as free as before: the writable one saves, the other
    // unloads, and then the first unloads too.
    found("Shelf")->eval("Count")->set(int32_t{7});
    part(shelf).imSave();
    part(readOnly).imUnload();
    part(shelf).imUnload();
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    std::string kept;
    std::ifstream(lockedFile) >> kept;
    EXPECT_EQ(kept, "old") << "the read-only file was not replaced";
    iModuleManager::LoadOne(path.c_str(), 0, 1);
    EXPECT_EQ(found("Shelf")->eval("Count")->as<int32_t>(), 7);
}

// A procedure holds an object of another module in a local and unloads
// that module: the unload goes on (the module's code is not running), and
// the local then reads as no object, on both forms, never as freed memory.
const char* const kHolder = R"(Begin Object Holder
  Dim MM As New ModuleManager
  Dim Seen As String
  Sub Main()
    Dim o As Object
    o = Shelf
    Seen = "count " & o.Count
    MM.ModuleContaining(Shelf).Unload
    Try
      Seen = Seen & ", then count " & o.Count
    Catch
      Seen = Seen & ", then gone"
    End Try
  End Sub
End Object
)";

TEST_F(Modules, ALocalHoldingAnObjectOfAnUnloadedModuleReadsAsNoObject) {
    const std::string shelfPath = binary("shelf", kShelf);
    write("holder.tqs", kHolder);
    for (bool registerForm : {false, true}) {
        RegisterForm::SetEnabled(registerForm);
        const InterObj shelf = iModuleManager::LoadOne(shelfPath.c_str(), 0, 0);
        const InterObj holder = iModuleManager::LoadOne(dir_.file("holder.tqs").c_str(), 0, 0);
        runMain("Holder");
        EXPECT_EQ(static_cast<const char*>(found("Holder")->eval("Seen")->as<ValString>()),
                  std::string("count 0, then gone"))
            << (registerForm ? "register form" : "tree walker");
        EXPECT_EQ(found("Shelf"), nullptr) << "the module went";
        TearDown();
    }
    RegisterForm::SetEnabled(true);
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
