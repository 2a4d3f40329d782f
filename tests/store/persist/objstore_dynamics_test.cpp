// The module's list of dynamic objects when objects leave it from any
// place: what stays keeps its order in the module file, entries read from
// the file stay unfollowed until asked for, and objects read from the file
// leave the list as surely as objects made in this session.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

class DynamicObjects : public ModuleStoreTest {
protected:
    // The description indexes the list names, in list order, without
    // following an entry.
    static std::vector<uint32_t> Listed(tModuleIndex m) {
        std::vector<uint32_t> out;
        DynamicObjectList& list = ObjectStore::DynamicsList(m);
        for (size_t i = 0; i < list.length(); ++i) {
            const Faultp<InterObjRep>& r = list[i];
            out.push_back(r.isDescriptor() ? r.descriptor().descIndex() : r.get()->descriptor().descIndex());
        }
        return out;
    }

    // The dynamic objects as the module file lists them: the references
    // after the static objects, up to the null reference (description indexes).
    static std::vector<uint32_t> Written(const std::string& path) {
        const std::vector<uint8_t> bytes = StreamBytes(path, "Static globals");
        std::vector<uint32_t> out;
        const uint32_t statics = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t(bytes[7]) << 24;
        for (size_t at = 8 + statics * 10;; at += 5) {
            const uint32_t raw =
                bytes[at + 1] | bytes[at + 2] << 8 | bytes[at + 3] << 16 | uint32_t(bytes[at + 4]) << 24;
            if (raw == 0x3FFFFFFF) return out;
            out.push_back(tDescriptor(raw).descIndex());
        }
    }

    static void SaveAndCommit(tModuleIndex m) {
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
    }

    static void Unload(tModuleIndex m) {
        ObjectStore::UnloadModule(m);
        InterObjRep::DeleteObjects();
    }
};

TEST_F(DynamicObjects, ObjectsLeaveFromTheEndsAndTheMiddleAndTheRestKeepTheirOrderInTheFile) {
    const std::string path = file("sprites.qbo");
    const tModuleIndex m = load(path);
    InterObj proto(named("Sprite", m));
    std::vector<InterObj> made;
    std::vector<uint32_t> descs;
    for (int i = 0; i < 7; ++i) {
        made.emplace_back(InterObjRep::NewCopy(*proto, m, IOT_DYNAMIC));
        descs.push_back(made.back()->descriptor().descIndex());
    }
    made[0]->Destroy();  // the oldest
    made[6]->Destroy();  // the newest
    made[3]->Destroy();  // the middle
    made[1]->Destroy();  // next to the front
    const std::vector<uint32_t> kept = {descs[2], descs[4], descs[5]};
    EXPECT_EQ(Listed(m), kept);
    for (int i : {0, 6, 3, 1}) EXPECT_EQ(proto->signature()->objectIndex(made[i].get()), -1);

    SaveAndCommit(m);
    EXPECT_EQ(Written(path), kept);
    made.clear();
    proto = nullptr;
    Unload(m);

    // Read back: the same order, and no object read to know it.
    const size_t before = InterObjRep::LiveCount();
    const tModuleIndex again = load(path, 0);
    EXPECT_EQ(Listed(again), kept);
    EXPECT_EQ(InterObjRep::LiveCount(), before);
}

TEST_F(DynamicObjects, AnObjectReadFromTheFileLeavesTheListWhenDestroyedOrMovedAndNewOnesGoAtTheEnd) {
    const std::string path = file("read.qbo");
    std::vector<uint32_t> descs;
    {
        const tModuleIndex m = load(path);
        InterObj proto(named("Sprite", m));
        InterObj clone(InterObjRep::NewCopy(*proto, m, IOT_ORDINARY));
        descs.push_back(clone->descriptor().descIndex());
        for (int i = 0; i < 4; ++i) {
            InterObj o(InterObjRep::NewCopy(*proto, m, IOT_DYNAMIC));
            descs.push_back(o->descriptor().descIndex());
        }
        SaveAndCommit(m);
        proto = nullptr;
        clone = nullptr;
        Unload(m);
    }
    const tModuleIndex m = load(path, 0);
    const tModuleIndex other = load(file("other.qbo"));
    const std::vector<uint32_t> all(descs.begin() + 1, descs.end());
    ASSERT_EQ(Listed(m), all);

    // An ordinary clone is on no list of dynamic objects: destroying it
    // leaves the list as it was.
    InterObj(InterObjRep::fault(tDescriptor::Make(m, descs[0])))->Destroy();
    EXPECT_EQ(Listed(m), all);

    // The list's entries are still descriptors: each object read now is
    // found by its descriptor.
    InterObj middle(InterObjRep::fault(tDescriptor::Make(m, descs[2])));
    InterObj last(InterObjRep::fault(tDescriptor::Make(m, descs[4])));
    ASSERT_TRUE(middle && last);
    middle->Destroy();
    EXPECT_EQ(Listed(m), (std::vector<uint32_t>{descs[1], descs[3], descs[4]}));
    last->AttachToModule(other);
    EXPECT_EQ(Listed(m), (std::vector<uint32_t>{descs[1], descs[3]}));
    EXPECT_EQ(Listed(other), (std::vector<uint32_t>{last->descriptor().descIndex()}));
    EXPECT_TRUE(ObjectStore::isListedDynamic(*last, other));

    InterObj proto(found("Sprite"));
    InterObj fresh(InterObjRep::NewCopy(*proto, m, IOT_DYNAMIC));
    const std::vector<uint32_t> now = {descs[1], descs[3], fresh->descriptor().descIndex()};
    EXPECT_EQ(Listed(m), now);
    SaveAndCommit(m);
    EXPECT_EQ(Written(path), now);
}

TEST_F(DynamicObjects, AnObjectMadeAgainUnderTheDescriptorOfOneThatLeftIsListedOnce) {
    const std::string path = file("reuse.qbo");
    const tModuleIndex m = load(path);
    InterObj proto(named("Sprite", m));
    InterObj first(InterObjRep::NewCopy(*proto, m, IOT_DYNAMIC));
    SaveAndCommit(m);
    first = nullptr;
    proto = nullptr;
    Unload(m);

    const tModuleIndex again = load(path, 0);
    ASSERT_EQ(ObjectStore::DynamicCount(again), 1);
    InterObj gone(ObjectStore::DynamicsList(again)[0].get());
    gone->Destroy();
    gone = nullptr;
    InterObjRep::DeleteObjects();
    EXPECT_EQ(ObjectStore::DynamicCount(again), 0);
    // Whatever descriptor the next object gets, the list names it once and
    // letting it go empties the list.
    InterObj next(InterObjRep::NewCopy(*found("Sprite"), again, IOT_DYNAMIC));
    EXPECT_EQ(ObjectStore::DynamicCount(again), 1);
    next->Destroy();
    EXPECT_EQ(ObjectStore::DynamicCount(again), 0);
}

}  // namespace
}  // namespace tq::test
