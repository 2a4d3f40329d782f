// Description tables exercised through a kind of the tests' own: a chain
// link whose reader faults the next link of the same kind in the middle of
// its record, as object readers may.
#include "store/persist/desctab.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/util/lebytes.h"
#include "store/cntedobj.h"
#include "store/errors/extexcep.h"
#include "store/persist/desciter.h"
#include "tests/store/persist/persisttest.h"
#include "tests/support/asserts.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using test::TestModule;
using test::U32;

constexpr uint32_t kNone = 0xFFFFFFFF;

// Record: next link index (kNone for none), marker, payload string.
class Chain : public CountedObject, public DescribedObject<Chain> {
public:
    static constexpr const char* storageName = "Chains";
    static constexpr uint32_t storageVersion = 1;
    static inline int reads = 0;
    static inline int alive = 0;
    static inline int failWrites = 0;

    explicit Chain(uint32_t marker, std::string payload = {}, uint32_t next = kNone)
        : next(next), marker(marker), payload(std::move(payload)) {
        ++alive;
    }
    ~Chain() override { --alive; }

    static Chain* readFromStream(OCLStream& s, uint32_t, tModuleIndex m, uint32_t index) {
        ++reads;
        const uint32_t next = s.readU32();
        Chain* link = next == kNone ? nullptr
                                    : DescribedObjectNoDescriptor<Chain>::fault(tDescriptor::Make(m, next));
        const uint32_t marker = s.readU32();
        auto* c = new Chain(marker, s.readString(), next);
        c->link = link;
        c->desc_ = tDescriptor::Make(m, index);
        return c;
    }
    void write(OCLStream& s) const {
        if (failWrites > 0) {
            --failWrites;
            throw StorageError("write refused");
        }
        s.writeU32(next);
        s.writeU32(marker);
        s.writeString(payload);
    }
    void deref() {
        if (dropCount() && isDetached()) delete this;
    }

    uint32_t next;
    uint32_t marker;
    std::string payload;
    Chain* link = nullptr;
};

using Chains = DescribedObjectNoDescriptor<Chain>;

class ChainModule {
public:
    explicit ChainModule(const std::string& path, int create = 1) : mod(path, create), m(mod.m) {
        Chains::newModule(m, mod.storage());
    }
    ~ChainModule() { close(); }

    // Enters a new link in the module; the table owns it from then on.
    Chain* add(uint32_t marker, std::string payload = {}, uint32_t next = kNone) {
        auto* c = new Chain(marker, std::move(payload), next);
        c->attach(m);
        return c;
    }
    void save() {
        {
            ObjectStore::WritingScope writing(m);
            Chains::writeModule(m);
        }
        mod.save();
    }
    DescriptionTable<Chain>& table() { return *Chains::descriptionTable(m); }
    Chain* fault(uint32_t index) { return Chains::fault(tDescriptor::Make(m, index)); }
    void close() {
        if (closed_) return;
        closed_ = true;
        Chains::delModule(m);
        mod.close();
    }

    TestModule mod;
    tModuleIndex m;

private:
    bool closed_ = false;
};

class DescriptionTableTest : public ::testing::Test {
protected:
    void SetUp() override { Chain::reads = 0; }
    void TearDown() override { EXPECT_EQ(Chain::alive, 0) << "every link freed"; }
    ScratchDir dir;
    std::string path = dir.file("chains.qbo");

    // A new module of n links "link0", "link1", ..., saved.
    void makeLinks(uint32_t n) {
        ChainModule mod(path);
        for (uint32_t i = 0; i < n; ++i) mod.add(i, "link" + std::to_string(i));
        mod.save();
    }
};

TEST_F(DescriptionTableTest, NestedFaultLeavesTheStreamWhereTheOuterReaderExpectsIt) {
    {
        ChainModule mod(path);
        mod.add(10, "a", 1);
        mod.add(11, "bb", 2);
        mod.add(12, "ccc");
        mod.save();
    }
    ChainModule mod(path, 0);
    Chain* a = mod.fault(0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Chain::reads, 3);
    EXPECT_EQ(a->marker, 10u);
    EXPECT_EQ(a->payload, "a");
    ASSERT_NE(a->link, nullptr);
    EXPECT_EQ(a->link->marker, 11u);
    EXPECT_EQ(a->link->link->payload, "ccc");
    EXPECT_EQ(mod.fault(2), a->link->link) << "faulted once, kept";
    EXPECT_EQ(DescriptionTable<Chain>::faultDepth, 0);
}

TEST_F(DescriptionTableTest, ARecordThatLeadsBackToItselfRaisesObjectLoadFailed) {
    {
        ChainModule mod(path);
        mod.add(1, "", 1);
        mod.add(2, "", 0);
        mod.add(3);
        mod.save();
    }
    ChainModule mod(path, 0);
    try {
        mod.fault(0);
        FAIL() << "a loop of records was read";
    } catch (const ObjectLoadFailed& e) {
        EXPECT_NE(std::string(e.what()).find("Chains entry 0"), std::string::npos) << e.what();
    }
    EXPECT_EQ(DescriptionTable<Chain>::faultDepth, 0);
    EXPECT_FALSE(Chains::hasFaulted(tDescriptor::Make(mod.m, 0)));
    EXPECT_EQ(mod.fault(2)->marker, 3u) << "the table is still usable";
}

// A spoilt record that many links lead to is read once: without that, a
// corrupt file whose every record leads to one spoilt record costs reads in
// proportion to the square of its size.
TEST_F(DescriptionTableTest, ARecordThatFailedToReadFailsAgainWithoutBeingRead) {
    {
        ChainModule mod(path);
        mod.add(1, "", 2);
        mod.add(2, "", 2);
        mod.add(3, "payload");
        mod.save();
    }
    {
        // Link 2's string runs past the end of its record and the stream.
        OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        OCLStream s(storage, "Chains", 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.seek(4);
        const uint32_t array = s.readU32();
        s.seek(array + 8 + 2 * 13 + 5);
        const uint32_t offset = s.readU32();
        s.seek(offset + 8);
        s.writeU32(0x7FFFFFFF);
        storage.Commit();
    }
    ChainModule mod(path, 0);
    Chain::reads = 0;
    EXPECT_THROW(mod.fault(0), ObjectLoadFailed);
    const int reads = Chain::reads;
    EXPECT_EQ(reads, 2);
    try {
        mod.fault(1);
        FAIL() << "a spoilt record was read";
    } catch (const ObjectLoadFailed& e) {
        EXPECT_STREQ(e.what(), "Unable to load object: Chains entry 2: the record cannot be read");
    }
    EXPECT_THROW(mod.fault(2), ObjectLoadFailed);
    EXPECT_EQ(Chain::reads, reads + 1) << "only link 1 was read again";
}

// Handle ids of things in memory, and the flags kept in memory only, are
// no part of the file: the array a save writes holds neither.
TEST_F(DescriptionTableTest, TheArrayWrittenHoldsNoHandleIdsOfLoadedThings) {
    ChainModule mod(path);
    for (uint32_t i = 0; i < 5; ++i) mod.add(i);
    mod.save();
    ASSERT_TRUE(Chains::hasFaulted(tDescriptor::Make(mod.m, 3)));
    OCLStream& s = mod.table().stream();
    s.seek(4);
    const uint32_t array = s.readU32();
    s.seek(array);
    const uint32_t count = s.readU32();
    s.readU32();
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t e[13];
        s.read(e, sizeof e);
        EXPECT_EQ(e[0] & ~Description::kStoredFlags, 0) << "entry " << i;
        EXPECT_EQ(LoadLE32(e + 1), 0u) << "entry " << i;
    }
}

TEST_F(DescriptionTableTest, AThingKeptInMemoryAfterDeletionLeavesItsReusedSlotAlone) {
    ChainModule mod(path);
    Chain* old = mod.add(1);
    const tDescriptor oldDesc = old->descriptor();
    // Deleted while it stays in memory, as an object awaiting deletion does.
    Chains::deleted(oldDesc, old->selfId());
    mod.save();
    Chain* fresh = mod.add(2);
    ASSERT_EQ(fresh->descriptor(), oldDesc) << "the freed slot is reused";
    delete old;
    EXPECT_TRUE(Chains::objectExists(fresh->descriptor()));
    EXPECT_EQ(mod.fault(fresh->descriptor().descIndex()), fresh);
}

TEST_F(DescriptionTableTest, NextFaultedReturnsOnlyLoadedThingsAndReadsNothing) {
    {
        ChainModule mod(path);
        for (uint32_t i = 0; i < 5; ++i) mod.add(i);
        mod.save();
    }
    ChainModule mod(path, 0);
    mod.fault(3);
    ASSERT_EQ(Chain::reads, 1);
    DescribedObjectIterator<Chain> loaded(mod.m);
    Chain* only = loaded.nextFaulted();
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(only->marker, 3u);
    EXPECT_EQ(loaded.nextFaulted(), nullptr);
    EXPECT_EQ(Chain::reads, 1);

    DescribedObjectIterator<Chain> all(mod.m);
    int n = 0;
    while (Chain* c = all()) EXPECT_EQ(c->marker, uint32_t(n++));
    EXPECT_EQ(n, 5);
    EXPECT_EQ(Chain::reads, 5);
}

TEST_F(DescriptionTableTest, AllStoresIteratorWalksModulesInAscendingIndex) {
    ChainModule first(path);
    ChainModule second(dir.file("second.qbo"));
    second.add(20);
    first.add(10);
    first.add(11);
    AllStoresDescrObjIterator<Chain> it;
    std::vector<uint32_t> markers;
    while (Chain* c = it()) markers.push_back(c->marker);
    EXPECT_EQ(markers, (std::vector<uint32_t>{10, 11, 20}));
}

TEST_F(DescriptionTableTest, ASaveWritesOnlyTheChangedRecords) {
    ChainModule mod(path);
    mod.add(1, "one");
    Chain* two = mod.add(2, "two");
    mod.add(3, "three");
    mod.save();
    const uint32_t before = mod.table().stream().size();
    const uint32_t offsetOne = mod.table().entry(0).offset();
    const uint32_t offsetTwo = mod.table().entry(1).offset();

    mod.save();
    EXPECT_EQ(mod.table().stream().size(), before) << "nothing changed, nothing written";

    two->payload = "TWO";
    two->changed();
    EXPECT_TRUE(Chains::isDirty(mod.m));
    mod.save();
    const uint32_t recordSize = 4 + 4 + 4 + 3;
    EXPECT_EQ(mod.table().stream().size(), before + recordSize);
    EXPECT_EQ(mod.table().entry(0).offset(), offsetOne);
    EXPECT_NE(mod.table().entry(1).offset(), offsetTwo);
    EXPECT_EQ(mod.table().deadBytes(), recordSize);
    mod.close();

    ChainModule again(path, 0);
    EXPECT_EQ(again.fault(1)->payload, "TWO");
}

// Reopened, a table writes back only the entries of its array that changed:
// a changed record's new place, a deleted thing's freed slot and the slot a
// new thing takes all reach the file, and nothing else of the array is
// written.
TEST_F(DescriptionTableTest, ASaveAfterReopeningWritesOnlyTheChangedEntries) {
    constexpr uint32_t kLinks = 300;
    makeLinks(kLinks);
    {
        ChainModule mod(path, 0);
        Chain* c = mod.fault(150);
        c->payload = "changed";
        c->changed();
        const uint64_t before = mod.mod.storage().bytesWrittenToStreams();
        mod.save();
        const uint64_t written = mod.mod.storage().bytesWrittenToStreams() - before;
        EXPECT_LT(written, kLinks * sizeof(Description) / 4) << "the array went out whole";
        delete mod.fault(7);
        mod.save();
        EXPECT_EQ(mod.add(999, "new")->descriptor().descIndex(), 7u);
        mod.save();
    }
    ChainModule mod(path, 0);
    for (uint32_t i = 0; i < kLinks; ++i) {
        Chain* c = mod.fault(i);
        const std::string payload = i == 150 ? "changed" : i == 7 ? "new" : "link" + std::to_string(i);
        EXPECT_EQ(c->payload, payload) << i;
        EXPECT_EQ(c->marker, i == 7 ? 999u : i) << i;
    }
    EXPECT_EQ(mod.add(1000)->descriptor().descIndex(), kLinks) << "the free list reached the file";
}

TEST_F(DescriptionTableTest, DeadSpaceIsReclaimedSoTheStreamStaysBounded) {
    const std::string big(40000, 'x');
    {
        ChainModule mod(path);
        mod.add(0, "small");
        Chain* c = mod.add(1, big);
        for (int i = 0; i < 12; ++i) {
            c->payload = big + std::to_string(i);
            c->changed();
            mod.save();
            EXPECT_LE(mod.table().stream().size(),
                      2 * (big.size() + 100) + VoidDescriptionTable::kCompactAtDeadBytes + 1000)
                << "save " << i;
        }
    }
    ChainModule mod(path, 0);
    EXPECT_EQ(mod.fault(1)->payload, big + "11");
    EXPECT_EQ(mod.fault(0)->payload, "small");
}

TEST_F(DescriptionTableTest, AFailedWriteLeavesTheRecordToBeWrittenAgain) {
    {
        ChainModule mod(path);
        Chain* c = mod.add(1, "first");
        mod.save();
        c->payload = "second";
        c->changed();
        Chain::failWrites = 1;
        EXPECT_THROW(mod.save(), StorageError);
        mod.save();
    }
    ChainModule mod(path, 0);
    EXPECT_EQ(mod.fault(0)->payload, "second");
}

TEST_F(DescriptionTableTest, ADeletedThingIsGoneAndItsSlotIsReused) {
    ChainModule mod(path);
    mod.add(1);
    Chain* doomed = mod.add(2);
    mod.save();
    const tDescriptor d = doomed->descriptor();
    delete doomed;
    EXPECT_FALSE(Chains::objectExists(d));
    mod.save();
    EXPECT_EQ(mod.add(3)->descriptor(), d);
}

TEST_F(DescriptionTableTest, AttachKeepsTheCurrentModuleAndTheIndexWhenDetaching) {
    ChainModule mod(path);
    Chain* c = mod.add(1);
    const tDescriptor d = c->descriptor();
    c->attach(mod.m);
    EXPECT_EQ(c->descriptor(), d);
    c->attach(DETACHED_MODULE);
    EXPECT_EQ(c->descriptor().descIndex(), d.descIndex());
    EXPECT_TRUE(c->isDetached());
    EXPECT_FALSE(Chains::objectExists(d));
    delete c;
}

TEST_F(DescriptionTableTest, DiscardingAModuleFreesItsLoadedThingsWithOrWithoutReclaim) {
    for (bool skip : {false, true}) {
        {
            ChainModule mod(path);
            for (uint32_t i = 0; i < 3; ++i) mod.add(i);
            mod.save();
        }
        ChainModule mod(path, 0);
        mod.fault(0);
        mod.fault(2);
        EXPECT_EQ(Chain::alive, 2);
        VoidDescriptionTable::SetSkipReclaim(skip);
        mod.close();
        VoidDescriptionTable::SetSkipReclaim(false);
        EXPECT_EQ(Chain::alive, 0) << "skip " << skip;
    }
}

// ---- stored arrays from files ------------------------------------------------

std::string Head(uint32_t revision, uint32_t arrayOffset, uint32_t slot, uint32_t dead = 0) {
    return U32(revision) + U32(arrayOffset) + U32(slot) + U32(dead);
}

std::string UsedDescription(uint32_t offset, uint32_t length) {
    return std::string(1, '\x01') + U32(0x12345678) + U32(offset) + U32(length);
}

// A free entry: the head of a run holds how many free entries follow it, the
// last of a run the index of the next run's head.
std::string FreeDescription(uint32_t next, uint32_t run) {
    return std::string(1, '\0') + U32(0) + U32(next) + U32(run);
}

// While alive, commits write no checksums: files as written before there
// were any, whose tables are read and checked whole at open.
struct OlderFiles {
    OlderFiles() { OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit); }
    ~OlderFiles() { OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute); }
};

void WriteOlderStreamFile(const std::string& path, const std::string& image) {
    OlderFiles older;
    test::WriteStreamFile(path, "Chains", image);
}

void ExpectOpenFails(const std::string& image, const char* fragment) {
    ScratchDir dir;
    const std::string path = dir.file("bad.qbo");
    WriteOlderStreamFile(path, image);
    try {
        ChainModule mod(path, 0);
        ADD_FAILURE() << "opened: " << fragment;
    } catch (const ModuleOpenFailed& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
}

TEST(DescriptionArrays, BadStoredArraysRaiseModuleOpenFailed) {
    ExpectOpenFails("short", "table head is truncated");
    ExpectOpenFails(Head(9, 16, 8) + U32(0) + U32(kNone), "table revision is unknown");
    ExpectOpenFails(Head(1, 4000, 8) + U32(0) + U32(kNone), "lies outside the stream");
    ExpectOpenFails(Head(1, 16, 21) + U32(5) + U32(kNone) + UsedDescription(0, 0),
                    "entry count runs past");
    ExpectOpenFails(Head(1, 16, 21) + U32(1) + U32(1) + UsedDescription(0, 0),
                    "free-list head lies outside");
    ExpectOpenFails(Head(1, 16, 34) + U32(2) + U32(0) + FreeDescription(1, 0) + FreeDescription(0, 0),
                    "free list names an entry twice");
    // A run of entries 0 and 1 whose last entry leads back to entry 1: the
    // list ends, but would hand entry 1 out twice.
    ExpectOpenFails(Head(1, 16, 60) + U32(4) + U32(0) + FreeDescription(9, 1) + FreeDescription(1, 1) +
                        FreeDescription(kNone, 0) + FreeDescription(kNone, 0),
                    "free list names an entry twice");
    // Runs of three entries from entry 0, and of two from entry 1, of a table
    // of two: each ends one past the last entry.
    ExpectOpenFails(Head(1, 16, 34) + U32(2) + U32(0) + FreeDescription(kNone, 2) +
                        FreeDescription(kNone, 0),
                    "free run leaves the array");
    ExpectOpenFails(Head(1, 16, 34) + U32(2) + U32(1) + UsedDescription(0, 0) +
                        FreeDescription(kNone, 1),
                    "free run leaves the array");
}

TEST(DescriptionArrays, AFreeRunEndingAtTheLastEntryIsTakenAsItStands) {
    ScratchDir dir;
    const std::string path = dir.file("edge.qbo");
    test::WriteStreamFile(path, "Chains",
                          Head(1, 16, 47) + U32(3) + U32(1) + UsedDescription(0, 0) +
                              FreeDescription(kNone, 1) + FreeDescription(kNone, 0));
    ChainModule mod(path, 0);
    EXPECT_EQ(mod.add(1)->descriptor().descIndex(), 1u);
    EXPECT_EQ(mod.add(2)->descriptor().descIndex(), 2u);
    EXPECT_EQ(mod.add(3)->descriptor().descIndex(), 3u) << "the table grows once the run is used";
}

// A descriptor names at most 2^22 entries of a table: a stored table with
// more is not this library's, and is refused before anything is read for it
// (adding to it would go past what a descriptor can name).
TEST(DescriptionArrays, ATableBeyondWhatDescriptorsCanNameIsRefused) {
    const uint32_t limit = tDescriptor::kMaxIndex + 1;
    ExpectOpenFails(Head(1, 16, 8) + U32(limit + 1) + U32(kNone), "more entries than descriptors can name");
    ExpectOpenFails(Head(1, 16, 8) + U32(0xFFFFFFFF) + U32(kNone), "more entries than descriptors can name");
}

TEST(DescriptionArrays, ARecordOutsideTheStreamFailsTheOpen) {
    const std::string array = Head(1, 16, 34) + U32(2) + U32(kNone);
    ExpectOpenFails(array + UsedDescription(16, 12) + UsedDescription(100, 12),
                    "entry 1: record lies outside the stream");
    ExpectOpenFails(array + UsedDescription(16, 4000) + UsedDescription(16, 1),
                    "entry 0: record lies outside the stream");
}

TEST(DescriptionArrays, AStoredMemoryWordIsIgnoredAndABadRecordFailsItsFault) {
    ScratchDir dir;
    const std::string path = dir.file("bad.qbo");
    // Entry 0's record is the array's own bytes: no chain record.
    test::WriteStreamFile(path, "Chains",
                          Head(1, 16, 21) + U32(1) + U32(kNone) + UsedDescription(16, 21));
    ChainModule mod(path, 0);
    EXPECT_FALSE(mod.table().entry(0).hasFaulted());
    EXPECT_THROW(mod.fault(0), ObjectLoadFailed);
}

// ---- tables of files with checksums, read on demand ---------------------------

// A chain record with an empty payload.
std::string ChainRecord(uint32_t marker, const std::string& payload = {}) {
    return U32(kNone) + U32(marker) + U32(static_cast<uint32_t>(payload.size())) + payload;
}

bool Refused(const std::function<void()>& use, bool asOpenFailure, const char* fragment) {
    try {
        use();
    } catch (const StoreException& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
        EXPECT_EQ(dynamic_cast<const ModuleOpenFailed*>(&e) != nullptr, asOpenFailure) << e.what();
        return true;
    }
    return false;
}

// What an older file has checked at open, a file with checksums has checked
// when what it guards is first used: the free list at the first add, a
// record's bounds at its fault. Either way with the same text, and the rest
// of the table stays usable.
TEST(DescriptionArraysOnDemand, ChecksOfTheOpenComeAtTheFirstUseOfWhatTheyGuard) {
    const std::string twoUsed = Head(1, 40, 34) + ChainRecord(0) + ChainRecord(1) + U32(2) + U32(kNone);
    struct Case {
        std::string image;
        bool byAdd;  // else by faulting entry `faulted`
        uint32_t faulted;
        const char* fragment;
    } cases[] = {
        {Head(1, 16, 34) + U32(2) + U32(0) + FreeDescription(1, 0) + FreeDescription(0, 0), true, 0,
         "free list names an entry twice"},
        {Head(1, 16, 34) + U32(2) + U32(0) + FreeDescription(kNone, 2) + FreeDescription(kNone, 0), true, 0,
         "free run leaves the array"},
        {twoUsed + UsedDescription(16, 12) + UsedDescription(100, 12), false, 1,
         "entry 1: record lies outside the stream"},
        {twoUsed + UsedDescription(16, 4000) + UsedDescription(28, 12), false, 0,
         "entry 0: record lies outside the stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fragment);
        ScratchDir dir;
        const std::string older = dir.file("older.qbo"), path = dir.file("checked.qbo");
        WriteOlderStreamFile(older, c.image);
        EXPECT_TRUE(Refused([&] { ChainModule mod(older, 0); }, true, c.fragment)) << "an older file opened";

        test::WriteStreamFile(path, "Chains", c.image);
        ChainModule mod(path, 0);
        ASSERT_TRUE(mod.mod.storage().hasChecksums());
        if (c.byAdd) {
            const auto add = [&] {
                auto link = std::make_unique<Chain>(7);
                link->attach(mod.m);
                link.release();
            };
            EXPECT_TRUE(Refused(add, true, c.fragment)) << "a bad free list was followed";
            EXPECT_TRUE(Refused(add, true, c.fragment)) << "checked once, passed for good";
        } else {
            EXPECT_TRUE(Refused([&] { mod.fault(c.faulted); }, false, c.fragment)) << "faulted";
            EXPECT_EQ(mod.fault(1 - c.faulted)->marker, 1 - c.faulted) << "the other entry reads";
        }
    }
    EXPECT_EQ(Chain::alive, 0);
}

// A thing's entry pointed into another's record, the checksums made again
// over it: no read can tell, and the table opens. The compaction, the one
// write that moves records over others' bytes, reads and checks every entry
// before it moves one, and is refused as a failed save with the open's text;
// the stream keeps every byte it had. An older file is refused at open.
TEST(DescriptionArraysOnDemand, AForgedOverlapIsRefusedByTheSaveBeforeItWritesAnything) {
    // Entry 2 lies over entry 0's record; entry 3's big record is the dead
    // space that makes a save compact once it is deleted.
    const std::string big(70 * 1024, 'x');
    const uint32_t bigRecord = static_cast<uint32_t>(ChainRecord(3, big).size());
    const uint32_t arrayAt = 40 + bigRecord;
    const std::string image = Head(1, arrayAt, 60, 1) + ChainRecord(0) + ChainRecord(1) + ChainRecord(3, big) +
                              U32(4) + U32(kNone) + UsedDescription(16, 12) + UsedDescription(28, 12) +
                              UsedDescription(20, 12) + UsedDescription(40, bigRecord);
    const char* overlap = "entry 2: record overlaps the record of entry 0";
    ScratchDir dir;
    WriteOlderStreamFile(dir.file("older.qbo"), image);
    EXPECT_TRUE(Refused([&] { ChainModule mod(dir.file("older.qbo"), 0); }, true, overlap));

    struct Save {
        const char* how;
        std::function<void(ChainModule&)> run;
    } saves[] = {
        {"an explicit compaction", [](ChainModule& mod) { mod.table().compactStream(); }},
        // The big record goes dead: more than the live bytes, a compaction.
        {"a save that compacts", [](ChainModule& mod) {
             delete mod.fault(3);
             ObjectStore::WritingScope writing(mod.m);
             Chains::writeModule(mod.m);
         }},
    };
    for (const Save& save : saves) {
        SCOPED_TRACE(save.how);
        const std::string path = dir.file("forged.qbo");
        test::WriteStreamFile(path, "Chains", image);
        ChainModule mod(path, 0);
        ASSERT_TRUE(mod.mod.storage().hasChecksums());
        EXPECT_EQ(mod.fault(1)->marker, 1u);
        try {
            save.run(mod);
            ADD_FAILURE() << "the records were moved";
        } catch (const StoreException& e) {
            EXPECT_STREQ(e.name(), "ModuleSaveError");
            EXPECT_NE(std::string(e.what()).find(std::string("stream \"Chains\": ") + overlap), std::string::npos)
                << e.what();
        }
        OCLStream& s = mod.table().stream();
        std::string now(s.size(), '\0');
        s.seek(0);
        s.read(now.data(), now.size());
        EXPECT_TRUE(now == image) << "the stream changed";
    }
}

// A module of ten thousand things, each chunk of entries a few hundred:
// opened with checksums it reads almost none of its array; faulting, adding,
// changing and deleting work as on an older file, and what the save wrote
// reads back the same whether the table is then read on demand or whole.
TEST_F(DescriptionTableTest, ATableReadOnDemandSavesWhatAnEagerOneReadsBack) {
    constexpr uint32_t kLinks = 10000;
    makeLinks(kLinks);
    {
        ChainModule mod(path, 0);
        ASSERT_TRUE(mod.mod.storage().hasChecksums());
        const uint64_t arrayBytes = kLinks * sizeof(Description);
        const uint64_t atOpen = mod.mod.storage().bytesReadFromFile();
        EXPECT_LT(atOpen, arrayBytes / 4) << "the array was read at open";
        EXPECT_GE(mod.table().count(), kLinks);
        Chain* late = mod.fault(8500);
        EXPECT_EQ(late->payload, "link8500");
        EXPECT_LT(mod.mod.storage().bytesReadFromFile() - atOpen, arrayBytes / 4) << "one fault read the array";

        // Walking what is loaded reads nothing more.
        const uint64_t before = mod.mod.storage().bytesReadFromFile();
        DescribedObjectIterator<Chain> loaded(mod.m);
        EXPECT_EQ(loaded.nextFaulted(), late);
        EXPECT_EQ(loaded.nextFaulted(), nullptr);
        EXPECT_EQ(mod.mod.storage().bytesReadFromFile(), before);

        late->payload = "changed";
        late->changed();
        delete mod.fault(10);
        delete mod.fault(1700);
        mod.save();
        EXPECT_EQ(mod.add(5000, "reused")->descriptor().descIndex(), 1700u) << "the freed slot came first";
        mod.add(5001, "new");
        mod.save();
    }
    const std::string older = dir.file("older.qbo");
    {
        OlderFiles omit;
        OCLStorage from(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        OCLStorage to(older.c_str(), 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE);
        from.CopyTo(to);
        to.Commit();
    }
    ChainModule lazy(path, 0), eager(older, 0);
    ASSERT_FALSE(eager.mod.storage().hasChecksums());
    ASSERT_EQ(lazy.table().count(), eager.table().count());
    for (uint32_t i = 0; i < eager.table().count(); ++i) {
        const Description& a = lazy.table().entry(i);
        const Description& b = eager.table().entry(i);
        ASSERT_EQ(a.exists(), b.exists()) << i;
        if (!a.exists()) continue;
        EXPECT_EQ(lazy.fault(i)->payload, eager.fault(i)->payload) << i;
        EXPECT_EQ(lazy.fault(i)->marker, eager.fault(i)->marker) << i;
    }
    EXPECT_EQ(eager.fault(8500)->payload, "changed");
    EXPECT_EQ(eager.fault(1700)->payload, "reused");
    EXPECT_EQ(eager.fault(10)->payload, "new") << "the next freed slot";
    EXPECT_EQ(lazy.add(1)->descriptor().descIndex(), eager.add(1)->descriptor().descIndex())
        << "the free lists agree";
}

// ---- fault pointers ------------------------------------------------------------

TEST(FaultPointer, NullDescriptorsAreNullWhateverTheHighBits) {
    for (uint32_t raw : {0x3FFFFFFFu, 0x7FFFFFFFu, 0xBFFFFFFFu, 0xFFFFFFFFu}) {
        Faultp<Chain> p{tDescriptor(raw)};
        EXPECT_TRUE(p.isNull()) << std::hex << raw;
        EXPECT_TRUE(Chains::objectExists(tDescriptor(raw)));
        EXPECT_EQ(p.get(), nullptr);
    }
}

TEST(FaultPointer, StoredDescriptorMeansTheModuleBeingRead) {
    ScratchDir dir;
    ChainModule mod(dir.file("refs.qbo"));
    OCLStream s(mod.mod.storage(), "Refs", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.writeU8(6);
    s.writeU32(tDescriptor::Make(3, 17).raw());
    s.seek(0);
    Faultp<Chain> p{tDescriptor()};
    p.read(s, 7);
    EXPECT_TRUE(p.isDescriptor());
    EXPECT_EQ(p.descriptor(), tDescriptor::Make(7, 17));
}

TEST(FaultPointer, AReferenceToAThingOfTheWrittenModuleWritesItsDescriptor) {
    ScratchDir dir;
    ChainModule mod(dir.file("refs.qbo"));
    Chain* c = mod.add(5);
    Faultp<Chain> ref(c);
    OCLStream s(mod.mod.storage(), "Refs", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    {
        ObjectStore::WritingScope writing(mod.m);
        ref.write(s);
        Faultp<Chain>().write(s);
    }
    std::string bytes(10, '\0');
    s.seek(0);
    s.read(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, std::string(1, '\x06') + U32(c->descriptor().raw()) + std::string(1, '\x06') +
                         U32(tDescriptor::kNull));
    ScopedThrowingAsserts asserts;
    Faultp<Chain> detached(new Chain(9));
    EXPECT_ASSERTION(
        {
            ObjectStore::WritingScope writing(mod.m);
            detached.write(s);
        },
        "!isExternal(outd, ObjectStore::WritingModule())");
}

TEST(BlockArrays, TenSlotsOfANewBlockComeOutInAscendingOrder) {
    BlockArrayWithFreeList<Description> array(10, 10);
    for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(array.nextFree(), i);
    EXPECT_EQ(array.firstFree(), kNoMoreFree);
    array.setFree(4);
    array.setFree(7);
    EXPECT_EQ(array.nextFree(), 7u);
    EXPECT_EQ(array.nextFree(), 4u);
    EXPECT_EQ(array.nextFree(), 10u);
    EXPECT_EQ(array.count(), 20u);
    EXPECT_EQ(array.validateFreeList(), nullptr);
}

}  // namespace
}  // namespace tq
