// Multi-frame entry point: motion fields from a sequence of rasters.
#ifndef NOWCAST_CORRELATOR_H
#define NOWCAST_CORRELATOR_H

#include <cstdint>
#include <memory>
#include <vector>

#include <boost/multi_array.hpp>
#include <boost/uuid/uuid.hpp>

#include "nowcast/correlation_config.h"

namespace azm {

// Runs the algorithm that the dynamic type of its configuration selects (only TrecConf does)
// on the last two of a sequence of rasters.
class Correlator {
  public:
    // The configuration is shared with the caller; null is accepted and refused by run().
    explicit Correlator(std::shared_ptr<const CorrelationConfig> config);

    // Appends to `result` the motion field x and then y of the last two rasters, each of the
    // rasters' shape [rows][columns]; -999.0 everywhere when the configuration is invalid or
    // an image holds no valid pixel. Throws std::runtime_error, leaving `result` unchanged,
    // when the time stamps do not match the rasters in number, there are fewer than two
    // rasters, the shapes differ, or the configuration selects no algorithm. The identifier and
    // the time stamps' values take no part in the computation.
    void run(const boost::uuids::uuid &run_id,
             const std::vector<boost::multi_array<double, 2>> &rasters,
             const std::vector<std::uint32_t> &timestamps,
             std::vector<boost::multi_array<double, 2>> &result) const;

  private:
    std::shared_ptr<const CorrelationConfig> m_config;
};

}  // namespace azm

#endif  // NOWCAST_CORRELATOR_H
