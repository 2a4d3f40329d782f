#include "store/stkpush.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace tq {

GenericStackPusher::Arg& GenericStackPusher::add(tArgForm form) {
    if (count_ == capacity_) grow();
    Arg* a = new (data_ + count_) Arg{};
    a->form = form;
    ++count_;
    return *a;
}

void GenericStackPusher::grow() {
    const size_t capacity = capacity_ * 2;
    std::unique_ptr<unsigned char[]> bigger(new unsigned char[capacity * sizeof(Arg)]);
    Arg* moved = reinterpret_cast<Arg*>(bigger.get());
    for (size_t i = 0; i < count_; ++i) {
        new (moved + i) Arg(std::move(data_[i]));
        data_[i].~Arg();
    }
    heap_ = std::move(bigger);
    data_ = moved;
    capacity_ = capacity;
}

void GenericStackPusher::clear() {
    for (size_t i = count_; i-- > 0;) data_[i].~Arg();
    count_ = 0;
}

void GenericStackPusher::pushCurrency(double hundredths) {
    // 2^63 as a double: the first value a 64-bit integer cannot hold.
    constexpr double kLimit = 9223372036854775808.0;
    int64_t c = 0;
    const double r = std::nearbyint(hundredths);
    if (std::isnan(r))
        c = 0;
    else if (r >= kLimit)
        c = INT64_MAX;
    else if (r < -kLimit)
        c = INT64_MIN;
    else
        c = static_cast<int64_t>(r);
    add(ARG_CURRENCY).c = c;
}

void GenericStackPusher::pushString(const ValString& text) {
    Arg& a = add(ARG_STRING);
    a.str = text;
    const char* t = a.str;
    a.text = t ? t : "";
}

void GenericStackPusher::pushObject(ValuePtr holder) {
    Arg& a = add(ARG_OBJECT);
    a.address = holder->getVoidPtr();
    a.held = std::move(holder);
}

void GenericStackPusher::pushCurrencyRef(Value& v) {
    const double hundredths = v.as<Currency>().hundredths();
    pushCurrency(hundredths);
    Arg& a = data_[count_ - 1];
    a.form = ARG_CURRENCY_REF;
    a.held = ValuePtr(&v);
}

void GenericStackPusher::pushStringRef(Value& v) {
    const ValString s = v.as<ValString>();
    const char* t = s;
    const size_t length = t ? std::strlen(t) : 0;
    std::unique_ptr<char[]> copy(new char[length + 1]);
    if (length) std::memcpy(copy.get(), t, length);
    copy[length] = '\0';
    Arg& a = add(ARG_STRING_REF);
    a.slot = copy.get();
    a.copy = std::move(copy);
    a.copyLength = length;
    a.held = ValuePtr(&v);
}

void GenericStackPusher::writeBack() {
    for (size_t i = 0; i < count_; ++i) {
        Arg& a = data_[i];
        if (a.form == ARG_CURRENCY_REF) {
            a.held->set(Currency::FromHundredths(static_cast<double>(a.c)));
        } else if (a.form == ARG_STRING_REF) {
            // The copy may have lost its NUL to the callee: it is read no
            // further than its own length.
            if (a.slot == a.copy.get())
                a.held->set(ValString(std::string_view(a.slot, strnlen(a.slot, a.copyLength))));
            else
                a.held->set(ValString(a.slot ? a.slot : ""));
        }
    }
}

}  // namespace tq
