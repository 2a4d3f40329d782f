// An extension library: two classes published to the language from a
// separately built shared library, through the same protocol as the
// library's own Group.
//
//   Counter     Property Increment As Long (read/write), Property Value As Long
//               (read-only), Sub Add(ByVal n As Long), Sub Reset(),
//               Function Describe(ByVal label As String) As String,
//               Event Reached(ByVal total As Long): raised when Value
//               passes a multiple of 10. Its state (Increment, Value) is saved
//               with the module that holds the object.
//   Transcript  a target for `Print #t, ...`: Function Text() As String,
//               Sub Clear().
//
// A host (or a program, through the module manager) publishes the library
// with ObjectStore::PublishObjectDLL("path/to/libcounter.so"), which runs
// POD_Populate below.
#include <tqstore/tqstore.h>

#include <string>

namespace {

using namespace tq;

class Counter final : public IInterObj {
public:
    static PublishedClass& Class() {
        static PublishedClass cls("Example.Counter", "Counter", "{6C1D0B5E-4F0B-4E55-9D2A-2A9E10C0C001}",
                                  [](DllServer* server) -> IInterObj* { return new Counter(server); });
        return cls;
    }

    explicit Counter(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override {
        DefineFields(sig, [&] {
            sig.addField(CompProcDataField::make("Increment", IDT_LONG, Method(&Counter::pdSetIncrement),
                                                 Method(&Counter::pdGetIncrement)),
                         nullptr, 0);
            sig.addField(CompProcDataField::make("Value", IDT_LONG, NoSetter, Method(&Counter::pdGetValue)),
                         nullptr, 0);
            ParseCppField("Sub Add(ByVal n As Long)", sig, &Counter::imAdd);
            ParseCppField("Sub Reset()", sig, &Counter::imReset);
            ParseCppField("Function Describe(ByVal label As String) As String", sig, &Counter::imDescribe);
            ParseCppEvent("Event Reached(ByVal total As Long)", sig);
        });
    }
    // Revision 1 writes Increment and Value, each a 32-bit integer.
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream& in, uint32_t) override {
        increment_ = in.readI32();
        value_ = in.readI32();
    }
    void PO_Write(OCLStream& out) override {
        out.writeI32(increment_);
        out.writeI32(value_);
    }
    const char* className() const override { return "Counter"; }
    // A copy starts where its original stands.
    void clone(const IInterObj& other) override {
        if (const auto* from = dynamic_cast<const Counter*>(&other)) {
            increment_ = from->increment_;
            value_ = from->value_;
        }
    }

    int32_t pdGetIncrement() { return increment_; }
    void pdSetIncrement(int32_t increment) {
        increment_ = increment;
        markChanged();
    }
    int32_t pdGetValue() { return value_; }

    void imAdd(int32_t n) {
        const int32_t before = value_;
        value_ += n * increment_;
        markChanged();
        // The owner's Reached handler runs as the language's own events do.
        if (owner() && value_ / 10 != before / 10) {
            ValueList args{ValuePtr(new LongValue(value_))};
            owner()->evalIEvent("Reached", &args, 0);
        }
    }
    void imReset() {
        value_ = 0;
        markChanged();
    }
    ValString imDescribe(const char* label) {
        return ValString((std::string(label ? label : "") + " = " + std::to_string(value_)).c_str());
    }

private:
    int32_t increment_ = 1;
    int32_t value_ = 0;
};

// The text printed on a Transcript, laid out as Print lays out its lines.
class Transcript final : public IInterObj {
public:
    static PublishedClass& Class() {
        static PublishedClass cls("Example.Transcript", "Transcript", "{6C1D0B5E-4F0B-4E55-9D2A-2A9E10C0C002}",
                                  [](DllServer* server) -> IInterObj* { return new Transcript(server); });
        return cls;
    }

    explicit Transcript(DllServer* server) : IInterObj(server) {}

    void PO_DefineFields(SignatureRep& sig) override {
        DefineFields(sig, [&] {
            ParseCppField("Function Text() As String", sig, &Transcript::imText);
            ParseCppField("Sub Clear()", sig, &Transcript::imClear);
        });
    }
    // The text is not kept with the module: revision 1 writes nothing.
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "Transcript"; }
    Printable* printSink() override { return &sink_; }

    ValString imText() { return ValString(sink_.text.c_str()); }
    void imClear() { sink_.text.clear(); }

private:
    struct Sink final : TextPrintable {
        std::string text;
        void write(const char* t, size_t n) override { text.append(t, n); }
    };
    Sink sink_;
};

}  // namespace

extern "C" void POD_Populate() {
    Counter::Class().PO_InitObject();
    Transcript::Class().PO_InitObject();
}
