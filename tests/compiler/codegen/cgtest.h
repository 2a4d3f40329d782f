// The fixture of the code generator's suites: procedures compiled from
// text onto named objects, run as a program calls them, with what they
// print kept; and at the end of every test a check that nothing was left
// behind (frames, cache slots, blocks, objects, values), so that a failed
// compilation is seen to release everything it built.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include <tqcompile/tqcompile.h>
#include <tqstore/tqstore.h>

namespace tq::compiler {

// A print sink that keeps what it is given, in the default layout.
class CapturedPrint : public TextPrintable {
public:
    std::string text;

protected:
    void write(const char* s, size_t n) override { text.append(s, n); }
};

class CodegenTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { IdString::Initialize(); }
    void SetUp() override;
    void TearDown() override;

    // A named object of the detached module with the procedures of each
    // text (CompileProcedure: a failure is the test's failure).
    InterObjRep* object(const char* name, std::initializer_list<const char*> procedures);
    // Adds a Long (or other) field.
    static void addData(InterObjRep* o, const char* name, IdType type = IDT_LONG);
    // Runs member name of obj with the arguments in written order; what it
    // printed, or "error: " and the failure's text.
    std::string run(InterObjRep* obj, const char* name, std::initializer_list<ValuePtr> args = {});
    // The value member name of obj gives.
    static ValuePtr call(InterObjRep* obj, const char* name, std::initializer_list<ValuePtr> args = {});
    // The CompileError's message of compiling a procedure's text, or "no error".
    static std::string errorsOf(const char* procedure);

private:
    size_t objectsAtStart_ = 0;
    size_t blocksAtStart_ = 0;
    size_t valuesAtStart_ = 0;
};

inline ValuePtr Long(int32_t v) { return ValuePtr(new LongValue(v)); }

}  // namespace tq::compiler
