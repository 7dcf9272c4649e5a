// CellMap: one sheet's cells, a hash map from cell position to CellContent.
// Entries live densely in insertion order (a cell loop touches neighbours in
// memory) behind an open-addressing index of 32-bit slots; the interface is
// the subset of std::unordered_map that the system uses. As with a vector,
// inserting may move entries: hold no reference across an insertion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "types/variant.h"

namespace morvane {

class CellMap {
public:
    using key_type = CellPos;
    using mapped_type = CellContent;
    using value_type = std::pair<const CellPos, CellContent>;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;

    CellMap() = default;
    CellMap(std::initializer_list<value_type> items) {
        for (const auto& item : items) try_emplace(item.first, item.second);
    }

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void clear() {
        entries_.clear();
        slots_.clear();
    }
    void reserve(size_t n);

    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    iterator find(CellPos key) {
        uint32_t idx = lookup(key);
        return idx == kEmpty ? end() : begin() + idx;
    }
    const_iterator find(CellPos key) const {
        uint32_t idx = lookup(key);
        return idx == kEmpty ? end() : begin() + idx;
    }
    bool contains(CellPos key) const { return lookup(key) != kEmpty; }
    // Asks the memory for the index slot `key` starts at: a loop that knows
    // its next cells early finds them without waiting on each.
    void prefetch(CellPos key) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash(key) & mask()]);
    }
    // Asks for the entry the slot of `key` names, once the slot is at hand.
    void prefetch_entry(CellPos key) const {
        if (slots_.empty()) return;
        const uint32_t idx = slots_[hash(key) & mask()];
        if (idx != kEmpty) __builtin_prefetch(&entries_[idx]);
    }
    size_t count(CellPos key) const { return contains(key) ? 1 : 0; }

    template <class... Args>
    std::pair<iterator, bool> try_emplace(CellPos key, Args&&... args);
    std::pair<iterator, bool> emplace(CellPos key, CellContent value) { return try_emplace(key, std::move(value)); }
    std::pair<iterator, bool> insert_or_assign(CellPos key, CellContent value) {
        auto [it, inserted] = try_emplace(key);
        it->second = std::move(value);
        return {it, inserted};
    }
    CellContent& operator[](CellPos key) { return try_emplace(key).first->second; }
    // The cell at `key`, which must be present.
    CellContent& at(CellPos key) { return find(key)->second; }
    const CellContent& at(CellPos key) const { return find(key)->second; }

    // Removes the cell at `key`; the last entry takes its place in the order.
    size_t erase(CellPos key);
    // Removes every cell for which pred(entry) holds; returns how many.
    template <class Pred>
    size_t erase_if(Pred pred) {
        std::vector<CellPos> doomed;
        for (const auto& entry : entries_)
            if (pred(entry)) doomed.push_back(entry.first);
        for (CellPos key : doomed) erase(key);
        return doomed.size();
    }

    friend bool operator==(const CellMap& a, const CellMap& b);

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    // Row neighbours land in neighbouring slots; rows are spread by a
    // multiplicative hash.
    static uint64_t hash(CellPos p) { return ((uint64_t{p.row} * 0x9E3779B97F4A7C15ULL) >> 20) + p.col; }
    size_t mask() const { return slots_.size() - 1; }
    uint32_t lookup(CellPos key) const {
        if (slots_.empty()) return kEmpty;
        for (size_t i = hash(key) & mask();; i = (i + 1) & mask()) {
            uint32_t idx = slots_[i];
            if (idx == kEmpty || entries_[idx].first == key) return idx;
        }
    }
    // The slot that holds entry `idx` (which must be present).
    size_t slot_of(CellPos key, uint32_t idx) const {
        size_t i = hash(key) & mask();
        while (slots_[i] != idx) i = (i + 1) & mask();
        return i;
    }
    void grow();

    std::vector<value_type> entries_;
    std::vector<uint32_t> slots_;  // entry index or kEmpty; at most half full
};

template <class... Args>
std::pair<CellMap::iterator, bool> CellMap::try_emplace(CellPos key, Args&&... args) {
    if ((entries_.size() + 1) * 2 > slots_.size()) grow();
    size_t i = hash(key) & mask();
    for (;; i = (i + 1) & mask()) {
        uint32_t idx = slots_[i];
        if (idx == kEmpty) break;
        if (entries_[idx].first == key) return {begin() + idx, false};
    }
    slots_[i] = static_cast<uint32_t>(entries_.size());
    entries_.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                          std::forward_as_tuple(std::forward<Args>(args)...));
    return {end() - 1, true};
}

template <class Pred>
size_t erase_if(CellMap& map, Pred pred) {
    return map.erase_if(std::move(pred));
}

// The workbook's sheets by lower-case name.
using SheetMap = std::unordered_map<std::string, CellMap>;

}  // namespace morvane
