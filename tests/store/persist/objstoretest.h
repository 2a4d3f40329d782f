// The fixture of the module-store suites: a host application whose stores
// record what the store asks of them, modules in a scratch folder, and at the
// end of every test every module unloaded and every object freed.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "tests/support/checksumwriting.h"
#include "tests/support/freshproc.h"
#include "tests/support/fieldaccess.h"

namespace tq::test {

// What the hooks and the host heard, in order.
inline std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
}

// A store that tells its host's hooks apart: what the lock state and the
// module being written were when they ran.
class HookedStore : public ObjectStore {
public:
    explicit HookedStore(OCLStorage* storage) : ObjectStore(storage) {}
    bool isDirtyHook(tModuleIndex) override { return dirty; }
    void writeHook(tModuleIndex m) override;
    void deleteHook(tModuleIndex m) override;

    bool dirty = false;
};

class TestApp : public StoreApplication {
public:
    void appQuit() override {}
    ObjectStore* makeStore(OCLStorage* storage) override { return new HookedStore(storage); }
    int canLoadText() override { return textEnabled; }
    void loadText(const char* path, InterObj& module) override;
    void saveText(const char* path, unsigned char module) override;
    int messageBox(HWND owner, const char* text, const char* caption, unsigned style) override;
    void unloadingModule(unsigned char module) override;
    void moduleUnloaded() override { Events().push_back("moduleUnloaded"); }
    void objectRenamed() override;

    int textEnabled = 0;
    // Compiles a text module: gets the path, may make things in the current
    // module or throw.
    std::function<void(const char*)> compile;
    int answer = IDYES;
};

class ModuleStoreTest : public ::testing::Test {
public:
    // The bytes of a stream of the file at path, read with a storage of the
    // test's own; and the stream replaced by bytes. Damage written on
    // purpose makes by default a file without checksums, as written before
    // there were any, which is checked whole as it opens; kCompute makes a
    // forged file, whose bytes are sound and whose structure need not be.
    static std::vector<uint8_t> StreamBytes(const std::string& path, const char* name);
    static void WriteStream(const std::string& path, const char* name, const std::vector<uint8_t>& bytes,
                            OCLStorage::ChecksumWriting checksums = OCLStorage::ChecksumWriting::kOmit);

protected:
    void SetUp() override;
    void TearDown() override;

    std::string file(const std::string& name) const { return dir_.file(name); }
    // Loads (creating when missing) and asserts success.
    tModuleIndex load(const std::string& path, int32_t create = 1, int32_t readOnly = 0);

    // Things of the tests, made in module m.
    static InterObjRep* named(const char* name, tModuleIndex m, InterObjRep* copyOf = nullptr);
    static void addData(InterObjRep* o, const char* name, IdType type, const char* typeName = nullptr);
    static InterObjRep* found(const char* path);

    TestApp* app_ = nullptr;
    ScratchDir dir_;
    size_t objectsAtStart_ = 0;
    size_t signaturesAtStart_ = 0;
};

}  // namespace tq::test
