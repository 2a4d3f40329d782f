// The fixture of the object model suites: identifier tables started, the
// detached module current, modules on temporary storages on request, and
// at the end of every test everything made in it released and freed, so
// that a test can check that counts came back to where they were.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "tests/support/asserts.h"
#include "tests/support/fieldaccess.h"

namespace tq {

class ModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A new module on a temporary storage (or on the file at path); it
    // becomes current. Modules go at the end of the test, or by close().
    tModuleIndex openModule(const std::string& path = "");
    void closeModule(tModuleIndex m);
    // Writes every table of module m into its storage, as a save does.
    static void saveTables(tModuleIndex m);

    // Things made with the test's helpers.
    static InterObjRep* named(const char* name);
    static InterDataField* dataField(const char* name, IdType type, const char* typeName = nullptr);
    static void addData(InterObjRep* o, const char* name, IdType type);
    // The text of the StoreException f raises, or "no failure".
    static std::string FailureText(const std::function<void()>& f);

    size_t objectsAtStart_ = 0;
    size_t signaturesAtStart_ = 0;
    std::vector<std::unique_ptr<ObjectStore>> modules_;
};

}  // namespace tq
