// Replacing a whole file the user keeps (a text module, a built module) with
// the guarantees of a module commit.
//
// A module commit writes beside, flushes the file, renames it over the old
// one and flushes the folder; a crash leaves the old file or the new one,
// never a torn one. A file of the user's needs more than that, because it is
// the user's and not the store's:
//  1. a symbolic link is written through: its target gets the new content and
//     the link stays a link;
//  2. the new file keeps the old one's permission bits (and, where the process
//     may, its owner), so a private file stays private and a script keeps its
//     execute bit; a new file gets the usual bits less the umask;
//  3. anything but a regular file (a device, a FIFO, a folder) is never
//     renamed over: the replacement is refused;
//  4. a file that another program replaced or changed since it was read
//     (its stamp differs) is not overwritten: that program's work would be
//     lost without a word;
//  5. the new content is written under ".<name>.tq-XXXXXX" beside the target,
//     the prefix of a module commit's temporary files, and removed on every
//     failure; the leftovers of a process killed while saving are removed by
//     the next save that holds the file's write lock.
// Every failure raises StorageError "<path>: <reason>", with the operating
// system's text where there is one, and leaves the old file as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tq {

// What a file was when it was read: its identity and its last change. Two
// stamps differ when the path names another file (an editor's save renames a
// new one into place) or the file was written in place.
struct FileStamp {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;

    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file path names, symbolic links followed; exists is false
// when there is none.
FileStamp StampFile(const std::string& path);

// Replaces the content of the file path names (or makes it) with bytes. With
// expected, the file must still have that stamp (a stamp that does not exist
// means the file must not exist either). Returns the new file's stamp.
FileStamp ReplaceFileContent(const std::string& path, std::string_view bytes, const FileStamp* expected = nullptr);

// Makes the file path names anew as ReplaceFileContent does, with content
// that fill writes: fill gets the new file beside the target (its open
// descriptor and its name), created with the permission bits `mode` less
// the umask (an existing target's bits win, as above). The file is flushed
// and installed once fill returns; whatever fill throws passes on, with the
// new file removed and the old one as it was.
FileStamp ReplaceFileBy(const std::string& path, unsigned mode,
                        const std::function<void(int fd, const std::string& newFile)>& fill);

// Copies the whole file at `from` into the open file fd from its start;
// StorageError naming toPath (or from, when it cannot be read).
void CopyFileFrom(const std::string& from, int fd, const std::string& toPath);

// Whether a and b name the same existing file (links followed).
bool SameFileAs(const std::string& a, const std::string& b);

// Moves the file newFile, written whole and flushed by its maker, over the
// file path names, as ReplaceFileContent would put new content there; newFile
// must lie in the target's folder. On failure newFile is removed.
void ReplaceFileWith(const std::string& newFile, const std::string& path);

// A temporary name beside the file path names, with the prefix the leftovers
// of a killed save are recognised by; nothing is made at it.
std::string NameBesideTarget(const std::string& path);

}  // namespace tq
