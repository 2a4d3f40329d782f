// Application and Globals: the executable's data section byte for byte and
// its refusals, what a running executable reports (SetInfo) and how the
// properties answer before and after, the executable's file from Path and
// EXEName, WriteEXE's refusals (each before anything is written), the
// object saved and read back, and the program's one Application.
#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/util/lebytes.h"
#include "platform/util/pefile.h"
#include "store/builtin/exedata.h"
#include "store/builtin/iapplic.h"
#include "store/builtin/iglobals.h"
#include "store/builtin/vsrpath.h"
#include "store/vals.h"
#include "tests/store/builtin/storetest.h"

namespace tq {
namespace {

using Section = std::array<uint8_t, PEFile::kDataSectionSize>;

std::string Str(const ValString& v) { return static_cast<const char*>(v); }

class Applications : public StoreTest {
protected:
    iApplication& app(const char* text = "Begin Object MyApp From Application\nEnd Object\n") {
        ObjectStore::LoadModule(write("app.tqs", text).c_str(), 0, 0);
        iApplication* a = iApplication::Of(found("MyApp"));
        if (!a) throw std::runtime_error("MyApp is no Application");
        return *a;
    }
};

TEST(ExeData, TheSectionIsLaidOutByteForByte) {
    Section s{};
    WriteExeData(s.data(), s.size(), 0x01000001, "MyApp", "logo.bmp", "main.tqs;lib.qbo");
    const std::string want = std::string("\x01\x00\x00\x01", 4) + "MyApp" + '\0' + "logo.bmp" + '\0' + "main.tqs" +
                             '\0' + "lib.qbo" + '\0' + '\0';
    EXPECT_EQ(std::string(s.begin(), s.begin() + static_cast<long>(want.size())), want);
    EXPECT_TRUE(std::all_of(s.begin() + static_cast<long>(want.size()), s.end(), [](uint8_t b) { return b == 0; }));
    const ExeData back = ReadExeData(s.data(), s.size(), "x");
    EXPECT_EQ(back.word, 0x01000001u);
    EXPECT_EQ(back.appName, "MyApp");
    EXPECT_EQ(back.splashFileName, "logo.bmp");
    EXPECT_EQ(back.moduleText(), "main.tqs;lib.qbo");
}

TEST(ExeData, TextsFillTheSectionToTheLastByteAndNoFurther) {
    // 4 + (app + 1) + (splash + 1) + (modules + 2) bytes: exactly 4096 fit.
    const std::string modules(4096 - 4 - 2 - 1 - 2, 'm');
    Section s{};
    WriteExeData(s.data(), s.size(), iApplication::kDefaultFlags, "A", "", modules);
    EXPECT_EQ(ReadExeData(s.data(), s.size(), "x").modules.at(0), modules);
    Section t{};
    try {
        WriteExeData(t.data(), t.size(), iApplication::kDefaultFlags, "AB", "", modules);
        FAIL() << "wrote past the section";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Module list is too large for data section.");
    }
    EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ExeData, ASectionNotWrittenByWriteEXEIsRefused) {
    Section other{};
    WriteExeData(other.data(), other.size(), 0x02000000, "A", "", "m.tqs");
    Section runaway;
    runaway.fill('x');
    StoreLE32(runaway.data(), 0x01000000);
    Section noEnd{};
    StoreLE32(noEnd.data(), 0x01000000);
    std::fill(noEnd.begin() + 6, noEnd.end(), 'm');  // "" app, "" splash, a list without its end
    Section separator{};
    StoreLE32(separator.data(), 0x01000000);
    std::memcpy(separator.data() + 6, "a;b", 3);
    const struct {
        const Section* s;
        const char* text;
    } cases[] = {
        {&separator, "prog: the executable's data section is damaged (a module entry holds ';')"},
        {&other, "Incorrect EXE revision."},
        {&runaway, "prog: the executable's data section is damaged (the application name runs off its end)"},
        {&noEnd, "prog: the executable's data section is damaged (the module list runs off its end)"},
    };
    for (const auto& c : cases) {
        try {
            ReadExeData(c.s->data(), c.s->size(), "prog");
            ADD_FAILURE() << c.text;
        } catch (const StoreException& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
    }
}

TEST_F(Applications, SetInfoRefusesAnotherRevisionAndKeepsNothing) {
    iApplication& a = app();
    const char* argv[] = {"/bin/demo", "x"};
    EXPECT_EQ(failure([&] { a.SetInfo(2, argv, 0x02000000, "m.tqs\0", ""); }), "Incorrect EXE revision.");
    EXPECT_EQ(a.pdGetArgCount(), 0);
    EXPECT_EQ(a.pdGetIsRunning(), 0);
}

TEST_F(Applications, BeforeSetInfoTheObjectDescribesTheExecutableToWrite) {
    iApplication& a = app();
    EXPECT_EQ(a.pdGetIsRunning(), 0);
    EXPECT_EQ(Str(a.imArg(0)), "");
    EXPECT_EQ(a.pdGetEXESplashMessageEnabled(), 0);  // no executable written
    EXPECT_EQ(a.pdGetEXEFileExists(), 0);
    a.imQuit();  // not running: nothing happens
    for (const char* folder : {"/out", "/out/"}) {
        a.pdSetPath(folder);
        a.pdSetEXEName("demo.release.exe");
        EXPECT_EQ(Str(a.pdGetEXEName()), "demo");
        EXPECT_EQ(Str(a.pdGetEXEFileName()), "/out/demo") << folder;
    }
    a.pdSetEXEFileName("/srv/tools/report.bin");
    EXPECT_EQ(Str(a.pdGetPath()), "/srv/tools/");
    EXPECT_EQ(Str(a.pdGetEXEName()), "report");
    EXPECT_EQ(failure([&] { a.pdSetEXEFileName(("/" + std::string(259, 'n')).c_str()); }), "File name too long");
    EXPECT_EQ(Str(a.pdGetEXEName()), "report");
    a.pdSetEXEFileName("");
    EXPECT_EQ(Str(a.pdGetEXEFileName()), "");
}

TEST_F(Applications, ARunningExecutableAnswersFromWhatItReported) {
    iApplication& a = app();
    a.pdSetPath("/design");
    a.pdSetEXEName("designed");
    const char* argv[] = {"/opt/tools/demo.bin", "first", ""};
    a.SetInfo(3, argv, 0x01000001, std::string("a.tqs\0b.qbo\0", 13).c_str(), "splash.bmp");
    EXPECT_EQ(a.pdGetIsRunning(), -1);
    EXPECT_EQ(a.pdGetArgCount(), 3);
    const struct {
        int16_t i;
        const char* arg;
    } args[] = {{-1, ""}, {0, "/opt/tools/demo.bin"}, {1, "first"}, {2, ""}, {3, ""}};
    for (const auto& c : args) EXPECT_EQ(Str(a.imArg(c.i)), c.arg) << c.i;
    EXPECT_EQ(Str(a.pdGetPath()), "/opt/tools/");
    EXPECT_EQ(Str(a.pdGetEXEName()), "demo");
    EXPECT_EQ(Str(a.pdGetEXEFileName()), "/opt/tools/demo.bin");
    EXPECT_EQ(Str(a.pdGetEXEModulePath()), "a.tqs;b.qbo");
    EXPECT_EQ(Str(a.pdGetEXESplashFileName()), "splash.bmp");
    EXPECT_EQ(a.pdGetEXESplashMessageEnabled(), -1);
}

TEST_F(Applications, WriteEXERefusesBeforeWritingAnything) {
    iApplication& a = app();
    const std::string target = dir_.file("demo");
    a.pdSetPath(dir_.path().c_str());
    a.pdSetEXEName("");
    EXPECT_EQ(failure([&] { a.imWriteEXE(); }), "Invalid EXE file name.");
    a.pdSetEXEName("demo");
    a.pdSetModulePath("/elsewhere/a.tqs;sub/b.tqs");  // explicit paths only
    EXPECT_EQ(failure([&] { a.imWriteEXE(); }), "No modules in ModulePath.");
    std::string many;
    for (int i = 0; i < 400; ++i) many += "module" + std::to_string(i) + ".tqs;";
    a.pdSetModulePath(many.c_str());
    EXPECT_EQ(failure([&] { a.imWriteEXE(); }), "Module list is too large for data section.");
    // This test program has no run-time executable beside it: the copy
    // fails, and no file is left at the target.
    a.pdSetModulePath("app.tqs");
    EXPECT_NE(failure([&] { a.imWriteEXE(); }).find("Unable to write EXE file: "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1) << "only app.tqs";
}

TEST_F(Applications, AFileThatIsNoExecutableIsReportedWhenItsDataIsAsked) {
    iApplication& a = app();
    write("notes", "just text, long enough to hold a header of sixty-four bytes........................");
    a.pdSetPath(dir_.path().c_str());
    a.pdSetEXEName("notes");
    EXPECT_EQ(failure([&] { a.pdGetEXEAppName(); }), dir_.file("notes") + ": not an ELF executable file");
    EXPECT_EQ(failure([&] { a.LoadEXE(); }), dir_.file("notes") + ": not an ELF executable file");
    a.pdSetEXEName("missing");
    EXPECT_EQ(Str(a.pdGetEXEAppName()), "");  // no file: nothing to report
    EXPECT_EQ(a.GetEXEData().word, kNoExeWord);
}

TEST_F(Applications, TheObjectIsSavedAndReadBack) {
    const std::string text =
        "Begin Object Form\nEnd Object\nBegin Object Main1 From Form\nEnd Object\n"
        "Begin Object MyApp From Application\nEnd Object\n";
    {
        iApplication& a = app(text.c_str());
        a.pdSetPath("/out");
        a.pdSetEXEName("demo");
        a.pdSetSplashFileName("logo.bmp");
        a.pdSetSplashMessageEnabled(-1);
        a.pdSetModulePath("app.qbo;lib.qbo");
        const InterObj form(found("Main1"));
        a.pdSetMainForm(&form);
        const InterObj notForm(found("MyApp"));
        a.pdSetMainForm(&notForm);  // no Form: left as it was
        EXPECT_EQ(a.pdGetMainForm().get(), found("Main1"));
        ObjectStore::SaveAs(ObjectStore::FindModule(dir_.file("app.tqs").c_str()), dir_.file("app.qbo").c_str(), 0);
    }
    TearDown();
    ObjectStore::LoadModule(dir_.file("app.qbo").c_str(), 0, 0);
    iApplication* a = iApplication::Of(found("MyApp"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Str(a->pdGetEXEFileName()), "/out/demo");
    EXPECT_EQ(Str(a->pdGetSplashFileName()), "logo.bmp");
    EXPECT_EQ(a->pdGetSplashMessageEnabled(), -1);
    EXPECT_EQ(Str(a->pdGetModulePath()), "app.qbo;lib.qbo");
    EXPECT_EQ(a->pdGetMainForm().get(), found("Main1"));
}

TEST_F(Applications, GlobalsNamesOneApplicationAtATime) {
    iApplication& a = app(
        "Begin Object MyApp From Application\nEnd Object\nBegin Object Other From Application\nEnd Object\n"
        "Begin Object Plain\nEnd Object\n");
    (void)a;
    EXPECT_EQ(iGlobals::GetApp(), nullptr);
    iGlobals::SetApp(InterObj(found("Plain")));  // no Application: nothing named
    EXPECT_EQ(iGlobals::GetApp(), nullptr);
    iGlobals::SetApp(InterObj(found("MyApp")));
    EXPECT_EQ(iGlobals::GetApp(), found("MyApp"));
    iGlobals::SetApp(InterObj(found("MyApp")));  // the same again is no change
    EXPECT_NE(failure([&] { iGlobals::SetApp(InterObj(found("Other"))); }), "no exception");
    found("MyApp")->Destroy();
    InterObjRep::DeleteObjects();
    EXPECT_EQ(iGlobals::GetApp(), nullptr);
    iGlobals::SetApp(InterObj(found("Other")));
    EXPECT_EQ(iGlobals::GetApp(), found("Other"));
}

TEST(PathFunctions, GiveNewStringValuesOfTheParts) {
    const struct {
        ValStringRep* (*fn)(const char*);
        const char* in;
        const char* out;
    } cases[] = {
        {&VSRFullPathName, "/a/./b.c.txt", "/a/b.c.txt"}, {&VSRShortPathName, "/a/b.c.txt", "/a/b.c.txt"},
        {&VSRPath, "/a/b.c.txt", "/a/"},                  {&VSRName, "/a/b.c.txt", "b.c"},
        {&VSRExtension, "/a/b.c.txt", ".txt"},            {&VSRExtension, "/a/b", ""},
        {&VSRFullPathName, nullptr, ""},                  {&VSRFullPathName, "", ""},
    };
    for (const auto& c : cases) {
        const ValString v(c.fn(c.in));
        EXPECT_EQ(Str(v), c.out) << (c.in ? c.in : "(null)");
    }
}

}  // namespace
}  // namespace tq
