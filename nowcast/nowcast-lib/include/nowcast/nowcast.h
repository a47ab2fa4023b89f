// libnowcast: motion of precipitation between successive radar images (TREC).
#ifndef NOWCAST_NOWCAST_H
#define NOWCAST_NOWCAST_H

#include "nowcast/grid.h"
#include "nowcast/correlation_config.h"
#include "nowcast/trec_conf.h"
#include "nowcast/darts_conf.h"
#include "nowcast/cross_correlator.h"
#include "nowcast/trec_calculation.h"
#include "nowcast/trec_algorithm.h"
#include "nowcast/correlator.h"
#include "nowcast/extrapolator.h"
#include "nowcast/motion_refiner.h"

#endif  // NOWCAST_NOWCAST_H
