// The message table: the numbered texts every StoreException is built from.
//
// Ids run from 32678 to 32768 without gaps. Texts carry at most one printf-
// style placeholder (%s or %d), which StoreException fills; they are part of
// what hosts show users and compare with, so they never change.
#pragma once

#include <cstdint>
#include <span>

namespace tq {

struct MessageEntry {
    uint32_t id;
    const char* text;
};

inline constexpr uint32_t kFirstMessageId = 32678;
inline constexpr uint32_t kLastMessageId = 32768;

// The whole table, in id order.
std::span<const MessageEntry> MessageTable();

// The text of id, or null when the table has none.
const char* FindMessage(uint32_t id);

}  // namespace tq
