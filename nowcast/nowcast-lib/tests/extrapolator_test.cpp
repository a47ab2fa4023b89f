// Extrapolation on fields whose exact answer is known.
#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "nowcast/extrapolator.h"
#include "test_images.h"

namespace azm {
namespace {

using test::filledGrid;

Grid<double> gridOf(int size_x, int size_y, const std::function<double(int, int)> &value) {
    Grid<double> grid(size_x, size_y);
    for (int cy = 0; cy < size_y; ++cy) {
        for (int cx = 0; cx < size_x; ++cx) {
            grid.set(cx, cy, value(cx, cy));
        }
    }
    return grid;
}

double sum(const Grid<double> &grid) {
    double total = 0.0;
    for (int k = 0; k < grid.size(); ++k)
        total += grid.get(k);
    return total;
}

// Solid-body rotation by omega radians per interval about the grid's middle.
struct Rotation {
    int size;
    double omega;
    double centre() const { return (size - 1) / 2.0; }
    Grid<double> motionX() const {
        return gridOf(size, size, [&](int, int cy) { return -omega * (cy - centre()); });
    }
    Grid<double> motionY() const {
        return gridOf(size, size, [&](int cx, int) { return omega * (cx - centre()); });
    }
};

TEST(ExtrapolatorTest, WholePixelShiftsCopyTheImageExactly) {
    const Grid<double> image = gridOf(40, 30, [](int cx, int cy) {
        return test::textureAt(cx, cy, 0, 1000) / 7.0;  // values no sum of products reproduces
    });
    // Three sub-steps of a third each: their sum is not exactly the shift.
    const Extrapolator extrapolator(filledGrid(40, 30, 2.0), filledGrid(40, 30, -1.0));
    ASSERT_TRUE(extrapolator.isGood());
    EXPECT_DOUBLE_EQ(extrapolator.maxSpeed(), std::hypot(2.0, 1.0));
    const std::vector<Grid<double>> leads = extrapolator.forecast(image, 1.0, 3);
    ASSERT_EQ(leads.size(), 3u);
    for (int lead = 1; lead <= 3; ++lead) {
        const Grid<double> &forecast = leads[lead - 1];
        for (int cy = 0; cy < 30; ++cy) {
            for (int cx = 0; cx < 40; ++cx) {
                const int ox = cx - 2 * lead;
                const int oy = cy + lead;
                if (ox >= 0 && oy < 30)
                    ASSERT_EQ(forecast.get(cx, cy), image.get(ox, oy)) << cx << ", " << cy;
                else
                    ASSERT_TRUE(std::isnan(forecast.get(cx, cy))) << cx << ", " << cy;
            }
        }
    }
    // Half an interval twice is one interval.
    const std::vector<Grid<double>> halves = extrapolator.forecast(image, 0.5, 2);
    for (int k = 0; k < image.size(); ++k) {
        const double a = halves[1].get(k);
        const double b = leads[0].get(k);
        ASSERT_TRUE(a == b || (std::isnan(a) && std::isnan(b))) << k;
    }
}

TEST(ExtrapolatorTest, UniformFieldStaysUniformUnderRotation) {
    const Rotation rotation{48, 0.08};
    const Extrapolator extrapolator(rotation.motionX(), rotation.motionY());
    const std::vector<Grid<double>> leads = extrapolator.forecast(filledGrid(48, 48, 27.5), 1.5, 4);
    ASSERT_EQ(leads.size(), 4u);
    for (const Grid<double> &forecast : leads) {
        int inside = 0;
        for (int k = 0; k < forecast.size(); ++k) {
            if (!std::isnan(forecast.get(k))) {
                ASSERT_NEAR(forecast.get(k), 27.5, 1e-12);
                ++inside;
            }
        }
        // The corners turn in from outside the grid; the inscribed disc stays.
        EXPECT_GT(inside, M_PI * 23.5 * 23.5);
        EXPECT_LT(inside, forecast.size());
    }
}

TEST(ExtrapolatorTest, TrajectoriesFollowCurvedMotionInSubSteps) {
    // Bilinear interpolation reproduces a linear image exactly, so a forecast of the column
    // number is the column its trajectory started from, and likewise for rows.
    const Rotation rotation{64, 0.05};
    const Extrapolator extrapolator(rotation.motionX(), rotation.motionY());
    const double lead = 10.0;  // half a radian: one straight step would miss by pixels
    const Grid<double> columns =
        extrapolator.forecast(gridOf(64, 64, [](int cx, int) { return cx; }), lead, 1)[0];
    const Grid<double> rows =
        extrapolator.forecast(gridOf(64, 64, [](int, int cy) { return cy; }), lead, 1)[0];
    // The same lead in ten chained steps.
    const Grid<double> chained_columns =
        extrapolator.forecast(gridOf(64, 64, [](int cx, int) { return cx; }), 1.0, 10)[9];
    const double c = rotation.centre();
    const double angle = -rotation.omega * lead;
    for (int cy = 0; cy < 64; cy += 3) {
        for (int cx = 0; cx < 64; cx += 3) {
            const double dx = cx - c;
            const double dy = cy - c;
            if (std::hypot(dx, dy) > 28.0)
                continue;
            const double start_column = c + dx * std::cos(angle) - dy * std::sin(angle);
            EXPECT_NEAR(columns.get(cx, cy), start_column, 0.02);
            EXPECT_NEAR(rows.get(cx, cy), c + dx * std::sin(angle) + dy * std::cos(angle), 0.02);
            EXPECT_NEAR(chained_columns.get(cx, cy), start_column, 0.02);
        }
    }
}

TEST(ExtrapolatorTest, MassInsideTheGridIsConserved) {
    const Grid<double> image = test::cellImage(80, 80, 0.0, 0.0);
    const Extrapolator shift(filledGrid(80, 80, 0.37), filledGrid(80, 80, -0.81));
    const Grid<double> shifted = shift.forecast(image, 2.0, 1)[0];
    double shifted_sum = 0.0;
    for (int k = 0; k < shifted.size(); ++k)
        shifted_sum += std::isnan(shifted.get(k)) ? 0.0 : shifted.get(k);
    EXPECT_NEAR(shifted_sum, sum(image), 1e-9 * sum(image));

    const Rotation rotation{80, 0.03};
    const Extrapolator rotate(rotation.motionX(), rotation.motionY());
    for (const Grid<double> &forecast : rotate.forecast(image, 2.0, 3)) {
        double total = 0.0;
        for (int k = 0; k < forecast.size(); ++k)
            total += std::isnan(forecast.get(k)) ? 0.0 : forecast.get(k);
        EXPECT_NEAR(total, sum(image), 0.02 * sum(image));
    }
}

TEST(ExtrapolatorTest, MissingVectorsAndPixelsMakeMissingForecasts) {
    Grid<double> motion_x = filledGrid(20, 20, 1.0);
    motion_x.set(10, 10, -999.0);
    const Extrapolator extrapolator(motion_x, filledGrid(20, 20, 0.0));
    Grid<double> image = filledGrid(20, 20, 5.0);
    image.set(4, 4, NAN);
    const std::vector<Grid<double>> leads = extrapolator.forecast(image, 1.0, 2);
    EXPECT_TRUE(std::isnan(leads[0].get(10, 10)));  // starts on the missing vector
    EXPECT_TRUE(std::isnan(leads[0].get(11, 10)));  // passes through it
    EXPECT_EQ(leads[0].get(11, 11), 5.0);
    EXPECT_TRUE(std::isnan(leads[0].get(5, 4)));  // comes from the missing pixel
    EXPECT_TRUE(std::isnan(leads[1].get(6, 4)));
    EXPECT_EQ(leads[1].get(6, 5), 5.0);
    EXPECT_TRUE(std::isnan(leads[0].get(0, 7)));  // comes from outside
    EXPECT_EQ(leads[0].get(1, 7), 5.0);
}

TEST(ExtrapolatorTest, RefusesWhatDoesNotFit) {
    const Extrapolator mismatched(filledGrid(10, 10, 1.0), filledGrid(10, 11, 1.0));
    EXPECT_FALSE(mismatched.isGood());
    EXPECT_TRUE(mismatched.forecast(filledGrid(10, 10, 1.0), 1.0, 1).empty());

    const Extrapolator extrapolator(filledGrid(10, 10, 1.0), filledGrid(10, 10, 1.0));
    ASSERT_TRUE(extrapolator.isGood());
    const Grid<double> image = filledGrid(10, 10, 1.0);
    EXPECT_TRUE(extrapolator.forecast(filledGrid(10, 9, 1.0), 1.0, 1).empty());
    for (double step : {0.0, -1.0, double(NAN), double(INFINITY)})
        EXPECT_TRUE(extrapolator.forecast(image, step, 1).empty()) << step;
    EXPECT_TRUE(extrapolator.forecast(image, 1.0, 0).empty());
    EXPECT_EQ(extrapolator.forecast(image, 1.0, 2).size(), 2u);
}

}  // namespace
}  // namespace azm
