#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "nowcast/nowcast.h"

namespace azm {
namespace {

using boost::property_tree::ptree;

TEST(GridTest, MultiArrayRowsBecomeGridRowsAndCopiesAreDeep) {
    boost::multi_array<double, 2> array(boost::extents[3][5]);
    for (int k = 0; k < 15; ++k) {
        array[k / 5][k % 5] = k;
    }
    Grid<double> grid(array);
    EXPECT_EQ(grid.sizeX(), 5);
    EXPECT_EQ(grid.sizeY(), 3);
    EXPECT_EQ(grid.get(4, 2), array[2][4]);
    EXPECT_EQ(grid.getGrid()[6], array[1][1]);
    grid.add(4, 2, 0.5);
    const Grid<double> copy(grid);
    grid.set(4, 2, -1.0);
    EXPECT_EQ(copy.get(14), 14.5);
}

TEST(GridDeathTest, BoundsStopWithTheFailedCondition) {
    // The file is named relative to the source tree, whatever folder it was built in.
    EXPECT_DEATH(Grid<int>(0, 3),
                 "^nowcast/nowcast-lib/src/grid\\.cpp:[0-9]+: nowcast: check failed: m_size_x > 0");
    EXPECT_DEATH(Grid<bool>(3, -1), "check failed: m_size_y > 0");
    Grid<int> grid(3, 2);
    EXPECT_DEATH(grid.get(-1), "check failed: index >= 0");
    EXPECT_DEATH(grid.set(6, 1), "check failed: index < m_size");
    EXPECT_DEATH(grid.get(3, 0), "check failed: cx < m_size_x");
    EXPECT_DEATH(grid.set(0, -1, 1), "check failed: cy >= 0");
    // An element count beyond the int range would wrap the index arithmetic.
    EXPECT_DEATH(Grid<bool>(65536, 65536), "check failed");
}

// Every key with a value other than the default, and where the member shows up.
struct Key {
    const char *key;
    double value;
    std::function<double(const TrecConf &)> member;
};
const std::vector<Key> kKeys = {
    {"input_precision", 3, [](const TrecConf &c) { return c.m_input_precision; }},
    {"missing_value", -998, [](const TrecConf &c) { return c.m_missing_value; }},
    {"not_scanned_value", -901.5, [](const TrecConf &c) { return c.m_not_scanned_value; }},
    {"aperture_coverage_threshold", 0.7,
     [](const TrecConf &c) { return c.m_aperture_coverage_threshold; }},
    {"signal_threshold", 12.5, [](const TrecConf &c) { return c.m_signal_threshold; }},
    {"field_feature_box_width", 20, [](const TrecConf &c) { return c.m_field_feature_box_width; }},
    {"field_feature_box_spacing", 3,
     [](const TrecConf &c) { return c.m_field_feature_box_spacing; }},
    {"field_signal_coverage_threshold", 0.2,
     [](const TrecConf &c) { return c.m_field_signal_coverage_threshold; }},
    {"correlation_threshold", 0.6, [](const TrecConf &c) { return c.m_correlation_threshold; }},
    {"speed_limit", 21, [](const TrecConf &c) { return c.m_speed_limit; }},
    {"field_spatial_decay", 4, [](const TrecConf &c) { return c.m_field_spatial_decay; }},
    {"field_use_spatial_filtering", 2,
     [](const TrecConf &c) { return static_cast<int>(c.m_field_use_spatial_filtering); }},
    {"field_spatial_filtering_box_width ", 5,
     [](const TrecConf &c) { return c.m_field_spatial_filtering_box_width; }},
    {"field_spatial_direction_threshold", 45,
     [](const TrecConf &c) { return c.m_field_spatial_direction_threshold; }},
    {"field_spatial_magnitude_threshold", 2.5,
     [](const TrecConf &c) { return c.m_field_spatial_magnitude_threshold; }},
    {"field_global_weight", 0.5, [](const TrecConf &c) { return c.m_field_global_weight; }},
    {"temporal_smoothing_method", 2,
     [](const TrecConf &c) { return static_cast<int>(c.m_temporal_smoothing_method); }},
    {"temporal_smoothing_history_weight", 0.4,
     [](const TrecConf &c) { return c.m_temporal_smoothing_history_weight; }},
    {"temporal_smoothing_change_weight", 0.8,
     [](const TrecConf &c) { return c.m_temporal_smoothing_change_weight; }},
};

TEST(TrecConfTest, TreeSetsEveryMemberUnderItsKeyAndDefaultsOtherwise) {
    ptree tree;
    for (const Key &k : kKeys) {
        tree.put(k.key, k.value);
    }
    const TrecConf conf(tree);
    TrecConf assigned;
    assigned = conf;
    const TrecConf from_empty_tree{ptree()};
    const TrecConf defaults;
    for (const Key &k : kKeys) {
        EXPECT_EQ(k.member(conf), k.value) << k.key;
        EXPECT_EQ(k.member(assigned), k.value) << k.key;
        EXPECT_EQ(k.member(from_empty_tree), k.member(defaults)) << k.key;
    }
    EXPECT_EQ(defaults.m_speed_limit, 15);
    EXPECT_EQ(defaults.m_field_use_spatial_filtering, SpatialThreshold::GLOBAL);
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
    tree.put("missing_value", "-1");
    EXPECT_EQ(TrecConf(tree).m_missing_value, -1.0);
}

TEST(TrecConfTest, AdjustForBoxWidth) {
    struct Case {
        int width, decay, speed_limit;
    };
    // Speed limits are truncated (13 x 15/14 = 13.93 gives 13); one beyond int is clamped.
    constexpr int kWidest = std::numeric_limits<int>::max();
    for (const Case &c : {Case{1, 0, 1}, Case{2, 0, 2}, Case{13, 5, 13}, Case{14, 6, 15},
                          Case{28, 13, 30}, Case{kWidest, kWidest / 2 - 1, kWidest}}) {
        TrecConf conf;
        EXPECT_TRUE(conf.adjustParametersForNexradII(c.width));
        EXPECT_EQ(conf.m_field_feature_box_width, c.width);
        EXPECT_EQ(conf.m_field_spatial_decay, c.decay) << "width " << c.width;
        EXPECT_EQ(conf.m_speed_limit, c.speed_limit) << "width " << c.width;
    }
    TrecConf conf;
    conf.m_speed_limit = 7;
    EXPECT_FALSE(conf.adjustParametersForNexradII(0));
    EXPECT_FALSE(conf.adjustParametersForNexradII(-3));
    EXPECT_EQ(conf.m_speed_limit, 7);
    EXPECT_EQ(conf.m_field_feature_box_width, 14);
}

TEST(DartsConfTest, ReadsScaleDownFactor) {
    ptree tree;
    EXPECT_EQ(DartsConf(tree).m_scale_down_factor, 6.0);
    tree.put("scale_down_factor", 2.5);
    EXPECT_EQ(DartsConf(tree).m_scale_down_factor, 2.5);
}

}  // namespace
}  // namespace azm
