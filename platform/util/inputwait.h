// Waiting for input on a stdio stream in short turns, so that a program
// blocked on the keyboard can still be stopped: the caller checks for a
// user break between turns. (SIGINT is installed with SA_RESTART by hosts,
// so a blocking read would not return to let them look.)
#pragma once

#include <cstdio>

namespace tq {

// True when reading a byte of stream would not wait: the stream holds
// buffered input, or its descriptor is readable, at its end, or failed.
// Otherwise waits up to timeoutMs milliseconds for that and answers again.
// A stream with no descriptor, or a C library whose buffer cannot be seen,
// answers true at once (the read then waits as it always did).
bool InputReady(std::FILE* stream, int timeoutMs);

}  // namespace tq
