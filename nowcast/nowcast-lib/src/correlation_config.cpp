#include "nowcast/correlation_config.h"

#include <boost/property_tree/ptree.hpp>

#include "nowcast/darts_conf.h"
#include "nowcast/trec_conf.h"

#include "int_conversion.h"

namespace azm {

CorrelationConfig::~CorrelationConfig() = default;

TrecConf::TrecConf(const boost::property_tree::ptree &tree) {
    const TrecConf defaults;
    // The missing value is an integer in the configuration files: a text with a fraction does
    // not convert and leaves the default.
    m_input_precision = tree.get<int>("input_precision", defaults.m_input_precision);
    m_missing_value = tree.get<int>("missing_value", -999);
    m_not_scanned_value = tree.get<double>("not_scanned_value", defaults.m_not_scanned_value);
    m_aperture_coverage_threshold =
        tree.get<double>("aperture_coverage_threshold", defaults.m_aperture_coverage_threshold);
    m_signal_threshold = tree.get<double>("signal_threshold", defaults.m_signal_threshold);
    m_field_feature_box_width =
        tree.get<int>("field_feature_box_width", defaults.m_field_feature_box_width);
    m_field_feature_box_spacing =
        tree.get<int>("field_feature_box_spacing", defaults.m_field_feature_box_spacing);
    m_field_signal_coverage_threshold = tree.get<double>(
        "field_signal_coverage_threshold", defaults.m_field_signal_coverage_threshold);
    m_correlation_threshold =
        tree.get<double>("correlation_threshold", defaults.m_correlation_threshold);
    m_speed_limit = tree.get<int>("speed_limit", defaults.m_speed_limit);
    m_field_spatial_decay = tree.get<int>("field_spatial_decay", defaults.m_field_spatial_decay);
    m_field_use_spatial_filtering = static_cast<SpatialThreshold>(tree.get<int>(
        "field_use_spatial_filtering", static_cast<int>(defaults.m_field_use_spatial_filtering)));
    // The key of the filter box width ends in a blank in every configuration written so far.
    m_field_spatial_filtering_box_width = tree.get<int>(
        "field_spatial_filtering_box_width ", defaults.m_field_spatial_filtering_box_width);
    m_field_spatial_direction_threshold = tree.get<int>(
        "field_spatial_direction_threshold", defaults.m_field_spatial_direction_threshold);
    m_field_spatial_magnitude_threshold = tree.get<double>(
        "field_spatial_magnitude_threshold", defaults.m_field_spatial_magnitude_threshold);
    m_field_global_weight = tree.get<double>("field_global_weight", defaults.m_field_global_weight);
    m_temporal_smoothing_method = static_cast<TemporalSmoothing>(tree.get<int>(
        "temporal_smoothing_method", static_cast<int>(defaults.m_temporal_smoothing_method)));
    m_temporal_smoothing_history_weight = tree.get<double>(
        "temporal_smoothing_history_weight", defaults.m_temporal_smoothing_history_weight);
    m_temporal_smoothing_change_weight = tree.get<double>(
        "temporal_smoothing_change_weight", defaults.m_temporal_smoothing_change_weight);
}

TrecConf::~TrecConf() = default;

bool TrecConf::adjustParametersForNexradII(int feat_box_width) {
    if (!(feat_box_width > 0)) {
        return false;
    }
    m_field_feature_box_width = feat_box_width;
    m_field_spatial_decay = feat_box_width / 2 - 1;
    if (m_field_spatial_decay < 0) {
        m_field_spatial_decay = 0;
    }
    // 15/14: the default speed limit of 15 pixels belongs to the default box of 14.
    m_speed_limit = detail::truncateToInt(feat_box_width * 1.0714285714285714);
    return true;
}

DartsConf::DartsConf(const boost::property_tree::ptree &tree)
    : m_scale_down_factor(tree.get<double>("scale_down_factor", 6.0)) {}

DartsConf::~DartsConf() = default;

}  // namespace azm
