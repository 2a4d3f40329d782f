// The system library (sys/tqsys.h) in a program that holds the store linked
// in: every tessaro command publishes it when its Session starts, before it
// loads a module, so that programs name Console, TextFile, DateTime, ... as
// the store's own classes.
#pragma once

namespace tessaro {

// Declares the library's code linked into this program as the library
// "tqsys" and publishes it through ObjectStore::PublishObjectDLL, as a host
// linked with libtqstore.so publishes libtqsys.so. Raises the store's
// exception when publishing fails.
void LoadSystemLibrary();

// The status a run ends with: a Function Main's number when Main gave one
// (hasValue), else what the program set in System.ExitCode, else status.
int ProgramExitStatus(int status, bool hasValue);

}  // namespace tessaro
