// A prototype's list of objects as clones come and go: clones leave it from
// any place, the prototype stays last, and a clone that left and came back
// (through a discrimination undone) leaves again when destroyed.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
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
    // A module file of a prototype "Tile" with `clones` clones, saved half
    // way too, so that the record's first copy lies dead before it and a
    // compaction moves it. With kManyClones the list takes more bytes than
    // a record read whole: in a module read on demand it stays in the file
    // until used.
    static constexpr int kManyClones = 1000;
    struct Tiles {
        uint32_t tile = 0;
        uint32_t signature = 0;
        std::vector<uint32_t> listed;
    };
    Tiles makeTiles(const std::string& path, int clones) {
        Tiles made;
        const tModuleIndex m = openModule(path);
        InterObj tile(named("Tile"));
        made.tile = tile->descriptor().descIndex();
        made.signature = tile->signature()->descriptor().descIndex();
        std::vector<InterObj> c;
        for (int i = 0; i < clones; ++i) {
            c.emplace_back(InterObjRep::NewCopy(*tile, m, IOT_ORDINARY));
            if (i == clones / 2) saveTables(m);
        }
        made.listed = Indexes(tile->signature());
        saveTables(m);
        c.clear();
        tile = nullptr;
        closeModule(m);
        return made;
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
    const Tiles made = makeTiles(path, 6);
    std::vector<uint32_t> expected = made.listed;
    const uint32_t tileIndex = made.tile;
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
    const Tiles made = makeTiles(path, 70);
    const std::vector<uint32_t>& listed = made.listed;
    const uint32_t tileIndex = made.tile, signatureIndex = made.signature;
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

// What a session does to a long list while it is still in the file (the
// prototype asked for, clones made in front, clones read alone and
// destroyed) is what the list holds when it is taken in, in the same
// session or after a save.
TEST_F(CloneLists, ALongListStaysInTheFileUntilUsedAndEndsAsAListReadWhole) {
    struct Case {
        const char* what;
        int made;                     // clones made in front
        std::vector<size_t> destroyed;  // positions in the file's list of clones read alone and destroyed
        bool listUsed;                // the list taken in before the save
        bool compacted = false;       // the stream compacted, moving the record, before that
    };
    const std::vector<Case> cases = {
        {"the prototype asked for", 0, {}, false},
        {"clones made in front", 2, {}, false},
        {"clones read alone and destroyed", 0, {500, 0, kManyClones - 1}, false},
        {"both, and the list used", 1, {10, 11}, true},
        {"the record moved by a compaction, then the list used", 0, {}, true, true},
    };
    ScratchDir dir;
    const std::string base = dir.file("tiles.qbo");
    const Tiles made = makeTiles(base, kManyClones);
    ASSERT_EQ(made.listed.size(), size_t{kManyClones + 1});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("case.qbo");
        std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
        std::vector<uint32_t> expected = made.listed;
        {
            const tModuleIndex m = openModule(path);
            InterObj tile(InterObjRep::fault(tDescriptor::Make(m, made.tile)));
            ASSERT_NE(tile.get(), nullptr);
            SignatureRep* s = tile->signature();
            EXPECT_EQ(s->protoObject(), tile.get());
            std::vector<InterObj> kept;
            for (int i = 0; i < c.made; ++i) {
                kept.emplace_back(InterObjRep::NewCopy(*tile, m, IOT_ORDINARY));
                expected.insert(expected.begin(), kept.back()->descriptor().descIndex());
            }
            for (const size_t at : c.destroyed) {
                const uint32_t index = made.listed[at];
                InterObj clone(InterObjRep::fault(tDescriptor::Make(m, index)));
                ASSERT_NE(clone.get(), nullptr);
                clone->Destroy();
                expected.erase(std::find(expected.begin(), expected.end(), index));
            }
            if (c.compacted) {
                const auto offset = [&] {
                    return DescribedObjectNoDescriptor<SignatureRep>::objectDescription(s->descriptor())->offset();
                };
                const uint32_t before = offset();
                ObjectStore::Compact(m);
                ASSERT_LT(offset(), before) << "the record did not move";
            }
            EXPECT_FALSE(s->listsInMemory()) << "a step took the list in";
            EXPECT_EQ(s->protoObject(), tile.get());
            if (c.listUsed) {
                EXPECT_EQ(Indexes(s), expected);
                EXPECT_TRUE(s->listsInMemory());
            }
            InterObjRep::DeleteObjects();
            saveTables(m);
            kept.clear();
            tile = nullptr;
            closeModule(m);
        }
        const tModuleIndex m = openModule(path);
        InterObj tile(InterObjRep::fault(tDescriptor::Make(m, made.tile)));
        ASSERT_NE(tile.get(), nullptr);
        EXPECT_EQ(Indexes(tile->signature()), expected) << "as saved";
        tile = nullptr;
        closeModule(m);
    }
}

// A long list in a forged file (sound bytes, impossible list) opens, and
// a clone it does not name reads alone; the list is refused where it is
// first used, each time, and a save that would write it is refused before
// any byte of the record is written.
TEST_F(CloneLists, ALongListInTheFileIsCheckedWhenFirstUsedAndADamagedOneIsNeverSaved) {
    ScratchDir dir;
    const std::string base = dir.file("tiles.qbo");
    const Tiles made = makeTiles(base, kManyClones);
    const Span sig = RecordOf(base, "Signatures", made.signature);
    const std::vector<uint8_t> record = ReadStream(base, "Signatures");
    // The list's entries end 20 bytes before the record does (the closing
    // nulls, the data size, the end of the events); entry 1 is 10 before.
    const uint32_t first = sig.offset + sig.length - 15 - 5 * uint32_t(made.listed.size());
    const auto entryAt = [&](size_t k) { return first + 5 * static_cast<uint32_t>(k); };
    ASSERT_EQ(LoadLE32(&record[entryAt(0) + 1]) & tDescriptor::kMaxIndex, made.listed[0]);
    const uint32_t dropped = made.listed[700];
    struct Case {
        const char* what;
        uint32_t at;
        std::vector<uint8_t> bytes;
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {"an object listed twice", entryAt(301),
         std::vector<uint8_t>(record.begin() + entryAt(300), record.begin() + entryAt(301)),
         "an object is listed twice"},
        {"a reference that is not sound", entryAt(450), {0x05}, "a reference in its list of objects is not sound"},
        {"a clone the list does not name", entryAt(700) + 1, LE32(0x3000),
         "Objects entry " + std::to_string(dropped) + ": it is not among its signature's objects"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("forged.qbo");
        std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
        Forge(path, "Signatures", c.at, c.bytes);
        const std::vector<uint8_t> forged = ReadStream(path, "Signatures");
        {
            const tModuleIndex m = openModule(path);
            InterObj tile(InterObjRep::fault(tDescriptor::Make(m, made.tile)));
            ASSERT_NE(tile.get(), nullptr);
            InterObj alone(InterObjRep::fault(tDescriptor::Make(m, dropped)));
            ASSERT_NE(alone.get(), nullptr);
            SignatureRep* s = tile->signature();
            for (int attempt = 0; attempt < 2; ++attempt) {
                const std::string failure = FailureText([&] { (void)s->objects(); });
                EXPECT_NE(failure.find(c.refusal), std::string::npos) << failure;
            }
            EXPECT_FALSE(s->listsInMemory());
            InterObj fresh;
            const std::string making = FailureText([&] { fresh = InterObjRep::NewCopy(*tile, m, IOT_ORDINARY); });
            EXPECT_NE(FailureText([&] { saveTables(m); }), "no failure") << making;
            fresh = alone = tile = nullptr;
            InterObjRep::DeleteObjects();
            closeModule(m);
        }
        EXPECT_EQ(ReadStream(path, "Signatures"), forged) << "the save wrote over the damage";
    }
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
