// Parameters of the TREC motion estimation.
#ifndef NOWCAST_TREC_CONF_H
#define NOWCAST_TREC_CONF_H

#include <boost/property_tree/ptree_fwd.hpp>

#include "nowcast/correlation_config.h"

namespace azm {

// The TREC parameter set. The tree constructor reads each member under its key (see trec_conf.cpp)
// and falls back to the default for an absent or unreadable value; ranges are not checked here
// but by TrecAlgorithm (status bits) and TrecCalculation (preconditions).
class TrecConf : public CorrelationConfig {
  public:
    TrecConf() = default;
    explicit TrecConf(const boost::property_tree::ptree &tree);
    TrecConf(const TrecConf &) = default;
    TrecConf &operator=(const TrecConf &) = default;
    ~TrecConf() override;

    // Adapts the box-dependent parameters to a box width: decay width / 2 - 1 (at least 0),
    // speed limit 15/14 of the width. Returns false and changes nothing for a width <= 0.
    bool adjustParametersForNexradII(int feat_box_width);

    int m_input_precision = 2;
    double m_missing_value = -999.0;
    double m_not_scanned_value = -900.0;
    double m_aperture_coverage_threshold = 0.6;
    double m_signal_threshold = 10.0;
    int m_field_feature_box_width = 14;
    int m_field_feature_box_spacing = 1;
    double m_field_signal_coverage_threshold = 0.1;
    double m_correlation_threshold = 0.55;
    int m_speed_limit = 15;
    int m_field_spatial_decay = 6;
    SpatialThreshold m_field_use_spatial_filtering = SpatialThreshold::GLOBAL;
    int m_field_spatial_filtering_box_width = 9;
    int m_field_spatial_direction_threshold = 90;
    double m_field_spatial_magnitude_threshold = 3.0;
    double m_field_global_weight = 0.25;
    TemporalSmoothing m_temporal_smoothing_method = TemporalSmoothing::HISTORY_WEIGHTING;
    double m_temporal_smoothing_history_weight = 0.25;
    double m_temporal_smoothing_change_weight = 0.33;
};

}  // namespace azm

#endif  // NOWCAST_TREC_CONF_H
