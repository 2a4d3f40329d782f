// Project and ProjectManager: the project file written and read back,
// files that are no project files, opening and closing with modules two
// projects share, the module that holds the project, the search path that
// follows a project's modules, and the project saved with its module.
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "store/builtin/iobjstor.h"
#include "store/builtin/iproject.h"
#include "store/vals.h"
#include "tests/store/builtin/storetest.h"

namespace tq {
namespace {

// The user's search path, kept in a scratch folder for the test's life.
class ScratchEnvironment {
public:
    explicit ScratchEnvironment(const std::string& folder) {
        for (const char* name : {"XDG_CONFIG_HOME", "TESSARO_PATH"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ::setenv("TESSARO_PATH", "", 1);
    }
    ~ScratchEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class Projects : public StoreTest {
protected:
    void TearDown() override {
        StoreTest::TearDown();
        iProjectManager::OpenProjects();
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static iProject& project(const char* name) {
        iProject* p = iProject::Of(found(name));
        if (!p) throw std::runtime_error(std::string(name) + " is no project");
        return *p;
    }
    static std::string text(const ValString& v) { return static_cast<const char*>(v); }

    ScratchEnvironment env_{dir_.path()};
};

std::string Holder(const char* project, const char* extra = "") {
    return std::string("Begin Object ") + project + " From Project\n  Dim Opened As Long\n" +
           "  Sub Open()\n    Opened = Opened + 1\n  End Sub\nEnd Object\n" + extra;
}

const char* const kPlain = "Begin Object Plain\n  Dim N As Long\nEnd Object\n";

TEST_F(Projects, AProjectFileWrittenAndReadBackGivesTheSameProject) {
    write("a.tqs", Holder("Proj"));
    write("b.tqs", kPlain);
    ObjectStore::LoadModule(dir_.file("a.tqs").c_str(), 0, 0);
    iProject& p = project("Proj");
    p.pdSetModulePath("a.tqs;b.tqs");
    p.pdSetProjectFileName(dir_.file("demo.tqp").c_str());
    EXPECT_EQ(p.pdGetProjectFileExists(), 0);
    p.imWriteProjectFile();
    EXPECT_EQ(read(dir_.file("demo.tqp")), "Proj\na.tqs\nb.tqs\n");
    EXPECT_EQ(p.pdGetProjectFileMatchesMe(), -1);
    EXPECT_EQ(text(p.pdGetProjectDirectory()), dir_.path()) << "the folder of the project file, while closed";
    TearDown();

    const InterObj opened = iProjectManager::OpenProjectFile(dir_.file("demo.tqp").c_str());
    ASSERT_EQ(opened.get(), found("Proj"));
    iProject& q = project("Proj");
    EXPECT_EQ(q.pdGetIsOpen(), -1);
    EXPECT_EQ(text(q.pdGetModulePath()), "a.tqs;b.tqs");
    EXPECT_EQ(text(q.pdGetProjectFileName()), dir_.file("demo.tqp"));
    EXPECT_EQ(q.pdGetProjectFileMatchesMe(), -1);
    EXPECT_EQ(q.pdGetModuleCount(), 2);
    EXPECT_EQ(q.pdGetCurrentIndex(), 1) << "the last module, when none was chosen";
    EXPECT_EQ(q.pdGetIsCurrent(), -1);
    EXPECT_EQ(iObjectModule::Of(q.pdGetCurrentModule().get())->selector(), ObjectStore::OpenModule());
    EXPECT_EQ(found("Proj")->eval("Opened")->as<int32_t>(), 1) << "the event Open was raised once";
    EXPECT_EQ(text(q.pdGetProjectDirectory()), dir_.path());
}

TEST_F(Projects, AFileThatIsNoProjectFileIsRefusedWithItsLineAndNothingIsLoaded) {
    write("b.tqs", kPlain);
    const std::string longName(300, 'm');
    struct Case {
        const char* what;
        std::string contents;
        std::string says;
    } cases[] = {
        {"a line over 255 characters", "Proj\n" + std::string(256, 'a') + "\n", "line 2: longer than 255"},
        {"a control character", "Proj\nb.tqs\x01\n", "line 2: not text"},
        {"a NUL byte", std::string("Proj\nb.tqs\0x\n", 12), "line 2: not text"},
        {"an entry holding the separator", "Proj\nb.tqs;c.tqs\n", "line 2: a module entry holds ';'"},
        {"a module path longer than the system allows", "Proj\n" + std::string(245, 'p') + ".qbo\n",
         "line 2: the module path is longer than 259"},
        {"a first line that names no object", "not a name\nb.tqs\n", "line 1: 'not a name' is no object name"},
    };
    for (const Case& c : cases) {
        const std::string path = write("bad.tqp", c.contents);
        const std::string got = failure([&] { iProjectManager::OpenProjectFile(path.c_str()); });
        EXPECT_NE(got.find(path), std::string::npos) << c.what << ": " << got;
        EXPECT_NE(got.find(c.says), std::string::npos) << c.what << ": " << got;
        EXPECT_EQ(ObjectStore::ModuleCount(), 0) << c.what;
    }
    EXPECT_NE(failure([&] { iProjectManager::OpenProjectFile(dir_.file("none.tqp").c_str()); })
                  .find("No such file"),
              std::string::npos);
    EXPECT_NE(failure([&] { iProjectManager::OpenProjectFile(dir_.path().c_str()); }).find("it is not a file"),
              std::string::npos);
    // A file whose modules hold no project of its name loads nothing either.
    const std::string path = write("other.tqp", "Nobody\nb.tqs\n");
    EXPECT_NE(failure([&] { iProjectManager::OpenProjectFile(path.c_str()); }).find("no Project named 'Nobody'"),
              std::string::npos);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

TEST_F(Projects, ClosingTheCurrentProjectKeepsWhatAnotherHoldsAndMakesTheLastCurrent) {
    write("a.tqs", Holder("First"));
    write("b.tqs", Holder("Second"));
    write("shared.tqs", kPlain);
    write("first.tqp", "First\na.tqs\nshared.tqs\n");
    write("second.tqp", "Second\nb.tqs\nshared.tqs\n");
    iProjectManager::OpenProjectFile(dir_.file("first.tqp").c_str());
    iProjectManager::OpenProjectFile(dir_.file("second.tqp").c_str());
    ASSERT_EQ(iProjectManager::OpenProjects().length(), 2u);
    EXPECT_EQ(iProjectManager::CurrentProject(), found("Second"));
    EXPECT_EQ(ObjectStore::ModuleCount(), 3) << "the shared module is loaded once";

    const tModuleIndex second = found("Second")->moduleIndex();
    InterObj manager(iProjectManager::PO_GetObject());
    static_cast<iProjectManager*>(manager->compiledPart())->imCloseCurrentProject();
    EXPECT_FALSE(ObjectStore::ValidIndex(second)) << "the closed project's own module went";
    ASSERT_NE(found("Plain"), nullptr) << "the module the other project holds stayed";
    EXPECT_EQ(iProjectManager::OpenProjects().length(), 1u);
    EXPECT_EQ(iProjectManager::CurrentProjectIndex(), 0) << "the new last project is current";
    EXPECT_EQ(iProjectManager::CurrentProject(), found("First"));
}

TEST_F(Projects, ClosingAProjectUnloadsModulesThatBuildOnEachOtherTogether) {
    // The first module's object derives from the last's prototype: neither
    // goes alone, both go together, in any order.
    // Binary modules: a list of them resolves after all are in, whatever
    // their order.
    const tModuleIndex a =
        ObjectStore::LoadModule(write("a.tqs", Holder("Proj", "Begin Object Base\n  Dim N As Long\nEnd Object\n")).c_str(), 0, 0);
    const tModuleIndex kid = ObjectStore::LoadModule(write("kid.tqs", "Begin Object Kid From Base\nEnd Object\n").c_str(), 0, 0);
    ObjectStore::SaveAs(a, dir_.file("a.qbo").c_str(), 0);
    ObjectStore::SaveAs(kid, dir_.file("kid.qbo").c_str(), 0);
    TearDown();
    write("p.tqp", "Proj\nkid.qbo\na.qbo\n");
    iProjectManager::OpenProjectFile(dir_.file("p.tqp").c_str());
    ASSERT_EQ(ObjectStore::ModuleCount(), 2);
    const InterObj base = project("Proj").imModule(1);
    EXPECT_EQ(iObjectModule::Of(base.get())->pdGetCanUnload(), 0) << "alone, it cannot go";
    const InterObj manager(iProjectManager::PO_GetObject());
    static_cast<iProjectManager*>(manager->compiledPart())->imCloseCurrentProject();
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    EXPECT_EQ(iProjectManager::OpenProjects().length(), 0u);
    EXPECT_EQ(iProjectManager::CurrentProjectIndex(), -1);
}

TEST_F(Projects, TheModuleHoldingTheProjectStaysAndAnotherGoesWithItsPath) {
    write("a.tqs", Holder("Proj"));
    write("b.tqs", kPlain);
    write("p.tqp", "Proj\na.tqs\nb.tqs\n");
    iProjectManager::OpenProjectFile(dir_.file("p.tqp").c_str());
    iProject& p = project("Proj");
    const InterObj a = p.imModule(0), b = p.imModule(1);
    EXPECT_EQ(failure([&] { p.imRemoveModule(&a); }), "Can't remove module containing project.");
    EXPECT_EQ(p.pdGetModuleCount(), 2);
    const tModuleIndex bIndex = iObjectModule::Of(b.get())->selector();
    p.imRemoveModule(&b);
    EXPECT_FALSE(ObjectStore::ValidIndex(bIndex)) << "a module no open project holds is unloaded";
    EXPECT_EQ(p.pdGetModuleCount(), 1);
    EXPECT_EQ(text(p.pdGetModulePath()), "a.tqs");
}

TEST_F(Projects, AModuleFromAnotherFolderPutsThatFolderOnTheSearchPath) {
    write("a.tqs", Holder("Proj"));
    write("p.tqp", "Proj\na.tqs\n");
    iProjectManager::OpenProjectFile(dir_.file("p.tqp").c_str());
    ScratchDir elsewhere;
    std::ofstream(elsewhere.file("far.tqs")) << kPlain;
    const InterObj far = iModuleManager::LoadOne(elsewhere.file("far.tqs").c_str(), 0, 0);
    iProject& p = project("Proj");
    EXPECT_EQ(p.imInsertModule(&far, 0), 0);
    // Both modules are named by full paths until their folders are on it.
    const RegistryEnvPathString search("TESSARO_PATH");
    EXPECT_TRUE(search.contains(elsewhere.path())) << search.text();
    EXPECT_TRUE(search.contains(dir_.path())) << search.text();
    std::string saved;
    ASSERT_TRUE(RegistryEnvPathString::SavedValue("TESSARO_PATH", saved));
    EXPECT_EQ(saved, search.text()) << "the user's environment file keeps it";
    // The module is found by its file name now, so the path names it so.
    EXPECT_EQ(text(p.pdGetModulePath()).substr(0, 8), "far.tqs;");
    EXPECT_EQ(p.pdGetModulePathCount(), 2);
}

TEST_F(Projects, AProjectSavedWithItsModuleComesBackInAFreshProcess) {
    if (IsFreshProcess()) {
        ObjectStore::LoadModule(FreshProcessArg("TQ_MODULE").c_str(), 0, 1);
        iProject& p = project("Proj");
        EXPECT_EQ(text(p.pdGetModulePath()), "one.qbo;two.qbo;three.qbo");
        EXPECT_EQ(text(p.pdGetProjectFileName()), "/somewhere/p.tqp");
        EXPECT_EQ(p.pdGetCurrentIndex(), 2);
        EXPECT_EQ(p.pdGetIsOpen(), 0) << "a project is opened, never loaded open";
        return;
    }
    const tModuleIndex m = ObjectStore::LoadModule(write("a.tqs", Holder("Proj")).c_str(), 0, 0);
    iProject& p = project("Proj");
    p.pdSetModulePath("one.qbo;two.qbo;three.qbo");
    p.pdSetProjectFileName("/somewhere/p.tqp");
    p.pdSetCurrentIndex(2);
    ObjectStore::SaveAs(m, dir_.file("a.qbo").c_str(), 0);
    TearDown();
    EXPECT_EQ(RunInFreshProcess({{"TQ_MODULE", dir_.file("a.qbo")}}), 0);
}

}  // namespace
}  // namespace tq
