// Saving modules: what reaches the file, read back in a fresh process;
// the "Static globals" record byte for byte; save as, compaction, save all;
// the host's hooks and the dirty state.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>

#include "platform/util/dllutils.h"
#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/objval.h"
#include "store/persist/vlstrrep.h"
#include "store/tqstore.h"
#include "store/vals.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

using Saving = ModuleStoreTest;

std::vector<uint8_t> Ref(uint8_t flags, uint32_t descriptor) {
    std::vector<uint8_t> r(5);
    r[0] = flags;
    StoreLE32(&r[1], descriptor);
    return r;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
    out.insert(out.end(), more.begin(), more.end());
}

TEST_F(Saving, EveryKindOfThingReadsBackInAFreshProcessAndOpeningReadsNoRecord) {
    if (IsFreshProcess()) {
        const std::string path = FreshProcessArg("TQ_FILE");
        const tModuleIndex m = load(path, 0);
        // Opening reads the tables' arrays, the names and the static globals,
        // never a thing.
        EXPECT_EQ(InterObjRep::LiveCount(), objectsAtStart_);
        EXPECT_EQ(SignatureRep::LiveCount(), signaturesAtStart_);
        EXPECT_EQ(ObjectStore::StaticCount(m), 3);
        EXPECT_EQ(ObjectStore::DynamicCount(m), 1);
        EXPECT_EQ(ObjectStore::Module(m)->preloads().length(), 1u);
        EXPECT_STREQ(static_cast<const char*>(ObjectStore::FormatModuleVersion(m)),
                     ("Tessaro:" + std::string(LibraryVersion()) + ".0;" + DLLUtils::AttachedDLLs()).c_str());

        EXPECT_EQ(found("Form2"), nullptr) << "the old name went with the rename";
        InterObjRep* dialog = found("Dialog");
        InterObjRep* form = found("Form1");
        InterObjRep* button = found("Button");
        ASSERT_TRUE(dialog && form && button);
        EXPECT_TRUE(ObjectStore::IsPreload(dialog));
        EXPECT_EQ(dialog->signature()->parent(), form->signature());
        EXPECT_EQ(getLong(dialog, "Extra"), 33);
        InterObjRep* clone = ObjectStore::DynamicsList(m)[0].get();
        ASSERT_NE(clone, nullptr);
        EXPECT_TRUE(clone->isClone());
        EXPECT_EQ(clone->signature(), form->signature());
        EXPECT_EQ(getLong(clone, "I"), -7);
        EXPECT_EQ(getLong(clone, "L"), 100000);
        EXPECT_EQ(clone->eval("F")->as<double>(), 2.5);
        EXPECT_EQ(clone->eval("D")->as<double>(), 1e100);
        EXPECT_EQ(clone->eval("C")->as<Currency>().hundredths(), 1234.0);
        EXPECT_EQ(getText(clone, "S"), "clone text");
        EXPECT_EQ(getText(form, "S"), "proto text");
        EXPECT_EQ(clone->eval("Ref")->as<InterObj>().get(), button);
        EXPECT_EQ(getText(clone, "E"), "On");
        EXPECT_EQ(getLong(clone, "E"), 1);
        EXPECT_EQ(getText(form, "E"), "Off");
        EXPECT_STREQ(static_cast<const char*>(Element(clone, "A", {1, 3})->as<ValString>()), "corner");
        EXPECT_STREQ(static_cast<const char*>(Element(clone, "A", {0, 3})->as<ValString>()), "");
        EXPECT_NE(EnumRep::find("State"), nullptr);
        InterObj embed;
        ASSERT_TRUE(ObjectStore::findEmbed(clone, "Btn", embed));
        EXPECT_EQ(getText(embed.get(), "Caption"), "embedded");
        EXPECT_EQ(embed->host(), clone);
        InterObjRep* inForm = found("Form1.Btn");
        ASSERT_NE(inForm, nullptr);
        EXPECT_EQ(inForm->host(), form);
        // A clone that nothing names but its signature is there too.
        EXPECT_EQ(dialog->signature()->objects().length(), 2u);
        EXPECT_EQ(getLong(dialog->signature()->objects()[0].get(), "Extra"), 44);

        // Changed here, saved again.
        setLong(clone, "L", 7);
        InterObj added(named("Added", m));
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        return;
    }
    const std::string path = file("round.qbo");
    {
        const tModuleIndex m = load(path);
        InterObj button(named("Button", m));
        addData(button.get(), "Caption", IDT_STRING);
        InterObj form(named("Form1", m));
        addData(form.get(), "I", IDT_SHORT);
        addData(form.get(), "L", IDT_LONG);
        addData(form.get(), "F", IDT_FLOAT);
        addData(form.get(), "D", IDT_DOUBLE);
        addData(form.get(), "C", IDT_CURRENCY);
        addData(form.get(), "S", IDT_STRING);
        addData(form.get(), "Ref", IDT_OBJECT, "Button");
        form->addField(new EmbedObjField("Btn", "Button"));
        EnumRep* state = new EnumRep("State", 0);
        state->addEntry("Off", 0);
        state->addEntry("On", 1);
        form->addField(InterEnumField::make("E", state, 1));
        InterArrayField* grid = InterArrayField::make("A", IDT_STRING, 2);
        grid->defineBounds(0, 0, 1);
        grid->defineBounds(1, 1, 3);
        form->addField(grid);
        setText(form.get(), "S", "proto text");
        InterObj clone(InterObjRep::NewCopy(*form, m, IOT_DYNAMIC));
        setLong(clone.get(), "I", -7);
        setLong(clone.get(), "L", 100000);
        *clone->eval("F") = SingleValue(2.5f);
        *clone->eval("D") = DoubleValue(1e100);
        *clone->eval("C") = CurrencyValue(Currency(12.34));
        setText(clone.get(), "S", "clone text");
        *clone->eval("Ref") = ObjectValue(button);
        setText(clone.get(), "E", "On");
        *Element(clone.get(), "A", {1, 3}) = StringValue(ValString("corner"));
        InterObj embed;
        ASSERT_TRUE(ObjectStore::findEmbed(clone.get(), "Btn", embed));
        setText(embed.get(), "Caption", "embedded");
        InterObj form2(named("Form2", m, form.get()));
        addData(form2.get(), "Extra", IDT_LONG);
        setLong(form2.get(), "Extra", 33);
        InterObj plain(InterObjRep::NewCopy(*form2, m, IOT_ORDINARY));
        setLong(plain.get(), "Extra", 44);
        ObjectStore::RequestPreload(form2.get());
        ObjectStore::Rename("Form2", "Dialog");
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        EXPECT_FALSE(ObjectStore::IsDirty(m));
    }
    for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
         m = ObjectStore::NextValidIndex(DETACHED_MODULE))
        ObjectStore::UnloadModule(m);
    ASSERT_EQ(RunInFreshProcess({{"TQ_FILE", path}}), 0);

    const tModuleIndex m = load(path, 0);
    EXPECT_EQ(ObjectStore::StaticCount(m), 4);
    EXPECT_NE(found("Added"), nullptr);
    EXPECT_EQ(getLong(ObjectStore::DynamicsList(m)[0].get(), "L"), 7);
}

TEST_F(Saving, TheStaticGlobalsOfAModuleWithoutDynamicAndPreloadObjectsEndWithTwoNullReferences) {
    const std::string path = file("solo.qbo");
    const tModuleIndex m = load(path);
    InterObj solo(named("Solo", m));
    const tDescriptor name = solo->idname().descriptor();
    const tDescriptor object = solo->descriptor();
    ObjectStore::Save(m);
    ObjectStore::Commit(m);

    std::vector<uint8_t> expected = {1, 0, 0, 0, 1, 0, 0, 0};
    Append(expected, Ref(6, name.raw()));
    Append(expected, Ref(4, object.raw()));
    Append(expected, Ref(4, 0x3FFFFFFF));
    Append(expected, Ref(5, 0x3FFFFFFF));
    EXPECT_EQ(StreamBytes(path, "Static globals"), expected);

    // Dynamic objects and preloads, in list order, before their ends.
    InterObj dynamic(InterObjRep::NewCopy(*solo, m, IOT_DYNAMIC));
    ObjectStore::RequestPreload(solo.get());
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    std::vector<uint8_t> more(expected.begin(), expected.begin() + 18);
    Append(more, Ref(4, dynamic->descriptor().raw()));
    Append(more, Ref(4, 0x3FFFFFFF));
    Append(more, Ref(5, object.raw()));
    Append(more, Ref(5, 0x3FFFFFFF));
    EXPECT_EQ(StreamBytes(path, "Static globals"), more);

    // And the stream shrinks back when they go.
    ObjectStore::RemovePreload(solo.get());
    dynamic->Destroy();
    dynamic = nullptr;
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    EXPECT_EQ(StreamBytes(path, "Static globals"), expected);
}

TEST_F(Saving, TheVersionRecordNamesThisLibraryAndTheAttachedLibraries) {
    const std::string path = file("version.qbo");
    const tModuleIndex m = load(path);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    const std::vector<uint8_t> bytes = StreamBytes(path, "Module version");
    uint32_t high = 0, low = 0;
    ObjectStore::GetTessaroProductVersion(high, low);
    EXPECT_EQ(DLLUtils::FormatVersion(high, low), std::string(LibraryVersion()) + ".0");
    const std::string libraries = DLLUtils::AttachedDLLs();
    ASSERT_EQ(bytes.size(), 12 + libraries.size());
    EXPECT_EQ(LoadLE32(bytes.data()), high);
    EXPECT_EQ(LoadLE32(bytes.data() + 4), low);
    EXPECT_EQ(LoadLE32(bytes.data() + 8), libraries.size());
    EXPECT_EQ(std::string(bytes.begin() + 12, bytes.end()), libraries);
    EXPECT_STREQ(static_cast<const char*>(ObjectStore::FormatModuleVersion(DETACHED_MODULE)),
                 ("Tessaro:" + DLLUtils::FormatVersion(high, low) + ";" + libraries).c_str());
}

TEST_F(Saving, TheDetachedModuleCannotBeSavedOrCompacted) {
    try {
        ObjectStore::Save(DETACHED_MODULE);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Can't save detached module.");
    }
    try {
        ObjectStore::SaveAs(DETACHED_MODULE, file("x.qbo").c_str(), 0);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Can't save detached module.");
    }
    try {
        ObjectStore::Compact(DETACHED_MODULE);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Can't compact detached module.");
    }
    EXPECT_FALSE(std::filesystem::exists(file("x.qbo")));
}

TEST_F(Saving, SaveAsOntoAReadOnlyFileFailsAndLeavesTheModuleWhereItWas) {
    const std::string path = file("mine.qbo");
    const std::string locked = file("locked.qbo");
    const tModuleIndex m = load(path);
    InterObj o(named("Mine", m));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    {
        const tModuleIndex other = load(locked);
        ObjectStore::Save(other);
        ObjectStore::Commit(other);
        ObjectStore::UnloadModule(other);
    }
    ::chmod(locked.c_str(), 0444);
    const auto lockedBytes = StreamBytes(locked, "Static globals");
    try {
        ObjectStore::SaveAs(m, locked.c_str(), 0);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_EQ(std::string(e.what()), "Could not save as: " + locked + " (the file is read-only)");
        EXPECT_STREQ(e.name(), "ModuleSaveAsError");
    }
    EXPECT_EQ(StreamBytes(locked, "Static globals"), lockedBytes);
    EXPECT_EQ(ObjectStore::GetModuleFileNameA(m), path);
    ::chmod(locked.c_str(), 0644);

    // A target another module holds for writing cannot be taken over either.
    const tModuleIndex holder = load(file("held.qbo"));
    try {
        ObjectStore::SaveAs(m, file("held.qbo").c_str(), 0);
        ADD_FAILURE() << "another writer's file was taken over";
    } catch (const StoreException& e) {
        EXPECT_EQ(std::string(e.what()), "Could not save as: " + file("held.qbo") +
                                             " (another loaded module has that file)");
    }
    EXPECT_EQ(ObjectStore::GetModuleFileNameA(m), path);
    EXPECT_EQ(ObjectStore::GetModuleFileNameA(holder), file("held.qbo"));

    // Nor can the file of a module loaded read-only, which holds no lock,
    // nor the text of a text module.
    const tModuleIndex reader = load(locked, 0, 1);
    try {
        ObjectStore::SaveAs(m, locked.c_str(), 0);
        ADD_FAILURE() << "a loaded module's file was taken over";
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.name(), "ModuleSaveAsError");
    }
    EXPECT_EQ(StreamBytes(locked, "Static globals"), lockedBytes);
    EXPECT_EQ(ObjectStore::FindModule(locked.c_str()), reader);
    app_->textEnabled = 1;
    const std::string text = file("prog.txt");
    std::ofstream(text) << "Object Prog\n";
    const tModuleIndex textModule = load(text, 0);
    EXPECT_THROW(ObjectStore::SaveAs(m, text.c_str(), 1), StoreException);
    EXPECT_EQ(ObjectStore::FindModule(text.c_str()), textModule);
    EXPECT_EQ(ObjectStore::GetModuleFileNameA(m), path);

    // A module opened read-only saves nothing, so saving it as a new file
    // would report a copy without its changes as saved: refused, and no file
    // is made.
    InterObj change(named("Unsaved", reader));
    const std::string copy = file("copy.qbo");
    try {
        ObjectStore::SaveAs(reader, copy.c_str(), 0);
        ADD_FAILURE() << "a read-only module was saved as";
    } catch (const StoreException& e) {
        EXPECT_EQ(std::string(e.what()), "Could not save as: " + copy + " (the module was opened read-only)");
    }
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(ObjectStore::FindModule(locked.c_str()), reader);
    EXPECT_TRUE(ObjectStore::ModuleIsReadOnly(reader));

    // The module still saves where it was.
    InterObj more(named("More", m));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
    const tModuleIndex back = load(path, 0);
    EXPECT_EQ(ObjectStore::StaticCount(back), 2);
}

TEST_F(Saving, SaveAsOntoANewFileMovesTheModuleThereAndCommitsIt) {
    const std::string path = file("old.qbo");
    const tModuleIndex m = load(path);
    InterObj o(named("Moved", m));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    const std::vector<uint8_t> oldStatics = StreamBytes(path, "Static globals");
    InterObj later(named("Later", m));
    ObjectStore::SaveAs(m, file("new.qbo").c_str(), 0);
    EXPECT_EQ(ObjectStore::GetModuleFileNameA(m), file("new.qbo"));
    EXPECT_EQ(ObjectStore::FindModule(file("new.qbo").c_str()), m);
    EXPECT_EQ(ObjectStore::FindModule(path.c_str()), NO_MODULE);
    EXPECT_EQ(StreamBytes(path, "Static globals"), oldStatics) << "the old file stays as it was committed";
    o = nullptr;
    later = nullptr;
    ObjectStore::UnloadModule(m);
    const tModuleIndex back = load(file("new.qbo"), 0);
    EXPECT_EQ(ObjectStore::StaticCount(back), 2);
    EXPECT_NE(found("Later"), nullptr);
}

TEST_F(Saving, ASaveAsWhoseCommitFailsLeavesTheModuleInItsOldFileWithItsNameAndChanges) {
    const std::string path = file("home.qbo");
    const std::string target = file("away.qbo");
    const tModuleIndex m = load(path);
    InterObj kept(named("Kept", m));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    InterObj later(named("Later", m));
    const tModuleIndex untitled = load("");
    const std::string temp = ObjectStore::GetModuleFileNameA(untitled);
    const int16_t serial = ObjectStore::ModuleUntitledSerialNum(untitled);

    // The first block each commit writes fails.
    bool failed = false;
    OCLStorage::SetWriteFaultHook([&](uint64_t) { return std::exchange(failed, true); });
    EXPECT_ANY_THROW(ObjectStore::SaveAs(m, target.c_str(), 0));
    failed = false;
    EXPECT_ANY_THROW(ObjectStore::SaveAs(untitled, target.c_str(), 0));
    OCLStorage::SetWriteFaultHook(nullptr);

    EXPECT_EQ(ObjectStore::GetModuleFileNameA(m), path);
    EXPECT_EQ(ObjectStore::FindModule(path.c_str()), m);
    EXPECT_FALSE(std::filesystem::exists(target)) << "the file made for the move goes again";
    EXPECT_TRUE(ObjectStore::ModuleIsUntitled(untitled));
    EXPECT_EQ(ObjectStore::ModuleUntitledSerialNum(untitled), serial);
    EXPECT_EQ(ObjectStore::GetModuleFileNameA(untitled), temp);
    EXPECT_TRUE(std::filesystem::exists(temp));

    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    kept = nullptr;
    later = nullptr;
    ObjectStore::UnloadModule(m);
    load(path, 0);
    EXPECT_NE(found("Later"), nullptr) << "the changes stay with the module and reach its own file";
}

// A failed save as removes the file it made for the move, and only such a
// file: one that was at the target before stays.
TEST_F(Saving, AFailedSaveAsRemovesTheFileItMadeAndNoOther) {
    const std::string home = file("home.qbo");
    const std::string made = file("made.qbo");
    const std::string there = file("there.qbo");
    const tModuleIndex other = load(there);
    ObjectStore::Save(other);
    ObjectStore::Commit(other);
    ObjectStore::UnloadModule(other);
    const tModuleIndex m = load(home);
    InterObj kept(named("Kept", m));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    InterObj pending(named("Pending", m));
    for (const std::string& target : {made, there}) {
        SCOPED_TRACE(target);
        OCLStorage::SetWriteFaultHook([](uint64_t) { return false; });
        EXPECT_THROW(ObjectStore::SaveAs(m, target.c_str(), 0), StoreException);
        OCLStorage::SetWriteFaultHook(nullptr);
        EXPECT_EQ(ObjectStore::GetModuleFileNameA(m), home);
    }
    EXPECT_FALSE(std::filesystem::exists(made));
    EXPECT_TRUE(OCLStorage::IsStorageFile(there.c_str()));
}

TEST_F(Saving, AStoreMadeDirectlyOnAModuleFileKeepsItsNamesAndListsWhenSaved) {
    const std::string path = file("direct.qbo");
    {
        const tModuleIndex m = load(path);
        InterObj named1(named("Named", m));
        InterObj loose(InterObjRep::NewCopy(*named1, m, IOT_DYNAMIC));
        ObjectStore::RequestPreload(named1.get());
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        named1 = nullptr;
        loose = nullptr;
        ObjectStore::UnloadModule(m);
    }
    const std::vector<uint8_t> statics = StreamBytes(path, "Static globals");
    {
        // As a host's own code might: a store on the file, without a load.
        auto store = std::make_unique<ObjectStore>(
            new OCLStorage(path.c_str(), 0, STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_DENY_WRITE));
        ObjectStore::Save(store->moduleIndex());
        ObjectStore::Commit(store->moduleIndex());
    }
    EXPECT_EQ(StreamBytes(path, "Static globals"), statics) << "saving a store that never read its names loses none";
}

TEST_F(Saving, ASaveWritesOnlyWhatChangedAndLeavesTheModuleClean) {
    const std::string path = file("clean.qbo");
    const tModuleIndex m = load(path);
    InterObj o(named("Counter", m));
    addData(o.get(), "N", IDT_LONG);
    InterObj unchanged(InterObjRep::NewCopy(*o, m, IOT_ORDINARY));  // loaded, never changed
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    EXPECT_FALSE(ObjectStore::IsDirty(m));
    const std::vector<uint8_t> statics = StreamBytes(path, "Static globals");
    const std::vector<uint8_t> signatures = StreamBytes(path, "Signatures");
    const size_t objects = StreamBytes(path, "Objects").size();

    setLong(o.get(), "N", 42);
    EXPECT_TRUE(ObjectStore::IsDirty(m));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    EXPECT_FALSE(ObjectStore::IsDirty(m));
    EXPECT_EQ(StreamBytes(path, "Static globals"), statics);
    EXPECT_EQ(StreamBytes(path, "Signatures"), signatures);
    // One record appended: kind, flags, signature, the 4 data bytes, access
    // control and name.
    EXPECT_EQ(StreamBytes(path, "Objects").size(), objects + 4 + 1 + 5 + 4 + 5 + 5);

    static_cast<HookedStore*>(ObjectStore::Module(m))->dirty = true;
    EXPECT_TRUE(ObjectStore::IsDirty(m)) << "the host's data counts too";
}

// A module reopened and saved after one change writes what the change
// touched, not its hundreds of names again; and every kind of change to its
// names and lists still reaches the file.
TEST_F(Saving, AReopenedModuleSavesWhatChangedAndEveryChangeOfItsNamesReachesTheFile) {
    constexpr int kRows = 400;
    const std::string base = file("rows.qbo");
    {
        const tModuleIndex m = load(base);
        InterObj proto(named("Row0", m));
        addData(proto.get(), "N", IDT_LONG);
        for (int i = 1; i < kRows; ++i) InterObj(named(("Row" + std::to_string(i)).c_str(), m, proto.get()));
        InterObj(InterObjRep::NewCopy(*proto, m, IOT_DYNAMIC));
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        proto = nullptr;
        ObjectStore::UnloadModule(m);
    }
    struct Case {
        const char* what;
        std::function<void(tModuleIndex)> change;
        std::vector<const char*> present, absent;
        int statics, dynamics;
        int32_t n7;  // Row7's N
        bool small;  // the save writes a record's worth, not the names
    };
    const Case cases[] = {
        {"a field", [](tModuleIndex) { setLong(found("Row7"), "N", 5); }, {"Row7"}, {}, kRows, 1, 5, true},
        {"a dynamic object added",
         [](tModuleIndex m) { InterObj(InterObjRep::NewCopy(*found("Row1"), m, IOT_DYNAMIC)); }, {}, {}, kRows, 2, 0,
         false},
        {"a named object added", [](tModuleIndex m) { InterObj(named("Extra", m, found("Row1"))); }, {"Extra"}, {},
         kRows + 1, 1, 0, false},
        {"a named object destroyed", [](tModuleIndex) { found("Row9")->Destroy(); }, {"Row8"}, {"Row9"}, kRows - 1,
         1, 0, false},
        {"a named object renamed", [](tModuleIndex) { ObjectStore::Rename("Row3", "Renamed"); }, {"Renamed"},
         {"Row3"}, kRows, 1, 0, false},
    };
    const size_t names = StreamBytes(base, "Static globals").size();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = file("copy.qbo");
        std::filesystem::copy_file(base, path, std::filesystem::copy_options::overwrite_existing);
        {
            const tModuleIndex m = load(path, 0);
            OCLStorage& storage = ObjectStore::Module(m)->storage();
            const uint64_t before = storage.bytesWrittenToStreams();
            c.change(m);
            ObjectStore::Save(m);
            if (c.small) {
                EXPECT_LT(storage.bytesWrittenToStreams() - before, names / 4);
            }
            ObjectStore::Commit(m);
            ObjectStore::UnloadModule(m);
        }
        const tModuleIndex m = load(path, 0);
        EXPECT_EQ(ObjectStore::StaticCount(m), c.statics);
        EXPECT_EQ(ObjectStore::DynamicCount(m), c.dynamics);
        for (const char* name : c.present) EXPECT_NE(found(name), nullptr) << name;
        for (const char* name : c.absent) EXPECT_EQ(found(name), nullptr) << name;
        EXPECT_EQ(getLong(found("Row7"), "N"), c.n7);
        ObjectStore::UnloadModule(m);
    }
}

TEST_F(Saving, CompactionClosesTheGapsOfEveryStreamAndKeepsTheContent) {
    const std::string path = file("compact.qbo");
    const tModuleIndex m = load(path);
    InterObj o(named("Text", m));
    addData(o.get(), "S", IDT_STRING);
    for (char c = 'a'; c < 'f'; ++c) {
        setText(o.get(), "S", std::string(10000, c).c_str());
        ObjectStore::Save(m);
    }
    ObjectStore::Commit(m);
    const size_t before = StreamBytes(path, "Strings").size();
    const uintmax_t fileBefore = std::filesystem::file_size(path);
    ObjectStore::Compact(m);
    ObjectStore::Commit(m);
    const size_t after = StreamBytes(path, "Strings").size();
    EXPECT_LT(after, before - 35000);
    EXPECT_LT(std::filesystem::file_size(path), fileBefore);
    o = nullptr;
    ObjectStore::UnloadModule(m);
    const tModuleIndex back = load(path, 0);
    EXPECT_EQ(getText(found("Text"), "S"), std::string(10000, 'e'));
    EXPECT_EQ(ObjectStore::Module(back)->storage().GetStoragePath(), path);
}

TEST_F(Saving, SaveAllSavesThenCommitsEveryModule) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    InterObj x(named("InA", a));
    InterObj y(named("InB", b));
    Events().clear();
    ObjectStore::SaveAll();
    EXPECT_EQ(Events(), (std::vector<std::string>{"write " + std::to_string(a) + " writing " + std::to_string(a),
                                                  "write " + std::to_string(b) + " writing " + std::to_string(b)}));
    EXPECT_EQ(StreamBytes(file("a.qbo"), "Static globals").size(), 28u);
    EXPECT_EQ(StreamBytes(file("b.qbo"), "Static globals").size(), 28u);
}

TEST_F(Saving, AnUnloadWithRevertDropsWhatWasNotCommitted) {
    const std::string path = file("revert.qbo");
    const tModuleIndex m = load(path);
    InterObj kept(named("Kept", m));
    ObjectStore::SaveAll();
    InterObj dropped(named("Dropped", m));
    ObjectStore::Save(m);
    kept = nullptr;
    dropped = nullptr;
    Events().clear();
    ObjectStore::UnloadAllModules(1);
    EXPECT_EQ(ObjectStore::LockState(), LOCK_UNLOADING_ALL);
    EXPECT_EQ(Events().front(), "unloading 255 lock 0");
    EXPECT_EQ(Events().back(), "delete " + std::to_string(m) + " lock 3");
    ObjectStore::setLockState(LOCK_NORMAL);
    VoidDescriptionTable::SetSkipReclaim(false);
    load(path, 0);
    EXPECT_NE(found("Kept"), nullptr);
    EXPECT_EQ(found("Dropped"), nullptr);
}

// Creating a module file goes through a temporary file beside it, as every
// commit does; none may stay behind, whether the commit succeeds or fails.
TEST_F(Saving, CreatingCommittingAndFailingToCommitLeaveOnlyTheModuleFileInItsFolder) {
    const auto folder = [this] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            names.push_back(e.path().filename().string());
        return names;
    };
    const std::vector<std::string> only{"only.qbo"};
    const tModuleIndex m = load(file("only.qbo"));
    EXPECT_EQ(folder(), only) << "after creating";
    InterObj o(named("First", m));
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    EXPECT_EQ(folder(), only) << "after committing";
    InterObj more(named("Second", m));
    ObjectStore::Save(m);
    OCLStorage::SetWriteFaultHook([](uint64_t written) { return written == 0; });
    EXPECT_THROW(ObjectStore::Commit(m), StoreException);
    OCLStorage::SetWriteFaultHook(nullptr);
    EXPECT_EQ(folder(), only) << "after a failed commit";
}

// Enumerations change after they were first saved: the next save writes
// each again, so that an entry removed stays gone and an entry added is
// there. (Each has one change only: a second change would write the record
// whether or not the first had marked it.)
TEST_F(Saving, EnumerationsChangedAfterTheyWereSavedReadBackChangedInAFreshProcess) {
    if (IsFreshProcess()) {
        load(FreshProcessArg("TQ_FILE"), 0);
        EnumRep* sizes = EnumRep::find("Sizes");
        ASSERT_NE(sizes, nullptr);
        EXPECT_TRUE(sizes->displayFlag());
        ASSERT_EQ(sizes->count(), 2);
        EXPECT_STREQ(sizes->entry(0), "1 - Small");
        EXPECT_STREQ(sizes->entry(1), "3 - Large");
        EXPECT_THROW(sizes->validLong("Medium"), StoreException);
        EnumRep* plain = EnumRep::find("Plain");
        ASSERT_NE(plain, nullptr);
        EXPECT_FALSE(plain->displayFlag());
        ASSERT_EQ(plain->count(), 2);
        EXPECT_STREQ(plain->entry(0), "Only");
        EXPECT_STREQ(plain->entry(1), "Extra");
        return;
    }
    const std::string path = file("enums.qbo");
    const tModuleIndex m = load(path);
    EnumRep* sizes = new EnumRep("Sizes", 1);
    sizes->addEntry("Small", 1);
    sizes->addEntry("Medium", 2);
    sizes->addEntry("Large", 3);
    EnumRep* plain = new EnumRep("Plain", 0);
    plain->addEntry("Only", 7);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ASSERT_EQ(sizes->remove("Medium"), 1);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ASSERT_EQ(plain->addEntry("Extra", 8), 1);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
    EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", path}}), 0);
}

}  // namespace
}  // namespace tq::test
