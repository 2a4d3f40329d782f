#include "platform/storage/gsfio.h"

#include <gsf/gsf-infile-impl.h>
#include <gsf/gsf-input-impl.h>
#include <gsf/gsf-output-impl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/storage/fshooks.h"
#include "platform/storage/gsfapi.h"
#include "platform/storage/oclstorage.h"

namespace tq::gsfio {
namespace {

// ---- capture of libgsf's log messages ---------------------------------------

std::string& LastMessage() {
    static std::string message;
    return message;
}

void CaptureLog(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
    LastMessage() = message ? message : "";
}

// ---- input over a file descriptor -------------------------------------------

struct FdInput {
    GsfInput base;
    int fd;
    uint64_t* bytesRead;
    guint8* buffer;  // for reads without a caller buffer; owned
    size_t bufferSize;
    // The 512-byte block around the last small read, kept: the store reads
    // many records a few bytes at a time, mostly near the one before, and
    // libgsf asks the file for exactly those bytes each time. The file under
    // an input never changes (cfbreader.h), so what was read stays true.
    guint8* last;  // kBlock bytes once a small read was made; owned
    gsf_off_t lastOffset;
    size_t lastLength;
};

constexpr size_t kBlock = 512;

struct FdInputClass {
    GsfInputClass base;
};

GObjectClass* fdInputParent = nullptr;

GType FdInputType();

// libgsf calls our functions only with inputs of our type.
FdInput* AsFdInput(GsfInput* input) { return reinterpret_cast<FdInput*>(input); }

// Reads exactly n bytes at offset, retrying short reads; false on error or end
// of file.
bool PreadAll(int fd, guint8* out, size_t n, gsf_off_t offset) {
    while (n > 0) {
        const ssize_t got = ::pread(fd, out, n, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        n -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

const guint8* FdInputRead(GsfInput* input, size_t n, guint8* buffer) {
    FdInput* self = AsFdInput(input);
    const gsf_off_t at = input->cur_offset;
    const gsf_off_t blockStart = at - at % static_cast<gsf_off_t>(kBlock);
    if (static_cast<uint64_t>(at - blockStart) + n <= kBlock) {
        const bool held = self->lastLength != 0 && at >= self->lastOffset &&
                          static_cast<uint64_t>(at - self->lastOffset) + n <= self->lastLength;
        if (!held) {
            if (self->last == nullptr) self->last = static_cast<guint8*>(Gsf().g_malloc(kBlock));
            // The whole block where the file has it, else only what was asked.
            const bool whole = blockStart + static_cast<gsf_off_t>(kBlock) <= input->size;
            const gsf_off_t from = whole ? blockStart : at;
            const size_t length = whole ? kBlock : n;
            self->lastLength = 0;
            if (!PreadAll(self->fd, self->last, length, from)) return nullptr;
            self->lastOffset = from;
            self->lastLength = length;
            if (self->bytesRead) *self->bytesRead += length;
        }
        const guint8* from = self->last + (at - self->lastOffset);
        if (buffer == nullptr) return from;
        std::memcpy(buffer, from, n);
        return buffer;
    }
    if (buffer == nullptr) {
        // libgsf asks for at most one sector or one header this way, and never
        // more than the input holds.
        if (self->bufferSize < n) {
            Gsf().g_free(self->buffer);
            self->buffer = static_cast<guint8*>(Gsf().g_malloc(n));
            self->bufferSize = n;
        }
        buffer = self->buffer;
    }
    if (!PreadAll(self->fd, buffer, n, input->cur_offset)) return nullptr;
    if (self->bytesRead) *self->bytesRead += n;
    return buffer;
}

gboolean FdInputSeek(GsfInput*, gsf_off_t, GSeekType) {
    return FALSE;  // positional reads: the base class keeps the offset
}

GsfInput* FdInputDup(GsfInput* input, GError**) {
    FdInput* self = AsFdInput(input);
    return NewFdInput(self->fd, static_cast<uint64_t>(input->size), self->bytesRead);
}

void FdInputFinalize(GObject* object) {
    FdInput* self = reinterpret_cast<FdInput*>(object);
    Gsf().g_free(self->buffer);
    self->buffer = nullptr;
    Gsf().g_free(self->last);
    self->last = nullptr;
    fdInputParent->finalize(object);
}

void FdInputClassInit(gpointer klass, gpointer) {
    fdInputParent = static_cast<GObjectClass*>(Gsf().g_type_class_peek_parent(klass));
    static_cast<GObjectClass*>(klass)->finalize = FdInputFinalize;
    auto* inputClass = static_cast<GsfInputClass*>(klass);
    inputClass->Read = FdInputRead;
    inputClass->Seek = FdInputSeek;
    inputClass->Dup = FdInputDup;
}

GType FdInputType() {
    static const GType type = Gsf().g_type_register_static_simple(
        Gsf().gsf_input_get_type(), "TqFdInput", sizeof(FdInputClass), FdInputClassInit, sizeof(FdInput),
        nullptr, GTypeFlags(0));
    return type;
}

// ---- output over a file descriptor ------------------------------------------

struct FdOutput {
    GsfOutput base;
    int fd;
    int error;  // errno of the first failed write; sticky
    uint64_t written;
    uint64_t flushedUpTo;  // writeback started for the bytes before this
    const std::function<bool(uint64_t)>* hook;
};

// A commit flushes its file before installing it. Starting the disk's work
// every few megabytes, while the rest is still being written, leaves less for
// that final flush to wait for.
constexpr uint64_t kWritebackStep = 4 << 20;

void StartWriteback(FdOutput* self, gsf_off_t end) {
#ifdef __linux__
    const auto upTo = static_cast<uint64_t>(end);
    if (upTo < self->flushedUpTo + kWritebackStep) return;
    ::sync_file_range(self->fd, static_cast<off64_t>(self->flushedUpTo),
                      static_cast<off64_t>(upTo - self->flushedUpTo), SYNC_FILE_RANGE_WRITE);
    self->flushedUpTo = upTo;
#else
    (void)self;
    (void)end;
#endif
}

struct FdOutputClass {
    GsfOutputClass base;
};

GType FdOutputType();

// Only outputs from NewFdOutput reach these.
FdOutput* AsFdOutput(GsfOutput* output) { return reinterpret_cast<FdOutput*>(output); }

// Records the first failure where libgsf looks for it too: some of its loops
// (padding to a sector's end) retry until the output reports an error.
gboolean Fail(FdOutput* self, int error) {
    if (self->error == 0) self->error = error;
    Gsf().gsf_output_set_error(&self->base, self->error, "%s", Gsf().g_strerror(self->error));
    return FALSE;
}

gboolean FdOutputWrite(GsfOutput* output, size_t n, const guint8* data) {
    FdOutput* self = AsFdOutput(output);
    if (self->error != 0) return Fail(self, self->error);
    if (self->hook && *self->hook && !(*self->hook)(self->written)) return Fail(self, EIO);
    gsf_off_t offset = output->cur_offset;
    size_t left = n;
    FileSystemHooks* hooks = InstalledFileSystemHooks();
    std::vector<guint8> altered;
    if (hooks) {
        altered.assign(data, data + n);
        left = std::min(n, hooks->alterWrite(self->fd, static_cast<uint64_t>(offset),
                                             altered.data(), n));
        data = altered.data();
    }
    while (left > 0) {
        const ssize_t put = ::pwrite(self->fd, data, left, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Fail(self, put < 0 ? errno : EIO);
        data += put;
        left -= static_cast<size_t>(put);
        offset += put;
    }
    self->written += n;
    StartWriteback(self, offset);
    if (hooks) hooks->wrote(self->fd);
    return TRUE;
}

gboolean FdOutputSeek(GsfOutput*, gsf_off_t, GSeekType) {
    return TRUE;  // positional writes: the base class keeps the offset
}

gboolean FdOutputClose(GsfOutput* output) {
    return AsFdOutput(output)->error == 0;
}

void FdOutputClassInit(gpointer klass, gpointer) {
    auto* outputClass = static_cast<GsfOutputClass*>(klass);
    outputClass->Write = FdOutputWrite;
    outputClass->Seek = FdOutputSeek;
    outputClass->Close = FdOutputClose;
}

GType FdOutputType() {
    static const GType type = Gsf().g_type_register_static_simple(
        Gsf().gsf_output_get_type(), "TqFdOutput", sizeof(FdOutputClass), FdOutputClassInit,
        sizeof(FdOutput), nullptr, GTypeFlags(0));
    return type;
}

}  // namespace

void EnsureInit(const std::string& path) {
    try {
        LoadGsf();
    } catch (const StorageError& e) {
        throw StorageError(path + ": cannot use compound files: " + e.what());
    }
    static std::once_flag once;
    std::call_once(once, [] {
        Gsf().gsf_init();
        const auto levels = GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_RECURSION);
        Gsf().g_log_set_handler("libgsf", levels, CaptureLog, nullptr);
        Gsf().g_log_set_handler("libgsf:msole", levels, CaptureLog, nullptr);
    });
}

std::string TakeLastMessage() {
    std::string message;
    message.swap(LastMessage());
    return message;
}

namespace {

GsfInput* Reported(GsfInput* child, GError* error, std::string* reason) {
    if (child == nullptr) {
        *reason = error ? error->message : TakeLastMessage();
        if (reason->empty()) *reason = TakeLastMessage();
    }
    if (error) Gsf().g_error_free(error);
    return child;
}

GsfInfileClass* InfileClass(GsfInfile* storage) {
    return reinterpret_cast<GsfInfileClass*>(reinterpret_cast<GTypeInstance*>(storage)->g_class);
}

}  // namespace

GsfInput* ChildByName(GsfInfile* storage, const char* name, std::string* reason) {
    GError* error = nullptr;
    GsfInput* child = InfileClass(storage)->child_by_name(storage, name, &error);
    return Reported(child, error, reason);
}

GsfInput* ChildByIndex(GsfInfile* storage, int index, std::string* reason) {
    GError* error = nullptr;
    GsfInput* child = InfileClass(storage)->child_by_index(storage, index, &error);
    return Reported(child, error, reason);
}

GsfInput* NewFdInput(int fd, uint64_t size, uint64_t* bytesRead) {
    auto* self = static_cast<FdInput*>(Gsf().g_object_new(FdInputType(), nullptr));
    self->fd = fd;
    self->bytesRead = bytesRead;
    Gsf().gsf_input_set_size(&self->base, static_cast<gsf_off_t>(size));
    return &self->base;
}

GsfOutput* NewFdOutput(int fd, const std::function<bool(uint64_t)>* hook) {
    auto* self = static_cast<FdOutput*>(Gsf().g_object_new(FdOutputType(), nullptr));
    self->fd = fd;
    self->hook = hook;
    return &self->base;
}

int FdOutputError(GsfOutput* output) { return AsFdOutput(output)->error; }

void AbandonOutput(GsfOutput* output) { Fail(AsFdOutput(output), ECANCELED); }

uint64_t FdOutputBytesWritten(GsfOutput* output) { return AsFdOutput(output)->written; }

}  // namespace tq::gsfio
