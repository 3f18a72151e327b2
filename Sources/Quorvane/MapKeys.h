// The keys of a map as a list of their own, for loops that change the map they walk.
#pragma once

#include <map>
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

} // namespace quorvane
