// Publishing classes and calling their members: collisions refused, a
// failing library taking back what it published, and the checks of a
// compiled call (arguments, read-only properties, objects without a
// compiled part).
#include <gtest/gtest.h>

#include <string>

#include "platform/com/classreg.h"
#include "store/builtin/igroup.h"
#include "store/builtin/publish.h"
#include "store/errors/extexcep.h"
#include "store/model/interobj.h"
#include "store/persist/objstore.h"
#include "store/storeapp.h"
#include "store/vals.h"

namespace tq {
namespace {

// A small class with a Sub of one parameter, a Function and a read-only
// property.
class Probe final : public IInterObj {
public:
    static PublishedClass& Class() {
        static PublishedClass cls("TessaroTest.Probe", "Probe", "{5E1F0000-0000-4000-8000-00000000AB10}",
                                  [](DllServer* s) -> IInterObj* { return new Probe(s); });
        return cls;
    }
    explicit Probe(DllServer* s) : IInterObj(s) {}
    void PO_DefineFields(SignatureRep& sig) override {
        DefineFields(sig, [&] {
            sig.addField(CompProcDataField::make("Total", IDT_LONG, NoSetter, Method(&Probe::pdGetTotal)), nullptr, 0);
            ParseCppField("Sub Add(ByVal n As Long, ByVal times As Integer)", sig, &Probe::imAdd);
            ParseCppField("Function Twice(ByVal s As String) As String", sig, &Probe::imTwice);
            ParseCppField("Sub Broken(", sig, &Probe::imAdd);
            ParseCppField("Sub Late()", sig, &Probe::imAdd);
        });
    }
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream& in, uint32_t) override { total_ = in.readI32(); }
    void PO_Write(OCLStream& out) override { out.writeI32(total_); }
    const char* className() const override { return "Probe"; }

    int32_t pdGetTotal() { return total_; }
    void imAdd(int32_t n, int16_t times) { total_ += n * times; }
    ValString imTwice(const char* s) { return ValString((std::string(s) + s).c_str()); }

private:
    int32_t total_ = 0;
};

class Publishing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        IdString::Initialize();
        ObjectStore::PublishObjectDLL("tqstore");
    }
    void SetUp() override {
        ObjectStore::OpenModule(DETACHED_MODULE);
        // A declaration that fails reaches the application, which takes it.
        StoreApplication::HandleExceptions(1);
    }
    void TearDown() override { InterObjRep::DeleteObjects(); }

    // The text of what f raises; empty when it raises nothing.
    template <class F>
    static std::string failure(F&& f) {
        try {
            f();
        } catch (const StoreException& e) {
            return e.what();
        }
        return "";
    }

    DefaultStoreApplication app_;
};

TEST_F(Publishing, ACompiledCallChecksItsArgumentsAndConvertsThem) {
    InterObjRep* proto = Probe::Class().PO_GetObject();
    ASSERT_NE(proto, nullptr);
    ASSERT_NE(proto->compiledPart(), nullptr);
    // A detached object goes with its last counted reference: held here.
    const InterObj held(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    InterObjRep* probe = held.get();
    // Listed as a call lists them: the last argument first. A Double for
    // the Long and a String for the Integer are converted.
    ValueList args{ValuePtr(new StringValue(ValString("3"))), ValuePtr(new DoubleValue(5.0))};
    probe->eval("Add", IDT_UNTYPED, &args, nullptr, EVAL_DOTTED, nullptr, nullptr);
    EXPECT_EQ(probe->eval("Total")->as<int32_t>(), 15);
    ValueList one{ValuePtr(new LongValue(1))};
    EXPECT_EQ(failure([&] { probe->eval("Add", IDT_UNTYPED, &one, nullptr, EVAL_DOTTED, nullptr, nullptr); }),
              "Not enough arguments");
    ValueList text{ValuePtr(new StringValue(ValString("ab")))};
    ValuePtr twice = probe->eval("Twice", IDT_UNTYPED, &text, nullptr, EVAL_DOTTED, nullptr, nullptr);
    ASSERT_TRUE(twice);
    EXPECT_EQ(std::string(twice->as<ValString>()), "abab");
    ValuePtr total = probe->eval("Total");
    EXPECT_EQ(failure([&] { *total = LongValue(1); }), "Privileged operation attempted: Access Denied")
        << "a property without a setter is read-only";
    EXPECT_EQ(probe->eval("Total")->as<int32_t>(), 15);
}

TEST_F(Publishing, AFailingDeclarationGoesToTheApplicationAndTheOthersStay) {
    InterObjRep* proto = Probe::Class().PO_GetObject();
    EXPECT_NE(proto->findField("Twice"), nullptr);
    EXPECT_EQ(proto->findField("Late"), nullptr) << "the declarations after the failing one are not made";
    EXPECT_TRUE(proto->signature()->isCompFieldsDefined());
}

TEST_F(Publishing, AProgIdOrNameThatIsTakenIsRefusedAndNothingIsLeftPublished) {
    PublishedClass thief("Tessaro.Group", "Thief", "{5E1F0000-0000-4000-8000-00000000AB11}",
                         [](DllServer* s) -> IInterObj* { return new Probe(s); });
    EXPECT_EQ(failure([&] { thief.PO_InitObject(); }).rfind("Class 'Tessaro.Group' is already published by", 0), 0u);
    EXPECT_EQ(ClassRegistry::ProgIDFromCLSID(thief.classId()), "");

    InterObjRep* plain = InterObjRep::NewNamed("Shadow", nullptr, DETACHED_MODULE, IOT_ORDINARY);
    PublishedClass shadow("TessaroTest.Shadow", "Shadow", "{5E1F0000-0000-4000-8000-00000000AB12}",
                          [](DllServer* s) -> IInterObj* { return new Probe(s); });
    EXPECT_EQ(failure([&] { shadow.PO_InitObject(); }),
              "An object named 'Shadow' already exists and is not a TessaroTest.Shadow.");
    plain->Destroy();
}

TEST_F(Publishing, APublishingThatFailsTakesBackItsClassesAndPrototypes) {
    PublishedClass early("TessaroTest.Early", "Early", "{5E1F0000-0000-4000-8000-00000000AB13}",
                         [](DllServer* s) -> IInterObj* { return new Probe(s); });
    {
        ClassRegistry::PublishingScope scope("libfailing.so");
        InterObjRep* made = early.PO_InitObject();
        ASSERT_NE(made, nullptr);
        EXPECT_NE(ClassRegistry::FindByProgId("TessaroTest.Early"), nullptr);
        scope.abandon();
    }
    EXPECT_EQ(ClassRegistry::FindByProgId("TessaroTest.Early"), nullptr);
    InterObj left;
    EXPECT_FALSE(ObjectStore::find("Early", left) && left.get()) << "the prototype went with its class";
}

TEST_F(Publishing, ADestroyedObjectNoLongerOffersItsCompiledPart) {
    InterObjRep* proto = Probe::Class().PO_GetObject();
    const InterObj held(InterObjRep::NewCopy(*proto, DETACHED_MODULE, IOT_ORDINARY));
    InterObjRep* probe = held.get();
    EXPECT_NE(probe->RWCDataPtr(0), nullptr);
    probe->Destroy();
    EXPECT_EQ(failure([&] { probe->RWCDataPtr(0); }), "object is empty");
}

TEST_F(Publishing, APrototypeDestroyedAfterPublishingIsMadeAgainOnDemand) {
    InterObjRep* first = iGroup::PO_GetObject();
    ASSERT_NE(first, nullptr);
    // The ACL prototype governs the prototypes and withholds D: a program
    // cannot destroy one; a host that lifts the access control can.
    EXPECT_EQ(failure([&] { first->Destroy(); }), "Privileged operation attempted: Access Denied");
    first->setAclObject(nullptr);
    first->Destroy();
    InterObjRep::DeleteObjects();
    InterObjRep* again = nullptr;
    EXPECT_EQ(failure([&] { again = iGroup::PO_GetObject(); }), "") << "no collision with its own registration";
    ASSERT_NE(again, nullptr);
    EXPECT_NE(iGroup::Of(again), nullptr);
    EXPECT_STREQ(again->name(), "Group");
}

}  // namespace
}  // namespace tq
