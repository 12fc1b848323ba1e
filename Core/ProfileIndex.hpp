#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Core/Profile.hpp"

namespace ravolet {

// A document's profiles filed by identifier, as the profile watcher looks
// them up at every application switch: one hash look-up instead of a walk
// through a list that may hold thousands. Finds the first profile of an
// identifier, as Config::profile does.
//
// A plain value, built once per document; it holds positions, so it goes
// with the list it was made from.
class ProfileIndex {
public:
    explicit ProfileIndex(const std::vector<Profile>& profiles);

    // The first profile of `profiles` (the list the index was made from)
    // with exactly this identifier, or null.
    const Profile* find(const std::vector<Profile>& profiles, std::string_view id) const;

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> first_;
};

} // namespace ravolet
