// Throughput of the RAW product reader (pvol_new_from_raw2 with 16-bit data forced) on weather-like
// volumes read from memory: bytes_per_second counts the RAW file read, codes_per_second the bytes
// of uncompressed 16-bit codes the reader makes of them. The file is read through a memory stream,
// so no disk time is counted.
#include <stdio.h>

#include <map>
#include <utility>

#include <benchmark/benchmark.h>

#include "pvol/pvol_prod_io.h"
#include "pvol/radar_scan.h"
#include "weather_volume.h"

namespace {

struct MemoryFile {
    rawfile::Bytes *bytes;
    bool given = false;
};

FILE *next_memory_file(void *arg) {
    auto *file = static_cast<MemoryFile *>(arg);
    if (file->given) {
        return nullptr;
    }
    file->given = true;
    return fmemopen(file->bytes->data(), file->bytes->size(), "rb");
}

constexpr int rays = 360;

// The volume of these sizes, made once: the harness calls a case several times, and making the
// volume takes longer than reading it.
rawfile::Bytes &volume(int sweeps, int bins) {
    static std::map<std::pair<int, int>, rawfile::Bytes> made;
    auto [place, fresh] = made.try_emplace({sweeps, bins});
    if (fresh) {
        place->second = weather::volume(sweeps, rays, bins, nullptr).bytes();
    }
    return place->second;
}

void BM_ReadRaw(benchmark::State &state) {
    const int sweeps = static_cast<int>(state.range(0));
    const int bins = static_cast<int>(state.range(1));
    rawfile::Bytes &raw = volume(sweeps, bins);
    const double code_bytes =
        2.0 * sweeps * rays * bins * static_cast<double>(std::size(weather::kWeatherMoments));
    for (auto _ : state) {
        MemoryFile file{&raw};
        radar_scan *scan = pvol_new_from_raw2(&file, next_memory_file, nullptr, 1);
        if (!scan) {
            state.SkipWithError("the reader refused the volume");
            break;
        }
        pvol_delete(scan);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
    state.counters["codes_per_second"] =
        benchmark::Counter(code_bytes * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
}
// The bench volume (10 sweeps of 1000 bins), and fewer, shorter sweeps to show how cost grows.
BENCHMARK(BM_ReadRaw)
    ->Args({1, 250})
    ->Args({1, 1000})
    ->Args({10, 1000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
