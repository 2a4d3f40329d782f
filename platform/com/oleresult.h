// OleResult: turns a failed HRESULT into text.
//
// Check() is the one place that decides whether a result is a failure and, if
// so, what to tell the user; callers (OleException::Check) throw with the text
// it leaves behind. The text buffer is process-wide: like every message buffer
// of the store it is written on the interpreter's thread only.
#pragma once

#include <string>

#include "platform/com/hresult.h"

namespace tq {

class OleResult {
public:
    // Non-zero when hr is a failure; the failure's text is then available
    // from Message() until the next failing Check. Success codes, S_FALSE
    // among them, return 0 and leave the text alone.
    static int Check(HRESULT hr, const char* context);

    // The text of the last failure: "<context>: <meaning> (HRESULT 0x8000....)".
    static const std::string& Message();

    // The meaning of a result code: "No such interface supported", ...
    static const char* Describe(HRESULT hr);
};

}  // namespace tq
