#include "platform/util/pathsrch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/util/pushdir.h"
#include "tests/platform/util/scratch.h"

namespace tq {
namespace {

TEST(PathNames, NormalFormIsLexical) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},           {"/", "/"},         {"//", "/"},          {"/a/b/", "/a/b"},
        {"a/./b//c/", "a/b/c"}, {"/x/../y", "/y"}, {"/..", "/"},      {"/../a", "/a"},
        {"../a", "../a"},   {"a/..", "."},      {"a/../../b", "../b"}, {".", "."},
        {"./", "."},        {"a/b/../../..", ".."},
    };
    for (const auto& c : cases) EXPECT_EQ(NormalPath(c.in), c.out) << "for '" << c.in << "'";
}

TEST(PathNames, FilePartsAndExtensions) {
    EXPECT_EQ(FilePart("/a/b/forms.qbo"), "forms.qbo");
    EXPECT_EQ(FilePart("forms"), "forms");
    EXPECT_EQ(FilePart("/a/b/"), "");
    EXPECT_TRUE(HasExtension("forms.qbo"));
    EXPECT_TRUE(HasExtension("notes."));
    EXPECT_FALSE(HasExtension("forms"));
    EXPECT_FALSE(HasExtension(".profile"));
    EXPECT_FALSE(HasExtension("v1.2/forms"));  // the dot is in a folder name
    EXPECT_TRUE(HasFolderPart("./a"));
    EXPECT_FALSE(HasFolderPart("a.qbo"));
}

TEST(PathNames, FullPathIsTakenFromTheCurrentFolder) {
    ScratchFolder scratch;
    std::filesystem::create_directories(scratch / "sub");
    PushDir dir((scratch / "sub").c_str());
    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(FullPathName("x.qbo"), here + "/x.qbo");
    EXPECT_EQ(FullPathName("../y/./z.qbo"), NormalPath(here + "/../y/z.qbo"));
    EXPECT_EQ(FullPathName("/abs//p"), "/abs/p");
    EXPECT_EQ(FullPathName(""), "");
}

TEST(PathNames, CaseInsensitiveEqualityFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(SamePathIgnoringCase("/Mods/Forms.QBO", "/mods//forms.qbo"));
    EXPECT_FALSE(SamePath("/Mods/Forms.QBO", "/mods/forms.qbo"));
    EXPECT_FALSE(SamePathIgnoringCase("/m/\xC3\x89t\xC3\xA9.qbo", "/m/\xC3\xA9t\xC3\xA9.qbo"));
    EXPECT_FALSE(SamePathIgnoringCase("mods/a", "/mods/a"));
}

class Search : public ::testing::Test {
protected:
    ScratchFolder scratch;
    PathString folders{EnvironmentPathString::kEnvSeparator};

    void SetUp() override {
        folders.append(scratch / "one");
        folders.append(scratch / "two");
        std::filesystem::create_directories(scratch / "one");
        scratch.write("two/forms.qbo");
        scratch.write("two/notes.txt");
    }
};

TEST_F(Search, TheDefaultExtensionIsAddedOnlyToANameWithoutOne) {
    EXPECT_EQ(SearchPath(folders, "forms", ".qbo"), scratch / "two/forms.qbo");
    EXPECT_EQ(SearchPath(folders, "forms", "qbo"), scratch / "two/forms.qbo");
    EXPECT_EQ(SearchPath(folders, "notes.txt", ".qbo"), scratch / "two/notes.txt");
    EXPECT_EQ(SearchPath(folders, "notes", ".qbo"), "");
    EXPECT_EQ(SearchPath(folders, "forms", nullptr), "");
    EXPECT_EQ(SearchPath(folders, "", ".qbo"), "");
    EXPECT_EQ(SearchPath(folders, nullptr, ".qbo"), "");
}

TEST_F(Search, TheFirstFolderInOrderWinsAndFoldersAreNotFiles) {
    std::filesystem::create_directories(scratch / "one/forms.qbo");  // a folder
    EXPECT_EQ(SearchPath(folders, "forms.qbo", nullptr), scratch / "two/forms.qbo");
    std::filesystem::remove(scratch / "one/forms.qbo");
    scratch.write("one/forms.qbo");
    EXPECT_EQ(SearchPath(folders, "forms.qbo", nullptr), scratch / "one/forms.qbo");
}

TEST_F(Search, RelativeFoldersAndNamesResolveToANormalFullPath) {
    PushDir dir(scratch.path().c_str());
    const std::string here = std::filesystem::current_path().string();
    PathString relative("./one:two/", ':');
    EXPECT_EQ(SearchPath(relative, "forms", ".qbo"), here + "/two/forms.qbo");
    PathString root("/", ':');
    EXPECT_EQ(SearchPath(root, (here + "/two/../two/forms").c_str(), ".qbo"),
              here + "/two/forms.qbo");
    EXPECT_EQ(SearchPath(PathString(':'), (here + "/two/forms.qbo").c_str(), nullptr),
              here + "/two/forms.qbo");
}

TEST_F(Search, AResultOfTheFullBufferSizeOrMoreIsNotFound) {
    // Folders whose full file path comes out at exactly 259 and 260 characters.
    const std::string base = scratch.path() + "/";
    const std::string name = "m.qbo";
    const size_t room259 = 259 - base.size() - 1 - name.size();
    ASSERT_GT(room259, 2u);
    const std::string fits = std::string(room259, 'f');
    const std::string tooLong = std::string(room259 + 1, 'l');
    scratch.write(fits + "/" + name);
    scratch.write(tooLong + "/" + name);
    PathString longFirst((base + tooLong + ":" + base + fits).c_str(), ':');
    const std::string found = SearchPath(longFirst, "m", ".qbo");
    EXPECT_EQ(found.size(), 259u);
    EXPECT_EQ(found, base + fits + "/" + name);
    EXPECT_EQ(SearchPath(PathString((base + tooLong).c_str(), ':'), "m", ".qbo"), "");
}

TEST_F(Search, DefaultOrderIsCurrentFolderThenProgramFolderThenPath) {
    scratch.write("one/shared.qbo");
    scratch.write("two/shared.qbo");
    ScopedEnv path("PATH", (scratch / "two").c_str());
    {
        PushDir dir((scratch / "one").c_str());
        EXPECT_EQ(SearchDefaultPath("shared", ".qbo"), scratch / "one/shared.qbo");
        EXPECT_EQ(SearchDefaultPath("forms", ".qbo"), scratch / "two/forms.qbo");
    }
    const PathString order = DefaultSearchFolders();
    ASSERT_EQ(order.count(), 3u);
    EXPECT_EQ(order.entry(0), ".");
    EXPECT_TRUE(FileExists(order.entry(1) + "/test_platform_util"));
    EXPECT_EQ(order.entry(2), scratch / "two");
}

}  // namespace
}  // namespace tq
