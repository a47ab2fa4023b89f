#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "nowcast/nowcast.h"

namespace azm {
namespace {

using boost::property_tree::ptree;

TEST(GridTest, MultiArrayRowsBecomeGridRows) {
    boost::multi_array<double, 2> array(boost::extents[3][5]);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 5; ++column) {
            array[row][column] = 10.0 * row + column;
        }
    }
    const Grid<double> grid(array);
    EXPECT_EQ(grid.sizeX(), 5);
    EXPECT_EQ(grid.sizeY(), 3);
    EXPECT_EQ(grid.size(), 15);
    EXPECT_EQ(grid.get(4, 2), array[2][4]);
    EXPECT_EQ(grid.get(1 + 5 * 2), array[2][1]);
    EXPECT_EQ(grid.getGrid()[5], array[1][0]);

    // An array indexed from other bases maps its first element to (0, 0) all the same.
    boost::multi_array<double, 2> shifted(boost::extents[boost::multi_array_types::extent_range(
        1, 3)][boost::multi_array_types::extent_range(-2, 1)]);
    shifted[1][-2] = 7.0;
    shifted[2][0] = 9.0;
    const Grid<double> from_shifted(shifted);
    EXPECT_EQ(from_shifted.get(0, 0), 7.0);
    EXPECT_EQ(from_shifted.get(2, 1), 9.0);
}

TEST(GridTest, CopyIsDeepAndAddAccumulates) {
    Grid<double> grid(4, 2);
    for (int k = 0; k < grid.size(); ++k) {
        grid.set(k, k);
    }
    grid.add(3, 1, 0.5);
    EXPECT_EQ(grid.get(7), 7.5);

    Grid<double> copy(grid);
    copy.set(0, 0, -1.0);
    EXPECT_EQ(grid.get(0, 0), 0.0);
    EXPECT_EQ(copy.sizeX(), 4);
    EXPECT_EQ(copy.get(3, 1), 7.5);

    Grid<bool> mask(3, 3);
    mask.set(2, 1, true);
    mask.set(0, false);
    EXPECT_TRUE(mask.get(5));
    EXPECT_FALSE(mask.get(0, 0));
}

TEST(GridDeathTest, BoundsStopWithTheFailedCondition) {
    EXPECT_DEATH(Grid<int>(0, 3), "check failed: m_size_x > 0");
    EXPECT_DEATH(Grid<bool>(3, -1), "check failed: m_size_y > 0");
    Grid<int> grid(3, 2);
    EXPECT_DEATH(grid.get(-1), "check failed: index >= 0");
    EXPECT_DEATH(grid.set(6, 1), "check failed: index < m_size");
    EXPECT_DEATH(grid.get(3, 0), "check failed: cx < m_size_x");
    EXPECT_DEATH(grid.set(0, -1, 1), "check failed: cy >= 0");
    // An element count beyond the int range would wrap the index arithmetic.
    EXPECT_DEATH(Grid<bool>(65536, 65536), "check failed");
}

// Compares every member; TrecConf has no comparison of its own.
void expectSameConf(const TrecConf &a, const TrecConf &b) {
    EXPECT_EQ(a.m_input_precision, b.m_input_precision);
    EXPECT_EQ(a.m_missing_value, b.m_missing_value);
    EXPECT_EQ(a.m_not_scanned_value, b.m_not_scanned_value);
    EXPECT_EQ(a.m_aperture_coverage_threshold, b.m_aperture_coverage_threshold);
    EXPECT_EQ(a.m_signal_threshold, b.m_signal_threshold);
    EXPECT_EQ(a.m_field_feature_box_width, b.m_field_feature_box_width);
    EXPECT_EQ(a.m_field_feature_box_spacing, b.m_field_feature_box_spacing);
    EXPECT_EQ(a.m_field_signal_coverage_threshold, b.m_field_signal_coverage_threshold);
    EXPECT_EQ(a.m_correlation_threshold, b.m_correlation_threshold);
    EXPECT_EQ(a.m_speed_limit, b.m_speed_limit);
    EXPECT_EQ(a.m_field_spatial_decay, b.m_field_spatial_decay);
    EXPECT_EQ(a.m_field_use_spatial_filtering, b.m_field_use_spatial_filtering);
    EXPECT_EQ(a.m_field_spatial_filtering_box_width, b.m_field_spatial_filtering_box_width);
    EXPECT_EQ(a.m_field_spatial_direction_threshold, b.m_field_spatial_direction_threshold);
    EXPECT_EQ(a.m_field_spatial_magnitude_threshold, b.m_field_spatial_magnitude_threshold);
    EXPECT_EQ(a.m_field_global_weight, b.m_field_global_weight);
    EXPECT_EQ(a.m_temporal_smoothing_method, b.m_temporal_smoothing_method);
    EXPECT_EQ(a.m_temporal_smoothing_history_weight, b.m_temporal_smoothing_history_weight);
    EXPECT_EQ(a.m_temporal_smoothing_change_weight, b.m_temporal_smoothing_change_weight);
}

TEST(TrecConfTest, DefaultsAreTheBoxWidth14Adjustment) {
    const TrecConf defaults;
    EXPECT_EQ(defaults.m_input_precision, 2);
    EXPECT_EQ(defaults.m_missing_value, -999.0);
    EXPECT_EQ(defaults.m_field_use_spatial_filtering, SpatialThreshold::GLOBAL);
    EXPECT_EQ(defaults.m_temporal_smoothing_method, TemporalSmoothing::HISTORY_WEIGHTING);
    TrecConf adjusted;
    adjusted.m_field_spatial_decay = 0;
    adjusted.m_speed_limit = 0;
    EXPECT_TRUE(adjusted.adjustParametersForNexradII(14));
    expectSameConf(adjusted, defaults);

    expectSameConf(TrecConf(ptree()), defaults);
}

TEST(TrecConfTest, TreeSetsEveryMemberUnderItsKey) {
    ptree tree;
    tree.put("input_precision", 3);
    tree.put("missing_value", "-998");
    tree.put("not_scanned_value", -901.5);
    tree.put("aperture_coverage_threshold", 0.7);
    tree.put("signal_threshold", 12.5);
    tree.put("field_feature_box_width", 20);
    tree.put("field_feature_box_spacing", 3);
    tree.put("field_signal_coverage_threshold", 0.2);
    tree.put("correlation_threshold", 0.6);
    tree.put("speed_limit", 21);
    tree.put("field_spatial_decay", 4);
    tree.put("field_use_spatial_filtering", 2);
    tree.put("field_spatial_filtering_box_width ", 5);
    tree.put("field_spatial_direction_threshold", 45);
    tree.put("field_spatial_magnitude_threshold", 2.5);
    tree.put("field_global_weight", 0.5);
    tree.put("temporal_smoothing_method", 2);
    tree.put("temporal_smoothing_history_weight", 0.4);
    tree.put("temporal_smoothing_change_weight", 0.8);

    const TrecConf conf(tree);
    EXPECT_EQ(conf.m_input_precision, 3);
    EXPECT_EQ(conf.m_missing_value, -998.0);
    EXPECT_EQ(conf.m_not_scanned_value, -901.5);
    EXPECT_EQ(conf.m_aperture_coverage_threshold, 0.7);
    EXPECT_EQ(conf.m_signal_threshold, 12.5);
    EXPECT_EQ(conf.m_field_feature_box_width, 20);
    EXPECT_EQ(conf.m_field_feature_box_spacing, 3);
    EXPECT_EQ(conf.m_field_signal_coverage_threshold, 0.2);
    EXPECT_EQ(conf.m_correlation_threshold, 0.6);
    EXPECT_EQ(conf.m_speed_limit, 21);
    EXPECT_EQ(conf.m_field_spatial_decay, 4);
    EXPECT_EQ(conf.m_field_use_spatial_filtering, SpatialThreshold::LOCAL);
    EXPECT_EQ(conf.m_field_spatial_filtering_box_width, 5);
    EXPECT_EQ(conf.m_field_spatial_direction_threshold, 45);
    EXPECT_EQ(conf.m_field_spatial_magnitude_threshold, 2.5);
    EXPECT_EQ(conf.m_field_global_weight, 0.5);
    EXPECT_EQ(conf.m_temporal_smoothing_method, TemporalSmoothing::CHANGE_WEIGHTING);
    EXPECT_EQ(conf.m_temporal_smoothing_history_weight, 0.4);
    EXPECT_EQ(conf.m_temporal_smoothing_change_weight, 0.8);

    TrecConf assigned;
    assigned = conf;
    expectSameConf(assigned, conf);
}

TEST(TrecConfTest, UnreadableOrMisnamedValuesKeepTheDefault) {
    ptree tree;
    tree.put("field_spatial_filtering_box_width", 5);  // without the trailing blank
    tree.put("missing_value", "-998.5");
    tree.put("speed_limit", "fast");
    tree.put("field_global_weight", "0.5x");
    const TrecConf conf(tree);
    EXPECT_EQ(conf.m_field_spatial_filtering_box_width, 9);
    EXPECT_EQ(conf.m_missing_value, -999.0);
    EXPECT_EQ(conf.m_speed_limit, 15);
    EXPECT_EQ(conf.m_field_global_weight, 0.25);

    ptree minus_one;
    minus_one.put("missing_value", "-1");
    EXPECT_EQ(TrecConf(minus_one).m_missing_value, -1.0);
}

TEST(TrecConfTest, AdjustForBoxWidth) {
    struct Case {
        int width, decay, speed_limit;
    };
    for (const Case &c : {Case{1, 0, 1}, Case{2, 0, 2}, Case{3, 0, 3}, Case{28, 13, 30}}) {
        TrecConf conf;
        EXPECT_TRUE(conf.adjustParametersForNexradII(c.width));
        EXPECT_EQ(conf.m_field_feature_box_width, c.width);
        EXPECT_EQ(conf.m_field_spatial_decay, c.decay) << "width " << c.width;
        EXPECT_EQ(conf.m_speed_limit, c.speed_limit) << "width " << c.width;
    }
    for (const int width : {0, -3}) {
        TrecConf conf;
        EXPECT_FALSE(conf.adjustParametersForNexradII(width));
        expectSameConf(conf, TrecConf());
    }
}

TEST(DartsConfTest, ReadsScaleDownFactor) {
    EXPECT_EQ(DartsConf(ptree()).m_scale_down_factor, 6.0);
    ptree tree;
    tree.put("scale_down_factor", 2.5);
    EXPECT_EQ(DartsConf(tree).m_scale_down_factor, 2.5);
}

}  // namespace
}  // namespace azm
