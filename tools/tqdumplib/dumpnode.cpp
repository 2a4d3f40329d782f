#include "tools/tqdumplib/dumpnode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tq::dump {

namespace {

void JsonString(std::ostream& os, const std::string& s) {
    os << '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': os << "\\\""; break;
            case '\\': os << "\\\\"; break;
            case '\n': os << "\\n"; break;
            case '\r': os << "\\r"; break;
            case '\t': os << "\\t"; break;
            default:
                // Bytes that are not printable ASCII are given as the
                // characters of the same number, so any file's names and
                // texts make valid JSON.
                if (c < 0x20 || c >= 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    os << buf;
                } else {
                    os << c;
                }
        }
    }
    os << '"';
}

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The shortest digits that read back to the same number.
std::string RealText(double v) {
    char buf[32];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

void Indent(std::ostream& os, int n) {
    for (int i = 0; i < n; ++i) os << "  ";
}

}  // namespace

Node Node::Bool(bool v) {
    Node n;
    n.kind_ = Kind::Bool;
    n.bool_ = v;
    return n;
}

Node Node::Int(int64_t v) {
    Node n;
    n.kind_ = Kind::Int;
    n.int_ = v;
    return n;
}

Node Node::Real(double v) {
    if (!std::isfinite(v)) return Node();
    Node n;
    n.kind_ = Kind::Real;
    n.real_ = v;
    return n;
}

Node Node::Lines(const std::string& text) {
    Node n = List();
    n.lines_ = true;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        size_t stop = end;
        if (stop > at && text[stop - 1] == '\r') --stop;
        n.push(Text(text.substr(at, stop - at)));
        at = end + 1;
    }
    return n;
}

Node Node::Text(std::string v) {
    Node n;
    n.kind_ = Kind::Text;
    n.text_ = std::move(v);
    return n;
}

Node Node::List() {
    Node n;
    n.kind_ = Kind::List;
    return n;
}

Node Node::Record() {
    Node n;
    n.kind_ = Kind::Record;
    return n;
}

Node& Node::add(const std::string& key, Node value) {
    members_.emplace_back(key, std::move(value));
    return members_.back().second;
}

Node& Node::push(Node value) {
    members_.emplace_back(std::string(), std::move(value));
    return members_.back().second;
}

void Node::writeJson(std::ostream& os, int indent) const {
    switch (kind_) {
        case Kind::Null: os << "null"; return;
        case Kind::Bool: os << (bool_ ? "true" : "false"); return;
        case Kind::Int: os << int_; return;
        case Kind::Real: os << RealText(real_); return;
        case Kind::Text: JsonString(os, text_); return;
        case Kind::List:
        case Kind::Record: break;
    }
    const bool record = kind_ == Kind::Record;
    if (members_.empty()) {
        os << (record ? "{}" : "[]");
        return;
    }
    os << (record ? "{\n" : "[\n");
    for (size_t i = 0; i < members_.size(); ++i) {
        Indent(os, indent + 1);
        if (record) {
            JsonString(os, members_[i].first);
            os << ": ";
        }
        members_[i].second.writeJson(os, indent + 1);
        os << (i + 1 < members_.size() ? ",\n" : "\n");
    }
    Indent(os, indent);
    os << (record ? "}" : "]");
}

bool Node::isFlat() const {
    if (isScalar()) return true;
    for (const auto& [key, value] : members_)
        if (!value.isScalar()) return false;
    return true;
}

std::string Node::scalarText() const {
    switch (kind_) {
        case Kind::Null: return "-";
        case Kind::Bool: return bool_ ? "yes" : "no";
        case Kind::Int: return std::to_string(int_);
        case Kind::Real: return RealText(real_);
        case Kind::Text: return "\"" + Printable(text_) + "\"";
        default: return {};
    }
}

void Node::writeFlat(std::ostream& os) const {
    if (isScalar()) {
        os << scalarText();
        return;
    }
    if (kind_ == Kind::Record && members_.empty()) {
        os << "{}";
        return;
    }
    if (kind_ == Kind::List) os << "[";
    for (size_t i = 0; i < members_.size(); ++i) {
        if (i) os << (kind_ == Kind::List ? ", " : "  ");
        if (kind_ == Kind::Record) os << members_[i].first << "=";
        os << members_[i].second.scalarText();
    }
    if (kind_ == Kind::List) os << "]";
}

void Node::writeText(std::ostream& os, int indent) const {
    for (const auto& [key, value] : members_) {
        Indent(os, indent);
        if (kind_ == Kind::Record)
            os << key << ":";
        else
            os << "-";
        if (value.isFlat() && !value.lines_ && !(value.kind_ == Kind::List && value.members_.size() > 16)) {
            os << " ";
            value.writeFlat(os);
            os << "\n";
        } else {
            os << "\n";
            value.writeText(os, indent + 1);
        }
    }
}

}  // namespace tq::dump
