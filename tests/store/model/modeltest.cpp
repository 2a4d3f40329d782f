#include "tests/store/model/modeltest.h"

#include "platform/storage/oclstorage.h"
#include "store/model/enum.h"
#include "store/model/fldval.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/sigproxy.h"

namespace tq {

void ModelTest::SetUpTestSuite() { IdString::Initialize(); }

void ModelTest::SetUp() {
    ObjectStore::OpenModule(DETACHED_MODULE);
    objectsAtStart_ = InterObjRep::LiveCount();
    signaturesAtStart_ = SignatureRep::LiveCount();
}

void ModelTest::TearDown() {
    // Static objects of the detached module live until they are destroyed.
    std::vector<InterObjRep*> statics;
    ObjectStore::Dictionary(DETACHED_MODULE).forEach([&](StaticGlobals::Entry& e) {
        if (InterObjRep* o = e.object.get()) statics.push_back(o);
    });
    for (InterObjRep* o : statics) {
        try {
            if (!o->isDestroyStarted()) o->Destroy();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "destroying " << o->name() << ": " << e.what();
            ObjectStore::removeStaticGlobal(*o, DETACHED_MODULE);
        }
    }
    while (!modules_.empty()) {
        modules_.back().reset();
        modules_.pop_back();
    }
    InterObjRep::DeleteObjects();
    ObjectStore::OpenModule(DETACHED_MODULE);
    EXPECT_EQ(InterObjRep::LiveCount(), objectsAtStart_) << "objects left in memory";
    EXPECT_EQ(SignatureRep::LiveCount(), signaturesAtStart_) << "signatures left in memory";
}

tModuleIndex ModelTest::openModule(const std::string& path) {
    auto* storage = path.empty() ? new OCLStorage()
                                 : new OCLStorage(path.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    modules_.push_back(std::make_unique<ObjectStore>(storage));
    const tModuleIndex m = modules_.back()->moduleIndex();
    ObjectStore::OpenModule(m);
    return m;
}

void ModelTest::closeModule(tModuleIndex m) {
    for (size_t i = 0; i < modules_.size(); ++i)
        if (modules_[i]->moduleIndex() == m) {
            modules_.erase(modules_.begin() + static_cast<ptrdiff_t>(i));
            return;
        }
}

void ModelTest::saveTables(tModuleIndex m) { ObjectStore::Save(m); }

InterObjRep* ModelTest::named(const char* name) {
    return InterObjRep::NewNamed(name, nullptr, ObjectStore::OpenModule(), IOT_ORDINARY);
}

InterDataField* ModelTest::dataField(const char* name, IdType type, const char* typeName) {
    return InterDataField::make(name, type, 1, typeName);
}

void ModelTest::addData(InterObjRep* o, const char* name, IdType type) { o->addField(dataField(name, type)); }

std::string ModelTest::FailureText(const std::function<void()>& f) {
    try {
        f();
    } catch (const StoreException& e) {
        return e.what();
    }
    return "no failure";
}

}  // namespace tq
