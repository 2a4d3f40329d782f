// Enumerations: matching names and display texts, the built-in ones, the
// fields typed by them, and their place in modules and on the detached list.
#include <functional>
#include <string>
#include <utility>

#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/fldval.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

using Enumerations = ModelTest;

// An object with a Boolean field "Visible" and an EvalRequires field
// "Needs".
InterObj EnumObject() {
    InterObj o(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
    o->addField(InterEnumField::make("Visible", EnsureBooleanEnum(), 1));
    o->addField(InterEnumField::make("Needs", EnsureEvalRequiresEnum(), 1));
    return o;
}

TEST_F(Enumerations, ABooleanFieldTakesTrueInAnyCaseAndRefusesWhatIsNoEntry) {
    InterObj o = EnumObject();
    for (const char* text : {"true", "TRUE", "True"}) {
        setText(o.get(), "Visible", "False");
        setText(o.get(), "Visible", text);
        EXPECT_EQ(getLong(o.get(), "Visible"), -1) << text;
        EXPECT_EQ(getText(o.get(), "Visible"), "True");
    }
    EXPECT_EQ(FailureText([&] { setText(o.get(), "Visible", "2"); }), "Enumeration constant 2 is invalid.");
    EXPECT_EQ(FailureText([&] { setText(o.get(), "Visible", "1x"); }), "Enumeration string '1x' is invalid.");
    EXPECT_EQ(FailureText([&] { setLong(o.get(), "Visible", 1); }), "Enumeration constant 1 is invalid.");
    // A refused value leaves the field as it was.
    EXPECT_EQ(getLong(o.get(), "Visible"), -1);
    setText(o.get(), "Visible", "0");
    EXPECT_EQ(getText(o.get(), "Visible"), "False");
    // A text that names no entry is read as a decimal number: blanks may
    // lead it, and an empty text is 0; anything left after the number, or
    // no number at all, is refused.
    for (const auto& [text, value] : {std::pair{"", 0}, {" -1", -1}, {"\t 0", 0}, {"+0", 0}}) {
        setText(o.get(), "Visible", value ? "False" : "True");
        setText(o.get(), "Visible", text);
        EXPECT_EQ(getLong(o.get(), "Visible"), value) << '"' << text << '"';
    }
    EXPECT_EQ(EnsureBooleanEnum()->validLong(""), 0);
    EXPECT_EQ(EnsureBooleanEnum()->validLong(nullptr), 0);
    for (const char* text : {"  ", "-", "0 ", "&H0", "0.0", "99999999999"})
        EXPECT_EQ(FailureText([&] { setText(o.get(), "Visible", text); }),
                  std::string("Enumeration string '") + text + "' is invalid.");
    InterObj other(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
    SignatureRep* owner = nullptr;
    Field* f = o->signature()->findField("Visible", owner, 0);
    EXPECT_THROW(f->set(other, *o, *owner), TypeMismatch);
}

// An initial value is converted by the field, as an assignment converts:
// an enumeration field takes an entry's name; a name that is no entry's is
// refused before the field is added.
TEST_F(Enumerations, AFieldAddedWithAnInitialValueOfAnotherTypeConvertsIt) {
    ScopedThrowingAsserts throwing;
    InterObj proto(named("Painted"));
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    ValuePtr trueText(new StringValue(ValString("True")));
    proto->addField(InterEnumField::make("Visible", EnsureBooleanEnum(), 1), trueText.get());
    EXPECT_EQ(getLong(proto.get(), "Visible"), -1);
    EXPECT_EQ(getLong(clone.get(), "Visible"), -1);
    const uint32_t size = proto->dataSize();
    ValuePtr maybe(new StringValue(ValString("Maybe")));
    EXPECT_THROW(proto->addField(InterEnumField::make("Shown", EnsureBooleanEnum(), 1), maybe.get()),
                 StoreException);
    EXPECT_EQ(proto->findField("Shown"), nullptr);
    EXPECT_EQ(proto->dataSize(), size);
    ValuePtr twelve(new StringValue(ValString("12")));
    proto->addField(InterDataField::make("Count", IDT_LONG, 1), twelve.get());
    EXPECT_EQ(getLong(clone.get(), "Count"), 12);
}

TEST_F(Enumerations, ADisplayFlagShowsEntriesByTheirDisplayTextWhichIsAcceptedBack) {
    EnumRep* needs = EnsureEvalRequiresEnum();
    EXPECT_TRUE(needs->displayFlag());
    EXPECT_STREQ(needs->validString(2), "2 - MatchOne");
    EXPECT_EQ(needs->validLong("2 - MatchOne"), 2);
    EXPECT_EQ(needs->validLong("matchall"), 4);
    EXPECT_STREQ(needs->entry(0), "1 - MatchNone");
    EXPECT_EQ(needs->entry(3), nullptr);
    EXPECT_EQ(needs->entry(-1), nullptr);
    EXPECT_EQ(needs->index("4 - MatchAll"), 2);
    EXPECT_EQ(FailureText([&] { needs->index("MatchSome"); }), "Enumeration string 'MatchSome' is invalid.");
    EXPECT_STREQ(EnsureBooleanEnum()->validString(-1), "True");
    EXPECT_EQ(EnsureBooleanEnum()->validString(3), nullptr);

    InterObj o = EnumObject();
    setText(o.get(), "Needs", "2 - MatchOne");
    EXPECT_EQ(getText(o.get(), "Needs"), "2 - MatchOne");
    // Text unloading writes display texts as names and Booleans unquoted.
    std::string out;
    o->textUnload("", out, 0, 0, nullptr);
    EXPECT_EQ(out, ".Visible = False\n.Needs = \"MatchOne\"\n");
}

TEST_F(Enumerations, AManyEntriesEnumerationFindsEachByNameDisplayTextAndValueAfterARemoval) {
    EnumRep* e = new EnumRep("Many", 0);
    e->ref();
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(e->addEntry(("E" + std::to_string(i)).c_str(), i * 3), 1);
    EXPECT_EQ(e->addEntry("e4999", 1), 0);
    EXPECT_EQ(e->addEntry("Other", 4999 * 3), 0);
    EXPECT_EQ(e->remove("E10"), 1);
    EXPECT_EQ(e->count(), 4999);
    EXPECT_EQ(e->index("e11"), 10);
    EXPECT_EQ(e->validLong("33 - E11"), 33);
    EXPECT_STREQ(e->validString(30), nullptr);
    EXPECT_STREQ(e->validString(4999 * 3), "E4999");
    EXPECT_EQ(FailureText([&] { e->index("E10"); }), "Enumeration string 'E10' is invalid.");
    EXPECT_EQ(e->addEntry("E10", 30), 1);
    EXPECT_EQ(e->index("E10"), 4999);
    e->deref();
}

TEST_F(Enumerations, AnEntryThatRepeatsAValueOrANameIsRefusedAndChangesNothing) {
    EnumRep* e = new EnumRep("Colours", 0);
    EXPECT_EQ(e->addEntry("Red", 1), 1);
    EXPECT_EQ(e->addEntry("Green", 2), 1);
    EXPECT_EQ(e->addEntry("Crimson", 1), 0);
    EXPECT_EQ(e->addEntry("GREEN", 3), 0);
    // A name that is another entry's display text would read as that entry.
    EXPECT_EQ(e->addEntry("2 - green", 5), 0);
    ASSERT_EQ(e->count(), 2);
    EXPECT_STREQ(e->entry(0), "Red");
    EXPECT_STREQ(e->entry(1), "Green");
    EXPECT_EQ(FailureText([&] { e->addEntry("", 9); }), "EnumRep::addEntry: an entry needs a name");
    EXPECT_EQ(FailureText([&] { e->addEntry(nullptr, 9); }), "EnumRep::addEntry: an entry needs a name");
    EXPECT_EQ(e->count(), 2);
    EXPECT_EQ(e->remove("red"), 1);
    EXPECT_EQ(e->remove("red"), 0);
    EXPECT_EQ(e->count(), 1);
    EXPECT_EQ(e->addEntry("Crimson", 1), 1);
    // A detached enumeration goes with its last reference.
    const size_t detached = EnumRep::DetachedCount();
    e->ref();
    e->deref();
    EXPECT_EQ(EnumRep::DetachedCount(), detached - 1);
}

TEST_F(Enumerations, FindLooksInEveryModuleThenOnTheDetachedListIgnoringCase) {
    EnumRep* boolean = EnsureBooleanEnum();
    EXPECT_EQ(EnumRep::find("boolean"), boolean);
    EXPECT_EQ(EnsureBooleanEnum(), boolean);
    const tModuleIndex m = openModule();
    EnumRep* local = new EnumRep("Sizes", 0);
    EXPECT_EQ(local->moduleIndex(), m);
    EXPECT_EQ(EnumRep::find("SIZES"), local);
    // A module's enumeration of the same name is found before a detached
    // one.
    EnumRep* shadow = new EnumRep("Boolean", 0);
    EXPECT_EQ(EnumRep::find("Boolean"), shadow);
    EXPECT_EQ(EnumRep::find("Nothing here"), nullptr);
    closeModule(m);
    EXPECT_EQ(EnumRep::find("Sizes"), nullptr);
    EXPECT_EQ(EnumRep::find("Boolean"), boolean);
}

TEST_F(Enumerations, AFieldValueComparesWithNamesAndAssignsThroughTheEnumeration) {
    InterObj o = EnumObject();
    ValuePtr v = o->eval("Visible");
    ValuePtr falseText(new StringValue(ValString("False")));
    ValuePtr trueText(new StringValue(ValString("true")));
    EXPECT_EQ(*v == *falseText, -1);
    EXPECT_EQ(*v != *trueText, -1);
    EXPECT_EQ(*v < *trueText, 0);
    *v = *trueText;
    EXPECT_EQ(getLong(o.get(), "Visible"), -1);
    EXPECT_EQ(*v == *trueText, -1);
    EXPECT_THROW(*v == *ValuePtr(new StringValue(ValString("Maybe"))), StoreException);
    EXPECT_THROW(*v = LongValue(5), StoreException);
    EXPECT_EQ(getLong(o.get(), "Visible"), -1);
    EXPECT_EQ(*v == *ValuePtr(new LongValue(-1)), -1);
}

TEST_F(Enumerations, ArgumentsBecomeLongsOfTheEnumerationBeforeBinding) {
    EnumRep* boolean = EnsureBooleanEnum();
    FieldPtr byValue(InterEnumField::make("Flag", boolean, 1));
    FieldPtr byRef(InterEnumField::make("Flag", boolean, 0));
    EXPECT_TRUE(byRef->isByReference());
    EXPECT_TRUE(byRef->isEnumeration());

    ValuePtr text(new StringValue(ValString("True")));
    EXPECT_TRUE(byValue->typeConvert(text));
    EXPECT_EQ(text->type(), IDT_LONG);
    EXPECT_EQ(text->as<int32_t>(), -1);
    ValuePtr wrong(new StringValue(ValString("Yes")));
    EXPECT_THROW(byValue->typeConvert(wrong), StoreException);

    // A temporary is converted for a by-reference parameter too; a
    // variable of another type is not, and does not bind.
    ValuePtr temp(new StringValue(ValString("False")));
    EXPECT_TRUE(byRef->typeConvert(temp));
    EXPECT_EQ(temp->as<int32_t>(), 0);
    InterObj holder(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
    addData(holder.get(), "S", IDT_STRING);
    ValuePtr variable = holder->eval("S");
    EXPECT_FALSE(byRef->typeConvert(variable));
    EXPECT_THROW(static_cast<InterDataField*>(byRef.get())->checkBinding(variable.get()), TypeMismatch);
    EXPECT_THROW(static_cast<InterDataField*>(byValue.get())->checkBinding(ValuePtr(new LongValue(3)).get()),
                 StoreException);

    std::string decl;
    byValue->declarationText(decl, nullptr);
    EXPECT_EQ(decl, "Dim Flag As Boolean");
}

}  // namespace
}  // namespace tq
