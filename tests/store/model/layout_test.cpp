// The instance-data layout: offsets, sizes and the bytes of every object of
// a progeny as fields come and go anywhere in the signature chain.
#include <cstring>

#include "store/arrayfld.h"
#include "store/model/fldval.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

using Layout = ModelTest;

int32_t OffsetOf(SignatureRep* s, const char* name) {
    return static_cast<DataField*>(s->fields().pvalue(name))->fieldOffset();
}

TEST_F(Layout, RootFieldsLieEndToEndAndAChildSectionStartsBehindThem) {
    InterObj proto(InterObjRep::New(DETACHED_MODULE, IOT_ORDINARY));
    addData(proto.get(), "A", IDT_SHORT);
    addData(proto.get(), "B", IDT_LONG);
    addData(proto.get(), "C", IDT_DOUBLE);
    SignatureRep* root = proto->signature();
    EXPECT_EQ(root->iDataSize(), 14u);
    EXPECT_EQ(OffsetOf(root, "A"), 0);
    EXPECT_EQ(OffsetOf(root, "B"), 2);
    EXPECT_EQ(OffsetOf(root, "C"), 6);

    Signature child = root->makeChild(DETACHED_MODULE);
    InterObj childProto(InterObjRep::NewOf(child, DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_EQ(child->iDataSize(), 14u);
    child->addField(dataField("D", IDT_LONG), nullptr, 0);
    EXPECT_EQ(OffsetOf(child.get(), "D"), 0);
    EXPECT_EQ(child->iDataSize(), 18u);
    setLong(childProto.get(), "D", 0x01020304);
    EXPECT_EQ(childProto->dataSize(), 18u);
    const uint8_t expected[] = {4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(childProto->data() + 14, expected, 4), 0);
    childProto->Destroy();
    proto->Destroy();
}

TEST_F(Layout, AFieldAddedToTheParentMovesEveryChildObjectsOwnBytesIntact) {
    InterObj proto(named("Base"));
    addData(proto.get(), "A", IDT_LONG);
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    setLong(clone.get(), "A", 7);
    InterObj special(InterObjRep::NewNamed("Special", proto.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(special.get(), "X", IDT_LONG);  // special becomes a child prototype
    InterObj specialClone(InterObjRep::NewCopy(*special, DETACHED_MODULE, IOT_ORDINARY));
    setLong(special.get(), "X", 111);
    setLong(specialClone.get(), "X", 222);
    setLong(specialClone.get(), "A", 5);

    proto->addField(dataField("B", IDT_DOUBLE));
    EXPECT_EQ(proto->signature()->iDataSize(), 12u);
    EXPECT_EQ(special->signature()->iDataSize(), 16u);
    for (InterObjRep* o : {proto.get(), clone.get(), special.get(), specialClone.get()})
        EXPECT_EQ(o->dataSize(), o->signature()->iDataSize());
    EXPECT_EQ(getLong(special.get(), "X"), 111);
    EXPECT_EQ(getLong(specialClone.get(), "X"), 222);
    EXPECT_EQ(getLong(specialClone.get(), "A"), 5);
    EXPECT_EQ(getLong(clone.get(), "A"), 7);
    // X keeps its offset in its own section; the section itself moved.
    EXPECT_EQ(OffsetOf(special->signature(), "X"), 0);
    EXPECT_EQ(special->signature()->parentDataSize(), 12u);
}

TEST_F(Layout, RemovingTheMiddleFieldMovesTheLastDownInEveryObject) {
    InterObj proto(named("Three"));
    addData(proto.get(), "A", IDT_LONG);
    addData(proto.get(), "B", IDT_DOUBLE);
    addData(proto.get(), "C", IDT_LONG);
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    setLong(clone.get(), "A", 1);
    setLong(clone.get(), "C", 3);
    proto->removeField("B");
    SignatureRep* s = proto->signature();
    EXPECT_EQ(OffsetOf(s, "C"), 4);
    EXPECT_EQ(s->iDataSize(), 8u);
    EXPECT_EQ(clone->dataSize(), 8u);
    EXPECT_EQ(getLong(clone.get(), "A"), 1);
    EXPECT_EQ(getLong(clone.get(), "C"), 3);
}

// A one-dimensional Long array of `count` elements.
InterArrayField* LongArray(const char* name, int32_t count) {
    InterArrayField* a = InterArrayField::make(name, IDT_LONG, 1);
    a->defineBounds(0, 0, count - 1);
    return a;
}

TEST_F(Layout, ResizingAnArraySwapsTheFieldAndRebuildsEveryObject) {
    InterObj proto(named("Arrays"));
    addData(proto.get(), "A", IDT_LONG);
    proto->addField(LongArray("V", 2));
    addData(proto.get(), "C", IDT_LONG);
    InterObj clone(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    setLong(clone.get(), "C", 9);
    InterArrayField* bigger = static_cast<InterArrayField*>(proto->findField("V"))->redimCopy(1);
    bigger->defineBounds(0, 0, 4);
    proto->signature()->redimArrayField(bigger, 0);
    SignatureRep* s = proto->signature();
    EXPECT_EQ(s->iDataSize(), 28u);
    EXPECT_EQ(OffsetOf(s, "V"), 4);
    EXPECT_EQ(OffsetOf(s, "C"), 24);
    EXPECT_EQ(clone->dataSize(), 28u);
    EXPECT_EQ(getLong(clone.get(), "C"), 9);
}

TEST_F(Layout, SubsumingTheParentKeepsTheSizeAndEveryObjectsData) {
    InterObj base(named("Base"));
    addData(base.get(), "A", IDT_LONG);
    InterObj mid(InterObjRep::NewNamed("Middle", base.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(mid.get(), "B", IDT_LONG);
    InterObj leaf(InterObjRep::NewNamed("Leaf", mid.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(leaf.get(), "C", IDT_LONG);
    InterObj leafClone(InterObjRep::NewCopy(*leaf, DETACHED_MODULE, IOT_ORDINARY));
    setLong(leafClone.get(), "A", 1);
    setLong(leafClone.get(), "B", 2);
    setLong(leafClone.get(), "C", 3);
    SignatureRep* s = leaf->signature();
    const uint32_t before = s->iDataSize();
    s->subsumeParent();
    EXPECT_EQ(s->iDataSize(), before);
    EXPECT_EQ(s->parent(), base->signature());
    ASSERT_NE(s->fields().pvalue("B"), nullptr);
    EXPECT_EQ(OffsetOf(s, "B"), 0);
    EXPECT_EQ(OffsetOf(s, "C"), 4);
    EXPECT_EQ(getLong(leafClone.get(), "A"), 1);
    EXPECT_EQ(getLong(leafClone.get(), "B"), 2);
    EXPECT_EQ(getLong(leafClone.get(), "C"), 3);
    EXPECT_EQ(mid->signature()->children().length(), 0u);
}

TEST_F(Layout, AddingAFieldToAPrototypeWithManyClonesGivesEachCloneTheBytes) {
    InterObj proto(named("Many"));
    addData(proto.get(), "A", IDT_LONG);
    std::vector<InterObj> clones;
    for (int i = 0; i < 500; ++i) {
        clones.emplace_back(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
        setLong(clones.back().get(), "A", i);
    }
    proto->addField(dataField("S", IDT_STRING));
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(clones[i]->dataSize(), 9u);
        EXPECT_EQ(getLong(clones[i].get(), "A"), i);
        EXPECT_EQ(getText(clones[i].get(), "S"), "");
    }
}

// A field whose constructor fails on the third object it meets.
struct Fragile : InterDataField {
    explicit Fragile(const char* n) : InterDataField(n) {}
    Field* clone() const override { return new Fragile(*this); }
    IdType type() const override { return IDT_LONG; }
    int32_t size() const override { return 4; }
    void write(OCLStream&) const override {}
    void fldConstructor(InterObjRep&, SignatureRep&) override {
        if (++constructed == 3) throw StoreException("fragile", nullptr);
    }
    void fldDestructor(InterObjRep&, SignatureRep&) override { ++destructed; }
    static inline int constructed = 0;
    static inline int destructed = 0;
};

TEST_F(Layout, AFieldWhoseConstructionFailsPartWayLeavesEveryObjectAsItWas) {
    InterObj proto(named("Fragile"));
    addData(proto.get(), "A", IDT_LONG);
    std::vector<InterObj> clones;
    for (int i = 0; i < 5; ++i) {
        clones.emplace_back(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
        setLong(clones.back().get(), "A", 100 + i);
    }
    Fragile::constructed = Fragile::destructed = 0;
    EXPECT_THROW(proto->addField(new Fragile("F")), StoreException);
    // The two objects whose constructor ran were destroyed again.
    EXPECT_EQ(Fragile::destructed, 2);
    EXPECT_EQ(proto->findField("F"), nullptr);
    EXPECT_EQ(proto->signature()->iDataSize(), 4u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(clones[i]->dataSize(), 4u);
        EXPECT_EQ(getLong(clones[i].get(), "A"), 100 + i);
    }
    EXPECT_NO_THROW(addData(proto.get(), "F", IDT_LONG));
    EXPECT_EQ(static_cast<DataField*>(proto->findField("F"))->fieldOffset(), 4);
}

TEST_F(Layout, AUniqueNameIsFreeInTheChainAndInEveryDescendantPrototype) {
    InterObj proto(named("Names"));
    addData(proto.get(), "Item1", IDT_LONG);
    InterObj child(InterObjRep::NewNamed("Child", proto.get(), DETACHED_MODULE, IOT_ORDINARY));
    addData(child.get(), "Item2", IDT_LONG);
    EXPECT_STREQ(proto->uniqueName("Item"), "Item3");
    EXPECT_STREQ(child->uniqueName("Other"), "Other1");
}

TEST_F(Layout, AnObjectDependsOnTheRootsItsSignatureAndEmbedsComeFrom) {
    InterObj button(named("Button"));
    InterObj form(named("Form1"));
    form->addField(new EmbedObjField("Ok", "Button"));
    InterObj form2(InterObjRep::NewNamed("Form2", form.get(), DETACHED_MODULE, IOT_ORDINARY));
    EXPECT_TRUE(form2->dependsOn(form.get()));
    EXPECT_TRUE(form->dependsOn(button.get()));
    EXPECT_FALSE(button->dependsOn(form.get()));
    EXPECT_FALSE(form->dependsOn(form2.get()));
}

}  // namespace
}  // namespace tq
