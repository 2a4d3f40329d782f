#include "platform/util/pushdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "platform/util/xexcept.h"
#include "tests/platform/util/scratch.h"

namespace tq {
namespace {

namespace fs = std::filesystem;

TEST(PushDir, ChangesForTheScopeAndRestoresAfterIt) {
    ScratchFolder scratch;
    fs::create_directories(scratch / "a/b");
    const fs::path start = fs::current_path();
    {
        PushDir outer((scratch / "a").c_str());
        EXPECT_EQ(fs::current_path(), fs::canonical(scratch / "a"));
        {
            PushDir inner("b");  // relative to the folder pushed before
            EXPECT_EQ(fs::current_path(), fs::canonical(scratch / "a/b"));
        }
        EXPECT_EQ(fs::current_path(), fs::canonical(scratch / "a"));
    }
    EXPECT_EQ(fs::current_path(), start);
}

TEST(PushDir, RestoresWhenAnExceptionPasses) {
    ScratchFolder scratch;
    const fs::path start = fs::current_path();
    EXPECT_THROW(
        {
            PushDir dir(scratch.path().c_str());
            throw std::runtime_error("leaving");
        },
        std::runtime_error);
    EXPECT_EQ(fs::current_path(), start);
}

TEST(PushDir, AFolderThatCannotBeEnteredRaisesAndChangesNothing) {
    ScratchFolder scratch;
    const std::string missing = scratch / "missing";
    const fs::path start = fs::current_path();
    try {
        PushDir dir(missing.c_str());
        ADD_FAILURE() << "no exception";
    } catch (const XException& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    EXPECT_EQ(fs::current_path(), start);
}

TEST(PushDir, NoFolderMeansNoChange) {
    const fs::path start = fs::current_path();
    {
        PushDir none(nullptr);
        PushDir empty("");
        EXPECT_EQ(fs::current_path(), start);
    }
    EXPECT_EQ(fs::current_path(), start);
}

TEST(PushDir, ReturnsToThePreviousFolderEvenAfterItWasRenamed) {
    ScratchFolder scratch;
    fs::create_directories(scratch / "before/inner");
    PushDir home((scratch / "before").c_str());
    {
        PushDir inner("inner");
        fs::rename(scratch / "before", scratch / "after");
    }
    EXPECT_EQ(fs::current_path(), fs::canonical(scratch / "after"));
}

}  // namespace
}  // namespace tq
