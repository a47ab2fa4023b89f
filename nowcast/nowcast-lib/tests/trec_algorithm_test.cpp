#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <boost/uuid/uuid.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "input_conversion.h"
#include "int_conversion.h"
#include "nowcast/nowcast.h"
#include "test_images.h"

namespace azm {
namespace {

constexpr double kMissing = -999.0;
using Raster = boost::multi_array<double, 2>;

TrecConf quickConf() {
    TrecConf conf;
    conf.adjustParametersForNexradII(10);  // box 10, speed limit 10, decay 4
    conf.m_speed_limit = 4;
    return conf;
}

void expectAllMissing(const TrecAlgorithm &algorithm) {
    EXPECT_EQ(algorithm.getGlobalVectorX(), kMissing);
    EXPECT_EQ(algorithm.getGlobalVectorY(), kMissing);
    for (int k = 0; k < algorithm.getMotionFieldPointerX()->size(); ++k) {
        ASSERT_EQ(algorithm.getMotionFieldPointerX()->get(k), kMissing);
        ASSERT_EQ(algorithm.getMotionFieldPointerY()->get(k), kMissing);
    }
}

TEST(TrecAlgorithmTest, DefaultConfigurationIsUsable) {
    const TrecAlgorithm algorithm(100, 100, TrecConf());
    EXPECT_EQ(algorithm.getStatus(), 0u);
    EXPECT_TRUE(algorithm.isGood());
    expectAllMissing(algorithm);
    EXPECT_EQ(algorithm.getMotionFieldX().sizeX(), 100);

    // Every valid boundary at once.
    TrecConf edges;
    edges.m_input_precision = 0;
    edges.m_aperture_coverage_threshold = 1.0;
    edges.m_field_signal_coverage_threshold = 0.0;
    edges.m_correlation_threshold = 1.0;
    edges.m_field_spatial_decay = 0;
    edges.m_field_spatial_direction_threshold = 180;
    edges.m_field_spatial_magnitude_threshold = 1.0;
    edges.m_field_global_weight = 1.0;
    edges.m_temporal_smoothing_history_weight = 1.0;
    edges.m_temporal_smoothing_change_weight = 1.0;
    EXPECT_EQ(TrecAlgorithm(1, 1, edges).getStatus(), 0u);
}

TEST(TrecAlgorithmTest, EachBadParameterSetsItsBit) {
    struct Case {
        int bit;
        std::function<void(TrecConf &)> spoil;
    };
    const std::vector<Case> cases = {
        {2, [](TrecConf &c) { c.m_input_precision = 4; }},
        {2, [](TrecConf &c) { c.m_input_precision = -1; }},
        {5, [](TrecConf &c) { c.m_aperture_coverage_threshold = 1.01; }},
        {7, [](TrecConf &c) { c.m_field_feature_box_width = 0; }},
        {8, [](TrecConf &c) { c.m_field_feature_box_spacing = 0; }},
        {9, [](TrecConf &c) { c.m_field_signal_coverage_threshold = -0.1; }},
        {10, [](TrecConf &c) { c.m_correlation_threshold = 0.0; }},
        {11, [](TrecConf &c) { c.m_speed_limit = 0; }},
        {12, [](TrecConf &c) { c.m_field_spatial_decay = -1; }},
        {13, [](TrecConf &c) { c.m_field_use_spatial_filtering = SpatialThreshold(3); }},
        {14, [](TrecConf &c) { c.m_field_spatial_filtering_box_width = 0; }},
        {15, [](TrecConf &c) { c.m_field_spatial_direction_threshold = 181; }},
        {15, [](TrecConf &c) { c.m_field_spatial_direction_threshold = 0; }},
        {16, [](TrecConf &c) { c.m_field_spatial_magnitude_threshold = 0.99; }},
        {17, [](TrecConf &c) { c.m_field_global_weight = 1.5; }},
        {18, [](TrecConf &c) { c.m_temporal_smoothing_method = TemporalSmoothing(-1); }},
        {19, [](TrecConf &c) { c.m_temporal_smoothing_history_weight = 0.0; }},
        {20, [](TrecConf &c) { c.m_temporal_smoothing_change_weight = 1.1; }},
    };
    const Grid<double> image = test::cellImage(8, 8, 0, 0);
    for (const Case &c : cases) {
        TrecConf conf;
        c.spoil(conf);
        TrecAlgorithm algorithm(8, 8, conf);
        EXPECT_EQ(algorithm.getStatus(), 1u << c.bit) << "bit " << c.bit;
        EXPECT_FALSE(algorithm.isGood() || algorithm.runTrec(image, image));
    }

    TrecConf conf;
    conf.m_speed_limit = 0;
    conf.m_field_feature_box_spacing = 0;
    TrecAlgorithm algorithm(8, 8, conf);
    EXPECT_EQ(algorithm.getStatus(), 2304u);
    EXPECT_FALSE(algorithm.runGlobal(image, image));
    EXPECT_EQ(algorithm.getStatus(), 2304u);

    // A grid size that is not positive, or one whose counts int cannot hold, creates no grid.
    struct SizeCase {
        int x_dim, y_dim;
        std::uint64_t status;
    };
    for (const SizeCase &c : {SizeCase{0, -2, 3u}, SizeCase{46341, 46341, 8u},
                              SizeCase{(1 << 30) + 1, 1, 8u}, SizeCase{1, (1 << 30) + 1, 8u}}) {
        TrecAlgorithm empty(c.x_dim, c.y_dim, TrecConf());
        EXPECT_EQ(empty.getStatus(), c.status) << c.x_dim << " x " << c.y_dim;
        EXPECT_FALSE(empty.isGood());
        EXPECT_EQ(empty.getMotionFieldPointerX(), nullptr);
        EXPECT_THROW(empty.getMotionFieldY(), std::logic_error);
        EXPECT_FALSE(empty.runTrec(image, image));
        EXPECT_FALSE(empty.processInputData(image, image));
    }
    EXPECT_TRUE(detail::gridFitsInt(46340, 46340));
    EXPECT_TRUE(detail::gridFitsInt(1 << 30, 1));
    EXPECT_FALSE(detail::gridFitsInt(std::numeric_limits<int>::max(), 2));
}

TEST(TrecAlgorithmTest, NotANumberSetsTheBitOfItsMember) {
    const double nan = std::nan("");
    const std::vector<std::pair<int, double TrecConf::*>> members = {
        {5, &TrecConf::m_aperture_coverage_threshold},
        {9, &TrecConf::m_field_signal_coverage_threshold},
        {10, &TrecConf::m_correlation_threshold},
        {16, &TrecConf::m_field_spatial_magnitude_threshold},
        {17, &TrecConf::m_field_global_weight},
        {19, &TrecConf::m_temporal_smoothing_history_weight},
        {20, &TrecConf::m_temporal_smoothing_change_weight},
    };
    const Grid<double> image = test::cellImage(8, 8, 0, 0);
    for (const auto &[bit, member] : members) {
        TrecConf conf;
        conf.*member = nan;
        TrecAlgorithm algorithm(8, 8, conf);
        EXPECT_EQ(algorithm.getStatus(), 1u << bit) << "bit " << bit;
        EXPECT_FALSE(algorithm.runTrec(image, image));
    }
}

TEST(TrecAlgorithmTest, InputScaling) {
    const detail::InputScaling scaling{100, 10.0, -999.0, -900.0};
    EXPECT_EQ(detail::scaledPixel(10.0, scaling), 100);
    EXPECT_EQ(detail::scaledPixel(12.5, scaling), 350);
    EXPECT_EQ(detail::scaledPixel(9.99, scaling), 0);
    EXPECT_EQ(detail::scaledPixel(-999.0, scaling), std::nullopt);
    EXPECT_EQ(detail::scaledPixel(-900.0, scaling), std::nullopt);
    EXPECT_EQ(detail::scaledPixel(std::nan(""), scaling), std::nullopt);
    EXPECT_EQ(detail::scaledPixel(std::numeric_limits<double>::infinity(), scaling), std::nullopt);
    // Below every threshold: a valid pixel without echo.
    EXPECT_EQ(detail::scaledPixel(-std::numeric_limits<double>::infinity(), scaling), 0);
    // Truncated, not rounded: 100.6 gives 100.
    EXPECT_EQ(detail::scaledPixel(10.006, scaling), 100);
    EXPECT_EQ(detail::scaledPixel(1e12, scaling), std::numeric_limits<int>::max());
}

TEST(TrecAlgorithmTest, BadInputIsReportedAndALaterRunRecovers) {
    TrecAlgorithm algorithm(20, 20, quickConf());
    const Grid<double> prev = test::cellImage(20, 20, 0, 0);
    const Grid<double> curr = test::cellImage(20, 20, 1, 0);
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(algorithm.runTrec(prev, test::cellImage(20, 16, 0, 0)));
    EXPECT_EQ(algorithm.getStatus(), 1u << 21);
    EXPECT_FALSE(algorithm.isGood());
    expectAllMissing(algorithm);
    for (const double no_data : {kMissing, -900.0, nan, inf}) {
        EXPECT_FALSE(algorithm.runTrec(test::filledGrid(20, 20, no_data), curr));
        EXPECT_EQ(algorithm.getStatus(), 1u << 22) << no_data;
    }
    const Grid<double> small(20, 19);
    EXPECT_FALSE(algorithm.runTrec(prev, curr, 0.0, 0.0, small, small));
    EXPECT_EQ(algorithm.getStatus(), 1u << 23);

    // Values below the signal threshold, -infinity among them, are valid data without echo.
    for (const double no_echo : {3.0, -inf}) {
        EXPECT_TRUE(algorithm.runTrec(test::filledGrid(20, 20, no_echo), curr)) << no_echo;
        EXPECT_EQ(algorithm.getStatus(), 0u);
        EXPECT_TRUE(algorithm.isGood());
    }

    EXPECT_TRUE(algorithm.runGlobal(prev, curr));
    const Grid<double> field_y = algorithm.getMotionFieldY();
    for (int k = 0; k < field_y.size(); ++k) {
        ASSERT_EQ(field_y.get(k), algorithm.getGlobalVectorY());
    }
}

TEST(TrecAlgorithmTest, FollowsMovingCellsAndSmoothsWithItsOwnFields) {
    TrecAlgorithm algorithm(48, 48, quickConf());
    ASSERT_TRUE(algorithm.runTrec(test::cellImage(48, 48, 0, 0), test::cellImage(48, 48, 2, -1)));
    EXPECT_EQ(algorithm.getGlobalVectorX(), 2.0);
    EXPECT_EQ(algorithm.getGlobalVectorY(), -1.0);
    for (int cy = 12; cy < 36; ++cy) {
        for (int cx = 12; cx < 36; ++cx) {
            EXPECT_NEAR(algorithm.getMotionFieldPointerX()->get(cx, cy), 2.0, 0.5);
            EXPECT_NEAR(algorithm.getMotionFieldPointerY()->get(cx, cy), -1.0, 0.5);
        }
    }

    // Feeding the held fields back in gives what copies of them give.
    TrecAlgorithm with_copies(48, 48, quickConf());
    const Grid<double> last_x = algorithm.getMotionFieldX();
    const Grid<double> last_y = algorithm.getMotionFieldY();
    const Grid<double> prev = test::cellImage(48, 48, 2, -1);
    const Grid<double> curr = test::cellImage(48, 48, 3, 1);
    ASSERT_TRUE(with_copies.runTrec(prev, curr, 2.0, -1.0, last_x, last_y));
    ASSERT_TRUE(algorithm.runTrec(prev, curr, 2.0, -1.0, *algorithm.getMotionFieldPointerX(),
                                  *algorithm.getMotionFieldPointerY()));
    for (int k = 0; k < 48 * 48; ++k) {
        ASSERT_EQ(algorithm.getMotionFieldPointerX()->get(k), with_copies.getMotionFieldX().get(k));
        ASSERT_EQ(algorithm.getMotionFieldPointerY()->get(k), with_copies.getMotionFieldY().get(k));
    }
}

Raster rasterOf(const Grid<double> &image) {
    Raster raster(boost::extents[image.sizeY()][image.sizeX()]);
    std::copy_n(image.getGrid(), image.size(), raster.data());
    return raster;
}

TEST(CorrelatorTest, RunsOnTheLastTwoRastersAndAppendsTheFields) {
    const auto conf = std::make_shared<TrecConf>(quickConf());
    const Raster unusable = rasterOf(test::filledGrid(30, 24, std::nan("")));
    const Grid<double> earlier = test::cellImage(30, 24, 0, 0);
    const Grid<double> later = test::cellImage(30, 24, -1, 2);
    const std::vector<Raster> rasters = {unusable, unusable, unusable, rasterOf(earlier),
                                         rasterOf(later)};
    std::vector<Raster> result = {unusable};
    Correlator(conf).run(boost::uuids::uuid(), rasters, {1, 2, 3, 4, 5}, result);
    ASSERT_EQ(result.size(), 3u);
    EXPECT_TRUE(std::isnan(result[0][0][0]));
    TrecAlgorithm algorithm(30, 24, *conf);
    algorithm.runTrec(earlier, later);
    EXPECT_EQ(algorithm.getGlobalVectorY(), 2.0);
    ASSERT_EQ(result[2].shape()[0], 24u);
    for (int k = 0; k < 30 * 24; ++k) {
        ASSERT_EQ(result[1].data()[k], algorithm.getMotionFieldPointerX()->get(k));
        ASSERT_EQ(result[2].data()[k], algorithm.getMotionFieldPointerY()->get(k));
    }

    // A configuration that the algorithm refuses gives missing fields.
    conf->m_speed_limit = 0;
    Correlator(conf).run(boost::uuids::uuid(), rasters, {1, 2, 3, 4, 5}, result);
    ASSERT_EQ(result.size(), 5u);
    EXPECT_EQ(result[4][23][29], kMissing);
}

TEST(CorrelatorTest, CallerErrorsThrowAndLeaveTheResult) {
    const auto conf = std::make_shared<TrecConf>(quickConf());
    const Raster raster = rasterOf(test::cellImage(10, 8, 0, 0));
    const Raster other_shape = rasterOf(test::cellImage(8, 10, 0, 0));
    std::vector<Raster> result(1);
    auto message_of = [&](std::shared_ptr<const CorrelationConfig> config,
                          const std::vector<Raster> &rasters, std::vector<std::uint32_t> times) {
        try {
            Correlator(config).run(boost::uuids::uuid(), rasters, times, result);
        } catch (const std::runtime_error &error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message_of(conf, {raster, raster, raster}, {1, 2}),
              "Number of time-stamps does not match number of rasters");
    EXPECT_EQ(message_of(conf, {raster, other_shape}, {1, 2}), "Input rasters dimensions mismatch");
    const auto darts = std::make_shared<DartsConf>(boost::property_tree::ptree());
    EXPECT_EQ(message_of(darts, {raster, raster}, {1, 2}), "Unknown algorithm");
    EXPECT_EQ(message_of(nullptr, {raster, raster}, {1, 2}), "Unknown algorithm");
    EXPECT_THAT(message_of(conf, {raster}, {1}), testing::HasSubstr("two rasters"));
    EXPECT_THAT(message_of(conf, {}, {}), testing::HasSubstr("two rasters"));
    EXPECT_EQ(result.size(), 1u);
}

}  // namespace
}  // namespace azm
