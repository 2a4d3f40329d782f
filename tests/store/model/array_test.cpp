// Arrays: layout and indexing, declarations, element handling of strings and
// objects, resizing every object of a progeny, and arrays passed by
// reference.
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "store/arfldval.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/interp/exprnode.h"
#include "store/model/objval.h"
#include "store/model/tarrfld.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

using Arrays = ModelTest;

// An array of element type t with the given (lower, upper) bounds.
InterArrayField* Array(const char* name, IdType t, std::initializer_list<std::pair<int32_t, int32_t>> bounds,
                       const char* typeName = nullptr) {
    InterArrayField* a = InterArrayField::make(name, t, static_cast<int32_t>(bounds.size()), typeName);
    int32_t i = 0;
    for (const auto& [lower, upper] : bounds) a->defineBounds(i++, lower, upper);
    return a;
}

InterArrayField* ArrayOf(InterObjRep* o, const char* name) { return static_cast<InterArrayField*>(o->findField(name)); }

// The array's bytes in o's data block.
const uint8_t* ArrayBytes(InterObjRep* o, const char* name) {
    SignatureRep* owner = nullptr;
    auto* a = static_cast<DataField*>(o->signature()->findField(name, owner, 0));
    return o->data() + a->dataOffset(*owner);
}

// A resized copy of o's array `name` with new bounds, swapped in.
void Redim(InterObjRep* o, const char* name, std::initializer_list<std::pair<int32_t, int32_t>> bounds,
           int preserve) {
    InterArrayField* a = ArrayOf(o, name)->redimCopy(static_cast<int32_t>(bounds.size()));
    int32_t i = 0;
    for (const auto& [lower, upper] : bounds) a->defineBounds(i++, lower, upper);
    SignatureRep* owner = nullptr;
    o->signature()->findField(name, owner, 0);
    o->redimArrayField(*owner, a, preserve);
}

TEST_F(Arrays, ElementsLieRowMajorWithTheLastIndexFastest) {
    InterObj o(named("Grid"));
    addData(o.get(), "X", IDT_LONG);
    o->addField(Array("A", IDT_SHORT, {{0, 2}, {0, 3}}));
    o->addField(Array("B", IDT_DOUBLE, {{1, 5}}));
    InterArrayField* a = ArrayOf(o.get(), "A");
    EXPECT_EQ(a->stride(0), 8);
    EXPECT_EQ(a->stride(1), 2);
    EXPECT_EQ(a->size(), 24);
    EXPECT_EQ(ArrayOf(o.get(), "B")->size(), 40);
    EXPECT_EQ(o->dataSize(), 4u + 24 + 40);

    *Element(o.get(), "A", {1, 2}) = IntegerValue(0x0102);
    const uint8_t* bytes = ArrayBytes(o.get(), "A");
    for (int i = 0; i < 24; ++i) EXPECT_EQ(bytes[i], i == 12 ? 0x02 : i == 13 ? 0x01 : 0) << i;
    EXPECT_EQ(Element(o.get(), "A", {1, 2})->as<int32_t>(), 0x0102);

    *Element(o.get(), "B", {5}) = DoubleValue(2.5);
    double d = 0;
    std::memcpy(&d, ArrayBytes(o.get(), "B") + 32, 8);
    EXPECT_EQ(d, 2.5);
    try {
        Element(o.get(), "B", {0});
        ADD_FAILURE();
    } catch (const RangeError& e) {
        EXPECT_STREQ(e.what(), "Index 0 out of range.");
        EXPECT_EQ(e.low(), 1);
        EXPECT_EQ(e.high(), 5);
    }
    EXPECT_THROW(Element(o.get(), "A", {1}), TooFewArguments);
    EXPECT_THROW(Element(o.get(), "A", {1, 2, 3}), TooManyArguments);
    EXPECT_THROW(Element(o.get(), "A", {3, 0}), RangeError);
}

// An index just past either bound of any dimension is refused, reading or
// writing, even where its offset would still fall inside the array (one past
// the end of a row is the start of the next); the bounds themselves index.
TEST_F(Arrays, AnIndexJustPastEitherBoundOfAnyDimensionIsRefusedAndTheBoundsAreTaken) {
    InterObj o(named("Grid"));
    o->addField(Array("A", IDT_LONG, {{-1, 1}, {2, 4}}));
    const struct {
        std::initializer_list<int32_t> at;
        int32_t low, high, value;
    } outside[] = {{{-2, 2}, -1, 1, -2}, {{2, 2}, -1, 1, 2}, {{0, 1}, 2, 4, 1}, {{0, 5}, 2, 4, 5},
                   {{-1, 5}, 2, 4, 5},   {{1, 1}, 2, 4, 1}};
    for (const auto& c : outside) {
        SCOPED_TRACE(::testing::PrintToString(std::vector<int32_t>(c.at)));
        for (const bool write : {false, true}) {
            try {
                if (write)
                    *Element(o.get(), "A", c.at) = LongValue(9);
                else
                    Element(o.get(), "A", c.at);
                ADD_FAILURE() << "taken";
            } catch (const RangeError& e) {
                EXPECT_EQ(e.low(), c.low);
                EXPECT_EQ(e.high(), c.high);
                EXPECT_EQ(e.value(), c.value);
            }
        }
    }
    for (const int32_t i : {-1, 0, 1})
        for (const int32_t j : {2, 3, 4})
            EXPECT_EQ(Element(o.get(), "A", {i, j})->as<int32_t>(), 0) << "a refused write wrote";
    int32_t n = 0;
    for (const int32_t i : {-1, 0, 1})
        for (const int32_t j : {2, 3, 4}) *Element(o.get(), "A", {i, j}) = LongValue(++n);
    EXPECT_EQ(Element(o.get(), "A", {-1, 2})->as<int32_t>(), 1);
    EXPECT_EQ(Element(o.get(), "A", {0, 2})->as<int32_t>(), 4);
    EXPECT_EQ(Element(o.get(), "A", {1, 4})->as<int32_t>(), 9);
}

TEST_F(Arrays, DeclarationsShowTheBoundsAndTheElementType) {
    auto declared = [](InterArrayField* a) {
        FieldPtr hold(a);
        std::string out;
        a->declarationText(out, nullptr);
        return out;
    };
    EXPECT_EQ(declared(Array("c", IDT_STRING, {{1, 3}, {0, 4}})), "Dim c(1 To 3, 4) As String");
    EXPECT_EQ(declared(Array("n", IDT_CURRENCY, {{-2, -1}})), "Dim n(-2 To -1) As Currency");
    EXPECT_EQ(declared(Array("o", IDT_OBJECT, {{0, 2}}, "Button")), "Dim o(2) As Button");
    EXPECT_EQ(declared(Array("p", IDT_OBJECT, {{0, 1}})), "Dim p(1) As Object");
    EXPECT_EQ(declared(InterArrayField::make("z", IDT_DOUBLE, 0)), "Dim z() As Double");
    InterArrayField* q = Array("q", IDT_LONG, {{0, 0}});
    q->setFlags(Field::kProtected);
    EXPECT_EQ(declared(q), "Protected q(0) As Long");
    FieldPtr param(new ArrayReferenceField("r", IDT_FLOAT));
    std::string out;
    param->declarationText(out, nullptr);
    EXPECT_EQ(out, "Dim r() As Single");
}

TEST_F(Arrays, BoundsAreIntegerConstantsAndAnArrayFitsInTwoGigabytes) {
    FieldPtr hold(InterArrayField::make("A", IDT_DOUBLE, 2));
    auto* a = static_cast<InterArrayField*>(hold.get());
    LongConstant three(3);
    three.negate();
    EXPECT_EQ(ArrayField::ConstantBound(&three), -3);
    DoubleConstant half(0.5);
    EXPECT_EQ(FailureText([&] { ArrayField::ConstantBound(&half); }),
              "Array dimension expressions must be integer constants.");
    EXPECT_EQ(half.negate(), 1);
    EXPECT_EQ(half.value(), -0.5);
    EXPECT_EQ(half.size(), 15u);
    EXPECT_EQ(half.type(), EXPR_DOUBLE_CONSTANT);

    a->defineBounds(0, -3, 3);
    a->defineBounds(1, 0, 9);
    EXPECT_EQ(a->size(), 7 * 10 * 8);
    EXPECT_EQ(a->getLBound(0), -3);
    EXPECT_EQ(a->getUBound(1), 9);
    EXPECT_EQ(FailureText([&] { a->getLBound(2); }), "Illegal dimension: 2");
    EXPECT_EQ(FailureText([&] { a->defineBounds(1, 5, 4); }), "Illegal dimension: 1");
    // 10^6 x 300 Doubles are 2.4 GB: refused, and the array is as it was.
    EXPECT_EQ(FailureText([&] { a->defineBounds(0, 0, 999999); a->defineBounds(1, 0, 299); }),
              "object is too large");
    EXPECT_EQ(a->getUBound(0), 999999);
    EXPECT_EQ(a->getUBound(1), 9);
    EXPECT_EQ(a->size(), 1000000 * 10 * 8);
    EXPECT_EQ(FailureText([&] { InterArrayField::make("B", IDT_LONG, 61); }), "Illegal dimension: 61");
}

TEST_F(Arrays, AnElementValueReadsAndWritesItsObjectInPlaceUntilTheArrayIsResized) {
    const tModuleIndex m = openModule();
    InterObj o(named("Table"));
    o->addField(Array("V", IDT_LONG, {{0, 3}}));
    ValuePtr e = Element(o.get(), "V", {2});
    saveTables(m);
    const Description* d = DescribedObjectNoDescriptor<InterObjRep>::objectDescription(o->descriptor());
    ASSERT_FALSE(d->isChanged());
    *e = LongValue(42);
    EXPECT_TRUE(d->isChanged());
    EXPECT_EQ(LoadLE32(ArrayBytes(o.get(), "V") + 8), 42u);
    // The block is rebuilt when a field goes in before the array; the value
    // follows its element there.
    o->addField(dataField("Before", IDT_DOUBLE), nullptr, 1);
    EXPECT_EQ(e->as<int32_t>(), 42);
    *e = LongValue(43);
    EXPECT_EQ(Element(o.get(), "V", {2})->as<int32_t>(), 43);
    // After a resize the element it named is no more.
    Redim(o.get(), "V", {{0, 9}}, 1);
    EXPECT_EQ(FailureText([&] { e->as<int32_t>(); }), "object does not exist");
    EXPECT_EQ(Element(o.get(), "V", {2})->as<int32_t>(), 43);
}

TEST_F(Arrays, StringAndObjectElementsBelongToTheirObject) {
    InterObj target(InterObjRep::New(DETACHED_MODULE, IOT_DYNAMIC));
    const uint16_t baseCount = target->refCount();
    InterObj proto(named("Holder"));
    proto->addField(Array("S", IDT_STRING, {{0, 2}}));
    proto->addField(Array("O", IDT_OBJECT, {{0, 1}}));
    *Element(proto.get(), "S", {1}) = StringValue(ValString("proto text"));
    *Element(proto.get(), "O", {0}) = ObjectValue(target);
    EXPECT_EQ(target->refCount(), baseCount + 1);
    EXPECT_EQ(Element(proto.get(), "S", {0})->as<ValString>().get()->text(), "");

    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_EQ(target->refCount(), baseCount + 2);
    EXPECT_EQ(std::string(Element(clone.get(), "S", {1})->as<ValString>()), "proto text");
    *Element(clone.get(), "S", {1}) = StringValue(ValString("clone text"));
    EXPECT_EQ(std::string(Element(proto.get(), "S", {1})->as<ValString>()), "proto text");
    InterObj held;
    Element(clone.get(), "O", {0})->get(held);
    EXPECT_EQ(held.get(), target.get());
    held = nullptr;
    EXPECT_THROW(*Element(clone.get(), "O", {1}) = LongValue(1), TypeMismatch);

    clone->Destroy();
    EXPECT_EQ(target->refCount(), baseCount + 1);
    // A destroyed object reads as none.
    InterObj doomed(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
    *Element(proto.get(), "O", {1}) = ObjectValue(doomed);
    doomed->Destroy();
    Element(proto.get(), "O", {1})->get(held);
    EXPECT_TRUE(held.isNull());
}

TEST_F(Arrays, ATypedObjectArrayTakesOnlyObjectsOfItsType) {
    InterObj button(named("Button"));
    InterObj panel(named("Panel"));
    InterObj form(named("Form1"));
    form->addField(Array("Buttons", IDT_OBJECT, {{0, 1}}, "Button"));
    InterObj b2(InterObjRep::NewCopy(*button, DETACHED_MODULE, IOT_ORDINARY));
    *Element(form.get(), "Buttons", {0}) = ObjectValue(b2);
    EXPECT_THROW(*Element(form.get(), "Buttons", {1}) = ObjectValue(panel), TypeMismatch);
    InterObj held;
    Element(form.get(), "Buttons", {1})->get(held);
    EXPECT_TRUE(held.isNull());
}

TEST_F(Arrays, ResizingWithoutPreserveEmptiesTheArrayOfEveryObject) {
    InterObj target(InterObjRep::New(DETACHED_MODULE, IOT_DYNAMIC));
    const uint16_t baseCount = target->refCount();
    InterObj proto(named("Many"));
    addData(proto.get(), "Head", IDT_LONG);
    proto->addField(Array("N", IDT_SHORT, {{0, 1}}));
    proto->addField(Array("S", IDT_STRING, {{0, 1}}));
    proto->addField(Array("O", IDT_OBJECT, {{0, 1}}));
    addData(proto.get(), "Tail", IDT_LONG);
    std::vector<InterObj> objs{proto};
    for (int i = 0; i < 3; ++i) objs.emplace_back(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    for (size_t i = 0; i < objs.size(); ++i) {
        InterObjRep* o = objs[i].get();
        setLong(o, "Head", static_cast<int32_t>(100 + i));
        setLong(o, "Tail", static_cast<int32_t>(200 + i));
        *Element(o, "N", {1}) = IntegerValue(7);
        *Element(o, "S", {0}) = StringValue(ValString("text"));
        *Element(o, "O", {1}) = ObjectValue(target);
    }
    EXPECT_EQ(target->refCount(), baseCount + 4);
    Redim(proto.get(), "N", {{0, 4}}, 0);
    Redim(proto.get(), "S", {{1, 3}}, 0);
    Redim(proto.get(), "O", {{0, 2}}, 0);
    EXPECT_EQ(target->refCount(), baseCount);
    SignatureRep* s = proto->signature();
    EXPECT_EQ(s->iDataSize(), 4u + 10 + 15 + 15 + 4);
    for (size_t i = 0; i < objs.size(); ++i) {
        InterObjRep* o = objs[i].get();
        EXPECT_EQ(o->dataSize(), s->iDataSize());
        EXPECT_EQ(getLong(o, "Head"), static_cast<int32_t>(100 + i));
        EXPECT_EQ(getLong(o, "Tail"), static_cast<int32_t>(200 + i));
        for (int32_t k = 0; k <= 4; ++k) EXPECT_EQ(Element(o, "N", {k})->as<int32_t>(), 0);
        for (int32_t k = 1; k <= 3; ++k) EXPECT_EQ(std::string(Element(o, "S", {k})->as<ValString>()), "");
        InterObj held;
        Element(o, "O", {1})->get(held);
        EXPECT_TRUE(held.isNull());
        // The new elements are the object's own, sound references.
        *Element(o, "S", {3}) = StringValue(ValString("new"));
        *Element(o, "O", {2}) = ObjectValue(target);
    }
    EXPECT_EQ(target->refCount(), baseCount + 4);
}

// An array declared without bounds takes no bytes and shares its offset
// with the field behind it: resizing it must move that field, not write
// over it, and two such arrays side by side must end up apart.
TEST_F(Arrays, AnEmptyArrayGrowsInFrontOfTheFieldsThatShareItsOffset) {
    InterObj proto(named("Empty"));
    addData(proto.get(), "Head", IDT_LONG);
    proto->addField(InterArrayField::make("A", IDT_LONG, 0));
    proto->addField(InterArrayField::make("B", IDT_LONG, 0));
    addData(proto.get(), "Tail", IDT_LONG);
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    for (InterObjRep* o : {proto.get(), clone.get()}) {
        setLong(o, "Head", 1);
        setLong(o, "Tail", 2);
    }
    Redim(proto.get(), "B", {{0, 1}}, 0);
    Redim(proto.get(), "A", {{0, 2}}, 0);
    Redim(proto.get(), "B", {{0, 3}}, 1);
    EXPECT_EQ(proto->signature()->iDataSize(), 4u + 12 + 16 + 4);
    for (InterObjRep* o : {proto.get(), clone.get()}) {
        for (int32_t k = 0; k <= 2; ++k) *Element(o, "A", {k}) = LongValue(10 + k);
        for (int32_t k = 0; k <= 3; ++k) *Element(o, "B", {k}) = LongValue(20 + k);
        EXPECT_EQ(getLong(o, "Head"), 1);
        EXPECT_EQ(getLong(o, "Tail"), 2);
        for (int32_t k = 0; k <= 2; ++k) EXPECT_EQ(Element(o, "A", {k})->as<int32_t>(), 10 + k);
        for (int32_t k = 0; k <= 3; ++k) EXPECT_EQ(Element(o, "B", {k})->as<int32_t>(), 20 + k);
    }
}

TEST_F(Arrays, ResizingWithPreserveKeepsTheElementsBothShapesShare) {
    InterObj proto(named("Keep"));
    proto->addField(Array("G", IDT_LONG, {{0, 2}, {0, 3}}));
    proto->addField(Array("S", IDT_STRING, {{0, 3}}));
    proto->addField(Array("O", IDT_OBJECT, {{0, 2}}));
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    InterObj kept(InterObjRep::New(DETACHED_MODULE, IOT_DYNAMIC));
    // Held by the array alone: dropping its element lets it go.
    InterObjRep* dropped = InterObjRep::New(DETACHED_MODULE, IOT_DYNAMIC);
    for (InterObjRep* o : {proto.get(), clone.get()}) {
        const int32_t base = o == proto.get() ? 0 : 1000;
        for (int32_t i = 0; i <= 2; ++i)
            for (int32_t j = 0; j <= 3; ++j) *Element(o, "G", {i, j}) = LongValue(base + i * 10 + j);
        for (int32_t k = 0; k <= 3; ++k)
            *Element(o, "S", {k}) = StringValue(ValString(std::to_string(base + k)));
    }
    *Element(clone.get(), "O", {0}) = ObjectValue(InterObj(dropped));
    *Element(clone.get(), "O", {2}) = ObjectValue(kept);

    Redim(proto.get(), "G", {{1, 3}, {0, 1}}, 1);
    Redim(proto.get(), "S", {{2, 5}}, 1);
    Redim(proto.get(), "O", {{1, 4}}, 1);
    for (InterObjRep* o : {proto.get(), clone.get()}) {
        const int32_t base = o == proto.get() ? 0 : 1000;
        for (int32_t i = 1; i <= 3; ++i)
            for (int32_t j = 0; j <= 1; ++j)
                EXPECT_EQ(Element(o, "G", {i, j})->as<int32_t>(), i == 3 ? 0 : base + i * 10 + j) << i << j;
        EXPECT_EQ(std::string(Element(o, "S", {2})->as<ValString>()), std::to_string(base + 2));
        EXPECT_EQ(std::string(Element(o, "S", {3})->as<ValString>()), std::to_string(base + 3));
        EXPECT_EQ(std::string(Element(o, "S", {4})->as<ValString>()), "");
    }
    InterObj held;
    Element(clone.get(), "O", {2})->get(held);
    EXPECT_EQ(held.get(), kept.get());
    EXPECT_TRUE(dropped->isDestroyStarted());
    // Kept strings are still the object's own.
    *Element(clone.get(), "S", {2}) = StringValue(ValString("changed"));
    EXPECT_EQ(std::string(Element(proto.get(), "S", {2})->as<ValString>()), "2");
}

// What a progeny looks like, to compare before and after a resize that must
// fail.
struct Picture {
    explicit Picture(const std::vector<InterObjRep*>& objs) {
        for (InterObjRep* o : objs) {
            data.emplace_back(o->data(), o->data() + o->dataSize());
            sigs.push_back(o->signature());
            sizes.push_back(o->signature()->iDataSize());
            fields.push_back(o->signature()->fields().length());
        }
    }
    bool operator==(const Picture&) const = default;
    std::vector<std::vector<uint8_t>> data;
    std::vector<SignatureRep*> sigs;
    std::vector<uint32_t> sizes;
    std::vector<size_t> fields;
};

TEST_F(Arrays, AResizeThatFailsChangesNothing) {
    InterObj proto(named("Stable"));
    addData(proto.get(), "X", IDT_LONG);
    proto->addField(Array("A", IDT_SHORT, {{0, 3}}));
    InterObj clone(InterObjRep::NewNamed("Copy", proto.get(), DETACHED_MODULE, IOT_ORDINARY));
    *Element(clone.get(), "A", {3}) = IntegerValue(5);
    const std::vector<InterObjRep*> objs{proto.get(), clone.get()};
    const Picture before(objs);
    SignatureRep* owner = proto->signature();

    // Another element type.
    InterArrayField* other = Array("A", IDT_LONG, {{0, 9}});
    EXPECT_THROW(clone->redimArrayField(*owner, other, 1), TypeMismatch);
    EXPECT_TRUE(Picture(objs) == before);
    EXPECT_TRUE(clone->isClone());

    // Just under 2 GB of Integers, which with X is more than an object may
    // hold; through the clone too, which stays a clone.
    InterArrayField* huge = ArrayOf(proto.get(), "A")->redimCopy(1);
    huge->defineBounds(0, 0, 1073741822);
    FieldPtr keep(huge);
    EXPECT_EQ(FailureText([&] { clone->redimArrayField(*owner, huge, 1); }), "object is too large");
    EXPECT_EQ(FailureText([&] { proto->redimArrayField(*owner, huge, 0); }), "object is too large");
    EXPECT_TRUE(Picture(objs) == before);
    EXPECT_TRUE(clone->isClone());
    EXPECT_EQ(Element(clone.get(), "A", {3})->as<int32_t>(), 5);

    // Adding an array that large fails the same way.
    InterArrayField* big = InterArrayField::make("B", IDT_SHORT, 1);
    big->defineBounds(0, 0, 1073741822);
    EXPECT_EQ(FailureText([&] { proto->addField(big); }), "object is too large");
    EXPECT_TRUE(Picture(objs) == before);
}

TEST_F(Arrays, AWholeArrayOnlyIndexesAndPassesToArrayParameters) {
    InterObj caller(named("Caller"));
    const uint16_t callerCount = caller->refCount();
    caller->addField(Array("A", IDT_SHORT, {{1, 3}}));
    caller->addField(Array("L", IDT_LONG, {{0, 0}}));
    addData(caller.get(), "N", IDT_SHORT);
    ValuePtr whole = caller->eval("A");
    EXPECT_EQ(whole->type(), IDT_SHORT | IDT_ARRAY);
    EXPECT_TRUE(whole->field()->isArrayData());
    EXPECT_THROW(*whole + *whole, TypeMismatch);
    EXPECT_THROW(whole->as<int32_t>(), TypeMismatch);
    EXPECT_THROW(*whole = IntegerValue(1), TypeMismatch);
    {
        ValueList idx = Indices({2});
        *whole->virtualMemberEval(&idx) = IntegerValue(9);
    }
    EXPECT_EQ(Element(caller.get(), "A", {2})->as<int32_t>(), 9);
    SignatureRep* owner = nullptr;
    Field* a = caller->signature()->findField("A", owner, 0);
    EXPECT_THROW(static_cast<InterDataField*>(a)->checkBinding(whole.get()), TypeMismatch);

    // A procedure's argument prototype with one Integer array parameter.
    InterObjRep* args = InterObjRep::New(DETACHED_MODULE, IOT_WORKER);
    args->addField(new ArrayReferenceField("p", IDT_SHORT | IDT_ARRAY));
    for (ValuePtr wrong : {caller->eval("L"), caller->eval("N")}) {
        ValueList list{wrong};
        EXPECT_THROW(args->bind(&list), TypeMismatch);
    }
    ValueList list{whole};
    InterObjRep* frame = args->bind(&list);
    EXPECT_EQ(caller->refCount(), callerCount + 2);
    ValuePtr param = frame->eval("p");
    EXPECT_EQ(param->field(), a);
    *Element(frame, "p", {3}) = IntegerValue(4);
    EXPECT_EQ(Element(caller.get(), "A", {3})->as<int32_t>(), 4);
    // The procedure resizes the array it was passed: the caller's array.
    auto* p = static_cast<ArrayReferenceFieldValue*>(param.get());
    InterArrayField* grown = p->arrayField()->redimCopy(1);
    grown->defineBounds(0, 1, 5);
    p->object()->redimArrayField(*p->ownerSignature(), grown, 1);
    EXPECT_EQ(p->arrayField()->getUBound(0), 5);
    EXPECT_EQ(Element(frame, "p", {3})->as<int32_t>(), 4);
    EXPECT_EQ(ArrayOf(caller.get(), "A")->getUBound(0), 5);
    param = nullptr;
    whole = nullptr;
    list.clear();
    frame->destroy();
    args->destroy();
    EXPECT_EQ(caller->refCount(), callerCount);
}

}  // namespace
}  // namespace tq
