// Event definitions and raising: the definition record, the handler look-up,
// the order in which an embedded object and its host handle an event, and
// the states in which nothing is raised.
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/errors/extexcep.h"
#include "store/eventdef.h"
#include "store/methfld.h"
#include "store/storeapp.h"
#include "store/vals.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

struct Call {
    std::string handler;
    InterObjRep* obj;
    int32_t args;
    bool objectDestroyed;  // the object's state when the handler ran
};

std::vector<Call> calls;

// What a method does when it runs: it records the call, may throw or
// destroy its object, and answers with a Long or with nothing.
struct Behaviour {
    bool returns = false;
    int32_t result = 0;
    bool throws = false;
    bool destroysObject = false;
};

class HandlerCall final : public Member {
public:
    HandlerCall(std::string name, InterObjRep& obj, Behaviour b) : name_(std::move(name)), obj_(&obj), b_(b) {}
    tMemberKind memberKind() const override { return b_.returns ? MEMBER_FUNCTION : MEMBER_PROCEDURE; }
    IdType type() const override { return IDT_LONG; }
    ValuePtr virtualMemberEval(const ValueList* args) override {
        calls.push_back({name_, obj_, args ? args->length() : 0, obj_->isDestroyed()});
        if (b_.throws) throw StoreException("handler failed", nullptr);
        if (b_.destroysObject) obj_->Destroy();
        return b_.returns ? ValuePtr(new LongValue(b_.result)) : ValuePtr();
    }

private:
    std::string name_;
    InterObjRep* obj_;
    Behaviour b_;
};

// A method whose body is a Behaviour: it goes through the same
// member-evaluation path as an interpreted one.
struct HandlerMethod : MethodField {
    HandlerMethod(const char* n, Behaviour b) : MethodField(n), b(b) {}
    Field* clone() const override { return new HandlerMethod(*this); }
    void write(OCLStream&) const override {}
    MemberPtr getMember(InterObjRep& obj, SignatureRep&) override {
        return MemberPtr(new HandlerCall(name(), obj, b));
    }
    Behaviour b;
};

Behaviour Returning(int32_t v) { return {true, v, false, false}; }

class RecordingApp : public StoreApplication {
public:
    int handled = 0;
    int handleException(StoreException&) override {
        ++handled;
        return 1;
    }
    void appQuit() override {}
    ObjectStore* makeStore(OCLStorage*) override { return nullptr; }
};

class Events : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        calls.clear();
    }
    // Form1 embeds a Button as Button1.
    void makeForm() {
        button_ = named("Button");
        form_ = named("Form1");
        form_->addField(new EmbedObjField("Button1", "Button"));
        ASSERT_TRUE(ObjectStore::find("Form1.Button1", embedded_));
    }
    InterObj button_, form_, embedded_;
};

TEST_F(Events, AnEmbeddedObjectRunsItsOwnHandlerThenTheHostsAndTheHostsResultWins) {
    makeForm();
    button_->addField(new HandlerMethod("Click", Returning(1)));
    form_->addField(new HandlerMethod("Button1_Click", Returning(2)));
    ValueList args{ValuePtr(new LongValue(7))};
    ValuePtr result;
    embedded_->evalIEvent_Return("Click", &args, result, 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].handler, "Click");
    EXPECT_EQ(calls[0].obj, embedded_.get());
    EXPECT_EQ(calls[1].handler, "Button1_Click");
    EXPECT_EQ(calls[1].obj, form_.get());
    EXPECT_EQ(calls[1].args, 1);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->as<int32_t>(), 2);

    // Without a host handler the object's own value is the result.
    form_->removeField("Button1_Click");
    embedded_->evalIEvent_Return("Click", &args, result, 0);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->as<int32_t>(), 1);
}

TEST_F(Events, TheHandlerLookUpAsksTheHostFirstAndTakesOnlyCode) {
    makeForm();
    InterObjRep* handlerObject = nullptr;
    EXPECT_EQ(embedded_->findEventHandler("Click", handlerObject), nullptr);
    EXPECT_EQ(handlerObject, nullptr);
    // A data field of the event's name handles nothing.
    addData(button_.get(), "Click", IDT_LONG);
    EXPECT_EQ(embedded_->findEventHandler("Click", handlerObject), nullptr);
    button_->removeField("Click");
    button_->addField(new HandlerMethod("Click", {}));
    Field* own = embedded_->findEventHandler("Click", handlerObject);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(handlerObject, embedded_.get());
    form_->addField(new HandlerMethod("Button1_Click", {}));
    Field* hosts = embedded_->findEventHandler("Click", handlerObject);
    ASSERT_NE(hosts, nullptr);
    EXPECT_STREQ(hosts->name(), "Button1_Click");
    EXPECT_EQ(handlerObject, form_.get());
}

TEST_F(Events, NothingIsRaisedOnAnObjectBeingDestroyedOrWhileTheStoreIsLocked) {
    makeForm();
    button_->addField(new HandlerMethod("Click", Returning(1)));
    form_->addField(new HandlerMethod("Button1_Click", Returning(2)));
    ValuePtr result(new LongValue(99));
    ObjectStore::setLockState(LOCK_UNLOADING);
    embedded_->evalIEvent_Return("Click", nullptr, result, 1);
    ObjectStore::setLockState(LOCK_NORMAL);
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(result);

    // The object's own handler destroys it: the host hears nothing.
    button_->removeField("Click");
    Behaviour destroying;
    destroying.destroysObject = true;
    button_->addField(new HandlerMethod("Click", destroying));
    InterObjRep* raw = embedded_.get();
    embedded_ = nullptr;
    raw->evalIEvent_Return("Click", nullptr, result, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "Click");
    EXPECT_TRUE(raw->isDestroyStarted());
    raw->evalIEvent_Return("Click", nullptr, result, 0);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_FALSE(result);
}

TEST_F(Events, DestructRunsOnceWhileTheObjectIsStillWholeHoweverItGoes) {
    InterObj thing(named("Thing"));
    addData(thing.get(), "Text", IDT_STRING);
    setText(thing.get(), "Text", "still here");
    // The handler destroys its object again: that must not run it twice.
    Behaviour destroying;
    destroying.destroysObject = true;
    thing->addField(new HandlerMethod("Destruct", destroying));

    // A dynamic clone goes with its last release.
    InterObj clone(InterObjRep::NewCopy(*thing, DETACHED_MODULE, IOT_DYNAMIC));
    InterObjRep* rawClone = clone.get();
    clone = nullptr;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "Destruct");
    EXPECT_EQ(calls[0].obj, rawClone);
    EXPECT_FALSE(calls[0].objectDestroyed);
    EXPECT_TRUE(rawClone->isDestroyed());

    // A prototype destroys itself and its signature.
    InterObjRep* raw = thing.get();
    raw->Destroy();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].obj, raw);
    EXPECT_FALSE(calls[1].objectDestroyed);
    EXPECT_TRUE(raw->isDestroyed());
}

TEST_F(Events, AnEmbeddedObjectsDestructReachesItsHostButNeverTheHostsOwnHandler) {
    makeForm();
    button_->addField(new HandlerMethod("Destruct", {}));
    form_->addField(new HandlerMethod("Button1_Destruct", {}));
    InterObjRep* embedded = embedded_.get();
    embedded_ = nullptr;
    embedded->Destroy();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].handler, "Destruct");
    EXPECT_EQ(calls[0].obj, embedded);
    EXPECT_EQ(calls[1].handler, "Button1_Destruct");
    EXPECT_EQ(calls[1].obj, form_.get());
    EXPECT_EQ(form_->findField("Button1"), nullptr);

    // The host's own Destruct is the host's: an embedded object that no
    // longer finds its field in the host does not run it.
    calls.clear();
    form_->addField(new EmbedObjField("Button2", "Button"));
    form_->addField(new HandlerMethod("Destruct", {}));
    form_->removeField("Button2");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].obj, form_.get());
}

TEST_F(Events, AFailingDestructGoesToTheApplicationAndTheObjectStillGoes) {
    InterObj thing(named("Thing"));
    Behaviour failing;
    failing.throws = true;
    thing->addField(new HandlerMethod("Destruct", failing));
    RecordingApp app;
    InterObjRep* raw = thing.get();
    EXPECT_NO_THROW(raw->Destroy());
    EXPECT_EQ(app.handled, 1);
    EXPECT_TRUE(raw->isDestroyed());
    EXPECT_EQ(ObjectStore::StaticCount(DETACHED_MODULE), 0);
}

TEST_F(Events, AnEventThatMustExistHasToBeDefinedInTheChain) {
    InterObj base(named("Base"));
    InterObj child(InterObjRep::NewNamed("Child", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    try {
        child->evalIEvent("Changed", nullptr, 1);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Event 'Changed' has not been registered.");
    }
    base->addEventDef(new EventDef("Changed", 0, "()", 1));
    // Defined but handled by nobody: raising it is no failure.
    EXPECT_NO_THROW(child->evalIEvent("Changed", nullptr, 1));
    child->addField(new HandlerMethod("Changed", {}));
    child->evalIEvent("Changed", nullptr, 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].obj, child.get());
}

TEST_F(Events, AFailingHandlerGoesToTheApplicationWhenRaisedWithoutThrowing) {
    InterObj obj(named("Thing"));
    Behaviour failing;
    failing.throws = true;
    obj->addField(new HandlerMethod("Ping", failing));
    EXPECT_THROW(obj->evalIEvent("Ping", nullptr, 0), StoreException);
    RecordingApp app;
    EXPECT_NO_THROW(obj->evalIEvent_NoThrow("Ping", nullptr, 0));
    EXPECT_EQ(app.handled, 1);
}

// Definition records written into a stream of a module and read back.
class EventRecords : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        m_ = openModule();
        stream_ = std::make_unique<OCLStream>(modules_.back()->storage(), "Events", 1,
                                              STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    }
    void TearDown() override {
        stream_.reset();
        ModelTest::TearDown();
    }
    std::vector<uint8_t> bytes() {
        std::vector<uint8_t> b(stream_->size());
        stream_->seek(0);
        stream_->read(b.data(), b.size());
        return b;
    }
    tModuleIndex m_ = DETACHED_MODULE;
    std::unique_ptr<OCLStream> stream_;
};

TEST_F(EventRecords, ASignaturesWriteableDefinitionsReadBackAfterTheirRecordsAndAZero) {
    InterObj form(named("Form1"));
    form->addEventDef(new EventDef("Click", 0, "()", 1));
    form->addEventDef(new EventDef("Query", 1, "(src As Object)", 1));
    form->addEventDef(new EventDef("Internal", 0, "()", 0));
    {
        ObjectStore::WritingScope writing(m_);
        form->signature()->write(*stream_);
    }
    const std::vector<uint8_t> b = bytes();
    // The record ends with the definitions: flags, name, returns, text,
    // twice, then the terminating 0 byte.
    const size_t click = 1 + 5 + 1 + 4 + 2;
    const size_t query = 1 + 5 + 1 + 4 + 15;
    ASSERT_GE(b.size(), click + query + 1);
    const size_t at = b.size() - 1 - query - click;
    EXPECT_EQ(b[at], 0x01);
    EXPECT_EQ(b[at + 6], 0);
    EXPECT_EQ(LoadLE32(&b[at + 7]), 2u);
    EXPECT_EQ(b[at + click], 0x01);
    EXPECT_EQ(b[at + click + 6], 1);
    EXPECT_EQ(b.back(), 0);

    stream_->seek(static_cast<uint32_t>(at));
    std::unique_ptr<EventDef, void (*)(EventDef*)> first(EventDef::makeFrom(*stream_, m_),
                                                          [](EventDef* e) { delete e; });
    std::unique_ptr<EventDef, void (*)(EventDef*)> second(EventDef::makeFrom(*stream_, m_),
                                                           [](EventDef* e) { delete e; });
    ASSERT_TRUE(first && second);
    EXPECT_EQ(EventDef::makeFrom(*stream_, m_), nullptr);
    EXPECT_STREQ(first->name(), "Click");
    EXPECT_EQ(first->args(), "()");
    EXPECT_EQ(first->returnsValue(), 0);
    EXPECT_STREQ(second->name(), "Query");
    EXPECT_EQ(second->args(), "(src As Object)");
    EXPECT_EQ(second->returnsValue(), 1);
    EXPECT_TRUE(second->isWriteable());
}

TEST_F(EventRecords, ARecordWhoseNameReferenceIsBrokenFailsTheLoad) {
    stream_->writeU8(0x01);
    stream_->writeReference(0x06, tDescriptor::Make(m_, 0x3FFF00).raw());
    stream_->writeU8(0);
    stream_->writeString("()");
    stream_->seek(0);
    try {
        EventDef::makeFrom(*stream_, m_);
        ADD_FAILURE();
    } catch (const ObjectLoadFailed& e) {
        EXPECT_NE(std::string(e.what()).find("event's name"), std::string::npos) << e.what();
    }
}

TEST_F(EventRecords, AListKeepsTheFirstDefinitionOfAName) {
    EventDefPtrList list;
    EventDef* a = new EventDef("Click", 0, "()", 1);
    EventDef* b = new EventDef("Click", 1, "(x As Long)", 1);
    a->ref();
    b->ref();
    EXPECT_TRUE(list.append(a));
    EXPECT_FALSE(list.append(b));
    EXPECT_FALSE(list.prepend(b));
    EXPECT_EQ(list.length(), 1u);
    EXPECT_EQ(list.pvalue("Click"), a);
    EXPECT_EQ(list.pvalue("click"), nullptr);
    a->deref();
    b->deref();
}

}  // namespace
}  // namespace tq
