// What the suites that run the language's programs share: where the
// programs lie, a print sink that keeps the text, and a clean store between
// programs.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace tq::compiler::test {

inline const std::string kPrograms = std::string(TQ_SOURCE_DIR) + "/tests/programs";
inline const std::string kExamples = std::string(TQ_SOURCE_DIR) + "/examples";

// Unloads every loaded module, the last loaded first, so that a module is
// gone before the modules it builds on. (UnloadAllModules is for the
// library's end: it leaves the store locked, and a locked store raises no
// events.)
inline void UnloadEveryModule() {
    for (int m = MAX_MODULES - 1; m >= 0; --m)
        if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m))) ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
}

class StringPrintable final : public TextPrintable {
public:
    std::string text;

protected:
    void write(const char* t, size_t length) override { text.append(t, length); }
};

// A suite of programs loaded from text, with the library's own classes
// (Group) published as a host's initializer publishes them; each test ends
// with the register form on and no module or object left behind.
class ProgramSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        EnableTextModules();
        ObjectStore::PublishObjectDLL("tqstore");
    }
    void TearDown() override {
        RegisterForm::SetEnabled(true);
        UnloadEveryModule();
        InterObjRep::DeleteObjects();
    }
};

// The programs of a folder, as paths without the ".tqs".
inline std::vector<std::string> ProgramsIn(const std::string& folder) {
    std::vector<std::string> bases;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".tqs") bases.push_back(folder + "/" + entry.path().stem().string());
    std::sort(bases.begin(), bases.end());
    return bases;
}

// The first static object of module m, in dependency order, with a
// procedure named method.
inline InterObjRep* ObjectWith(tModuleIndex m, const char* method) {
    GroupObjectList objects;
    ObjectStore::GetStaticObjects(m, objects, 1);
    for (size_t i = 0; i < objects.length(); ++i) {
        InterObjRep* o = objects[i].get();
        Field* f = o ? o->findField(method) : nullptr;
        if (f && f->isMethod()) return o;
    }
    return nullptr;
}

// A program's test name: its file name without the folder.
inline std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
    return std::filesystem::path(info.param).filename().string();
}

}  // namespace tq::compiler::test
