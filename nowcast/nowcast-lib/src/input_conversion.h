// Conversion of caller image values to the integer pixels of the correlation (internal).
#ifndef NOWCAST_INPUT_CONVERSION_H
#define NOWCAST_INPUT_CONVERSION_H

#include <cmath>
#include <limits>
#include <optional>

#include "int_conversion.h"

namespace azm::detail {

// How the caller's images mark pixels and where signal starts.
struct InputScaling {
    int scale;  // 10 to the input precision
    double signal_threshold;
    double missing_value;
    double not_scanned_value;
};

// Integer pixel of one value, or nothing for a pixel without data (missing, not scanned, not a
// number or +infinity). Values below the signal threshold, -infinity among them, give 0; others v
// give scale * (v + 1 - threshold), truncated and kept within the int range, so the threshold
// itself gives the scale.
inline std::optional<int> scaledPixel(double v, const InputScaling &scaling) {
    if (std::isnan(v) || v == std::numeric_limits<double>::infinity() ||
        v == scaling.missing_value || v == scaling.not_scanned_value) {
        return std::nullopt;
    }
    const double weight = v < scaling.signal_threshold ? 0.0 : v + (1.0 - scaling.signal_threshold);
    return truncateToInt(scaling.scale * weight);
}

}  // namespace azm::detail

#endif  // NOWCAST_INPUT_CONVERSION_H
