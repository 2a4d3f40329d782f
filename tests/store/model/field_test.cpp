// Fields: names, values of every kind, object typing, property procedures,
// declaration texts and the field list.
#include <string>
#include <vector>

#include "store/errors/extexcep.h"
#include "store/model/fldval.h"
#include "store/model/objval.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

using Fields = ModelTest;

TEST_F(Fields, ANameThatIsNoIdentifierIsRefused) {
    try {
        InterDataField::make("1x", IDT_LONG, 1);
        ADD_FAILURE();
    } catch (const InvalidFieldName& e) {
        EXPECT_STREQ(e.what(), "1x is not a valid name.");
    }
    EXPECT_THROW(InterDataField::make("Dim", IDT_LONG, 1), InvalidFieldName);
    EXPECT_THROW(InterDataField::make("", IDT_LONG, 1), InvalidFieldName);
    FieldPtr left(InterDataField::make("Left", IDT_LONG, 1));
    EXPECT_STREQ(left->name(), "Left");
}

TEST_F(Fields, MakeChoosesTheKindByTypeAndPassing) {
    FieldPtr byValue(InterDataField::make("a", IDT_UNTYPED, 1));
    EXPECT_EQ(byValue->type(), IDT_LONG);
    EXPECT_FALSE(byValue->isByReference());
    FieldPtr byRef(InterDataField::make("b", IDT_CURRENCY, 0));
    EXPECT_TRUE(byRef->isByReference());
    EXPECT_EQ(byRef->size(), 4);
    FieldPtr object(InterDataField::make("c", IDT_OBJECT, 1, "Form1"));
    EXPECT_TRUE(object->isObjectDataField());
    EXPECT_STREQ(object->typeName(), "Form1");
    testing::internal::CaptureStderr();
    EXPECT_EQ(InterDataField::make("d", IDT_VARIANT, 1), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Field type: 9 Not implemented. \n");
    EXPECT_EQ(InterDataField::make("e", IDT_VOID, 1), nullptr);
}

TEST_F(Fields, EveryValueTypeReadsBackAsWrittenAndConverts) {
    InterObj o(named("Values"));
    addData(o.get(), "I", IDT_SHORT);
    addData(o.get(), "L", IDT_LONG);
    addData(o.get(), "F", IDT_FLOAT);
    addData(o.get(), "D", IDT_DOUBLE);
    addData(o.get(), "C", IDT_CURRENCY);
    addData(o.get(), "S", IDT_STRING);
    ValuePtr i = o->eval("I");
    *i = IntegerValue(int16_t(-5));
    *o->eval("L") = LongValue(123456);
    *o->eval("F") = SingleValue(1.5f);
    *o->eval("D") = DoubleValue(0.25);
    *o->eval("C") = CurrencyValue(Currency(1.25));
    *o->eval("S") = StringValue(ValString("42"));
    EXPECT_EQ(o->eval("I")->as<int32_t>(), -5);
    EXPECT_EQ(o->eval("L")->as<int32_t>(), 123456);
    EXPECT_EQ(o->eval("F")->as<double>(), 1.5);
    EXPECT_EQ(o->eval("D")->as<double>(), 0.25);
    EXPECT_EQ(o->eval("C")->as<Currency>().hundredths(), 125.0);
    EXPECT_EQ(o->eval("S")->as<int32_t>(), 42);
    EXPECT_EQ(o->eval("I")->type(), IDT_SHORT);
    // A string field read as a number that is none fails as the string does.
    *o->eval("S") = StringValue(ValString("abc"));
    EXPECT_THROW(o->eval("S")->as<float>(), ConvertFailed);
    EXPECT_THROW(o->eval("L")->as<InterObj>(), TypeMismatch);
}

TEST_F(Fields, ACloneGetsItsOwnCopyOfEachString) {
    InterObj proto(named("Texts"));
    addData(proto.get(), "S", IDT_STRING);
    setText(proto.get(), "S", "original");
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_EQ(getText(clone.get(), "S"), "original");
    setText(clone.get(), "S", "changed");
    EXPECT_EQ(getText(proto.get(), "S"), "original");
    EXPECT_EQ(getText(clone.get(), "S"), "changed");
}

TEST_F(Fields, AStringReadOutOfAFieldDoesNotChangeWhenTheFieldDoes) {
    InterObj o(named("Texts"));
    addData(o.get(), "S", IDT_STRING);
    setText(o.get(), "S", "before");
    ValString held;
    SignatureRep* owner = nullptr;
    o->signature()->findField("S", owner, 0)->get(held, *o, *owner);
    setText(o.get(), "S", "after");
    EXPECT_STREQ(static_cast<const char*>(held), "before");
    EXPECT_EQ(getText(o.get(), "S"), "after");
}

TEST_F(Fields, AConstantDeclaresItsValueAndRefusesAssignment) {
    InterObj o(named("Consts"));
    InterDataField* limit = dataField("Limit", IDT_SHORT);
    ValuePtr ten(new IntegerValue(int16_t(10)));
    o->addField(limit, ten.get());
    limit->setFlags(Field::kConst);
    std::string text;
    limit->declarationText(text, o.get());
    EXPECT_EQ(text, "Const Limit% = 10");
    try {
        setLong(o.get(), "Limit", 11);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Attempt to set a constant value");
    }
    EXPECT_EQ(getLong(o.get(), "Limit"), 10);
    InterDataField* greeting = dataField("Hello", IDT_STRING);
    ValuePtr hi(new StringValue(ValString("say \"hi\"")));
    o->addField(greeting, hi.get());
    greeting->setFlags(Field::kConst);
    text.clear();
    greeting->declarationText(text, o.get());
    EXPECT_EQ(text, "Const Hello$ = \"say \"\"hi\"\"\"");
    text.clear();
    InterDataField* plain = dataField("Plain", IDT_DOUBLE);
    o->addField(plain);
    plain->declarationText(text, o.get());
    EXPECT_EQ(text, "Dim Plain As Double");
}

TEST_F(Fields, AnInitialValueFillsEveryObjectOfTheProgeny) {
    InterObj proto(named("Init"));
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    ValuePtr init(new StringValue(ValString("start")));
    proto->addField(dataField("S", IDT_STRING), init.get());
    EXPECT_EQ(getText(proto.get(), "S"), "start");
    EXPECT_EQ(getText(clone.get(), "S"), "start");
    setText(clone.get(), "S", "mine");
    EXPECT_EQ(getText(proto.get(), "S"), "start");
}

TEST_F(Fields, AnObjectFieldTakesOnlyObjectsOfItsTypeAndComparesByIdentity) {
    InterObj button(named("Button"));
    InterObj other(named("Other"));
    InterObj form(named("Form1"));
    form->addField(dataField("Target", IDT_OBJECT, "Button"));
    InterObj clone(InterObjRep::NewCopy(*button, DETACHED_MODULE, IOT_ORDINARY));
    ValuePtr target = form->eval("Target");
    *target = ObjectValue(clone);
    EXPECT_EQ(target->as<InterObj>().get(), clone.get());
    try {
        *target = ObjectValue(other);
        ADD_FAILURE();
    } catch (const TypeMismatch& e) {
        EXPECT_STREQ(e.what(), "types mismatched for requested operation");
    }
    EXPECT_EQ(target->as<InterObj>().get(), clone.get());
    const ObjectValue same(clone);
    const ObjectValue different(button);
    EXPECT_EQ(target->operator==(same), -1);
    EXPECT_EQ(target->operator!=(different), -1);
    EXPECT_THROW((void)target->operator<(same), TypeMismatch);
    EXPECT_EQ(std::string(static_cast<const char*>(target->as<ValString>())), clone->alias());
    *target = ObjectValue(InterObj());
    EXPECT_STREQ(static_cast<const char*>(target->as<ValString>()), "");
    // A clone of the form copies the reference and counts it.
    const uint16_t count = button->refCount();
    *target = ObjectValue(button);
    InterObj copy(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_EQ(button->refCount(), count + 2);
}

TEST_F(Fields, AStrictObjectFieldNeedsItsTypeToResolve) {
    InterObj form(named("Form1"));
    form->addField(new StrictInterObjField("Strict", "Missing"));
    try {
        form->eval("Strict");
        ADD_FAILURE();
    } catch (const TypeMismatch& e) {
        EXPECT_STREQ(e.what(), "types mismatched for requested operation");
    }
    InterObj button(named("Button"));
    form->addField(new StrictInterObjField("Ok", "Button"));
    ValuePtr ok = form->eval("Ok");
    ValueList args{ValuePtr(new LongValue(1))};
    *ok = ObjectValue(button);
    EXPECT_THROW(ok->virtualMemberEval(&args), NonNullArguments);
}

TEST_F(Fields, AnObjectValueWithArgumentsAsksItsObject) {
    ValueList args{ValuePtr(new LongValue(1))};
    ValuePtr none(new ObjectValue(InterObj()));
    try {
        none->virtualMemberEval(&args);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "object is null");
    }
    InterObj plain(named("Plain"));
    ValuePtr some(new ObjectValue(plain));
    EXPECT_THROW(some->virtualMemberEval(&args), NonNullArguments);
    EXPECT_EQ(some->virtualMemberEval(nullptr).get(), some.get());
    EXPECT_EQ(DirectValueClassFactory(IDT_OBJECT, some.get())->as<InterObj>().get(), plain.get());
    EXPECT_THROW(some->as<double>(), TypeMismatch);
}

TEST_F(Fields, APropertyWithoutItsGetProcedureNamesTheProcedure) {
    InterObj o(named("Props"));
    o->addField(new TypedInterProcDataField<int32_t, IDT_LONG>("Size", "SetSize", "GetSize"));
    try {
        o->eval("Size")->as<int32_t>();
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_STREQ(e.what(), "Identifier 'GetSize' was not found");
    }
    try {
        *o->eval("Size") = LongValue(3);
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_STREQ(e.what(), "Identifier 'SetSize' was not found");
    }
    o->addField(new TypedInterProcDataField<int32_t, IDT_LONG>("Fixed", nullptr, "GetFixed"));
    try {
        *o->eval("Fixed") = LongValue(3);
        ADD_FAILURE();
    } catch (const AccessDenied& e) {
        EXPECT_STREQ(e.what(), "Privileged operation attempted: Access Denied");
    }
    // A property whose Get procedure is the property itself does not read
    // itself for ever.
    o->addField(new TypedInterProcDataField<int32_t, IDT_LONG>("Again", "Again", "Again"));
    EXPECT_THROW(o->eval("Again")->as<int32_t>(), NotFound);
}

TEST_F(Fields, ByReferenceParametersGoThroughToTheCallersValue) {
    InterObj args(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
    args->addField(InterDataField::make("n", IDT_SHORT, 0));
    InterObj caller(named("Caller"));
    addData(caller.get(), "Count", IDT_SHORT);
    ValueList list{caller->eval("Count")};
    InterObjRep* bound = args->bind(&list);
    setLong(bound, "n", 9);
    EXPECT_EQ(getLong(caller.get(), "Count"), 9);
    // A field value passed by reference is not converted; a Long temporary
    // passed for the Integer parameter is.
    ValuePtr v = list.at(0);
    EXPECT_FALSE(v->isDirect());
    bound->destroy();
    ValueList temp{ValuePtr(new LongValue(70000))};
    InterObjRep* other = args->bind(&temp);
    EXPECT_EQ(temp.at(0)->type(), IDT_SHORT);
    EXPECT_EQ(getLong(other, "n"), int16_t(70000 & 0xFFFF));
    other->destroy();
    args->destroy();
    // By value, the type must be exactly the field's.
    InterObj strict(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
    strict->addField(InterDataField::make("s", IDT_STRING, 1));
    SignatureRep* owner = nullptr;
    Field* s = strict->signature()->findField("s", owner, 0);
    ValuePtr number(new LongValue(1));
    try {
        static_cast<InterDataField*>(s)->bind(*strict, *owner, number.get());
        ADD_FAILURE();
    } catch (const TypeMismatch& e) {
        EXPECT_STREQ(e.what(), "types mismatched for requested operation");
    }
    strict->destroy();
}

TEST_F(Fields, AValueHeldPastItsFieldsRemovalIsRefusedAndTouchesNoOtherField) {
    InterObj partner(named("Partner"));
    InterObj o(named("Form1"));
    addData(o.get(), "Count", IDT_LONG);
    addData(o.get(), "Caption", IDT_STRING);
    addData(o.get(), "Title", IDT_STRING);
    addData(o.get(), "Link", IDT_OBJECT);
    setLong(o.get(), "Count", 3);
    setText(o.get(), "Caption", "gone");
    setText(o.get(), "Title", "kept");
    setObject(o.get(), "Link", partner.get());
    ValuePtr count = o->eval("Count");
    ValuePtr caption = o->eval("Caption");
    // A procedure's by-reference parameter bound to the field's value.
    InterObj args(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
    args->addField(InterDataField::make("n", IDT_LONG, 0));
    ValueList list{count};
    InterObjRep* frame = args->bind(&list);

    o->removeField("Count");
    o->removeField("Caption");
    // Their bytes now hold Title and Link.
    const std::string refused = "object does not exist";
    EXPECT_EQ(FailureText([&] { count->as<int32_t>(); }), refused);
    EXPECT_EQ(FailureText([&] { *count = LongValue(7); }), refused);
    EXPECT_EQ(FailureText([&] { ValString s; caption->get(s); }), refused);
    EXPECT_EQ(FailureText([&] { *caption = StringValue(ValString("over")); }), refused);
    EXPECT_EQ(FailureText([&] { caption->getVoidPtr(); }), refused);
    EXPECT_EQ(FailureText([&] { setLong(frame, "n", 9); }), refused);
    EXPECT_EQ(getText(o.get(), "Title"), "kept");
    EXPECT_EQ(getObject(o.get(), "Link"), partner.get());
    frame->destroy();
    args->destroy();
}

TEST_F(Fields, TheFieldListRefusesASecondFieldOfOneName) {
    FieldPtrList list;
    FieldPtr a(InterDataField::make("Same", IDT_LONG, 1));
    FieldPtr b(InterDataField::make("Same", IDT_STRING, 1));
    FieldPtr c(InterDataField::make("Other", IDT_LONG, 1));
    EXPECT_TRUE(list.append(a.get()));
    EXPECT_FALSE(list.append(b.get()));
    EXPECT_FALSE(list.prepend(b.get()));
    EXPECT_TRUE(list.prepend(c.get()));
    EXPECT_EQ(list.length(), 2u);
    EXPECT_EQ(list.pvalue("Same"), a.get());
    EXPECT_EQ(list.at(0), c.get());
    a->markRemoving(true);
    EXPECT_EQ(list.pvalue("Same"), nullptr);
    EXPECT_FALSE(*a.get() == *a.get());
    a->markRemoving(false);
    EXPECT_TRUE(list.punbind("Same"));
    EXPECT_EQ(list.length(), 1u);
    EXPECT_EQ(a->refCount(), 1);
}

// Long lists keep an index of their names; whatever moves the entries
// (prepend, removal, renaming, a field being removed) must leave every
// look-up answering as a search entry by entry would.
TEST_F(Fields, ALongFieldListFindsEveryFieldAfterEachKindOfChange) {
    FieldPtrList list;
    std::vector<FieldPtr> fields;
    for (int i = 0; i < 200; ++i) {
        fields.emplace_back(InterDataField::make(("F" + std::to_string(i)).c_str(), IDT_LONG, 1));
        ASSERT_TRUE(list.append(fields.back().get()));
    }
    EXPECT_FALSE(list.append(fields[150].get()));
    FieldPtr first(InterDataField::make("First", IDT_LONG, 1));
    ASSERT_TRUE(list.prepend(first.get()));
    EXPECT_TRUE(list.punbind("F7"));
    EXPECT_FALSE(list.punbind("F7"));
    fields[60]->markRemoving(true);
    for (int i = 0; i < 200; ++i) {
        const std::string name = "F" + std::to_string(i);
        const Field* want = (i == 7 || i == 60) ? nullptr : fields[static_cast<size_t>(i)].get();
        EXPECT_EQ(list.pvalue(name.c_str()), want) << name;
    }
    fields[60]->markRemoving(false);
    EXPECT_EQ(list.pvalue("First"), first.get());
    EXPECT_EQ(list.at(0), first.get());
    EXPECT_EQ(list.pvalue("F200"), nullptr);
    EXPECT_EQ(list.length(), 200u);
}

TEST_F(Fields, NamesLongerThanAnIdentifierAreTheSameFieldOverTheirFirst31Characters) {
    InterObj o(named("Wide"));
    const std::string name(40, 'n');
    addData(o.get(), name.c_str(), IDT_LONG);
    EXPECT_NE(o->findField(name.c_str()), nullptr);
    EXPECT_NE(o->findField(std::string(31, 'n').c_str()), nullptr);
    EXPECT_EQ(o->findField(std::string(30, 'n').c_str()), nullptr);
}

TEST_F(Fields, TypeConversionLeavesReferencesToStorageAlone) {
    FieldPtr byRef(InterDataField::make("r", IDT_SHORT, 0));
    FieldPtr byValue(InterDataField::make("v", IDT_SHORT, 1));
    ValuePtr temp(new LongValue(5));
    EXPECT_TRUE(byRef->typeConvert(temp));
    EXPECT_EQ(temp->type(), IDT_SHORT);
    EXPECT_FALSE(byValue->typeConvert(temp));
    InterObj o(named("Holder"));
    addData(o.get(), "L", IDT_LONG);
    ValuePtr storage = o->eval("L");
    EXPECT_FALSE(byRef->typeConvert(storage));
    EXPECT_EQ(storage->type(), IDT_LONG);
    EXPECT_TRUE(byValue->typeConvert(storage));
    EXPECT_EQ(storage->type(), IDT_SHORT);
}

}  // namespace
}  // namespace tq
