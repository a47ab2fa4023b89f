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

// A square field of one vector everywhere, changed element by element (linear index).
struct Field {
    Field(int size, double vx, double vy)
        : x(test::filledGrid(size, size, vx)), y(test::filledGrid(size, size, vy)) {}
    void put(int k, double vx, double vy) {
        x.set(k, vx);
        y.set(k, vy);
    }
    void putDirection(int k, double degrees) {
        put(k, std::cos(degrees * pi / 180), std::sin(degrees * pi / 180));
    }
    bool holds(int k, double vx, double vy) const { return x.get(k) == vx && y.get(k) == vy; }
    void filterLocally(int box_width = 9) {
        TrecCalculation(4, 4, filterConf(90, 3.0, box_width)).filterMotionFieldLocal(x, y);
    }
    Grid<double> x, y;
};

// Pixels (1, 1) to (5, 1) and (5, 5) of the 12 x 12 calculation, and (0, 5) outside its mask.
enum : int { k11 = 13, k21, k31, k41, k51, k55 = 65, k05 = 60 };

TEST(GlobalOutlierFilterTest, DirectionAndMagnitude) {
    // Mean (1, 0), threshold 90: the range wraps through 0.
    Field field(12, 0.0, 0.0);
    field.put(k11, -1.0, 0.1);
    field.put(k21, 0.2, -1.0);
    field.put(k31, 2.4, 0.45);
    field.put(k41, 2.4, 0.45);
    field.put(k05, -5.0, 0.0);
    calculationWithMask(filterConf(90, 3.0))->filterMotionField(field.x, field.y);
    EXPECT_NEAR(field.x.get(k11), 1.0, 1e-12);
    EXPECT_NEAR(field.y.get(k11), 0.0, 1e-12);
    EXPECT_TRUE(field.holds(k21, 0.2, -1.0));
    EXPECT_TRUE(field.holds(k31, 2.4, 0.45));
    EXPECT_TRUE(field.holds(k05, -5.0, 0.0));

    // Mean (2, 0), magnitude threshold 3: a speed of 6.5 is too fast, 6.0 is not. At 180
    // degrees every direction passes, also (-1, 0.5) in the quadrant where the range ends.
    Field fast(12, 0.0, 0.0);
    fast.put(k11, 0.0, 6.5);
    fast.put(k21, 0.0, -6.0);
    fast.put(k31, -1.0, 0.5);
    fast.put(k41, 5.5, -0.5);
    fast.put(k51, 5.5, -0.5);
    calculationWithMask(filterConf(180, 3.0))->filterMotionField(fast.x, fast.y);
    EXPECT_TRUE(fast.holds(k11, 2.0, 0.0));
    EXPECT_TRUE(fast.holds(k21, 0.0, -6.0));
    EXPECT_TRUE(fast.holds(k31, -1.0, 0.5));

    // No accepted non-zero vector: nothing changes.
    Field zeros(12, 0.0, 0.0);
    zeros.put(0, 4.0, 4.0);
    calculationWithMask(filterConf(90, 3.0))->filterMotionField(zeros.x, zeros.y);
    EXPECT_TRUE(zeros.holds(0, 4.0, 4.0));
}

TEST(GlobalOutlierFilterTest, WideThresholdJudgesAlongTheCircle) {
    // Mean direction 45 degrees, threshold 150: only directions between 195 and 255 degrees
    // deviate too far, and both range ends lie in the third quadrant.
    Field field(12, 0.0, 0.0);
    field.putDirection(k11, 190.0);
    field.putDirection(k21, 260.0);
    field.putDirection(k31, 225.0);
    double rest_x = 4.0;
    double rest_y = 4.0;
    for (const int k : {k11, k21, k31}) {
        rest_x -= field.x.get(k);
        rest_y -= field.y.get(k);
    }
    field.put(k41, rest_x, rest_y);
    const Field before = field;
    calculationWithMask(filterConf(150, 10.0))->filterMotionField(field.x, field.y);
    EXPECT_TRUE(field.holds(k11, before.x.get(k11), before.y.get(k11)));
    EXPECT_TRUE(field.holds(k21, before.x.get(k21), before.y.get(k21)));
    EXPECT_NEAR(field.x.get(k31), 1.0, 1e-12);
    EXPECT_NEAR(field.y.get(k31), 1.0, 1e-12);
}

// Up to 135 degrees the decision equals the rule by quadrants of the range ends.
TEST(GlobalOutlierFilterTest, SameAsQuadrantRuleUpTo135Degrees) {
    for (const int threshold : {20, 90, 135}) {
        const auto calculation = calculationWithMask(filterConf(threshold, 3.0));
        for (int mean_degrees = 0; mean_degrees < 360; mean_degrees += 30) {
            for (int degrees = 1; degrees < 360; degrees += 7) {
                Field field(12, 0.0, 0.0);
                for (int k = 25; k < 36; ++k) {
                    field.putDirection(k, mean_degrees);
                }
                field.putDirection(k55, degrees);
                double mean_x, mean_y, d, low, high, mean_direction;
                int count, q, ql, qh, mean_quadrant;
                calculation->calculateGlobalMean(field.x, field.y, mean_x, mean_y, count);
                calculation->calculateVectorDirection(mean_x, mean_y, mean_direction,
                                                      mean_quadrant);
                calculation->calculateDirectionRange(mean_direction, threshold * pi / 180, low, ql,
                                                     high, qh);
                calculation->calculateVectorDirection(field.x.get(k55), field.y.get(k55), d, q);
                const bool by_quadrants = low < high ? d < low || d > high
                                                     : (ql > q && q > qh) || (q == ql && d < low) ||
                                                           (q == qh && d > high);
                calculation->filterMotionField(field.x, field.y);
                EXPECT_EQ(field.holds(k55, mean_x, mean_y), by_quadrants)
                    << threshold << " " << mean_degrees << " " << degrees;
            }
        }
    }
}

TEST(LocalOutlierFilterTest, WindowsAndDirections) {
    // Width 9 on 20 x 20: centres 4 to 15, so the corner elements are reached, each by one
    // window only, whose mean is 79/81 of (1, 0).
    Field corners(20, 1.0, 0.0);
    corners.put(0, -1.0, 0.0);
    corners.put(399, -1.0, 0.0);
    corners.filterLocally();
    EXPECT_DOUBLE_EQ(corners.x.get(0), 79.0 / 81.0);
    EXPECT_DOUBLE_EQ(corners.x.get(399), 79.0 / 81.0);

    // Width 8 is widened to 9: an 8 x 8 field has no window.
    Field small(8, 1.0, 0.0);
    small.put(0, -1.0, 0.0);
    small.filterLocally(8);
    EXPECT_EQ(small.x.get(0), -1.0);

    // A window mean of exactly (0, 0) leaves the window alone; a small mean does not.
    Field balanced(9, 1.0, 0.0);
    for (int k = 0; k < 41; ++k) {
        balanced.put(k, k == 40 ? 0.0 : -1.0, 0.0);
    }
    balanced.filterLocally();
    EXPECT_EQ(balanced.x.get(0), -1.0);
    balanced.put(40, 1.0, 0.0);
    balanced.filterLocally();
    EXPECT_EQ(balanced.x.get(0), 1.0 / 81.0);

    // Absolute directions are compared: -170 against a mean near 170 passes; 120 against a
    // mean near 10 deviates by more than 90 and becomes the mean.
    Field opposite(9, std::cos(170 * pi / 180), std::sin(170 * pi / 180));
    opposite.putDirection(7, -170.0);
    opposite.filterLocally();
    EXPECT_DOUBLE_EQ(opposite.y.get(7), std::sin(-170 * pi / 180));
    Field turned(9, std::cos(10 * pi / 180), std::sin(10 * pi / 180));
    turned.putDirection(7, 120.0);
    turned.filterLocally();
    EXPECT_GT(turned.x.get(7), 0.9);
}

TEST(LocalOutlierFilterTest, MissingElementsTakeNoPart) {
    // Without the global vector, elements without a vector hold -999; they must neither pull
    // the window mean nor be replaced. 71 elements hold a vector, one of them the outlier.
    Field field(9, 2.0, 1.0);
    for (int k = 0; k < 80; k += 8) {
        field.put(k, kMissing, kMissing);
    }
    field.put(5, -2.0, -1.0);
    field.filterLocally();
    for (int k = 0; k < 81; ++k) {
        const bool missing = k % 8 == 0 && k < 80;
        EXPECT_DOUBLE_EQ(field.x.get(k), missing ? kMissing : k == 5 ? 138.0 / 71 : 2.0) << k;
        EXPECT_DOUBLE_EQ(field.y.get(k), missing ? kMissing : k == 5 ? 69.0 / 71 : 1.0) << k;
    }
}

}  // namespace
}  // namespace azm
