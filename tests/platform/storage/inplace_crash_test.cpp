// A process killed (SIGKILL) at any point of an in-place commit, or of the
// rollback of the journal such a kill leaves, leaves the module file wholly
// old or wholly new once opened again, and readable by an independent reader.
//
// Four kinds of kill take turns: at each write the commit makes (the journal,
// then each run of sectors: the second is the moment between the journal's
// flush and the first write in place), at each step the file-system hooks
// see (writes, flushes of the file and the folder), at a random moment of a
// process that commits in a loop, and at each step of the rollback of a hot
// journal that an earlier kill left. make test runs 150 kills; more by hand:
//   TQ_KILL_CAMPAIGN=1000 build-asan/tests/test_platform_storage --gtest_filter='InPlaceCrash*'
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string_view>
#include <thread>

#include "platform/storage/fshooks.h"
#include "platform/storage/journal.h"
#include "tests/platform/storage/oledump.h"
#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;
using Streams = std::map<std::string, Bytes>;

// Generation g of a module. From one generation to the next a window of a
// large stream moves, the large stream and a small one change size (the
// small one crossing the mini-stream cutoff every other time), and a byte of
// two small ones follows g: a torn file mixes them, and shows.
Streams Generation(uint32_t g) {
    Streams s;
    Bytes objects = test::Pattern(200000 + (g % 5) * 700, 1);
    const Bytes window = test::Pattern(300, g + 100);
    std::copy(window.begin(), window.end(), objects.begin() + (g * 7919) % 150000);
    s["Objects"] = std::move(objects);
    s["IdStrings"] = test::Pattern(2000 + (g % 4) * 1500, 2);
    s["IdStrings"][0] = static_cast<uint8_t>(g);
    s["Module version"] = test::Pattern(60, 3);
    s["Module version"][0] = static_cast<uint8_t>(g);
    s["Gen"] = Bytes{static_cast<uint8_t>(g), static_cast<uint8_t>(g >> 8), 0, 0};
    return s;
}

// The generation the file holds; a test failure when it holds no whole one.
// Opening it rolls back a journal a kill left.
uint32_t GenerationOf(const std::string& file) {
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    OCLStream gen(s, "Gen", 0, test::kStreamMode);
    const uint32_t g = gen.readU32();
    Streams found;
    for (const std::string& name : s.streamNames()) found[name] = test::GetStream(s, name);
    EXPECT_EQ(found, Generation(g)) << "the file holds a torn generation " << g;
    s.verifyChecksums();
    return g;
}

// Opens the module, writes the next generation and commits, once or for
// ever; `before` runs just before each commit.
void CommitNext(const std::string& file, bool forever, const std::function<void()>& before) {
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    OCLStream gen(s, "Gen", 0, test::kStreamMode);
    uint32_t g = gen.readU32();
    do {
        for (const auto& [name, bytes] : Generation(++g)) test::PutStream(s, name, bytes);
        before();
        s.Commit();
    } while (forever);
}

// Kills the process at the k-th step the file-system hooks see.
struct KillAtStep : FileSystemHooks {
    int left;
    explicit KillAtStep(int k) : left(k) {}
    void step() {
        if (--left == 0) ::raise(SIGKILL);
    }
    void wrote(int) override { step(); }
    void flushedFile(int) override { step(); }
    void flushedFolder(const std::string&) override { step(); }
};

// Runs `body` in a child process; true when the child was killed, false
// when it ended on its own (and then ended well).
bool KilledIn(const std::function<void()>& body, const std::function<void(pid_t)>& parent = {}) {
    const pid_t child = ::fork();
    if (child == 0) {
        OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kAlways);
        try {
            body();
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return false;
    }
    if (parent) parent(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        return true;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed";
    return false;
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

int CampaignKills() {
    const char* n = std::getenv("TQ_KILL_CAMPAIGN");
    return n && std::atoi(n) > 0 ? std::atoi(n) : 150;
}

TEST(InPlaceCrashTest, KillsAnywhereInACommitOrItsRollbackLeaveOldOrNewAndOlefileReadsIt) {
    test::ScratchDir scratch;
    const std::string file = scratch.path("m.qbo");
    {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        for (const auto& [name, bytes] : Generation(0)) test::PutStream(s, name, bytes);
        s.Commit();
    }
    // The writes and steps of one commit, counted on a copy (later commits
    // have about as many; a point past the end lets the commit finish).
    int writes = 0, steps = 0;
    {
        const std::string copy = scratch.path("count.qbo");
        test::WriteFile(copy, test::ReadFile(file));
        struct Counter : FileSystemHooks {
            int* n;
            explicit Counter(int* c) : n(c) {}
            void wrote(int) override { ++*n; }
            void flushedFile(int) override { ++*n; }
            void flushedFolder(const std::string&) override { ++*n; }
        } counter(&steps);
        OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kAlways);
        CommitNext(copy, false, [&] {
            OCLStorage::SetWriteFaultHook([&](uint64_t) { return ++writes > 0; });
            SetFileSystemHooks(&counter);
        });
        SetFileSystemHooks(nullptr);
        OCLStorage::SetWriteFaultHook(nullptr);
        OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kWhenSmaller);
        ::unlink(copy.c_str());
    }
    ASSERT_GE(writes, 3) << "the journal and the runs of sectors";
    ASSERT_GE(steps, 6);

    const ino_t inode = InodeOf(file);
    const int target = CampaignKills();
    std::mt19937 random(42);
    std::map<int, int> killsOfKind;
    // Each distinct image of the file once, kept for olefile with the
    // generation it holds.
    std::set<size_t> images;
    std::vector<std::string> files;
    std::vector<uint32_t> generations;
    uint32_t last = 0;
    int kills = 0;
    for (int trial = 0; kills < target && trial < 4 * target; ++trial) {
        const int kind = trial % 4;
        const int turn = trial / 4;
        bool killed = false;
        switch (kind) {
            case 0:  // at the k-th write: the journal, then each run
                killed = KilledIn([&] {
                    CommitNext(file, false, [&] {
                        int calls = 0;
                        OCLStorage::SetWriteFaultHook([=](uint64_t) mutable {
                            if (++calls == turn % writes + 1) ::raise(SIGKILL);
                            return true;
                        });
                    });
                });
                break;
            case 1:  // at the k-th step the hooks see
                killed = KilledIn([&] {
                    KillAtStep killer(turn % (steps + 1) + 1);
                    CommitNext(file, false, [&] { SetFileSystemHooks(&killer); });
                });
                break;
            case 2:  // at a random moment of commits in a loop
                killed = KilledIn([&] { CommitNext(file, true, [] {}); },
                                  [&](pid_t child) {
                                      // Now and then long enough for commits to finish.
                                      const auto pause = turn % 3 == 0 ? 400000 : random() % 40000 + 500;
                                      std::this_thread::sleep_for(std::chrono::microseconds(pause));
                                      ::kill(child, SIGKILL);
                                  });
                break;
            case 3: {  // during the rollback of a journal a kill left hot
                // Killed after its last write in place, before the journal goes.
                const bool hot = KilledIn([&] {
                    KillAtStep killer(steps - 2);
                    CommitNext(file, false, [&] { SetFileSystemHooks(&killer); });
                });
                if (hot) ++kills;
                if (!hot || !HasJournal(file)) break;
                killed = KilledIn([&] {
                    KillAtStep killer(turn % 5 + 1);
                    SetFileSystemHooks(&killer);
                    OCLStorage s(file.c_str(), 0, test::kModuleMode);
                });
                break;
            }
        }
        if (killed) {
            ++kills;
            ++killsOfKind[kind];
        }
        const uint32_t g = GenerationOf(file);
        EXPECT_FALSE(HasJournal(file));
        EXPECT_EQ(InodeOf(file), inode) << "a commit wrote a whole file, trial " << trial;
        EXPECT_GE(g, last) << "a generation went back, trial " << trial;
        last = g;
        const Bytes bytes = test::ReadFile(file);
        const size_t key = std::hash<std::string_view>{}(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (images.insert(key).second) {
            files.push_back(scratch.path("image" + std::to_string(files.size()) + ".qbo"));
            generations.push_back(g);
            test::WriteFile(files.back(), bytes);
        }
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GE(kills, target);
    for (int kind = 0; kind < 4; ++kind) EXPECT_GT(killsOfKind[kind], 0) << "kind " << kind;
    EXPECT_GT(last, 10u) << "few commits ever completed";

    const std::vector<test::OleDump> dumps = test::DumpAllWithOlefile(files);
    ASSERT_EQ(dumps.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(dumps[i].streams, Generation(generations[i])) << files[i];
        EXPECT_EQ(dumps[i].checksums, "sound") << files[i];
    }
}

}  // namespace
}  // namespace tq
