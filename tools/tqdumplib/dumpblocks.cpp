// The "Blocks" table: each block's head and its statements and expressions,
// one node per line with its offset in the node area, decoded from the
// record's bytes (the store's headers draw the formats: block.h, execnode.h,
// exprnode.h, ident.h, binop.h, assign.h and the control statements').
//
// The decoder is the tool's own and forgives what it does not know: a node
// of a kind it has no layout for is shown raw (its kind, size and first
// bytes) and the walk goes on behind it. Whether the library can run the
// block is asked separately, by reading it the way the store does; a block
// the store refuses is reported as a fault of the file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/storage/oclstream.h"
#include "platform/util/lebytes.h"
#include "store/block.h"
#include "store/idtype.h"
#include "store/interp/binop.h"
#include "store/interp/compound.h"
#include "store/interp/execnode.h"
#include "store/interp/exprnode.h"
#include "store/interp/intfuncs.h"
#include "store/interp/mathfunc.h"
#include "store/interp/nodekinds.h"
#include "store/interp/strfunc.h"
#include "store/persist/descobj.h"
#include "tools/tqdumplib/tqdump.h"

namespace tq::dump {

namespace {

// Nesting the decoder follows before it shows the rest of a node raw.
constexpr int kMaxDepth = 600;
constexpr uint32_t kRawBytes = 16;

std::string Reference(uint8_t flags, uint32_t raw) {
    const tDescriptor d(raw);
    if (d.isNull()) return "none";
    char text[48];
    std::snprintf(text, sizeof text, "object #%u (flags %u)", d.descIndex(), flags);
    return text;
}

class Decoder {
public:
    Decoder(const uint8_t* area, uint32_t length, Node& lines) : a_(area), n_(length), lines_(lines) {}

    // The statements of the area; stops at the first that does not fit.
    void statements(uint32_t count) {
        uint32_t at = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (!fits(at, ExecNode::kHeadSize, n_)) {
                line(at, 1, "statement " + std::to_string(i + 1) + " of " + std::to_string(count) +
                                " lies past the end of the area");
                return;
            }
            const uint32_t size = u32(at + 2);
            if (size < ExecNode::kHeadSize || !fits(at, size, n_)) {
                line(at, 1, raw(at, n_ - at) + ", its size " + std::to_string(size) + " does not fit");
                return;
            }
            statement(at, at + size);
            at += size;
        }
        if (at < n_) line(at, 1, std::to_string(n_ - at) + " bytes after the last statement: " + raw(at, n_ - at));
    }

private:
    bool fits(uint64_t at, uint64_t size, uint64_t limit) const { return at + size <= limit; }
    uint16_t u16(uint32_t at) const { return LoadLE16(a_ + at); }
    uint32_t u32(uint32_t at) const { return LoadLE32(a_ + at); }

    // One node: its offset in the area, its depth (1 for a statement) and
    // what it is, indented by its depth.
    void line(uint32_t at, int depth, const std::string& text) {
        Node& n = lines_.push(Node::Record());
        n.add("at", at);
        n.add("depth", int32_t(depth));
        n.add("node", std::string(size_t(2 * (depth - 1)), ' ') + text);
    }

    std::string raw(uint32_t at, uint32_t size) const {
        return "kind " + std::to_string(u16(at)) + " (" + std::to_string(size) + " bytes): " +
               HexBytes(a_ + at, std::min(size, kRawBytes)) + (size > kRawBytes ? " ..." : "");
    }

    void statement(uint32_t at, uint32_t end) {
        const uint16_t kind = u16(at);
        const uint8_t flags = a_[at + 6];
        const std::string head = " line " + std::to_string(static_cast<int32_t>(u32(at + 7)));
        switch (kind) {
            case STMT_ASSIGNMENT: {
                std::string form = (flags & 0x08) ? " Let" : (flags & 0x10) ? " Set" : "";
                if (flags & 0x20) form += " :=";
                line(at, 1, "Assignment" + head + form);
                uint32_t next = expression(at + 15, end, 2);
                if (next) next = expression(next, end, 2);
                if (next && next != end) line(next, 2, std::to_string(end - next) + " bytes left over");
                return;
            }
            case STMT_EXITER: {
                static const char* const exits[] = {"Exit", "Exit Function", "Exit Sub", "Exit For", "Exit Do"};
                const uint32_t type = end - at >= 19 ? u32(at + 15) : 99;
                line(at, 1, std::string(type < 5 ? exits[type] : "Exit (type " + std::to_string(type) + ")") + head);
                return;
            }
            case STMT_STOP: line(at, 1, "Stop" + head); return;
            case STMT_END_MARKER: line(at, 1, "end marker" + head); return;
            default:
                if (control(kind, at, end, head)) return;
                break;
        }
        const StatementKind* k = FindStatementKind(kind);
        line(at, 1, std::string(k ? k->name : "unknown statement") + head + ", " + raw(at, end - at));
    }

    static std::string Block(uint32_t index) { return index == NO_BLOCK ? "none" : std::to_string(index); }

    // The control statements (case.h, doloop.h, fornext.h, funccall.h,
    // ifthen.h, print.h, redim.h, trycatch.h, withblk.h). False when the
    // node is too small for its fixed part, so that it is shown raw.
    bool control(uint16_t kind, uint32_t at, uint32_t end, const std::string& head) {
        const uint32_t size = end - at;
        const uint8_t flags = a_[at + 6];
        switch (kind) {
            case STMT_SELECT_CASE: {
                if (size < 29) return false;
                const uint16_t n = u16(at + 27);
                line(at, 1, "SelectCase" + head + ", End Select at line " + std::to_string(int32_t(u32(at + 15))) +
                                ", Case Else block " + Block(u32(at + 19)) + " at line " +
                                std::to_string(int32_t(u32(at + 23))) + ", " + std::to_string(n) + " tests");
                uint32_t pos = expression(at + 29, end, 2);
                for (uint16_t i = 0; i < n && pos; ++i) {
                    if (!fits(pos, 7, end)) {
                        line(pos, 2, "a test record lies past the end of its statement");
                        return true;
                    }
                    const uint16_t k = u16(pos);
                    const uint32_t rsize = u32(pos + 2);
                    const bool first = (k & 128) == 0;
                    static const char* const tests[] = {"?", "Is ==", "=", "To", "Is >", "Is <", "Is <=", "Is >=", "Is <>"};
                    const uint8_t t = k & 0x7F;
                    const uint32_t head = first ? 15 : 7;
                    if (rsize < head || !fits(pos, rsize, end)) {
                        line(pos, 2, "a test record of size " + std::to_string(rsize) + " that does not fit: " +
                                         raw(pos, end - pos));
                        return true;
                    }
                    std::string text = std::string("test ") + (t <= 8 ? tests[t] : "(type " + std::to_string(t) + ")");
                    if (first)
                        text += ", first of the Case at line " + std::to_string(int32_t(u32(pos + 11))) + ", block " +
                                Block(u32(pos + 7));
                    line(pos, 2, text);
                    children(pos + head, pos + rsize, t == 3 ? 2 : 1, 3);
                    pos += rsize;
                }
                if (pos && pos != end) line(pos, 2, std::to_string(end - pos) + " bytes left over");
                return true;
            }
            case STMT_DO_LOOP:
            case STMT_DO_LOOP2: {
                if (size < 20) return false;
                static const char* const forms[] = {"Do While", "Do ... Loop While", "Do Until", "Do ... Loop Until",
                                                    "Do ... Loop", "While ... Wend"};
                const uint8_t form = a_[at + 15];
                line(at, 1, std::string("DoLoop") + head + ", " +
                                (form >= 3 && form <= 8 ? forms[form - 3] : "form " + std::to_string(form)) +
                                ", body block " + Block(u32(at + 16)));
                if (size > 20) children(at + 20, end, 1, 2);
                return true;
            }
            case STMT_FOR_NEXT: {
                if (size < 35) return false;
                static const char* const types[] = {"For", "For Each In", "For Each EmbeddedIn", "For Each CopiedFrom"};
                const uint8_t t = (flags >> 4) & 7;
                line(at, 1, std::string("ForNext") + head + ", " + (t <= 3 ? types[t] : "type " + std::to_string(t)) +
                                ", body block " + Block(u32(at + 15)) + ((flags & 4) ? ", no step" : "") +
                                ((flags & 8) ? ", variable after Next" : ""));
                children(at + 35, end, t == 0 ? ((flags & 4) ? 3 : 4) : 2, 2);
                return true;
            }
            case STMT_FUNCTION_CALL: {
                if (size < 16) return false;
                const uint8_t form = a_[at + 15];
                line(at, 1, std::string("FunctionCallStmt") + head +
                                (form == 2 ? ", Call" : form == 4 ? ", SendEvent" : ", bare call"));
                children(at + 16, end, 1, 2);
                return true;
            }
            case STMT_SIMPLE_IF: {
                if (size < 23) return false;
                line(at, 1, "SimpleIfThen" + head + ", Then block " + Block(u32(at + 15)) + ", Else block " +
                                Block(u32(at + 19)));
                children(at + 23, end, 1, 2);
                return true;
            }
            case STMT_COMPLEX_IF: {
                if (size < 35) return false;
                const uint32_t n = u32(at + 15);
                const uint64_t tables = 35 + 8 * uint64_t(n);
                if (tables > size) return false;
                line(at, 1, "ComplexIfThen" + head + ", " + std::to_string(n) + " conditions, Else block " +
                                Block(u32(at + 23)) + " at line " + std::to_string(int32_t(u32(at + 19))));
                uint32_t pos = at + static_cast<uint32_t>(tables);
                for (uint32_t i = 0; i < n && pos; ++i) {
                    line(at + 35 + 4 * i, 2, "clause at line " + std::to_string(int32_t(u32(at + 35 + 4 * n + 4 * i))) +
                                                 ", block " + Block(u32(at + 35 + 4 * i)));
                    pos = expression(pos, end, 3);
                }
                if (pos && pos != end) line(pos, 2, std::to_string(end - pos) + " bytes left over");
                return true;
            }
            case STMT_PRINT: {
                if (size < 35) return false;
                const uint32_t n = u32(at + 31);
                const uint32_t seps = u32(at + 19), kinds = u32(at + 23);
                if (uint64_t(seps) + 4 * uint64_t(n) > size || uint64_t(kinds) + 4 * uint64_t(n) > size) return false;
                static const char* const separators[] = {",", ";", "none"};
                static const char* const items[] = {"?", "Spc", "Tab", "value"};
                const uint32_t last = u32(at + 15);
                line(at, 1, "Print" + head + ", " + std::to_string(n) + " items, last separator " +
                                (last <= 2 ? separators[last] : std::to_string(last)) +
                                ((flags & 4) ? "" : ", to a target"));
                uint32_t pos = at + 35;
                if (!(flags & 4)) pos = expression(pos, end, 2);
                if (pos) pos = at + u32(at + 27);
                for (uint32_t i = 0; i < n && pos && pos < end; ++i) {
                    const uint32_t sep = u32(at + seps + 4 * i), item = u32(at + kinds + 4 * i);
                    line(pos, 2, std::string("item after ") + (sep <= 2 ? separators[sep] : std::to_string(sep)) +
                                     ", " + (item <= 3 ? items[item] : std::to_string(item)));
                    pos = expression(pos, end, 3);
                }
                return true;
            }
            case STMT_RANDOMIZE:
                line(at, 1, "RandomizeStmt" + head + ((flags & 4) ? ", no seed" : ""));
                if (!(flags & 4)) children(at + 15, end, 1, 2);
                return true;
            case STMT_REDIM: {
                if (size < 27) return false;
                const uint16_t n = u16(at + 25);
                line(at, 1, "RedimStmt" + head + ((flags & 8) ? ", Preserve" : "") + ", " + std::to_string(n) +
                                " dimensions");
                uint32_t pos = expression(at + 15, end, 2);
                for (uint16_t i = 0; i < n && pos; ++i) {
                    if (!fits(pos, 15, end) || u32(pos + 2) < 15 || !fits(pos, u32(pos + 2), end)) {
                        line(pos, 2, "a bounds pair that does not fit: " + raw(pos, end - pos));
                        return true;
                    }
                    const uint32_t psize = u32(pos + 2);
                    line(pos, 2, std::string("bounds") + (u32(pos + 7) ? "" : ", no lower bound"));
                    children(pos + 15, pos + psize, u32(pos + 7) ? 2 : 1, 3);
                    pos += psize;
                }
                return true;
            }
            case STMT_TRY: {
                if (size < 27) return false;
                const uint32_t n = u32(at + 23);
                if (27 + 15 * uint64_t(n) > size) return false;
                line(at, 1, "TryBlock" + head + ", body block " + Block(u32(at + 15)) + ", End Try at line " +
                                std::to_string(int32_t(u32(at + 19))) + ", " + std::to_string(n) + " catches");
                for (uint32_t i = 0; i < n; ++i) {
                    const uint32_t c = at + 27 + 15 * i;
                    const uint16_t name = u16(c + 9);
                    line(c, 2, "Catch at line " + std::to_string(int32_t(u32(c))) + ", " +
                                   (name == 65534 ? std::string("everything") : "#" + std::to_string(name)) +
                                   ", block " + Block(u32(c + 11)));
                }
                return true;
            }
            case STMT_THROW:
                line(at, 1, "ThrowStmt" + head + ((flags & 4) ? ", rethrow" : ""));
                if (!(flags & 4)) children(at + 15, end, 1, 2);
                return true;
            case STMT_WITH:
                if (size < 19) return false;
                line(at, 1, "WithBlock" + head + ", body block " + Block(u32(at + 15)));
                children(at + 19, end, 1, 2);
                return true;
            default: return false;
        }
    }

    // One expression at `at` inside [.., limit); the offset behind it, or 0
    // when it does not fit (the rest of the parent is then not decoded).
    uint32_t expression(uint32_t at, uint32_t limit, int depth) {
        if (!fits(at, ExprNode::kHeadSize, limit)) {
            line(at, depth, "an expression lies past the end of its parent");
            return 0;
        }
        const uint16_t kind = u16(at);
        const uint32_t size = u32(at + 2);
        const uint8_t flags = a_[at + 6];
        if (size < ExprNode::kHeadSize || !fits(at, size, limit)) {
            line(at, depth, raw(at, limit - at) + ", its size " + std::to_string(size) + " does not fit");
            return 0;
        }
        const uint32_t end = at + size;
        if (depth > kMaxDepth) {
            line(at, depth, "nested deeper than the tool follows: " + raw(at, size));
            return end;
        }
        const std::string paren = (flags & ExprNode::kParenthesized) ? " (in parentheses)" : "";
        switch (kind) {
            case EXPR_SID:
                if (size == 10) {
                    line(at, depth, "Sid " + name(flags, a_[at + 7], u16(at + 8), true) + paren);
                    return end;
                }
                break;
            case EXPR_CID:
                if (size >= 12) {
                    const uint16_t n = u16(at + 10);
                    line(at, depth, "Cid " + name(flags, a_[at + 7], u16(at + 8), false) + ", " +
                                        std::to_string(n) + " arguments" + paren);
                    children(at + 12, end, n, depth + 1);
                    return end;
                }
                break;
            case EXPR_MID:
                if (size >= 9) {
                    const uint16_t n = u16(at + 7);
                    line(at, depth, "Mid, " + std::to_string(n) + " pieces" + paren);
                    children(at + 9, end, n, depth + 1);
                    return end;
                }
                break;
            case EXPR_LONG_CONSTANT:
                if (size == 11) {
                    line(at, depth, "LongConstant " + std::to_string(static_cast<int32_t>(u32(at + 7))) + paren);
                    return end;
                }
                break;
            case EXPR_DOUBLE_CONSTANT:
                if (size == 15) {
                    line(at, depth, "Constant<double> " + Number(at + 7) + paren);
                    return end;
                }
                break;
            case EXPR_STRING_CONSTANT:
                if (size >= 12) {
                    const uint32_t len = u32(at + 7);
                    const size_t shown = std::min<size_t>(std::min<uint64_t>(len, size - 11), 200);
                    std::string text(reinterpret_cast<const char*>(a_ + at + 11), shown);
                    text = text.substr(0, text.find('\0'));
                    line(at, depth, "StringConstant \"" + text + "\"" + paren);
                    return end;
                }
                break;
            case EXPR_BINARY_OP:
            case EXPR_UNARY_OP:
                if (size >= 8) {
                    const uint8_t op = a_[at + 7];
                    const bool binary = kind == EXPR_BINARY_OP;
                    const char* spelling = binary ? BinOpSpelling(op) : UnaryOpSpelling(op);
                    line(at, depth, std::string(binary ? "BinaryOp " : "UnaryOp ") +
                                        (spelling ? spelling : "operator " + std::to_string(op)) + paren);
                    children(at + 8, end, binary ? 2 : 1, depth + 1);
                    return end;
                }
                break;
            case EXPR_NULL_OBJ_CONSTANT:
                if (size == 7) {
                    line(at, depth, "NullObjConstant (Nothing)" + paren);
                    return end;
                }
                break;
            case EXPR_INTR_MATH:
                if (size >= IntrMath::kArgOffset) {
                    const uint32_t f = u32(at + 7);
                    const char* fname = IntrMath::Name(f);
                    const bool none = (flags & IntrMath::kNoArgument) != 0;
                    line(at, depth, std::string("IntrMath ") + (fname ? fname : "function " + std::to_string(f)) +
                                        (none ? ", no argument" : "") + paren);
                    children(at + IntrMath::kArgOffset, end, none ? 0 : 1, depth + 1);
                    return end;
                }
                break;
            case EXPR_INTR_STRING:
                if (size >= IntrString::kArgOffset) {
                    const uint32_t w = u32(at + 7);
                    const char* fname = IntrString::Name(w);
                    uint32_t n = 1;
                    for (uint8_t f : {IntrString::kArg2, IntrString::kArg3, IntrString::kArg4})
                        if (flags & f) ++n;
                    line(at, depth, std::string("IntrString ") + (fname ? fname : "function " + std::to_string(w)) +
                                        ((flags & IntrString::kDollar) ? "$" : "") + ", " + std::to_string(n) +
                                        " arguments" + paren);
                    children(at + IntrString::kArgOffset, end, n, depth + 1);
                    return end;
                }
                break;
            case EXPR_INTR_BOUND:
                if (size >= IntrBound::kArrayOffset) {
                    const uint8_t which = a_[at + 7];
                    const bool none = (flags & IntrBound::kNoDimension) != 0;
                    line(at, depth, std::string("IntrBound ") +
                                        (which == IntrBound::kLBound   ? "LBound"
                                         : which == IntrBound::kUBound ? "UBound"
                                                                       : "function " + std::to_string(which)) +
                                        (none ? ", no dimension" : "") + paren);
                    children(at + IntrBound::kArrayOffset, end, none ? 1 : 2, depth + 1);
                    return end;
                }
                break;
            case EXPR_INTR_COLOR:
                if (size >= IntrColor::kArgOffset) {
                    const uint32_t f = u32(at + 7);
                    line(at, depth, std::string("IntrColor ") +
                                        (f == kColorRGB ? "RGB" : f == kColorQB ? "QBColor" : "function " + std::to_string(f)) +
                                        paren);
                    children(at + IntrColor::kArgOffset, end, f == kColorRGB ? 3 : 1, depth + 1);
                    return end;
                }
                break;
            case EXPR_INTR_IIF:
                line(at, depth, "IntrIIf" + paren);
                children(at + IntrIIf::kCondOffset, end, 3, depth + 1);
                return end;
            default: break;
        }
        const ExpressionKind* k = FindExpressionKind(kind);
        line(at, depth, std::string(k ? k->name : "unknown expression") + ", " + raw(at, size));
        return end;
    }

    void children(uint32_t at, uint32_t end, uint32_t count, int depth) {
        for (uint32_t i = 0; i < count && at; ++i) at = expression(at, end, depth);
        if (at && at != end) line(at, depth, std::to_string(end - at) + " bytes left over");
    }

    static std::string name(uint8_t flags, uint8_t type, uint16_t index, bool truth) {
        std::string out;
        if (flags & ExprNode::kDotted) out += ".";
        if (flags & ExprNode::kMe)
            out += "Me";
        else if (truth && index == 65535)
            out += "True";
        else if (truth && index == 65534)
            out += "False";
        else if (index == 65535)
            out += "(no name)";
        else
            out += "#" + std::to_string(index);
        static const char suffixes[] = "%&!#@$";
        const IdType t = type & IDT_TYPEMASK;
        if (t >= IDT_SHORT && t <= IDT_STRING) out += suffixes[t - 1];
        if (flags & ExprNode::kArgsParenthesized) out += "()";
        return out;
    }

    std::string Number(uint32_t at) const {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= uint64_t(a_[at + i]) << (8 * i);
        double v;
        static_assert(sizeof v == sizeof bits);
        std::memcpy(&v, &bits, sizeof v);
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", v);
        return text;
    }

    const uint8_t* a_;
    uint32_t n_;
    Node& lines_;
};

void DescribeBlockRecord(const std::vector<uint8_t>& r, Node& n) {
    if (r.size() < BlockRep::kRecordHead) {
        n.add("truncated", Node::Int(static_cast<int64_t>(r.size())));
        return;
    }
    const uint32_t byteLength = LoadLE32(&r[22]);
    n.add("size", LoadLE32(&r[0]));
    n.add("nodeCount", LoadLE32(&r[4]));
    n.add("endLine", static_cast<int32_t>(LoadLE32(&r[8])));
    n.add("locals", Reference(r[12], LoadLE32(&r[13])));
    n.add("statics", Reference(r[17], LoadLE32(&r[18])));
    n.add("byteLength", byteLength);
    Node& nodes = n.add("nodes", Node::List());
    const uint32_t have = static_cast<uint32_t>(r.size() - BlockRep::kRecordHead);
    Decoder d(r.data() + BlockRep::kRecordHead, std::min(byteLength, have), nodes);
    d.statements(LoadLE32(&r[4]));
}

}  // namespace

void DumpBlocks(unsigned char m, Node& into, Report& report) {
    DescriptionTable<BlockRep>* table = DescribedObjectNoDescriptor<BlockRep>::descriptionTable(m);
    DumpEntries(table, BlockRep::storageName, into, [&](uint32_t i, const Description& e, Node& n) {
        try {
            OCLStream& s = table->stream();
            const uint32_t length = std::min(e.length(), s.size() > e.offset() ? s.size() - e.offset() : 0u);
            std::vector<uint8_t> record(length);
            s.seek(e.offset());
            s.read(record.data(), record.size());
            DescribeBlockRecord(record, n);
        } catch (const std::exception& ex) {
            report.fault(n, ex.what());
            return;
        }
        // Whether the store would run it: its own reader and check.
        try {
            DescribedObjectNoDescriptor<BlockRep>::fault(tDescriptor::Make(m, i));
        } catch (const std::exception& ex) {
            report.fault(n, ex.what());
        }
    });
}

}  // namespace tq::dump
