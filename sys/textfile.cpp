#include "sys/textfile.h"

#include <cerrno>
#include <filesystem>

#include "sys/sysexcep.h"

namespace tq::sys {

namespace {

[[noreturn]] void NotOpenFor(const char* what, const std::string& path) {
    throw SysError("FileError",
                   path.empty() ? std::string("No file is open for ") + what
                                : "The file " + path + " is not open for " + what,
                   path);
}

}  // namespace

PublishedClass& TextFile::Class() {
    static PublishedClass cls("Tessaro.TextFile", "TextFile", "{3E1A7C20-5B7D-4C1E-9A64-1D2B3C4E5F02}",
                              [](DllServer* server) -> IInterObj* { return new TextFile(server); });
    return cls;
}

// Text still in the buffer is written as the object goes. A failure then
// has no statement to raise at: the application hears of it, as it hears
// of a failing Destruct, instead of the text being lost in silence.
TextFile::~TextFile() {
    try {
        imClose();
    } catch (StoreException& e) {
        try {
            StoreApplication::HandleException(e);
        } catch (const StoreException&) {
            // No application took it; the object goes all the same.
        }
    }
}

void TextFile::PO_DefineFields(SignatureRep& sig) {
    DefineFields(sig, [&] {
        EnumRep* boolean = EnsureBooleanEnum();
        sig.addField(CompProcEnumField::make("EOF", boolean, NoSetter, Method(&TextFile::pdGetEOF)), nullptr, 0);
        sig.addField(CompProcEnumField::make("IsOpen", boolean, NoSetter, Method(&TextFile::pdGetIsOpen)), nullptr,
                     0);
        sig.addField(CompProcDataField::make("Path", IDT_STRING, NoSetter, Method(&TextFile::pdGetPath)), nullptr, 0);
        ParseCppField("Sub OpenRead(ByVal path As String)", sig, &TextFile::imOpenRead);
        ParseCppField("Sub OpenWrite(ByVal path As String)", sig, &TextFile::imOpenWrite);
        ParseCppField("Sub OpenAppend(ByVal path As String)", sig, &TextFile::imOpenAppend);
        ParseCppField("Function ReadLine() As String", sig, &TextFile::imReadLine);
        ParseCppField("Function ReadAll() As String", sig, &TextFile::imReadAll);
        ParseCppField("Sub WriteLine(ByVal text As String)", sig, &TextFile::imWriteLine);
        ParseCppField("Sub Write(ByVal text As String)", sig, &TextFile::imWrite);
        ParseCppField("Sub Close()", sig, &TextFile::imClose);
    });
}

void TextFile::open(const char* path, const char* mode, const char* doing) {
    // The file open before is closed first, and a write of it the system
    // refuses raises here, before the next one is opened.
    imClose();
    const std::string p = path ? path : "";
    path_ = p;
    // The C library opens a folder for reading and fails only at the first
    // read: say what is wrong where the program asked for it.
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) ThrowFileError(doing, p, EISDIR);
    errno = 0;
    std::FILE* f = p.empty() ? nullptr : std::fopen(p.c_str(), mode);
    if (!f) ThrowFileError(doing, p, p.empty() ? ENOENT : errno);
    file_ = f;
    std::setvbuf(f, nullptr, _IOFBF, kBuffer);
    if (*mode == 'r') reader_ = std::make_unique<LineReader>(f, p);
}

void TextFile::imOpenRead(const char* path) { open(path, "r", "Cannot open for reading"); }
void TextFile::imOpenWrite(const char* path) { open(path, "w", "Cannot open for writing"); }
void TextFile::imOpenAppend(const char* path) { open(path, "a", "Cannot open for appending"); }

LineReader& TextFile::reader() {
    if (!reader_) NotOpenFor("reading", path_);
    return *reader_;
}

int32_t TextFile::pdGetEOF() { return reader().atEnd() ? -1 : 0; }

ValString TextFile::imReadLine() {
    // line_ keeps its room from line to line.
    if (!reader().next(line_)) ThrowEndOfFile(path_);
    return ValString(line_);
}

ValString TextFile::imReadAll() { return ValString(reader().rest()); }

void TextFile::put(const char* text, size_t length) {
    if (!file_ || reader_) NotOpenFor("writing", path_);
    errno = 0;
    if (length && std::fwrite(text, 1, length, file_) != length) {
        const int code = errno ? errno : EIO;
        std::clearerr(file_);
        ThrowFileError("Cannot write to", path_, code);
    }
}

void TextFile::imWriteLine(const char* text) {
    const std::string_view t = text ? text : "";
    put(t.data(), t.size());
    put("\n", 1);
}

void TextFile::imWrite(const char* text) {
    const std::string_view t = text ? text : "";
    put(t.data(), t.size());
}

// Closing is where buffered text reaches the file: a full disk shows here
// when no earlier write found it. The file is closed either way.
void TextFile::imClose() {
    if (!file_) return;
    const bool writing = !reader_;
    reader_.reset();
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int code = errno ? errno : EIO;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (writing && (!flushed || !closed)) ThrowFileError("Cannot write to", path_, code);
}

}  // namespace tq::sys
