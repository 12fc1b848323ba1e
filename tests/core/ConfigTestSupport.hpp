#pragma once

// Walking a parsed settings document: every value with its JSON pointer, for
// tests that delete, retype or extend each part of the factory document.

#include <string>
#include <vector>

#include "Core/Config.hpp"

namespace ravolet::testing {

// Pointers to every value below the root, parents before their children.
inline std::vector<Json::json_pointer> allPointers(const Json& root) {
    std::vector<std::pair<Json::json_pointer, const Json*>> visited{{Json::json_pointer(), &root}};
    for (std::size_t next = 0; next < visited.size(); ++next) {
        const auto [pointer, value] = visited[next];
        if (value->is_object()) {
            for (const auto& [key, child] : value->items()) visited.emplace_back(pointer / key, &child);
        } else if (value->is_array()) {
            for (std::size_t i = 0; i < value->size(); ++i) visited.emplace_back(pointer / i, &(*value)[i]);
        }
    }
    std::vector<Json::json_pointer> result;
    result.reserve(visited.size() - 1);
    for (std::size_t i = 1; i < visited.size(); ++i) result.push_back(std::move(visited[i].first));
    return result;
}

// Removes the value at `pointer` from its parent object or array.
inline void erase(Json& root, const Json::json_pointer& pointer) {
    Json& parent = root.at(pointer.parent_pointer());
    if (parent.is_object()) {
        parent.erase(pointer.back());
    } else {
        parent.erase(static_cast<std::size_t>(std::stoul(pointer.back())));
    }
}

inline Json factoryJson() { return Json::parse(*Config::defaultConfig().encoded()); }

} // namespace ravolet::testing
