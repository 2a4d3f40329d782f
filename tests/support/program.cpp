#include "tests/support/program.h"

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "store/context.h"
#include "store/interp/assign.h"
#include "store/interp/binop.h"
#include "store/interp/ident.h"
#include "store/interp/intfuncs.h"
#include "store/interp/mathfunc.h"
#include "store/interp/strfunc.h"
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
            while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.' || s[j] == 'e' ||
                                    s[j] == 'E'))
                ++j;
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
                t.text += s[j++];
            }
            t.kind = Tok::Text;
            i = j + 1;
        } else {
            static const char* const ops[] = {":=", "<>", "<=", ">=", "&&", "||", "=", "<", ">", "+", "-",
                                              "*",  "/",  "\\", "^",  "&",  "(",  ")", ",", "."};
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

std::vector<Line> Lines(const std::string& text) {
    std::vector<Line> out;
    std::istringstream in(text);
    std::string raw;
    int32_t n = 0;
    while (std::getline(in, raw)) {
        ++n;
        size_t at = raw.find_first_not_of(" \t");
        if (at == std::string::npos || raw[at] == '\'') continue;
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

void Statement(BlockBuildRep& b, const Line& line, IdDynamicVector& ids) {
    Parser p(line.text, ids);
    const Token& first = p.peek();
    if (Is(first, "Dim") || Is(first, "Static") || Is(first, "Param")) {
        const std::string how = p.take().text;
        Declare(b, p, how);
    } else if (Is(first, "End")) {
        b.setEndLine(line.number);
        return;
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
    } else {
        int form = 0;
        if (p.accept("Let"))
            form = Assignment::FORM_LET;
        else if (p.accept("Set"))
            form = Assignment::FORM_SET;
        ExprPtr target = p.identifier();
        if (p.accept(":="))
            form |= Assignment::FORM_DEEP_SET;
        else
            p.expect("=");
        b.addExecNode(Assignment::make(line.number, form, std::move(target), p.expression()));
    }
    if (!p.atEnd()) p.fail("unexpected text after the statement");
}

}  // namespace

BlockRep* Program::makeBlock(const std::string& text, int allLocalsStatic) {
    BlockBuildRep b(allLocalsStatic);
    for (const Line& line : Lines(text)) Statement(b, line, ids_);
    return BlockRep::New(b);
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
