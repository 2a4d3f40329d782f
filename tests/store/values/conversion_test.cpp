// Conversions between the value types, in both directions (get and set),
// through direct values, indirect values and assignment.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/storage/oclstorage.h"
#include "store/persist/objstore.h"
#include "valtest.h"

namespace tq {
namespace {

using namespace tq::test;

// Every source type read as every number type, as Currency and as String.
TEST(ValueConversion, EachTypeReadsAsEveryOtherType) {
    struct Row {
        ValuePtr value;
        int16_t asShort;
        int32_t asLong;
        float asFloat;
        double asDouble;
        double hundredths;
        const char* text;
    };
    const Row rows[] = {
        {Int(7), 7, 7, 7.0f, 7.0, 700.0, "7"},
        {Int(-32768), -32768, -32768, -32768.0f, -32768.0, -3276800.0, "-32768"},
        {Lng(70000), 4464, 70000, 70000.0f, 70000.0, 7000000.0, "70000"},
        {Lng(-1), -1, -1, -1.0f, -1.0, -100.0, "-1"},
        {Sgl(2.5f), 2, 2, 2.5f, 2.5, 250.0, "2.5"},
        {Dbl(-3.9), -3, -3, -3.9f, -3.9, -390.0, "-3.9"},
        {Dbl(0.5), 0, 0, 0.5f, 0.5, 50.0, "0.5"},
        {Cur(1.25), 1, 1, 1.25f, 1.25, 125.0, "1.25"},
        {Cur(-2.5), -2, -2, -2.5f, -2.5, -250.0, "-2.50"},
        {Str("12.75"), 12, 12, 12.75f, 12.75, 1275.0, "12.75"},
        {Str("&hFF"), 255, 255, 0.0f, 0.0, 0.0, "&hFF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(TextOf(*row.value));
        EXPECT_EQ(row.value->as<int16_t>(), row.asShort);
        EXPECT_EQ(row.value->as<int32_t>(), row.asLong);
        EXPECT_EQ(TextOf(*row.value), row.text);
        if (std::string(row.text) == "&hFF") continue;  // a Long text only
        EXPECT_EQ(row.value->as<float>(), row.asFloat);
        EXPECT_EQ(row.value->as<double>(), row.asDouble);
        EXPECT_EQ(row.value->as<Currency>().hundredths(), row.hundredths);
    }
}

TEST(ValueConversion, CurrencyHoldsHundredthsWithoutRounding) {
    ValuePtr c = Cur(1.25);
    EXPECT_EQ(c->as<Currency>().hundredths(), 125.0);
    EXPECT_EQ(c->as<double>(), 1.25);
    EXPECT_EQ(c->as<int16_t>(), 1);
    EXPECT_EQ(TextOf(*c), "1.25");
    EXPECT_EQ(Cur(0.125)->as<Currency>().hundredths(), 12.5);
    EXPECT_EQ(Lng(3)->as<Currency>().hundredths(), 300.0);
}

TEST(ValueConversion, OutOfRangeNumbersConvertToDefinedValuesOrOverflow) {
    // A floating value whose whole part the integer type cannot hold is an
    // overflow; the edges of the range still convert, truncated.
    const auto overflows = [](const ValuePtr& v, auto target) {
        try {
            v->as<decltype(target)>();
        } catch (const FPException& e) {
            return std::string(e.what()) == "FPE: Integer Overflow.";
        }
        return false;
    };
    EXPECT_TRUE(overflows(Dbl(1e10), int32_t{}));
    EXPECT_TRUE(overflows(Dbl(-2147483649.0), int32_t{}));
    EXPECT_TRUE(overflows(Dbl(70000.9), int16_t{}));
    EXPECT_TRUE(overflows(Dbl(-32769.0), int16_t{}));
    EXPECT_TRUE(overflows(Dbl(std::nan("")), int32_t{}));
    EXPECT_TRUE(overflows(Dbl(std::numeric_limits<double>::infinity()), int16_t{}));
    EXPECT_TRUE(overflows(Sgl(3e9f), int32_t{}));
    EXPECT_TRUE(overflows(Cur(1e12), int32_t{}));
    EXPECT_TRUE(overflows(Cur(40000), int16_t{}));
    EXPECT_EQ(Dbl(2147483647.99)->as<int32_t>(), 2147483647);
    EXPECT_EQ(Dbl(-2147483648.99)->as<int32_t>(), -2147483647 - 1);
    EXPECT_EQ(Dbl(-32768.5)->as<int16_t>(), -32768);
    EXPECT_EQ(Cur(-7.9)->as<int32_t>(), -7);
    // A Long into an Integer keeps its low 16 bits.
    EXPECT_EQ(Lng(70000)->as<int16_t>(), 4464);
    EXPECT_EQ(Lng(-70000)->as<int16_t>(), -4464);
    // A Double beyond the float range is an infinity of its sign as a Single.
    EXPECT_EQ(Dbl(1e300)->as<float>(), std::numeric_limits<float>::infinity());
    EXPECT_EQ(Dbl(-1e300)->as<float>(), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(Cur(1e300)->as<float>(), std::numeric_limits<float>::infinity());
    EXPECT_EQ(Str("70000")->as<int16_t>(), 4464);
}

// The largest Single is a Single, whether it comes as a Double, written into
// a Single or read from its text (also its shortest text, which is a little
// larger); only from half a unit beyond it does a value overflow, to the
// infinity of its own sign.
TEST(ValueConversion, TheLargestSingleStaysFiniteAndBeyondItEachSignOverflowsToItsOwnInfinity) {
    const float largest = std::numeric_limits<float>::max();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float sign;
        const char* largestText;
        const char* shortestText;
        const char* beyondText;
    } rows[] = {{1.0f, "3.4028234663852886e38", "3.4028235e38", "1e300"},
                {-1.0f, "-3.4028234663852886e38", "-3.4028235e38", "-1e300"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.beyondText);
        const double edge = static_cast<double>(row.sign * largest);
        EXPECT_EQ(Dbl(edge)->as<float>(), row.sign * largest);
        ValuePtr s = Sgl(0);
        s->set(edge);
        EXPECT_EQ(s->as<float>(), row.sign * largest);
        *s = *Dbl(edge);
        EXPECT_EQ(s->as<float>(), row.sign * largest);
        EXPECT_EQ(Str(row.largestText)->as<float>(), row.sign * largest);
        EXPECT_EQ(Str(row.shortestText)->as<float>(), row.sign * largest);
        EXPECT_EQ(Dbl(row.sign * 0x1.fffffefffffffp127)->as<float>(), row.sign * largest);
        EXPECT_EQ(Dbl(row.sign * 0x1.ffffffp127)->as<float>(), row.sign * inf);

        EXPECT_EQ(Dbl(edge * 2)->as<float>(), row.sign * inf);
        EXPECT_EQ(Str(row.beyondText)->as<float>(), row.sign * inf);
        s->set(ValString(row.beyondText));
        EXPECT_EQ(s->as<float>(), row.sign * inf);
    }
}

TEST(ValueConversion, StringsThatAreNoNumbersFailWithTheTargetType) {
    EXPECT_STORE_FAILURE_TEXT(Str("abc")->as<int16_t>(), ConvertFailed,
                              "Conversion to type Integer failed");
    EXPECT_STORE_FAILURE_TEXT(Str("abc")->as<int32_t>(), ConvertFailed,
                              "Conversion to type Long failed");
    EXPECT_STORE_FAILURE_TEXT(Str("abc")->as<float>(), ConvertFailed,
                              "Conversion to type Single failed");
    EXPECT_STORE_FAILURE_TEXT(Str("abc")->as<double>(), ConvertFailed,
                              "Conversion to type Double failed");
    EXPECT_STORE_FAILURE_TEXT(Str("abc")->as<Currency>(), ConvertFailed,
                              "Conversion to type Currency failed");
    EXPECT_STORE_FAILURE_TEXT(Str("12 ")->as<int32_t>(), ConvertFailed,
                              "Conversion to type Long failed");
}

TEST(ValueConversion, NumbersCurrencyAndStringsAreNoObjects) {
    for (const ValuePtr& v : {Int(1), Lng(1), Sgl(1), Dbl(1), Cur(1), Str("x")}) {
        SCOPED_TRACE(int(v->type()));
        EXPECT_STORE_FAILURE(v->get(SomeObjectSlot()), TypeMismatch, 32765u);
        EXPECT_STORE_FAILURE(v->set(SomeObject()), TypeMismatch, 32765u);
    }
}

// Writing each type into each type: set() converts into the receiver's type.
TEST(ValueConversion, SetConvertsIntoTheReceiversType) {
    ValuePtr i = Int(0);
    i->set(int32_t(70000));
    EXPECT_EQ(i->as<int16_t>(), 4464);
    i->set(3.9f);
    EXPECT_EQ(i->as<int16_t>(), 3);
    i->set(-3.9);
    EXPECT_EQ(i->as<int16_t>(), -3);
    i->set(Currency(2.75));
    EXPECT_EQ(i->as<int16_t>(), 2);
    i->set(ValString("&h10"));
    EXPECT_EQ(i->as<int16_t>(), 16);
    EXPECT_EQ(i->type(), IDT_SHORT);

    ValuePtr l = Lng(0);
    l->set(int16_t(-5));
    EXPECT_EQ(l->as<int32_t>(), -5);
    EXPECT_THROW(l->set(1e10), FPException);
    EXPECT_EQ(l->as<int32_t>(), -5) << "a failed conversion leaves the value";
    l->set(ValString("017"));
    EXPECT_EQ(l->as<int32_t>(), 17);

    ValuePtr s = Sgl(0);
    s->set(int32_t(16777217));
    EXPECT_EQ(s->as<float>(), 16777216.0f);
    s->set(1e300);
    EXPECT_EQ(s->as<float>(), std::numeric_limits<float>::infinity());
    s->set(ValString("0.25"));
    EXPECT_EQ(s->as<float>(), 0.25f);

    ValuePtr d = Dbl(0);
    d->set(2.5f);
    EXPECT_EQ(d->as<double>(), 2.5);
    d->set(Currency(0.01));
    EXPECT_EQ(d->as<double>(), 0.01);
    d->set(ValString("1e3"));
    EXPECT_EQ(d->as<double>(), 1000.0);

    ValuePtr c = Cur(0);
    c->set(int16_t(3));
    EXPECT_EQ(c->as<Currency>().hundredths(), 300.0);
    c->set(0.5f);
    EXPECT_EQ(c->as<Currency>().hundredths(), 50.0);
    c->set(1.255);
    EXPECT_DOUBLE_EQ(c->as<Currency>().hundredths(), 125.5);
    c->set(ValString("2.5"));
    EXPECT_EQ(c->as<Currency>().hundredths(), 250.0);

    ValuePtr t = Str("");
    t->set(int16_t(5));
    EXPECT_EQ(TextOf(*t), "5");
    t->set(int32_t(-7));
    EXPECT_EQ(TextOf(*t), "-7");
    t->set(0.5f);
    EXPECT_EQ(TextOf(*t), "0.5");
    t->set(0.1);
    EXPECT_EQ(TextOf(*t), "0.1");
    t->set(Currency(1.25));
    EXPECT_EQ(TextOf(*t), "1.25");
    // The text of a number reads back as the same number.
    t->set(1.0 / 3.0);
    EXPECT_EQ(t->as<double>(), 1.0 / 3.0);
}

TEST(ValueConversion, AFailedSetLeavesTheReceiverAsItWas) {
    ValuePtr i = Int(42);
    EXPECT_THROW(i->set(ValString("forty-two")), ConvertFailed);
    EXPECT_EQ(i->as<int16_t>(), 42);
    ValuePtr c = Cur(1);
    EXPECT_THROW(c->set(ValString("one")), ConvertFailed);
    EXPECT_EQ(c->as<Currency>().hundredths(), 100.0);
    ValuePtr t = Str("kept");
    EXPECT_THROW(t->set(SomeObject()), TypeMismatch);
    EXPECT_EQ(TextOf(*t), "kept");
}

TEST(ValueAssignment, ConvertsTheRightSideIntoTheLeftType) {
    ValuePtr i = Int(0);
    *i = *Dbl(3.9);
    EXPECT_EQ(i->type(), IDT_SHORT);
    EXPECT_EQ(i->as<int16_t>(), 3);
    *i = *Dbl(-3.9);
    EXPECT_EQ(i->as<int16_t>(), -3);
    ValuePtr t = Str("");
    *t = *Lng(12);
    EXPECT_EQ(t->type(), IDT_STRING);
    EXPECT_EQ(TextOf(*t), "12");
    ValuePtr c = Cur(0);
    *c = *Str("7.5");
    EXPECT_EQ(c->as<Currency>().hundredths(), 750.0);
    *c = *c;
    EXPECT_EQ(c->as<Currency>().hundredths(), 750.0);
}

TEST(ValueAssignment, AFailedAssignmentChangesNothingAndLeaksNothing) {
    ValuePtr l = Lng(5);
    ValuePtr bad = Str("five");
    const size_t before = Value::LiveCount();
    EXPECT_THROW(*l = *bad, ConvertFailed);
    EXPECT_EQ(l->as<int32_t>(), 5);
    EXPECT_EQ(TextOf(*bad), "five");
    EXPECT_EQ(Value::LiveCount(), before);
}

TEST(ValueAssignment, StringAssignmentSharesNoTextThatChangesLater) {
    ValuePtr a = Str("first");
    ValuePtr b = Str("");
    *b = *a;
    *a = *Str("second");
    EXPECT_EQ(TextOf(*b), "first");
    EXPECT_EQ(TextOf(*a), "second");
}

TEST(IndirectValue, ReadsAndWritesTheDatumItPointsAt) {
    int16_t cell = 7;
    ValuePtr v(new IndirectValue<int16_t, IDT_SHORT>(&cell));
    EXPECT_FALSE(v->isDirect());
    EXPECT_EQ(v->getVoidPtr(), &cell);
    EXPECT_EQ(v->as<double>(), 7.0);
    *v = *Dbl(-3.9);
    EXPECT_EQ(cell, -3);
    v->set(int32_t(70000));
    EXPECT_EQ(cell, 4464);
    EXPECT_THROW(v->set(ValString("x")), ConvertFailed);
    EXPECT_EQ(cell, 4464);
    EXPECT_VALUE(*v + *Int(1), IDT_SHORT, int16_t, 4465);

    Currency money(1.5);
    ValuePtr m(new IndirectValue<Currency, IDT_CURRENCY>(&money));
    *m = *Lng(2);
    EXPECT_EQ(money.hundredths(), 200.0);
}

TEST(IndirectValue, WritesAStringInPlaceOnlyWhenNobodyElseHoldsIt) {
    ValString own("old");
    ValStringRep* rep = own.get();
    ValuePtr v(new IndirectValue<ValString, IDT_STRING>(&own));
    v->set(ValString("new"));
    EXPECT_EQ(own.get(), rep);  // kept its representation
    EXPECT_STREQ(static_cast<const char*>(own), "new");

    ValString shared("old");
    ValString other = shared;
    ValuePtr w(new IndirectValue<ValString, IDT_STRING>(&shared));
    *w = *Lng(5);
    EXPECT_STREQ(static_cast<const char*>(shared), "5");
    EXPECT_STREQ(static_cast<const char*>(other), "old");
    EXPECT_NE(shared.get(), other.get());

    ValString unset;
    ValuePtr u(new IndirectValue<ValString, IDT_STRING>(&unset));
    EXPECT_EQ(TextOf(*u), "");
    u->set(2.5);
    EXPECT_STREQ(static_cast<const char*>(unset), "2.5");
}

TEST(DirectValue, ConstructionFromAValueConverts) {
    EXPECT_EQ(IntegerValue(*Dbl(3.9)).datum(), 3);
    EXPECT_EQ(LongValue(*Str("&h10")).datum(), 16);
    EXPECT_EQ(CurrencyValue(*Int(2)).datum().hundredths(), 200.0);
    EXPECT_STREQ(static_cast<const char*>(StringValue(*Sgl(0.5f)).datum()), "0.5");
    EXPECT_STREQ(static_cast<const char*>(StringValue().datum()), "");
    EXPECT_EQ(DoubleValue().datum(), 0.0);
    const size_t before = Value::LiveCount();
    EXPECT_THROW(LongValue{*Str("no number")}, ConvertFailed);
    EXPECT_EQ(Value::LiveCount(), before);
}

TEST(IndirectValue, AStringOfAModuleThatOthersShareIsReplacedWithinTheModule) {
    ObjectStore store(new OCLStorage());
    const tModuleIndex m = store.moduleIndex();
    {
        ValString slot("old");
        slot->attach(m);
        ValString other = slot;
        ValuePtr v(new IndirectValue<ValString, IDT_STRING>(&slot));
        v->set(ValString("new"));
        EXPECT_NE(slot.get(), other.get());
        EXPECT_EQ(slot->moduleIndex(), m);
        EXPECT_STREQ(static_cast<const char*>(slot), "new");
        EXPECT_STREQ(static_cast<const char*>(other), "old");
    }
}

}  // namespace
}  // namespace tq
