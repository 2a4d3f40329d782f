// What running a text program costs the process besides the program: no
// file written (not even the temporary storage a module keeps its records
// in) and no compound-file library mapped, because neither is needed until
// something is saved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "tests/support/freshproc.h"

namespace tq::compiler::test {
namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Sink final : public TextPrintable {
public:
    std::string text;

protected:
    void write(const char* t, size_t length) override { text.append(t, length); }
};

TEST(TextRun, WritesNoFileAndLoadsNoCompoundFileLibraryUntilSomethingIsSaved) {
    if (!IsFreshProcess()) {
        ScratchDir temp, work;
        std::ofstream(work.file("hello.tqs")) << "Begin Object Program\n"
                                                 "  Dim Count As Long\n"
                                                 "  Sub Main()\n"
                                                 "    Count = Count + 1\n"
                                                 "    Print \"hello\"; Count\n"
                                                 "  End Sub\n"
                                                 "End Object\n";
        EXPECT_EQ(RunInFreshProcess({{"TMPDIR", temp.path()}, {"TQ_WORK", work.path()}}), 0);
        return;
    }
    const std::string temp = std::getenv("TMPDIR");
    const std::string work = FreshProcessArg("TQ_WORK");
    IdString::Initialize();
    EnableTextModules();
    {
        DefaultStoreApplication app;
        Sink out;
        app.setCurrentPrintable(&out);
        const std::string program = work + "/hello.tqs";
        const tModuleIndex m = ObjectStore::LoadModule(program.c_str(), 0, 0);
        ASSERT_TRUE(ObjectStore::ValidIndex(m));
        InterObj main;
        ASSERT_TRUE(ObjectStore::find("Program", main));
        int handled = 0;
        main->evalIMember("Main", nullptr, &handled);
        main = nullptr;
        EXPECT_EQ(out.text.rfind("hello", 0), 0u) << out.text;
        EXPECT_TRUE(FilesIn(temp).empty());
        EXPECT_FALSE(Mapped("libgsf"));
        EXPECT_FALSE(Mapped("libglib"));

        // Saving the module as a binary one is the first use of a compound
        // file.
        ObjectStore::SaveAs(m, (work + "/hello.qbo").c_str(), 0);
        EXPECT_TRUE(Mapped("libgsf"));
        ObjectStore::UnloadModule(m);
        InterObjRep::DeleteObjects();
    }
    EXPECT_TRUE(FilesIn(temp).empty());
    EXPECT_EQ(FilesIn(work), (std::vector<std::string>{"hello.qbo", "hello.tqs"}));
}

}  // namespace
}  // namespace tq::compiler::test
