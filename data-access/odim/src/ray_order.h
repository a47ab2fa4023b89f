// The order of a sweep's rays in an ODIM data set.
#pragma once

#include <vector>

#include "pvol/radar_sweep.h"

namespace odim {

struct RayOrder {
    std::vector<int> slots;  // per row: the sweep's ray slot, or -1 for an absent ray
    int a1gate = 0;          // row of the sweep's first ray in time
};

// Rows of sweep: a PPI's (or manual sweep's) rays run clockwise from the ray nearest north, an
// RHI's by rising elevation. Absent rays keep their place among their neighbours.
RayOrder order_rays(const radar_sweep *sweep, bool rhi);

}  // namespace odim
