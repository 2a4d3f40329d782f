#include "platform/storage/cfbreader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/storage/gsfapi.h"
#include "platform/storage/gsfio.h"
#include "platform/storage/oclstorage.h"

namespace tq {

namespace {

std::string WithDetail(std::string text, GError* error) {
    std::string detail = error ? error->message : "";
    if (detail.empty()) detail = gsfio::TakeLastMessage();
    else gsfio::TakeLastMessage();
    if (!detail.empty()) text += " (" + detail + ")";
    return text;
}

}  // namespace

CfbReader::CfbReader(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

std::shared_ptr<CfbReader> CfbReader::Open(int fd, const std::string& path) {
    std::shared_ptr<CfbReader> reader(new CfbReader(fd, path));
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw StorageError(path + ": cannot read the file: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw StorageError(path + ": not a regular file");
    const auto size = static_cast<uint64_t>(st.st_size);
    reader->listing_ = CheckCompoundFile(fd, size, path);

    gsfio::EnsureInit(path);
    const GsfApi& gsf = Gsf();
    gsfio::TakeLastMessage();
    reader->input_ = gsfio::NewFdInput(fd, size, &reader->bytesRead_);
    GError* error = nullptr;
    reader->root_ = gsf.gsf_infile_msole_new(reader->input_, &error);
    if (reader->root_ == nullptr) {
        const std::string text = WithDetail(path + ": not a valid compound file", error);
        if (error) gsf.g_error_free(error);
        throw StorageError(text);
    }
    // libgsf silently leaves out entries it cannot take; the listing must be
    // exactly the one checked.
    const int children = gsf.gsf_infile_num_children(reader->root_);
    bool same = children >= 0 && static_cast<size_t>(children) == reader->listing_.root.size();
    for (int i = 0; same && i < children; ++i) {
        const char* name = gsf.gsf_infile_name_by_index(reader->root_, i);
        same = name != nullptr && reader->find(name) != nullptr;
    }
    if (!same)
        throw StorageError(WithDetail(path + ": not a valid compound file: the directory "
                                             "cannot be read whole",
                                      nullptr));
    return reader;
}

CfbReader::~CfbReader() {
    // A reader that failed before libgsf was loaded holds no libgsf object.
    if (input_) {
        const GsfApi& gsf = Gsf();
        for (auto& [name, input] : streams_) gsf.g_object_unref(input);
        if (root_) gsf.g_object_unref(root_);
        gsf.g_object_unref(input_);
    }
    ::close(fd_);
}

const CfbEntry* CfbReader::find(const std::string& name) const {
    for (const CfbEntry& e : listing_.root)
        if (e.name == name) return &e;
    return nullptr;
}

GsfInput* CfbReader::stream(const std::string& name) {
    auto it = streams_.find(name);
    if (it != streams_.end()) return it->second;
    gsfio::TakeLastMessage();
    std::string reason;
    GsfInput* input = gsfio::ChildByName(root_, name.c_str(), &reason);
    if (input == nullptr)
        throw StorageError(path_ + ": stream \"" + name + "\" cannot be read: the file is damaged" +
                           (reason.empty() ? "" : " (" + reason + ")"));
    streams_.emplace(name, input);
    return input;
}

void CfbReader::read(const std::string& name, uint32_t offset, void* out, size_t n) {
    if (n == 0) return;
    GsfInput* input = stream(name);
    gsfio::TakeLastMessage();
    if (Gsf().gsf_input_seek(input, offset, G_SEEK_SET) ||
        Gsf().gsf_input_read(input, n, static_cast<guint8*>(out)) == nullptr)
        throw StorageError(WithDetail(path_ + ": stream \"" + name + "\": " + std::to_string(n) +
                                          " bytes at offset " + std::to_string(offset) +
                                          " cannot be read: the file is damaged",
                                      nullptr));
}

}  // namespace tq
