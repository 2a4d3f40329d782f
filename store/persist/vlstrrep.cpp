#include "store/persist/vlstrrep.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>

#include "platform/storage/oclstream.h"
#include "platform/util/cnumber.h"
#include "platform/util/money.h"
#include "platform/util/regexp.h"
#include "platform/util/uassert.h"
#include "store/errors/extexcep.h"
#include "store/idtype.h"
#include "store/valconv.h"
#include "store/valops.h"

namespace tq {

namespace {

template <class Int>
std::string IntegerText(Int n) {
    char buf[16];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, r.ptr);
}

// The text of printf's "%.64g" without digits past the number's precision:
// the shortest digits that read back to the same number of its own type (a
// Single's 0.1 is "0.1", not the digits of the double it widens to), laid
// out as "%g" lays them out with precision 64 (plain digits when the
// decimal exponent X satisfies -4 <= X < 64, else d.ddde+XX; no trailing
// zeros).
template <class Real>
std::string NumberText(Real d) {
    if (std::isnan(d)) return std::signbit(d) ? "-nan" : "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
    const size_t e = sci.find('e');
    const bool negative = sci[0] == '-';
    std::string digits;
    for (char c : sci.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
        if (c != '.') digits += c;
    const int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());

    std::string out = negative ? "-" : "";
    const int n = static_cast<int>(digits.size());
    if (exponent >= -4 && exponent < 64) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += digits;
        } else if (n <= exponent + 1) {
            out += digits;
            out.append(static_cast<size_t>(exponent + 1 - n), '0');
        } else {
            out.append(digits, 0, static_cast<size_t>(exponent + 1));
            out += '.';
            out.append(digits, static_cast<size_t>(exponent + 1));
        }
        return out;
    }
    out += digits[0];
    if (n > 1) {
        out += '.';
        out.append(digits, 1);
    }
    char exp[24];
    std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return out + exp;
}

// Text to a 32-bit integer, for Integer (type 1) and Long (type 2).
int32_t TextToLong(const char* text, IdType type) {
    const char* end = nullptr;
    const double d = CStrToD(text, &end);
    if (*end == '\0') return TruncateToLong(d);
    const char* p = text;
    int radix = 0;
    if (p[0] == '&' && std::toupper(static_cast<unsigned char>(p[1])) == 'H') {
        p += 2;
        radix = 16;
    }
    const uint32_t u = CStrToUL32(p, radix, &end);
    if (*end != '\0') throw ConvertFailed("", type);
    return static_cast<int32_t>(u);
}

// The locale's money text as an amount, or false.
bool MoneyAmount(const char* text, double* amount) {
    double hundredths = 0;
    if (!RWLocale::global().stringToMoney(&hundredths, text, RWLocale::LOCAL)) return false;
    *amount = hundredths * 0.01;
    return true;
}

std::string CurrencyText(const Currency& c) {
    return RWLocale::global().moneyAsString(c.hundredths(), RWLocale::LOCAL);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

// ---- ValStringRep ---------------------------------------------------------------

ValStringRep::ValStringRep(const char* text) : text_(text ? text : "") {}
ValStringRep::ValStringRep(int16_t n) : text_(IntegerText(n)) {}
ValStringRep::ValStringRep(int32_t n) : text_(IntegerText(n)) {}
ValStringRep::ValStringRep(float d) : text_(NumberText(d)) {}
ValStringRep::ValStringRep(double d) : text_(NumberText(d)) {}
ValStringRep::ValStringRep(const Currency& c) : text_(CurrencyText(c)) {}
ValStringRep::ValStringRep(const ValString& other) {
    if (const ValStringRep* rep = other.get()) text_ = rep->text_;
}

// The descriptor is set only once the whole record has been read: a record
// that fails to read must not report its entry deleted when the half-made
// representation goes.
ValStringRep::ValStringRep(OCLStream& in, uint32_t, tModuleIndex m, uint32_t index) {
    const uint16_t count = in.readU16();
    const uint32_t n = in.readU32();
    if (n == 0 || n > in.remaining()) {
        const std::string what = std::string(storageName) + " entry " + std::to_string(index) +
                                 (n == 0 ? ": text length is 0" : ": text runs past the end of the stream");
        throw ObjectLoadFailed(what.c_str());
    }
    text_.resize(n - 1);
    in.read(text_.data(), n - 1);
    in.readU8();
    setRefCount(count);
    countFromFile_ = true;
    desc_ = tDescriptor::Make(m, index);
}

ValStringRep* ValStringRep::readFromStream(OCLStream& in, uint32_t version, tModuleIndex m,
                                           uint32_t index) {
    return new ValStringRep(in, version, m, index);
}

void ValStringRep::write(OCLStream& out) const {
    if (text_.size() >= 0xFFFFFFFFu)
        throw StoreException("ValStringRep::write(): string too long for a module record");
    out.writeU16(refCount());
    out.writeU32(static_cast<uint32_t>(text_.size() + 1));
    out.write(text_.data(), text_.size());
    out.writeU8(0);
}

void ValStringRep::deref() {
    if (refCount() == 0) {
        TQ_ASSERT(!isDetached(), "refCount() > 0");
        return;
    }
    if (dropCount() && isDetached()) delete this;
}

void ValStringRep::discardIfUnnamed() {
    if (refCount() == 0 && !isDetached() && !countFromFile_) delete this;
}

void ValStringRep::assign(std::string_view text) {
    changed();
    text_.assign(text);
}

// A String that grows in place is refused, as a new one is, before it
// holds more characters than Len counts.
void ValStringRep::append(std::string_view text) {
    CheckStringLength(text_.size() + text.size());
    changed();
    text_.append(text);
}

void ValStringRep::appendInteger(int32_t n) { append(IntegerText(n)); }

ValStringRep::operator int16_t() const {
    return static_cast<int16_t>(static_cast<uint16_t>(TextToLong(text_.c_str(), IDT_SHORT)));
}

ValStringRep::operator int32_t() const { return TextToLong(text_.c_str(), IDT_LONG); }

ValStringRep::operator float() const {
    const char* end = nullptr;
    const double d = CStrToD(text_.c_str(), &end);
    if (*end != '\0') throw ConvertFailed("ValStringRep::operator float()", IDT_FLOAT);
    return NarrowToFloat(d);
}

ValStringRep::operator double() const {
    const char* end = nullptr;
    const double d = CStrToD(text_.c_str(), &end);
    if (*end == '\0') return d;
    double amount = 0;
    if (MoneyAmount(text_.c_str(), &amount)) return amount;
    throw ConvertFailed("ValStringRep::operator double()", IDT_DOUBLE);
}

ValStringRep::operator Currency() const {
    double amount = 0;
    if (MoneyAmount(text_.c_str(), &amount)) return Currency(amount);
    const char* end = nullptr;
    const double d = CStrToD(text_.c_str(), &end);
    if (*end != '\0') throw ConvertFailed("ValStringRep::operator Currency()", IDT_CURRENCY);
    return Currency(d);
}

size_t ValStringRep::countRegExp(const RWCRegexp& re) const {
    size_t count = 0;
    size_t pos = 0;
    do {
        size_t length = 0;
        const size_t start = re.index(text_, &length, pos);
        if (start == RWCRegexp::npos) break;
        ++count;
        pos = start + (length != 0 ? length : 1);
    } while (pos < text_.size());
    return count;
}

void ValStringRep::readFile(const char* path) {
    changed();
    const auto fail = [path]() { throw StoreException(32678u, path ? path : ""); };
    if (!path) fail();
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path, "rb"));
    if (!f) fail();
    if (std::fseek(f.get(), 0, SEEK_END) != 0) fail();
    const long size = std::ftell(f.get());
    if (size < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) fail();
    // The size only reserves room, and no more than kMaxReserve of it: a file
    // that grows or shrinks meanwhile is read to its actual end, and a folder
    // (whose "size" can be anything) fails at the first read.
    constexpr long kMaxReserve = 64L << 20;
    std::string content;
    content.reserve(static_cast<size_t>(std::min(size, kMaxReserve)));
    char buffer[64 * 1024];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f.get())) != 0) content.append(buffer, got);
    if (std::ferror(f.get())) fail();
    text_.swap(content);
}

void ValStringRep::printOn(std::ostream& os) const {
    const tDescriptor d = descriptor();
    os << "ValStringRep: count(" << refCount() << ") descriptor(" << unsigned(d.moduleIndex())
       << ", " << d.descIndex() << ")\n";
}

// ---- ValString ------------------------------------------------------------------

ValString::ValString(const char* text) : Faultp<ValStringRep>(new ValStringRep(text)) {}
ValString::ValString(int16_t n) : Faultp<ValStringRep>(new ValStringRep(n)) {}
ValString::ValString(int32_t n) : Faultp<ValStringRep>(new ValStringRep(n)) {}
ValString::ValString(float d) : Faultp<ValStringRep>(new ValStringRep(d)) {}
ValString::ValString(double d) : Faultp<ValStringRep>(new ValStringRep(d)) {}
ValString::ValString(const Currency& c) : Faultp<ValStringRep>(new ValStringRep(c)) {}
ValString::ValString(const std::string& text) : Faultp<ValStringRep>(new ValStringRep(text)) {}
ValString::ValString(std::string_view text) : Faultp<ValStringRep>(new ValStringRep(text)) {}
// The size is that of the String being made (a concatenation's): one past
// what Len counts is refused before its memory is taken.
ValString::ValString(tConstructWithSize, size_t capacity)
    : Faultp<ValStringRep>((CheckStringLength(capacity), new ValStringRep(ConstructWithSize, capacity))) {}

ValString::operator int16_t() const {
    const ValStringRep* rep = get();
    return rep ? static_cast<int16_t>(*rep) : int16_t(0);
}

ValString::operator int32_t() const {
    const ValStringRep* rep = get();
    return rep ? static_cast<int32_t>(*rep) : 0;
}

ValString::operator float() const {
    const ValStringRep* rep = get();
    return rep ? static_cast<float>(*rep) : 0.0f;
}

ValString::operator double() const {
    const ValStringRep* rep = get();
    return rep ? static_cast<double>(*rep) : 0.0;
}

ValString::operator Currency() const {
    const ValStringRep* rep = get();
    return rep ? static_cast<Currency>(*rep) : Currency();
}

ValString::operator const char*() const {
    const ValStringRep* rep = get();
    return rep ? rep->c_str() : nullptr;
}

std::string_view ValString::view() const {
    const ValStringRep* rep = get();
    return rep ? std::string_view(rep->text()) : std::string_view();
}

ValString& ValString::operator+=(const ValString& other) {
    ValStringRep* rep = get();
    TQ_ASSERT(rep != nullptr, "!isNull()");
    const ValStringRep* tail = other.get();
    // Appending a string to itself reads the text before it grows.
    if (tail == rep)
        rep->append(std::string(rep->text()));
    else if (tail)
        rep->append(tail->text());
    else
        rep->changed();
    return *this;
}

void ValString::copy(const char* text) {
    if (ValStringRep* rep = get()) {
        rep->assign(text ? std::string_view(text) : std::string_view());
        return;
    }
    *this = ValString(text);
}

void ValString::copy(const ValString& src) {
    const ValStringRep* from = src.get();
    if (ValStringRep* rep = get()) {
        if (rep != from) rep->assign(from ? std::string_view(from->text()) : std::string_view());
        else rep->changed();
        return;
    }
    ValStringRep* made = from ? new ValStringRep(*from) : new ValStringRep();
    *this = ValString(made);
    if (from && !from->isDetached()) made->attach(from->moduleIndex());
}

// ---- PrimValString --------------------------------------------------------------

PrimValString::PrimValString(const char* text)
    : Faultp<ValStringRep>(PrimaryReference, new ValStringRep(text)) {
    get()->ref();
}

PrimValString::~PrimValString() {
    if (ValStringRep* rep = get()) rep->deref();
}

PrimValString::operator const char*() const {
    const ValStringRep* rep = get();
    return rep ? rep->c_str() : nullptr;
}

}  // namespace tq
