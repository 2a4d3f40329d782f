#include "platform/util/handle.h"

#include <gtest/gtest.h>

#include "tests/support/asserts.h"

namespace tq {
namespace {

TEST(HandleTable, IdZeroIsNullAndNeverHandedOut) {
    HandleTable t;
    EXPECT_EQ(t.get(0), nullptr);
    int x = 0;
    EXPECT_NE(t.add(&x), 0u);
    EXPECT_EQ(t.get(0), nullptr);
}

TEST(HandleTable, IdsMapToTheirPointersUntilReleased) {
    HandleTable t;
    int a = 1, b = 2;
    const auto ia = t.add(&a);
    const auto ib = t.add(&b);
    EXPECT_NE(ia, ib);
    EXPECT_EQ(t.getAs<int>(ia), &a);
    EXPECT_EQ(t.getAs<int>(ib), &b);
    t.release(ia);
    EXPECT_EQ(t.get(ia), nullptr);
    EXPECT_EQ(t.getAs<int>(ib), &b);
    EXPECT_EQ(t.liveCount(), 1u);
}

TEST(HandleTable, ReleasedIdsAreReusedLastReleasedFirst) {
    HandleTable t;
    int v[3];
    const auto i0 = t.add(&v[0]);
    const auto i1 = t.add(&v[1]);
    t.release(i0);
    t.release(i1);
    EXPECT_EQ(t.add(&v[2]), i1);
    EXPECT_EQ(t.add(&v[2]), i0);
}

TEST(HandleTable, ClearedCellReadsNullButStaysIssued) {
    HandleTable t;
    int a = 0;
    const auto cell = t.add(&a);
    t.set(cell, nullptr);
    EXPECT_EQ(t.get(cell), nullptr);
    EXPECT_EQ(t.liveCount(), 1u);
    t.set(cell, &a);
    EXPECT_EQ(t.getAs<int>(cell), &a);
}

TEST(HandleTable, UnknownIdsReadNull) {
    HandleTable t;
    EXPECT_EQ(t.get(12345), nullptr);
}

TEST(HandleTable, SettingOrReleasingAReleasedIdIsAnAssertion) {
    ScopedThrowingAsserts asserts;
    HandleTable t;
    int a = 0;
    const auto id = t.add(&a);
    t.release(id);
    EXPECT_ASSERTION(t.set(id, &a), "valid handle id");
    EXPECT_ASSERTION(t.release(id), "valid handle id");
}

}  // namespace
}  // namespace tq
