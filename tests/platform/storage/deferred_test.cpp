// Storages without a file of their own yet (made on the first commit, and
// temporary ones) live in memory until something must be written, and the
// compound-file library is loaded only when a compound file is really used.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/storage/oclstorage.h"
#include "tests/platform/storage/storagetest.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using test::Bytes;
using test::GetStream;
using test::PutStream;

class DeferredCreation : public ::testing::Test {
protected:
    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
    Bytes small = test::Pattern(100, 1);
    Bytes large = test::Pattern(70000, 2);
};

TEST_F(DeferredCreation, AStorageMadeOnFirstCommitWorksInMemoryAndLeavesNothingUncommitted) {
    {
        OCLStorage s(file.c_str(), kCreateOnFirstCommit, test::kModuleMode);
        EXPECT_EQ(s.GetStoragePath(), file);
        EXPECT_TRUE(s.isWritable());
        EXPECT_FALSE(s.isTemporary());
        PutStream(s, "Objects", large);
        PutStream(s, "Module version", small);
        EXPECT_EQ(GetStream(s, "Objects"), large);
        s.Revert();
        EXPECT_TRUE(s.streamNames().empty()) << "the committed content is the empty storage";
        PutStream(s, "Objects", small);
        EXPECT_TRUE(scratch.files().empty());
    }
    EXPECT_TRUE(scratch.files().empty()) << "a transacted storage never committed leaves no file";
}

TEST_F(DeferredCreation, TheFirstCommitMakesTheFileWhichFromThenOnIsHeldAndReplacedWhole) {
    OCLStorage s(file.c_str(), kCreateOnFirstCommit, test::kModuleMode);
    s.Commit();  // nothing written: an empty storage file, as an eager creation makes
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"m.qbo"});
    EXPECT_TRUE(OCLStorage(file.c_str(), 0, test::kReadOnlyMode).streamNames().empty());
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kModuleMode), "in use");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "a module file, not a private one";

    PutStream(s, "Objects", large);
    s.Commit();
    PutStream(s, "Objects", small);
    s.Revert();
    EXPECT_EQ(GetStream(s, "Objects"), large) << "Revert returns to the file now";
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"m.qbo"});
    EXPECT_EQ(GetStream(*std::make_unique<OCLStorage>(file.c_str(), 0, test::kReadOnlyMode),
                        "Objects"),
              large);
}

TEST_F(DeferredCreation, AFileThatAnotherProgramPutAtThePathMeanwhileIsNeverOverwritten) {
    OCLStorage s(file.c_str(), kCreateOnFirstCommit, test::kModuleMode);
    PutStream(s, "Objects", large);
    const Bytes theirs = test::Pattern(300, 9);
    test::WriteFile(file, theirs);
    EXPECT_STORAGE_ERROR(s.Commit(), "cannot create");
    EXPECT_EQ(test::ReadFile(file), theirs);
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"m.qbo"}) << "no commit file is left";
    EXPECT_EQ(GetStream(s, "Objects"), large) << "the changes stay pending";

    // Moved to another file, they are kept there.
    const std::string other = scratch.path("other.qbo");
    s.SwitchTo(other.c_str());
    EXPECT_TRUE(OCLStorage(other.c_str(), 0, test::kReadOnlyMode).streamNames().empty())
        << "the new file starts from the committed content: the empty storage";
    s.Commit();
    EXPECT_EQ(GetStream(*std::make_unique<OCLStorage>(other.c_str(), 0, test::kReadOnlyMode),
                        "Objects"),
              large);
    EXPECT_EQ(test::ReadFile(file), theirs);
}

TEST_F(DeferredCreation, NamingANewFileWithOneStillMakesItAtOnce) {
    OCLStorage s(file.c_str(), 1, test::kModuleMode);
    EXPECT_TRUE(OCLStorage::IsStorageFile(file.c_str()));
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), kCreateOnFirstCommit, test::kModuleMode),
                         "in use");
}

// ---- loading the compound-file library --------------------------------------------

// Each case runs in a process of its own: the library, once loaded, stays.
TEST(CompoundFileLibrary, IsLoadedOnlyWhenACompoundFileIsReallyUsed) {
    if (!IsFreshProcess()) {
        EXPECT_EQ(RunInFreshProcess(), 0);
        return;
    }
    test::ScratchDir scratch;
    const std::string file = scratch.path("m.qbo");
    const Bytes bytes = test::Pattern(5000, 4);
    ::setenv("TMPDIR", scratch.dir().c_str(), 1);
    {
        OCLStorage temp;
        OCLStorage s(file.c_str(), kCreateOnFirstCommit, test::kModuleMode);
        PutStream(s, "Objects", bytes);
        s.CopyTo(temp);
        temp.CopyTo(s);
        EXPECT_EQ(GetStream(temp, "Objects"), bytes);
        EXPECT_FALSE(OCLStorage::IsStorageFile(file.c_str()));
        EXPECT_FALSE(OCLStorage::CompoundFileLibraryLoaded());
        EXPECT_FALSE(Mapped("libgsf"));
        EXPECT_FALSE(Mapped("libgobject"));
        EXPECT_TRUE(scratch.files().empty());
        s.Commit();
        EXPECT_TRUE(OCLStorage::CompoundFileLibraryLoaded());
        EXPECT_TRUE(Mapped("libgsf"));
    }
    EXPECT_EQ(GetStream(*std::make_unique<OCLStorage>(file.c_str(), 0, test::kReadOnlyMode),
                        "Objects"),
              bytes);
    EXPECT_EQ(scratch.files(), std::vector<std::string>{"m.qbo"});
}

// The container is read by the storage's own code, and a commit of a few
// changed bytes writes them in place: neither needs the library, which only
// lays out whole new files.
TEST(CompoundFileLibrary, IsNotLoadedToReadAFileOrCommitAChangeInPlace) {
    test::ScratchDir scratch;
    const std::string file = scratch.path("m.qbo");
    const Bytes objects = test::Pattern(200000, 3);
    const Bytes small = test::Pattern(300, 4);
    if (!IsFreshProcess()) {
        {
            OCLStorage s(file.c_str(), 1, test::kModuleMode);
            PutStream(s, "Objects", objects);
            PutStream(s, "Module version", small);
            s.Commit();
        }
        EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", file}}), 0);
        Bytes changed = objects;
        changed[150000] ^= 0xFF;
        OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(GetStream(reader, "Objects"), changed) << "the child committed its change";
        return;
    }
    const std::string existing = FreshProcessArg("TQ_FILE");
    {
        OCLStorage reader(existing.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(GetStream(reader, "Objects"), objects);
        EXPECT_EQ(GetStream(reader, "Module version"), small);
    }
    struct stat before, after;
    ASSERT_EQ(::stat(existing.c_str(), &before), 0);
    {
        OCLStorage s(existing.c_str(), 0, test::kModuleMode);
        OCLStream stream(s, "Objects", 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        stream.seek(150000);
        const uint8_t flipped = objects[150000] ^ 0xFF;
        stream.write(&flipped, 1);
        s.Commit();
    }
    ASSERT_EQ(::stat(existing.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the commit was not made in place";
    EXPECT_FALSE(OCLStorage::CompoundFileLibraryLoaded());
    EXPECT_FALSE(Mapped("libgsf"));
    EXPECT_FALSE(Mapped("libgobject"));
}

TEST(CompoundFileLibrary, ThatCannotBeLoadedFailsEveryUseWithItsNameAndTheFile) {
    test::ScratchDir scratch;
    const std::string file = scratch.path("m.qbo");
    if (!IsFreshProcess()) {
        {
            OCLStorage s(file.c_str(), 1, test::kModuleMode);
            PutStream(s, "Objects", test::Pattern(10, 1));
            s.Commit();
        }
        EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", file}}), 0);
        return;
    }
    const std::string existing = FreshProcessArg("TQ_FILE");
    const Bytes before = test::ReadFile(existing);
    OCLStorage::SetCompoundFileLibrary("libtq-no-such-gsf.so.7");
    // Reading needs no library.
    for (int attempt = 0; attempt < 2; ++attempt) {
        OCLStorage reader(existing.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(GetStream(reader, "Objects"), test::Pattern(10, 1));
    }
    EXPECT_TRUE(OCLStorage::IsStorageFile(existing.c_str())) << "the signature needs no library";
    // A storage without a file works until it must write one.
    OCLStorage s(file.c_str(), kCreateOnFirstCommit, test::kModuleMode);
    PutStream(s, "Objects", test::Pattern(10, 2));
    EXPECT_STORAGE_ERROR(s.Commit(), file + ": cannot use compound files: libtq-no-such-gsf.so.7 "
                                            "could not be loaded: ");
    EXPECT_TRUE(scratch.files().empty());
    EXPECT_STORAGE_ERROR(OCLStorage(scratch.path("n.qbo").c_str(), 1, test::kModuleMode),
                         "could not be loaded");
    EXPECT_TRUE(scratch.files().empty()) << "a creation that failed leaves nothing";
    EXPECT_EQ(test::ReadFile(existing), before);
    EXPECT_FALSE(OCLStorage::CompoundFileLibraryLoaded());
}

}  // namespace
}  // namespace tq
