// Printable: where the language's Print statement writes.
//
// The store does not own an output device. A Print statement without a
// target object writes to the host's current sink
// (StoreApplication::GetCurrentPrintable); one with a target writes to the
// sink the target's compiled part offers. The statement hands the sink its
// items one by one, with the separator written before each, and ends with
// the statement's last separator; how they are laid out is the sink's.
//
// Separators, as the statement stores them: 0 a comma, 1 a semicolon, 2
// none. A statement without a trailing separator stores 2 as its last one.
//
// TextPrintable is the layout the default application uses, written as
// text through write(): numbers and strings in the forms of their string
// conversions; a comma moves to the start of the next 14-column zone, a
// semicolon joins; Spc(n) writes n spaces; Tab(n) moves to column n
// (counted from 1), on the next line when the line is already past it; a
// statement that does not end in a separator ends its line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tq {

class ValString;

enum PrintSeparator : int32_t {
    PRINT_COMMA = 0,
    PRINT_SEMICOLON = 1,
    PRINT_NO_SEPARATOR = 2,
};

class Printable {
public:
    virtual ~Printable() = default;

    // The sink's operations, in the order of its table.
    virtual void printInteger(int16_t v) = 0;
    virtual void printLong(int32_t v) = 0;
    virtual void printSingle(float v) = 0;
    virtual void printDouble(double v) = 0;
    // length bytes of text, which may hold NULs.
    virtual void printString(const char* text, size_t length) = 0;
    virtual void space(int16_t n) = 0;
    virtual void tab(int16_t n) = 0;
    // The separator written before the next item.
    virtual void separator(int32_t sep) = 0;
    // The statement's last separator: the statement ends here.
    virtual void endOfStatement(int32_t lastSep) = 0;
};

class TextPrintable : public Printable {
public:
    static constexpr int32_t kZoneWidth = 14;

    void printInteger(int16_t v) override;
    void printLong(int32_t v) override;
    void printSingle(float v) override;
    void printDouble(double v) override;
    void printString(const char* text, size_t length) override;
    void space(int16_t n) override;
    void tab(int16_t n) override;
    void separator(int32_t sep) override;
    void endOfStatement(int32_t lastSep) override;

    // The column the next character goes to, from 0.
    int32_t column() const { return column_; }

protected:
    // Writes text as it is; the column follows it.
    virtual void write(const char* text, size_t length) = 0;

private:
    void printText(const ValString& s);
    void put(const char* text, size_t length);
    void pad(int32_t n);
    void nextZone();

    int32_t column_ = 0;
};

// Standard output (stdio's stdout, so that a host's own printf output and
// the program's stay in order).
class StdoutPrintable final : public TextPrintable {
protected:
    void write(const char* text, size_t length) override;
};

}  // namespace tq
