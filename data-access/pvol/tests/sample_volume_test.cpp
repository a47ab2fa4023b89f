// The repository's sample volume reads as the volume its program describes, and the writer
// reproduces it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "synthetic_scan.h"
#include "temp_dir.h"

namespace {

using namespace synthetic;

// Range of a moment's physical values over a sweep.
std::pair<double, double> extremes(const radar_sweep *sweep, int moment) {
    double low = INFINITY, high = -INFINITY;
    radar_ray_data *values = radar_ray_data_new();
    for (uint64_t r = 0; r < rsweep_get_ray_count(sweep); ++r) {
        rray_get_dat(rsweep_get_ray(sweep, static_cast<int>(r)), moment, values);
        for (uint64_t k = 0; k < values->bins; ++k) {
            const double v = static_cast<const double *>(values->data)[k];
            low = std::fmin(low, v);  // NaN (no echo) is passed over
            high = std::fmax(high, v);
        }
    }
    radar_ray_data_delete(values);
    return {low, high};
}

TEST(SampleVolumeTest, ConvectiveVolumeThatTheWriterReproduces) {
    ScanPtr scan = read_files({PVOL_SAMPLE_VOLUME});
    ASSERT_NE(scan, nullptr) << PVOL_SAMPLE_VOLUME;
    ASSERT_EQ(pvol_get_sweeps_count(scan.get()), 4u);
    const radar_ray_conf *rconf = pvol_get_next_rayconf(scan.get(), nullptr);
    ASSERT_EQ(rayconf_get_moments_count(rconf), 6u);
    const double nyquist = rayconf_get_nyquist_vel(rconf);
    for (const radar_sweep *sweep = pvol_get_next_sweep(scan.get(), nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan.get(), sweep)) {
        EXPECT_EQ(rsweep_get_ray_count(sweep), 360u);
        EXPECT_GT(extremes(sweep, 0).second, 55.0);  // convective cores
        // The 22 m/s wind folds: velocities span the whole Nyquist interval and no more.
        const auto [low, high] = extremes(sweep, 1);
        EXPECT_GE(low, -nyquist - 0.01);
        EXPECT_LE(high, nyquist + 0.01);
        EXPECT_GT(high - low, 1.9 * nyquist);
        EXPECT_GT(extremes(sweep, 5).second, 40.0);  // phase accumulated from 25 degrees
    }

    TempDir dir;
    const std::vector<std::string> copy =
        write_files(scan.get(), dir.file("copy"), RAW_SAVE_ONE_FILE, BITS_16, "SAMPLEGEN");
    ASSERT_EQ(copy.size(), 1u);
    std::string expected = TempDir::read_text(PVOL_SAMPLE_VOLUME);
    std::string written = TempDir::read_text(copy[0]);
    const size_t generation_time = offsetof(product_header, pcf.gen_time);
    expected.replace(generation_time, sizeof(ymds_time), sizeof(ymds_time), '\0');
    written.replace(generation_time, sizeof(ymds_time), sizeof(ymds_time), '\0');
    EXPECT_TRUE(written == expected);
}

}  // namespace
