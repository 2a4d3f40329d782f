// Runs the corruption campaign (campaign.h). CI runs a small count; a longer
// run is made by hand:
//
//   TQ_CAMPAIGN_VARIANTS=6000 build-asan/tests/test_store_corrupt
//
// Settings from the environment: TQ_CAMPAIGN_VARIANTS (default 240),
// TQ_CAMPAIGN_SEED (default 1; the variants are those of seeds seed,
// seed + 1, ...; a finding names its seed, and TQ_CAMPAIGN_SEED=<that seed>
// TQ_CAMPAIGN_VARIANTS=1 runs it alone), TQ_CAMPAIGN_TQDUMP (compare
// tqdump's verdict every n variants; default 40, 0 never), TQ_CAMPAIGN_KEEP
// (a folder where each variant with a finding is kept as <seed>.qbo),
// TQ_CAMPAIGN_VERBOSE=1 (say why each refused variant was refused).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <string>

#include "compiler/textmod.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/block.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/vals.h"
#include "store/model/modwalk.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "tests/store/corrupt/campaign.h"
#include "tests/support/boxapp.h"
#include "tests/support/fieldaccess.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

uint64_t Setting(const char* name, uint64_t fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

// Message boxes (a signature proxy that does not resolve) are kept, not
// shown: a campaign makes thousands.
class CampaignTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { IdString::Initialize(); }
    static void TearDownTestSuite() { IdString::Terminate(); }
};

TEST_F(CampaignTest, DamagedModulesAreRefusedOrKeptWholeThroughASaveAndNeverCrashOrHang) {
    MessageBoxApp app;
    // In memory when it can be: every variant is committed twice.
    const char* shm = "/dev/shm";
    const bool inMemory = ::access(shm, W_OK) == 0;
    const char* tmp = std::getenv("TMPDIR");
    const std::string saved = tmp ? tmp : "";
    if (inMemory) ::setenv("TMPDIR", shm, 1);
    ScratchDir dir;
    if (inMemory) {
        if (saved.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", saved.c_str(), 1);
    }
    campaign::Settings settings;
    settings.variants = static_cast<uint32_t>(Setting("TQ_CAMPAIGN_VARIANTS", settings.variants));
    settings.seed = Setting("TQ_CAMPAIGN_SEED", settings.seed);
    settings.tqdumpEvery = static_cast<uint32_t>(Setting("TQ_CAMPAIGN_TQDUMP", settings.tqdumpEvery));
    settings.tqdump = std::string(TQ_BINARY_DIR) + "/tqdump";
    settings.folder = dir.path();
    if (const char* keep = std::getenv("TQ_CAMPAIGN_KEEP")) settings.keep = keep;
    settings.verbose = Setting("TQ_CAMPAIGN_VERBOSE", 0) != 0;
    const std::vector<campaign::BaseModule> bases = campaign::MakeBaseModules(dir.path());
    const campaign::Figures figures = campaign::Run(settings, bases);
    figures.print(std::cout);
    EXPECT_TRUE(figures.findings.empty()) << figures.findings.front();
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    InterObjRep::DeleteObjects();
}

// Variants whose damage lies in a record that a compaction moves, behind
// the piece that opening reads: the compaction once let the storage's own
// failure escape half way through; it is refused with the store's
// exception before it moves anything, and nothing is found wrong after.
// Which seeds reach such a record depends on the base modules' layout, and
// that depends on where the test runs (a module records the path of the
// library that wrote it, and one names another by its path), so the seeds
// are searched for rather than named.
TEST_F(CampaignTest, ACompactionThatMeetsDamageIsRefusedWithTheStoresException) {
    MessageBoxApp app;
    ScratchDir dir;
    const std::vector<campaign::BaseModule> bases = campaign::MakeBaseModules(dir.path());
    constexpr uint32_t wanted = 3;
    uint32_t refused = 0;
    for (uint64_t seed = 2000; seed < 3500 && refused < wanted; ++seed) {
        campaign::Settings settings;
        settings.variants = 1;
        settings.seed = seed;
        settings.tqdumpEvery = 0;
        settings.folder = dir.path();
        const campaign::Figures figures = campaign::Run(settings, bases);
        EXPECT_TRUE(figures.findings.empty()) << "seed " << seed << ": " << figures.findings.front();
        for (const auto& [damage, per] : figures.byDamage) refused += per.saveRefused;
    }
    EXPECT_EQ(refused, wanted);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    InterObjRep::DeleteObjects();
}

// An older program (no checksums) with one entry of "Blocks" freed: the
// procedure that runs that block no longer reads, and reading it again and
// again (as every program that calls it would) once took its names' counts
// down until the names it shares with sound procedures were freed; the next
// Compact+Commit then wrote a module whose sound procedures no longer read.
TEST_F(CampaignTest, AProcedureThatFailsToReadLeavesTheNamesItSharesThroughReadsAndACompaction) {
    MessageBoxApp app;
    ScratchDir dir;
    const std::vector<campaign::BaseModule> bases = campaign::MakeBaseModules(dir.path());
    const auto older = std::find_if(bases.begin(), bases.end(),
                                    [](const campaign::BaseModule& b) { return b.name == "program (older)"; });
    ASSERT_NE(older, bases.end());
    const std::string path = dir.file("variant.qbo");
    auto faultsOf = [](tModuleIndex m) {
        std::set<std::string> out;
        for (const WalkFault& f : WalkModule(m)) out.insert(f.where);
        return out;
    };
    int variants = 0;
    for (uint64_t seed = 0; seed < 64 && variants < 6; ++seed) {
        campaign::Random rng(seed);
        std::string what;
        const std::string damaged = campaign::Damaged(older->bytes, campaign::Damage::EntryFreed, rng, dir.path(), &what);
        if (damaged == older->bytes || what.rfind("Blocks", 0) != 0) continue;
        ++variants;
        SCOPED_TRACE(what);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
        tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        const std::set<std::string> before = faultsOf(m);
        EXPECT_FALSE(before.empty());
        auto nothingNew = [&](const char* when) {
            for (const std::string& where : faultsOf(m)) EXPECT_TRUE(before.count(where)) << when << ": " << where;
        };
        for (int again = 0; again < 3; ++again) nothingNew("read again");
        ObjectStore::Compact(m);
        ObjectStore::Commit(m);
        ObjectStore::UnloadModule(m);
        m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        nothingNew("after the compaction");
        ObjectStore::UnloadModule(m);
    }
    EXPECT_GT(variants, 0);
    InterObjRep::DeleteObjects();
}

// The "Blocks" stream of the older program with edit applied to it, as a
// disk would change it (the file has no checksums to notice).
void EditBlocks(const std::string& path, const std::function<void(std::vector<uint8_t>&)>& edit) {
    OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    OCLStream s(storage, "Blocks", 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    std::vector<uint8_t> bytes(s.size());
    s.read(bytes.data(), bytes.size());
    edit(bytes);
    s.seek(0);
    s.write(bytes.data(), bytes.size());
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
    storage.Commit();
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
}

// Entry i of the table in bytes: its offset and length.
size_t EntryAt(const std::vector<uint8_t>& bytes, uint32_t i) { return LoadLE32(&bytes[4]) + 8 + size_t{i} * 13; }

// The compiled program as written before there were checksums, at path_.
class OlderProgram : public CampaignTest {
protected:
    void SetUp() override {
        const auto bases = campaign::MakeBaseModules(dir_.path());
        for (const campaign::BaseModule& b : bases)
            if (b.name == "program (older)") {
                std::ofstream(path_, std::ios::binary | std::ios::trunc) << b.bytes;
                text_ = b.text;
            }
        ASSERT_FALSE(text_.empty());
    }
    MessageBoxApp app_;
    ScratchDir dir_;
    std::string path_ = dir_.file("program.qbo");
    std::string text_;
};
class DamagedProgram : public OlderProgram {};

// A module written before the checksums opens, runs and saves; the commit
// of that save gives it checksums, and it reads as it did but for what the
// program changed (a commit that rewrote it from what it read, not from
// what it holds, would lose or alter the rest).
TEST_F(OlderProgram, RunsAndSavesAndGainsChecksumsAtItsFirstCommitWithItsContentKept) {
    tModuleIndex m = ObjectStore::LoadModule(path_.c_str(), 0, 0);
    EXPECT_FALSE(ObjectStore::Module(m)->storage().hasChecksums());
    EXPECT_EQ(compiler::TextModuleText(m), text_);
    InterObj main, counter;
    ASSERT_TRUE(ObjectStore::find("Main", main) && ObjectStore::find("Counter", counter));
    int handled = 0;
    main->evalIMember("Main", nullptr, &handled);
    EXPECT_EQ(getLong(counter.get(), "Total"), 72);
    std::string expected = compiler::TextModuleText(m);
    ASSERT_NE(expected, text_);
    main = counter = nullptr;
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);

    m = ObjectStore::LoadModule(path_.c_str(), 0, 0);
    OCLStorage& storage = ObjectStore::Module(m)->storage();
    EXPECT_TRUE(storage.hasChecksums());
    storage.verifyChecksums();
    EXPECT_TRUE(WalkModule(m).empty());
    EXPECT_EQ(compiler::TextModuleText(m), expected);
    ASSERT_TRUE(ObjectStore::find("Main", main) && ObjectStore::find("Counter", counter));
    EXPECT_EQ(getText(counter.get(), "Label"), "BCDEBCDEBCDE");
    main->evalIMember("Main", nullptr, &handled);
    EXPECT_EQ(getLong(counter.get(), "Total"), 144);
    main = counter = nullptr;
    ObjectStore::UnloadModule(m);
}

// The Do loop's body entry pointed at the For loop's body record (an offset
// changed): the loop would run without the statement that ends it. Two
// entries sharing bytes is refused when the module opens.
TEST_F(DamagedProgram, AnEntryWhoseRecordOverlapsAnothersIsRefusedAtOpening) {
    EditBlocks(path_, [](std::vector<uint8_t>& b) {
        // Entries 1 and 2 are the For loop's body and the Do loop's body.
        std::memcpy(&b[EntryAt(b, 2) + 5], &b[EntryAt(b, 1) + 5], 8);
    });
    try {
        ObjectStore::UnloadModule(ObjectStore::LoadModule(path_.c_str(), 0, 0));
        ADD_FAILURE() << "the module opened";
    } catch (const ModuleOpenFailed& e) {
        EXPECT_NE(std::string(e.what()).find("stream \"Blocks\": entry 2: record overlaps the record of entry 1"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

// The Do loop's sub-block index changed to the For loop's body (block 0 of
// Main's table, which the For loop runs too): Main would loop for ever. It
// fails before anything runs, in a process of its own so that a loop for
// ever fails the test instead of hanging it.
TEST_F(DamagedProgram, ABlockRunByTwoStatementsFailsBeforeAnythingRuns) {
    if (IsFreshProcess()) {
        ::alarm(20);
        const tModuleIndex m = ObjectStore::LoadModule(FreshProcessArg("TQ_PROGRAM").c_str(), 0, 0);
        InterObj main;
        ASSERT_TRUE(ObjectStore::find("Main", main) && main.get());
        try {
            int handled = 0;
            main->evalIMember("Main", nullptr, &handled);
            ADD_FAILURE() << "Main ran";
        } catch (const ObjectLoadFailed& e) {
            EXPECT_NE(std::string(e.what()).find("sub-block index 0 is run by two statements"), std::string::npos)
                << e.what();
        }
        ObjectStore::UnloadModule(m);
        return;
    }
    EditBlocks(path_, [](std::vector<uint8_t>& b) {
        // Entry 3 is Main's body: its statements from byte 26 of its record.
        const size_t record = LoadLE32(&b[EntryAt(b, 3) + 5]);
        size_t at = record + BlockRep::kRecordHead;
        for (uint32_t i = 0; i < LoadLE32(&b[record + 4]); ++i) {
            const uint16_t kind = LoadLE16(&b[at]);
            if (kind == 3 || kind == 14) {
                ASSERT_EQ(LoadLE32(&b[at + 16]), 1u);
                StoreLE32(&b[at + 16], 0);
                return;
            }
            at += LoadLE32(&b[at + 2]);
        }
        FAIL() << "no Do loop in Main";
    });
    EXPECT_EQ(RunInFreshProcess({{"TQ_PROGRAM", path_}}), 0);
}

}  // namespace
}  // namespace tq
