// The one sort of the function library: a stable merge sort that stays
// memory-safe whatever the comparator does. Several orders of the worksheet
// functions treat NaN or mixed values as equal to everything, which is no
// strict weak ordering, so std::sort with them would be undefined.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

namespace morvane::eval {

namespace sort_detail {

// Each element, from the second on, moves left while `less` puts it before
// its left neighbour and stops at the first one for which it does not.
template <class T, class Less>
void insertion_sort(std::span<T> v, Less& less) {
    for (size_t i = 1; i < v.size(); ++i) {
        size_t j = i;
        while (j > 0 && less(v[j], v[j - 1])) {
            std::swap(v[j], v[j - 1]);
            --j;
        }
    }
}

template <class T, class Less>
void merge_sort(std::span<T> v, std::span<T> buf, Less& less) {
    if (v.size() <= 20) {
        insertion_sort(v, less);
        return;
    }
    size_t mid = v.size() / 2;
    merge_sort(v.subspan(0, mid), buf.subspan(0, mid), less);
    merge_sort(v.subspan(mid), buf.subspan(mid), less);
    for (size_t k = 0; k < v.size(); ++k) buf[k] = std::move(v[k]);
    size_t i = 0, j = mid, k = 0;
    // Take from the right run only when it is strictly before: stability.
    while (i < mid && j < v.size()) {
        if (less(buf[j], buf[i]))
            v[k++] = std::move(buf[j++]);
        else
            v[k++] = std::move(buf[i++]);
    }
    while (i < mid) v[k++] = std::move(buf[i++]);
    while (j < v.size()) v[k++] = std::move(buf[j++]);
}

}  // namespace sort_detail

// Sorts `v` stably by `less(a, b)` ("a goes before b"). Up to 20 elements are
// sorted by insertion. Every index stays in bounds for any comparator.
template <class T, class Less>
void stable_merge_sort(std::vector<T>& v, Less less) {
    if (v.size() < 2) return;
    if (v.size() <= 20) {
        sort_detail::insertion_sort(std::span<T>(v), less);
        return;
    }
    std::vector<T> buf(v.size());
    sort_detail::merge_sort(std::span<T>(v), std::span<T>(buf), less);
}

}  // namespace morvane::eval
