// The source text of a signature, produced from the store: what a text
// module holds of an object between "Begin Object" and "End Object".
//
// For an object that owns its signature (a prototype), in this order:
//  1. the declarations of its own data fields, one a line, as the fields
//     print them (declarationText: "Dim Count As Integer", "Protected
//     Name As String", "Const Limit% = 10", "Dim Grid(1 To 3, 4) As
//     Long", "Dim Owner As Form", "Dim Child As New Shape");
//  2. its own events, "Event Name(arguments)";
//  3. the initial values of its data fields (InterObjRep::textUnload), only
//     those that differ from the parent's prototype;
//  4. its interpreted procedures, each as getSource gives it (the
//     regenerated text of a compiled one, the stored text of one that is
//     not compiled);
//  5. each embedded prototype as "Type Name [From Root]", its own text one
//     step in, and "End Type".
// A clone gives only the values that differ from its prototype's.
//
// Every line starts with indent and ends with "\r\n", as printed procedures
// do (a saver that wants "\n" turns them over once).
#pragma once

#include <string>

namespace tq {

class InterObjRep;

std::string SignatureText(InterObjRep& obj, const std::string& indent = "");

}  // namespace tq
