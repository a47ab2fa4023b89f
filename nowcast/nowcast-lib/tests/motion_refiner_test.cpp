// Refinement of whole-pixel motion on images whose true motion is known.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "nowcast/motion_refiner.h"
#include "test_images.h"

namespace azm {
namespace {

using test::cellImage;
using test::filledGrid;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Largest distance of the field from (u, v) over the pixels where `where` holds.
template <typename Where>
double largestError(const Grid<double> &x, const Grid<double> &y, double u, double v, Where where) {
    double largest = 0.0;
    for (int cy = 0; cy < x.sizeY(); ++cy)
        for (int cx = 0; cx < x.sizeX(); ++cx)
            if (where(cx, cy))
                largest = std::max(largest, std::hypot(x.get(cx, cy) - u, y.get(cx, cy) - v));
    return largest;
}

TEST(MotionRefinerTest, WholePixelGuessBecomesTheSubPixelShift) {
    const Grid<double> earlier = cellImage(128, 128, 0.0, 0.0);
    const Grid<double> later = cellImage(128, 128, 2.4, -1.3);
    // TREC's answer at best: the nearest whole pixel.
    Grid<double> x = filledGrid(128, 128, 2.0);
    Grid<double> y = filledGrid(128, 128, -1.0);
    ASSERT_TRUE(MotionRefiner().refine(earlier, later, x, y));
    const auto echo_area = [](int cx, int cy) { return cx > 32 && cx < 96 && cy > 32 && cy < 96; };
    EXPECT_LT(largestError(x, y, 2.4, -1.3, echo_area), 0.1);
}

TEST(MotionRefinerTest, FindsThePeakBeyondAPoorGuess) {
    const Grid<double> earlier = cellImage(128, 128, 0.0, 0.0);
    const Grid<double> later = cellImage(128, 128, -3.6, 4.2);
    Grid<double> x = filledGrid(128, 128, 0.0);
    Grid<double> y = filledGrid(128, 128, 0.0);
    ASSERT_TRUE(MotionRefiner().refine(earlier, later, x, y));
    EXPECT_LT(largestError(x, y, -3.6, 4.2,
                           [](int cx, int cy) { return cx > 32 && cx < 96 && cy > 32 && cy < 96; }),
              0.15);
}

// A straight band along the columns, 12 rows on either side of row 40, and cells in the lower
// half, all moved by (shift_x, shift_y). The band carries noise of up to 1.5 dBZ that differs
// from image to image (`seed`), as radar echo does.
Grid<double> bandAndCells(double shift_x, double shift_y, int seed) {
    Grid<double> image = cellImage(128, 128, shift_x, shift_y);
    for (int cy = 0; cy < 128; ++cy) {
        for (int cx = 0; cx < 128; ++cx) {
            const double across = (cy - shift_y - 40.0) / 6.0;
            const double noise =
                1.5 * (test::textureAt(cx + 1000 * seed, cy, 0, 2001) - 1000) / 1000.0;
            const double band = 30.0 * std::exp(-across * across) + noise;
            const double cell = cy - shift_y > 64.0 ? image.get(cx, cy) : 0.0;
            image.set(cx, cy, std::max(band >= 5.0 ? band : 0.0, cell));
        }
    }
    return image;
}

TEST(MotionRefinerTest, MotionAlongABandComesFromTheCellsAndNotFromTheGuess) {
    // Along the band the image looks the same wherever it slides; a guess that is wrong along
    // the band must not survive there.
    const Grid<double> earlier = bandAndCells(0.0, 0.0, 1);
    const Grid<double> later = bandAndCells(3.3, 1.6, 2);
    Grid<double> x = filledGrid(128, 128, 0.0);
    Grid<double> y = filledGrid(128, 128, 2.0);
    ASSERT_TRUE(MotionRefiner().refine(earlier, later, x, y));
    EXPECT_LT(
        largestError(x, y, 3.3, 1.6,
                     [](int cx, int cy) { return cx > 24 && cx < 104 && cy > 34 && cy < 46; }),
        0.3);
}

TEST(MotionRefinerTest, PixelsWithoutDataSayNothingAboutTheMotion) {
    // Beyond the radar's reach (here the right third) the image holds no data in both volumes.
    // Taken as no echo, that edge would stand still and hold the echo crossing it back.
    Grid<double> earlier = cellImage(128, 128, 0.0, 0.0);
    Grid<double> later = cellImage(128, 128, 2.5, 0.5);
    for (int cy = 0; cy < 128; ++cy) {
        for (int cx = 80; cx < 128; ++cx) {
            earlier.set(cx, cy, kNaN);
            later.set(cx, cy, kNaN);
        }
    }
    Grid<double> x = filledGrid(128, 128, 2.0);
    Grid<double> y = filledGrid(128, 128, 0.0);
    ASSERT_TRUE(MotionRefiner().refine(earlier, later, x, y));
    EXPECT_LT(largestError(x, y, 2.5, 0.5,
                           [](int cx, int cy) { return cx > 56 && cx < 80 && cy > 32 && cy < 96; }),
              0.15);
}

TEST(MotionRefinerTest, RefusalsLeaveTheFieldAlone) {
    const Grid<double> image = cellImage(64, 64, 0.0, 0.0);
    Grid<double> x = filledGrid(64, 64, 1.5);
    Grid<double> y = filledGrid(64, 64, -0.5);
    const MotionRefiner refiner;
    EXPECT_FALSE(refiner.refine(image, cellImage(64, 48, 0.0, 0.0), x, y));
    Grid<double> narrow = filledGrid(48, 64, 0.0);
    EXPECT_FALSE(refiner.refine(image, image, narrow, y));
    // Nothing to track: no echo, or echo only below the signal threshold.
    EXPECT_FALSE(refiner.refine(filledGrid(64, 64, 0.0), filledGrid(64, 64, 0.0), x, y));
    EXPECT_FALSE(refiner.refine(filledGrid(64, 64, 9.0), image, x, y));
    // What TREC's configuration would not accept: motion beyond its speed limit.
    TrecConf slow;
    slow.m_speed_limit = 2;
    EXPECT_FALSE(MotionRefiner(slow).refine(image, cellImage(64, 64, 3.5, 0.0), x, y));
    // A guess far beyond the speed limit is held to it (here some boxes find a peak there).
    Grid<double> far_x = filledGrid(64, 64, 1e12);
    Grid<double> far_y = filledGrid(64, 64, 0.0);
    ASSERT_TRUE(refiner.refine(image, image, far_x, far_y));
    EXPECT_LE(largestError(far_x, far_y, 0.0, 0.0, [](int, int) { return true; }),
              std::hypot(15.0, 15.0));
    EXPECT_EQ(largestError(x, y, 1.5, -0.5, [](int, int) { return true; }), 0.0);
}

}  // namespace
}  // namespace azm
