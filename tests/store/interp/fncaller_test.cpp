// The callers of native code: every argument form and every result type of
// a plain C function (against the test library ffilib.c), and member
// functions of a C++ class called through their member pointers.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/util/dynlib.h"
#include "platform/util/syserror.h"
#include "store/interp/fncaller.h"
#include "store/interp/intfuncs.h"
#include "store/model/objval.h"
#include "store/stkpush.h"
#include "tests/store/interp/interptest.h"
#include "tests/store/values/valtest.h"

namespace tq {
namespace {

using test::Cur;
using test::Dbl;
using test::Int;
using test::Lng;
using test::Sgl;
using test::Str;
using test::TextOf;

class ForeignCalls : public InterpTest {
protected:
    static void (*Fn(const char* name))() {
        static DynamicLibrary::Handle lib = DynamicLibrary::Open(TQ_TEST_FFILIB);
        EXPECT_NE(lib, nullptr) << DynamicLibrary::LastError();
        void* f = DynamicLibrary::Symbol(lib, name);
        EXPECT_NE(f, nullptr) << name;
        return reinterpret_cast<void (*)()>(f);
    }
    // Calls name with args in parameter order.
    static ValuePtr CallC(uint8_t returnType, const char* name, const ValueList& params) {
        std::unique_ptr<CFunctionCaller> caller = CFunctionCaller::classFactory(returnType);
        return caller->evalInOrder(params, Fn(name));
    }
    static ValuePtr ByRef(ValuePtr v) {
        v->setByRef(true);
        return v;
    }
};

TEST_F(ForeignCalls, EveryResultTypeComesBackAsItsValue) {
    EXPECT_VALUE(CallC(IDT_SHORT, "ff_neg_short", {Int(-300)}), IDT_SHORT, int16_t, 300);
    // The list of a call holds the last argument first.
    std::unique_ptr<CFunctionCaller> longs = CFunctionCaller::classFactory(IDT_LONG);
    ValueList lastFirst{Lng(3), Lng(10)};
    EXPECT_VALUE(longs->eval(&lastFirst, Fn("ff_sub_long")), IDT_LONG, int32_t, 7);
    EXPECT_VALUE(CallC(IDT_FLOAT, "ff_half_single", {Sgl(3.0f)}), IDT_FLOAT, float, 1.5f);
    EXPECT_VALUE(CallC(IDT_DOUBLE, "ff_scale_double", {Dbl(0.5), Lng(5)}), IDT_DOUBLE, double, 2.5);
    // Currency crosses as whole hundredths.
    ValuePtr twice = CallC(IDT_CURRENCY, "ff_double_currency", {Cur(1.25)});
    EXPECT_EQ(twice->type(), IDT_CURRENCY);
    EXPECT_EQ(twice->as<Currency>().hundredths(), 250.0);
    EXPECT_EQ(TextOf(*CallC(IDT_STRING, "ff_describe", {Int(-1), Lng(70000), Sgl(0.5f), Dbl(0.25), Cur(-3.07),
                                                         Str("abc")})),
              "s=-1 l=70000 f=0.5 d=0.25 c=-307 t=abc");
    EXPECT_EQ(TextOf(*CallC(IDT_STRING, "ff_null_text", {})), "");
    EXPECT_EQ(CallC(IDT_VOID, "ff_fail_with", {Lng(0)}).get(), nullptr);
    EXPECT_EQ(CFunctionCaller::classFactory(IDT_VARIANT), nullptr);
    EXPECT_EQ(CppFunctionCaller::classFactory(0), nullptr);
}

TEST_F(ForeignCalls, ACallerPreparedForOneSetOfFormsTakesAnother) {
    // A Variant parameter passes whatever type its argument has.
    std::unique_ptr<CFunctionCaller> caller = CFunctionCaller::classFactory(IDT_DOUBLE);
    EXPECT_VALUE(caller->evalInOrder({Dbl(1.5), Lng(2)}, Fn("ff_scale_double")), IDT_DOUBLE, double, 3.0);
    EXPECT_VALUE(caller->evalInOrder({Dbl(1.5), Lng(4)}, Fn("ff_scale_double")), IDT_DOUBLE, double, 6.0);
    EXPECT_VALUE(caller->evalInOrder({Sgl(0.5f), Dbl(2.0), Int(3)}, Fn("ff_sum3")), IDT_DOUBLE, double, 5.5);
    EXPECT_VALUE(caller->evalInOrder({Dbl(1.5), Lng(6)}, Fn("ff_scale_double")), IDT_DOUBLE, double, 9.0);
}

TEST_F(ForeignCalls, AnObjectPassesAHandleAndOnlyThatHandleComesBack) {
    InterObjRep* o = named("Passed");
    ValuePtr given(new ObjectValue(InterObj(o)));
    ValuePtr back = CallC(IDT_OBJECT, "ff_same_object", {given});
    ASSERT_EQ(back->type(), IDT_OBJECT);
    EXPECT_EQ(back->as<InterObj>().get(), o);
    ValuePtr nothing = CallC(IDT_OBJECT, "ff_same_object", {ValuePtr(new ObjectValue())});
    EXPECT_EQ(nothing->as<InterObj>().get(), nullptr);
    EXPECT_EQ(FailureText([] { CallC(IDT_OBJECT, "ff_made_up_object", {}); }),
              "a library function returned an object it was not given");
}

TEST_F(ForeignCalls, ByReferenceTheCalleeChangesTheVariableByValueNot) {
    ValuePtr out = Lng(1);
    CallC(IDT_VOID, "ff_set_long", {ByRef(out), Lng(42)});
    EXPECT_EQ(out->as<int32_t>(), 42);

    ValuePtr kept = Lng(5);
    EXPECT_VALUE(CallC(IDT_LONG, "ff_inc_value", {kept}), IDT_LONG, int32_t, 6);
    EXPECT_EQ(kept->as<int32_t>(), 5);

    // Every number type by reference, a field's storage among them.
    InterObjRep* holder = named("Holder");
    addData(holder, "Amount", IDT_CURRENCY);
    ValuePtr amount = holder->eval("Amount");
    amount->set(Currency(1.5));
    ValuePtr s = Int(1), l = Lng(2), f = Sgl(1.5f), d = Dbl(0.5);
    CallC(IDT_VOID, "ff_bump_all", {ByRef(s), ByRef(l), ByRef(f), ByRef(d), ByRef(amount)});
    EXPECT_EQ(s->as<int16_t>(), 2);
    EXPECT_EQ(l->as<int32_t>(), 12);
    EXPECT_EQ(f->as<float>(), 3.0f);
    EXPECT_EQ(d->as<double>(), 2.0);
    EXPECT_EQ(holder->eval("Amount")->as<Currency>().hundredths(), 155.0);

    // An Object has no form a C callee could write.
    ValuePtr obj(new ObjectValue(InterObj(holder)));
    EXPECT_STORE_FAILURE(CallC(IDT_VOID, "ff_same_object", {ByRef(obj)}), InvalidByRef, 32754u);
}

TEST_F(ForeignCalls, AStringByReferenceIsACopyTheCalleeMayChangeOrRepoint) {
    struct Case {
        const char* fn;
        const char* before;
        const char* after;
    } cases[] = {
        {"ff_upper_in_place", "mixed Case", "MIXED CASE"},
        {"ff_point_elsewhere", "anything", "from the library"},
        // The NUL overwritten: the text ends with the copy.
        {"ff_fill_all", "abc", "xxx"},
    };
    for (const Case& c : cases) {
        ValuePtr shared = Str(c.before);
        ValuePtr variable(new StringValue(shared->as<ValString>()));
        CallC(IDT_VOID, c.fn, {ByRef(variable)});
        EXPECT_EQ(TextOf(*variable), c.after) << c.fn;
        // The representation the variable shared was never written.
        EXPECT_EQ(TextOf(*shared), c.before) << c.fn;
    }
    // By value the callee reads the text.
    EXPECT_VALUE(CallC(IDT_LONG, "ff_length", {Str("four")}), IDT_LONG, int32_t, 4);
}

TEST_F(ForeignCalls, TheCalleesErrorCodeOutlivesLaterSystemCalls) {
    CallC(IDT_VOID, "ff_fail_with", {Lng(ERANGE)});
    SetLastSystemError(EINVAL);
    EXPECT_EQ(RetrieveStashedAPIErrorCode(), static_cast<uint32_t>(ERANGE));
    // A callee that leaves errno alone does not report an earlier error.
    CallC(IDT_LONG, "ff_no_error", {});
    EXPECT_EQ(RetrieveStashedAPIErrorCode(), 0u);
}

TEST_F(ForeignCalls, ManyArgumentsPassBeyondTheInlineRoom) {
    ValueList params{Int(1), Lng(2), Sgl(3.0f), Dbl(4.0), Cur(0.05), Str("six")};
    GenericStackPusher probe;
    ASSERT_GE(params.length() + 2, static_cast<int32_t>(GenericStackPusher::kInline));
    // Two more than the describing function takes: the C convention leaves
    // extra arguments unread.
    params.append(Lng(7));
    params.append(Lng(8));
    EXPECT_EQ(TextOf(*CallC(IDT_STRING, "ff_describe", params)), "s=1 l=2 f=3 d=4 c=5 t=six");
}

// ---- member functions -------------------------------------------------------

struct Padding {
    virtual ~Padding() = default;
    int64_t pad[3] = {1, 2, 3};
};

class Gauge {
public:
    virtual ~Gauge() = default;
    int32_t add(int32_t n) { return total += n; }
    virtual double scaled(double x) const { return x * factor; }
    int16_t twice(int16_t v) { return static_cast<int16_t>(v * 2); }
    float third(float v) { return v / 3.0f; }
    int64_t cents(int64_t h) { return h + total; }
    ValString label(const char* prefix) { return ValString(std::string(prefix) + name); }
    InterObj pick(const InterObj* o) { return *o; }
    void fail() { throw StoreException("the gauge failed", nullptr); }
    void setTotal(int32_t* out) { *out = total; }

    int32_t total = 0;
    double factor = 2.0;
    std::string name = "gauge";
};

// Gauge behind another base: its member pointers of Meter carry an
// adjustment.
class Meter : public Padding, public Gauge {
public:
    double scaled(double x) const override { return x * factor + 1.0; }
};

// A member of Gauge as a member of Meter: the pointer carries the
// adjustment from a Meter to its Gauge part.
template <class R, class... A>
MemberPointer OfMeter(R (Gauge::*m)(A...)) {
    return MemberPointer::Of(static_cast<R (Meter::*)(A...)>(m));
}

TEST_F(ForeignCalls, AMemberFunctionIsCalledOnItsAdjustedObject) {
    Meter meter;
    void* self = &meter;  // the Meter, not its Gauge part
    auto call = [&](uint8_t type, MemberPointer m, ValueList params) {
        return CppFunctionCaller::classFactory(type)->evalInOrder(self, params, m);
    };
    const MemberPointer add = OfMeter(&Gauge::add);
    EXPECT_EQ(add.adj, static_cast<ptrdiff_t>(static_cast<char*>(static_cast<void*>(static_cast<Gauge*>(&meter))) -
                                              static_cast<char*>(self)));
    EXPECT_NE(add.adj, 0);
    EXPECT_VALUE(call(IDT_LONG, add, {Lng(5)}), IDT_LONG, int32_t, 5);
    EXPECT_VALUE(call(IDT_LONG, add, {Lng(2)}), IDT_LONG, int32_t, 7);
    EXPECT_EQ(meter.total, 7);
    // A virtual function through the table of the object's own class.
    const MemberPointer scaled = MemberPointer::Of(static_cast<double (Meter::*)(double) const>(&Gauge::scaled));
    EXPECT_VALUE(call(IDT_DOUBLE, scaled, {Dbl(3.0)}), IDT_DOUBLE, double, 7.0);
    EXPECT_VALUE(call(IDT_SHORT, OfMeter(&Gauge::twice), {Int(-21)}), IDT_SHORT, int16_t, -42);
    EXPECT_VALUE(call(IDT_FLOAT, OfMeter(&Gauge::third), {Sgl(1.5f)}), IDT_FLOAT, float, 0.5f);
    EXPECT_EQ(call(IDT_CURRENCY, OfMeter(&Gauge::cents), {Cur(1.0)})->as<Currency>().hundredths(), 107.0);
    EXPECT_EQ(TextOf(*call(IDT_STRING, OfMeter(&Gauge::label), {Str("the ")})), "the gauge");
    InterObjRep* o = named("Picked");
    EXPECT_EQ(call(IDT_OBJECT, OfMeter(&Gauge::pick), {ValuePtr(new ObjectValue(InterObj(o)))})
                  ->as<InterObj>()
                  .get(),
              o);
    ValuePtr out = ByRef(Lng(0));
    EXPECT_EQ(call(IDT_VOID, OfMeter(&Gauge::setTotal), {out}).get(), nullptr);
    EXPECT_EQ(out->as<int32_t>(), 7);
}

TEST_F(ForeignCalls, AMemberFunctionsFailurePassesOutAndANullObjectGivesZero) {
    Gauge gauge;
    std::unique_ptr<CppFunctionCaller> caller = CppFunctionCaller::classFactory(IDT_VOID);
    EXPECT_EQ(FailureText([&] { caller->eval(&gauge, nullptr, MemberPointer::Of(&Gauge::fail)); }),
              "the gauge failed");
    // Without an object nothing is called.
    struct Case {
        uint8_t type;
        const char* text;
    } cases[] = {{IDT_SHORT, "0"}, {IDT_LONG, "0"}, {IDT_DOUBLE, "0"}, {IDT_STRING, ""}, {IDT_OBJECT, ""}};
    for (const Case& c : cases) {
        ValuePtr zero = CppFunctionCaller::classFactory(c.type)->eval(nullptr, nullptr, MemberPointer::Of(&Gauge::fail));
        ASSERT_TRUE(zero);
        EXPECT_EQ(zero->type(), c.type);
        EXPECT_EQ(TextOf(*zero), c.text);
    }
    EXPECT_EQ(caller->eval(nullptr, nullptr, MemberPointer::Of(&Gauge::fail)).get(), nullptr);
}

}  // namespace
}  // namespace tq
