// The exception classes: texts, names, particulars, copies and rethrows.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/com/hresult.h"
#include "store/errors/extexcep.h"

namespace tq {
namespace {

TEST(StoreExceptionBase, ConstructorsGiveTextNameAndNoLine) {
    StoreException plain;
    EXPECT_STREQ(plain.what(), "Not an exception");
    EXPECT_STREQ(plain.name(), "Exception");
    EXPECT_EQ(plain.line, -1);
    EXPECT_EQ(plain.flags, 0u);

    EXPECT_STREQ(StoreException("boom", nullptr).name(), "Exception");
    StoreException named("boom", "MyError");
    EXPECT_STREQ(named.what(), "boom");
    EXPECT_STREQ(named.name(), "MyError");
    EXPECT_STREQ(StoreException(std::string("from string")).what(), "from string");
    EXPECT_STREQ(StoreException(static_cast<const char*>(nullptr), nullptr).what(), "");
}

TEST(StoreExceptionBase, CopiesOwnTheirName) {
    auto original = std::make_unique<StoreException>("text", "OwnName");
    original->line = 12;
    StoreException copy(*original);
    std::unique_ptr<StoreException> clone(original->Clone());
    original.reset();
    EXPECT_STREQ(copy.name(), "OwnName");
    EXPECT_STREQ(clone->name(), "OwnName");
    EXPECT_EQ(copy.line, 12);
    EXPECT_STREQ(clone->what(), "text");
}

TEST(ExceptionFamily, NamesAreTheClassNamesExceptForTheFourThatKeepTheBase) {
    EXPECT_STREQ(NotFound(32741, "x").name(), "NotFound");
    EXPECT_STREQ(RangeError(32728, 0, 1, 2).name(), "RangeError");
    EXPECT_STREQ(ConvertFailed("w", IDT_LONG).name(), "ConvertFailed");
    EXPECT_STREQ(OleException(E_FAIL, "t").name(), "OleException");
    EXPECT_STREQ(ObjectLoadFailed("o").name(), "ObjectLoadFailed");
    EXPECT_STREQ(ModuleOpenFailed("m").name(), "ModuleOpenFailed");
    EXPECT_STREQ(ModuleUnloadFailed(32680, nullptr).name(), "ModuleUnloadFailed");
    EXPECT_STREQ(ProxyResolveFailed("p", ProxyResolveFailed::NOT_FOUND).name(), "ProxyResolveFailed");
    EXPECT_STREQ(CollisionOnSelf("w").name(), "CollisionOnSelf");
    EXPECT_STREQ(TypeMismatch("Value::eval()", 32765).name(), "TypeMismatch");
    EXPECT_STREQ(Is_Null("w", 32743).name(), "Is_Null");
    EXPECT_STREQ(TerminateExecution().name(), "TerminateExecution");

    EXPECT_STREQ(DuplicateName().name(), "Exception");
    EXPECT_STREQ(FieldCollision(32749u).name(), "Exception");
    EXPECT_STREQ(MathError().name(), "Exception");
    EXPECT_STREQ(DatabaseError("db").name(), "Exception");

    // The text form keeps the given name in the field but reports the class.
    FPException fp("overflow", "Custom");
    EXPECT_STREQ(fp.name(), "FPException");
    EXPECT_STREQ(fp.what(), "overflow");
    EXPECT_STREQ(InvalidFieldName(32708, "1abc").name(), "InvalidFieldName");
    EXPECT_STREQ(InvalidObjectName(32708, "1abc").what(), "1abc is not a valid name.");
}

TEST(ExceptionFamily, MessagesOfTheNumberedClasses) {
    RangeError range(32727, 0, 4, 9);
    EXPECT_STREQ(range.what(), "Invalid object group index: 9.");
    EXPECT_EQ(range.low(), 0);
    EXPECT_EQ(range.high(), 4);
    EXPECT_EQ(range.value(), 9);

    EXPECT_STREQ(DuplicateName().what(), "Object named '%s' already exists.");
    EXPECT_STREQ(DuplicateName("Form1").what(), "Object named 'Form1' already exists.");
    EXPECT_STREQ(DuplicateName(32741u).what(), "Object '%s' was not found");
    EXPECT_STREQ(ConvertFailed("Value::get()", IDT_CURRENCY).what(), "Conversion to type Currency failed");
    EXPECT_STREQ(DatabaseError().what(), "%s");
    EXPECT_STREQ(DatabaseError("ODBC said no").what(), "ODBC said no");
    EXPECT_STREQ(MethodDataCollision("w").what(), "A data field by the same name exists");
    EXPECT_STREQ(CollisionOnChild("w").what(), "Field is defined on a child of this object");
    EXPECT_STREQ(FPException(32704, nullptr).what(), "FPE: Floating Point Divide by Zero.");
    EXPECT_STREQ(AccessDenied("ObjectStore::OpenModule", 32717).what(), "Invalid module index.");
    EXPECT_STREQ(DllLoadFailure("CDLLProcField()", "user32", 32767).what(),
                 "unable to load requested DLL.");
    EXPECT_STREQ(ModuleUnloadFailed(32681, nullptr).what(), "Detached Modules cannot be unloaded.");
    EXPECT_EQ(TerminateExecution().flags & kExecutionControlFlag, kExecutionControlFlag);
    EXPECT_STREQ(PauseExecution().what(), "Execution Suspended.");
}

TEST(ExceptionFamily, ConvertFailedNamesEveryTypeCodeWithoutAsserting) {
    EXPECT_STREQ(ConvertFailed("w", IDT_SHORT).what(), "Conversion to type Integer failed");
    EXPECT_STREQ(ConvertFailed("w", IDT_VOID).what(), "Conversion to type void failed");
    EXPECT_STREQ(ConvertFailed("w", IDT_UNTYPED).what(), "Conversion to type untyped failed");
    // Only the low five bits are the type.
    EXPECT_STREQ(ConvertFailed("w", 0x40 | IDT_STRING).what(), "Conversion to type String failed");
    EXPECT_STREQ(ConvertFailed("w", 0x1F).what(), "Conversion to type unknown failed");
}

TEST(ExceptionFamily, NullNamesFormatAsEmptyAndStayNull) {
    ObjectLoadFailed object(nullptr);
    EXPECT_STREQ(object.what(), "Unable to load object: ");
    EXPECT_EQ(object.objectName(), nullptr);
    ModuleOpenFailed module(nullptr);
    EXPECT_STREQ(module.what(), "Unable to open module: ");
    EXPECT_EQ(module.moduleName(), nullptr);
    ProxyResolveFailed proxy(nullptr, ProxyResolveFailed::ENUM_NOT_FOUND);
    EXPECT_STREQ(proxy.what(), "Unable to resolve: ");
    EXPECT_EQ(proxy.proxyName(), nullptr);
    EXPECT_EQ(proxy.reason(), 3);
    NotFound notFound(32737, nullptr);
    EXPECT_STREQ(notFound.what(), "Field '' does not exist.");
    EXPECT_EQ(notFound.whatText(), "");
}

TEST(ExceptionFamily, CloneAndThrowKeepTheDynamicClassAndParticulars) {
    std::unique_ptr<StoreException> held = std::make_unique<NotFound>(32741, "Form1");
    held->line = 40;
    std::unique_ptr<StoreException> clone(held->Clone());
    auto* cloned = dynamic_cast<NotFound*>(clone.get());
    ASSERT_NE(cloned, nullptr);
    EXPECT_EQ(cloned->whatText(), "Form1");
    EXPECT_EQ(cloned->line, 40);

    try {
        held->Throw();
        FAIL() << "Throw returned";
    } catch (const NotFound& e) {
        EXPECT_EQ(e.whatText(), "Form1");
        EXPECT_STREQ(e.what(), "Object 'Form1' was not found");
        EXPECT_EQ(e.line, 40);
    }

    // Caught by the base, rethrown through Throw(): still a NotFound.
    try {
        try {
            throw NotFound(32740, "x");
        } catch (StoreException& e) {
            e.Throw();
        }
    } catch (const NotFound& e) {
        EXPECT_EQ(e.whatText(), "x");
    } catch (...) {
        FAIL() << "rethrown as another class";
    }
}

TEST(ExceptionFamily, OwnedNamesSurviveTheOriginal) {
    auto original = std::make_unique<ModuleOpenFailed>("/tmp/a.qbo");
    std::unique_ptr<StoreException> clone(original->Clone());
    ModuleOpenFailed copy(*original);
    original.reset();
    EXPECT_STREQ(static_cast<ModuleOpenFailed*>(clone.get())->moduleName(), "/tmp/a.qbo");
    EXPECT_STREQ(copy.moduleName(), "/tmp/a.qbo");
    EXPECT_STREQ(copy.what(), "Unable to open module: /tmp/a.qbo");
}

TEST(SystemErrors, TextOfTheCodeAndSystemErrorName) {
    try {
        ThrowSystemError(ENOENT, nullptr);
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.name(), "SystemError");
        EXPECT_STREQ(e.what(), std::strerror(ENOENT));
    }
    errno = EACCES;
    try {
        ThrowSystemError(0, "Opening");
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.name(), "Opening");
        EXPECT_STREQ(e.what(), std::strerror(EACCES));
    }
}

TEST(OleExceptions, CheckThrowsOnlyForFailures) {
    EXPECT_NO_THROW(OleException::Check(S_OK, "CreateInstance"));
    EXPECT_NO_THROW(OleException::Check(S_FALSE, "CreateInstance"));
    try {
        OleException::Check(E_NOINTERFACE, "CreateInstance");
        FAIL() << "no exception";
    } catch (const OleException& e) {
        EXPECT_EQ(e.hr(), E_NOINTERFACE);
        const std::string text = e.what();
        EXPECT_NE(text.find("CreateInstance"), std::string::npos) << text;
        EXPECT_NE(text.find("0x80004002"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace tq
