// References that outlive what they name: slots of other objects, array
// elements and by-reference values that still hold the id of an object freed
// by DeleteObjects, or of a value that has gone, while new things of every
// kind take ids after it.
#include <string>
#include <vector>

#include "store/errors/extexcep.h"
#include "store/model/objval.h"
#include "store/model/tarrfld.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/model/modeltest.h"

namespace tq {
namespace {

using StaleReferences = ModelTest;

// New things of several kinds, each holding ids of the process-wide table,
// made after something gave its id back.
struct Newcomers {
    std::vector<ValString> strings;
    std::vector<Signature> signatures;
    std::vector<InterObj> objects;
    std::vector<ValuePtr> values;

    void make(int n) {
        for (int i = 0; i < n; ++i) {
            strings.emplace_back(ValString(("newcomer " + std::to_string(i)).c_str()));
            signatures.emplace_back(NoParentSig, DETACHED_MODULE);
            objects.emplace_back(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
            values.emplace_back(new LongValue(i));
            values.back()->refId();
        }
    }
    std::vector<uint16_t> stringCounts() const {
        std::vector<uint16_t> counts;
        for (const ValString& s : strings) counts.push_back(s->refCount());
        return counts;
    }
    ~Newcomers() {
        for (InterObj& o : objects) o->destroy();
    }
};

TEST_F(StaleReferences, EverySlotNamingAFreedObjectReadsNothingWhateverTakesItsIdOver) {
    InterObj holder(named("Holder"));
    holder->addField(dataField("Ref", IDT_OBJECT));
    InterArrayField* refs = InterArrayField::make("Refs", IDT_OBJECT, 1, nullptr);
    refs->defineBounds(0, 0, 2);
    holder->addField(refs);
    // A procedure's argument prototype with one Object parameter by
    // reference, bound to a caller's value that holds the object.
    InterObj args(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
    args->addField(InterDataField::make("o", IDT_OBJECT, 0));

    InterObjRep* target = named("Target");
    setObject(holder.get(), "Ref", target);
    *Element(holder.get(), "Refs", 1) = ObjectValue(InterObj(target));
    ValueList list{ValuePtr(new ObjectValue(InterObj(target)))};
    InterObjRep* frame = args->bind(&list);
    ASSERT_EQ(getObject(holder.get(), "Ref"), target);
    ASSERT_EQ(getObject(frame, "o"), target);

    target->Destroy();
    InterObjRep::DeleteObjects();
    Newcomers fresh;
    fresh.make(64);
    const std::vector<uint16_t> counts = fresh.stringCounts();

    EXPECT_EQ(getObject(holder.get(), "Ref"), nullptr);
    InterObj element;
    Element(holder.get(), "Refs", 1)->get(element);
    EXPECT_EQ(element.get(), nullptr);
    EXPECT_EQ(getObject(frame, "o"), nullptr);

    // Letting the slots go lowers nobody's count.
    setObject(holder.get(), "Ref", nullptr);
    *Element(holder.get(), "Refs", 1) = ObjectValue(InterObj());
    frame->destroy();
    list = ValueList();
    EXPECT_EQ(fresh.stringCounts(), counts);
    for (const Signature& s : fresh.signatures) EXPECT_EQ(s->refCount(), 1);
    args->destroy();
}

TEST_F(StaleReferences, AByReferenceSlotWhoseValueHasGoneReadsNullNotTheNextValue) {
    InterObj args(InterObjRep::New(DETACHED_MODULE, IOT_WORKER));
    args->addField(InterDataField::make("n", IDT_LONG, 0));
    InterObjRep* frame;
    {
        ValueList list{ValuePtr(new LongValue(5))};
        frame = args->bind(&list);
        EXPECT_EQ(getLong(frame, "n"), 5);
    }
    // The slot outlives the caller's value; later values take its id.
    std::vector<ValuePtr> later;
    for (int i = 0; i < 32; ++i) {
        later.emplace_back(new LongValue(100 + i));
        later.back()->refId();
    }
    EXPECT_EQ(FailureText([&] { getLong(frame, "n"); }), "object is null");
    EXPECT_EQ(FailureText([&] { setLong(frame, "n", 9); }), "object is null");
    for (int i = 0; i < 32; ++i) EXPECT_EQ(later[i]->as<int32_t>(), 100 + i);
    frame->destroy();
    args->destroy();
}

}  // namespace
}  // namespace tq
