// Signatures: collision rules, failures that change nothing, events, class
// ids, preloads and destruction.
#include <cstring>
#include <vector>

#include "platform/com/classreg.h"
#include "store/errors/extexcep.h"
#include "store/methfld.h"
#include "store/model/objiter.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

// A method field without a body: enough for the rules that every method
// follows.
struct TestMethod : MethodField {
    explicit TestMethod(const char* n) : MethodField(n) {}
    Field* clone() const override { return new TestMethod(*this); }
    void write(OCLStream&) const override {}
};

struct TestProperty : InterProcDataField {
    TestProperty(const char* n, IdType t) : InterProcDataField(n, "SetIt", "GetIt"), t(t) {}
    Field* clone() const override { return new TestProperty(*this); }
    IdType type() const override { return t; }
    void write(OCLStream&) const override {}
    IdType t;
};

// What an object and its signature chain look like, to compare before and
// after an operation that must fail.
struct Snapshot {
    explicit Snapshot(InterObjRep* o) {
        for (SignatureRep* s = o->signature(); s; s = s->parent()) {
            sizes.push_back(s->iDataSize());
            fieldCounts.push_back(s->fields().length());
            eventCounts.push_back(s->events().length());
            objectCounts.push_back(s->objects().length());
            childCounts.push_back(s->children().length());
        }
        signature = o->signature();
        clone = o->isClone();
        data.assign(o->data(), o->data() + o->dataSize());
    }
    bool operator==(const Snapshot&) const = default;
    std::vector<uint32_t> sizes;
    std::vector<size_t> fieldCounts, eventCounts, objectCounts, childCounts;
    SignatureRep* signature = nullptr;
    bool clone = false;
    std::vector<uint8_t> data;
};

using Signatures = ModelTest;

TEST_F(Signatures, AnInheritedDataFieldMayBeOverriddenOnlyByAPropertyOfItsType) {
    InterObj base(named("Base"));
    addData(base.get(), "X", IDT_SHORT);
    InterObj child(InterObjRep::NewNamed("Child", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(child.get(), "Own", IDT_LONG);
    const Snapshot before(child.get());
    EXPECT_THROW(child->addField(dataField("X", IDT_SHORT)), MatchingFieldCollision);
    EXPECT_THROW(child->addField(dataField("X", IDT_STRING)), CollisionOnParent);
    EXPECT_THROW(child->addField(new TestMethod("X")), MethodDataCollision);
    EXPECT_TRUE(before == Snapshot(child.get()));
    EXPECT_NO_THROW(child->addField(new TestProperty("X", IDT_SHORT)));
    EXPECT_THROW(child->addField(dataField("Own", IDT_STRING)), CollisionOnSelf);
    EXPECT_THROW(child->addField(dataField("Own", IDT_LONG)), MatchingFieldCollision);
}

TEST_F(Signatures, AMethodOverridesAnInheritedOneButNotItsOwn) {
    InterObj base(named("Base"));
    base->addField(new TestMethod("Run"));
    InterObj child(InterObjRep::NewNamed("Child", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_NO_THROW(child->addField(new TestMethod("Run")));
    EXPECT_FALSE(child->isClone());
    EXPECT_THROW(child->addField(new TestMethod("Run")), CollisionOnSelf);
    EXPECT_THROW(child->addField(dataField("Run", IDT_LONG)), DataMethodCollision);
    try {
        child->addField(new TestMethod("Run"));
    } catch (const CollisionOnSelf& e) {
        EXPECT_STREQ(e.what(), "Field is defined on this object");
    }
}

TEST_F(Signatures, RemovingNeedsAnOwnFieldAndSaysWhatIsWrong) {
    InterObj base(named("Base"));
    addData(base.get(), "X", IDT_LONG);
    InterObj child(InterObjRep::NewNamed("Child", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(child.get(), "Y", IDT_LONG);
    EXPECT_THROW(child->signature()->removeField("X"), CollisionOnParent);
    try {
        child->signature()->removeField("Nope");
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_STREQ(e.what(), "Field 'Nope' does not exist.");
    }
    EXPECT_EQ(child->signature()->fields().length(), 1u);
}

TEST_F(Signatures, AProtectedFieldIsRefusedToOutsideLookupsOfItsOwnSignatureOnly) {
    InterObj base(named("Base"));
    InterDataField* secret = dataField("Secret", IDT_LONG);
    secret->setFlags(Field::kProtected);
    base->addField(secret);
    SignatureRep* owner = nullptr;
    EXPECT_EQ(base->signature()->findField("Secret", owner, 0), secret);
    try {
        base->signature()->findField("Secret", owner, SignatureRep::kProtectionFlag);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Protection violation");
    }
    InterObj child(InterObjRep::NewNamed("Child", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(child.get(), "Other", IDT_LONG);
    EXPECT_EQ(child->signature()->findField("Secret", owner, SignatureRep::kProtectionFlag), secret);
    EXPECT_EQ(owner, base->signature());
}

TEST_F(Signatures, EventDefinitionsFollowTheCollisionRulesOfFields) {
    InterObj base(named("Base"));
    base->addEventDef(new EventDef("Click", 0, "()", 1));
    InterObj child(InterObjRep::NewNamed("Child", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_THROW(child->addEventDef(new EventDef("Click", 0, "()", 1)), CollisionOnParent);
    // The failed addition was undone: the child is a clone again.
    EXPECT_TRUE(child->isClone());
    EXPECT_EQ(child->signature(), base->signature());
    child->addEventDef(new EventDef("Moved", 0, "(x As Long)", 1));
    EXPECT_THROW(child->addEventDef(new EventDef("Moved", 0, "()", 1)), CollisionOnSelf);
    EXPECT_THROW(child->removeEventDef("Click"), CollisionOnParent);
    try {
        child->removeEventDef("Gone");
        ADD_FAILURE();
    } catch (const NotFound& e) {
        EXPECT_STREQ(e.what(), "Event 'Gone' does not exist.");
    }
    EXPECT_EQ(child->getLocalEventCount(), 2);
    EXPECT_EQ(child->getExtEventList(), "Moved\nClick\nAttach\nConstruct\nDestruct\nPreload\nTextUnload\n");
    unsigned char isFunction = 0;
    int found = 0;
    EXPECT_STREQ(child->getExtEventProto("TextUnload", isFunction, found),
                 "(ByVal indent As String, cmds As String)");
    EXPECT_EQ(isFunction, 1);
    EXPECT_EQ(found, 1);
    child->forciblyRemoveEventDef("Click");
    EXPECT_EQ(child->findEventDef("Click"), nullptr);
    EXPECT_NE(base->findEventDef("Click"), nullptr);
}

TEST_F(Signatures, ClassIdsComeFromTheRegistryAndPassToChildren) {
    InterObj o(named("Widget"));
    SignatureRep* s = o->signature();
    try {
        s->defineGuid("No.Such.Class");
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Unable to find given GUID in registry");
    }
    EXPECT_FALSE(s->isGuidHolder());
    const CLSID id = *GUID::Parse("{0E0B9C1A-1234-4A5B-8C6D-0123456789AB}");
    ClassRegistry::Register("Tessaro.TestWidget", id, nullptr);
    s->defineGuid("Tessaro.TestWidget");
    ASSERT_TRUE(s->isGuidHolder());
    EXPECT_EQ(*s->classId(), id);
    EXPECT_STREQ(s->getDefiningDLL(), "");
    Signature child = s->makeChild(DETACHED_MODULE);
    EXPECT_TRUE(child->isGuidHolder());
    Signature grandchild(NoParentSig, DETACHED_MODULE);
    grandchild->setParent(child.get());
    EXPECT_EQ(grandchild->guidSrc(), child.get());
    ClassRegistry::Unregister(id);
    EXPECT_THROW(s->getDefiningDLL(), OleException);
    grandchild->setParent(nullptr);
    child->setParent(nullptr);
}

TEST_F(Signatures, APreloadMethodAsksThePreloadOfEveryObjectOfAModule) {
    openModule();
    InterObj form(named("Form1"));
    InterObj copy(InterObjRep::NewCopy(*form, ObjectStore::OpenModule(), IOT_ORDINARY));
    EXPECT_FALSE(ObjectStore::IsPreload(form.get()));
    form->addField(new TestMethod("Preload"));
    EXPECT_TRUE(form->signature()->hasPreloadHandler());
    EXPECT_TRUE(ObjectStore::IsPreload(form.get()));
    EXPECT_TRUE(ObjectStore::IsPreload(copy.get()));
    InterObj later(InterObjRep::NewCopy(*form, ObjectStore::OpenModule(), IOT_ORDINARY));
    EXPECT_TRUE(ObjectStore::IsPreload(later.get()));
    form->removeField("Preload");
    EXPECT_FALSE(ObjectStore::IsPreload(form.get()));
    EXPECT_FALSE(ObjectStore::IsPreload(later.get()));
}

TEST_F(Signatures, DestroyingAPrototypeDestroysItsClonesChildrenAndSignature) {
    const size_t signatures = SignatureRep::LiveCount();
    InterObj proto(named("Proto"));
    addData(proto.get(), "S", IDT_STRING);
    InterObj c1(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    InterObj c2(InterObjRep::NewNamed("Named2", proto.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(c2.get(), "T", IDT_LONG);  // c2 heads a child signature
    InterObj c3(InterObjRep::NewCopy(*c2, DETACHED_MODULE, IOT_ORDINARY));
    setText(c1.get(), "S", "text");
    EXPECT_EQ(SignatureRep::LiveCount(), signatures + 2);
    proto->Destroy();
    for (InterObjRep* o : {proto.get(), c1.get(), c2.get(), c3.get()}) {
        EXPECT_TRUE(o->isDestroyed());
        EXPECT_EQ(o->signature(), nullptr);
    }
    EXPECT_TRUE(c1.isNull());
    InterObj found;
    EXPECT_FALSE(ObjectStore::findStatic("Named2", found));
    EXPECT_EQ(SignatureRep::LiveCount(), signatures);
    EXPECT_GE(InterObjRep::AwaitingDeletion(), 4u);
}

TEST_F(Signatures, TheChildrenOfAPrototypeAreItsClonesThenTheChildPrototypes) {
    InterObj proto(named("Root"));
    InterObj a(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    InterObj b(InterObjRep::NewNamed("Sub1", proto.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(b.get(), "Z", IDT_LONG);
    InterObj c(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    std::vector<InterObjRep*> seen;
    InterObjChildIterator children(proto.get(), 0);
    while (InterObjRep* o = children()) seen.push_back(o);
    EXPECT_EQ(seen, (std::vector<InterObjRep*>{c.get(), a.get(), b.get()}));
    EXPECT_EQ(proto->numChildren(), 3);
    EXPECT_TRUE(proto->hasChild(a.get()));
    EXPECT_FALSE(a->hasChild(proto.get()));
    EXPECT_EQ(proto->signature()->protoObject(), proto.get());
}

}  // namespace
}  // namespace tq
