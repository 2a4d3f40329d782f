// GenericStackPusher: the arguments of a foreign call, as the values give
// them.
//
// A declared DLL procedure or a compiled method is called with the
// interpreter's argument values in native form. Each value adds itself here,
// by value (Value::getStackPusher) or by reference
// (Value::getByRefStackPusher), in the order of the argument list; the
// foreign-call layer then turns the collected arguments into the native call.
// The forms are those of the native argument block:
//
//   form          native argument            from
//   ARG_SHORT     16-bit integer             Integer by value
//   ARG_LONG      32-bit integer             Long by value
//   ARG_FLOAT     32-bit float               Single by value
//   ARG_DOUBLE    64-bit double              Double by value
//   ARG_CURRENCY  64-bit double, hundredths  Currency by value
//   ARG_STRING    address of NUL-ended text  String by value
//   ARG_OBJECT    address of the object      Object by value
//                 handle
//   ARG_ADDRESS   address of the storage     any value by reference
//
// Addresses stay valid only while the values that gave them live: the
// caller keeps its argument list alive across the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tq {

class GenericStackPusher {
public:
    enum tArgForm : uint8_t {
        ARG_SHORT,
        ARG_LONG,
        ARG_FLOAT,
        ARG_DOUBLE,
        ARG_CURRENCY,
        ARG_STRING,
        ARG_OBJECT,
        ARG_ADDRESS,
    };

    struct Arg {
        tArgForm form;
        union {
            int16_t s;
            int32_t l;
            float f;
            double d;             // ARG_DOUBLE, and ARG_CURRENCY's hundredths
            const char* text;     // ARG_STRING
            const void* address;  // ARG_OBJECT, ARG_ADDRESS
        };
    };

    void pushShort(int16_t v);
    void pushLong(int32_t v);
    void pushFloat(float v);
    void pushDouble(double v);
    void pushCurrency(double hundredths);
    void pushString(const char* text);
    void pushObject(const void* handle);
    void pushAddress(void* storage);

    size_t count() const { return args_.size(); }
    const Arg& operator[](size_t i) const { return args_[i]; }
    auto begin() const { return args_.begin(); }
    auto end() const { return args_.end(); }
    void clear() { args_.clear(); }

private:
    std::vector<Arg> args_;
};

}  // namespace tq
