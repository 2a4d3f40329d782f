// The corruption campaign: real modules the store saved, each damaged in one
// of the ways files are damaged, then opened, walked, saved and opened again.
//
// What must hold for every variant:
//  - nothing crashes, hangs or reaches an assertion;
//  - a variant is refused with the store's exception and leaves no module
//    loaded, or it opens;
//  - an opened variant walks (every record faulted, every value read) with
//    failures raised as the store's exceptions only;
//  - its save (every other run of variants compacted) either raises the
//    store's exception or leaves a file that opens again and still holds
//    everything the opened module held (names, dynamic and preload lists,
//    every thing of every table but the signature proxies, which a save
//    drops by design when nothing needs them), every object of the original
//    module whose entry and record the damage did not touch, still under
//    its name or in the list of dynamic objects when it was there, and
//    reads everything that read before the save;
//  - tqdump calls a variant sound exactly when the library opens it and
//    reads every record of it.
//
// Kinds of damage (each variant takes one, in turn):
//   stream bits      one to four bits of one stream flipped
//   stream bytes     a run of one to eight bytes of one stream overwritten
//   stream cut       one stream cut short
//   stream dropped   one stream removed from the file
//   table field      a word of a description table's head, array head or
//                    one of its entries set to a telling value
//   statics entry    a reference of the static globals pointed elsewhere
//   directory link   a left, right or child link of the compound file's
//                    directory changed
//   directory size   a stream's size in the directory changed
//   file bytes       bytes of the file itself overwritten anywhere
//   file cut         the file cut short
//   size zero        a stream's size in the directory set to 0
//   streams swapped  the bytes of two streams exchanged
//   entry freed      a used entry of a description table marked free
//   name emptied     the text of a used name of "IdStrings" made empty
//   record bytes     bytes inside one record of "Objects" or "Blocks" (a
//                    value, or a procedure's nodes) changed
//
// Damage inside streams is made as a disk makes it: the file's stream of
// checksums stays as it was (OCLStorage::SetChecksumWriting). The base
// modules come as saved (with checksums) and as written before there were
// checksums; one of them is a compiled program.
//
// A variant that opens and walks without a fault must also read as the
// original: its text (the text-module form of everything it holds) is
// compared with the original's. A module with checksums that reads
// otherwise is a finding; one without is counted ("silent").
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace tq::campaign {

enum class Damage {
    StreamBits,
    StreamBytes,
    StreamCut,
    StreamDropped,
    TableField,
    StaticsEntry,
    DirectoryLink,
    DirectorySize,
    FileBytes,
    FileCut,
    SizeZero,
    StreamsSwapped,
    EntryFreed,
    NameEmptied,
    RecordBytes,
    Count
};
const char* DamageName(Damage d);

// A module file to damage; `companion` (may be empty) is a module it refers
// to, loaded read-only beside it and never damaged.
struct BaseModule {
    std::string name;
    std::string bytes;
    std::string companionPath;
    // Its roots as the library reads them: static names with their objects'
    // indexes, and the indexes of its dynamic objects.
    std::map<std::string, uint32_t> statics;
    std::vector<uint32_t> dynamics;
    // The identifier-table entry of each static name: a damage that changes
    // a name's text changes the name.
    std::map<std::string, uint32_t> nameEntries;
    // Its text, as the original reads.
    std::string text;
    bool checksums = true;
};

// The modules of the campaign, saved into folder: a single module that
// holds every kind of thing, a module whose clones and references name a
// companion module's prototype, enumeration and objects, and a compiled
// program; each with checksums, and the first and last also without.
std::vector<BaseModule> MakeBaseModules(const std::string& folder);

// Small, reproducible random numbers (splitmix64).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next();
    uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }

private:
    uint64_t state_;
};

// The bytes of module file `bytes` damaged in way d; what was done, for the
// report, in *what. The result may equal the input (a damage that changed
// nothing); the caller skips such a variant.
std::string Damaged(const std::string& bytes, Damage d, Random& rng, const std::string& scratch,
                    std::string* what);

struct Figures {
    struct PerDamage {
        uint32_t variants = 0, unchanged = 0, refused = 0, opened = 0, walkFaults = 0, saved = 0,
                 saveRefused = 0, reopened = 0, silent = 0;
    };
    std::map<Damage, PerDamage> byDamage;
    std::map<std::string, uint32_t> refusedBy;  // exception class of the refusal
    uint32_t tqdumpCompared = 0;
    uint64_t untouchedObjectsChecked = 0;
    std::vector<std::string> findings;  // every breach of what must hold
    // Each variant of an older file (no checksums) that read otherwise
    // without a word: its label and the first line of its text that differs.
    std::vector<std::string> silent;
    void print(std::ostream& os) const;
};

struct Settings {
    uint32_t variants = 240;
    uint64_t seed = 1;
    uint32_t tqdumpEvery = 40;  // 0: never
    std::string tqdump;         // the tool's path
    std::string folder;         // scratch folder
    std::string keep;           // when set, each variant with a finding is kept here as <seed>.qbo
    bool verbose = false;       // say why each refused variant was refused
};

// Runs the campaign; the figures and findings come back.
Figures Run(const Settings& settings, const std::vector<BaseModule>& bases);

}  // namespace tq::campaign
