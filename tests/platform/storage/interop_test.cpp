// Files we write, read back by an independent reader of compound files
// (Python's olefile, in its strict mode), and files written by another writer
// read by us.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "tests/platform/storage/oledump.h"
#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;

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
    const test::OleDump first = test::DumpWithOlefile(file);
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
    const test::OleDump dump = test::DumpWithOlefile(file);
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
    const test::OleDump dump = test::DumpWithOlefile(file);
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
        const test::OleDump original = test::DumpWithOlefile(file);
        ASSERT_FALSE(original.storages.empty());
        EXPECT_EQ(original.checksums, "none");

        {  // our reader agrees with the independent one
            OCLStorage s(file.c_str(), 0, test::kReadOnlyMode);
            std::map<std::string, Bytes> rootStreams;
            for (const auto& [name, bytes] : original.streams)
                if (name.find('/') == std::string::npos) rootStreams[name] = bytes;
            EXPECT_EQ(AllStreams(s), rootStreams);
        }

        test::OleDump expected = original;
        expected.streams["Objects"] = Bytes{42};
        {
            OCLStorage s(file.c_str(), 0, test::kModuleMode);
            test::PutStream(s, "Objects", Bytes{42});
            s.Commit();
        }
        test::OleDump committed = test::DumpWithOlefile(file);
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
        test::OleDump copied = test::DumpWithOlefile(copy);
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
        test::OleDump switched = test::DumpWithOlefile(moved);
        EXPECT_EQ(switched.streams, expected.streams);
        EXPECT_EQ(switched.storages, expected.storages);
        EXPECT_EQ(switched.checksums, "sound");
        ::unlink(copy.c_str());
        ::unlink(moved.c_str());
    }
}

}  // namespace
}  // namespace tq
