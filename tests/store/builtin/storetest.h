// What the suites of the module and project classes share: the library's
// classes published and text modules on, every module unloaded after each
// test, files in a scratch folder, and the text of a failure.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>

#include "store/errors/storeexc.h"
#include "store/model/interobj.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "tests/support/freshproc.h"

namespace tq {

class StoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        compiler::EnableTextModules();
        ObjectStore::PublishObjectDLL("tqstore");
    }
    // Every module goes, as one set: modules of a test may build on one
    // another in any order.
    void TearDown() override {
        std::vector<tModuleIndex> all;
        for (int m = 0; m < MAX_MODULES; ++m)
            if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m))) all.push_back(static_cast<tModuleIndex>(m));
        all.push_back(NO_MODULE);
        ObjectStore::UnloadModules(all.data());
        InterObjRep::DeleteObjects();
    }

    std::string write(const std::string& name, const std::string& text) {
        const std::string path = dir_.file(name);
        std::ofstream(path) << text;
        return path;
    }
    // A binary module made from text: written, loaded, saved as .qbo and
    // unloaded again.
    std::string binary(const std::string& name, const std::string& text) {
        const tModuleIndex m = ObjectStore::LoadModule(write(name + ".tqs", text).c_str(), 0, 0);
        const std::string path = dir_.file(name + ".qbo");
        ObjectStore::SaveAs(m, path.c_str(), 0);
        ObjectStore::UnloadModule(m);
        return path;
    }
    static InterObjRep* found(const char* name) {
        InterObj o;
        return ObjectStore::find(name, o) ? o.get() : nullptr;
    }
    // The text of the exception of class E that f raises, or "no exception".
    template <class E = StoreException, class F>
    static std::string failure(F&& f) {
        try {
            f();
        } catch (const E& e) {
            return e.what();
        }
        return "no exception";
    }

    DefaultStoreApplication app_;
    ScratchDir dir_;
};

}  // namespace tq
