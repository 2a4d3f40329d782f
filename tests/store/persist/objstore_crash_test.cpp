// Crash safety of SaveAll: a process killed at any block that its commits
// write, or whose writes fail, leaves every module file openable with either
// its old or its new content, never a mixture.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "store/errors/extexcep.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

constexpr int kModules = 3;

std::string Name(const char* what, int i) { return what + std::to_string(i); }
std::string OldNote(int i) { return std::string(3000, char('a' + i)); }
std::string NewNote(int i) { return std::string(9000, char('A' + i)); }

class SaveAllCrash : public ModuleStoreTest {
protected:
    // The old generation of every module: CounterI with N = 1 and a short
    // note. Each file is kept aside to be put back after a run.
    void SetUp() override {
        ModuleStoreTest::SetUp();
        for (int i = 0; i < kModules; ++i) {
            const tModuleIndex m = load(path(i));
            InterObj counter(named(Name("Counter", i).c_str(), m));
            addData(counter.get(), "N", IDT_LONG);
            addData(counter.get(), "Note", IDT_STRING);
            setLong(counter.get(), "N", 1);
            setText(counter.get(), "Note", OldNote(i).c_str());
        }
        ObjectStore::SaveAll();
        unloadAll();
        for (int i = 0; i < kModules; ++i) std::filesystem::copy_file(path(i), path(i) + ".old");
    }
    void TearDown() override {
        OCLStorage::SetWriteFaultHook(nullptr);
        ModuleStoreTest::TearDown();
    }

    std::string path(int i) const { return file("m" + std::to_string(i) + ".qbo"); }

    void restore() {
        for (int i = 0; i < kModules; ++i)
            std::filesystem::copy_file(path(i) + ".old", path(i), std::filesystem::copy_options::overwrite_existing);
    }

    static void unloadAll() {
        for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
             m = ObjectStore::NextValidIndex(DETACHED_MODULE))
            ObjectStore::UnloadModule(m);
    }

    // The new generation: N = 2, a longer note (its record moves), and a new
    // static object ExtraI.
    void change() {
        for (int i = 0; i < kModules; ++i) {
            const tModuleIndex m = load(path(i), 0);
            InterObjRep* counter = found(Name("Counter", i).c_str());
            setLong(counter, "N", 2);
            setText(counter, "Note", NewNote(i).c_str());
            InterObj extra(named(Name("Extra", i).c_str(), m));
        }
    }

    // The generation each file holds whole (1 old, 2 new), or 0 when it
    // does not open or mixes them.
    std::vector<int> generations() {
        std::vector<int> out;
        for (int i = 0; i < kModules; ++i) {
            int generation = 0;
            try {
                const tModuleIndex m = load(path(i), 0, 1);
                InterObjRep* counter = found(Name("Counter", i).c_str());
                const bool extra = found(Name("Extra", i).c_str()) != nullptr;
                if (counter) {
                    const int32_t n = getLong(counter, "N");
                    const std::string note = getText(counter, "Note");
                    if (n == 1 && note == OldNote(i) && !extra) generation = 1;
                    if (n == 2 && note == NewNote(i) && extra) generation = 2;
                }
                ObjectStore::UnloadModule(m);
            } catch (const std::exception& e) {
                ADD_FAILURE() << path(i) << ": " << e.what();
            }
            out.push_back(generation);
        }
        return out;
    }

    // How many blocks the commits of one SaveAll write.
    int blocksPerSaveAll() {
        const pid_t child = ::fork();
        if (child == 0) {
            change();
            int blocks = 0;
            OCLStorage::SetWriteFaultHook([&](uint64_t) { return ++blocks > 0; });
            ObjectStore::SaveAll();
            _exit(blocks);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(SaveAllCrash, AProcessKilledAtAnyBlockLeavesEachModuleOldOrNew) {
    const int blocks = blocksPerSaveAll();
    ASSERT_GT(blocks, kModules);
    ASSERT_LT(blocks, 255);
    restore();
    bool sawMixture = false;
    for (int k = 1; k <= blocks; ++k) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            change();
            int calls = 0;
            OCLStorage::SetWriteFaultHook([&](uint64_t) {
                if (++calls == k) ::raise(SIGKILL);
                return true;
            });
            try {
                ObjectStore::SaveAll();
            } catch (...) {
            }
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "block " << k;
        const std::vector<int> g = generations();
        for (int i = 0; i < kModules; ++i) EXPECT_NE(g[i], 0) << "module " << i << ", killed at block " << k;
        // Commits go in module order: a module is new only when those before it are.
        for (int i = 1; i < kModules; ++i) EXPECT_LE(g[i], g[i - 1]) << "killed at block " << k;
        sawMixture = sawMixture || (g.front() == 2 && g.back() == 1);
        restore();
    }
    EXPECT_TRUE(sawMixture) << "some kill fell between two modules' commits";
}

TEST_F(SaveAllCrash, AFailedWriteRaisesKeepsTheChangesAndTheNextSaveAllWritesThem) {
    change();
    int calls = 0;
    OCLStorage::SetWriteFaultHook([&](uint64_t) { return ++calls != 2; });
    try {
        ObjectStore::SaveAll();
        ADD_FAILURE() << "a failed write was reported as saved";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.name(), "ModuleSaveError");
        EXPECT_EQ(std::string(e.what()).rfind("Could not save module: " + path(0), 0), 0u) << e.what();
    }
    OCLStorage::SetWriteFaultHook(nullptr);
    for (int i = 0; i < kModules; ++i)
        EXPECT_EQ(StreamBytes(path(i), "Static globals"), StreamBytes(path(i) + ".old", "Static globals"));
    ObjectStore::SaveAll();
    unloadAll();
    EXPECT_EQ(generations(), (std::vector<int>{2, 2, 2}));
}

}  // namespace
}  // namespace tq::test
