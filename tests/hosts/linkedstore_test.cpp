// A program that holds the store linked in, as the tessaro command does: the
// library's name still means the store, its entry points are still found by
// name, and an object library built against libtqstore.so is refused before
// any of its code runs instead of bringing a second store into the process.
#include <gtest/gtest.h>
#include <tqstore/tqstore.h>

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/com/classreg.h"
#include "platform/util/dynlib.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

std::string ThisProgram() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// One start of the library for the whole program, as a host has.
class LinkedStore : public ::testing::Test {
protected:
    static void SetUpTestSuite() { static TessaroInitializer init(1); }
};

TEST_F(LinkedStore, TheLibraryIsTheProgramAndItsEntryPointsAreFoundByName) {
    EXPECT_EQ(LibraryPath(), ThisProgram());
    EXPECT_FALSE(Mapped("libtqstore.so"));

    DynamicLibrary::Handle self = DynamicLibrary::Open("tqstore.dll");
    ASSERT_NE(self, nullptr) << DynamicLibrary::LastError();
    EXPECT_EQ(self, DynamicLibrary::Self());
    EXPECT_EQ(DynamicLibrary::PathOf(self), ThisProgram());
    EXPECT_EQ(DynamicLibrary::Symbol(self, "POD_Populate"), reinterpret_cast<void*>(&POD_Populate));
    EXPECT_EQ(DynamicLibrary::Symbol(self, "DllGetClassObject"),
              reinterpret_cast<void*>(&DllGetClassObject));
    EXPECT_EQ(DynamicLibrary::Symbol(self, "DllCanUnloadNow"), reinterpret_cast<void*>(&DllCanUnloadNow));
    EXPECT_NO_THROW(ObjectStore::PublishObjectDLL("tqstore"));

    // The shared library's soname names the program too: opening it loads
    // no second store.
    DynamicLibrary::Handle bySoname = DynamicLibrary::Open("libtqstore.so.0");
    ASSERT_NE(bySoname, nullptr) << DynamicLibrary::LastError();
    EXPECT_EQ(DynamicLibrary::PathOf(bySoname), ThisProgram());
    EXPECT_FALSE(Mapped("libtqstore.so"));
}

TEST_F(LinkedStore, AnObjectLibraryBuiltAgainstTheSharedStoreIsRefusedBeforeItRuns) {
    unsetenv("TQ_TEST_PODLIB_RAN");
    const size_t classes = ClassRegistry::Count();
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            ObjectStore::PublishObjectDLL(TQ_TEST_PODLIB);
            FAIL() << "published a library that needs the shared store";
        } catch (const StoreException& e) {
            const std::string text = e.what();
            EXPECT_STREQ(e.name(), "SystemError");
            EXPECT_NE(text.find("tqtestpodlib"), std::string::npos) << text;
            EXPECT_NE(text.find("holds linked in"), std::string::npos) << text;
            EXPECT_NE(text.find("libtqstore.so"), std::string::npos) << text;
        }
    }
    EXPECT_EQ(getenv("TQ_TEST_PODLIB_RAN"), nullptr) << "the library's initialisers ran";
    EXPECT_EQ(ClassRegistry::FindByProgId("TessaroTest.Plugin"), nullptr);
    EXPECT_EQ(ClassRegistry::Count(), classes);
    EXPECT_FALSE(Mapped("libtqstore.so"));
    EXPECT_FALSE(Mapped("tqtestpodlib"));
}

TEST_F(LinkedStore, OtherLibrariesStillLoadAndTheirFailuresKeepTheLoadersText) {
    DynamicLibrary::Handle m = DynamicLibrary::Open("libm.so.6");
    ASSERT_NE(m, nullptr) << DynamicLibrary::LastError();
    auto* cosine = reinterpret_cast<double (*)(double)>(DynamicLibrary::Symbol(m, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    DynamicLibrary::Close(m);

    EXPECT_EQ(DynamicLibrary::Open("no_such_library_xyz"), nullptr);
    EXPECT_NE(DynamicLibrary::LastError().find("no_such_library_xyz"), std::string::npos);
    EXPECT_EQ(DynamicLibrary::LastError().find("linked in"), std::string::npos);
    // A library missing a symbol of its own dependencies is not taken for
    // one of the store's.
    try {
        ObjectStore::PublishObjectDLL("libm.so.6");
        FAIL() << "published a library without POD_Populate";
    } catch (const StoreException& e) {
        EXPECT_NE(std::string(e.what()).find("POD_Populate"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace tq
