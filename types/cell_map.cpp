#include "types/cell_map.h"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace morvane {

void CellMap::reserve(size_t n) {
    entries_.reserve(n);
    if (n * 2 > slots_.size()) {
        size_t want = std::bit_ceil(std::max<size_t>(n * 2, 16));
        std::vector<uint32_t> fresh(want, kEmpty);
        slots_.swap(fresh);
        for (uint32_t idx = 0; idx < entries_.size(); ++idx) {
            size_t i = hash(entries_[idx].first) & mask();
            while (slots_[i] != kEmpty) i = (i + 1) & mask();
            slots_[i] = idx;
        }
    }
}

void CellMap::grow() { reserve(std::max<size_t>(entries_.size() * 2, 8)); }

size_t CellMap::erase(CellPos key) {
    uint32_t idx = lookup(key);
    if (idx == kEmpty) return 0;
    // Empty the slot, then shift later members of its probe run back so that
    // every lookup still finds them (linear probing needs no tombstones).
    size_t hole = slot_of(key, idx);
    slots_[hole] = kEmpty;
    for (size_t i = (hole + 1) & mask(); slots_[i] != kEmpty; i = (i + 1) & mask()) {
        size_t home = hash(entries_[slots_[i]].first) & mask();
        // Move it into the hole when its home does not lie in (hole, i].
        bool movable = hole <= i ? (home <= hole || home > i) : (home <= hole && home > i);
        if (movable) {
            slots_[hole] = slots_[i];
            slots_[i] = kEmpty;
            hole = i;
        }
    }
    // Keep entries dense: the last entry fills the gap.
    const uint32_t last = static_cast<uint32_t>(entries_.size() - 1);
    if (idx != last) {
        slots_[slot_of(entries_[last].first, last)] = idx;
        std::destroy_at(&entries_[idx]);
        std::construct_at(&entries_[idx], std::move(entries_[last]));
    }
    entries_.pop_back();
    return 1;
}

bool operator==(const CellMap& a, const CellMap& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [pos, content] : a) {
        auto it = b.find(pos);
        if (it == b.end() || it->second.formula != content.formula || !(it->second.value == content.value))
            return false;
    }
    return true;
}

}  // namespace morvane
