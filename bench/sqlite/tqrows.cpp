// The store's side of the comparison with sqlite3 (bench/sqlite/run): a
// module of N rows, each a named object (a 40-character name) with two Long
// fields, made, read and updated by whole processes as sqlite3 does the same
// on a table of the same rows.
//
//   tqrows make FILE N     the module of N rows
//   tqrows read FILE I     open, read field A of row I, print it
//   tqrows update FILE I   open, add 1 to field A of row I, save, commit
//   tqrows update-whole FILE I   the same, the commit writing a whole new file
//   tqrows written FILE I  update, then print the bytes the commit sent to
//                          the disk (its journal included) and how
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/persist/objstore.h"
#include "store/tqstore.h"
#include "platform/storage/fshooks.h"
#include "platform/storage/oclstorage.h"
#include <sys/stat.h>

namespace {

using namespace tq;

// Row i's name: 40 characters, as the table's key column holds; the number
// first, since the store keeps the first 31 characters of a name.
std::string RowName(long i) {
    char name[64];
    std::snprintf(name, sizeof name, "Row%07ld%s", i, "_abcdefghijklmnopqrstuvwxyz012");
    return name;
}

auto* Field(InterObjRep* o, const char* name, SignatureRep*& owner) {
    return o->signature()->findField(name, owner, 0);
}

void Make(const char* path, long n) {
    const tModuleIndex m = ObjectStore::LoadModule(path, 1, 0);
    InterObj proto(InterObjRep::NewNamed("Rows", nullptr, m, IOT_ORDINARY));
    proto->addField(InterDataField::make("A", IDT_LONG, 1));
    proto->addField(InterDataField::make("B", IDT_LONG, 1));
    for (long i = 0; i < n; ++i) {
        InterObj row(InterObjRep::NewNamed(RowName(i).c_str(), proto.get(), m, IOT_ORDINARY));
        SignatureRep* owner = nullptr;
        Field(row.get(), "A", owner)->set(static_cast<int32_t>(i), *row, *owner);
        Field(row.get(), "B", owner)->set(static_cast<int32_t>(2 * i), *row, *owner);
    }
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
    ObjectStore::UnloadModule(m);
}

int32_t Access(const char* path, long i, bool update) {
    const tModuleIndex m = ObjectStore::LoadModule(path, 0, update ? 0 : 1);
    InterObj row;
    if (!ObjectStore::find(RowName(i).c_str(), row)) throw std::runtime_error("no such row");
    SignatureRep* owner = nullptr;
    int32_t a = 0;
    Field(row.get(), "A", owner)->get(a, *row, *owner);
    if (update) {
        Field(row.get(), "A", owner)->set(a + 1, *row, *owner);
        ObjectStore::Save(m);
        ObjectStore::Commit(m);
    }
    row = InterObj();
    ObjectStore::UnloadModule(m);
    return a;
}

// Every byte a commit sends to the disk, as the file-system hooks see it.
struct WriteCounter : FileSystemHooks {
    size_t alterWrite(int, uint64_t, uint8_t*, size_t n) override {
        bytes += n;
        return n;
    }
    uint64_t bytes = 0;
};

ino_t InodeOf(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 ? st.st_ino : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tqrows make|read|update FILE N\n");
        return 2;
    }
    try {
        TessaroInitializer start(1);
        const long n = std::strtol(argv[3], nullptr, 10);
        const std::string work = argv[1];
        if (work == "make") {
            Make(argv[2], n);
        } else if (work == "written") {
            const ino_t before = InodeOf(argv[2]);
            WriteCounter counter;
            SetFileSystemHooks(&counter);
            Access(argv[2], n, true);
            SetFileSystemHooks(nullptr);
            std::printf("%llu bytes written, %s\n", static_cast<unsigned long long>(counter.bytes),
                        InodeOf(argv[2]) == before ? "in place" : "as a whole new file");
        } else {
            if (work == "update-whole")
                OCLStorage::SetInPlaceCommits(OCLStorage::InPlaceCommits::kNever);
            std::printf("%d\n", Access(argv[2], n, work != "read"));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tqrows: %s\n", e.what());
        return 1;
    }
    return 0;
}
