#include "platform/util/username.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "tests/platform/util/scratch.h"

namespace tq {
namespace {

const passwd* OwnEntry() { return ::getpwuid(::geteuid()); }

TEST(UserName, ThePasswordEntryWinsOverTheEnvironment) {
    const passwd* entry = OwnEntry();
    if (!entry) GTEST_SKIP() << "the effective user has no password entry here";
    ScopedEnv user("USER", "somebody-else");
    ScopedEnv logname("LOGNAME", "somebody-else");
    EXPECT_EQ(UserName(), entry->pw_name);
}

TEST(UserHomeFolder, AnAbsoluteHomeWinsAndARelativeOneIsIgnored) {
    {
        ScopedEnv home("HOME", "/srv/home/x");
        EXPECT_EQ(UserHomeFolder(), "/srv/home/x");
    }
    const passwd* entry = OwnEntry();
    if (!entry) GTEST_SKIP() << "the effective user has no password entry here";
    ScopedEnv home("HOME", "relative");
    EXPECT_EQ(UserHomeFolder(), entry->pw_dir);
}

}  // namespace
}  // namespace tq
