// Builds a synthetic radar volume in memory and writes it as an ORVA RAW product file:
//     make-sample-volume [--bits 8|16] [--reflectivity-only] OUTPUT
// or a time series of volumes of the same storms, OUTPUT-00.raw, OUTPUT-01.raw, ...:
//     make-sample-volume [--bits 8|16] [--reflectivity-only] --series COUNT [--interval MINUTES]
//                        [--speed M/S] [--toward DEGREES] [--rotation DEGREES/HOUR]
//                        [--growth DBZ/HOUR] [--anchor VOLUME] OUTPUT
// The sample volume and the sample series in samples/ were made with:
//     make-sample-volume samples/sample-volume.raw
//     make-sample-volume --reflectivity-only --series 3 --speed 15 --toward 60
//     samples/moving-storms
//
// In a series the storms move with the given velocity, turn clockwise about the radar at the
// given rate and their reflectivity grows (or, negative, decays) at the given rate, all measured
// from the time of the anchor volume (the middle of the series unless given), where the storms
// stand as in the single volume; each ray sees them where they are at its own time. The volumes
// follow each other at the interval (5 minutes unless given).
//
// The volume is a C-band dual-polarization PPI task of four sweeps. A few convective cells and a
// band of light rain make the reflectivity; a uniform wind seen along each ray makes the radial
// velocity, folded into the Nyquist interval; spectral width, differential reflectivity,
// correlation and a differential phase that accumulates through the heavy cores follow from the
// reflectivity. Reflectivity, velocity, correlation and differential phase are held as 16-bit
// codes, spectral width and differential reflectivity as 8-bit codes. Everything is computed from
// fixed parameters: the same program always makes the same volume (apart from the generation time
// in the product header).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "data_block_internal.h"
#include "pvol/pvol.h"
#include "pvol_handles.h"

namespace {

constexpr double kDegree = M_PI / 180.0;

// Radar: C band, single PRF.
constexpr double kPrf = 1000.0;                              // Hz
constexpr int kWavelength = 533;                             // hundredths of a centimetre
constexpr double kFrequency = 2.997925e12 / kWavelength;     // Hz
constexpr double kNyquist = kPrf * kWavelength / 40000.0;    // 13.3 m/s
constexpr double kNyquistWidth = kNyquist / M_PI;            // interval of spectral width
constexpr int kTxPolarization = 3;                           // simultaneous H and V
constexpr double kPulseWidth = 8e-7;                         // s
constexpr double kUnambiguousRange = 299792.5 / (2 * kPrf);  // km

// Site.
constexpr double kLatitude = 61.5 * kDegree;
constexpr double kLongitude = 23.8 * kDegree;
constexpr double kGroundHeight = 104.0;  // m above sea level
constexpr double kAntennaHeight = 131.0;

// Scan: 360 rays of one degree, 200 bins of 500 m from 250 m (to 100 km).
constexpr int kRays = 360;
constexpr dscan kRange{250.0, 500.0, 200};
const double kElevations[] = {0.5, 1.5, 3.0, 5.0};
constexpr time_t kVolumeTime = 1717250400;  // 2024-06-01 14:00:00 UTC
constexpr int kSweepSeconds = 30;
constexpr double kSecondsPerRevolution = 20.0;

constexpr double kEffectiveEarthRadius = 4.0 / 3.0 * 6371.0;  // km

// Convective cells: position (km east and north of the radar), peak reflectivity, radius and
// echo top.
struct Cell {
    double x, y;
    double peak_dbz;
    double radius;
    double top;
};
const Cell kCells[] = {
    {35.0, 48.0, 58.0, 5.0, 11.0},  {52.0, 30.0, 50.0, 7.0, 9.0},    {-40.0, 62.0, 46.0, 9.0, 8.0},
    {18.0, -55.0, 54.0, 4.0, 10.0}, {-70.0, -20.0, 40.0, 12.0, 7.0},
};

// Light rain in a band south-west of the radar.
constexpr double kBandDbz = 24.0;
constexpr double kBandTop = 4.0;  // km

// The wind blows at 22 m/s towards 60 degrees (from the south-west).
constexpr double kWindSpeed = 22.0;
constexpr double kWindToward = 60.0 * kDegree;

constexpr double kEchoThreshold = 5.0;  // dBZ; weaker echo is no echo
constexpr double kSystemPhase = 25.0;   // degrees

// A deterministic value in [-1, 1] for a bin: a hash of its indices.
double noise(uint32_t a, uint32_t b, uint32_t c) {
    uint64_t x = (uint64_t{a} << 42) ^ (uint64_t{b} << 21) ^ c;
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

// Where the storms are at one moment: turned clockwise about the radar, then moved, with their
// peaks raised by a gain.
struct StormState {
    double east_km = 0.0;
    double north_km = 0.0;
    double turn = 0.0;  // radians
    double gain_db = 0.0;
};

// How the storms of a series change with time.
struct Series {
    int count = 1;
    double interval_minutes = 5.0;
    double speed = 0.0;     // m/s
    double toward = 0.0;    // degrees clockwise from north
    double rotation = 0.0;  // degrees per hour, clockwise
    double growth = 0.0;    // dBZ per hour
    double anchor = -1.0;   // volume where the storms stand as in the single volume; -1: middle

    // Seconds from the first volume to the anchor.
    double anchor_seconds() const {
        return (anchor < 0.0 ? (count - 1) / 2.0 : anchor) * interval_minutes * 60.0;
    }

    StormState at(double seconds_from_anchor) const {
        const double km = speed * seconds_from_anchor / 1000.0;
        const double hours = seconds_from_anchor / 3600.0;
        return {km * std::sin(toward * kDegree), km * std::cos(toward * kDegree),
                rotation * hours * kDegree, growth * hours};
    }
};

// Reflectivity (dBZ) of the strongest echo at a point, height in km: each cell falls off from
// its peak as a Gaussian in dBZ, and above its top by 10 dB per kilometre.
double reflectivity(double x, double y, double height, const StormState &storms) {
    // The storms as they stand in the single volume: move the point back and turn it back.
    const double east = x - storms.east_km;
    const double north = y - storms.north_km;
    const double c = std::cos(storms.turn);
    const double s = std::sin(storms.turn);
    x = east * c - north * s;
    y = east * s + north * c;
    double dbz = -100.0;
    for (const Cell &cell : kCells) {
        const double d2 = (x - cell.x) * (x - cell.x) + (y - cell.y) * (y - cell.y);
        const double above = std::fmax(0.0, height - cell.top);
        dbz = std::fmax(dbz, (cell.peak_dbz + storms.gain_db) *
                                     std::exp(-d2 / (2 * cell.radius * cell.radius)) -
                                 10.0 * above);
    }
    // The band runs from west-north-west to east-south-east, 45 km south of the radar.
    const double across = (y + 45.0 + 0.25 * x) / 10.0;
    const double above = std::fmax(0.0, height - kBandTop);
    return std::fmax(dbz, (kBandDbz + storms.gain_db) * std::exp(-across * across) - 10.0 * above);
}

// Folds a velocity into the Nyquist interval.
double fold(double velocity) {
    const double interval = 2 * kNyquist;
    double v = std::fmod(velocity + kNyquist, interval);
    if (v < 0)
        v += interval;
    return v - kNyquist;
}

enum Moment { kDbz, kVel, kWidth, kZdr, kRhohv, kPhidp, kMoments };
const int kTypes[kMoments] = {RD_DBZ, RD_VEL, RD_WIDTH, RD_ZDR, RD_RHOHV, RD_PHIDP};
const int kFormats[kMoments] = {BITS_16, BITS_16, BITS_8, BITS_8, BITS_16, BITS_16};

RayConfHandle new_rayconf(int moments) {
    RayConfHandle rconf(rayconf_new(kPrf, kFrequency, kNyquist, kUnambiguousRange, kPulseWidth, 40,
                                    70.5, -30.0, 0.008, kTxPolarization));
    if (rconf == nullptr)
        return nullptr;
    // The ORVA scales of the data types, so that the writer copies the codes as they are.
    data_convert conv;
    FillDataConvert(&conv, kPrf, 0, kWavelength, kTxPolarization, 0);
    for (int m = 0; m < moments; ++m) {
        native_data_desc scale;
        get_descriptor(&scale, kTypes[m], kFormats[m] == BITS_8 ? 1 : 2, &conv);
        if (rayconf_add_moment(rconf.get(), kTypes[m], &kRange, &scale) != m)
            return nullptr;
    }
    return rconf;
}

// The physical values of one ray, one vector per moment; NaN where there is no echo. The noise
// differs from volume to volume of a series.
void fill_ray(int volume, int sweep, int ray, double elevation, double azimuth,
              const StormState &storms, std::vector<std::vector<double>> &values) {
    double phase = kSystemPhase;
    for (uint64_t k = 0; k < kRange.count; ++k) {
        const double range = (kRange.start + k * kRange.step) / 1000.0;  // km
        const double height = range * std::sin(elevation) +
                              range * range / (2 * kEffectiveEarthRadius) + kAntennaHeight / 1000;
        const double ground = range * std::cos(elevation);
        const double x = ground * std::sin(azimuth);
        const double y = ground * std::cos(azimuth);
        const uint32_t s = static_cast<uint32_t>(sweep + 1000 * volume);
        const uint32_t r = static_cast<uint32_t>(ray);
        const uint32_t b = static_cast<uint32_t>(k);
        const double dbz = reflectivity(x, y, height, storms) + 1.5 * noise(s, r, b);
        if (dbz < kEchoThreshold) {
            for (auto &moment : values)
                moment[k] = NAN;
            continue;
        }
        values[kDbz][k] = dbz;
        if (values.size() == 1)
            continue;
        const double radial = kWindSpeed * std::cos(elevation) * std::cos(azimuth - kWindToward) +
                              0.8 * noise(s + 11, r, b);
        const double kdp = dbz > 35.0 ? 0.12 * (dbz - 35.0) : 0.0;  // degrees per km
        phase = std::fmin(phase + 2.0 * kdp * kRange.step / 1000.0, 170.0);
        values[kVel][k] = fold(radial);
        values[kWidth][k] =
            std::fmin(0.9 * kNyquistWidth, 0.8 + dbz / 25.0 + 0.3 * noise(s + 22, r, b));
        values[kZdr][k] =
            std::fmax(-0.5, std::fmin(4.0, 0.2 + 0.06 * (dbz - 20.0) + 0.2 * noise(s + 33, r, b)));
        values[kRhohv][k] = 0.985 - 0.03 * std::fmax(0.0, dbz - 45.0) / 15.0 -
                            0.005 * std::fabs(noise(s + 44, r, b));
        values[kPhidp][k] = phase + 1.5 * noise(s + 55, r, b);
    }
}

// Sweep `index` of volume `volume` of the series.
SweepHandle new_sweep(radar_sweep_conf *sconf, radar_ray_conf *rconf, const Series &series,
                      int volume, int index) {
    SweepHandle sweep(rsweep_new(sconf));
    if (sweep == nullptr)
        return nullptr;
    const double elevation = kElevations[index] * kDegree;
    const double volume_offset = volume * series.interval_minutes * 60.0;  // s
    const timeval sweep_time{
        kVolumeTime + static_cast<time_t>(volume_offset) + index * kSweepSeconds, 0};
    rsweep_set_time(sweep.get(), &sweep_time);
    rsweep_set_fixed_angle(sweep.get(), elevation);
    rsweep_set_schedule_index(sweep.get(), index);

    const size_t moments = rayconf_get_moments_count(rconf);
    std::vector<std::vector<double>> values(moments, std::vector<double>(kRange.count));
    for (int r = 0; r < kRays; ++r) {
        const angle_interval azimuth{r * kDegree, (r + 0.5) * kDegree, (r + 1) * kDegree};
        // The antenna climbs to the elevation during the first ray.
        const angle_interval elevations{elevation - 0.01 * kDegree, elevation, elevation};
        const timeval ray_time{
            sweep_time.tv_sec + static_cast<time_t>(r * kSecondsPerRevolution / kRays), 0};
        RayHandle ray(rray_new(rconf, &azimuth, &elevations, &ray_time, nullptr, -1));
        if (ray == nullptr)
            return nullptr;
        const double seconds_from_anchor =
            static_cast<double>(ray_time.tv_sec - kVolumeTime) - series.anchor_seconds();
        fill_ray(volume, index, r, elevation, azimuth.between, series.at(seconds_from_anchor),
                 values);
        bool stored = true;
        for (size_t m = 0; m < moments && stored; ++m) {
            const radar_ray_data bins{BITS_64, values[m].data(), kRange.count, 0};
            stored = rray_set_dat(ray.get(), static_cast<int>(m), &bins) == 0;
        }
        if (!stored || rsweep_add_ray(sweep.get(), ray.get()) < 0)
            return nullptr;
        ray.release();  // the sweep's now
    }
    return sweep;
}

// Volume `volume` of the series, with the first `moments` moments.
ScanHandle new_volume(const Series &series, int volume, int moments) {
    const rposition_fixed site{kLatitude, kLongitude, kGroundHeight, kAntennaHeight};
    ScanHandle scan(pvol_new("SAMPLE", "Synthetic convective volume", "SAMPLESITE",
                             "Synthetic test site", RPOSITION_FIXED, &site));
    const RayConfHandle rconf = new_rayconf(moments);
    const dscan sector{0.0, kDegree, kRays};
    const SweepConfHandle sconf(sweepconf_new_ppi(&sector));
    if (scan == nullptr || rconf == nullptr || sconf == nullptr ||
        sweepconf_add_rayconf(sconf.get(), rconf.get()) != rconf.get() ||
        sweepconf_add_string(sconf.get(), "ORVA Scan Task Name", "SAMPLE") != 0)
        return nullptr;
    const timeval stamp{kVolumeTime + static_cast<time_t>(volume * series.interval_minutes * 60.0),
                        0};
    pvol_set_time_stamp(scan.get(), &stamp);
    pvol_set_scheduled_sweeps(scan.get(), std::size(kElevations));
    for (int s = 0; s < static_cast<int>(std::size(kElevations)); ++s) {
        SweepHandle sweep = new_sweep(sconf.get(), rconf.get(), series, volume, s);
        if (sweep == nullptr || pvol_add_sweep(scan.get(), sweep.get()) == nullptr)
            return nullptr;
        sweep.release();  // the scan's now
    }
    return scan;
}

int usage() {
    std::fprintf(stderr,
                 "usage: make-sample-volume [--bits 8|16] [--reflectivity-only] OUTPUT\n"
                 "       make-sample-volume [--bits 8|16] [--reflectivity-only] --series COUNT\n"
                 "           [--interval MINUTES] [--speed M/S] [--toward DEGREES]\n"
                 "           [--rotation DEGREES/HOUR] [--growth DBZ/HOUR] [--anchor VOLUME]\n"
                 "           OUTPUT\n");
    return 2;
}

// A number option's value: false unless the whole text is a finite number.
bool parse_number(const char *text, double &value) {
    char *end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// Writes one volume of the series; false (with a message) on failure.
bool write_volume(const Series &series, int volume, int moments, int bin_format,
                  const std::string &output) {
    const ScanHandle scan = new_volume(series, volume, moments);
    if (scan == nullptr) {
        std::fprintf(stderr, "make-sample-volume: out of memory while building the volume\n");
        return false;
    }
    const RawIoHandle io(default_raw_io_new(output.c_str()));
    const char site[16] = "SAMPLEGEN";
    const bool failed =
        io == nullptr || pvol_save_raw(scan.get(), io.get(), site, RAW_SAVE_ONE_FILE, bin_format,
                                       nometa_raw_output) != 0;
    if (failed)
        std::fprintf(stderr, "make-sample-volume: cannot write %s\n", output.c_str());
    return !failed;
}

}  // namespace

int main(int argc, char **argv) {
    int bin_format = BITS_16;
    int moments = kMoments;
    bool is_series = false;
    Series series;
    const char *output = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        double number = 0.0;
        if (arg == "--bits" && has_value) {
            const std::string bits = argv[++i];
            if (bits != "8" && bits != "16")
                return usage();
            bin_format = bits == "8" ? BITS_8 : BITS_16;
        } else if (arg == "--reflectivity-only") {
            moments = 1;
        } else if ((arg == "--series" || arg == "--interval" || arg == "--speed" ||
                    arg == "--toward" || arg == "--rotation" || arg == "--growth" ||
                    arg == "--anchor") &&
                   has_value) {
            if (!parse_number(argv[++i], number))
                return usage();
            if (arg == "--series") {
                // Two digits number the files.
                if (number != std::floor(number) || number < 1 || number > 100)
                    return usage();
                series.count = static_cast<int>(number);
                is_series = true;
            } else if (arg == "--interval") {
                if (number <= 0.0 || number > 24 * 60.0)
                    return usage();
                series.interval_minutes = number;
            } else if (arg == "--speed") {
                series.speed = number;
            } else if (arg == "--toward") {
                series.toward = number;
            } else if (arg == "--rotation") {
                series.rotation = number;
            } else if (arg == "--anchor") {
                if (number < 0.0)
                    return usage();
                series.anchor = number;
            } else {
                series.growth = number;
            }
        } else if (output == nullptr && !arg.empty() && arg[0] != '-') {
            output = argv[i];
        } else {
            return usage();
        }
    }
    if (output == nullptr)
        return usage();
    if (!is_series)
        return write_volume(series, 0, moments, bin_format, output) ? 0 : 1;
    for (int volume = 0; volume < series.count; ++volume) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%02d.raw", volume);
        if (!write_volume(series, volume, moments, bin_format, output + std::string(suffix)))
            return 1;
    }
    return 0;
}
