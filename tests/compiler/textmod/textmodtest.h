// Text-module tests: a default application with text modules enabled, a
// scratch folder, and modules made from text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

#include "tests/support/freshproc.h"

namespace tq::compiler::test {

class TextModules : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A new empty module with text loaded into it; the test fails with the
    // errors when the text does not compile.
    tModuleIndex load(const std::string& text, const std::string& file = "test.tqs");
    // A new empty module, the text loaded; the CompileError's message, or
    // "" when it compiled.
    std::string errorsOf(const std::string& text, const std::string& file = "test.tqs");
    static InterObjRep* object(const char* name);
    static std::string declaration(const char* object, const char* field);
    static std::string text(const char* object, const char* field);
    static int32_t number(const char* object, const char* field);
    std::string writeFile(const std::string& name, const std::string& text);
    static std::string readFile(const std::string& path);

    ScratchDir dir_;
};

}  // namespace tq::compiler::test
