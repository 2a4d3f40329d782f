// Proxies between modules held in one process: what a module writes for
// another module's signatures and objects, resolving it again against the
// modules that are loaded, the replacement object and its warning, the
// steps of unloading, and proxy records that are not sound.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/fldval.h"
#include "store/model/objval.h"
#include "store/persist/desciter.h"
#include "store/persist/proxy.h"
#include "store/sigproxy.h"
#include "store/storeapp.h"
#include "tests/store/model/modeltest.h"
#include "tests/support/boxapp.h"
#include "tests/support/freshproc.h"

namespace tq {
namespace {

// The bytes of one stream of a module file, read with the storage alone.
std::vector<uint8_t> ReadStream(const std::string& path, const char* name) {
    OCLStorage storage(path.c_str(), 0, STGM_READ | STGM_SHARE_DENY_WRITE);
    OCLStream s(storage, name, 0, STGM_READ | STGM_SHARE_EXCLUSIVE);
    std::vector<uint8_t> bytes(s.size());
    s.read(bytes.data(), bytes.size());
    return bytes;
}

// The records of a description table's stream whose entries exist, in
// index order (head: revision, array offset; array: count, free head,
// 13-byte entries of flags, memory, offset, length).
std::vector<std::vector<uint8_t>> Records(const std::string& path, const char* stream) {
    const std::vector<uint8_t> b = ReadStream(path, stream);
    std::vector<std::vector<uint8_t>> out;
    if (b.empty()) return out;
    const uint32_t array = LoadLE32(&b[4]);
    const uint32_t count = LoadLE32(&b[array]);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = &b[array + 8 + 13 * i];
        if ((e[0] & 0x05) != 0x01) continue;
        const uint32_t offset = LoadLE32(e + 5);
        out.emplace_back(b.begin() + offset, b.begin() + offset + LoadLE32(e + 9));
    }
    return out;
}

// Overwrites bytes of a stream in place.
void Patch(const std::string& path, const char* stream, uint32_t at, const std::vector<uint8_t>& bytes) {
    OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    OCLStream s(storage, stream, 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.seek(at);
    s.write(bytes.data(), bytes.size());
}

// Where entry `index` of a table's stream keeps its record, and how long
// the record is.
uint32_t RecordOffset(const std::string& path, const char* stream, uint32_t index) {
    const std::vector<uint8_t> b = ReadStream(path, stream);
    return LoadLE32(&b[LoadLE32(&b[4]) + 8 + 13 * index + 5]);
}
uint32_t RecordLength(const std::string& path, const char* stream, uint32_t index) {
    const std::vector<uint8_t> b = ReadStream(path, stream);
    return LoadLE32(&b[LoadLE32(&b[4]) + 8 + 13 * index + 9]);
}

class Proxies : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        app_ = std::make_unique<MessageBoxApp>();
    }
    void TearDown() override {
        std::vector<tModuleIndex> all;
        for (auto& s : modules_) all.push_back(s->moduleIndex());
        if (!all.empty()) unload(all);
        ModelTest::TearDown();
        app_.reset();
    }

    // Unloads modules as the store does: the in-use check, proxies for
    // what stays, softening, then the tables go.
    void unload(std::vector<tModuleIndex> ms) {
        std::vector<tModuleIndex> list = ms;
        list.push_back(NO_MODULE);
        SignatureRep::NoExternalChildren(list.data());
        InterObjRep::DeleteObjects();
        for (tModuleIndex m : ms) SignatureRep::ConstructProxies(m);
        for (tModuleIndex m : ms) SignatureRep::SoftenExternalReferences(m);
        for (tModuleIndex m : ms) closeModule(m);
    }
    // Writes every table of module m and commits it to its file.
    void save(tModuleIndex m) {
        saveTables(m);
        ObjectStore::Module(m)->storage().Commit();
    }
    // Opens a module file again and resolves its signature proxies, as a
    // load does.
    tModuleIndex load(const std::string& path) {
        const tModuleIndex m = openModule(path);
        ObjectStore::resolveSigProxies(m);
        return m;
    }

    // Module A: Form1 with Count and Caption. Module B: Copy, a clone of
    // Form1 holding 42 and "hello", and Holder, which refers to Form1.
    void makeAandB() {
        pathA_ = dir_.file("a.qbo");
        pathB_ = dir_.file("b.qbo");
        a_ = openModule(pathA_);
        InterObjRep* form = named("Form1");
        addData(form, "Count", IDT_LONG);
        addData(form, "Caption", IDT_STRING);
        b_ = openModule(pathB_);
        InterObjRep* copy = InterObjRep::NewCopy(*form, b_, IOT_ORDINARY);
        setLong(copy, "Count", 42);
        setText(copy, "Caption", "hello");
        copy_ = copy->descriptor().descIndex();
        InterObjRep* holder = named("Holder");
        holder->addField(dataField("Ref", IDT_OBJECT));
        holder->signature()->fields().pvalue("Ref")->set(InterObj(form), *holder, *holder->signature());
        holder_ = holder->descriptor().descIndex();
    }

    InterObjRep* objectOf(tModuleIndex m, uint32_t index) { return InterObjRep::fault(tDescriptor::Make(m, index)); }
    InterObjRep* form() {
        InterObj f;
        return ObjectStore::findStatic("Form1", f) ? f.get() : nullptr;
    }
    size_t proxyCount(tModuleIndex m) {
        size_t n = 0;
        DescribedObjectIterator<SignatureProxy> it(m);
        while (it()) ++n;
        return n;
    }

    std::unique_ptr<MessageBoxApp> app_;
    ScratchDir dir_;
    std::string pathA_, pathB_;
    tModuleIndex a_ = NO_MODULE, b_ = NO_MODULE;
    uint32_t copy_ = 0, holder_ = 0;
};

// ---- what is written -----------------------------------------------------------------

TEST_F(Proxies, AModuleWritesOneSignatureProxyForAnotherModulesSignatureByteForByte) {
    makeAandB();
    save(b_);
    save(b_);  // a second save reuses the proxy
    const auto records = Records(pathB_, "SignatureProxies");
    ASSERT_EQ(records.size(), 1u);
    const std::vector<uint8_t>& r = records[0];
    // The text.
    ASSERT_GE(r.size(), 9u);
    EXPECT_EQ(LoadLE32(&r[0]), 5u);
    EXPECT_EQ(std::string(r.begin() + 4, r.begin() + 9), "Form1");
    // Then the two field records (kind 2 Long, kind 2 String), the end byte,
    // the data size, B's clone and four list ends.
    size_t at = 9;
    EXPECT_EQ(r[at], FRK_DATA);
    EXPECT_EQ(r[at + 1], IDT_LONG);
    at += 1 + 1 + 5 + 1 + 4;
    EXPECT_EQ(r[at], FRK_DATA);
    EXPECT_EQ(r[at + 1], IDT_STRING);
    at += 1 + 1 + 5 + 1 + 4;
    EXPECT_EQ(r[at], 0);
    EXPECT_EQ(LoadLE32(&r[at + 1]), 9u);
    at += 5;
    ASSERT_EQ(r.size(), at + 5 * 5);
    EXPECT_EQ(r[at], 0x04);
    EXPECT_EQ(LoadLE32(&r[at + 1]) & tDescriptor::kIndexMask, copy_);
    for (int list = 1; list < 5; ++list) EXPECT_EQ(LoadLE32(&r[at + 5 * list + 1]), tDescriptor::kNull);
    // The clone names its signature through the proxy.
    InterObjRep* copy = objectOf(b_, copy_);
    EXPECT_TRUE(InterObjRep::internalDescriptor(*copy, b_) == copy->descriptor());
    const tDescriptor viaProxy = SignatureRep::internalDescriptor(*copy->signature(), b_);
    EXPECT_TRUE(viaProxy.isProxy());
    EXPECT_EQ(viaProxy.moduleIndex(), b_);
}

TEST_F(Proxies, AReferenceToAStaticObjectBecomesAnObjectProxyAndToAnUnnamedOneNull) {
    makeAandB();
    InterObjRep* holder = objectOf(b_, holder_);
    InterObjRep* loose = InterObjRep::NewCopy(*form(), a_, IOT_DYNAMIC);
    holder->addField(dataField("Loose", IDT_OBJECT));
    holder->signature()->fields().pvalue("Loose")->set(InterObj(loose), *holder, *holder->signature());
    save(b_);
    const auto texts = Records(pathB_, "ObjectProxies");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(std::string(texts[0].begin() + 4, texts[0].end()), "Form1");
    // The holder's record: kind, flags, signature, then Ref and Loose.
    const std::vector<uint8_t> objects = ReadStream(pathB_, "Objects");
    const uint32_t at = RecordOffset(pathB_, "Objects", holder_) + 4 + 1 + 5;
    const tDescriptor ref(LoadLE32(&objects[at + 1]));
    EXPECT_TRUE(ref.isProxy());
    EXPECT_EQ(LoadLE32(&objects[at + 5 + 1]), tDescriptor::kNull);
}

TEST_F(Proxies, AnEmbeddedObjectIsNamedByItsPathFromItsStaticRoot) {
    makeAandB();
    form()->addField(new EmbedObjField("Button", nullptr));
    InterObj button;
    ASSERT_TRUE(ObjectStore::findEmbed(form(), "Button", button));
    const tDescriptor d = InterObjRep::internalDescriptor(*button, b_);
    ASSERT_TRUE(d.isProxy());
    auto* proxy = DescribedObjectNoDescriptor<InterObjProxy>::fault(d);
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->text(), "Form1.Button");
    EXPECT_EQ(InterObjRep::fault(d), button.get());
}

// ---- resolving -------------------------------------------------------------------------

TEST_F(Proxies, ReloadingTheReferringModuleFindsTheSignatureAgainWithoutAWarning) {
    makeAandB();
    save(b_);
    SignatureRep* s = form()->signature();
    unload({b_});
    EXPECT_EQ(s->objects().length(), 1u) << "the clone left the signature's list with its module";
    const uint16_t sigCount = s->refCount();
    const uint16_t formCount = form()->refCount();
    b_ = load(pathB_);
    EXPECT_TRUE(app_->boxes.empty());
    InterObjRep* copy = objectOf(b_, copy_);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->signature(), s);
    EXPECT_EQ(getLong(copy, "Count"), 42);
    EXPECT_EQ(getText(copy, "Caption"), "hello");
    EXPECT_EQ(s->objectIndex(copy), 0);
    EXPECT_EQ(s->protoObject(), form());
    // B's reference to A's static object resolves by name.
    InterObjRep* holder = objectOf(b_, holder_);
    InterObj ref;
    holder->signature()->fields().pvalue("Ref")->get(ref, *holder, *holder->signature());
    EXPECT_EQ(ref.get(), form());
    ref = nullptr;
    // Saving again keeps the one proxy, now from the signature's list.
    save(b_);
    EXPECT_EQ(Records(pathB_, "SignatureProxies").size(), 1u);
    // What B took of A's things through its proxies it gives back.
    EXPECT_EQ(s->refCount(), sigCount + 1);
    unload({b_});
    EXPECT_EQ(s->refCount(), sigCount);
    EXPECT_EQ(form()->refCount(), formCount);
}

TEST_F(Proxies, AMissingPrototypeMakesTheReplacementObjectAndWarnsOnce) {
    makeAandB();
    save(b_);
    unload({b_});
    unload({a_});
    b_ = load(pathB_);
    ASSERT_EQ(app_->boxes.size(), 1u);
    EXPECT_EQ(app_->boxes[0].caption, "Proxy Resolve Warning");
    EXPECT_EQ(app_->boxes[0].style, 0x2030u);
    EXPECT_EQ(app_->boxes[0].text,
              "Proxy Resolve Failure due to Prototype missing for \nthe object: Form1.\n"
              "Making the replacement object: Form1Proxy\nin order to satisy the expected prototype.");
    InterObj replacement;
    ASSERT_TRUE(ObjectStore::findStatic("Form1Proxy", replacement));
    EXPECT_EQ(replacement->moduleIndex(), b_);
    InterObjRep* copy = objectOf(b_, copy_);
    EXPECT_EQ(copy->signature(), replacement->signature());
    EXPECT_EQ(getLong(copy, "Count"), 42);
    EXPECT_EQ(getText(copy, "Caption"), "hello");
    EXPECT_EQ(getLong(replacement.get(), "Count"), 0);
    // The holder's reference to the missing Form1 reads null, without an
    // error.
    InterObjRep* holder = objectOf(b_, holder_);
    InterObj ref;
    holder->signature()->fields().pvalue("Ref")->get(ref, *holder, *holder->signature());
    EXPECT_TRUE(ref.isNull());
}

TEST_F(Proxies, AFieldAddedToThePrototypeMeanwhileIsAMismatch) {
    makeAandB();
    save(b_);
    unload({b_});
    addData(form(), "Extra", IDT_LONG);
    b_ = load(pathB_);
    ASSERT_EQ(app_->boxes.size(), 1u);
    EXPECT_NE(app_->boxes[0].text.find(" due to Prototype mismatch for \nthe object: Form1.\n"), std::string::npos);
    InterObjRep* copy = objectOf(b_, copy_);
    EXPECT_NE(copy->signature(), form()->signature());
    EXPECT_EQ(copy->dataSize(), 9u);
    EXPECT_EQ(getLong(copy, "Count"), 42);
}

TEST_F(Proxies, AReplacementLaysOutAnInheritedChainWhereTheObjectsKeepTheirBytes) {
    pathA_ = dir_.file("a.qbo");
    pathB_ = dir_.file("b.qbo");
    a_ = openModule(pathA_);
    InterObjRep* base = named("Base");
    addData(base, "Count", IDT_LONG);
    addData(base, "Caption", IDT_STRING);
    InterObjRep* derived = InterObjRep::NewNamed("Derived", base, a_, IOT_ORDINARY);
    addData(derived, "Ratio", IDT_DOUBLE);
    // An own field put in front of the list lies last in the section.
    derived->addField(dataField("Flag", IDT_SHORT), nullptr, 1);
    b_ = openModule(pathB_);
    InterObjRep* copy = InterObjRep::NewCopy(*derived, b_, IOT_ORDINARY);
    setLong(copy, "Count", -5);
    setText(copy, "Caption", "chain");
    setLong(copy, "Flag", 7);
    SignatureRep* owner = nullptr;
    copy->signature()->findField("Ratio", owner, 0)->set(2.75, *copy, *owner);
    copy_ = copy->descriptor().descIndex();
    save(b_);
    unload({b_});
    unload({a_});
    b_ = load(pathB_);
    ASSERT_EQ(app_->boxes.size(), 1u);
    copy = objectOf(b_, copy_);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(getLong(copy, "Count"), -5);
    EXPECT_EQ(getText(copy, "Caption"), "chain");
    EXPECT_EQ(getLong(copy, "Flag"), 7);
    EXPECT_EQ(copy->eval("Ratio")->as<double>(), 2.75);
}

// A proxy's field list comes from a file: one in which every field claims
// offset 0 splits into as many one-field sections as it has fields, and
// finding that split must not take time that grows with the cube of the
// count.
TEST_F(Proxies, AFieldListWhoseFieldsAllLieAtOffsetZeroIsLaidOutOneSectionEach) {
    constexpr int kCount = 2048;
    FieldPtrList list;
    for (int i = 0; i < kCount; ++i) {
        InterDataField* f = dataField(("F" + std::to_string(i)).c_str(), IDT_LONG);
        f->fieldOffset(0);
        list.append(f);
    }
    const std::vector<Field*> order = ProxyLayoutOrder(list);
    ASSERT_EQ(order.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(order[i], list.at(kCount - 1 - i)) << "field " << i;
}

TEST_F(Proxies, AProxyTextThatIsNoIdentifierStillGivesAValidReplacementName) {
    makeAandB();
    form()->addField(new EmbedObjField("Button", nullptr));
    InterObj button;
    ASSERT_TRUE(ObjectStore::findEmbed(form(), "Button", button));
    addData(button.get(), "Width", IDT_LONG);
    InterObjRep* copy = InterObjRep::NewCopy(*button, b_, IOT_ORDINARY);
    setLong(copy, "Width", 12);
    const uint32_t index = copy->descriptor().descIndex();
    button = nullptr;
    save(b_);
    unload({b_});
    unload({a_});
    b_ = load(pathB_);
    ASSERT_EQ(app_->boxes.size(), 2u);
    InterObj replacement;
    EXPECT_TRUE(ObjectStore::findStatic("Form1_ButtonProxy", replacement));
    EXPECT_EQ(getLong(objectOf(b_, index), "Width"), 12);
}

// ---- unloading -------------------------------------------------------------------------

TEST_F(Proxies, AModuleWhoseSignaturesOthersUseCannotGoAloneButBothCanGoTogether) {
    makeAandB();
    const tModuleIndex aOnly[] = {a_, NO_MODULE};
    try {
        SignatureRep::NoExternalChildren(aOnly);
        ADD_FAILURE() << "A is in use";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Module is in use and cannot be unloaded.");
    }
    unload({a_, b_});
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

TEST_F(Proxies, AModuleIsInUseAlsoThroughObjectsTheOtherModuleHasNotReadYet) {
    makeAandB();
    save(b_);
    unload({b_});
    b_ = load(pathB_);
    // B's clone is recorded by B's proxy but not read.
    EXPECT_EQ(form()->signature()->objects().length(), 1u);
    const tModuleIndex aOnly[] = {a_, NO_MODULE};
    EXPECT_THROW(SignatureRep::NoExternalChildren(aOnly), StoreException);
}

TEST_F(Proxies, UnloadingTheModuleThatIsReferredToTurnsReferencesIntoProxiesThatResolveAgain) {
    makeAandB();
    // B holds no clone now, only its reference to Form1.
    objectOf(b_, copy_)->Destroy();
    InterObjRep::DeleteObjects();
    save(a_);
    unload({a_});
    InterObjRep* holder = objectOf(b_, holder_);
    Faultp<InterObjRep>& slot =
        static_cast<ObjectSlotField*>(holder->signature()->fields().pvalue("Ref"))->slot(*holder, *holder->signature());
    EXPECT_TRUE(slot.isDescriptor());
    EXPECT_TRUE(slot.descriptor().isProxy());
    EXPECT_EQ(slot.descriptor().moduleIndex(), b_);
    // Form1 is not loaded: the reference reads null, and keeps naming
    // Form1; once a Form1 is loaded again it names that one.
    EXPECT_TRUE(slot.isNull());
    EXPECT_TRUE(slot.isDescriptor());
    a_ = openModule(dir_.file("c.qbo"));
    named("Form1");
    InterObj ref;
    holder->signature()->fields().pvalue("Ref")->get(ref, *holder, *holder->signature());
    ASSERT_TRUE(ref.is());
    EXPECT_STREQ(ref->name(), "Form1");
    EXPECT_EQ(ref->moduleIndex(), a_);
}

TEST_F(Proxies, AProxyThatNothingNeedsAnyMoreIsNotWrittenAgain) {
    makeAandB();
    save(b_);
    ASSERT_EQ(Records(pathB_, "SignatureProxies").size(), 1u);
    objectOf(b_, copy_)->Destroy();
    InterObjRep::DeleteObjects();
    EXPECT_EQ(proxyCount(b_), 1u);
    save(b_);
    EXPECT_TRUE(Records(pathB_, "SignatureProxies").empty());
    EXPECT_EQ(proxyCount(b_), 0u);
    EXPECT_EQ(form()->signature()->proxyRecord(), nullptr) << "the shadow goes with its last proxy";
}

TEST_F(Proxies, AnObjectDestroyedFromOutsideItsSignatureStillRetiresItsModulesProxy) {
    makeAandB();
    save(b_);
    // destroy() leaves the module before it leaves the signature's list.
    objectOf(b_, copy_)->destroy();
    InterObjRep::DeleteObjects();
    save(b_);
    EXPECT_TRUE(Records(pathB_, "SignatureProxies").empty());
}

TEST_F(Proxies, AFieldAddedWhileTheOtherModuleIsLoadedReachesItsUnreadObjects) {
    makeAandB();
    save(b_);
    unload({b_});
    b_ = load(pathB_);
    addData(form(), "Extra", IDT_LONG);
    // The clone was read to take the field, and joined the signature.
    InterObjRep* copy = objectOf(b_, copy_);
    EXPECT_EQ(copy->dataSize(), 13u);
    EXPECT_EQ(getLong(copy, "Count"), 42);
    EXPECT_EQ(form()->signature()->objectIndex(copy), 0);
    // B's proxy is written with the new field, and loads again cleanly.
    save(b_);
    unload({b_});
    b_ = load(pathB_);
    EXPECT_TRUE(app_->boxes.empty());
    EXPECT_EQ(getLong(objectOf(b_, copy_), "Count"), 42);
}

TEST_F(Proxies, ChildSignaturesOfAnotherModulesSignatureComeBackWithTheirModule) {
    makeAandB();
    InterObjRep* special = InterObjRep::NewNamed("Special", form(), b_, IOT_ORDINARY);
    addData(special, "More", IDT_LONG);
    setLong(special, "More", 3);
    setLong(special, "Count", 4);
    SignatureRep* s = form()->signature();
    ASSERT_EQ(special->signature()->parent(), s);
    const uint32_t index = special->descriptor().descIndex();
    save(b_);
    unload({b_});
    EXPECT_EQ(s->children().length(), 0u);
    b_ = load(pathB_);
    EXPECT_TRUE(app_->boxes.empty());
    special = objectOf(b_, index);
    EXPECT_EQ(special->signature()->parent(), s);
    EXPECT_EQ(s->children().length(), 1u);
    EXPECT_EQ(getLong(special, "More"), 3);
    EXPECT_EQ(getLong(special, "Count"), 4);
}

TEST_F(Proxies, AProxyLeftWithACapturedShadowMergesIntoTheShadowOfThePrototypeFoundLater) {
    makeAandB();
    save(b_);
    SignatureProxy* p = form()->signature()->getProxy(b_);
    // B lets go of its clone, so that A may go; B's proxy stays linked to
    // what the shadow captured of Form1's signature.
    objectOf(b_, copy_)->Destroy();
    InterObjRep::DeleteObjects();
    unload({a_});
    ASSERT_EQ(p->signature(), nullptr);
    ASSERT_NE(p->shadow(), nullptr);
    EXPECT_EQ(p->shadow()->protoName(), "Form1");
    EXPECT_EQ(p->shadow()->fields().length(), 2u);
    // A Form1 with the same fields comes back: following the proxy finds
    // it, and the proxy moves to its shadow.
    a_ = openModule(dir_.file("c.qbo"));
    InterObjRep* again = named("Form1");
    addData(again, "Count", IDT_LONG);
    addData(again, "Caption", IDT_STRING);
    EXPECT_EQ(SignatureRep::fault(p->descriptor()), again->signature());
    EXPECT_EQ(p->shadow(), again->signature()->proxyRecord());
    EXPECT_EQ(p->signature(), again->signature());
    EXPECT_TRUE(app_->boxes.empty());
}

TEST_F(Proxies, EnumerationsAndObjectArraysOfAModuleThatGoesAreLookedUpByNameAgain) {
    makeAandB();
    ObjectStore::OpenModule(a_);
    auto* colour = new EnumRep("Colour", 0);
    colour->addEntry("Red", 1);
    colour->addEntry("Blue", 2);
    InterObjRep* holder = objectOf(b_, holder_);
    holder->addField(InterEnumField::make("Shade", colour, 1));
    InterArrayField* items = InterArrayField::make("Items", IDT_OBJECT, 1);
    items->defineBounds(0, 0, 1);
    holder->addField(items);
    setLong(holder, "Shade", 2);
    *Element(holder, "Items", 0) = ObjectValue(InterObj(form()));
    save(b_);
    const auto texts = Records(pathB_, "EnumerationProxies");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(std::string(texts[0].begin() + 4, texts[0].end()), "Colour");
    // A goes (B's clones first): B waits for both by name.
    objectOf(b_, copy_)->Destroy();
    InterObjRep::DeleteObjects();
    unload({a_});
    try {
        getText(holder, "Shade");
        ADD_FAILURE() << "an enumeration of a module that went was found";
    } catch (const ProxyResolveFailed& e) {
        EXPECT_EQ(e.reason(), ProxyResolveFailed::ENUM_NOT_FOUND);
        EXPECT_STREQ(e.proxyName(), "Colour");
    }
    EXPECT_TRUE(Element(holder, "Items", 0)->as<InterObj>().isNull());
    // Another module with the same names stands in.
    a_ = openModule(dir_.file("c.qbo"));
    InterObjRep* again = named("Form1");
    auto* colour2 = new EnumRep("Colour", 0);
    colour2->addEntry("Blue", 2);
    EXPECT_EQ(getText(holder, "Shade"), "Blue");
    EXPECT_EQ(Element(holder, "Items", 0)->as<InterObj>().get(), again);
}

// ---- sharing object and enumeration proxies ------------------------------------------

// The texts of a proxy table's entries that exist, in index order.
std::vector<std::string> Texts(const std::string& path, const char* stream) {
    std::vector<std::string> out;
    for (const auto& r : Records(path, stream)) out.emplace_back(r.begin() + 4, r.begin() + 4 + LoadLE32(r.data()));
    return out;
}

// On top of A and B: A's Form1 embeds Button, and A has the enumeration
// Colour. B's Holder refers to Form1 (Ref, Again), to Form1.Button (Btn)
// and to Colour (the types of Shade and Tint); B's Other refers to Form1.
// Both are saved.
class SharedProxies : public Proxies {
protected:
    void SetUp() override {
        Proxies::SetUp();
        makeAandB();
        ObjectStore::OpenModule(a_);
        form()->addField(new EmbedObjField("Button", nullptr));
        colour_ = new EnumRep("Colour", 0);
        colour_->addEntry("Red", 1);
        colour_->addEntry("Blue", 2);
        ObjectStore::OpenModule(b_);
        InterObjRep* h = holder();
        addData(h, "Again", IDT_OBJECT);
        addData(h, "Btn", IDT_OBJECT);
        h->addField(InterEnumField::make("Shade", colour_, 1));
        h->addField(InterEnumField::make("Tint", colour_, 1));
        setObject(h, "Again", form());
        setObject(h, "Btn", button());
        setLong(h, "Shade", 2);
        InterObjRep* other = named("Other");
        addData(other, "Ref", IDT_OBJECT);
        setObject(other, "Ref", form());
        save(a_);
        save(b_);
    }
    InterObjRep* holder() { return objectOf(b_, holder_); }
    InterObjRep* button() {
        InterObj b;
        return ObjectStore::findEmbed(form(), "Button", b) ? b.get() : nullptr;
    }
    // B goes and comes back from its file, spoilt by `patch` in between.
    template <class F>
    void reloadB(F&& patch) {
        unload({b_});
        patch();
        b_ = load(pathB_);
        ObjectStore::OpenModule(b_);
    }
    // The entries of module m's table of proxies P, in memory.
    template <class P>
    static size_t entries(tModuleIndex m) {
        DescriptionTable<P>* t = DescribedObjectNoDescriptor<P>::descriptionTable(m);
        size_t n = 0;
        for (uint32_t i = 0; i < t->count(); ++i) n += t->entry(i).exists();
        return n;
    }

    EnumRep* colour_ = nullptr;
};

TEST_F(SharedProxies, EveryReferenceToOneTargetGoesThroughOneEntryHoweverOftenTheModuleIsSaved) {
    EXPECT_EQ(Texts(pathB_, "ObjectProxies"), (std::vector<std::string>{"Form1", "Form1.Button"}));
    EXPECT_EQ(Texts(pathB_, "EnumerationProxies"), std::vector<std::string>{"Colour"});
    const auto objectProxies = ReadStream(pathB_, "ObjectProxies");
    const auto enumProxies = ReadStream(pathB_, "EnumerationProxies");
    for (int round = 0; round < 3; ++round) {
        setObject(holder(), "Again", round % 2 ? form() : button());
        setLong(holder(), "Shade", 1 + round % 2);
        holder()->addField(InterEnumField::make(("Hue" + std::to_string(round)).c_str(), colour_, 1));
        save(b_);
        // Not even rewritten: the tables did not change.
        EXPECT_EQ(ReadStream(pathB_, "ObjectProxies"), objectProxies) << "round " << round;
        EXPECT_EQ(ReadStream(pathB_, "EnumerationProxies"), enumProxies) << "round " << round;
    }
    EXPECT_EQ(entries<InterObjProxy>(b_), 2u);
}

// Objects are found by their exact name, enumerations by their name in any
// case; a shared entry must resolve exactly as a new one would.
TEST_F(SharedProxies, ObjectNamesMustMatchExactlyWhileEnumerationNamesMayDifferInCase) {
    ObjectStore::OpenModule(a_);
    InterObjRep* upper = named("FORM1");
    reloadB([&] {
        Patch(pathB_, "EnumerationProxies", RecordOffset(pathB_, "EnumerationProxies", 0) + 4,
              {'C', 'O', 'L', 'O', 'U', 'R'});
    });
    setObject(holder(), "Again", upper);
    holder()->addField(InterEnumField::make("Hue", colour_, 1));
    save(b_);
    EXPECT_EQ(Texts(pathB_, "ObjectProxies"), (std::vector<std::string>{"Form1", "Form1.Button", "FORM1"}));
    EXPECT_EQ(Texts(pathB_, "EnumerationProxies"), std::vector<std::string>{"COLOUR"});
    reloadB([] {});
    EXPECT_EQ(getObject(holder(), "Ref"), form());
    EXPECT_EQ(getObject(holder(), "Again"), upper);
    setLong(holder(), "Hue", 1);
    EXPECT_EQ(getText(holder(), "Hue"), "Red");
}

// Files written before entries were shared hold one entry per reference.
TEST_F(SharedProxies, AFileWithSeveralEntriesOfOneTextStillResolvesThemAndGetsNoMore) {
    reloadB([&] {
        Patch(pathB_, "ObjectProxies", RecordOffset(pathB_, "ObjectProxies", 1), {5, 0, 0, 0, 'F', 'o', 'r', 'm', '1'});
    });
    EXPECT_EQ(getObject(holder(), "Btn"), form());
    addData(holder(), "Third", IDT_OBJECT);
    setObject(holder(), "Third", form());
    setObject(holder(), "Again", button());
    save(b_);
    const std::vector<std::string> texts{"Form1", "Form1", "Form1.Button"};
    EXPECT_EQ(Texts(pathB_, "ObjectProxies"), texts);
    setObject(holder(), "Third", button());
    save(b_);
    EXPECT_EQ(Texts(pathB_, "ObjectProxies"), texts);
    reloadB([] {});
    EXPECT_EQ(getObject(holder(), "Ref"), form());
    EXPECT_EQ(getObject(holder(), "Btn"), form());
    EXPECT_EQ(getObject(holder(), "Third"), button());
}

TEST_F(SharedProxies, AnEntryWhoseRecordDoesNotReadIsNeverSharedAndDoesNotStopASave) {
    ScopedThrowingAsserts asserts;
    reloadB([&] { Patch(pathB_, "ObjectProxies", RecordOffset(pathB_, "ObjectProxies", 0), {0, 0, 0, 0}); });
    setObject(holder(), "Again", form());
    EXPECT_NO_THROW(save(b_));
    EXPECT_EQ(Texts(pathB_, "ObjectProxies"), (std::vector<std::string>{"", "Form1.Button", "Form1"}));
    EXPECT_EQ(getObject(holder(), "Again"), form());
    EXPECT_THROW(getObject(holder(), "Ref"), ObjectLoadFailed);
}

TEST_F(SharedProxies, AModuleInTheSlotOfOneThatWentStartsWithEntriesOfItsOwn) {
    unload({b_});
    const tModuleIndex c = openModule(dir_.file("c.qbo"));
    ASSERT_EQ(c, b_);
    InterObjRep* keeper = named("Keeper");
    addData(keeper, "First", IDT_OBJECT);
    addData(keeper, "Second", IDT_OBJECT);
    setObject(keeper, "First", button());
    setObject(keeper, "Second", form());
    save(c);
    EXPECT_EQ(Texts(dir_.file("c.qbo"), "ObjectProxies"), (std::vector<std::string>{"Form1.Button", "Form1"}));
    EXPECT_EQ(getObject(keeper, "First"), button());
    EXPECT_EQ(getObject(keeper, "Second"), form());
}

// Each time A goes, B's references to it turn back into proxies of B; a
// module with the same names stands in for it each time.
TEST_F(SharedProxies, AModuleThatGoesAgainAndAgainAddsNoEntriesToTheModuleThatStays) {
    objectOf(b_, copy_)->Destroy();
    setObject(holder(), "Btn", nullptr);
    InterObjRep::DeleteObjects();
    for (int round = 0; round < 3; ++round) {
        unload({a_});
        a_ = openModule();
        InterObjRep* again = named("Form1");
        (new EnumRep("Colour", 0))->addEntry("Blue", 2);
        EXPECT_EQ(getObject(holder(), "Ref"), again) << "round " << round;
        EXPECT_EQ(getObject(holder(), "Again"), again) << "round " << round;
        EXPECT_EQ(getText(holder(), "Shade"), "Blue") << "round " << round;
    }
    EXPECT_EQ(entries<InterObjProxy>(b_), 2u);
    EXPECT_EQ(entries<EnumProxy>(b_), 1u);
}

// A reference to an embedded object of a module that goes keeps the
// object's path, so it finds the object again when a module with that path
// comes back, and never an object that merely takes the same place in it.
TEST_F(SharedProxies, AReferenceToAnEmbeddedObjectOfAModuleThatGoesKeepsItsPath) {
    objectOf(b_, copy_)->Destroy();
    InterObjRep::DeleteObjects();
    unload({a_});
    EXPECT_EQ(getObject(holder(), "Btn"), nullptr);
    a_ = openModule();
    named("Filler");
    named("Spacer")->addField(new EmbedObjField("Knob", nullptr));
    InterObjRep* again = named("Form1");
    again->addField(new EmbedObjField("Button", nullptr));
    (new EnumRep("Colour", 0))->addEntry("Blue", 2);
    InterObj button;
    ASSERT_TRUE(ObjectStore::findEmbed(again, "Button", button));
    EXPECT_EQ(getObject(holder(), "Btn"), button.get());
    save(b_);
    const std::vector<std::string> texts = Texts(pathB_, "ObjectProxies");
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Form1.Button"), texts.end());
}

// ---- records that are not sound ------------------------------------------------------

class SpoiltProxies : public Proxies {
protected:
    void SetUp() override {
        Proxies::SetUp();
        makeAandB();
        save(b_);
        unload({b_});
        at_ = RecordOffset(pathB_, "SignatureProxies", 0);
    }
    // Loading B fails cleanly: no assertion, the module's tables usable.
    void expectLoadFails(const char* words) {
        ScopedThrowingAsserts asserts;
        const tModuleIndex m = openModule(pathB_);
        try {
            ObjectStore::resolveSigProxies(m);
            ADD_FAILURE() << "the spoilt proxy was accepted";
        } catch (const ObjectLoadFailed& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
        }
    }
    uint32_t at_ = 0;
};

TEST_F(SpoiltProxies, AnEmptyTextIsRefused) {
    Patch(pathB_, "SignatureProxies", at_, {0, 0, 0, 0});
    expectLoadFails("its text is empty");
}

TEST_F(SpoiltProxies, AnObjectProxyWithAnEmptyTextIsRefusedWhenFollowed) {
    Patch(pathB_, "ObjectProxies", RecordOffset(pathB_, "ObjectProxies", 0), {0, 0, 0, 0});
    ScopedThrowingAsserts asserts;
    b_ = load(pathB_);
    InterObjRep* holder = objectOf(b_, holder_);
    InterObj ref;
    try {
        holder->signature()->fields().pvalue("Ref")->get(ref, *holder, *holder->signature());
        ADD_FAILURE() << "the empty text was accepted";
    } catch (const ObjectLoadFailed& e) {
        EXPECT_NE(std::string(e.what()).find("ObjectProxies entry 0: its text is empty"), std::string::npos)
            << e.what();
    }
}

TEST_F(SpoiltProxies, AFieldListThatNeverEndsIsRefused) {
    // The end byte of the field list and everything after it in the record
    // become field kinds: the reader runs past the record.
    const uint32_t length = RecordLength(pathB_, "SignatureProxies", 0);
    Patch(pathB_, "SignatureProxies", at_ + 9 + 24, std::vector<uint8_t>(length - 9 - 24, FRK_DATA));
    expectLoadFails("SignatureProxies entry 0");
}

TEST_F(SpoiltProxies, AReferenceListThatNeverEndsIsRefused) {
    // The null reference that ends the last list names an object instead:
    // the reader runs past the record.
    const uint32_t length = RecordLength(pathB_, "SignatureProxies", 0);
    Patch(pathB_, "SignatureProxies", at_ + length - 5, {0x04, 1, 0, 0, 0});
    expectLoadFails("SignatureProxies entry 0");
}

TEST_F(SpoiltProxies, ADataSizeSmallerThanItsFieldsIsRefused) {
    Patch(pathB_, "SignatureProxies", at_ + 9 + 24 + 1, {1, 0, 0, 0});
    expectLoadFails("data size");
}

TEST_F(SpoiltProxies, AListEntryThatNamesAProxyIsRefused) {
    Patch(pathB_, "SignatureProxies", at_ + 9 + 24 + 5, {0x04, 0, 0, 0, 0x80});
    expectLoadFails("not sound");
}

TEST_F(SpoiltProxies, AnObjectWhoseSignatureNamesAProxyTheModuleDoesNotHaveFailsToLoad) {
    const uint32_t at = RecordOffset(pathB_, "Objects", copy_) + 4 + 1;
    Patch(pathB_, "Objects", at, {0x06, 9, 0, 0, 0x80});
    ScopedThrowingAsserts asserts;
    b_ = load(pathB_);
    EXPECT_THROW(objectOf(b_, copy_), ObjectLoadFailed);
}

TEST_F(SpoiltProxies, AReferenceToAnObjectProxyTheModuleDoesNotHaveFailsToLoad) {
    const uint32_t at = RecordOffset(pathB_, "Objects", holder_) + 4 + 1 + 5;
    Patch(pathB_, "Objects", at, {0x06, 7, 0, 0, 0x80});
    ScopedThrowingAsserts asserts;
    b_ = load(pathB_);
    InterObjRep* holder = objectOf(b_, holder_);
    InterObj ref;
    EXPECT_THROW(holder->signature()->fields().pvalue("Ref")->get(ref, *holder, *holder->signature()),
                 ObjectLoadFailed);
}

}  // namespace
}  // namespace tq
