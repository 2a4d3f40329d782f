// Objects: prototypes and clones, discrimination and its undo, names and
// aliases, deep sets, text unloading, binding, release and destruction.
#include <cstdio>
#include <memory>
#include <regex>
#include <string>

#include "store/errors/extexcep.h"
#include "store/model/fldval.h"
#include "store/model/objiter.h"
#include "store/model/objval.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

using Objects = ModelTest;

TEST_F(Objects, AFieldAddedToANamedCloneMakesItThePrototypeOfAChildSignature) {
    InterObj form(named("Form1"));
    InterObj clone(InterObjRep::NewNamed("Form2", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_TRUE(clone->isClone());
    EXPECT_EQ(clone->signature(), form->signature());
    addData(clone.get(), "Extra", IDT_LONG);
    EXPECT_FALSE(clone->isClone());
    EXPECT_EQ(clone->signature()->parent(), form->signature());
    EXPECT_EQ(clone->signature()->protoObject(), clone.get());
    EXPECT_EQ(form->findField("Extra"), nullptr);
    EXPECT_EQ(form->signature()->objectIndex(clone.get()), -1);
}

TEST_F(Objects, AnUnnamedCloneCannotBeSpecialisedAndStaysAsItWas) {
    InterObj form(named("Form1"));
    InterObj clone(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    try {
        addData(clone.get(), "Extra", IDT_LONG);
        ADD_FAILURE();
    } catch (const UnnamedSignature& e) {
        EXPECT_STREQ(e.what(), "Attempt to create an unnamed signature");
    }
    EXPECT_TRUE(clone->isClone());
    EXPECT_EQ(form->signature()->children().length(), 0u);
}

TEST_F(Objects, AFieldThatADescendantPrototypeDefinesIsRefusedOnTheAncestor) {
    InterObj form(named("Form1"));
    InterObj special(InterObjRep::NewNamed("Special", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(special.get(), "Size", IDT_LONG);
    const uint32_t size = form->signature()->iDataSize();
    EXPECT_THROW(addData(form.get(), "Size", IDT_LONG), CollisionOnChild);
    EXPECT_EQ(form->signature()->iDataSize(), size);
    EXPECT_EQ(form->signature()->fields().length(), 0u);
    EXPECT_EQ(special->dataSize(), 4u);
}

TEST_F(Objects, AFailedAdditionToACloneUndoesTheDiscrimination) {
    InterObj form(named("Form1"));
    addData(form.get(), "Width", IDT_LONG);
    InterObj first(InterObjRep::NewNamed("First", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    InterObj second(InterObjRep::NewNamed("Second", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    InterObj third(InterObjRep::NewNamed("Third", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    setLong(second.get(), "Width", 77);
    SignatureRep* s = form->signature();
    const int32_t position = s->objectIndex(second.get());
    const size_t signatures = SignatureRep::LiveCount();
    EXPECT_THROW(addData(second.get(), "Width", IDT_STRING), CollisionOnParent);
    EXPECT_TRUE(second->isClone());
    EXPECT_EQ(second->signature(), s);
    EXPECT_EQ(s->objectIndex(second.get()), position);
    EXPECT_EQ(s->children().length(), 0u);
    EXPECT_EQ(SignatureRep::LiveCount(), signatures);
    EXPECT_EQ(getLong(second.get(), "Width"), 77);
    EXPECT_EQ(s->protoObject(), form.get());
}

TEST_F(Objects, FieldsAreRemovedFromPrototypesOnlyUnlessForced) {
    InterObj form(named("Form1"));
    addData(form.get(), "A", IDT_LONG);
    addData(form.get(), "B", IDT_LONG);
    InterObj clone(InterObjRep::NewNamed("Copy1", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    setLong(clone.get(), "B", 5);
    EXPECT_THROW(clone->removeField("A"), CollisionOnParent);
    clone->forciblyRemoveField("A");
    EXPECT_FALSE(clone->isClone());
    EXPECT_EQ(clone->findField("A"), nullptr);
    EXPECT_EQ(getLong(clone.get(), "B"), 5);
    EXPECT_EQ(clone->dataSize(), 4u);
    EXPECT_NE(form->findField("A"), nullptr);
    EXPECT_EQ(form->dataSize(), 8u);
}

TEST_F(Objects, AGeneratedAliasNamesTheRootModuleIndexAndTheObject) {
    openModule();
    const tModuleIndex m = ObjectStore::OpenModule();
    InterObj form(named("Form1"));
    InterObj clone(InterObjRep::NewCopy(*form, m, IOT_ORDINARY));
    const std::string alias = clone->alias();
    char expected[32];
    std::snprintf(expected, sizeof expected, "Form1@%02x:%06x:", unsigned(m), clone->descriptor().descIndex());
    EXPECT_EQ(alias.substr(0, alias.size() - 8), expected);
    EXPECT_TRUE(std::regex_match(alias.substr(alias.size() - 8), std::regex("[0-9a-f]{8}")));
    EXPECT_TRUE(InterObjRep::isAlias(alias.c_str()));
    EXPECT_FALSE(InterObjRep::isAlias("Form1@03:00002a:0000000"));
    EXPECT_FALSE(InterObjRep::isAlias("Form1@03-00002a:00000000"));
    EXPECT_FALSE(InterObjRep::isAlias("Form1"));
    EXPECT_EQ(InterObj(alias.c_str()).get(), clone.get());
    EXPECT_EQ(form->alias(), "Form1");
}

TEST_F(Objects, ADetachedAliasResolvesOnlyAmongItsRootsChildren) {
    InterObj form(named("Form1"));
    InterObj clone(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    const std::string alias = clone->alias();
    EXPECT_EQ(alias.substr(0, 9), "Form1@fe:");
    EXPECT_EQ(InterObj(alias.c_str()).get(), clone.get());
    InterObj other(named("Other"));
    const std::string wrongRoot = "Other" + alias.substr(5);
    EXPECT_THROW(InterObj(wrongRoot.c_str()), NotFound);
    try {
        InterObj bad("Form1@zz:000000:00000000");
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_STREQ(e.what(), "The alias 'Form1@zz:000000:00000000' does not refer to a valid object.");
    }
    EXPECT_THROW(InterObj("no alias"), NotFound);
    openModule();
    char missing[32];
    std::snprintf(missing, sizeof missing, "Form1@%02x:000099:00000001", unsigned(ObjectStore::OpenModule()));
    try {
        InterObj gone(missing);
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_EQ(std::string(e.what()), std::string("Object '") + missing + "' was not found");
    }
}

TEST_F(Objects, AnEmbeddedObjectIsNamedByItsPathFromTheStaticRoot) {
    InterObj button(named("Button"));
    addData(button.get(), "Caption", IDT_STRING);
    InterObj form(named("Form1"));
    form->addField(new EmbedObjField("Button1", "Button"));
    InterObj embedded;
    ASSERT_TRUE(ObjectStore::find("Form1.Button1", embedded));
    EXPECT_EQ(embedded->alias(), "Form1.Button1");
    EXPECT_TRUE(embedded->isEmbeddedObj());
    EXPECT_EQ(embedded->host(), form.get());
    EXPECT_TRUE(embedded->isStaticallyRooted());
    EXPECT_TRUE(embedded->canBeTreatedAs(button.get()));
    EXPECT_TRUE(form->contains(embedded.get()));
    EXPECT_TRUE(form->subsumes(button.get()));
    EXPECT_EQ(embedded->constructEventName("Click"), "Button1_Click");
}

TEST_F(Objects, EachCloneGetsItsOwnEmbeddedObjectAndRemovingTheFieldDestroysThem) {
    InterObj button(named("Button"));
    InterObj form(named("Form1"));
    InterObj early(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    form->addField(new EmbedObjField("Button1", "Button"));
    InterObj late(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    InterObj a, b, c;
    SignatureRep* owner = nullptr;
    Field* f = form->signature()->findField("Button1", owner, 0);
    f->get(a, *form, *owner);
    f->get(b, *early, *owner);
    f->get(c, *late, *owner);
    ASSERT_TRUE(a.is() && b.is() && c.is());
    EXPECT_NE(a.get(), b.get());
    EXPECT_NE(a.get(), c.get());
    EXPECT_EQ(b->host(), early.get());
    // A clone made later copies the prototype's embedded object.
    EXPECT_EQ(c->signature(), a->signature());
    form->removeField("Button1");
    EXPECT_TRUE(a->isDestroyed());
    EXPECT_TRUE(b->isDestroyed());
    EXPECT_TRUE(c->isDestroyed());
}

TEST_F(Objects, DestroyingAnEmbeddedObjectRemovesItsFieldFromTheHost) {
    InterObj form(named("Form1"));
    form->addField(new EmbedObjField("Panel", nullptr));
    InterObj clone(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    InterObj panel;
    ASSERT_TRUE(ObjectStore::find("Form1.Panel", panel));
    panel->Destroy();
    EXPECT_EQ(form->findField("Panel"), nullptr);
    EXPECT_EQ(form->dataSize(), 0u);
    EXPECT_EQ(clone->dataSize(), 0u);
}

TEST_F(Objects, AnEmbedThatWouldContainItsHostIsRefused) {
    InterObj form(named("Form1"));
    try {
        form->addField(new EmbedObjField("Self", "Form1"));
        ADD_FAILURE();
    } catch (const CircularEmbed& e) {
        EXPECT_STREQ(e.what(), "attempt to embed an object into itself");
    }
    EXPECT_EQ(form->signature()->fields().length(), 0u);
}

TEST_F(Objects, ADeepSetChangesTheClonesThatStillHadTheOldValue) {
    InterObj proto(named("Proto"));
    addData(proto.get(), "Color", IDT_LONG);
    setLong(proto.get(), "Color", 1);
    InterObj same(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    InterObj changed(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    setLong(changed.get(), "Color", 9);
    ValuePtr v(new LongValue(5));
    proto->deepDataMemberSet("Color", v.get());
    EXPECT_EQ(getLong(proto.get(), "Color"), 5);
    EXPECT_EQ(getLong(same.get(), "Color"), 5);
    EXPECT_EQ(getLong(changed.get(), "Color"), 9);
    try {
        proto->deepDataMemberSet("Nope", v.get());
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_STREQ(e.what(), "Field 'Nope' does not exist.");
    }
}

TEST_F(Objects, ADeepSetOnAnEmbeddedCloneReachesTheSameEmbedInEveryHost) {
    InterObj button(named("Button"));
    addData(button.get(), "Caption", IDT_STRING);
    InterObj form(named("Form1"));
    form->addField(new EmbedObjField("Ok", "Button"));
    InterObj other(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    InterObj third(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    InterObj mine, theirs, changedOne;
    ASSERT_TRUE(ObjectStore::find("Form1.Ok", mine));
    ASSERT_TRUE(ObjectStore::findEmbed(other.get(), "Ok", theirs));
    ASSERT_TRUE(ObjectStore::findEmbed(third.get(), "Ok", changedOne));
    setText(changedOne.get(), "Caption", "kept");
    ValuePtr v(new StringValue(ValString("OK")));
    mine->deepDataMemberSet("Caption", v.get());
    EXPECT_EQ(getText(mine.get(), "Caption"), "OK");
    EXPECT_EQ(getText(theirs.get(), "Caption"), "OK");
    EXPECT_EQ(getText(changedOne.get(), "Caption"), "kept");
}

TEST_F(Objects, TextUnloadWritesTheRootSignaturesLinesFirst) {
    InterObj base(named("Control"));
    addData(base.get(), "Caption", IDT_STRING);
    InterObj label(InterObjRep::NewNamed("Label", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(label.get(), "Count", IDT_SHORT);
    InterDataField* fixed = dataField("Limit", IDT_SHORT);
    fixed->setFlags(Field::kConst);
    label->addField(fixed);
    setText(label.get(), "Caption", "Say \"hi\"");
    setLong(label.get(), "Count", 3);
    std::string out;
    label->textUnload("  ", out, 0, 0, nullptr);
    EXPECT_EQ(out, "  .Caption = \"Say \"\"hi\"\"\"\n  .Count = 3\n");
    std::string assigned;
    label->textUnload("", assigned, 0, 1, nullptr);
    EXPECT_EQ(assigned, ".Caption := \"Say \"\"hi\"\"\"\n.Count := 3\n");
}

TEST_F(Objects, TextUnloadCutsLongTextsAndLeavesOutWhatEqualsTheParent) {
    InterObj base(named("Control"));
    addData(base.get(), "Caption", IDT_STRING);
    addData(base.get(), "Width", IDT_LONG);
    InterObj clone(InterObjRep::NewCopy(*base, DETACHED_MODULE, IOT_ORDINARY));
    setText(clone.get(), "Caption", std::string(500, 'x').c_str());
    std::string out;
    clone->textUnload("", out, 1, 0, base.get());
    EXPECT_EQ(out, ".Caption = \"" + std::string(412, 'x') + "\" ...\n");
}

TEST_F(Objects, NamesAreCheckedUniqueAndRenamable) {
    InterObj form(named("Form1"));
    EXPECT_THROW(named("Form1"), DuplicateName);
    try {
        named("1st");
        ADD_FAILURE();
    } catch (const InvalidObjectName& e) {
        EXPECT_STREQ(e.what(), "1st is not a valid name.");
    }
    form->renameObject("Main");
    InterObj found;
    EXPECT_TRUE(ObjectStore::findStatic("Main", found));
    EXPECT_EQ(found.get(), form.get());
    EXPECT_FALSE(ObjectStore::findStatic("Form1", found));
    EXPECT_STREQ(form->name(), "Main");
    InterObj dynamic(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_DYNAMIC));
    try {
        dynamic->renameObject("Other");
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Dynamic objects cannot be renamed.");
    }
    EXPECT_THROW(dynamic->idname(), TypeMismatch);
    EXPECT_EQ(ObjectStore::DynamicCount(DETACHED_MODULE), 1);
}

TEST_F(Objects, RenamingAnEmbedRenamesItsFieldOnTheHost) {
    InterObj form(named("Form1"));
    form->addField(new EmbedObjField("Button1", nullptr));
    InterObj embedded;
    ASSERT_TRUE(ObjectStore::find("Form1.Button1", embedded));
    addData(form.get(), "Taken", IDT_LONG);
    EXPECT_THROW(embedded->renameObject("Taken"), CollisionOnParent);
    EXPECT_THROW(embedded->renameObject("next"), InvalidObjectName);
    embedded->renameObject("OkButton");
    EXPECT_EQ(embedded->alias(), "Form1.OkButton");
    EXPECT_EQ(form->findField("Button1"), nullptr);
}

// A name a field of the host already has, its own or inherited, or that a
// child prototype of the host defines, is refused; the embed and the field
// that has the name stay as they were.
TEST_F(Objects, RenamingAnEmbedOntoANameAFieldHasIsRefusedAndChangesNothing) {
    InterObj base(named("Base"));
    addData(base.get(), "Inherited", IDT_LONG);
    InterObj form(InterObjRep::NewNamed("Form1", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(form.get(), "Own", IDT_STRING);
    form->addField(new EmbedObjField("Button1", nullptr));
    form->addField(new EmbedObjField("Button2", nullptr));
    InterObj special(InterObjRep::NewNamed("Special", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(special.get(), "OnChild", IDT_LONG);
    InterObj embedded;
    ASSERT_TRUE(ObjectStore::find("Form1.Button1", embedded));
    for (const char* taken : {"Own", "Inherited", "Button2", "OnChild"}) {
        SCOPED_TRACE(taken);
        EXPECT_THROW(embedded->renameObject(taken), FieldCollision);
        EXPECT_EQ(embedded->alias(), "Form1.Button1");
        EXPECT_EQ(form->findField(embedded.get()), form->findField("Button1"));
    }
    EXPECT_TRUE(form->findField("Own")->isInterDataField());
    EXPECT_TRUE(form->findField("Inherited")->isInterDataField());
    InterObj second;
    ASSERT_TRUE(ObjectStore::find("Form1.Button2", second));
    EXPECT_EQ(form->findField(second.get()), form->findField("Button2"));
}

TEST_F(Objects, TheLastReleaseOfADetachedDynamicObjectDestroysIt) {
    InterObj form(named("Form1"));
    addData(form.get(), "Text", IDT_STRING);
    InterObjRep* raw;
    {
        InterObj dynamic(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_DYNAMIC));
        setText(dynamic.get(), "Text", "owned");
        raw = dynamic.get();
        EXPECT_EQ(ObjectStore::DynamicCount(DETACHED_MODULE), 1);
    }
    EXPECT_TRUE(raw->isDestroyed());
    EXPECT_EQ(ObjectStore::DynamicCount(DETACHED_MODULE), 0);
    EXPECT_EQ(form->signature()->objectIndex(raw), -1);
    InterObjRep::DeleteObjects();
    EXPECT_EQ(InterObjRep::AwaitingDeletion(), 0u);
}

TEST_F(Objects, BindingChecksCountsAndTypesAndWritesThroughReferences) {
    // An argument prototype: a worker whose own fields are the parameters.
    InterObj args(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
    args->addField(InterDataField::make("n", IDT_SHORT, 0));
    args->addField(InterDataField::make("s", IDT_STRING, 1));
    ValuePtr caller(new IntegerValue(int16_t(1)));
    ValueList two{caller, ValuePtr(new StringValue(ValString("x")))};
    ValueList one{caller};
    EXPECT_THROW(args->checkBindings(&one), TooFewArguments);
    ValueList three{caller, caller, caller};
    EXPECT_THROW(args->checkBindings(&three), TooManyArguments);
    args->checkBindings(&two);
    EXPECT_TRUE(caller->isByRef());
    InterObjRep* bound = args->bind(&two);
    ASSERT_TRUE(bound->isWorkerObj());
    setLong(bound, "n", 42);
    EXPECT_EQ(caller->as<int32_t>(), 42);
    EXPECT_EQ(getText(bound, "s"), "x");
    bound->destroy();
    // A temporary of another type is converted first.
    ValueList converted{ValuePtr(new LongValue(7)), ValuePtr(new LongValue(8))};
    InterObjRep* second = args->bind(&converted);
    EXPECT_EQ(getLong(second, "n"), 7);
    EXPECT_EQ(getText(second, "s"), "8");
    second->destroy();
    args->destroy();
}

TEST_F(Objects, AProcedureWithoutParametersBindsACallWithoutAnArgumentList) {
    InterObj args(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
    args->checkBindings(nullptr);
    InterObjRep* frame = args->bind(nullptr);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isWorkerObj());
    frame->destroy();
    // With a parameter, no list is too few arguments.
    args->addField(InterDataField::make("n", IDT_LONG, 1));
    EXPECT_THROW(args->checkBindings(nullptr), TooFewArguments);
    EXPECT_THROW(args->bind(nullptr), TooFewArguments);
    args->destroy();
}

TEST_F(Objects, AnUnloadFailureNamesItsModuleObjectOnlyWhileTheObjectLives) {
    InterObjRep* module = named("Module1");
    ModuleUnloadFailed failure(32682, module);
    std::unique_ptr<StoreException> copy(failure.Clone());
    EXPECT_EQ(failure.module(), module);
    InterObj held;
    failure.args()->at(0)->get(held);
    EXPECT_EQ(held.get(), module);
    held = nullptr;

    module->Destroy();
    InterObjRep::DeleteObjects();
    InterObj later(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
    const StoreException* both[] = {&failure, copy.get()};
    for (const StoreException* e : both) {
        EXPECT_EQ(static_cast<const ModuleUnloadFailed*>(e)->module(), nullptr);
        std::unique_ptr<ValueList> args = e->args();
        ASSERT_EQ(args->length(), 1);
        args->at(0)->get(held);
        EXPECT_EQ(held.get(), nullptr);
    }
    later->Destroy();
}

TEST_F(Objects, AbstractingPutsANewNamedPrototypeAboveTheObject) {
    InterObj form(named("Form1"));
    addData(form.get(), "A", IDT_LONG);
    InterObj leaf(InterObjRep::NewNamed("Leaf", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(leaf.get(), "B", IDT_LONG);
    setLong(leaf.get(), "B", 4);
    InterObjRep* mid = leaf->Abstract("Between");
    EXPECT_STREQ(mid->name(), "Between");
    EXPECT_TRUE(mid->isProto());
    EXPECT_EQ(leaf->rootObj(0), mid);
    EXPECT_EQ(leaf->signature()->parent(), mid->signature());
    EXPECT_EQ(mid->signature()->parent(), form->signature());
    EXPECT_EQ(getLong(leaf.get(), "B"), 4);
}

TEST_F(Objects, AnObjectMovesIntoAModuleWithItsStringsAndName) {
    InterObj form(named("Mover"));
    addData(form.get(), "Text", IDT_STRING);
    setText(form.get(), "Text", "travels");
    const tModuleIndex m = openModule();
    form->AttachToModule(m);
    EXPECT_EQ(form->moduleIndex(), m);
    EXPECT_EQ(form->signature()->moduleIndex(), m);
    EXPECT_EQ(getText(form.get(), "Text"), "travels");
    EXPECT_EQ(ObjectStore::StaticCount(m), 1);
    EXPECT_EQ(ObjectStore::StaticCount(DETACHED_MODULE), 0);
    form->Destroy();
}

TEST_F(Objects, SpecialisingAPrototypesEmbedTakesTheHostsClonesEmbedsAlong) {
    InterObj button(named("Button"));
    InterObj form(named("Form1"));
    form->addField(new EmbedObjField("Ok", "Button"));
    InterObj copy(InterObjRep::NewNamed("Form2", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    InterObj mine, theirs;
    ASSERT_TRUE(ObjectStore::find("Form1.Ok", mine));
    ASSERT_TRUE(ObjectStore::findEmbed(copy.get(), "Ok", theirs));
    addData(mine.get(), "Default", IDT_SHORT);
    EXPECT_TRUE(mine->isProto());
    EXPECT_EQ(mine->signature()->parent(), button->signature());
    EXPECT_EQ(theirs->signature(), mine->signature());
    EXPECT_STREQ(form->findField("Ok")->typeName(), "Form1.Ok");
    std::string decl;
    form->findField("Ok")->declarationText(decl, form.get());
    EXPECT_EQ(decl, "Type Ok From Button");
    // The copy's embed is inherited: it may not be specialised on its own.
    try {
        addData(theirs.get(), "Own", IDT_SHORT);
        ADD_FAILURE();
    } catch (const AccessDenied& e) {
        EXPECT_STREQ(e.what(), "Inherited embedded objects are not allowed to be specialized.");
    }
    EXPECT_TRUE(theirs->isClone());
}

TEST_F(Objects, ANewPrototypeTakesTheOldOnesPlaceAtTheEndOfTheList) {
    InterObj form(named("Form1"));
    addData(form.get(), "N", IDT_LONG);
    setLong(form.get(), "N", 12);
    InterObj clone(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_ORDINARY));
    InterObjRep* fresh = form->signature()->createNewPrototype("Fresh");
    EXPECT_EQ(form->signature()->protoObject(), fresh);
    EXPECT_TRUE(fresh->isProto());
    EXPECT_TRUE(form->isClone());
    EXPECT_EQ(getLong(fresh, "N"), 12);
}

TEST_F(Objects, TheHandlesMakeTheObjectsTheirConstructorsName) {
    openModule();
    PrimInterObj proto("Handled");
    EXPECT_TRUE(proto->isStaticObj());
    EXPECT_EQ(proto->moduleIndex(), ObjectStore::OpenModule());
    InterObj counted(proto.get());
    PrimInterObj copy(counted);
    EXPECT_TRUE(copy->isClone());
    PrimInterObj namedCopy("Handled2", counted);
    EXPECT_STREQ(namedCopy->name(), "Handled2");
    InterObj ofSignature(proto->signatureRef());
    EXPECT_EQ(ofSignature->signature(), proto->signature());
    CountedIndirectInterObj embedded(*proto, InterObj());
    EXPECT_TRUE(embedded->isEmbeddedObj());
    EXPECT_EQ(embedded->host(), proto.get());
    IndirectInterObj indirect(counted.get());
    counted = nullptr;
    proto->Destroy();
    EXPECT_TRUE(indirect.isNull());
}

}  // namespace
}  // namespace tq
