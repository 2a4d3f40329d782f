#include "compiler/arena.h"

#include <algorithm>
#include <cstdlib>

namespace tq::compiler {

namespace {
constexpr size_t kMaxChunk = 1024 * 1024;
constexpr size_t kHeader = (sizeof(void*) * 2 + alignof(std::max_align_t) - 1) &
                           ~(alignof(std::max_align_t) - 1);
}  // namespace

Arena::~Arena() {
    while (chunks_) {
        Chunk* next = chunks_->next;
        std::free(chunks_);
        chunks_ = next;
    }
}

void* Arena::allocate(size_t size, size_t align) {
    used_ += size;
    auto at = reinterpret_cast<uintptr_t>(cursor_);
    const uintptr_t aligned = (at + align - 1) & ~(uintptr_t(align) - 1);
    if (cursor_ && aligned + size <= reinterpret_cast<uintptr_t>(limit_)) {
        cursor_ = reinterpret_cast<std::byte*>(aligned + size);
        return reinterpret_cast<void*>(aligned);
    }
    return grow(size, align);
}

void* Arena::grow(size_t size, size_t align) {
    // Chunks double up to a megabyte; a request larger than that gets a
    // chunk of its own size, so no request is ever refused for its size.
    const size_t need = size + align + kHeader;
    const size_t chunkSize = std::max(need, nextChunk_);
    nextChunk_ = std::min(nextChunk_ * 2, kMaxChunk);
    auto* chunk = static_cast<Chunk*>(std::malloc(chunkSize));
    if (!chunk) throw std::bad_alloc();
    chunk->next = chunks_;
    chunk->size = chunkSize;
    chunks_ = chunk;
    std::byte* base = reinterpret_cast<std::byte*>(chunk) + kHeader;
    limit_ = reinterpret_cast<std::byte*>(chunk) + chunkSize;
    const auto at = reinterpret_cast<uintptr_t>(base);
    const uintptr_t aligned = (at + align - 1) & ~(uintptr_t(align) - 1);
    cursor_ = reinterpret_cast<std::byte*>(aligned + size);
    return reinterpret_cast<void*>(aligned);
}

std::string_view Arena::text(std::string_view s) {
    char* p = static_cast<char*>(allocate(s.size() + 1, 1));
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return std::string_view(p, s.size());
}

}  // namespace tq::compiler
