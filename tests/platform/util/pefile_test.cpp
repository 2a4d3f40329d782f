// The executable-file editor on small ELF images made here byte by byte
// (so each damage is exactly the one named), and on the real run-time
// executable when the build has made it.
#include "platform/util/pefile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/util/lebytes.h"
#include "tests/platform/util/scratch.h"

namespace tq {
namespace {

// A 64-bit little-endian ELF file: header, some payload, a names section
// and the section headers [null, names, data].
struct ElfImage {
    uint64_t dataSize = PEFile::kDataSectionSize;
    uint32_t dataType = 1;  // PROGBITS
    const char* dataName = ".tqappdata";
    uint8_t elfClass = 2;
    uint16_t namesIndex = 1;

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> f(64, 0);
        f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F', f[4] = elfClass, f[5] = 1, f[6] = 1;
        const uint64_t dataAt = f.size();
        f.resize(f.size() + dataSize, 0xAB);
        const std::string names = std::string("\0.shstrtab\0", 11) + dataName + std::string(1, '\0');
        const uint64_t namesAt = f.size();
        f.insert(f.end(), names.begin(), names.end());
        const uint64_t shoff = f.size();
        f.resize(f.size() + 3 * 64, 0);
        auto header = [&](int i, uint32_t name, uint32_t type, uint64_t at, uint64_t size) {
            uint8_t* h = f.data() + shoff + 64 * i;
            StoreLE32(h, name);
            StoreLE32(h + 4, type);
            StoreLE64(h + 0x18, at);
            StoreLE64(h + 0x20, size);
        };
        header(1, 1, 3, namesAt, names.size());
        header(2, 11, dataType, dataAt, dataSize);
        StoreLE64(f.data() + 0x28, shoff);
        StoreLE16(f.data() + 0x3A, 64);
        StoreLE16(f.data() + 0x3C, 3);
        StoreLE16(f.data() + 0x3E, namesIndex);
        return f;
    }
};

std::string Write(const ScratchFolder& s, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = s / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The editor's complaint about the file at path, or "none".
std::string Complaint(const std::string& path) {
    try {
        PEFile f;
        f.OpenReadOnly(path);
        f.GetTessaroDataSection();
    } catch (const PEFileError& e) {
        return std::string(e.what()).substr(path.size() + 2);
    }
    return "none";
}

TEST(PEFile, TheDataSectionIsRewrittenInPlaceAndNothingElse) {
    ScratchFolder s;
    const std::vector<uint8_t> before = ElfImage{}.bytes();
    const std::string path = Write(s, "app", before);
    {
        PEFile f;
        f.Open(path);
        uint8_t* data = f.MakeTessaroDataSection();
        ASSERT_TRUE(std::all_of(data, data + PEFile::kDataSectionSize, [](uint8_t b) { return b == 0; }));
        data[0] = 1, data[4095] = 2;
        f.Close();
    }
    const std::vector<uint8_t> after = Read(path);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        const bool inSection = i >= 64 && i < 64 + PEFile::kDataSectionSize;
        const uint8_t want = !inSection ? before[i] : i == 64 ? 1 : i == 64 + 4095 ? 2 : 0;
        ASSERT_EQ(after[i], want) << "byte " << i;
    }
    PEFile f;
    f.OpenReadOnly(path);
    const uint8_t* data = f.GetTessaroDataSection();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[4095], 2);
}

TEST(PEFile, AFileWithoutTheSectionHasNoneToReadAndNoneToMake) {
    ScratchFolder s;
    ElfImage other;
    other.dataName = ".tqappdat";  // a prefix of the name is another name
    const std::string path = Write(s, "plain", other.bytes());
    PEFile f;
    f.OpenReadOnly(path);
    EXPECT_EQ(f.GetTessaroDataSection(), nullptr);
    PEFile w;
    w.Open(path);
    EXPECT_THROW(w.MakeTessaroDataSection(), PEFileError);
}

TEST(PEFile, DamagedOrForeignFilesAreRefusedWithWhatIsWrong) {
    ScratchFolder s;
    auto image = [](auto change) {
        ElfImage e;
        change(e);
        return e.bytes();
    };
    std::vector<uint8_t> cutShort = ElfImage{}.bytes();
    cutShort.resize(64 + 100);
    std::vector<uint8_t> noHeaders = ElfImage{}.bytes();
    StoreLE64(noHeaders.data() + 0x28, 0);
    std::vector<uint8_t> headersPastEnd = ElfImage{}.bytes();
    StoreLE64(headersPastEnd.data() + 0x28, uint64_t(1) << 40);
    std::vector<uint8_t> manySections = ElfImage{}.bytes();
    StoreLE16(manySections.data() + 0x3C, 0);  // the count is then in section 0
    StoreLE64(manySections.data() + LoadLE64(manySections.data() + 0x28) + 0x20, uint64_t(1) << 33);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* complaint;
    } cases[] = {
        {"text", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}, "not an ELF executable file"},
        {"empty", {}, "not an ELF executable file"},
        {"elf32", image([](ElfImage& e) { e.elfClass = 1; }), "not a 64-bit little-endian ELF file"},
        {"short", image([](ElfImage& e) { e.dataSize = 4095; }), "the data section is truncated"},
        {"long", image([](ElfImage& e) { e.dataSize = 4097; }), "the data section is too long"},
        {"nobits", image([](ElfImage& e) { e.dataType = 8; }), "the data section holds no bytes in the file"},
        {"names", image([](ElfImage& e) { e.namesIndex = 7; }), "the ELF file names no section of names"},
        {"cut", cutShort, "the file ends inside its ELF headers"},
        {"noheaders", noHeaders, "the ELF file has no section headers"},
        {"headers", headersPastEnd, "the file ends inside its ELF headers"},
        {"many", manySections, "the ELF file claims too many sections"},
    };
    for (const auto& c : cases) EXPECT_EQ(Complaint(Write(s, c.name, c.bytes)), c.complaint) << c.name;
}

TEST(PEFile, SystemRefusalsCarryTheSystemsCode) {
    ScratchFolder s;
    PEFile f;
    try {
        f.OpenReadOnly(s / "missing");
        FAIL() << "opened a missing file";
    } catch (const PEFileError& e) {
        EXPECT_EQ(e.code, ENOENT);
    }
    try {
        f.OpenReadOnly(s.path());
        FAIL() << "opened a folder";
    } catch (const PEFileError& e) {
        EXPECT_NE(e.code, 0);
    }
}

TEST(PEFile, TheRunTimeExecutableReservesAZeroSection) {
    const std::string tqapp = std::string(TQ_BINARY_DIR) + "/tqapp";
    if (!std::filesystem::exists(tqapp)) GTEST_SKIP() << "tqapp is not built";
    PEFile f;
    f.OpenReadOnly(tqapp);
    const uint8_t* data = f.GetTessaroDataSection();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(std::all_of(data, data + PEFile::kDataSectionSize, [](uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace tq
