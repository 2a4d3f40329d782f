// The memory of one syntax tree.
//
// Every node of a tree is carved out of one arena and freed with it, all at
// once. Nodes are trivially destructible (names are views into the source
// text the tree keeps, lists are spans in the arena), so freeing a tree never
// walks it: a tree as deep as the parser allows, or a list of a million
// items, goes without recursion and without a destructor per node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace tq::compiler {

// A fixed sequence of items that lives in an arena.
template <class T>
class List {
public:
    List() = default;
    List(T* items, uint32_t count) : items_(items), count_(count) {}

    T* begin() const { return items_; }
    T* end() const { return items_ + count_; }
    uint32_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    T& operator[](uint32_t i) const { return items_[i]; }
    T& front() const { return items_[0]; }
    T& back() const { return items_[count_ - 1]; }

private:
    T* items_ = nullptr;
    uint32_t count_ = 0;
};

class Arena {
public:
    Arena() = default;
    ~Arena();
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    void* allocate(size_t size, size_t align);

    template <class T, class... Args>
    T* make(Args&&... args) {
        static_assert(std::is_trivially_destructible_v<T>,
                      "arena nodes are freed without running destructors");
        return new (allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
    }

    template <class T>
    List<T> list(const std::vector<T>& items) {
        static_assert(std::is_trivially_destructible_v<T> && std::is_trivially_copyable_v<T>);
        if (items.empty()) return {};
        T* p = static_cast<T*>(allocate(sizeof(T) * items.size(), alignof(T)));
        std::memcpy(static_cast<void*>(p), items.data(), sizeof(T) * items.size());
        return List<T>(p, static_cast<uint32_t>(items.size()));
    }

    // A copy of the text followed by a NUL, so it can be handed on as a C string.
    std::string_view text(std::string_view s);

    // Bytes handed out so far (for the benchmarks' memory figures).
    size_t bytesUsed() const { return used_; }

private:
    struct Chunk {
        Chunk* next;
        size_t size;
    };
    void* grow(size_t size, size_t align);

    Chunk* chunks_ = nullptr;
    std::byte* cursor_ = nullptr;
    std::byte* limit_ = nullptr;
    size_t nextChunk_ = 16 * 1024;
    size_t used_ = 0;
};

}  // namespace tq::compiler
