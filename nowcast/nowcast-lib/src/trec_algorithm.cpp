#include "nowcast/trec_algorithm.h"

#include <optional>
#include <stdexcept>
#include <utility>

#include "input_conversion.h"
#include "int_conversion.h"

namespace azm {

namespace {

// Status bits (value 2^n in getStatus).
enum StatusBit : std::size_t {
    kBadSizeX = 0,
    kBadSizeY = 1,
    kBadInputPrecision = 2,
    kGridTooLarge = 3,
    kBadApertureCoverage = 5,
    kBadBoxWidth = 7,
    kBadBoxSpacing = 8,
    kBadSignalCoverage = 9,
    kBadCorrelationThreshold = 10,
    kBadSpeedLimit = 11,
    kBadSpatialDecay = 12,
    kBadSpatialFilter = 13,
    kBadFilterBoxWidth = 14,
    kBadDirectionThreshold = 15,
    kBadMagnitudeThreshold = 16,
    kBadGlobalWeight = 17,
    kBadTemporalMethod = 18,
    kBadHistoryWeight = 19,
    kBadChangeWeight = 20,
    kRunImageSize = 21,
    kRunNoValidPixel = 22,
    kRunPreviousFieldSize = 23,
};

// Each range test reads "not inside", so that a value that is not a number is refused too.
bool outside(double value, double low, double high) {
    return !(value >= low && value <= high);
}

bool outsideAboveZero(double value, double high) {
    return !(value > 0.0 && value <= high);
}

bool sameSize(const Grid<double> &grid, int size_x, int size_y) {
    return grid.sizeX() == size_x && grid.sizeY() == size_y;
}

}  // namespace

TrecAlgorithm::TrecAlgorithm(int x_dim, int y_dim, TrecConf conf)
    : m_grid_size_x(x_dim),
      m_grid_size_y(y_dim),
      m_signal_threshold(conf.m_signal_threshold),
      m_missing_value(conf.m_missing_value),
      m_not_scanned_value(conf.m_not_scanned_value) {
    m_status.set(kBadSizeX, x_dim <= 0);
    m_status.set(kBadSizeY, y_dim <= 0);
    const bool positive_size = x_dim > 0 && y_dim > 0;
    const bool grid_fits = positive_size && detail::gridFitsInt(x_dim, y_dim);
    m_status.set(kGridTooLarge, positive_size && !grid_fits);
    const int precision = conf.m_input_precision;
    if (precision < 0 || precision > 3) {
        m_status.set(kBadInputPrecision);
    } else {
        static constexpr int kPowersOfTen[] = {1, 10, 100, 1000};
        m_input_scale = kPowersOfTen[precision];
    }
    m_status.set(kBadApertureCoverage, outside(conf.m_aperture_coverage_threshold, 0.0, 1.0));
    m_status.set(kBadBoxWidth, conf.m_field_feature_box_width <= 0);
    m_status.set(kBadBoxSpacing, conf.m_field_feature_box_spacing <= 0);
    m_status.set(kBadSignalCoverage, outside(conf.m_field_signal_coverage_threshold, 0.0, 1.0));
    m_status.set(kBadCorrelationThreshold, outsideAboveZero(conf.m_correlation_threshold, 1.0));
    m_status.set(kBadSpeedLimit, conf.m_speed_limit <= 0);
    m_status.set(kBadSpatialDecay, conf.m_field_spatial_decay < 0);
    const int filter = static_cast<int>(conf.m_field_use_spatial_filtering);
    m_status.set(kBadSpatialFilter, filter < 0 || filter > 2);
    // The calculation needs a filter box of at least one pixel even when no filter uses it;
    // a width of 0 is refused here rather than stopping the process there.
    m_status.set(kBadFilterBoxWidth, conf.m_field_spatial_filtering_box_width <= 0);
    m_status.set(kBadDirectionThreshold, conf.m_field_spatial_direction_threshold <= 0 ||
                                             conf.m_field_spatial_direction_threshold > 180);
    m_status.set(kBadMagnitudeThreshold, !(conf.m_field_spatial_magnitude_threshold >= 1.0));
    m_status.set(kBadGlobalWeight, outside(conf.m_field_global_weight, 0.0, 1.0));
    const int method = static_cast<int>(conf.m_temporal_smoothing_method);
    m_status.set(kBadTemporalMethod, method < 0 || method > 2);
    m_status.set(kBadHistoryWeight,
                 outsideAboveZero(conf.m_temporal_smoothing_history_weight, 1.0));
    m_status.set(kBadChangeWeight, outsideAboveZero(conf.m_temporal_smoothing_change_weight, 1.0));

    // Grids exist only for a size that the int indices of the calculation can hold; without
    // them the algorithm never runs.
    if (grid_fits) {
        m_prev_grid = std::make_unique<Grid<int>>(x_dim, y_dim);
        m_curr_grid = std::make_unique<Grid<int>>(x_dim, y_dim);
        m_field_x = std::make_unique<Grid<double>>(x_dim, y_dim);
        m_field_y = std::make_unique<Grid<double>>(x_dim, y_dim);
        m_grid_size = m_field_x->size();
        fillFields(kMissingVector, kMissingVector);
    }
    if (m_status.none()) {
        m_good = true;
        m_calculation = std::make_unique<TrecCalculation>(x_dim, y_dim, conf);
    }
}

TrecAlgorithm::~TrecAlgorithm() = default;

bool TrecAlgorithm::readyToRun() {
    m_status.reset(kRunImageSize);
    m_status.reset(kRunNoValidPixel);
    m_status.reset(kRunPreviousFieldSize);
    return m_status.none();
}

bool TrecAlgorithm::runTrec(const Grid<double> &prev_image, const Grid<double> &curr_image) {
    if (!readyToRun()) {
        return false;
    }
    if (!processInputData(prev_image, curr_image)) {
        setToMissing();
        return false;
    }
    m_calculation->runTrec(*m_prev_grid, *m_curr_grid, m_global_x, m_global_y, m_field_x.get(),
                           m_field_y.get());
    m_good = true;
    return true;
}

bool TrecAlgorithm::runTrec(const Grid<double> &prev_image, const Grid<double> &curr_image,
                            double prev_global_x, double prev_global_y,
                            const Grid<double> &prev_field_x, const Grid<double> &prev_field_y) {
    if (!readyToRun()) {
        return false;
    }
    if (!sameSize(prev_field_x, m_grid_size_x, m_grid_size_y) ||
        !sameSize(prev_field_y, m_grid_size_x, m_grid_size_y)) {
        setToMissing();
        m_status.set(kRunPreviousFieldSize);
        return false;
    }
    if (!processInputData(prev_image, curr_image)) {
        setToMissing();
        return false;
    }
    // The previous fields may be this algorithm's own; the calculation reads them from a copy
    // before it clears its output.
    m_calculation->runTrec(*m_prev_grid, *m_curr_grid, m_global_x, m_global_y, m_field_x.get(),
                           m_field_y.get(), prev_global_x, prev_global_y, &prev_field_x,
                           &prev_field_y);
    m_good = true;
    return true;
}

bool TrecAlgorithm::runGlobal(const Grid<double> &prev_image, const Grid<double> &curr_image) {
    return runGlobal(prev_image, curr_image, kMissingVector, kMissingVector);
}

bool TrecAlgorithm::runGlobal(const Grid<double> &prev_image, const Grid<double> &curr_image,
                              double prev_global_x, double prev_global_y) {
    if (!readyToRun()) {
        return false;
    }
    if (!processInputData(prev_image, curr_image)) {
        setToMissing();
        return false;
    }
    m_calculation->runGlobal(*m_prev_grid, *m_curr_grid, m_global_x, m_global_y, prev_global_x,
                             prev_global_y);
    fillFields(m_global_x, m_global_y);
    m_good = true;
    return true;
}

void TrecAlgorithm::setSearchMethod(SearchMethod method) {
    // An algorithm with a bad configuration has no calculation and never runs.
    if (m_calculation) {
        m_calculation->setSearchMethod(method);
    }
}

Grid<double> TrecAlgorithm::getMotionFieldX() const {
    if (!m_field_x) {
        throw std::logic_error(
            "TrecAlgorithm: no motion field for a grid size that is not positive or too large");
    }
    return *m_field_x;
}

Grid<double> TrecAlgorithm::getMotionFieldY() const {
    if (!m_field_y) {
        throw std::logic_error(
            "TrecAlgorithm: no motion field for a grid size that is not positive or too large");
    }
    return *m_field_y;
}

void TrecAlgorithm::setToMissing() {
    m_global_x = kMissingVector;
    m_global_y = kMissingVector;
    fillFields(kMissingVector, kMissingVector);
    m_good = false;
}

void TrecAlgorithm::fillFields(double value_x, double value_y) {
    if (!m_field_x) {
        return;
    }
    for (int k = 0; k < m_grid_size; ++k) {
        m_field_x->set(k, value_x);
        m_field_y->set(k, value_y);
    }
}

bool TrecAlgorithm::processInputData(const Grid<double> &prev_image,
                                     const Grid<double> &curr_image) {
    if (!sameSize(prev_image, m_grid_size_x, m_grid_size_y) ||
        !sameSize(curr_image, m_grid_size_x, m_grid_size_y)) {
        m_status.set(kRunImageSize);
        return false;
    }
    const bool prev_valid = convertImage(prev_image, *m_prev_grid);
    const bool curr_valid = convertImage(curr_image, *m_curr_grid);
    if (!prev_valid || !curr_valid) {
        m_status.set(kRunNoValidPixel);
        return false;
    }
    return true;
}

bool TrecAlgorithm::convertImage(const Grid<double> &image, Grid<int> &converted) const {
    const detail::InputScaling scaling{m_input_scale, m_signal_threshold, m_missing_value,
                                       m_not_scanned_value};
    bool any_valid = false;
    for (int k = 0; k < m_grid_size; ++k) {
        const std::optional<int> pixel = detail::scaledPixel(image.get(k), scaling);
        any_valid = any_valid || pixel.has_value();
        converted.set(k, pixel.value_or(0));
    }
    return any_valid;
}

}  // namespace azm
