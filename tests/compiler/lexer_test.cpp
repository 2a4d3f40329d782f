#include "compiler/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/keywords.h"
#include "store/interp/keytab.h"

namespace tq::compiler {
namespace {

struct Lexed {
    std::vector<std::vector<Token>> lines;
    std::vector<LineComment> comments;
    std::string errors;
};

Lexed Lex(std::string_view text) {
    Diagnostics diag("l");
    Lexer lexer(text, diag);
    Lexed out;
    for (;;) {
        std::vector<Token> tokens;
        LineComment comment;
        lexer.nextLine(tokens, comment);
        const bool end = tokens.size() == 1 && tokens[0].kind == Tok::EndOfFile;
        out.lines.push_back(tokens);
        out.comments.push_back(comment);
        if (end) break;
    }
    out.errors = FormatDiagnostics(diag.take());
    return out;
}

TEST(KeywordTable, AgreesWithTheStoresTableWordForWord) {
    int count = 0;
    for (int token = 266; token <= 393; ++token) {
        const char* text = KeyTabIdToString(token);
        if (!text) continue;
        ++count;
        const Kw kw = LookupKeyword(text);
        ASSERT_NE(kw, Kw::None) << text;
        EXPECT_EQ(KeywordToken(kw), token) << text;
    }
    EXPECT_EQ(count, kKeywordCount);
    for (int k = 1; k <= kKeywordCount; ++k) {
        const auto kw = static_cast<Kw>(k);
        const std::string spelling(KeywordSpelling(kw));
        EXPECT_EQ(KeyTabStringToId(spelling.c_str()), KeywordToken(kw)) << spelling;
        EXPECT_EQ(LookupKeyword(spelling), kw);
    }
}

TEST(KeywordTable, IgnoresCaseAndKnowsNoOtherWord) {
    EXPECT_EQ(LookupKeyword("ELSEIF"), Kw::ElseIf);
    EXPECT_EQ(LookupKeyword("embeddedIN"), Kw::EmbeddedIn);
    EXPECT_EQ(LookupKeyword("Enum"), Kw::None);
    EXPECT_EQ(LookupKeyword("ByRef"), Kw::None);
    EXPECT_EQ(LookupKeyword("Ifx"), Kw::None);
    EXPECT_EQ(LookupKeyword("integerinteger"), Kw::None);
    EXPECT_EQ(LookupKeyword(""), Kw::None);
}

TEST(Lexer, ReadsWordsWithTheirSuffixesAndKeywords) {
    const Lexed l = Lex("Dim a$, b& As x_1 : Left$ c%");
    const auto& t = l.lines[0];
    ASSERT_EQ(t.size(), 10u);
    EXPECT_EQ(t[0].kw, Kw::Dim);
    EXPECT_EQ(t[1].text, "a");
    EXPECT_EQ(t[1].suffix, 6);
    EXPECT_EQ(t[1].length, 2u);
    EXPECT_EQ(t[3].suffix, 2);
    EXPECT_EQ(t[5].text, "x_1");
    EXPECT_EQ(t[5].kw, Kw::None);
    EXPECT_EQ(t[6].kind, Tok::Colon);
    EXPECT_EQ(t[7].kw, Kw::Left);
    EXPECT_EQ(t[7].suffix, 6);
    EXPECT_EQ(t[8].suffix, 1);
    EXPECT_EQ(t[9].kind, Tok::EndOfLine);
    EXPECT_EQ(l.errors, "");
}

TEST(Lexer, TellsAndAlsoFromALongSuffix) {
    const Lexed lexed = Lex("a&&b a& & b");
    const auto& t = lexed.lines[0];
    EXPECT_EQ(t[0].suffix, 0);
    EXPECT_EQ(t[1].kind, Tok::AndAlso);
    EXPECT_EQ(t[3].suffix, 2);
    EXPECT_EQ(t[4].kind, Tok::Amp);
}

TEST(Lexer, ReadsOperatorsOfOneAndTwoCharacters) {
    const Lexed lexed = Lex("<= >= <> := == && || < > = : ( ) , ; . # ? + - * / \\ ^ &");
    const auto& t = lexed.lines[0];
    const Tok want[] = {Tok::Le, Tok::Ge, Tok::Ne, Tok::DeepAssign, Tok::EqEq, Tok::AndAlso,
                        Tok::OrElse, Tok::Lt, Tok::Gt, Tok::Eq, Tok::Colon, Tok::LParen, Tok::RParen,
                        Tok::Comma, Tok::Semicolon, Tok::Dot, Tok::Hash, Tok::Question, Tok::Plus,
                        Tok::Minus, Tok::Star, Tok::Slash, Tok::Backslash, Tok::Caret, Tok::Amp,
                        Tok::EndOfLine};
    ASSERT_EQ(t.size(), std::size(want));
    for (size_t i = 0; i < t.size(); ++i) EXPECT_EQ(t[i].kind, want[i]) << i;
}

TEST(Lexer, ReadsNumbersInEveryForm) {
    const Lexed lexed = Lex("0 42 2147483648 1.5 .25 1e3 2.5E-2 &HFF &hffffffff &O17 1.x 3e");
    const auto& t = lexed.lines[0];
    EXPECT_EQ(t[0].intValue, 0u);
    EXPECT_EQ(t[1].intValue, 42u);
    EXPECT_EQ(t[2].intValue, 2147483648u);
    EXPECT_EQ(t[3].kind, Tok::Float);
    EXPECT_DOUBLE_EQ(t[3].floatValue, 1.5);
    EXPECT_DOUBLE_EQ(t[4].floatValue, 0.25);
    EXPECT_DOUBLE_EQ(t[5].floatValue, 1000);
    EXPECT_DOUBLE_EQ(t[6].floatValue, 0.025);
    EXPECT_EQ(t[7].intValue, 255u);
    EXPECT_EQ(t[7].radix, 16);
    EXPECT_EQ(t[8].intValue, 0xFFFFFFFFu);
    EXPECT_EQ(t[9].intValue, 15u);
    EXPECT_EQ(t[9].radix, 8);
    // "1." is the number 1 and a dot; "3e" is 3 and the name e.
    EXPECT_EQ(t[10].kind, Tok::Integer);
    EXPECT_EQ(t[11].kind, Tok::Dot);
    EXPECT_EQ(t[13].kind, Tok::Integer);
    EXPECT_EQ(t[14].text, "e");
}

TEST(Lexer, ReportsNumbersThatDoNotFit) {
    EXPECT_EQ(Lex("x = &H100000000").errors,
              "l:1:5: the hexadecimal number &H100000000 is out of range: it must fit in 32 bits\n");
    EXPECT_EQ(Lex("x = &O40000000000").errors,
              "l:1:5: the octal number &O40000000000 is out of range: it must fit in 32 bits\n");
    EXPECT_EQ(Lex("x = 1e999").errors, "l:1:5: the number 1e999 is out of range for a Double\n");
    EXPECT_EQ(Lex("x = &H").errors, "l:1:5: expected hexadecimal digits after '&H'\n");
    EXPECT_EQ(Lex("x = &o9").errors, "l:1:5: expected octal digits after '&o'\n");
}

TEST(Lexer, KeepsStringsUndecodedAndDecodesThemOnRequest) {
    const Lexed l = Lex(R"(s = "a""b^^c^I^@^?^[^a" & "")");
    EXPECT_EQ(l.lines[0][2].text, R"(a""b^^c^I^@^?^[^a)");
    EXPECT_EQ(l.errors, "l:1:15: a string cannot hold the NUL character (code 0)\n");
    EXPECT_EQ(DecodeStringLiteral(R"(a""b^^c^I^?^[^a^)"), std::string("a\"b^c\t\x7F\x1B^a^"));
    EXPECT_EQ(l.lines[0][4].text, "");
}

TEST(Lexer, TakesACaretThatStartsNoEscapeForItselfAlsoBeforeTheClosingQuote) {
    const Lexed l = Lex(R"(s = "^" & "x^" & "^""q" & "a^b^")");
    EXPECT_EQ(l.errors, "");
    ASSERT_EQ(l.lines[0].size(), 10u);
    EXPECT_EQ(l.lines[0][2].text, "^");
    EXPECT_EQ(l.lines[0][4].text, "x^");
    EXPECT_EQ(l.lines[0][6].text, R"(^""q)");
    EXPECT_EQ(l.lines[0][8].text, "a^b^");
    EXPECT_EQ(DecodeStringLiteral(R"(^""q)"), "^\"q");
}

TEST(Lexer, ReportsAnUnterminatedStringAndKeepsItsText) {
    const Lexed l = Lex("s = \"abc\nx");
    EXPECT_EQ(l.errors, "l:1:5: unterminated string: expected '\"' before the end of the line\n");
    EXPECT_EQ(l.lines[0][2].text, "abc");
    EXPECT_EQ(l.lines[1][0].text, "x");
}

TEST(Lexer, TakesCommentsOutOfTheTokens) {
    const Lexed l = Lex("x = 1 ' it's one\nRem whole line \"open\nx : REM  after\ns = \"'not a comment\"");
    EXPECT_TRUE(l.comments[0].present);
    EXPECT_EQ(l.comments[0].kind, CommentKind::Apostrophe);
    EXPECT_EQ(l.comments[0].text, " it's one");
    EXPECT_EQ(l.comments[0].pos, (SourcePos{1, 7}));
    EXPECT_EQ(l.lines[0].back().pos, (SourcePos{1, 7}));
    EXPECT_EQ(l.lines[1][0].kind, Tok::Rem);
    EXPECT_EQ(l.comments[1].kind, CommentKind::Rem);
    EXPECT_EQ(l.comments[1].text, " whole line \"open");
    EXPECT_EQ(l.lines[2][2].kind, Tok::Rem);
    EXPECT_EQ(l.comments[2].text, "  after");
    EXPECT_FALSE(l.comments[3].present);
    EXPECT_EQ(l.errors, "");
}

TEST(Lexer, CountsLinesAndColumnsAlikeForLfAndCrlf) {
    const Lexed lf = Lex("a\n  b\n\n c");
    const Lexed crlf = Lex("a\r\n  b\r\n\r\n c");
    for (const Lexed* l : {&lf, &crlf}) {
        ASSERT_EQ(l->lines.size(), 5u);
        EXPECT_EQ(l->lines[1][0].pos, (SourcePos{2, 3}));
        EXPECT_EQ(l->lines[2].size(), 1u);
        EXPECT_EQ(l->lines[3][0].pos, (SourcePos{4, 2}));
        EXPECT_EQ(l->lines[3][0].text, "c");
        EXPECT_EQ(l->lines[4][0].kind, Tok::EndOfFile);
    }
}

TEST(Lexer, MarksTokensThatFollowWhiteSpace) {
    const Lexed lexed = Lex("Foo (1)(2) x");
    const auto& t = lexed.lines[0];
    EXPECT_TRUE(t[1].spaceBefore);
    EXPECT_FALSE(t[4].spaceBefore);
}

TEST(Lexer, ReportsEachLinesFirstStrayCharacterOnceAndDropsIt) {
    const Lexed l = Lex("x = 1 ` `\ny = \x01 2\nz = \xC3\xA9\nw = _ \nv = a_b _c");
    EXPECT_EQ(l.errors,
              "l:1:7: unexpected character '`'\n"
              "l:2:5: unexpected byte 0x01\n"
              "l:3:5: unexpected byte 0xC3: names and keywords are ASCII; other characters may "
              "stand in strings and comments\n"
              "l:4:5: a statement cannot be continued on the next line with '_': write it on one line\n"
              "l:5:9: unexpected character '_'\n");
    EXPECT_EQ(l.lines[1].size(), 4u);
}

TEST(Lexer, ReportsNamesLongerThanAnIdentifierAllows) {
    const std::string ok(31, 'a');
    const std::string tooLong = "b" + std::string(31, 'c');
    EXPECT_EQ(Lex(ok).errors, "");
    EXPECT_EQ(Lex("x = " + tooLong).errors,
              "l:1:5: the name '" + tooLong + "' is longer than 31 characters\n");
}

TEST(TokenDescription, NamesWhatAMessageFound) {
    const Lexed lexed = Lex("If ) 12 \"s\"");
    const auto& t = lexed.lines[0];
    EXPECT_EQ(DescribeToken(t[0]), "'If'");
    EXPECT_EQ(DescribeToken(t[1]), "')'");
    EXPECT_EQ(DescribeToken(t[2]), "the number 12");
    EXPECT_EQ(DescribeToken(t[3]), "a string");
    EXPECT_EQ(DescribeToken(t[4]), "the end of the line");
}

}  // namespace
}  // namespace tq::compiler
