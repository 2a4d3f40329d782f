// The layout of a module file, decoded from its bytes.
//
// Formats read here (the store's headers draw each of them):
//   "Module version"  high pair, low pair, string of attached libraries
//   "IdStrings"       count, free-list head, count 40-byte entries: handle
//                     word, 16-bit count, flags (bit 0 used), module byte,
//                     32 bytes of text
//   "Static globals"  revision, N, N (name, object) reference pairs, dynamic
//                     references to a null one, preload references to a null
//                     one
//   a table stream    16-byte head (revision, array offset, array slot, dead
//                     bytes), records, and the array: count, free-list head,
//                     count 13-byte descriptions (flags, memory word, offset
//                     or next free run, length or run)
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/storage/oclstorage.h"
#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/dscrptr.h"
#include "tools/tqdumplib/tqdump.h"

namespace tq::dump {

namespace {

constexpr uint32_t kReadAccess = STGM_READ | STGM_SHARE_EXCLUSIVE;

std::vector<uint8_t> StreamBytes(OCLStorage& storage, const std::string& name) {
    OCLStream s(storage, name.c_str(), 0, kReadAccess);
    std::vector<uint8_t> bytes(s.size());
    s.read(bytes.data(), bytes.size());
    return bytes;
}

// Bounds-checked little-endian reading of a byte image.
struct Cursor {
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;
    bool has(size_t n) const { return n <= bytes.size() && pos <= bytes.size() - n; }
    uint32_t u32() {
        const uint32_t v = LoadLE32(&bytes[pos]);
        pos += 4;
        return v;
    }
};

constexpr uint32_t kRawHeadBytes = 32;

Node Reference(uint8_t flags, uint32_t raw) {
    Node r = Node::Record();
    const tDescriptor d(raw);
    r.add("flags", int64_t(flags));
    if (d.isNull()) {
        r.add("index", Node());
    } else {
        r.add("index", d.descIndex());
        r.add("module", int64_t(d.moduleIndex()));
        if (d.isProxy()) r.add("proxy", true);
    }
    return r;
}

void DumpVersion(OCLStorage& storage, Report& report) {
    Node& v = report.root.add("version", Node::Record());
    if (!storage.hasStream("Module version")) {
        v.add("present", false);
        return;
    }
    const std::vector<uint8_t> b = StreamBytes(storage, "Module version");
    // A module made but never saved has the stream empty; the library then
    // takes its own version, as it does for a module it creates.
    if (b.empty()) {
        v.add("empty", true);
        return;
    }
    Cursor c{b};
    if (!c.has(12)) return report.fault(v, "Module version: the record is truncated");
    const uint32_t high = c.u32(), low = c.u32(), n = c.u32();
    v.add("product", std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." +
                         std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFF));
    v.add("high", high);
    v.add("low", low);
    if (!c.has(n)) return report.fault(v, "Module version: the library list runs past the end of the stream");
    v.add("libraries", std::string(b.begin() + 12, b.begin() + 12 + n));
}

// The identifier table; the texts of its used entries by index.
std::map<uint32_t, std::string> DumpNames(OCLStorage& storage, Report& report) {
    std::map<uint32_t, std::string> names;
    Node& t = report.root.add("identifiers", Node::Record());
    if (!storage.hasStream("IdStrings")) return names;
    const std::vector<uint8_t> b = StreamBytes(storage, "IdStrings");
    if (b.empty()) {
        t.add("count", int64_t(0));
        return names;
    }
    Cursor c{b};
    if (!c.has(8)) {
        report.fault(t, "IdStrings: the table head is truncated");
        return names;
    }
    const uint32_t count = c.u32(), freeHead = c.u32();
    t.add("count", count);
    t.add("freeHead", freeHead == 0xFFFFFFFF ? Node() : Node::Int(freeHead));
    if (uint64_t(count) * 40 > b.size() - 8) {
        report.fault(t, "IdStrings: the entry count runs past the end of the stream");
        return names;
    }
    Node& entries = t.add("entries", Node::List());
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = &b[8 + size_t(i) * 40];
        Node& n = entries.push(Node::Record());
        n.add("index", i);
        if (!(e[6] & 1)) {
            // A run of free entries is one line.
            uint32_t last = i;
            while (last + 1 < count && !(b[8 + size_t(last + 1) * 40 + 6] & 1)) ++last;
            n.add("free", true);
            if (last != i) n.add("through", last);
            i = last;
            continue;
        }
        const char* text = reinterpret_cast<const char*>(e + 8);
        size_t len = 0;
        while (len < 32 && text[len]) ++len;
        n.add("count", int64_t(LoadLE16(e + 4)));
        n.add("text", std::string(text, len));
        if (len == 32) report.fault(n, "IdStrings entry " + std::to_string(i) + ": the text has no end");
        names[i] = std::string(text, len);
    }
    return names;
}

void DumpStaticGlobals(OCLStorage& storage, const std::map<uint32_t, std::string>& names, Report& report) {
    Node& g = report.root.add("staticGlobals", Node::Record());
    if (!storage.hasStream("Static globals")) return;
    const std::vector<uint8_t> b = StreamBytes(storage, "Static globals");
    if (b.empty()) {
        g.add("empty", true);
        return;
    }
    Cursor c{b};
    if (!c.has(8)) return report.fault(g, "Static globals: the record is truncated");
    const uint32_t revision = c.u32(), n = c.u32();
    g.add("revision", revision);
    if (revision != 1) report.fault(g, "Static globals: revision " + std::to_string(revision) + " is unknown");
    Node& statics = g.add("static", Node::List());
    if (uint64_t(n) * 10 > b.size() - 8) return report.fault(g, "Static globals: the count runs past the end");
    for (uint32_t i = 0; i < n; ++i) {
        Node& e = statics.push(Node::Record());
        const uint32_t raw = LoadLE32(&b[c.pos + 1]);
        const tDescriptor nd(raw);
        auto it = names.find(nd.descIndex());
        e.add("name", it != names.end() && !nd.isNull() ? Node::Text(it->second) : Node());
        c.pos += 5;
        const uint8_t flags = b[c.pos];
        const tDescriptor od(LoadLE32(&b[c.pos + 1]));
        c.pos += 5;
        e.add("object", od.isNull() ? Node() : Node::Int(od.descIndex()));
        e.add("flags", int64_t(flags));
    }
    for (const std::string list : {"dynamic", "preload"}) {
        Node& l = g.add(list, Node::List());
        for (;;) {
            if (!c.has(5)) return report.fault(g, "Static globals: the " + list + " list has no end");
            const uint8_t flags = b[c.pos];
            const uint32_t raw = LoadLE32(&b[c.pos + 1]);
            c.pos += 5;
            if (tDescriptor(raw).isNull()) break;
            l.push(Reference(flags, raw));
        }
    }
    if (c.pos < b.size()) g.add("trailingBytes", int64_t(b.size() - c.pos));
}

// Records of kinds the library does not read yet are shown as their first
// bytes.
void DumpTable(OCLStorage& storage, const std::string& name, bool raw, Report& report, Node& tables) {
    Node& t = tables.add(name, Node::Record());
    const std::vector<uint8_t> b = StreamBytes(storage, name);
    if (b.empty()) {
        t.add("empty", true);
        return;
    }
    Cursor c{b};
    if (!c.has(16)) return report.fault(t, name + ": the table head is truncated");
    const uint32_t revision = c.u32(), array = c.u32(), slot = c.u32(), dead = c.u32();
    t.add("revision", revision);
    t.add("arrayOffset", array);
    t.add("arraySlot", slot);
    t.add("deadBytes", dead);
    if (array < 16 || uint64_t(array) + 8 > b.size())
        return report.fault(t, name + ": the description array lies outside the stream");
    c.pos = array;
    const uint32_t count = c.u32(), freeHead = c.u32();
    t.add("count", count);
    t.add("freeHead", freeHead == 0xFFFFFFFF ? Node() : Node::Int(freeHead));
    if (uint64_t(count) * 13 > b.size() - c.pos)
        return report.fault(t, name + ": the description count runs past the end of the stream");
    uint32_t used = 0, deleted = 0, free = 0;
    Node& entries = t.add("descriptions", Node::List());
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = &b[c.pos + size_t(i) * 13];
        Node& d = entries.push(Node::Record());
        d.add("index", i);
        const uint8_t flags = e[0];
        const uint32_t a = LoadLE32(e + 5), l = LoadLE32(e + 9);
        if (!(flags & 0x05)) {
            // A run of free entries is one line.
            uint32_t last = i;
            while (last + 1 < count && !(b[c.pos + size_t(last + 1) * 13] & 0x05)) ++last;
            free += last - i + 1;
            d.add("state", "free");
            if (last != i) d.add("through", last);
            i = last;
            continue;
        }
        const bool isDeleted = (flags & 0x04) != 0;
        isDeleted ? ++deleted : ++used;
        d.add("state", isDeleted ? "deleted" : "used");
        d.add("offset", a);
        d.add("length", l);
        if (l != 0 && (a < 16 || a > b.size() || l > b.size() - a)) {
            report.fault(d, name + " entry " + std::to_string(i) + ": the record lies outside the stream");
        } else if (raw) {
            d.add("head", HexBytes(&b[a], std::min<uint32_t>(l, kRawHeadBytes)));
        }
    }
    t.add("used", used);
    t.add("deleted", deleted);
    t.add("free", free);
}

}  // namespace

std::string HexBytes(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t k = 0; k < n; ++k) {
        if (k) out += ' ';
        out += digits[p[k] >> 4];
        out += digits[p[k] & 15];
    }
    return out;
}

void DumpLayout(OCLStorage& storage, Report& report) {
    Node& streams = report.root.add("streams", Node::List());
    for (const std::string& name : storage.streamNames()) {
        Node& s = streams.push(Node::Record());
        s.add("name", name);
        OCLStream stream(storage, name.c_str(), 0, kReadAccess);
        s.add("size", stream.size());
    }
    // The pieces are checked as the dump reads them, and by the walk.
    report.root.add("checksums", std::string(storage.hasChecksums() ? "kept for every stream"
                                                                    : "none (written before checksums)"));
    DumpVersion(storage, report);
    const std::map<uint32_t, std::string> names = DumpNames(storage, report);
    DumpStaticGlobals(storage, names, report);
    Node& tables = report.root.add("tables", Node::Record());
    for (const char* name : kTableStreams)
        if (storage.hasStream(name)) DumpTable(storage, name, !KindIsRead(name), report, tables);
}

}  // namespace tq::dump
