// The operating system's error codes and their texts.
#pragma once

#include <string>

namespace tq {

// The calling thread's last system error code (errno).
int LastSystemError();

// The system's message text for code, or an empty text when it has none.
std::string SystemErrorText(int code);

}  // namespace tq
