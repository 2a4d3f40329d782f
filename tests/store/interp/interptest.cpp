#include "tests/store/interp/interptest.h"

#include "platform/storage/oclstorage.h"
#include "store/interp/lookcache.h"
#include "store/vals.h"

namespace tq {

void InterpTest::SetUpTestSuite() { IdString::Initialize(); }

void InterpTest::SetUp() {
    ObjectStore::OpenModule(DETACHED_MODULE);
    objectsAtStart_ = InterObjRep::LiveCount();
    signaturesAtStart_ = SignatureRep::LiveCount();
    blocksAtStart_ = BlockRep::LiveCount();
    valuesAtStart_ = Value::LiveCount();
}

void InterpTest::TearDown() {
    std::vector<InterObjRep*> statics;
    ObjectStore::Dictionary(DETACHED_MODULE).forEach([&](StaticGlobals::Entry& e) {
        if (InterObjRep* o = e.object.get()) statics.push_back(o);
    });
    for (InterObjRep* o : statics) {
        if (!o->isDestroyStarted()) o->Destroy();
    }
    while (!modules_.empty()) {
        modules_.back().reset();
        modules_.pop_back();
    }
    InterObjRep::DeleteObjects();
    ObjectStore::OpenModule(DETACHED_MODULE);
    EXPECT_EQ(ExecutionStack::activeFrames(), 0) << "frames left on the stack";
    EXPECT_EQ(LookupCachePool::Used(), 0u) << "cache slots left in use";
    EXPECT_EQ(BlockRep::LiveCount(), blocksAtStart_) << "blocks left in memory";
    EXPECT_EQ(InterObjRep::LiveCount(), objectsAtStart_) << "objects left in memory";
    EXPECT_EQ(SignatureRep::LiveCount(), signaturesAtStart_) << "signatures left in memory";
    EXPECT_EQ(Value::LiveCount(), valuesAtStart_) << "values left in memory";
}

tModuleIndex InterpTest::openModule(const std::string& path) {
    auto* storage = path.empty() ? new OCLStorage()
                                 : new OCLStorage(path.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    modules_.push_back(std::make_unique<ObjectStore>(storage));
    const tModuleIndex m = modules_.back()->moduleIndex();
    ObjectStore::OpenModule(m);
    return m;
}

void InterpTest::closeModule(tModuleIndex m) {
    for (size_t i = 0; i < modules_.size(); ++i)
        if (modules_[i]->moduleIndex() == m) {
            modules_.erase(modules_.begin() + static_cast<ptrdiff_t>(i));
            return;
        }
}

InterObjRep* InterpTest::named(const char* name) {
    return InterObjRep::NewNamed(name, nullptr, ObjectStore::OpenModule(), IOT_ORDINARY);
}

void InterpTest::addData(InterObjRep* o, const char* name, IdType type) {
    o->addField(InterDataField::make(name, type, 1));
}

InterObjRep* InterpTest::counterObject(const char* name) {
    InterObjRep* o = named(name);
    addData(o, "Count", IDT_LONG);
    addData(o, "Total", IDT_DOUBLE);
    AddProcedure(o, R"(
        Sub Add(k As Long)
          Count = Count + 1
          Total = Total + k
        End Sub
    )");
    return o;
}

ValuePtr InterpTest::Call(InterObjRep* obj, const char* name, std::initializer_list<ValuePtr> args) {
    // A call lists its arguments last first.
    ValueList list;
    for (const ValuePtr& a : args) list.ppush(a);
    int handled = 0;
    ValuePtr v = obj->eval(name, IDT_UNTYPED, &list, nullptr, EVAL_DOTTED, &handled, nullptr);
    if (!handled) throw NotFound(32740, name);
    return v;
}

std::string InterpTest::FailureText(const std::function<void()>& f) {
    try {
        f();
    } catch (const StoreException& e) {
        return e.what();
    }
    return "no failure";
}

}  // namespace tq
