#pragma once

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace velmoor {

// Items with a `name`, sorted by it for a binary search.

// By name, for the C library's sort: the template sorts would cost the launcher's size more.
template <typename T>
int byName(const void* a, const void* b) {
    return (*static_cast<const T* const*>(a))
        ->name.compare((*static_cast<const T* const*>(b))->name);
}

// By name, and items of one name in their place in the vector `sortedBy` was given: the C
// library's sort need not keep the order of equal items (msvcrt's does not).
template <typename T>
int byNameInPlace(const void* a, const void* b) {
    const int order = byName<T>(a, b);
    if (order != 0) return order;
    const T* x = *static_cast<const T* const*>(a);
    const T* y = *static_cast<const T* const*>(b);
    return x < y ? -1 : x > y;
}

template <typename T>
std::vector<const T*> sortedBy(const std::vector<T>& items,
                               int (*order)(const void*, const void*)) {
    std::vector<const T*> sorted;
    for (const T& item : items) sorted.push_back(&item);
    if (sorted.size() > 1) std::qsort(sorted.data(), sorted.size(), sizeof sorted[0], order);
    return sorted;
}

// The first of those sorted by name that has the name.
template <typename T>
auto firstNamed(const std::vector<const T*>& sorted, std::string_view name) {
    return std::ranges::lower_bound(sorted, name, {},
                                    [](const T* item) -> std::string_view { return item->name; });
}

}  // namespace velmoor
