// Group: its state, its persistence with a module (also in a fresh process,
// with members in another module), the broadcast policies, and the
// refusals that must leave a group as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <tqcompile/tqcompile.h>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/builtin/igroup.h"
#include "store/errors/extexcep.h"
#include "store/interp/fornext.h"
#include "store/model/interobj.h"
#include "store/model/objval.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "store/vals.h"
#include "tests/store/builtin/builtinfix.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

class Groups : public BuiltinTest {
protected:
    static iGroup& group(const char* path) {
        iGroup* g = iGroup::Of(found(path));
        if (!g) throw std::runtime_error(std::string(path) + " is no group");
        return *g;
    }
    static void append(iGroup& g, const char* name) {
        const InterObj o(found(name));
        g.imAppendObject(&o);
    }
    static std::vector<std::string> names(iGroup& g) {
        std::vector<std::string> out;
        for (int32_t i = 0; i < g.pdGetCount(); ++i) out.push_back(g.imObjectAt(i)->alias());
        return out;
    }

    DefaultStoreApplication app_;
};

const char* const kFruit = R"(Begin Object Fruit
  Dim Name As String
  Function Ping() As Long
    Ping = Len(Name)
  End Function
End Object
Begin Object Apple From Fruit
  .Name = "apple"
End Object
Begin Object Pear From Fruit
  .Name = "pear"
End Object
Begin Object Rock
  Dim Weight As Long
End Object
)";

const char* const kKeeper = R"(Begin Object Keeper
  Dim Basket As New Group
  Dim Loose As New Group
End Object
Begin Object Local From Fruit
  .Name = "local"
End Object
)";

TEST_F(Groups, ANewGroupIsPersistentWithMatchOneAndEmpty) {
    loadText("fruit.tqs", kFruit);
    loadText("keeper.tqs", kKeeper);
    iGroup& g = group("Keeper.Basket");
    EXPECT_EQ(g.pdGetCount(), 0);
    EXPECT_EQ(g.pdGetPersistent(), -1);
    EXPECT_EQ(g.pdGetEvalRequires(), iGroup::kMatchOne);
    EXPECT_EQ(g.pdGetGroupType().get(), nullptr);
    EXPECT_NE(&g, &group("Keeper.Loose")) << "each embedded group has its own part";
}

TEST_F(Groups, IndexesAreCheckedAndAFailureLeavesTheGroupAsItWas) {
    loadText("fruit.tqs", kFruit);
    loadText("keeper.tqs", kKeeper);
    iGroup& g = group("Keeper.Basket");
    append(g, "Apple");
    append(g, "Pear");
    auto rangeText = [](auto&& f) {
        try {
            f();
        } catch (const RangeError& e) {
            return std::string(e.what());
        }
        return std::string("no RangeError");
    };
    EXPECT_EQ(rangeText([&] { g.imObjectAt(2); }), "Invalid object group index: 2.");
    EXPECT_EQ(rangeText([&] { g.imObjectAt(-1); }), "Invalid object group index: -1.");
    EXPECT_EQ(rangeText([&] { g.imRemoveAt(2); }), "Invalid object group index: 2.");
    const InterObj rock(found("Rock"));
    EXPECT_EQ(rangeText([&] { g.imInsertAt(&rock, 3); }), "Invalid object group index: 3.");
    g.imInsertAt(&rock, 2);
    g.imInsertAt(&rock, 0);
    EXPECT_EQ(names(g), (std::vector<std::string>{"Rock", "Apple", "Pear", "Rock"}));
    EXPECT_EQ(g.imObjectIndex(&rock), 0) << "the first that refers to the object";
    EXPECT_EQ(g.imRemoveObject(&rock).get(), rock.get());
    EXPECT_EQ(names(g), (std::vector<std::string>{"Apple", "Pear", "Rock"}));

    // A type that a member does not satisfy is refused and the old one kept.
    const InterObj fruit(found("Fruit"));
    EXPECT_THROW(g.pdSetGroupType(&fruit), TypeMismatch);
    EXPECT_EQ(g.pdGetGroupType().get(), nullptr);
    g.imRemoveObject(&rock);
    g.pdSetGroupType(&fruit);
    EXPECT_EQ(g.pdGetGroupType().get(), fruit.get());
    EXPECT_THROW(g.imAppendObject(&rock), TypeMismatch);
    const InterObj nothing;
    EXPECT_THROW(g.imAppendObject(&nothing), Is_Null);
    g.setLocked(1);
    EXPECT_THROW(g.imClear(), AccessDenied);
    EXPECT_THROW(g.imRemoveAt(0), AccessDenied);
    g.setLocked(0);
    EXPECT_EQ(names(g), (std::vector<std::string>{"Apple", "Pear"}));
}

TEST_F(Groups, ADestroyedMemberLeavesCountAndIndexesButRemoveObjectDoesNotClean) {
    loadText("fruit.tqs", kFruit);
    loadText("keeper.tqs", kKeeper);
    iGroup& g = group("Keeper.Basket");
    append(g, "Apple");
    append(g, "Local");
    append(g, "Pear");
    found("Local")->Destroy();
    const InterObj pear(found("Pear"));
    EXPECT_EQ(g.list().length(), 3u);
    EXPECT_EQ(g.imRemoveObject(&pear).get(), pear.get());
    EXPECT_EQ(g.list().length(), 2u) << "RemoveObject leaves the dead entry";
    EXPECT_EQ(g.pdGetCount(), 1);
    EXPECT_EQ(names(g), (std::vector<std::string>{"Apple"}));
}

TEST_F(Groups, IndexingTheGroupObjectGivesTheMember) {
    loadText("fruit.tqs", kFruit);
    loadText("keeper.tqs", kKeeper);
    InterObjRep* basket = found("Keeper.Basket");
    append(group("Keeper.Basket"), "Pear");
    ValueList args{ValuePtr(new LongValue(0))};
    int handled = 0;
    ValuePtr v = basket->eval(&args, &handled);
    EXPECT_EQ(handled, 1);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->as<InterObj>().get(), found("Pear"));
    ValueList none;
    EXPECT_FALSE(basket->eval(&none, &handled));
    EXPECT_EQ(handled, 1) << "a group answers for itself with any number of arguments";
    ValueList past{ValuePtr(new LongValue(1))};
    EXPECT_THROW(basket->eval(&past, &handled), RangeError);
}

TEST_F(Groups, ABroadcastSucceedsOrFailsAsItsPolicySays) {
    loadText("fruit.tqs", kFruit);
    loadText("keeper.tqs", kKeeper);
    InterObjRep* basket = found("Keeper.Basket");
    iGroup& g = group("Keeper.Basket");
    auto broadcast = [&](int32_t policy) {
        g.pdSetEvalRequires(policy);
        int handled = 0;
        try {
            ValuePtr r = basket->eval("Ping", IDT_UNTYPED, nullptr, nullptr, EVAL_DOTTED, &handled, nullptr);
            return r ? std::string(r->as<ValString>()) : std::string("none");
        } catch (const StoreException& e) {
            return std::string(e.what());
        }
    };
    // Empty.
    EXPECT_EQ(broadcast(iGroup::kMatchOne),
              "At least one group member must be able to evaluate 'Ping'.  No group members were successful.");
    EXPECT_EQ(broadcast(iGroup::kMatchNone), "0");
    EXPECT_EQ(broadcast(iGroup::kMatchAll), "Attempt to evaluate 'Ping' on an empty group.");
    // A member that cannot, then members that can: the last value wins.
    append(g, "Rock");
    EXPECT_EQ(broadcast(iGroup::kMatchOne),
              "At least one group member must be able to evaluate 'Ping'.  No group members were successful.");
    EXPECT_EQ(broadcast(iGroup::kMatchAll),
              "All group members must be able to evaluate 'Ping'.  At least one group member failed.");
    append(g, "Apple");
    append(g, "Pear");
    EXPECT_EQ(broadcast(iGroup::kMatchOne), "4");
    EXPECT_EQ(broadcast(iGroup::kMatchNone), "4");
    EXPECT_EQ(broadcast(iGroup::kMatchAll),
              "All group members must be able to evaluate 'Ping'.  At least one group member failed.");
    // Only a dotted call is broadcast.
    int handled = 1;
    EXPECT_FALSE(basket->eval("Ping", IDT_UNTYPED, nullptr, nullptr, 0, &handled, nullptr));
    EXPECT_EQ(handled, 0);
}

TEST_F(Groups, ForEachWalksACopyOfTheLiveMembers) {
    loadText("fruit.tqs", kFruit);
    loadText("keeper.tqs", kKeeper);
    iGroup& g = group("Keeper.Basket");
    append(g, "Apple");
    append(g, "Pear");
    std::vector<InterObj> members;
    ASSERT_NE(ForNext::groupMembers, nullptr);
    EXPECT_TRUE(ForNext::groupMembers(found("Keeper.Basket"), members));
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[1].get(), found("Pear"));
    members.clear();
    EXPECT_FALSE(ForNext::groupMembers(found("Apple"), members)) << "only a group has members";
}

TEST_F(Groups, StoreQueriesFillAGroupAndRefuseOtherObjects) {
    const tModuleIndex m = loadText("fruit.tqs", kFruit);
    loadText("keeper.tqs", kKeeper);
    InterObj basket(found("Keeper.Basket"));
    EXPECT_EQ(ObjectStore::GetStaticObjects(m, basket, 1), 4);
    EXPECT_EQ(group("Keeper.Basket").imObjectAt(0)->alias(), "Fruit") << "sorted: the prototype first";
    InterObj nothing;
    EXPECT_EQ(ObjectStore::GetStaticObjects(m, nothing, 0), 0);
    InterObj apple(found("Apple"));
    EXPECT_THROW(ObjectStore::GetStaticObjects(m, apple, 0), TypeMismatch);
}

TEST_F(Groups, ARecordOfANewerRevisionIsRefusedAndAnOlderOneMarksItsOwnerChanged) {
    loadText("fruit.tqs", kFruit);
    const tModuleIndex k = loadText("keeper.tqs", kKeeper);
    InterObjRep* basket = found("Keeper.Basket");
    iGroup& g = group("Keeper.Basket");
    auto* storage = new OCLStorage();
    std::unique_ptr<OCLStorage> own(storage);
    OCLStream s(*storage, "Group", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    const uint8_t newer[] = {2, 4, 0, 0, 0xC0, 0x3F, 5, 0, 0, 0xC0, 0x3F, 0x0A};
    s.write(newer, sizeof newer);
    s.seek(0);
    try {
        g.Load(s);
        ADD_FAILURE() << "a newer revision was read";
    } catch (const ObjectLoadFailed& e) {
        EXPECT_STREQ(e.what(), "Unable to load object: Group");
    }
    // Revision 0: no type, no members, MatchAll and not persistent.
    ObjectStore::SaveAs(k, dir_.file("keeper.qbo").c_str(), 0);
    EXPECT_FALSE(ObjectStore::IsDirty(k));
    const uint8_t older[] = {0, 4, 0xFF, 0xFF, 0xFF, 0x3F, 4, 0xFF, 0xFF, 0xFF, 0x3F, 0x04};
    s.seek(0);
    s.write(older, sizeof older);
    s.seek(0);
    g.Load(s);
    EXPECT_EQ(g.pdGetEvalRequires(), iGroup::kMatchAll);
    EXPECT_EQ(g.pdGetPersistent(), 0);
    EXPECT_TRUE(ObjectStore::IsDirty(basket->moduleIndex())) << "an older record is written again";
}

TEST_F(Groups, AGroupSavedWithItsModuleReloadsInAFreshProcessWithMembersOfAnotherModule) {
    if (IsFreshProcess()) {
        ObjectStore::LoadModule(FreshProcessArg("TQ_FRUIT").c_str(), 0, 0);
        ObjectStore::LoadModule(FreshProcessArg("TQ_KEEPER").c_str(), 0, 0);
        iGroup& g = group("Keeper.Basket");
        EXPECT_EQ(names(g), (std::vector<std::string>{"Apple", "Local", "Pear"}));
        EXPECT_EQ(g.pdGetEvalRequires(), iGroup::kMatchAll);
        iGroup& loose = group("Keeper.Loose");
        EXPECT_EQ(loose.pdGetCount(), 0) << "a group that is not persistent saves no members";
        EXPECT_EQ(loose.pdGetPersistent(), 0);
        EXPECT_EQ(loose.pdGetGroupType().get(), found("Fruit"));
        return;
    }
    const tModuleIndex f = loadText("fruit.tqs", kFruit);
    const tModuleIndex k = loadText("keeper.tqs", kKeeper);
    iGroup& g = group("Keeper.Basket");
    append(g, "Apple");
    append(g, "Local");
    append(g, "Pear");
    g.pdSetEvalRequires(iGroup::kMatchAll);
    iGroup& loose = group("Keeper.Loose");
    const InterObj fruit(found("Fruit"));
    loose.pdSetGroupType(&fruit);
    append(loose, "Apple");
    loose.pdSetPersistent(0);
    ObjectStore::SaveAs(f, dir_.file("fruit.qbo").c_str(), 0);
    ObjectStore::SaveAs(k, dir_.file("keeper.qbo").c_str(), 0);
    // The files are open for writing until their modules go.
    ObjectStore::UnloadModule(k);
    ObjectStore::UnloadModule(f);
    EXPECT_EQ(RunInFreshProcess({{"TQ_FRUIT", dir_.file("fruit.qbo")}, {"TQ_KEEPER", dir_.file("keeper.qbo")}}), 0);
}

}  // namespace
}  // namespace tq
