// Cost of one TREC run with the default configuration on radar-like images, with the direct
// correlation sums and with the summed-area search (the same results, compared by the unit
// tests), and how far the motion field ends from the known motion of the cells.
#include <cmath>

#include <benchmark/benchmark.h>

#include "nowcast/nowcast.h"
#include "test_images.h"

namespace {

constexpr double kShiftX = 3.0;
constexpr double kShiftY = -2.0;

void BM_RunTrec(benchmark::State &state, azm::SearchMethod method) {
    const int size = static_cast<int>(state.range(0));
    const azm::Grid<double> prev = azm::test::cellImage(size, size, 0.0, 0.0);
    const azm::Grid<double> curr = azm::test::cellImage(size, size, kShiftX, kShiftY);
    azm::TrecAlgorithm algorithm(size, size, azm::TrecConf());
    algorithm.setSearchMethod(method);
    for (auto _ : state) {
        benchmark::DoNotOptimize(algorithm.runTrec(prev, curr));
    }

    // Endpoint error: length of the difference between the field vector and the true motion,
    // averaged over all pixels and over the pixels with echo in the earlier image.
    const azm::Grid<double> *field_x = algorithm.getMotionFieldPointerX();
    const azm::Grid<double> *field_y = algorithm.getMotionFieldPointerY();
    double error_sum = 0.0;
    double echo_error_sum = 0.0;
    int echo_pixels = 0;
    for (int k = 0; k < field_x->size(); ++k) {
        const double error = std::hypot(field_x->get(k) - kShiftX, field_y->get(k) - kShiftY);
        error_sum += error;
        if (prev.get(k) > 0.0) {
            echo_error_sum += error;
            ++echo_pixels;
        }
    }
    state.counters["global_error"] =
        std::hypot(algorithm.getGlobalVectorX() - kShiftX, algorithm.getGlobalVectorY() - kShiftY);
    state.counters["endpoint_error"] = error_sum / field_x->size();
    state.counters["echo_endpoint_error"] = echo_pixels > 0 ? echo_error_sum / echo_pixels : 0.0;
}
// The direct method takes many seconds per run on 512 x 512: one run is enough to time it.
BENCHMARK_CAPTURE(BM_RunTrec, direct, azm::SearchMethod::DIRECT)
    ->Arg(128)
    ->Arg(256)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RunTrec, direct, azm::SearchMethod::DIRECT)
    ->Arg(512)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RunTrec, summed_area, azm::SearchMethod::SUMMED_AREA)
    ->Arg(128)
    ->Arg(256)
    ->Arg(512)
    ->Unit(benchmark::kMillisecond);

}  // namespace
