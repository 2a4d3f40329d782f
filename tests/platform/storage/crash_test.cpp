// A commit that dies (SIGKILL at any moment) or whose writes fail leaves the
// module file with exactly its old or its new committed content.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <random>
#include <thread>

#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;

// Generation g of a module: every stream's bytes depend on g, so a file that
// mixed two generations, or lost a stream, is caught.
std::map<std::string, Bytes> Generation(uint32_t g) {
    return {{"Module version", test::Pattern(50, g)},
            {"Objects", test::Pattern(300000, g + 1000)},
            {"IdStrings", test::Pattern(3000, g + 2000)},
            {"Gen", Bytes{static_cast<uint8_t>(g), static_cast<uint8_t>(g >> 8), 0, 0}}};
}

void WriteGeneration(OCLStorage& storage, uint32_t g) {
    for (const auto& [name, bytes] : Generation(g)) test::PutStream(storage, name, bytes);
}

// The generation the file holds; a test failure when it holds no whole one.
uint32_t GenerationOf(const std::string& file) {
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    OCLStream gen(s, "Gen", 0, test::kStreamMode);
    const uint32_t g = gen.readU32();
    std::map<std::string, Bytes> found;
    for (const std::string& name : s.streamNames()) found[name] = test::GetStream(s, name);
    EXPECT_EQ(found, Generation(g)) << "the file holds a torn generation " << g;
    return g;
}

class CommitCrashTest : public ::testing::Test {
protected:
    void SetUp() override {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        WriteGeneration(s, 0);
        s.Commit();
    }
    void TearDown() override { OCLStorage::SetWriteFaultHook(nullptr); }

    // How many blocks a commit of the next generation writes, counted on a
    // copy of the module.
    int blocksPerCommit() {
        const std::string copy = scratch.path("count.qbo");
        test::WriteFile(copy, test::ReadFile(file));
        int blocks = 0;
        {
            OCLStorage s(copy.c_str(), 0, test::kModuleMode);
            WriteGeneration(s, 1);
            OCLStorage::SetWriteFaultHook([&](uint64_t) { return ++blocks > 0; });
            s.Commit();
            OCLStorage::SetWriteFaultHook(nullptr);
        }
        ::unlink(copy.c_str());
        return blocks;
    }

    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
};

TEST_F(CommitCrashTest, AProcessKilledAtAnyBlockOfACommitLeavesTheOldContent) {
    const int blocks = blocksPerCommit();
    ASSERT_GT(blocks, 3);
    for (int k = 1; k <= blocks; ++k) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                OCLStorage s(file.c_str(), 0, test::kModuleMode);
                WriteGeneration(s, 1);
                int calls = 0;
                OCLStorage::SetWriteFaultHook([&](uint64_t) {
                    if (++calls == k) ::raise(SIGKILL);
                    return true;
                });
                s.Commit();
            } catch (...) {
            }
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "block " << k;
        EXPECT_EQ(GenerationOf(file), 0u) << "killed at block " << k;
    }
    // The dead writers' half-written files are removed by the next writer.
    EXPECT_GT(scratch.files().size(), 1u);
    { OCLStorage s(file.c_str(), 0, test::kModuleMode); }
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"m.qbo"});
}

// Kills at random moments land anywhere in a commit: in the writes, the
// flushes, the rename. Each time the file holds one whole generation.
TEST_F(CommitCrashTest, AProcessKilledAtRandomMomentsLeavesTheOldOrTheNewContent) {
    std::mt19937 random(7);
    uint32_t last = 0;
    for (int trial = 0; trial < 12; ++trial) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            try {
                OCLStorage s(file.c_str(), 0, test::kModuleMode);
                OCLStream gen(s, "Gen", 0, test::kStreamMode);
                uint32_t g = gen.readU32();
                if (::write(ready[1], "r", 1) != 1) _exit(2);
                for (;;) {
                    WriteGeneration(s, ++g);
                    s.Commit();
                }
            } catch (...) {
            }
            _exit(3);
        }
        ::close(ready[1]);
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ::close(ready[0]);
        // The last child runs long enough to finish commits on a loaded machine.
        const auto pause = trial == 11 ? 300000 : random() % 40000 + 1000;
        std::this_thread::sleep_for(std::chrono::microseconds(pause));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the committing child ended on its own";
        const uint32_t g = GenerationOf(file);
        EXPECT_GE(g, last);
        last = g;
    }
    EXPECT_GT(last, 0u) << "no commit ever completed";
}

TEST_F(CommitCrashTest, AFailedWriteReportsAnErrorAndLeavesTheFileAsItWas) {
    const int blocks = blocksPerCommit();
    const Bytes before = test::ReadFile(file);
    for (int k = 1; k <= blocks; ++k) {
        SCOPED_TRACE("failing block " + std::to_string(k));
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        WriteGeneration(s, 1);
        int calls = 0;
        OCLStorage::SetWriteFaultHook([&](uint64_t) { return ++calls != k; });
        try {
            s.Commit();
            ADD_FAILURE() << "the commit reported success";
        } catch (const StorageError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(file), std::string::npos) << text;
            EXPECT_NE(text.find("write failed"), std::string::npos) << text;
        }
        OCLStorage::SetWriteFaultHook(nullptr);
        EXPECT_EQ(test::ReadFile(file), before);
        EXPECT_EQ(scratch.files(), std::vector<std::string>{"m.qbo"});
        // The changes are still pending and commit once the disk recovers.
        EXPECT_EQ(test::GetStream(s, "Objects"), Generation(1)["Objects"]);
        s.Revert();
        EXPECT_EQ(test::GetStream(s, "Objects"), Generation(0)["Objects"]);
    }
    {
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        WriteGeneration(s, 1);
        s.Commit();
    }
    EXPECT_EQ(GenerationOf(file), 1u);
}

}  // namespace
}  // namespace tq
