// A prototype's list of objects as clones come and go: clones leave it from
// any place, the prototype stays last, and a clone that left and came back
// (through a discrimination undone) leaves again when destroyed.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/util/lebytes.h"
#include "tests/store/model/modeltest.h"
#include "tests/store/model/streams.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

class CloneLists : public ModelTest {
protected:
    static std::vector<InterObjRep*> Objects(SignatureRep* s) {
        std::vector<InterObjRep*> out;
        for (size_t i = 0; i < s->objects().length(); ++i) out.push_back(s->objects()[i].get());
        return out;
    }
    // The description indexes of the list, following nothing.
    static std::vector<uint32_t> Indexes(SignatureRep* s) {
        std::vector<uint32_t> out;
        for (size_t i = 0; i < s->objects().length(); ++i) {
            const Faultp<InterObjRep>& r = s->objects()[i];
            out.push_back(r.isDescriptor() ? r.descriptor().descIndex() : r.get()->descriptor().descIndex());
        }
        return out;
    }
};

// A list read from the module file is kept as it was read until it changes
// behind its front: clones made since go in front of what was read, a clone
// read from the file leaves from among the others without taking or moving
// another, a clone made after that goes in front again, and the order is
// what the next save writes and the next read finds.
TEST_F(CloneLists, AListReadFromTheFileKeepsItsOrderAsClonesComeAndGo) {
    ScratchDir dir;
    const std::string path = dir.file("tiles.qbo");
    std::vector<uint32_t> expected;
    uint32_t tileIndex = 0;
    {
        const tModuleIndex m = openModule(path);
        InterObj tile(named("Tile"));
        tileIndex = tile->descriptor().descIndex();
        std::vector<InterObj> c;
        for (int i = 0; i < 6; ++i) c.emplace_back(InterObjRep::NewCopy(*tile, m, IOT_ORDINARY));
        expected = Indexes(tile->signature());
        saveTables(m);
        c.clear();
        tile = nullptr;
        closeModule(m);
    }
    const auto index = [](const InterObj& o) { return o->descriptor().descIndex(); };
    const tModuleIndex m = openModule(path);
    InterObj tile(InterObjRep::fault(tDescriptor::Make(m, tileIndex)));
    ASSERT_NE(tile.get(), nullptr);
    SignatureRep* s = tile->signature();
    ASSERT_EQ(Indexes(s), expected);
    ASSERT_EQ(expected.size(), 7u);

    InterObj first(InterObjRep::NewCopy(*tile, m, IOT_ORDINARY));
    expected.insert(expected.begin(), index(first));
    EXPECT_EQ(Indexes(s), expected);
    EXPECT_EQ(s->protoObject(), tile.get());

    InterObj read(s->objects()[4].get());
    EXPECT_EQ(s->objectIndex(read.get()), 4);
    read->Destroy();
    read = nullptr;
    expected.erase(expected.begin() + 4);
    EXPECT_EQ(Indexes(s), expected);

    InterObj second(InterObjRep::NewCopy(*tile, m, IOT_ORDINARY));
    expected.insert(expected.begin(), index(second));
    EXPECT_EQ(Indexes(s), expected);
    EXPECT_EQ(s->protoObject(), tile.get());

    InterObjRep::DeleteObjects();
    saveTables(m);
    first = second = tile = nullptr;
    closeModule(m);
    tile = InterObjRep::fault(tDescriptor::Make(openModule(path), tileIndex));
    ASSERT_NE(tile.get(), nullptr);
    EXPECT_EQ(Indexes(tile->signature()), expected) << "as saved";
}

// The record's list of objects is what an object read alone is checked
// against: every listed clone reads, and a list that names one object
// twice is refused when the signature is read.
TEST_F(CloneLists, EveryListedCloneReadsAndAListNamingOneTwiceIsRefused) {
    ScratchDir dir;
    const std::string path = dir.file("tiles.qbo");
    std::vector<uint32_t> listed;
    uint32_t tileIndex = 0, signatureIndex = 0;
    {
        const tModuleIndex m = openModule(path);
        InterObj tile(named("Tile"));
        tileIndex = tile->descriptor().descIndex();
        signatureIndex = tile->signature()->descriptor().descIndex();
        std::vector<InterObj> c;
        for (int i = 0; i < 70; ++i) c.emplace_back(InterObjRep::NewCopy(*tile, m, IOT_ORDINARY));
        listed = Indexes(tile->signature());
        saveTables(m);
        c.clear();
        tile = nullptr;
        closeModule(m);
    }
    {
        const tModuleIndex m = openModule(path);
        for (uint32_t i : listed) EXPECT_NE(InterObjRep::fault(tDescriptor::Make(m, i)), nullptr) << "object " << i;
        closeModule(m);
    }
    // The record ends with the list's closing null, the empty list of
    // child signatures, the data size and the end of the events.
    const Span sig = RecordOf(path, "Signatures", signatureIndex);
    const std::vector<uint8_t> record = ReadStream(path, "Signatures");
    const uint32_t last = sig.offset + sig.length - 20;
    ASSERT_EQ(LoadLE32(&record[last + 1]) & tDescriptor::kMaxIndex, listed.back());
    Patch(path, "Signatures", last - 5, std::vector<uint8_t>(record.begin() + last, record.begin() + last + 5));
    const tModuleIndex m = openModule(path);
    const std::string failure = FailureText([&] { InterObjRep::fault(tDescriptor::Make(m, tileIndex)); });
    EXPECT_NE(failure.find("an object is listed twice"), std::string::npos) << failure;
}

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
