// A RAW volume whose fields look like weather, for benchmarks: eight 16-bit moments over
// convective cells and a stratiform rain band that weaken with elevation, ground clutter near the
// radar, measurement noise on every echo, and no data (code 0) where there is no echo. Built with
// the test-side file builder; the same sizes always give the same volume. At 10 sweeps x 360 rays
// x 1000 bins its 57.6 MB of sweep data compress about 2:1 with lz4 -1.
//
//   rawfile::Bytes sweep_data;  // optional: the 16-bit codes, moment sweep after moment sweep
//   rawfile::RawFile file = weather::volume(10, 360, 1000, &sweep_data);
#ifndef PVOL_TESTS_WEATHER_VOLUME_H
#define PVOL_TESTS_WEATHER_VOLUME_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <random>
#include <vector>

#include "raw_file_builder.h"

namespace weather {

// 16-bit ORVA codes of total power, reflectivity, velocity, width, ZDR, KDP, RhoHV and PhiDP.
inline constexpr int kWeatherMoments[] = {8, 9, 10, 11, 12, 15, 20, 24};

struct Cell {
    double azimuth, range;  // centre, degrees and bins
    double radius;          // bins
    double peak;            // dBZ
};

class Weather {
  public:
    Weather(int rays, int bins) : rays_(rays), bins_(bins), random_(20240601) {
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int i = 0; i < 14; ++i) {
            cells_.push_back({360.0 * unit(random_), bins * (0.1 + 0.75 * unit(random_)),
                              bins * (0.015 + 0.05 * unit(random_)), 38.0 + 22.0 * unit(random_)});
        }
    }

    // Reflectivity in dBZ at a ray and bin of a sweep (from 1), below 0 where there is no echo.
    double echo(int sweep, int ray, int bin) const {
        const double azimuth = 360.0 * ray / rays_;
        const double r = static_cast<double>(bin) / bins_;
        double dbz = -10.0;
        // A band of stratiform rain with some texture, lower with each sweep as the beam rises
        // out of it.
        const double band = std::sin(azimuth * M_PI / 180.0 * 2.0 + r * 5.0) +
                            0.6 * std::sin(azimuth * M_PI / 180.0 * 7.0 - r * 13.0) + 0.05;
        if (band > 0) {
            dbz = 12.0 + 12.0 * band - 0.8 * sweep - 6.0 * r;
        }
        for (const Cell &cell : cells_) {
            double da = std::fabs(azimuth - cell.azimuth);
            da = std::min(da, 360.0 - da) * M_PI / 180.0 * cell.range;
            const double dr = bin - cell.range,
                         d2 = (da * da + dr * dr) / (cell.radius * cell.radius);
            if (d2 < 9.0) {
                dbz = std::max(dbz, cell.peak * std::exp(-d2 / 2.0) - 0.8 * sweep);
            }
        }
        // Ground clutter within the first kilometres of the lowest sweeps.
        if (sweep <= 2 && bin < bins_ / 25 && ((ray * 31 + bin * 17) % 7) < 3) {
            dbz = std::max(dbz, 45.0 - bin * 0.5);
        }
        return dbz < 5.0 ? -1.0 : dbz;
    }

    // A measurement error of about this many units.
    double noise(double spread) {
        return spread * (unit_(random_) + unit_(random_) + unit_(random_) - 1.5);
    }

  private:
    int rays_, bins_;
    std::mt19937 random_;
    std::uniform_real_distribution<double> unit_{0.0, 1.0};
    std::vector<Cell> cells_;
};

// The 16-bit code of a value in hundredths above 32768, kept within the valid codes.
inline int hundredths(double value) {
    return std::clamp(32768 + static_cast<int>(std::lround(value * 100.0)), 1, 65534);
}

// The codes of one moment along a ray, from the reflectivity of its bins.
inline void moment_codes(int code, int ray, int rays, const std::vector<double> &dbz,
                         Weather &weather, std::vector<int> &codes) {
    const double azimuth = 2.0 * M_PI * ray / rays;
    double phidp = 20.0;
    for (std::size_t k = 0; k < dbz.size(); ++k) {
        const double z = dbz[k];
        if (z < 0) {
            codes[k] = 0;
            continue;
        }
        const double r = static_cast<double>(k) / dbz.size();
        const double kdp = std::max(0.0, (z - 35.0) / 8.0);
        phidp += 2.0 * kdp * 0.25;
        switch (code) {
            case 8:
                codes[k] = hundredths(z + 1.5 + weather.noise(2.0));
                break;
            case 9:
                codes[k] = hundredths(z + weather.noise(1.0));
                break;
            case 10:  // a wind from the south-west, stronger aloft
                codes[k] =
                    hundredths(18.0 * (0.5 + r) * std::cos(azimuth - 3.9) + weather.noise(2.0));
                break;
            case 11:
                codes[k] = hundredths(1.0 + z / 20.0 + std::fabs(weather.noise(3.0)));
                break;
            case 12:
                codes[k] = hundredths(0.3 + z / 25.0 + weather.noise(0.8));
                break;
            case 15:
                codes[k] = hundredths(kdp + weather.noise(0.6));
                break;
            case 20:
                codes[k] = hundredths(0.98 - std::fabs(weather.noise(0.08)));
                break;
            default:
                codes[k] = hundredths(phidp + weather.noise(4.0));
                break;
        }
    }
}

// The volume; sweep_data, when given, receives each moment sweep's codes as 16-bit little-endian
// words, ray after ray, one moment sweep after the other.
inline rawfile::RawFile volume(int sweeps, int rays, int bins, rawfile::Bytes *sweep_data) {
    const int moments = static_cast<int>(std::size(kWeatherMoments));
    rawfile::RawFile file;
    file.ingest.scan(4, 1000, sweeps)
        .mask(std::vector<int>(std::begin(kWeatherMoments), std::end(kWeatherMoments)))
        .range(25000, 25000, bins);
    Weather weather(rays, bins);
    std::vector<std::vector<double>> dbz(rays, std::vector<double>(bins));
    std::vector<int> codes(bins);
    for (int s = 1; s <= sweeps; ++s) {
        for (int p = 0; p < rays; ++p) {
            for (int k = 0; k < bins; ++k) {
                dbz[p][k] = weather.echo(s, p, k);
            }
        }
        rawfile::Sweep sweep;
        sweep.isweep = s;
        sweep.irtotl = rays;
        sweep.fixed_angle = static_cast<std::uint16_t>(s * 65536 / 360);  // s degrees
        sweep.time.seconds += 20 * s;
        for (int m = 0; m < moments; ++m) {
            rawfile::Moment moment{kWeatherMoments[m], 16, {}};
            for (int p = 0; p < rays; ++p) {
                rawfile::Ray ray;
                ray.az_start = static_cast<std::uint16_t>(p * 65536 / rays);
                ray.az_end = static_cast<std::uint16_t>((p + 1) * 65536 / rays);
                ray.el_start = ray.el_end = sweep.fixed_angle;
                ray.seconds = static_cast<std::uint16_t>(p * 20 / rays);
                moment_codes(kWeatherMoments[m], p, rays, dbz[p], weather, codes);
                ray.bins = codes;
                if (sweep_data) {
                    for (const int code : codes) {
                        sweep_data->push_back(static_cast<unsigned char>(code & 0xFF));
                        sweep_data->push_back(static_cast<unsigned char>(code >> 8));
                    }
                }
                moment.rays.push_back(std::move(ray));
            }
            sweep.moments.push_back(std::move(moment));
        }
        file.sweeps.push_back(std::move(sweep));
    }
    return file;
}

}  // namespace weather

#endif  // PVOL_TESTS_WEATHER_VOLUME_H
