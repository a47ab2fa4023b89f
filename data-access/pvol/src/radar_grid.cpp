// Cartesian grids of PPI sweeps on the azimuthal equidistant projection around the radar.
#include "pvol/radar_grid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "orva_utils_internal.h"
#include "pvol_boundary.h"
#include "pvol_handles.h"
#include "pvol/radar_scan.h"

using namespace pvol_internal;

namespace {

constexpr int kMaxGridSize = 32768;
// 4/3-earth model: refraction bends the beam as if it ran straight over an earth of this radius.
constexpr double kEffectiveRadiusM = 4.0 / 3.0 * kEarthRadiusKm * 1000.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kNoEcho = -std::numeric_limits<double>::infinity();  // how rray_get_dat says it

double wrap_azimuth(double azimuth) {
    double a = std::fmod(azimuth, kTwoPi);
    return a < 0.0 ? a + kTwoPi : a;
}

// Where every pixel centre lies, row by row: its azimuth (radians) and the sine and cosine of
// its ground distance as an angle at the centre of the effective earth. On the azimuthal
// equidistant projection around the radar, the map distance and direction of a point from the
// centre are its ground distance and azimuth, so these follow from the map coordinates alone.
struct PixelPositions {
    std::vector<double> azimuth;
    std::vector<double> sin_psi;
    std::vector<double> cos_psi;  // -2 for a pixel beyond a quarter of the effective earth
};

constexpr double kOutOfReach = -2.0;

PixelPositions pixel_positions(int size, double pixel_metres) {
    const std::size_t count = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    PixelPositions pixels{std::vector<double>(count), std::vector<double>(count),
                          std::vector<double>(count)};
    const double half = size / 2.0;
    std::size_t k = 0;
    for (int row = 0; row < size; ++row) {
        const double y = (half - row - 0.5) * pixel_metres;
        for (int column = 0; column < size; ++column, ++k) {
            const double x = (column + 0.5 - half) * pixel_metres;
            const double psi = std::hypot(x, y) / kEffectiveRadiusM;
            pixels.azimuth[k] = wrap_azimuth(std::atan2(x, y));
            pixels.sin_psi[k] = std::sin(psi);
            pixels.cos_psi[k] = psi < kHalfPi ? std::cos(psi) : kOutOfReach;
        }
    }
    return pixels;
}

// One ray's physical values with the range and elevation that place them.
struct RayRow {
    double azimuth;  // centre, 0 .. 2 pi
    double sin_elevation;
    double cos_elevation;
    double range_start;  // m, centre of the first bin
    double range_step;
    std::size_t first;  // index of the first bin in SweepTable::values
    std::size_t bins;
};

// The rays of one sweep that hold the moment, ordered by azimuth.
struct SweepTable {
    std::vector<RayRow> rows;
    std::vector<double> values;
    double spacing = 0.0;  // beam spacing, radians
};

double azimuth_distance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, kTwoPi - d);
}

// The median of the gaps between neighbouring ray azimuths (rows sorted), across north too.
double median_spacing(const std::vector<RayRow> &rows) {
    if (rows.size() < 2)
        return kTwoPi / 360.0;
    std::vector<double> gaps;
    gaps.reserve(rows.size());
    for (std::size_t i = 1; i < rows.size(); ++i)
        gaps.push_back(rows[i].azimuth - rows[i - 1].azimuth);
    gaps.push_back(rows.front().azimuth + kTwoPi - rows.back().azimuth);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

// False when no ray of the sweep holds the moment.
bool read_sweep(const radar_sweep *sweep, int moment_type, SweepTable &table) {
    RayDataHandle buffer(radar_ray_data_new());
    if (!buffer)
        throw std::bad_alloc();
    const double fixed_angle = rsweep_get_fixed_angle(sweep);
    const int ray_count = static_cast<int>(rsweep_get_ray_count(sweep));
    for (int r = 0; r < ray_count; ++r) {
        const radar_ray *ray = rsweep_get_ray(sweep, r);
        if (ray == nullptr)
            continue;
        const double azimuth = rray_get_azimuth(ray).between;
        const radar_ray_conf *rconf = rray_get_config(ray);
        const int slot = rayconf_get_moment_index(rconf, moment_type);
        if (!std::isfinite(azimuth) || slot < 0)
            continue;
        dscan range;
        rmoment_get_range_mask(rayconf_get_moment(rconf, slot), &range);
        if (!(range.step > 0.0) || !std::isfinite(range.start) || !std::isfinite(range.step))
            continue;
        if (rray_get_dat(ray, slot, buffer.get()) == nullptr)
            continue;  // a slot without bins covers nothing
        double elevation = rray_get_elevation(ray).between;
        if (!std::isfinite(elevation))
            elevation = fixed_angle;
        const double *bins = static_cast<const double *>(buffer->data);
        table.rows.push_back({wrap_azimuth(azimuth), std::sin(elevation), std::cos(elevation),
                              range.start, range.step, table.values.size(), buffer->bins});
        table.values.insert(table.values.end(), bins, bins + buffer->bins);
    }
    if (table.rows.empty())
        return false;
    std::stable_sort(table.rows.begin(), table.rows.end(),
                     [](const RayRow &a, const RayRow &b) { return a.azimuth < b.azimuth; });
    dscan sector;
    sweepconf_get_sector(rsweep_get_config(sweep), &sector);
    table.spacing = std::isfinite(sector.step) && sector.step != 0.0 ? std::fabs(sector.step)
                                                                     : median_spacing(table.rows);
    return true;
}

// The row nearest to azimuth, or null when none lies within the beam spacing.
const RayRow *nearest_row(const SweepTable &table, double azimuth) {
    const auto above =
        std::lower_bound(table.rows.begin(), table.rows.end(), azimuth,
                         [](const RayRow &row, double a) { return row.azimuth < a; });
    // The neighbours on either side, across north at the ends.
    const RayRow &after = above == table.rows.end() ? table.rows.front() : *above;
    const RayRow &before = above == table.rows.begin() ? table.rows.back() : *(above - 1);
    const double to_after = azimuth_distance(azimuth, after.azimuth);
    const double to_before = azimuth_distance(azimuth, before.azimuth);
    const RayRow &nearest = to_before <= to_after ? before : after;
    return std::min(to_before, to_after) <= table.spacing ? &nearest : nullptr;
}

constexpr std::size_t kNoBin = static_cast<std::size_t>(-1);

// Where in table.values the bin covering a pixel lies, kNoBin where no bin covers it.
std::size_t covering_bin(const SweepTable &table, const PixelPositions &pixels, std::size_t k) {
    const RayRow *row = nearest_row(table, pixels.azimuth[k]);
    if (row == nullptr || pixels.cos_psi[k] == kOutOfReach)
        return kNoBin;
    // The triangle earth centre - antenna - target, with the beam straight over the effective
    // earth: the angle at the target is pi/2 - (psi + elevation), psi the angle at the centre.
    const double cos_target =
        pixels.cos_psi[k] * row->cos_elevation - pixels.sin_psi[k] * row->sin_elevation;
    if (cos_target <= 0.0)
        return kNoBin;
    const double slant = kEffectiveRadiusM * pixels.sin_psi[k] / cos_target;
    const double bin = std::floor((slant - row->range_start) / row->range_step + 0.5);
    if (bin < 0.0 || bin >= static_cast<double>(row->bins))
        return kNoBin;
    return row->first + static_cast<std::size_t>(bin);
}

// The value of the bin covering a pixel: NaN where nothing covers it, -infinity for no echo.
double pixel_value(const SweepTable &table, const PixelPositions &pixels, std::size_t k) {
    const std::size_t bin = covering_bin(table, pixels, k);
    return bin == kNoBin ? kNaN : table.values[bin];
}

// Greatest of two pixel values, where a value beats no echo and no echo beats NaN.
double column_max(double a, double b) {
    if (std::isnan(a))
        return b;
    if (std::isnan(b))
        return a;
    return std::max(a, b);
}

bool valid_grid(const radar_scan *scan, int size, double pixel_metres, const void *values) {
    return scan != nullptr && values != nullptr && size >= 1 && size <= kMaxGridSize &&
           std::isfinite(pixel_metres) && pixel_metres > 0.0;
}

// Grids the given sweeps into values (column maximum when there are several); false when the
// scan's position gives no projection.
bool grid_sweeps(const radar_scan *scan, const std::vector<SweepTable> &tables, int size,
                 double pixel_metres, double no_echo, double *values) {
    map_proj proj;
    if (pvol_grid_projection(scan, &proj) != 0)
        return false;
    const PixelPositions pixels = pixel_positions(size, pixel_metres);
    std::vector<double> grid(pixels.azimuth.size(), kNaN);
    for (const SweepTable &table : tables) {
        for (std::size_t k = 0; k < grid.size(); ++k)
            grid[k] = column_max(grid[k], pixel_value(table, pixels, k));
    }
    for (std::size_t k = 0; k < grid.size(); ++k)
        values[k] = grid[k] == kNoEcho ? no_echo : grid[k];
    return true;
}

// The sweep tables of the PPI sweep at sweep_index, or of every PPI sweep that holds the moment
// when sweep_index is negative; false when there is none.
bool read_tables(const radar_scan *scan, int sweep_index, int moment_type,
                 std::vector<SweepTable> &tables) {
    int index = 0;
    for (const radar_sweep *sweep = pvol_get_next_sweep(scan, nullptr); sweep != nullptr;
         sweep = pvol_get_next_sweep(scan, sweep), ++index) {
        if (sweep_index >= 0 && index != sweep_index)
            continue;
        const bool ppi = sweepconf_get_type(rsweep_get_config(sweep)) == SWEEP_PPI;
        SweepTable table;
        if (ppi && read_sweep(sweep, moment_type, table))
            tables.push_back(std::move(table));
        else if (sweep_index >= 0)
            return false;
    }
    return !tables.empty();
}

}  // namespace

extern "C" {

int pvol_grid_projection(const radar_scan *scan, map_proj *proj) {
    if (scan == nullptr || proj == nullptr)
        return 1;
    rposition_fixed site;
    if (rposition_get_fixed(pvol_get_position(scan), &site) == nullptr)
        return 1;
    *proj = map_proj{};
    proj->type = AZIMUTHAL;
    proj->reference.latitude = site.latitude;
    proj->reference.longitude = site.longitude;
    proj->earth_radius = kEarthRadiusKm;
    return 0;
}

int pvol_grid_sweep(const radar_scan *scan, int sweep_index, int moment_type, int size,
                    double pixel_metres, double no_echo, double *values) {
    if (!valid_grid(scan, size, pixel_metres, values) || sweep_index < 0)
        return 1;
    return pvol_boundary::no_throw(1, [&] {
        std::vector<SweepTable> tables;
        if (!read_tables(scan, sweep_index, moment_type, tables))
            return 1;
        return grid_sweeps(scan, tables, size, pixel_metres, no_echo, values) ? 0 : 1;
    });
}

int pvol_grid_max(const radar_scan *scan, int moment_type, int size, double pixel_metres,
                  double no_echo, double *values) {
    if (!valid_grid(scan, size, pixel_metres, values))
        return 1;
    return pvol_boundary::no_throw(1, [&] {
        std::vector<SweepTable> tables;
        if (!read_tables(scan, -1, moment_type, tables))
            return 1;
        return grid_sweeps(scan, tables, size, pixel_metres, no_echo, values) ? 0 : 1;
    });
}

int pvol_grid_reach(const radar_scan *scan, int sweep_index, int moment_type, int size,
                    double pixel_metres, unsigned char *reached) {
    if (!valid_grid(scan, size, pixel_metres, reached))
        return 1;
    return pvol_boundary::no_throw(1, [&] {
        std::vector<SweepTable> tables;
        map_proj proj;
        if (!read_tables(scan, sweep_index, moment_type, tables) ||
            pvol_grid_projection(scan, &proj) != 0)
            return 1;
        const PixelPositions pixels = pixel_positions(size, pixel_metres);
        for (std::size_t k = 0; k < pixels.azimuth.size(); ++k) {
            reached[k] = 0;
            for (const SweepTable &table : tables)
                reached[k] = reached[k] || covering_bin(table, pixels, k) != kNoBin;
        }
        return 0;
    });
}

}  // extern "C"
