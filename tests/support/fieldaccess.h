// Reading and writing an object's fields by name, the way a host's property
// sheet does: through the signature's field lookup, so a test sees what the
// store shows and not the bytes behind it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "store/vals.h"

namespace tq {

class InterObjRep;

int32_t getLong(InterObjRep* o, const char* name);
void setLong(InterObjRep* o, const char* name, int32_t v);
// The field's text; a null string reads as empty.
std::string getText(InterObjRep* o, const char* name);
void setText(InterObjRep* o, const char* name, const char* text);
InterObjRep* getObject(InterObjRep* o, const char* name);
void setObject(InterObjRep* o, const char* name, InterObjRep* v);

// The index list of a(i0, ..., in) as a call pushes it: the last index first.
ValueList Indices(std::initializer_list<int32_t> idx);
// Element (i0, ..., in) of the array field `name` of o, read and written in
// place.
ValuePtr Element(InterObjRep* o, const char* name, std::initializer_list<int32_t> idx);
inline ValuePtr Element(InterObjRep* o, const char* name, int32_t i) { return Element(o, name, {i}); }

}  // namespace tq
