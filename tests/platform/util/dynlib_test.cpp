// Dynamic libraries: the library's own name, other libraries, failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <string>

#include "platform/util/dynlib.h"
#include "tests/platform/util/scratch.h"

namespace tq {
namespace {

std::string ThisProgram() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

int NotExported() { return 42; }

TEST(DynamicLibraryTest, TheLibrarysNameMeansThisProgramWhenLinkedIntoIt) {
    // These tests hold the platform layer statically: "tqstore" is the program.
    DynamicLibrary::Handle self = DynamicLibrary::Open("tqstore");
    ASSERT_NE(self, nullptr) << DynamicLibrary::LastError();
    EXPECT_EQ(self, DynamicLibrary::Self());
    EXPECT_EQ(DynamicLibrary::Open("TQSTORE.DLL"), self);
    EXPECT_EQ(DynamicLibrary::SelfPath(), ThisProgram());
    EXPECT_EQ(DynamicLibrary::PathOf(self), ThisProgram());

    // A program need not export its symbols: the library's own entry points
    // are still found under their names.
    DynamicLibrary::ProvideOwnSymbol("Test_NotExported", reinterpret_cast<void*>(&NotExported));
    void* found = DynamicLibrary::Symbol(self, "Test_NotExported");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(reinterpret_cast<int (*)()>(found)(), 42);
}

TEST(DynamicLibraryTest, SelfNamesAreMatchedWithoutCaseAndExtension) {
    EXPECT_TRUE(DynamicLibrary::IsSelfName("tqstore"));
    EXPECT_TRUE(DynamicLibrary::IsSelfName("TqStore"));
    EXPECT_TRUE(DynamicLibrary::IsSelfName("tqstore.dll"));
    EXPECT_TRUE(DynamicLibrary::IsSelfName("tqstore.so"));
    EXPECT_FALSE(DynamicLibrary::IsSelfName("tqstore2"));
    EXPECT_FALSE(DynamicLibrary::IsSelfName("libtqstore.so.0"));
    EXPECT_FALSE(DynamicLibrary::IsSelfName("/x/tqstore"));
    EXPECT_FALSE(DynamicLibrary::IsSelfName(""));
    EXPECT_FALSE(DynamicLibrary::IsSelfName(nullptr));
}

TEST(DynamicLibraryTest, OtherLibrariesOpenAndTheirRoutinesAreFound) {
    DynamicLibrary::Handle m = DynamicLibrary::Open("libm.so.6");
    ASSERT_NE(m, nullptr) << DynamicLibrary::LastError();
    auto* cosine = reinterpret_cast<double (*)(double)>(DynamicLibrary::Symbol(m, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_NE(DynamicLibrary::PathOf(m).find("libm"), std::string::npos);
    DynamicLibrary::Close(m);
}

TEST(DynamicLibraryTest, FailuresReturnNullWithTheLoadersText) {
    EXPECT_EQ(DynamicLibrary::Open("no_such_library_xyz.dll"), nullptr);
    EXPECT_NE(DynamicLibrary::LastError().find("no_such_library_xyz"), std::string::npos)
        << DynamicLibrary::LastError();
    EXPECT_EQ(DynamicLibrary::Open(""), nullptr);
    EXPECT_EQ(DynamicLibrary::Open(nullptr), nullptr);
    EXPECT_EQ(DynamicLibrary::Open("/no/such/dir/libx.so"), nullptr);

    DynamicLibrary::Handle m = DynamicLibrary::Open("libm.so.6");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(DynamicLibrary::Symbol(m, "no_such_routine_xyz"), nullptr);
    EXPECT_NE(DynamicLibrary::LastError().find("no_such_routine_xyz"), std::string::npos)
        << DynamicLibrary::LastError();
    EXPECT_EQ(DynamicLibrary::Symbol(m, nullptr), nullptr);
    EXPECT_EQ(DynamicLibrary::Symbol(nullptr, "cos"), nullptr);
    DynamicLibrary::Close(m);
}

TEST(DynamicLibraryTest, APathThatIsNoFileIsRefusedWithoutTheLoaderReadingIt) {
    ScratchFolder dir;
    const std::string pipe = dir / "libpipe.so";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // Held open and filled past what the loader reads of a file's head:
    // should it read the pipe after all, it fails on those bytes instead of
    // waiting for more, and the test fails rather than hangs.
    const int held = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    const std::string junk(4096, 'x');
    ASSERT_EQ(::write(held, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
    const struct {
        std::string path;
        const char* says;
    } cases[] = {
        {pipe, "it is a pipe"},
        {dir.path(), "it is a folder"},
        {"/dev/null", "it is a device"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DynamicLibrary::Open(c.path.c_str()), nullptr) << c.path;
        EXPECT_EQ(DynamicLibrary::LastError(), c.path + ": not a library file: " + c.says);
    }
    ::close(held);
}

int LinkedEntry() { return 7; }

TEST(DynamicLibraryTest, ALinkedInLibraryOpensByItsNameAndAnswersItsOneRoutine) {
    EXPECT_EQ(DynamicLibrary::Open("testlinked"), nullptr);
    DynamicLibrary::ProvideLinkedLibrary("testlinked", "Entry", reinterpret_cast<void*>(&LinkedEntry));
    DynamicLibrary::Handle h = DynamicLibrary::Open("testlinked");
    ASSERT_NE(h, nullptr) << DynamicLibrary::LastError();
    // The names a host may write for it all mean the same library.
    for (const char* name : {"TestLinked", "libtestlinked.so", "testlinked.dll"})
        EXPECT_EQ(DynamicLibrary::Open(name), h) << name;
    // A path is a file to open, never the linked-in code.
    EXPECT_EQ(DynamicLibrary::Open("./libtestlinked.so"), nullptr);
    EXPECT_NE(h, DynamicLibrary::Self());
    auto* entry = reinterpret_cast<int (*)()>(DynamicLibrary::Symbol(h, "Entry"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(), 7);
    EXPECT_EQ(DynamicLibrary::Symbol(h, "Other"), nullptr);
    EXPECT_NE(DynamicLibrary::LastError().find("Other"), std::string::npos) << DynamicLibrary::LastError();
    EXPECT_EQ(DynamicLibrary::PathOf(h), ThisProgram() + " (testlinked)");
    // Closing it leaves it open: the classes it published point into it.
    DynamicLibrary::Close(h);
    EXPECT_EQ(DynamicLibrary::Open("testlinked"), h);
}

}  // namespace
}  // namespace tq
