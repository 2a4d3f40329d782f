// Loading modules: by name and search path, untitled and read-only modules,
// text modules, lists of modules, and what a failed load leaves behind.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>
#include <vector>

#include "platform/util/lebytes.h"
#include "platform/util/pushdir.h"
#include "store/errors/extexcep.h"
#include "store/persist/vlstrrep.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

using Loading = ModuleStoreTest;

// A module file holding one named object, saved, committed and unloaded.
void MakeModule(const std::string& path, const char* objectName) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    InterObj o(InterObjRep::NewNamed(objectName, nullptr, m, IOT_ORDINARY));
    o->addField(InterDataField::make("N", IDT_LONG, 1));
    o = nullptr;
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
}

// Sets TESSARO_PATH for a scope, so the saved value of the user's
// environment file plays no part.
class TessaroPath {
public:
    explicit TessaroPath(const std::string& value) {
        if (const char* v = std::getenv("TESSARO_PATH")) saved_ = v, had_ = true;
        ::setenv("TESSARO_PATH", value.c_str(), 1);
    }
    ~TessaroPath() {
        if (had_)
            ::setenv("TESSARO_PATH", saved_.c_str(), 1);
        else
            ::unsetenv("TESSARO_PATH");
    }

private:
    std::string saved_;
    bool had_ = false;
};

TEST_F(Loading, AModuleAlreadyLoadedIsTakenAsItIsAndMadeCurrentWithoutReading) {
    const tModuleIndex a = load(file("a.qbo"));
    const tModuleIndex b = load(file("b.qbo"));
    EXPECT_EQ(ObjectStore::OpenModule(), b);
    const uint64_t read = ObjectStore::Module(a)->storage().bytesReadFromFile();
    const int modules = ObjectStore::ModuleCount();
    EXPECT_EQ(ObjectStore::LoadModule(file("a.qbo").c_str(), 0, 0), a);
    EXPECT_EQ(ObjectStore::LoadModule(file("A.QBO").c_str(), 0, 0), a) << "file names compare without case";
    EXPECT_EQ(ObjectStore::OpenModule(), a);
    EXPECT_EQ(ObjectStore::ModuleCount(), modules);
    EXPECT_EQ(ObjectStore::Module(a)->storage().bytesReadFromFile(), read);
}

TEST_F(Loading, UntitledModulesAreNumberedForTheLifeOfTheProcessAndFoundByThatName) {
    const tModuleIndex first = load("");
    const tModuleIndex second = load("");
    const int16_t n1 = ObjectStore::ModuleUntitledSerialNum(first);
    const int16_t n2 = ObjectStore::ModuleUntitledSerialNum(second);
    EXPECT_EQ(n2, n1 + 1);
    EXPECT_TRUE(ObjectStore::ModuleIsUntitled(first));
    EXPECT_TRUE(ObjectStore::IsDirty(first)) << "an untitled module always needs saving";
    const std::string name2 = "untitled-" + std::to_string(n2);
    EXPECT_EQ(ObjectStore::FindModule(name2.c_str()), second);
    EXPECT_STREQ(static_cast<const char*>(ObjectStore::FormatModuleDisplayName(second)),
                 ("Untitled-" + std::to_string(n2)).c_str());
    const std::string temp = ObjectStore::GetModuleFileNameA(first);
    EXPECT_FALSE(std::filesystem::exists(temp)) << "an untitled module has no file until committed";

    ObjectStore::SaveAs(first, file("named.qbo").c_str(), 0);
    EXPECT_FALSE(std::filesystem::exists(temp)) << "the temporary file goes with the untitled state";
    EXPECT_FALSE(ObjectStore::ModuleIsUntitled(first));
    EXPECT_EQ(ObjectStore::ModuleUntitledSerialNum(first), 0);
    EXPECT_EQ(ObjectStore::FindModule(("Untitled-" + std::to_string(n1)).c_str()), NO_MODULE);
    const tModuleIndex third = load("");
    EXPECT_EQ(ObjectStore::ModuleUntitledSerialNum(third), n2 + 1) << "serial numbers are never given again";

    // A file another program put at the name of a module that never made
    // its own is theirs: the module's unload leaves it.
    const tModuleIndex fourth = load("");
    const std::string theirs = ObjectStore::GetModuleFileNameA(fourth);
    std::ofstream(theirs) << "not ours";
    ObjectStore::UnloadModule(fourth);
    EXPECT_TRUE(std::filesystem::exists(theirs)) << "an unload removes only a file the module made";
    std::filesystem::remove(theirs);

    const std::string temp2 = ObjectStore::GetModuleFileNameA(second);
    ObjectStore::Commit(second);
    ASSERT_TRUE(OCLStorage::IsStorageFile(temp2.c_str())) << "committing makes its temporary file";
    ObjectStore::UnloadModule(second);
    EXPECT_FALSE(std::filesystem::exists(temp2)) << "an untitled module's file goes with it";
}

TEST_F(Loading, FindModuleKnowsTheIntrinsicModuleUntitledNamesAndFilesOnTheSearchPath) {
    EXPECT_EQ(ObjectStore::FindModule("<Intrinsic module>"), DETACHED_MODULE);
    EXPECT_EQ(ObjectStore::FindModule("<intrinsic module>"), NO_MODULE);
    EXPECT_EQ(ObjectStore::FindModule(""), NO_MODULE);
    EXPECT_EQ(ObjectStore::FindModule(nullptr), NO_MODULE);
    EXPECT_EQ(ObjectStore::FindModule("Untitled-0"), NO_MODULE);

    std::filesystem::create_directory(file("lib"));
    const tModuleIndex m = load(file("lib/forms.qbo"));
    TessaroPath path(file("lib"));
    EXPECT_EQ(ObjectStore::FindModule("forms"), m) << "the extension is added and the path searched";
    EXPECT_EQ(ObjectStore::FindModule("forms.qbo|ro"), m) << "options after | play no part";
    EXPECT_EQ(ObjectStore::SearchTessaroPath("forms", ".qbo"), file("lib/forms.qbo"));
    EXPECT_STREQ(static_cast<const char*>(ObjectStore::FormatModuleDisplayName(m)), "forms.qbo")
        << "a module the search finds by its file name is shown by it";
    const tModuleIndex other = load(file("other.qbo"));
    EXPECT_STREQ(static_cast<const char*>(ObjectStore::FormatModuleDisplayName(other)), file("other.qbo").c_str());
    EXPECT_STREQ(static_cast<const char*>(ObjectStore::FormatModuleDisplayName(DETACHED_MODULE)),
                 "<Intrinsic module>");
}

TEST_F(Loading, CreateAndReadOnlyTogetherAreRefused) {
    try {
        ObjectStore::LoadModule(file("x.qbo").c_str(), 1, 1);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Cannot open untitled module read-only");
    }
    EXPECT_FALSE(std::filesystem::exists(file("x.qbo")));
}

TEST_F(Loading, AMissingFileWithoutCreateCannotBeOpened) {
    const int modules = ObjectStore::ModuleCount();
    try {
        ObjectStore::LoadModule(file("missing.qbo").c_str(), 0, 0);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_EQ(std::string(e.what()), "Could not open module: " + file("missing.qbo") + ": no such file");
    }
    EXPECT_EQ(ObjectStore::ModuleCount(), modules);
}

// Saving a read-only module writes nothing: without changes that is what
// was asked; with changes, an explicit save says it could not save them
// rather than return as if it had. SaveAll saves the other modules first.
TEST_F(Loading, AFileMarkedReadOnlyOpensReadOnlyAndAnExplicitSaveOfItsChangesIsRefused) {
    const std::string path = file("ro.qbo");
    MakeModule(path, "Frozen");
    ::chmod(path.c_str(), 0444);
    const auto before = std::filesystem::last_write_time(path);
    const std::vector<uint8_t> bytes = StreamBytes(path, "Objects");
    const tModuleIndex m = load(path, 0, 0);
    EXPECT_TRUE(ObjectStore::ModuleIsReadOnly(m));
    InterObjRep* o = found("Frozen");
    ASSERT_NE(o, nullptr);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    setLong(o, "N", 5);
    const std::string refused = "Could not save module: " + path + " (it was opened read-only and has changes)";
    for (auto save : {&ObjectStore::Save, &ObjectStore::Commit, &ObjectStore::Compact}) {
        try {
            save(m);
            ADD_FAILURE() << "a read-only module's changes were reported saved";
        } catch (const StoreException& e) {
            EXPECT_EQ(std::string(e.what()), refused);
            EXPECT_STREQ(e.name(), "ModuleSaveError");
        }
    }
    const std::string other = file("other.qbo");
    MakeModule(other, "Other");
    const tModuleIndex w = load(other, 0, 0);
    setLong(found("Other"), "N", 6);
    try {
        ObjectStore::SaveAll();
        ADD_FAILURE() << "SaveAll left a read-only module's changes unsaved without a word";
    } catch (const StoreException& e) {
        EXPECT_EQ(std::string(e.what()), refused);
    }
    EXPECT_FALSE(ObjectStore::IsDirty(w));
    ObjectStore::UnloadModule(w);
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
    EXPECT_EQ(StreamBytes(path, "Objects"), bytes);
    ObjectStore::UnloadModule(m);
    ::chmod(path.c_str(), 0644);
}

TEST_F(Loading, AModuleOfAnotherProcessCannotBeOpenedForWritingButCanBeRead) {
    if (IsFreshProcess()) {
        const std::string path = FreshProcessArg("TQ_FILE");
        try {
            ObjectStore::LoadModule(path.c_str(), 0, 0);
            ADD_FAILURE() << "a second writer was let in";
            return;
        } catch (const StoreException& e) {
            EXPECT_EQ(std::string(e.what()), "Could not open module: " + path +
                                                 ": the file is in use by another program, or "
                                                 "another storage of this one, that has it open "
                                                 "for writing");
        }
        EXPECT_EQ(ObjectStore::ModuleCount(), 0);
        const std::string readOnly = path + "|RO";
        const std::vector<tModuleIndex> loaded = ObjectStore::LoadModules(readOnly.c_str());
        ASSERT_EQ(loaded.size(), 2u);
        EXPECT_TRUE(ObjectStore::ModuleIsReadOnly(loaded[0]));
        EXPECT_NE(found("Held"), nullptr);
        return;
    }
    const std::string path = file("held.qbo");
    MakeModule(path, "Held");
    load(path, 0, 0);
    EXPECT_EQ(RunInFreshProcess({{"TQ_FILE", path}}), 0);
}

TEST_F(Loading, AListLoadsEachModuleOnceOpensRoEntriesReadOnlyAndEndsWith255) {
    MakeModule(file("one.qbo"), "One");
    MakeModule(file("two.qbo"), "Two");
    const tModuleIndex one = load(file("one.qbo"), 0);
    const std::string list = file("one.qbo") + "; " + file("two.qbo") + "|Ro";
    const std::vector<tModuleIndex> loaded = ObjectStore::LoadModules(list.c_str());
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0], one);
    EXPECT_TRUE(ObjectStore::ValidIndex(loaded[1]));
    EXPECT_TRUE(ObjectStore::ModuleIsReadOnly(loaded[1]));
    EXPECT_FALSE(ObjectStore::ModuleIsReadOnly(loaded[0]));
    EXPECT_EQ(loaded[2], NO_MODULE);
    EXPECT_EQ(ObjectStore::OpenModule(), loaded[1]) << "the last entry's module becomes current";
    EXPECT_TRUE(ObjectStore::LoadModules("").empty());
    EXPECT_TRUE(ObjectStore::LoadModules(nullptr).empty());
}

TEST_F(Loading, AListThatFailsPartWayUnloadsWhatItLoadedAndNothingElse) {
    MakeModule(file("one.qbo"), "One");
    MakeModule(file("two.qbo"), "Two");
    const tModuleIndex before = load(file("before.qbo"));
    const std::string list = file("one.qbo") + ";" + file("two.qbo") + ";" + file("missing.qbo");
    EXPECT_THROW(ObjectStore::LoadModules(list.c_str()), StoreException);
    EXPECT_EQ(ObjectStore::ModuleCount(), 1);
    EXPECT_TRUE(ObjectStore::ValidIndex(before));
    EXPECT_EQ(ObjectStore::FindModule(file("one.qbo").c_str()), NO_MODULE);
    EXPECT_EQ(ObjectStore::LockState(), LOCK_NORMAL);
    EXPECT_EQ(found("One"), nullptr);
}

// Bytes of a "Static globals" record.
std::vector<uint8_t> Record(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words) {
        uint8_t b[4];
        StoreLE32(b, w);
        out.insert(out.end(), b, b + 4);
    }
    return out;
}

void AppendRef(std::vector<uint8_t>& out, uint8_t flags, uint32_t descriptor) {
    out.push_back(flags);
    uint8_t b[4];
    StoreLE32(b, descriptor);
    out.insert(out.end(), b, b + 4);
}

class SpoiltStaticGlobals : public Loading {
protected:
    void SetUp() override {
        Loading::SetUp();
        path_ = file("spoilt.qbo");
        MakeModule(path_, "Only");
    }
    // Loads the module with this "Static globals" record and expects the
    // load to fail with text, leaving no module and the current one as it was.
    void expectRefused(const std::vector<uint8_t>& record, const std::string& text) {
        WriteStream(path_, "Static globals", record);
        const tModuleIndex current = ObjectStore::OpenModule();
        try {
            ObjectStore::LoadModule(path_.c_str(), 0, 0);
            ADD_FAILURE() << "loaded: " << text;
        } catch (const ModuleOpenFailed& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to open module: " + text);
        }
        EXPECT_EQ(ObjectStore::ModuleCount(), 0);
        EXPECT_EQ(ObjectStore::OpenModule(), current);
        EXPECT_EQ(ObjectStore::LockState(), LOCK_NORMAL);
    }
    std::string path_;
};

TEST_F(SpoiltStaticGlobals, EachFaultOfTheRecordFailsTheLoadCleanly) {
    const std::vector<uint8_t> good = StreamBytes(path_, "Static globals");
    ASSERT_EQ(good.size(), 8u + 10 + 5 + 5);
    const std::string where = path_ + ": stream \"Static globals\": ";

    std::vector<uint8_t> r = good;
    r[0] = 2;
    expectRefused(r, "Static globals revision error");

    r = good;
    StoreLE32(r.data() + 4, 100000);
    expectRefused(r, where + "the count of static objects runs past the end of the stream");

    r = good;
    r.resize(r.size() - 3);
    expectRefused(r, where + "cannot read 5 bytes at offset 23: the stream holds 25 bytes");

    r = good;
    StoreLE32(r.data() + 14, 0x00000077);
    expectRefused(r, where + "static object 0: the object does not exist");

    r = good;
    r[8] = 0x40;
    expectRefused(r, where + "static object 0: its name is not in the module");

    // The name kept, its object reference made null: the name would count
    // as a static object that no look-up finds, and the object would lose it.
    r = good;
    StoreLE32(r.data() + 14, tDescriptor::kNull);
    expectRefused(r, where + "static object 0: the name Only names no object");

    // The only object listed as dynamic twice.
    r = Record({1, 0});
    AppendRef(r, 4, 0);
    AppendRef(r, 4, 0);
    AppendRef(r, 4, tDescriptor::kNull);
    AppendRef(r, 5, tDescriptor::kNull);
    expectRefused(r, where + "dynamic object 1 is listed twice");

    r = Record({1, 0});
    AppendRef(r, 4, 0x80000000);
    expectRefused(r, where + "dynamic object 0: the object is not in the module");

    // Two entries under one name.
    r = Record({1, 2});
    r.insert(r.end(), good.begin() + 8, good.begin() + 18);
    r.insert(r.end(), good.begin() + 8, good.begin() + 18);
    AppendRef(r, 4, tDescriptor::kNull);
    AppendRef(r, 5, tDescriptor::kNull);
    expectRefused(r, where + "static object 1: the name Only is there twice");
}

// A dynamic entry that names the static object instead of the dynamic one
// would leave the dynamic object unlisted, and the next save would drop it.
TEST_F(SpoiltStaticGlobals, ADynamicEntryThatNamesAnObjectThatIsNotDynamicIsRefused) {
    const std::vector<uint8_t> good = StreamBytes(path_, "Static globals");
    std::vector<uint8_t> r(good.begin(), good.begin() + 18);
    r.insert(r.end(), good.begin() + 13, good.begin() + 18);  // the static object again, as dynamic
    AppendRef(r, 4, tDescriptor::kNull);
    AppendRef(r, 5, tDescriptor::kNull);
    expectRefused(r, path_ + ": stream \"Static globals\": dynamic object 0 is not a dynamic object");
}

// A dynamic entry read as null ends the dynamic list early; what follows it
// would be read as preloads, and the dynamic objects after it would leave
// their list at the next save. Preload references are written with the
// indirect bit, so what slid down is told apart.
TEST_F(SpoiltStaticGlobals, ADynamicEntryLostInTheListIsRefusedRatherThanTakenForPreloads) {
    InterObj first, second;
    {
        const tModuleIndex m = load(path_, 0);
        first = InterObjRep::New(m, IOT_DYNAMIC);
        second = InterObjRep::New(m, IOT_DYNAMIC);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        first = second = nullptr;
        ObjectStore::UnloadModule(m);
    }
    const std::vector<uint8_t> good = StreamBytes(path_, "Static globals");
    ASSERT_EQ(good.size(), 8u + 10 + 2 * 5 + 5 + 5);
    const std::string where = path_ + ": stream \"Static globals\": ";
    // The first dynamic entry lost: the second would become a preload.
    std::vector<uint8_t> r = good;
    StoreLE32(r.data() + 19, tDescriptor::kNull);
    expectRefused(r, where + "preload object 0: the reference is not a preload's (a dynamic entry before it is lost)");
    // The last one lost: the dynamic list's own closing null would close
    // the preloads.
    r = good;
    StoreLE32(r.data() + 24, tDescriptor::kNull);
    expectRefused(r, where + "preload object 0: the reference is not a preload's (a dynamic entry before it is lost)");
}

// The record is the module's only list of its roots: one that lost them
// must not open as a module without them.
TEST_F(SpoiltStaticGlobals, ARecordThatLostItsRootsIsRefused) {
    const std::string where = path_ + ": stream \"Static globals\": ";
    const std::vector<uint8_t> good = StreamBytes(path_, "Static globals");
    expectRefused({}, where + "the stream is empty, but the module's tables hold things");
    std::vector<uint8_t> r = Record({1, 0});
    AppendRef(r, 4, tDescriptor::kNull);
    AppendRef(r, 5, tDescriptor::kNull);
    expectRefused(r, where + "it names no static object, but the module holds named object 0");
    // The name kept, its object swapped for one that is not named.
    WriteStream(path_, "Static globals", good);
    InterObj plain;
    {
        const tModuleIndex m = load(path_, 0);
        plain = InterObjRep::New(m, IOT_DYNAMIC);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        plain = nullptr;
        ObjectStore::UnloadModule(m);
    }
    r = StreamBytes(path_, "Static globals");
    std::copy(r.begin() + 18, r.begin() + 23, r.begin() + 13);
    expectRefused(r, where + "the static object Only is not a named object");
}

// The name pointed at another name of the module (the field's): the object
// would lose its own at the next save.
TEST_F(SpoiltStaticGlobals, AStaticNameThatIsNotItsObjectsOwnIsRefused) {
    const std::vector<uint8_t> names = StreamBytes(path_, "IdStrings");
    uint32_t field = 0;
    while (8 + (field + 1) * 40 <= names.size() && std::string(reinterpret_cast<const char*>(&names[8 + field * 40 + 8])) != "N")
        ++field;
    ASSERT_LT(8 + field * 40, names.size());
    std::vector<uint8_t> r = StreamBytes(path_, "Static globals");
    StoreLE32(r.data() + 9, field);
    expectRefused(r, path_ + ": stream \"Static globals\": the static object N has another name in its record");
}

// A record whose names are not in dictionary order (the library writes
// them in order, and opening enters them at the end without a search) still
// opens with every name found, and the next save writes them in order.
TEST_F(Loading, StaticNamesOutOfOrderInTheRecordAreAllFoundAndSavedInOrder) {
    const std::string path = file("order.qbo");
    {
        const tModuleIndex m = load(path);
        for (const char* name : {"Alpha", "Beta", "Gamma"}) InterObj(InterObjRep::NewNamed(name, nullptr, m, IOT_ORDINARY));
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        ObjectStore::UnloadModule(m);
    }
    const std::vector<uint8_t> good = StreamBytes(path, "Static globals");
    ASSERT_EQ(good.size(), 8u + 3 * 10 + 5 + 5);
    std::vector<uint8_t> r = good;
    // Gamma, Alpha, Beta.
    std::copy(good.begin() + 28, good.begin() + 38, r.begin() + 8);
    std::copy(good.begin() + 8, good.begin() + 28, r.begin() + 18);
    WriteStream(path, "Static globals", r);
    const tModuleIndex m = load(path, 0);
    std::vector<std::string> order;
    ObjectStore::Dictionary(m).forEachKeyed([&](std::string_view key, StaticGlobals::Entry&) { order.emplace_back(key); });
    EXPECT_EQ(order, (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    for (const char* name : {"Alpha", "Beta", "Gamma"}) {
        InterObj o;
        ASSERT_TRUE(ObjectStore::find(name, o)) << name;
        EXPECT_STREQ(o->name(), name);
    }
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
    EXPECT_EQ(StreamBytes(path, "Static globals"), good);
}

// Opening looks at the ends of many records at once, those that lie close
// together in one read: what it finds must be what a look at each record
// alone finds, for every kind of record, short or longer than such a read
// takes, in memory or not, and for entries the table does not hold.
TEST_F(Loading, ALookAtManyRecordsAtOnceFindsWhatALookAtEachFinds) {
    const std::string path = file("kinds.qbo");
    {
        const tModuleIndex m = load(path);
        InterObj big(InterObjRep::NewNamed("Big", nullptr, m, IOT_ORDINARY));
        for (int i = 0; i < 1100; ++i) big->addField(InterDataField::make(("F" + std::to_string(i)).c_str(), IDT_LONG, 1));
        std::vector<InterObj> keep;
        for (int i = 0; i < 40; ++i) {
            keep.emplace_back(InterObjRep::NewNamed(("Named" + std::to_string(i)).c_str(), nullptr, m, IOT_ORDINARY));
            keep.emplace_back(InterObjRep::New(m, IOT_DYNAMIC));
        }
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        keep.clear();
        big = nullptr;
        ObjectStore::UnloadModule(m);
    }
    const tModuleIndex m = load(path, 0);
    InterObj inMemory;
    ASSERT_TRUE(ObjectStore::find("Named7", inMemory));
    auto* table = DescribedObjectNoDescriptor<InterObjRep>::descriptionTable(m);
    ASSERT_NE(table, nullptr);
    std::vector<uint32_t> indexes;
    uint32_t longest = 0;
    for (uint32_t i = table->count() + 2; i-- > 0;) {
        indexes.push_back(i);
        if (i < table->count()) longest = std::max(longest, table->entry(i).length());
    }
    indexes.push_back(indexes[5]);
    EXPECT_GT(longest, 512u) << "one record is longer than a look at many takes";
    using Kind = InterObjRep::StoredKind;
    std::vector<Kind> kinds;
    std::vector<tDescriptor> names;
    InterObjRep::StoredKindsOf(m, indexes, kinds, &names);
    ASSERT_EQ(kinds.size(), indexes.size());
    std::map<Kind, int> seen;
    for (size_t k = 0; k < indexes.size(); ++k) {
        tDescriptor name;
        EXPECT_EQ(kinds[k], InterObjRep::StoredKindOf(m, indexes[k], &name)) << "entry " << indexes[k];
        EXPECT_EQ(names[k].raw(), name.raw()) << "entry " << indexes[k];
        ++seen[kinds[k]];
    }
    EXPECT_EQ(seen[Kind::Named], 41);
    EXPECT_EQ(seen[Kind::Dynamic], 40);
    EXPECT_GE(seen[Kind::Spoilt], 2);
}

TEST_F(Loading, ASpoiltVersionRecordFailsTheLoadWithoutReadingWhatItClaims) {
    const std::string path = file("version.qbo");
    MakeModule(path, "Versioned");
    const std::vector<uint8_t> good = StreamBytes(path, "Module version");
    std::vector<uint8_t> claims = Record({1, 2, 0xFFFFFFF0});
    const std::vector<std::vector<uint8_t>> spoilt = {
        {1, 2, 3, 4, 5},                  // cut inside the low pair
        claims,                           // a library list far past the end
        std::vector<uint8_t>(70000, 0),   // longer than any version record
    };
    for (const std::vector<uint8_t>& record : spoilt) {
        WriteStream(path, "Module version", record);
        try {
            ObjectStore::LoadModule(path.c_str(), 0, 0);
            ADD_FAILURE() << record.size();
        } catch (const ModuleOpenFailed& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    }
    WriteStream(path, "Module version", good);
    load(path, 0);
    EXPECT_NE(found("Versioned"), nullptr);
    EXPECT_EQ(ObjectStore::FindModule("Untitled-99999999999"), NO_MODULE) << "a serial past any counter";
}

TEST_F(Loading, ASpoiltTableFailsTheLoadAndFreesTheSlot) {
    const std::string path = file("table.qbo");
    MakeModule(path, "T");
    std::vector<uint8_t> objects = StreamBytes(path, "Objects");
    StoreLE32(objects.data() + 4, 0xFFFFFF00);  // the array's offset
    WriteStream(path, "Objects", objects);
    EXPECT_THROW(ObjectStore::LoadModule(path.c_str(), 0, 0), ModuleOpenFailed);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    EXPECT_EQ(ObjectStore::NextIndex(), 0);
}

TEST_F(Loading, ATextFileIsLoadedThroughTheHostIntoAnUntitledStorage) {
    const std::string text = file("prog.txt");
    std::ofstream(text) << "Object Prog\n";
    try {
        ObjectStore::LoadModule(text.c_str(), 0, 0);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Text load is not enabled.");
    }
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);

    app_->textEnabled = 1;
    app_->compile = [](const char*) {
        InterObj o(InterObjRep::NewNamed("Prog", nullptr, ObjectStore::OpenModule(), IOT_ORDINARY));
    };
    const tModuleIndex m = load(text, 0, 1);
    EXPECT_TRUE(ObjectStore::ModuleIsText(m));
    EXPECT_FALSE(ObjectStore::ModuleIsUntitled(m));
    EXPECT_TRUE(ObjectStore::ModuleIsReadOnly(m));
    EXPECT_EQ(ObjectStore::GetModuleFileNameA(m), text);
    EXPECT_EQ(ObjectStore::FindModule(text.c_str()), m);
    EXPECT_NE(found("Prog"), nullptr);
    Events().clear();
    ObjectStore::Save(m);
    EXPECT_EQ(Events(), std::vector<std::string>{"write " + std::to_string(m) + " writing " + std::to_string(m)})
        << "a read-only text module is not written back";

    const std::string storageFile = ObjectStore::Module(m)->storage().GetStoragePath();
    ObjectStore::SaveAs(m, file("prog2.txt").c_str(), 1);
    EXPECT_EQ(Events().back(), "saveText " + file("prog2.txt") + " " + std::to_string(m));
    EXPECT_EQ(ObjectStore::Module(m)->storage().GetStoragePath(), storageFile) << "a text module keeps its storage";
    ObjectStore::UnloadModule(m);
    EXPECT_FALSE(std::filesystem::exists(storageFile)) << "a text module's storage is a temporary file";
    EXPECT_TRUE(std::filesystem::exists(text));
}

TEST_F(Loading, ATextModuleThatFailsToCompileIsUnloadedWhenTheUserSaysSo) {
    MakeModule(file("good.qbo"), "Good");
    Events().clear();
    const std::string text = file("bad.txt");
    std::ofstream(text) << "nonsense\n";
    app_->textEnabled = 1;
    app_->compile = [](const char*) { throw StoreException("syntax error", nullptr); };
    EXPECT_EQ(ObjectStore::LoadModule(text.c_str(), 0, 0), DETACHED_MODULE);
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
    ASSERT_GE(Events().size(), 3u);
    // The compiler's errors come before the question.
    EXPECT_EQ(Events()[1], "Load text module error|syntax error\n\nUnload module: " + text + "?|8228");
    EXPECT_EQ(Events().back(), "moduleUnloaded");

    // In a list, the module the user gave up is 254.
    const std::string list = file("good.qbo") + ";" + text;
    const std::vector<tModuleIndex> loaded = ObjectStore::LoadModules(list.c_str());
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_TRUE(ObjectStore::ValidIndex(loaded[0]));
    EXPECT_EQ(loaded[1], DETACHED_MODULE);
    EXPECT_EQ(loaded[2], NO_MODULE);
    EXPECT_EQ(ObjectStore::OpenModule(), DETACHED_MODULE);

    app_->answer = IDNO;
    const tModuleIndex kept = ObjectStore::LoadModule(text.c_str(), 0, 0);
    ASSERT_TRUE(ObjectStore::ValidIndex(kept));
    EXPECT_TRUE(ObjectStore::ModuleIsText(kept));
}

TEST_F(Loading, TheModuleLimitIsRefusedAndLeavesEveryModuleAsItWas) {
    std::vector<std::unique_ptr<ObjectStore>> stores;
    while (ObjectStore::ModuleCount() < MAX_MODULES) stores.push_back(std::make_unique<ObjectStore>(new OCLStorage()));
    try {
        ObjectStore::LoadModule("", 1, 0);
        ADD_FAILURE();
    } catch (const StoreException& e) {
        EXPECT_STREQ(e.what(), "Module limit exceeded.");
    }
    EXPECT_EQ(ObjectStore::ModuleCount(), MAX_MODULES);
    stores.clear();
    EXPECT_EQ(ObjectStore::ModuleCount(), 0);
}

}  // namespace
}  // namespace tq::test
