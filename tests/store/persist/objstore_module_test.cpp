// Modules among themselves: unloading and the current module, the lock
// states, modules in use by others, dependencies, collecting objects, the
// iterators, and names of objects in messages.
#include <algorithm>
#include <cstdio>

#include "platform/com/classreg.h"
#include "store/errors/extexcep.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

using Modules = ModuleStoreTest;

std::vector<std::string> Names(GroupObjectList& group) {
    std::vector<std::string> out;
    for (size_t i = 0; i < group.length(); ++i) out.push_back(group[i]->name() ? group[i]->name() : "?");
    return out;
}

TEST_F(Modules, UnloadingTheCurrentModuleMakesTheNextHigherOneCurrentOrNone) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    const tModuleIndex c = load(file("c.qbo"));
    ObjectStore::OpenModule(b);
    ObjectStore::UnloadModule(b);
    EXPECT_EQ(ObjectStore::OpenModule(), c);
    ObjectStore::UnloadModule(c);
    EXPECT_EQ(ObjectStore::OpenModule(), DETACHED_MODULE) << "a lower module does not take over";
    EXPECT_TRUE(ObjectStore::ValidIndex(a));
    try {
        ObjectStore::OpenModule(b);
        ADD_FAILURE() << "an unused slot became current";
    } catch (const AccessDenied& e) {
        EXPECT_STREQ(e.what(), "Invalid module index.");
    }
    EXPECT_EQ(ObjectStore::OpenModule(), DETACHED_MODULE);
    EXPECT_EQ(ObjectStore::NextIndex(), b) << "the lowest free slot is taken next";
    EXPECT_EQ(load(file("d.qbo")), b);
}

// The loaded modules in index order, as every walk over them sees them.
std::vector<tModuleIndex> Walk() {
    std::vector<tModuleIndex> seen;
    for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
         m = ObjectStore::NextValidIndex(m))
        seen.push_back(m);
    return seen;
}

TEST_F(Modules, AWalkOverTheModulesSeesEveryLoadedOneWhateverSlotsWereFreed) {
    EXPECT_EQ(Walk(), std::vector<tModuleIndex>{});
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    const tModuleIndex c = load(file("c.qbo"));
    EXPECT_EQ(Walk(), (std::vector<tModuleIndex>{a, b, c}));
    ObjectStore::UnloadModule(b);
    EXPECT_EQ(Walk(), (std::vector<tModuleIndex>{a, c})) << "a hole below the highest";
    ObjectStore::UnloadModule(c);
    EXPECT_EQ(Walk(), std::vector<tModuleIndex>{a}) << "the highest gone, and the hole below it";
    const tModuleIndex d = load(file("d.qbo"));
    const tModuleIndex e = load(file("e.qbo"));
    EXPECT_EQ(d, b);
    EXPECT_EQ(Walk(), (std::vector<tModuleIndex>{a, d, e}));
    ObjectStore::UnloadModule(a);
    ObjectStore::UnloadModule(d);
    EXPECT_EQ(Walk(), std::vector<tModuleIndex>{e}) << "only the highest left";
    ObjectStore::UnloadModule(e);
    EXPECT_EQ(Walk(), std::vector<tModuleIndex>{});
    EXPECT_EQ(load(file("f.qbo")), a);
    EXPECT_EQ(Walk(), std::vector<tModuleIndex>{a});
}

TEST_F(Modules, UnloadingRunsInLockStateTwoAndReturnsToNormal) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    Events().clear();
    const tModuleIndex both[] = {a, b, 77, NO_MODULE};
    ObjectStore::UnloadModules(both);
    const std::string sa = std::to_string(a), sb = std::to_string(b);
    EXPECT_EQ(Events(), (std::vector<std::string>{"unloading " + sa + " lock 0", "unloading " + sb + " lock 0",
                                                  "delete " + sa + " lock 2", "delete " + sb + " lock 2"}));
    EXPECT_EQ(ObjectStore::LockState(), LOCK_NORMAL);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

TEST_F(Modules, AModuleWhoseSignaturesHaveObjectsElsewhereStaysLoaded) {
    const tModuleIndex lib = load(file("lib.qbo"));
    const tModuleIndex app = load(file("app.qbo"));
    InterObj base(named("Base", lib));
    addData(base.get(), "N", IDT_LONG);
    InterObj copy(InterObjRep::NewCopy(*base, app, IOT_ORDINARY));
    EXPECT_TRUE(ObjectStore::ModuleDependsOn(app, lib));
    EXPECT_FALSE(ObjectStore::ModuleDependsOn(lib, app));
    EXPECT_FALSE(ObjectStore::ModuleDependsOn(app, app));
    try {
        ObjectStore::UnloadModule(lib);
        ADD_FAILURE();
    } catch (const ModuleUnloadFailed& e) {
        EXPECT_STREQ(e.what(), "Module is in use and cannot be unloaded.");
        EXPECT_STREQ(e.name(), "ModuleUnloadFailed");
    }
    EXPECT_TRUE(ObjectStore::ValidIndex(lib));
    EXPECT_EQ(getLong(copy.get(), "N"), 0);
    base = nullptr;
    copy = nullptr;
    const tModuleIndex both[] = {lib, app, NO_MODULE};
    ObjectStore::UnloadModules(both);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

TEST_F(Modules, StaticObjectsComeInReverseDictionaryOrderOrAfterWhatTheyDependOn) {
    const tModuleIndex m = load(file("deps.qbo"));
    InterObj zeta(named("Zeta", m));
    InterObj alpha(named("Alpha", m));
    InterObj beta(named("Beta", m, zeta.get()));
    GroupObjectList unsorted;
    EXPECT_EQ(ObjectStore::GetStaticObjects(m, unsorted, 0), 3);
    EXPECT_EQ(Names(unsorted), (std::vector<std::string>{"Zeta", "Beta", "Alpha"}));
    GroupObjectList sorted;
    EXPECT_EQ(ObjectStore::GetStaticObjects(m, sorted, 1), 3);
    EXPECT_EQ(Names(sorted), (std::vector<std::string>{"Alpha", "Zeta", "Beta"}));

    InterObj dyn(InterObjRep::NewCopy(*alpha, m, IOT_DYNAMIC));
    GroupObjectList dynamics;
    EXPECT_EQ(ObjectStore::GetDynamicObjects(m, dynamics), 1);
    EXPECT_EQ(dynamics[0].get(), dyn.get());
    GroupObjectList protos;
    ObjectStore::GetPrototypeObjects(m, protos);
    std::vector<std::string> names = Names(protos);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Zeta"})) << "Beta is a clone of Zeta";
}

TEST_F(Modules, AChainOfDependenciesAgainstTheDictionaryOrderComesOutAncestorsFirst) {
    const tModuleIndex m = load(file("chain.qbo"));
    constexpr int kLength = 120;
    // Each object is a specialised copy of the one before; the names run the
    // other way, so the dictionary lists the deepest first.
    std::vector<InterObj> chain;
    for (int i = kLength; i-- > 0;) {
        char name[16];
        std::snprintf(name, sizeof name, "N%03d", i);
        chain.emplace_back(named(name, m, chain.empty() ? nullptr : chain.back().get()));
        chain.back()->addField(InterDataField::make(name, IDT_LONG, 1));
    }
    GroupObjectList sorted;
    EXPECT_EQ(ObjectStore::GetStaticObjects(m, sorted, 1), kLength);
    for (size_t i = 0; i < sorted.length(); ++i) EXPECT_EQ(sorted[i].get(), chain[i].get()) << i;
}

TEST_F(Modules, IteratorsWalkTheDetachedModuleThenEveryModuleInIndexOrder) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    InterObj inB(named("InB", b));
    InterObj inA2(named("Second", a));
    InterObj inA1(named("First", a));
    InterObj detached(named("Loose", DETACHED_MODULE));
    std::vector<std::string> seen;
    ObjectStore::StaticObjectsIterator all;
    while (StaticGlobals::Entry* e = all()) seen.push_back(static_cast<const char*>(e->name));
    EXPECT_EQ(seen, (std::vector<std::string>{"Loose", "First", "Second", "InB"}));
    seen.clear();
    ObjectStore::StaticObjectsIterator onlyA(a);
    while (StaticGlobals::Entry* e = onlyA()) {
        seen.push_back(static_cast<const char*>(e->name));
        // An entry removed during the walk is simply not met again.
        if (seen.size() == 1) ObjectStore::removeStaticGlobal(*inA2, a);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"First"}));
    ObjectStore::addStaticGlobal(*inA2, a);

    InterObj d1(InterObjRep::NewCopy(*inB, b, IOT_DYNAMIC));
    InterObj d0(InterObjRep::NewCopy(*detached, DETACHED_MODULE, IOT_DYNAMIC));
    std::vector<InterObjRep*> dynamics;
    ObjectStore::DynamicObjectsIterator walk;
    while (Faultp<InterObjRep>* r = walk()) dynamics.push_back(r->get());
    EXPECT_EQ(dynamics, (std::vector<InterObjRep*>{d0.get(), d1.get()}));
    d0->Destroy();
}

TEST_F(Modules, AnObjectIsNamedInMessagesByItsAliasCutAt80) {
    EXPECT_STREQ(StoreException::ObjectName(nullptr), "Nothing");
    const tModuleIndex m = load(file("names.qbo"));
    const std::string longName(31, 'F');
    const std::string field(31, 'E');
    InterObj inner(named("Inner", m));
    inner->addField(new EmbedObjField((field + "2").substr(0, 31).c_str(), nullptr));
    InterObj form(named(longName.c_str(), m));
    EXPECT_STREQ(StoreException::ObjectName(form.get()), longName.c_str());
    form->addField(new EmbedObjField(field.c_str(), "Inner"));
    InterObj embed;
    ASSERT_TRUE(ObjectStore::findEmbed(form.get(), field.c_str(), embed));
    InterObj deeper;
    ASSERT_TRUE(ObjectStore::findEmbed(embed.get(), (field + "2").substr(0, 31).c_str(), deeper));
    const std::string alias = deeper->alias();
    ASSERT_GT(alias.size(), 80u);
    EXPECT_EQ(std::string(StoreException::ObjectName(deeper.get())), alias.substr(0, 80));
}

TEST_F(Modules, ThePublishedLibrariesOfAModuleAreThoseThatDefinedItsClasses) {
    ObjectStore::PublishObjectDLL(TQ_TEST_PODLIB);
    const tModuleIndex m = load(file("plugin.qbo"));
    ValStringRep out("unchanged");
    ObjectStore::GetPublishedObjectDLLList(m, out);
    EXPECT_EQ(out.text(), "unchanged") << "no class, no list";
    InterObj a(InterObjRep::NewNamed("PluginA", nullptr, m, IOT_ORDINARY, "TessaroTest.Plugin"));
    InterObj b(InterObjRep::NewNamed("PluginB", nullptr, m, IOT_ORDINARY, "TessaroTest.Plugin"));
    InterObj plain(named("Plain", m));
    ObjectStore::GetPublishedObjectDLLList(m, out);
    EXPECT_EQ(out.text(), ClassRegistry::FindByProgId("TessaroTest.Plugin")->library);
}

}  // namespace
}  // namespace tq::test
