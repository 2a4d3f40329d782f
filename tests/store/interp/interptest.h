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

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/block.h"
#include "store/context.h"
#include "store/errors/extexcep.h"
#include "store/interp/stackfrm.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "store/printable.h"
#include "store/storeapp.h"
#include "tests/support/asserts.h"
#include "tests/support/fieldaccess.h"
#include "tests/support/program.h"

namespace tq {

// The record field f writes in module m.
inline std::vector<uint8_t> RecordBytes(const Field& f, tModuleIndex m) {
    OCLStorage scratch;
    OCLStream s(scratch, "x", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    {
        ObjectStore::WritingScope writing(m);
        f.write(s);
    }
    std::vector<uint8_t> bytes(s.size());
    s.seek(0);
    s.read(bytes.data(), bytes.size());
    return bytes;
}

// A print sink that keeps what it is given, in the default layout.
class CapturedPrint : public TextPrintable {
public:
    std::string text;

protected:
    void write(const char* s, size_t n) override { text.append(s, n); }
};

// The default application with its Print output kept in `printed`.
class PrintingApp : public DefaultStoreApplication {
public:
    PrintingApp() { setCurrentPrintable(&printed); }
    CapturedPrint printed;
};

// A recursive Function Fib(n As Long) As Long, as the suites' programs use it.
inline constexpr const char* kFibSource = R"(
    Function Fib(n As Long) As Long
      If n < 2 Then
        Fib = n
      Else
        Fib = Fib(n - 1) + Fib(n - 2)
      End If
    End Function
)";

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
    // The objects program's counter: a named prototype with a Long Count, a
    // Double Total and Sub Add(k As Long), which adds 1 to Count and k to
    // Total.
    static InterObjRep* counterObject(const char* name);
    // The text of the StoreException f raises, or "no failure".
    static std::string FailureText(const std::function<void()>& f);
    // Runs member name of obj (a method, as a program calls it) with the
    // arguments in their written order; the value it gives, or null.
    static ValuePtr Call(InterObjRep* obj, const char* name, std::initializer_list<ValuePtr> args = {});

    size_t objectsAtStart_ = 0;
    size_t signaturesAtStart_ = 0;
    size_t blocksAtStart_ = 0;
    size_t valuesAtStart_ = 0;
    std::vector<std::unique_ptr<ObjectStore>> modules_;
};

}  // namespace tq
