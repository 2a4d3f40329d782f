// The operating system's error codes and their texts.
#pragma once

#include <string>

namespace tq {

// The calling thread's last system error code (errno).
int LastSystemError();

// Sets the calling thread's last system error code, as a host that restores
// a saved code expects the next LastSystemError() to give it.
void SetLastSystemError(int code);

// The system's message text for code, or an empty text when it has none.
std::string SystemErrorText(int code);

}  // namespace tq
