// The container read by the storage's own code: sound files read as libgsf
// and olefile read them, whatever their sector size and however their chains
// are laid out, and a damaged chain fails the read that meets it, naming the
// stream, never a crash, hang or read of other bytes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <map>

#include "platform/storage/cfbreader.h"
#include "platform/storage/gsfapi.h"
#include "platform/storage/gsfio.h"
#include "platform/util/lebytes.h"
#include "tests/platform/storage/oledump.h"
#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;
using Streams = std::map<std::string, Bytes>;

constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFree = 0xFFFFFFFF;

// A compound file laid out by hand, the way another writer might: the
// sectors of the large streams dealt out in turn, so that every chain jumps
// back and forth; the small ones in the mini stream. Where things lie is
// kept, to damage them on purpose.
struct HandMade {
    Bytes bytes;
    uint32_t sectorSize = 0;
    std::map<std::string, std::vector<uint32_t>> chains;  // sectors, or mini sectors
    std::map<std::string, size_t> entries;                // offset of each entry
    uint32_t miniTable = 0;                               // its (one) sector
    size_t root = 0;                                      // offset of the root entry
    size_t sector(uint32_t s) const { return sectorSize * (size_t{s} + 1); }
    size_t fatWord(uint32_t s) const { return sector(s / (sectorSize / 4)) + 4 * (s % (sectorSize / 4)); }
    void set(size_t at, uint32_t v) { StoreLE32(bytes.data() + at, v); }
};

HandMade MakeFile(uint32_t shift, const Streams& streams) {
    HandMade f;
    const uint32_t ss = f.sectorSize = 1u << shift;
    const uint32_t per = ss / 4;
    // Small streams go to the mini stream one after the other.
    Bytes mini;
    std::vector<uint32_t> miniFat;
    std::vector<std::pair<std::string, size_t>> large;  // name, sectors
    for (const auto& [name, data] : streams) {
        if (data.size() >= 4096) {
            large.push_back({name, (data.size() + ss - 1) / ss});
            continue;
        }
        for (size_t at = 0; at < data.size(); at += 64) {
            f.chains[name].push_back(static_cast<uint32_t>(miniFat.size()));
            miniFat.push_back(at + 64 < data.size() ? static_cast<uint32_t>(miniFat.size() + 1) : kEnd);
        }
        mini.insert(mini.end(), data.begin(), data.end());
        mini.resize((mini.size() + 63) / 64 * 64);
    }
    const auto count = [ss](size_t bytes) { return static_cast<uint32_t>((bytes + ss - 1) / ss); };
    const uint32_t dirSectors = count(128 * (streams.size() + 1));
    const uint32_t miniTableSectors = count(4 * miniFat.size());
    const uint32_t miniSectors = count(mini.size());
    uint32_t dataSectors = 0;
    for (const auto& l : large) dataSectors += static_cast<uint32_t>(l.second);
    uint32_t fatSectors = 1;
    while (fatSectors * per < fatSectors + dirSectors + miniTableSectors + miniSectors + dataSectors)
        ++fatSectors;
    EXPECT_LE(fatSectors, 109u);
    // Layout: allocation table, directory, mini table, mini stream, data.
    const uint32_t dir = fatSectors, miniAt = dir + dirSectors + miniTableSectors;
    f.miniTable = dir + dirSectors;
    const uint32_t total = miniAt + miniSectors + dataSectors;
    std::vector<uint32_t> fat(fatSectors * per, kFree);
    const auto chain = [&fat](uint32_t from, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) fat[from + i] = i + 1 < n ? from + i + 1 : kEnd;
    };
    for (uint32_t i = 0; i < fatSectors; ++i) fat[i] = 0xFFFFFFFD;
    chain(dir, dirSectors);
    chain(f.miniTable, miniTableSectors);
    chain(miniAt, miniSectors);
    uint32_t next = miniAt + miniSectors;
    for (size_t round = 0; next < total; ++round)
        for (const auto& [name, n] : large)
            if (round < n) f.chains[name].push_back(next++);
    for (const auto& [name, n] : large) {
        const std::vector<uint32_t>& c = f.chains[name];
        for (size_t i = 0; i < c.size(); ++i) fat[c[i]] = i + 1 < c.size() ? c[i + 1] : kEnd;
    }

    f.bytes.assign(size_t{ss} * (total + 1), 0);
    uint8_t* h = f.bytes.data();
    std::copy(kCompoundFileSignature.begin(), kCompoundFileSignature.end(), h);
    StoreLE16(h + 0x18, 0x3E);
    StoreLE16(h + 0x1A, shift == 12 ? 4 : 3);
    StoreLE16(h + 0x1C, 0xFFFE);
    StoreLE16(h + 0x1E, static_cast<uint16_t>(shift));
    StoreLE16(h + 0x20, 6);
    StoreLE32(h + 0x28, shift == 12 ? dirSectors : 0);
    StoreLE32(h + 0x2C, fatSectors);
    StoreLE32(h + 0x30, dir);
    StoreLE32(h + 0x38, 4096);
    StoreLE32(h + 0x3C, miniTableSectors ? f.miniTable : kEnd);
    StoreLE32(h + 0x40, miniTableSectors);
    StoreLE32(h + 0x44, kEnd);
    for (uint32_t i = 0; i < 109; ++i) StoreLE32(h + 0x4C + 4 * i, i < fatSectors ? i : kFree);
    for (size_t i = 0; i < fat.size(); ++i) f.set(f.sector(0) + 4 * i, fat[i]);
    for (size_t i = 0; i < miniFat.size(); ++i) f.set(f.sector(f.miniTable) + 4 * i, miniFat[i]);
    std::copy(mini.begin(), mini.end(), f.bytes.begin() + static_cast<long>(f.sector(miniAt)));
    // Entries: the root, then the streams as one chain of right siblings.
    size_t index = 0;
    const auto entry = [&](const std::string& name, uint8_t type, uint32_t start, uint32_t size,
                           bool last) {
        const size_t at = f.sector(dir) + 128 * index++;
        uint8_t* e = f.bytes.data() + at;
        for (size_t i = 0; i < name.size(); ++i) e[2 * i] = static_cast<uint8_t>(name[i]);
        StoreLE16(e + 64, static_cast<uint16_t>(2 * (name.size() + 1)));
        e[66] = type;
        e[67] = 1;
        StoreLE32(e + 68, kFree);
        StoreLE32(e + 72, type == 5 || last ? kFree : static_cast<uint32_t>(index));
        StoreLE32(e + 76, type == 5 && !streams.empty() ? 1 : kFree);
        StoreLE32(e + 116, start);
        StoreLE32(e + 120, size);
        return at;
    };
    f.root = entry("Root Entry", 5, mini.empty() ? kEnd : miniAt, static_cast<uint32_t>(mini.size()), true);
    size_t left = streams.size();
    for (const auto& [name, data] : streams) {
        const std::vector<uint32_t>& c = f.chains[name];
        f.entries[name] = entry(name, 2, c.empty() ? kEnd : c.front(),
                                static_cast<uint32_t>(data.size()), --left == 0);
        const size_t unit = data.size() >= 4096 ? ss : 64;
        for (size_t i = 0; i < c.size(); ++i) {
            const size_t n = std::min<size_t>(unit, data.size() - i * unit);
            const size_t to = data.size() >= 4096
                                  ? f.sector(c[i])
                                  : f.sector(miniAt) + size_t{c[i]} * 64;
            std::copy_n(data.begin() + static_cast<long>(i * unit), n,
                        f.bytes.begin() + static_cast<long>(to));
        }
    }
    return f;
}

std::shared_ptr<CfbReader> OpenReader(const std::string& file) {
    return CfbReader::Open(::open(file.c_str(), O_RDONLY | O_CLOEXEC), file);
}

// Every root stream as libgsf reads it.
Streams ReadWithLibgsf(CfbReader& reader) {
    GsfInfile* root = reader.gsfRoot();  // loads the library
    const GsfApi& gsf = Gsf();
    Streams streams;
    for (int i = 0; i < gsf.gsf_infile_num_children(root); ++i) {
        std::string reason;
        GsfInput* child = gsfio::ChildByIndex(root, i, &reason);
        EXPECT_NE(child, nullptr) << reason;
        if (child == nullptr) continue;
        const std::string name = gsf.gsf_infile_name_by_index(root, i);
        if (name != "Checksums" && gsf.gsf_infile_num_children(reinterpret_cast<GsfInfile*>(child)) < 0) {
            Bytes bytes(static_cast<size_t>(gsf.gsf_input_size(child)));
            if (!bytes.empty()) {
                EXPECT_NE(gsf.gsf_input_read(child, bytes.size(), bytes.data()), nullptr);
            }
            streams[name] = std::move(bytes);
        }
        gsf.g_object_unref(child);
    }
    return streams;
}

// Every root stream whole through our reader, and read again in pieces
// that straddle each sector boundary, which must agree with the whole.
Streams ReadWithOurs(CfbReader& reader, uint32_t sectorSize) {
    Streams streams;
    for (const CfbEntry& e : reader.listing().root) {
        if (e.isStorage || e.name == "Checksums") continue;
        Bytes whole(e.size);
        reader.read(e.name, 0, whole.data(), whole.size());
        for (uint32_t at = sectorSize; at < e.size; at += sectorSize) {
            for (const uint32_t before : {1u, 3u, sectorSize / 2}) {
                const uint32_t from = at - std::min(at, before);
                Bytes piece(std::min<uint32_t>(e.size - from, before + 5 + (at % 3) * sectorSize));
                reader.read(e.name, from, piece.data(), piece.size());
                EXPECT_TRUE(std::equal(piece.begin(), piece.end(), whole.begin() + from))
                    << e.name << " at " << from << " for " << piece.size();
            }
        }
        streams[e.name] = std::move(whole);
    }
    return streams;
}

class CfbReadTest : public ::testing::Test {
protected:
    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
};

// Sizes on both sides of the mini-stream cutoff and of the sector sizes.
Streams Mixed() {
    Streams s;
    const size_t sizes[] = {0, 1, 63, 64, 65, 4095, 4096, 4097, 9000, 70000};
    uint32_t seed = 1;
    for (const size_t n : sizes) s["S" + std::to_string(n)] = test::Pattern(n, seed++);
    return s;
}

TEST_F(CfbReadTest, SoundFilesReadAsLibgsfAndAnIndependentReaderReadThem) {
    struct Case {
        std::string what;
        std::function<void()> make;
        Streams expected;  // empty: as libgsf reads it
        uint32_t sectorSize;
    };
    const Streams mixed = Mixed();
    const std::string data = std::string(TQ_SOURCE_DIR) + "/tests/platform/storage/data/";
    const std::vector<Case> cases = {
        {"512-byte sectors, chains interleaved",
         [&] { test::WriteFile(file, MakeFile(9, mixed).bytes); }, mixed, 512},
        {"4096-byte sectors, chains interleaved",
         [&] { test::WriteFile(file, MakeFile(12, mixed).bytes); }, mixed, 4096},
        {"4096-byte sectors, another writer's",
         [&] { test::WriteFile(file, test::ReadFile(data + "sector4096.qbo")); }, {}, 4096},
        {"sub-storages, another writer's",
         [&] { test::WriteFile(file, test::ReadFile(data + "substorage.qbo")); }, {}, 512},
        // Past 7 MB the table continues in allocation-index sectors.
        {"an allocation index, ours",
         [&] {
             OCLStorage s(file.c_str(), 1, test::kNewModuleMode);
             test::PutStream(s, "Objects", test::Pattern(9 << 20, 5));
             test::PutStream(s, "IdStrings", test::Pattern(3000, 6));
             s.Commit();
         },
         {{"Objects", test::Pattern(9 << 20, 5)}, {"IdStrings", test::Pattern(3000, 6)}}, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        auto reader = OpenReader(file);
        const Streams ours = ReadWithOurs(*reader, c.sectorSize);
        if (!c.expected.empty()) {
            EXPECT_EQ(ours, c.expected);
        }
        EXPECT_EQ(ours, ReadWithLibgsf(*reader));
        if (c.expected.size() < 5) continue;
        test::OleDump dump = test::DumpWithOlefile(file);
        EXPECT_EQ(dump.streams, c.expected);
    }
}

// Damage to a chain: the read that meets it fails, naming the stream and
// what is wrong, while the bytes before the damage and the other streams
// still read. The file has no checksums, so nothing but the container's own
// checks stands between the damage and the bytes read.
TEST_F(CfbReadTest, ADamagedChainFailsTheReadThatMeetsItWithItsReason) {
    const Bytes large = test::Pattern(20000, 1), small = test::Pattern(300, 2);
    const Streams streams = {{"Large", large}, {"Small", small}, {"Other", test::Pattern(9000, 3)}};
    struct Case {
        const char* what;
        std::function<void(HandMade&)> damage;
        const char* stream;  // whose read fails; the others read
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a loop", [](HandMade& f) { f.set(f.fatWord(f.chains["Large"][5]), f.chains["Large"][2]); },
         "Large", "its sector chain loops"},
        {"a chain cut short", [](HandMade& f) { f.set(f.fatWord(f.chains["Large"][5]), kEnd); },
         "Large", "its sector chain is shorter than the stream"},
        {"a free sector in the chain", [](HandMade& f) { f.set(f.fatWord(f.chains["Large"][5]), kFree); },
         "Large", "its sector chain is shorter than the stream"},
        {"a link past the file",
         [](HandMade& f) { f.set(f.fatWord(f.chains["Large"][5]), 0x00FFFFFF); }, "Large",
         "its sector chain leaves the file"},
        {"a first sector past the file",
         [](HandMade& f) { f.set(f.entries["Large"] + 116, 0x00FFFFFF); }, "Large",
         "its sector chain leaves the file"},
        {"a mini sector past the mini stream",
         [](HandMade& f) { f.set(f.sector(f.miniTable) + 4 * f.chains["Small"][1], 4000); }, "Small",
         "its mini-sector chain leaves the mini stream"},
        {"a first mini sector past the mini stream",
         [](HandMade& f) { f.set(f.entries["Small"] + 116, 7); }, "Small",
         "its mini-sector chain leaves the mini stream"},
        {"a mini loop",
         [](HandMade& f) {
             f.set(f.sector(f.miniTable) + 4 * f.chains["Small"][2], f.chains["Small"][0]);
         },
         "Small", "its mini-sector chain loops"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HandMade f = MakeFile(9, streams);
        c.damage(f);
        test::WriteFile(file, f.bytes);
        auto reader = OpenReader(file);
        for (const auto& [name, bytes] : streams) {
            Bytes got(bytes.size());
            if (name != c.stream) {
                reader->read(name, 0, got.data(), got.size());
                EXPECT_EQ(got, bytes) << name;
                continue;
            }
            Bytes head(64);
            if (name == "Large" && c.what != std::string("a first sector past the file")) {
                // the sectors before the damage
                reader->read(name, 0, head.data(), head.size());
                EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
            }
            EXPECT_STORAGE_ERROR(reader->read(name, 0, got.data(), got.size()),
                                 file + ": stream \"" + name +
                                     "\" cannot be read: the file is damaged (" + c.says + ")");
        }
    }
}

// Lays the sectors of large stream `name` anew: its chain sector i moves to
// the sector that was its chain sector order[i], bytes and links alike.
void Relay(HandMade& f, const std::string& name, const std::vector<size_t>& order) {
    const std::vector<uint32_t> was = f.chains[name];
    std::vector<uint32_t> now(was.size());
    for (size_t i = 0; i < was.size(); ++i) now[i] = was[order[i]];
    const Bytes before = f.bytes;
    for (size_t i = 0; i < was.size(); ++i) {
        std::copy_n(before.begin() + static_cast<long>(f.sector(was[i])), f.sectorSize,
                    f.bytes.begin() + static_cast<long>(f.sector(now[i])));
        f.set(f.fatWord(now[i]), i + 1 < now.size() ? now[i + 1] : kEnd);
    }
    f.set(f.entries[name] + 116, now.front());
    f.chains[name] = now;
}

// Writers lay a stream's sectors side by side, and the reader takes such
// runs in one step. Read in small steps that stop within runs, in runs
// broken where another writer might break them, the bytes are the stream's;
// damage within a run is met exactly where following the chain sector by
// sector meets it: the sector before the bad link reads, the one after
// does not, and so again at the next read.
TEST_F(CfbReadTest, ChainsLaidSideBySideReadAndFailAsSectorBySector) {
    const Bytes large = test::Pattern(200000, 4);  // 391 sectors over 4 table sectors
    const Streams streams = {{"Large", large}, {"Small", test::Pattern(300, 5)}};
    std::vector<size_t> inOrder(391), swapped(391), reversed(391);
    for (size_t i = 0; i < 391; ++i) {
        inOrder[i] = i;
        swapped[i] = i < 10 || i >= 200 ? i : i < 110 ? i + 90 : i - 100;  // 0-9, 100-199, 10-99, 200-
        reversed[i] = 390 - i;  // runs of one sector, going back
    }
    const std::vector<std::pair<const char*, std::vector<size_t>>> layouts = {
        {"in order", inOrder}, {"two runs swapped", swapped}, {"reversed", reversed}};
    for (const auto& [what, order] : layouts) {
        SCOPED_TRACE(what);
        HandMade f = MakeFile(9, streams);
        Relay(f, "Large", order);
        test::WriteFile(file, f.bytes);
        auto reader = OpenReader(file);
        for (uint32_t at = 0; at < large.size(); at += 7 * 512 + 13) {
            Bytes piece(std::min<size_t>(700, large.size() - at));
            reader->read("Large", at, piece.data(), piece.size());
            ASSERT_TRUE(std::equal(piece.begin(), piece.end(), large.begin() + at)) << at;
        }
        Bytes whole(large.size());
        reader->read("Large", 0, whole.data(), whole.size());
        EXPECT_EQ(whole, large);
    }

    struct Case {
        const char* what;
        size_t at;      // the chain sector whose link is damaged
        int64_t to;     // to chain sector `to`; below 0, to the sector -to - 1
        size_t fails;   // the first chain sector whose read fails
        const char* says;
        uint32_t grow = 0;  // bytes the directory adds to the stream's size
    };
    const uint32_t pastTheFile = static_cast<uint32_t>(MakeFile(9, streams).bytes.size() / 512 - 1);
    const std::vector<Case> cases = {
        {"back to the start", 200, 0, 201, "its sector chain loops"},
        // Chain sector 199 lies just before 10: the run goes on into it.
        {"into a run followed before", 199, 10, 200, "its sector chain loops"},
        {"to itself", 100, 100, 101, "its sector chain loops"},
        {"back within the run", 300, 150, 301, "its sector chain loops"},
        // Chain sector 248 has the last word of a table sector, 249 the
        // first of the next.
        {"from a table sector's first word, back across", 249, 246, 250, "its sector chain loops"},
        // Sectors 101 on read as 150 on, until the chain ends too soon.
        {"ahead within the run", 100, 150, 342, "its sector chain is shorter than the stream"},
        {"to the end of chain", 250, -int64_t{kEnd} - 1, 251,
         "its sector chain is shorter than the stream"},
        {"to the first sector past the file", 200, -int64_t{pastTheFile} - 1, 201,
         "its sector chain leaves the file"},
        {"at a table sector's last word, away", 248, -int64_t{0x00FFFFFF} - 1, 249,
         "its sector chain leaves the file"},
        // Chain sector 390 is the file's last: the link after it is read
        // when the stream says it goes on, and leads on to a sector the
        // file does not hold.
        {"on from the file's last sector", 390, -int64_t{pastTheFile} - 1, 391,
         "its sector chain leaves the file", 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HandMade f = MakeFile(9, streams);
        Relay(f, "Large", swapped);
        const std::vector<uint32_t>& chain = f.chains["Large"];
        ASSERT_EQ(chain[248] % 128, 127u);
        f.set(f.fatWord(chain[c.at]), c.to >= 0 ? chain[static_cast<size_t>(c.to)]
                                                : static_cast<uint32_t>(-c.to - 1));
        const uint32_t size = static_cast<uint32_t>(large.size()) + c.grow;
        f.set(f.entries["Large"] + 120, size);
        test::WriteFile(file, f.bytes);
        const std::string says = "\"Large\" cannot be read: the file is damaged (" + std::string(c.says) + ")";
        // The whole first, so that the chain is followed in long runs, or
        // sector by sector up to the damage.
        for (const bool wholeFirst : {true, false}) {
            auto reader = OpenReader(file);
            Bytes got(512);
            const auto sector = [&](size_t i) {
                const auto at = static_cast<uint32_t>(512 * i);
                reader->read("Large", at, got.data(), std::min<uint32_t>(512, size - at));
            };
            for (int again = 0; again < 2; ++again) {
                Bytes whole(size);
                if (wholeFirst) {
                    EXPECT_STORAGE_ERROR(reader->read("Large", 0, whole.data(), whole.size()), says);
                }
                sector(c.at);
                const size_t inLarge = std::min<size_t>(512, large.size() - 512 * c.at);
                EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(inLarge),
                                       large.begin() + static_cast<long>(512 * c.at)));
                sector(c.fails - 1);
                EXPECT_STORAGE_ERROR(sector(c.fails), says);
                EXPECT_STORAGE_ERROR(reader->read("Large", 0, whole.data(), whole.size()), says);
            }
            sector(0);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), large.begin()));
            reader->read("Small", 0, got.data(), 300);
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + 300, streams.at("Small").begin()));
        }
    }
}

// The container's own tables: a file without checksums has them checked
// whole at opening; a file with checksums at the read that needs them, so
// that opening a large module reads little.
TEST_F(CfbReadTest, TheTablesAreCheckedAtOpeningOnlyWithoutChecksums) {
    {
        OCLStorage s(file.c_str(), 1, test::kNewModuleMode);
        test::PutStream(s, "Objects", test::Pattern(200000, 1));
        s.Commit();
    }
    Bytes withSums = test::ReadFile(file);
    ASSERT_GT(LoadLE32(withSums.data() + 0x2C), 2u) << "the table takes several sectors";
    StoreLE32(withSums.data() + 0x4C, 0x00FFFFFF);  // where the first table sector lies
    test::WriteFile(file, withSums);
    {
        OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
        EXPECT_TRUE(s.hasChecksums());
        EXPECT_STORAGE_ERROR(test::GetStream(s, "Objects"),
                             "an allocation-table sector lies outside the file");
    }

    HandMade f = MakeFile(9, {{"Large", test::Pattern(200000, 1)}, {"Small", test::Pattern(9, 2)}});
    f.set(0x4C + 4, 0x00FFFFFF);  // the second table sector, which no open needs
    test::WriteFile(file, f.bytes);
    EXPECT_STORAGE_ERROR(OCLStorage(file.c_str(), 0, test::kReadOnlyMode),
                         "an allocation-table sector lies outside the file");
    const std::vector<std::pair<std::function<void(HandMade&)>, const char*>> tables = {
        {[](HandMade& m) { m.set(0x3C, 0x00FFFFFF); },
         "the mini table's sector chain leaves the file"},
        {[](HandMade& m) { m.set(m.root + 116, 0x00FFFFFF); },
         "the mini stream's sector chain leaves the file"},
    };
    for (const auto& [damage, says] : tables) {
        SCOPED_TRACE(says);
        HandMade m = MakeFile(9, {{"Small", test::Pattern(300, 2)}});
        damage(m);
        test::WriteFile(file, m.bytes);
        EXPECT_STORAGE_ERROR(OpenReader(file), file + ": not a valid compound file: " + says);
    }
}

}  // namespace
}  // namespace tq
