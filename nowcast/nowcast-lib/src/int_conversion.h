// Truncation of computed values to int without undefined behaviour (internal).
#ifndef NOWCAST_INT_CONVERSION_H
#define NOWCAST_INT_CONVERSION_H

#include <cmath>
#include <limits>

namespace azm::detail {

// Truncates toward zero, clamping to the int range; not a number gives 0. A plain conversion
// of an out-of-range double is undefined.
inline int truncateToInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

// Whether every count of a grid of size_x columns and size_y rows fits int: its element count and
// its number of displacements per axis (2 size - 1). Computed in 64 bits, so that any two int
// sizes can be asked about.
inline bool gridFitsInt(int size_x, int size_y) {
    constexpr long long kIntMax = std::numeric_limits<int>::max();
    return static_cast<long long>(size_x) * size_y <= kIntMax && 2LL * size_x - 1 <= kIntMax &&
           2LL * size_y - 1 <= kIntMax;
}

}  // namespace azm::detail

#endif  // NOWCAST_INT_CONVERSION_H
