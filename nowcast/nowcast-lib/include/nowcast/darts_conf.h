// Configuration of the DARTS motion algorithm (no computation in this library uses it).
#ifndef NOWCAST_DARTS_CONF_H
#define NOWCAST_DARTS_CONF_H

#include <boost/property_tree/ptree_fwd.hpp>

#include "nowcast/correlation_config.h"

namespace azm {

class DartsConf : public CorrelationConfig {
  public:
    // Reads "scale_down_factor" (default 6.0).
    explicit DartsConf(const boost::property_tree::ptree &tree);
    ~DartsConf() override;

    double m_scale_down_factor = 6.0;
};

}  // namespace azm

#endif  // NOWCAST_DARTS_CONF_H
