#include "nowcast/cross_correlator.h"

#include <algorithm>
#include <cmath>

#include "correlation_sums.h"
#include "int_conversion.h"
#include "nowcast_check.h"

namespace azm {

namespace {

using detail::OverlapSums;

// Compares the earlier pixels of columns [x_first, x_end) and rows [y_first, y_end) with the
// later pixels displaced by (dx, dy); the caller keeps the displaced region inside the grid.
// Squares and products are formed in double: a pixel above 46340 would overflow a 32-bit one.
OverlapSums sumOverlap(const Grid<int> &prev, const Grid<int> &curr, int x_first, int x_end,
                       int y_first, int y_end, int dx, int dy) {
    OverlapSums sums;
    if (x_first >= x_end || y_first >= y_end) {
        return sums;
    }
    sums.count = (x_end - x_first) * (y_end - y_first);
    const int stride = prev.sizeX();
    for (int y = y_first; y < y_end; ++y) {
        const int *prev_row = prev.getGrid() + static_cast<std::ptrdiff_t>(y) * stride;
        const int *curr_row = curr.getGrid() + static_cast<std::ptrdiff_t>(y + dy) * stride;
        for (int x = x_first; x < x_end; ++x) {
            const int later = curr_row[x + dx];
            if (later > 0) {
                const double b = later;
                sums.sum += b;
                sums.sum_sq += b * b;
                sums.sum_products += static_cast<double>(prev_row[x]) * b;
            }
        }
    }
    return sums;
}

}  // namespace

CrossCorrelator::CrossCorrelator(int x_dim, int y_dim) {
    NOWCAST_CHECK(x_dim > 0);
    NOWCAST_CHECK(y_dim > 0);
    NOWCAST_CHECK(detail::gridFitsInt(x_dim, y_dim));
    m_x_dim = x_dim;
    m_y_dim = y_dim;
    m_grid_size = x_dim * y_dim;
    m_lag_size_x = 2 * x_dim - 1;
    m_lag_size_y = 2 * y_dim - 1;
    m_lag_center_x = x_dim - 1;
    m_lag_center_y = y_dim - 1;
    m_box_offset_x = x_dim - x_dim / 2 - 1;
    m_box_offset_y = y_dim - y_dim / 2 - 1;
}

CrossCorrelator::~CrossCorrelator() = default;

double CrossCorrelator::getCorrCoefficient() const {
    return m_corr_coefficient;
}

void CrossCorrelator::searchDisplacements(int lag_cx, int lag_cy, int radius, double threshold,
                                          const CoefficientOf &coefficient_of, double &dx,
                                          double &dy) {
    detail::DisplacementChoice choice;
    choice.best = m_corr_coefficient;
    // 64-bit bounds: the radius is a configuration value and may be far larger than the grid.
    const int i_first = static_cast<int>(std::max<long long>(0, 0LL + lag_cy - radius));
    const int i_last =
        static_cast<int>(std::min<long long>(m_lag_size_y - 1, 0LL + lag_cy + radius));
    const int j_first = static_cast<int>(std::max<long long>(0, 0LL + lag_cx - radius));
    const int j_last =
        static_cast<int>(std::min<long long>(m_lag_size_x - 1, 0LL + lag_cx + radius));
    for (int i = i_first; i <= i_last; ++i) {
        for (int j = j_first; j <= j_last; ++j) {
            const int shift_x = j - lag_cx;
            const int shift_y = i - lag_cy;
            const double distance = detail::displacementLength(shift_x, shift_y);
            if (distance > radius) {
                if (j <= lag_cx) {
                    continue;
                }
                break;  // the rest of the row lies outside the circle
            }
            choice.consider(coefficient_of(shift_x, shift_y), shift_x, shift_y, distance,
                            threshold);
        }
    }
    m_corr_coefficient = choice.best;
    dx = choice.dx;
    dy = choice.dy;
}

GlobalCrossCorrelator::GlobalCrossCorrelator(int x_dim, int y_dim)
    : CrossCorrelator(x_dim, y_dim) {}

GlobalCrossCorrelator::~GlobalCrossCorrelator() = default;

void GlobalCrossCorrelator::runCorrelationAnalysis(const Grid<int> &prev, const Grid<int> &curr,
                                                   int radius, int min_count, double threshold,
                                                   double &dx, double &dy) {
    NOWCAST_CHECK(prev.sizeX() == m_x_dim && prev.sizeY() == m_y_dim);
    NOWCAST_CHECK(curr.sizeX() == m_x_dim && curr.sizeY() == m_y_dim);
    m_corr_coefficient = 0.0;
    dx = 0.0;
    dy = 0.0;
    m_ref_count = 0;
    m_ref_sum = 0.0;
    m_ref_sum_sq = 0.0;
    const int *pixels = prev.getGrid();
    for (int k = 0; k < m_grid_size; ++k) {
        const double v = pixels[k];
        ++m_ref_count;
        m_ref_sum += v;
        m_ref_sum_sq += v * v;
    }
    scan(prev, curr, radius, min_count, threshold, dx, dy);
}

void GlobalCrossCorrelator::scan(const Grid<int> &prev, const Grid<int> &curr, int radius,
                                 int min_count, double threshold, double &dx, double &dy) {
    NOWCAST_CHECK(prev.sizeX() == m_x_dim && prev.sizeY() == m_y_dim);
    NOWCAST_CHECK(curr.sizeX() == m_x_dim && curr.sizeY() == m_y_dim);
    searchDisplacements(
        m_lag_center_x, m_lag_center_y, radius, threshold,
        [&](int shift_x, int shift_y) {
            return correlate(prev, curr, shift_x, shift_y, min_count);
        },
        dx, dy);
}

double GlobalCrossCorrelator::correlate(const Grid<int> &prev, const Grid<int> &curr, int dx,
                                        int dy, int min_count) const {
    NOWCAST_CHECK(prev.sizeX() == m_x_dim && prev.sizeY() == m_y_dim);
    NOWCAST_CHECK(curr.sizeX() == m_x_dim && curr.sizeY() == m_y_dim);
    const int y_first = std::max(0, -dy);
    const int y_end = std::min(m_y_dim, m_y_dim - dy);
    const int x_first = std::max(0, -dx);
    const int x_end = std::min(m_x_dim, m_x_dim - dx);
    const OverlapSums sums = sumOverlap(prev, curr, x_first, x_end, y_first, y_end, dx, dy);
    return detail::coefficientOf(sums, min_count, m_ref_count, m_ref_sum, m_ref_sum_sq);
}

LocalCrossCorrelator::LocalCrossCorrelator(int x_dim, int y_dim) : CrossCorrelator(x_dim, y_dim) {}

LocalCrossCorrelator::~LocalCrossCorrelator() = default;

bool LocalCrossCorrelator::runCorrelationAnalysis(const Grid<int> &prev, const Grid<int> &curr,
                                                  int cx, int cy, int half, int radius,
                                                  int min_count, double signal_threshold,
                                                  int signal_count, double threshold, double &dx,
                                                  double &dy) {
    NOWCAST_CHECK(prev.sizeX() == m_x_dim && prev.sizeY() == m_y_dim);
    NOWCAST_CHECK(curr.sizeX() == m_x_dim && curr.sizeY() == m_y_dim);
    m_corr_coefficient = 0.0;
    dx = 0.0;
    dy = 0.0;
    m_ref_count = 0;
    m_ref_sum = 0.0;
    m_ref_sum_sq = 0.0;
    int signal_pixels = 0;
    const int y_first = std::max(0, cy - half);
    const int y_end = std::min(m_y_dim, cy + half);
    const int x_first = std::max(0, cx - half);
    const int x_end = std::min(m_x_dim, cx + half);
    for (int y = y_first; y < y_end; ++y) {
        const int *row = prev.getGrid() + static_cast<std::ptrdiff_t>(y) * m_x_dim;
        for (int x = x_first; x < x_end; ++x) {
            const double v = row[x];
            ++m_ref_count;
            m_ref_sum += v;
            m_ref_sum_sq += v * v;
            if (v >= signal_threshold) {
                ++signal_pixels;
            }
        }
    }
    if (m_ref_count < min_count) {
        return false;
    }
    if (signal_pixels <= signal_count) {
        return false;
    }
    scan(prev, curr, cx + m_box_offset_x, cy + m_box_offset_y, half, radius, min_count, threshold,
         dx, dy);
    return m_corr_coefficient != 0.0;
}

void LocalCrossCorrelator::scan(const Grid<int> &prev, const Grid<int> &curr, int lag_cx,
                                int lag_cy, int half, int radius, int min_count, double threshold,
                                double &dx, double &dy) {
    NOWCAST_CHECK(prev.sizeX() == m_x_dim && prev.sizeY() == m_y_dim);
    NOWCAST_CHECK(curr.sizeX() == m_x_dim && curr.sizeY() == m_y_dim);
    const int cx = lag_cx - m_box_offset_x;
    const int cy = lag_cy - m_box_offset_y;
    searchDisplacements(
        lag_cx, lag_cy, radius, threshold,
        [&](int shift_x, int shift_y) {
            return correlate(prev, curr, cx, cy, shift_x, shift_y, half, min_count);
        },
        dx, dy);
}

double LocalCrossCorrelator::correlate(const Grid<int> &prev, const Grid<int> &curr, int cx, int cy,
                                       int dx, int dy, int half, int min_count) const {
    NOWCAST_CHECK(prev.sizeX() == m_x_dim && prev.sizeY() == m_y_dim);
    NOWCAST_CHECK(curr.sizeX() == m_x_dim && curr.sizeY() == m_y_dim);
    const int y_first = std::max({0, cy - half, -dy});
    const int y_end = std::min({cy + half, m_y_dim, m_y_dim - dy});
    const int x_first = std::max({0, cx - half, -dx});
    const int x_end = std::min({cx + half, m_x_dim, m_x_dim - dx});
    const OverlapSums sums = sumOverlap(prev, curr, x_first, x_end, y_first, y_end, dx, dy);
    return detail::coefficientOf(sums, min_count, m_ref_count, m_ref_sum, m_ref_sum_sq);
}

}  // namespace azm
