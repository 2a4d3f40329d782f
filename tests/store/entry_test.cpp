// The library's entry: factories, unloading, publishing, start and stop.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <regex>
#include <string>

#include "platform/com/classreg.h"
#include "platform/com/dllserv.h"
#include "platform/com/oclfact.h"
#include "platform/com/oclobj.h"
#include "platform/com/ocl.h"
#include "platform/util/dllutils.h"
#include "platform/util/dynlib.h"
#include "store/errors/storeexc.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "store/tqstore.h"

namespace tq {
namespace {

CLSID BuiltinId(int order) { return *GUID::Parse(kBuiltinClassIds[order]); }

TEST(LibraryEntry, TenFactoriesInOrderWithIdsThatDifferInOneDigit) {
    const int digits[kBuiltinClassCount] = {0, 1, 2, 3, 8, 9, 4, 5, 6, 7};
    const CLSID first = BuiltinId(0);
    ASSERT_EQ(TheDllServer()->factories().size(), 10u);
    for (int i = 0; i < kBuiltinClassCount; ++i) {
        const CLSID id = BuiltinId(i);
        EXPECT_EQ(static_cast<int>(id.Data1 & 0xF), digits[i]) << kBuiltinClassNames[i];
        EXPECT_EQ(id.Data1 >> 4, first.Data1 >> 4);
        EXPECT_EQ(id.Data2, first.Data2);
        EXPECT_EQ(id.Data3, first.Data3);
        EXPECT_EQ(id.Data4, first.Data4);
        EXPECT_EQ(TheDllServer()->factories()[i]->classId(), id);

        void* p = nullptr;
        ASSERT_EQ(DllGetClassObject(id, IID_IClassFactory, &p), S_OK);
        EXPECT_EQ(p, static_cast<IClassFactory*>(TheDllServer()->factories()[i].get()));
        static_cast<IUnknown*>(p)->Release();
    }
}

TEST(LibraryEntry, UnknownClassesAndInterfacesAreRefused) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(*GUID::Parse("{00000000-0000-0000-0000-000000000001}"),
                                IID_IClassFactory, &p),
              E_FAIL);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(DllGetClassObject(BuiltinId(0), IID_IClassFactory, &p), S_OK);
    auto* factory = static_cast<IClassFactory*>(p);
    // No built-in class is registered yet: nothing can be made.
    void* object = nullptr;
    if (!ClassRegistry::FindByClsid(BuiltinId(0))) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), E_NOINTERFACE);
    }
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// Registers a countable class under the Group's id for one test and puts
// back whatever was registered there before.
class CountedGroup {
public:
    CountedGroup() : id_(BuiltinId(8)) {
        if (const ClassEntry* e = ClassRegistry::FindByClsid(id_)) saved_ = *e;
        ClassRegistry::Register("TessaroTest.Group", id_,
                                [](DllServer* s) -> IUnknown* { return new Object(s); });
    }
    ~CountedGroup() {
        ClassRegistry::Unregister(id_);
        if (saved_) ClassRegistry::Register(saved_->progId.c_str(), id_, saved_->creator);
    }

private:
    class Object : public OCLObject {
    public:
        using OCLObject::OCLObject;
    };
    CLSID id_;
    std::optional<ClassEntry> saved_;
};

TEST(LibraryEntry, CanUnloadNowFollowsLockServerAndLiveObjectsExactly) {
    CountedGroup registered;
    void* p = nullptr;
    ASSERT_EQ(DllGetClassObject(BuiltinId(8), IID_IClassFactory, &p), S_OK);
    auto* factory = static_cast<IClassFactory*>(p);
    // Holding the class object alone does not keep the library.
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &a), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &b), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    static_cast<IUnknown*>(a)->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(1), S_OK);
    static_cast<IUnknown*>(b)->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    // An object that lacks the interface asked for does not stay behind.
    void* none = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    factory->Release();
}

TEST(LibraryEntry, TheLibrarysNameIsThisSharedLibrary) {
    EXPECT_TRUE(std::regex_match(LibraryVersion(), std::regex(R"(\d+\.\d+\.\d+)")));
    EXPECT_NE(LibraryPath().find("libtqstore.so"), std::string::npos) << LibraryPath();
    VersionData version;
    ASSERT_TRUE(DLLUtils::GetVersionData(LibraryPath().c_str(), version));
    EXPECT_EQ(DLLUtils::FormatVersion((version.major << 16) | version.minor, version.patch << 16),
              std::string(LibraryVersion()) + ".0");
    DynamicLibrary::Handle self = DynamicLibrary::Open("tqstore");
    ASSERT_NE(self, nullptr) << DynamicLibrary::LastError();
    EXPECT_EQ(DynamicLibrary::PathOf(self), LibraryPath());
    EXPECT_EQ(DynamicLibrary::Symbol(self, "POD_Populate"), reinterpret_cast<void*>(&POD_Populate));
    EXPECT_NO_THROW(ObjectStore::PublishObjectDLL("tqstore"));
}

TEST(LibraryEntry, PublishingAnObjectLibraryRecordsItsClasses) {
    ObjectStore::PublishObjectDLL(TQ_TEST_PODLIB);
    const ClassEntry* e = ClassRegistry::FindByProgId("TessaroTest.Plugin");
    ASSERT_NE(e, nullptr);
    char* real = realpath(TQ_TEST_PODLIB, nullptr);
    EXPECT_EQ(e->library, std::string(real));
    std::free(real);
    // Publishing again leaves one entry.
    const size_t count = ClassRegistry::Count();
    ObjectStore::PublishObjectDLL(TQ_TEST_PODLIB);
    EXPECT_EQ(ClassRegistry::Count(), count);
    ClassRegistry::Unregister(e->clsid);
}

TEST(LibraryEntry, PublishingFailuresAreSystemErrorsThatSayWhy) {
    try {
        ObjectStore::PublishObjectDLL("no_such_object_library");
        FAIL() << "published a missing library";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.name(), "SystemError");
        EXPECT_NE(std::string(e.what()).find("no_such_object_library"), std::string::npos) << e.what();
    }
    try {
        ObjectStore::PublishObjectDLL("libm.so.6");
        FAIL() << "published a library without POD_Populate";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.name(), "SystemError");
        EXPECT_NE(std::string(e.what()).find("POD_Populate"), std::string::npos) << e.what();
    }
    EXPECT_THROW(ObjectStore::PublishObjectDLL(nullptr), StoreException);
}

TEST(TessaroInitializerTest, StartsTheLayerAndOptionallyTheDefaultApplication) {
    {
        TessaroInitializer init(1);
        EXPECT_TRUE(OCL::Started());
        EXPECT_NE(dynamic_cast<DefaultStoreApplication*>(StoreApplication::Current()), nullptr);
        delete StoreApplication::Current();
    }
    EXPECT_FALSE(OCL::Started());
    {
        TessaroInitializer init(0);
        EXPECT_TRUE(OCL::Started());
        EXPECT_EQ(StoreApplication::Current(), nullptr);
    }
    EXPECT_FALSE(OCL::Started());
}

}  // namespace
}  // namespace tq
