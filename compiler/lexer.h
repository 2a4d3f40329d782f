// The lexer: source bytes to tokens, one line at a time.
//
// The parser asks for one physical line at a time; statements never run
// over a line end, so a line's tokens are all the lookahead the parser ever
// needs, and a line of any length costs memory for its own tokens only.
// Every line ends with an EndOfLine token; after the last line comes a line
// holding one EndOfFile token.
//
// A comment (from "'" or from the word Rem to the end of the line) is not a
// token: the line reports it beside its tokens, because comments go into the
// dead source rather than into the tree. Rem leaves a Rem token where it
// stood, so the parser can insist that it starts a statement.
//
// Mistakes the lexer can see alone (a stray character, an unterminated
// string, a name too long, a number out of range) are reported here, once,
// and the token is still produced with a harmless value so the parser does
// not report the same mistake again.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "compiler/diag.h"
#include "compiler/keywords.h"

namespace tq::compiler {

enum class Tok : uint8_t {
    EndOfLine, EndOfFile,
    Word,        // a name or a keyword (kw says which)
    Integer,     // a whole number, decimal, &H or &O
    Float,       // a number with a decimal point or an exponent
    String,      // text between double quotes, escapes still undecoded
    LParen, RParen, Comma, Semicolon, Colon, Dot, Hash, Question,
    Eq, DeepAssign, EqEq, Ne, Lt, Gt, Le, Ge,
    Plus, Minus, Star, Slash, Backslash, Caret, Amp, AndAlso, OrElse,
    Rem,
};

// The longest name an identifier may have (the store's IdString limit).
inline constexpr size_t kMaxNameLength = 31;

struct Token {
    Tok kind = Tok::EndOfLine;
    Kw kw = Kw::None;        // for Word: the keyword, or None for a name
    uint8_t suffix = 0;      // for Word: type code of a suffix %&!#@$ (1..6), 0 none
    uint8_t radix = 10;      // for Integer: 10, 16 or 8
    bool spaceBefore = false;  // white space directly before the token
    SourcePos pos;
    uint32_t offset = 0;     // of the first byte in the source
    uint32_t length = 0;     // bytes in the source, suffix and quotes included
    std::string_view text;   // Word: without its suffix; String: between the quotes
    uint64_t intValue = 0;   // Integer: the value as written (hex and octal at most 32 bits)
    double floatValue = 0;   // Float
};

enum class CommentKind : uint8_t { Rem = 2, Apostrophe = 3 };

struct LineComment {
    bool present = false;
    CommentKind kind = CommentKind::Apostrophe;
    SourcePos pos;           // of the ' or of Rem
    std::string_view text;   // after the marker, as written
};

class Lexer {
public:
    Lexer(std::string_view source, Diagnostics& diagnostics);

    // Tokenizes the next line into tokens (replacing what it held).
    void nextLine(std::vector<Token>& tokens, LineComment& comment);

    // The line that nextLine tokenized last (1-based).
    uint32_t line() const { return line_; }
    bool atEnd() const { return at_ >= src_.size(); }

private:
    void word(Token& t);
    void number(Token& t);
    void hexOrOctal(Token& t, int radix);
    void string(Token& t);
    void report(uint32_t offset, std::string message);
    SourcePos posOf(uint32_t offset) const { return {line_, offset - lineStart_ + 1}; }

    std::string_view src_;
    Diagnostics& diag_;
    uint32_t at_ = 0;
    uint32_t lineStart_ = 0;
    uint32_t lineEnd_ = 0;   // of the line being tokenized, before CR LF
    uint32_t line_ = 0;
};

// The text of a string token with its escapes decoded: "" is a quote, ^^ is
// ^, ^@ to ^_ and ^? are the control characters 0 to 31 and 127; any other
// ^ stands for itself.
std::string DecodeStringLiteral(std::string_view raw);

// A name as the language compares names, without regard to case: its
// ASCII letters in lower case.
std::string FoldCase(std::string_view name);

// A readable name for a token in messages: 'Then', ')', "end of line".
std::string DescribeToken(const Token& t);

}  // namespace tq::compiler
