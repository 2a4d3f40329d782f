// Declared library procedures as fields: their record byte for byte and
// back, records from a file that are not sound, and the text they print.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/interp/dllfld.h"
#include "store/model/intfld.h"
#include "store/model/objval.h"
#include "tests/store/interp/interptest.h"

namespace tq {
namespace {

using DeclaredFields = InterpTest;

// The field bytes read as, or the failure's text.
std::string ReadBack(const std::vector<uint8_t>& bytes, tModuleIndex m, FieldPtr* out = nullptr) {
    OCLStorage storage;
    OCLStream s(storage, "x", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.write(bytes.data(), bytes.size());
    s.seek(0);
    try {
        FieldPtr f(Field::makeFrom(s, m));
        if (out) *out = f;
    } catch (const XException& e) {
        return e.what();
    }
    return "read";
}

CDLLFuncField* Scale(tModuleIndex) {
    auto* f = new CDLLFuncField("Scale", IDT_DOUBLE, "ff_scale_double", "libx.so",
                                "Declare Function Scale Lib \"libx.so\" Alias \"ff_scale_double\" (ByVal x#, n&)");
    f->defineArgument(InterDataField::make("x", IDT_DOUBLE, 1));
    f->defineArgument(InterDataField::make("n", IDT_LONG, 0));
    return f;
}

TEST_F(DeclaredFields, ARecordHoldsTheLibraryTheAliasAndTheTextAndReadsBackTheSame) {
    const tModuleIndex m = openModule();
    FieldPtr f(Scale(m));
    const std::vector<uint8_t> r = RecordBytes(*f.get(), m);
    EXPECT_EQ(r[0], FRK_DLL_FUNCTION);
    EXPECT_EQ(r[1], 0x06) << "the name: a counted identifier descriptor";
    EXPECT_EQ(r[7], 0x04) << "the parameter prototype";
    EXPECT_EQ(r[12], IDT_DOUBLE) << "the return type";
    EXPECT_EQ(LoadLE32(&r[13]), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[17]), 7), "libx.so");
    EXPECT_EQ(r[24], 1) << "an alias follows";
    EXPECT_EQ(LoadLE32(&r[25]), 15u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[29]), 15), "ff_scale_double");
    const std::string text = "Declare Function Scale Lib \"libx.so\" Alias \"ff_scale_double\" (ByVal x#, n&)";
    EXPECT_EQ(LoadLE32(&r[44]), text.size());
    EXPECT_EQ(r.size(), 48 + text.size());

    FieldPtr back;
    ASSERT_EQ(ReadBack(r, m, &back), "read");
    auto* d = dynamic_cast<CDLLFuncField*>(back.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->type(), IDT_DOUBLE);
    EXPECT_EQ(d->parmCount(), 2);
    EXPECT_EQ(d->getSource(), text + "\r\n");
    EXPECT_EQ(RecordBytes(*d, m), r);

    // A Sub without alias, parameters or text: printed from its parts.
    FieldPtr bare(new CDLLProcField("Beep", nullptr, "libk.so"));
    const std::vector<uint8_t> b = RecordBytes(*bare.get(), m);
    EXPECT_EQ(b[0], FRK_DLL_PROCEDURE);
    EXPECT_EQ(LoadLE32(&b[8]), 0x3FFFFFFFu) << "no parameters";
    EXPECT_EQ(b[12 + 4 + 7], 0) << "no alias";
    ASSERT_EQ(ReadBack(b, m, &back), "read");
    EXPECT_EQ(back->isProcedure(), true);
    EXPECT_EQ(static_cast<CDLLProcField*>(back.get())->getSource(), "Declare Sub Beep Lib \"libk.so\" ()\r\n");
    EXPECT_EQ(RecordBytes(*back.get(), m), b);
}

TEST_F(DeclaredFields, TextIsMadeFromThePartsWhenNoneWasKept) {
    openModule();
    FieldPtr f(new CDLLFuncField("Pick", IDT_OBJECT, "", "libp.so"));
    auto* p = static_cast<CDLLFuncField*>(f.get());
    p->defineArgument(InterDataField::make("o", IDT_OBJECT, 1));
    p->defineArgument(InterDataField::make("s", IDT_STRING, 0));
    EXPECT_EQ(p->getSource(), "Declare Function Pick Lib \"libp.so\" Alias \"\" (ByVal o As Object, s As String) "
                              "As Object\r\n");
    // An empty alias looks the function up by its own name.
    EXPECT_STREQ(p->symbol(), "Pick");
}

TEST_F(DeclaredFields, ARecordThatIsNotSoundIsRefusedWithWhatIsWrong) {
    auto put = [](size_t at, std::vector<uint8_t> bytes) {
        return [at, bytes](std::vector<uint8_t> r) {
            for (size_t i = 0; i < bytes.size(); ++i) r[at + i] = bytes[i];
            return r;
        };
    };
    const struct Case {
        const char* what;
        std::function<std::vector<uint8_t>(std::vector<uint8_t>)> edit;
        const char* text;
    } cases[] = {
        {"a return type of no C form", put(12, {IDT_VARIANT}), "Unable to load object: declaration 'Scale': the return type 9 is not one of 1 to 7"},
        {"an empty library name", put(13, {0, 0, 0, 0}), ""},
        {"a control character in the library name", put(17, {0x01}),
         "Unable to load object: declaration 'Scale': the library's name is empty or not text"},
        {"an alias flag that is neither 0 nor 1", put(24, {2}),
         "Unable to load object: declaration 'Scale': the alias flag 2 is neither 0 nor 1"},
        {"a NUL in the alias", put(30, {0}), "Unable to load object: declaration 'Scale': the alias is not text"},
        {"a NUL in the text", put(50, {0}),
         "Unable to load object: declaration 'Scale': the declaration's text holds a NUL"},
        {"a text longer than the stream", put(44, {0xFF, 0xFF, 0, 0}), ""},
        {"a record cut short", [](std::vector<uint8_t> r) { return std::vector<uint8_t>(r.begin(), r.begin() + 20); },
         ""},
    };
    for (const Case& c : cases) {
        const tModuleIndex m = openModule();
        FieldPtr f(Scale(m));
        const std::string got = ReadBack(c.edit(RecordBytes(*f.get(), m)), m);
        if (*c.text)
            EXPECT_EQ(got, c.text) << c.what;
        else
            EXPECT_NE(got, "read") << c.what;
        f = FieldPtr();
        closeModule(m);
    }
}

TEST_F(DeclaredFields, ParametersAndNamesWithNoCFormAreRefused) {
    openModule();
    InterObjRep* o = named("Holder");
    FieldPtr f(new CDLLProcField("Take", nullptr, TQ_TEST_FFILIB));
    auto* d = static_cast<CDLLProcField*>(f.get());
    d->defineArgument(InterDataField::make("shape", IDT_OBJECT, 1, "Holder"));
    o->addField(d);
    EXPECT_EQ(FailureText([&] { Call(o, "Take", {ValuePtr(new ObjectValue(InterObj(o)))}); }),
              "declaration 'Take': parameter 'shape' is an object of class Holder (only 'As Object' passes): a "
              "library procedure cannot take it");
    EXPECT_EQ(FailureText([] { CDLLProcField("Odd", nullptr, "lib\x01.so"); }),
              "declaration 'Odd': the library's name holds control characters");
    EXPECT_EQ(FailureText([] { CDLLProcField("Empty", nullptr, ""); }), "declaration 'Empty': the library's name is empty");
}

}  // namespace
}  // namespace tq
