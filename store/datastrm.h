// DataStream: the in-memory header that node builders start from.
//
// A builder that combines streams (a binary operator over two operand
// nodes, a call over its argument nodes) makes the new node in one block
// that also has room for the data of up to four other streams, so that it
// can copy them in behind its own fields. Each DataStream names its kind and
// the number of data bytes it carries (extra); the allocation operator adds
// the extra bytes of every stream it is given:
//
//   new (a, b, nullptr, nullptr) Node(...)
//       allocates sizeof(Node) + a->extra() + b->extra() bytes
//
// Invariant: extra is never negative; a builder that computed a negative
// size has broken its own arithmetic, which is an assertion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tq {

class DataStream {
public:
    DataStream(unsigned char kind, int32_t extra);

    unsigned char kind() const { return kind_; }
    int32_t extra() const { return extra_; }

    // size plus the extra bytes of each stream that is not null.
    static void* operator new(std::size_t size, const DataStream* a, const DataStream* b,
                              const DataStream* c, const DataStream* d);
    // Frees a block made above when the constructor raised.
    static void operator delete(void* p, const DataStream* a, const DataStream* b,
                                const DataStream* c, const DataStream* d) noexcept;
    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;

    // The number of bytes the allocation operator asks for.
    static std::size_t BlockSize(std::size_t size, const DataStream* a, const DataStream* b,
                                 const DataStream* c, const DataStream* d);

protected:
    unsigned char kind_;
    int32_t extra_;
};

}  // namespace tq
