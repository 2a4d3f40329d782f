// A module file that another program replaces while a writer has it open (a
// backup restored, a sync tool, an editor's save) lets a second writer in.
// Neither commit may silently undo the other: the first writer's commit is
// refused and keeps its changes, which it can save elsewhere.
#include <cstdio>
#include <filesystem>
#include <string>

#include "store/errors/extexcep.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

using ReplacedFile = ModuleStoreTest;

void MakeModule(const std::string& path, const char* objectName) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    InterObjRep::NewNamed(objectName, nullptr, m, IOT_ORDINARY);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
}

TEST_F(ReplacedFile, AWriterWhoseFileWasReplacedCannotCommitOverTheSecondWritersCommit) {
    if (IsFreshProcess()) {
        // The second writer: the path names the restored copy, which nobody
        // holds, so it may open it for writing.
        const tModuleIndex m = load(FreshProcessArg("TQ_PATH"), 0);
        ASSERT_NE(found("Original"), nullptr);
        named("FromB", m);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        return;
    }
    const std::string path = file("shared.qbo");
    const std::string backup = file("backup.qbo");
    MakeModule(path, "Original");
    std::filesystem::copy_file(path, backup);

    const tModuleIndex a = load(path, 0);
    named("FromA", a);
    ObjectStore::Save(a);
    ASSERT_EQ(std::rename(backup.c_str(), path.c_str()), 0);
    ASSERT_EQ(RunInFreshProcess({{"TQ_PATH", path}}), 0);

    try {
        ObjectStore::Commit(a);
        ADD_FAILURE() << "the first writer committed over the second";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.name(), "ModuleSaveError");
        EXPECT_EQ(std::string(e.what()), "Could not save module: " + path + " (" + path +
                                             " was replaced by another program since it was opened)");
    }
    // The changes are kept: the host saves them elsewhere.
    const std::string elsewhere = file("elsewhere.qbo");
    ObjectStore::SaveAs(a, elsewhere.c_str(), 0);
    ObjectStore::UnloadModule(a);

    load(path, 0, 1);
    EXPECT_NE(found("FromB"), nullptr) << "the second writer's commit is there";
    EXPECT_EQ(found("FromA"), nullptr);
    ObjectStore::UnloadModule(ObjectStore::FindModule(path.c_str()));
    load(elsewhere, 0, 1);
    EXPECT_NE(found("FromA"), nullptr);
    EXPECT_NE(found("Original"), nullptr);
}

// A file that is merely gone leaves nobody's work to lose: the commit
// writes the module there again.
TEST_F(ReplacedFile, AWriterWhoseFileWasRemovedCommitsItAgain) {
    const std::string path = file("removed.qbo");
    MakeModule(path, "Original");
    const tModuleIndex a = load(path, 0);
    named("Later", a);
    ObjectStore::Save(a);
    ASSERT_EQ(std::remove(path.c_str()), 0);
    ObjectStore::Commit(a);
    ObjectStore::UnloadModule(a);
    load(path, 0, 1);
    EXPECT_NE(found("Original"), nullptr);
    EXPECT_NE(found("Later"), nullptr);
}

}  // namespace
}  // namespace tq::test
