// Compound files read by an independent reader (Python's olefile, in its
// strict mode): what it finds in a file, to compare with what we wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/platform/storage/storagetest.h"

namespace tq::test {

// Every stream of a compound file, by its full path ("Storage/Stream"), and
// the root's class id. The stream of checksums is checked by the script,
// with its own CRC-32C, against the bytes olefile read: `checksums` says
// "none", "sound" or what disagrees, and the stream is not in `streams`.
struct OleDump {
    std::map<std::string, Bytes> streams;
    std::vector<std::string> storages;
    std::string rootClassId;
    std::string checksums;
};

inline const char* const kDumpScript = R"(
import os, struct, sys, olefile
# checked|unchecked, then pairs of a file and the folder its dump goes to
checked, pairs = sys.argv[1] == 'checked', sys.argv[2:]

def crc32c(data, crc=0):
    crc ^= 0xFFFFFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ (0x82F63B78 if crc & 1 else 0)
    return crc ^ 0xFFFFFFFF

def check(table, streams):
    body, (own,) = table[:-4], struct.unpack('<I', table[-4:])
    if crc32c(body) != own: return 'its own checksum does not match'
    sig, version, piece, count = struct.unpack('<4sIII', body[:16])
    if (sig, version, piece) != (b'TQCS', 1, 4096): return 'bad head'
    pos, seen = 16, set()
    for _ in range(count):
        (n,) = struct.unpack('<I', body[pos:pos + 4]); pos += 4
        name = body[pos:pos + n].decode('utf-8'); pos += n
        (size,) = struct.unpack('<I', body[pos:pos + 4]); pos += 4
        data = streams.get(name)
        if data is None or len(data) != size: return 'stream %s: missing or of another size' % name
        for start in range(0, size, piece):
            (crc,) = struct.unpack('<I', body[pos:pos + 4]); pos += 4
            if crc32c(data[start:start + piece]) != crc: return 'stream %s: piece at %d' % (name, start)
        seen.add(name)
    if pos != len(body) or seen != set(streams): return 'the streams listed are not the file\'s'
    return 'sound'

def dump(path, out):
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    root = {}
    with open(os.path.join(out, 'listing'), 'w', encoding='utf-8') as listing:
        listing.write(ole.root.clsid + '\n')
        for i, entry in enumerate(ole.listdir(streams=True, storages=True)):
            kind = ole.get_type(entry)
            listing.write('%d\t%d\t%s\n' % (i, kind, '/'.join(entry)))
            if kind == olefile.STGTY_STREAM:
                data = ole.openstream(entry).read()
                if len(entry) == 1: root[entry[0]] = data
                with open(os.path.join(out, str(i)), 'wb') as f:
                    f.write(data)
    table = root.pop('Checksums', None)
    with open(os.path.join(out, 'checksums'), 'w') as f:
        f.write('none' if table is None else check(table, root) if checked else 'unchecked')

for k in range(0, len(pairs), 2):
    dump(pairs[k], pairs[k + 1])
)";

// The dumps of many files by one run of olefile; with `checked` false the
// stream of checksums is not checked (olefile's pure-Python CRC-32C is slow
// on large files), and `checksums` says "unchecked".
inline std::vector<OleDump> DumpAllWithOlefile(const std::vector<std::string>& files,
                                               bool checked = true) {
    ScratchDir out;
    const std::string script = out.path("dump.py");
    WriteFile(script, Bytes(kDumpScript, kDumpScript + std::strlen(kDumpScript)));
    std::string command = "/usr/bin/python3 " + script + (checked ? " checked" : " unchecked");
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string folder = out.path(std::to_string(i));
        std::filesystem::create_directory(folder);
        command += " '" + files[i] + "' '" + folder + "'";
    }
    const int status = std::system((command + " 2>&1").c_str());
    EXPECT_EQ(status, 0) << "olefile refused one of " << files.size() << " files, the first "
                         << (files.empty() ? "" : files.front());
    std::vector<OleDump> dumps;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string folder = out.path(std::to_string(i)) + "/";
        OleDump dump;
        std::ifstream listing(folder + "listing");
        std::getline(listing, dump.rootClassId);
        std::string line;
        while (std::getline(listing, line)) {
            const auto tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
            const std::string index = line.substr(0, tab1);
            const int kind = std::stoi(line.substr(tab1 + 1, tab2 - tab1 - 1));
            const std::string name = line.substr(tab2 + 1);
            if (name == "Checksums") continue;
            if (kind == 2) dump.streams[name] = ReadFile(folder + index);
            else dump.storages.push_back(name);
        }
        std::ifstream checksums(folder + "checksums");
        std::getline(checksums, dump.checksums);
        dumps.push_back(std::move(dump));
    }
    return dumps;
}

inline OleDump DumpWithOlefile(const std::string& file) { return DumpAllWithOlefile({file})[0]; }

}  // namespace tq::test
