// Enumerations, event definitions and arrays in module files: written with
// their signatures and objects and read back in a fresh process, the array
// record byte by byte, and records spoilt byte by byte.
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/arfldval.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/objval.h"
#include "store/model/tarrfld.h"
#include "tests/store/model/modeltest.h"
#include "tests/store/model/streams.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

using ModuleRecords = ModelTest;

std::string Text(const ValuePtr& v) {
    const ValString s = v->as<ValString>();
    const char* c = s;
    return c ? c : "";
}

// The bytes of o's array `name`, as hex.
std::string ArrayHex(InterObjRep* o, const char* name) {
    SignatureRep* owner = nullptr;
    auto* a = static_cast<DataField*>(o->signature()->findField(name, owner, 0));
    const uint8_t* at = o->data() + a->dataOffset(*owner);
    std::ostringstream out;
    for (int32_t i = 0; i < a->size(); ++i) out << std::hex << int(at[i] >> 4) << int(at[i] & 15);
    return out.str();
}

InterArrayField* Array(const char* name, IdType t, std::initializer_list<std::pair<int32_t, int32_t>> bounds,
                       const char* typeName = nullptr) {
    InterArrayField* a = InterArrayField::make(name, t, static_cast<int32_t>(bounds.size()), typeName);
    int32_t i = 0;
    for (const auto& [lower, upper] : bounds) a->defineBounds(i++, lower, upper);
    return a;
}

TEST_F(ModuleRecords, EnumerationsEventsAndArraysReadBackInAFreshProcessAsTheyWereWritten) {
    if (IsFreshProcess()) {
        const tModuleIndex m = openModule(FreshProcessArg("TQ_FILE"));
        std::istringstream idx(FreshProcessArg("TQ_OBJECTS"));
        uint32_t formIndex = 0, cloneIndex = 0, targetIndex = 0;
        idx >> formIndex >> cloneIndex >> targetIndex;
        InterObjRep* form = InterObjRep::fault(tDescriptor::Make(m, formIndex));
        InterObjRep* clone = InterObjRep::fault(tDescriptor::Make(m, cloneIndex));
        InterObjRep* target = InterObjRep::fault(tDescriptor::Make(m, targetIndex));
        ASSERT_TRUE(form && clone && target);
        if (FreshProcessArg("TQ_PASS") == "2") {
            // What the first reader changed and saved.
            EXPECT_EQ(Text(Element(clone, "Names", {2})), "late");
            EXPECT_EQ(static_cast<InterArrayField*>(clone->findField("Grid"))->getUBound(0), 4);
            EXPECT_EQ(Element(clone, "Grid", {2, 1})->as<int32_t>(), -5);
            EXPECT_EQ(Element(clone, "Grid", {4, 2})->as<int32_t>(), 0);
            return;
        }

        // The enumeration, through the field that refers to it.
        Field* colour = form->findField("Colour");
        ASSERT_TRUE(colour && colour->isEnumeration());
        EnumRep* colours = colour->enumeration();
        ASSERT_NE(colours, nullptr);
        EXPECT_EQ(EnumRep::find("COLOURS"), colours);
        EXPECT_STREQ(colours->name(), "Colours");
        EXPECT_TRUE(colours->displayFlag());
        ASSERT_EQ(colours->count(), 3);
        EXPECT_STREQ(colours->entry(0), "4 - Blue");
        EXPECT_STREQ(colours->entry(1), "1 - Red");
        EXPECT_STREQ(colours->entry(2), "-2 - Green");
        EXPECT_EQ(Text(form->eval("Colour")), "-2 - Green");
        EXPECT_EQ(Text(clone->eval("Colour")), "4 - Blue");
        EXPECT_EQ(form->findField("ColourRef")->enumeration(), colours);
        EXPECT_TRUE(form->findField("ColourRef")->isByReference());
        auto* shade = dynamic_cast<InterProcEnumField*>(form->findField("Shade"));
        ASSERT_NE(shade, nullptr);
        EXPECT_EQ(shade->enumeration(), colours);
        EXPECT_STREQ(shade->getName(), "GetShade");

        // Event definitions.
        SignatureRep* s = form->signature();
        ASSERT_EQ(s->events().length(), 2u);
        EXPECT_STREQ(s->events().at(0)->name(), "Click");
        EXPECT_EQ(s->events().at(1)->args(), "(x As Long)");
        EXPECT_EQ(s->events().at(1)->returnsValue(), 1);

        // Arrays: shapes, element bytes, texts and references.
        EXPECT_EQ(ArrayHex(clone, "Grid"), FreshProcessArg("TQ_GRID"));
        EXPECT_EQ(ArrayHex(clone, "Amounts"), FreshProcessArg("TQ_AMOUNTS"));
        EXPECT_EQ(Element(clone, "Grid", {2, 1})->as<int32_t>(), -5);
        EXPECT_EQ(Element(clone, "Amounts", {1})->as<Currency>().hundredths(), 1234.0);
        EXPECT_EQ(Text(Element(form, "Names", {0})), "proto name");
        EXPECT_EQ(Text(Element(clone, "Names", {0})), "proto name");
        EXPECT_EQ(Text(Element(clone, "Names", {1})), "clone name");
        EXPECT_EQ(Text(Element(clone, "Names", {2})), "");
        InterObj held;
        Element(clone, "Items", {0})->get(held);
        EXPECT_EQ(held.get(), target);
        Element(clone, "Items", {1})->get(held);
        EXPECT_TRUE(held.isNull());
        Element(clone, "Targets", {0})->get(held);
        EXPECT_EQ(held.get(), target);
        std::string decl;
        form->findField("Targets")->declarationText(decl, nullptr);
        EXPECT_EQ(decl, "Dim Targets(0) As Target");
        decl.clear();
        form->findField("Grid")->declarationText(decl, nullptr);
        EXPECT_EQ(decl, "Dim Grid(1 To 2, 2) As Integer");
        EXPECT_EQ(static_cast<InterArrayField*>(form->findField("Empty"))->dimensions(), 0);
        EXPECT_EQ(form->findField("Param")->type(), IDT_LONG | IDT_ARRAY);
        // What was read changes and saves like anything else.
        *Element(clone, "Names", {2}) = StringValue(ValString("late"));
        InterArrayField* grid = static_cast<InterArrayField*>(form->findField("Grid"))->redimCopy(2);
        grid->defineBounds(0, 1, 4);
        grid->defineBounds(1, 0, 2);
        form->redimArrayField(*form->signature(), grid, 1);
        saveTables(m);
        return;
    }
    ScratchDir dir;
    const std::string path = dir.file("records.qbo");
    const tModuleIndex m = openModule(path);
    EnumRep* colours = new EnumRep("Colours", 1);
    colours->addEntry("Blue", 4);
    colours->addEntry("Red", 1);
    colours->addEntry("Green", -2);
    InterObj target(named("Target"));
    InterObj form(named("Form1"));
    form->addEventDef(new EventDef("Click", 0, "()", 1));
    form->addEventDef(new EventDef("Query", 1, "(x As Long)", 1));
    form->addEventDef(new EventDef("Unsaved", 0, "()", 0));
    form->addField(InterEnumField::make("Colour", colours, 1));
    form->addField(InterEnumField::make("ColourRef", colours, 0));
    form->addField(new InterProcEnumField("Shade", "SetShade", "GetShade", colours));
    form->addField(Array("Grid", IDT_SHORT, {{1, 2}, {0, 2}}));
    form->addField(Array("Amounts", IDT_CURRENCY, {{0, 1}}));
    form->addField(Array("Names", IDT_STRING, {{0, 2}}));
    form->addField(Array("Items", IDT_OBJECT, {{0, 1}}));
    form->addField(Array("Targets", IDT_OBJECT, {{0, 0}}, "Target"));
    form->addField(InterArrayField::make("Empty", IDT_DOUBLE, 0));
    form->addField(new ArrayReferenceField("Param", IDT_LONG));
    setText(form.get(), "Colour", "Green");
    *Element(form.get(), "Names", {0}) = StringValue(ValString("proto name"));
    InterObj clone(InterObjRep::NewCopy(*form, m, IOT_DYNAMIC));
    setText(clone.get(), "Colour", "Blue");
    *Element(clone.get(), "Grid", {2, 1}) = IntegerValue(-5);
    *Element(clone.get(), "Grid", {1, 0}) = IntegerValue(0x1234);
    *Element(clone.get(), "Amounts", {1}) = CurrencyValue(Currency(12.34));
    *Element(clone.get(), "Names", {1}) = StringValue(ValString("clone name"));
    *Element(clone.get(), "Items", {0}) = ObjectValue(target);
    *Element(clone.get(), "Targets", {0}) = ObjectValue(target);
    const std::string objects = std::to_string(form->descriptor().descIndex()) + " " +
                                std::to_string(clone->descriptor().descIndex()) + " " +
                                std::to_string(target->descriptor().descIndex());
    const std::string grid = ArrayHex(clone.get(), "Grid");
    const std::string amounts = ArrayHex(clone.get(), "Amounts");
    saveTables(m);
    form = nullptr;
    clone = nullptr;
    target = nullptr;
    closeModule(m);
    std::vector<std::pair<std::string, std::string>> env{
        {"TQ_FILE", path}, {"TQ_OBJECTS", objects}, {"TQ_GRID", grid}, {"TQ_AMOUNTS", amounts}};
    EXPECT_EQ(RunInFreshProcess(env), 0);
    // The child changed and saved what it read: a second fresh process reads
    // that (the array it resized, the text it set).
    env.emplace_back("TQ_PASS", "2");
    EXPECT_EQ(RunInFreshProcess(env), 0);
}

TEST_F(ModuleRecords, AnArrayRecordHoldsItsDimensionsAfterTheCommonItems) {
    const tModuleIndex m = openModule();
    FieldPtr written(Array("G", IDT_LONG, {{-1, 0}, {0, 2}}));
    written->attach(m);
    static_cast<DataField*>(written.get())->fieldOffset(8);
    OCLStream s(modules_.back()->storage(), "Fields", 1, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    {
        ObjectStore::WritingScope writing(m);
        written->write(s);
    }
    std::vector<uint8_t> b(s.size());
    s.seek(0);
    s.read(b.data(), b.size());
    const std::vector<uint8_t> tail{8, 0, 0, 0,  2, 0, 0, 0,  0xFF, 0xFF, 0xFF, 0xFF,  0, 0, 0, 0,
                                    12, 0, 0, 0, 0, 0, 0, 0,  2, 0, 0, 0,  4, 0, 0, 0};
    ASSERT_EQ(b.size(), 2 + 5 + 1 + tail.size());
    EXPECT_EQ(b[0], FRK_ARRAY);
    EXPECT_EQ(b[1], IDT_LONG);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 8, b.end()), tail);
    s.seek(0);
    FieldPtr back(Field::makeFrom(s, m));
    auto* a = dynamic_cast<InterArray<int32_t, IDT_LONG>*>(back.get());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getLBound(0), -1);
    EXPECT_EQ(a->stride(0), 12);
    EXPECT_EQ(a->size(), 24);
    EXPECT_TRUE(a->isLaidOut());
}

// A module with an array, an enumeration field and the enumeration, whose
// records the tests spoil one at a time.
class SpoiltRecords : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        path_ = dir_.file("spoilt.qbo");
        const tModuleIndex m = openModule(path_);
        EnumRep* e = new EnumRep("Colours", 0);
        e->addEntry("Red", 1);
        e->addEntry("Green", 2);
        InterObj thing(named("Thing"));
        thing->addField(Array("A", IDT_LONG, {{0, 1}, {0, 2}}));
        thing->addField(InterEnumField::make("E", e, 1));
        thing_ = thing->descriptor().descIndex();
        sig_ = thing->signature()->descriptor().descIndex();
        enum_ = e->descriptor().descIndex();
        saveTables(m);
        thing = nullptr;
        closeModule(m);
        sigRecord_ = RecordOf(path_, "Signatures", sig_).offset;
        enumRecord_ = RecordOf(path_, "Enumerations", enum_).offset;
    }

    // Opens the module, reads the thing and the enumeration, and closes it
    // again, so that the next spoiling finds the file free.
    void expectLoadFailure(const char* what) {
        const tModuleIndex m = openModule(path_);
        try {
            InterObjRep::fault(tDescriptor::Make(m, thing_));
            DescribedObjectNoDescriptor<EnumRep>::fault(tDescriptor::Make(m, enum_));
            ADD_FAILURE() << "no failure for " << what;
        } catch (const ObjectLoadFailed& e) {
            EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
        }
        closeModule(m);
    }

    // Offsets in the signature record: flags and parent, then the array's
    // record (kind, code, name, flags, offset, count, dimensions), then the
    // enumeration field's (kind, name, flags, offset, reference).
    uint32_t arrayAt(uint32_t k) const { return sigRecord_ + 6 + k; }
    static constexpr uint32_t kCount = 12, kDim0 = 16, kDim1 = 28, kEnumRef = 40 + 11;

    ScratchDir dir_;
    std::string path_;
    uint32_t thing_ = 0, sig_ = 0, enum_ = 0, sigRecord_ = 0, enumRecord_ = 0;
};

TEST_F(SpoiltRecords, ReadBackWhenNothingIsSpoilt) {
    const tModuleIndex m = openModule(path_);
    InterObjRep* thing = InterObjRep::fault(tDescriptor::Make(m, thing_));
    ASSERT_NE(thing, nullptr);
    EXPECT_EQ(static_cast<InterArrayField*>(thing->findField("A"))->size(), 24);
    EXPECT_STREQ(thing->findField("E")->enumeration()->name(), "Colours");
}

TEST_F(SpoiltRecords, AStoredRemovingFlagDoesNotHideAField) {
    Patch(path_, "Signatures", arrayAt(7), {0x80 | Field::kProtected});
    const tModuleIndex m = openModule(path_);
    InterObjRep* thing = InterObjRep::fault(tDescriptor::Make(m, thing_));
    ASSERT_NE(thing, nullptr);
    Field* a = thing->findField("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->flags(), Field::kProtected);
    EXPECT_THROW(thing->addField(InterArrayField::make("A", IDT_LONG, 1)), FieldCollision);
}

TEST_F(SpoiltRecords, ArrayDimensionsThatAreNotSoundFailTheLoad) {
    Patch(path_, "Signatures", arrayAt(kCount), LE32(61));
    expectLoadFailure("61 dimensions is more than an array has");
    Patch(path_, "Signatures", arrayAt(kCount), LE32(2));
    Patch(path_, "Signatures", arrayAt(kDim0 + 8), LE32(8));
    expectLoadFailure("its strides disagree with its bounds");
    Patch(path_, "Signatures", arrayAt(kDim0 + 8), LE32(12));
    Patch(path_, "Signatures", arrayAt(kDim1), LE32(5));
    expectLoadFailure("lower bound exceeds its upper bound");
    Patch(path_, "Signatures", arrayAt(kDim1), LE32(0));
    Patch(path_, "Signatures", arrayAt(kDim0 + 4), LE32(0x7FFFFFF0));
    expectLoadFailure("larger than 2 GB");
    Patch(path_, "Signatures", arrayAt(kDim0 + 4), LE32(1));
    Patch(path_, "Signatures", arrayAt(1), {9});
    expectLoadFailure("array type code 9 is not an element type");
}

// The array's name reference changed to the enumeration field's name: the
// signature would hold two fields of one name, and only one could be found.
TEST_F(SpoiltRecords, TwoFieldsOfOneNameFailTheLoad) {
    const std::vector<uint8_t> b = ReadStream(path_, "Signatures");
    Patch(path_, "Signatures", arrayAt(2), std::vector<uint8_t>(b.begin() + arrayAt(41), b.begin() + arrayAt(46)));
    expectLoadFailure("two of its fields have one name");
}

TEST_F(SpoiltRecords, AnEnumerationFieldMustReferToAnEnumerationOfTheModule) {
    Patch(path_, "Signatures", arrayAt(kEnumRef), {0x06});
    expectLoadFailure("is not an enumeration of the module");
    Patch(path_, "Signatures", arrayAt(kEnumRef), Reference(0x07, tDescriptor::Make(0, 4000).raw()));
    expectLoadFailure("is not an enumeration of the module");
}

TEST_F(SpoiltRecords, AnEnumerationRecordThatIsNotSoundFailsTheLoad) {
    // Name "Colours" (4 + 7 bytes), the flag, the count, then "Red" and 1,
    // "Green" and 2.
    const uint32_t count = enumRecord_ + 11 + 1;
    Patch(path_, "Enumerations", count, LE32(0x7FFFFFFF));
    expectLoadFailure("entry count 2147483647 is more than the record holds");
    Patch(path_, "Enumerations", count, LE32(2));
    Patch(path_, "Enumerations", count + 4 + 7 + 4 + 9, LE32(1));
    expectLoadFailure("entry 'Green' repeats another entry's name or value");
    Patch(path_, "Enumerations", enumRecord_, LE32(0));
    expectLoadFailure("its name is not a name");
}

}  // namespace
}  // namespace tq
