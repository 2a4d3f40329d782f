// The report of tqdump as a tree: what the tool found in a module file,
// built once and then written either as JSON or as indented text.
//
// A node is null, a boolean, a number, a text, a list or a record (keys in
// the order they were added). Texts are bytes as the file holds them; each
// writer escapes what its form cannot carry.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace tq::dump {

class Node {
public:
    enum class Kind { Null, Bool, Int, Real, Text, List, Record };

    Node() = default;
    static Node Bool(bool v);
    static Node Int(int64_t v);
    // Not-finite numbers have no JSON form and are given as null.
    static Node Real(double v);
    static Node Text(std::string v);
    static Node List();
    static Node Record();
    // A list of texts, one per line of text (its "\r\n" or "\n" line ends
    // dropped), that the text form writes one element a line, as a listing
    // reads.
    static Node Lines(const std::string& text);

    Kind kind() const { return kind_; }

    // Records: adds key (keys are not checked for repeats) and returns the
    // new member.
    Node& add(const std::string& key, Node value);
    Node& add(const std::string& key, const char* text) { return add(key, Text(text ? text : "")); }
    Node& add(const std::string& key, const std::string& text) { return add(key, Text(text)); }
    Node& add(const std::string& key, int64_t v) { return add(key, Int(v)); }
    Node& add(const std::string& key, uint32_t v) { return add(key, Int(v)); }
    Node& add(const std::string& key, int32_t v) { return add(key, Int(v)); }
    Node& add(const std::string& key, bool v) { return add(key, Bool(v)); }
    // Lists: appends and returns the new element.
    Node& push(Node value);

    void writeJson(std::ostream& os, int indent = 0) const;
    // Indented "key: value" lines; a record or list of scalars only is
    // written on one line.
    void writeText(std::ostream& os, int indent = 0) const;

private:
    bool isScalar() const { return kind_ != Kind::List && kind_ != Kind::Record; }
    bool isFlat() const;
    std::string scalarText() const;
    void writeFlat(std::ostream& os) const;

    Kind kind_ = Kind::Null;
    bool lines_ = false;
    bool bool_ = false;
    int64_t int_ = 0;
    double real_ = 0;
    std::string text_;
    std::vector<std::pair<std::string, Node>> members_;
};

}  // namespace tq::dump
