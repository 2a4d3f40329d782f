// The failures of the system library: each a StoreException of its own
// class name, carrying the path or the value it concerns, so that a
// program writes `Catch FileNotFound(path As String)`.
//
//   FileNotFound   a file or folder that does not exist
//   FileError      anything else the system refused (permission, a folder
//                  where a file is wanted, a full disk), with its text
//   EndOfFile      reading past the end of a file or of standard input
//   FormatError    a number pattern that does not parse
//   ArgumentError  a value outside what a member takes (a date part, an
//                  index, a negative width)
#pragma once

#include <memory>
#include <string>

#include <tqstore/tqstore.h>

namespace tq::sys {

class SysError final : public StoreException {
public:
    SysError(const char* className, const std::string& text, std::string subject);
    SysError* Clone() const override { return new SysError(*this); }
    [[noreturn]] void Throw() const override { throw SysError(*this); }
    // The subject (path or value) as a String.
    std::unique_ptr<ValueList> args() const override;
    const std::string& subject() const { return subject_; }

private:
    std::string subject_;
};

// FileNotFound when code is ENOENT, else FileError (a file where a folder
// is wanted is no missing file); the text says what was being done, the path and the system's
// reason: "Cannot open notes.txt for reading: Permission denied".
[[noreturn]] void ThrowFileError(const std::string& doing, const std::string& path, int code);
[[noreturn]] void ThrowEndOfFile(const std::string& path);
[[noreturn]] void ThrowFormatError(const std::string& pattern, const std::string& why);
// "<what> <value> is out of range (<low> to <high>)".
[[noreturn]] void ThrowOutOfRange(const char* what, double value, double low, double high);

}  // namespace tq::sys
