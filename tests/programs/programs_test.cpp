// Programs written in the language, run end to end: every NAME.tqs in this
// folder is loaded as a text module and its Main run (the Main of the
// first object that has one, in the order the module lists its objects);
// what it prints must equal NAME.out beside it, byte for byte. An error
// that escapes Main ends the output with a line "error: " and its message,
// so a program can show how it fails too.
//
// To add a case: write NAME.tqs, run it, check the output by hand and save
// it as NAME.out.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace tq::compiler::test {
namespace {

const std::string kFolder = std::string(TQ_SOURCE_DIR) + "/tests/programs";

// Unloads every loaded module, the last loaded first, so that a module is
// gone before the modules it builds on. (UnloadAllModules is for the
// library's end: it leaves the store locked, and a locked store raises no
// events.)
void UnloadEveryModule() {
    for (int m = MAX_MODULES - 1; m >= 0; --m)
        if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m))) ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
}

class StringPrintable final : public TextPrintable {
public:
    std::string text;

protected:
    void write(const char* t, size_t length) override { text.append(t, length); }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> ProgramNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kFolder))
        if (entry.path().extension() == ".tqs") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The first static object of module m, in dependency order, with a
// procedure named Main.
InterObjRep* MainObject(tModuleIndex m) {
    GroupObjectList objects;
    ObjectStore::GetStaticObjects(m, objects, 1);
    for (size_t i = 0; i < objects.length(); ++i) {
        InterObjRep* o = objects[i].get();
        Field* f = o ? o->findField("Main") : nullptr;
        if (f && f->isMethod()) return o;
    }
    return nullptr;
}

class Programs : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        EnableTextModules();
    }
};

TEST_P(Programs, PrintWhatTheirExpectedOutputSays) {
    const std::string base = kFolder + "/" + GetParam();
    ASSERT_TRUE(std::filesystem::exists(base + ".out")) << "no expected output beside " << base << ".tqs";
    DefaultStoreApplication app;
    StringPrintable out;
    app.setCurrentPrintable(&out);
    const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
    try {
        LoadTextModuleFile(base + ".tqs", m);
    } catch (const StoreException& e) {
        UnloadEveryModule();
        FAIL() << e.what();
    }
    InterObjRep* main = MainObject(m);
    if (!main) {
        UnloadEveryModule();
        FAIL() << "no object with a Main";
    }
    try {
        int handled = 0;
        main->evalIMember("Main", nullptr, &handled);
    } catch (const StoreException& e) {
        if (out.column() != 0) out.text += "\n";
        out.text += std::string("error: ") + e.what() + "\n";
    }
    UnloadEveryModule();
    InterObjRep::DeleteObjects();
    EXPECT_EQ(out.text, ReadFile(base + ".out"));
}

INSTANTIATE_TEST_SUITE_P(Tqs, Programs, ::testing::ValuesIn(ProgramNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace tq::compiler::test
