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

}  // namespace azm::detail

#endif  // NOWCAST_INT_CONVERSION_H
