// Truncated, bit-flipped and hand-damaged module files: each fails to open, or
// fails the read, with a StorageError; none crashes, hangs or yields bytes the
// file never held.
#include <gtest/gtest.h>

#include <functional>

#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;

// Where things are in a file we wrote (512-byte sectors, one allocation-table
// sector, a one-sector directory), for damaging them on purpose.
class Layout {
public:
    explicit Layout(Bytes& f) : f_(f) {}
    uint32_t get(size_t at) const {
        return f_[at] | (f_[at + 1] << 8) | (f_[at + 2] << 16) | (uint32_t{f_[at + 3]} << 24);
    }
    void set(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) f_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    size_t sector(uint32_t s) const { return 512 + size_t{s} * 512; }
    size_t fatEntry(uint32_t s) const { return sector(get(0x4C)) + 4 * s; }
    size_t entry(uint32_t i) const { return sector(get(0x30)) + 128 * i; }
    // The directory entry of a stream named in ASCII.
    uint32_t find(const std::string& name) const {
        for (uint32_t i = 1; i < 4; ++i) {
            std::string n;
            for (size_t c = 0; c < name.size(); ++c) n += static_cast<char>(f_[entry(i) + 2 * c]);
            if (n == name && f_[entry(i) + 2 * name.size()] == 0) return i;
        }
        ADD_FAILURE() << "no entry " << name;
        return 0;
    }

private:
    Bytes& f_;
};

class CorruptFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            OCLStorage s(file.c_str(), 1, test::kModuleMode);
            test::PutStream(s, "Module version", small);
            test::PutStream(s, "Objects", big);
            s.Commit();
        }
        good = test::ReadFile(file);
    }

    // Opens `bytes` as a module and reads every stream whole. Returns the
    // failure's text, or "" when all went well. With `exact`, a stream read
    // whole must hold exactly what was written.
    std::string openAndReadAll(const Bytes& bytes, bool exact = true) {
        test::WriteFile(file, bytes);
        try {
            OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
            for (const std::string& name : s.streamNames()) {
                const Bytes got = test::GetStream(s, name);
                const Bytes& want = name == "Objects" ? big : small;
                if (exact) {
                    EXPECT_EQ(got, want) << "stream " << name << " read wrong bytes";
                }
            }
            return "";
        } catch (const StorageError& e) {
            EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
            return e.what();
        }
    }

    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
    Bytes small = test::Pattern(300, 1);
    Bytes big = test::Pattern(20000, 2);
    Bytes good;
};

TEST_F(CorruptFileTest, TruncatedFilesFailOrReadOnlyTrueBytes) {
    for (size_t length = 0; length < good.size(); length += length < 2048 ? 7 : 131) {
        SCOPED_TRACE("length " + std::to_string(length));
        const Bytes cut(good.begin(), good.begin() + static_cast<long>(length));
        EXPECT_NE(openAndReadAll(cut), "");
    }
}

// Every byte of the header, the allocation table and the directory, damaged in
// turn. The container has no checksums: a damaged link may lead a stream to
// another sector and still read. What must never happen is a crash, a hang,
// or any failure but a StorageError.
TEST_F(CorruptFileTest, DamageToTheContainerTablesNeverCrashesOrLies) {
    Bytes bytes = good;
    Layout layout(bytes);
    std::vector<size_t> places;
    for (size_t at = 0; at < 512; ++at) places.push_back(at);
    for (size_t at = 0; at < 512; at += 2) {
        places.push_back(layout.sector(layout.get(0x4C)) + at);
        places.push_back(layout.entry(0) + at);
    }
    for (const size_t at : places) {
        for (const uint8_t mask : {0x01, 0x80, 0xFF}) {
            SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(mask));
            bytes[at] ^= mask;
            openAndReadAll(bytes, false);
            bytes[at] ^= mask;
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST_F(CorruptFileTest, HostileContainerFieldsAreRefusedWithAClearText) {
    struct Case {
        const char* what;
        std::function<void(Layout&)> damage;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"signature", [](Layout& l) { l.set(0, 0); }, "no compound-file signature"},
        {"sector size 2^30", [](Layout& l) { l.set(0x1C, 0x001EFFFE); }, "unsupported sector size"},
        {"4G allocation-table sectors", [](Layout& l) { l.set(0x2C, 0xFFFFFFFF); },
         "implausible allocation-table sector count"},
        {"directory outside the file", [](Layout& l) { l.set(0x30, 0x7FFFFFFF); },
         "leaves the file"},
        {"directory chain loops",
         [](Layout& l) { l.set(l.fatEntry(l.get(0x30)), l.get(0x30)); }, "loops"},
        {"siblings of the root", [](Layout& l) { l.set(l.entry(0) + 72, 1); },
         "the root entry has siblings"},
        {"link past the directory", [](Layout& l) { l.set(l.entry(0) + 76, 0x00FFFFFF); },
         "past the directory's end"},
        // A link changed so that entries in use hang from nothing: the file
        // would read as one without those streams.
        {"streams cut off from the root", [](Layout& l) { l.set(l.entry(0) + 76, 0xFFFFFFFF); },
         "is not reachable from the root"},
        {"a stream cut off from its siblings",
         [](Layout& l) {
             const uint32_t top = l.get(l.entry(0) + 76);
             l.set(l.entry(top) + 68, 0xFFFFFFFF);
             l.set(l.entry(top) + 72, 0xFFFFFFFF);
         },
         "is not reachable from the root"},
        {"entry reached twice",
         [](Layout& l) {
             const uint32_t e = l.find("Objects");
             l.set(l.entry(e) + 72, e);
         },
         "reaches an entry twice"},
        {"stream of 4 GiB",
         [](Layout& l) { l.set(l.entry(l.find("Objects")) + 120, 0xFFFFFF00); },
         "larger than the file"},
        {"nameless entry",
         [](Layout& l) {
             const size_t at = l.entry(l.find("Objects")) + 64;
             l.set(at, l.get(at) & 0xFFFF0000);
         },
         "no valid name"},
        {"unknown entry type",
         [](Layout& l) {
             const size_t at = l.entry(l.find("Objects")) + 64;
             l.set(at, (l.get(at) & 0xFF00FFFF) | 0x00070000);
         },
         "wrong type"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        Layout layout(bytes);
        c.damage(layout);
        const std::string failure = openAndReadAll(bytes);
        EXPECT_NE(failure.find(c.says), std::string::npos) << failure;
    }
}

// Stream chains are libgsf's to follow: a chain that loops, or runs to a
// sector past the end of the file, fails the read of that stream, with its
// name, and leaves the others readable.
TEST_F(CorruptFileTest, ABrokenSectorChainFailsTheReadOfThatStreamOnly) {
    const auto sectors = static_cast<uint32_t>((good.size() - 512) / 512);
    for (const bool loop : {true, false}) {
        SCOPED_TRACE(loop ? "loop" : "past the end");
        Bytes bytes = good;
        Layout layout(bytes);
        const uint32_t first = layout.get(layout.entry(layout.find("Objects")) + 116);
        layout.set(layout.fatEntry(first), loop ? first : sectors + 3);
        test::WriteFile(file, bytes);
        OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(test::GetStream(s, "Module version"), small);
        OCLStream objects(s, "Objects", 0, test::kStreamMode);
        Bytes head(512);
        objects.read(head.data(), head.size());  // the first sector is sound
        EXPECT_TRUE(std::equal(head.begin(), head.end(), big.begin()));
        try {
            test::GetStream(s, "Objects");
            ADD_FAILURE() << "a broken chain read as whole";
        } catch (const StorageError& e) {
            EXPECT_NE(std::string(e.what()).find("\"Objects\""), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace tq
