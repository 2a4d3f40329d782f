// The parser of member declarations of built-in classes.
//
// A built-in class declares each method and event by a line of the
// language, "Sub Append(Obj as Object)" or "Event Tick(n As Long)", so that
// a class library states its members the way a program would write them.
// The parser reads one line through a small tokenizer of its own (keywords
// come from the language's keyword table) and, for a method, adds one
// parameter field per parameter to the method being made.
//
// A line that does not parse raises a StoreException whose text names the
// 1-based character position where reading stopped, the line and what was
// wrong:
//
//   Error near character position: <n> while processing line:
//
//   <declaration>
//
//   Description: <message>
//
// Positions: a character that may not appear at all (a quote, a digit, '&',
// '=', '<', '>') is reported at its own position; an unexpected token at the
// position just after it; the end of the line at the position after its
// last character.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "store/idtype.h"

namespace tq {

class MethodField;
class SignatureRep;

// What the first part of a method declaration says, for the maker of the
// method field: the name, Sub or Function, and a Function's return type
// (its class name for an Object return given by one; empty otherwise).
struct CppMethodHeader {
    std::string name;
    bool isFunction = false;
    IdType returnType = IDT_VOID;
    std::string returnClass;
};

// Makes the method field the declaration describes (named in the current
// module); the parser then defines its parameters and adds it to the
// signature.
using CppMethodMaker = std::function<MethodField*(const CppMethodHeader&)>;

// Declares a method from `declaration` on sig through make.
void ParseCppMethod(const char* declaration, SignatureRep& sig, const CppMethodMaker& make);

// Declares an event from `declaration` on sig: a definition of the same
// name on sig itself is replaced; one an ancestor holds stays.
void ParseCppEvent(const char* declaration, SignatureRep& sig);

}  // namespace tq
