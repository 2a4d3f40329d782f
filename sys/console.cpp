#include "sys/console.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/util/cnumber.h"
#include "sys/linereader.h"
#include "sys/sysexcep.h"

namespace tq::sys {

namespace {

constexpr const char* kInputName = "(standard input)";

LineReader& Input() {
    static auto* const reader = new LineReader(stdin, kInputName, true);
    return *reader;
}

std::string ReadInputLine() {
    FlushOutput();
    std::string line;
    if (!Input().next(line)) ThrowEndOfFile(kInputName);
    return line;
}

// Where Print writes, so that a host that takes the program's output
// takes its questions too; the line stays open for the answer.
void WritePrompt(const char* prompt) {
    if (!prompt || !*prompt) return;
    if (Printable* out = StoreApplication::GetCurrentPrintable())
        out->printString(prompt, std::strlen(prompt));
    else
        std::fputs(prompt, stdout);
}

// The number a whole line gives, blanks around it allowed; false when the
// line holds anything else.
bool ParseNumber(const std::string& line, double& value) {
    const char* start = line.c_str();
    while (std::isspace(static_cast<unsigned char>(*start))) ++start;
    if (!*start) return false;
    const char* end = nullptr;
    value = CStrToD(start, &end);
    if (end == start) return false;
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    return *end == '\0';
}

}  // namespace

void FlushOutput() { std::fflush(stdout); }

PublishedClass& Console::Class() {
    static PublishedClass cls("Tessaro.Console", "Console", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F01}",
                              [](DllServer* server) -> IInterObj* { return new Console(server); });
    return cls;
}

void Console::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        sig.addField(CompProcEnumField::make("EOF", EnsureBooleanEnum(), NoSetter, Method(&Console::pdGetEOF)),
                     nullptr, 0);
        ParseCppField("Function ReadLine() As String", sig, &Console::imReadLine);
        ParseCppField("Function Prompt(ByVal question As String) As String", sig, &Console::imPrompt);
        ParseCppField("Function ReadNumber(ByVal question As String) As Double", sig, &Console::imReadNumber);
        ParseCppField("Sub WriteError(ByVal text As String)", sig, &Console::imWriteError);
    });
}

int32_t Console::pdGetEOF() {
    FlushOutput();
    return Input().atEnd() ? -1 : 0;
}

ValString Console::imReadLine() { return ValString(ReadInputLine()); }

ValString Console::imPrompt(const char* prompt) {
    WritePrompt(prompt);
    return ValString(ReadInputLine());
}

// As BASIC's Input does: a line that is no number is asked for again, so a
// typing slip does not end the program; the end of input does.
double Console::imReadNumber(const char* prompt) {
    for (;;) {
        WritePrompt(prompt);
        const std::string line = ReadInputLine();
        double value = 0;
        if (ParseNumber(line, value)) return value;
        std::fputs("?Redo from start\n", stderr);
    }
}

void Console::imWriteError(const char* text) {
    FlushOutput();
    std::fputs(text ? text : "", stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace tq::sys
