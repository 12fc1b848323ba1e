#pragma once

// Containers behind the executors (serial queue, run loop): they keep their
// capacity, so that handing work over does not allocate once they have grown
// to the load they see. Not thread-safe: each is guarded by its owner's lock.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace ravolet::platform::detail {

// First in, first out. Taken items leave an emptied slot behind; the slots
// are reused once the buffer runs empty, or compacted once more than half of
// them are taken, so a steady trickle never grows it.
template <class T>
class FifoBuffer {
public:
    bool empty() const { return head_ == items_.size(); }
    std::size_t size() const { return items_.size() - head_; }

    void push(T item) { items_.push_back(std::move(item)); }

    T pop() {
        T item = std::move(items_[head_++]);
        if (head_ == items_.size()) {
            items_.clear();
            head_ = 0;
        } else if (head_ > 32 && head_ * 2 > items_.size()) {
            items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        return item;
    }

    // Moves every item out, oldest first; the buffer is empty afterwards.
    std::vector<T> takeAll() {
        std::vector<T> all;
        all.reserve(size());
        for (std::size_t i = head_; i < items_.size(); ++i) all.push_back(std::move(items_[i]));
        items_.clear();
        head_ = 0;
        return all;
    }

private:
    std::vector<T> items_;
    std::size_t head_ = 0;
};

// Entries waiting for a deadline, earliest first (equal deadlines in the order
// of their sequence numbers). `Key` gives an entry's deadline, sequence and
// whether it is still live (not cancelled or invalidated). Dead entries stay
// until they come to the front, where they are skipped, or until the heap has
// doubled since it was last cleaned, when they are all taken out at once: so
// work cancelled long before its deadline costs memory only briefly.
template <class Entry, class Key>
class DeadlineHeap {
public:
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    const Entry& front() const { return entries_.front(); }

    // Adds the entry. Dead entries taken out to make room are moved to `dead`,
    // for the caller to release once its lock is let go.
    void push(Entry entry, std::vector<Entry>& dead) {
        if (entries_.size() >= cleanAt_) clean(dead);
        entries_.push_back(std::move(entry));
        std::push_heap(entries_.begin(), entries_.end(), later);
    }

    Entry pop() {
        std::pop_heap(entries_.begin(), entries_.end(), later);
        Entry entry = std::move(entries_.back());
        entries_.pop_back();
        return entry;
    }

    // Takes out the first entry that matches, if any (a default entry else).
    template <class Predicate>
    Entry remove(Predicate matches) {
        const auto it = std::find_if(entries_.begin(), entries_.end(), matches);
        if (it == entries_.end()) return Entry{};
        Entry entry = std::move(*it);
        entries_.erase(it);
        std::make_heap(entries_.begin(), entries_.end(), later);
        return entry;
    }

    // Moves every entry out (for release outside the lock).
    std::vector<Entry> takeAll() {
        std::vector<Entry> all;
        all.swap(entries_);
        return all;
    }

private:
    static bool later(const Entry& a, const Entry& b) {
        const auto da = Key::deadline(a);
        const auto db = Key::deadline(b);
        return da != db ? da > db : Key::sequence(a) > Key::sequence(b);
    }

    void clean(std::vector<Entry>& dead) {
        auto live = std::partition(entries_.begin(), entries_.end(), [](const Entry& e) { return Key::isLive(e); });
        std::move(live, entries_.end(), std::back_inserter(dead));
        entries_.erase(live, entries_.end());
        std::make_heap(entries_.begin(), entries_.end(), later);
        cleanAt_ = std::max<std::size_t>(minimumCleanAt, entries_.size() * 2);
    }

    static constexpr std::size_t minimumCleanAt = 64;
    std::vector<Entry> entries_;
    std::size_t cleanAt_ = minimumCleanAt;
};

} // namespace ravolet::platform::detail
