// Layout of sweep configurations and sweeps, and helpers shared with the scan (internal).
#ifndef PVOL_RADAR_SWEEP_INTERNAL_H
#define PVOL_RADAR_SWEEP_INTERNAL_H

#include <cstdint>

#include "dllist.h"
#include "pvol/radar_sweep.h"

struct radar_sweep_conf {
    int32_t ref;
    dllist node;  // in a scan's list of sweep configurations, or unlinked
    int32_t type;
    dscan sector;
    radar_ray_conf **rayconf;  // one reference each
    uint64_t rayconf_count;
    cfgset *attributes;  // created on the first add
};

struct radar_sweep {
    int32_t schedule_index;
    double fixed_angle;
    int32_t earliest_ray;  // -1 while there is none
    timeval time;
    timeval start_time;  // seconds -1 while there is no ray
    timeval stop_time;
    dllist node;  // in its scan's sweep list, or unlinked
    radar_scan *my_scan;
    radar_sweep_conf *config;
    radar_ray **rays;  // entries may be null
    uint64_t ray_count;
};

// Puts new_rconf at old_rconf's place in the list (references follow) and returns new_rconf;
// null when old_rconf is not listed. Equivalence is the caller's business.
radar_ray_conf *sweepconf_replace_rayconf(radar_sweep_conf *sconf, radar_ray_conf *new_rconf,
                                          radar_ray_conf *old_rconf);

// A configuration of the same kind, sector and attributes listing the same ray configurations,
// with one reference and in no scan; null when out of memory.
radar_sweep_conf *sweepconf_new_copy(const radar_sweep_conf *sconf);

#endif  // PVOL_RADAR_SWEEP_INTERNAL_H
