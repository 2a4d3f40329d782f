#include "tests/store/corrupt/campaign.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>

#include "compiler/textmod.h"
#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/arrayfld.h"
#include "store/errors/extexcep.h"
#include "store/eventdef.h"
#include "store/model/enum.h"
#include "store/model/enumfld.h"
#include "store/model/interobj.h"
#include "store/model/intfld.h"
#include "store/model/modwalk.h"
#include "store/model/objval.h"
#include "store/persist/descobj.h"
#include "store/persist/objstore.h"
#include "store/persist/proxy.h"
#include "store/persist/vlstrrep.h"
#include "store/sigproxy.h"
#include "store/vals.h"
#include "platform/util/uassert.h"
#include "tests/support/asserts.h"
#include "tests/support/checksumwriting.h"
#include "tests/support/fieldaccess.h"

namespace tq::campaign {

namespace {

constexpr uint32_t kReadMode = STGM_READ | STGM_SHARE_DENY_WRITE;
constexpr uint32_t kEditMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED;
constexpr uint32_t kStreamRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t kStreamEdit = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
// A variant that takes longer than this hangs.
constexpr unsigned kVariantSeconds = 20;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

uint32_t Word(const std::string& b, size_t at) {
    return at + 4 <= b.size() ? LoadLE32(reinterpret_cast<const uint8_t*>(b.data()) + at) : 0;
}

void SetWord(std::string& b, size_t at, uint32_t v) {
    if (at + 4 <= b.size()) StoreLE32(reinterpret_cast<uint8_t*>(b.data()) + at, v);
}

std::string StreamOf(OCLStorage& storage, const std::string& name) {
    OCLStream s(storage, name.c_str(), 0, kStreamRead);
    std::string bytes(s.size(), '\0');
    s.read(bytes.data(), bytes.size());
    return bytes;
}

// ---- the base modules ---------------------------------------------------------------

InterArrayField* Array(const char* name, IdType t, std::initializer_list<std::pair<int32_t, int32_t>> bounds) {
    InterArrayField* a = InterArrayField::make(name, t, static_cast<int32_t>(bounds.size()));
    int32_t i = 0;
    for (const auto& [lower, upper] : bounds) a->defineBounds(i++, lower, upper);
    return a;
}

void Commit(tModuleIndex m) {
    ObjectStore::Save(m);
    ObjectStore::Commit(m);
}

void UnloadAll() {
    std::vector<tModuleIndex> all;
    for (tModuleIndex m = ObjectStore::NextValidIndex(DETACHED_MODULE); m != DETACHED_MODULE;
         m = ObjectStore::NextValidIndex(m))
        all.push_back(m);
    all.push_back(NO_MODULE);
    ObjectStore::UnloadModules(all.data());
    InterObjRep::DeleteObjects();
}

// Every kind of thing one module keeps: a prototype with fields of every
// value kind, an enumeration field, one- and two-dimensional arrays of
// numbers, texts and objects, an embedded object, an event, named and
// dynamic clones, references between them, a preload, and things deleted
// since, so that the tables have free entries and dead space.
void MakeShapes(const std::string& path) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    auto* colour = new EnumRep("Colour", 0);
    colour->addEntry("Red", 1);
    colour->addEntry("Green", 2);
    colour->addEntry("Blue", 3);
    InterObj shape(InterObjRep::NewNamed("Shape", nullptr, m, IOT_ORDINARY));
    shape->addField(InterDataField::make("Sides", IDT_LONG, 1));
    shape->addField(InterDataField::make("Area", IDT_DOUBLE, 1));
    shape->addField(InterDataField::make("Title", IDT_STRING, 1));
    shape->addField(InterDataField::make("Price", IDT_CURRENCY, 1));
    shape->addField(InterDataField::make("Previous", IDT_OBJECT, 1));
    shape->addField(InterEnumField::make("Fill", colour, 1));
    shape->addField(Array("Marks", IDT_LONG, {{0, 4}}));
    shape->addField(Array("Names", IDT_STRING, {{0, 2}, {1, 3}}));
    shape->addField(Array("Links", IDT_OBJECT, {{0, 2}}));
    shape->addField(new EmbedObjField("Label", nullptr));
    shape->addEventDef(new EventDef("Moved", 1, "(dx As Long)", 1));
    ObjectStore::RequestPreload(shape.get());
    setText(shape.get(), "Title", "shape");
    std::vector<InterObj> clones;
    for (int i = 0; i < 12; ++i) {
        InterObj c(i % 3 == 0 ? static_cast<InterObjRep*>(InterObjRep::NewNamed(
                                    ("Square" + std::to_string(i)).c_str(), shape.get(), m, IOT_ORDINARY))
                              : InterObjRep::NewCopy(*shape, m, IOT_DYNAMIC));
        setLong(c.get(), "Sides", 4 + i);
        setText(c.get(), "Title", ("clone " + std::to_string(i)).c_str());
        setText(c.get(), "Fill", i % 2 ? "Red" : "Blue");
        *tq::Element(c.get(), "Marks", {i % 5}) = LongValue(i * 7);
        *tq::Element(c.get(), "Names", {i % 3, 1 + i % 3}) = StringValue(ValString(("n" + std::to_string(i)).c_str()));
        if (!clones.empty()) {
            setObject(c.get(), "Previous", clones.back().get());
            *tq::Element(c.get(), "Links", {i % 3}) = ObjectValue(clones.front());
        }
        clones.push_back(c);
    }
    InterObj circle(InterObjRep::NewNamed("Circle", shape.get(), m, IOT_ORDINARY));
    circle->addField(InterDataField::make("Radius", IDT_DOUBLE, 1));
    InterObj dot(InterObjRep::NewCopy(*circle, m, IOT_DYNAMIC));
    setText(dot.get(), "Title", "dot");
    Commit(m);
    // Things deleted after the first save leave free entries and dead
    // records behind.
    for (int i = 1; i < 12; i += 4) clones[static_cast<size_t>(i)]->Destroy();
    setText(shape.get(), "Title", "a shape, saved twice");
    clones.clear();
    Commit(m);
    shape = nullptr;
    circle = nullptr;
    dot = nullptr;
    UnloadAll();
}

// A: Form1, with a field typed by A's enumeration Mood and an embedded
// Button. B: clones of Form1 (named and dynamic), a child prototype of
// Form1's signature, and an object whose fields name Form1, its Button and
// Mood.
void MakeReferring(const std::string& pathA, const std::string& pathB) {
    const tModuleIndex a = ObjectStore::LoadModule(pathA.c_str(), 1, 0);
    auto* mood = new EnumRep("Mood", 0);
    mood->addEntry("Calm", 1);
    mood->addEntry("Busy", 2);
    InterObj form(InterObjRep::NewNamed("Form1", nullptr, a, IOT_ORDINARY));
    form->addField(InterDataField::make("Count", IDT_LONG, 1));
    form->addField(InterDataField::make("Caption", IDT_STRING, 1));
    form->addField(InterEnumField::make("State", mood, 1));
    form->addField(new EmbedObjField("Button", nullptr));
    const tModuleIndex b = ObjectStore::LoadModule(pathB.c_str(), 1, 0);
    InterObj copy(InterObjRep::NewNamed("Copy1", form.get(), b, IOT_ORDINARY));
    setLong(copy.get(), "Count", 42);
    ObjectStore::OpenModule(b);
    setText(copy.get(), "Caption", "hello");
    for (int i = 0; i < 4; ++i) setLong(InterObjRep::NewCopy(*form, b, IOT_DYNAMIC), "Count", i);
    InterObj derived(InterObjRep::NewNamed("Derived", form.get(), b, IOT_ORDINARY));
    derived->addField(InterDataField::make("Extra", IDT_STRING, 1));
    setText(derived.get(), "Extra", "more");
    InterObj holder(InterObjRep::NewNamed("Holder", nullptr, b, IOT_ORDINARY));
    holder->addField(InterDataField::make("Ref", IDT_OBJECT, 1));
    holder->addField(InterDataField::make("Btn", IDT_OBJECT, 1));
    holder->addField(InterEnumField::make("Shade", mood, 1));
    setObject(holder.get(), "Ref", form.get());
    InterObj button;
    ObjectStore::find("Form1.Button", button);
    setObject(holder.get(), "Btn", button.get());
    setText(holder.get(), "Shade", "Busy");
    Commit(a);
    Commit(b);
    form = copy = derived = holder = button = nullptr;
    UnloadAll();
}

// A compiled program: procedures with loops inside loops, Strings and
// numbers, calls between objects, and an object's fields set by code.
constexpr const char* kProgram = R"(Begin Object Counter
  Dim Total As Long
  Dim Label As String
  Function Stride(n As Long) As Long
    Stride = n * 2 + 1
  End Function
End Object

Begin Object Main
  Sub Main()
    Dim i As Long, j As Long, s As String
    i = 0
    Do While i < 3
      For j = 1 To 4
        Counter.Total = Counter.Total + Counter.Stride(j)
        s = s & Chr(65 + j)
      Next j
      i = i + 1
    Loop
    Counter.Label = s
    Print Counter.Total; Counter.Label
  End Sub
End Object
)";

void MakeProgram(const std::string& path) {
    const tModuleIndex m = ObjectStore::LoadModule(path.c_str(), 1, 0);
    compiler::LoadTextModule(kProgram, "program.tqs", m);
    Commit(m);
    UnloadAll();
}

// The module file `bytes` as written before there were checksums.
std::string WithoutChecksums(const std::string& bytes, const std::string& folder) {
    const std::string path = folder + "/older.qbo";
    WriteFile(path, bytes);
    {
        OCLStorage storage(path.c_str(), 0, kEditMode);
        const std::string version = StreamOf(storage, "Module version");
        OCLStream s(storage, "Module version", 0, kStreamEdit);
        s.write(version.data(), version.size());
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kOmit);
        storage.Commit();
        OCLStorage::SetChecksumWriting(OCLStorage::ChecksumWriting::kCompute);
    }
    return ReadFile(path);
}

// Opens the module (with its companion) to learn its roots.
tModuleIndex Open(const BaseModule& base, const std::string& path) {
    if (base.companionPath.empty()) return ObjectStore::LoadModule(path.c_str(), 0, 0);
    const std::string list = base.companionPath + "|ro;" + path;
    return ObjectStore::LoadModules(list.c_str()).at(1);
}

void ReadRoots(BaseModule& base, const std::string& path) {
    const tModuleIndex m = Open(base, path);
    ObjectStore::Dictionary(m).forEachKeyed([&](std::string_view key, StaticGlobals::Entry& e) {
        base.statics[std::string(key)] = e.object.descriptor().descIndex();
        base.nameEntries[std::string(key)] = e.name.descriptor().descIndex();
    });
    DynamicObjectList& dynamics = ObjectStore::DynamicsList(m);
    for (size_t i = 0; i < dynamics.length(); ++i) base.dynamics.push_back(dynamics[i].descriptor().descIndex());
    base.text = compiler::TextModuleText(m);
    UnloadAll();
}

// ---- damage -------------------------------------------------------------------------

// A value a damaged word often takes: the edges, near misses and noise.
uint32_t TellingValue(uint32_t was, Random& rng) {
    switch (rng.below(9)) {
        case 0: return 0;
        case 1: return 1;
        case 2: return was + 1;
        case 3: return was - 1;
        case 4: return was ^ (1u << rng.below(32));
        case 5: return 0xFFFFFFFF;
        case 6: return 0x3FFFFFFF;
        case 7: return was * 2 + 13;
        default: return static_cast<uint32_t>(rng.next());
    }
}

void PutStream(OCLStorage& storage, const std::string& name, const std::string& bytes) {
    OCLStream s(storage, name.c_str(), 0, kStreamEdit);
    s.seek(0);
    s.write(bytes.data(), bytes.size());
    s.setSize(static_cast<uint32_t>(bytes.size()));
}

// Commits the storage as damage is made on disk: the stream of checksums
// stays as it was.
void CommitAsDamage(OCLStorage& storage) {
    test::CommitWritingChecksums(storage, OCLStorage::ChecksumWriting::kKeepCommitted);
}

// Edits one stream of the file at path: edit(name, bytes) returns false to
// remove the stream instead.
template <class Edit>
void EditStream(const std::string& path, const std::string& name, Edit&& edit) {
    OCLStorage storage(path.c_str(), 0, kEditMode);
    std::string bytes = StreamOf(storage, name);
    if (edit(bytes))
        PutStream(storage, name, bytes);
    else
        storage.removeStream(name);
    CommitAsDamage(storage);
}

// The used entries of a description table's stream: the offsets of their
// 13-byte descriptions.
std::vector<size_t> UsedEntries(const std::string& s) {
    std::vector<size_t> out;
    const uint32_t array = Word(s, 4);
    if (s.size() < 16 || array > s.size() || s.size() - array < 8) return out;
    const uint32_t count = Word(s, array);
    for (uint32_t i = 0; i < count && array + 8 + size_t{i + 1} * 13 <= s.size(); ++i) {
        const size_t e = array + 8 + size_t{i} * 13;
        if ((s[e] & 0x05) == 0x01) out.push_back(e);
    }
    return out;
}

// A stream of the file, larger ones more often.
std::string PickStream(const std::string& path, Random& rng, bool tablesOnly) {
    OCLStorage storage(path.c_str(), 0, kReadMode);
    std::vector<std::pair<std::string, uint32_t>> streams;
    uint64_t total = 0;
    for (const std::string& name : storage.streamNames()) {
        if (tablesOnly && (name == "Module version" || name == "Static globals" || name == "IdStrings")) continue;
        OCLStream s(storage, name.c_str(), 0, kStreamRead);
        const uint32_t weight = 64 + s.size();
        streams.emplace_back(name, weight);
        total += weight;
    }
    if (streams.empty()) return {};
    uint64_t pick = rng.next() % total;
    for (const auto& [name, weight] : streams) {
        if (pick < weight) return name;
        pick -= weight;
    }
    return streams.back().first;
}

// The compound file's directory entries in use: their byte offsets.
std::vector<size_t> DirectoryEntries(const std::string& f) {
    std::vector<size_t> out;
    if (f.size() < 512) return out;
    const uint32_t shift = LoadLE16(reinterpret_cast<const uint8_t*>(f.data()) + 0x1E);
    if (shift != 9 && shift != 12) return out;
    const size_t sector = size_t{1} << shift;
    auto offset = [&](uint32_t s) { return sector + size_t{s} * sector; };
    auto next = [&](uint32_t s) -> uint32_t {
        const uint32_t perSector = static_cast<uint32_t>(sector / 4);
        const uint32_t k = s / perSector;
        if (k >= 109) return 0xFFFFFFFE;
        return Word(f, offset(Word(f, 0x4C + 4 * k)) + 4 * (s % perSector));
    };
    uint32_t s = Word(f, 0x30);
    for (int guard = 0; s < 0xFFFFFFFA && guard < 64; ++guard, s = next(s)) {
        for (size_t e = 0; e < sector / 128; ++e) {
            const size_t at = offset(s) + 128 * e;
            if (at + 128 <= f.size() && f[at + 66] != 0) out.push_back(at);
        }
    }
    return out;
}

}  // namespace

uint64_t Random::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

const char* DamageName(Damage d) {
    switch (d) {
        case Damage::StreamBits: return "stream bits";
        case Damage::StreamBytes: return "stream bytes";
        case Damage::StreamCut: return "stream cut";
        case Damage::StreamDropped: return "stream dropped";
        case Damage::TableField: return "table field";
        case Damage::StaticsEntry: return "statics entry";
        case Damage::DirectoryLink: return "directory link";
        case Damage::DirectorySize: return "directory size";
        case Damage::FileBytes: return "file bytes";
        case Damage::FileCut: return "file cut";
        case Damage::SizeZero: return "size zero";
        case Damage::StreamsSwapped: return "streams swapped";
        case Damage::EntryFreed: return "entry freed";
        case Damage::NameEmptied: return "name emptied";
        case Damage::RecordBytes: return "record bytes";
        case Damage::Count: break;
    }
    return "?";
}

std::vector<BaseModule> MakeBaseModules(const std::string& folder) {
    const std::string shapes = folder + "/shapes.qbo";
    const std::string a = folder + "/a.qbo";
    const std::string b = folder + "/b.qbo";
    const std::string program = folder + "/program.qbo";
    MakeShapes(shapes);
    MakeReferring(a, b);
    MakeProgram(program);
    std::vector<BaseModule> bases = {{"shapes", ReadFile(shapes), "", {}, {}, {}, "", true},
                                     {"referring", ReadFile(b), a, {}, {}, {}, "", true},
                                     {"program", ReadFile(program), "", {}, {}, {}, "", true}};
    for (const size_t older : {size_t{0}, size_t{2}}) {
        BaseModule base = bases[older];
        base.name += " (older)";
        base.bytes = WithoutChecksums(base.bytes, folder);
        base.checksums = false;
        bases.push_back(base);
    }
    const std::string path = folder + "/roots.qbo";
    for (BaseModule& base : bases) {
        base.statics.clear();
        base.nameEntries.clear();
        WriteFile(path, base.bytes);
        ReadRoots(base, path);
    }
    return bases;
}

std::string Damaged(const std::string& bytes, Damage d, Random& rng, const std::string& scratch,
                    std::string* what) {
    const std::string path = scratch + "/damaging.qbo";
    WriteFile(path, bytes);
    switch (d) {
        case Damage::StreamBits:
        case Damage::StreamBytes:
        case Damage::StreamCut:
        case Damage::StreamDropped:
        case Damage::TableField:
        case Damage::StaticsEntry: {
            const std::string name = d == Damage::TableField     ? PickStream(path, rng, true)
                                     : d == Damage::StaticsEntry ? std::string("Static globals")
                                                                 : PickStream(path, rng, false);
            *what = name;
            EditStream(path, name, [&](std::string& s) {
                const uint32_t n = static_cast<uint32_t>(s.size());
                if (d == Damage::StreamDropped) return false;
                if (n == 0) return true;
                if (d == Damage::StreamBits) {
                    const uint32_t flips = 1 + rng.below(4);
                    for (uint32_t i = 0; i < flips; ++i) {
                        const uint32_t at = rng.below(n);
                        s[at] = static_cast<char>(s[at] ^ (1 << rng.below(8)));
                        *what += " bit@" + std::to_string(at);
                    }
                } else if (d == Damage::StreamBytes) {
                    const uint32_t at = rng.below(n);
                    const uint32_t len = 1 + rng.below(8);
                    for (uint32_t i = at; i < at + len && i < n; ++i) s[i] = static_cast<char>(rng.next());
                    *what += " bytes@" + std::to_string(at);
                } else if (d == Damage::StreamCut) {
                    s.resize(rng.below(n));
                    *what += " cut to " + std::to_string(s.size());
                } else if (d == Damage::TableField) {
                    // The head, the array's head, or a word of an entry.
                    const uint32_t array = Word(s, 4);
                    const uint32_t count = Word(s, array);
                    size_t at;
                    const uint32_t where = rng.below(4);
                    if (where == 0 || array + 8 > n) {
                        at = 4 * rng.below(4);
                    } else if (where == 1) {
                        at = array + 4 * rng.below(2);
                    } else {
                        const uint32_t entry = rng.below(count ? count : 1);
                        const uint32_t field = rng.below(3);  // flags, offset, length
                        at = array + 8 + size_t{entry} * 13 + (field == 0 ? 0 : field == 1 ? 5 : 9);
                        if (field == 0 && at < n) {
                            s[at] = static_cast<char>(rng.below(8));
                            *what += " flags@" + std::to_string(at);
                            return true;
                        }
                    }
                    SetWord(s, at, TellingValue(Word(s, at), rng));
                    *what += " word@" + std::to_string(at);
                } else {
                    // One reference of the record: its flags, or its
                    // descriptor pointed at another entry.
                    const uint32_t refs = n > 8 ? (n - 8) / 5 : 0;
                    if (refs == 0) return true;
                    const size_t at = 8 + size_t{rng.below(refs)} * 5;
                    if (rng.below(4) == 0) {
                        s[at] = static_cast<char>(rng.below(8));
                    } else {
                        const uint32_t was = Word(s, at + 1);
                        SetWord(s, at + 1, rng.below(3) ? (was & ~0x3FFFFFu) | rng.below(40) : TellingValue(was, rng));
                    }
                    *what += " reference@" + std::to_string(at);
                }
                return true;
            });
            return ReadFile(path);
        }
        case Damage::DirectoryLink:
        case Damage::DirectorySize: {
            std::string f = bytes;
            const std::vector<size_t> entries = DirectoryEntries(f);
            if (entries.empty()) return f;
            const size_t e = entries[rng.below(static_cast<uint32_t>(entries.size()))];
            if (d == Damage::DirectoryLink) {
                const size_t at = e + 68 + 4 * rng.below(3);
                const uint32_t n = static_cast<uint32_t>(entries.size());
                const uint32_t v = rng.below(3) == 0 ? 0xFFFFFFFF : rng.below(2) ? rng.below(n + 2) : TellingValue(Word(f, at), rng);
                SetWord(f, at, v);
                *what = "link@" + std::to_string(at) + "=" + std::to_string(v);
            } else {
                const size_t at = e + 120;
                SetWord(f, at, TellingValue(Word(f, at), rng));
                *what = "size@" + std::to_string(at);
            }
            return f;
        }
        case Damage::FileBytes: {
            std::string f = bytes;
            const uint32_t at = rng.below(static_cast<uint32_t>(f.size()));
            const uint32_t len = 1 + rng.below(4);
            for (uint32_t i = at; i < at + len && i < f.size(); ++i) f[i] = static_cast<char>(f[i] ^ (1 + rng.below(255)));
            *what = "bytes@" + std::to_string(at);
            return f;
        }
        case Damage::FileCut: {
            const uint32_t at = rng.below(static_cast<uint32_t>(bytes.size()));
            *what = "cut to " + std::to_string(at);
            return bytes.substr(0, at);
        }
        case Damage::SizeZero: {
            std::string f = bytes;
            std::vector<size_t> streams;
            for (const size_t e : DirectoryEntries(f))
                if (f[e + 66] == 2 && Word(f, e + 120) != 0) streams.push_back(e);
            if (streams.empty()) return f;
            const size_t e = streams[rng.below(static_cast<uint32_t>(streams.size()))];
            SetWord(f, e + 120, 0);
            *what = "size@" + std::to_string(e + 120) + "=0";
            return f;
        }
        case Damage::StreamsSwapped: {
            const std::string first = PickStream(path, rng, false);
            const std::string second = PickStream(path, rng, false);
            if (first == second) return bytes;
            *what = first + " <-> " + second;
            OCLStorage storage(path.c_str(), 0, kEditMode);
            const std::string one = StreamOf(storage, first), two = StreamOf(storage, second);
            PutStream(storage, first, two);
            PutStream(storage, second, one);
            CommitAsDamage(storage);
            return ReadFile(path);
        }
        case Damage::EntryFreed:
        case Damage::RecordBytes: {
            const char* const tables[] = {"Objects", "Blocks", "Signatures", "Strings", "Enumerations"};
            const std::string name = d == Damage::RecordBytes ? tables[rng.below(2)] : tables[rng.below(5)];
            *what = name;
            OCLStorage probe(path.c_str(), 0, kReadMode);
            if (!probe.hasStream(name)) return bytes;
            EditStream(path, name, [&](std::string& s) {
                const std::vector<size_t> used = UsedEntries(s);
                if (used.empty()) return true;
                const size_t e = used[rng.below(static_cast<uint32_t>(used.size()))];
                if (d == Damage::EntryFreed) {
                    s[e] = 0;
                    *what += " entry@" + std::to_string(e) + " freed";
                    return true;
                }
                const uint32_t offset = Word(s, e + 5), length = Word(s, e + 9);
                if (length == 0 || offset > s.size() || length > s.size() - offset) return true;
                const uint32_t at = offset + rng.below(length);
                s[at] = static_cast<char>(s[at] ^ (1 + rng.below(255)));
                *what += " record byte@" + std::to_string(at);
                return true;
            });
            return ReadFile(path);
        }
        case Damage::NameEmptied: {
            *what = "IdStrings";
            EditStream(path, "IdStrings", [&](std::string& s) {
                std::vector<size_t> used;
                for (size_t at = 8; at + 40 <= s.size(); at += 40)
                    if ((s[at + 6] & 1) && s[at + 8] != 0) used.push_back(at);
                if (used.empty()) return true;
                const size_t at = used[rng.below(static_cast<uint32_t>(used.size()))];
                *what += " name@" + std::to_string(at) + " \"" + std::string(s.c_str() + at + 8) + "\" emptied";
                s[at + 8] = 0;
                return true;
            });
            return ReadFile(path);
        }
        case Damage::Count: break;
    }
    return bytes;
}

// ---- one variant --------------------------------------------------------------------

namespace {

// What an opened module holds, as the library sees it.
struct Holdings {
    std::map<std::string, uint32_t> statics;
    std::vector<uint32_t> dynamics, preloads;
    std::map<std::string, std::set<uint32_t>> entries;
};

template <class T>
void EntriesOf(tModuleIndex m, Holdings& h) {
    auto* t = DescribedObjectNoDescriptor<T>::descriptionTable(m);
    std::set<uint32_t>& set = h.entries[T::storageName];
    for (uint32_t i = 0; t && i < t->count(); ++i)
        if (t->entry(i).exists()) set.insert(i);
}

Holdings HoldingsOf(tModuleIndex m) {
    Holdings h;
    ObjectStore::Dictionary(m).forEachKeyed([&](std::string_view key, StaticGlobals::Entry& e) {
        h.statics[std::string(key)] = e.object.descriptor().raw();
    });
    DynamicObjectList& dynamics = ObjectStore::DynamicsList(m);
    for (size_t i = 0; i < dynamics.length(); ++i) h.dynamics.push_back(dynamics[i].descriptor().raw());
    PreloadList& preloads = ObjectStore::Module(m)->preloads();
    for (size_t i = 0; i < preloads.length(); ++i) h.preloads.push_back(preloads[i].descriptor().raw());
    EntriesOf<InterObjRep>(m, h);
    EntriesOf<SignatureRep>(m, h);
    EntriesOf<ValStringRep>(m, h);
    EntriesOf<EnumRep>(m, h);
    EntriesOf<InterObjProxy>(m, h);
    EntriesOf<EnumProxy>(m, h);
    return h;
}

// What in `after` is missing of `before`; empty when nothing is.
std::string Missing(const Holdings& before, const Holdings& after) {
    for (const auto& [name, object] : before.statics) {
        auto it = after.statics.find(name);
        if (it == after.statics.end()) return "the static name " + name;
        if (tDescriptor(it->second).descIndex() != tDescriptor(object).descIndex()) return "the object of " + name;
    }
    auto indexes = [](const std::vector<uint32_t>& list) {
        std::multiset<uint32_t> out;
        for (uint32_t raw : list) out.insert(tDescriptor(raw).descIndex());
        return out;
    };
    if (indexes(before.dynamics) != indexes(after.dynamics)) return "dynamic objects";
    if (indexes(before.preloads) != indexes(after.preloads)) return "preload objects";
    for (const auto& [table, set] : before.entries) {
        const std::set<uint32_t>& now = after.entries.at(table);
        for (uint32_t i : set)
            if (!now.count(i)) return table + " entry " + std::to_string(i);
    }
    return {};
}

// The bytes of a stream of the file; empty when it cannot be read.
std::string StreamOfFile(const std::string& path, const char* name) {
    try {
        OCLStorage storage(path.c_str(), 0, kReadMode);
        return StreamOf(storage, name);
    } catch (const std::exception&) {
        return {};
    }
}

// The existing entries of a file's "Objects" table, by index: the entry's
// 13 bytes followed by its record's bytes. Nothing when the table cannot be
// read that far.
std::optional<std::map<uint32_t, std::string>> ObjectRecords(const std::string& path) {
    try {
        OCLStorage storage(path.c_str(), 0, kReadMode);
        const std::string s = StreamOf(storage, "Objects");
        std::map<uint32_t, std::string> out;
        if (s.empty()) return out;
        const uint32_t array = Word(s, 4);
        if (s.size() < 16 || array > s.size() || s.size() - array < 8) return std::nullopt;
        const uint32_t count = Word(s, array);
        if (uint64_t(count) * 13 > s.size() - array - 8) return std::nullopt;
        for (uint32_t i = 0; i < count; ++i) {
            const size_t e = array + 8 + size_t{i} * 13;
            if ((s[e] & 0x05) != 0x01) continue;
            const uint32_t offset = Word(s, e + 5), length = Word(s, e + 9);
            if (offset > s.size() || length > s.size() - offset) continue;
            std::string entry = s.substr(e, 13);
            entry.replace(1, 4, 4, '\0');  // the memory word means nothing on file
            out[i] = entry + s.substr(offset, length);
        }
        return out;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Assertions are recorded as well as thrown: a reader that catches every
// exception (the walk) must not hide one.
struct Asserts {
    static inline uint32_t met = 0;
    static inline std::string first;
    [[noreturn]] static void Handler(const char* text, const char* source, int line) {
        if (met++ == 0) first = std::string(text) + " (" + source + ":" + std::to_string(line) + ")";
        throw AssertionFailed(text, source, line);
    }
};

struct Hang {
    static inline char text[256];
    static void Alarm(int) {
        const ssize_t ignored = ::write(2, text, std::strlen(text));
        (void)ignored;
        std::abort();
    }
};

// tqdump's exit status for the file.
int Tqdump(const std::string& tool, const std::string& path) {
    const std::string command = tool + " --json '" + path + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first line of `changed` that differs from its line in `original`,
// beside that line.
std::string FirstDifference(const std::string& original, const std::string& changed) {
    std::istringstream a(original), b(changed);
    std::string x, y;
    for (uint32_t line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(a, x)), moreB = static_cast<bool>(std::getline(b, y));
        if (!moreA && !moreB) return "the same lines";
        if (x != y || moreA != moreB)
            return "line " + std::to_string(line) + " \"" + (moreA ? x : "") + "\" reads \"" + (moreB ? y : "") + "\"";
    }
}

class Variant {
public:
    Variant(const Settings& s, const BaseModule& base, Figures& figures, Figures::PerDamage& per,
            const std::string& label, bool compact)
        : s_(s), base_(base), figures_(figures), per_(per), label_(label), compact_(compact) {}

    void run(const std::string& path, bool compareTqdump) {
        const auto baseObjects = objectsOf(base_.bytes);
        const auto damagedObjects = ObjectRecords(path);
        damagedNames_ = StreamOfFile(path, "IdStrings");
        const int tool = compareTqdump ? Tqdump(s_.tqdump, path) : -2;

        tModuleIndex m = NO_MODULE;
        try {
            m = open(path);
        } catch (const StoreException& e) {
            ++per_.refused;
            ++figures_.refusedBy[e.name()];
            if (s_.verbose) std::fprintf(stderr, "%s: refused: %s\n", label_.c_str(), e.what());
            if (ObjectStore::ModuleCount() != 0 || ObjectStore::LockState() != LOCK_NORMAL)
                finding("a refused load left modules behind");
            if (tool == 0) finding("tqdump calls sound a file the library refuses: " + std::string(e.what()));
            if (tool >= 0) ++figures_.tqdumpCompared;
            return;
        }
        ++per_.opened;
        const Holdings before = HoldingsOf(m);
        std::vector<WalkFault> faults = WalkModule(m);
        if (faults.empty()) readsAsTheOriginal(m, faults);
        if (!faults.empty()) ++per_.walkFaults;
        if (tool >= 0) {
            ++figures_.tqdumpCompared;
            if (tool == 0 && !faults.empty())
                finding("tqdump calls sound a file whose records the library cannot read: " + faults[0].where +
                        ": " + faults[0].text);
            if (tool != 0 && faults.empty()) finding("tqdump calls unsound a file the library reads whole");
        }
        // Every other variant is compacted: its records move, and what a
        // record names must move with it.
        try {
            if (compact_)
                ObjectStore::Compact(m);
            else
                ObjectStore::Save(m);
            ObjectStore::Commit(m);
            ++per_.saved;
        } catch (const StoreException& e) {
            ++per_.saveRefused;
            UnloadAll();
            return;
        }
        UnloadAll();
        try {
            m = open(path);
        } catch (const StoreException& e) {
            finding("the file the store saved does not open again: " + std::string(e.what()));
            return;
        }
        ++per_.reopened;
        const Holdings after = HoldingsOf(m);
        const std::string missing = Missing(before, after);
        if (!missing.empty()) finding("the save dropped " + missing);
        for (const WalkFault& f : WalkModule(m)) {
            const auto known = [&](const WalkFault& g) { return g.text == f.text || g.where == f.where; };
            if (std::none_of(faults.begin(), faults.end(), known))
                finding("the save made " + f.where + " unreadable: " + f.text);
        }
        UnloadAll();
        checkUntouched(baseObjects, damagedObjects, path, after);
    }

private:
    tModuleIndex open(const std::string& path) { return Open(base_, path); }

    // A module that reads without a fault reads as the original did, or its
    // damage went unseen. Failing to make the text is a fault of its own.
    void readsAsTheOriginal(tModuleIndex m, std::vector<WalkFault>& faults) {
        std::string text;
        try {
            text = compiler::TextModuleText(m);
        } catch (const StoreException& e) {
            faults.push_back({e.what(), "the module's text", 1});
            return;
        }
        if (text == base_.text) return;
        ++per_.silent;
        if (base_.checksums)
            finding("reads otherwise than the original without a word");
        else
            figures_.silent.push_back(label_ + ": " + FirstDifference(base_.text, text));
    }

    std::optional<std::map<uint32_t, std::string>> objectsOf(const std::string& bytes) {
        const std::string path = s_.folder + "/base.qbo";
        WriteFile(path, bytes);
        baseNames_ = StreamOfFile(path, "IdStrings");
        return ObjectRecords(path);
    }

    // Whether the damage left the identifier entry of a name as it was.
    bool nameUntouched(const std::string& name) const {
        const size_t at = 8 + size_t{base_.nameEntries.at(name)} * 40;
        return at + 40 <= baseNames_.size() && at + 40 <= damagedNames_.size() &&
               baseNames_.compare(at, 40, damagedNames_, at, 40) == 0;
    }

    // Every object of the original module whose entry and record the damage
    // left as they were is still in the saved file.
    void checkUntouched(const std::optional<std::map<uint32_t, std::string>>& base,
                        const std::optional<std::map<uint32_t, std::string>>& damaged, const std::string& path,
                        const Holdings& after) {
        if (!base || !damaged) return;
        const auto saved = ObjectRecords(path);
        if (!saved) {
            finding("the saved file's objects table cannot be read");
            return;
        }
        std::set<uint32_t> untouched;
        for (const auto& [index, bytes] : *base) {
            auto it = damaged->find(index);
            if (it == damaged->end() || it->second != bytes) continue;
            untouched.insert(index);
            ++figures_.untouchedObjectsChecked;
            if (!saved->count(index)) finding("the save dropped untouched object " + std::to_string(index));
        }
        for (const auto& [name, index] : base_.statics) {
            if (!untouched.count(index) || !nameUntouched(name)) continue;
            const auto it = after.statics.find(name);
            if (it == after.statics.end())
                finding("the save dropped the name " + name + " of untouched object " + std::to_string(index));
            else if (tDescriptor(it->second).isNull() || tDescriptor(it->second).descIndex() != index)
                finding("after the save the name " + name + " no longer names untouched object " +
                        std::to_string(index));
        }
        std::set<uint32_t> listed;
        for (uint32_t raw : after.dynamics) listed.insert(tDescriptor(raw).descIndex());
        for (uint32_t index : base_.dynamics)
            if (untouched.count(index) && !listed.count(index))
                finding("the save dropped untouched dynamic object " + std::to_string(index) + " from its list");
    }

    void finding(const std::string& text) { figures_.findings.push_back(label_ + ": " + text); }

    const Settings& s_;
    const BaseModule& base_;
    Figures& figures_;
    Figures::PerDamage& per_;
    std::string label_;
    bool compact_;
    std::string baseNames_, damagedNames_;
};

}  // namespace

Figures Run(const Settings& settings, const std::vector<BaseModule>& bases) {
    Figures figures;
    const AssertHandler previous = SetAssertHandler(&Asserts::Handler);
    struct sigaction alarm = {};
    alarm.sa_handler = &Hang::Alarm;
    ::sigaction(SIGALRM, &alarm, nullptr);
    const std::string path = settings.folder + "/variant.qbo";
    constexpr int kinds = static_cast<int>(Damage::Count);
    for (uint32_t v = 0; v < settings.variants; ++v) {
        // The seed alone decides the variant, so that one is run again by
        // its seed.
        const uint64_t seed = settings.seed + v;
        Random rng(seed * 0x2545F4914F6CDD1Dull + 7);
        const BaseModule& base = bases[(seed / kinds) % bases.size()];
        const Damage d = static_cast<Damage>(seed % kinds);
        Figures::PerDamage& per = figures.byDamage[d];
        ++per.variants;
        std::string what;
        const std::string damaged = Damaged(base.bytes, d, rng, settings.folder, &what);
        if (damaged == base.bytes) {
            ++per.unchanged;
            continue;
        }
        const bool compact = (seed / kinds / bases.size()) % 2 == 1;
        const std::string label = "variant " + std::to_string(seed) + " (" + base.name + ", " + DamageName(d) + ": " +
                                  what + (compact ? ", compacted" : "") + ")";
        std::snprintf(Hang::text, sizeof Hang::text, "campaign: %s hangs\n", label.c_str());
        WriteFile(path, damaged);
        const size_t findingsBefore = figures.findings.size();
        ::alarm(kVariantSeconds);
        try {
            Variant(settings, base, figures, per, label, compact)
                .run(path, !base.companionPath.empty() || settings.tqdumpEvery == 0 ? false : v % settings.tqdumpEvery == 0);
        } catch (const std::exception& e) {
            if (Asserts::met == 0) figures.findings.push_back(label + ": " + e.what());
        }
        ::alarm(0);
        if (!settings.keep.empty() && figures.findings.size() > findingsBefore)
            WriteFile(settings.keep + "/" + std::to_string(seed) + ".qbo", damaged);
        if (Asserts::met != 0) {
            figures.findings.push_back(label + ": assertion " + Asserts::first);
            break;  // the library's state is not to be trusted after an assertion
        }
        if (ObjectStore::ModuleCount() != 0) UnloadAll();
    }
    ::signal(SIGALRM, SIG_DFL);
    SetAssertHandler(previous);
    return figures;
}

void Figures::print(std::ostream& os) const {
    os << std::left << std::setw(16) << "damage" << std::right;
    for (const char* h : {"variants", "same", "refused", "opened", "faults", "saved", "unsaved", "reopened", "silent"})
        os << std::setw(9) << h;
    os << "\n";
    PerDamage total;
    for (const auto& [d, p] : byDamage) {
        os << std::left << std::setw(16) << DamageName(d) << std::right;
        for (uint32_t n : {p.variants, p.unchanged, p.refused, p.opened, p.walkFaults, p.saved, p.saveRefused, p.reopened,
                           p.silent})
            os << std::setw(9) << n;
        os << "\n";
        total.variants += p.variants;
        total.unchanged += p.unchanged;
        total.refused += p.refused;
        total.opened += p.opened;
        total.walkFaults += p.walkFaults;
        total.saved += p.saved;
        total.saveRefused += p.saveRefused;
        total.reopened += p.reopened;
        total.silent += p.silent;
    }
    os << std::left << std::setw(16) << "all" << std::right;
    for (uint32_t n : {total.variants, total.unchanged, total.refused, total.opened, total.walkFaults, total.saved,
                       total.saveRefused, total.reopened, total.silent})
        os << std::setw(9) << n;
    os << "\nrefused as:";
    for (const auto& [name, n] : refusedBy) os << " " << name << " " << n;
    os << "\nuntouched objects checked after a save: " << untouchedObjectsChecked
       << "\ntqdump verdicts compared: " << tqdumpCompared << "\nfindings: " << findings.size() << "\n";
    for (const std::string& f : findings) os << "  " << f << "\n";
    os << "older files read otherwise without a word: " << silent.size() << "\n";
    for (const std::string& s : silent) os << "  " << s << "\n";
}

}  // namespace tq::campaign
