// Reading lines: what a file holds comes back line by line whatever its
// line ends, its last line, NUL bytes or lines longer than the reader's
// chunk; the rest of a stream comes back whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sys/linereader.h"

namespace tq::sys {
namespace {

struct Stream {
    explicit Stream(const std::string& bytes) : file(std::tmpfile()) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::rewind(file);
    }
    ~Stream() { std::fclose(file); }
    std::FILE* file;
};

std::vector<std::string> Lines(const std::string& bytes) {
    Stream s(bytes);
    LineReader reader(s.file, "test");
    std::vector<std::string> lines;
    std::string line;
    while (!reader.atEnd()) {
        EXPECT_TRUE(reader.next(line));
        lines.push_back(line);
    }
    EXPECT_FALSE(reader.next(line));
    return lines;
}

using V = std::vector<std::string>;

TEST(LineReaderTest, LineEndsOfEitherFamilyAndALastLineWithoutOne) {
    const struct {
        std::string bytes;
        V lines;
    } cases[] = {
        {"", {}},
        {"\n", {""}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\rb\n", {"a\rb"}},
        {"x\r", {"x"}},
        {"na\xC3\xAFve \xE2\x9C\x93\n", {"na\xC3\xAFve \xE2\x9C\x93"}},
    };
    for (const auto& c : cases) EXPECT_EQ(Lines(c.bytes), c.lines) << c.bytes;
}

TEST(LineReaderTest, ANulByteStaysInItsLineAndLinesDoNotRunTogether) {
    const std::string nul("a\0b", 3);
    EXPECT_EQ(Lines(nul + "\ncd\n" + nul), (V{nul, "cd", nul}));
    EXPECT_EQ(Lines(std::string("\0\n\0", 3)), (V{std::string(1, '\0'), std::string(1, '\0')}));
}

TEST(LineReaderTest, LinesLongerThanTheChunkComeBackWhole) {
    const std::string longLine(200 * 1024 + 17, 'x');
    const std::string crlfAtTheSeam = std::string(64 * 1024 - 2, 'y') + "\r\n";
    EXPECT_EQ(Lines(longLine + "\nshort\n" + crlfAtTheSeam + longLine),
              (V{longLine, "short", crlfAtTheSeam.substr(0, crlfAtTheSeam.size() - 2), longLine}));
}

TEST(LineReaderTest, TheRestComesBackAsItIsAfterTheLinesRead) {
    const std::string bytes("one\r\ntwo\0\r\nthree", 16);
    Stream s(bytes);
    LineReader reader(s.file, "test");
    std::string line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line, "one");
    EXPECT_EQ(reader.rest(), bytes.substr(5));
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.rest(), "");
}

}  // namespace
}  // namespace tq::sys
