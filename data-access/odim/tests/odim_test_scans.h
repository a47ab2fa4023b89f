// Synthetic sweeps of any shape for the ODIM tests: PPI or RHI, either direction, with absent
// rays, on the radar of synthetic_scan.h.
#ifndef ODIM_TESTS_ODIM_TEST_SCANS_H
#define ODIM_TESTS_ODIM_TEST_SCANS_H

#include <vector>

#include "pvol_handles.h"
#include "synthetic_scan.h"

namespace odim_test {

using synthetic::kDegree;
using synthetic::MomentSpec;

// Every moment type the comparison covers; written with the bits the volume asks for.
inline std::vector<MomentSpec> all_moments(int bin_format) {
    std::vector<MomentSpec> moments;
    for (int type : {RD_DBT, RD_DBZ, RD_DBZC, RD_VEL, RD_WIDTH, RD_SQI, RD_ZDR, RD_RHOHV, RD_PHIDP,
                     RD_KDP, RD_LDRH, RD_HCLASS})
        moments.push_back({type, bin_format});
    return moments;
}

struct SweepShape {
    double first;  // degrees: azimuth of the first ray (PPI) or its elevation (RHI)
    double step;   // degrees per ray, negative for counter-clockwise or falling
    int rays;      // ray positions
    double fixed;  // degrees: elevation of a PPI, azimuth of an RHI
    bool rhi = false;
    std::vector<int> absent = {};  // ray positions without a ray
};

// Codes follow the pattern of the writer tests, with a no-data code now and then.
inline uint16_t code_at(int bin_format, int ray, int bin, int moment) {
    if ((ray * 7 + bin * 3 + moment) % 11 == 0)
        return 0;
    return synthetic::pattern_code(bin_format, ray, bin, moment);
}

inline radar_sweep *make_sweep(radar_sweep_conf *sconf, const SweepShape &shape, time_t time,
                               int schedule_index) {
    radar_sweep *sweep = rsweep_new(sconf);
    radar_ray_conf *rconf = sweepconf_get_next_rayconf(sconf, nullptr);
    const timeval sweep_time{time, 0};
    rsweep_set_time(sweep, &sweep_time);
    rsweep_set_fixed_angle(sweep, shape.fixed * kDegree);
    rsweep_set_schedule_index(sweep, schedule_index);
    const RayDataHandle bins(radar_ray_data_new());
    for (int r = 0; r < shape.rays; ++r) {
        bool absent = false;
        for (int a : shape.absent)
            absent = absent || a == r;
        if (absent) {
            rsweep_add_ray(sweep, nullptr);
            continue;
        }
        const double a0 = (shape.first + r * shape.step) * kDegree;
        const double a1 = a0 + shape.step * kDegree;
        const angle_interval moving{a0, (a0 + a1) / 2, a1};
        const angle_interval fixed{shape.fixed * kDegree, shape.fixed * kDegree,
                                   shape.fixed * kDegree};
        const timeval ray_time{time + r / 4, 0};  // several rays share a second
        radar_ray *ray = rray_new(rconf, shape.rhi ? &fixed : &moving, shape.rhi ? &moving : &fixed,
                                  &ray_time, nullptr, -1);
        synthetic::set_ray_codes(ray, bins.get(), [r](int format, int bin, int m) {
            return code_at(format, r, bin, m);
        });
        rsweep_add_ray(sweep, ray);
    }
    return sweep;
}

inline radar_sweep_conf *make_conf(const SweepShape &shape, const std::vector<MomentSpec> &moments,
                                   const char *task, bool with_ingest_header = false) {
    const dscan sector{shape.first * kDegree, shape.step * kDegree,
                       static_cast<uint64_t>(shape.rays)};
    radar_sweep_conf *sconf = shape.rhi ? sweepconf_new_rhi(&sector) : sweepconf_new_ppi(&sector);
    const RayConfHandle rconf(synthetic::new_rayconf(moments));
    sweepconf_add_rayconf(sconf, rconf.get());
    sweepconf_add_string(sconf, "ORVA Scan Task Name", task);
    if (with_ingest_header) {
        // The radar settings the ORVA readers keep with each sweep.
        ingest_header ih{};
        ih.tcf.dsp.iprf = static_cast<int32_t>(synthetic::kPrf);
        ih.tcf.misc.iwavelength = synthetic::kWavelength;
        sweepconf_add_buf(sconf, "ORVA Sweep Ingest Header", &ih, sizeof ih);
    }
    return sconf;
}

}  // namespace odim_test

#endif  // ODIM_TESTS_ODIM_TEST_SCANS_H
