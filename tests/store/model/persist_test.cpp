// Signatures and objects written to their streams and read back: in a fresh
// process with everything intact, and from records spoiled byte by byte.
#include <array>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/classreg.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/errors/extexcep.h"
#include "store/model/fldval.h"
#include "store/model/objiter.h"
#include "store/model/objval.h"
#include "store/model/tarrfld.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/model/modeltest.h"
#include "tests/store/model/streams.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using Persistence = ModelTest;

std::string Indexes(const std::vector<InterObjRep*>& objs) {
    std::ostringstream out;
    for (InterObjRep* o : objs) out << o->descriptor().descIndex() << " ";
    return out.str();
}

std::vector<uint32_t> ParseIndexes(const std::string& text) {
    std::istringstream in(text);
    std::vector<uint32_t> v;
    for (uint32_t i; in >> i;) v.push_back(i);
    return v;
}

InterObjRep* ObjectAt(tModuleIndex m, uint32_t index) { return InterObjRep::fault(tDescriptor::Make(m, index)); }

TEST_F(Persistence, SignaturesAndObjectsReadBackInAFreshProcessAsTheyWereWritten) {
    if (IsFreshProcess()) {
        const tModuleIndex m = openModule(FreshProcessArg("TQ_FILE"));
        const std::vector<uint32_t> idx = ParseIndexes(FreshProcessArg("TQ_OBJECTS"));
        ASSERT_EQ(idx.size(), 7u);
        // The record had bits 0 and 2 set; the reader clears them.
        SignatureRep* read = DescribedObjectNoDescriptor<SignatureRep>::fault(tDescriptor::Make(m, idx[6]));
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->flags() & (SignatureRep::kCompFieldsDefined | SignatureRep::kGuidSourceCached), 0);
        InterObjRep* form = ObjectAt(m, idx[0]);
        InterObjRep* c1 = ObjectAt(m, idx[1]);
        InterObjRep* form2 = ObjectAt(m, idx[2]);
        InterObjRep* c3 = ObjectAt(m, idx[3]);
        InterObjRep* button = ObjectAt(m, idx[4]);
        InterObjRep* embed = ObjectAt(m, idx[5]);
        ASSERT_TRUE(form && c1 && form2 && c3 && button && embed);
        // Names, kinds and the prototype.
        EXPECT_STREQ(form->name(), "Form1");
        EXPECT_STREQ(form2->name(), "Form2");
        EXPECT_TRUE(form->isProto());
        EXPECT_TRUE(c1->isClone());
        EXPECT_EQ(form->signature()->protoObject(), form);
        EXPECT_EQ(Indexes({form->signature()->objects()[0].get(), form->signature()->objects()[1].get()}),
                  FreshProcessArg("TQ_ORDER"));
        // Layout.
        SignatureRep* s = form->signature();
        EXPECT_EQ(s->iDataSize(), 2u + 4 + 4 + 8 + 8 + 5 + 5 + 5);
        EXPECT_EQ(static_cast<DataField*>(s->fields().pvalue("Btn"))->fieldOffset(), 36);
        EXPECT_EQ(form2->signature()->parent(), s);
        EXPECT_EQ(form2->signature()->iDataSize(), s->iDataSize() + 4);
        EXPECT_EQ(c3->signature(), form2->signature());
        EXPECT_EQ(read, s);
        // Values.
        EXPECT_EQ(getLong(c1, "I"), -7);
        EXPECT_EQ(getLong(c1, "L"), 100000);
        ValuePtr f = c1->eval("F");
        EXPECT_EQ(f->as<double>(), 2.5);
        EXPECT_EQ(c1->eval("D")->as<double>(), 1e100);
        EXPECT_EQ(c1->eval("C")->as<Currency>().hundredths(), 1234.0);
        EXPECT_EQ(getText(c1, "S"), "clone text");
        EXPECT_EQ(getText(form, "S"), "proto text");
        EXPECT_EQ(getLong(c3, "Extra"), 33);
        EXPECT_EQ(getText(c3, "S"), "proto text");
        // References and embeds.
        InterObj ref;
        SignatureRep* owner = nullptr;
        s->findField("Ref", owner, 0)->get(ref, *c1, *owner);
        EXPECT_EQ(ref.get(), button);
        InterObj held;
        s->findField("Btn", owner, 0)->get(held, *c1, *owner);
        EXPECT_EQ(held.get(), embed);
        EXPECT_EQ(embed->host(), c1);
        EXPECT_EQ(getText(embed, "Caption"), "embedded");
        EXPECT_TRUE(embed->canBeTreatedAs(button));
        // Things read from the file change and write like any others.
        setText(c1, "S", "changed");
        EXPECT_EQ(getText(c1, "S"), "changed");
        saveTables(m);
        return;
    }
    ScratchDir dir;
    const std::string path = dir.file("round.qbo");
    const tModuleIndex m = openModule(path);
    InterObj button(named("Button"));
    addData(button.get(), "Caption", IDT_STRING);
    InterObj form(named("Form1"));
    addData(form.get(), "I", IDT_SHORT);
    addData(form.get(), "L", IDT_LONG);
    addData(form.get(), "F", IDT_FLOAT);
    addData(form.get(), "D", IDT_DOUBLE);
    addData(form.get(), "C", IDT_CURRENCY);
    addData(form.get(), "S", IDT_STRING);
    form->addField(dataField("Ref", IDT_OBJECT, "Button"));
    form->addField(new EmbedObjField("Btn", "Button"));
    setText(form.get(), "S", "proto text");
    InterObj c1(InterObjRep::NewCopy(*form, m, IOT_DYNAMIC));
    setLong(c1.get(), "I", -7);
    setLong(c1.get(), "L", 100000);
    *c1->eval("F") = SingleValue(2.5f);
    *c1->eval("D") = DoubleValue(1e100);
    *c1->eval("C") = CurrencyValue(Currency(12.34));
    setText(c1.get(), "S", "clone text");
    *c1->eval("Ref") = ObjectValue(button);
    InterObj embed;
    ASSERT_TRUE(ObjectStore::findEmbed(c1.get(), "Btn", embed));
    setText(embed.get(), "Caption", "embedded");
    InterObj form2(InterObjRep::NewNamed("Form2", form.get(), m, IOT_ORDINARY));
    addData(form2.get(), "Extra", IDT_LONG);
    InterObj c3(InterObjRep::NewCopy(*form2, m, IOT_ORDINARY));
    setLong(c3.get(), "Extra", 33);
    SignatureRep* s = form->signature();
    const std::string objects = Indexes({form.get(), c1.get(), form2.get(), c3.get(), button.get(), embed.get()}) +
                                std::to_string(s->descriptor().descIndex());
    const uint32_t sigIndex = s->descriptor().descIndex();
    const std::string order = Indexes({s->objects()[0].get(), s->objects()[1].get()});
    saveTables(m);
    form = nullptr;
    c1 = nullptr;
    form2 = nullptr;
    c3 = nullptr;
    button = nullptr;
    embed = nullptr;
    closeModule(m);
    const Span record = RecordOf(path, "Signatures", sigIndex);
    const uint8_t flags = ReadStream(path, "Signatures")[record.offset];
    Patch(path, "Signatures", record.offset,
          {static_cast<uint8_t>(flags | SignatureRep::kCompFieldsDefined | SignatureRep::kGuidSourceCached)});
    EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", path}, {"TQ_OBJECTS", objects}, {"TQ_ORDER", order}}), 0);
}

// Objects of a compiled class carry the class id as their compiled part,
// between their data and their access control.
TEST_F(Persistence, AnObjectOfACompiledClassWritesItsClassIdAndOlderRecordsWithoutOneStillRead) {
    const GUID kClass = *GUID::Parse("{5A1D0C3E-0B7A-4E51-9C21-7F00D15EA5E1}");
    ClassRegistry::Register("Test.Compiled", kClass, nullptr);
    ScratchDir dir;
    const std::string path = dir.file("compiled.qbo");
    tModuleIndex m = openModule(path);
    InterObj gadget(InterObjRep::NewNamed("Gadget", nullptr, m, IOT_ORDINARY, "Test.Compiled"));
    addData(gadget.get(), "N", IDT_LONG);
    setLong(gadget.get(), "N", 5);
    InterObj copy(InterObjRep::NewCopy(*gadget, m, IOT_DYNAMIC));
    setLong(copy.get(), "N", 6);
    const uint32_t named = gadget->descriptor().descIndex();
    const uint32_t plain = copy->descriptor().descIndex();
    saveTables(m);
    gadget = nullptr;
    copy = nullptr;
    closeModule(m);

    const std::vector<uint8_t> b = ReadStream(path, "Objects");
    const std::array<uint8_t, 16> id = kClass.toBytes();
    // Kind, flags, signature, N; then the class id; then the access control
    // and, for the named one, its name.
    const uint32_t dataEnd = 4 + 1 + 5 + 4;
    for (const auto& [index, tail] : {std::pair{named, 10u}, {plain, 5u}}) {
        const Span r = RecordOf(path, "Objects", index);
        ASSERT_EQ(r.length, dataEnd + 16 + tail) << index;
        EXPECT_EQ(std::memcmp(&b[r.offset + dataEnd], id.data(), 16), 0) << index;
    }
    auto readBack = [&] {
        m = openModule(path);
        EXPECT_EQ(getLong(ObjectAt(m, named), "N"), 5);
        EXPECT_EQ(getLong(ObjectAt(m, plain), "N"), 6);
        closeModule(m);
    };
    readBack();

    // A record written before objects carried their compiled part ends
    // with its access control right after the data.
    const std::vector<uint8_t> array = ReadStream(path, "Objects");
    const uint32_t entries = LoadLE32(&array[4]) + 8;
    for (const auto& [index, tail] : {std::pair{named, 10u}, {plain, 5u}}) {
        const Span r = RecordOf(path, "Objects", index);
        const std::vector<uint8_t> rest(&b[r.offset + dataEnd + 16], &b[r.offset + dataEnd + 16 + tail]);
        Patch(path, "Objects", r.offset + dataEnd, rest);
        Patch(path, "Objects", entries + 13 * index + 9, LE32(dataEnd + tail));
    }
    readBack();

    // A compiled part shorter than a class id is no record this library
    // writes.
    Patch(path, "Objects", entries + 13 * plain + 9, LE32(dataEnd + 8 + 5));
    m = openModule(path);
    EXPECT_NE(FailureText([&] { ObjectAt(m, plain); }).find("compiled part"), std::string::npos);
    closeModule(m);
    ClassRegistry::Unregister(kClass);
}

// A file may name one string from two records while its count says one (a
// count written too small, by an older process or one that wrapped): the
// string stays while any record may still name it.
TEST_F(Persistence, AStringTwoRecordsNameOutlivesTheFirstOneToGo) {
    ScratchDir dir;
    const std::string path = dir.file("shared.qbo");
    tModuleIndex m = openModule(path);
    // Two unnamed prototypes of one layout: a String, then two String
    // elements.
    auto make = [m] {
        InterObj o(InterObjRep::New(m, IOT_ORDINARY));
        addData(o.get(), "S", IDT_STRING);
        InterArrayField* a = InterArrayField::make("A", IDT_STRING, 1, nullptr);
        a->defineBounds(0, 0, 1);
        o->addField(a);
        return o;
    };
    InterObj first = make();
    InterObj second = make();
    setText(first.get(), "S", "shared text");
    *Element(first.get(), "A", 0) = StringValue(ValString("shared element"));
    setText(second.get(), "S", "own text");
    *Element(second.get(), "A", 0) = StringValue(ValString("own element"));
    const uint32_t firstIndex = first->descriptor().descIndex();
    const uint32_t secondIndex = second->descriptor().descIndex();
    saveTables(m);
    first = nullptr;
    second = nullptr;
    closeModule(m);
    // Second's string slots (S, then A(0)) take First's descriptors.
    const std::vector<uint8_t> b = ReadStream(path, "Objects");
    const Span f = RecordOf(path, "Objects", firstIndex);
    const Span s = RecordOf(path, "Objects", secondIndex);
    const uint32_t data = 4 + 1 + 5;
    Patch(path, "Objects", s.offset + data,
          std::vector<uint8_t>(&b[f.offset + data], &b[f.offset + data + 10]));

    m = openModule(path);
    InterObjRep* kept = ObjectAt(m, secondIndex);
    ASSERT_EQ(getText(kept, "S"), "shared text");
    ObjectAt(m, firstIndex)->Destroy();
    InterObjRep::DeleteObjects();
    EXPECT_EQ(getText(kept, "S"), "shared text");
    ValString element;
    Element(kept, "A", 0)->get(element);
    EXPECT_STREQ(static_cast<const char*>(element), "shared element");
    element = ValString();
    saveTables(m);
    closeModule(m);
    m = openModule(path);
    kept = ObjectAt(m, secondIndex);
    EXPECT_EQ(getText(kept, "S"), "shared text");
    Element(kept, "A", 0)->get(element);
    EXPECT_STREQ(static_cast<const char*>(element), "shared element");

    // A string made in this session has a count that is exact: it goes
    // with the last field that held it.
    InterObj temp(InterObjRep::NewCopy(*kept, m, IOT_DYNAMIC));
    setText(temp.get(), "S", "passing");
    SignatureRep* owner = nullptr;
    auto* field = static_cast<DataField*>(kept->signature()->findField("S", owner, 0));
    const tDescriptor d = reinterpret_cast<const ValString*>(temp->data() + field->dataOffset(*owner))->descriptor();
    ASSERT_TRUE(DescribedObjectNoDescriptor<ValStringRep>::objectExists(d));
    temp->Destroy();
    temp = nullptr;
    EXPECT_FALSE(DescribedObjectNoDescriptor<ValStringRep>::objectExists(d));
    element = ValString();
    closeModule(m);
}

// Field records are written and read through one stream of a module. The
// written field stays alive while the read one is used: the name's count
// in the identifier table is the one the written field holds.
class FieldRecords : public ModelTest {
protected:
    Field* roundTrip(Field* f) {
        written_.emplace_back(f);
        const tModuleIndex m = openModule();
        f->attach(m);
        OCLStream s(modules_.back()->storage(), "Fields", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
        {
            ObjectStore::WritingScope writing(m);
            f->write(s);
            s.writeU8(FRK_END);
        }
        s.seek(0);
        Field* back = Field::makeFrom(s, m);
        EXPECT_EQ(Field::makeFrom(s, m), nullptr);
        return back;
    }
    void TearDown() override {
        written_.clear();
        ModelTest::TearDown();
    }
    std::vector<FieldPtr> written_;
};

TEST_F(FieldRecords, ASingleFieldReadsBackWithItsNameFlagsAndOffset) {
    InterDataField* f = InterDataField::make("Ratio", IDT_FLOAT, 1);
    f->setFlags(0x12);
    f->fieldOffset(44);
    FieldPtr back(roundTrip(f));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type(), IDT_FLOAT);
    EXPECT_STREQ(back->name(), "Ratio");
    EXPECT_EQ(back->flags(), 0x12);
    EXPECT_EQ(static_cast<DataField*>(back.get())->fieldOffset(), 44);
    EXPECT_TRUE(static_cast<InterDataField*>(back.get())->match(*f));
}

TEST_F(FieldRecords, EveryInterpretedKindReadsBackAsItsKind) {
    FieldPtr strict(roundTrip(new StrictInterObjField("Target", "Form1")));
    EXPECT_STREQ(strict->typeName(), "Form1");
    EXPECT_NE(dynamic_cast<StrictInterObjField*>(strict.get()), nullptr);
    FieldPtr embed(roundTrip(new EmbedObjField("Inner", "Panel")));
    EXPECT_TRUE(embed->isEmbed());
    FieldPtr objRef(roundTrip(InterDataField::make("R", IDT_OBJECT, 0, "Form1")));
    EXPECT_TRUE(objRef->isByReference());
    EXPECT_STREQ(objRef->typeName(), "Form1");
    FieldPtr money(roundTrip(InterDataField::make("M", IDT_CURRENCY, 0)));
    EXPECT_TRUE(money->isByReference());
    EXPECT_EQ(money->type(), IDT_CURRENCY);
    FieldPtr prop(roundTrip(new TypedInterProcDataField<ValString, IDT_STRING>("Title", "SetTitle", "GetTitle")));
    ASSERT_TRUE(prop->isInterProcDataField());
    EXPECT_STREQ(static_cast<InterProcDataField*>(prop.get())->getName(), "GetTitle");
    EXPECT_STREQ(static_cast<InterProcDataField*>(prop.get())->setName(), "SetTitle");
    EXPECT_EQ(prop->type(), IDT_STRING);
}

TEST_F(FieldRecords, KindsOfOtherPartsGoToTheirRegisteredReaders) {
    // Two kinds no part of the library reads.
    constexpr uint8_t kRegistered = 16;
    constexpr uint8_t kUnread = 17;
    const tModuleIndex m = openModule();
    OCLStream s(modules_.back()->storage(), "Fields", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.writeU8(kRegistered);
    s.writeU8(kUnread);
    s.seek(0);
    static int calls = 0;
    Field::RegisterReader(kRegistered, [](OCLStream&, tModuleIndex, uint8_t kind) -> Field* {
        calls += kind;
        return nullptr;
    });
    EXPECT_EQ(Field::makeFrom(s, m), nullptr);
    EXPECT_EQ(calls, kRegistered);
    Field::RegisterReader(kRegistered, nullptr);
    try {
        Field::makeFrom(s, m);
        ADD_FAILURE();
    } catch (const ObjectLoadFailed& e) {
        EXPECT_STREQ(e.what(), "Unable to load object: field record: kind 17 is not a field kind this library reads");
    }
}

// A module with one prototype and one embedded object, written to a file.
class SpoiltModule : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        path_ = dir_.file("spoilt.qbo");
        const tModuleIndex m = openModule(path_);
        InterObj thing(named("Thing"));
        addData(thing.get(), "N", IDT_LONG);
        addData(thing.get(), "S", IDT_STRING);
        thing->addField(new EmbedObjField("E", nullptr));
        setText(thing.get(), "S", "text");
        InterObj sub(InterObjRep::NewNamed("Derived", thing.get(), m, IOT_ORDINARY));
        addData(sub.get(), "More", IDT_LONG);
        InterObj embed;
        ASSERT_TRUE(ObjectStore::findEmbed(thing.get(), "E", embed));
        thing_ = thing->descriptor().descIndex();
        embed_ = embed->descriptor().descIndex();
        root_ = thing->signature()->descriptor().descIndex();
        child_ = sub->signature()->descriptor().descIndex();
        saveTables(m);
        thing = nullptr;
        sub = nullptr;
        embed = nullptr;
        closeModule(m);
    }

    // Reopens the module and reads the thing and everything it needs.
    void readAll() {
        const tModuleIndex m = openModule(path_);
        InterObjRep* embed = ObjectAt(m, embed_);
        InterObjRep* thing = ObjectAt(m, thing_);
        (void)embed;
        (void)thing;
        DescribedObjectNoDescriptor<SignatureRep>::fault(tDescriptor::Make(m, child_));
    }

    void expectLoadFailure(const std::string& what) {
        try {
            readAll();
            ADD_FAILURE() << "no failure for " << what;
        } catch (const ObjectLoadFailed& e) {
            EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
        }
    }

    ScratchDir dir_;
    std::string path_;
    uint32_t thing_ = 0, embed_ = 0, root_ = 0, child_ = 0;
};

TEST_F(SpoiltModule, ReadsBackWhenNothingIsSpoilt) { EXPECT_NO_THROW(readAll()); }

TEST_F(SpoiltModule, AFieldRecordOfAnUnknownKindFailsTheLoad) {
    const Span sig = RecordOf(path_, "Signatures", root_);
    Patch(path_, "Signatures", sig.offset + 6, {12});
    expectLoadFailure("kind 12 is not a field kind");
}

TEST_F(SpoiltModule, AParentChainThatLoopsFailsTheLoad) {
    const Span sig = RecordOf(path_, "Signatures", root_);
    Patch(path_, "Signatures", sig.offset + 1, Reference(6, tDescriptor::Make(0, child_).raw()));
    expectLoadFailure("refers to itself while it is read");
}

// A record one byte shorter than its signature's data and its own tail
// (the bytes past what it needs are a compiled part, so only a short one
// can disagree).
TEST_F(SpoiltModule, AnObjectWhoseDataSizeDisagreesWithItsSignatureFailsTheLoad) {
    const Span obj = RecordOf(path_, "Objects", thing_);
    const std::vector<uint8_t> array = ReadStream(path_, "Objects");
    const uint32_t entries = LoadLE32(&array[4]) + 8;
    Patch(path_, "Objects", entries + 13 * thing_ + 9, LE32(obj.length - 1));
    expectLoadFailure("Objects entry " + std::to_string(thing_) + ": its data size disagrees with its signature");
}

TEST_F(SpoiltModule, ASignatureWhoseDataSizeIsNotItsParentsAndItsFieldsFailsTheLoad) {
    const Span sig = RecordOf(path_, "Signatures", root_);
    const std::vector<uint8_t> b = ReadStream(path_, "Signatures");
    const uint32_t size = LoadLE32(&b[sig.offset + sig.length - 5]);
    Patch(path_, "Signatures", sig.offset + sig.length - 5, LE32(size + 4));
    expectLoadFailure("Signatures entry " + std::to_string(root_) +
                      ": its data size is not its parent's and its own fields'");
}

// A Long field turned Short leaves two bytes of the section to no field:
// every object still matches the size, and moving fields to another
// signature later (a parent subsumed) would find the sizes disagree.
TEST_F(SpoiltModule, AChildSignatureWhoseFieldsLeaveAGapInItsSectionFailsTheLoad) {
    const Span sig = RecordOf(path_, "Signatures", child_);
    const std::vector<uint8_t> b = ReadStream(path_, "Signatures");
    ASSERT_EQ(b[sig.offset + 6], FRK_DATA);
    ASSERT_EQ(b[sig.offset + 7], IDT_LONG);
    Patch(path_, "Signatures", sig.offset + 7, {IDT_SHORT});
    expectLoadFailure("Signatures entry " + std::to_string(child_) +
                      ": its data size is not its parent's and its own fields'");
}

TEST_F(SpoiltModule, AnEmbedWhoseHostChainLoopsFailsTheLoad) {
    const Span obj = RecordOf(path_, "Objects", embed_);
    Patch(path_, "Objects", obj.offset + obj.length - 5, Reference(0x04, tDescriptor::Make(0, embed_).raw()));
    expectLoadFailure("refers to itself while it is read");
}

TEST_F(SpoiltModule, ANameReferenceToAMissingIdentifierFailsTheLoad) {
    const Span sig = RecordOf(path_, "Signatures", root_);
    Patch(path_, "Signatures", sig.offset + 8, Reference(0x06, tDescriptor::Make(0, 0x3FFF00).raw()));
    expectLoadFailure("name is not in the module");
}

TEST_F(SpoiltModule, ANameReferenceOfAnotherKindFailsTheLoad) {
    const Span sig = RecordOf(path_, "Signatures", root_);
    // An indirect reference to a name: names are only ever held directly.
    Patch(path_, "Signatures", sig.offset + 8, {0x07});
    expectLoadFailure("name is not in the module");
}

TEST_F(SpoiltModule, AnObjectRecordOfAnUnknownKindFailsTheLoad) {
    const Span obj = RecordOf(path_, "Objects", thing_);
    Patch(path_, "Objects", obj.offset, {9, 0, 0, 0});
    expectLoadFailure("Illegal Object Discriminant");
}

TEST_F(SpoiltModule, AReferenceInTheDataThatIsNotACountedDescriptorFailsTheLoad) {
    const Span obj = RecordOf(path_, "Objects", thing_);
    // Kind, flags, signature, then N (4 bytes) and the string slot.
    Patch(path_, "Objects", obj.offset + 4 + 1 + 5 + 4, {0x01});
    expectLoadFailure("reference in its data is not sound");
}

TEST_F(SpoiltModule, FieldsThatOverlapFailTheLoad) {
    const Span sig = RecordOf(path_, "Signatures", root_);
    // The first field (N, kind 2) gets offset 2, into the string after it.
    std::vector<uint8_t> offset(4);
    StoreLE32(offset.data(), 2);
    Patch(path_, "Signatures", sig.offset + 6 + 1 + 1 + 5 + 1, offset);
    expectLoadFailure("overlap");
}

}  // namespace
}  // namespace tq
