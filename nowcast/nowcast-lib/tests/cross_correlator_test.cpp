#include <map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "nowcast/cross_correlator.h"
#include "test_images.h"

namespace azm {
namespace {

using Displacement = std::pair<int, int>;

// Drives the search with a table of coefficients instead of images; records the visiting order.
class TableCorrelator : public CrossCorrelator {
  public:
    using CrossCorrelator::CrossCorrelator;

    Displacement search(int radius, double threshold,
                        const std::map<Displacement, double> &coefficients) {
        visited.clear();
        m_corr_coefficient = 0.0;
        double dx = -1.0;
        double dy = -1.0;
        searchDisplacements(
            m_lag_center_x, m_lag_center_y, radius, threshold,
            [&](int x, int y) {
                visited.emplace_back(x, y);
                const auto found = coefficients.find({x, y});
                return found == coefficients.end() ? 0.1 : found->second;
            },
            dx, dy);
        return {static_cast<int>(dx), static_cast<int>(dy)};
    }

    std::vector<Displacement> visited;
};

TEST(CrossCorrelatorSearchTest, VisitsTheCircleRowByRowWithinTheLagSpace) {
    TableCorrelator correlator(5, 5);
    correlator.search(2, 0.55, {});
    const std::vector<Displacement> circle = {{0, -2}, {-1, -1}, {0, -1}, {1, -1}, {-2, 0},
                                              {-1, 0}, {0, 0},   {1, 0},  {2, 0},  {-1, 1},
                                              {0, 1},  {1, 1},   {0, 2}};
    EXPECT_EQ(correlator.visited, circle);

    // A 2 x 2 grid has only displacements -1 to 1 per axis, whatever the radius.
    TableCorrelator small(2, 2);
    small.search(5, 0.55, {});
    EXPECT_EQ(small.visited.size(), 9u);
}

TEST(CrossCorrelatorSearchTest, TieRule) {
    TableCorrelator correlator(5, 5);

    // A later, longer displacement that is higher by less than 0.00001 still takes over.
    EXPECT_EQ(correlator.search(2, 0.55, {{{1, -1}, 0.8}, {{2, 0}, 0.800005}}), Displacement(2, 0));
    EXPECT_DOUBLE_EQ(correlator.getCorrCoefficient(), 0.800005);

    // A later, shorter displacement lower by less than 0.00001 moves the result but keeps the
    // best coefficient.
    EXPECT_EQ(correlator.search(2, 0.55, {{{0, -2}, 0.8}, {{1, 0}, 0.799995}}), Displacement(1, 0));
    EXPECT_DOUBLE_EQ(correlator.getCorrCoefficient(), 0.8);

    // Lower by more than 0.00001: the longer displacement stays.
    EXPECT_EQ(correlator.search(2, 0.55, {{{0, -2}, 0.8}, {{1, 0}, 0.79998}}), Displacement(0, -2));

    // Equal length: the first in scan order stays.
    EXPECT_EQ(correlator.search(2, 0.55, {{{0, -1}, 0.8}, {{-1, 0}, 0.799999}}),
              Displacement(0, -1));

    // Nothing at or above the threshold: (0, 0) and coefficient 0.
    EXPECT_EQ(correlator.search(2, 0.55, {{{1, 1}, 0.5499}}), Displacement(0, 0));
    EXPECT_EQ(correlator.getCorrCoefficient(), 0.0);
}

TEST(GlobalCrossCorrelatorTest, IdenticalAndConstantImages) {
    Grid<int> image = test::textureImage(30, 20, 0, 0);
    for (int cx = 0; cx < 30; ++cx) {
        image.set(cx, 7, 0);  // zeros are part of the images
    }
    GlobalCrossCorrelator correlator(30, 20);
    double dx = -5.0;
    double dy = -5.0;
    correlator.runCorrelationAnalysis(image, image, 4, 360, 0.55, dx, dy);
    EXPECT_EQ(dx, 0.0);
    EXPECT_EQ(dy, 0.0);
    EXPECT_DOUBLE_EQ(correlator.getCorrCoefficient(), 1.0);

    // No variance in the earlier image: every coefficient is 0 and nothing is accepted.
    const Grid<int> constant = test::filledGrid(30, 20, 1500);
    correlator.runCorrelationAnalysis(constant, image, 4, 360, 0.55, dx, dy);
    EXPECT_EQ(dx, 0.0);
    EXPECT_EQ(dy, 0.0);
    EXPECT_EQ(correlator.getCorrCoefficient(), 0.0);
    EXPECT_EQ(correlator.correlate(constant, image, 1, 1, 360), 0.0);
}

// The reference statistics cover the whole image while a displaced image overlaps only in part,
// so shifted images are drawn around a small mean, as echoes on a clear background are.
TEST(GlobalCrossCorrelatorTest, RecoversKnownShifts) {
    const Grid<int> prev = test::textureImage(40, 36, 0, 0, 1, 1000);
    GlobalCrossCorrelator correlator(40, 36);
    for (const Displacement &shift : {Displacement(3, -2), Displacement(-4, 1), Displacement(0, 5),
                                      Displacement(-3, -4), Displacement(1, 0)}) {
        const Grid<int> curr = test::textureImage(40, 36, shift.first, shift.second, 1, 1000);
        double dx = 0.0;
        double dy = 0.0;
        correlator.runCorrelationAnalysis(prev, curr, 5, 864, 0.55, dx, dy);
        EXPECT_EQ(dx, shift.first);
        EXPECT_EQ(dy, shift.second);
        EXPECT_GT(correlator.getCorrCoefficient(), 0.55);
    }
}

TEST(GlobalCrossCorrelatorTest, LargePixelsDoNotOverflow) {
    // Precision 3 turns strong echoes into pixels above 46340, whose square overflows 32 bits.
    const Grid<int> prev = test::textureImage(32, 32, 0, 0, 1, 100000);
    const Grid<int> curr = test::textureImage(32, 32, 3, -2, 1, 100000);
    GlobalCrossCorrelator correlator(32, 32);
    double dx = 0.0;
    double dy = 0.0;
    correlator.runCorrelationAnalysis(prev, prev, 4, 600, 0.55, dx, dy);
    EXPECT_DOUBLE_EQ(correlator.getCorrCoefficient(), 1.0);
    correlator.runCorrelationAnalysis(prev, curr, 4, 600, 0.55, dx, dy);
    EXPECT_EQ(dx, 3.0);
    EXPECT_EQ(dy, -2.0);
}

TEST(GlobalCrossCorrelatorTest, OverlapBelowMinimumCountIsRefused) {
    const Grid<int> image = test::textureImage(20, 10, 0, 0);
    GlobalCrossCorrelator correlator(20, 10);
    double dx = 0.0;
    double dy = 0.0;
    correlator.runCorrelationAnalysis(image, image, 1, 0, 0.55, dx, dy);
    // Displacement (19, 0) overlaps one column of 10 pixels.
    EXPECT_EQ(correlator.correlate(image, image, 19, 0, 11), -1.0);
    EXPECT_NE(correlator.correlate(image, image, 19, 0, 10), -1.0);
    // A single overlapping pixel never counts.
    EXPECT_EQ(correlator.correlate(image, image, 19, 9, 0), -1.0);
    EXPECT_EQ(correlator.correlate(image, image, -19, -9, 0), -1.0);
}

TEST(LocalCrossCorrelatorTest, IdenticalAndConstantBoxes) {
    const Grid<int> image = test::textureImage(30, 30, 0, 0);
    LocalCrossCorrelator correlator(30, 30);
    double dx = -5.0;
    double dy = -5.0;
    EXPECT_TRUE(correlator.runCorrelationAnalysis(image, image, 15, 15, 5, 4, 60, 1000.0, 10, 0.55,
                                                  dx, dy));
    EXPECT_EQ(dx, 0.0);
    EXPECT_EQ(dy, 0.0);
    EXPECT_DOUBLE_EQ(correlator.getCorrCoefficient(), 1.0);

    const Grid<int> constant = test::filledGrid(30, 30, 1500);
    EXPECT_FALSE(correlator.runCorrelationAnalysis(constant, image, 15, 15, 5, 4, 60, 1000.0, 10,
                                                   0.55, dx, dy));
    EXPECT_EQ(correlator.getCorrCoefficient(), 0.0);
}

TEST(LocalCrossCorrelatorTest, RecoversKnownShiftsAlsoNearEdges) {
    const Grid<int> prev = test::textureImage(40, 40, 0, 0, 1, 1000);
    LocalCrossCorrelator correlator(40, 40);
    struct Case {
        Displacement shift;
        int cx, cy;
    };
    for (const Case &c : {Case{{3, -2}, 20, 20}, Case{{3, -2}, 6, 34}, Case{{3, -2}, 33, 6},
                          Case{{-4, 1}, 36, 6}, Case{{0, 5}, 20, 6}, Case{{-2, -3}, 35, 35}}) {
        const Grid<int> curr = test::textureImage(40, 40, c.shift.first, c.shift.second, 1, 1000);
        double dx = 0.0;
        double dy = 0.0;
        EXPECT_TRUE(correlator.runCorrelationAnalysis(prev, curr, c.cx, c.cy, 6, 5, 86, 500.0, 14,
                                                      0.55, dx, dy));
        EXPECT_EQ(dx, c.shift.first) << "centre " << c.cx << ", " << c.cy;
        EXPECT_EQ(dy, c.shift.second) << "centre " << c.cx << ", " << c.cy;
    }
}

TEST(LocalCrossCorrelatorTest, BoxIsCutToTheGridAndNeedsEnoughPixels) {
    const Grid<int> image = test::textureImage(20, 20, 0, 0);
    LocalCrossCorrelator correlator(20, 20);
    double dx = 0.0;
    double dy = 0.0;
    // Around (0, 0) with half width 4 only rows and columns 0 to 3 remain: 16 pixels.
    EXPECT_FALSE(
        correlator.runCorrelationAnalysis(image, image, 0, 0, 4, 3, 17, 1000.0, 1, 0.55, dx, dy));
    EXPECT_TRUE(
        correlator.runCorrelationAnalysis(image, image, 0, 0, 4, 3, 16, 1000.0, 1, 0.55, dx, dy));
    // Displaced by 9 rows, the box around (10, 10) keeps rows 6 to 10 of 8 columns: 40 pixels.
    EXPECT_EQ(correlator.correlate(image, image, 10, 10, 0, 9, 4, 41), -1.0);
    EXPECT_NE(correlator.correlate(image, image, 10, 10, 0, 9, 4, 40), -1.0);
}

TEST(LocalCrossCorrelatorTest, BoxNeedsMoreSignalPixelsThanTheSignalCount) {
    // The box around (2, 2) with half width 2 covers rows and columns 0 to 3; weak echoes
    // everywhere, and `strong` of its pixels at or above the signal threshold 1000 (the first
    // one exactly at it).
    auto image_with = [](int strong) {
        Grid<int> image = test::textureImage(12, 12, 0, 0, 1, 100);
        for (int k = 0; k < strong; ++k) {
            image.set(k % 4, k / 4, k == 0 ? 1000 : 5000);
        }
        return image;
    };
    LocalCrossCorrelator correlator(12, 12);
    double dx = 0.0;
    double dy = 0.0;
    for (const int signal_count : {0, 3}) {
        const Grid<int> enough = image_with(signal_count + 1);
        const Grid<int> short_by_one = image_with(signal_count);
        EXPECT_TRUE(correlator.runCorrelationAnalysis(enough, enough, 2, 2, 2, 2, 9, 1000.0,
                                                      signal_count, 0.55, dx, dy));
        EXPECT_FALSE(correlator.runCorrelationAnalysis(short_by_one, short_by_one, 2, 2, 2, 2, 9,
                                                       1000.0, signal_count, 0.55, dx, dy));
    }
}

TEST(CrossCorrelatorDeathTest, SizesMustBePositive) {
    EXPECT_DEATH(GlobalCrossCorrelator(0, 5), "check failed: x_dim > 0");
    EXPECT_DEATH(LocalCrossCorrelator(5, -2), "check failed: y_dim > 0");
}

}  // namespace
}  // namespace azm
