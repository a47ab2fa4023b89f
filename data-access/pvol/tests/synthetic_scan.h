// Small synthetic scans for the writer tests: PPI sweeps of a few rays whose codes follow a
// pattern, on a radar of known settings, and an output callback that writes into a temporary
// folder.
#ifndef PVOL_TESTS_SYNTHETIC_SCAN_H
#define PVOL_TESTS_SYNTHETIC_SCAN_H

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "data_block_internal.h"
#include "pvol_save.h"
#include "radar_ray_internal.h"
#include "radar_scan.h"
#include "temp_dir.h"

namespace synthetic {

constexpr double kDegree = M_PI / 180.0;
constexpr double kPrf = 1000.0;
constexpr int kWavelength = 533;  // hundredths of a centimetre
constexpr double kFrequency = 2.997925e12 / kWavelength;
constexpr double kNyquist = kPrf * kWavelength / 40000.0;
constexpr dscan kRange{250.0, 500.0, 12};
constexpr int kRays = 10;                   // rays of a sector scan
constexpr double kStep = kDegree;           // one ray per degree
constexpr time_t kVolumeTime = 1700000000;  // 2023-11-14 22:13:20 UTC

struct ScanDeleter {
    void operator()(radar_scan *scan) const { pvol_delete(scan); }
};
using ScanPtr = std::unique_ptr<radar_scan, ScanDeleter>;

// The data scale a RAW block of this radar gives the type at the bin format, so that moments
// built on it are copied code for code.
inline native_data_desc block_scale(int type, int bin_format) {
    data_convert conv;
    FillDataConvert(&conv, kPrf, 0, kWavelength, 0, 0);
    native_data_desc scale;
    get_descriptor(&scale, type, bin_format == BITS_8 ? 1 : 2, &conv);
    return scale;
}

// Code of a bin in the test pattern: never 0 (no data), distinct along rays and bins.
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

// A PPI configuration over rays of one degree from north, listing the given ray configurations
// (the creator's references are dropped: the configuration holds them).
inline radar_sweep_conf *new_ppi_conf(const std::vector<radar_ray_conf *> &rconfs,
                                      const char *task = nullptr, int rays = kRays) {
    const dscan sector{0.0, kStep, static_cast<uint64_t>(rays)};
    radar_sweep_conf *sconf = sweepconf_new_ppi(&sector);
    for (radar_ray_conf *rconf : rconfs) {
        sweepconf_add_rayconf(sconf, rconf);
        rayconf_unref(rconf);
    }
    if (task != nullptr)
        sweepconf_add_string(sconf, "ORVA Scan Task Name", task);
    return sconf;
}

// A sweep on sconf with a ray at every position of its sector (or kRays rays of a manual
// sweep); each moment's bins follow pattern_code. The ray times run one second apart from the
// sweep's time.
inline radar_sweep *new_sweep(radar_sweep_conf *sconf, time_t time, double elevation_degrees,
                              int schedule_index) {
    radar_sweep *sweep = rsweep_new(sconf);
    radar_ray_conf *rconf = sweepconf_get_next_rayconf(sconf, nullptr);
    const timeval sweep_time{time, 250000};
    rsweep_set_time(sweep, &sweep_time);
    rsweep_set_fixed_angle(sweep, elevation_degrees * kDegree);
    rsweep_set_schedule_index(sweep, schedule_index);
    radar_ray_data *bins = radar_ray_data_new();
    dscan sector;
    sweepconf_get_sector(sconf, &sector);
    const int rays = sector.count > 0 ? static_cast<int>(sector.count) : kRays;
    const double step = kStep;
    const double elevation = elevation_degrees * kDegree;
    for (int r = 0; r < rays; ++r) {
        const angle_interval azimuth{r * step, (r + 0.5) * step, (r + 1) * step};
        const angle_interval elevations{elevation, elevation, elevation};
        const timeval ray_time{time + r, 250000};
        radar_ray *ray = rray_new(rconf, &azimuth, &elevations, &ray_time, nullptr, -1);
        for (int m = 0; m < static_cast<int>(rayconf_get_moments_count(rconf)); ++m) {
            native_data_desc scale;
            dscan range;
            rmoment_get_scale(rayconf_get_moment(rconf, m), &scale);
            rmoment_get_range_mask(rayconf_get_moment(rconf, m), &range);
            radar_ray_data_resize(bins, scale.bin_format, range.count);
            for (uint64_t b = 0; b < range.count; ++b) {
                const uint16_t code = pattern_code(scale.bin_format, r, static_cast<int>(b), m);
                if (scale.bin_format == BITS_8)
                    static_cast<uint8_t *>(bins->data)[b] = static_cast<uint8_t>(code);
                else
                    static_cast<uint16_t *>(bins->data)[b] = code;
            }
            rray_set_from_native(ray, m, bins);
        }
        rsweep_add_ray(sweep, ray);
    }
    radar_ray_data_delete(bins);
    return sweep;
}

inline ScanPtr new_scan(const char *name = "VOLUME") {
    const rposition_fixed site{60.2 * kDegree, 24.9 * kDegree, 99.6, 120.2};
    radar_scan *scan =
        pvol_new(name, "Synthetic volume", "TESTSITE", nullptr, RPOSITION_FIXED, &site);
    const timeval stamp{kVolumeTime, 0};
    pvol_set_time_stamp(scan, &stamp);
    return ScanPtr(scan);
}

// Adds a sweep per elevation on sconf, a minute apart.
inline void add_sweeps(radar_scan *scan, radar_sweep_conf *sconf, time_t first_time,
                       const std::vector<double> &elevations, int first_schedule_index = 0) {
    for (size_t i = 0; i < elevations.size(); ++i)
        pvol_add_sweep(scan, new_sweep(sconf, first_time + 60 * static_cast<time_t>(i),
                                       elevations[i], first_schedule_index + static_cast<int>(i)));
}

// Output callback target: files named after the callback's arguments in a folder of their own,
// removed with the object.
class OutputFolder {
  public:
    static FILE *open(void *io, int group_index, int mode, int sweep_number) {
        auto *self = static_cast<OutputFolder *>(io);
        if (self->refuse_after_ >= 0 &&
            static_cast<int>(self->paths_.size()) >= self->refuse_after_)
            return nullptr;
        const std::string path =
            self->dir_.file("out_" + std::to_string(group_index) + "_" + std::to_string(mode) +
                            "_" + std::to_string(sweep_number));
        self->paths_.push_back(path);
        return std::fopen(path.c_str(), "w+b");
    }

    const std::vector<std::string> &paths() const { return paths_; }
    std::string path(const std::string &name) const { return dir_.file(name); }
    void refuse_after(int files) { refuse_after_ = files; }

    std::vector<unsigned char> bytes(size_t index) const {
        const std::string text = TempDir::read_text(paths_.at(index));
        return {text.begin(), text.end()};
    }

  private:
    TempDir dir_;
    std::vector<std::string> paths_;
    int refuse_after_ = -1;
};

}  // namespace synthetic

#endif  // PVOL_TESTS_SYNTHETIC_SCAN_H
