// Forward declarations of the object model: signatures, objects, fields,
// enumerations, arrays and the handles and lists through which they are
// held.
#pragma once

#include <cstdint>

namespace tq {

class SignatureRep;
class Signature;
class PrimSignature;
class UncountedIndirectSignature;

class InterObjRep;
class NamedInterObjRep;
class EmbeddedInterObjRep;
class InterObj;
class PrimInterObj;
class IndirectInterObj;
class CountedIndirectInterObj;
class IInterObj;

class Field;
class DataField;
class InterDataField;
class ObjectDataField;
class InterObjField;
class StrictInterObjField;
class InterObjReference;
class EmbedObjField;
class InterProcDataField;
class InterArrayField;
class ArrayReferenceField;
class InterEnumField;
class InterEnumReference;
class InterProcEnumField;
class MethodField;
class FieldPtrList;

class EventDef;
class EventDefPtrList;

class EnumRep;
class EnumEntryList;

class Value;
class ValueList;
class ValuePtr;
class Member;
class MemberPtr;
class ValString;
class Currency;

}  // namespace tq
