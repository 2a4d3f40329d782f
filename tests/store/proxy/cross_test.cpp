// Modules that refer to one another, saved to files and loaded again by
// processes that have never seen them in memory, in every order: the
// replacement object and its warning, resolution without a warning, a
// prototype that changed meanwhile, unnamed objects, unloading what others
// use, proxies that are no longer needed, and a module unloaded and loaded
// again while the others stay.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/objval.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "store/sigproxy.h"
#include "store/storeapp.h"
#include "tests/store/model/streams.h"
#include "tests/support/asserts.h"
#include "tests/support/boxapp.h"
#include "tests/support/fieldaccess.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

class NamesEnvironment : public ::testing::Environment {
public:
    void SetUp() override { IdString::Initialize(); }
    void TearDown() override { IdString::Terminate(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NamesEnvironment);

const char* const kMissing =
    "Proxy Resolve Failure due to Prototype missing for \nthe object: Form1.\n"
    "Making the replacement object: Form1Proxy\nin order to satisy the expected prototype.";
const char* const kMismatch =
    "Proxy Resolve Failure due to Prototype mismatch for \nthe object: Form1.\n"
    "Making the replacement object: Form1Proxy\nin order to satisy the expected prototype.";

class CrossModule : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = std::make_unique<MessageBoxApp>();
        objects_ = InterObjRep::LiveCount();
        signatures_ = SignatureRep::LiveCount();
        if (IsFreshProcess()) {
            pathA_ = FreshProcessArg("TQ_A");
            pathB_ = FreshProcessArg("TQ_B");
            pathC_ = FreshProcessArg("TQ_C");
        } else {
            pathA_ = dir_.file("a.qbo");
            pathB_ = dir_.file("b.qbo");
            pathC_ = dir_.file("c.qbo");
        }
    }
    void TearDown() override {
        unloadAll();
        EXPECT_EQ(InterObjRep::LiveCount(), objects_) << "objects left in memory";
        EXPECT_EQ(SignatureRep::LiveCount(), signatures_) << "signatures left in memory";
        app_.reset();
    }

    void unloadAll() {
        std::vector<tModuleIndex> all;
        for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
             m = ObjectStore::NextValidIndex(m))
            all.push_back(m);
        all.push_back(NO_MODULE);
        ObjectStore::UnloadModules(all.data());
        InterObjRep::DeleteObjects();
    }
    int child(const std::string& order) {
        return RunInFreshProcess({{"TQ_A", pathA_}, {"TQ_B", pathB_}, {"TQ_C", pathC_}, {"TQ_ORDER", order}});
    }

    static tModuleIndex load(const std::string& path) {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        EXPECT_TRUE(ObjectStore::ValidIndex(m));
        return m;
    }
    static void save(tModuleIndex m) {
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
    }
    static InterObjRep* found(const char* name) {
        InterObj o;
        return ObjectStore::find(name, o) ? o.get() : nullptr;
    }
    static void addData(InterObjRep* o, const char* name, IdType type) {
        o->addField(InterDataField::make(name, type, 1));
    }

    // A: Form1 (Count, Caption) and Loose, an unnamed object.
    // B: Copy1, a named clone of Form1 (42, "hello"), an unnamed clone (7),
    // and Holder, whose Ref names Form1 and whose Other names Loose.
    void makeAandB() {
        const tModuleIndex a = load(pathA_);
        InterObjRep* form = InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY);
        addData(form, "Count", IDT_LONG);
        addData(form, "Caption", IDT_STRING);
        InterObjRep* loose = InterObjRep::NewCopy(*form, a, IOT_DYNAMIC);
        const tModuleIndex b = load(pathB_);
        InterObjRep* copy = InterObjRep::NewNamed("Copy1", form, b, IOT_ORDINARY);
        setLong(copy, "Count", 42);
        ObjectStore::OpenModule(b);
        setText(copy, "Caption", "hello");
        setLong(InterObjRep::NewCopy(*form, b, IOT_DYNAMIC), "Count", 7);
        InterObjRep* holder = InterObjRep::NewNamed("Holder", nullptr, b, IOT_ORDINARY);
        addData(holder, "Ref", IDT_OBJECT);
        addData(holder, "Other", IDT_OBJECT);
        setObject(holder, "Ref", form);
        setObject(holder, "Other", loose);
        save(a);
        save(b);
        unloadAll();
    }

    // B's unnamed clone, read through B's list of dynamic objects.
    static InterObjRep* unnamedCopy(tModuleIndex b) {
        DynamicObjectList& list = ObjectStore::DynamicsList(b);
        return list.length() == 1 ? list[0].get() : nullptr;
    }

    std::unique_ptr<MessageBoxApp> app_;
    ScratchDir dir_;
    std::string pathA_, pathB_, pathC_;
    size_t objects_ = 0, signatures_ = 0;
};

TEST_F(CrossModule, AModuleLoadedWithoutThePrototypesModuleKeepsItsObjectsInAReplacement) {
    if (IsFreshProcess()) {
        const tModuleIndex b = load(pathB_);
        ASSERT_EQ(app_->boxes.size(), 1u);
        EXPECT_EQ(app_->boxes[0].text, kMissing);
        EXPECT_EQ(app_->boxes[0].caption, "Proxy Resolve Warning");
        EXPECT_EQ(app_->boxes[0].style, 0x2030u);
        InterObjRep* replacement = found("Form1Proxy");
        ASSERT_NE(replacement, nullptr);
        EXPECT_EQ(replacement->moduleIndex(), b);
        InterObjRep* copy = found("Copy1");
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->signature(), replacement->signature());
        EXPECT_EQ(getLong(copy, "Count"), 42);
        EXPECT_EQ(getText(copy, "Caption"), "hello");
        ASSERT_NE(unnamedCopy(b), nullptr);
        EXPECT_EQ(getLong(unnamedCopy(b), "Count"), 7);
        // References to A's objects read null, without an error.
        InterObjRep* holder = found("Holder");
        EXPECT_EQ(getObject(holder, "Ref"), nullptr);
        EXPECT_EQ(getObject(holder, "Other"), nullptr);
        return;
    }
    makeAandB();
    EXPECT_EQ(child("B"), 0);
}

TEST_F(CrossModule, TheOrderOfLoadingDecidesWhetherThePrototypeIsFound) {
    if (IsFreshProcess()) {
        const std::string order = FreshProcessArg("TQ_ORDER");
        if (order == "AB") {
            load(pathA_);
            load(pathB_);
        } else if (order == "BA") {
            load(pathB_);
            load(pathA_);
        } else {
            // One list resolves after every module of it is in.
            const std::string list = pathB_ + ";" + pathA_;
            const std::vector<tModuleIndex> loaded = ObjectStore::LoadModules(list.c_str());
            ASSERT_EQ(loaded.size(), 3u);
        }
        InterObjRep* form = found("Form1");
        InterObjRep* copy = found("Copy1");
        ASSERT_TRUE(form && copy);
        if (order == "BA") {
            ASSERT_EQ(app_->boxes.size(), 1u);
            EXPECT_EQ(app_->boxes[0].text, kMissing);
            EXPECT_NE(copy->signature(), form->signature());
        } else {
            EXPECT_TRUE(app_->boxes.empty());
            EXPECT_EQ(copy->signature(), form->signature());
            EXPECT_EQ(form->signature()->protoObject(), form);
            EXPECT_EQ(found("Form1Proxy"), nullptr);
        }
        EXPECT_EQ(getLong(copy, "Count"), 42);
        EXPECT_EQ(getText(copy, "Caption"), "hello");
        // Object references are looked up when used, so A's Form1 is found
        // in every order; the unnamed object was saved as null.
        InterObjRep* holder = found("Holder");
        EXPECT_EQ(getObject(holder, "Ref"), form);
        EXPECT_EQ(getObject(holder, "Other"), nullptr);
        return;
    }
    makeAandB();
    EXPECT_EQ(child("AB"), 0);
    EXPECT_EQ(child("BA"), 0);
    EXPECT_EQ(child("LIST"), 0);
}

TEST_F(CrossModule, AFieldAddedToThePrototypeSinceIsAMismatch) {
    if (IsFreshProcess()) {
        // With A loaded second, B finds no Form1 at all.
        const bool bFirst = FreshProcessArg("TQ_ORDER") == "BA";
        load(bFirst ? pathB_ : pathA_);
        load(bFirst ? pathA_ : pathB_);
        ASSERT_EQ(app_->boxes.size(), 1u);
        EXPECT_EQ(app_->boxes[0].text, bFirst ? kMissing : kMismatch);
        InterObjRep* copy = found("Copy1");
        EXPECT_NE(copy->signature(), found("Form1")->signature());
        EXPECT_EQ(copy->signature(), found("Form1Proxy")->signature());
        EXPECT_EQ(copy->dataSize(), 9u);
        EXPECT_EQ(getLong(copy, "Count"), 42);
        return;
    }
    makeAandB();
    const tModuleIndex a = load(pathA_);
    addData(found("Form1"), "Extra", IDT_LONG);
    save(a);
    unloadAll();
    EXPECT_EQ(child("AB"), 0);
    EXPECT_EQ(child("BA"), 0);
}

TEST_F(CrossModule, AModuleOthersUseGoesOnlyTogetherWithThem) {
    if (IsFreshProcess()) {
        const std::string order = FreshProcessArg("TQ_ORDER");
        // "LIST...": B takes the lower slot, so it goes first when
        // everything goes at once.
        if (order.rfind("LIST", 0) == 0) {
            const std::string list = pathB_ + ";" + pathA_;
            ObjectStore::LoadModules(list.c_str());
        } else {
            load(pathA_);
            load(pathB_);
        }
        const tModuleIndex a = ObjectStore::FindModule(pathA_.c_str());
        const tModuleIndex b = ObjectStore::FindModule(pathB_.c_str());
        ASSERT_TRUE(ObjectStore::ValidIndex(a) && ObjectStore::ValidIndex(b));
        // B's clones are not even read yet: B still uses A.
        try {
            ObjectStore::UnloadModule(a);
            ADD_FAILURE() << "A went while B uses it";
        } catch (const StoreException& e) {
            EXPECT_STREQ(e.what(), "Module is in use and cannot be unloaded.");
        }
        EXPECT_TRUE(ObjectStore::ValidIndex(a));
        // Once they are read, all the more.
        ASSERT_NE(found("Copy1"), nullptr);
        ASSERT_NE(getObject(found("Holder"), "Ref"), nullptr);
        EXPECT_THROW(ObjectStore::UnloadModule(a), StoreException);
        // Together they go in any order, and so does everything at once.
        if (order == "ALL" || order == "LISTALL") {
            ObjectStore::UnloadAllModules(0);
        } else {
            const tModuleIndex both[] = {order == "AB" ? a : b, order == "AB" ? b : a, NO_MODULE};
            ObjectStore::UnloadModules(both);
        }
        EXPECT_EQ(ObjectStore::ModuleCount(), 0);
        InterObjRep::DeleteObjects();
        EXPECT_EQ(InterObjRep::LiveCount(), objects_);
        EXPECT_EQ(SignatureRep::LiveCount(), signatures_);
        return;
    }
    makeAandB();
    EXPECT_EQ(child("AB"), 0);
    EXPECT_EQ(child("BA"), 0);
    EXPECT_EQ(child("ALL"), 0);
    EXPECT_EQ(child("LISTALL"), 0);
}

TEST_F(CrossModule, AProxyIsNotWrittenOnceItsModuleHoldsNothingOfTheSignature) {
    if (IsFreshProcess()) {
        if (FreshProcessArg("TQ_ORDER") == "B") {
            // Nothing of A is left in B: no warning, no replacement.
            load(pathB_);
            EXPECT_TRUE(app_->boxes.empty());
            EXPECT_EQ(found("Form1Proxy"), nullptr);
            return;
        }
        load(pathA_);
        const tModuleIndex b = load(pathB_);
        found("Copy1")->Destroy();
        unnamedCopy(b)->Destroy();
        save(b);
        return;
    }
    makeAandB();
    EXPECT_EQ(child("AB"), 0);
    // An independent look at B's file: its signature proxy is gone.
    {
        OCLStorage storage(pathB_.c_str(), 0, STGM_READ | STGM_SHARE_DENY_WRITE);
        OCLStream s(storage, "SignatureProxies", 0, STGM_READ | STGM_SHARE_EXCLUSIVE);
        std::vector<uint8_t> b(s.size());
        s.read(b.data(), b.size());
        ASSERT_GE(b.size(), 16u);
        const uint32_t array = LoadLE32(&b[4]);
        const uint32_t count = LoadLE32(&b[array]);
        for (uint32_t i = 0; i < count; ++i) EXPECT_NE(b[array + 8 + 13 * i] & 0x05, 0x01) << "entry " << i;
    }
    EXPECT_EQ(child("B"), 0);
}

TEST_F(CrossModule, AModuleUnloadedAndLoadedAgainWhileOthersStayGetsEveryReferenceBack) {
    if (IsFreshProcess()) {
        load(pathA_);
        InterObjRep* form = found("Form1");
        SignatureRep* s = form->signature();
        const uint16_t formCount = form->refCount();
        const uint16_t sigCount = s->refCount();
        const size_t objectsOfA = s->objects().length();
        for (int round = 0; round < 3; ++round) {
            const tModuleIndex b = load(pathB_);
            InterObjRep* copy = found("Copy1");
            ASSERT_NE(copy, nullptr);
            EXPECT_EQ(copy->signature(), s);
            EXPECT_EQ(getLong(copy, "Count"), 42);
            ASSERT_NE(unnamedCopy(b), nullptr);
            EXPECT_EQ(unnamedCopy(b)->signature(), s);
            EXPECT_EQ(getObject(found("Holder"), "Ref"), form);
            EXPECT_EQ(s->objects().length(), objectsOfA + 2);
            ObjectStore::UnloadModule(b);
            InterObjRep::DeleteObjects();
            // Nothing of B is left in A's signature, and every count B took
            // is given back.
            EXPECT_EQ(s->objects().length(), objectsOfA);
            EXPECT_EQ(s->proxyRecord(), nullptr);
            EXPECT_EQ(form->refCount(), formCount);
            EXPECT_EQ(s->refCount(), sigCount);
        }
        EXPECT_TRUE(app_->boxes.empty());
        return;
    }
    makeAandB();
    EXPECT_EQ(child("A"), 0);
}

TEST_F(CrossModule, ModulesThatReferToTheModuleThatGoesLookItUpAgainWhenItIsBack) {
    if (IsFreshProcess()) {
        const tModuleIndex a = load(pathA_);
        load(pathB_);
        // B's clones go, so that A may go; Holder keeps naming Form1.
        found("Copy1")->Destroy();
        unnamedCopy(ObjectStore::NextValidIndex(a))->Destroy();
        InterObjRep* holder = found("Holder");
        ASSERT_NE(getObject(holder, "Ref"), nullptr);
        ObjectStore::UnloadModule(a);
        InterObjRep::DeleteObjects();
        EXPECT_EQ(getObject(holder, "Ref"), nullptr);
        load(pathA_);
        InterObjRep* form = getObject(holder, "Ref");
        ASSERT_NE(form, nullptr);
        EXPECT_EQ(form, found("Form1"));
        return;
    }
    makeAandB();
    EXPECT_EQ(child("AB"), 0);
}

TEST_F(CrossModule, AReplacementSavedWithItsModuleIsFoundAgainNextTime) {
    if (IsFreshProcess()) {
        const tModuleIndex b = load(pathB_);
        ASSERT_EQ(app_->boxes.size(), 1u);
        InterObjRep* copy = found("Copy1");
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->signature(), found("Form1Proxy")->signature());
        EXPECT_EQ(found("Form1Proxy1"), nullptr);
        EXPECT_EQ(getLong(copy, "Count"), 42);
        EXPECT_EQ(getLong(unnamedCopy(b), "Count"), 7);
        if (FreshProcessArg("TQ_ORDER") == "save") save(b);
        return;
    }
    makeAandB();
    EXPECT_EQ(child("save"), 0);
    EXPECT_EQ(child("again"), 0);
}

// A: Shape, made from Base with a field of its own, so that its fields lie
// in two sections. B: Copy1, a clone of Shape. B alone is loaded and saved
// again and again: the replacement made the first time lays the fields in
// one section, and every later load must know it as the one it made.
TEST_F(CrossModule, AReplacementOfAChildSignatureIsMadeOnceHoweverOftenItsModuleIsSaved) {
    if (IsFreshProcess()) {
        const tModuleIndex b = load(pathB_);
        InterObjRep* replacement = found("ShapeProxy");
        ASSERT_NE(replacement, nullptr);
        EXPECT_EQ(found("ShapeProxy1"), nullptr);
        InterObjRep* copy = found("Copy1");
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->signature(), replacement->signature());
        EXPECT_EQ(getLong(copy, "Id"), 9);
        const int32_t sides = getLong(copy, "Sides");
        EXPECT_GE(sides, 3);
        setLong(copy, "Sides", sides + 1);
        save(b);
        return;
    }
    const tModuleIndex a = load(pathA_);
    InterObjRep* base = InterObjRep::NewNamed("Base", nullptr, a, IOT_ORDINARY);
    addData(base, "Id", IDT_LONG);
    InterObjRep* shape = InterObjRep::NewNamed("Shape", base, a, IOT_ORDINARY);
    addData(shape, "Sides", IDT_LONG);
    ASSERT_EQ(shape->signature()->parent(), base->signature());
    const tModuleIndex b = load(pathB_);
    InterObjRep* copy = InterObjRep::NewNamed("Copy1", shape, b, IOT_ORDINARY);
    ObjectStore::OpenModule(b);
    setLong(copy, "Id", 9);
    setLong(copy, "Sides", 3);
    save(a);
    save(b);
    unloadAll();
    for (int run = 0; run < 3; ++run) EXPECT_EQ(child("B"), 0) << "run " << run;
    const tModuleIndex again = load(pathB_);
    EXPECT_EQ(getLong(found("Copy1"), "Sides"), 6);
    EXPECT_EQ(found("ShapeProxy1"), nullptr);
    (void)again;
}

// A: Form1 and Wide, whose name is as long as an identifier may be. B:
// clones of both, and an object of its own that already has the name
// Form1's replacement would take.
TEST_F(CrossModule, AReplacementTakesAnotherNameWhenItsOwnIsTakenOrTooLong) {
    const char* const kWide = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcde";
    if (IsFreshProcess()) {
        load(pathB_);
        ASSERT_EQ(app_->boxes.size(), 2u);
        InterObjRep* wide = found("ABCDEFGHIJKLMNOPQRSTUVWXYZProxy");
        InterObjRep* form = found("Form1Proxy1");
        ASSERT_TRUE(wide && form);
        EXPECT_EQ(found("Copy1")->signature(), wide->signature());
        EXPECT_EQ(found("Copy2")->signature(), form->signature());
        EXPECT_EQ(getLong(found("Copy1"), "Count"), 1);
        EXPECT_EQ(getLong(found("Copy2"), "Count"), 2);
        EXPECT_EQ(getText(found("Form1Proxy"), "Other"), "mine");
        // Each warning names the object that was really made.
        int named = 0;
        for (const auto& box : app_->boxes)
            for (const char* made : {"Form1Proxy1\n", "ABCDEFGHIJKLMNOPQRSTUVWXYZProxy\n"})
                if (box.text.find(std::string("Making the replacement object: ") + made) != std::string::npos) ++named;
        EXPECT_EQ(named, 2);
        return;
    }
    const tModuleIndex a = load(pathA_);
    InterObjRep* wide = InterObjRep::NewNamed(kWide, nullptr, a, IOT_ORDINARY);
    addData(wide, "Count", IDT_LONG);
    InterObjRep* form = InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY);
    addData(form, "Count", IDT_LONG);
    const tModuleIndex b = load(pathB_);
    InterObjRep* mine = InterObjRep::NewNamed("Form1Proxy", nullptr, b, IOT_ORDINARY);
    addData(mine, "Other", IDT_STRING);
    setText(mine, "Other", "mine");
    setLong(InterObjRep::NewNamed("Copy1", wide, b, IOT_ORDINARY), "Count", 1);
    setLong(InterObjRep::NewNamed("Copy2", form, b, IOT_ORDINARY), "Count", 2);
    save(a);
    save(b);
    unloadAll();
    EXPECT_EQ(child("B"), 0);
}

// B's signature proxy is spoilt to name B's own Loop1, and Loop1's
// signature to be that proxy: looking the name up reads Loop1, which asks
// the proxy again.
TEST_F(CrossModule, AProxyThatStandsBehindItsOwnPrototypeFailsTheLoadCleanly) {
    if (IsFreshProcess()) {
        ScopedThrowingAsserts asserts;
        try {
            ObjectStore::LoadModule(pathB_.c_str(), 0, 0);
            ADD_FAILURE() << "the proxy resolved through itself";
        } catch (const ObjectLoadFailed& e) {
            EXPECT_NE(std::string(e.what()).find("stands behind the proxy itself"), std::string::npos) << e.what();
        }
        EXPECT_EQ(ObjectStore::ModuleCount(), 0);
        return;
    }
    const tModuleIndex a = load(pathA_);
    InterObjRep* form = InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY);
    addData(form, "Count", IDT_LONG);
    const tModuleIndex b = load(pathB_);
    InterObjRep::NewNamed("Copy1", form, b, IOT_ORDINARY);
    const uint32_t loop = InterObjRep::NewNamed("Loop1", nullptr, b, IOT_ORDINARY)->descriptor().descIndex();
    save(a);
    save(b);
    unloadAll();
    Patch(pathB_, "SignatureProxies", RecordOf(pathB_, "SignatureProxies", 0).offset + 4, {'L', 'o', 'o', 'p', '1'});
    Patch(pathB_, "Objects", RecordOf(pathB_, "Objects", loop).offset + 4 + 1, Reference(0x06, 0x80000000u));
    EXPECT_EQ(child("B"), 0);
}

// A: Form1 and the enumeration Colour. B: Keeper, whose Shade is typed by
// Colour and holds Blue, and whose array Items holds Form1 at 0.
TEST_F(CrossModule, EnumerationsAndObjectsInArraysOfAnotherModuleAreFoundByNameWhileItIsLoaded) {
    if (IsFreshProcess()) {
        const std::string order = FreshProcessArg("TQ_ORDER");
        if (order == "B") {
            load(pathB_);
            InterObjRep* keeper = found("Keeper");
            try {
                getText(keeper, "Shade");
                ADD_FAILURE() << "the enumeration of a module not loaded was found";
            } catch (const ProxyResolveFailed& e) {
                EXPECT_EQ(e.reason(), ProxyResolveFailed::ENUM_NOT_FOUND);
                EXPECT_STREQ(e.proxyName(), "Colour");
            }
            EXPECT_TRUE(Element(keeper, "Items", 0)->as<InterObj>().isNull());
            return;
        }
        const tModuleIndex a = load(pathA_);
        load(pathB_);
        InterObjRep* keeper = found("Keeper");
        EXPECT_EQ(getText(keeper, "Shade"), "Blue");
        EXPECT_EQ(Element(keeper, "Items", 0)->as<InterObj>().get(), found("Form1"));
        // A goes while B stays: B's references wait for it by name.
        ObjectStore::UnloadModule(a);
        InterObjRep::DeleteObjects();
        EXPECT_THROW(getText(keeper, "Shade"), ProxyResolveFailed);
        EXPECT_TRUE(Element(keeper, "Items", 0)->as<InterObj>().isNull());
        load(pathA_);
        EXPECT_EQ(getText(keeper, "Shade"), "Blue");
        EXPECT_EQ(Element(keeper, "Items", 0)->as<InterObj>().get(), found("Form1"));
        return;
    }
    const tModuleIndex a = load(pathA_);
    InterObjRep* form = InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY);
    auto* colour = new EnumRep("Colour", 0);
    colour->addEntry("Red", 1);
    colour->addEntry("Blue", 2);
    const tModuleIndex b = load(pathB_);
    InterObjRep* keeper = InterObjRep::NewNamed("Keeper", nullptr, b, IOT_ORDINARY);
    keeper->addField(InterEnumField::make("Shade", colour, 1));
    InterArrayField* items = InterArrayField::make("Items", IDT_OBJECT, 1);
    items->defineBounds(0, 0, 1);
    keeper->addField(items);
    setLong(keeper, "Shade", 2);
    *Element(keeper, "Items", 0) = ObjectValue(InterObj(form));
    save(a);
    save(b);
    unloadAll();
    EXPECT_EQ(child("AB"), 0);
    EXPECT_EQ(child("B"), 0);
}

// The entries of a proxy table that exist, counted in the file's own bytes.
size_t UsedEntries(const std::string& path, const char* stream) {
    const std::vector<uint8_t> b = ReadStream(path, stream);
    if (b.empty()) return 0;
    const uint32_t array = LoadLE32(&b[4]);
    size_t n = 0;
    for (uint32_t i = 0; i < LoadLE32(&b[array]); ++i) n += (b[array + 8 + 13 * i] & 0x05) == 0x01;
    return n;
}

// A: Form1, which embeds Button, and the enumeration Colour. B: Holder,
// whose Ref and Again name Form1, whose Btn names Form1.Button and whose
// Shade is typed by Colour. Each later process loads both, in turn in either
// order, checks what the one before wrote, changes every reference and
// saves B again.
TEST_F(CrossModule, AModuleSavedAgainByLaterProcessesKeepsOneProxyPerTarget) {
    if (IsFreshProcess()) {
        const std::string order = FreshProcessArg("TQ_ORDER");
        const int round = order[2] - '0';
        load(order[0] == 'B' ? pathB_ : pathA_);
        load(order[0] == 'B' ? pathA_ : pathB_);
        InterObjRep* holder = found("Holder");
        InterObjRep* form = found("Form1");
        InterObjRep* button = found("Form1.Button");
        ASSERT_TRUE(holder && form && button);
        const bool odd = round % 2;
        EXPECT_EQ(getObject(holder, "Ref"), form);
        EXPECT_EQ(getObject(holder, "Again"), round == 0 || !odd ? form : button);
        EXPECT_EQ(getObject(holder, "Btn"), round == 0 || !odd ? button : form);
        EXPECT_EQ(getText(holder, "Shade"), "Blue");
        const tModuleIndex b = ObjectStore::FindModule(pathB_.c_str());
        ObjectStore::OpenModule(b);
        setObject(holder, "Again", odd ? form : button);
        setObject(holder, "Btn", odd ? button : form);
        holder->addField(InterEnumField::make(("Hue" + std::to_string(round)).c_str(), EnumRep::find("Colour"), 1));
        save(b);
        return;
    }
    const tModuleIndex a = load(pathA_);
    InterObjRep* form = InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY);
    form->addField(new EmbedObjField("Button", nullptr));
    auto* colour = new EnumRep("Colour", 0);
    colour->addEntry("Blue", 2);
    const tModuleIndex b = load(pathB_);
    InterObjRep* holder = InterObjRep::NewNamed("Holder", nullptr, b, IOT_ORDINARY);
    for (const char* name : {"Ref", "Again", "Btn"}) addData(holder, name, IDT_OBJECT);
    holder->addField(InterEnumField::make("Shade", colour, 1));
    setObject(holder, "Ref", form);
    setObject(holder, "Again", form);
    setObject(holder, "Btn", found("Form1.Button"));
    setLong(holder, "Shade", 2);
    save(a);
    save(b);
    unloadAll();
    for (const char* order : {"AB0", "BA1", "AB2", "BA3"}) {
        EXPECT_EQ(child(order), 0) << order;
        EXPECT_EQ(UsedEntries(pathB_, "ObjectProxies"), 2u) << order;
        EXPECT_EQ(UsedEntries(pathB_, "EnumerationProxies"), 1u) << order;
    }
}

// A: Form1, whose Shade is typed by A's enumeration Colour. B: only Copy1,
// a clone of Form1. B's signature proxy of Form1's signature copies Shade,
// which names Colour through an enumeration proxy of B: the proxy table
// writes after the enumeration proxies, and one save must write both.
TEST_F(CrossModule, OneSaveWritesTheEnumerationProxiesThatItsSignatureProxiesNeed) {
    const tModuleIndex a = load(pathA_);
    InterObjRep* form = InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY);
    auto* colour = new EnumRep("Colour", 0);
    colour->addEntry("Blue", 2);
    form->addField(InterEnumField::make("Shade", colour, 1));
    setLong(form, "Shade", 2);
    const tModuleIndex b = load(pathB_);
    InterObjRep::NewNamed("Copy1", form, b, IOT_ORDINARY);
    save(a);
    ObjectStore::Save(b);
    EXPECT_FALSE(ObjectStore::IsDirty(b)) << "a save leaves nothing of the module unwritten";
    ObjectStore::Commit(b);
    unloadAll();
    EXPECT_EQ(UsedEntries(pathB_, "EnumerationProxies"), 1u);
    load(pathA_);
    load(pathB_);
    EXPECT_TRUE(app_->boxes.empty()) << app_->boxes[0].text;
    InterObjRep* copy = found("Copy1");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->signature(), found("Form1")->signature());
    EXPECT_EQ(getText(copy, "Shade"), "Blue");
}

// A: Form1. B: Form2, a named clone of Form1 given a field of its own, so
// its signature is a child of Form1's. C: Copy3, a clone of Form2.
TEST_F(CrossModule, ThreeModulesResolveAChainOfSignaturesInAnyOrderOfOneList) {
    if (IsFreshProcess()) {
        const std::string order = FreshProcessArg("TQ_ORDER");
        if (order == "C") {
            load(pathC_);
            EXPECT_EQ(app_->boxes.size(), 1u);
        } else {
            const std::string list =
                order == "ABC" ? pathA_ + ";" + pathB_ + ";" + pathC_ : pathC_ + ";" + pathB_ + ";" + pathA_;
            ObjectStore::LoadModules(list.c_str());
            EXPECT_TRUE(app_->boxes.empty());
            InterObjRep* copy = found("Copy3");
            ASSERT_NE(copy, nullptr);
            EXPECT_EQ(copy->signature(), found("Form2")->signature());
            EXPECT_EQ(copy->signature()->parent(), found("Form1")->signature());
        }
        InterObjRep* copy = found("Copy3");
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(getLong(copy, "Count"), 6);
        EXPECT_EQ(getText(copy, "Caption"), "chain");
        EXPECT_EQ(getLong(copy, "Extra"), 5);
        return;
    }
    const tModuleIndex a = load(pathA_);
    InterObjRep* form = InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY);
    addData(form, "Count", IDT_LONG);
    addData(form, "Caption", IDT_STRING);
    const tModuleIndex b = load(pathB_);
    InterObjRep* form2 = InterObjRep::NewNamed("Form2", form, b, IOT_ORDINARY);
    addData(form2, "Extra", IDT_LONG);
    const tModuleIndex c = load(pathC_);
    InterObjRep* copy = InterObjRep::NewNamed("Copy3", form2, c, IOT_ORDINARY);
    setLong(copy, "Count", 6);
    setLong(copy, "Extra", 5);
    setText(copy, "Caption", "chain");
    save(a);
    save(b);
    save(c);
    unloadAll();
    EXPECT_EQ(child("ABC"), 0);
    EXPECT_EQ(child("CBA"), 0);
    EXPECT_EQ(child("C"), 0);
}

}  // namespace
}  // namespace tq
