// Glue between the storage layer and libgsf: a GsfInput that reads a file
// descriptor with pread, a GsfOutput that writes one with pwrite, library
// set-up, and capture of libgsf's own complaints.
//
// Why our own input and output classes rather than libgsf's stdio ones:
//  - positional I/O, so that the shared descriptor never carries a file
//    position that another reader could disturb;
//  - every byte read is counted, so that tests and benchmarks can show that
//    opening reads only the container's tables and a record only its sectors;
//  - libgsf ignores most write results while it lays out a compound file; the
//    output remembers the first failure (sticky), so the commit that drove it
//    can refuse to install a file that was not written whole;
//  - the commit fault hook is called before every block written.
//
// libgsf reports damaged input through GLib warnings and criticals in its own
// log domains. They are captured instead of printed and handed to the error
// text of the failure that follows.
//
// libgsf is reached only through the table of gsfapi.h, which EnsureInit
// loads. This header includes libgsf and is only for the storage layer's own
// .cpp files.
#pragma once

#include <gsf/gsf.h>

#include <cstdint>
#include <functional>
#include <string>

namespace tq::gsfio {

// Loads and initialises libgsf and routes its log domains to the capture,
// once per process. Raises StorageError naming path (the file that needed
// it) when the library cannot be loaded.
void EnsureInit(const std::string& path);

// The last message libgsf logged since the previous call, or "".
std::string TakeLastMessage();

// The child `name` (or number `index`) of a storage, or null with libgsf's
// reason in *reason. Unlike gsf_infile_child_by_name and _by_index, which
// print their failures, these leave the reporting to us.
GsfInput* ChildByName(GsfInfile* storage, const char* name, std::string* reason);
GsfInput* ChildByIndex(GsfInfile* storage, int index, std::string* reason);

// A new input over fd (not owned; it must stay open while the input lives)
// whose size is `size`. Each byte read is added to *bytesRead.
GsfInput* NewFdInput(int fd, uint64_t size, uint64_t* bytesRead);

// A new output writing fd (not owned) from offset 0. Before each block the
// hook, when set, receives the number of bytes written so far; returning false
// fails that block as an I/O error.
GsfOutput* NewFdOutput(int fd, const std::function<bool(uint64_t)>* hook);

// The first failure of an output from NewFdOutput: 0 when every write
// succeeded, else the errno of the first one that failed.
int FdOutputError(GsfOutput* output);

// Makes every further write of an output from NewFdOutput fail at once, so
// that abandoning a half-written file writes nothing more.
void AbandonOutput(GsfOutput* output);

// Bytes an output from NewFdOutput has written.
uint64_t FdOutputBytesWritten(GsfOutput* output);

}  // namespace tq::gsfio
