#include "store/datastrm.h"

#include <initializer_list>
#include <new>

#include "platform/util/uassert.h"

namespace tq {

DataStream::DataStream(unsigned char kind, int32_t extra) : kind_(kind), extra_(extra) {
    TQ_ASSERT(extra >= 0, "extra >= 0");
}

std::size_t DataStream::BlockSize(std::size_t size, const DataStream* a, const DataStream* b,
                                  const DataStream* c, const DataStream* d) {
    // Four 31-bit sizes cannot overflow a 64-bit sum.
    std::size_t total = size;
    for (const DataStream* s : {a, b, c, d}) {
        if (s) total += static_cast<std::size_t>(s->extra_);
    }
    return total;
}

void* DataStream::operator new(std::size_t size, const DataStream* a, const DataStream* b,
                               const DataStream* c, const DataStream* d) {
    return ::operator new(BlockSize(size, a, b, c, d));
}

void DataStream::operator delete(void* p, const DataStream*, const DataStream*,
                                 const DataStream*, const DataStream*) noexcept {
    ::operator delete(p);
}

void* DataStream::operator new(std::size_t size) { return ::operator new(size); }

void DataStream::operator delete(void* p) noexcept { ::operator delete(p); }

}  // namespace tq
