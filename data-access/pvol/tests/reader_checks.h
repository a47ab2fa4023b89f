// Checks of scans read back against the synthetic files they were read from.
#ifndef PVOL_TESTS_READER_CHECKS_H
#define PVOL_TESTS_READER_CHECKS_H

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pvol/pvol_prod_io.h"
#include "pvol_handles.h"
#include "raw_file_builder.h"

namespace rawfile {

constexpr double kBin2ToRadians = 2.0 * M_PI / 65536.0;

inline std::vector<int> codes_of(const std::vector<std::pair<int, int>> &moments) {
    std::vector<int> codes;
    for (const auto &m : moments)
        codes.push_back(m.first);
    return codes;
}

inline std::vector<radar_sweep *> sweeps_of(const radar_scan *scan) {
    std::vector<radar_sweep *> out;
    for (radar_sweep *s = pvol_get_next_sweep(scan, nullptr); s; s = pvol_get_next_sweep(scan, s))
        out.push_back(s);
    return out;
}

inline std::vector<int> schedule_of(const radar_scan *scan) {
    std::vector<int> out;
    for (radar_sweep *s : sweeps_of(scan))
        out.push_back(rsweep_get_schedule_index(s));
    return out;
}

inline std::string name_of(const radar_scan *scan) {
    char name[64] = {};
    pvol_get_name(scan, name, sizeof name - 1);
    return name;
}

// Compares every ray of a sweep read back with the sweep it was built from: angles, time and
// the native codes of every moment (bins beyond a short ray read as no data).
inline void expect_same_rays(const radar_sweep *sweep, const Sweep &built) {
    const RayDataHandle buffer(radar_ray_data_new());
    // Every ray at its own position: absent positions before the last ray are null rays.
    int count = 0;
    for (int p = 0; p < built.irtotl; ++p) {
        const Ray *first = nullptr;
        for (const Moment &m : built.moments)
            if (!first && m.rays[p] && !m.rays[p]->bins.empty())
                first = &*m.rays[p];
        if (first == nullptr) {
            EXPECT_EQ(rsweep_get_ray(sweep, p), nullptr) << "position " << p;
            continue;
        }
        count = p + 1;
        const radar_ray *ray = rsweep_get_ray(sweep, p);
        ASSERT_NE(ray, nullptr) << "position " << p;
        EXPECT_NEAR(rray_get_azimuth(ray).start, first->az_start * kBin2ToRadians, 1e-12);
        struct timeval t;
        rray_get_time(ray, &t);
        EXPECT_EQ(t.tv_sec, built.time.posix() + first->seconds);
        for (size_t m = 0; m < built.moments.size(); ++m) {
            ASSERT_NE(rray_get_native(ray, static_cast<int>(m), buffer.get()), nullptr);
            const auto &expected = built.moments[m].rays[p];
            for (uint64_t k = 0; k < buffer->bins; ++k) {
                const int code = buffer->type == BITS_8 ? static_cast<uint8_t *>(buffer->data)[k]
                                                        : static_cast<uint16_t *>(buffer->data)[k];
                const int want = expected && k < expected->bins.size() ? expected->bins[k] : 0;
                ASSERT_EQ(code, want) << "position " << p << " moment " << m << " bin " << k;
            }
        }
    }
    EXPECT_EQ(rsweep_get_ray_count(sweep), static_cast<uint64_t>(count));
}

}  // namespace rawfile

#endif  // PVOL_TESTS_READER_CHECKS_H
