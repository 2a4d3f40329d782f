// The rollback journal: its bytes, and what an open does with a journal that
// a commit cut short left beside a module file.
#include "platform/storage/journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>

#include "platform/storage/fileops.h"
#include "platform/storage/fshooks.h"
#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;

Journal SampleJournal() {
    Journal j;
    j.fileSize = 123456789012ull;
    j.device = 0x0102030405060708ull;
    j.inode = 42;
    j.records.push_back({512, test::Pattern(512, 1)});
    j.records.push_back({1ull << 33, test::Pattern(7, 2)});
    return j;
}

TEST(JournalFormatTest, ItsBytesAreDrawnAsDocumentedAndReadBack) {
    const Bytes bytes = EncodeJournal(SampleJournal());
    ASSERT_EQ(bytes.size(), 40u + (12 + 512 + 4) + (12 + 7 + 4));
    const Bytes head = {'T', 'Q', 'J', 'R', 1, 0, 0, 0, 0x14, 0x1A, 0x99, 0xBE, 0x1C, 0, 0, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
    EXPECT_EQ(bytes[32], 2);  // records
    EXPECT_EQ(bytes[40 + 8], 0x00);
    EXPECT_EQ(bytes[40 + 9], 0x02);  // 512
    const std::optional<Journal> back = DecodeJournal(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->fileSize, 123456789012ull);
    EXPECT_EQ(back->device, 0x0102030405060708ull);
    EXPECT_EQ(back->inode, 42u);
    ASSERT_EQ(back->records.size(), 2u);
    EXPECT_EQ(back->records[1].offset, 1ull << 33);
    EXPECT_EQ(back->records[1].bytes, test::Pattern(7, 2));
}

// A journal that is not whole was never flushed whole: whatever is wrong
// with it, it reads as no journal, never as a shorter one.
TEST(JournalFormatTest, AJournalThatIsNotWholeReadsAsNone) {
    const Bytes good = EncodeJournal(SampleJournal());
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const Bytes shorter(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_FALSE(DecodeJournal(shorter)) << "cut at " << cut;
    }
    for (size_t at = 0; at < good.size(); at += 3) {
        Bytes flipped = good;
        flipped[at] ^= 0x40;
        EXPECT_FALSE(DecodeJournal(flipped)) << "flipped at " << at;
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(DecodeJournal(longer));
    // Whole, but keeping bytes past the file's old end: not one we wrote.
    Journal past;
    past.fileSize = 1000;
    past.records.push_back({990, test::Pattern(20, 3)});
    EXPECT_FALSE(DecodeJournal(EncodeJournal(past)));
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        for (const std::string& name : test::ModuleStreamNames())
            test::PutStream(s, name, name == "Objects" ? test::Pattern(20000, 3) : Bytes{1, 2});
        s.Commit();
        before = test::ReadFile(file);
        ranges = {{0, 512}, {3 * 512, 1024}, {before.size() - 512, 2048}};
    }

    // What an in-place commit that died after its journal leaves: the
    // journal of `ranges`, and the ranges of the file overwritten, the file
    // grown.
    void leaveHotJournal() {
        UniqueFd fd(::open(file.c_str(), O_RDWR | O_CLOEXEC));
        WriteJournal(fd.get(), file, file, ranges);
        Bytes torn = before;
        for (const auto& [offset, length] : ranges) {
            if (torn.size() < offset + length) torn.resize(offset + length);
            std::fill_n(torn.begin() + static_cast<long>(offset), length, 0xEE);
        }
        test::WriteFile(file, torn);
    }

    test::ScratchDir dir;
    const std::string file = dir.path("m.qbo");
    // A sector, two sectors, and the last sector with the file's growth.
    std::vector<std::pair<uint64_t, uint32_t>> ranges;
    Bytes before;
};

TEST_F(JournalTest, AnOpenRollsBackAHotJournalBeforeItReadsTheFile) {
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "writable" : "read-only");
        leaveHotJournal();
        ASSERT_TRUE(HasJournal(file));
        OCLStorage s(file.c_str(), 0, writable ? test::kModuleMode : test::kReadOnlyMode);
        EXPECT_EQ(test::ReadFile(file), before);
        EXPECT_FALSE(HasJournal(file));
        EXPECT_EQ(test::GetStream(s, "Objects"), test::Pattern(20000, 3));
    }
}

TEST_F(JournalTest, AJournalNotWholeOrOfAnotherFileIsRemovedAndTheFileLeftAsItIs) {
    const std::string journal = JournalPathOf(file);
    // Cut short: the commit died before its journal was flushed, so no byte
    // of the file had changed.
    leaveHotJournal();
    Bytes bytes = test::ReadFile(journal);
    bytes.resize(bytes.size() - 1);
    test::WriteFile(journal, bytes);
    test::WriteFile(file, before);
    { OCLStorage s(file.c_str(), 0, test::kModuleMode); }
    EXPECT_FALSE(HasJournal(file));
    EXPECT_EQ(test::ReadFile(file), before);
    // Of another file: the module file was replaced since (renamed over, so
    // that the new file is not the old one under another name).
    leaveHotJournal();
    const std::string other = dir.path("other.qbo");
    {
        OCLStorage s(other.c_str(), 1, test::kModuleMode);
        test::PutStream(s, "Objects", test::Pattern(9000, 4));
        s.Commit();
    }
    const Bytes replacement = test::ReadFile(other);
    ASSERT_EQ(::rename(other.c_str(), file.c_str()), 0);
    { OCLStorage s(file.c_str(), 0, test::kReadOnlyMode); }
    EXPECT_FALSE(HasJournal(file));
    EXPECT_EQ(test::ReadFile(file), replacement);
}

// A storage moved over a file takes the file's journal away with it: a
// journal must never outlive its file, to be applied to another one.
TEST_F(JournalTest, MovingAStorageOverAFileTakesItsJournalAway) {
    leaveHotJournal();
    const std::string from = dir.path("from.qbo");
    OCLStorage s(from.c_str(), 1, test::kModuleMode);
    test::PutStream(s, "Objects", test::Pattern(100, 9));
    s.Commit();
    s.SwitchTo(file.c_str());
    EXPECT_FALSE(HasJournal(file));
    OCLStorage again(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(test::GetStream(again, "Objects"), test::Pattern(100, 9));
}

// A rollback killed at any of its steps leaves the journal hot, and the next
// open finishes it: the file is wholly its old self.
TEST_F(JournalTest, ARollbackKilledAtAnyStepIsFinishedByTheNextOpen) {
    int kills = 0;
    for (int k = 1;; ++k) {
        leaveHotJournal();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            struct Killer : FileSystemHooks {
                int left;
                explicit Killer(int k) : left(k) {}
                void step() {
                    if (--left == 0) ::raise(SIGKILL);
                }
                void wrote(int) override { step(); }
                void flushedFile(int) override { step(); }
                void flushedFolder(const std::string&) override { step(); }
            } killer(k);
            SetFileSystemHooks(&killer);
            try {
                OCLStorage s(file.c_str(), 0, test::kModuleMode);
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (WIFEXITED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0);
            EXPECT_EQ(test::ReadFile(file), before);
            break;
        }
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "step " << k;
        ++kills;
        OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(test::ReadFile(file), before) << "killed at step " << k;
        EXPECT_FALSE(HasJournal(file));
        EXPECT_EQ(test::GetStream(s, "Objects"), test::Pattern(20000, 3));
    }
    // Three records written, the file and the folder flushed.
    EXPECT_GE(kills, 5);
}

}  // namespace
}  // namespace tq
