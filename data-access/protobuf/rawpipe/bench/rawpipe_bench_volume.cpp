// Writes a large weather-like RAW volume for measuring rawpipe, and beside it the bytes of all its
// moment sweeps as rawpipe publishes them before compression (16-bit little-endian codes, ray
// after ray, one moment sweep after the other), for comparing with a plain compressor.
//
//   rawpipe_bench_volume VOLUME.raw SWEEPS.bin [SWEEPS RAYS BINS]
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "weather_volume.h"

int main(int argc, char *argv[]) {
    if (argc != 3 && argc != 6) {
        std::fprintf(stderr, "usage: %s VOLUME.raw SWEEPS.bin [SWEEPS RAYS BINS]\n", argv[0]);
        return 2;
    }
    const int sweeps = argc == 6 ? std::atoi(argv[3]) : 10;
    const int rays = argc == 6 ? std::atoi(argv[4]) : 360;
    const int bins = argc == 6 ? std::atoi(argv[5]) : 1000;
    if (sweeps < 1 || rays < 1 || bins < 1) {
        std::fprintf(stderr, "%s: sweeps, rays and bins must be positive\n", argv[0]);
        return 2;
    }
    rawfile::Bytes sweep_data;
    const rawfile::Bytes raw = weather::volume(sweeps, rays, bins, &sweep_data).bytes();
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char *>(raw.data()), static_cast<std::streamsize>(raw.size()));
    out.close();
    std::ofstream data(argv[2], std::ios::binary);
    data.write(reinterpret_cast<const char *>(sweep_data.data()),
               static_cast<std::streamsize>(sweep_data.size()));
    data.close();
    if (!out || !data) {
        std::fprintf(stderr, "%s: cannot write the volume or its sweep data\n", argv[0]);
        return 1;
    }
    return 0;
}
