// Files we write, read back by an independent reader of compound files
// (Python's olefile, in its strict mode), and files written by another writer
// read by us.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;

// Every stream of a compound file, by its full path ("Storage/Stream"), and
// the root's class id. The stream of checksums is checked by the script,
// with its own CRC-32C, against the bytes olefile read: `checksums` says
// "none", "sound" or what disagrees, and the stream is not in `streams`.
struct OleDump {
    std::map<std::string, Bytes> streams;
    std::vector<std::string> storages;
    std::string rootClassId;
    std::string checksums;
};

const char* const kDumpScript = R"(
import os, struct, sys, olefile
path, out = sys.argv[1], sys.argv[2]

def crc32c(data, crc=0):
    crc ^= 0xFFFFFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ (0x82F63B78 if crc & 1 else 0)
    return crc ^ 0xFFFFFFFF

def check(table, streams):
    body, (own,) = table[:-4], struct.unpack('<I', table[-4:])
    if crc32c(body) != own: return 'its own checksum does not match'
    sig, version, piece, count = struct.unpack('<4sIII', body[:16])
    if (sig, version, piece) != (b'TQCS', 1, 4096): return 'bad head'
    pos, seen = 16, set()
    for _ in range(count):
        (n,) = struct.unpack('<I', body[pos:pos + 4]); pos += 4
        name = body[pos:pos + n].decode('utf-8'); pos += n
        (size,) = struct.unpack('<I', body[pos:pos + 4]); pos += 4
        data = streams.get(name)
        if data is None or len(data) != size: return 'stream %s: missing or of another size' % name
        for start in range(0, size, piece):
            (crc,) = struct.unpack('<I', body[pos:pos + 4]); pos += 4
            if crc32c(data[start:start + piece]) != crc: return 'stream %s: piece at %d' % (name, start)
        seen.add(name)
    if pos != len(body) or seen != set(streams): return 'the streams listed are not the file\'s'
    return 'sound'

ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
root = {}
with open(os.path.join(out, 'listing'), 'w', encoding='utf-8') as listing:
    listing.write(ole.root.clsid + '\n')
    for i, entry in enumerate(ole.listdir(streams=True, storages=True)):
        kind = ole.get_type(entry)
        listing.write('%d\t%d\t%s\n' % (i, kind, '/'.join(entry)))
        if kind == olefile.STGTY_STREAM:
            data = ole.openstream(entry).read()
            if len(entry) == 1: root[entry[0]] = data
            with open(os.path.join(out, str(i)), 'wb') as f:
                f.write(data)
table = root.pop('Checksums', None)
with open(os.path.join(out, 'checksums'), 'w') as f:
    f.write('none' if table is None else check(table, root))
)";

OleDump DumpWithOlefile(const std::string& file) {
    test::ScratchDir out;
    const std::string script = out.path("dump.py");
    test::WriteFile(script, Bytes(kDumpScript, kDumpScript + std::strlen(kDumpScript)));
    const std::string command =
        "/usr/bin/python3 " + script + " '" + file + "' '" + out.dir() + "' 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << "olefile refused " << file;
    OleDump dump;
    std::ifstream listing(out.path("listing"));
    std::getline(listing, dump.rootClassId);
    std::string line;
    while (std::getline(listing, line)) {
        const auto tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        const std::string index = line.substr(0, tab1);
        const int kind = std::stoi(line.substr(tab1 + 1, tab2 - tab1 - 1));
        const std::string name = line.substr(tab2 + 1);
        if (name == "Checksums") continue;
        if (kind == 2) dump.streams[name] = test::ReadFile(out.path(index));
        else dump.storages.push_back(name);
    }
    std::ifstream checksums(out.path("checksums"));
    std::getline(checksums, dump.checksums);
    return dump;
}

std::map<std::string, Bytes> AllStreams(OCLStorage& storage) {
    std::map<std::string, Bytes> streams;
    for (const std::string& name : storage.streamNames())
        streams[name] = test::GetStream(storage, name);
    return streams;
}

class InteropTest : public ::testing::Test {
protected:
    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
};

TEST_F(InteropTest, AnIndependentReaderFindsTheStreamsAndBytesWeWrote) {
    // Sizes around the mini-stream cutoff and the sector sizes, the store's
    // names, and a name beyond ASCII.
    std::map<std::string, Bytes> expected;
    const size_t sizes[] = {0, 1, 63, 64, 65, 511, 512, 4095, 4096, 4097, 100000, 7, 300};
    size_t i = 0;
    for (const std::string& name : test::ModuleStreamNames()) {
        expected[name] = test::Pattern(sizes[i % std::size(sizes)], static_cast<uint32_t>(i + 1));
        ++i;
    }
    expected["Grüße ☃"] = test::Pattern(5000, 99);
    expected["\005SummaryInformation"] = test::Pattern(48, 98);  // as other writers name it
    {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        for (const auto& [name, bytes] : expected) test::PutStream(s, name, bytes);
        s.Commit();
    }
    const OleDump first = DumpWithOlefile(file);
    EXPECT_EQ(first.streams, expected);
    EXPECT_EQ(first.checksums, "sound");

    // A second commit that changes, removes and adds streams.
    {
        OCLStorage s(file.c_str(), 0, test::kModuleMode);
        test::PutStream(s, "Objects", test::Pattern(9000, 7));
        expected["Objects"] = test::Pattern(9000, 7);
        s.removeStream("Blocks");
        expected.erase("Blocks");
        test::PutStream(s, "Extra", Bytes{1, 2, 3});
        expected["Extra"] = Bytes{1, 2, 3};
        s.Commit();
    }
    const OleDump dump = DumpWithOlefile(file);
    EXPECT_EQ(dump.streams, expected);
    EXPECT_EQ(dump.checksums, "sound");
    EXPECT_TRUE(dump.storages.empty());
}

// Past 7 MB the allocation table outgrows the header's index and continues in
// index sectors of its own.
TEST_F(InteropTest, ALargeFileReadsBackIndependentlyThroughItsAllocationIndex) {
    const std::map<std::string, Bytes> expected = {{"Objects", test::Pattern(9 << 20, 5)},
                                                   {"IdStrings", test::Pattern(200, 6)}};
    {
        OCLStorage s(file.c_str(), 1, test::kModuleMode);
        for (const auto& [name, bytes] : expected) test::PutStream(s, name, bytes);
        s.Commit();
    }
    const OleDump dump = DumpWithOlefile(file);
    EXPECT_EQ(dump.streams, expected);
    EXPECT_EQ(dump.checksums, "sound");
    OCLStorage reader(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(AllStreams(reader), expected);
}

// Files written by another writer: sub-storages and class ids, which we do not
// make but must not lose, and a file with 4096-byte sectors.
TEST_F(InteropTest, SubStoragesAndClassIdsSurviveCommitCopyToAndSwitchTo) {
    for (const char* fixture : {"substorage.qbo", "sector4096.qbo"}) {
        SCOPED_TRACE(fixture);
        const std::string source = std::string(TQ_SOURCE_DIR) + "/tests/platform/storage/data/" +
                                   fixture;
        test::WriteFile(file, test::ReadFile(source));
        const OleDump original = DumpWithOlefile(file);
        ASSERT_FALSE(original.storages.empty());
        EXPECT_EQ(original.checksums, "none");

        {  // our reader agrees with the independent one
            OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
            std::map<std::string, Bytes> rootStreams;
            for (const auto& [name, bytes] : original.streams)
                if (name.find('/') == std::string::npos) rootStreams[name] = bytes;
            EXPECT_EQ(AllStreams(s), rootStreams);
        }

        OleDump expected = original;
        expected.streams["Objects"] = Bytes{42};
        {
            OCLStorage s(file.c_str(), 0, test::kModuleMode);
            test::PutStream(s, "Objects", Bytes{42});
            s.Commit();
        }
        OleDump committed = DumpWithOlefile(file);
        EXPECT_EQ(committed.streams, expected.streams);
        EXPECT_EQ(committed.storages, expected.storages);
        EXPECT_EQ(committed.rootClassId, expected.rootClassId);
        EXPECT_EQ(committed.checksums, "sound");

        const std::string copy = scratch.path("copy.qbo");
        {
            OCLStorage s(file.c_str(), 0, test::kModuleMode);
            OCLStorage dest(copy.c_str(), 1, test::kNewModuleMode);
            s.CopyTo(dest);
            dest.Commit();
        }
        OleDump copied = DumpWithOlefile(copy);
        EXPECT_EQ(copied.streams, expected.streams);
        EXPECT_EQ(copied.storages, expected.storages);
        EXPECT_EQ(copied.rootClassId, expected.rootClassId);
        EXPECT_EQ(copied.checksums, "sound");

        const std::string moved = scratch.path("moved.qbo");
        {
            OCLStorage s(copy.c_str(), 0, test::kModuleMode);
            test::PutStream(s, "IdStrings", Bytes{7, 7});
            s.SwitchTo(moved.c_str());
            s.Commit();
        }
        expected.streams["IdStrings"] = Bytes{7, 7};
        OleDump switched = DumpWithOlefile(moved);
        EXPECT_EQ(switched.streams, expected.streams);
        EXPECT_EQ(switched.storages, expected.storages);
        EXPECT_EQ(switched.checksums, "sound");
        ::unlink(copy.c_str());
        ::unlink(moved.c_str());
    }
}

}  // namespace
}  // namespace tq
