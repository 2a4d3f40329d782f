// TextFile: a text file a program reads or writes line by line.
//
//   closed --OpenRead--> reading --ReadLine/ReadAll--> ... --Close--> closed
//          --OpenWrite/OpenAppend--> writing --WriteLine/Write/Print #--> ...
//   (any state) --Open*--> the old file is closed first
//   (object destroyed, its module unloaded) --> closed, written text flushed
//
// Reading goes through a LineReader: constant memory whatever the file's
// size, "\n" and "\r\n" alike, a last line without its end. Writing goes
// through a buffer of kBuffer bytes, so that a program writing many short
// lines makes few system calls: text reaches the file when the buffer
// fills and at Close. A write the system refuses (a full disk) therefore
// raises FileError with its reason at the write that fills the buffer, at
// Close, or at the next Open*; when the object goes with text still
// buffered, a failure goes to the application (StoreApplication::
// HandleException), never lost in silence. Nothing of a file is kept with
// a module: a copy or a reloaded object starts closed.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include <tqstore/tqstore.h>

#include "sys/linereader.h"

namespace tq::sys {

class TextFile final : public IInterObj {
public:
    static PublishedClass& Class();
    explicit TextFile(DllServer* server) : IInterObj(server), sink_(*this) {}

    void PO_DefineFields(SignatureRep& sig) override;
    uint32_t PO_GetRevisionLevel() const override { return 1; }
    void PO_Read(OCLStream&, uint32_t) override {}
    void PO_Write(OCLStream&) override {}
    const char* className() const override { return "TextFile"; }
    Printable* printSink() override { return &sink_; }

    int32_t pdGetEOF();
    int32_t pdGetIsOpen() { return file_ ? -1 : 0; }
    ValString pdGetPath() { return ValString(path_); }
    void imOpenRead(const char* path);
    void imOpenWrite(const char* path);
    void imOpenAppend(const char* path);
    ValString imReadLine();
    ValString imReadAll();
    void imWriteLine(const char* text);
    void imWrite(const char* text);
    void imClose();

    // Writes text to the open file (FileError when not open for writing or
    // when the system refuses).
    void put(const char* text, size_t length);

private:
    ~TextFile() override;
    void open(const char* path, const char* mode, const char* doing);
    LineReader& reader();

    struct Sink final : TextPrintable {
        explicit Sink(TextFile& f) : file(f) {}
        void write(const char* text, size_t length) override { file.put(text, length); }
        TextFile& file;
    };

    static constexpr size_t kBuffer = 64 * 1024;

    std::FILE* file_ = nullptr;
    std::unique_ptr<LineReader> reader_;  // set while open for reading
    std::string path_;
    std::string line_;  // the line last read
    Sink sink_;
};

}  // namespace tq::sys
