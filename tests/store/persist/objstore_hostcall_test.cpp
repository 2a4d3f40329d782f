// Calls a careless host makes: module indexes that name no module, null
// arguments, objects held past their module. Each raises the store's
// exception with a clear text; none reaches an assertion, which would end
// the host's process.
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/tarrfld.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/persist/objstoretest.h"
#include "tests/support/asserts.h"

namespace tq::test {
namespace {

using HostCalls = ModuleStoreTest;

// The text of the StoreException the call raises; an assertion or a return
// is a failure of the test.
std::string Raised(const std::function<void()>& call) {
    ScopedThrowingAsserts throwing;
    try {
        call();
    } catch (const StoreException& e) {
        return e.what();
    } catch (const AssertionFailed& a) {
        return "assertion: " + a.text;
    }
    return "returned";
}

TEST_F(HostCalls, ModuleCallsWithAnIndexThatNamesNoLoadedModuleRaiseInvalidModuleIndex) {
    const tModuleIndex loaded = load(file("kept.qbo"));
    const tModuleIndex gone = load(file("gone.qbo"));
    ObjectStore::UnloadModule(gone);
    const std::string target = file("target.qbo");
    const std::vector<std::pair<const char*, std::function<void(tModuleIndex)>>> calls = {
        {"Save", [](tModuleIndex m) { ObjectStore::Save(m); }},
        {"Commit", [](tModuleIndex m) { ObjectStore::Commit(m); }},
        {"Compact", [](tModuleIndex m) { ObjectStore::Compact(m); }},
        {"SaveAs", [&](tModuleIndex m) { ObjectStore::SaveAs(m, target.c_str(), 0); }},
        {"IsDirty", [](tModuleIndex m) { ObjectStore::IsDirty(m); }},
        {"ModuleIsReadOnly", [](tModuleIndex m) { ObjectStore::ModuleIsReadOnly(m); }},
        {"ModuleIsText", [](tModuleIndex m) { ObjectStore::ModuleIsText(m); }},
        {"ModuleIsUntitled", [](tModuleIndex m) { ObjectStore::ModuleIsUntitled(m); }},
        {"FormatModuleDisplayName", [](tModuleIndex m) { ObjectStore::FormatModuleDisplayName(m); }},
        {"Dictionary", [](tModuleIndex m) { ObjectStore::Dictionary(m); }},
        {"DynamicsList", [](tModuleIndex m) { ObjectStore::DynamicsList(m); }},
        {"GetStaticObjects",
         [](tModuleIndex m) {
             GroupObjectList group;
             ObjectStore::GetStaticObjects(m, group, 1);
         }},
        {"GetDynamicObjects",
         [](tModuleIndex m) {
             GroupObjectList group;
             ObjectStore::GetDynamicObjects(m, group);
         }},
        {"GetPrototypeObjects",
         [](tModuleIndex m) {
             GroupObjectList group;
             ObjectStore::GetPrototypeObjects(m, group);
         }},
        {"ValidateNewStaticGlobal", [](tModuleIndex m) { ObjectStore::ValidateNewStaticGlobal("Fresh", m); }},
        {"NewNamed", [](tModuleIndex m) { InterObjRep::NewNamed("Fresh", nullptr, m, IOT_ORDINARY); }},
        {"New", [](tModuleIndex m) { InterObj o(InterObjRep::New(m, IOT_DYNAMIC)); }},
    };
    for (const tModuleIndex m : {tModuleIndex(200), NO_MODULE, gone}) {
        for (const auto& [name, call] : calls)
            EXPECT_EQ(Raised([&, &call = call] { call(m); }), "Invalid module index.")
                << name << "(" << int(m) << ")";
    }
    EXPECT_TRUE(ObjectStore::ValidIndex(loaded));
    EXPECT_EQ(ObjectStore::ModuleCount(), 1) << "nothing was loaded or made";
    EXPECT_EQ(found("Fresh"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(HostCalls, NullArgumentsAndACallWithoutAnApplicationRaise) {
    EXPECT_EQ(Raised([] { ObjectStore::UnloadModule(static_cast<ObjectStore*>(nullptr)); }),
              "ObjectStore::UnloadModule: no module was given");
    EXPECT_EQ(Raised([] { ObjectStore::UnloadModules(nullptr); }),
              "ObjectStore::UnloadModules: no list of modules was given");
    EXPECT_EQ(Raised([] { EnumRep e(nullptr, 0); }), "EnumRep: an enumeration needs a name");
    EXPECT_EQ(Raised([] { EnumRep e("", 0); }), "EnumRep: an enumeration needs a name");

    const std::string path = file("none.qbo");
    delete app_;
    app_ = nullptr;
    const std::string refused = Raised([&] { ObjectStore::LoadModule(path.c_str(), 1, 0); });
    const std::string untitled = Raised([] { ObjectStore::LoadModule(nullptr, 1, 0); });
    app_ = new TestApp;
    EXPECT_EQ(refused, "Could not open module: " + path + ": there is no application object");
    EXPECT_EQ(untitled, "Could not open module: there is no application object");
    EXPECT_FALSE(std::filesystem::exists(path)) << "no file is made for a module that cannot be";
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

TEST_F(HostCalls, BoundsOfADimensionTheArrayLacksOrOfAnArrayInUseAreRefused) {
    FieldPtr array(InterArrayField::make("Items", IDT_LONG, 2));
    auto* a = static_cast<InterArrayField*>(array.get());
    for (int32_t dimension : {-1, 2, 60}) {
        const std::string text = Raised([&] { a->defineBounds(dimension, 0, 3); });
        EXPECT_EQ(text, "Illegal dimension: " + std::to_string(dimension));
    }
    a->defineBounds(1, 0, 3);
    const tModuleIndex m = load(file("arrays.qbo"));
    InterObj o(named("Holder", m));
    o->addField(array.get());
    EXPECT_EQ(Raised([&] { a->defineBounds(0, 0, 9); }),
              "ArrayField::defineBounds: the array is in use; ReDim changes its bounds");
    EXPECT_EQ(a->getUBound(0), 0);
    EXPECT_EQ(o->dataSize(), 4u * 4) << "four Long elements, as defined before";
}

// Unloading takes the module's objects out of memory whatever holds them;
// a host's handle then reads null, and following it is the host's failure.
TEST_F(HostCalls, AnObjectHeldPastItsModulesUnloadReadsNullAndRaisesWhenFollowed) {
    const tModuleIndex m = load(file("held.qbo"));
    InterObj held(named("Kept", m));
    addData(held.get(), "N", IDT_LONG);
    ObjectStore::UnloadModule(m);
    EXPECT_TRUE(held.isNull());
    EXPECT_EQ(Raised([&] { (void)held->name(); }), "object is null");
    EXPECT_EQ(Raised([&] { (void)*held; }), "object is null");
    EXPECT_EQ(found("Kept"), nullptr);
}

}  // namespace
}  // namespace tq::test
