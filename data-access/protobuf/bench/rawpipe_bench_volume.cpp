// Writes a large synthetic RAW volume for measuring rawpipe, and beside it the bytes of all its
// moment sweeps as rawpipe publishes them before compression (16-bit little-endian codes, ray
// after ray, one moment sweep after the other), for comparing with a plain compressor.
//
//   rawpipe_bench_volume VOLUME.raw SWEEPS.bin [SWEEPS RAYS BINS]
//
// Eight 16-bit moments. The fields look like weather: two echo cells with noise on top, and no
// data (code 0) outside them.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "raw_file_builder.h"

namespace {

// 16-bit ORVA codes of total power, reflectivity, velocity, width, ZDR, KDP, RhoHV and PhiDP.
const int kMoments[] = {8, 9, 10, 11, 12, 15, 20, 24};

int code_at(int sweep, int moment, int ray, int bin, std::uint32_t &noise) {
    const double a = ray - 90.0 - 10 * sweep, b = bin - 300.0;
    const double c = ray - 250.0 + 5 * sweep, d = bin - 600.0;
    const double echo = 40 * std::exp(-(a * a / 400 + b * b / 20000)) +
                        25 * std::exp(-(c * c / 900 + d * d / 40000));
    noise = noise * 1664525u + 1013904223u;
    if (echo < 2)
        return 0;
    return 32768 + static_cast<int>(echo * 100) + static_cast<int>(noise >> 24) + 50 * moment;
}

}  // namespace

int main(int argc, char *argv[]) {
    if (argc != 3 && argc != 6) {
        std::fprintf(stderr, "usage: %s VOLUME.raw SWEEPS.bin [SWEEPS RAYS BINS]\n", argv[0]);
        return 2;
    }
    const int sweeps = argc == 6 ? std::atoi(argv[3]) : 10;
    const int rays = argc == 6 ? std::atoi(argv[4]) : 360;
    const int bins = argc == 6 ? std::atoi(argv[5]) : 1000;
    const int moments = static_cast<int>(std::size(kMoments));

    rawfile::RawFile file;
    file.ingest.scan(4, 1000, sweeps)
        .mask(std::vector<int>(std::begin(kMoments), std::end(kMoments)))
        .range(25000, 25000, bins);
    std::ofstream data(argv[2], std::ios::binary);
    std::uint32_t noise = 12345;
    for (int s = 1; s <= sweeps; ++s) {
        rawfile::Sweep sweep;
        sweep.isweep = s;
        sweep.irtotl = rays;
        sweep.fixed_angle = static_cast<std::uint16_t>(s * 65536 / 360);  // s degrees
        sweep.time.seconds += 20 * s;
        for (int m = 0; m < moments; ++m) {
            rawfile::Moment moment{kMoments[m], 16, {}};
            std::vector<unsigned char> bytes;
            for (int p = 0; p < rays; ++p) {
                rawfile::Ray ray;
                ray.az_start = static_cast<std::uint16_t>(p * 65536 / rays);
                ray.az_end = static_cast<std::uint16_t>((p + 1) * 65536 / rays);
                ray.el_start = ray.el_end = sweep.fixed_angle;
                ray.seconds = static_cast<std::uint16_t>(p * 20 / rays);
                for (int k = 0; k < bins; ++k) {
                    const int code = code_at(s, m, p, k, noise);
                    ray.bins.push_back(code);
                    bytes.push_back(static_cast<unsigned char>(code & 0xFF));
                    bytes.push_back(static_cast<unsigned char>(code >> 8));
                }
                moment.rays.push_back(std::move(ray));
            }
            data.write(reinterpret_cast<const char *>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            sweep.moments.push_back(std::move(moment));
        }
        file.sweeps.push_back(std::move(sweep));
    }
    const rawfile::Bytes raw = file.bytes();
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char *>(raw.data()), static_cast<std::streamsize>(raw.size()));
    out.close();
    data.close();
    if (!out || !data) {
        std::fprintf(stderr, "%s: cannot write the volume or its sweep data\n", argv[0]);
        return 1;
    }
    return 0;
}
