#include "platform/util/pathstr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/util/xexcept.h"
#include "tests/platform/util/scratch.h"

namespace tq {
namespace {

TEST(PathString, TextIsNormalisedWhateverItWasSetTo) {
    PathString list(" a.qbo ; ;b.qbo;;\tc.qbo\r\n;");
    EXPECT_EQ(list.text(), "a.qbo;b.qbo;c.qbo");
    EXPECT_EQ(list.count(), 3u);
    list.set(nullptr);
    EXPECT_EQ(list.text(), "");
    EXPECT_EQ(list.count(), 0u);
    list = ";;";
    EXPECT_TRUE(list.empty());
}

TEST(PathString, EntriesAreReadByIndexAndOutOfRangeIsEmpty) {
    PathString list("first;second;third");
    EXPECT_EQ(list.entry(0), "first");
    EXPECT_EQ(list[1], "second");
    EXPECT_EQ(list.entry(2), "third");
    EXPECT_EQ(list.entry(3), "");
    EXPECT_EQ(list.entry(static_cast<size_t>(-1)), "");
}

TEST(PathString, AppendAndPrependKeepOneSeparatorBetweenEntries) {
    PathString list;
    list.append("b");
    EXPECT_EQ(list.text(), "b");
    list.prepend("a");
    list.append("c;d");  // a list is added entry by entry
    list.append("");
    list.prepend(" ; ");
    EXPECT_EQ(list.text(), "a;b;c;d");
    EXPECT_EQ(list.count(), 4u);
}

TEST(PathString, TheSeparatorIsTheListsOwn) {
    PathString env("/usr/lib:/opt/tq:", ':');
    EXPECT_EQ(env.count(), 2u);
    env.prepend("/home/u/mods");
    EXPECT_EQ(env.text(), "/home/u/mods:/usr/lib:/opt/tq");
    PathString modules("a;b:c");
    EXPECT_EQ(modules.entry(1), "b:c");
}

TEST(PathString, ContainsComparesPathsNotTexts) {
    PathString list("/home/u/mods/:lib:/opt//tq/./x", ':');
    EXPECT_TRUE(list.contains("/home/u/mods"));
    EXPECT_TRUE(list.contains("/home//u/mods/"));
    EXPECT_TRUE(list.contains("./lib"));
    EXPECT_TRUE(list.contains("/opt/tq/x"));
    EXPECT_FALSE(list.contains("/home/u"));      // not a prefix match
    EXPECT_FALSE(list.contains("/home/u/Mods"));  // file names keep their case
    EXPECT_FALSE(list.contains("li"));
    EXPECT_FALSE(list.contains(""));
}

TEST(PathString, PurgeExplicitPathsKeepsBareFileNamesInOrder) {
    PathString list("a.qbo;/abs/b.qbo;sub/c.qbo;./d.qbo;e.qbo");
    list.PurgeExplicitPaths();
    EXPECT_EQ(list.text(), "a.qbo;e.qbo");
    PathString all("/x/a.qbo;y/b.qbo");
    all.PurgeExplicitPaths();
    EXPECT_TRUE(all.empty());
}

TEST(EnvironmentPathString, ReadsAndStoresTheProcessVariable) {
    ScopedEnv var("TQ_TEST_LIST", "/a:/b::/c");
    EnvironmentPathString list("TQ_TEST_LIST");
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(list.entry(2), "/c");
    list.prepend("/z");
    list.SetVariable();
    EXPECT_STREQ(std::getenv("TQ_TEST_LIST"), "/z:/a:/b:/c");

    ScopedEnv unset("TQ_TEST_LIST", nullptr);
    EXPECT_TRUE(EnvironmentPathString("TQ_TEST_LIST").empty());
}

// ---- the user-wide variable -------------------------------------------------------

class RegistryEnv : public ::testing::Test {
protected:
    ScratchFolder home;
    ScopedEnv config{"XDG_CONFIG_HOME", home.path().c_str()};
    ScopedEnv variable{"TQ_TEST_PATH", nullptr};

    std::string file() const { return home / "tessaro/environment"; }
};

TEST_F(RegistryEnv, TheFileLivesUnderTheConfigHome) {
    EXPECT_EQ(RegistryEnvPathString::EnvironmentFilePath(), file());
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    ScopedEnv homeVar("HOME", "/home/someone");
    EXPECT_EQ(RegistryEnvPathString::EnvironmentFilePath(),
              "/home/someone/.config/tessaro/environment");
}

TEST_F(RegistryEnv, WithoutAProcessVariableTheSavedValueIsRead) {
    home.write("tessaro/environment",
               "# saved by hand\n"
               "OTHER=/x\n"
               "TQ_TEST_PATH=/old\n"
               "  TQ_TEST_PATH = /a:/b\r\n"
               "TQ_TEST_PATHS=/not/this\n"
               "garbage line\n");
    RegistryEnvPathString list("TQ_TEST_PATH");
    EXPECT_EQ(list.text(), "/a:/b");
}

TEST_F(RegistryEnv, TheProcessVariableWinsEvenWhenEmpty) {
    home.write("tessaro/environment", "TQ_TEST_PATH=/saved\n");
    {
        ScopedEnv set("TQ_TEST_PATH", "/process");
        EXPECT_EQ(RegistryEnvPathString("TQ_TEST_PATH").text(), "/process");
    }
    ScopedEnv empty("TQ_TEST_PATH", "");
    EXPECT_EQ(RegistryEnvPathString("TQ_TEST_PATH").text(), "");
}

TEST_F(RegistryEnv, NoFileAndNoVariableIsTheEmptyList) {
    EXPECT_TRUE(RegistryEnvPathString("TQ_TEST_PATH").empty());
}

TEST_F(RegistryEnv, SetVariableStoresBothAndCreatesTheFolders) {
    RegistryEnvPathString list("TQ_TEST_PATH");
    list.prepend("/home/u/mods");
    list.SetVariable();
    EXPECT_STREQ(std::getenv("TQ_TEST_PATH"), "/home/u/mods");
    EXPECT_EQ(home.read("tessaro/environment"), "TQ_TEST_PATH=/home/u/mods\n");
    // Nothing but the file is left in its folder (no temporary file).
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(home / "tessaro")) ++entries;
    EXPECT_EQ(entries, 1u);

    ::unsetenv("TQ_TEST_PATH");
    EXPECT_EQ(RegistryEnvPathString("TQ_TEST_PATH").text(), "/home/u/mods");
}

TEST_F(RegistryEnv, SetVariableKeepsOtherLinesAndReplacesItsOwnInPlace) {
    home.write("tessaro/environment",
               "# comment\n"
               "TQ_TEST_PATH=/old\n"
               "OTHER=/x\n"
               "TQ_TEST_PATH=/older\n"
               "LAST=1");
    ::chmod(file().c_str(), 0640);
    RegistryEnvPathString list("TQ_TEST_PATH");
    EXPECT_EQ(list.text(), "/older");
    list.set("/new:/newer");
    list.SetVariable();
    EXPECT_EQ(home.read("tessaro/environment"),
              "# comment\n"
              "TQ_TEST_PATH=/new:/newer\n"
              "OTHER=/x\n"
              "LAST=1\n");
    struct stat st;
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(RegistryEnv, ALinkedFileIsWrittenThroughAndStaysALink) {
    const std::string real = home.write("dotfiles/environment", "OTHER=1\n");
    std::filesystem::create_directories(home / "tessaro");
    std::filesystem::create_symlink(real, file());
    RegistryEnvPathString list("TQ_TEST_PATH");
    list.set("/m");
    list.SetVariable();
    EXPECT_TRUE(std::filesystem::is_symlink(file()));
    EXPECT_EQ(home.read("dotfiles/environment"), "OTHER=1\nTQ_TEST_PATH=/m\n");
}

TEST_F(RegistryEnv, AFileThatCannotBeReadIsNeverReplaced) {
    std::filesystem::create_directories(home / "tessaro/environment");  // a folder
    RegistryEnvPathString list("TQ_TEST_PATH");
    EXPECT_TRUE(list.empty());
    list.set("/m");
    try {
        list.SetVariable();
        ADD_FAILURE() << "saving over an unreadable file succeeded";
    } catch (const XException& e) {
        EXPECT_NE(std::string(e.what()).find("TQ_TEST_PATH"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(file()), std::string::npos) << e.what();
    }
    EXPECT_TRUE(std::filesystem::is_directory(file()));
    EXPECT_STREQ(std::getenv("TQ_TEST_PATH"), "/m");  // the process still sees it
}

TEST_F(RegistryEnv, AValueWithALineBreakIsRefusedNotWrittenAsTwoLines) {
    home.write("tessaro/environment", "OTHER=1\n");
    RegistryEnvPathString list("TQ_TEST_PATH");
    list.set("/a\nEVIL=1");
    EXPECT_THROW(list.SetVariable(), XException);
    EXPECT_EQ(home.read("tessaro/environment"), "OTHER=1\n");
}

}  // namespace
}  // namespace tq
