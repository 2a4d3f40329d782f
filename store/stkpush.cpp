#include "store/stkpush.h"

namespace tq {

void GenericStackPusher::pushShort(int16_t v) {
    Arg a{ARG_SHORT, {}};
    a.s = v;
    args_.push_back(a);
}

void GenericStackPusher::pushLong(int32_t v) {
    Arg a{ARG_LONG, {}};
    a.l = v;
    args_.push_back(a);
}

void GenericStackPusher::pushFloat(float v) {
    Arg a{ARG_FLOAT, {}};
    a.f = v;
    args_.push_back(a);
}

void GenericStackPusher::pushDouble(double v) {
    Arg a{ARG_DOUBLE, {}};
    a.d = v;
    args_.push_back(a);
}

void GenericStackPusher::pushCurrency(double hundredths) {
    Arg a{ARG_CURRENCY, {}};
    a.d = hundredths;
    args_.push_back(a);
}

void GenericStackPusher::pushString(const char* text) {
    Arg a{ARG_STRING, {}};
    a.text = text;
    args_.push_back(a);
}

void GenericStackPusher::pushObject(const void* handle) {
    Arg a{ARG_OBJECT, {}};
    a.address = handle;
    args_.push_back(a);
}

void GenericStackPusher::pushAddress(void* storage) {
    Arg a{ARG_ADDRESS, {}};
    a.address = storage;
    args_.push_back(a);
}

}  // namespace tq
