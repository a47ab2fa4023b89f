// Layout of ray configurations and rays, and helpers shared inside libpvol.
#ifndef PVOL_RADAR_RAY_INTERNAL_H
#define PVOL_RADAR_RAY_INTERNAL_H

#include <cstdint>

#include "dllist.h"
#include "pvol/radar_ray.h"

struct radar_moment {
    int32_t type;  // raw_data_type, RD_CUSTOM for a custom moment
    char *name;    // custom moments only
    char *units;   // custom moments only
    dscan range_mask;
    native_data_desc scale;
};

struct radar_ray_conf {
    int32_t ref;
    dllist node;  // in a scan's list of ray configurations, or unlinked
    double prf;
    double rf_freq;
    double nyquist_vel;
    double unamb_range;
    double pulse_width;
    int32_t pulses_per_ray;
    double radar_const;
    double calib_const;
    double gas_atten;
    int32_t tx_polarization;
    int32_t moment_index[MAX_RD];  // standard moment of each type, -1 when absent
    uint64_t moments_count;
    radar_moment *moment;
    cfgset *attributes;  // created on the first add
    uint64_t exthdr_size;
};

struct radar_ray {
    int32_t index;  // in its sweep, -1 until added
    angle_interval azimuth;
    angle_interval elevation;
    timeval time;
    rposition *position;
    int32_t position_index;  // navigation record of a moving position, else -1
    radar_ray_data **data;   // one buffer per moment slot
    uint64_t count;          // slots in data
    radar_ray_conf *config;
    unsigned char *exthdr;  // config->exthdr_size bytes, or null
};

// Makes room for bins elements of format (BITS_8 to BITS_64) and sets type and bins; never
// shrinks. Null for another format or when out of memory, the buffer then unchanged.
radar_ray_data *radar_ray_data_resize(radar_ray_data *buffer, int format, uint64_t bins);

// Width in bytes of one bin of format, 0 for BITS_UNKNOWN and unknown formats.
uint64_t bin_format_width(int format);

// A configuration with the same properties, moments and attributes, one reference and no list
// membership; null when out of memory.
radar_ray_conf *rayconf_new_copy(const radar_ray_conf *rconf);

// True when a and b compare equal in both directions: the same properties and moments, and the
// same attributes on either side (rayconf_compare alone lets b hold more).
bool rayconf_equivalent(const radar_ray_conf *a, const radar_ray_conf *b);

#endif  // PVOL_RADAR_RAY_INTERNAL_H
