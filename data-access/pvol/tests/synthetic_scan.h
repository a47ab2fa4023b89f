// Small synthetic scans for the writer tests: PPI sweeps of one-degree rays whose codes follow a
// pattern, on a radar of known settings.
#ifndef PVOL_TESTS_SYNTHETIC_SCAN_H
#define PVOL_TESTS_SYNTHETIC_SCAN_H

#include <cmath>
#include <vector>

#include "data_block_internal.h"
#include "pvol/pvol_prod_io.h"
#include "pvol/pvol_save.h"
#include "pvol_handles.h"
#include "radar_ray_internal.h"

namespace synthetic {

constexpr double kDegree = M_PI / 180.0;
constexpr double kPrf = 1000.0;
constexpr int kWavelength = 533;  // hundredths of a centimetre
constexpr double kFrequency = 2.997925e12 / kWavelength;
constexpr double kNyquist = kPrf * kWavelength / 40000.0;
constexpr dscan kRange{250.0, 500.0, 12};
constexpr int kRays = 10;
constexpr time_t kVolumeTime = 1700000000;

// The scale a RAW block of this radar has, so that moments on it are copied code for code.
inline native_data_desc block_scale(int type, int bin_format) {
    data_convert conv;
    FillDataConvert(&conv, kPrf, 0, kWavelength, 0, 0);
    native_data_desc scale;
    get_descriptor(&scale, type, bin_format == BITS_8 ? 1 : 2, &conv);
    return scale;
}

// Never 0 (no data), distinct along rays and bins.
inline uint16_t pattern_code(int bin_format, int ray, int bin, int moment) {
    const int code = ray * 13 + bin * 3 + moment * 29 + 1;
    return static_cast<uint16_t>(bin_format == BITS_8 ? code % 254 + 1 : code * 97 % 65000 + 1);
}

struct MomentSpec {
    int type;
    int bin_format;
    dscan range = kRange;
};

inline radar_ray_conf *new_rayconf(const std::vector<MomentSpec> &moments) {
    radar_ray_conf *rconf =
        rayconf_new(kPrf, kFrequency, kNyquist, 150.0, 8e-7, 32, 70.0, -40.0, 0.008, 1);
    for (const MomentSpec &moment : moments) {
        const native_data_desc scale = block_scale(moment.type, moment.bin_format);
        rayconf_add_moment(rconf, moment.type, &moment.range, &scale);
    }
    return rconf;
}

// A PPI configuration of rays of one degree from north, holding the given ray configurations
// (their creator's references are dropped).
inline radar_sweep_conf *new_ppi_conf(const std::vector<radar_ray_conf *> &rconfs,
                                      const char *task = nullptr, int rays = kRays) {
    const dscan sector{0.0, kDegree, static_cast<uint64_t>(rays)};
    radar_sweep_conf *sconf = sweepconf_new_ppi(&sector);
    for (radar_ray_conf *rconf : rconfs) {
        sweepconf_add_rayconf(sconf, rconf);
        rayconf_unref(rconf);
    }
    if (task != nullptr)
        sweepconf_add_string(sconf, "ORVA Scan Task Name", task);
    return sconf;
}

// Fills every moment of ray with the codes code(bin_format, bin, moment), through the caller's
// buffer bins.
template <typename Code>
inline void set_ray_codes(radar_ray *ray, radar_ray_data *bins, Code code) {
    const radar_ray_conf *rconf = rray_get_config(ray);
    for (int m = 0; m < static_cast<int>(rayconf_get_moments_count(rconf)); ++m) {
        native_data_desc scale;
        dscan range;
        rmoment_get_scale(rayconf_get_moment(rconf, m), &scale);
        rmoment_get_range_mask(rayconf_get_moment(rconf, m), &range);
        radar_ray_data_resize(bins, scale.bin_format, range.count);
        for (uint64_t b = 0; b < range.count; ++b) {
            const uint16_t c = code(scale.bin_format, static_cast<int>(b), m);
            if (scale.bin_format == BITS_8)
                static_cast<uint8_t *>(bins->data)[b] = static_cast<uint8_t>(c);
            else
                static_cast<uint16_t *>(bins->data)[b] = c;
        }
        rray_set_from_native(ray, m, bins);
    }
}

// A sweep with a ray at every position of the sector (kRays for a manual sweep) but
// absent_position, bins in pattern_code, ray r taken r seconds after the sweep.
inline radar_sweep *new_sweep(radar_sweep_conf *sconf, time_t time, double elevation_degrees,
                              int schedule_index, int absent_position = -1) {
    radar_sweep *sweep = rsweep_new(sconf);
    radar_ray_conf *rconf = sweepconf_get_next_rayconf(sconf, nullptr);
    const timeval sweep_time{time, 250000};
    rsweep_set_time(sweep, &sweep_time);
    rsweep_set_fixed_angle(sweep, elevation_degrees * kDegree);
    rsweep_set_schedule_index(sweep, schedule_index);
    dscan sector;
    sweepconf_get_sector(sconf, &sector);
    const double el = elevation_degrees * kDegree;
    const RayDataHandle bins(radar_ray_data_new());
    for (int r = 0; r < (sector.count > 0 ? static_cast<int>(sector.count) : kRays); ++r) {
        if (r == absent_position) {
            rsweep_add_ray(sweep, nullptr);
            continue;
        }
        const angle_interval azimuth{r * kDegree, (r + 0.5) * kDegree, (r + 1) * kDegree};
        const angle_interval elevation{el, el, el};
        const timeval ray_time{time + r, 250000};
        radar_ray *ray = rray_new(rconf, &azimuth, &elevation, &ray_time, nullptr, -1);
        set_ray_codes(ray, bins.get(),
                      [r](int format, int bin, int m) { return pattern_code(format, r, bin, m); });
        rsweep_add_ray(sweep, ray);
    }
    return sweep;
}

inline ScanHandle new_scan(const char *name = "VOLUME") {
    const rposition_fixed site{60.2 * kDegree, 24.9 * kDegree, 99.6, 120.2};
    return ScanHandle(
        pvol_new(name, "Synthetic volume", "TESTSITE", nullptr, RPOSITION_FIXED, &site));
}

// Adds a sweep per elevation on sconf, a minute apart.
inline void add_sweeps(radar_scan *scan, radar_sweep_conf *sconf, time_t first_time,
                       const std::vector<double> &elevations, int first_schedule_index = 0) {
    for (size_t i = 0; i < elevations.size(); ++i)
        pvol_add_sweep(scan, new_sweep(sconf, first_time + 60 * static_cast<time_t>(i),
                                       elevations[i], first_schedule_index + static_cast<int>(i)));
}

// Writes scan through the default output callback with base name base; the files made.
inline std::vector<std::string> write_files(const radar_scan *scan, const std::string &base,
                                            int mode, int bin_format,
                                            const char *site = "GENSITE") {
    RawIoHandle io(default_raw_io_new(base.c_str()));
    if (pvol_save_raw(scan, io.get(), site, mode, bin_format, default_raw_output) != 0)
        return {};
    std::vector<std::string> names;
    for (int i = 0; i < default_raw_output_count(io.get()); ++i)
        names.push_back(default_raw_output_name(io.get(), i));
    return names;
}

inline ScanHandle read_files(const std::vector<std::string> &paths, int force_16_bit = 0) {
    std::vector<const char *> names;
    for (const std::string &path : paths)
        names.push_back(path.c_str());
    RawIoHandle io(default_raw_io_new_hybrid(names.data(), static_cast<int>(names.size())));
    return ScanHandle(pvol_new_from_raw2(io.get(), default_raw_input, nullptr, force_16_bit));
}

}  // namespace synthetic

#endif  // PVOL_TESTS_SYNTHETIC_SCAN_H
