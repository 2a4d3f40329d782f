// XException: the base of every exception the library throws.
//
// It carries the message text and a flags word. Hosts may catch everything the
// library raises as std::exception; what() gives the message text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace tq {

class XException : public std::exception {
public:
    XException() = default;
    explicit XException(const char* text) : text_(text ? text : "") {}
    explicit XException(std::string text) : text_(std::move(text)) {}

    const char* what() const noexcept override { return text_.c_str(); }
    const std::string& message() const noexcept { return text_; }
    void setMessage(std::string text) { text_ = std::move(text); }

    // Flag bits used by the store: 0x1 execution control, 0x4 thrown by the
    // program. The rest are free for hosts.
    uint32_t flags = 0;

private:
    std::string text_;
};

}  // namespace tq
