// The parts of a file's full path that the path functions give programs,
// at the edges the system's 260-character buffers make, and the path of an
// executable made from a folder, a name and an extension.
#include "platform/util/pathpart.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/util/pushdir.h"
#include "tests/platform/util/scratch.h"

namespace tq {
namespace {

TEST(PathParts, EachPartOfAFullPath) {
    const struct {
        const char* name;
        const char* full;
        const char* path;
        const char* file;
        const char* extension;
    } cases[] = {
        {"/a/b.c.txt", "/a/b.c.txt", "/a/", "b.c", ".txt"},
        {"/a/readme", "/a/readme", "/a/", "readme", ""},
        {"/a/.profile", "/a/.profile", "/a/", ".profile", ""},
        {"/a/notes.", "/a/notes.", "/a/", "notes", "."},
        {"/a/out/", "/a/out/", "/a/out/", "", ""},
        {"/a/./x/../b.qbo", "/a/b.qbo", "/a/", "b", ".qbo"},
        {"/v1.2/forms", "/v1.2/forms", "/v1.2/", "forms", ""},
        {"/", "/", "/", "", ""},
        {"", "", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LimitedFullPath(c.name), c.full) << c.name;
        EXPECT_EQ(PathPart(c.name), c.path) << c.name;
        EXPECT_EQ(NamePart(c.name), c.file) << c.name;
        EXPECT_EQ(ExtensionPart(c.name), c.extension) << c.name;
    }
}

TEST(PathParts, ARelativeNameIsTakenFromTheCurrentFolder) {
    ScratchFolder scratch;
    PushDir in(scratch.path().c_str());
    EXPECT_EQ(LimitedFullPath("sub/demo.tqs"), scratch / "sub/demo.tqs");
    EXPECT_EQ(PathPart("demo.tqs"), scratch.path() + "/");
    EXPECT_EQ(NamePart("../demo.tqs"), "demo");
}

TEST(PathParts, A259CharacterPathIsTheLongestGiven) {
    // "/" and a name: 259 characters fit the buffer with its terminator,
    // 260 do not, and then no part is given rather than a cut one.
    const std::string fits = "/" + std::string(254, 'n') + ".txt";
    const std::string over = "/" + std::string(255, 'n') + ".txt";
    ASSERT_EQ(fits.size(), 259u);
    ASSERT_EQ(over.size(), 260u);
    EXPECT_EQ(LimitedFullPath(fits), fits);
    EXPECT_EQ(ExtensionPart(fits), ".txt");
    EXPECT_EQ(NamePart(fits), std::string(254, 'n'));
    for (auto part : {&LimitedFullPath, &PathPart, &NamePart, &ExtensionPart})
        EXPECT_EQ(part(over), "") << "a part of a 260-character path";
}

TEST(PathParts, AnExecutablesPathFromFolderNameAndExtension) {
    const struct {
        const char* folder;
        const char* name;
        const char* ext;
        const char* out;  // null: no path
    } cases[] = {
        {"/out", "demo", ".exe", "/out/demo.exe"},
        {"/out/", "demo", ".exe", "/out/demo.exe"},
        {"/out", "demo", "exe", "/out/demo.exe"},
        {"/out", "demo", "", "/out/demo"},
        {"", "demo", "", "demo"},
        {"/out", "", "", nullptr},
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_EQ(MakeFilePath(c.folder, c.name, c.ext, out), c.out != nullptr) << c.folder << "|" << c.name;
        EXPECT_EQ(out, c.out ? c.out : "untouched");
    }
    // 259 characters is the longest path made.
    std::string out;
    EXPECT_TRUE(MakeFilePath("/out", std::string(254, 'x'), "", out));
    EXPECT_FALSE(MakeFilePath("/out", std::string(255, 'x'), "", out));
    EXPECT_FALSE(MakeFilePath("/out", std::string(251, 'x'), ".exe", out));
}

}  // namespace
}  // namespace tq
