// Replacing a user's file whole: what the content, the path, the bits and
// the folder look like after each kind of target, and what a refused or
// failed replacement leaves.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/storage/filesave.h"
#include "platform/storage/fileops.h"
#include "platform/storage/fshooks.h"
#include "platform/storage/oclstorage.h"
#include "tests/platform/storage/storagetest.h"

namespace tq::test {
namespace {

std::string Text(const std::string& path) {
    const Bytes b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

void Put(const std::string& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }

unsigned ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string Refusal(const std::string& path, const std::string& text, const FileStamp* expected = nullptr) {
    try {
        ReplaceFileContent(path, text, expected);
    } catch (const StorageError& e) {
        return e.what();
    }
    return "";
}

// Counts the steps of a replacement in the order they reach the disk.
class StepLog : public FileSystemHooks {
public:
    std::string steps;
    void wrote(int) override { steps += "w"; }
    void flushedFile(int) override { steps += "f"; }
    void renamed(const std::string&) override { steps += "r"; }
    void flushedFolder(const std::string&) override { steps += "d"; }
};

TEST(FileSave, NewAndExistingFilesGetTheContentInDurableOrderKeepingBitsAndLinks) {
    ScratchDir dir;
    StepLog log;
    SetFileSystemHooks(&log);
    const FileStamp made = ReplaceFileContent(dir.path("new.tqs"), "first\n");
    SetFileSystemHooks(nullptr);
    EXPECT_EQ(log.steps, "wfrd");
    EXPECT_EQ(Text(dir.path("new.tqs")), "first\n");
    EXPECT_EQ(made, StampFile(dir.path("new.tqs")));

    // A private script stays private and executable; a link stays a link and
    // its target gets the content.
    Put(dir.path("script.tqs"), "old\n");
    ::chmod(dir.path("script.tqs").c_str(), 0750);
    ASSERT_EQ(::symlink("script.tqs", dir.path("link.tqs").c_str()), 0);
    ReplaceFileContent(dir.path("link.tqs"), "new\n");
    EXPECT_EQ(Text(dir.path("script.tqs")), "new\n");
    EXPECT_EQ(ModeOf(dir.path("script.tqs")), 0750u);
    struct stat st;
    ASSERT_EQ(::lstat(dir.path("link.tqs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"link.tqs", "new.tqs", "script.tqs"}));
}

TEST(FileSave, AFileChangedOrReplacedSinceItWasReadIsRefusedAndKept) {
    ScratchDir dir;
    const std::string path = dir.path("m.tqs");
    const FileStamp none;
    struct Case {
        const char* what;
        void (*change)(const std::string&);
        const char* refusal;
    };
    const Case cases[] = {
        {"written in place", [](const std::string& p) { Put(p, "edited in place, longer\n"); },
         " was replaced by another program since it was opened"},
        {"renamed over", [](const std::string& p) {
             Put(p + ".new", "editor\n");
             ::rename((p + ".new").c_str(), p.c_str());
         }, " was replaced by another program since it was opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(path, "read\n");
        const FileStamp stamp = StampFile(path);
        c.change(path);
        const std::string kept = Text(path);
        EXPECT_EQ(Refusal(path, "ours\n", &stamp), path + c.refusal);
        EXPECT_EQ(Text(path), kept);
    }
    // A file expected not to exist that another program made meanwhile.
    EXPECT_EQ(Refusal(path, "ours\n", &none), path + " was made by another program since this one started");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"m.tqs"});
}

TEST(FileSave, AnythingButARegularFileIsNeverReplacedNorAFileAnotherSaveHolds) {
    ScratchDir dir;
    ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0644), 0);
    ::mkdir(dir.path("folder").c_str(), 0755);
    for (const char* name : {"fifo", "folder"}) {
        EXPECT_EQ(Refusal(dir.path(name), "x"),
                  dir.path(name) + ": not a regular file (a device, a FIFO or a folder); it is not replaced");
    }
    struct stat st;
    ASSERT_EQ(::stat(dir.path("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // Another save of the same file holds its lock.
    Put(dir.path("held.tqs"), "theirs\n");
    UniqueFd holder(::open(dir.path("held.tqs").c_str(), O_RDONLY));
    ASSERT_TRUE(TryWriteLock(holder.get()));
    EXPECT_EQ(Refusal(dir.path("held.tqs"), "ours\n"),
              dir.path("held.tqs") + ": the file is being saved by another program");
    EXPECT_EQ(Text(dir.path("held.tqs")), "theirs\n");
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"fifo", "folder", "held.tqs"}));
}

TEST(FileSave, LeftoversOfAKilledSaveGoWithTheNextSaveAndAMovedFileKeepsTheOldBits) {
    ScratchDir dir;
    const std::string path = dir.path("m.qbo");
    Put(path, "old module\n");
    ::chmod(path.c_str(), 0600);
    Put(dir.path(".m.qbo.tq-Ab12Cd"), "half");
    ReplaceFileContent(path, "new module\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"m.qbo"});

    // A module written beside by its maker is moved over the target; its
    // own name has the leftovers' form and must survive until it is moved.
    const std::string beside = NameBesideTarget(path);
    EXPECT_EQ(beside.rfind(dir.path(".m.qbo.tq-"), 0), 0u);
    Put(beside, "built\n");
    ReplaceFileWith(beside, path);
    EXPECT_EQ(Text(path), "built\n");
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(dir.files(), std::vector<std::string>{"m.qbo"});

    // Refused: the new file goes, the target stays.
    ::mkfifo(dir.path("fifo").c_str(), 0644);
    const std::string another = NameBesideTarget(dir.path("fifo"));
    Put(another, "built\n");
    EXPECT_THROW(ReplaceFileWith(another, dir.path("fifo")), StorageError);
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"fifo", "m.qbo"}));
}

}  // namespace
}  // namespace tq::test
