// DatumAccess: the fourteen typed get and set overrides of a Value that
// reaches its datum its own way (a frame local, a parameter, a field kept in
// place), written once.
//
// Base is the Value class the member refines; Self provides
//   template <class X> void readAs(X& out) const;
//   template <class X> void writeFrom(const X& v);
// and names DatumAccess a friend when they are private.
#pragma once

#include "store/currency.h"
#include "store/vals.h"

namespace tq {

template <class Base, class Self>
class DatumAccess : public Base {
public:
    using Base::Base;

    void get(int16_t& out) const override { self().readAs(out); }
    void get(int32_t& out) const override { self().readAs(out); }
    void get(float& out) const override { self().readAs(out); }
    void get(double& out) const override { self().readAs(out); }
    void get(Currency& out) const override { self().readAs(out); }
    void get(ValString& out) const override { self().readAs(out); }
    void get(InterObj& out) const override { self().readAs(out); }
    void set(int16_t v) override { self().writeFrom(v); }
    void set(int32_t v) override { self().writeFrom(v); }
    void set(float v) override { self().writeFrom(v); }
    void set(double v) override { self().writeFrom(v); }
    void set(const Currency& v) override { self().writeFrom(v); }
    void set(const ValString& v) override { self().writeFrom(v); }
    void set(const InterObj& v) override { self().writeFrom(v); }

private:
    const Self& self() const { return static_cast<const Self&>(*this); }
    Self& self() { return static_cast<Self&>(*this); }
};

}  // namespace tq
