// A program that saves two modules in a loop, killed with SIGKILL at random
// moments: every kill must leave each module file whole, either as one save
// left it or as the next one did, never torn and never going back.
//
// The program keeps three facts in each module that a torn file would break:
// two Longs that every save holds equal, and a String whose length follows
// them (its record changes size at every save, so the tables move). Each
// kill is followed by opening both files and checking those facts and that
// the count never went back.
//
// make test runs 100 kills (about five seconds). More by hand:
//   TQ_KILL_CAMPAIGN=2000 build-asan/tests/test_store_builtin --gtest_filter='SaveKill.*'
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>

#include "store/vals.h"
#include "tests/store/builtin/storetest.h"

namespace tq {
namespace {

const char* const kData = R"(Begin Object Tally
  Dim A As Long
  Dim B As Long
  Dim S As String
End Object
)";

// Saves its own module, then the other, forever; each save after the
// fields agree again.
const char* const kSaver = R"(Begin Object Saver
  Dim A As Long
  Dim B As Long
  Dim S As String
  Dim MM As New ModuleManager
  Sub Main()
    Dim own As Object, other As Object
    own = MM.ModuleContaining(Me)
    other = MM.ModuleContaining(Tally)
    Do
      A = A + 1
      S = String(A Mod 300, "s")
      B = A
      own.Save
      Tally.A = A
      Tally.S = String(A Mod 300, "t")
      Tally.B = A
      other.Save
    Loop
  End Sub
End Object
)";

// Which file the path names and when it last changed: a commit either
// renames a new file over the path or writes the file in place.
std::tuple<ino_t, time_t, long, off_t> Stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_size};
}

// A commit in place is done once its journal is gone.
bool Committed(const std::string& path, const std::tuple<ino_t, time_t, long, off_t>& before) {
    struct stat st {};
    return Stamp(path) != before && ::stat((path + "-journal").c_str(), &st) != 0;
}

int Campaign() {
    const char* n = std::getenv("TQ_KILL_CAMPAIGN");
    return n && std::atoi(n) > 0 ? std::atoi(n) : 100;
}

class SaveKill : public StoreTest {
protected:
    // What one module file holds now: its count, after checking that the
    // save that wrote it was whole.
    static int32_t check(const std::string& path, const char* object, char fill) {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 1);
        InterObjRep* o = found(object);
        EXPECT_NE(o, nullptr) << path;
        if (!o) return -1;
        const int32_t a = o->eval("A")->as<int32_t>();
        EXPECT_EQ(o->eval("B")->as<int32_t>(), a) << path << ": the two Longs of one save disagree";
        const std::string s = static_cast<const char*>(o->eval("S")->as<ValString>());
        EXPECT_EQ(s, std::string(static_cast<size_t>(a % 300), fill)) << path << ": the String is not the save's";
        ObjectStore::UnloadModule(m);
        return a;
    }
};

TEST_F(SaveKill, EveryKillLeavesEachModuleAsOneSaveOrTheNextLeftIt) {
    const std::string data = binary("data", kData);
    const std::string main = binary("main", kSaver);
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> delayMs(0, 30);
    int32_t lastMain = 0, lastData = 0;
    int progressed = 0;
    const int kills = Campaign();
    for (int i = 0; i < kills; ++i) {
        std::fflush(nullptr);
        const auto before = Stamp(main);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                ObjectStore::LoadModule(data.c_str(), 0, 0);
                ObjectStore::LoadModule(main.c_str(), 0, 0);
                int handled = 0;
                found("Saver")->evalIMember("Main", nullptr, &handled);
            } catch (...) {
            }
            ::_exit(3);
        }
        // The kill comes while the loop runs: after the program's first
        // commit, whenever the child took to start.
        for (int waited = 0; waited < 10000 && !Committed(main, before); ++waited) ::usleep(1000);
        ::usleep(static_cast<useconds_t>(delayMs(random)) * 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving program ended by itself (status " << status << ")";

        const int32_t m = check(main, "Saver", 's');
        const int32_t d = check(data, "Tally", 't');
        if (HasFailure()) FAIL() << "after kill " << i + 1;
        EXPECT_GE(m, lastMain) << "the program's module went back";
        EXPECT_GE(d, lastData) << "the other module went back";
        // The other module is saved after the program's own, from the same
        // count: it is never ahead of it.
        EXPECT_LE(d, m);
        if (m > lastMain) ++progressed;
        EXPECT_GT(m, lastMain) << "the program committed before the kill, yet its module shows no new save";
        lastMain = m;
        lastData = d;
    }
    std::printf("%d kills, each after a new save; the program's module reached save %d\n", kills,
                static_cast<int>(lastMain));
    EXPECT_EQ(progressed, kills);
}

}  // namespace
}  // namespace tq
