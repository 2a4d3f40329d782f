#include "platform/storage/oclstorage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>

#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;
using test::GetStream;
using test::PutStream;

class OCLStorageTest : public ::testing::Test {
protected:
    // A committed module with a small and a large stream.
    void makeModule(const std::string& path) {
        OCLStorage s(path.c_str(), 1, test::kModuleMode);
        PutStream(s, "Module version", small);
        PutStream(s, "Objects", large);
        s.Commit();
    }

    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
    Bytes small = test::Pattern(100, 1);
    Bytes large = test::Pattern(70000, 2);
};

// ---- opening -----------------------------------------------------------------

TEST_F(OCLStorageTest, CreatingMakesAnEmptyStorageFileAtOnce) {
    OCLStorage s(file.c_str(), 1, test::kModuleMode);
    EXPECT_TRUE(OCLStorage::IsStorageFile(file.c_str()));
    EXPECT_TRUE(s.isWritable());
    EXPECT_TRUE(s.isTransacted());
    EXPECT_FALSE(s.isTemporary());
    EXPECT_EQ(s.GetStoragePath(), file);
    EXPECT_TRUE(s.streamNames().empty());
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_TRUE(reader.streamNames().empty());
}

TEST_F(OCLStorageTest, FilesThatAreNotStoragesAreToldApart) {
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kModuleMode), "no such file");
    EXPECT_FALSE(OCLStorage::IsStorageFile(file.c_str()));
    test::WriteFile(file, Bytes{'S', 'u', 'b', ' ', 'M', 'a', 'i', 'n', '\n'});
    EXPECT_FALSE(OCLStorage::IsStorageFile(file.c_str()));
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kReadOnlyMode),
                         "not a valid compound file");
    EXPECT_FALSE(OCLStorage::IsStorageFile(scratch.dir().c_str()));
    EXPECT_STORAGE_ERROR(OCLStorage(scratch.dir().c_str(), 1, test::kModuleMode),
                         "not a regular file");
    EXPECT_STORAGE_ERROR(OCLStorage(scratch.path("new.qbo").c_str(), 1, test::kReadOnlyMode),
                         "without write access");
    // A FIFO must not block the look or the open.
    const std::string fifo = scratch.path("fifo.qbo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(OCLStorage::IsStorageFile(fifo.c_str()));
    EXPECT_STORAGE_ERROR(OCLStorage(fifo.c_str(), 0, test::kReadOnlyMode), "not a regular file");
}

TEST_F(OCLStorageTest, StreamNamesAreCheckedAndCompareWithoutCase) {
    OCLStorage s(file.c_str(), 1, test::kModuleMode);
    PutStream(s, "Objects", small);
    EXPECT_EQ(GetStream(s, "OBJECTS"), small);
    EXPECT_TRUE(s.hasStream("objects"));
    EXPECT_EQ(s.streamNames(), std::vector<std::string>{"Objects"});
    EXPECT_STORAGE_ERROR(OCLStream(s, "Blocks", 0, test::kStreamMode), "no stream named");
    for (const char* bad : {"", "a/b", "a:b", "a!b", "a\\b", "12345678901234567890123456789012"})
        EXPECT_STORAGE_ERROR(OCLStream(s, bad, 1, test::kStreamMode), "not a valid stream name");
    PutStream(s, "1234567890123456789012345678901", small);  // 31 characters fit
}

// libgsf chains a storage's entries, and we refuse to read chains deeper than
// a bound: a storage must never grow past what we can read back.
TEST_F(OCLStorageTest, AStorageHoldsAtMostAThousandEntriesAndReadsThemBack) {
    {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        // The stream of checksums is the thousandth.
        for (int i = 0; i < 999; ++i) OCLStream(s, ("S" + std::to_string(i)).c_str(), 1, 0x12);
        EXPECT_STORAGE_ERROR(OCLStream(s, "One too many", 1, test::kStreamMode), "at most 1000");
        s.Commit();
        OCLStorage other(scratch.path("other.qbo").c_str(), 1, test::kModuleMode);
        PutStream(other, "Elsewhere", small);
        EXPECT_STORAGE_ERROR(other.CopyTo(s), "at most 1000");
    }
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(reader.streamNames().size(), 999u);
}

// ---- transactions ------------------------------------------------------------------

TEST_F(OCLStorageTest, NothingReachesTheFileBeforeCommit) {
    makeModule(file);
    const Bytes before = test::ReadFile(file);
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    PutStream(s, "Objects", small);
    PutStream(s, "Blocks", large);
    EXPECT_TRUE(s.removeStream("Module version"));
    EXPECT_EQ(test::ReadFile(file), before);
    {
        OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(GetStream(reader, "Objects"), large);
    }
    s.Commit();
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(reader.streamNames(), (std::vector<std::string>{"Blocks", "Objects"}));
    EXPECT_EQ(GetStream(reader, "Objects"), small);
    EXPECT_EQ(GetStream(reader, "Blocks"), large);
}

TEST_F(OCLStorageTest, RevertReturnsEveryStreamToItsCommittedContent) {
    makeModule(file);
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    OCLStream objects(s, "Objects", 0, test::kStreamMode);
    OCLStream created(s, "Blocks", 1, test::kStreamMode);
    objects.seek(10);
    objects.writeU32(0);
    created.writeU32(1);
    s.removeStream("Module version");
    s.Revert();
    EXPECT_EQ(s.streamNames(), (std::vector<std::string>{"Module version", "Objects"}));
    EXPECT_EQ(GetStream(s, "Objects"), large);
    EXPECT_EQ(GetStream(s, "Module version"), small);
    EXPECT_EQ(objects.size(), large.size());  // the open stream sees it too
    EXPECT_STORAGE_ERROR(created.size(), "no longer exists");
    s.Commit();  // nothing pending
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(reader, "Objects"), large);
}

TEST_F(OCLStorageTest, ACommitWithNothingChangedLeavesTheFileAlone) {
    makeModule(file);
    struct stat before, after;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    {
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        GetStream(s, "Objects");
        s.Commit();
    }
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(OCLStorageTest, ReplacingStartsEmptyAndKeepsTheOldFileUntilCommit) {
    makeModule(file);
    const Bytes before = test::ReadFile(file);
    OCLStorage s(file.c_str(), 1, test::kNewModuleMode);
    EXPECT_TRUE(s.streamNames().empty());
    EXPECT_EQ(test::ReadFile(file), before);
    s.Revert();
    EXPECT_TRUE(s.streamNames().empty());
    PutStream(s, "Strings", small);
    s.Commit();
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(reader.streamNames(), std::vector<std::string>{"Strings"});
}

TEST_F(OCLStorageTest, DirectModeWritesWhenTheStorageGoesAndCannotRevert) {
    {
        OCLStorage s(file.c_str(), 1, test::kStreamMode);
        EXPECT_FALSE(s.isTransacted());
        PutStream(s, "Objects", large);
        s.Revert();
        EXPECT_EQ(GetStream(s, "Objects"), large);
    }
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(reader, "Objects"), large);
}

// A commit replaces the file a symbolic link names, not the link, and the new
// file keeps the old one's permissions.
TEST_F(OCLStorageTest, CommitsKeepSymbolicLinksAndPermissions) {
    makeModule(file);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const std::string link = scratch.path("link.qbo");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    {
        OCLStorage s(link.c_str(), 0, test::kModuleMode);
        EXPECT_EQ(s.GetStoragePath(), link);
        PutStream(s, "Objects", small);
        s.Commit();
    }
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(reader, "Objects"), small);
}

// ---- access ---------------------------------------------------------------------

TEST_F(OCLStorageTest, AReadOnlyStorageRefusesEveryWriteAndNeverTouchesItsFile) {
    makeModule(file);
    const Bytes before = test::ReadFile(file);
    {
        OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_FALSE(s.isWritable());
        OCLStream objects(s, "Objects", 0, test::kStreamMode);
        EXPECT_FALSE(objects.isWritable());
        EXPECT_STORAGE_ERROR(objects.writeU8(1), "without write access");
        EXPECT_STORAGE_ERROR(objects.setSize(0), "without write access");
        EXPECT_STORAGE_ERROR(s.removeStream("Objects"), "without write access");
        // A missing stream asked for with the create bit reads as empty.
        OCLStream missing(s, "Blocks", 1, test::kStreamMode);
        EXPECT_EQ(missing.size(), 0u);
        EXPECT_STORAGE_ERROR(missing.writeU8(1), "without write access");
        EXPECT_FALSE(s.hasStream("Blocks"));
        OCLStorage other(scratch.path("other.qbo").c_str(), 1, test::kModuleMode);
        EXPECT_STORAGE_ERROR(other.CopyTo(s), "without write access");
        s.Commit();
        s.Revert();
    }
    EXPECT_EQ(test::ReadFile(file), before);
}

// Root ignores permissions, so the permission bits are what counts.
TEST_F(OCLStorageTest, AFileWithoutWriteBitsOpensOnlyForReading) {
    makeModule(file);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kModuleMode), "read-only");
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 1, test::kNewModuleMode), "read-only");
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(s, "Objects"), large);
    OCLStorage source(scratch.path("source.qbo").c_str(), 1, test::kModuleMode);
    EXPECT_STORAGE_ERROR(source.SwitchTo(file.c_str()), "read-only");
    EXPECT_TRUE(source.hasStream("Objects") == false);
}

TEST_F(OCLStorageTest, OneWriterAtATimeWhileReadersSeeTheCommittedContent) {
    makeModule(file);
    OCLStorage writer(file.c_str(), 0, test::kModuleMode);
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kModuleMode), "in use");
    PutStream(writer, "Objects", small);
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(reader, "Objects"), large);
    writer.Commit();
    // The lock moved to the new file with the commit.
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kModuleMode), "in use");
    EXPECT_EQ(GetStream(reader, "Objects"), large);  // an open reader keeps its image
    OCLStorage later(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(later, "Objects"), small);
}

// A writer in another process holds the file across its commits and lets go
// when it ends.
TEST_F(OCLStorageTest, AWriterInAnotherProcessExcludesUsAcrossItsCommits) {
    makeModule(file);
    int toChild[2], toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char c;
        int status = 1;
        try {
            OCLStorage s(file.c_str(), 0, test::kModuleMode);
            if (::write(toParent[1], "o", 1) != 1 || ::read(toChild[0], &c, 1) != 1) _exit(2);
            PutStream(s, "Objects", small);
            s.Commit();
            if (::write(toParent[1], "c", 1) != 1 || ::read(toChild[0], &c, 1) != 1) _exit(2);
            status = 0;
        } catch (...) {
        }
        _exit(status);
    }
    char c;
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kModuleMode), "in use");
    ASSERT_EQ(::write(toChild[1], "1", 1), 1);
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kModuleMode), "in use");
    {
        OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(GetStream(reader, "Objects"), small);
    }
    ASSERT_EQ(::write(toChild[1], "2", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    EXPECT_EQ(GetStream(s, "Objects"), small);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

// ---- copying and moving ------------------------------------------------------------

TEST_F(OCLStorageTest, CopyToCarriesCommittedAndPendingContentAsPendingChanges) {
    makeModule(file);
    OCLStorage source(file.c_str(), 0, test::kModuleMode);
    PutStream(source, "Blocks", small);  // pending in the source
    const std::string destFile = scratch.path("dest.qbo");
    OCLStorage dest(destFile.c_str(), 1, test::kModuleMode);
    PutStream(dest, "Objects", small);   // replaced by the copy
    PutStream(dest, "Strings", small);   // kept
    OCLStream open(dest, "Objects", 0, test::kStreamMode);
    source.CopyTo(dest);
    EXPECT_EQ(open.size(), large.size());  // open streams see the copy
    // Changes to either side after the copy stay on that side.
    OCLStream s(source, "Objects", 0, test::kStreamMode);
    s.writeU32(0);
    dest.Commit();
    source.Revert();
    OCLStorage reader(destFile.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(reader.streamNames(),
              (std::vector<std::string>{"Blocks", "Module version", "Objects", "Strings"}));
    EXPECT_EQ(GetStream(reader, "Objects"), large);
    EXPECT_EQ(GetStream(reader, "Blocks"), small);
    EXPECT_EQ(GetStream(reader, "Module version"), small);
    EXPECT_EQ(GetStream(reader, "Strings"), small);
}

// The store compacts a module by copying it to a temporary storage, closing
// it, creating the file anew and copying back: the bytes must survive the
// source storage going away in between.
TEST_F(OCLStorageTest, CompactingThroughATemporaryStorageKeepsEveryByte) {
    makeModule(file);
    auto module = std::make_unique<OCLStorage>(file.c_str(), 0, test::kModuleMode);
    PutStream(*module, "Blocks", small);
    auto temp = std::make_unique<OCLStorage>(test::kStreamMode);
    module->CopyTo(*temp);
    module.reset();
    module = std::make_unique<OCLStorage>(file.c_str(), 1, test::kNewModuleMode);
    temp->CopyTo(*module);
    temp.reset();
    module->Commit();
    module.reset();
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(reader.streamNames(),
              (std::vector<std::string>{"Blocks", "Module version", "Objects"}));
    EXPECT_EQ(GetStream(reader, "Objects"), large);
    EXPECT_EQ(GetStream(reader, "Blocks"), small);
}

TEST_F(OCLStorageTest, SwitchToStartsFromTheCommittedContentAndKeepsPendingChanges) {
    makeModule(file);
    const Bytes before = test::ReadFile(file);
    const std::string target = scratch.path("saved.qbo");
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    PutStream(s, "Objects", small);
    OCLStream open(s, "Objects", 0, test::kStreamMode);
    s.SwitchTo(target.c_str());
    EXPECT_EQ(s.GetStoragePath(), target);
    EXPECT_EQ(test::ReadFile(target), before);  // the committed content, byte for byte
    EXPECT_EQ(open.size(), small.size());
    // The old file is free again and unchanged; the new one is held.
    { OCLStorage old(file.c_str(), 0, test::kModuleMode); }
    EXPECT_STORAGE_ERROR(OCLStorage(target.c_str(), 0, test::kModuleMode), "in use");
    s.Commit();
    EXPECT_EQ(test::ReadFile(file), before);
    OCLStorage reader(target.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(reader, "Objects"), small);
    EXPECT_EQ(GetStream(reader, "Module version"), small);
}

TEST_F(OCLStorageTest, SwitchToAFileAnotherWriterHoldsFailsAndChangesNothing) {
    makeModule(file);
    const std::string target = scratch.path("held.qbo");
    makeModule(target);
    OCLStorage holder(target.c_str(), 0, test::kModuleMode);
    OCLStorage s(file.c_str(), 0, test::kModuleMode);
    EXPECT_STORAGE_ERROR(s.SwitchTo(target.c_str()), "in use");
    EXPECT_EQ(s.GetStoragePath(), file);
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"held.qbo", "m.qbo"}));
}

TEST_F(OCLStorageTest, TemporaryStoragesLiveInTheTemporaryFolderAndGoWithTheStorage) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", scratch.dir().c_str(), 1);
    std::string path;
    {
        OCLStorage temp;
        ::setenv("TMPDIR", saved.c_str(), 1);
        if (!old) ::unsetenv("TMPDIR");
        path = temp.GetStoragePath();
        EXPECT_TRUE(temp.isTemporary());
        EXPECT_EQ(path.rfind(scratch.path("qbo"), 0), 0u) << path;
        PutStream(temp, "Objects", large);
        EXPECT_TRUE(scratch.files().empty()) << "the file is made by the first commit";
        temp.Commit();
        EXPECT_TRUE(OCLStorage::IsStorageFile(path.c_str()));
        EXPECT_EQ(GetStream(temp, "Objects"), large);
    }
    EXPECT_TRUE(scratch.files().empty());

    // Moved to a named file, it stops being temporary.
    OCLStorage temp;
    const std::string first = temp.GetStoragePath();
    PutStream(temp, "Objects", small);
    temp.SwitchTo(file.c_str());
    EXPECT_FALSE(temp.isTemporary());
    EXPECT_FALSE(std::filesystem::exists(first));
    temp.Commit();
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(GetStream(reader, "Objects"), small);
}

// ---- reading only what is needed ------------------------------------------------

TEST_F(OCLStorageTest, OpeningReadsOnlyTheTablesAndARecordOnlyItsPieces) {
    const Bytes big = test::Pattern(3 << 20, 3);
    {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        for (const std::string& name : test::ModuleStreamNames())
            PutStream(s, name, name == "Objects" ? big : small);
        s.Commit();
    }
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    const uint64_t atOpen = s.bytesReadFromFile();
    // Header, allocation table (4 bytes per 512-byte sector), directory and
    // the checksums (4 bytes per 4096-byte piece).
    EXPECT_LT(atOpen, 512 + (big.size() / 512) * 4 + (big.size() / 4096) * 4 + 16 * 1024);
    OCLStream objects(s, "Objects", 0, test::kStreamMode);
    objects.seek(static_cast<uint32_t>(big.size() - 1000));
    Bytes record(100);
    objects.read(record.data(), record.size());
    EXPECT_TRUE(std::equal(record.begin(), record.end(), big.end() - 1000));
    // The record lies in at most two pieces, which its read checks whole;
    // its stream's chain is followed up to it, through the allocation
    // table's words for the stream's sectors (read a sector at a time).
    EXPECT_LE(s.bytesReadFromFile() - atOpen, 2 * 4096u + 512 + (big.size() / 512) * 4 + 512);
    // A second record beside it reads no table again, and no more than its
    // sector.
    const uint64_t afterFirst = s.bytesReadFromFile();
    objects.seek(static_cast<uint32_t>(big.size() - 4000));
    objects.read(record.data(), record.size());
    EXPECT_TRUE(std::equal(record.begin(), record.end(), big.end() - 4000));
    EXPECT_LE(s.bytesReadFromFile() - afterFirst, 4096u);
}

}  // namespace
}  // namespace tq
