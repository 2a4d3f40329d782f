#include "store/persist/idstr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "store/errors/extexcep.h"
#include "tests/store/persist/persisttest.h"
#include "tests/support/asserts.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using test::TestModule;
using test::U32;

class IdStringModule : public ::testing::Test {
protected:
    ScratchDir dir;
    TestModule mod{dir.file("names.qbo")};
    tModuleIndex m = mod.m;
};

TEST_F(IdStringModule, NamesDifferingOnlyInCaseAreTwoEntries) {
    IdString upper("Name", m);
    IdString lower("name", m);
    EXPECT_NE(upper.descriptor(), lower.descriptor());
    EXPECT_FALSE(upper == lower);
    EXPECT_STREQ(static_cast<const char*>(lower), "name");
}

TEST_F(IdStringModule, LongTextIsCutTo31CharactersAndInternsToTheSameEntry) {
    const std::string forty(40, 'x');
    IdString a(forty.c_str(), m);
    EXPECT_EQ(std::strlen(a), 31u);
    IdString b((std::string(31, 'x') + "different tail").c_str(), m);
    EXPECT_EQ(a.descriptor(), b.descriptor());
    EXPECT_EQ(a->refCount(), 2);
}

TEST_F(IdStringModule, ReleasingEveryReferenceFreesTheSlotForTheNextName) {
    uint32_t slot;
    {
        IdString a("Counter", m);
        IdString b("Counter", m);
        EXPECT_EQ(a.get(), b.get());
        EXPECT_EQ(a->refCount(), 2);
        slot = a.descriptor().descIndex();
    }
    EXPECT_EQ(IdString::Find("Counter", m), ID_NOT_FOUND);
    IdString c("Another", m);
    EXPECT_EQ(c.descriptor().descIndex(), slot);
    EXPECT_EQ(IdString::CheckModule(m), "");
}

TEST_F(IdStringModule, FreshSlotsComeOutInAscendingOrder) {
    std::vector<IdString> names;
    names.reserve(40);
    for (int i = 0; i < 40; ++i) names.emplace_back(("n" + std::to_string(i)).c_str(), m);
    for (uint32_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i].descriptor().descIndex(), i);
}

TEST(IdStringDetached, ANameReleasedToZeroKeepsItsEntry) {
    { IdString("KeptForever", DETACHED_MODULE); }
    const int32_t index = IdString::Find("KeptForever", DETACHED_MODULE);
    ASSERT_NE(index, ID_NOT_FOUND);
    IdString again("KeptForever", DETACHED_MODULE);
    EXPECT_EQ(again.descriptor(), tDescriptor::Make(DETACHED_MODULE, uint32_t(index)));
    EXPECT_EQ(again->refCount(), 1);
}

TEST(IdStringDetached, ReleasingADetachedNameBelowZeroIsAnAssertion) {
    ScopedThrowingAsserts asserts;
    IdString name("Underflow", DETACHED_MODULE);
    IdStringRep* rep = name.get();
    rep->deref();
    EXPECT_ASSERTION(rep->deref(), "refCount() > 0");
    rep->ref();
}

TEST(IdStringHash, IsFiveTimesPlusSignedCharOverAtMost31Characters) {
    EXPECT_EQ(IdString::Hash(""), 0u);
    EXPECT_EQ(IdString::Hash("AB"), 65u * 5 + 66);
    EXPECT_EQ(IdString::Hash("\xE9"), uint32_t(-23));
    const std::string longer = std::string(31, 'q');
    EXPECT_EQ(IdString::Hash(longer.c_str()), IdString::Hash((longer + "tail").c_str()));
    ScopedThrowingAsserts asserts;
    EXPECT_ASSERTION(IdString().hash(), "(const char*)id");
}

TEST(IdStringEquality, NullsAreEqualAndTextsCompareCaseSensitively) {
    EXPECT_TRUE(IdString() == IdString());
    EXPECT_FALSE(IdString() == IdString("x", DETACHED_MODULE));
    EXPECT_TRUE(IdString("Same", DETACHED_MODULE) == IdString("Same", DETACHED_MODULE));
    EXPECT_TRUE(IdString("Same", DETACHED_MODULE) != IdString("same", DETACHED_MODULE));
}

// The dictionary's removal shifts entries back; a wrong shift loses keys
// that collide or cluster, which only many names in a shuffled order show.
TEST_F(IdStringModule, ManyNamesSurviveInterningAndReleaseInAnyOrder) {
    std::vector<std::unique_ptr<IdString>> names;
    for (int i = 0; i < 5000; ++i)
        names.push_back(std::make_unique<IdString>(("field" + std::to_string(i)).c_str(), m));
    std::mt19937 rng(7);
    std::shuffle(names.begin(), names.end(), rng);
    names.resize(names.size() / 2);
    ASSERT_EQ(IdString::CheckModule(m), "");
    for (const auto& n : names) {
        EXPECT_EQ(IdString::Find(*n, m), int32_t(n->descriptor().descIndex()));
        EXPECT_EQ((*n)->refCount(), 1);
    }
}

TEST_F(IdStringModule, WritingAForeignNameInternsItIntoTheModuleBeingWritten) {
    ScratchDir other;
    TestModule source(other.file("source.qbo"));
    IdString foreign("Shared", source.m);
    OCLStream s(mod.storage(), "Scratch", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    {
        ObjectStore::WritingScope writing(m);
        foreign.write(s);
    }
    const int32_t index = IdString::Find("Shared", m);
    ASSERT_NE(index, ID_NOT_FOUND);
    IdString local(tDescriptor::Make(m, uint32_t(index)));
    EXPECT_EQ(local->refCount(), 1) << "one count for the written reference";
    EXPECT_EQ(foreign->refCount(), 1);

    s.seek(0);
    IdString back;
    back.read(s, m);
    EXPECT_EQ(back.descriptor(), tDescriptor::Make(m, uint32_t(index)));
}

TEST_F(IdStringModule, AttachMovesTheReferenceToTheOtherModulesEntry) {
    IdString name("Moving", DETACHED_MODULE);
    IdStringRep* detachedRep = name.get();
    name.attach(m);
    EXPECT_EQ(name.moduleIndex(), m);
    EXPECT_EQ(name->refCount(), 1);
    EXPECT_EQ(detachedRep->refCount(), 0);
}

TEST_F(IdStringModule, AttachToTheNamesOwnModuleKeepsItsEntryAndCount) {
    for (const tModuleIndex home : {tModuleIndex(DETACHED_MODULE), m}) {
        IdString name("Staying", home);
        const IdString other("Staying", home);
        IdStringRep* rep = name.get();
        ASSERT_EQ(rep->refCount(), 2) << int(home);
        name.attach(home);
        EXPECT_EQ(name.get(), rep) << int(home);
        EXPECT_EQ(name.moduleIndex(), home);
        EXPECT_EQ(rep->refCount(), 2) << int(home);
    }
}

TEST_F(IdStringModule, EmptyStreamOpensAsAnEmptyTable) {
    EXPECT_EQ(IdString::TableCount(m), 0u);
    EXPECT_EQ(IdString::CheckModule(m), "");
}

TEST(IdDynamicVector, FindsOver31CharactersAndAppendsWhatIsNew) {
    IdDynamicVector names;
    EXPECT_EQ(names.stringIndex("alpha"), 0);
    EXPECT_EQ(names.stringIndex("beta"), 1);
    EXPECT_EQ(names.stringIndex("alpha"), 0);
    const std::string longName = std::string(31, 'z');
    EXPECT_EQ(names.stringIndex((longName + "1").c_str()), 2);
    EXPECT_EQ(names.stringIndex((longName + "2").c_str()), 2);
    EXPECT_STREQ(names[2], longName.c_str());
}

TEST(IdDynamicVector, RefusesMoreNamesThanA16BitPositionHolds) {
    IdDynamicVector names;
    for (int i = 0; i < 32768; ++i) names.stringIndex(std::to_string(i).c_str());
    EXPECT_EQ(names.stringIndex("0"), 0);
    EXPECT_THROW(names.stringIndex("one too many"), StoreException);
}

TEST_F(IdStringModule, VectorInternsTheBuildListAndEmptiesIt) {
    IdDynamicVector build;
    build.stringIndex("x");
    build.stringIndex("y");
    IdStringVector names(build, m);
    EXPECT_EQ(build.count(), 0u);
    ASSERT_EQ(names.count(), 2u);
    EXPECT_EQ(names.findString("y"), 1);
    EXPECT_EQ(names.findString("z"), -1);
    EXPECT_EQ(names[0].moduleIndex(), m);

    const tModuleIndex previous = ObjectStore::OpenModule(DETACHED_MODULE);
    IdStringVector copy(names);
    ObjectStore::OpenModule(previous);
    EXPECT_EQ(copy[1].moduleIndex(), DETACHED_MODULE);
    EXPECT_TRUE(copy[1] == names[1]);
}

TEST_F(IdStringModule, VectorRecordRoundTripsAndChecksItsRevision) {
    IdDynamicVector build;
    build.stringIndex("first");
    build.stringIndex("second");
    IdStringVector names(build, m);
    OCLStream s(mod.storage(), "Vector", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    {
        ObjectStore::WritingScope writing(m);
        names.write(s);
    }
    EXPECT_EQ(s.size(), 8u + 2 * 5);
    s.seek(0);
    IdStringVector back;
    back.read(s, m);
    ASSERT_EQ(back.count(), 2u);
    // Following the read references would release counts the stored table
    // never had; the descriptors are what must match.
    EXPECT_TRUE(back[1].isDescriptor());
    EXPECT_EQ(back[1].descriptor(), names[1].descriptor());
    EXPECT_STREQ(IdStringRep::fault(back[0].descriptor())->text(), "first");

    s.seek(0);
    s.writeU32(2);
    s.seek(0);
    IdStringVector wrong;
    try {
        wrong.read(s, m);
        FAIL() << "revision 2 was accepted";
    } catch (const ModuleOpenFailed& e) {
        EXPECT_STREQ(e.what(), "Unable to open module: ID strings revision error");
    }
}

// ---- records from files -----------------------------------------------------

std::string Entry(uint16_t count, uint8_t flags, const std::string& text) {
    std::string e = U32(0xDEADBEEF) + test::U16(count) + char(flags) + char(9);
    std::string t = text;
    t.resize(32, '\0');
    return e + t;
}

std::string FreeEntry(uint32_t next, uint32_t run) {
    return std::string(6, '\0') + std::string(2, '\0') + U32(next) + U32(run) + std::string(24, '\0');
}

void ExpectOpenFails(const std::string& image, const char* fragment) {
    ScratchDir dir;
    const std::string path = dir.file("bad.qbo");
    test::WriteStreamFile(path, "IdStrings", image);
    try {
        TestModule mod(path, 0);
        ADD_FAILURE() << "opened: " << fragment;
    } catch (const ModuleOpenFailed& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
}

TEST(IdStringsStream, BadTablesRaiseModuleOpenFailed) {
    ExpectOpenFails(U32(3) + U32(kNoMoreFree) + Entry(1, 1, "a"), "entry count runs past");
    ExpectOpenFails(U32(1) + U32(5) + Entry(1, 1, "a"), "free-list head lies outside");
    ExpectOpenFails(U32(2) + U32(0) + FreeEntry(1, 0) + FreeEntry(0, 0), "free list names an entry twice");
    // A run whose last entry leads back into it: the walk ends, but entry 1
    // would be handed out twice.
    ExpectOpenFails(U32(4) + U32(0) + FreeEntry(9, 1) + FreeEntry(1, 1) + FreeEntry(kNoMoreFree, 0) +
                        FreeEntry(kNoMoreFree, 0),
                    "free list names an entry twice");
    ExpectOpenFails(U32(1) + U32(kNoMoreFree) + Entry(1, 1, std::string(32, 'n')),
                    "entry 0 has no terminating NUL");
    ExpectOpenFails(U32(2) + U32(kNoMoreFree) + Entry(1, 1, "twin") + Entry(1, 1, "twin"),
                    "entry 1 repeats the name \"twin\"");
    // A name damaged to nothing: whatever it named could not be found by it.
    ExpectOpenFails(U32(2) + U32(kNoMoreFree) + Entry(1, 1, "Shape") + Entry(1, 1, ""),
                    "entry 1 is in use but its name is empty");
    ExpectOpenFails(U32(1), "IdStrings");
}

TEST(IdStringsStream, StoredHandleWordsAndModuleBytesAreIgnored) {
    ScratchDir dir;
    const std::string path = dir.file("ok.qbo");
    test::WriteStreamFile(path, "IdStrings",
                          U32(3) + U32(1) + Entry(2, 1, "kept") + FreeEntry(0, 1) +
                              FreeEntry(kNoMoreFree, 0));
    TestModule mod(path, 0);
    EXPECT_EQ(IdString::CheckModule(mod.m), "");
    IdString kept(tDescriptor::Make(mod.m, 0));
    EXPECT_STREQ(kept, "kept");
    EXPECT_EQ(kept->refCount(), 2);
    EXPECT_EQ(IdString("new", mod.m).descriptor().descIndex(), 1u);
}

TEST(IdStringsStream, AReferenceToAFreeOrMissingEntryRaisesObjectLoadFailed) {
    ScratchDir dir;
    const std::string path = dir.file("ok.qbo");
    test::WriteStreamFile(path, "IdStrings", U32(2) + U32(1) + Entry(1, 1, "a") + FreeEntry(kNoMoreFree, 0));
    TestModule mod(path, 0);
    EXPECT_THROW(IdString(tDescriptor::Make(mod.m, 1)).get(), ObjectLoadFailed);
    EXPECT_THROW(IdString(tDescriptor::Make(mod.m, 7)).get(), ObjectLoadFailed);
    EXPECT_TRUE(IdString(tDescriptor::Make(mod.m, 7)).isNull());
}

TEST(IdStringsStream, StoredReferencesNamingNoModuleRaiseObjectLoadFailed) {
    ScratchDir dir;
    TestModule mod(dir.file("refs.qbo"));
    OCLStream s(mod.storage(), "Refs", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.writeU8(6);
    s.writeU32(tDescriptor::Make(DETACHED_MODULE, 0).raw());
    s.writeU8(0x46);
    s.writeU32(tDescriptor::Make(0, 0).raw());
    s.writeU8(2);
    s.writeU32(0);
    for (int i = 0; i < 3; ++i) {
        s.seek(5 * i);
        IdString name;
        EXPECT_THROW(name.read(s, mod.m), ObjectLoadFailed) << "reference " << i;
    }
}

// Counts written with the table are the counts read back, and descriptors
// written by one process name the same texts in another.
TEST(IdStringsStream, TableRoundTripsThroughAFreshProcess) {
    if (IsFreshProcess()) {
        TestModule mod(FreshProcessArg("TQ_NAMES_FILE"), 0);
        const tModuleIndex m = mod.m;
        ASSERT_EQ(IdString::CheckModule(m), "");
        EXPECT_EQ(IdString::TableCount(m), 32u);
        IdString kept(tDescriptor::Make(m, 2));
        EXPECT_STREQ(kept, "Kept");
        EXPECT_EQ(kept->refCount(), 3);
        // Following a stored reference takes over the count its record
        // holds, so the other names are looked at without one.
        EXPECT_STREQ(IdStringRep::fault(tDescriptor::Make(m, 0))->text(), "First");
        EXPECT_EQ(IdStringRep::fault(tDescriptor::Make(m, 0))->refCount(), 1);
        EXPECT_EQ(IdString::Find("Dropped", m), ID_NOT_FOUND);
        EXPECT_EQ(IdString("Next", m).descriptor().descIndex(), 1u) << "freed slot is reused first";
        return;
    }
    ScratchDir dir;
    const std::string path = dir.file("names.qbo");
    {
        TestModule mod(path);
        IdString first("First", mod.m);
        auto dropped = std::make_unique<IdString>("Dropped", mod.m);
        IdString kept("Kept", mod.m);
        dropped.reset();
        kept->ref();
        kept->ref();
        mod.save();
        kept->deref();
        kept->deref();
    }
    EXPECT_EQ(RunInFreshProcess({{"TQ_NAMES_FILE", path}}), 0);
}

// A save after reopening writes back the head and the entries that changed,
// not the table; every kind of change (a count raised, an entry freed, a
// freed slot taken by a new name) still reaches the file, and the free list
// with it.
TEST(IdStringsStream, ASaveAfterReopeningWritesOnlyTheChangedEntries) {
    constexpr uint32_t kNames = 200;
    ScratchDir dir;
    const std::string path = dir.file("names.qbo");
    {
        TestModule mod(path);
        std::vector<IdString> names;
        for (uint32_t i = 0; i < kNames; ++i) names.emplace_back(("Name" + std::to_string(i)).c_str(), mod.m);
        for (IdString& n : names) n->ref();  // a stored record's count
        mod.save();
        for (IdString& n : names) n->deref();
    }
    {
        TestModule mod(path, 0);
        const tModuleIndex m = mod.m;
        IdStringRep* raised = IdStringRep::fault(tDescriptor::Make(m, 5));
        raised->ref();
        IdStringRep* dropped = IdStringRep::fault(tDescriptor::Make(m, 9));
        dropped->deref();
        dropped->deref();
        ASSERT_EQ(IdString::Find("Name9", m), ID_NOT_FOUND);
        IdString fresh("Fresh", m);
        ASSERT_EQ(fresh.descriptor().descIndex(), 9u) << "the freed slot is taken first";
        fresh->ref();
        const uint64_t before = mod.storage().bytesWrittenToStreams();
        mod.save();
        const uint64_t written = mod.storage().bytesWrittenToStreams() - before;
        EXPECT_LT(written, kNames * sizeof(IdStringRep) / 4) << "the table of names went out whole";
        EXPECT_GT(written, 0u);
    }
    TestModule mod(path, 0);
    const tModuleIndex m = mod.m;
    ASSERT_EQ(IdString::CheckModule(m), "");
    EXPECT_EQ(IdStringRep::fault(tDescriptor::Make(m, 5))->refCount(), 3);
    EXPECT_EQ(IdString::Find("Name9", m), ID_NOT_FOUND);
    EXPECT_EQ(IdString::Find("Fresh", m), 9);
    EXPECT_EQ(IdStringRep::fault(tDescriptor::Make(m, 9))->refCount(), 2);
    for (uint32_t i : {0u, 8u, 10u, kNames - 1}) {
        IdStringRep* e = IdStringRep::fault(tDescriptor::Make(m, i));
        EXPECT_STREQ(e->text(), ("Name" + std::to_string(i)).c_str());
        EXPECT_EQ(e->refCount(), 2) << i;
    }
    EXPECT_EQ(IdString("Later", m).descriptor().descIndex(), kNames) << "the free list reached the file";
}

}  // namespace
}  // namespace tq
