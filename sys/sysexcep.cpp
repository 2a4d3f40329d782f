#include "sys/sysexcep.h"

#include <cerrno>
#include <cmath>

namespace tq::sys {

namespace {

std::string Number(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) return std::to_string(static_cast<long long>(v));
    return std::string(static_cast<const char*>(ValString(v)));
}

}  // namespace

SysError::SysError(const char* className, const std::string& text, std::string subject)
    : StoreException(text.c_str(), className), subject_(std::move(subject)) {}

std::unique_ptr<ValueList> SysError::args() const {
    auto list = std::make_unique<ValueList>();
    list->append(ValuePtr(new StringValue(ValString(subject_))));
    return list;
}

void ThrowFileError(const std::string& doing, const std::string& path, int code) {
    const bool missing = code == ENOENT;
    throw SysError(missing ? "FileNotFound" : "FileError", doing + " " + path + ": " + SystemErrorText(code), path);
}

void ThrowEndOfFile(const std::string& path) {
    throw SysError("EndOfFile", "Input past end of file: " + path, path);
}

void ThrowFormatError(const std::string& pattern, const std::string& why) {
    throw SysError("FormatError", "Invalid format pattern \"" + pattern + "\": " + why, pattern);
}

void ThrowOutOfRange(const char* what, double value, double low, double high) {
    throw SysError("ArgumentError",
                   std::string(what) + " " + Number(value) + " is out of range (" + Number(low) + " to " +
                       Number(high) + ")",
                   Number(value));
}

}  // namespace tq::sys
