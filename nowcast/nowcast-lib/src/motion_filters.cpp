// Outlier filters of the motion field and the direction helpers of the global filter.
#include <cmath>
#include <limits>

#include "nowcast/trec_calculation.h"
#include "nowcast_check.h"

namespace azm {

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPi = 3.141592653589793;
constexpr double kThreeHalvesPi = 4.71238898038469;
constexpr double kTwoPi = 6.283185307179586;

bool isMissing(double x, double y) {
    return x == kMissingVector || y == kMissingVector;
}

// Mean of the window elements that hold a vector; false when none does.
bool meanOfPresent(const Grid<double> &window_x, const Grid<double> &window_y, int size,
                   double &mean_x, double &mean_y) {
    int count = 0;
    mean_x = 0.0;
    mean_y = 0.0;
    for (int k = 0; k < size; ++k) {
        const double x = window_x.get(k);
        const double y = window_y.get(k);
        if (isMissing(x, y)) {
            continue;
        }
        mean_x += x;
        mean_y += y;
        ++count;
    }
    if (count < 1) {
        return false;
    }
    mean_x /= count;
    mean_y /= count;
    return true;
}

// Direction in whole degrees (truncated toward zero), -180 to 180.
double wholeDegrees(double x, double y) {
    return std::trunc(std::atan2(y, x) * 180.0 / kPi);
}

}  // namespace

bool TrecCalculation::calculateGlobalMean(const Grid<double> &field_x, const Grid<double> &field_y,
                                          double &mean_x, double &mean_y, int &vector_count) const {
    NOWCAST_CHECK(field_x.sizeX() == m_grid_size_x && field_x.sizeY() == m_grid_size_y);
    NOWCAST_CHECK(field_y.sizeX() == m_grid_size_x && field_y.sizeY() == m_grid_size_y);
    vector_count = 0;
    mean_x = 0.0;
    mean_y = 0.0;
    for (int k = 0; k < m_grid_size; ++k) {
        if (!m_vector_mask->get(k)) {
            continue;
        }
        const double x = field_x.get(k);
        const double y = field_y.get(k);
        if (x == 0.0 && y == 0.0) {
            continue;
        }
        ++vector_count;
        mean_x += x;
        mean_y += y;
    }
    if (vector_count < 1) {
        return false;
    }
    mean_x /= vector_count;
    mean_y /= vector_count;
    return true;
}

bool TrecCalculation::calculateLocalMean(const Grid<double> &field_x, const Grid<double> &field_y,
                                         double &mean_x, double &mean_y, int &vector_count) const {
    vector_count = field_x.size();
    mean_x = 0.0;
    mean_y = 0.0;
    for (int k = 0; k < vector_count; ++k) {
        mean_x += field_x.get(k);
        mean_y += field_y.get(k);
    }
    if (vector_count < 1) {
        return false;
    }
    mean_x /= vector_count;
    mean_y /= vector_count;
    return true;
}

int TrecCalculation::calculateDirectionQuadrant(double direction) const {
    if (direction >= 0.0 && direction <= kHalfPi) {
        return 1;
    }
    if (direction > kHalfPi && direction <= kPi) {
        return 2;
    }
    if (direction > kPi && direction <= kThreeHalvesPi) {
        return 3;
    }
    if (direction > kThreeHalvesPi && direction <= kTwoPi) {
        return 4;
    }
    return -1;
}

void TrecCalculation::calculateVectorDirection(double x, double y, double &direction,
                                               int &quadrant) const {
    double angle;  // angle to the x axis, 0 to pi/2
    if (x == 0.0) {
        angle = y == 0.0 ? std::numeric_limits<double>::quiet_NaN() : kHalfPi;
    } else {
        angle = std::atan(std::fabs(y / x));
    }
    if (x >= 0.0) {
        direction = y >= 0.0 ? angle : kTwoPi - angle;
    } else {
        direction = y >= 0.0 ? kPi - angle : kPi + angle;
    }
    quadrant = calculateDirectionQuadrant(direction);
}

void TrecCalculation::calculateDirectionRange(double direction, double width, double &low,
                                              int &low_quadrant, double &high,
                                              int &high_quadrant) const {
    low = direction - width;
    if (low < 0.0) {
        low += kTwoPi;
    }
    high = direction + width;
    if (high >= kTwoPi) {
        high -= kTwoPi;
    }
    low_quadrant = calculateDirectionQuadrant(low);
    high_quadrant = calculateDirectionQuadrant(high);
}

void TrecCalculation::filterMotionField(Grid<double> &field_x, Grid<double> &field_y) const {
    double mean_x = 0.0;
    double mean_y = 0.0;
    int vector_count = 0;
    if (!calculateGlobalMean(field_x, field_y, mean_x, mean_y, vector_count)) {
        return;
    }
    const double mean_speed = std::sqrt(mean_x * mean_x + mean_y * mean_y);
    double mean_direction = 0.0;
    int mean_quadrant = 0;
    calculateVectorDirection(mean_x, mean_y, mean_direction, mean_quadrant);
    double low = 0.0;
    double high = 0.0;
    int low_quadrant = 0;
    int high_quadrant = 0;
    calculateDirectionRange(mean_direction, m_direction_threshold * kPi / 180.0, low, low_quadrant,
                            high, high_quadrant);
    // At 180 degrees every direction is allowed; low and high then meet, and which of the two
    // comes out larger by rounding must not decide about the vectors.
    const bool limit_direction = m_direction_threshold < 180;

    for (int k = 0; k < m_grid_size; ++k) {
        if (!m_vector_mask->get(k)) {
            continue;
        }
        const double vx = field_x.get(k);
        const double vy = field_y.get(k);
        if (vx == 0.0 && vy == 0.0) {
            continue;
        }
        bool outlier = false;
        if (std::sqrt(vx * vx + vy * vy) > m_magnitude_threshold * mean_speed) {
            outlier = true;
        } else if (limit_direction) {
            double direction = 0.0;
            int quadrant = 0;
            calculateVectorDirection(vx, vy, direction, quadrant);
            if (low < high) {
                outlier = direction < low || direction > high;
            } else {
                // The allowed range wraps through 0: it is [low, 2 pi] and [0, high], so an
                // outlier lies strictly between high and low. (A test by quadrants fails when
                // low and high share a quadrant, above 135 degrees.)
                outlier = direction > high && direction < low;
            }
        }
        if (outlier) {
            field_x.set(k, mean_x);
            field_y.set(k, mean_y);
        }
    }
}

void TrecCalculation::filterMotionFieldLocal(Grid<double> &field_x, Grid<double> &field_y) const {
    NOWCAST_CHECK(field_x.sizeX() == field_y.sizeX() && field_x.sizeY() == field_y.sizeY());
    const int width = 2 * (m_filter_box_width / 2) + 1;
    const int r = (width - 1) / 2;
    const int size_x = field_x.sizeX();
    const int size_y = field_y.sizeY();
    if (size_x < width || size_y < width) {
        return;  // no window fits
    }
    Grid<double> window_x(width, width);
    Grid<double> window_y(width, width);
    const int window_size = window_x.size();

    for (int i = r; i < size_x - r; ++i) {
        for (int j = r; j < size_y - r; ++j) {
            bool has_missing = false;
            for (int a = 0; a < width; ++a) {
                for (int b = 0; b < width; ++b) {
                    const double x = field_x.get(i - r + a, j - r + b);
                    const double y = field_y.get(i - r + a, j - r + b);
                    window_x.set(a, b, x);
                    window_y.set(a, b, y);
                    has_missing = has_missing || isMissing(x, y);
                }
            }
            // Elements without a vector (with global weight 0) must not pull the mean.
            double mean_x = 0.0;
            double mean_y = 0.0;
            if (has_missing) {
                if (!meanOfPresent(window_x, window_y, window_size, mean_x, mean_y)) {
                    continue;
                }
            } else {
                int count = 0;
                calculateLocalMean(window_x, window_y, mean_x, mean_y, count);
            }
            if (std::fabs(mean_x) < 0.0001 && std::fabs(mean_y) < 0.0001) {
                continue;
            }
            // Compares the absolute values of the two directions, not the angle between them:
            // 170 and -170 degrees count as equal.
            const double mean_degrees = wholeDegrees(mean_x, mean_y);
            for (int a = 0; a < width; ++a) {
                for (int b = 0; b < width; ++b) {
                    const double x = window_x.get(a, b);
                    const double y = window_y.get(a, b);
                    if (isMissing(x, y)) {
                        continue;
                    }
                    const double degrees = wholeDegrees(x, y);
                    if (std::fabs(std::fabs(mean_degrees) - std::fabs(degrees)) >
                        m_direction_threshold) {
                        window_x.set(a, b, mean_x);
                        window_y.set(a, b, mean_y);
                    }
                }
            }
            for (int a = 0; a < width; ++a) {
                for (int b = 0; b < width; ++b) {
                    field_x.set(i - r + a, j - r + b, window_x.get(a, b));
                    field_y.set(i - r + a, j - r + b, window_y.get(a, b));
                }
            }
        }
    }
}

}  // namespace azm
