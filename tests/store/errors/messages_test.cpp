// The message table, byte for byte, and how messages are built from it.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "store/errors/extexcep.h"
#include "store/errors/msgtable.h"

namespace tq {
namespace {

// The texts users see and hosts compare with, kept here apart from the
// library's own table so that a slip in either shows.
struct Expected {
    unsigned id;
    const char* text;
};
constexpr Expected kExpected[] = {
    {32678, "File '%s' could not be opened."},
    {32679, "Couldn't create object due to OLE failure:\n\n %s\n\nCheck to be sure all DLL's can be found in Path."},
    {32680, "Modules with CanUnload set to False cannot be unloaded."},
    {32681, "Detached Modules cannot be unloaded."},
    {32682, "Module is in use and cannot be unloaded."},
    {32683, "ODBC driver '%s' could not be validated."},
    {32684, "Inherited embedded objects are not allowed to be specialized."},
    {32685, "Unable to resolve: %s"},
    {32686, "The alias '%s' does not refer to a valid object."},
    {32687, "Unable to open module: %s"},
    {32688, "Unable to load object: %s"},
    {32689, "A return value was not expected for identifier."},
    {32690, "A return value was expected for identifier."},
    {32691, "At least one group member must be able to evaluate '%s'.  No group members were successful."},
    {32692, "Attempt to evaluate '%s' on an empty group."},
    {32693, "All group members must be able to evaluate '%s'.  At least one group member failed."},
    {32694, "Object %s cannot be abstracted, it is already a prototype."},
    {32695, "Attempt to set a constant value"},
    {32696, "%s"},
    {32697, "Attempt to rethrow an exception outside a Catch block"},
    {32698, "Math Error"},
    {32699, "FPE: Floating Point Exception."},
    {32700, "FPE: Floating Point Stack Fault."},
    {32701, "FPE: Floating Point Inexact."},
    {32702, "FPE: Floating Point Underflow."},
    {32703, "FPE: Floating Point Overflow."},
    {32704, "FPE: Floating Point Divide by Zero."},
    {32705, "FPE: Invalid Floating point operation."},
    {32706, "FPE: Divide by Zero."},
    {32707, "FPE: Integer Overflow."},
    {32708, "%s is not a valid name."},
    {32709, "With syntax used outside With block."},
    {32710, "Member '%s' does not exist."},
    {32711, "Invalid object for preload"},
    {32712, "Illegal value given for '%s'."},
    {32713, "Stack overflow."},
    {32714, "Offset out of range: %d"},
    {32715, "Division by zero."},
    {32716, "Field is defined on a child of this object"},
    {32717, "Invalid module index."},
    {32718, "Module is read-only."},
    {32719, "Event '%s' has not been registered."},
    {32720, "Event '%s' does not exist."},
    {32721, "Attempt to create an unnamed signature"},
    {32722, "Call to procedure is illegal as left operand of assignment."},
    {32723, "Function '%s' does not compile correctly."},
    {32724, "Subroutine '%s' does not compile correctly."},
    {32725, "Expression has no value."},
    {32726, "Remove of embed failed: Not Found"},
    {32727, "Invalid object group index: %d."},
    {32728, "Index %d out of range."},
    {32729, "Illegal dimension: %d"},
    {32730, "EXIT DO called outside of Do..Loop"},
    {32731, "EXIT FOR called outside of For..Loop"},
    {32732, "EXIT SUB called outside of Subroutine."},
    {32733, "EXIT FUNCTION called outside of Function."},
    {32734, "EXIT PROGRAM statement not implemented."},
    {32735, "'Me' is not available in this Context."},
    {32736, "Invalid control group index: %d."},
    {32737, "Field '%s' does not exist."},
    {32738, "Enumeration constant %d is invalid."},
    {32739, "Enumeration string '%s' is invalid."},
    {32740, "Identifier '%s' was not found"},
    {32741, "Object '%s' was not found"},
    {32742, "object is too large"},
    {32743, "object is empty"},
    {32744, "object is null"},
    {32745, "object does not exist"},
    {32746, "index is out of range"},
    {32747, "Field is defined on this object"},
    {32748, "Field is defined on a parent of this object"},
    {32749, "A field with the same name and type exists"},
    {32750, "A method field by the same name exists"},
    {32751, "A data field by the same name exists"},
    {32752, "Conversion to type %s failed"},
    {32753, "Unable to find given GUID in registry"},
    {32754, "Invalid to pass this field by reference to compiled function"},
    {32755, "Privileged operation attempted: Access Denied"},
    {32756, "attempt to embed an object into itself"},
    {32757, "Illegal type conversion attempted"},
    {32758, "Illegal type promotion attempted"},
    {32759, "Object reference expected"},
    {32760, "Arguments were not expected"},
    {32761, "Arguments were expected"},
    {32762, "Not enough arguments"},
    {32763, "Too many arguments"},
    {32764, "signature mismatch"},
    {32765, "types mismatched for requested operation"},
    {32766, "unable to load requested function from DLL."},
    {32767, "unable to load requested DLL."},
    {32768, "Object named '%s' already exists."},
};

TEST(MessageTable, HoldsEveryTextOfTheRangeExactly) {
    ASSERT_EQ(std::size(kExpected), 91u);
    ASSERT_EQ(MessageTable().size(), 91u);
    for (const Expected& e : kExpected) {
        int found = -1;
        const std::string text = StoreException::ResourceIdToString(&found, e.id);
        EXPECT_EQ(text, e.text) << "message " << e.id;
        EXPECT_EQ(found, static_cast<int>(std::strlen(e.text))) << "message " << e.id;
        // An unformatted exception carries the text with its placeholder.
        EXPECT_STREQ(StoreException(e.id).what(), e.text) << "message " << e.id;
    }
}

TEST(MessageTable, IdsWithoutTextGiveTheFallback) {
    for (unsigned id : {0u, 5u, 32677u, 32769u, 65535u, 4294967295u}) {
        int found = -1;
        const std::string expected = "Exception #" + std::to_string(id) + " (no message available).";
        EXPECT_EQ(StoreException::ResourceIdToString(&found, id), expected);
        EXPECT_EQ(found, 0);
        // The fallback is not formatted with the argument.
        EXPECT_EQ(StoreException::StringMsg(id, "arg"), expected);
        EXPECT_EQ(StoreException::NumericMsg(id, 7), expected);
    }
    EXPECT_STREQ(StoreException(5).what(), "Exception #5 (no message available).");
    EXPECT_STREQ(FieldCollision().what(), "Exception #0 (no message available).");
    EXPECT_EQ(StoreException::ResourceIdToString(nullptr, 5), "Exception #5 (no message available).");
}

TEST(MessageFormatting, TextArgumentFillsThePlaceholderBetweenTheQuotes) {
    EXPECT_STREQ(StoreException(32741, "Form1").what(), "Object 'Form1' was not found");
    EXPECT_STREQ(StoreException(32741, static_cast<const char*>(nullptr)).what(),
                 "Object '' was not found");
    EXPECT_EQ(StoreException::StringMsg(32679, "E_FAIL"),
              "Couldn't create object due to OLE failure:\n\n E_FAIL\n\nCheck to be sure all "
              "DLL's can be found in Path.");
}

TEST(MessageFormatting, ArgumentsAreNeverReadAsFormats) {
    // A name holding conversions must come out as written, not be expanded.
    EXPECT_EQ(StoreException::StringMsg(32741, "%s%d%n%x"), "Object '%s%d%n%x' was not found");
    // A text with %d given a text argument keeps its %d: nothing reads an
    // integer that was never passed.
    EXPECT_EQ(StoreException::StringMsg(32714, "x"), "Offset out of range: %d");
    EXPECT_EQ(StoreException::NumericMsg(32741, 3), "Object '%s' was not found");
}

TEST(MessageFormatting, LongArgumentsAreKeptWhole) {
    const std::string longName(5000, 'n');
    EXPECT_EQ(StoreException::StringMsg(32686, longName.c_str()),
              "The alias '" + longName + "' does not refer to a valid object.");
}

TEST(MessageFormatting, NumbersFillTheirPlaceholder) {
    EXPECT_EQ(StoreException::NumericMsg(32728, 0), "Index 0 out of range.");
    EXPECT_EQ(StoreException::NumericMsg(32728, INT32_MIN), "Index -2147483648 out of range.");
    EXPECT_EQ(StoreException::NumericMsg(32738, INT32_MAX), "Enumeration constant 2147483647 is invalid.");
    EXPECT_STREQ(StoreException(32729, int32_t{-1}).what(), "Illegal dimension: -1");
}

TEST(MessageFormatting, TextsWithoutPlaceholderIgnoreTheArgument) {
    EXPECT_STREQ(MathError("overflow in Foo").what(), "Math Error");
    EXPECT_EQ(StoreException::StringMsg(32713, "x"), "Stack overflow.");
    EXPECT_EQ(StoreException::NumericMsg(32713, 1), "Stack overflow.");
}

TEST(ObjectNames, NoObjectIsNothingAndLongNamesAreCutAt80) {
    EXPECT_STREQ(StoreException::ObjectNameFromAlias(nullptr), "Nothing");
    EXPECT_STREQ(StoreException::ObjectNameFromAlias(""), "");
    const std::string eighty(80, 'a');
    EXPECT_EQ(std::string(StoreException::ObjectNameFromAlias(eighty.c_str())), eighty);
    const std::string longer = std::string(80, 'b') + "tail";
    EXPECT_EQ(std::string(StoreException::ObjectNameFromAlias(longer.c_str())), std::string(80, 'b'));
    // The buffer is reused: a shorter name after a long one is not padded.
    EXPECT_STREQ(StoreException::ObjectNameFromAlias("Form1.Button"), "Form1.Button");
}

}  // namespace
}  // namespace tq
