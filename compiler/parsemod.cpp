// Text modules: enumerations and objects with their members.
#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "compiler/parser.h"

namespace tq::compiler {

Module* Parser::parseModule() {
    auto* m = arena_.make<Module>();
    std::vector<Comment> comments;
    std::vector<ModuleItem> items;
    try {
        SinkScope sink(*this, &comments);
        for (;;) {
            if (is(Tok::Colon) || is(Tok::EndOfLine) || is(Tok::Rem)) {
                advance();
                continue;
            }
            if (is(Tok::EndOfFile)) break;
            try {
                if (isEnumWord(cur()) && peek().kind == Tok::Word) {
                    ModuleItem item{};
                    item.kind = ItemKind::Enum;
                    item.enumeration = parseEnum();
                    items.push_back(item);
                } else if (isKw(Kw::Begin)) {
                    ModuleItem item{};
                    item.kind = ItemKind::Object;
                    item.object = parseObject(false);
                    items.push_back(item);
                } else if (const Closer k = closerAt(); k != Closer::None) {
                    reportWithout(k);
                    skipLine();
                } else if (isKw(Kw::Sub) || isKw(Kw::Function) || isKw(Kw::Dim)) {
                    fail(cur().pos, std::string("'") + std::string(cur().text) +
                                        "' belongs inside an object: 'Begin Object Name' ... 'End Object'");
                } else {
                    failExpected("'Begin Object' or 'Enum' at the top level of a module");
                }
            } catch (SyntaxError&) {
                skipLine();
            }
        }
    } catch (Fatal&) {
    }
    m->items = arena_.list(items);
    m->comments = arena_.list(comments);
    return m;
}

EnumDecl* Parser::parseEnum() {
    auto* e = arena_.make<EnumDecl>();
    e->pos = cur().pos;
    advance();
    const Token& name = expectName("enumeration");
    e->name = name.text;
    if (name.suffix) error(name.pos, "an enumeration's name takes no type suffix");
    advance();
    try {
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    std::vector<Comment> comments;
    std::vector<EnumEntry> entries;
    // Positions in entries of the first entry of each name (lower case) and
    // value.
    std::unordered_map<std::string, size_t> byName;
    std::unordered_map<int32_t, size_t> byValue;
    SinkScope sink(*this, &comments);
    OpenScope open(*this, Construct::Enum, e->pos);
    int64_t next = 0;
    for (;;) {
        if (is(Tok::Colon) || is(Tok::EndOfLine) || is(Tok::Rem)) {
            advance();
            continue;
        }
        if (is(Tok::EndOfFile)) {
            reportUnclosed(open_.back());
            unclosed_ = false;
            break;
        }
        if (const Closer k = closerAt(); k != Closer::None) {
            if (k == Closer::EndEnum) {
                e->endLine = cur().pos.line;
                consumeCloser(k);
                try {
                    expectStatementEnd();
                } catch (SyntaxError&) {
                    skipLine();
                }
                finishLine();
                break;
            }
            reportWithout(k);
            skipLine();
            continue;
        }
        try {
            EnumEntry entry;
            const Token& n = expectName("entry");
            entry.pos = n.pos;
            entry.name = n.text;
            if (n.suffix) error(n.pos, "an enumeration entry takes no type suffix");
            advance();
            int64_t value = next;
            if (is(Tok::Eq)) {
                advance();
                const bool negate = is(Tok::Minus);
                if (negate) advance();
                if (!is(Tok::Integer))
                    failExpected("a whole number as the value of '" + std::string(entry.name) + "'");
                const Token t = cur();
                advance();
                auto* v = static_cast<IntegerExpr*>(number(t, negate && t.radix == 10));
                value = (negate && t.radix != 10) ? -static_cast<int64_t>(v->value) : v->value;
                entry.hasValue = true;
            }
            if (value > INT32_MAX || value < INT32_MIN)
                fail(entry.pos, "the value of '" + std::string(entry.name) + "' is out of range for a Long");
            entry.value = static_cast<int32_t>(value);
            next = value + 1;
            // Found by name and by value, not by comparing with every entry
            // before: an enumeration may have tens of thousands.
            const std::string key = FoldCase(entry.name);
            const auto sameName = byName.find(key);
            if (sameName != byName.end()) {
                const EnumEntry& other = entries[sameName->second];
                error(entry.pos, "the enumeration '" + std::string(e->name) + "' already has an entry '" +
                                     std::string(other.name) + "' (line " + std::to_string(other.pos.line) + ")");
            }
            if (const auto sameValue = byValue.find(entry.value);
                sameValue != byValue.end() && FoldCase(entries[sameValue->second].name) != key) {
                const EnumEntry& other = entries[sameValue->second];
                error(entry.pos, "'" + std::string(entry.name) + "' has the value " + std::to_string(entry.value) +
                                     " of '" + std::string(other.name) + "' (line " + std::to_string(other.pos.line) +
                                     "): entries need values of their own");
            }
            byName.try_emplace(key, entries.size());
            byValue.try_emplace(entry.value, entries.size());
            entries.push_back(entry);
            expectStatementEnd();
        } catch (SyntaxError&) {
            skipLine();
        }
    }
    e->entries = arena_.list(entries);
    e->comments = arena_.list(comments);
    return e;
}

ObjectDecl* Parser::parseObject(bool embedded) {
    DepthScope depth(blockDepth_);
    if (blockDepth_ > kMaxBlockDepth) {
        error(cur().pos, "objects are nested too deeply (more than " + std::to_string(kMaxBlockDepth) +
                             " levels)");
        throw Fatal{};
    }
    auto* o = arena_.make<ObjectDecl>();
    o->pos = cur().pos;
    o->embedded = embedded;
    advance();
    try {
        if (!embedded) expectKw(Kw::Object, "expected 'Object' after 'Begin'");
        const Token& name = expectName(embedded ? "embedded object" : "object");
        o->name = name.text;
        if (name.suffix) error(name.pos, "an object's name takes no type suffix");
        advance();
        if (isKw(Kw::From)) {
            advance();
            const Token& proto = expectName("prototype after 'From'");
            o->from = proto.text;
            if (proto.suffix) error(proto.pos, "a prototype's name takes no type suffix");
            advance();
        }
        expectStatementEnd();
    } catch (SyntaxError&) {
        skipLine();
    }
    std::vector<Comment> comments;
    std::vector<ObjectMember> members;
    SinkScope sink(*this, &comments);
    const Construct self = embedded ? Construct::Type : Construct::Object;
    OpenScope open(*this, self, o->pos);
    for (;;) {
        if (is(Tok::Colon) || is(Tok::EndOfLine)) {
            advance();
            continue;
        }
        if (is(Tok::EndOfFile)) {
            reportUnclosed(open_.back());
            unclosed_ = false;
            break;
        }
        if (const Closer k = closerAt(); k != Closer::None) {
            if (accepts(self, k)) {
                o->endLine = cur().pos.line;
                consumeCloser(k);
                try {
                    expectStatementEnd();
                } catch (SyntaxError&) {
                    skipLine();
                }
                finishLine();
                break;
            }
            if (outerAccepts(k)) {
                reportUnclosed(open_.back());
                unclosed_ = false;
                break;
            }
            reportWithout(k);
            skipLine();
            continue;
        }
        try {
            if (!parseMember(members)) expectStatementEnd();
        } catch (SyntaxError&) {
            skipLine();
        }
    }
    o->members = arena_.list(members);
    o->comments = arena_.list(comments);
    return o;
}

// Reads one member into members; true when the member read its lines to
// their end itself (procedures and embedded objects).
bool Parser::parseMember(std::vector<ObjectMember>& members) {
    ObjectMember m{};
    const Token& t = cur();
    if (t.kind == Tok::Dot) {
        m.kind = MemberKind::InitialValue;
        m.value = parseInitialValue();
        members.push_back(m);
        return false;
    }
    if (t.kind == Tok::Rem) {
        advance();
        return false;
    }
    if (t.kind != Tok::Word) failExpected("a declaration, an initial value or a procedure");
    switch (t.kw) {
    case Kw::Dim:
    case Kw::Protected:
    case Kw::Const:
        m.kind = MemberKind::Field;
        m.field = parseDecl(t.kw == Kw::Dim ? DeclKind::Dim
                            : t.kw == Kw::Const ? DeclKind::Const
                                                : DeclKind::Protected);
        members.push_back(m);
        return false;
    case Kw::Static:
        if (!peekIsKw(1, Kw::Sub) && !peekIsKw(1, Kw::Function))
            fail(t.pos, "expected 'Sub' or 'Function' after 'Static': an object's fields are declared with 'Dim'");
        [[fallthrough]];
    case Kw::Sub:
    case Kw::Function: {
        m.kind = MemberKind::Procedure;
        m.procedure = parseProcedure();
        members.push_back(m);
        return true;
    }
    case Kw::Type:
        m.kind = MemberKind::Embedded;
        m.embedded = parseObject(true);
        members.push_back(m);
        return true;
    case Kw::Event:
        m.kind = MemberKind::Event;
        m.event = parseEvent();
        members.push_back(m);
        return false;
    case Kw::Declare:
        m.kind = MemberKind::Declare;
        m.declare = parseDeclare();
        members.push_back(m);
        return false;
    case Kw::Begin:
        fail(t.pos, "objects do not nest: an object inside another is written "
                    "'Type Name [From Proto]' ... 'End Type'");
    default:
        if (isEnumWord(t) && peek().kind == Tok::Word)
            fail(t.pos, "an enumeration is declared at the top level of the module, outside 'Begin Object'");
        failExpected("a declaration ('Dim', 'Protected', 'Const', 'Type', 'Event', 'Declare'), "
                     "an initial value '.Field = value' or a procedure");
    }
}

EventDecl* Parser::parseEvent() {
    auto* e = arena_.make<EventDecl>();
    e->pos = cur().pos;
    const uint32_t start = cur().offset;
    advance();
    const Token& name = expectName("event");
    e->name = name.text;
    if (name.suffix) error(name.pos, "an event's name takes no type suffix");
    advance();
    if (is(Tok::LParen)) {
        const uint32_t argStart = cur().offset;
        advance();
        if (!is(Tok::RParen)) e->params = parseParams();
        expect(Tok::RParen, "expected ')' after the parameters of the event");
        e->argText = textFrom(argStart);
    }
    if (isKw(Kw::As)) {
        advance();
        e->returnType = parseTypeAfterAs(false);
    }
    e->text = textFrom(start);
    return e;
}

DeclareDecl* Parser::parseDeclare() {
    auto* d = arena_.make<DeclareDecl>();
    d->pos = cur().pos;
    const uint32_t start = cur().offset;
    advance();
    if (!isKw(Kw::Sub) && !isKw(Kw::Function)) failExpected("'Sub' or 'Function' after 'Declare'");
    d->isFunction = isKw(Kw::Function);
    advance();
    const Token& name = expectName("procedure");
    d->name = name.text;
    d->suffix = name.suffix;
    if (name.suffix && !d->isFunction) error(name.pos, "a Sub returns no value and takes no type suffix");
    advance();
    expectKw(Kw::Lib, "expected 'Lib' and the library's name in quotes");
    if (!is(Tok::String)) failExpected("the library's name in quotes after 'Lib'");
    d->lib = arena_.text(DecodeStringLiteral(cur().text));
    advance();
    if (isKw(Kw::Alias)) {
        advance();
        if (!is(Tok::String)) failExpected("the procedure's name in the library, in quotes, after 'Alias'");
        d->hasAlias = true;
        d->alias = arena_.text(DecodeStringLiteral(cur().text));
        advance();
    }
    if (is(Tok::LParen)) {
        advance();
        if (!is(Tok::RParen)) d->params = parseParams();
        expect(Tok::RParen, "expected ')' after the parameters");
    }
    if (isKw(Kw::As)) {
        if (!d->isFunction) fail(cur().pos, "a Sub returns no value: only a Function has 'As' and a type");
        advance();
        d->returnType = parseTypeAfterAs(false);
    }
    d->text = textFrom(start);
    return d;
}

InitialValue* Parser::parseInitialValue() {
    auto* v = arena_.make<InitialValue>();
    v->pos = cur().pos;
    advance();
    const Token& name = expectName("field");
    v->field = name.text;
    if (name.suffix) error(name.pos, "an initial value names its field without a type suffix");
    advance();
    if (is(Tok::LParen)) {
        advance();
        v->indices = parseArgumentList();
        if (!is(Tok::RParen)) failExpected("')' after the element's indices");
        advance();
    }
    if (is(Tok::DeepAssign)) {
        v->deep = true;
    } else if (!is(Tok::Eq)) {
        failExpected("'=' and a value after the field's name");
    }
    advance();
    v->value = parseExpr(0);
    return v;
}

}  // namespace tq::compiler
