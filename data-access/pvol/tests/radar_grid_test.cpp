// Cartesian grids of sweeps, checked against beam geometry computed here by other means: the
// slant range of a pixel is found by searching the range whose beam reaches the pixel's ground
// distance, with the 4/3-earth height formula.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "pvol/radar_grid.h"
#include "synthetic_scan.h"
#include "pvol_handles.h"

namespace {

using namespace synthetic;

constexpr double kEffectiveRadius = 4.0 / 3.0 * 6371000.0;  // m
constexpr double kNoEcho = -32.0;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kBelowThreshold = -std::numeric_limits<double>::infinity();

// Ground distance (m) at which a beam of the given elevation is at slant range r (m).
double ground_distance(double r, double elevation) {
    const double height = std::sqrt(r * r + kEffectiveRadius * kEffectiveRadius +
                                    2.0 * r * kEffectiveRadius * std::sin(elevation)) -
                          kEffectiveRadius;
    return kEffectiveRadius * std::asin(r * std::cos(elevation) / (kEffectiveRadius + height));
}

// Slant range (m) of a beam of the given elevation at ground distance s (m), by bisection.
double slant_range(double s, double elevation) {
    double low = 0.0, high = 3.0 * s + 1000.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (low + high);
        (ground_distance(mid, elevation) < s ? low : high) = mid;
    }
    return 0.5 * (low + high);
}

int expected_bin(double s, double elevation, const dscan &range) {
    return static_cast<int>(std::lround((slant_range(s, elevation) - range.start) / range.step));
}

native_data_desc double_scale() {
    native_data_desc scale{};
    scale.bin_format = BITS_64;
    return scale;
}

native_data_desc reflectivity_codes() {
    native_data_desc scale{};
    scale.bin_format = BITS_16;
    scale.max_value = 65535;
    scale.min_value = 2;
    scale.step = 0.01;
    scale.offset = -327.68;
    scale.under_threshold = 1;
    scale.not_scanned = 0;
    return scale;
}

using BinValue = std::function<double(int ray, int bin)>;

struct SweepLayout {
    double elevation_degrees = 0.5;
    int first_degree = 0;  // azimuth of the first ray's centre
    int rays = 360;
    int degrees_per_ray = 1;
    bool sector = true;  // a PPI sector, else none (spacing from the rays)
    dscan range{125.0, 250.0, 400};
    native_data_desc scale = double_scale();
    int sweep_type = SWEEP_PPI;
};

// A sweep whose ray r is centred on first_degree + r * degrees_per_ray, bins given by value.
radar_sweep *value_sweep(const SweepLayout &layout, const BinValue &value) {
    radar_ray_conf *rconf =
        rayconf_new(kPrf, kFrequency, kNyquist, 150.0, 8e-7, 32, 70.0, -40.0, 0.008, 1);
    rayconf_add_moment(rconf, RD_DBZ, &layout.range, &layout.scale);
    const double width = layout.degrees_per_ray * kDegree;
    const dscan sector{(layout.first_degree - 0.5 * layout.degrees_per_ray) * kDegree, width,
                       static_cast<uint64_t>(layout.rays)};
    radar_sweep_conf *sconf = layout.sweep_type == SWEEP_RHI ? sweepconf_new_rhi(&sector)
                              : layout.sector                ? sweepconf_new_ppi(&sector)
                                                             : sweepconf_new_ppi(nullptr);
    sweepconf_add_rayconf(sconf, rconf);
    SweepHandle sweep(rsweep_new(sconf));
    const double el = layout.elevation_degrees * kDegree;
    rsweep_set_fixed_angle(sweep.get(), el);
    std::vector<double> bins(layout.range.count);
    for (int r = 0; r < layout.rays; ++r) {
        const double centre = (layout.first_degree + r * layout.degrees_per_ray) * kDegree;
        const angle_interval azimuth{centre - 0.5 * width, centre, centre + 0.5 * width};
        const angle_interval elevation{el, el, el};
        const timeval time{kVolumeTime + r, 0};
        RayHandle ray(rray_new(rconf, &azimuth, &elevation, &time, nullptr, -1));
        for (size_t b = 0; b < bins.size(); ++b)
            bins[b] = value(r, static_cast<int>(b));
        const radar_ray_data data{BITS_64, bins.data(), bins.size(), 0};
        rray_set_dat(ray.get(), 0, &data);
        rsweep_add_ray(sweep.get(), ray.release());
    }
    sweepconf_unref(sconf);
    rayconf_unref(rconf);
    return sweep.release();
}

ScanHandle scan_of(const std::vector<radar_sweep *> &sweeps) {
    ScanHandle scan = new_scan();
    for (radar_sweep *sweep : sweeps)
        pvol_add_sweep(scan.get(), sweep);
    return scan;
}

// A grid of odd size, so that the radar sits in the middle of the centre pixel.
struct Grid {
    int size;
    double pixel;
    std::vector<double> values = std::vector<double>(size * size, 7.0);

    // The pixel whose centre lies (east, north) metres from the radar.
    double at(double east, double north) const {
        const int column = static_cast<int>(std::lround(east / pixel)) + size / 2;
        const int row = size / 2 - static_cast<int>(std::lround(north / pixel));
        EXPECT_TRUE(column >= 0 && column < size && row >= 0 && row < size)
            << east << ", " << north;
        return values.at(row * size + column);
    }
};

TEST(RadarGridTest, PixelsTakeTheRayOfTheirAzimuthAndTheBinOfTheirSlantRange) {
    SweepLayout layout;
    layout.elevation_degrees = 10.0;  // steep enough to set slant range well apart from ground
    ScanHandle scan =
        scan_of({value_sweep(layout, [](int ray, int bin) { return ray * 1000.0 + bin; })});
    Grid grid{301, 500.0};
    ASSERT_EQ(
        pvol_grid_sweep(scan.get(), 0, RD_DBZ, grid.size, grid.pixel, kNoEcho, grid.values.data()),
        0);
    const double el = layout.elevation_degrees * kDegree;
    const int bin_50km = expected_bin(50000.0, el, layout.range);
    EXPECT_GT(bin_50km, expected_bin(50000.0, 0.0, layout.range) + 2);  // slant beyond ground
    EXPECT_EQ(grid.at(50000.0, 0.0), 90 * 1000.0 + bin_50km);
    EXPECT_EQ(grid.at(0.0, 50000.0), 0 * 1000.0 + bin_50km);
    EXPECT_EQ(grid.at(-50000.0, 0.0), 270 * 1000.0 + bin_50km);
    EXPECT_EQ(grid.at(0.0, -50000.0), 180 * 1000.0 + bin_50km);
    // North-east on the diagonal: the azimuthal equidistant map keeps distance and direction.
    EXPECT_EQ(grid.at(25000.0, 25000.0),
              45 * 1000.0 + expected_bin(std::hypot(25000.0, 25000.0), el, layout.range));
    // Beyond the last bin (100 km of slant range) nothing covers the corner pixels.
    EXPECT_TRUE(std::isnan(grid.values[0]));

    // The grid lies on the library's projection around the radar: a pixel's map point, taken
    // back to the earth, is seen from the radar at the distance and azimuth that chose its bin.
    map_proj proj;
    ASSERT_EQ(pvol_grid_projection(scan.get(), &proj), 0);
    EXPECT_EQ(proj.type, AZIMUTHAL);
    EXPECT_DOUBLE_EQ(proj.reference.latitude, 60.2 * kDegree);
    EXPECT_DOUBLE_EQ(proj.reference.longitude, 24.9 * kDegree);
    const double map_km[2] = {-10.0, 37.5};
    earth_pos pos;
    polar_pos polar;
    ASSERT_EQ(mpj_map_to_earth(&proj, map_km, &pos), MPJ_OK);
    PolarFromEarth(&proj.reference, &pos, &polar);
    EXPECT_EQ(grid.at(-10000.0, 37500.0), std::lround(polar.azimuth / kDegree) * 1000.0 +
                                              expected_bin(polar.range * 1000.0, el, layout.range));
}

TEST(RadarGridTest, NoEchoAndNotScannedStayApart) {
    SweepLayout layout;
    layout.scale = reflectivity_codes();
    layout.range = dscan{125.0, 250.0, 300};
    ScanHandle scan = scan_of({value_sweep(layout, [](int, int bin) {
        return bin < 100 ? -std::numeric_limits<double>::infinity() : bin < 200 ? 30.0 : kNaN;
    })});
    Grid grid{301, 1000.0};
    ASSERT_EQ(
        pvol_grid_sweep(scan.get(), 0, RD_DBZ, grid.size, grid.pixel, kNoEcho, grid.values.data()),
        0);
    EXPECT_EQ(grid.at(12000.0, 0.0), kNoEcho);
    EXPECT_NEAR(grid.at(40000.0, 0.0), 30.0, 0.01);
    EXPECT_TRUE(std::isnan(grid.at(60000.0, 0.0)));   // not scanned
    EXPECT_TRUE(std::isnan(grid.at(0.0, -80000.0)));  // beyond the bins
    // The library's own marker passes through when asked for.
    ASSERT_EQ(pvol_grid_sweep(scan.get(), 0, RD_DBZ, grid.size, grid.pixel, kBelowThreshold,
                              grid.values.data()),
              0);
    EXPECT_EQ(grid.at(12000.0, 0.0), kBelowThreshold);
}

TEST(RadarGridTest, CoverageEndsOneBeamSpacingBeyondTheOutermostRays) {
    SweepLayout sector;
    sector.rays = 90;  // centres 0 .. 89 degrees
    SweepLayout no_sector;
    no_sector.rays = 90;  // centres 0, 2, .. 178 degrees, spacing taken from the rays
    no_sector.degrees_per_ray = 2;
    no_sector.sector = false;
    const BinValue ray_number = [](int ray, int) { return ray; };
    ScanHandle scan =
        scan_of({value_sweep(sector, ray_number), value_sweep(no_sector, ray_number)});
    Grid grid{661, 250.0};  // pixels at 80 km lie within 0.13 degrees of the azimuth asked
    auto at_azimuth = [&grid](double degrees) {
        return grid.at(80000.0 * std::sin(degrees * kDegree),
                       80000.0 * std::cos(degrees * kDegree));
    };

    ASSERT_EQ(
        pvol_grid_sweep(scan.get(), 0, RD_DBZ, grid.size, grid.pixel, kNoEcho, grid.values.data()),
        0);
    EXPECT_EQ(at_azimuth(45.2), 45.0);
    EXPECT_EQ(at_azimuth(89.8), 89.0);
    EXPECT_EQ(at_azimuth(359.2), 0.0);
    EXPECT_TRUE(std::isnan(at_azimuth(91.5)));
    EXPECT_TRUE(std::isnan(at_azimuth(180.0)));
    EXPECT_TRUE(std::isnan(at_azimuth(357.5)));

    ASSERT_EQ(
        pvol_grid_sweep(scan.get(), 1, RD_DBZ, grid.size, grid.pixel, kNoEcho, grid.values.data()),
        0);
    EXPECT_EQ(at_azimuth(4.6), 2.0);
    EXPECT_EQ(at_azimuth(179.5), 89.0);
    EXPECT_TRUE(std::isnan(at_azimuth(181.5)));
    EXPECT_TRUE(std::isnan(at_azimuth(270.0)));
}

TEST(RadarGridTest, ColumnMaximumPrefersEchoToNoEchoAndNoEchoToNothing) {
    SweepLayout low;  // 50 km of weak echo near the radar, nothing beyond 25 km
    low.range = dscan{125.0, 250.0, 200};
    SweepLayout high;  // 25 km: strong echo in the east, none in the west
    high.elevation_degrees = 1.5;
    high.range = dscan{125.0, 250.0, 100};
    SweepLayout rhi;  // ignored by the column maximum
    rhi.sweep_type = SWEEP_RHI;
    ScanHandle scan = scan_of({
        value_sweep(low, [](int, int bin) { return bin < 100 ? 20.0 : kBelowThreshold; }),
        value_sweep(high, [](int ray, int) { return ray < 180 ? 35.0 : kBelowThreshold; }),
        value_sweep(rhi, [](int, int) { return 60.0; }),
    });
    Grid grid{301, 500.0};
    ASSERT_EQ(pvol_grid_max(scan.get(), RD_DBZ, grid.size, grid.pixel, kNoEcho, grid.values.data()),
              0);
    EXPECT_EQ(grid.at(10000.0, 0.0), 35.0);
    EXPECT_EQ(grid.at(-10000.0, 0.0), 20.0);
    EXPECT_EQ(grid.at(-40000.0, 0.0), kNoEcho);
    EXPECT_TRUE(std::isnan(grid.at(-60000.0, 0.0)));

    ASSERT_EQ(
        pvol_grid_sweep(scan.get(), 1, RD_DBZ, grid.size, grid.pixel, kNoEcho, grid.values.data()),
        0);
    EXPECT_EQ(grid.at(-10000.0, 0.0), kNoEcho);
    EXPECT_TRUE(std::isnan(grid.at(-40000.0, 0.0)));
}

TEST(RadarGridTest, ReachFollowsTheBinsNotTheirValues) {
    SweepLayout low;  // 50 km of bins, not scanned beyond 25 km
    low.range = dscan{125.0, 250.0, 200};
    SweepLayout high;  // 25 km of bins
    high.elevation_degrees = 1.5;
    high.range = dscan{125.0, 250.0, 100};
    SweepLayout rhi;
    rhi.sweep_type = SWEEP_RHI;
    ScanHandle scan = scan_of({
        value_sweep(low, [](int, int bin) { return bin < 100 ? 20.0 : kNaN; }),
        value_sweep(high, [](int, int) { return kNaN; }),
        value_sweep(rhi, [](int, int) { return 60.0; }),
    });
    const int size = 301;
    std::vector<unsigned char> reached(size * size, 7);
    const auto at = [&](double east) {
        return reached.at(size / 2 * size + size / 2 + static_cast<int>(east / 500.0));
    };
    ASSERT_EQ(pvol_grid_reach(scan.get(), -1, RD_DBZ, size, 500.0, reached.data()), 0);
    EXPECT_EQ(at(10000.0), 1);
    EXPECT_EQ(at(-40000.0), 1);  // not scanned, yet within the low sweep's bins
    EXPECT_EQ(at(60000.0), 0);
    ASSERT_EQ(pvol_grid_reach(scan.get(), 1, RD_DBZ, size, 500.0, reached.data()), 0);
    EXPECT_EQ(at(20000.0), 1);
    EXPECT_EQ(at(40000.0), 0);

    std::fill(reached.begin(), reached.end(), 7);
    EXPECT_EQ(pvol_grid_reach(scan.get(), 2, RD_DBZ, size, 500.0, reached.data()), 1);  // RHI
    EXPECT_EQ(pvol_grid_reach(scan.get(), 3, RD_DBZ, size, 500.0, reached.data()), 1);
    EXPECT_EQ(pvol_grid_reach(scan.get(), -1, RD_VEL, size, 500.0, reached.data()), 1);
    EXPECT_EQ(pvol_grid_reach(scan.get(), -1, RD_DBZ, 0, 500.0, reached.data()), 1);
    EXPECT_EQ(pvol_grid_reach(scan.get(), -1, RD_DBZ, size, kNaN, reached.data()), 1);
    EXPECT_EQ(pvol_grid_reach(nullptr, -1, RD_DBZ, size, 500.0, reached.data()), 1);
    EXPECT_EQ(pvol_grid_reach(scan.get(), -1, RD_DBZ, size, 500.0, nullptr), 1);
    EXPECT_EQ(std::count(reached.begin(), reached.end(), 7), size * size);
}

TEST(RadarGridTest, RefusalsLeaveTheValuesAlone) {
    SweepLayout rhi;
    rhi.sweep_type = SWEEP_RHI;
    const BinValue value = [](int, int) { return 10.0; };
    ScanHandle scan = scan_of({value_sweep(SweepLayout{}, value), value_sweep(rhi, value)});
    Grid grid{5, 1000.0};
    double *values = grid.values.data();
    EXPECT_EQ(pvol_grid_sweep(nullptr, 0, RD_DBZ, 5, 1000.0, kNoEcho, values), 1);
    EXPECT_EQ(pvol_grid_sweep(scan.get(), 0, RD_DBZ, 5, 1000.0, kNoEcho, nullptr), 1);
    for (int size : {0, -1, 32769})
        EXPECT_EQ(pvol_grid_sweep(scan.get(), 0, RD_DBZ, size, 1000.0, kNoEcho, values), 1);
    for (double pixel : {0.0, -500.0, kNaN, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(pvol_grid_sweep(scan.get(), 0, RD_DBZ, 5, pixel, kNoEcho, values), 1);
        EXPECT_EQ(pvol_grid_max(scan.get(), RD_DBZ, 5, pixel, kNoEcho, values), 1);
    }
    EXPECT_EQ(pvol_grid_sweep(scan.get(), -1, RD_DBZ, 5, 1000.0, kNoEcho, values), 1);
    EXPECT_EQ(pvol_grid_sweep(scan.get(), 2, RD_DBZ, 5, 1000.0, kNoEcho, values), 1);
    EXPECT_EQ(pvol_grid_sweep(scan.get(), 1, RD_DBZ, 5, 1000.0, kNoEcho, values), 1);  // RHI
    EXPECT_EQ(pvol_grid_sweep(scan.get(), 0, RD_VEL, 5, 1000.0, kNoEcho, values), 1);
    EXPECT_EQ(pvol_grid_max(scan.get(), RD_VEL, 5, 1000.0, kNoEcho, values), 1);

    PositionHandle moving(rposition_new_moving());
    pvol_set_position(scan.get(), moving.get());
    moving.reset();
    map_proj proj;
    EXPECT_EQ(pvol_grid_projection(scan.get(), &proj), 1);
    EXPECT_EQ(pvol_grid_max(scan.get(), RD_DBZ, 5, 1000.0, kNoEcho, values), 1);
    for (double v : grid.values)
        EXPECT_EQ(v, 7.0);
}

TEST(RadarGridTest, SampleVolumeShowsItsCellsWhereTheyWereMade) {
    ScanHandle scan = read_files({PVOL_SAMPLE_VOLUME});
    ASSERT_NE(scan, nullptr);
    Grid grid{201, 1000.0};
    ASSERT_EQ(pvol_grid_max(scan.get(), RD_DBZ, grid.size, grid.pixel, kNoEcho, grid.values.data()),
              0);
    // The strongest cell: 58 dBZ at 35 km east, 48 km north; the sample stores the clear air
    // 28 km south of it as not scanned.
    EXPECT_GT(grid.at(35000.0, 48000.0), 53.0);
    EXPECT_TRUE(std::isnan(grid.at(35000.0, 20000.0)));
    EXPECT_TRUE(std::isnan(grid.at(-90000.0, 90000.0)));  // beyond the 100 km of bins
    // Reach tells the two apart.
    std::vector<unsigned char> reached(grid.values.size());
    ASSERT_EQ(pvol_grid_reach(scan.get(), -1, RD_DBZ, grid.size, grid.pixel, reached.data()), 0);
    EXPECT_EQ(reached[(100 - 20) * 201 + 100 + 35], 1);
    EXPECT_EQ(reached[(100 - 90) * 201 + 100 - 90], 0);
}

}  // namespace
