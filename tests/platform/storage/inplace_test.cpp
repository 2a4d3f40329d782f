// Commits that write the module file in place: what they write, what our
// reader and an independent one find after them, and what a disk that lies
// or fills up leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "platform/storage/fshooks.h"
#include "platform/storage/journal.h"
#include "tests/platform/storage/oledump.h"
#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;
using Streams = std::map<std::string, Bytes>;

// Sets when commits write in place for its lifetime.
struct InPlaceWhen {
    explicit InPlaceWhen(OCLStorage::InPlaceCommits when) { OCLStorage::SetInPlaceCommits(when); }
    ~InPlaceWhen() { OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kWhenSmaller); }
};

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Every byte a commit sends to the disk, journal included, and the blocks.
struct WriteCounter : FileSystemHooks {
    WriteCounter() { SetFileSystemHooks(this); }
    ~WriteCounter() override { SetFileSystemHooks(nullptr); }
    size_t alterWrite(int, uint64_t, uint8_t*, size_t n) override {
        bytes += n;
        ++blocks;
        return n;
    }
    uint64_t bytes = 0;
    int blocks = 0;
};

Streams ModuleStreams() {
    Streams s;
    uint32_t seed = 1;
    for (const std::string& name : test::ModuleStreamNames())
        s[name] = test::Pattern(name == "Objects" ? 300000 : name == "IdStrings" ? 40000 : 700, seed++);
    return s;
}

void Commit(const std::string& file, const Streams& streams, int create = 0) {
    OCLStorage s(file.c_str(), create, test::kModuleMode);
    for (const auto& [name, bytes] : streams)
        if (!create && test::GetStream(s, name) == bytes) continue;
        else test::PutStream(s, name, bytes);
    s.Commit();
}

Streams ReadAll(const std::string& file) {
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    s.verifyChecksums();
    Streams found;
    for (const std::string& name : s.streamNames()) found[name] = test::GetStream(s, name);
    return found;
}

class InPlaceCommitTest : public ::testing::Test {
protected:
    void SetUp() override { Commit(file, model, 1); }

    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
    Streams model = ModuleStreams();
};

TEST_F(InPlaceCommitTest, AFewChangedBytesWriteTheirSectorsAndChecksumsInPlace) {
    const ino_t inode = InodeOf(file);
    const auto size = test::ReadFile(file).size();
    WriteCounter counter;
    {
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        OCLStream objects(s, "Objects", 0, test::kStreamMode);
        objects.seek(150000);
        const uint8_t b = 0x5A;
        objects.write(&b, 1);
        model["Objects"][150000] = b;
        s.Commit();
    }
    EXPECT_EQ(InodeOf(file), inode) << "the commit replaced the file";
    EXPECT_EQ(test::ReadFile(file).size(), size);
    EXPECT_FALSE(HasJournal(file));
    // The sector of the byte and one or two of the checksums, each once in
    // the journal and once in place.
    EXPECT_GT(counter.bytes, 2u * 512);
    EXPECT_LE(counter.bytes, 2u * 3 * 512 + 200);
    EXPECT_EQ(ReadAll(file), model);
    const test::OleDump dump = test::DumpWithOlefile(file);
    EXPECT_EQ(dump.streams, model);
    EXPECT_EQ(dump.checksums, "sound");
}

// Each step changes the module and commits in place; after each, both
// readers find exactly the model, with sound checksums.
TEST_F(InPlaceCommitTest, StreamsThatGrowShrinkAndCrossTheCutoffReadBackEverywhere) {
    InPlaceWhen always(OCLStorage::InPlaceCommits::kAlways);
    const ino_t inode = InodeOf(file);
    struct Step {
        const char* what;
        std::function<void(Streams&)> change;
    };
    const std::vector<Step> steps = {
        {"a byte of a large stream", [](Streams& m) { m["Objects"][1000] ^= 1; }},
        // Streams whose size stays are looked up only as far as their last
        // changed piece: bytes far apart, the very last, and in a small one.
        {"bytes far apart in a large stream",
         [](Streams& m) {
             m["Objects"][5000] ^= 1;
             m["Objects"][250000] ^= 1;
         }},
        {"the last byte of a large stream", [](Streams& m) { m["Objects"].back() ^= 1; }},
        {"a byte of a small stream", [](Streams& m) { m["Blocks"][600] ^= 1; }},
        {"a large stream grows past the file's end",
         [](Streams& m) {
             const Bytes more = test::Pattern(70000, 50);
             m["Objects"].insert(m["Objects"].end(), more.begin(), more.end());
         }},
        {"a large stream shrinks", [](Streams& m) { m["Objects"].resize(200001); }},
        {"another takes the sectors it gave up",
         [](Streams& m) { m["IdStrings"] = test::Pattern(100000, 51); }},
        {"a small stream grows in the mini stream",
         [](Streams& m) { m["Module version"] = test::Pattern(3000, 52); }},
        {"a small stream grows past the cutoff",
         [](Streams& m) { m["Blocks"] = test::Pattern(5000, 53); }},
        {"a large stream shrinks below it", [](Streams& m) { m["Blocks"].resize(64); }},
        {"a stream is emptied", [](Streams& m) { m["Strings"].clear(); }},
        {"an empty stream fills", [](Streams& m) { m["Strings"] = test::Pattern(4095, 54); }},
        {"small streams outgrow the mini table's sector",
         [](Streams& m) {
             uint32_t seed = 60;
             for (auto& [name, bytes] : m)
                 if (bytes.size() < 4096) bytes = test::Pattern(4000, seed++);
         }},
        {"every stream changes",
         [](Streams& m) {
             uint32_t seed = 80;
             for (auto& [name, bytes] : m) bytes = test::Pattern(bytes.size() + 999, seed++);
         }},
    };
    std::vector<std::string> copies;
    std::vector<Streams> expected;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change(model);
        Commit(file, model);
        EXPECT_EQ(InodeOf(file), inode) << "the commit replaced the file";
        EXPECT_FALSE(HasJournal(file));
        EXPECT_EQ(ReadAll(file), model);
        copies.push_back(scratch.path("step" + std::to_string(copies.size()) + ".qbo"));
        test::WriteFile(copies.back(), test::ReadFile(file));
        expected.push_back(model);
    }
    const std::vector<test::OleDump> dumps = test::DumpAllWithOlefile(copies);
    ASSERT_EQ(dumps.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(dumps[i].streams, expected[i]) << steps[i].what;
        EXPECT_EQ(dumps[i].checksums, "sound") << steps[i].what;
    }
}

// Past 7 MB the allocation table outgrows the header's index: a stream
// grown in place takes the file there, and the table continues in an index
// sector of its own.
TEST_F(InPlaceCommitTest, AFileGrownPastTheHeadersTableIndexGainsAnIndexSector) {
    InPlaceWhen always(OCLStorage::InPlaceCommits::kAlways);
    model["Objects"] = test::Pattern(6900000, 70);
    Commit(file, model);
    const ino_t inode = InodeOf(file);
    const Bytes more = test::Pattern(600000, 71);
    model["Objects"].insert(model["Objects"].end(), more.begin(), more.end());
    Commit(file, model);
    EXPECT_EQ(InodeOf(file), inode);
    const Bytes bytes = test::ReadFile(file);
    EXPECT_GT(bytes[0x2C] | (bytes[0x2D] << 8), 109) << "allocation-table sectors";
    EXPECT_EQ(bytes[0x48], 1) << "index sectors";
    EXPECT_EQ(ReadAll(file), model);
    EXPECT_EQ(test::DumpAllWithOlefile({file}, false)[0].streams, model);
}

// A reader's file never changes under it: beside a reader a commit writes a
// whole new file, and in place again once the reader is gone.
TEST_F(InPlaceCommitTest, AReaderKeepsItsContentWhileAWriterCommitsBesideIt) {
    const Streams before = model;
    auto reader = std::make_unique<OCLStorage>(file.c_str(), 0, test::kReadOnlyMode);
    const ino_t inode = InodeOf(file);
    model["Objects"][10] ^= 1;
    Commit(file, model);
    EXPECT_NE(InodeOf(file), inode) << "committed in place under a reader";
    for (const auto& [name, bytes] : before) EXPECT_EQ(test::GetStream(*reader, name), bytes);
    reader.reset();
    const ino_t now = InodeOf(file);
    model["Objects"][20] ^= 1;
    Commit(file, model);
    EXPECT_EQ(InodeOf(file), now) << "no reader, yet the file was replaced";
    EXPECT_EQ(ReadAll(file), model);
}

// A compaction moves most records: the commit after it writes the file
// whole and gap-free, and the commits after that in place again.
TEST_F(InPlaceCommitTest, ACommitAskedToBeWholeReplacesTheFileOnce) {
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    const ino_t first = InodeOf(file);
    s.CommitWholeNextTime();
    test::PutStream(s, "Blocks", Bytes{1});
    s.Commit();
    const ino_t second = InodeOf(file);
    EXPECT_NE(second, first);
    test::PutStream(s, "Blocks", Bytes{2});
    s.Commit();
    EXPECT_EQ(InodeOf(file), second);
    model["Blocks"] = Bytes{2};
    EXPECT_EQ(ReadAll(file), model);
}

// A disk that reports a block written and keeps other bytes, or half of
// them, for every block of an in-place commit in turn (the journal's
// included): the commit refuses, the file is put back byte for byte, and the
// changes stay pending; or the lie touched nothing that matters and the
// commit is exactly right.
TEST_F(InPlaceCommitTest, ADiskThatLiesIsCaughtByTheReadBackAndTheFileRolledBack) {
    struct LyingDisk : FileSystemHooks {
        int block, calls = 0;
        bool shortWrite;
        LyingDisk(int k, bool s) : block(k), shortWrite(s) { SetFileSystemHooks(this); }
        ~LyingDisk() override { SetFileSystemHooks(nullptr); }
        size_t alterWrite(int, uint64_t, uint8_t* bytes, size_t n) override {
            if (++calls != block) return n;
            if (shortWrite) return n / 2;
            bytes[n / 2] ^= 0x5A;
            return n;
        }
    };
    const auto change = [](Streams m) {
        m["Objects"][123456] ^= 1;
        m["Objects"].resize(310000, 7);
        m["Module version"] = test::Pattern(900, 3);
        return m;
    };
    int blocks = 0;
    {
        const std::string copy = scratch.path("count.qbo");
        test::WriteFile(copy, test::ReadFile(file));
        WriteCounter counter;
        Commit(copy, change(model));
        blocks = counter.blocks;
        ::unlink(copy.c_str());
    }
    ASSERT_GE(blocks, 3);
    const Bytes before = test::ReadFile(file);
    int refused = 0;
    for (int k = 1; k <= 2 * blocks; ++k) {
        SCOPED_TRACE((k % 2 ? "spoiled block " : "short block ") + std::to_string((k + 1) / 2));
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        for (const auto& [name, bytes] : change(model)) test::PutStream(s, name, bytes);
        try {
            LyingDisk disk((k + 1) / 2, k % 2 == 0);
            s.Commit();
            EXPECT_EQ(ReadAll(file), change(model));
            test::WriteFile(file, before);
            continue;
        } catch (const StorageError& e) {
            EXPECT_NE(std::string(e.what()).find("write failed"), std::string::npos) << e.what();
        }
        ++refused;
        EXPECT_EQ(test::ReadFile(file), before);
        EXPECT_FALSE(HasJournal(file));
        EXPECT_EQ(test::GetStream(s, "Module version"), test::Pattern(900, 3)) << "still pending";
    }
    EXPECT_GT(refused, blocks);
}

// A full disk at the journal or at any write in place: the commit fails
// with the reason, the file is its old self and the changes stay pending
// until a commit on a disk with room writes them.
TEST_F(InPlaceCommitTest, AFullDiskAtTheJournalOrAnyWriteLeavesTheOldModule) {
    const auto change = [](Streams m) {
        m["Objects"][5] ^= 1;
        m["Objects"][290000] ^= 1;
        m["IdStrings"].resize(45000, 9);
        return m;
    };
    int calls = 0;
    {
        const std::string copy = scratch.path("count.qbo");
        test::WriteFile(copy, test::ReadFile(file));
        OCLStorage::SetWriteFaultHook([&](uint64_t) { return ++calls > 0; });
        Commit(copy, change(model));
        OCLStorage::SetWriteFaultHook(nullptr);
    }
    ASSERT_GE(calls, 3) << "the journal and two runs of sectors at least";
    const Bytes before = test::ReadFile(file);
    for (int k = 1; k <= calls; ++k) {
        SCOPED_TRACE("the disk fills at write " + std::to_string(k));
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        for (const auto& [name, bytes] : change(model)) test::PutStream(s, name, bytes);
        int n = 0;
        OCLStorage::SetWriteFaultHook([&](uint64_t) { return ++n != k; });
        EXPECT_STORAGE_ERROR(s.Commit(), "No space left on device");
        OCLStorage::SetWriteFaultHook(nullptr);
        EXPECT_EQ(test::ReadFile(file), before);
        EXPECT_FALSE(HasJournal(file));
        EXPECT_EQ(test::GetStream(s, "IdStrings"), change(model)["IdStrings"]);
        if (k == calls) {
            s.Commit();
            EXPECT_EQ(ReadAll(file), change(model));
        }
    }
}

}  // namespace
}  // namespace tq
