// Truncated, bit-flipped and hand-damaged module files: each fails to open, or
// fails the read, with a StorageError; none crashes, hangs or yields bytes the
// file never held.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/storage/cfbtables.h"
#include "platform/storage/checksums.h"
#include "platform/storage/fileops.h"
#include "platform/util/crc32c.h"
#include "platform/util/lebytes.h"
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
                // Another name can only be the checksums' own, damaged: the
                // file then reads as one written before there were any.
                if (name != "Objects" && name != "Module version") continue;
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
// turn. The container has no checksums of its own, but the streams have: a
// damaged link or size that leads a stream to other bytes fails their check.
// What must never happen is a crash, a hang, any failure but a StorageError,
// or a read of bytes that were not written.
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
            openAndReadAll(bytes);
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
        // The chain breaks after the first piece of 4096 bytes that the
        // checksums cover, so that piece still reads and checks.
        uint32_t sector = layout.get(layout.entry(layout.find("Objects")) + 116);
        for (int i = 1; i < 8; ++i) sector = layout.get(layout.fatEntry(sector));
        layout.set(layout.fatEntry(sector), loop ? sector : sectors + 3);
        test::WriteFile(file, bytes);
        OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(test::GetStream(s, "Module version"), small);
        OCLStream objects(s, "Objects", 0, test::kStreamMode);
        Bytes head(4096);
        objects.read(head.data(), head.size());  // the first piece is sound
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

// The tables an in-place commit plans with refuse the same broken chains,
// whether the commit keeps the whole chain or only its first sectors (a
// stream whose size stays): a chain that comes back to a sector, to itself
// or to its start, or runs past the file.
TEST_F(CorruptFileTest, TheInPlaceTablesRefuseABrokenChainWholeOrInPart) {
    const auto sectors = static_cast<uint32_t>((good.size() - 512) / 512);
    using Chain = std::optional<std::vector<uint32_t>>;
    // Objects' chain, whole and its first two sectors.
    const auto chains = [this](const Bytes& bytes) -> std::pair<Chain, Chain> {
        test::WriteFile(file, bytes);
        const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        std::optional<CfbTables> tables = CfbTables::Load(fd.get(), bytes.size(), file);
        if (!tables) return {};
        for (const CfbTables::Entry& e : tables->rootEntries())
            if (e.name == "Objects") return {tables->chainOf(e.start, e.size), tables->chainOf(e.start, e.size, 2)};
        return {};
    };
    const auto [whole, part] = chains(good);
    ASSERT_TRUE(whole && part);
    EXPECT_EQ(whole->size(), (big.size() + 511) / 512);
    EXPECT_EQ(*part, std::vector<uint32_t>(whole->begin(), whole->begin() + 2));

    // Where the FAT entry of the chain's eighth sector is sent, given the
    // chain's first sector and that one.
    using Target = std::function<uint32_t(uint32_t, uint32_t)>;
    const std::vector<std::pair<const char*, Target>> breaks = {
        {"to itself", [](uint32_t, uint32_t at) { return at; }},
        {"to its start", [](uint32_t first, uint32_t) { return first; }},
        {"past the file", [sectors](uint32_t, uint32_t) { return sectors + 3; }},
    };
    for (const auto& [what, target] : breaks) {
        SCOPED_TRACE(what);
        Bytes bytes = good;
        Layout layout(bytes);
        const uint32_t first = layout.get(layout.entry(layout.find("Objects")) + 116);
        uint32_t sector = first;
        for (int i = 1; i < 8; ++i) sector = layout.get(layout.fatEntry(sector));
        layout.set(layout.fatEntry(sector), target(first, sector));
        const auto [brokenWhole, brokenPart] = chains(bytes);
        EXPECT_FALSE(brokenWhole.has_value());
        EXPECT_FALSE(brokenPart.has_value());
    }
}

// ---- checksums ------------------------------------------------------------------

// The offset in the file of byte `at` of `bytes`, found by the content from
// there on (the patterns do not repeat).
size_t PlaceOf(const Bytes& file, const Bytes& bytes, size_t at) {
    const auto from = bytes.begin() + static_cast<long>(at);
    const auto it = std::search(file.begin(), file.end(), from, from + std::min<long>(32, bytes.end() - from));
    EXPECT_NE(it, file.end());
    return static_cast<size_t>(it - file.begin());
}

TEST_F(CorruptFileTest, ADamagedPieceFailsItsReadsTheCheckAndACommitThatWouldCarryIt) {
    Bytes bytes = good;
    bytes[PlaceOf(bytes, big, 9000)] ^= 0x10;
    test::WriteFile(file, bytes);
    {
        OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_TRUE(s.hasChecksums());
        OCLStream objects(s, "Objects", 0, test::kStreamMode);
        Bytes piece(4096);
        objects.read(piece.data(), piece.size());  // the pieces before are sound
        EXPECT_TRUE(std::equal(piece.begin(), piece.end(), big.begin()));
        objects.seek(8200);
        EXPECT_STORAGE_ERROR(objects.read(piece.data(), 10),
                             "bytes 8192 to 12287 of the stream \"Objects\" do not match");
        EXPECT_STORAGE_ERROR(s.verifyChecksums(), "\"Objects\"");
    }
    // A commit in place leaves the damaged piece where it is, under its old
    // checksum: the commit carries nothing over, and the damage still shows.
    {
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        test::PutStream(s, "Module version", Bytes{2});
        s.Commit();
        s.Revert();
        OCLStream objects(s, "Objects", 0, test::kStreamMode);
        objects.seek(8200);
        Bytes piece(10);
        EXPECT_STORAGE_ERROR(objects.read(piece.data(), 10),
                             "bytes 8192 to 12287 of the stream \"Objects\" do not match");
    }
    {
        OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_EQ(test::GetStream(reader, "Module version"), Bytes{2});
    }
    bytes = test::ReadFile(file);
    // A whole commit reads every byte it carries over, and refuses damage.
    OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kNever);
    {
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        test::PutStream(s, "Module version", Bytes{1});
        EXPECT_STORAGE_ERROR(s.Commit(), "\"Objects\" do not match their checksum");
        EXPECT_EQ(test::ReadFile(file), bytes);
        // Written whole, the stream no longer needs its damaged bytes.
        test::PutStream(s, "Objects", small);
        s.Commit();
    }
    OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kWhenSmaller);
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    s.verifyChecksums();
    EXPECT_EQ(test::GetStream(s, "Objects"), small);
}

TEST_F(CorruptFileTest, AFileThatDisagreesWithItsChecksumsIsRefusedAtOpening) {
    const Bytes checksumsHead = {'T', 'Q', 'C', 'S'};
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a stream's size set to 0",
         [](Bytes& b) {
             Layout l(b);
             l.set(l.entry(l.find("Objects")) + 120, 0);
         },
         "gives the stream \"Objects\" 0 bytes where its checksums count 20000"},
        {"a stream renamed",
         [](Bytes& b) {
             Layout l(b);
             b[l.entry(l.find("Objects"))] = 'o';
         },
         "the stream \"Objects\" that the checksums list is not in its directory"},
        {"a checksum changed",
         [&](Bytes& b) { b[PlaceOf(b, checksumsHead, 0) + 30] ^= 1; },
         "the stream \"Checksums\" is damaged: its bytes do not match their own checksum"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        c.damage(bytes);
        const std::string failure = openAndReadAll(bytes);
        EXPECT_NE(failure.find(c.says), std::string::npos) << failure;
    }
}

// Files written before the checksums existed (as the fixtures were) open
// unchecked and gain them, with their content unchanged, at the next commit.
TEST_F(CorruptFileTest, AFileWithoutChecksumsOpensAndGainsThemAtItsNextCommit) {
    test::WriteFile(file, test::ReadFile(std::string(TQ_SOURCE_DIR) +
                                         "/tests/platform/storage/data/sector4096.qbo"));
    std::map<std::string, Bytes> before;
    {
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        EXPECT_FALSE(s.hasChecksums());
        s.verifyChecksums();  // nothing to check
        for (const std::string& name : s.streamNames()) before[name] = test::GetStream(s, name);
        test::PutStream(s, "Objects", before.at("Objects"));  // a change of nothing
        s.Commit();
        EXPECT_TRUE(s.hasChecksums());
    }
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_TRUE(s.hasChecksums());
    s.verifyChecksums();
    std::map<std::string, Bytes> after;
    for (const std::string& name : s.streamNames()) after[name] = test::GetStream(s, name);
    EXPECT_EQ(after, before);
    EXPECT_STORAGE_ERROR(OCLStream(s, "checksums", 1, test::kStreamMode), "the storage's own");
}

// The piece size is the one the stream of checksums records: a file written
// by an earlier build opens and checks, and a file with smaller pieces (as a
// later writer may choose) is checked by its own.
TEST_F(CorruptFileTest, PiecesAreCheckedByThePieceSizeTheFileRecords) {
    const Bytes earlier = test::ReadFile(std::string(TQ_SOURCE_DIR) +
                                         "/tests/platform/storage/data/pieces4096.qbo");
    test::WriteFile(file, earlier);
    {
        OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_TRUE(s.hasChecksums());
        s.verifyChecksums();
    }
    OCLStorage::SetChecksumPieceSize(1024);
    {
        OCLStorage s(file.c_str(), 1, test::kNewModuleMode);
        test::PutStream(s, "Objects", big);
        s.Commit();
    }
    OCLStorage::SetChecksumPieceSize(kChecksumPieceSize);
    Bytes bytes = test::ReadFile(file);
    const Bytes head = {'T', 'Q', 'C', 'S', 1, 0, 0, 0, 0, 4, 0, 0};  // 1024-byte pieces
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), head.begin(), head.end()), bytes.end());
    bytes[PlaceOf(bytes, big, 5000)] ^= 0x10;
    test::WriteFile(file, bytes);
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    OCLStream objects(s, "Objects", 0, test::kStreamMode);
    Bytes piece(4096);
    objects.read(piece.data(), piece.size());  // the four pieces before are sound
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), big.begin()));
    EXPECT_STORAGE_ERROR(objects.read(piece.data(), 10),
                         "bytes 4096 to 5119 of the stream \"Objects\" do not match");
}

// A look at a few bytes reads them unchecked and no more of their piece; the
// piece is still checked when a read brings it in.
TEST_F(CorruptFileTest, APeekReadsOnlyItsBytesAndLeavesTheCheckToTheRead) {
    Bytes bytes = good;
    bytes[PlaceOf(bytes, big, 9000)] ^= 0x10;
    test::WriteFile(file, bytes);
    OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
    OCLStream objects(s, "Objects", 0, test::kStreamMode);
    const uint64_t before = s.bytesReadFromFile();
    Bytes look(5);
    objects.seek(9000);
    objects.peek(look.data(), look.size());
    EXPECT_EQ(look[0], big[9000] ^ 0x10);  // as the file holds it
    EXPECT_LE(s.bytesReadFromFile() - before, 2 * 512u);
    objects.seek(9000);
    EXPECT_STORAGE_ERROR(objects.read(look.data(), look.size()),
                         "bytes 8192 to 12287 of the stream \"Objects\" do not match");
}

TEST(ChecksumStreamTest, APieceSizeNoReaderTakesIsDamage) {
    CfbListing listing;
    listing.root = {{"Objects", false, 3000}};
    ChecksumTable table;
    ChecksumBuilder sum(3000, 512);
    const Bytes data = test::Pattern(3000, 5);
    sum.add(data.data(), data.size());
    table.emplace("Objects", sum.take());
    for (const uint32_t size : {256u, 1000u, 131072u, 512u}) {
        SCOPED_TRACE(size);
        Bytes bytes = EncodeChecksums(table, 512);
        StoreLE32(bytes.data() + 8, size);
        StoreLE32(bytes.data() + bytes.size() - 4, Crc32c(0, bytes.data(), bytes.size() - 4));
        if (size == 512) {
            EXPECT_EQ(DecodeChecksums(bytes, listing, "f").at("Objects").pieces.size(), 6u);
            continue;
        }
        EXPECT_STORAGE_ERROR(DecodeChecksums(bytes, listing, "f"), "its piece size is wrong");
    }
}

TEST(Crc32cTest, GivesTheStandardValueByTheInstructionAndByTheTableAlike) {
    const char* check = "123456789";
    EXPECT_EQ(Crc32c(0, check, 9), 0xE3069283u);
    EXPECT_EQ(Crc32cByTable(0, check, 9), 0xE3069283u);
    // Lengths about the runs the instruction takes three lanes at a time
    // (3 x 80, 3 x 336 and 3 x 1360 bytes, and the pieces reads check), from
    // every place within a word.
    const Bytes data = test::Pattern(100008, 7);
    for (size_t n : {0, 1, 7, 8, 9, 63, 64, 239, 240, 241, 383, 384, 385, 1000, 1007, 1008, 1009,
                     3071, 3072, 3080, 4079, 4080, 4081, 4095, 4096, 4097, 12240, 12289, 100000}) {
        for (size_t at = 0; at < 8; ++at) {
            for (size_t split : {size_t{0}, n / 3, n}) {
                SCOPED_TRACE(std::to_string(n) + " bytes from " + std::to_string(at) + " split at " +
                             std::to_string(split));
                const uint8_t* p = data.data() + at;
                const uint32_t whole = Crc32cByTable(0, p, n);
                EXPECT_EQ(Crc32c(Crc32c(0, p, split), p + split, n - split), whole);
                EXPECT_EQ(Crc32cByTable(Crc32cByTable(0, p, split), p + split, n - split), whole);
            }
        }
    }
}

}  // namespace
}  // namespace tq
