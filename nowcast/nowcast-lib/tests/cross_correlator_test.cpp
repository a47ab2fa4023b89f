#include <map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "nowcast/cross_correlator.h"
#include "test_images.h"

namespace azm {
namespace {

using Displacement = std::pair<int, int>;

// Drives the search with a table of coefficients (0.1 where none is given) instead of images,
// and records the visiting order.
class TableCorrelator : public CrossCorrelator {
  public:
    using CrossCorrelator::CrossCorrelator;

    Displacement search(int radius, const std::map<Displacement, double> &coefficients) {
        visited.clear();
        m_corr_coefficient = 0.0;
        double dx = -1.0;
        double dy = -1.0;
        auto coefficient_of = [&](int x, int y) {
            visited.emplace_back(x, y);
            const auto found = coefficients.find({x, y});
            return found == coefficients.end() ? 0.1 : found->second;
        };
        searchDisplacements(m_lag_center_x, m_lag_center_y, radius, 0.55, coefficient_of, dx, dy);
        return {static_cast<int>(dx), static_cast<int>(dy)};
    }

    std::vector<Displacement> visited;
};

TEST(CrossCorrelatorSearchTest, VisitsTheCircleRowByRowWithinTheLagSpace) {
    TableCorrelator correlator(5, 5);
    correlator.search(2, {});
    const std::vector<Displacement> circle = {{0, -2}, {-1, -1}, {0, -1}, {1, -1}, {-2, 0},
                                              {-1, 0}, {0, 0},   {1, 0},  {2, 0},  {-1, 1},
                                              {0, 1},  {1, 1},   {0, 2}};
    EXPECT_EQ(correlator.visited, circle);
    // A 2 x 2 grid has only displacements -1 to 1 per axis, whatever the radius.
    TableCorrelator small(2, 2);
    small.search(5, {});
    EXPECT_EQ(small.visited.size(), 9u);
}

TEST(CrossCorrelatorSearchTest, TieRule) {
    TableCorrelator correlator(5, 5);
    // A later, longer displacement that is higher by less than 0.00001 still takes over.
    EXPECT_EQ(correlator.search(2, {{{1, -1}, 0.8}, {{2, 0}, 0.800005}}), Displacement(2, 0));
    EXPECT_DOUBLE_EQ(correlator.getCorrCoefficient(), 0.800005);
    // A later, shorter one lower by less than 0.00001 moves the result, not the coefficient.
    EXPECT_EQ(correlator.search(2, {{{0, -2}, 0.8}, {{1, 0}, 0.799995}}), Displacement(1, 0));
    EXPECT_DOUBLE_EQ(correlator.getCorrCoefficient(), 0.8);
    // Lower by more, or of equal length: the earlier one stays.
    EXPECT_EQ(correlator.search(2, {{{0, -2}, 0.8}, {{1, 0}, 0.79998}}), Displacement(0, -2));
    EXPECT_EQ(correlator.search(2, {{{0, -1}, 0.8}, {{-1, 0}, 0.799999}}), Displacement(0, -1));
    // Nothing at or above the threshold: (0, 0) and coefficient 0.
    EXPECT_EQ(correlator.search(2, {{{1, 1}, 0.5499}}), Displacement(0, 0));
    EXPECT_EQ(correlator.getCorrCoefficient(), 0.0);
}

TEST(CrossCorrelatorTest, IdenticalAndConstantImages) {
    Grid<int> image = test::textureImage(30, 20, 0, 0);
    for (int cx = 0; cx < 30; ++cx) {
        image.set(cx, 7, 0);  // zeros are part of the images
    }
    const Grid<int> constant = test::filledGrid(30, 20, 1500);
    GlobalCrossCorrelator global(30, 20);
    LocalCrossCorrelator local(30, 20);
    double dx = -5.0;
    double dy = -5.0;
    global.runCorrelationAnalysis(image, image, 4, 360, 0.55, dx, dy);
    EXPECT_EQ(Displacement(dx, dy), Displacement(0, 0));
    EXPECT_DOUBLE_EQ(global.getCorrCoefficient(), 1.0);
    EXPECT_TRUE(
        local.runCorrelationAnalysis(image, image, 15, 8, 5, 4, 60, 1000, 10, 0.55, dx, dy));
    EXPECT_EQ(Displacement(dx, dy), Displacement(0, 0));
    EXPECT_DOUBLE_EQ(local.getCorrCoefficient(), 1.0);

    // No variance in the earlier image: every coefficient is 0 and nothing is accepted.
    global.runCorrelationAnalysis(constant, image, 4, 360, 0.55, dx, dy);
    EXPECT_EQ(Displacement(dx, dy), Displacement(0, 0));
    EXPECT_EQ(global.getCorrCoefficient(), 0.0);
    EXPECT_FALSE(
        local.runCorrelationAnalysis(constant, image, 15, 8, 5, 4, 60, 1000, 10, 0.55, dx, dy));
    EXPECT_EQ(local.getCorrCoefficient(), 0.0);
}

// The reference statistics cover the whole image while a displaced image overlaps only in part,
// so shifted images are drawn around a small mean, as echoes on a clear background are.
TEST(CrossCorrelatorTest, RecoversKnownShiftsAlsoNearEdges) {
    GlobalCrossCorrelator global(40, 40);
    LocalCrossCorrelator local(40, 40);
    struct Case {
        Displacement shift;
        int cx, cy;
    };
    for (const Case &c : {Case{{3, -2}, 20, 20}, Case{{3, -2}, 6, 34}, Case{{3, -2}, 33, 6},
                          Case{{-4, 1}, 36, 6}, Case{{0, 5}, 20, 6}, Case{{-2, -3}, 35, 35}}) {
        // Pixels above 46340, as precision 3 gives strong echoes, overflow a 32-bit square.
        const int span = c.cx == 33 ? 100000 : 1000;
        const Grid<int> prev = test::textureImage(40, 40, 0, 0, 1, span);
        const Grid<int> curr = test::textureImage(40, 40, c.shift.first, c.shift.second, 1, span);
        double dx = 0.0;
        double dy = 0.0;
        global.runCorrelationAnalysis(prev, curr, 5, 960, 0.55, dx, dy);
        EXPECT_EQ(Displacement(dx, dy), c.shift);
        EXPECT_TRUE(local.runCorrelationAnalysis(prev, curr, c.cx, c.cy, 6, 5, 86, span / 2.0, 14,
                                                 0.55, dx, dy));
        EXPECT_EQ(Displacement(dx, dy), c.shift) << "centre " << c.cx << ", " << c.cy;
    }
}

TEST(CrossCorrelatorTest, TooSmallOverlapsAndBoxesAreRefused) {
    const Grid<int> image = test::textureImage(20, 20, 0, 0);
    GlobalCrossCorrelator global(20, 20);
    double dx = 0.0;
    double dy = 0.0;
    global.runCorrelationAnalysis(image, image, 1, 0, 0.55, dx, dy);
    // Displacement (19, 0) overlaps one column of 20 pixels; a single pixel never counts.
    EXPECT_EQ(global.correlate(image, image, 19, 0, 21), -1.0);
    EXPECT_NE(global.correlate(image, image, 19, 0, 20), -1.0);
    EXPECT_EQ(global.correlate(image, image, -19, 19, 0), -1.0);

    LocalCrossCorrelator local(20, 20);
    // Around (0, 0) with half width 4 only rows and columns 0 to 3 remain: 16 pixels.
    EXPECT_FALSE(local.runCorrelationAnalysis(image, image, 0, 0, 4, 3, 17, 1000, 1, 0.55, dx, dy));
    EXPECT_TRUE(local.runCorrelationAnalysis(image, image, 0, 0, 4, 3, 16, 1000, 1, 0.55, dx, dy));
    // Displaced by 9 rows, the box around (10, 10) keeps rows 6 to 10 of 8 columns: 40 pixels.
    EXPECT_EQ(local.correlate(image, image, 10, 10, 0, 9, 4, 41), -1.0);
    EXPECT_NE(local.correlate(image, image, 10, 10, 0, 9, 4, 40), -1.0);
}

TEST(CrossCorrelatorTest, BoxNeedsMoreSignalPixelsThanTheSignalCount) {
    // The box around (2, 2) with half width 2 covers rows and columns 0 to 3: weak echoes, and
    // `strong` pixels at or above the signal threshold 1000 (the first one exactly at it).
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
    for (const int count : {0, 3}) {
        const Grid<int> enough = image_with(count + 1);
        const Grid<int> short_by_one = image_with(count);
        EXPECT_TRUE(correlator.runCorrelationAnalysis(enough, enough, 2, 2, 2, 2, 9, 1000.0, count,
                                                      0.55, dx, dy));
        EXPECT_FALSE(correlator.runCorrelationAnalysis(short_by_one, short_by_one, 2, 2, 2, 2, 9,
                                                       1000.0, count, 0.55, dx, dy));
    }
}

TEST(CrossCorrelatorDeathTest, SizesMustBePositive) {
    EXPECT_DEATH(GlobalCrossCorrelator(0, 5), "check failed: x_dim > 0");
    EXPECT_DEATH(LocalCrossCorrelator(5, -2), "check failed: y_dim > 0");
    // The lag space of 2 x 2^30 - 1 displacements per axis does not fit int.
    EXPECT_DEATH(GlobalCrossCorrelator((1 << 30) + 1, 1), "check failed: detail::gridFitsInt");
}

}  // namespace
}  // namespace azm
