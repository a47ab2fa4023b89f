#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "nowcast/trec_calculation.h"
#include "test_images.h"

namespace azm {
namespace {

constexpr double kMissing = -999.0;
using std::numbers::pi;

TrecConf filterConf(int direction_threshold, double magnitude_threshold, int box_width = 9) {
    TrecConf conf;
    conf.m_signal_threshold = 1.0;
    conf.m_field_feature_box_width = 2;
    conf.m_speed_limit = 1;
    conf.m_field_spatial_direction_threshold = direction_threshold;
    conf.m_field_spatial_magnitude_threshold = magnitude_threshold;
    conf.m_field_spatial_filtering_box_width = box_width;
    return conf;
}

// A 12 x 12 calculation whose box analyses on identical noise accepted a vector at every centre:
// rows and columns 1 to 11. Row 0 and column 0 hold no accepted vector.
std::unique_ptr<TrecCalculation> calculationWithMask(const TrecConf &conf) {
    auto calculation = std::make_unique<TrecCalculation>(12, 12, conf);
    const Grid<int> image = test::textureImage(12, 12, 0, 0, 200, 800);
    Grid<double> found_x = test::filledGrid(12, 12, kMissing);
    Grid<double> found_y = test::filledGrid(12, 12, kMissing);
    calculation->calculateMotionField(image, image, found_x, found_y);
    for (int k = 0; k < 144; ++k) {
        EXPECT_EQ(found_x.get(k), k % 12 == 0 || k < 12 ? kMissing : 0.0) << k;
    }
    return calculation;
}

struct Field {
    Field() : x(test::filledGrid(12, 12, 0.0)), y(test::filledGrid(12, 12, 0.0)) {}
    void put(int cx, int cy, double vx, double vy) {
        x.set(cx, cy, vx);
        y.set(cx, cy, vy);
    }
    void putDirection(int cx, int cy, double degrees, double length = 1.0) {
        put(cx, cy, length * std::cos(degrees * pi / 180), length * std::sin(degrees * pi / 180));
    }
    bool holds(int cx, int cy, double vx, double vy) const {
        return x.get(cx, cy) == vx && y.get(cx, cy) == vy;
    }
    Grid<double> x, y;
};

TEST(GlobalOutlierFilterTest, DirectionAndMagnitude) {
    // Mean (1, 0), threshold 90: the range wraps through 0.
    Field field;
    field.put(1, 1, -1.0, 0.1);
    field.put(2, 1, 0.2, -1.0);
    field.put(3, 1, 2.4, 0.45);
    field.put(4, 1, 2.4, 0.45);
    field.put(0, 5, -5.0, 0.0);  // no accepted vector there
    calculationWithMask(filterConf(90, 3.0))->filterMotionField(field.x, field.y);
    EXPECT_NEAR(field.x.get(1, 1), 1.0, 1e-12);
    EXPECT_NEAR(field.y.get(1, 1), 0.0, 1e-12);
    EXPECT_TRUE(field.holds(2, 1, 0.2, -1.0));
    EXPECT_TRUE(field.holds(3, 1, 2.4, 0.45));
    EXPECT_TRUE(field.holds(0, 5, -5.0, 0.0));

    // Mean (2, 0), magnitude threshold 3: a speed of 6.5 is too fast, 6.0 is not. At 180
    // degrees every direction passes, also (-1, 0.5) in the quadrant where the range ends.
    Field fast;
    fast.put(1, 1, 0.0, 6.5);
    fast.put(2, 1, 0.0, -6.0);
    fast.put(3, 1, -1.0, 0.5);
    fast.put(4, 1, 5.5, -0.5);
    fast.put(5, 1, 5.5, -0.5);
    calculationWithMask(filterConf(180, 3.0))->filterMotionField(fast.x, fast.y);
    EXPECT_TRUE(fast.holds(1, 1, 2.0, 0.0));
    EXPECT_TRUE(fast.holds(2, 1, 0.0, -6.0));
    EXPECT_TRUE(fast.holds(3, 1, -1.0, 0.5));

    // No accepted non-zero vector: nothing changes.
    Field zeros;
    zeros.put(0, 0, 4.0, 4.0);
    calculationWithMask(filterConf(90, 3.0))->filterMotionField(zeros.x, zeros.y);
    EXPECT_TRUE(zeros.holds(0, 0, 4.0, 4.0));
}

TEST(GlobalOutlierFilterTest, WideThresholdJudgesAlongTheCircle) {
    // Mean direction 45 degrees, threshold 150: only directions between 195 and 255 degrees
    // deviate too far, and both range ends lie in the third quadrant.
    Field field;
    field.putDirection(1, 1, 190.0);
    field.putDirection(2, 1, 260.0);
    field.putDirection(3, 1, 225.0);
    const double rest = 4.0 - field.x.get(1, 1) - field.x.get(2, 1) - field.x.get(3, 1);
    field.put(4, 1, rest, 4.0 - field.y.get(1, 1) - field.y.get(2, 1) - field.y.get(3, 1));
    const Field before = field;
    calculationWithMask(filterConf(150, 10.0))->filterMotionField(field.x, field.y);
    EXPECT_TRUE(field.holds(1, 1, before.x.get(1, 1), before.y.get(1, 1)));
    EXPECT_TRUE(field.holds(2, 1, before.x.get(2, 1), before.y.get(2, 1)));
    EXPECT_NEAR(field.x.get(3, 1), 1.0, 1e-12);
    EXPECT_NEAR(field.y.get(3, 1), 1.0, 1e-12);
}

// Up to 135 degrees the decision equals the rule by quadrants of the range ends.
TEST(GlobalOutlierFilterTest, SameAsQuadrantRuleUpTo135Degrees) {
    for (const int threshold : {20, 90, 135}) {
        const auto calculation = calculationWithMask(filterConf(threshold, 3.0));
        for (int mean_degrees = 0; mean_degrees < 360; mean_degrees += 30) {
            for (int degrees = 1; degrees < 360; degrees += 7) {
                Field field;
                for (int cx = 1; cx < 12; ++cx) {
                    field.putDirection(cx, 2, mean_degrees);
                }
                field.putDirection(5, 5, degrees);
                double mean_x, mean_y, d, low, high, mean_direction;
                int count, q, ql, qh, mean_quadrant;
                calculation->calculateGlobalMean(field.x, field.y, mean_x, mean_y, count);
                calculation->calculateVectorDirection(mean_x, mean_y, mean_direction,
                                                      mean_quadrant);
                calculation->calculateDirectionRange(mean_direction, threshold * pi / 180, low, ql,
                                                     high, qh);
                calculation->calculateVectorDirection(field.x.get(5, 5), field.y.get(5, 5), d, q);
                const bool by_quadrants = low < high ? d < low || d > high
                                                     : (ql > q && q > qh) || (q == ql && d < low) ||
                                                           (q == qh && d > high);
                calculation->filterMotionField(field.x, field.y);
                EXPECT_EQ(field.holds(5, 5, mean_x, mean_y), by_quadrants)
                    << threshold << " " << mean_degrees << " " << degrees;
            }
        }
    }
}

TEST(DirectionTest, VectorDirectionsAndQuadrants) {
    const TrecCalculation calculation(4, 4, TrecConf());
    double direction = 0.0;
    int quadrant = 0;
    calculation.calculateVectorDirection(-1.0, 1.0, direction, quadrant);
    EXPECT_DOUBLE_EQ(direction, 3 * pi / 4);
    EXPECT_EQ(quadrant, 2);
    calculation.calculateVectorDirection(1.0, -1.0, direction, quadrant);
    EXPECT_DOUBLE_EQ(direction, 7 * pi / 4);
    EXPECT_EQ(quadrant, 4);
    calculation.calculateVectorDirection(-1.0, -1.0, direction, quadrant);
    EXPECT_DOUBLE_EQ(direction, 5 * pi / 4);
    EXPECT_EQ(quadrant, 3);
    calculation.calculateVectorDirection(0.0, -2.0, direction, quadrant);
    EXPECT_DOUBLE_EQ(direction, 3 * pi / 2);
    EXPECT_EQ(quadrant, 3);
    calculation.calculateVectorDirection(0.0, 0.0, direction, quadrant);
    EXPECT_TRUE(std::isnan(direction));
    EXPECT_EQ(quadrant, -1);
    EXPECT_EQ(calculation.calculateDirectionQuadrant(7.0), -1);

    double low, high;
    int low_quadrant, high_quadrant;
    calculation.calculateDirectionRange(0.0, pi / 2, low, low_quadrant, high, high_quadrant);
    EXPECT_DOUBLE_EQ(low, 3 * pi / 2);
    EXPECT_EQ(low_quadrant, 3);
    EXPECT_DOUBLE_EQ(high, pi / 2);
    EXPECT_EQ(high_quadrant, 1);
}

// Local filter on a field of unit vectors at `degrees`, with other vectors put in by the test.
struct LocalCase {
    LocalCase(int size, double degrees) : x(size, size), y(size, size) {
        for (int k = 0; k < x.size(); ++k) {
            put(k, std::cos(degrees * pi / 180), std::sin(degrees * pi / 180));
        }
    }
    void put(int k, double vx, double vy) {
        x.set(k, vx);
        y.set(k, vy);
    }
    void filter(int box_width = 9) {
        TrecCalculation(4, 4, filterConf(90, 3.0, box_width)).filterMotionFieldLocal(x, y);
    }
    Grid<double> x, y;
};

TEST(LocalOutlierFilterTest, WindowsAndDirections) {
    // Width 9 on 20 x 20: centres 4 to 15, so the corner elements are reached, each by one
    // window only, whose mean is 79/81 of (1, 0).
    LocalCase corners(20, 0.0);
    corners.put(0, -1.0, 0.0);
    corners.put(399, -1.0, 0.0);
    corners.filter();
    EXPECT_DOUBLE_EQ(corners.x.get(0), 79.0 / 81.0);
    EXPECT_DOUBLE_EQ(corners.x.get(399), 79.0 / 81.0);

    // Width 8 is widened to 9: an 8 x 8 field has no window.
    LocalCase small(8, 0.0);
    small.put(0, -1.0, 0.0);
    small.filter(8);
    EXPECT_EQ(small.x.get(0), -1.0);

    // A window mean of exactly (0, 0) leaves the window alone; a small mean does not.
    LocalCase balanced(9, 0.0);
    for (int k = 0; k < 41; ++k) {
        balanced.put(k, k == 40 ? 0.0 : -1.0, 0.0);
    }
    balanced.filter();
    EXPECT_EQ(balanced.x.get(0), -1.0);
    balanced.put(40, 1.0, 0.0);
    balanced.filter();
    EXPECT_EQ(balanced.x.get(0), 1.0 / 81.0);

    // Absolute directions are compared: -170 against a mean near 170 passes; 120 against a
    // mean near 10 deviates by more than 90.
    LocalCase opposite(9, 170.0);
    opposite.put(7, std::cos(-170 * pi / 180), std::sin(-170 * pi / 180));
    const double before = opposite.y.get(7);
    opposite.filter();
    EXPECT_EQ(opposite.y.get(7), before);
    LocalCase turned(9, 10.0);
    turned.put(7, std::cos(120 * pi / 180), std::sin(120 * pi / 180));
    turned.filter();
    EXPECT_GT(turned.x.get(7), 0.9);
}

TEST(LocalOutlierFilterTest, MissingElementsTakeNoPart) {
    // Without the global vector, elements without a vector hold -999; they must neither pull
    // the window mean nor be replaced.
    LocalCase field(9, 0.0);
    for (int k = 0; k < 81; ++k) {
        field.put(k, 2.0, 1.0);
    }
    for (int k = 0; k < 10; ++k) {
        field.put(k * 8, kMissing, kMissing);
    }
    field.put(5, -2.0, -1.0);
    field.filter();
    for (int k = 0; k < 81; ++k) {
        if (k % 8 == 0 && k < 80) {
            EXPECT_EQ(field.x.get(k), kMissing);
            EXPECT_EQ(field.y.get(k), kMissing);
        } else if (k == 5) {
            EXPECT_DOUBLE_EQ(field.x.get(k), (2.0 * 70 - 2.0) / 71);
            EXPECT_DOUBLE_EQ(field.y.get(k), (1.0 * 70 - 1.0) / 71);
        } else {
            EXPECT_EQ(field.x.get(k), 2.0);
            EXPECT_EQ(field.y.get(k), 1.0);
        }
    }
}

}  // namespace
}  // namespace azm
