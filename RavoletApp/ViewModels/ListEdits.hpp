#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace ravolet {

// Edits of an editor's list by position. A row may still ask about its
// position for a moment after a deletion has shortened the list, so every
// edit checks the position and gives nothing (nothing to write) when it is no
// longer valid.

inline bool isValidPosition(std::ptrdiff_t index, std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
}

// The entry at index, or the fallback when there is none.
template <class T>
T entryAt(const std::vector<T>& list, std::ptrdiff_t index, T fallback) {
    return isValidPosition(index, list.size()) ? list[static_cast<std::size_t>(index)] : std::move(fallback);
}

template <class T>
std::optional<std::vector<T>> replacingAt(std::vector<T> list, std::ptrdiff_t index, T value) {
    if (!isValidPosition(index, list.size())) return std::nullopt;
    list[static_cast<std::size_t>(index)] = std::move(value);
    return list;
}

template <class T>
std::optional<std::vector<T>> removingAt(std::vector<T> list, std::ptrdiff_t index) {
    if (!isValidPosition(index, list.size())) return std::nullopt;
    list.erase(list.begin() + index);
    return list;
}

// The entries at index and at index + offset swapped; nothing when either
// position is outside the list.
template <class T>
std::optional<std::vector<T>> swappingWithNeighbour(std::vector<T> list, std::ptrdiff_t index, std::ptrdiff_t offset) {
    if (!isValidPosition(index, list.size()) || !isValidPosition(index + offset, list.size())) return std::nullopt;
    std::swap(list[static_cast<std::size_t>(index)], list[static_cast<std::size_t>(index + offset)]);
    return list;
}

} // namespace ravolet
