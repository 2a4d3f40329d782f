// The default application's print layout.
#include "store/printable.h"


#include "store/persist/vlstrrep.h"

namespace tq {

namespace {

// Never more than this many spaces for one Spc or Tab: a program's number
// must not make the sink write without end.
constexpr int32_t kMaxPad = 32767;

}  // namespace

void TextPrintable::put(const char* text, size_t length) {
    write(text, length);
    // The column counts from the last line end written.
    for (size_t i = length; i-- > 0;) {
        if (text[i] == '\n') {
            column_ = static_cast<int32_t>(length - 1 - i);
            return;
        }
    }
    column_ += static_cast<int32_t>(length);
}

void TextPrintable::pad(int32_t n) {
    static const char spaces[] = "                                ";
    n = n > kMaxPad ? kMaxPad : n;
    while (n > 0) {
        const int32_t k = n < 32 ? n : 32;
        put(spaces, static_cast<size_t>(k));
        n -= k;
    }
}

void TextPrintable::nextZone() { pad(kZoneWidth - column_ % kZoneWidth); }

// The numbers print as their string conversions do.
void TextPrintable::printInteger(int16_t v) { printText(ValString(v)); }
void TextPrintable::printLong(int32_t v) { printText(ValString(v)); }
void TextPrintable::printSingle(float v) { printText(ValString(v)); }
void TextPrintable::printDouble(double v) { printText(ValString(v)); }

void TextPrintable::printText(const ValString& s) {
    if (const ValStringRep* rep = s.get()) printString(rep->text().data(), rep->text().size());
}

void TextPrintable::printString(const char* text, size_t length) { put(text, length); }

void TextPrintable::space(int16_t n) { pad(n); }

void TextPrintable::tab(int16_t n) {
    const int32_t target = n < 1 ? 0 : n - 1;
    if (column_ > target) put("\n", 1);
    pad(target - column_);
}

void TextPrintable::separator(int32_t sep) {
    if (sep == PRINT_COMMA) nextZone();
}

void TextPrintable::endOfStatement(int32_t lastSep) {
    if (lastSep == PRINT_COMMA)
        nextZone();
    else if (lastSep != PRINT_SEMICOLON)
        put("\n", 1);
}

void StdoutPrintable::write(const char* text, size_t length) { std::fwrite(text, 1, length, stdout); }

}  // namespace tq
