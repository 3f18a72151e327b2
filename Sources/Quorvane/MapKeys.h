// The keys of a map as a list of their own, for loops that change the map they walk, and one
// entry of a map as an optional value.
#pragma once

#include <map>
#include <optional>
#include <vector>

namespace quorvane {

template <typename Key, typename Value> std::vector<Key> keysOf(const std::map<Key, Value>& map)
{
    std::vector<Key> keys;
    keys.reserve(map.size());
    for (const auto& entry : map)
        keys.push_back(entry.first);
    return keys;
}

/// A copy of the entry under `key`; absent when there is none.
template <typename Key, typename Value>
std::optional<Value> entryOf(const std::map<Key, Value>& map, const Key& key)
{
    const auto found = map.find(key);
    return found == map.end() ? std::nullopt : std::optional(found->second);
}

} // namespace quorvane
