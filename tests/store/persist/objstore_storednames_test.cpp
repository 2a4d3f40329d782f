// Static names kept in the record of a module file with checksums until a
// look-up needs them: every look-up, change, walk and save must come out as
// it does for the same module opened from a file without checksums (which
// enters every name as it opens), and a pair of the record that fails its
// checks is named by the look-up or walk that meets it and never saved over.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/util/lebytes.h"
#include "store/errors/extexcep.h"
#include "tests/store/persist/objstoretest.h"

namespace tq::test {
namespace {

constexpr int kNames = 3000;
constexpr size_t kPairSize = 10;

// The i-th name of the module: N0000, N0002, ... (every second number, so
// that the odd ones fall between two names).
std::string NameAt(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "N%04d", 2 * i);
    return text;
}

class StoredNames : public ModuleStoreTest {
protected:
    // The module of kNames named objects (the first with a Long field) and
    // one dynamic object; committed with checksums or without them.
    void makeModule(const std::string& path, bool checksums) {
        const tModuleIndex m = load(path);
        for (int i = 0; i < kNames; ++i) {
            InterObj o(named(NameAt(i).c_str(), m));
            if (i == 0) addData(o.get(), "Value", IDT_LONG);
        }
        InterObj loose(InterObjRep::NewCopy(*found("N0000"), m, IOT_DYNAMIC));
        loose = nullptr;
        ObjectStore::Save(m);
        CommitWritingChecksums(ObjectStore::Module(m)->storage(),
                               checksums ? OCLStorage::ChecksumWriting::kCompute : OCLStorage::ChecksumWriting::kOmit);
        ObjectStore::UnloadModule(m);
    }

    // What a look-up of each name gives: the object's own name, or "-".
    static std::string LookUp(const char* name) {
        InterObjRep* o = found(name);
        return std::string(name) + "=" + (o ? o->name() : "-") + (ObjectStore::contains(name) ? "+" : "");
    }

    // The names of module m in the order a walk gives them.
    static std::vector<std::string> Walk(tModuleIndex m) {
        std::vector<std::string> names;
        ObjectStore::StaticObjectsIterator it(m);
        while (StaticGlobals::Entry* e = it()) names.emplace_back(static_cast<const char*>(e->name));
        return names;
    }

    // The transcript of one session on the module at path: look-ups, the
    // count, the changes and the walk, then a save and what a reopening
    // finds.
    std::vector<std::string> session(const std::string& path, bool checksums) {
        std::vector<std::string> out;
        tModuleIndex m = load(path, 0);
        EXPECT_EQ(ObjectStore::Module(m)->storage().hasChecksums(), checksums) << path;
        const std::vector<std::string> probes = {NameAt(0), NameAt(kNames - 1), NameAt(kNames / 2), NameAt(7),
                                                 "A",       "Z",                "N0001",           "N9999",
                                                 "N"};
        for (const std::string& p : probes) out.push_back(LookUp(p.c_str()));
        out.push_back("count " + std::to_string(ObjectStore::StaticCount(m)));
        // Made, renamed and removed in the session, on both sides of the
        // stored names and between them.
        InterObj a(named("A", m)), between(named("N0003", m)), last(named("Zed", m));
        EXPECT_THROW(named(NameAt(11).c_str(), m), DuplicateName) << "a stored name is taken";
        ObjectStore::Rename(NameAt(5).c_str(), "N0001");
        ObjectStore::Rename(NameAt(6).c_str(), "Moved");
        InterObj gone(found(NameAt(8).c_str()));
        gone->Destroy();
        gone = nullptr;
        InterObj again(named(NameAt(6).c_str(), m));
        for (const std::string& p : {NameAt(5), std::string("N0001"), NameAt(6), std::string("Moved"), NameAt(8),
                                     std::string("N0003"), std::string("Zed"), std::string("A")})
            out.push_back(LookUp(p.c_str()));
        out.push_back("count " + std::to_string(ObjectStore::StaticCount(m)));
        const std::vector<std::string> walked = Walk(m);
        out.push_back("walk " + std::to_string(walked.size()) + " " + walked.front() + " " + walked[1] + " " +
                      walked.back());
        a = between = last = again = nullptr;
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
        ObjectStore::UnloadModule(m);
        m = load(path, 0);
        EXPECT_TRUE(ObjectStore::Module(m)->storage().hasChecksums()) << "a commit writes the checksums";
        EXPECT_EQ(Walk(m), walked) << "the file holds the names the session ended with";
        for (const std::string& p : {NameAt(5), std::string("N0001"), std::string("Moved"), NameAt(8), NameAt(6)})
            out.push_back("reopened " + LookUp(p.c_str()));
        out.push_back("count " + std::to_string(ObjectStore::StaticCount(m)));
        ObjectStore::UnloadModule(m);
        return out;
    }
};

// The same session on the same module, read on demand and entered whole.
TEST_F(StoredNames, LookUpsChangesWalksAndSavesComeOutAsFromAFileOpenedWhole) {
    const std::string onDemand = file("ondemand.qbo"), whole = file("whole.qbo");
    makeModule(onDemand, true);
    makeModule(whole, false);
    const std::vector<std::string> expected = session(whole, false);
    EXPECT_EQ(session(onDemand, true), expected);
    // Spot checks, so that two sessions wrong the same way still fail.
    ASSERT_EQ(expected.size(), 26u);
    EXPECT_EQ(expected[0], "N0000=N0000+");
    EXPECT_EQ(expected[1], NameAt(kNames - 1) + "=" + NameAt(kNames - 1) + "+");
    EXPECT_EQ(expected[4], "A=-");
    EXPECT_EQ(expected[6], "N0001=-");
    EXPECT_EQ(expected[9], "count " + std::to_string(kNames));
    EXPECT_EQ(expected[10], "N0010=-");
    EXPECT_EQ(expected[11], "N0001=N0001+");
    EXPECT_EQ(expected[12], "N0012=N0012+");
    EXPECT_EQ(expected[14], "N0016=-");
    EXPECT_EQ(expected[18], "count " + std::to_string(kNames + 3));
    EXPECT_EQ(expected[19], "walk " + std::to_string(kNames + 3) + " A Moved Zed");
    EXPECT_EQ(expected[22], "reopened Moved=Moved+");
    EXPECT_EQ(expected[25], expected[18]);
}

// Opening a file with checksums reads the record's head and lists, not its
// pairs, nor the records of the static objects.
TEST_F(StoredNames, OpeningReadsNoneOfTheStoredPairs) {
    const std::string onDemand = file("ondemand.qbo"), whole = file("whole.qbo");
    makeModule(onDemand, true);
    makeModule(whole, false);
    auto bytesAtOpen = [&](const std::string& path) {
        const tModuleIndex m = load(path, 0);
        const uint64_t read = ObjectStore::Module(m)->storage().bytesReadFromFile();
        ObjectStore::UnloadModule(m);
        return read;
    };
    const uint64_t lazy = bytesAtOpen(onDemand), eager = bytesAtOpen(whole);
    EXPECT_LE(lazy + kNames * kPairSize / 2, eager) << lazy << " against " << eager;
}

// A forged pair in the middle of the record: the module opens, the names
// around it are found, the look-up or walk that meets it names it, a save
// that writes the names is refused and leaves the file as it was, and a
// file without checksums holding the same bytes is refused as it opens.
TEST_F(StoredNames, AForgedPairIsNamedWhereItIsMetAndNeverSavedOver) {
    const std::string path = file("forged.qbo");
    makeModule(path, true);
    const std::vector<uint8_t> good = StreamBytes(path, "Static globals");
    ASSERT_GT(good.size(), 8 + kNames * kPairSize);
    constexpr int k = kNames / 3;
    const size_t at = 8 + k * kPairSize;
    const std::string where = path + ": stream \"Static globals\": ";
    const std::string pair = where + "static object " + std::to_string(k) + ": ";
    auto findIt = [] { return found(NameAt(k).c_str()); };
    auto walk = [] {
        ObjectStore::StaticObjectsIterator it(ObjectStore::OpenModule());
        while (it()) {
        }
        return nullptr;
    };
    struct Forgery {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> edit;
        std::function<InterObjRep*()> meet;
        std::string text;
        bool refusedWhole;  // a file without checksums refuses it at open
    };
    const std::vector<Forgery> forgeries = {
        {"name flags", [&](std::vector<uint8_t>& r) { r[at] = 0x40; }, findIt, pair + "its name is not in the module",
         true},
        {"null object", [&](std::vector<uint8_t>& r) { StoreLE32(r.data() + at + 6, tDescriptor::kNull); }, findIt,
         pair + "the name " + NameAt(k) + " names no object", true},
        {"no such object", [&](std::vector<uint8_t>& r) { StoreLE32(r.data() + at + 6, 0x003FFFF0); }, findIt,
         pair + "the object does not exist", true},
        {"dynamic object",
         [&](std::vector<uint8_t>& r) {
             std::copy(good.end() - 15, good.end() - 10, r.begin() + static_cast<ptrdiff_t>(at + 5));
         },
         findIt, where + "the static object " + NameAt(k) + " is not a named object", true},
        {"the next one's object",
         [&](std::vector<uint8_t>& r) {
             std::copy(good.begin() + static_cast<ptrdiff_t>(at + 15), good.begin() + static_cast<ptrdiff_t>(at + 20),
                       r.begin() + static_cast<ptrdiff_t>(at + 5));
         },
         findIt, where + "the static object " + NameAt(k) + " has another name in its record", true},
        {"twice",
         [&](std::vector<uint8_t>& r) {
             std::copy(good.begin() + static_cast<ptrdiff_t>(at), good.begin() + static_cast<ptrdiff_t>(at + 10),
                       r.begin() + static_cast<ptrdiff_t>(at + 10));
         },
         walk, where + "static object " + std::to_string(k + 1) + ": the name " + NameAt(k) + " is there twice", true},
        {"out of order",
         [&](std::vector<uint8_t>& r) {
             std::copy(good.begin() + static_cast<ptrdiff_t>(at), good.begin() + static_cast<ptrdiff_t>(at + 10),
                       r.begin() + static_cast<ptrdiff_t>(at + 10));
             std::copy(good.begin() + static_cast<ptrdiff_t>(at + 10), good.begin() + static_cast<ptrdiff_t>(at + 20),
                       r.begin() + static_cast<ptrdiff_t>(at));
         },
         walk,
         where + "static object " + std::to_string(k + 1) + ": the name " + NameAt(k) + " is out of dictionary order",
         false},
    };
    for (const Forgery& f : forgeries) {
        SCOPED_TRACE(f.what);
        std::vector<uint8_t> r = good;
        f.edit(r);
        WriteStream(path, "Static globals", r, OCLStorage::ChecksumWriting::kCompute);
        const tModuleIndex m = load(path, 0);
        EXPECT_EQ(found(NameAt(0).c_str()) != nullptr, true);
        EXPECT_EQ(found(NameAt(kNames - 1).c_str()) != nullptr, true);
        try {
            f.meet();
            ADD_FAILURE() << "nothing raised";
        } catch (const ObjectLoadFailed& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to load object: " + f.text);
        }
        // The walk that failed goes on past the module.
        ObjectStore::StaticObjectsIterator it(m);
        EXPECT_THROW(it(), ObjectLoadFailed);
        EXPECT_EQ(it(), nullptr);
        // A new name makes the save write the names: refused.
        InterObj added(named("Added", m));
        added = nullptr;
        try {
            ObjectStore::Save(m);
            ADD_FAILURE() << "saved";
        } catch (const StoreException& e) {
            EXPECT_STREQ(e.name(), "ModuleSaveError");
            EXPECT_NE(std::string(e.what()).find(f.text), std::string::npos) << e.what();
        }
        ObjectStore::Commit(m);
        ObjectStore::UnloadModule(m);
        EXPECT_EQ(StreamBytes(path, "Static globals"), r);
        WriteStream(path, "Static globals", r);
        if (f.refusedWhole) {
            try {
                ObjectStore::LoadModule(path.c_str(), 0, 0);
                ADD_FAILURE() << "opened whole";
            } catch (const ModuleOpenFailed& e) {
                EXPECT_EQ(std::string(e.what()), "Unable to open module: " + f.text);
            }
        } else {
            ObjectStore::UnloadModule(load(path, 0));
        }
        EXPECT_EQ(ObjectStore::ModuleCount(), 0);
        WriteStream(path, "Static globals", good, OCLStorage::ChecksumWriting::kCompute);
    }
}

}  // namespace
}  // namespace tq::test
