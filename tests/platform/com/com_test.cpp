// The COM-style layer: servers, factories, counted objects, the registry.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/classreg.h"
#include "platform/com/dllserv.h"
#include "platform/com/oclfact.h"
#include "platform/com/oclobj.h"
#include "platform/com/oleresult.h"

namespace tq {
namespace {

const char* const kWidgetText = "{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";
const CLSID kWidget = *GUID::Parse(kWidgetText);
const IID kIWidget = *GUID::Parse("{11111111-2222-3333-4444-555555555555}");
const IID kIOther = *GUID::Parse("{99999999-2222-3333-4444-555555555555}");

// An object offering IUnknown and IWidget; counts its destructions.
class Widget : public OCLObject {
public:
    explicit Widget(DllServer* server) : OCLObject(server) {}
    static int destroyed;

protected:
    ~Widget() override { ++destroyed; }
    IUnknown* findInterface(REFIID riid) override {
        return riid == kIWidget ? this : OCLObject::findInterface(riid);
    }
};
int Widget::destroyed = 0;

// Registers Widget for the test's duration.
class FactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Widget::destroyed = 0;
        ClassRegistry::Register("Test.Widget", kWidget,
                                [](DllServer* s) -> IUnknown* { return new Widget(s); });
    }
    void TearDown() override { ClassRegistry::Unregister(kWidget); }

    DllServer server;
    OCLFactory& factory = server.addFactory(kWidgetText);
};

TEST_F(FactoryTest, CreatedObjectKeepsTheServerInUseUntilItsLastRelease) {
    void* p = nullptr;
    ASSERT_EQ(factory.CreateInstance(nullptr, kIWidget, &p), S_OK);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(server.objectCount(), 1);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);

    auto* object = static_cast<IUnknown*>(p);
    // The caller holds the only reference: one AddRef and two Releases end it.
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(Widget::destroyed, 1);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(FactoryTest, AggregationIsRefusedAndNothingIsMade) {
    IUnknown* outer = new Widget(nullptr);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.CreateInstance(outer, kIWidget, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(server.objectCount(), 0);
    EXPECT_EQ(Widget::destroyed, 0);
    outer->Release();
}

TEST_F(FactoryTest, ObjectWithoutTheInterfaceIsDestroyedAtOnce) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory.CreateInstance(nullptr, kIOther, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Widget::destroyed, 1);
    EXPECT_EQ(server.objectCount(), 0);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(FactoryTest, ClassThatCannotBeMadeAnswersNoInterface) {
    ClassRegistry::Register("Test.Widget", kWidget, [](DllServer*) -> IUnknown* { return nullptr; });
    void* p = nullptr;
    EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, &p), E_NOINTERFACE);
    ClassRegistry::Unregister(kWidget);
    EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(FactoryTest, LockServerHoldsBalanceAndCannotGoNegative) {
    EXPECT_EQ(factory.LockServer(1), S_OK);
    EXPECT_EQ(factory.LockServer(1), S_OK);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory.LockServer(0), S_OK);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory.LockServer(0), S_OK);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
    // A release without a hold is refused and does not swallow the next hold.
    EXPECT_EQ(factory.LockServer(0), E_FAIL);
    EXPECT_EQ(factory.LockServer(1), S_OK);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory.LockServer(0), S_OK);
}

TEST_F(FactoryTest, FactoryReferencesCountOnTheServerOnly) {
    void* p = nullptr;
    ASSERT_EQ(server.getClassObject(kWidget, IID_IClassFactory, &p), S_OK);
    EXPECT_EQ(p, static_cast<IClassFactory*>(&factory));
    EXPECT_EQ(server.refCount(), 1u);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(server.refCount(), 0u);

    EXPECT_EQ(server.getClassObject(kWidget, kIWidget, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(server.getClassObject(kIOther, IID_IClassFactory, &p), E_FAIL);
    EXPECT_EQ(p, nullptr);
}

TEST(ClassRegistryTest, LooksUpBothWaysWithProgIdsWithoutCase) {
    const CLSID id = *GUID::Parse("{22222222-0000-0000-0000-000000000001}");
    ClassRegistry::Register("Test.Lookup", id, nullptr);
    ASSERT_NE(ClassRegistry::FindByProgId("test.LOOKUP"), nullptr);
    EXPECT_EQ(ClassRegistry::CLSIDFromProgID("TEST.lookup"), id);
    EXPECT_EQ(ClassRegistry::ProgIDFromCLSID(id), "Test.Lookup");
    EXPECT_EQ(ClassRegistry::FindByClsid(id)->progId, "Test.Lookup");
    EXPECT_EQ(ClassRegistry::FindByProgId("Test.Look"), nullptr);
    EXPECT_EQ(ClassRegistry::FindByProgId(nullptr), nullptr);
    EXPECT_TRUE(ClassRegistry::Unregister(id));
    EXPECT_FALSE(ClassRegistry::Unregister(id));
    EXPECT_FALSE(ClassRegistry::CLSIDFromProgID("Test.Lookup").has_value());
    EXPECT_EQ(ClassRegistry::ProgIDFromCLSID(id), "");
}

TEST(ClassRegistryTest, RegisteringAgainReplacesByNameAndById) {
    const CLSID a = *GUID::Parse("{33333333-0000-0000-0000-00000000000A}");
    const CLSID b = *GUID::Parse("{33333333-0000-0000-0000-00000000000B}");
    const size_t before = ClassRegistry::Count();
    const ClassEntry* first = &ClassRegistry::Register("Test.Twice", a, nullptr);
    EXPECT_EQ(&ClassRegistry::Register("test.twice", a, nullptr), first);
    EXPECT_EQ(ClassRegistry::Count(), before + 1);
    // The name moves to a new id: the old id no longer names a class.
    ClassRegistry::Register("Test.Twice", b, nullptr);
    EXPECT_EQ(ClassRegistry::Count(), before + 1);
    EXPECT_EQ(ClassRegistry::FindByClsid(a), nullptr);
    EXPECT_EQ(ClassRegistry::CLSIDFromProgID("Test.Twice"), b);
    // An id registered under a second name keeps one entry, the new name.
    const CLSID c = *GUID::Parse("{33333333-0000-0000-0000-00000000000C}");
    ClassRegistry::Register("Test.Other", c, nullptr);
    ClassRegistry::Register("Test.Twice", c, nullptr);
    EXPECT_EQ(ClassRegistry::Count(), before + 1);
    EXPECT_EQ(ClassRegistry::FindByProgId("Test.Other"), nullptr);
    EXPECT_EQ(ClassRegistry::ProgIDFromCLSID(c), "Test.Twice");
    ClassRegistry::Unregister(c);
    EXPECT_EQ(ClassRegistry::Count(), before);
}

TEST(ClassRegistryTest, RecordsTheLibraryThatPublishedEachClass) {
    const CLSID outer = *GUID::Parse("{44444444-0000-0000-0000-000000000001}");
    const CLSID inner = *GUID::Parse("{44444444-0000-0000-0000-000000000002}");
    const CLSID none = *GUID::Parse("{44444444-0000-0000-0000-000000000003}");
    {
        ClassRegistry::PublishingScope a("/lib/a.so");
        ClassRegistry::Register("Test.A", outer, nullptr);
        {
            ClassRegistry::PublishingScope b("/lib/b.so");
            ClassRegistry::Register("Test.B", inner, nullptr);
        }
        ClassRegistry::Register("Test.A", outer, nullptr);
    }
    ClassRegistry::Register("Test.None", none, nullptr);
    EXPECT_EQ(ClassRegistry::FindByClsid(outer)->library, "/lib/a.so");
    EXPECT_EQ(ClassRegistry::FindByClsid(inner)->library, "/lib/b.so");
    EXPECT_EQ(ClassRegistry::FindByClsid(none)->library, "");
    for (const CLSID& id : {outer, inner, none}) ClassRegistry::Unregister(id);
}

TEST(OleResultTest, FailuresLeaveATextSuccessesDoNot) {
    EXPECT_EQ(OleResult::Check(E_FAIL, "Load"), 1);
    EXPECT_EQ(OleResult::Message(), "Load: Unspecified error (HRESULT 0x80004005)");
    EXPECT_EQ(OleResult::Check(S_FALSE, "Other"), 0);
    EXPECT_EQ(OleResult::Check(S_OK, "Other"), 0);
    EXPECT_EQ(OleResult::Message(), "Load: Unspecified error (HRESULT 0x80004005)");
    EXPECT_EQ(OleResult::Check(static_cast<HRESULT>(0x8ABC0001u), nullptr), 1);
    EXPECT_EQ(OleResult::Message(), "Unknown failure (HRESULT 0x8ABC0001)");
}

}  // namespace
}  // namespace tq
