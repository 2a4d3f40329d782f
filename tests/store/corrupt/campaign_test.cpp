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
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "store/model/interobj.h"
#include "store/model/modwalk.h"
#include "store/persist/idstr.h"
#include "store/persist/objstore.h"
#include "tests/store/corrupt/campaign.h"
#include "tests/support/boxapp.h"
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

}  // namespace
}  // namespace tq
