// What makes a commit durable, seen through the file-system hooks: the order
// of its steps on the disk, and its answer to a disk that reports writes done
// while keeping other bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "platform/storage/fshooks.h"
#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;

// Generation g of a module: streams in the mini-stream and in sectors of
// their own, each with bytes that depend on g.
std::map<std::string, Bytes> Generation(uint32_t g) {
    return {{"Module version", test::Pattern(60, g)},
            {"IdStrings", test::Pattern(3000, g + 100)},
            {"Objects", test::Pattern(9000, g + 200)}};
}

void WriteGeneration(OCLStorage& storage, uint32_t g) {
    for (const auto& [name, bytes] : Generation(g)) test::PutStream(storage, name, bytes);
}

std::map<std::string, Bytes> Content(const std::string& file) {
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    std::map<std::string, Bytes> found;
    for (const std::string& name : s.streamNames()) found[name] = test::GetStream(s, name);
    return found;
}

ino_t InodeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Installs itself for its lifetime.
class InstalledHooks : public FileSystemHooks {
public:
    InstalledHooks() { SetFileSystemHooks(this); }
    ~InstalledHooks() override { SetFileSystemHooks(nullptr); }
};

// The steps in order, the blocks of one file written in a row as one step,
// and the file each step of a file was made on.
class StepRecorder : public InstalledHooks {
public:
    void wrote(int fd) override { add("write", InodeOf(fd)); }
    void flushedFile(int fd) override { add("flush file", InodeOf(fd)); }
    void renamed(const std::string& to) override { add("rename to " + to, InodeOf(to)); }
    void flushedFolder(const std::string& folder) override { add("flush folder " + folder, 0); }

    std::vector<std::string> steps;
    std::vector<ino_t> files;

private:
    void add(const std::string& step, ino_t file) {
        if (!steps.empty() && steps.back() == step && files.back() == file) return;
        steps.push_back(step);
        files.push_back(file);
    }
};

class DurabilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        WriteGeneration(s, 0);
        s.Commit();
    }

    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
};

// A rename is on the disk only once its folder is: the folder is flushed after
// it, and the file it installs was flushed before it.
TEST_F(DurabilityTest, ACommitWritesAndFlushesTheNewFileThenRenamesItThenFlushesTheFolder) {
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    WriteGeneration(s, 1);
    StepRecorder recorder;
    s.Commit();
    EXPECT_EQ(recorder.steps, (std::vector<std::string>{"write", "flush file", "rename to " + file,
                                                        "flush folder " + scratch.dir()}));
    ASSERT_EQ(recorder.files.size(), 4u);
    EXPECT_EQ(recorder.files[0], recorder.files[1]) << "the file written is the file flushed";
    EXPECT_EQ(recorder.files[1], recorder.files[2]) << "the file flushed is the file installed";
}

TEST_F(DurabilityTest, SwitchToCopiesAndFlushesTheNewFileThenRenamesItThenFlushesTheFolder) {
    const std::string sub = scratch.path("sub");
    ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
    const std::string target = sub + "/saved.qbo";
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    StepRecorder recorder;
    s.SwitchTo(target.c_str());
    EXPECT_EQ(recorder.steps, (std::vector<std::string>{"write", "flush file", "rename to " + target,
                                                        "flush folder " + sub}));
    ASSERT_EQ(recorder.files.size(), 4u);
    EXPECT_EQ(recorder.files[0], recorder.files[1]);
    EXPECT_EQ(recorder.files[1], recorder.files[2]);
}

// A disk that lies about one block of the commit: the block is written
// spoiled, or only half of it, and the write reports success.
class LyingDisk : public InstalledHooks {
public:
    enum Lie { kSpoiled, kShort };
    LyingDisk(int block, Lie lie) : block_(block), lie_(lie) {}

    size_t alterWrite(int, uint64_t, uint8_t* bytes, size_t n) override {
        if (++calls_ != block_) return n;
        if (lie_ == kShort) return n / 2;
        bytes[n / 2] ^= 0x5A;
        return n;
    }

private:
    int block_;
    Lie lie_;
    int calls_ = 0;
};

// Every block in turn, spoiled and short by turns: the commit either refuses
// the file it wrote, leaving the old one byte for byte and its changes
// pending, or (when the lie left nothing that matters different, as in
// padding) installs exactly what was committed. A file with other content
// than committed never takes the module's place.
TEST_F(DurabilityTest, AWriteThatLiesNeverInstallsAFileWithOtherContent) {
    int blocks = 0;
    {
        const std::string copy = scratch.path("count.qbo");
        test::WriteFile(copy, test::ReadFile(file));
        OCLStorage s(copy.c_str(), 0, test::kModuleMode);
        WriteGeneration(s, 1);
        struct Counter : InstalledHooks {
            int* blocks;
            explicit Counter(int* b) : blocks(b) {}
            size_t alterWrite(int, uint64_t, uint8_t*, size_t n) override {
                ++*blocks;
                return n;
            }
        } counter(&blocks);
        s.Commit();
        ::unlink(copy.c_str());
    }
    ASSERT_GT(blocks, 5);

    const Bytes before = test::ReadFile(file);
    int refused = 0;
    for (int k = 1; k <= blocks; ++k) {
        const LyingDisk::Lie lie = k % 2 ? LyingDisk::kSpoiled : LyingDisk::kShort;
        SCOPED_TRACE((lie == LyingDisk::kShort ? "short block " : "spoiled block ") +
                     std::to_string(k));
        bool committed = false;
        {
            OCLStorage s(file.c_str(), 0, test::kModuleMode);
            WriteGeneration(s, 1);
            LyingDisk disk(k, lie);
            try {
                s.Commit();
                committed = true;
            } catch (const StorageError& e) {
                EXPECT_NE(std::string(e.what()).find("write failed"), std::string::npos)
                    << e.what();
                EXPECT_EQ(test::GetStream(s, "Objects"), Generation(1)["Objects"])
                    << "the changes stay pending";
            }
        }
        if (committed) {
            EXPECT_EQ(Content(file), Generation(1));
            test::WriteFile(file, before);
            continue;
        }
        ++refused;
        EXPECT_EQ(test::ReadFile(file), before);
        EXPECT_EQ(scratch.files(), std::vector<std::string>{"m.qbo"});
    }
    // The blocks of stream data and of the tables that locate it matter.
    EXPECT_GT(refused, blocks / 2);
}

}  // namespace
}  // namespace tq
