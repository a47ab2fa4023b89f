// Layout of platform positions (internal to libpvol and its tests).
#ifndef PVOL_NAV_SYSTEM_INTERNAL_H
#define PVOL_NAV_SYSTEM_INTERNAL_H

#include <cstdint>

#include "pvol/nav_system.h"

struct rposition {
    int32_t ref;  // 0 once released
    int32_t type;
    double orientation[2];
    rposition_fixed fixed;  // type RPOSITION_FIXED
    uint64_t nav_count;     // type RPOSITION_MOVING
    rposition_nav *nav;
};

#endif  // PVOL_NAV_SYSTEM_INTERNAL_H
