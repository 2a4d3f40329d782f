// Damaged module files are refused with a clear text, never opened as a
// module that lost what the damage hid: such a module's next save would
// write the loss into the file.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/util/lebytes.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/vals.h"
#include "tests/support/fieldaccess.h"
#include "tests/store/persist/objstoretest.h"
#include "tests/store/persist/persisttest.h"

namespace tq::test {
namespace {

using DamagedModule = ModuleStoreTest;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A module of a named object with a field and a dynamic clone of it.
void MakeModule(const std::string& path) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    InterObj form(InterObjRep::NewNamed("Form1", nullptr, m, IOT_ORDINARY));
    form->addField(InterDataField::make("N", IDT_LONG, 1));
    InterObjRep::NewCopy(*form, m, IOT_DYNAMIC);
    form = nullptr;
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
}

// The text LoadModule raises for the file, or "loaded" (the module is then
// unloaded again).
std::string LoadFailure(const std::string& path, int32_t create = 0) {
    try {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), create, 0);
        ObjectStore::UnloadModule(m);
        return "loaded";
    } catch (const StoreException& e) {
        return e.what();
    }
}

TEST_F(DamagedModule, AFileThatLacksOneOfAModulesStreamsIsNotAModule) {
    const std::string path = file("lacking.qbo");
    for (const char* stream : kModuleStreams) {
        MakeModule(path);
        {
            OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
            ASSERT_TRUE(storage.removeStream(stream));
            storage.Commit();
        }
        const std::string before = ReadFile(path);
        const std::string refused =
            "Unable to open module: " + path + " is not a module: stream \"" + stream + "\" is missing";
        EXPECT_EQ(LoadFailure(path), refused);
        EXPECT_EQ(LoadFailure(path, 1), refused) << "create makes a missing file, not missing streams";
        EXPECT_EQ(ObjectStore::ModuleCount(), 0);
        EXPECT_EQ(ReadFile(path), before) << "the file is left as it was";
        std::remove(path.c_str());
    }
}

// The directory entries of the file: offsets of entries by their names.
struct Directory {
    explicit Directory(const std::string& bytes) : f(bytes) {
        const uint32_t shift = LoadLE16(reinterpret_cast<const uint8_t*>(f.data()) + 0x1E);
        const uint32_t sector = 1u << shift;
        const uint32_t first = LoadLE32(reinterpret_cast<const uint8_t*>(f.data()) + 0x30);
        start = sector + size_t{first} * sector;
    }
    size_t entry(uint32_t i) const { return start + 128 * size_t{i}; }
    // Every link field (left, right, child) of every entry in use of the
    // directory's first sector.
    std::vector<size_t> links() const {
        std::vector<size_t> out;
        for (uint32_t i = 0; i < 4; ++i) {
            if (f[entry(i) + 66] == 0) continue;
            for (size_t at : {68, 72, 76}) out.push_back(entry(i) + at);
        }
        return out;
    }
    const std::string& f;
    size_t start = 0;
};

// One four-byte link of the directory changed, each in turn: a file that
// opens must still hold every stream and every object; the rest are refused.
TEST_F(DamagedModule, NoChangedDirectoryLinkOpensAsAModuleWithoutItsStreams) {
    const std::string path = file("links.qbo");
    MakeModule(path);
    const std::string good = ReadFile(path);
    Directory dir(good);
    const std::vector<size_t> links = dir.links();
    ASSERT_GE(links.size(), 9u);
    int refused = 0;
    for (size_t at : links) {
        for (uint32_t value : {0xFFFFFFFFu, 0u, 1u, 2u, 3u, 7u}) {
            std::string bytes = good;
            StoreLE32(reinterpret_cast<uint8_t*>(bytes.data()) + at, value);
            if (bytes == good) continue;
            WriteFile(path, bytes);
            try {
                const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
                EXPECT_NE(found("Form1"), nullptr) << "link at " << at << " = " << value;
                EXPECT_EQ(ObjectStore::DynamicCount(m), 1) << "link at " << at << " = " << value;
                ObjectStore::UnloadModule(m);
            } catch (const StoreException&) {
                ++refused;
                EXPECT_EQ(ObjectStore::ModuleCount(), 0);
            }
        }
    }
    EXPECT_GT(refused, 0);
}

// LoadModule with create leaves an empty compound file when nothing is
// committed: nothing is in it to lose, and it opens as the new module it is.
TEST_F(DamagedModule, AnEmptyCompoundFileOpensAsANewModule) {
    const std::string path = file("new.qbo");
    ObjectStore::UnloadModule(load(path, 1));
    ASSERT_TRUE(OCLStorage::IsStorageFile(path.c_str()));
    const tModuleIndex m = load(path, 0);
    EXPECT_EQ(ObjectStore::StaticCount(m), 0);
    named("Fresh", m);
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
    load(path, 0);
    EXPECT_NE(found("Fresh"), nullptr);
}

// A module whose Form1 has a String field holding a text, written with or
// without the checksums (as written before there were any).
void MakeTextModule(const std::string& path, bool checksums) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    InterObj form(InterObjRep::NewNamed("Form1", nullptr, m, IOT_ORDINARY));
    form->addField(InterDataField::make("Caption", IDT_STRING, 1));
    setText(form.get(), "Caption", "kept for good");
    form = nullptr;
    ObjectStore::Save(m);
    if (!checksums) OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
    ObjectStore::Commit(m);
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
    ObjectStore::UnloadModule(m);
}

// Commits a change to one stream of the file as a disk would make it: the
// checksums stay as they were.
void DamageStream(const std::string& path, const char* name, const std::vector<uint8_t>& bytes) {
    OCLStorage storage(path.c_str(), 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED);
    OCLStream s(storage, name, 0, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    s.seek(0);
    s.write(bytes.data(), bytes.size());
    s.setSize(static_cast<uint32_t>(bytes.size()));
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kKeepCommitted);
    storage.Commit();
    OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
}

// What reading Form1's Caption gives: its text, or the failure.
std::string CaptionOf(const std::string& path) {
    try {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        std::string text;
        try {
            InterObj form;
            ObjectStore::find("Form1", form);
            text = form ? getText(form.get(), "Caption") : "no Form1";
        } catch (const StoreException& e) {
            text = e.what();
        }
        ObjectStore::UnloadModule(m);
        return text;
    } catch (const StoreException& e) {
        return e.what();
    }
}

// A "Strings" stream cut to nothing once read every text as "", and the next
// save made the loss final. With checksums the file no longer opens; without
// them (an older file) the object that names a string the table lacks is
// refused when it is read.
TEST_F(DamagedModule, AStringsStreamCutToNothingNeverReadsAsEmptyTexts) {
    const std::string path = file("strings.qbo");
    for (const bool checksums : {true, false}) {
        SCOPED_TRACE(checksums ? "with checksums" : "older file");
        ::unlink(path.c_str());
        MakeTextModule(path, checksums);
        ASSERT_EQ(CaptionOf(path), "kept for good");
        DamageStream(path, "Strings", {});
        const std::string read = CaptionOf(path);
        EXPECT_NE(read.find(checksums ? "the directory gives the stream \"Strings\" 0 bytes"
                                      : "which the module does not hold"),
                  std::string::npos)
            << read;
    }
}

// A value byte changed where no structure shows it: the checksums name it
// (here at opening: the table's head shares the text's piece); the commit
// that would carry such a byte over is refused (test_platform_storage).
TEST_F(DamagedModule, AChangedValueByteIsNamedByItsChecksum) {
    const std::string path = file("value.qbo");
    MakeTextModule(path, true);
    std::vector<uint8_t> strings = StreamBytes(path, "Strings");
    const std::string text = "kept for good";
    const auto at = std::search(strings.begin(), strings.end(), text.begin(), text.end());
    ASSERT_NE(at, strings.end());
    *at = 'K';
    DamageStream(path, "Strings", strings);
    const std::string read = CaptionOf(path);
    EXPECT_NE(read.find("of the stream \"Strings\" do not match their checksum"), std::string::npos) << read;
}

// Marks entry `index` of the description table `table` (the bytes of the
// file's stream `name`) free, as a disk would: the checksums stay as they
// were.
void FreeEntry(const std::string& path, const char* name, std::vector<uint8_t> table, uint32_t index) {
    const uint32_t array = LoadLE32(table.data() + 4);
    const size_t entry = size_t{array} + 8 + size_t{index} * 13;
    ASSERT_LT(entry, table.size());
    ASSERT_EQ(table[entry] & 1, 1) << "the entry is in use";
    table[entry] = 0;
    DamageStream(path, name, table);
}

// An older module (no checksums) whose Form1 embeds Label, an object with
// a value of its own, and a clone of Form1 with an embedded object of its
// own: with Label's entry freed, the host once read as if it had never had
// it (a new, empty Label was made in its place and the next save kept the
// loss). The host is refused instead, naming the embed and its entry; the
// clone, untouched, still reads.
TEST_F(DamagedModule, AnEmbedWhoseEntryIsFreedRefusesItsHostNamingTheEmbed) {
    const std::string path = file("embed.qbo");
    uint32_t label = 0;
    {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        InterObj form(named("Form1", m));
        form->addField(new EmbedObjField("Label", nullptr));
        InterObj embedded;
        ASSERT_TRUE(ObjectStore::find("Form1.Label", embedded));
        addData(embedded.get(), "Caption", IDT_STRING);
        setText(embedded.get(), "Caption", "kept");
        label = embedded->descriptor().descIndex();
        InterObj clone(InterObjRep::NewNamed("Copy1", form.get(), m, IOT_ORDINARY));
        form = embedded = clone = nullptr;
        ObjectStore::Save(m);
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
        ObjectStore::Commit(m);
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
        ObjectStore::UnloadModule(m);
    }
    FreeEntry(path, "Objects", StreamBytes(path, "Objects"), label);
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
    InterObj form;
    try {
        ObjectStore::find("Form1", form);
        ADD_FAILURE() << "Form1 read without its Label";
    } catch (const ObjectLoadFailed& e) {
        EXPECT_NE(std::string(e.what()).find("its embedded object Label (Objects entry " + std::to_string(label) +
                                             ") is not in the module"),
                  std::string::npos)
            << e.what();
    }
    InterObj copy;
    EXPECT_TRUE(ObjectStore::find("Copy1.Label", copy) && copy.get());
    ObjectStore::UnloadModule(m);
}

// An older module (no checksums) whose Form1 holds one text in a String
// field and one in an element of a String array: with either's "Strings"
// entry freed, the slot that names it read as "" (the array's element
// without a word) and the next save dropped the text for good. Form1 is
// refused when it is read, naming the entry, whichever slot names it.
TEST_F(DamagedModule, AStringWhoseEntryIsFreedRefusesItsObjectWhetherAFieldOrAnArrayElementNamesIt) {
    const std::string path = file("freed.qbo");
    {
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
        InterObj form(named("Form1", m));
        addData(form.get(), "Caption", IDT_STRING);
        InterArrayField* names = InterArrayField::make("Names", IDT_STRING, 1, nullptr);
        names->defineBounds(0, 0, 2);
        form->addField(names);
        setText(form.get(), "Caption", "kept");
        *Element(form.get(), "Names", 1) = StringValue(ValString("element"));
        form = nullptr;
        ObjectStore::Save(m);
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
        ObjectStore::Commit(m);
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
        ObjectStore::UnloadModule(m);
    }
    const std::string good = ReadFile(path);
    const std::vector<uint8_t> strings = StreamBytes(path, "Strings");
    const uint32_t array = LoadLE32(strings.data() + 4);
    int freed = 0;
    for (uint32_t i = 0; i < LoadLE32(strings.data() + array); ++i) {
        if ((strings[array + 8 + size_t{i} * 13] & 1) == 0) continue;
        SCOPED_TRACE("Strings entry " + std::to_string(i));
        ++freed;
        WriteFile(path, good);
        FreeEntry(path, "Strings", strings, i);
        const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 0, 0);
        try {
            InterObj form;
            ObjectStore::find("Form1", form);
            ADD_FAILURE() << "Form1 read without its text";
        } catch (const ObjectLoadFailed& e) {
            EXPECT_NE(std::string(e.what()).find("names Strings entry " + std::to_string(i) +
                                                 ", which the module does not hold"),
                      std::string::npos)
                << e.what();
        }
        ObjectStore::UnloadModule(m);
    }
    EXPECT_EQ(freed, 2);
}

}  // namespace
}  // namespace tq::test
