// What the built-in class suites share: a published library, text modules
// written to a scratch folder and loaded, objects found by path, and every
// module unloaded after each test.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <tqcompile/tqcompile.h>

#include "store/model/interobj.h"
#include "store/persist/objstore.h"
#include "tests/support/freshproc.h"

namespace tq {

class BuiltinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        compiler::EnableTextModules();
        ObjectStore::PublishObjectDLL("tqstore");
    }
    void TearDown() override {
        for (int m = MAX_MODULES - 1; m >= 0; --m)
            if (ObjectStore::ValidIndex(static_cast<tModuleIndex>(m)))
                ObjectStore::UnloadModule(static_cast<tModuleIndex>(m));
        InterObjRep::DeleteObjects();
    }

    tModuleIndex loadText(const std::string& name, const std::string& text) {
        const std::string path = dir_.file(name);
        std::ofstream(path) << text;
        return ObjectStore::LoadModule(path.c_str(), 0, 0);
    }
    static InterObjRep* found(const char* path) {
        InterObj o;
        return ObjectStore::find(path, o) ? o.get() : nullptr;
    }

    ScratchDir dir_;
};

}  // namespace tq
