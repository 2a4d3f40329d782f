#include "platform/com/oleresult.h"

#include <cstdio>

namespace tq {
namespace {

// Never destroyed, like the library's other process-wide state.
std::string& LastMessage() {
    static auto* const text = new std::string;
    return *text;
}

}  // namespace

const char* OleResult::Describe(HRESULT hr) {
    switch (hr) {
    case S_OK: return "Success";
    case S_FALSE: return "Success (false)";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_FAIL: return "Unspecified error";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation";
    case CLASS_E_CLASSNOTAVAILABLE: return "Class not available";
    case E_OUTOFMEMORY: return "Not enough memory";
    case E_INVALIDARG: return "Invalid argument";
    default: return FAILED(hr) ? "Unknown failure" : "Success";
    }
}

int OleResult::Check(HRESULT hr, const char* context) {
    if (SUCCEEDED(hr)) return 0;
    char code[32];
    std::snprintf(code, sizeof code, " (HRESULT 0x%08X)", static_cast<unsigned>(hr));
    std::string& text = LastMessage();
    text.clear();
    if (context && *context) {
        text += context;
        text += ": ";
    }
    text += Describe(hr);
    text += code;
    return 1;
}

const std::string& OleResult::Message() { return LastMessage(); }

}  // namespace tq
