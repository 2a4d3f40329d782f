#include "platform/util/dllutils.h"

#include <gtest/gtest.h>

#include "platform/util/pathstr.h"

namespace tq {
namespace {

TEST(DLLUtils, VersionSplitsIntoPairsAndFormatsAsFourNumbers) {
    uint32_t high = 0, low = 0;
    DLLUtils::GetProductVersion({1, 2, 3, 4}, high, low);
    EXPECT_EQ(high, 0x00010002u);
    EXPECT_EQ(low, 0x00030004u);
    EXPECT_EQ(DLLUtils::FormatVersion(high, low), "1.2.3.4");

    DLLUtils::GetProductVersion({65535, 0, 65535, 65535}, high, low);
    EXPECT_EQ(high, 0xFFFF0000u);
    EXPECT_EQ(low, 0xFFFFFFFFu);
    EXPECT_EQ(DLLUtils::FormatVersion(high, low), "65535.0.65535.65535");
    EXPECT_EQ(DLLUtils::FormatVersion(0, 0), "0.0.0.0");
}

// The record is process-wide, so each test uses paths of its own and looks at
// its own entries only.
TEST(DLLUtils, EachLibraryIsListedOnceInTheOrderItFirstAttached) {
    DLLUtils::DLLAttached("/lib/tq/first.so", {1, 0, 0, 1});
    DLLUtils::DLLAttached("/lib/tq/second.so", {2, 0, 0, 0});
    DLLUtils::DLLAttached("/lib//tq/first.so", {1, 0, 0, 2});  // the same library
    DLLUtils::DLLAttached("", {9, 9, 9, 9});
    DLLUtils::DLLAttached(nullptr);

    const PathString list(DLLUtils::AttachedDLLs().c_str());
    size_t first = list.count(), second = list.count(), firstCount = 0;
    for (size_t i = 0; i < list.count(); ++i) {
        if (list.entry(i) == "/lib/tq/first.so") first = i, ++firstCount;
        if (list.entry(i) == "/lib/tq/second.so") second = i;
    }
    EXPECT_EQ(firstCount, 1u);
    EXPECT_LT(first, second);
    EXPECT_LT(second, list.count());

    VersionData v;
    ASSERT_TRUE(DLLUtils::GetVersionData("/lib/tq/first.so", v));
    EXPECT_EQ(v, (VersionData{1, 0, 0, 2}));
    EXPECT_FALSE(DLLUtils::GetVersionData("/lib/tq/never.so", v));
    EXPECT_FALSE(DLLUtils::GetVersionData("", v));
}

}  // namespace
}  // namespace tq
