#include "compiler/lexer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace tq::compiler {

namespace {

enum : uint8_t { kLetter = 1, kDigit = 2, kSpace = 4 };

constexpr auto kClass = [] {
    std::array<uint8_t, 256> c{};
    for (int i = 'a'; i <= 'z'; ++i) c[i] = kLetter;
    for (int i = 'A'; i <= 'Z'; ++i) c[i] = kLetter;
    for (int i = '0'; i <= '9'; ++i) c[i] = kDigit;
    c[' '] = c['\t'] = c['\r'] = c['\f'] = c['\v'] = kSpace;
    return c;
}();

bool IsLetter(char c) { return kClass[static_cast<uint8_t>(c)] & kLetter; }
bool IsDigit(char c) { return kClass[static_cast<uint8_t>(c)] & kDigit; }
bool IsSpace(char c) { return kClass[static_cast<uint8_t>(c)] & kSpace; }
bool IsWordChar(char c) { return (kClass[static_cast<uint8_t>(c)] & (kLetter | kDigit)) || c == '_'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

uint8_t SuffixCode(char c) {
    switch (c) {
    case '%': return 1;
    case '&': return 2;
    case '!': return 3;
    case '#': return 4;
    case '@': return 5;
    case '$': return 6;
    default: return 0;
    }
}

// The characters that make an escape after '^' in a string: "^^" for '^',
// "^@" to "^_" for the control characters 0 to 31, "^?" for 127.
bool StartsEscape(char c) { return c == '^' || c == '?' || (c >= '@' && c <= '_'); }

// Lines over 4 GB and sources over 2 GB do not fit the 32-bit offsets.
constexpr size_t kMaxSource = 0x7FFFFFFF;

}  // namespace

Lexer::Lexer(std::string_view source, Diagnostics& diagnostics)
    : src_(source.size() > kMaxSource ? source.substr(0, kMaxSource) : source),
      diag_(diagnostics) {
    if (source.size() > kMaxSource) diag_.add({1, 1}, "the source text is larger than 2 GB");
}

void Lexer::report(uint32_t offset, std::string message) {
    diag_.add(posOf(offset), std::move(message));
}

void Lexer::nextLine(std::vector<Token>& out, LineComment& comment) {
    out.clear();
    comment = LineComment{};
    if (at_ >= src_.size()) {
        Token eof;
        eof.kind = Tok::EndOfFile;
        eof.offset = static_cast<uint32_t>(src_.size());
        if (src_.empty()) {
            eof.pos = {1, 1};
        } else if (src_.back() == '\n') {
            eof.pos = {line_ + 1, 1};
        } else {
            eof.pos = posOf(static_cast<uint32_t>(src_.size()));
        }
        if (line_ == 0) line_ = 1;
        out.push_back(eof);
        return;
    }
    ++line_;
    lineStart_ = at_;
    const size_t lf = src_.find('\n', at_);
    const uint32_t next = lf == std::string_view::npos ? static_cast<uint32_t>(src_.size())
                                                        : static_cast<uint32_t>(lf + 1);
    lineEnd_ = lf == std::string_view::npos ? static_cast<uint32_t>(src_.size())
                                            : static_cast<uint32_t>(lf);
    if (lineEnd_ > lineStart_ && src_[lineEnd_ - 1] == '\r') --lineEnd_;

    uint32_t p = lineStart_;
    uint32_t eolAt = lineEnd_;
    bool space = true;
    bool reportedStray = false;
    while (p < lineEnd_) {
        const char c = src_[p];
        if (IsSpace(c)) {
            space = true;
            ++p;
            continue;
        }
        Token t;
        t.pos = posOf(p);
        t.offset = p;
        t.spaceBefore = space;
        space = false;
        uint32_t end = p + 1;
        auto two = [&](char second) { return p + 1 < lineEnd_ && src_[p + 1] == second; };
        if (IsLetter(c)) {
            at_ = p;
            word(t);
            end = at_;
            if (t.kind == Tok::Rem) {
                out.push_back(t);
                comment.present = true;
                comment.kind = CommentKind::Rem;
                comment.pos = t.pos;
                comment.text = src_.substr(end, lineEnd_ - end);
                eolAt = end;
                break;
            }
        } else if (IsDigit(c) || (c == '.' && p + 1 < lineEnd_ && IsDigit(src_[p + 1]))) {
            at_ = p;
            number(t);
            end = at_;
        } else if (c == '"') {
            at_ = p;
            string(t);
            end = at_;
        } else if (c == '\'') {
            comment.present = true;
            comment.kind = CommentKind::Apostrophe;
            comment.pos = t.pos;
            comment.text = src_.substr(p + 1, lineEnd_ - p - 1);
            eolAt = p;
            break;
        } else {
            switch (c) {
            case '&':
                if (two('H') || two('h')) {
                    at_ = p + 2;
                    hexOrOctal(t, 16);
                    end = at_;
                } else if (two('O') || two('o')) {
                    at_ = p + 2;
                    hexOrOctal(t, 8);
                    end = at_;
                } else if (two('&')) {
                    t.kind = Tok::AndAlso;
                    end = p + 2;
                } else {
                    t.kind = Tok::Amp;
                }
                break;
            case '|':
                if (two('|')) {
                    t.kind = Tok::OrElse;
                    end = p + 2;
                } else {
                    t.kind = Tok::EndOfLine;  // stray: reported below
                }
                break;
            case '=':
                if (two('=')) {
                    t.kind = Tok::EqEq;
                    end = p + 2;
                } else {
                    t.kind = Tok::Eq;
                }
                break;
            case ':':
                if (two('=')) {
                    t.kind = Tok::DeepAssign;
                    end = p + 2;
                } else {
                    t.kind = Tok::Colon;
                }
                break;
            case '<':
                if (two('=')) {
                    t.kind = Tok::Le;
                    end = p + 2;
                } else if (two('>')) {
                    t.kind = Tok::Ne;
                    end = p + 2;
                } else {
                    t.kind = Tok::Lt;
                }
                break;
            case '>':
                if (two('=')) {
                    t.kind = Tok::Ge;
                    end = p + 2;
                } else {
                    t.kind = Tok::Gt;
                }
                break;
            case '(': t.kind = Tok::LParen; break;
            case ')': t.kind = Tok::RParen; break;
            case ',': t.kind = Tok::Comma; break;
            case ';': t.kind = Tok::Semicolon; break;
            case '.': t.kind = Tok::Dot; break;
            case '#': t.kind = Tok::Hash; break;
            case '?': t.kind = Tok::Question; break;
            case '+': t.kind = Tok::Plus; break;
            case '-': t.kind = Tok::Minus; break;
            case '*': t.kind = Tok::Star; break;
            case '/': t.kind = Tok::Slash; break;
            case '\\': t.kind = Tok::Backslash; break;
            case '^': t.kind = Tok::Caret; break;
            default: t.kind = Tok::EndOfLine; break;  // stray: reported below
            }
            if (t.kind == Tok::EndOfLine) {
                // A stray character is dropped: the statement around it may
                // still make sense, and one report per line is enough.
                if (!reportedStray) {
                    reportedStray = true;
                    uint32_t rest = p + 1;
                    while (rest < lineEnd_ && IsSpace(src_[rest])) ++rest;
                    const auto u = static_cast<uint8_t>(c);
                    if (c == '_' && t.spaceBefore && rest == lineEnd_) {
                        report(p, "a statement cannot be continued on the next line with '_': "
                                  "write it on one line");
                    } else if (u >= 0x21 && u < 0x7F) {
                        report(p, std::string("unexpected character '") + c + "'");
                    } else {
                        char hex[8];
                        std::snprintf(hex, sizeof hex, "0x%02X", u);
                        report(p, std::string("unexpected byte ") + hex +
                                      (u >= 0x80 ? ": names and keywords are ASCII; other "
                                                   "characters may stand in strings and comments"
                                                 : ""));
                    }
                }
                p = end;
                continue;
            }
        }
        t.length = end - p;
        out.push_back(t);
        p = end;
    }
    Token eol;
    eol.kind = Tok::EndOfLine;
    eol.pos = posOf(eolAt);
    eol.offset = eolAt;
    eol.spaceBefore = space;
    out.push_back(eol);
    at_ = next;
}

void Lexer::word(Token& t) {
    uint32_t p = at_;
    while (p < lineEnd_ && IsWordChar(src_[p])) ++p;
    t.kind = Tok::Word;
    t.text = src_.substr(at_, p - at_);
    t.kw = LookupKeyword(t.text);
    if (t.kw == Kw::Rem) {
        t.kind = Tok::Rem;
        at_ = p;
        return;
    }
    if (p < lineEnd_) {
        const char s = src_[p];
        // "a&&b" is a AndAlso b, not a& followed by &b.
        if (const uint8_t code = SuffixCode(s);
            code && !(s == '&' && p + 1 < lineEnd_ && src_[p + 1] == '&')) {
            t.suffix = code;
            ++p;
        }
    }
    if (t.text.size() > kMaxNameLength) {
        std::string shown(t.text.substr(0, 40));
        if (t.text.size() > 40) shown += "...";
        report(at_, "the name '" + shown + "' is longer than " +
                        std::to_string(kMaxNameLength) + " characters");
    }
    at_ = p;
}

void Lexer::number(Token& t) {
    uint32_t p = at_;
    bool isFloat = false;
    while (p < lineEnd_ && IsDigit(src_[p])) ++p;
    if (p + 1 < lineEnd_ && src_[p] == '.' && IsDigit(src_[p + 1])) {
        isFloat = true;
        ++p;
        while (p < lineEnd_ && IsDigit(src_[p])) ++p;
    }
    if (p < lineEnd_ && (src_[p] == 'e' || src_[p] == 'E')) {
        uint32_t q = p + 1;
        if (q < lineEnd_ && (src_[q] == '+' || src_[q] == '-')) ++q;
        if (q < lineEnd_ && IsDigit(src_[q])) {
            isFloat = true;
            p = q;
            while (p < lineEnd_ && IsDigit(src_[p])) ++p;
        }
    }
    const std::string_view text = src_.substr(at_, p - at_);
    t.text = text;
    if (isFloat) {
        t.kind = Tok::Float;
        double v = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || !std::isfinite(v)) {
            report(at_, "the number " + std::string(text.substr(0, 40)) +
                            " is out of range for a Double");
            v = 0;
        }
        t.floatValue = v;
    } else {
        t.kind = Tok::Integer;
        // Saturates far above the largest Long, so the parser can still tell
        // "too large" after it knows whether a minus sign stands before.
        uint64_t v = 0;
        for (char c : text) {
            v = v * 10 + static_cast<uint64_t>(c - '0');
            if (v > (uint64_t(1) << 40)) v = uint64_t(1) << 40;
        }
        t.intValue = v;
    }
    at_ = p;
}

void Lexer::hexOrOctal(Token& t, int radix) {
    const uint32_t start = at_ - 2;
    uint32_t p = at_;
    uint64_t v = 0;
    bool tooLarge = false;
    for (; p < lineEnd_; ++p) {
        const int d = HexDigit(src_[p]);
        if (d < 0 || d >= radix) break;
        v = v * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu) {
            tooLarge = true;
            v = 0;
        }
    }
    t.kind = Tok::Integer;
    t.radix = static_cast<uint8_t>(radix);
    t.text = src_.substr(start, p - start);
    const char* name = radix == 16 ? "hexadecimal" : "octal";
    if (p == at_) {
        report(start, std::string("expected ") + name + " digits after '" +
                          std::string(src_.substr(start, 2)) + "'");
    } else if (tooLarge) {
        report(start, std::string("the ") + name + " number " +
                          std::string(t.text.substr(0, 40)) +
                          " is out of range: it must fit in 32 bits");
        v = 0;
    }
    t.intValue = v;
    at_ = p;
}

void Lexer::string(Token& t) {
    uint32_t p = at_ + 1;
    bool reportedNul = false;
    auto nul = [&](uint32_t at) {
        if (reportedNul) return;
        reportedNul = true;
        report(at, "a string cannot hold the NUL character (code 0)");
    };
    for (;;) {
        if (p >= lineEnd_) {
            report(at_, "unterminated string: expected '\"' before the end of the line");
            t.kind = Tok::String;
            t.text = src_.substr(at_ + 1, lineEnd_ - at_ - 1);
            at_ = lineEnd_;
            return;
        }
        const char c = src_[p];
        if (c == '"') {
            if (p + 1 < lineEnd_ && src_[p + 1] == '"') {
                p += 2;
                continue;
            }
            break;
        }
        if (c == '\0') nul(p);
        // Only an escape takes the character after its '^': in "^" or "a^"
        // the '^' stands for itself and the quote still ends the string.
        if (c == '^' && p + 1 < lineEnd_ && StartsEscape(src_[p + 1])) {
            if (src_[p + 1] == '@') nul(p);
            p += 2;
            continue;
        }
        ++p;
    }
    t.kind = Tok::String;
    t.text = src_.substr(at_ + 1, p - at_ - 1);
    at_ = p + 1;
}

std::string DecodeStringLiteral(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"' && i + 1 < raw.size() && raw[i + 1] == '"') {
            out += '"';
            ++i;
        } else if (c == '^' && i + 1 < raw.size() && StartsEscape(raw[i + 1])) {
            const char e = raw[++i];
            out += e == '^' ? '^' : e == '?' ? '\x7F' : static_cast<char>(e - '@');
        } else {
            out += c;
        }
    }
    return out;
}

std::string FoldCase(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string DescribeToken(const Token& t) {
    switch (t.kind) {
    case Tok::EndOfLine: return "the end of the line";
    case Tok::EndOfFile: return "the end of the file";
    case Tok::Word: return "'" + std::string(t.text.substr(0, 40)) + "'";
    case Tok::Integer:
    case Tok::Float: return "the number " + std::string(t.text.substr(0, 40));
    case Tok::String: return "a string";
    case Tok::Rem: return "a 'Rem' comment";
    case Tok::LParen: return "'('";
    case Tok::RParen: return "')'";
    case Tok::Comma: return "','";
    case Tok::Semicolon: return "';'";
    case Tok::Colon: return "':'";
    case Tok::Dot: return "'.'";
    case Tok::Hash: return "'#'";
    case Tok::Question: return "'?'";
    case Tok::Eq: return "'='";
    case Tok::DeepAssign: return "':='";
    case Tok::EqEq: return "'=='";
    case Tok::Ne: return "'<>'";
    case Tok::Lt: return "'<'";
    case Tok::Gt: return "'>'";
    case Tok::Le: return "'<='";
    case Tok::Ge: return "'>='";
    case Tok::Plus: return "'+'";
    case Tok::Minus: return "'-'";
    case Tok::Star: return "'*'";
    case Tok::Slash: return "'/'";
    case Tok::Backslash: return "'\\'";
    case Tok::Caret: return "'^'";
    case Tok::Amp: return "'&'";
    case Tok::AndAlso: return "'&&'";
    case Tok::OrElse: return "'||'";
    }
    return "a token";
}

}  // namespace tq::compiler
