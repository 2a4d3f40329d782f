// Values as members and counted things: evaluation checks, counts and lists,
// the factory, foreign-call arguments, by-reference ids, value classes built
// on TypedValue, the node stream header, exception particulars and type
// names.
#include <gtest/gtest.h>

#include <cstring>

#include "store/datastrm.h"
#include "store/stkpush.h"
#include "store/valops.h"
#include "tests/support/asserts.h"
#include "valtest.h"

namespace tq {
namespace {

using namespace tq::test;

// A procedure member as the method fields make them: evaluates to nothing.
class TestProcedure final : public Member {
public:
    tMemberKind memberKind() const override { return MEMBER_PROCEDURE; }
    IdType type() const override { return IDT_UNTYPED; }
    ValuePtr virtualMemberEval(const ValueList*) override {
        ++calls;
        return nullptr;
    }
    int calls = 0;
};

TEST(MemberEval, ChecksTheTypeSuffixAgainstTheMembersType) {
    ValuePtr v = Lng(5);
    EXPECT_EQ(v->memberEval(IDT_LONG, nullptr, EVAL_VALUE_REQUIRED), v);
    EXPECT_EQ(v->memberEval(IDT_UNTYPED, nullptr, EVAL_VALUE_REQUIRED), v);
    EXPECT_EQ(v->memberEval(0x20 | IDT_LONG, nullptr, 0), v);  // upper bits are not the type
    EXPECT_STORE_FAILURE(v->memberEval(IDT_SHORT, nullptr, 0), TypeMismatch, 32765u);
    EXPECT_STORE_FAILURE(Str("x")->memberEval(IDT_SHORT, nullptr, 0), TypeMismatch, 32765u);
}

TEST(MemberEval, EnforcesWhetherAValueMustOrMustNotComeBack) {
    MemberPtr proc(new TestProcedure);
    EXPECT_EQ(proc->memberEval(0, nullptr, 0), nullptr);
    EXPECT_STORE_FAILURE(proc->memberEval(0, nullptr, EVAL_VALUE_REQUIRED), StoreException,
                         32690u);
    EXPECT_STORE_FAILURE(proc->memberEval(0, nullptr, EVAL_ASSIGN_TARGET | EVAL_VALUE_REQUIRED),
                         StoreException, 32722u);
    // The assignment target is refused before the procedure runs.
    EXPECT_EQ(static_cast<TestProcedure*>(proc.get())->calls, 2);

    ValuePtr v = Lng(1);
    EXPECT_STORE_FAILURE(v->memberEval(0, nullptr, EVAL_NO_VALUE), StoreException, 32689u);
    EXPECT_EQ(v->refCount(), 1);  // the unwanted result was released
}

TEST(MemberEval, APlainValueTakesNoArguments) {
    ValuePtr v = Dbl(2);
    ValueList none;
    EXPECT_EQ(v->virtualMemberEval(nullptr), v);
    EXPECT_EQ(v->virtualMemberEval(&none), v);
    ValueList one{Lng(1)};
    EXPECT_STORE_FAILURE(v->virtualMemberEval(&one), NonNullArguments, 32760u);
    EXPECT_EQ(v->memberKind(), Member::MEMBER_VALUE);
    EXPECT_EQ(v->asValue(), v.get());
    EXPECT_EQ(v->owner(), nullptr);
}

TEST(ValueCounting, TheLastCountDeletesTheValue) {
    const size_t before = Value::LiveCount();
    {
        ValuePtr a = Lng(1);
        ValuePtr b = a;
        MemberPtr m = a;
        EXPECT_EQ(a->refCount(), 3);
        b.reset();
        m = nullptr;
        EXPECT_EQ(a->refCount(), 1);
        a = a;  // self-assignment keeps the value
        EXPECT_EQ(a->as<int32_t>(), 1);
        EXPECT_EQ(Value::LiveCount(), before + 1);
    }
    EXPECT_EQ(Value::LiveCount(), before);
}

TEST(ValueCounting, ReleasingAValueThatHoldsNoCountIsAnAssertion) {
    ScopedThrowingAsserts asserts;
    Value* v = new LongValue(1);
    EXPECT_ASSERTION(v->deref(), "count>0");
    delete v;
}

TEST(ValueList, IsAStackWhoseFirstEntryIsTheLastPushed) {
    ValueList list;
    EXPECT_EQ(list.ptop(), nullptr);
    list.ppush(Lng(1));
    list.ppush(Lng(2));
    list.append(Lng(0));
    ASSERT_EQ(list.length(), 3);
    EXPECT_EQ(list.ptop()->as<int32_t>(), 2);
    EXPECT_EQ(list.at(1)->as<int32_t>(), 1);
    EXPECT_EQ(list.at(2)->as<int32_t>(), 0);
    ValuePtr top = list.pop();
    EXPECT_EQ(top->as<int32_t>(), 2);
    EXPECT_EQ(list.length(), 2);
}

TEST(ValueList, CopiesShareTheValuesAndDestroyingReleasesThem) {
    const size_t before = Value::LiveCount();
    ValuePtr shared = Str("x");
    {
        ValueList a;
        a.ppush(shared);
        a.ppush(Lng(7));
        {
            ValueList b = a;
            EXPECT_EQ(shared->refCount(), 3);
            EXPECT_EQ(b.ptop(), a.ptop());
        }
        EXPECT_EQ(shared->refCount(), 2);
    }
    EXPECT_EQ(shared->refCount(), 1);
    shared.reset();
    EXPECT_EQ(Value::LiveCount(), before);
}

TEST(DirectValueClassFactory, MakesEachTypeWithItsDefaultOrByConversion) {
    const IdType codes[] = {IDT_SHORT, IDT_LONG, IDT_FLOAT, IDT_DOUBLE, IDT_CURRENCY, IDT_STRING};
    ValuePtr init = Str("12");
    for (IdType code : codes) {
        SCOPED_TRACE(int(code));
        ValuePtr fresh = DirectValueClassFactory(code, nullptr);
        EXPECT_EQ(fresh->type(), code);
        EXPECT_TRUE(fresh->isDirect());
        EXPECT_EQ(fresh->as<double>(), 0.0);
        ValuePtr converted = DirectValueClassFactory(code, init.get());
        EXPECT_EQ(converted->type(), code);
        EXPECT_EQ(converted->as<int32_t>(), 12);
        EXPECT_NE(converted, init);
    }
    EXPECT_EQ(TextOf(*DirectValueClassFactory(IDT_STRING, nullptr)), "");
    EXPECT_EQ(DirectValueClassFactory(0x40 | IDT_LONG, nullptr)->type(), IDT_LONG);
}

TEST(DirectValueClassFactory, RefusesCodesWithoutAValueClass) {
    for (IdType code : {IdType(IDT_UNTYPED), IdType(IDT_FIXED), IdType(IDT_VARIANT), IdType(IDT_VOID), IdType(31)}) {
        EXPECT_STORE_FAILURE(DirectValueClassFactory(code, nullptr), TypeMismatch, 32765u);
    }
    const size_t before = Value::LiveCount();
    ValuePtr bad = Str("abc");
    EXPECT_THROW(DirectValueClassFactory(IDT_DOUBLE, bad.get()), ConvertFailed);
    EXPECT_EQ(Value::LiveCount(), before + 1);
}

TEST(StackPusher, EachTypePassesItsNativeForm) {
    GenericStackPusher pusher;
    Int(-2)->getStackPusher(pusher);
    Lng(70000)->getStackPusher(pusher);
    Sgl(0.5f)->getStackPusher(pusher);
    Dbl(0.25)->getStackPusher(pusher);
    Cur(1.25)->getStackPusher(pusher);
    ValuePtr text = Str("abc");
    text->getStackPusher(pusher);
    ASSERT_EQ(pusher.count(), 6u);
    EXPECT_EQ(pusher[0].form, GenericStackPusher::ARG_SHORT);
    EXPECT_EQ(pusher[0].s, -2);
    EXPECT_EQ(pusher[1].form, GenericStackPusher::ARG_LONG);
    EXPECT_EQ(pusher[1].l, 70000);
    EXPECT_EQ(pusher[2].form, GenericStackPusher::ARG_FLOAT);
    EXPECT_EQ(pusher[2].f, 0.5f);
    EXPECT_EQ(pusher[3].form, GenericStackPusher::ARG_DOUBLE);
    EXPECT_EQ(pusher[3].d, 0.25);
    EXPECT_EQ(pusher[4].form, GenericStackPusher::ARG_CURRENCY);
    EXPECT_EQ(pusher[4].c, 125);
    EXPECT_EQ(pusher[5].form, GenericStackPusher::ARG_STRING);
    EXPECT_STREQ(pusher[5].text, "abc");

    // An unset string passes an empty text, never a null address.
    ValString unset;
    IndirectValue<ValString, IDT_STRING>(&unset).getStackPusher(pusher);
    EXPECT_STREQ(pusher[6].text, "");
}

TEST(StackPusher, ByReferencePassesTheStorageAddress) {
    GenericStackPusher pusher;
    ValuePtr direct = Lng(1);
    direct->getByRefStackPusher(pusher);
    int32_t cell = 0;
    ValuePtr indirect(new IndirectValue<int32_t, IDT_LONG>(&cell));
    indirect->getByRefStackPusher(pusher);
    ASSERT_EQ(pusher.count(), 2u);
    EXPECT_EQ(pusher[0].form, GenericStackPusher::ARG_ADDRESS);
    EXPECT_EQ(pusher[0].address, direct->getVoidPtr());
    EXPECT_EQ(pusher[1].address, &cell);
}

// A value class that keeps its datum elsewhere and reaches it only through
// get() and set(), as the field values of the object model do: the operator
// set of TypedValue must work through those two alone.
class CountingLong final : public TypedValue<int32_t, IDT_LONG> {
public:
    explicit CountingLong(int32_t* cell) : cell_(cell) {}
    void get(int16_t& out) const override { out = static_cast<int16_t>(read()); }
    void get(int32_t& out) const override { out = read(); }
    void get(float& out) const override { out = static_cast<float>(read()); }
    void get(double& out) const override { out = read(); }
    void get(Currency& out) const override { out = Currency(read()); }
    void get(ValString& out) const override { out = ValString(read()); }
    void get(InterObj&) const override { throw TypeMismatch("CountingLong", 32765); }
    void set(int16_t v) override { write(v); }
    void set(int32_t v) override { write(v); }
    void set(float v) override { write(static_cast<int32_t>(v)); }
    void set(double v) override { write(static_cast<int32_t>(v)); }
    void set(const Currency& v) override { write(static_cast<int32_t>(v)); }
    void set(const ValString& v) override { write(static_cast<int32_t>(v)); }
    void set(const InterObj&) override { throw TypeMismatch("CountingLong", 32765); }

    mutable int reads = 0;
    int writes = 0;

private:
    int32_t read() const {
        ++reads;
        return *cell_;
    }
    void write(int32_t v) {
        ++writes;
        *cell_ = v;
    }
    int32_t* cell_;
};

TEST(TypedValue, OperatorsWorkThroughGetAndSetAlone) {
    int32_t cell = 40;
    auto* field = new CountingLong(&cell);
    ValuePtr v(field);
    EXPECT_VALUE(*v + *Lng(2), IDT_LONG, int32_t, 42);
    EXPECT_EQ(*v > *Int(3), -1);
    EXPECT_EQ(*v & *Int(8), 8);
    EXPECT_GT(field->reads, 0);
    *v = *Dbl(7.9);
    EXPECT_EQ(cell, 7);
    EXPECT_EQ(field->writes, 1);
    EXPECT_FALSE(v->isDirect());
    EXPECT_EQ(v->getVoidPtr(), nullptr);

    GenericStackPusher pusher;
    EXPECT_STORE_FAILURE(v->getStackPusher(pusher), Is_Null, 32744u);
    EXPECT_STORE_FAILURE(v->getByRefStackPusher(pusher), InvalidByRef, 32754u);
    EXPECT_EQ(pusher.count(), 0u);
}

TEST(ValueRefId, NamesTheValueUntilItDies) {
    ValuePtr v = Dbl(1);
    const HandleTable::Id id = v->refId();
    EXPECT_NE(id, 0u);
    EXPECT_EQ(v->refId(), id);
    EXPECT_EQ(Value::FromRefId(id), v.get());
    EXPECT_EQ(Value::FromRefId(0), nullptr);
    v.reset();
    EXPECT_EQ(Value::FromRefId(id), nullptr);
}

TEST(ValueFlags, TheByReferenceBitIsSetAndCleared) {
    ValuePtr v = Lng(1);
    EXPECT_EQ(v->valueFlags(), 0u);
    v->setByRef(true);
    EXPECT_TRUE(v->isByRef());
    EXPECT_EQ(v->valueFlags(), Value::VF_BYREF);
    v->setByRef(false);
    EXPECT_FALSE(v->isByRef());
    // A copy is a new value, not bound to any parameter.
    v->setByRef(true);
    ValuePtr copy(new LongValue(static_cast<const LongValue&>(*v)));
    EXPECT_FALSE(copy->isByRef());
}

struct TestNode : DataStream {
    TestNode() : DataStream(7, 3) {}
    char fixed[9];
};

TEST(DataStream, AllocatesRoomForTheDataOfTheGivenStreams) {
    DataStream a(1, 100), b(2, 28);
    EXPECT_EQ(DataStream::BlockSize(16, &a, nullptr, &b, nullptr), 144u);
    EXPECT_EQ(DataStream::BlockSize(16, nullptr, nullptr, nullptr, nullptr), 16u);
    auto* node = new (&a, &b, nullptr, nullptr) TestNode;
    EXPECT_EQ(node->kind(), 7);
    EXPECT_EQ(node->extra(), 3);
    // The block reaches past the node by the streams' data.
    std::memset(reinterpret_cast<char*>(node) + sizeof(TestNode), 0x5A, 128);
    delete node;
    ScopedThrowingAsserts asserts;
    EXPECT_ASSERTION(DataStream(1, -1), "extra >= 0");
}

TEST(ExceptionArgs, CarryTheParticularsInOrder) {
    const auto range = RangeError(32727, 0, 4, 9).args();
    ASSERT_EQ(range->length(), 3);
    EXPECT_VALUE(ValuePtr(range->at(0)), IDT_LONG, int32_t, 0);
    EXPECT_VALUE(ValuePtr(range->at(1)), IDT_LONG, int32_t, 4);
    EXPECT_VALUE(ValuePtr(range->at(2)), IDT_LONG, int32_t, 9);

    const auto notFound = NotFound(32741, "Form1").args();
    ASSERT_EQ(notFound->length(), 1);
    EXPECT_EQ(notFound->at(0)->type(), IDT_STRING);
    EXPECT_EQ(TextOf(*notFound->at(0)), "Form1");

    const auto ole = OleException(-2147467259, "Unspecified error").args();
    ASSERT_EQ(ole->length(), 2);
    EXPECT_VALUE(ValuePtr(ole->at(0)), IDT_LONG, int32_t, -2147467259);
    EXPECT_EQ(TextOf(*ole->at(1)), "Unspecified error");

    const auto proxy =
        ProxyResolveFailed("Other.Form1", ProxyResolveFailed::ENUM_NOT_FOUND).args();
    ASSERT_EQ(proxy->length(), 2);
    EXPECT_EQ(TextOf(*proxy->at(0)), "Other.Form1");
    EXPECT_VALUE(ValuePtr(proxy->at(1)), IDT_SHORT, int16_t, 3);

    EXPECT_EQ(TextOf(*ObjectLoadFailed("Form1").args()->at(0)), "Form1");
    EXPECT_EQ(TextOf(*ModuleOpenFailed(nullptr).args()->at(0)), "");
    EXPECT_EQ(StoreException(32698u).args()->length(), 0);
    EXPECT_EQ(ConvertFailed("", IDT_LONG).args()->length(), 0);
}

TEST(ExceptionArgs, SurviveClonesAndRethrows) {
    const std::unique_ptr<StoreException> copy(NotFound(32737, "Caption").Clone());
    EXPECT_EQ(TextOf(*copy->args()->ptop()), "Caption");
    try {
        copy->Throw();
    } catch (const StoreException& e) {
        EXPECT_EQ(TextOf(*e.args()->ptop()), "Caption");
    }
}

TEST(IdTypeString, NamesAndSuffixes) {
    EXPECT_STREQ(IdTypeString(IDT_STRING).string(), "String");
    EXPECT_EQ(IdTypeString(IDT_STRING).asChar(), '$');
    EXPECT_STREQ(IdTypeString(IDT_VOID).string(), "void");
    EXPECT_EQ(IdTypeString(IDT_SHORT).asChar(), '%');
    EXPECT_EQ(IdTypeString(IDT_CURRENCY).asChar(), '@');
    EXPECT_STREQ(IdTypeString(0x20 | IDT_LONG).string(), "Long");
    EXPECT_STREQ(IdTypeString::typeStrings[IDT_UNTYPED], "untyped");
    EXPECT_STREQ(IdTypeString::typeChars, "%&!#@$");
    ScopedThrowingAsserts asserts;
    EXPECT_ASSERTION(IdTypeString(IDT_OBJECT).asChar(), "(t&IDT_TYPEMASK) <= IDT_STRING");
    EXPECT_ASSERTION(IdTypeString(IDT_UNTYPED).string(), "(t&IDT_TYPEMASK) >= IDT_SHORT");
    EXPECT_ASSERTION(IdTypeString(11).string(), "(t&IDT_TYPEMASK) <= IDT_VOID");
}

}  // namespace
}  // namespace tq
