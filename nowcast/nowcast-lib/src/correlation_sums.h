// The coefficient of one displacement and the choice among displacements, shared by every way
// of computing the correlation sums (internal).
#ifndef NOWCAST_CORRELATION_SUMS_H
#define NOWCAST_CORRELATION_SUMS_H

#include <cmath>

namespace azm::detail {

// Sums of one displacement over an overlap region: the pixel count, and over the pixels whose
// later value is positive, the sum and the sum of squares of the later values and the sum of
// products with the earlier values.
struct OverlapSums {
    int count = 0;
    double sum = 0.0;
    double sum_sq = 0.0;
    double sum_products = 0.0;
};

// The terms of the coefficient, n times a variance or covariance. Every search computes them
// here, so that equal sums give equal terms, and equal coefficients, to the last bit.
inline double scaledVariance(double n, double sum, double sum_sq) {
    return n * sum_sq - sum * sum;
}
inline double scaledCovariance(double n, double sum_products, double ref_sum, double sum) {
    return n * sum_products - ref_sum * sum;
}

// Correlation coefficient of an overlap against the reference statistics (count, sum, sum of
// squares of the whole reference, zeros included); -1 for too small an overlap, 0 when either
// side has no variance.
inline double coefficientOf(const OverlapSums &sums, int min_count, int ref_count, double ref_sum,
                            double ref_sum_sq) {
    if (sums.count < 2 || sums.count < min_count) {
        return -1.0;
    }
    const double n = ref_count;
    const double covariance = scaledCovariance(n, sums.sum_products, ref_sum, sums.sum);
    const double variance_prev = scaledVariance(n, ref_sum, ref_sum_sq);
    const double variance_curr = scaledVariance(n, sums.sum, sums.sum_sq);
    if (variance_prev > 0.0 && variance_curr > 0.0) {
        return covariance / std::sqrt(variance_prev * variance_curr);
    }
    return 0.0;
}

// Length of a displacement, the measure of the search circle and of the tie rule.
inline double displacementLength(int shift_x, int shift_y) {
    return std::sqrt(static_cast<double>(shift_x) * shift_x +
                     static_cast<double>(shift_y) * shift_y);
}

// Coefficients closer than this to the best one count as equally good.
inline constexpr double kNearTie = 0.00001;

// The running choice of a search, fed with the displacements in visiting order: the best
// coefficient at or above the threshold and its displacement. A coefficient within kNearTie of
// the best one still moves the displacement (not the coefficient) when it is strictly shorter,
// so near-ties go to the slower motion.
struct DisplacementChoice {
    double best = 0.0;
    double best_distance = 0.0;
    int dx = 0;
    int dy = 0;

    // Returns whether the choice changed.
    bool consider(double r, int shift_x, int shift_y, double distance, double threshold) {
        if (r < threshold) {
            return false;
        }
        if (r > best) {
            best = r;
        } else if (!(r + kNearTie > best && distance < best_distance)) {
            return false;
        }
        dx = shift_x;
        dy = shift_y;
        best_distance = distance;
        return true;
    }
};

}  // namespace azm::detail

#endif  // NOWCAST_CORRELATION_SUMS_H
