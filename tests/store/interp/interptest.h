// The fixture of the interpreter suites: identifier tables started, the
// detached module current, and at the end of every test a check that the
// test left nothing behind: no frame on the execution stack, no slot of the
// lookup-cache pool in use, and as many objects, signatures, blocks and
// values in memory as when it began (the error tests rely on this to show
// that a failing statement releases everything it made).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/block.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/stackfrm.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "tests/support/asserts.h"
#include "tests/support/fieldaccess.h"
#include "tests/support/program.h"

namespace tq {

class InterpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A new module on a temporary storage (or the file at path), current
    // until the test ends or it is closed.
    tModuleIndex openModule(const std::string& path = "");
    void closeModule(tModuleIndex m);

    // A named prototype with Long (or other) fields.
    static InterObjRep* named(const char* name);
    static void addData(InterObjRep* o, const char* name, IdType type);
    // The text of the StoreException f raises, or "no failure".
    static std::string FailureText(const std::function<void()>& f);

    size_t objectsAtStart_ = 0;
    size_t signaturesAtStart_ = 0;
    size_t blocksAtStart_ = 0;
    size_t valuesAtStart_ = 0;
    std::vector<std::unique_ptr<ObjectStore>> modules_;
};

}  // namespace tq
