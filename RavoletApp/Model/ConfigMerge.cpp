#include "RavoletApp/Model/ConfigMerge.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "RavoletApp/ViewModels/SettingNames.hpp"

namespace ravolet {

namespace {

using Value = std::optional<Json>; // none: absent on that side
using Path = SettingPath;

// The identifiers of an array of objects that each carry a distinct text
// "id" (profiles, rules), in order; none for any other array.
std::optional<std::vector<std::string>> identifiers(const Json& array) {
    std::vector<std::string> ids;
    std::set<std::string> seen;
    for (const Json& element : array) {
        if (!element.is_object()) return std::nullopt;
        const auto id = element.find("id");
        if (id == element.end() || !id->is_string() || !seen.insert(id->get<std::string>()).second) return std::nullopt;
        ids.push_back(id->get<std::string>());
    }
    return ids;
}

// How an element of a keyed array is named for the user: its name, else its
// identifier.
std::string elementName(const Json& element) {
    for (const char* key : {"name", "id"}) {
        const auto found = element.find(key);
        if (found != element.end() && found->is_string() && !found->get<std::string>().empty())
            return found->get<std::string>();
    }
    return element["id"].get<std::string>();
}

class Merger {
public:
    std::vector<std::string> notKept;

    Value merge(const Value& base, const Value& ours, const Value& theirs, const Path& path) {
        if (ours == base) return theirs;
        if (theirs == base || ours == theirs) return ours;
        if (base && ours && theirs) {
            if (base->is_object() && ours->is_object() && theirs->is_object()) return mergeObjects(*base, *ours, *theirs, path);
            if (base->is_array() && ours->is_array() && theirs->is_array()) {
                if (auto merged = mergeKeyed(*base, *ours, *theirs, path)) return merged;
            }
        }
        // Both changed the same setting: the file's stands.
        notKept.push_back(settingName(path));
        return theirs;
    }

private:
    static Value member(const Json& object, const std::string& key) {
        const auto found = object.find(key);
        return found == object.end() ? Value() : Value(*found);
    }

    Json mergeObjects(const Json& base, const Json& ours, const Json& theirs, const Path& path) {
        std::set<std::string> keys;
        for (const Json* object : {&base, &ours, &theirs})
            for (const auto& [key, value] : object->items()) keys.insert(key);
        Json merged = Json::object();
        for (const std::string& key : keys) {
            Path inner = path;
            inner.push_back({key});
            if (Value value = merge(member(base, key), member(ours, key), member(theirs, key), inner))
                merged[key] = std::move(*value);
        }
        return merged;
    }

    // Arrays of elements with identifiers, matched by them; none where one
    // of the three is not such an array.
    std::optional<Json> mergeKeyed(const Json& base, const Json& ours, const Json& theirs, const Path& path) {
        const auto baseIDs = identifiers(base), ourIDs = identifiers(ours), theirIDs = identifiers(theirs);
        if (!baseIDs || !ourIDs || !theirIDs || path.empty()) return std::nullopt;
        const auto byID = [](const Json& array) {
            std::map<std::string, Json> elements;
            for (const Json& element : array) elements.emplace(element["id"].get<std::string>(), element);
            return elements;
        };
        const auto baseByID = byID(base), ourByID = byID(ours), theirByID = byID(theirs);
        const auto find = [](const std::map<std::string, Json>& elements, const std::string& id) {
            const auto found = elements.find(id);
            return found == elements.end() ? Value() : Value(found->second);
        };
        const Path outer(path.begin(), path.end() - 1);
        std::map<std::string, Json> merged;
        for (const std::vector<std::string>* ids : {&*baseIDs, &*ourIDs, &*theirIDs}) {
            for (const std::string& id : *ids) {
                if (merged.contains(id)) continue;
                const Value b = find(baseByID, id), o = find(ourByID, id), t = find(theirByID, id);
                Path inner = outer;
                inner.push_back({path.back().key, elementName(t ? *t : o ? *o : *b)});
                if (Value value = merge(b, o, t, inner)) merged.emplace(id, std::move(*value));
            }
        }
        return orderOf(*baseIDs, *ourIDs, *theirIDs, merged, path);
    }

    // The merged elements in the order of whichever side changed it (the
    // file's where both did, differently); elements only the other side has
    // follow the one they follow there.
    Json orderOf(const std::vector<std::string>& base, const std::vector<std::string>& ours,
                 const std::vector<std::string>& theirs, const std::map<std::string, Json>& merged, const Path& path) {
        const auto within = [](const std::vector<std::string>& ids, const std::vector<std::string>& others) {
            std::vector<std::string> kept;
            std::ranges::copy_if(ids, std::back_inserter(kept), [&](const std::string& id) {
                return std::ranges::find(others, id) != others.end();
            });
            return kept;
        };
        const bool ourMove = within(ours, base) != within(base, ours);
        const bool theirMove = within(theirs, base) != within(base, theirs);
        if (ourMove && theirMove && within(ours, theirs) != within(theirs, ours))
            notKept.push_back(settingOrderName(path));
        const std::vector<std::string>& leading = ourMove && !theirMove ? ours : theirs;
        const std::vector<std::string>& following = &leading == &ours ? theirs : ours;
        std::vector<std::string> order;
        for (const std::string& id : leading)
            if (merged.contains(id)) order.push_back(id);
        for (auto id = following.begin(); id != following.end(); ++id) {
            if (!merged.contains(*id) || std::ranges::find(order, *id) != order.end()) continue;
            // After the element it follows on its own side, else first.
            auto place = order.begin();
            for (auto before = id; before != following.begin();) {
                --before;
                if (const auto at = std::ranges::find(order, *before); at != order.end()) {
                    place = at + 1;
                    break;
                }
            }
            order.insert(place, *id);
        }
        Json array = Json::array();
        for (const std::string& id : order) array.push_back(merged.at(id));
        return array;
    }
};

} // namespace

ConfigMerge ConfigMerge::of(const Config& base, const Config& window, const Config& file) {
    Merger merger;
    const Value merged = merger.merge(base.toJson(), window.toJson(), file.toJson(), {});
    // Every value comes whole from one of two valid documents of one format,
    // so this decodes; if it ever did not, the file's document stands.
    if (merged) {
        if (auto decoded = Config::decoded(merged->dump())) return {std::move(*decoded), std::move(merger.notKept)};
    }
    return {file, {"the changes made in the window"}};
}

} // namespace ravolet
