// The repository's sample volume reads as the volume its program describes, and the writer
// reproduces it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "pvol/radar_grid.h"
#include "synthetic_scan.h"
#include "temp_dir.h"
#include "pvol_handles.h"

namespace {

using namespace synthetic;

// Range of a moment's physical values over a sweep.
std::pair<double, double> extremes(const radar_sweep *sweep, int moment) {
    double low = INFINITY, high = -INFINITY;
    RayDataHandle values(radar_ray_data_new());
    for (uint64_t r = 0; r < rsweep_get_ray_count(sweep); ++r) {
        rray_get_dat(rsweep_get_ray(sweep, static_cast<int>(r)), moment, values.get());
        for (uint64_t k = 0; k < values->bins; ++k) {
            const double v = static_cast<const double *>(values->data)[k];
            low = std::fmin(low, v);  // NaN (no echo) is passed over
            high = std::fmax(high, v);
        }
    }
    values.reset();
    return {low, high};
}

TEST(SampleVolumeTest, ConvectiveVolumeThatTheWriterReproduces) {
    ScanHandle scan = read_files({PVOL_SAMPLE_VOLUME});
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

namespace {

// Centre of the pixels of at least `threshold` within 15 km of (east, north), km, on a grid of
// 1 km pixels 201 across.
std::pair<double, double> echo_centre(const std::vector<double> &grid, double east, double north,
                                      double threshold) {
    double sum_x = 0.0, sum_y = 0.0;
    int count = 0;
    for (int row = 0; row < 201; ++row) {
        for (int column = 0; column < 201; ++column) {
            const double x = column - 100.0;
            const double y = 100.0 - row;
            if (std::hypot(x - east, y - north) < 15.0 && grid[row * 201 + column] >= threshold) {
                sum_x += x;
                sum_y += y;
                ++count;
            }
        }
    }
    return count > 0 ? std::pair{sum_x / count, sum_y / count}
                     : std::pair{double(NAN), double(NAN)};
}

TEST(SampleVolumeTest, SeriesCarriesTheStormsWithItsVelocity) {
    const std::string samples =
        std::string(PVOL_SAMPLE_VOLUME).substr(0, std::string(PVOL_SAMPLE_VOLUME).rfind('/') + 1);
    std::vector<std::vector<double>> grids;
    std::vector<time_t> times;
    for (const char *name : {"moving-storms-00.raw", "moving-storms-02.raw"}) {
        ScanHandle scan = read_files({samples + name});
        ASSERT_NE(scan, nullptr) << name;
        timeval time;
        times.push_back(pvol_get_time_stamp(scan.get(), &time)->tv_sec);
        grids.emplace_back(201 * 201);
        ASSERT_EQ(pvol_grid_max(scan.get(), RD_DBZ, 201, 1000.0, -32.0, grids.back().data()), 0);
    }
    EXPECT_EQ(times[1] - times[0], 600);
    // 15 m/s toward 60 degrees for 10 minutes: 9 km, 7.79 km east and 4.5 km north. In the middle
    // volume the strongest cell stands at 35 km east, 48 km north.
    const auto [x0, y0] = echo_centre(grids[0], 35.0 - 3.9, 48.0 - 2.25, 45.0);
    const auto [x1, y1] = echo_centre(grids[1], 35.0 + 3.9, 48.0 + 2.25, 45.0);
    EXPECT_NEAR(x1 - x0, 7.79, 0.7);
    EXPECT_NEAR(y1 - y0, 4.5, 0.7);
    EXPECT_NEAR(x0, 35.0 - 3.9, 1.0);
    EXPECT_NEAR(y0, 48.0 - 2.25, 1.0);
}

}  // namespace
