// The name space of static objects: validating and renaming names, dotted
// paths and aliases, and the Preload members of a module's preload objects.
#include <string>
#include <string_view>
#include <vector>

#include "store/errors/extexcep.h"
#include "store/eventdef.h"
#include "store/member.h"
#include "store/methfld.h"
#include "store/vals.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

using Names = ModuleStoreTest;

template <class E, class F>
std::string TextOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

TEST_F(Names, ANewNameMustBeAnIdentifierNotYetUsedInItsModule) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    InterObj form(named("Form1", a));
    EXPECT_EQ(TextOf<InvalidObjectName>([&] { ObjectStore::ValidateNewStaticGlobal("1st", a); }),
              "1st is not a valid name.");
    EXPECT_THROW(ObjectStore::ValidateNewStaticGlobal("Form1", a), DuplicateName);
    EXPECT_NO_THROW(ObjectStore::ValidateNewStaticGlobal("Form1", b)) << "the test is the module's own";
    EXPECT_NO_THROW(ObjectStore::ValidateNewStaticGlobal("form1", a)) << "names are case-sensitive";
}

// Names are cut to 31 characters when they are made, so names equal in
// their first 31 are one name: the full text a name was made with finds it.
TEST_F(Names, ANameMadeLongerThan31CharactersIsFoundByTheTextItWasMadeWith) {
    const std::string text = "AVeryLongFormNameThatGoesOnPastThirtyOne";
    const std::string cut = text.substr(0, 31);
    const tModuleIndex a = load(file("a.qbo"));
    InterObj form(named(text.c_str(), a));
    EXPECT_EQ(std::string(form->name()), cut);
    EXPECT_EQ(found(text.c_str()), form.get());
    EXPECT_EQ(found(cut.c_str()), form.get());
    EXPECT_TRUE(ObjectStore::contains(text.c_str()));
    EXPECT_THROW(ObjectStore::ValidateNewStaticGlobal((cut + "Else").c_str(), a), DuplicateName);
    form->addEventDef(new EventDef((text + "Clicked").c_str(), 0, "()", 1));
    SignatureRep* owner = nullptr;
    EXPECT_NE(form->signature()->findEventDef((text + "Clicked").c_str(), owner), nullptr);
    ObjectStore::Rename(text.c_str(), "Dialog");
    EXPECT_EQ(found("Dialog"), form.get());
    EXPECT_EQ(ObjectStore::StaticCount(a), 1);
}

// The names a module's file gave and the names made since are kept apart
// (the file's in one sorted array): finding, refusing a taken name,
// walking, removing and making a name again must not depend on which part
// holds it, and the next file holds them all in dictionary order.
TEST_F(Names, NamesFromTheFileAndNamesMadeSinceAreOneNameSpace) {
    const std::string path = file("a.qbo");
    {
        const tModuleIndex m = load(path);
        for (const char* name : {"B", "D", "F"}) InterObj(named(name, m));
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        ObjectStore::UnloadModule(m);
    }
    const std::vector<std::string> all = {"A", "B", "C", "D", "E", "F", "G"};
    auto names = [](tModuleIndex m) {
        std::vector<std::string> walked, keyed;
        ObjectStore::StaticObjectsIterator it(m);
        while (StaticGlobals::Entry* e = it()) walked.emplace_back(static_cast<const char*>(e->name));
        ObjectStore::Dictionary(m).forEachKeyed([&](std::string_view key, StaticGlobals::Entry&) { keyed.emplace_back(key); });
        EXPECT_EQ(walked, keyed);
        return walked;
    };
    const tModuleIndex m = load(path, 0);
    for (const char* name : {"G", "A", "C"}) InterObj(named(name, m));
    ObjectStore::Rename("D", "E");
    EXPECT_EQ(found("D"), nullptr) << "a name of the file, removed";
    ASSERT_NE(found("E"), nullptr);
    EXPECT_STREQ(found("E")->name(), "E");
    EXPECT_THROW(ObjectStore::ValidateNewStaticGlobal("B", m), DuplicateName) << "a name of the file";
    EXPECT_THROW(ObjectStore::ValidateNewStaticGlobal("C", m), DuplicateName) << "a name made since";
    InterObj d(named("D", m));
    EXPECT_EQ(found("D"), d.get()) << "the removed name, made again";
    EXPECT_EQ(ObjectStore::StaticCount(m), 7);
    EXPECT_EQ(names(m), all);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);

    const tModuleIndex again = load(path, 0);
    EXPECT_EQ(names(again), all);
    for (const std::string& name : all) {
        InterObjRep* o = found(name.c_str());
        ASSERT_NE(o, nullptr) << name;
        EXPECT_STREQ(o->name(), name.c_str());
    }
}

TEST_F(Names, RenamingRefusesUnknownInvalidAndTakenNamesAndChangesNothing) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    InterObj form(named("Form1", a));
    InterObj other(named("Other", b));
    Events().clear();
    EXPECT_EQ(TextOf<NotFound>([] { ObjectStore::Rename("Nobody", "Somebody"); }),
              "Identifier 'Nobody' was not found");
    EXPECT_EQ(TextOf<InvalidFieldName>([] { ObjectStore::Rename("Form1", "two words"); }),
              "two words is not a valid name.");
    EXPECT_THROW(ObjectStore::Rename("Form1", "Other"), DuplicateName) << "a name of another module is taken too";
    EXPECT_THROW(ObjectStore::Rename("Form1", "Form1"), DuplicateName);
    EXPECT_EQ(found("Form1"), form.get());
    EXPECT_STREQ(form->name(), "Form1");
    EXPECT_EQ(ObjectStore::StaticCount(a), 1);
    EXPECT_TRUE(Events().empty()) << "the host hears of no refused rename";
}

TEST_F(Names, ARenamedObjectIsFoundOnlyByItsNewNameAndTheHostIsTold) {
    const tModuleIndex a = load(file("a.qbo"));
    InterObj form(named("Form1", a));
    Events().clear();
    ObjectStore::Rename("Form1", "Dialog");
    EXPECT_EQ(found("Form1"), nullptr);
    EXPECT_EQ(found("Dialog"), form.get());
    EXPECT_EQ(ObjectStore::StaticCount(a), 1);
    EXPECT_EQ(Events(), std::vector<std::string>{"renamed Dialog"});
    EXPECT_NO_THROW(ObjectStore::ValidateNewStaticGlobal("Form1", a)) << "the old name is free again";
    InterObj again(named("Form1", a));
    EXPECT_EQ(found("Form1"), again.get());
}

TEST_F(Names, PathsFollowEmbedsFromANameOrAnAliasAndAnythingElseIsNotFound) {
    const tModuleIndex m = load(file("paths.qbo"));
    InterObj button(named("Button", m));
    addData(button.get(), "Caption", IDT_STRING);
    InterObj form(named("Form1", m));
    form->addField(new EmbedObjField("Ok", "Button"));
    InterObj clone(InterObjRep::NewCopy(*form, m, IOT_DYNAMIC));
    const std::string alias = clone->alias();
    ASSERT_TRUE(InterObjRep::isAlias(alias.c_str()));

    EXPECT_EQ(found(alias.c_str()), clone.get());
    InterObj viaAlias, viaEmbed;
    ASSERT_TRUE(ObjectStore::find((alias + ".Ok").c_str(), viaAlias));
    ASSERT_TRUE(ObjectStore::findEmbed(clone.get(), "Ok", viaEmbed));
    EXPECT_EQ(viaAlias.get(), viaEmbed.get());
    EXPECT_NE(viaAlias.get(), found("Form1.Ok")) << "the clone's embed is its own";
    EXPECT_TRUE(ObjectStore::contains(alias.c_str()));

    EXPECT_EQ(found(""), nullptr);
    EXPECT_EQ(found("Form1.Missing"), nullptr);
    EXPECT_EQ(found("Button.Caption"), nullptr) << "a data field is no step of a path";
    EXPECT_EQ(found("Form1.Ok.Caption"), nullptr);
    EXPECT_EQ(found("Nobody.Ok"), nullptr);
    const size_t at = alias.find('@');
    const std::string stale = alias.substr(0, at + 4) + "0fffff" + alias.substr(at + 10);
    EXPECT_EQ(found(stale.c_str()), nullptr) << "an alias of a description that does not exist";
    EXPECT_FALSE(ObjectStore::contains(stale.c_str()));
    clone->Destroy();
}

// A Preload method that notes the object it ran for.
class NotingMember : public Member {
public:
    explicit NotingMember(InterObjRep& o) : object_(o) {}
    tMemberKind memberKind() const override { return MEMBER_PROCEDURE; }
    IdType type() const override { return IDT_VOID; }
    ValuePtr virtualMemberEval(const ValueList*) override {
        Events().push_back(std::string("Preload ") + (object_.name() ? object_.name() : "?"));
        return ValuePtr();
    }

private:
    InterObjRep& object_;
};

struct PreloadMethod : MethodField {
    PreloadMethod() : MethodField("Preload") {}
    Field* clone() const override { return new PreloadMethod(*this); }
    void write(OCLStream&) const override {}
    MemberPtr getMember(InterObjRep& obj, SignatureRep&) override { return MemberPtr(new NotingMember(obj)); }
};

TEST_F(Names, PreloadsRunInListOrderOnlyForTheirModuleAndNotForObjectsThatWent) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    InterObj first(named("First", a));
    first->addField(new PreloadMethod);
    InterObj second(named("Second", a));
    second->addField(new PreloadMethod);
    InterObj gone(named("Gone", a));
    gone->addField(new PreloadMethod);
    InterObj elsewhere(named("Elsewhere", b));
    elsewhere->addField(new PreloadMethod);
    ObjectStore::RemovePreload(first.get());
    ObjectStore::RemovePreload(second.get());
    ObjectStore::RequestPreload(second.get());
    ObjectStore::RequestPreload(first.get());
    ObjectStore::RequestPreload(first.get());
    gone->Destroy();
    gone = nullptr;
    Events().clear();
    ObjectStore::NotifyPreloads(a);
    EXPECT_EQ(Events(), (std::vector<std::string>{"Preload Second", "Preload First"}));
    Events().clear();
    ObjectStore::NotifyPreloads(b);
    EXPECT_EQ(Events(), std::vector<std::string>{"Preload Elsewhere"});
}

}  // namespace
}  // namespace tq::test
