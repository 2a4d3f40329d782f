#include "tests/store/persist/objstoretest.h"

#include "store/model/fldval.h"
#include "store/persist/desctab.h"
#include "store/persist/vlstrrep.h"

namespace tq::test {

void HookedStore::writeHook(tModuleIndex m) {
    Events().push_back("write " + std::to_string(m) + " writing " + std::to_string(ObjectStore::WritingModule()));
}

void HookedStore::deleteHook(tModuleIndex m) {
    Events().push_back("delete " + std::to_string(m) + " lock " + std::to_string(ObjectStore::LockState()));
}

void TestApp::loadText(const char* path, InterObj&) {
    Events().push_back(std::string("loadText ") + path);
    if (compile) compile(path);
}

void TestApp::saveText(const char* path, unsigned char module) {
    Events().push_back(std::string("saveText ") + path + " " + std::to_string(module));
}

int TestApp::messageBox(HWND, const char* text, const char* caption, unsigned style) {
    Events().push_back(std::string(caption) + "|" + text + "|" + std::to_string(style));
    return answer;
}

void TestApp::objectRenamed() {
    InterObjRep* o = RenamedObject();
    Events().push_back(std::string("renamed ") + (o && o->name() ? o->name() : "?"));
}

void TestApp::unloadingModule(unsigned char module) {
    Events().push_back("unloading " + std::to_string(module) + " lock " + std::to_string(ObjectStore::LockState()));
}

void ModuleStoreTest::SetUp() {
    Events().clear();
    app_ = new TestApp;
    ObjectStore::OpenModule(DETACHED_MODULE);
    objectsAtStart_ = InterObjRep::LiveCount();
    signaturesAtStart_ = SignatureRep::LiveCount();
}

void ModuleStoreTest::TearDown() {
    std::vector<InterObjRep*> statics;
    ObjectStore::Dictionary(DETACHED_MODULE).forEach([&](StaticGlobals::Entry& e) {
        if (InterObjRep* o = e.object.get()) statics.push_back(o);
    });
    for (InterObjRep* o : statics)
        if (!o->isDestroyStarted()) o->Destroy();
    for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
         m = ObjectStore::NextValidIndex(DETACHED_MODULE))
        ObjectStore::UnloadModule(ObjectStore::Module(m));
    ObjectStore::setLockState(LOCK_NORMAL);
    VoidDescriptionTable::SetSkipReclaim(false);
    InterObjRep::DeleteObjects();
    ObjectStore::OpenModule(DETACHED_MODULE);
    delete app_;
    EXPECT_EQ(InterObjRep::LiveCount(), objectsAtStart_) << "objects left in memory";
    EXPECT_EQ(SignatureRep::LiveCount(), signaturesAtStart_) << "signatures left in memory";
}

tModuleIndex ModuleStoreTest::load(const std::string& path, int32_t create, int32_t readOnly) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), create, readOnly);
    EXPECT_TRUE(ObjectStore::ValidIndex(m)) << path;
    return m;
}

InterObjRep* ModuleStoreTest::named(const char* name, tModuleIndex m, InterObjRep* copyOf) {
    return InterObjRep::NewNamed(name, copyOf, m, IOT_ORDINARY);
}

void ModuleStoreTest::addData(InterObjRep* o, const char* name, IdType type, const char* typeName) {
    o->addField(InterDataField::make(name, type, 1, typeName));
}

InterObjRep* ModuleStoreTest::found(const char* path) {
    InterObj o;
    return ObjectStore::find(path, o) ? o.get() : nullptr;
}

std::vector<uint8_t> ModuleStoreTest::StreamBytes(const std::string& path, const char* name) {
    OCLStorage storage(path.c_str(), 0, STGM_READ | STGM_SHARE_DENY_WRITE);
    OCLStream s(storage, name, 0, STGM_READ | STGM_SHARE_EXCLUSIVE);
    std::vector<uint8_t> bytes(s.size());
    s.read(bytes.data(), bytes.size());
    return bytes;
}

void ModuleStoreTest::WriteStream(const std::string& path, const char* name, const std::vector<uint8_t>& bytes,
                                  OCLStorage::ChecksumWriting checksums) {
    OCLStorage storage(path.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    OCLStream s(storage, name, 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.seek(0);
    s.write(bytes.data(), bytes.size());
    s.setSize(static_cast<uint32_t>(bytes.size()));
    CommitWritingChecksums(storage, checksums);
}

}  // namespace tq::test
