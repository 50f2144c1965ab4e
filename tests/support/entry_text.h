// Entries as text for tests: strings as the byte spans the engine takes, loose entries made from
// them, and the key and data of an entry read back as strings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "vellum/entry.h"

namespace vellum::test {

inline std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A new loose entry of the given key and data.
inline Entry* makeEntry(std::string_view key, std::string_view data = {}) {
    return newEntry(bytesOf(key), bytesOf(data));
}

// The key of an entry, or "<none>" for no entry.
inline std::string keyOf(const Entry* entry) {
    if (entry == nullptr) return "<none>";
    return {reinterpret_cast<const char*>(entry->bytes()), entry->keyLength};
}

inline std::string dataOf(const Entry* entry) {
    std::span<const uint8_t> data = entry->data();
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

}  // namespace vellum::test
