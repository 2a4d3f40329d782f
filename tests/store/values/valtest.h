// Helpers of the value suites: making values of each type, checking a
// result's type and datum, and checking a failure's class and message.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "store/currency.h"
#include "store/errors/extexcep.h"
#include "store/persist/vlstrrep.h"
#include "store/vals.h"

namespace tq::test {

inline ValuePtr Int(int16_t v) { return ValuePtr(new IntegerValue(v)); }
inline ValuePtr Lng(int32_t v) { return ValuePtr(new LongValue(v)); }
inline ValuePtr Sgl(float v) { return ValuePtr(new SingleValue(v)); }
inline ValuePtr Dbl(double v) { return ValuePtr(new DoubleValue(v)); }
inline ValuePtr Cur(double amount) { return ValuePtr(new CurrencyValue(Currency(amount))); }
inline ValuePtr Str(const char* text) { return ValuePtr(new StringValue(ValString(text))); }

inline std::string TextOf(const Value& v) {
    const ValString s = v.as<ValString>();
    const char* text = s;
    return text ? text : "";
}

// The message of table entry id, as the numbered constructors build it.
inline std::string Message(unsigned id) { return StoreException::ResourceIdToString(nullptr, id); }

// The numbers, Currency and Strings fail before they look at the object, so
// these suites, which have no object model, can hand them any reference.
inline const InterObj& SomeObject() {
    alignas(16) static unsigned char storage[64];
    return *reinterpret_cast<const InterObj*>(storage);
}
inline InterObj& SomeObjectSlot() { return const_cast<InterObj&>(SomeObject()); }

}  // namespace tq::test

// A result of type code whose datum, read as X, is expected.
#define EXPECT_VALUE(ptr, code, X, expected)                    \
    do {                                                        \
        const ::tq::ValuePtr& v__ = (ptr);                      \
        ASSERT_TRUE(v__);                                       \
        EXPECT_EQ(v__->type(), (code));                         \
        EXPECT_EQ(v__->as<X>(), (expected));                    \
    } while (0)

// stmt raises Class with the text of message id.
#define EXPECT_STORE_FAILURE(stmt, Class, id) \
    EXPECT_STORE_FAILURE_TEXT(stmt, Class, ::tq::test::Message(id))

// stmt raises Class with the given text.
#define EXPECT_STORE_FAILURE_TEXT(stmt, Class, text)                           \
    do {                                                                       \
        try {                                                                  \
            stmt;                                                              \
            ADD_FAILURE() << "no " #Class " from " #stmt;                      \
        } catch (const Class& e__) {                                           \
            EXPECT_EQ(std::string(e__.what()), std::string(text));             \
        } catch (const std::exception& e__) {                                  \
            ADD_FAILURE() << #stmt " raised another failure: " << e__.what();  \
        }                                                                      \
    } while (0)
