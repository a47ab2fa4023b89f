// Configuration base of the motion algorithms and the enumerations of the TREC parameters.
#ifndef NOWCAST_CORRELATION_CONFIG_H
#define NOWCAST_CORRELATION_CONFIG_H

namespace azm {

// Polymorphic base of every algorithm configuration: a Correlator picks the algorithm by the
// dynamic type of the configuration it holds.
class CorrelationConfig {
  public:
    virtual ~CorrelationConfig();

  protected:
    CorrelationConfig() = default;
    CorrelationConfig(const CorrelationConfig &) = default;
    CorrelationConfig &operator=(const CorrelationConfig &) = default;
};

// Which outlier filter runs on the motion field. Stored as int, so a configuration can hold a
// value outside the enumerators; the algorithm rejects it.
enum class SpatialThreshold : int { NO = 0, GLOBAL = 1, LOCAL = 2 };

// How the previous result is blended into a new one.
enum class TemporalSmoothing : int {
    NO_TEMPORAL_SMOOTHING = 0,
    HISTORY_WEIGHTING = 1,
    CHANGE_WEIGHTING = 2
};

}  // namespace azm

#endif  // NOWCAST_CORRELATION_CONFIG_H
