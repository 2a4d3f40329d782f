#include "platform/storage/oclstream.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "tests/platform/storage/storagetest.h"

namespace tq {
namespace {

using test::Bytes;

class OCLStreamTest : public ::testing::Test {
protected:
    test::ScratchDir scratch;
    std::string file = scratch.path("m.qbo");
};

TEST_F(OCLStreamTest, HelpersWriteTheLittleEndianRecordImagesAndReadThemBack) {
    OCLStorage storage(file.c_str(), 1, test::kModuleMode);
    OCLStream s(storage, "Records", 1, test::kStreamMode);
    const GUID id = *GUID::Parse("{00112233-4455-6677-8899-AABBCCDDEEFF}");
    s.writeU8(0xAB);
    s.writeU16(0x1234);
    s.writeI16(-2);
    s.writeU32(0xDEADBEEF);
    s.writeI32(-3);
    s.writeFloat(1.5f);
    s.writeDouble(-2.25);
    s.writeString("abc");
    s.writeString("");
    s.WriteClassStm(id);
    s.writeReference(0x06, 0x3FFFFFFF);

    const Bytes expected = {
        0xAB,                                            // u8
        0x34, 0x12,                                      // u16
        0xFE, 0xFF,                                      // i16 -2
        0xEF, 0xBE, 0xAD, 0xDE,                          // u32
        0xFD, 0xFF, 0xFF, 0xFF,                          // i32 -3
        0x00, 0x00, 0xC0, 0x3F,                          // float 1.5
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0xC0,  // double -2.25
        0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c',           // string: length, bytes, no NUL
        0x00, 0x00, 0x00, 0x00,                          // empty string
        0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,  // class id, standard layout
        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF,
        0x06, 0xFF, 0xFF, 0xFF, 0x3F,                    // reference: flags, descriptor
    };
    EXPECT_EQ(test::GetStream(storage, "Records"), expected);

    s.seek(0);
    EXPECT_EQ(s.readU8(), 0xAB);
    EXPECT_EQ(s.readU16(), 0x1234);
    EXPECT_EQ(s.readI16(), -2);
    EXPECT_EQ(s.readU32(), 0xDEADBEEFu);
    EXPECT_EQ(s.readI32(), -3);
    EXPECT_EQ(s.readFloat(), 1.5f);
    EXPECT_EQ(s.readDouble(), -2.25);
    EXPECT_EQ(s.readString(), "abc");
    EXPECT_EQ(s.readString(), "");
    EXPECT_EQ(s.ReadClassStm(), id);
    uint8_t flags = 0;
    uint32_t descriptor = 0;
    s.readReference(flags, descriptor);
    EXPECT_EQ(flags, 0x06);
    EXPECT_EQ(descriptor, 0x3FFFFFFFu);
    EXPECT_EQ(s.remaining(), 0u);
}

// Each helper at a position where its value does not fit: the failure names
// the stream, the offset and the size, and the position stays.
TEST_F(OCLStreamTest, ReadsPastTheEndFailWithAClearTextAndKeepThePosition) {
    OCLStorage storage(file.c_str(), 1, test::kModuleMode);
    OCLStream s(storage, "Short", 1, test::kStreamMode);
    s.writeU16(7);
    const std::vector<std::function<void()>> reads = {
        [&] { s.readU32(); },          [&] { s.readDouble(); },
        [&] { s.ReadClassStm(); },     [&] { s.readString(); },
        [&] {
            uint8_t f;
            uint32_t d;
            s.readReference(f, d);
        },
    };
    for (const auto& read : reads) {
        s.seek(1);
        try {
            read();
            ADD_FAILURE() << "read past the end succeeded";
        } catch (const StorageError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("\"Short\""), std::string::npos) << text;
            EXPECT_NE(text.find("offset 1"), std::string::npos) << text;
            EXPECT_NE(text.find("holds 2 bytes"), std::string::npos) << text;
        }
        EXPECT_EQ(s.tell(), 1u);
    }
    s.seek(5);
    EXPECT_THROW(s.readU8(), StorageError);
    EXPECT_EQ(s.remaining(), 0u);
}

// A string length from a damaged file must be checked before anything is
// allocated for it.
TEST_F(OCLStreamTest, StringLengthsBeyondTheStreamFailBeforeAllocating) {
    OCLStorage storage(file.c_str(), 1, test::kModuleMode);
    OCLStream s(storage, "Strings", 1, test::kStreamMode);
    s.writeU32(0xFFFFFFF0);
    s.writeU32(5);  // one byte more than follows
    s.write("abcd", 4);
    s.seek(0);
    try {
        s.readString();
        ADD_FAILURE() << "a 4 GiB string was read";
    } catch (const StorageError& e) {
        EXPECT_NE(std::string(e.what()).find("claims 4294967280 bytes"), std::string::npos);
    }
    EXPECT_EQ(s.tell(), 0u);
    s.seek(4);
    EXPECT_THROW(s.readString(), StorageError);
    EXPECT_EQ(s.tell(), 4u);
}

TEST_F(OCLStreamTest, WritesPastTheEndAndRegrowthShowZerosNeverOldBytes) {
    const Bytes committed = test::Pattern(10000, 1);
    {
        OCLStorage storage(file.c_str(), 1, test::kModuleMode);
        test::PutStream(storage, "S", committed);
        storage.Commit();
    }
    OCLStorage storage(file.c_str(), 0, test::kModuleMode);
    OCLStream s(storage, "S", 0, test::kStreamMode);
    s.setSize(5000);   // cut inside a page that is only on disk
    s.setSize(9000);   // the committed bytes 5000..8999 must not come back
    s.seek(12000);
    s.writeU8(0x7F);   // the gap 9000..11999 reads as zeros
    Bytes expected(committed.begin(), committed.begin() + 5000);
    expected.resize(12001, 0);
    expected[12000] = 0x7F;
    EXPECT_EQ(test::GetStream(storage, "S"), expected);
    storage.Commit();
    EXPECT_EQ(test::GetStream(storage, "S"), expected);
}

TEST_F(OCLStreamTest, AStreamCannotPassFourGiB) {
    OCLStorage storage(file.c_str(), 1, test::kModuleMode);
    OCLStream s(storage, "S", 1, test::kStreamMode);
    s.seek(UINT32_MAX - 1);
    EXPECT_THROW(s.writeU32(1), StorageError);
    EXPECT_EQ(s.size(), 0u);
}

// Writes, cuts and reads at random places against a plain byte vector, across
// pages that are on disk, in the overlay, shared with a copy, and across
// commits and reverts.
TEST_F(OCLStreamTest, OverlayMatchesAPlainModelThroughCommitsAndReverts) {
    std::mt19937 random(42);
    Bytes model = test::Pattern(50000, 2), committedModel;
    OCLStorage storage(file.c_str(), 1, test::kModuleMode);
    test::PutStream(storage, "S", model);
    storage.Commit();
    committedModel = model;
    OCLStream s(storage, "S", 0, test::kStreamMode);
    for (int round = 0; round < 400; ++round) {
        const uint32_t limit = static_cast<uint32_t>(model.size()) + 9000;
        const uint32_t pos = random() % limit;
        switch (random() % 8) {
        case 0: case 1: case 2: {
            const Bytes data = test::Pattern(random() % 9000 + 1, round);
            s.seek(pos);
            s.write(data.data(), data.size());
            if (model.size() < pos + data.size()) model.resize(pos + data.size(), 0);
            std::copy(data.begin(), data.end(), model.begin() + pos);
            break;
        }
        case 3:
            s.setSize(pos);
            model.resize(pos, 0);
            break;
        case 4:
            if (random() % 3 == 0) {
                storage.Commit();
                committedModel = model;
            } else if (random() % 2 == 0) {
                storage.Revert();
                model = committedModel;
            }
            break;
        default: {
            const uint32_t at = model.empty() ? 0 : random() % model.size();
            const uint32_t n = std::min<uint32_t>(random() % 10000, model.size() - at);
            Bytes got(n);
            s.seek(at);
            s.read(got.data(), n);
            ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + at))
                << "round " << round;
        }
        }
        ASSERT_EQ(s.size(), model.size());
    }
    EXPECT_EQ(test::GetStream(storage, "S"), model);
    storage.Commit();
    OCLStorage reopened(file.c_str(), 0, test::kReadOnlyMode);
    EXPECT_EQ(test::GetStream(reopened, "S"), model);
}

TEST_F(OCLStreamTest, StreamsOpenedWithoutWriteAccessRefuseWrites) {
    OCLStorage storage(file.c_str(), 1, test::kModuleMode);
    OCLStream s(storage, "S", 1, STGM_READ);
    EXPECT_FALSE(s.isWritable());
    EXPECT_THROW(s.writeU8(1), StorageError);
    EXPECT_THROW(s.setSize(3), StorageError);
    EXPECT_EQ(s.size(), 0u);
}

TEST_F(OCLStreamTest, StreamsOutlivingTheirStorageFailCleanly) {
    auto storage = std::make_unique<OCLStorage>(file.c_str(), 1, test::kModuleMode);
    OCLStream s(*storage, "S", 1, test::kStreamMode);
    s.writeU32(1);
    storage.reset();
    EXPECT_THROW(s.size(), StorageError);
    EXPECT_THROW(s.writeU32(2), StorageError);
    EXPECT_FALSE(s.isWritable());
}

}  // namespace
}  // namespace tq
