// libtqsys: the system library of the language's programs.
//
// What a program run from a shell needs beyond the store's own ten
// classes, published as built-in classes of an extension library through
// the same protocol (POD_Populate, PublishedClass), so that the store stays
// its ten classes and every class here is one a host may leave out:
//
//   Console     standard input and error: lines, numbers with a prompt,
//               end of input
//   TextFile    a text file read or written line by line; closed when the
//               object goes
//   FileSystem  whole-file reads and writes, exists, delete, rename,
//               folders
//   DateTime    the calendar now (local or UTC), Timer seconds, Sleep
//   Stopwatch   elapsed seconds on the monotonic clock
//   System      environment variables, the exit status, the process id
//   Text        number patterns (Format), Split, Join, Replace, padding
//   TextList    the list of texts Split and ListFolder give
//
// Failures are StoreExceptions whose class names a program catches
// (sysexcep.h): FileNotFound, FileError, EndOfFile, FormatError,
// ArgumentError, each with the path or the value as its argument.
//
// Built twice from the same objects: as libtqsys.so, whose POD_Populate a
// host linked with libtqstore.so publishes with
// ObjectStore::PublishObjectDLL("tqsys"), and into a program that holds the
// store linked in (the tessaro command), which declares Populate as the
// linked-in library "tqsys" (DynamicLibrary::ProvideLinkedLibrary) and
// publishes it by the same call.
#pragma once

#include <cstdint>

namespace tq::sys {

// Publishes every class of the library (what POD_Populate runs).
void Populate();

// The exit status a program asked for through System.ExitCode, or -1 when
// it set none.
int32_t RequestedExitStatus();

}  // namespace tq::sys
