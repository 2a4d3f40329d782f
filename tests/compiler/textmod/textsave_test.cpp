// Writing modules as text, the round trips between the forms, and the
// default application's text modules.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/storage/fileops.h"
#include "tests/compiler/textmod/textmodtest.h"

namespace tq::compiler::test {
namespace {

using Saving = TextModules;

// A module the saver wrote: enumerations first, objects in the order the
// module made them, one blank line between them.
const char* const kSaved = R"(Enum Color
  Red = 1
  Green = 2
End Enum

Begin Object Part
  Dim Caption As String
  .Caption = "part"
End Object

Begin Object Shape
  Dim Name As String
  Dim Sides As Integer
  Dim Fill As Color
  Dim Ratio As Double
  Dim Owner As Shape
  Protected Secret As Long
  Const Limit% = 10
  Dim Grid(1 To 3, 4) As String
  Dim Scores(2) As Long
  Dim Price As Currency
  Dim Prices(-1 To 1) As Currency
  Dim Parts(1) As Part
  Dim Helper As New Part
  Event Changed(Sides As Integer)
  Event Closing() As Integer
  .Name = "shape"
  .Fill = Green
  .Ratio = 0.1
  .Grid(1, 0) = "first"
  .Grid(2, 3) = "^Iinner"
  .Scores(2) = 42
  .Price = 1234.5678
  .Prices(-1) = -1e-04
  .Prices(1) = 12.34
  .Parts(1) = Part
  Declare Function StrLen& Lib "libc.so.6" Alias "strlen" (ByVal s As String)
  Sub Describe()
    Print Name; " has "; Sides; " sides" ' aloud
  End Sub
  Type Label From Part
    Dim Size As Integer
    .Caption = "label"
  End Type
  Type Helper
    .Caption = "helper"
  End Type
End Object

Begin Object Square From Shape
  .Name = "square"
  .Sides = 4
  .Owner = Shape
  .Grid(1, 0) = ""
  .Grid(3, 4) = "last"
  .Scores(0) = -7
  .Prices(1) = 0.125
  .Parts(0) = Part
  .Parts(1) = Nothing
  Type Label
    .Size = 3
  End Type
End Object
)";

TEST_F(Saving, ASavedModuleLoadsAndSavesByteForByteTheSame) {
    const tModuleIndex m = load(kSaved);
    EXPECT_EQ(TextModuleText(m), kSaved);
}

TEST_F(Saving, ObjectsKeepTheOrderTheModuleMadeThemExceptWhereAValueNamesALaterOne) {
    // Names sort the other way round, so neither the name nor the clone
    // list's (newest first) order can pass. Cow's value names Ant, which
    // the reader makes first, and so does the text.
    const std::string zebra = "Begin Object Zebra\n  Dim Legs As Integer\n  Dim Pal As Object\nEnd Object\n";
    const std::string yak = "Begin Object Yak From Zebra\n  .Legs = 4\nEnd Object\n";
    const std::string cow = "Begin Object Cow From Zebra\n  .Pal = Ant\nEnd Object\n";
    const std::string ant = "Begin Object Ant\nEnd Object\n";
    const std::string bee = "Begin Object Bee From Zebra\n  .Legs = 6\nEnd Object\n";
    const tModuleIndex m = load(zebra + "\n" + yak + "\n" + cow + "\n" + ant + "\n" + bee);
    const std::string expected = zebra + "\n" + yak + "\n" + ant + "\n" + cow + "\n" + bee;
    EXPECT_EQ(TextModuleText(m), expected);
    const tModuleIndex again = ObjectStore::LoadModule(nullptr, 1, 0);
    ObjectStore::UnloadModule(m);
    LoadTextModule(expected, "again.tqs", again);
    EXPECT_EQ(TextModuleText(again), expected);
}

TEST_F(Saving, AHandWrittenModuleSavesInTheCanonicalFormWhichThenStaysPut) {
    const tModuleIndex m = load(R"(' comments outside procedures are not kept
Begin Object Square From Shape
   .Sides = 4
End Object
Begin Object Shape
   Dim Sides As Integer
   Dim Name As String
   .Sides = 0
   .Name = ""
   Sub Hello()
       Print "hi"
   End Sub
End Object
)");
    const std::string first = TextModuleText(m);
    EXPECT_EQ(first, R"(Begin Object Shape
  Dim Sides As Integer
  Dim Name As String
  Sub Hello()
    Print "hi"
  End Sub
End Object

Begin Object Square From Shape
  .Sides = 4
End Object
)");
    const tModuleIndex again = ObjectStore::LoadModule(nullptr, 1, 0);
    ObjectStore::UnloadModule(m);
    LoadTextModule(first, "again.tqs", again);
    EXPECT_EQ(TextModuleText(again), first);
}

TEST_F(Saving, ValuesKeepEveryDigitAndEveryCharacter) {
    // A long text is not cut, control characters and high bytes stay in
    // one literal, and a double reads back to the same bits.
    const std::string longText(2000, 'x');
    const tModuleIndex m = load("Begin Object V\n  Dim S As String\n  Dim D As Double\n  Dim F As Single\n"
                                "  .S = \"" + longText + "\"\n  .D = 0.12345678901234568\n  .F = 3.4e+38\n"
                                "  Dim C As String\n  .C = \"\xff^Hbel^I\"\"q\"\"^^\"\n"
                                "  Dim Big As Double\n  .Big = 12345678901234.0\nEnd Object\n");
    const std::string saved = TextModuleText(m);
    EXPECT_NE(saved.find(".S = \"" + longText + "\"\n"), std::string::npos);
    EXPECT_NE(saved.find(".C = \"\xff^Hbel^I\"\"q\"\"^^\"\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(".D = 0.12345678901234568\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(".F = 3.4e+38\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(".Big = 12345678901234.0\n"), std::string::npos) << saved;
    const tModuleIndex again = ObjectStore::LoadModule(nullptr, 1, 0);
    ObjectStore::UnloadModule(m);
    LoadTextModule(saved, "again.tqs", again);
    EXPECT_EQ(TextModuleText(again), saved);
}

TEST_F(Saving, TextToBinaryToTextGivesTheSameText) {
    const std::string tqs = writeFile("shapes.tqs", kSaved);
    const std::string qbo = dir_.file("shapes.qbo");
    const std::string back = dir_.file("back.tqs");
    ConvertTextToBinary(tqs, qbo);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0) << "the conversion leaves nothing loaded";
    ConvertBinaryToText(qbo, back);
    EXPECT_EQ(readFile(back), kSaved);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

TEST_F(Saving, AConversionOfATextThatDoesNotCompileLeavesNoFileAndNoModule) {
    const std::string tqs = writeFile("bad.tqs", "Begin Object A From Nowhere\nEnd Object\n");
    const std::string qbo = dir_.file("bad.qbo");
    EXPECT_THROW(ConvertTextToBinary(tqs, qbo), CompileError);
    EXPECT_FALSE(std::filesystem::exists(qbo));
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    EXPECT_THROW(ConvertTextToBinary(dir_.file("missing.tqs"), qbo), StoreException);
}

TEST_F(Saving, TheDefaultApplicationLoadsAndSavesTextModulesThroughTheStore) {
    const std::string tqs = writeFile("shapes.tqs", kSaved);
    const tModuleIndex m = ObjectStore::LoadModule(tqs.c_str(), 0, 0);
    ASSERT_TRUE(ObjectStore::ValidIndex(m));
    EXPECT_TRUE(ObjectStore::ModuleIsText(m));
    EXPECT_EQ(text("Square", "Name"), "square");
    // Save writes the text back where it came from.
    InterObjRep* square = object("Square");
    SignatureRep* owner = nullptr;
    square->signature()->findField("Sides", owner, 0)->set(int32_t(5), *square, *owner);
    ObjectStore::Save(m);
    std::string expected = kSaved;
    expected.replace(expected.find(".Sides = 4"), 10, ".Sides = 5");
    EXPECT_EQ(readFile(tqs), expected);
    // Save as text elsewhere; then as binary, which reads back.
    const std::string copy = dir_.file("copy.tqs");
    ObjectStore::SaveAs(m, copy.c_str(), 1);
    EXPECT_EQ(readFile(copy), expected);
    const std::string qbo = dir_.file("copy.qbo");
    ObjectStore::SaveAs(m, qbo.c_str(), 0);
    EXPECT_FALSE(ObjectStore::ModuleIsText(m));
    ObjectStore::UnloadModule(m);
    const tModuleIndex b = ObjectStore::LoadModule(qbo.c_str(), 0, 0);
    ASSERT_TRUE(ObjectStore::ValidIndex(b));
    EXPECT_EQ(TextModuleText(b), expected);
}

TEST_F(Saving, ATextModuleThatFailsToCompileShowsEveryErrorBeforeTheQuestion) {
    // The default application's box answers its default button, Yes: the
    // module is unloaded and nothing is loaded.
    const std::string tqs = writeFile("bad.tqs", "Begin Object A From Nowhere\nEnd Object\n"
                                                 "Begin Object B\n  Dim V As Variant\nEnd Object\n");
    testing::internal::CaptureStderr();
    const tModuleIndex m = ObjectStore::LoadModule(tqs.c_str(), 0, 0);
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(m, DETACHED_MODULE);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    EXPECT_NE(shown.find("Load text module error"), std::string::npos) << shown;
    EXPECT_NE(shown.find("bad.tqs:1:1: there is no object named 'Nowhere'"), std::string::npos) << shown;
    EXPECT_NE(shown.find("bad.tqs:4:"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Unload module: "), std::string::npos) << shown;
}

TEST_F(Saving, ATextModuleSavedOverAReadOnlyPlaceFailsAndKeepsTheOldFile) {
    const tModuleIndex m = load("Begin Object A\nEnd Object\n");
    const std::string blocked = dir_.file("no/such/folder/a.tqs");
    EXPECT_THROW(SaveTextModuleFile(blocked, m), StoreException);
    // Another save of the file holds its write lock.
    const std::string tqs = writeFile("old.tqs", "old text\n");
    UniqueFd holder(::open(tqs.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(TryWriteLock(holder.get()));
    EXPECT_THROW(SaveTextModuleFile(tqs, m), StoreException);
    EXPECT_EQ(readFile(tqs), "old text\n");
}

TEST_F(Saving, AFileMarkedReadOnlyIsNeitherRewrittenByASaveNorReplacedByABuild) {
    const std::string tqs = writeFile("marked.tqs", "Begin Object A\n  Dim N As Long\nEnd Object\n");
    ASSERT_EQ(::chmod(tqs.c_str(), 0444), 0);
    const tModuleIndex m = ObjectStore::LoadModule(tqs.c_str(), 0, 0);
    ASSERT_TRUE(ObjectStore::ValidIndex(m));
    // Unchanged, there is nothing to refuse.
    ObjectStore::Save(m);
    InterObjRep* a = object("A");
    SignatureRep* owner = nullptr;
    a->signature()->findField("N", owner, 0)->set(int32_t(5), *a, *owner);
    EXPECT_THROW(ObjectStore::Save(m), StoreException);
    EXPECT_EQ(readFile(tqs), "Begin Object A\n  Dim N As Long\nEnd Object\n");
    const std::string qbo = writeFile("marked.qbo", "");
    ASSERT_EQ(::chmod(qbo.c_str(), 0444), 0);
    EXPECT_THROW(ConvertTextToBinary(tqs, qbo), StoreException);
    EXPECT_EQ(readFile(qbo), "");
}

}  // namespace
}  // namespace tq::compiler::test
