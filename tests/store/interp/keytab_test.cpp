#include "store/interp/keytab.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace tq {
namespace {

TEST(KeywordTable, WordsMapToTheirTokensWithoutRegardToCase) {
    EXPECT_EQ(KeyTabStringToId("Dim"), 277);
    EXPECT_EQ(KeyTabStringToId("DIM"), 277);
    EXPECT_EQ(KeyTabStringToId("embeddedin"), 336);
    EXPECT_EQ(KeyTabStringToId("Is"), 393);
    EXPECT_EQ(KeyTabStringToId("String"), 271);
    EXPECT_EQ(KeyTabStringToId("Caption"), kIdentifierToken);
    EXPECT_EQ(KeyTabStringToId(""), kIdentifierToken);
    EXPECT_EQ(KeyTabStringToId(nullptr), kIdentifierToken);
}

TEST(KeywordTable, OnlyTheFirstSixteenCharactersCount) {
    // A long word whose start is a keyword is still an identifier.
    EXPECT_EQ(KeyTabStringToId("integerintegerinteger"), kIdentifierToken);
}

TEST(KeywordTable, TokenNumbersGiveTheirTextBack) {
    for (int token = 266; token <= 393; ++token) {
        const char* text = KeyTabIdToString(token);
        if (!text) continue;
        EXPECT_EQ(KeyTabStringToId(text), token) << text;
    }
    EXPECT_STREQ(KeyTabIdToString(283), "new");
    EXPECT_EQ(KeyTabIdToString(276), nullptr);
    EXPECT_EQ(KeyTabIdToString(265), nullptr);
}

// Every word of up to three letters, and every keyword with a letter
// changed, added or taken away, against the plain list of keywords: a word
// is a keyword exactly when the list holds it, whatever slot it lands in.
TEST(KeywordTable, LooksUpExactlyTheListedWords) {
    std::map<std::string, int> listed;
    for (int token = 266; token <= 393; ++token)
        if (const char* text = KeyTabIdToString(token)) listed[text] = token;
    ASSERT_EQ(listed.size(), 117u);
    auto expect = [&](const std::string& word) {
        std::string lower = word;
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const auto it = listed.find(lower);
        const int token = it == listed.end() ? kIdentifierToken : it->second;
        EXPECT_EQ(KeyTabStringToId(word.c_str()), token) << word;
    };
    std::string w;
    for (char a = 'a'; a <= 'z'; ++a) {
        expect(w = {a});
        for (char b = 'a'; b <= 'z'; ++b) {
            expect(w = {a, b});
            for (char c = 'A'; c <= 'Z'; ++c) expect(w = {a, b, c});
        }
    }
    for (const auto& [text, token] : listed) {
        expect(text);
        expect(text + "s");
        expect(text + "\xE9");
        expect(text.substr(0, text.size() - 1));
        expect(text.substr(1));
        for (size_t i = 0; i < text.size(); ++i) {
            std::string changed = text;
            changed[i] = changed[i] == 'z' ? 'a' : static_cast<char>(changed[i] + 1);
            expect(changed);
            changed[i] = static_cast<char>(text[i] - 'a' + 'A');
            expect(changed);
        }
    }
}

TEST(IdentifierValidity, AcceptsNamesAndLeftButNoOtherKeyword) {
    EXPECT_TRUE(IsIdentifierValid("Left"));
    EXPECT_TRUE(IsIdentifierValid("LEFT"));
    EXPECT_TRUE(IsIdentifierValid("x_1"));
    EXPECT_TRUE(IsIdentifierValid("Form1"));
    EXPECT_FALSE(IsIdentifierValid("1x"));
    EXPECT_FALSE(IsIdentifierValid("next"));
    EXPECT_FALSE(IsIdentifierValid("Right"));
    EXPECT_FALSE(IsIdentifierValid(""));
    EXPECT_FALSE(IsIdentifierValid(nullptr));
    EXPECT_FALSE(IsIdentifierValid("_x"));
    EXPECT_FALSE(IsIdentifierValid("a b"));
    EXPECT_FALSE(IsIdentifierValid("a.b"));
    EXPECT_FALSE(IsIdentifierValid("na\xE9ve"));
}

}  // namespace
}  // namespace tq
