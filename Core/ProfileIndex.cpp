#include "Core/ProfileIndex.hpp"

namespace ravolet {

ProfileIndex::ProfileIndex(const std::vector<Profile>& profiles) {
    first_.reserve(profiles.size());
    for (std::size_t position = 0; position < profiles.size(); ++position) first_.try_emplace(profiles[position].id, position);
}

const Profile* ProfileIndex::find(const std::vector<Profile>& profiles, std::string_view id) const {
    const auto it = first_.find(id);
    if (it == first_.end() || it->second >= profiles.size()) return nullptr;
    return &profiles[it->second];
}

} // namespace ravolet
