#include "store/builtin/declpars.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/eventdef.h"
#include "store/interp/keytab.h"
#include "store/methfld.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/intfld.h"
#include "store/model/sigrep.h"

namespace tq {
namespace {

// A failure of the parser: its message and where the cursor stood.
struct ParseError {
    const char* message;
    size_t cursor;
};

enum class Tok { End, Keyword, Identifier, Char };

// A token refers into the line or into the keyword table: reading a
// declaration copies no text but the names that become members.
struct Token {
    Tok kind = Tok::End;
    std::string_view text;  // a keyword in lower case; an identifier as written
    char ch = 0;            // Tok::Char
};

bool IsTypeSuffix(char c) { return std::strchr("%&!#@$", c) != nullptr && c != 0; }

class Tokenizer {
public:
    explicit Tokenizer(const char* line) : line_(line) {}

    [[noreturn]] void fail(const char* message) const { throw ParseError{message, pos_}; }
    size_t cursor() const { return pos_; }

    Token next() {
        while (line_[pos_] == ' ' || line_[pos_] == '\t' || line_[pos_] == '\r') ++pos_;
        const char c = line_[pos_];
        Token t;
        if (c == '\0' || c == '\n') return t;
        if (c == '"') fail("Strings are illegal here.");
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') fail("Numeric constants are illegal here.");
        if (c == '&') fail("Hexadecimal and Octal constants are illegal here.");
        if (c == '=' || c == '<' || c == '>') fail("Logical operators (i.e. =,<,>) are illegal here.");
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            t.kind = Tok::Char;
            t.ch = c;
            return t;
        }
        const size_t start = pos_;
        while (std::isalnum(static_cast<unsigned char>(line_[pos_])) || line_[pos_] == '_') ++pos_;
        t.text = std::string_view(line_ + start, pos_ - start);
        const int16_t id = KeyTabStringToId(t.text);
        if (id != kIdentifierToken) {
            t.kind = Tok::Keyword;
            t.text = KeyTabIdToString(id);
            return t;
        }
        t.kind = Tok::Identifier;
        // The suffix types the name; the parameter syntax still wants `As`.
        if (IsTypeSuffix(line_[pos_])) ++pos_;
        return t;
    }

private:
    const char* line_;
    size_t pos_ = 0;
};

bool IsKeyword(const Token& t, std::string_view word) { return t.kind == Tok::Keyword && t.text == word; }
bool IsChar(const Token& t, char c) { return t.kind == Tok::Char && t.ch == c; }

// A type specification: a fundamental type, or Object (the keyword, or a
// class name, kept in className).
IdType TypeSpec(Tokenizer& tz, const Token& t, std::string& className) {
    className.clear();
    static constexpr std::pair<std::string_view, IdType> kTypes[] = {
        {"integer", IDT_SHORT}, {"long", IDT_LONG},         {"single", IDT_FLOAT},
        {"double", IDT_DOUBLE}, {"currency", IDT_CURRENCY}, {"string", IDT_STRING},
        {"object", IDT_OBJECT},
    };
    if (t.kind == Tok::Keyword)
        for (const auto& [word, type] : kTypes)
            if (t.text == word) return type;
    if (t.kind == Tok::Identifier) {
        className = t.text;
        return IDT_OBJECT;
    }
    tz.fail("Expected return type specification. (e.g. Integer).");
}

// One parameter as written.
struct Parameter {
    std::string name;
    bool byVal = false;
    bool array = false;
    bool strictly = false;
    IdType type = IDT_UNTYPED;
    std::string className;
};

// The field of a parsed parameter, named in the current module.
InterDataField* ParameterField(Tokenizer& tz, const Parameter& p) {
    if (p.array) return new ArrayReferenceField(p.name.c_str(), static_cast<IdType>(p.type | IDT_ARRAY));
    if (p.type != IDT_OBJECT) {
        if (p.strictly) tz.fail("Illegal to qualify fundamental type (e.g. Integer) with Strictly keyword.");
        return InterDataField::make(p.name.c_str(), p.type, p.byVal ? 1 : 0);
    }
    const char* cls = p.className.empty() ? nullptr : p.className.c_str();
    if (p.strictly) {
        if (p.byVal) tz.fail("Illegal to declare object parameters with ByVal keyword.");
        return new StrictInterObjField(p.name.c_str(), cls);
    }
    if (cls)
        if (EnumRep* e = EnumRep::find(cls)) return InterEnumField::make(p.name.c_str(), e, p.byVal ? 1 : 0);
    if (p.byVal) tz.fail("Illegal to declare object parameters with ByVal keyword.");
    return new InterObjField(p.name.c_str(), cls);
}

// The parameter list, from its '(' to its ')'; each parameter becomes a
// field of method when one is given.
void ParameterList(Tokenizer& tz, MethodField* method) {
    if (!IsChar(tz.next(), '(')) tz.fail("Expected '('.");
    Token t = tz.next();
    bool first = true;
    while (t.kind != Tok::End && !IsChar(t, ')')) {
        if (IsChar(t, ',')) {
            if (first) tz.fail("Unexpected ','.");
            t = tz.next();
        } else if (!first) {
            tz.fail("Expected ','.");
        }
        first = false;
        Parameter p;
        if (IsKeyword(t, "byval")) {
            p.byVal = true;
            t = tz.next();
        }
        if (t.kind != Tok::Identifier) tz.fail("Expected an identifier.");
        p.name = t.text;
        t = tz.next();
        if (IsChar(t, '(')) {
            if (!IsChar(tz.next(), ')')) tz.fail("Expected ')'.");
            if (p.byVal) tz.fail("Illegal to qualify array parameters with ByVal keyword.");
            p.array = true;
            t = tz.next();
        }
        if (IsKeyword(t, "strictly")) {
            if (p.array) tz.fail("Illegal to qualify arrays with Strictly keyword.");
            p.strictly = true;
            t = tz.next();
        }
        if (!IsKeyword(t, "as")) tz.fail("Expected 'As' keyword.");
        t = tz.next();
        p.type = TypeSpec(tz, t, p.className);
        if (p.array && p.type == IDT_OBJECT) tz.fail("Arrays of Objects are not implemented.");
        if (method) method->defineArgument(ParameterField(tz, p));
        t = tz.next();
    }
    if (!IsChar(t, ')')) tz.fail("Expected ')'.");
}

[[noreturn]] void Report(const char* declaration, const ParseError& e) {
    const std::string text = "Error near character position: " + std::to_string(e.cursor + 1) +
                             " while processing line:\n\n" + declaration + "\n\nDescription: " + e.message;
    throw StoreException(text);
}

// A Function's return type, from the text after the declaration's last ')'.
void ReturnType(const char* declaration, CppMethodHeader& h) {
    const char* close = std::strrchr(declaration, ')');
    if (!close) throw ParseError{"Expected ') As <type>'. ", std::strlen(declaration)};
    const size_t base = static_cast<size_t>(close + 1 - declaration);
    Tokenizer tail(close + 1);
    try {
        if (!IsKeyword(tail.next(), "as")) tail.fail("Expected ') As <type>'. ");
        h.returnType = TypeSpec(tail, tail.next(), h.returnClass);
    } catch (ParseError& e) {
        e.cursor += base;
        throw;
    }
    // A class name that names an enumeration returns the entry's number.
    if (!h.returnClass.empty() && EnumRep::find(h.returnClass.c_str())) {
        h.returnType = IDT_LONG;
        h.returnClass.clear();
    }
}

}  // namespace

void ParseCppMethod(const char* declaration, SignatureRep& sig, const CppMethodMaker& make) {
    if (!declaration) declaration = "";
    try {
        Tokenizer tz(declaration);
        CppMethodHeader h;
        const Token kind = tz.next();
        if (IsKeyword(kind, "function"))
            h.isFunction = true;
        else if (!IsKeyword(kind, "sub"))
            tz.fail("Expected 'Function' or 'Sub' keyword.");
        const Token name = tz.next();
        if (name.kind != Tok::Identifier) tz.fail("Expected a valid indentifier.");
        h.name = name.text;
        if (h.isFunction) ReturnType(declaration, h);
        FieldPtr field(make(h));
        ParameterList(tz, static_cast<MethodField*>(field.get()));
        const Token after = tz.next();
        if (!h.isFunction && after.kind != Tok::End) tz.fail("Expected end of line");
        if (h.isFunction && !IsKeyword(after, "as")) tz.fail("Expected 'As' keyword (e.g. 'a As Integer').");
        sig.addField(field.get(), nullptr, 0);
    } catch (const ParseError& e) {
        Report(declaration, e);
    }
}

void ParseCppEvent(const char* declaration, SignatureRep& sig) {
    if (!declaration) declaration = "";
    try {
        Tokenizer tz(declaration);
        if (!IsKeyword(tz.next(), "event")) tz.fail("Expected 'Event' keyword.");
        const Token name = tz.next();
        if (name.kind != Tok::Identifier) tz.fail("Expected a valid identifier");
        ParameterList(tz, nullptr);
        Token t = tz.next();
        IdType returns = IDT_VOID;
        if (IsKeyword(t, "as")) {
            std::string className;
            returns = TypeSpec(tz, tz.next(), className);
            t = tz.next();
        }
        if (t.kind != Tok::End) tz.fail("Expected End of Line");
        const std::string_view line(declaration);
        const size_t open = line.find('('), close = line.rfind(')');
        const std::string args(line.substr(open, close - open + 1));
        const std::string eventName(name.text);
        sig.defineCompiledEvent(new EventDef(eventName.c_str(), returns == IDT_VOID ? 0 : returns, args.c_str(), 0));
    } catch (const ParseError& e) {
        Report(declaration, e);
    }
}

}  // namespace tq
