// Tables of names read on demand: a large table in a file with checksums is
// read chunk by chunk as its names are reached, and whatever a module does
// with it must leave the file as a table read whole would have left it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/errors/extexcep.h"
#include "store/persist/idstr.h"
#include "tests/store/persist/objstoretest.h"
#include "tests/store/persist/persisttest.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using test::TestModule;
using test::U32;
using Reading = IdString::TableReading;

// Well past the size a table is read whole at.
constexpr uint32_t kNames = 1000;

class ScopedReading {
public:
    explicit ScopedReading(Reading how) { IdString::SetTableReading(how); }
    ~ScopedReading() { IdString::SetTableReading(Reading::kDefault); }
};

std::string NameOf(uint32_t i) { return "Name" + std::to_string(i); }

// A module file (with checksums) of kNames names, Name0 to Name999, each
// with a count of 2, as stored records would hold.
void MakeNames(const std::string& path) {
    TestModule mod(path);
    std::vector<IdString> names;
    for (uint32_t i = 0; i < kNames; ++i) names.emplace_back(NameOf(i).c_str(), mod.m);
    for (IdString& n : names) n->ref();
    mod.save();
    for (IdString& n : names) n->deref();
}

// Every entry of the file's table as the given reading sees it: the text and
// count of a used entry, nothing for a free one.
using Entries = std::vector<std::optional<std::pair<std::string, uint16_t>>>;

Entries ReadEntries(const std::string& path, Reading how) {
    ScopedReading reading(how);
    TestModule mod(path, 0);
    Entries out(IdString::TableCount(mod.m));
    for (uint32_t i = 0; i < out.size(); ++i) {
        const tDescriptor d = tDescriptor::Make(mod.m, i);
        if (!IdStringRep::objectExists(d)) continue;
        const IdStringRep* e = IdStringRep::fault(d);
        out[i].emplace(e->text(), e->refCount());
    }
    EXPECT_EQ(IdString::CheckModule(mod.m), "");
    return out;
}

// One step done to the reopened module.
struct Step {
    enum Kind { kTouch, kRaise, kFree, kAdd } kind;
    uint32_t index;    // the entry touched, raised or freed
    const char* text = nullptr;  // the name added
};

struct Case {
    const char* what;
    std::vector<Step> steps;
    bool interns;  // whether the steps need the dictionary
};

// Each case opens the same file on demand, does its steps and saves. The
// file must then read the same whole and on demand, and hold what the
// steps made of the original (the model); a case that interns nothing must
// have read and written only the chunks it touched.
TEST(IdStringsOnDemand, StepsOnATableReadOnDemandSaveWhatAWholeReadWould) {
    const std::vector<Case> cases = {
        {"names followed only", {{Step::kTouch, 3}, {Step::kTouch, 517}, {Step::kTouch, kNames - 1}}, false},
        {"counts raised in two chunks", {{Step::kRaise, 40}, {Step::kRaise, 41}, {Step::kRaise, 900}}, false},
        {"names given up", {{Step::kFree, 100}, {Step::kFree, 640}}, false},
        {"names given up, then new ones take their slots",
         {{Step::kFree, 100}, {Step::kFree, 640}, {Step::kAdd, 0, "Fresh"}, {Step::kAdd, 0, "Newer"},
          {Step::kAdd, 0, "Past the end"}},
         true},
        {"a name added that the table holds", {{Step::kTouch, 7}, {Step::kAdd, 0, "Name999"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string path = dir.file("names.qbo");
        MakeNames(path);
        Entries model(kNames);
        for (uint32_t i = 0; i < kNames; ++i) model[i].emplace(NameOf(i), 2);
        {
            TestModule mod(path, 0);
            const tModuleIndex m = mod.m;
            ASSERT_TRUE(mod.storage().hasChecksums());
            ASSERT_EQ(IdString::EntriesInMemory(m), 0u) << "the open read entries";
            std::vector<IdString> added;
            added.reserve(c.steps.size());
            uint32_t nextFresh = kNames;
            std::vector<uint32_t> freed;
            for (const Step& s : c.steps) {
                const tDescriptor d = tDescriptor::Make(m, s.index);
                switch (s.kind) {
                    case Step::kTouch: EXPECT_STREQ(IdStringRep::fault(d)->text(), NameOf(s.index).c_str()); break;
                    case Step::kRaise:
                        IdStringRep::fault(d)->ref();
                        ++model[s.index]->second;
                        break;
                    case Step::kFree:
                        IdStringRep::fault(d)->deref();
                        IdStringRep::fault(d)->deref();
                        EXPECT_FALSE(IdStringRep::objectExists(d));
                        model[s.index].reset();
                        freed.push_back(s.index);
                        break;
                    case Step::kAdd: {
                        added.emplace_back(s.text, m);
                        added.back()->ref();  // the count a stored record would hold
                        const uint32_t at = added.back().descriptor().descIndex();
                        // The reference and the record's count go to the file.
                        if (model.size() > at && model[at]) {
                            EXPECT_EQ(model[at]->first, s.text);
                            EXPECT_EQ(IdString::Find(s.text, m), int32_t(at));
                            model[at]->second += 2;
                            break;
                        }
                        // The slots given up go first, the last given up first.
                        const uint32_t expected = freed.empty() ? nextFresh++ : freed.back();
                        if (!freed.empty()) freed.pop_back();
                        EXPECT_EQ(at, expected);
                        if (model.size() <= at) model.resize(at + 1);
                        model[at].emplace(s.text, 2);
                        break;
                    }
                }
            }
            EXPECT_EQ(IdString::HasDictionary(m), c.interns);
            const uint64_t before = mod.storage().bytesWrittenToStreams();
            mod.save();
            const uint64_t written = mod.storage().bytesWrittenToStreams() - before;
            if (!c.interns) {
                EXPECT_LT(IdString::EntriesInMemory(m), kNames / 4) << "steps read the table";
                EXPECT_LT(written, 4096u) << "the save wrote entries that did not change";
            }
            for (IdString& n : added) n->deref();
        }
        // The table's slots past the last name are free.
        const Entries whole = ReadEntries(path, Reading::kWhole);
        model.resize(whole.size());
        EXPECT_EQ(whole, model);
        EXPECT_EQ(ReadEntries(path, Reading::kOnDemand), whole);
    }
}

// The bytes of one entry of "IdStrings" changed in the file as a disk
// changes them: the checksums stay those of the original.
void DamageEntry(const std::string& path, uint32_t index) {
    OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    {
        OCLStream s(storage, "IdStrings", 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        s.seek(8 + 40 * index + 8);
        s.write("Spoilt", 6);
    }
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kKeepCommitted);
    storage.Commit();
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
}

TEST(IdStringsOnDemand, DamageIsNamedByTheReadThatMeetsIt) {
    ScratchDir dir;
    const std::string path = dir.file("names.qbo");
    MakeNames(path);
    DamageEntry(path, 700);
    TestModule mod(path, 0);
    const tModuleIndex m = mod.m;
    // A walk in table order reads ahead; what it reads ahead of the damaged
    // piece (from entry 614, with chunk 19 from entry 608) still reads.
    for (uint32_t i = 0; i < 608; ++i)
        ASSERT_STREQ(IdStringRep::fault(tDescriptor::Make(m, i))->text(), NameOf(i).c_str());
    EXPECT_THROW(IdStringRep::fault(tDescriptor::Make(m, 608)), ObjectLoadFailed);
    EXPECT_THROW(IdStringRep::fault(tDescriptor::Make(m, 700)), ObjectLoadFailed);
    EXPECT_STREQ(IdStringRep::fault(tDescriptor::Make(m, 900))->text(), "Name900");
    // Whether a name there exists cannot be told: it is taken to, so that
    // following it names the damage.
    EXPECT_TRUE(IdStringRep::objectExists(tDescriptor::Make(m, 701)));
    EXPECT_THROW(IdStringRep::fault(tDescriptor::Make(m, 701)), ObjectLoadFailed);
    // Interning needs the whole table, and the whole table is damaged.
    try {
        IdString fresh("Fresh", m);
        ADD_FAILURE() << "a name was interned into a damaged table";
    } catch (const ModuleOpenFailed& e) {
        EXPECT_NE(std::string(e.what()).find("IdStrings"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(IdString::HasDictionary(m));
    // What is not damaged still reads, and a save of it leaves the damage
    // where it is, for the next reader to meet.
    IdStringRep::fault(tDescriptor::Make(m, 5))->ref();
    mod.save();
    mod.close();
    TestModule again(path, 0);
    EXPECT_EQ(IdStringRep::fault(tDescriptor::Make(again.m, 5))->refCount(), 3);
    EXPECT_THROW(IdStringRep::fault(tDescriptor::Make(again.m, 700)), ObjectLoadFailed);
}

std::string Entry(uint16_t count, uint8_t flags, const std::string& text) {
    std::string t = text;
    t.resize(32, '\0');
    return U32(0) + test::U16(count) + char(flags) + char(0) + t;
}

std::string FreeEntry(uint32_t next, uint32_t run) {
    return std::string(8, '\0') + U32(next) + U32(run) + std::string(24, '\0');
}

// Tables that only the whole table shows to be forged, with sound
// checksums: the open succeeds, the sound names read, and what needs the
// whole table (interning) fails as an open that reads it whole does.
TEST(IdStringsOnDemand, ForgedTablesFailAtTheFirstUseOfWhatTheyForge) {
    struct Forged {
        std::string image;
        const char* fragment;
        bool entry1Reads;
    };
    const std::vector<Forged> forged = {
        {U32(3) + U32(1) + Entry(1, 1, "a") + FreeEntry(2, 0) + FreeEntry(1, 0), "free list names an entry twice",
         false},
        {U32(2) + U32(kNoMoreFree) + Entry(1, 1, "a") + Entry(1, 1, std::string(32, 'n')),
         "entry 1 has no terminating NUL", false},
        {U32(2) + U32(kNoMoreFree) + Entry(1, 1, "twin") + Entry(1, 1, "twin"), "entry 1 repeats the name \"twin\"",
         true},
        {U32(2) + U32(kNoMoreFree) + Entry(1, 1, "Shape") + Entry(1, 1, ""), "entry 1 is in use but its name is empty",
         false},
    };
    ScopedReading reading(Reading::kOnDemand);
    for (const Forged& f : forged) {
        SCOPED_TRACE(f.fragment);
        ScratchDir dir;
        const std::string path = dir.file("forged.qbo");
        test::WriteStreamFile(path, "IdStrings", f.image);
        TestModule mod(path, 0);
        EXPECT_STREQ(IdStringRep::fault(tDescriptor::Make(mod.m, 0))->text(), f.image.c_str() + 16);
        if (f.entry1Reads)
            EXPECT_NO_THROW(IdStringRep::fault(tDescriptor::Make(mod.m, 1)));
        else
            EXPECT_THROW(IdStringRep::fault(tDescriptor::Make(mod.m, 1)), ObjectLoadFailed);
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                IdString fresh("Fresh", mod.m);
                ADD_FAILURE() << "interned";
            } catch (const ModuleOpenFailed& e) {
                EXPECT_NE(std::string(e.what()).find(f.fragment), std::string::npos) << e.what();
            }
        }
    }
}

// A module of named objects opened to read and update one of them: finding
// it, reading and writing its field and saving follow a few names and need
// no dictionary, and what the save wrote reads back whole.
class NamesOnDemand : public test::ModuleStoreTest {};

TEST_F(NamesOnDemand, UpdatingOneObjectOfALargeModuleNeedsNoDictionary) {
    constexpr int kRows = 400;
    const std::string path = file("rows.qbo");
    {
        const tModuleIndex m = load(path);
        InterObj proto(named("Rows", m));
        addData(proto.get(), "A", IDT_LONG);
        for (int i = 0; i < kRows; ++i) setLong(named(NameOf(i).c_str(), m, proto.get()), "A", i);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        ObjectStore::UnloadModule(m);
    }
    {
        const tModuleIndex m = load(path, 0);
        ASSERT_GT(IdString::TableCount(m), uint32_t(kRows));
        InterObjRep* row = found("Name321");
        ASSERT_NE(row, nullptr);
        setLong(row, "A", getLong(row, "A") + 1000);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        EXPECT_FALSE(IdString::HasDictionary(m));
        ObjectStore::UnloadModule(m);
    }
    ScopedReading whole(Reading::kWhole);
    const tModuleIndex m = load(path, 0);
    EXPECT_EQ(IdString::CheckModule(m), "");
    EXPECT_EQ(getLong(found("Name321"), "A"), 1321);
    EXPECT_EQ(getLong(found("Name320"), "A"), 320);
    ObjectStore::UnloadModule(m);
}

}  // namespace
}  // namespace tq
