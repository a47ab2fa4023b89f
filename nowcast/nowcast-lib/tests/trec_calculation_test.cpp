#include <cmath>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nowcast/trec_calculation.h"
#include "test_images.h"

namespace azm {
namespace {

constexpr double kMissing = -999.0;

// Small boxes and radius keep the runs quick; signal starts at pixel 100.
TrecConf smallConf(int box_width, double global_weight, int decay) {
    TrecConf conf;
    conf.m_signal_threshold = 1.0;
    conf.m_field_feature_box_width = box_width;
    conf.m_speed_limit = 4;
    conf.m_field_global_weight = global_weight;
    conf.m_field_spatial_decay = decay;
    conf.m_field_use_spatial_filtering = SpatialThreshold::NO;
    conf.m_temporal_smoothing_method = TemporalSmoothing::NO_TEMPORAL_SMOOTHING;
    return conf;
}

// One run on an 8 x 8 noise image moved by (1, 0): with box width 8 the only box centre is
// (4, 4) and its box is the whole grid, so exactly one local vector (1, 0) exists.
struct SingleBoxRun {
    explicit SingleBoxRun(const TrecConf &conf, double prev_global_x = kMissing,
                          double prev_global_y = kMissing, const Grid<double> *prev_x = nullptr,
                          const Grid<double> *prev_y = nullptr)
        : field_x(8, 8), field_y(8, 8) {
        TrecCalculation calculation(8, 8, conf);
        calculation.runTrec(test::textureImage(8, 8, 0, 0, 1, 1000),
                            test::textureImage(8, 8, 1, 0, 1, 1000), global_x, global_y, &field_x,
                            &field_y, prev_global_x, prev_global_y, prev_x, prev_y);
    }
    double global_x = 0.0;
    double global_y = 0.0;
    Grid<double> field_x;
    Grid<double> field_y;
};

TEST(TrecCalculationTest, LocalVectorMissingMarkerBlendAndAsymmetricWindow) {
    // No blending, no smoothing: the box centre holds the vector, every other pixel is missing.
    const SingleBoxRun plain(smallConf(8, 0.0, 0));
    EXPECT_EQ(plain.global_x, 1.0);
    EXPECT_EQ(plain.global_y, 0.0);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(plain.field_x.get(k), k == 4 + 8 * 4 ? 1.0 : kMissing) << k;
    }

    // Decay 2: the window around (4, 4) reaches 3 pixels toward 0 and 2 toward 7; pixels
    // without weight come out 0.
    const SingleBoxRun smoothed(smallConf(8, 0.0, 2));
    for (int cy = 0; cy < 8; ++cy) {
        for (int cx = 0; cx < 8; ++cx) {
            const bool in_window = cx >= 1 && cx <= 6 && cy >= 1 && cy <= 6;
            EXPECT_DOUBLE_EQ(smoothed.field_x.get(cx, cy), in_window ? 1.0 : 0.0) << cx << cy;
            EXPECT_EQ(smoothed.field_y.get(cx, cy), 0.0);
        }
    }

    // Weight 0.5 with history weighting of the previous global vector (-4, 2) at 0.25:
    // global (1, 0) becomes (0.25 * -4 + 0.75 * 1, 0.25 * 2) = (-0.25, 0.5); it fills every
    // pixel without a local vector and is blended into the local one as (g * 0.5 + v) / 1.5.
    TrecConf blended_conf = smallConf(8, 0.5, 0);
    blended_conf.m_temporal_smoothing_method = TemporalSmoothing::HISTORY_WEIGHTING;
    blended_conf.m_temporal_smoothing_history_weight = 0.25;
    const SingleBoxRun blended(blended_conf, -4.0, 2.0);
    EXPECT_DOUBLE_EQ(blended.global_x, -0.25);
    EXPECT_DOUBLE_EQ(blended.global_y, 0.5);
    EXPECT_DOUBLE_EQ(blended.field_x.get(4, 4), (-0.25 * 0.5 + 1.0) / 1.5);
    EXPECT_DOUBLE_EQ(blended.field_y.get(4, 4), 0.5 * 0.5 / 1.5);
    EXPECT_EQ(blended.field_x.get(0, 7), -0.25);
    EXPECT_EQ(blended.field_y.get(7, 0), 0.5);

    // Change weighting accepts a fraction of the change; a missing component stops it.
    blended_conf.m_temporal_smoothing_method = TemporalSmoothing::CHANGE_WEIGHTING;
    blended_conf.m_temporal_smoothing_change_weight = 0.2;
    EXPECT_DOUBLE_EQ(SingleBoxRun(blended_conf, -4.0, 2.0).global_x, -4.0 + 5.0 * 0.2);
    EXPECT_EQ(SingleBoxRun(blended_conf, kMissing, 3.0).global_x, 1.0);
}

TEST(TrecCalculationTest, LatticeVectorsSpreadOverHalfTheSpacing) {
    // Noise only in rows and columns 0 to 3, moved by (1, 1): of the box centres (box width 8)
    // only (4, 4) sees it.
    Grid<int> prev = test::filledGrid(24, 24, 0);
    Grid<int> curr = test::filledGrid(24, 24, 0);
    for (int cy = 0; cy < 4; ++cy) {
        for (int cx = 0; cx < 4; ++cx) {
            prev.set(cx, cy, test::textureAt(cx, cy, 100, 900));
            curr.set(cx + 1, cy + 1, test::textureAt(cx, cy, 100, 900));
        }
    }
    struct Case {
        int spacing, first, last;
    };
    // Spacing 4 fills 5 x 5 pixels; spacing 10 would reach -1 and is cut to the grid.
    for (const Case &c : {Case{4, 2, 6}, Case{10, 0, 9}}) {
        TrecConf conf = smallConf(8, 0.0, 0);
        conf.m_field_feature_box_spacing = c.spacing;
        TrecCalculation calculation(24, 24, conf);
        Grid<double> field_x(24, 24);
        Grid<double> field_y(24, 24);
        double global_x = 0.0;
        double global_y = 0.0;
        calculation.runTrec(prev, curr, global_x, global_y, &field_x, &field_y);
        for (int cy = 0; cy < 24; ++cy) {
            for (int cx = 0; cx < 24; ++cx) {
                const bool inside = cx >= c.first && cx <= c.last && cy >= c.first && cy <= c.last;
                EXPECT_EQ(field_x.get(cx, cy), inside ? 1.0 : kMissing) << c.spacing;
                EXPECT_EQ(field_y.get(cx, cy), inside ? 1.0 : kMissing) << c.spacing;
            }
        }
    }
}

TEST(TrecCalculationTest, TemporalSmoothingOfTheFields) {
    TrecConf conf = smallConf(8, 0.0, 2);
    const SingleBoxRun now(conf);
    Grid<double> prev_x = test::filledGrid(8, 8, 3.0);
    Grid<double> prev_y = test::filledGrid(8, 8, 1.0);
    prev_x.set(1, 1, kMissing);
    prev_y.set(2, 2, kMissing);

    conf.m_temporal_smoothing_method = TemporalSmoothing::HISTORY_WEIGHTING;
    conf.m_temporal_smoothing_history_weight = 0.25;
    const SingleBoxRun history(conf, kMissing, kMissing, &prev_x, &prev_y);
    conf.m_temporal_smoothing_method = TemporalSmoothing::CHANGE_WEIGHTING;
    conf.m_temporal_smoothing_change_weight = 0.25;
    const SingleBoxRun change(conf, kMissing, kMissing, &prev_x, &prev_y);
    for (int k = 0; k < 64; ++k) {
        const double x = now.field_x.get(k);
        const double y = now.field_y.get(k);
        EXPECT_DOUBLE_EQ(history.field_x.get(k), k == 9 ? x : 0.75 * x + 0.25 * 3.0);
        EXPECT_DOUBLE_EQ(history.field_y.get(k), k == 18 ? y : 0.75 * y + 0.25 * 1.0);
        EXPECT_DOUBLE_EQ(change.field_x.get(k), k == 9 ? x : 3.0 + (x - 3.0) * 0.25);
    }

    // Without a previous y field nothing is blended, and the x field's size is not looked at.
    const Grid<double> wrong_size(3, 3);
    const SingleBoxRun x_only(conf, kMissing, kMissing, &wrong_size, nullptr);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(x_only.field_x.get(k), now.field_x.get(k));
    }
}

TEST(TrecCalculationDeathTest, PreconditionsStopWithTheirText) {
    using testing::HasSubstr;
    EXPECT_DEATH(TrecCalculation(0, 5, TrecConf()), HasSubstr("check failed: x_dim > 0"));
    // Checked before anything is sized by the element count.
    EXPECT_DEATH(TrecCalculation(65536, 65536, TrecConf()),
                 testing::ContainsRegex("trec_calculation\\.cpp:[0-9]+: nowcast: check failed: "
                                        "detail::gridFitsInt\\(x_dim, y_dim\\)"));
    TrecConf conf;
    conf.m_field_spatial_direction_threshold = 181;
    EXPECT_DEATH(TrecCalculation(5, 5, conf),
                 HasSubstr("conf.m_field_spatial_direction_threshold > 0 && "
                           "conf.m_field_spatial_direction_threshold <= 180"));

    TrecConf smoothing = smallConf(8, 0.0, 0);
    smoothing.m_temporal_smoothing_method = TemporalSmoothing::HISTORY_WEIGHTING;
    TrecCalculation calculation(8, 8, smoothing);
    const Grid<int> image = test::textureImage(8, 8, 0, 0);
    Grid<double> field(8, 8);
    const Grid<double> small(4, 8);
    double gx = 0.0;
    double gy = 0.0;
    EXPECT_DEATH(calculation.runTrec(image, test::textureImage(8, 7, 0, 0), gx, gy, &field, &field),
                 HasSubstr("curr_grid.sizeX() == m_grid_size_x && curr_grid.sizeY() == "
                           "m_grid_size_y"));
    EXPECT_DEATH(calculation.runTrec(image, image, gx, gy, &field, &field, gx, gy, &field, &small),
                 HasSubstr("prev_field_y->sizeX() == m_grid_size_x && prev_field_y->sizeY() == "
                           "m_grid_size_y"));
}

}  // namespace
}  // namespace azm
