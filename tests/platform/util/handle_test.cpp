#include "platform/util/handle.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(HandleTable, ReleasedSlotsAreReusedLastReleasedFirstUnderNewIds) {
    HandleTable t;
    int v[3];
    const auto i0 = t.add(&v[0]);
    const auto i1 = t.add(&v[1]);
    t.release(i0);
    t.release(i1);
    const auto j1 = t.add(&v[2]);
    const auto j0 = t.add(&v[2]);
    EXPECT_EQ(HandleTable::IndexOf(j1), HandleTable::IndexOf(i1));
    EXPECT_EQ(HandleTable::IndexOf(j0), HandleTable::IndexOf(i0));
    // The old ids name nothing, though their slots serve again.
    EXPECT_NE(j1, i1);
    EXPECT_EQ(t.get(i1), nullptr);
    EXPECT_EQ(t.get(i0), nullptr);
    EXPECT_EQ(t.getAs<int>(j1), &v[2]);
}

// A thing of another kind, as the store numbers its kinds.
struct Apple {
    static constexpr HandleTable::Kind kHandleKind = 1;
};
struct Pear {
    static constexpr HandleTable::Kind kHandleKind = 2;
};
struct Quince : Apple {};

TEST(HandleTable, ALookUpThatNamesAKindFindsOnlyThatKind) {
    HandleTable t;
    Apple apple;
    Quince quince;
    const auto a = t.add(&apple);
    const auto q = t.add(&quince);
    EXPECT_EQ(t.getAs<Apple>(a), &apple);
    EXPECT_EQ(t.getAs<Pear>(a), nullptr);
    // A kind is inherited, and a look-up of any kind sees every slot.
    EXPECT_EQ(t.getAs<Apple>(q), &quince);
    EXPECT_EQ(t.get(a), &apple);
    int plain = 0;
    const auto p = t.add(&plain);
    EXPECT_EQ(t.getAs<Apple>(p), nullptr);
    EXPECT_EQ(t.getAs<int>(p), &plain);
}

TEST(HandleTable, ASlotWhoseGenerationsAreUsedUpIsRetiredNotWrapped) {
    HandleTable t;
    int x = 0;
    std::vector<HandleTable::Id> ids;
    // One slot serves 256 things in turn: each release moves it on.
    for (uint32_t g = 0; g <= HandleTable::kMaxGeneration; ++g) {
        ids.push_back(t.add(&x));
        ASSERT_EQ(HandleTable::IndexOf(ids.back()), HandleTable::IndexOf(ids.front()));
        ASSERT_EQ(HandleTable::GenerationOf(ids.back()), g);
        t.release(ids.back());
    }
    EXPECT_EQ(t.retiredCount(), 1u);
    // The next thing takes a new slot; no id ever handed out reads it.
    int y = 0;
    const auto fresh = t.add(&y);
    EXPECT_NE(HandleTable::IndexOf(fresh), HandleTable::IndexOf(ids.front()));
    for (HandleTable::Id id : ids) EXPECT_EQ(t.get(id), nullptr);
    EXPECT_EQ(t.getAs<int>(fresh), &y);
    EXPECT_EQ(t.liveCount(), 1u);
}

TEST(HandleTable, AnIdWithIndexZeroIsNullWhateverItsGeneration) {
    HandleTable t;
    int x = 0;
    t.add(&x);
    EXPECT_EQ(t.get(HandleTable::Id(5) << HandleTable::kIndexBits), nullptr);
    t.release(HandleTable::Id(5) << HandleTable::kIndexBits);
    EXPECT_EQ(t.liveCount(), 1u);
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
    // Also once its slot serves another thing.
    const auto next = t.add(&a);
    EXPECT_ASSERTION(t.release(id), "valid handle id");
    EXPECT_EQ(t.getAs<int>(next), &a);
}

}  // namespace
}  // namespace tq
