#include "nowcast/correlator.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "nowcast/grid.h"
#include "nowcast/trec_algorithm.h"
#include "nowcast/trec_conf.h"

namespace azm {

namespace {

using Raster = boost::multi_array<double, 2>;

Raster rasterOf(const Grid<double> *field, Raster::size_type rows, Raster::size_type columns) {
    Raster raster(boost::extents[rows][columns]);
    if (field == nullptr) {
        std::fill_n(raster.data(), raster.num_elements(), -999.0);
        return raster;
    }
    const double *elements = field->getGrid();
    std::copy_n(elements, raster.num_elements(), raster.data());
    return raster;
}

}  // namespace

Correlator::Correlator(std::shared_ptr<const CorrelationConfig> config)
    : m_config(std::move(config)) {}

void Correlator::run(const boost::uuids::uuid & /*run_id*/, const std::vector<Raster> &rasters,
                     const std::vector<std::uint32_t> &timestamps,
                     std::vector<Raster> &result) const {
    if (timestamps.size() != rasters.size()) {
        throw std::runtime_error("Number of time-stamps does not match number of rasters");
    }
    const std::size_t frame_count = rasters.size();
    if (frame_count < 2) {
        throw std::runtime_error("Correlation needs at least two rasters, got " +
                                 std::to_string(frame_count));
    }
    const Raster::size_type rows = rasters.front().shape()[0];
    const Raster::size_type columns = rasters.front().shape()[1];
    for (const Raster &raster : rasters) {
        if (raster.shape()[0] != rows || raster.shape()[1] != columns) {
            throw std::runtime_error("Input rasters dimensions mismatch");
        }
    }
    const auto *trec_conf = dynamic_cast<const TrecConf *>(m_config.get());
    if (trec_conf == nullptr) {
        throw std::runtime_error("Unknown algorithm");
    }

    TrecAlgorithm algorithm(static_cast<int>(columns), static_cast<int>(rows), *trec_conf);
    // An algorithm that reports a bad configuration or grid size never runs; its fields stay
    // missing (and for an empty raster there are none).
    if (algorithm.getStatus() == 0) {
        const Grid<double> earlier(rasters[frame_count - 2]);
        const Grid<double> later(rasters[frame_count - 1]);
        algorithm.runTrec(earlier, later);
    }
    Raster field_x = rasterOf(algorithm.getMotionFieldPointerX(), rows, columns);
    Raster field_y = rasterOf(algorithm.getMotionFieldPointerY(), rows, columns);
    result.reserve(result.size() + 2);
    result.push_back(std::move(field_x));
    result.push_back(std::move(field_y));
}

}  // namespace azm
