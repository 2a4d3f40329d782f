// A prototype's list of objects as clones come and go: clones leave it from
// any place, the prototype stays last, and a clone that left and came back
// (through a discrimination undone) leaves again when destroyed.
#include <vector>

#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

class CloneLists : public ModelTest {
protected:
    static std::vector<InterObjRep*> Objects(SignatureRep* s) {
        std::vector<InterObjRep*> out;
        for (size_t i = 0; i < s->objects().length(); ++i) out.push_back(s->objects()[i].get());
        return out;
    }
};

TEST_F(CloneLists, ClonesLeaveFromAnyPlaceAndThePrototypeStaysLast) {
    InterObj tile(named("Tile"));
    addData(tile.get(), "X", IDT_LONG);
    std::vector<InterObj> c;
    for (int i = 0; i < 6; ++i) c.emplace_back(InterObjRep::NewCopy(*tile, DETACHED_MODULE, IOT_ORDINARY));
    SignatureRep* s = tile->signature();
    // The newest clone goes in front.
    ASSERT_EQ(Objects(s), (std::vector<InterObjRep*>{c[5].get(), c[4].get(), c[3].get(), c[2].get(), c[1].get(),
                                                     c[0].get(), tile.get()}));
    c[0]->Destroy();  // next to the prototype
    c[5]->Destroy();  // in front
    c[2]->Destroy();  // in the middle
    EXPECT_EQ(Objects(s), (std::vector<InterObjRep*>{c[4].get(), c[3].get(), c[1].get(), tile.get()}));
    EXPECT_EQ(s->protoObject(), tile.get());
    EXPECT_EQ(s->objectIndex(c[1].get()), 2);
    EXPECT_EQ(s->objectIndex(c[2].get()), -1);

    // Discriminated and undone, c[3] returns to its place; destroying it
    // then takes it off again.
    c[3]->discriminateClone();
    EXPECT_EQ(s->objectIndex(c[3].get()), -1);
    c[3]->undiscriminateProto();
    EXPECT_EQ(Objects(s), (std::vector<InterObjRep*>{c[4].get(), c[3].get(), c[1].get(), tile.get()}));
    c[3]->Destroy();
    EXPECT_EQ(Objects(s), (std::vector<InterObjRep*>{c[4].get(), c[1].get(), tile.get()}));
    c.clear();
    InterObjRep::DeleteObjects();
}

TEST_F(CloneLists, ADetachedDynamicCloneReleasedLeavesBothListsWhereverItStands) {
    InterObj form(named("Form1"));
    std::vector<InterObj> held;
    for (int i = 0; i < 5; ++i) held.emplace_back(InterObjRep::NewCopy(*form, DETACHED_MODULE, IOT_DYNAMIC));
    std::vector<InterObjRep*> raw;
    for (InterObj& o : held) raw.push_back(o.get());
    held[2] = nullptr;
    held[0] = nullptr;
    held[4] = nullptr;
    EXPECT_EQ(ObjectStore::DynamicCount(DETACHED_MODULE), 2);
    DynamicObjectList& list = ObjectStore::DynamicsList(DETACHED_MODULE);
    EXPECT_EQ(list[0].get(), raw[1]);
    EXPECT_EQ(list[1].get(), raw[3]);
    EXPECT_EQ(Objects(form->signature()), (std::vector<InterObjRep*>{raw[3], raw[1], form.get()}));
    held.clear();
    EXPECT_EQ(ObjectStore::DynamicCount(DETACHED_MODULE), 0);
    InterObjRep::DeleteObjects();
}

}  // namespace
}  // namespace tq
