#include "platform/storage/cfbwriter.h"

#include <cstring>
#include <vector>

#include "platform/storage/cfbreader.h"
#include "platform/storage/gsfapi.h"
#include "platform/storage/gsfio.h"
#include "platform/storage/oclstorage.h"

namespace tq {

namespace {

// Streams are copied through a buffer of this size: large enough that a big
// stream costs few system calls, small enough to stay out of the way.
constexpr size_t kChunk = 1 << 20;

// Sector size of the files we write: 512 bytes (format version 3), the form
// every reader of compound files takes.
constexpr unsigned kSectorSize = 512;
constexpr unsigned kMiniSectorSize = 64;

// libgsf's classes derive by embedding their parent first; its cast macros
// would call GObject to check the type, which only the table may do.
GsfOutput* AsOutput(GsfOutfile* outfile) { return reinterpret_cast<GsfOutput*>(outfile); }
GsfOutfile* AsOutfile(GsfOutput* output) { return reinterpret_cast<GsfOutfile*>(output); }
GsfInfile* AsInfile(GsfInput* input) { return reinterpret_cast<GsfInfile*>(input); }

}  // namespace

CfbWriter::CfbWriter(int fd, std::string path, const FaultHook* hook) : path_(std::move(path)) {
    gsfio::EnsureInit(path_);
    sink_ = gsfio::NewFdOutput(fd, hook);
    root_ = Gsf().gsf_outfile_msole_new_full(sink_, kSectorSize, kMiniSectorSize);
}

CfbWriter::~CfbWriter() {
    const GsfApi& gsf = Gsf();
    if (!finished_) {
        // Abandoned half-way: the caller throws the file away. libgsf's close
        // lays out the tables all the same, so the output refuses them.
        gsfio::AbandonOutput(sink_);
        gsf.gsf_output_close(AsOutput(root_));
    }
    gsf.g_object_unref(root_);
    if (!gsf.gsf_output_is_closed(sink_)) gsf.gsf_output_close(sink_);
    gsf.g_object_unref(sink_);
}

void CfbWriter::check() {
    if (const int error = gsfio::FdOutputError(sink_))
        throw StorageError(path_ + ": write failed: " + std::strerror(error));
}

void CfbWriter::setRootClassId(const std::array<uint8_t, 16>& id) {
    Gsf().gsf_outfile_msole_set_class_id(reinterpret_cast<GsfOutfileMSOle*>(root_), id.data());
}

void CfbWriter::writeStream(const std::string& name, uint32_t size, const Source& source) {
    const GsfApi& gsf = Gsf();
    GsfOutput* child = gsf.gsf_outfile_new_child(root_, name.c_str(), FALSE);
    std::vector<uint8_t> buffer(std::min<size_t>(size, kChunk));
    try {
        for (uint32_t offset = 0; offset < size;) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(size - offset, kChunk));
            source(offset, buffer.data(), n);
            gsf.gsf_output_write(child, n, buffer.data());
            check();
            offset += n;
        }
    } catch (...) {
        gsf.gsf_output_close(child);
        gsf.g_object_unref(child);
        throw;
    }
    gsf.gsf_output_close(child);
    gsf.g_object_unref(child);
    check();
}

namespace {

// Copies the storage `from` into the new storage `to`, child by child. The
// depth is bounded by the directory check of the file read.
void CopyTree(GsfInfile* from, GsfOutfile* to, const std::string& path,
              const std::function<void()>& check) {
    const GsfApi& gsf = Gsf();
    guint8 classId[16];
    const bool isMsole = gsf.g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(from),
                                                        gsf.gsf_infile_msole_get_type());
    if (isMsole &&
        gsf.gsf_infile_msole_get_class_id(reinterpret_cast<GsfInfileMSOle*>(from), classId))
        gsf.gsf_outfile_msole_set_class_id(reinterpret_cast<GsfOutfileMSOle*>(to), classId);
    const int children = gsf.gsf_infile_num_children(from);
    std::vector<uint8_t> buffer;
    for (int i = 0; i < children; ++i) {
        const char* name = gsf.gsf_infile_name_by_index(from, i);
        std::string reason;
        GsfInput* child = gsfio::ChildByIndex(from, i, &reason);
        if (child == nullptr)
            throw StorageError(path + ": entry \"" + (name ? name : "") +
                               "\" of a storage cannot be read: the file is damaged" +
                               (reason.empty() ? "" : " (" + reason + ")"));
        const bool isStorage = gsf.gsf_infile_num_children(AsInfile(child)) >= 0;
        GsfOutput* out = gsf.gsf_outfile_new_child(to, name, isStorage);
        try {
            if (isStorage) {
                CopyTree(AsInfile(child), AsOutfile(out), path, check);
            } else {
                gsf_off_t left = gsf.gsf_input_size(child);
                while (left > 0) {
                    const size_t n = static_cast<size_t>(std::min<gsf_off_t>(left, kChunk));
                    buffer.resize(n);
                    if (gsf.gsf_input_read(child, n, buffer.data()) == nullptr)
                        throw StorageError(path + ": stream \"" + name +
                                           "\" of a storage cannot be read: the file is damaged");
                    gsf.gsf_output_write(out, n, buffer.data());
                    check();
                    left -= static_cast<gsf_off_t>(n);
                }
            }
        } catch (...) {
            gsf.gsf_output_close(out);
            gsf.g_object_unref(out);
            gsf.g_object_unref(child);
            throw;
        }
        gsf.gsf_output_close(out);
        gsf.g_object_unref(out);
        gsf.g_object_unref(child);
    }
}

}  // namespace

void CfbWriter::copyStorage(CfbReader& from, const std::string& name) {
    std::string reason;
    GsfInput* source = gsfio::ChildByName(from.gsfRoot(), name.c_str(), &reason);
    if (source == nullptr)
        throw StorageError(from.path() + ": storage \"" + name +
                           "\" cannot be read: the file is damaged" +
                           (reason.empty() ? "" : " (" + reason + ")"));
    const GsfApi& gsf = Gsf();
    GsfOutput* out = gsf.gsf_outfile_new_child(root_, name.c_str(), TRUE);
    try {
        CopyTree(AsInfile(source), AsOutfile(out), from.path(), [this] { check(); });
    } catch (...) {
        gsf.gsf_output_close(out);
        gsf.g_object_unref(out);
        gsf.g_object_unref(source);
        throw;
    }
    gsf.gsf_output_close(out);
    gsf.g_object_unref(out);
    gsf.g_object_unref(source);
    check();
}

void CfbWriter::finish() {
    finished_ = true;
    const gboolean closed = Gsf().gsf_output_close(AsOutput(root_));
    check();
    if (!closed) throw StorageError(path_ + ": write failed: the container could not be laid out");
}

}  // namespace tq
