// Reading text modules into the store: the module level.
#include "tests/compiler/textmod/textmodtest.h"

namespace tq::compiler::test {
namespace {

using Loading = TextModules;

TEST_F(Loading, EnumerationsGetTheirEntriesAndNumberOnFromThePreviousValue) {
    load("Enum Direction\n  North\n  East = 5\n  South\n  West = -1\nEnd Enum\n");
    EnumRep* e = EnumRep::find("direction");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->name(), "Direction");
    ASSERT_EQ(e->count(), 4);
    EXPECT_EQ(e->validLong("North"), 0);
    EXPECT_EQ(e->validLong("East"), 5);
    EXPECT_EQ(e->validLong("South"), 6);
    EXPECT_EQ(e->validLong("West"), -1);
}

TEST_F(Loading, EveryFieldFormReadsBackAsTheDeclarationItPrints) {
    struct Case {
        const char* source;
        const char* field;
        const char* printed;
    } cases[] = {
        {"Dim Count As Integer", "Count", "Dim Count As Integer"},
        {"Dim Total As Long", "Total", "Dim Total As Long"},
        {"Dim Ratio As Single", "Ratio", "Dim Ratio As Single"},
        {"Dim Precise As Double", "Precise", "Dim Precise As Double"},
        {"Dim Price As Currency", "Price", "Dim Price As Currency"},
        {"Dim Caption As String", "Caption", "Dim Caption As String"},
        {"Dim Name$", "Name", "Dim Name As String"},
        {"Dim Big&", "Big", "Dim Big As Long"},
        {"Dim Anything As Object", "Anything", "Dim Anything As Object"},
        {"Dim Owner As Form", "Owner", "Dim Owner As Form"},
        {"Dim Heading As Direction", "Heading", "Dim Heading As Direction"},
        {"Protected Secret As String", "Secret", "Protected Secret As String"},
        {"Const Limit% = 10", "Limit", "Const Limit% = 10"},
        {"Const Greeting = \"say \"\"hi\"\"\"", "Greeting", "Const Greeting$ = \"say \"\"hi\"\"\""},
        {"Const Negative = -5", "Negative", "Const Negative& = -5"},
        {"Dim Grid(1 To 3, 4) As String", "Grid", "Dim Grid(1 To 3, 4) As String"},
        {"Dim Cells(-2 To 2) As Double", "Cells", "Dim Cells(-2 To 2) As Double"},
        {"Dim Helper As New Part", "Helper", "Dim Helper As New Part"},
    };
    std::string text = "Enum Direction\n  North\nEnd Enum\nBegin Object Part\n  Dim X As Long\nEnd Object\n";
    text += "Begin Object Widget\n";
    for (const Case& c : cases) text += std::string("  ") + c.source + "\n";
    text += "End Object\n";
    load(text);
    for (const Case& c : cases) EXPECT_EQ(declaration("Widget", c.field), c.printed) << c.source;
    InterObjRep* w = object("Widget");
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->findField("Secret")->isProtected());
    EXPECT_TRUE(w->findField("Limit")->isConst());
    EXPECT_EQ(number("Widget", "Limit"), 10);
}

TEST_F(Loading, InitialValuesOfEveryKindAreSetAndAClonesOwnValuesOverrideItsPrototypes) {
    load(R"(Enum Color
  Red = 1
  Green = 2
End Enum
Begin Object Shape
  Dim Name As String
  Dim Sides As Integer
  Dim Fill As Color
  Dim Ratio As Double
  Dim Visible As Integer
  Dim Partner As Object
  .Name = "shape"
  .Sides = 3
  .Fill = Green
  .Ratio = -2.5
  .Visible = True
End Object
Begin Object Square From Shape
  .Sides = 4
  .Fill = Color.Red
  .Partner = Shape
End Object
)");
    EXPECT_EQ(text("Shape", "Name"), "shape");
    EXPECT_EQ(number("Shape", "Sides"), 3);
    EXPECT_EQ(number("Shape", "Fill"), 2);
    EXPECT_EQ(text("Shape", "Ratio"), "-2.5");
    EXPECT_EQ(number("Shape", "Visible"), -1);
    // The clone starts from its prototype's values.
    EXPECT_EQ(text("Square", "Name"), "shape");
    EXPECT_EQ(number("Square", "Sides"), 4);
    EXPECT_EQ(number("Square", "Fill"), 1);
    InterObjRep* square = object("Square");
    ASSERT_NE(square, nullptr);
    EXPECT_TRUE(square->isClone());
    InterObj partner;
    SignatureRep* owner = nullptr;
    square->signature()->findField("Partner", owner, 0)->get(partner, *square, *owner);
    EXPECT_EQ(partner.get(), object("Shape"));
}

TEST_F(Loading, AnObjectIsMadeAfterThePrototypeItNamesWhereverTheFileDeclaresIt) {
    load(R"(Begin Object Square From Shape
  .Sides = 4
  .Other = Circle
End Object
Begin Object Circle From Shape
  .Other = Square
End Object
Begin Object Shape
  Dim Sides As Integer
  Dim Other As Object
  .Sides = 1
End Object
)");
    InterObjRep* square = object("Square");
    ASSERT_NE(square, nullptr);
    EXPECT_EQ(square->protoObject(), object("Shape"));
    EXPECT_EQ(number("Square", "Sides"), 4);
    EXPECT_EQ(number("Circle", "Sides"), 1);
    // Objects that name each other both get their values.
    InterObj other;
    SignatureRep* owner = nullptr;
    square->signature()->findField("Other", owner, 0)->get(other, *square, *owner);
    EXPECT_EQ(other.get(), object("Circle"));
    InterObjRep* circle = object("Circle");
    circle->signature()->findField("Other", owner, 0)->get(other, *circle, *owner);
    EXPECT_EQ(other.get(), square);
}

TEST_F(Loading, APrototypeInAnotherLoadedModuleIsFoundByName) {
    load("Begin Object Base\n  Dim Size As Long\n  .Size = 7\nEnd Object\n", "base.tqs");
    load("Begin Object Derived From Base\n  Dim Extra As String\nEnd Object\n", "derived.tqs");
    InterObjRep* d = object("Derived");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(number("Derived", "Size"), 7);
    EXPECT_EQ(d->signature()->parent(), object("Base")->signature());
}

TEST_F(Loading, EmbeddedObjectsGetMembersOfTheirOwnAndInheritedOnesTakeValues) {
    load(R"(Begin Object Part
  Dim Caption As String
End Object
Begin Object Window
  Dim Title As String
  Type Label From Part
    Dim Size As Integer
    .Caption = "label"
    .Size = 9
  End Type
End Object
Begin Object Dialog From Window
  Type Label
    .Caption = "changed"
  End Type
End Object
)");
    EXPECT_EQ(text("Window.Label", "Caption"), "label");
    EXPECT_EQ(number("Window.Label", "Size"), 9);
    EXPECT_EQ(declaration("Window", "Label"), "Type Label From Part");
    EXPECT_EQ(text("Dialog.Label", "Caption"), "changed");
    EXPECT_EQ(text("Window.Label", "Caption"), "label");
}

TEST_F(Loading, EventsAndDeclareLinesAreKeptAsDeclared) {
    load(R"(Begin Object Clock
  Event Tick(ByVal n As Long)
  Event Closing() As Integer
  Declare Function StrLen& Lib "libc.so.6" Alias "strlen" (ByVal s As String)
End Object
)");
    InterObjRep* clock = object("Clock");
    ASSERT_NE(clock, nullptr);
    const EventDefPtrList& events = clock->signature()->events();
    ASSERT_EQ(events.length(), 2u);
    EXPECT_STREQ(events.at(0)->name(), "Tick");
    EXPECT_EQ(events.at(0)->args(), "(ByVal n As Long)");
    EXPECT_EQ(events.at(1)->returnsValue(), IDT_SHORT);
    auto* f = dynamic_cast<MethodField*>(clock->findField("StrLen"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->getSource(), "Declare Function StrLen& Lib \"libc.so.6\" Alias \"strlen\" (ByVal s As String)\r\n");
}

TEST_F(Loading, EveryErrorOfTheModuleLevelIsReportedWithItsPosition) {
    const std::string errors = errorsOf(R"(Begin Object A From Missing
End Object
Begin Object B
  Dim V As Variant
  Dim N As Long
  .Nope = 1
  .N = "text"
  .N = Unknown
  Dim Grid(Size) As Long
End Object
Begin Object B
End Object
Begin Object C From D
End Object
Begin Object D From C
End Object
)",
                                        "bad.tqs");
    EXPECT_NE(errors.find("bad.tqs:1:1: there is no object named 'Missing'"), std::string::npos) << errors;
    EXPECT_NE(errors.find("bad.tqs:4:12: a field cannot be a Variant"), std::string::npos) << errors;
    EXPECT_NE(errors.find("bad.tqs:6:3: 'Nope' is not a field"), std::string::npos) << errors;
    EXPECT_NE(errors.find("bad.tqs:7:"), std::string::npos) << errors;
    EXPECT_NE(errors.find("bad.tqs:8:8: 'Unknown' is not a value"), std::string::npos) << errors;
    EXPECT_NE(errors.find("bad.tqs:9:12: an array bound must be a whole-number constant"), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("bad.tqs:11:1:"), std::string::npos) << errors;
    EXPECT_NE(errors.find("are each made from the other"), std::string::npos) << errors;
    // In the order of the file.
    EXPECT_LT(errors.find("bad.tqs:4:"), errors.find("bad.tqs:6:"));
}

// A procedure the object refuses (its name is a field's already) is an
// error at its line, and the refused procedure is freed once.
TEST_F(Loading, AProcedureWhoseNameAFieldHasIsAnErrorAtItsLine) {
    const std::string errors = errorsOf(R"(Begin Object P
  Dim Total As Long
  Sub Total()
  End Sub
End Object
)",
                                        "dup.tqs");
    EXPECT_NE(errors.find("dup.tqs:3:"), std::string::npos) << errors;
}

TEST_F(Loading, AnElementsValueNeedsAnArrayAndWholeIndicesWithinItsBounds) {
    const std::string errors = errorsOf(R"(Begin Object E
  Dim A(1 To 3) As Long
  Dim N As Long
  .A(0) = 1
  .A(1, 1) = 1
  .A(1.5) = 1
  .N(1) = 1
  .A = 1
  .A(Size) = 1
  .A(3) = 7
End Object
)",
                                        "elements.tqs");
    for (const char* expected : {"elements.tqs:4:3: an index of 'A' lies outside its bounds",
                                 "elements.tqs:5:3: 'A' has 1 dimension, not 2",
                                 "elements.tqs:6:6: an element's index must be a whole-number constant",
                                 "elements.tqs:7:3: 'N' is not an array field",
                                 "elements.tqs:8:3: 'A' is not a field that holds a value",
                                 "elements.tqs:9:6: an element's index must be a whole-number constant"})
        EXPECT_NE(errors.find(expected), std::string::npos) << expected << "\n" << errors;
    EXPECT_EQ(errors.find("elements.tqs:10:"), std::string::npos) << errors;
}

TEST_F(Loading, AParseErrorStopsTheLoadBeforeAnythingIsBuilt) {
    const std::string errors = errorsOf("Begin Object A\n  Dim X As Long\n  Sub S(\nEnd Object\n", "p.tqs");
    EXPECT_NE(errors.find("p.tqs:3:"), std::string::npos) << errors;
    EXPECT_EQ(object("A"), nullptr);
}

TEST_F(Loading, TheModuleBeingOpenedIsRestoredAfterALoadThatWorksOrFails) {
    const tModuleIndex m = ObjectStore::LoadModule(nullptr, 1, 0);
    ObjectStore::OpenModule(DETACHED_MODULE);
    LoadTextModule("Begin Object A\nEnd Object\n", "a.tqs", m);
    EXPECT_EQ(ObjectStore::OpenModule(), DETACHED_MODULE);
    EXPECT_THROW(LoadTextModule("Begin Object A\nEnd Object\n", "a.tqs", m), CompileError);
    EXPECT_EQ(ObjectStore::OpenModule(), DETACHED_MODULE);
}

}  // namespace
}  // namespace tq::compiler::test

namespace tq::compiler::test {
namespace {

TEST_F(Loading, TheLanguageGuidesExampleLoads) {
    const std::string source = readFile(std::string(TQ_SOURCE_DIR) + "/tests/compiler/corpus/shapes.tqs");
    ASSERT_FALSE(source.empty());
    load(source, "shapes.tqs");
    EXPECT_EQ(text("Square.Label", "Name"), "label");
    EXPECT_EQ(number("Square", "Sides"), 4);
}

}  // namespace
}  // namespace tq::compiler::test

namespace tq::compiler::test {
namespace {

TEST_F(Loading, AProceduresErrorsComeWithTheModulesOthersAtTheirLinesOfTheFile) {
    const std::string errors = errorsOf("Begin Object A\n  Dim N As Long\n  .Missing = 1\n  Sub S()\n"
                                        "    Dim v As Variant\n  End Sub\nEnd Object\n",
                                        "e.tqs");
    EXPECT_NE(errors.find("e.tqs:3:3: 'Missing' is not a field"), std::string::npos) << errors;
    EXPECT_NE(errors.find("e.tqs:5:"), std::string::npos) << errors;
    EXPECT_LT(errors.find("e.tqs:3:"), errors.find("e.tqs:5:"));
}

TEST_F(Loading, CrlfLineEndsReadLikeLfAndSaveAsLf) {
    const tModuleIndex m = load("Begin Object A\r\n  Dim N As Long\r\n  .N = 2\r\n  Sub S()\r\n    N = 3\r\n"
                                "  End Sub\r\nEnd Object\r\n");
    EXPECT_EQ(number("A", "N"), 2);
    EXPECT_EQ(TextModuleText(m), "Begin Object A\n  Dim N As Long\n  .N = 2\n  Sub S()\n    N = 3\n  End Sub\nEnd Object\n");
}

}  // namespace
}  // namespace tq::compiler::test
