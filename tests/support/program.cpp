#include "tests/support/program.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "store/context.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/case.h"
#include "store/interp/doloop.h"
#include "store/interp/fornext.h"
#include "store/interp/funccall.h"
#include "store/interp/ident.h"
#include "store/interp/ifthen.h"
#include "store/interp/intfuncs.h"
#include "store/interp/mathfunc.h"
#include "store/interp/print.h"
#include "store/interp/redim.h"
#include "store/interp/strfunc.h"
#include "store/interp/trycatch.h"
#include "store/interp/withblk.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "store/vals.h"

namespace tq {

namespace {

// ---- tokens ----------------------------------------------------------------------------

enum class Tok { End, Name, Number, Text, Op };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // names and operators as written; texts unquoted
    bool isDouble = false;
    int radix = 0;     // 1 hexadecimal, 2 octal
    double number = 0;
};

bool Is(const Token& t, const char* word) {
    if (t.kind != Tok::Name && t.kind != Tok::Op) return false;
    if (t.text.size() != std::strlen(word)) return false;
    for (size_t i = 0; i < t.text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(t.text[i])) != std::tolower(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

std::vector<Token> Lex(const std::string& s) {
    std::vector<Token> out;
    size_t i = 0;
    auto bad = [&](const std::string& what) { throw std::invalid_argument(what + " in: " + s); };
    while (i < s.size()) {
        const char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        Token t;
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i;
            while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
            t.kind = Tok::Name;
            t.text = s.substr(i, j - i);
            // A type suffix belongs to the name; "&" is the operator when
            // an operand or a second "&" follows it at once.
            if (j < s.size() && s[j] != '\0' && std::strchr("%&!#@$", s[j])) {
                bool suffix = true;
                if (s[j] == '&' && j + 1 < s.size()) {
                    const char n = s[j + 1];
                    if (n == '&' || std::isalnum(static_cast<unsigned char>(n)) || n == '"' || n == '(') suffix = false;
                }
                if (suffix) t.text += s[j++];
            }
            i = j;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            size_t j = i;
            while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
            // An exponent, with its sign: 1e+20, 2.5E-3.
            if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
                size_t k = j + 1;
                if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
                if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
                    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k;
                    j = k;
                }
            }
            t.kind = Tok::Number;
            t.text = s.substr(i, j - i);
            t.isDouble = t.text.find_first_of(".eE") != std::string::npos;
            t.number = std::strtod(t.text.c_str(), nullptr);
            i = j;
        } else if (c == '&' && i + 1 < s.size() && (s[i + 1] == 'H' || s[i + 1] == 'O')) {
            const bool hex = s[i + 1] == 'H';
            size_t j = i + 2;
            while (j < s.size() && std::isxdigit(static_cast<unsigned char>(s[j]))) ++j;
            t.kind = Tok::Number;
            t.radix = hex ? 1 : 2;
            t.number = static_cast<double>(std::strtoul(s.substr(i + 2, j - i - 2).c_str(), nullptr, hex ? 16 : 8));
            i = j;
        } else if (c == '"') {
            size_t j = i + 1;
            for (;;) {
                if (j >= s.size()) bad("unterminated text");
                if (s[j] == '"') {
                    if (j + 1 < s.size() && s[j + 1] == '"') {
                        t.text += '"';
                        j += 2;
                        continue;
                    }
                    break;
                }
                // The language's escapes: "^^" is "^", "^@" to "^_" and "^?"
                // the control characters; any other "^" stands for itself.
                if (s[j] == '^' && j + 1 < s.size()) {
                    const char e = s[j + 1];
                    if (e == '^' || (e >= 'A' && e <= '_') || e == '?') {
                        t.text += e == '^' ? '^' : static_cast<char>(e ^ 64);
                        j += 2;
                        continue;
                    }
                }
                t.text += s[j++];
            }
            t.kind = Tok::Text;
            i = j + 1;
        } else {
            static const char* const ops[] = {":=", "<>", "<=", ">=", "&&", "||", "==", "=", "<", ">", "+", "-",
                                              "*",  "/",  "\\", "^",  "&",  "(",  ")", ",", ".", ";"};
            bool found = false;
            for (const char* op : ops) {
                if (s.compare(i, std::strlen(op), op) == 0) {
                    t.kind = Tok::Op;
                    t.text = op;
                    i += std::strlen(op);
                    found = true;
                    break;
                }
            }
            if (!found) bad(std::string("unexpected '") + c + "'");
        }
        out.push_back(std::move(t));
    }
    out.push_back(Token{});
    return out;
}

IdType TypeOfName(const std::string& word) {
    static const char* const names[] = {"", "Integer", "Long", "Single", "Double", "Currency", "String", "Object"};
    for (int i = 1; i <= 7; ++i)
        if (Is(Token{Tok::Name, word}, names[i])) return static_cast<IdType>(i);
    throw std::invalid_argument("unknown type " + word);
}

IdType SuffixType(std::string& name) {
    static const char suffixes[] = "%&!#@$";
    const char last = name.empty() ? '\0' : name.back();
    if (const char* at = std::strchr(suffixes, last); at && last != '\0') {
        name.pop_back();
        return static_cast<IdType>(at - suffixes + 1);
    }
    return IDT_UNTYPED;
}

// ---- expressions -------------------------------------------------------------------------

class Parser {
public:
    Parser(const std::string& text, IdDynamicVector& ids) : text_(text), toks_(Lex(text)), ids_(ids) {}

    ExprPtr expression() { return imp(); }
    const Token& peek(size_t k = 0) const { return toks_[std::min(pos_ + k, toks_.size() - 1)]; }
    Token take() { return toks_[pos_ < toks_.size() - 1 ? pos_++ : pos_]; }
    bool accept(const char* word) {
        if (!Is(peek(), word)) return false;
        ++pos_;
        return true;
    }
    void expect(const char* word) {
        if (!accept(word)) fail(std::string("expected ") + word);
    }
    bool atEnd() const { return peek().kind == Tok::End; }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::invalid_argument(what + " at token " + std::to_string(pos_) + " in: " + text_);
    }
    // An identifier expression (a target).
    ExprPtr identifier() { return chain(); }

private:
    using Level = ExprPtr (Parser::*)();

    ExprPtr binaryLevel(Level next, std::initializer_list<std::pair<const char*, BinOpType>> ops) {
        ExprPtr left = (this->*next)();
        for (;;) {
            bool matched = false;
            for (const auto& [word, op] : ops) {
                if (accept(word)) {
                    left = BinaryOp::make(op, std::move(left), (this->*next)());
                    matched = true;
                    break;
                }
            }
            if (!matched) return left;
        }
    }

    ExprPtr imp() { return binaryLevel(&Parser::eqv, {{"Imp", BINOP_IMP}}); }
    ExprPtr eqv() { return binaryLevel(&Parser::xor_, {{"Eqv", BINOP_EQV}}); }
    ExprPtr xor_() { return binaryLevel(&Parser::or_, {{"Xor", BINOP_XOR}}); }
    ExprPtr or_() { return binaryLevel(&Parser::and_, {{"Or", BINOP_OR}, {"||", BINOP_ORELSE}}); }
    ExprPtr and_() { return binaryLevel(&Parser::not_, {{"And", BINOP_AND}, {"&&", BINOP_ANDALSO}}); }
    ExprPtr not_() {
        if (accept("Not")) return UnaryOp::make(UNOP_NOT, not_());
        return compare();
    }
    ExprPtr compare() {
        if (accept("TypeOf")) {
            ExprPtr left = concat();
            expect("Is");
            return BinaryOp::make(BINOP_TYPEOF, std::move(left), concat());
        }
        return binaryLevel(&Parser::concat, {{"=", BINOP_EQ},
                                             {"<>", BINOP_NE},
                                             {"<=", BINOP_LE},
                                             {">=", BINOP_GE},
                                             {"<", BINOP_LT},
                                             {">", BINOP_GT},
                                             {"Like", BINOP_LIKE}});
    }
    ExprPtr concat() { return binaryLevel(&Parser::additive, {{"&", BINOP_CONCAT}}); }
    ExprPtr additive() { return binaryLevel(&Parser::mod, {{"+", BINOP_ADD}, {"-", BINOP_SUB}}); }
    ExprPtr mod() { return binaryLevel(&Parser::intDiv, {{"Mod", BINOP_MOD}}); }
    ExprPtr intDiv() { return binaryLevel(&Parser::multiplicative, {{"\\", BINOP_INTDIV}}); }
    ExprPtr multiplicative() { return binaryLevel(&Parser::negation, {{"*", BINOP_MUL}, {"/", BINOP_DIV}}); }
    ExprPtr negation() {
        if (accept("-")) return UnaryOp::make(UNOP_NEGATE, negation());
        return power();
    }
    ExprPtr power() { return binaryLevel(&Parser::primary, {{"^", BINOP_POWER}}); }

    ExprPtr primary() {
        const Token& t = peek();
        if (Is(t, "(")) {
            ++pos_;
            ExprPtr e = expression();
            expect(")");
            e->addFlags(ExprNode::kParenthesized);
            return e;
        }
        if (t.kind == Tok::Number) {
            Token n = take();
            if (n.isDouble) return DoubleConstant::make(n.number);
            return LongConstant::make(static_cast<int32_t>(static_cast<int64_t>(n.number)), n.radix);
        }
        if (t.kind == Tok::Text) return StringConstant::make(take().text.c_str());
        if (accept("Nothing")) return NullObjConstant::make();
        if (Is(t, "True") || Is(t, "False")) {
            const bool truth = Is(take(), "True");
            return truth ? ExprPtr(Sid::makeTrue()) : ExprPtr(Sid::makeFalse());
        }
        if (t.kind == Tok::Name) {
            if (ExprPtr f = intrinsic()) return f;
        }
        if (t.kind == Tok::Name || Is(t, ".")) return chain();
        fail("expected an expression");
    }

    // The arguments of a built-in function: "(" a, b ")"; none for "()".
    std::vector<ExprPtr> arguments() {
        std::vector<ExprPtr> out;
        expect("(");
        if (accept(")")) return out;
        out.push_back(expression());
        while (accept(",")) out.push_back(expression());
        expect(")");
        return out;
    }

    // A built-in function (its name followed by "(", or Rnd alone); null
    // when the name is none.
    ExprPtr intrinsic() {
        std::string name = peek().text;
        const bool dollar = !name.empty() && name.back() == '$';
        if (dollar) name.pop_back();
        const bool call = Is(peek(1), "(");
        static const char* const math[] = {"", "abs", "atn", "cos", "exp", "fix", "int",
                                           "log", "rnd", "sgn", "sin", "sqr", "tan"};
        for (uint32_t i = 1; i < MATH_LIMIT && !dollar; ++i) {
            if (!Is(Token{Tok::Name, name}, math[i]) || !(call || i == MATH_RND)) continue;
            ++pos_;
            std::vector<ExprPtr> a;
            if (call) a = arguments();
            if (a.size() > 1) fail("too many arguments");
            return IntrMath::make(static_cast<MathType>(i), a.empty() ? nullptr : std::move(a[0]));
        }
        if (!call) return nullptr;
        static const StringType strings[] = {STR_INSTR, STR_STR,   STR_LCASE, STR_UCASE,   STR_LEFT,
                                             STR_RIGHT, STR_MID,   STR_LEN,   STR_LTRIM,   STR_RTRIM,
                                             STR_TRIM,  STR_ASC,   STR_VAL,   STR_STRCOMP, STR_STRING,
                                             STR_SPACE, STR_CHR,   STR_HEX,   STR_OCT};
        for (StringType s : strings) {
            if (!Is(Token{Tok::Name, name}, IntrString::Name(s))) continue;
            ++pos_;
            std::vector<ExprPtr> a = arguments();
            a.resize(4);
            return IntrString::make(s, dollar, std::move(a[0]), std::move(a[1]), std::move(a[2]), std::move(a[3]));
        }
        if (dollar) return nullptr;
        if (Is(peek(), "LBound") || Is(peek(), "UBound")) {
            const uint8_t which = Is(take(), "LBound") ? IntrBound::kLBound : IntrBound::kUBound;
            std::vector<ExprPtr> a = arguments();
            a.resize(2);
            return IntrBound::make(which, std::move(a[0]), std::move(a[1]));
        }
        if (Is(peek(), "RGB") || Is(peek(), "QBColor")) {
            const tColorFunc f = Is(take(), "RGB") ? kColorRGB : kColorQB;
            std::vector<ExprPtr> a = arguments();
            a.resize(3);
            return IntrColor::make(f, std::move(a[0]), std::move(a[1]), std::move(a[2]));
        }
        if (accept("IIf")) {
            std::vector<ExprPtr> a = arguments();
            if (a.size() != 3) fail("IIf takes three arguments");
            return IntrIIf::make(std::move(a[0]), std::move(a[1]), std::move(a[2]));
        }
        return nullptr;
    }

    // One piece: [.]name[suffix][(args)] or Me[(args)].
    ExprPtr piece(bool allowDot) {
        const bool dotted = allowDot && accept(".");
        if (peek().kind != Tok::Name) fail("expected a name");
        std::string name = take().text;
        std::unique_ptr<Sid> sid;
        if (Is(Token{Tok::Name, name}, "Me")) {
            sid = Sid::makeMe();
        } else {
            const IdType type = SuffixType(name);
            sid = Sid::make(static_cast<uint16_t>(ids_.stringIndex(name.c_str())), type);
        }
        if (dotted) sid->markAsDotted();
        if (!Is(peek(), "(")) return ExprPtr(sid.release());
        ++pos_;
        std::unique_ptr<Cid> call;
        if (accept(")")) {
            call = Cid::make(nullptr);
        } else {
            call = Cid::make(expression());
            while (accept(",")) call = Cid::append(std::move(call), expression());
            expect(")");
        }
        call->addFlags(ExprNode::kArgsParenthesized);
        return ExprNode::convertToComplex(ExprPtr(sid.release()), std::move(call));
    }

    ExprPtr chain() {
        ExprPtr e = piece(true);
        while (Is(peek(), ".") && peek(1).kind == Tok::Name) {
            ++pos_;
            e = Mid::make(std::move(e), piece(false));
        }
        return e;
    }

    std::string text_;
    std::vector<Token> toks_;
    size_t pos_ = 0;
    IdDynamicVector& ids_;
};

// ---- statements ----------------------------------------------------------------------------

struct Line {
    int32_t number;
    std::string text;
};

// The lines of text that hold something; comment lines too with comments.
std::vector<Line> Lines(const std::string& text, bool comments = false) {
    std::vector<Line> out;
    std::istringstream in(text);
    std::string raw;
    int32_t n = 0;
    while (std::getline(in, raw)) {
        ++n;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        size_t at = raw.find_first_not_of(" \t");
        if (at == std::string::npos || (raw[at] == '\'' && !comments)) continue;
        int32_t number = n;
        // "N:" gives the statement's own line.
        size_t digits = at;
        while (digits < raw.size() && std::isdigit(static_cast<unsigned char>(raw[digits]))) ++digits;
        if (digits > at && digits < raw.size() && raw[digits] == ':' &&
            (digits + 1 >= raw.size() || raw[digits + 1] != '=')) {
            number = std::atoi(raw.substr(at, digits - at).c_str());
            at = raw.find_first_not_of(" \t", digits + 1);
            if (at == std::string::npos) continue;
        }
        out.push_back({number, raw.substr(at)});
    }
    return out;
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

bool StartsWithWord(const std::string& text, const char* word) {
    const size_t n = std::strlen(word);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return text.size() == n || !std::isalnum(static_cast<unsigned char>(text[n]));
}

// A procedure's text as a compiler reads it: its statement lines, and its
// dead source (the header, declarations, Catch lines, comments), each at
// its line. Statements separated by ":" become lines of the same number; a
// "'" comment after them, a line of its own or a Rem line is a comment. A
// one-line If keeps the rest of its line.
std::vector<Line> SourceLines(const std::string& text, std::vector<DSObj>& dead) {
    std::vector<Line> out;
    for (const Line& whole : Lines(text, true)) {
        const std::string& t = whole.text;
        const int32_t n = whole.number;
        if (t[0] == '\'') {
            dead.emplace_back(static_cast<uint32_t>(n), t.c_str() + 1, DS_APOSTROPHE, DS_TRIM_BOTH);
            continue;
        }
        if (StartsWithWord(t, "rem")) {
            dead.emplace_back(static_cast<uint32_t>(n), t.c_str() + 3, DS_REM, DS_TRIM_BOTH);
            continue;
        }
        std::vector<std::string> pieces;
        std::string comment;
        bool hasComment = false;
        bool quoted = false;
        size_t start = 0;
        for (size_t i = 0; i <= t.size(); ++i) {
            const char c = i < t.size() ? t[i] : '\0';
            if (c == '"') quoted = !quoted;
            if (quoted) continue;
            const bool separator =
                c == ':' && t[i + 1] != '=' && !StartsWithWord(Trim(t.substr(start, i - start)), "if");
            if (c == '\'' || c == '\0' || separator) {
                pieces.push_back(Trim(t.substr(start, i - start)));
                start = i + 1;
                if (c == '\'') {
                    comment = t.substr(i + 1);
                    hasComment = true;
                    break;
                }
            }
        }
        for (const std::string& piece : pieces) {
            if (piece.empty()) continue;
            if (out.empty() || StartsWithWord(piece, "dim") || StartsWithWord(piece, "static") ||
                StartsWithWord(piece, "catch"))
                dead.emplace_back(static_cast<uint32_t>(n), piece.c_str(), DS_TEXT);
            out.push_back({n, piece});
        }
        if (hasComment) dead.emplace_back(static_cast<uint32_t>(n), comment.c_str(), DS_APOSTROPHE, DS_TRIM_BOTH);
    }
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The words a line starts with, lower case: "end if", "loop", ...
bool StartsWith(const Line& line, const char* words) {
    const std::string l = Lower(line.text), w = words;
    if (l.compare(0, w.size(), w) != 0) return false;
    return l.size() == w.size() || !std::isalnum(static_cast<unsigned char>(l[w.size()]));
}

// Where word stands in text as a word of its own outside quotes, or npos.
size_t FindWord(const std::string& text, const char* word, size_t from = 0) {
    const std::string l = Lower(text), w = word;
    bool quoted = false;
    for (size_t i = from; i + w.size() <= l.size(); ++i) {
        if (l[i] == '"') quoted = !quoted;
        if (quoted || l.compare(i, w.size(), w) != 0) continue;
        const bool before = i == 0 || !std::isalnum(static_cast<unsigned char>(l[i - 1]));
        const bool after = i + w.size() == l.size() || !std::isalnum(static_cast<unsigned char>(l[i + w.size()]));
        if (before && after) return i;
    }
    return std::string::npos;
}

// Builds the blocks of a program text: one block per statement list, the
// sub-blocks entered into the table before the block that names them.
class BlockParser {
public:
    BlockParser(std::vector<Line> lines, IdDynamicVector& ids, BlockDynamicVector& blocks, int allLocalsStatic)
        : lines_(std::move(lines)), ids_(ids), blocks_(blocks), allStatic_(allLocalsStatic) {}

    // The statements up to a line that starts with one of enders (not
    // taken; any "End ..." line when enders is empty, which is then the
    // block's end line), as a block.
    BlockRep* block(std::initializer_list<const char*> enders, const std::function<void(BlockBuildRep&)>& first = {}) {
        BlockBuildRep b(allStatic_);
        if (first) first(b);
        while (pos_ < lines_.size()) {
            const Line& line = lines_[pos_];
            if (enders.size() == 0 && StartsWith(line, "end")) {
                b.setEndLine(line.number);
                ++pos_;
                break;
            }
            bool ends = false;
            for (const char* e : enders) ends = ends || StartsWith(line, e);
            if (ends) {
                b.setEndLine(line.number);
                break;
            }
            ++pos_;
            statement(b, line);
        }
        return BlockRep::New(b);
    }
    uint32_t subBlock(std::initializer_list<const char*> enders,
                      const std::function<void(BlockBuildRep&)>& first = {}) {
        return static_cast<uint32_t>(blocks_.blockIndex(block(enders, first)));
    }
    bool atEnd() const { return pos_ >= lines_.size(); }
    const Line& current() const { return lines_.at(pos_); }
    void skip() { ++pos_; }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::invalid_argument(what + (pos_ < lines_.size() ? " at: " + lines_[pos_].text : " at the end"));
    }

private:
    // A one-statement block for the parts of a one-line If.
    uint32_t lineBlock(int32_t number, const std::string& text) {
        BlockBuildRep b(allStatic_);
        statement(b, Line{number, text});
        return static_cast<uint32_t>(blocks_.blockIndex(BlockRep::New(b)));
    }
    const Line& expect(const char* words) {
        if (atEnd() || !StartsWith(current(), words)) fail(std::string("expected ") + words);
        return lines_[pos_++];
    }
    // The expression of text, which must hold nothing else.
    ExprPtr expr(const std::string& text) {
        Parser p(text, ids_);
        ExprPtr e = p.expression();
        if (!p.atEnd()) p.fail("unexpected text after the expression");
        return e;
    }
    std::string rest(const Line& line, size_t words) const {
        std::istringstream in(line.text);
        std::string w;
        for (size_t i = 0; i < words; ++i) in >> w;
        std::string r;
        std::getline(in, r);
        return r;
    }

    void statement(BlockBuildRep& b, const Line& line);
    void ifStatement(BlockBuildRep& b, const Line& line);
    void selectStatement(BlockBuildRep& b, const Line& line);
    void doStatement(BlockBuildRep& b, const Line& line);
    void forStatement(BlockBuildRep& b, const Line& line);
    void tryStatement(BlockBuildRep& b, const Line& line);
    void printStatement(BlockBuildRep& b, const Line& line, ExprPtr target, Parser& p);
    void callOrAssignment(BlockBuildRep& b, const Line& line, Parser& p, CallForm form);

    std::vector<Line> lines_;
    size_t pos_ = 0;
    IdDynamicVector& ids_;
    BlockDynamicVector& blocks_;
    int allStatic_;
};

void Declare(BlockBuildRep& b, Parser& p, const std::string& how) {
    std::string name = p.take().text;
    p.expect("As");
    const IdType type = TypeOfName(p.take().text);
    InterDataField* f = InterDataField::make(name.c_str(), type, 1);
    if (how == "Dim") {
        b.addLocalVar(f);
    } else if (how == "Param") {
        b.addArgumentVar(f);
    } else {
        ValuePtr init;
        if (p.accept("=")) {
            Context none;
            init = p.expression()->eval(none, EVAL_VALUE_REQUIRED);
            if (init->type() != type) init = DirectValueClassFactory(type, init.get());
        }
        b.addStaticLocalVar(f, init.get());
    }
}

void BlockParser::statement(BlockBuildRep& b, const Line& line) {
    if (StartsWith(line, "if")) return ifStatement(b, line);
    if (StartsWith(line, "select case")) return selectStatement(b, line);
    if (StartsWith(line, "do") || StartsWith(line, "while")) return doStatement(b, line);
    if (StartsWith(line, "for")) return forStatement(b, line);
    if (StartsWith(line, "try")) return tryStatement(b, line);
    if (StartsWith(line, "with")) {
        ExprPtr object = expr(rest(line, 1));
        const uint32_t body = subBlock({"end with"});
        expect("end with");
        return b.addExecNode(WithBlock::make(line.number, body, std::move(object)));
    }
    // obj.Print items: the chain before ".Print" is the target.
    if (const size_t at = FindWord(line.text, "print"); at != std::string::npos && at > 0 && line.text[at - 1] == '.') {
        ExprPtr target = expr(line.text.substr(0, at - 1));
        Parser items(line.text.substr(at + 5), ids_);
        return printStatement(b, line, std::move(target), items);
    }
    Parser p(line.text, ids_);
    const Token& first = p.peek();
    if (Is(first, "Dim") || Is(first, "Static") || Is(first, "Param")) {
        const std::string how = p.take().text;
        Declare(b, p, how);
    } else if (p.accept("Stop")) {
        b.addExecNode(StopStmt::make(line.number));
    } else if (p.accept("Exit")) {
        Exiter::ExitType t = Exiter::EXIT_PROGRAM;
        if (p.accept("Function"))
            t = Exiter::EXIT_FUNCTION;
        else if (p.accept("Sub"))
            t = Exiter::EXIT_SUB;
        else if (p.accept("For"))
            t = Exiter::EXIT_FOR;
        else if (p.accept("Do"))
            t = Exiter::EXIT_DO;
        b.addExecNode(Exiter::make(line.number, t));
    } else if (p.accept("Randomize")) {
        b.addExecNode(RandomizeStmt::make(line.number, p.atEnd() ? nullptr : p.expression()));
    } else if (p.accept("Throw")) {
        b.addExecNode(ThrowStmt::make(line.number, p.atEnd() ? nullptr : p.identifier()));
    } else if (p.accept("Print")) {
        return printStatement(b, line, nullptr, p);
    } else if (p.accept("ReDim")) {
        const bool preserve = p.accept("Preserve");
        std::string name = p.take().text;
        const IdType type = SuffixType(name);
        auto array = Sid::make(static_cast<uint16_t>(ids_.stringIndex(name.c_str())), type);
        p.expect("(");
        std::vector<std::unique_ptr<ExprNodePair>> dims;
        do {
            ExprPtr first = p.expression();
            ExprPtr second;
            if (p.accept("To")) second = p.expression();
            dims.push_back(second ? ExprNodePair::make(std::move(first), std::move(second))
                                  : ExprNodePair::make(nullptr, std::move(first)));
        } while (p.accept(","));
        p.expect(")");
        b.addExecNode(RedimStmt::make(line.number, std::move(array), std::move(dims), preserve));
    } else if (p.accept("Call")) {
        return callOrAssignment(b, line, p, CALL_CALL);
    } else if (p.accept("SendEvent")) {
        return callOrAssignment(b, line, p, CALL_SEND_EVENT);
    } else {
        return callOrAssignment(b, line, p, CALL_BARE);
    }
    if (!p.atEnd()) p.fail("unexpected text after the statement");
}

void BlockParser::callOrAssignment(BlockBuildRep& b, const Line& line, Parser& p, CallForm form) {
    int assign = 0;
    if (form == CALL_BARE) {
        if (p.accept("Let"))
            assign = Assignment::FORM_LET;
        else if (p.accept("Set"))
            assign = Assignment::FORM_SET;
    }
    ExprPtr target = p.identifier();
    if (form == CALL_BARE && (Is(p.peek(), "=") || Is(p.peek(), ":="))) {
        if (p.accept(":="))
            assign |= Assignment::FORM_DEEP_SET;
        else
            p.expect("=");
        b.addExecNode(Assignment::make(line.number, assign, std::move(target), p.expression()));
    } else {
        if (assign) p.fail("expected =");
        // "Foo a, b": the arguments follow without parentheses.
        if (!p.atEnd()) {
            auto call = Cid::make(p.expression());
            while (p.accept(",")) call = Cid::append(std::move(call), p.expression());
            target = ExprNode::convertToComplex(std::move(target), std::move(call));
        }
        b.addExecNode(FunctionCallStmt::make(line.number, form, std::move(target)));
    }
    if (!p.atEnd()) p.fail("unexpected text after the statement");
}

void BlockParser::printStatement(BlockBuildRep& b, const Line& line, ExprPtr target, Parser& p) {
    std::vector<PrintItem> items;
    PrintSeparator sep = PRINT_NO_SEPARATOR;
    PrintSeparator last = PRINT_NO_SEPARATOR;
    while (!p.atEnd()) {
        if (p.accept(";")) {
            sep = last = PRINT_SEMICOLON;
            continue;
        }
        if (p.accept(",")) {
            sep = last = PRINT_COMMA;
            continue;
        }
        PrintItemKind kind = PRINT_VALUE;
        if (Is(p.peek(), "Spc") && Is(p.peek(1), "(")) kind = PRINT_SPC;
        if (Is(p.peek(), "Tab") && Is(p.peek(1), "(")) kind = PRINT_TAB;
        if (kind != PRINT_VALUE) {
            p.take();
            p.take();
        }
        ExprPtr e = p.expression();
        if (kind != PRINT_VALUE) p.expect(")");
        items.push_back(PrintItem{sep, kind, std::move(e)});
        sep = last = PRINT_NO_SEPARATOR;
    }
    b.addExecNode(Print::make(line.number, std::move(items), last, std::move(target)));
}

void BlockParser::ifStatement(BlockBuildRep& b, const Line& line) {
    const size_t then = FindWord(line.text, "then");
    if (then == std::string::npos) fail("If without Then");
    ExprPtr cond = expr(line.text.substr(2, then - 2));
    const std::string after = line.text.substr(then + 4);
    if (after.find_first_not_of(" \t") != std::string::npos) {
        // One line: If c Then s [Else s].
        const size_t otherwise = FindWord(after, "else");
        const uint32_t thenBlock = lineBlock(line.number, after.substr(0, otherwise));
        const uint32_t elseBlock =
            otherwise == std::string::npos ? NO_BLOCK : lineBlock(line.number, after.substr(otherwise + 4));
        return b.addExecNode(SimpleIfThen::make(line.number, std::move(cond), thenBlock, elseBlock));
    }
    std::vector<IfClause> clauses;
    clauses.push_back(IfClause{std::move(cond), line.number, subBlock({"elseif", "else", "end if"})});
    uint32_t elseBlock = NO_BLOCK;
    int32_t elseLine = 0;
    while (!atEnd() && StartsWith(current(), "elseif")) {
        const Line& l = current();
        skip();
        const size_t t = FindWord(l.text, "then");
        clauses.push_back(IfClause{expr(l.text.substr(6, t - 6)), l.number, subBlock({"elseif", "else", "end if"})});
    }
    if (!atEnd() && StartsWith(current(), "else")) {
        elseLine = current().number;
        skip();
        elseBlock = subBlock({"end if"});
    }
    expect("end if");
    b.addExecNode(ComplexIfThen::make(line.number, std::move(clauses), elseBlock, elseLine));
}

void BlockParser::selectStatement(BlockBuildRep& b, const Line& line) {
    ExprPtr test = expr(rest(line, 2));
    std::vector<CaseLine> cases;
    uint32_t elseBlock = NO_BLOCK;
    int32_t elseLine = 0;
    while (!atEnd() && StartsWith(current(), "case")) {
        const Line l = current();
        skip();
        if (StartsWith(l, "case else")) {
            elseLine = l.number;
            elseBlock = subBlock({"end select"});
            break;
        }
        Parser p(rest(l, 1), ids_);
        std::vector<CaseTest> tests;
        do {
            if (p.accept("Is")) {
                static const std::pair<const char*, ECaseCompareType> ops[] = {
                    {"==", ECC_IS_EQUAL}, {"=", ECC_IS_EQUAL}, {">=", ECC_GREATER_EQUAL}, {"<=", ECC_LESS_EQUAL},
                    {"<>", ECC_NOT_EQUAL}, {">", ECC_GREATER}, {"<", ECC_LESS}};
                ECaseCompareType t = ECC_IS_EQUAL;
                bool found = false;
                for (const auto& [word, type] : ops)
                    if (!found && p.accept(word)) {
                        t = type;
                        found = true;
                    }
                if (!found) p.fail("expected a comparison after Is");
                tests.push_back(CaseTest{t, p.expression()});
            } else {
                ExprPtr first = p.expression();
                if (p.accept("To"))
                    tests.push_back(CaseTest{ECC_RANGE, std::move(first), p.expression()});
                else
                    tests.push_back(CaseTest{ECC_EQUAL, std::move(first)});
            }
        } while (p.accept(","));
        if (!p.atEnd()) p.fail("unexpected text after the tests");
        cases.push_back(CaseLine{l.number, subBlock({"case", "end select"}), std::move(tests)});
    }
    const int32_t end = expect("end select").number;
    b.addExecNode(SelectCase::make(line.number, std::move(test), std::move(cases), end, elseBlock, elseLine));
}

void BlockParser::doStatement(BlockBuildRep& b, const Line& line) {
    if (StartsWith(line, "while")) {
        ExprPtr cond = expr(rest(line, 1));
        const uint32_t body = subBlock({"wend"});
        expect("wend");
        return b.addExecNode(DoLoop::make(line.number, WHILE_WEND, body, std::move(cond)));
    }
    const std::string top = rest(line, 1);
    DoLoopForm form = DO_FOREVER;
    ExprPtr cond;
    if (FindWord(top, "while") != std::string::npos) {
        form = DO_WHILE;
        cond = expr(top.substr(FindWord(top, "while") + 5));
    } else if (FindWord(top, "until") != std::string::npos) {
        form = DO_UNTIL;
        cond = expr(top.substr(FindWord(top, "until") + 5));
    }
    const uint32_t body = subBlock({"loop"});
    const Line& end = expect("loop");
    const std::string bottom = rest(end, 1);
    if (FindWord(bottom, "while") != std::string::npos) {
        form = DO_LOOP_WHILE;
        cond = expr(bottom.substr(FindWord(bottom, "while") + 5));
    } else if (FindWord(bottom, "until") != std::string::npos) {
        form = DO_LOOP_UNTIL;
        cond = expr(bottom.substr(FindWord(bottom, "until") + 5));
    }
    b.addExecNode(DoLoop::make(line.number, form, body, std::move(cond)));
}

void BlockParser::forStatement(BlockBuildRep& b, const Line& line) {
    Parser p(line.text, ids_);
    p.expect("For");
    if (p.accept("Each")) {
        ExprPtr var = p.identifier();
        ForNextLoopType type = FN_In;
        if (p.accept("EmbeddedIn"))
            type = FN_EmbeddedIn;
        else if (p.accept("CopiedFrom"))
            type = FN_CopiedFrom;
        else
            p.expect("In");
        ExprPtr object = p.expression();
        const uint32_t body = subBlock({"next"});
        const bool named = rest(expect("next"), 1).find_first_not_of(" \t") != std::string::npos;
        return b.addExecNode(ForNext::makeEach(line.number, type, body, std::move(var), std::move(object), named));
    }
    ExprPtr var = p.identifier();
    p.expect("=");
    ExprPtr start = p.expression();
    p.expect("To");
    ExprPtr end = p.expression();
    ExprPtr step;
    if (p.accept("Step")) step = p.expression();
    if (!p.atEnd()) p.fail("unexpected text after the For");
    const uint32_t body = subBlock({"next"});
    const bool named = rest(expect("next"), 1).find_first_not_of(" \t") != std::string::npos;
    b.addExecNode(ForNext::make(line.number, body, std::move(var), std::move(start), std::move(end),
                                std::move(step), named));
}

void BlockParser::tryStatement(BlockBuildRep& b, const Line& line) {
    const uint32_t body = subBlock({"catch", "end try"});
    std::vector<CatchClause> catches;
    while (!atEnd() && StartsWith(current(), "catch")) {
        const Line l = current();
        skip();
        Parser p(rest(l, 1), ids_);
        uint16_t name = kCatchAll;
        std::vector<std::pair<std::string, IdType>> params;
        if (!p.atEnd()) {
            name = static_cast<uint16_t>(ids_.stringIndex(p.take().text.c_str()));
            if (p.accept("(")) {
                while (!p.accept(")")) {
                    std::string param = p.take().text;
                    p.expect("As");
                    params.emplace_back(param, TypeOfName(p.take().text));
                    p.accept(",");
                }
            }
        }
        const uint32_t block = subBlock({"catch", "end try"}, [&](BlockBuildRep& cb) {
            for (const auto& [n, t] : params) cb.addArgumentVar(InterDataField::make(n.c_str(), t, 1));
        });
        catches.push_back(CatchClause{l.number, name, block});
    }
    const int32_t end = expect("end try").number;
    b.addExecNode(TryBlock::make(line.number, body, end, catches));
}

}  // namespace

BlockRep* Program::makeBlock(const std::string& text, int allLocalsStatic) {
    BlockParser parser(Lines(text), ids_, blocks_, allLocalsStatic);
    BlockRep* b = parser.block({});
    if (!parser.atEnd()) parser.fail("unexpected text after the block's end");
    return b;
}

int32_t Program::block(const std::string& text, int allLocalsStatic) {
    return blocks_.blockIndex(makeBlock(text, allLocalsStatic));
}

ExprPtr Program::expression(const std::string& text) {
    Parser p(text, ids_);
    ExprPtr e = p.expression();
    if (!p.atEnd()) p.fail("unexpected text after the expression");
    return e;
}

InterProcField* Program::procedure(const std::string& text) {
    // The header is the procedure's first dead-source line, as a compiler
    // keeps it, and declarations, Catch lines and comments follow it.
    std::vector<DSObj> fragments;
    std::vector<Line> lines = SourceLines(text, fragments);
    if (lines.empty()) throw std::invalid_argument("a procedure needs its header");
    const Line header = lines.front();
    lines.erase(lines.begin());
    Parser p(header.text, ids_);
    const int allStatic = p.accept("Static") ? 1 : 0;
    const bool isFunction = p.accept("Function");
    if (!isFunction) p.expect("Sub");
    std::string name = p.take().text;
    IdType returnType = SuffixType(name);
    struct Param {
        std::string name;
        IdType type;
        bool byValue;
    };
    std::vector<Param> params;
    if (p.accept("(")) {
        while (!p.accept(")")) {
            bool byValue = p.accept("ByVal");
            if (!byValue) p.accept("ByRef");
            std::string param = p.take().text;
            IdType type = SuffixType(param);
            if (p.accept("As")) type = TypeOfName(p.take().text);
            params.push_back(Param{param, type ? type : IdType(IDT_LONG), byValue});
            p.accept(",");
        }
    }
    if (p.accept("As")) returnType = TypeOfName(p.take().text);
    if (!p.atEnd()) p.fail("unexpected text after the header");
    ids_.stringIndex(name.c_str());
    BlockParser parser(std::move(lines), ids_, blocks_, allStatic);
    blocks_.blockIndex(parser.block({}));
    if (!parser.atEnd()) parser.fail("unexpected text after the procedure's end");
    DeadSource dead(fragments);
    InterProcField* f = isFunction
                            ? new InterFuncField(name.c_str(), ids_, blocks_,
                                                 InterDataField::make(name.c_str(), returnType ? returnType : IdType(IDT_LONG), 1),
                                                 dead)
                            : new InterProcField(name.c_str(), ids_, blocks_, dead);
    for (const Param& param : params)
        f->defineArgument(InterDataField::make(param.name.c_str(), param.type, param.byValue ? 1 : 0));
    return f;
}

void AddProcedure(InterObjRep* obj, const std::string& text) {
    Program p;
    obj->addField(p.procedure(text));
}

std::unique_ptr<InterProcField> Program::sub(const char* name) {
    ids_.stringIndex(name);
    return std::make_unique<InterProcField>(name, ids_, blocks_);
}

std::unique_ptr<InterFuncField> Program::function(const char* name, IdType type) {
    ids_.stringIndex(name);
    return std::make_unique<InterFuncField>(name, ids_, blocks_, InterDataField::make(name, type, 1));
}

std::unique_ptr<EvalableBlock> Program::immediate() { return std::make_unique<EvalableBlock>(ids_, blocks_); }

std::unique_ptr<EvalableExpr> Program::immediateExpression(const std::string& text) {
    ExprPtr e = expression(text);
    return std::make_unique<EvalableExpr>(std::move(e), ids_);
}

void RunImmediate(Context& ctx, const std::string& text) {
    Program p;
    p.block(text);
    p.immediate()->eval(ctx, 1);
}

ValuePtr EvalImmediate(Context& ctx, const std::string& text) {
    Program p;
    return p.immediateExpression(text)->eval(ctx, 1);
}

}  // namespace tq
