// Per-sweep compression as rawpipe does it: a weather-like volume published in the LZ4 per-sweep
// form on 1, 2 or 4 threads to a sink that only counts the envelopes' bytes, beside LZ4 alone on
// the same moment sweep buffers. bytes_per_second counts the uncompressed 16-bit codes; reading
// the volume is not timed.
#include <stdio.h>

#include <lz4.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "per_scan_publisher.h"
#include "pvol/pvol_prod_io.h"
#include "weather_volume.h"

namespace {

constexpr int kRays = 360, kBins = 1000;

struct Volume {
    rawfile::Bytes raw;
    rawfile::Bytes sweep_data;  // moment sweep after moment sweep, as published
};

// Made once per sweep count: making a volume takes longer than publishing it.
const Volume &volume(int sweeps) {
    static std::map<int, Volume> made;
    auto [place, fresh] = made.try_emplace(sweeps);
    if (fresh)
        place->second.raw =
            weather::volume(sweeps, kRays, kBins, &place->second.sweep_data).bytes();
    return place->second;
}

struct MemoryFile {
    const rawfile::Bytes *bytes;
    bool given = false;
};

FILE *next_memory_file(void *arg) {
    auto *file = static_cast<MemoryFile *>(arg);
    if (file->given)
        return nullptr;
    file->given = true;
    return fmemopen(const_cast<unsigned char *>(file->bytes->data()), file->bytes->size(), "rb");
}

class CountingSink : public azm::Publisher {
  public:
    void send_payload(azm::pb::Payload &payload) override { bytes += payload.ByteSizeLong(); }
    std::size_t bytes = 0;
};

void BM_PublishSweeps(benchmark::State &state) {
    const int sweeps = static_cast<int>(state.range(0));
    const auto threads = static_cast<unsigned>(state.range(1));
    const Volume &made = volume(sweeps);
    for (auto _ : state) {
        state.PauseTiming();
        MemoryFile file{&made.raw};
        radar_scan *scan = pvol_new_from_raw2(&file, next_memory_file, nullptr, 1);
        state.ResumeTiming();
        if (scan == nullptr) {
            state.SkipWithError("the reader refused the volume");
            break;
        }
        CountingSink sink;
        azm::PerScanPublisher publisher(&sink, scan, 0, {}, azm::PerScanPublisher::PER_SWEEP_LZ4);
        publisher.set_threads(threads);
        publisher.publish();
        benchmark::DoNotOptimize(sink.bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * made.sweep_data.size()));
}

// The yardstick: one LZ4 block per moment sweep buffer, on one thread, nothing else.
void BM_Lz4SweepBuffers(benchmark::State &state) {
    const int sweeps = static_cast<int>(state.range(0));
    const Volume &made = volume(sweeps);
    const int buffer = 2 * kRays * kBins;
    std::string out(static_cast<std::size_t>(LZ4_compressBound(buffer)), '\0');
    for (auto _ : state) {
        for (std::size_t at = 0; at < made.sweep_data.size(); at += buffer) {
            const int written =
                LZ4_compress_default(reinterpret_cast<const char *>(made.sweep_data.data() + at),
                                     out.data(), buffer, static_cast<int>(out.size()));
            benchmark::DoNotOptimize(written);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * made.sweep_data.size()));
}

BENCHMARK(BM_PublishSweeps)
    ->Args({1, 1})
    ->Args({10, 1})
    ->Args({10, 2})
    ->Args({10, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Lz4SweepBuffers)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
