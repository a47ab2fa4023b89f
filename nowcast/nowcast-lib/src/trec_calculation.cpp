#include "nowcast/trec_calculation.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "correlation_sums.h"
#include "int_conversion.h"
#include "nowcast_check.h"
#include "summed_area_search.h"

namespace azm {

namespace {

template <typename T>
void fillGrid(Grid<T> &grid, int size, T value) {
    for (int k = 0; k < size; ++k) {
        grid.set(k, value);
    }
}

// Overlap thresholds below 2 pixels would accept a coefficient from a single pixel.
int atLeastTwo(int count) {
    return count <= 1 ? 2 : count;
}

}  // namespace

TrecCalculation::TrecCalculation(int x_dim, int y_dim, const TrecConf &conf) {
    NOWCAST_CHECK(x_dim > 0);
    NOWCAST_CHECK(y_dim > 0);
    NOWCAST_CHECK(detail::gridFitsInt(x_dim, y_dim));
    NOWCAST_CHECK(conf.m_input_precision >= 0 && conf.m_input_precision <= 3);
    NOWCAST_CHECK(conf.m_aperture_coverage_threshold >= 0.0 &&
                  conf.m_aperture_coverage_threshold <= 1.0);
    NOWCAST_CHECK(conf.m_field_feature_box_spacing > 0);
    NOWCAST_CHECK(conf.m_speed_limit > 0);
    NOWCAST_CHECK(conf.m_field_signal_coverage_threshold >= 0.0 &&
                  conf.m_field_signal_coverage_threshold <= 1.0);
    NOWCAST_CHECK(conf.m_correlation_threshold > 0.0 && conf.m_correlation_threshold <= 1.0);
    NOWCAST_CHECK(conf.m_field_global_weight >= 0.0 && conf.m_field_global_weight <= 1.0);
    NOWCAST_CHECK(conf.m_field_use_spatial_filtering == azm::SpatialThreshold::NO ||
                  conf.m_field_use_spatial_filtering == azm::SpatialThreshold::GLOBAL ||
                  conf.m_field_use_spatial_filtering == azm::SpatialThreshold::LOCAL);
    NOWCAST_CHECK(conf.m_field_spatial_filtering_box_width > 0);
    NOWCAST_CHECK(conf.m_field_spatial_direction_threshold > 0 &&
                  conf.m_field_spatial_direction_threshold <= 180);
    NOWCAST_CHECK(conf.m_field_spatial_magnitude_threshold > 0.0);
    NOWCAST_CHECK(conf.m_temporal_smoothing_method ==
                      azm::TemporalSmoothing::NO_TEMPORAL_SMOOTHING ||
                  conf.m_temporal_smoothing_method == azm::TemporalSmoothing::HISTORY_WEIGHTING ||
                  conf.m_temporal_smoothing_method == azm::TemporalSmoothing::CHANGE_WEIGHTING);
    NOWCAST_CHECK(conf.m_temporal_smoothing_history_weight > 0.0 &&
                  conf.m_temporal_smoothing_history_weight <= 1.0);
    NOWCAST_CHECK(conf.m_temporal_smoothing_change_weight > 0.0 &&
                  conf.m_temporal_smoothing_change_weight <= 1.0);
    NOWCAST_CHECK(conf.m_field_spatial_decay >= 0);

    static constexpr int kPowersOfTen[] = {1, 10, 100, 1000};
    const int x = x_dim;
    const int y = y_dim;
    m_grid_size_x = x;
    m_grid_size_y = y;
    m_grid_size = x * y;  // fits: checked above
    m_signal_threshold = kPowersOfTen[conf.m_input_precision] * conf.m_signal_threshold;
    m_box_width = conf.m_field_feature_box_width;
    m_box_half_width = m_box_width / 2;
    m_box_spacing = conf.m_field_feature_box_spacing;
    const double box_side = 2.0 * m_box_half_width;
    m_box_signal_count = std::max(
        1, detail::truncateToInt(box_side * box_side * conf.m_field_signal_coverage_threshold));
    m_correlation_threshold = conf.m_correlation_threshold;
    m_box_first_x = std::max(0, std::min(m_box_half_width, x));
    m_box_last_x = std::max(-1, std::min(x - m_box_half_width, x - 1));
    m_box_first_y = std::max(0, std::min(m_box_half_width, y));
    m_box_last_y = std::max(-1, std::min(y - m_box_half_width, y - 1));
    m_speed_limit = conf.m_speed_limit;
    m_global_min_count = atLeastTwo(detail::truncateToInt(static_cast<double>(m_grid_size) *
                                                          conf.m_aperture_coverage_threshold));
    m_box_min_count =
        atLeastTwo(detail::truncateToInt(conf.m_aperture_coverage_threshold * box_side * box_side));
    m_global_weight = conf.m_field_global_weight;
    m_spatial_decay = conf.m_field_spatial_decay;
    m_spatial_filtering = conf.m_field_use_spatial_filtering;
    m_filter_box_width = conf.m_field_spatial_filtering_box_width;
    m_direction_threshold = conf.m_field_spatial_direction_threshold;
    m_magnitude_threshold = conf.m_field_spatial_magnitude_threshold;
    m_temporal_method = conf.m_temporal_smoothing_method;
    m_history_weight = conf.m_temporal_smoothing_history_weight;
    m_change_weight = conf.m_temporal_smoothing_change_weight;

    m_global_correlator = std::make_unique<GlobalCrossCorrelator>(x, y);
    m_local_correlator = std::make_unique<LocalCrossCorrelator>(x, y);
    m_summed_area = std::make_unique<detail::SummedAreaSearch>(x, y);
    m_work_field_x = std::make_unique<Grid<double>>(x, y);
    m_work_field_y = std::make_unique<Grid<double>>(x, y);
    m_vector_mask = std::make_unique<Grid<bool>>(x, y);
    m_weight_sum = std::make_unique<Grid<double>>(x, y);
    m_pixel_state = std::make_unique<Grid<int>>(x, y);
    fillGrid(*m_work_field_x, m_grid_size, 0.0);
    fillGrid(*m_work_field_y, m_grid_size, 0.0);
    fillGrid(*m_vector_mask, m_grid_size, false);
    fillGrid(*m_weight_sum, m_grid_size, 0.0);
    fillGrid(*m_pixel_state, m_grid_size, 0);
}

TrecCalculation::~TrecCalculation() = default;

void TrecCalculation::runTrec(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                              double &global_x, double &global_y, Grid<double> *field_x,
                              Grid<double> *field_y, double prev_global_x, double prev_global_y,
                              const Grid<double> *prev_field_x, const Grid<double> *prev_field_y) {
    NOWCAST_CHECK(prev_grid.sizeX() == m_grid_size_x && prev_grid.sizeY() == m_grid_size_y);
    NOWCAST_CHECK(curr_grid.sizeX() == m_grid_size_x && curr_grid.sizeY() == m_grid_size_y);
    NOWCAST_CHECK(field_x != nullptr && field_y != nullptr);
    NOWCAST_CHECK(field_x->sizeX() == m_grid_size_x && field_x->sizeY() == m_grid_size_y);
    NOWCAST_CHECK(field_y->sizeX() == m_grid_size_x && field_y->sizeY() == m_grid_size_y);

    // Feeding the last result back in is the natural call; the output fields are cleared below,
    // so previous fields that are the output grids themselves are read from a copy.
    std::optional<Grid<double>> kept_prev_x;
    std::optional<Grid<double>> kept_prev_y;
    if (prev_field_x != nullptr && (prev_field_x == field_x || prev_field_x == field_y)) {
        prev_field_x = &kept_prev_x.emplace(*prev_field_x);
    }
    if (prev_field_y != nullptr && (prev_field_y == field_x || prev_field_y == field_y)) {
        prev_field_y = &kept_prev_y.emplace(*prev_field_y);
    }

    global_x = 0.0;
    global_y = 0.0;
    fillGrid(*field_x, m_grid_size, 0.0);
    fillGrid(*field_y, m_grid_size, 0.0);

    // One summed-area search serves both the global and the box searches: the product table of
    // a displacement holds the sums of both.
    const detail::SearchOutcome searched = searchSummedArea(prev_grid, curr_grid, true, true);
    takeGlobalDisplacement(prev_grid, curr_grid, searched, global_x, global_y);
    blendPreviousGlobal(global_x, global_y, prev_global_x, prev_global_y);

    // Without blending, pixels that no box covers stay missing.
    const bool blend = m_global_weight != 0.0;
    fillGrid(*m_work_field_x, m_grid_size, blend ? global_x : kMissingVector);
    fillGrid(*m_work_field_y, m_grid_size, blend ? global_y : kMissingVector);
    fillGrid(*m_vector_mask, m_grid_size, false);
    fillGrid(*m_weight_sum, m_grid_size, 0.0);
    fillGrid(*m_pixel_state, m_grid_size, 0);

    takeBoxVectors(prev_grid, curr_grid, searched, *m_work_field_x, *m_work_field_y);
    smoothMotionField(global_x, global_y, field_x, field_y, prev_field_x, prev_field_y);
}

void TrecCalculation::runGlobal(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                                double &global_x, double &global_y, double prev_global_x,
                                double prev_global_y) {
    global_x = 0.0;
    global_y = 0.0;
    calculateGlobalVector(prev_grid, curr_grid, global_x, global_y, prev_global_x, prev_global_y);
}

void TrecCalculation::calculateGlobalVector(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                                            double &global_x, double &global_y,
                                            double prev_global_x, double prev_global_y) {
    takeGlobalDisplacement(prev_grid, curr_grid,
                           searchSummedArea(prev_grid, curr_grid, true, false), global_x, global_y);
    blendPreviousGlobal(global_x, global_y, prev_global_x, prev_global_y);
}

void TrecCalculation::calculateMotionField(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                                           Grid<double> &field_x, Grid<double> &field_y) {
    takeBoxVectors(prev_grid, curr_grid, searchSummedArea(prev_grid, curr_grid, false, true),
                   field_x, field_y);
}

detail::SearchOutcome TrecCalculation::searchSummedArea(const Grid<int> &prev_grid,
                                                        const Grid<int> &curr_grid, bool global,
                                                        bool boxes) {
    if (m_search_method != SearchMethod::SUMMED_AREA) {
        return {};
    }
    const detail::GlobalSearchRequest global_request{m_global_min_count};
    const detail::BoxSearchRequest box_request{
        m_box_first_x,    m_box_last_x,    m_box_first_y,      m_box_last_y,      m_box_spacing,
        m_box_half_width, m_box_min_count, m_signal_threshold, m_box_signal_count};
    return m_summed_area->search(prev_grid, curr_grid, m_speed_limit, m_correlation_threshold,
                                 global ? &global_request : nullptr,
                                 boxes ? &box_request : nullptr);
}

void TrecCalculation::takeGlobalDisplacement(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                                             const detail::SearchOutcome &searched,
                                             double &global_x, double &global_y) {
    if (searched.global_searched) {
        global_x = searched.global_dx;
        global_y = searched.global_dy;
        m_last_global_method = SearchMethod::SUMMED_AREA;
        return;
    }
    m_global_correlator->runCorrelationAnalysis(prev_grid, curr_grid, m_speed_limit,
                                                m_global_min_count, m_correlation_threshold,
                                                global_x, global_y);
    m_last_global_method = SearchMethod::DIRECT;
}

void TrecCalculation::blendPreviousGlobal(double &global_x, double &global_y, double prev_global_x,
                                          double prev_global_y) const {
    if (prev_global_x == kMissingVector || prev_global_y == kMissingVector) {
        return;
    }
    switch (m_temporal_method) {
        case TemporalSmoothing::HISTORY_WEIGHTING:
            global_x = m_history_weight * prev_global_x + (1.0 - m_history_weight) * global_x;
            global_y = m_history_weight * prev_global_y + (1.0 - m_history_weight) * global_y;
            break;
        case TemporalSmoothing::CHANGE_WEIGHTING:
            global_x = prev_global_x + (global_x - prev_global_x) * m_change_weight;
            global_y = prev_global_y + (global_y - prev_global_y) * m_change_weight;
            break;
        case TemporalSmoothing::NO_TEMPORAL_SMOOTHING:
            break;
    }
}

void TrecCalculation::takeBoxVectors(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                                     const detail::SearchOutcome &searched, Grid<double> &field_x,
                                     Grid<double> &field_y) {
    if (searched.boxes_searched) {
        for (const detail::BoxVector &vector : searched.box_vectors) {
            field_x.set(vector.cx, vector.cy, vector.dx);
            field_y.set(vector.cx, vector.cy, vector.dy);
            m_vector_mask->set(vector.cx, vector.cy, true);
        }
        m_last_box_method = SearchMethod::SUMMED_AREA;
        return;
    }
    // 64-bit steps: the spacing is a configuration value and may exceed the room left in an int.
    for (long long cy = m_box_first_y; cy <= m_box_last_y; cy += m_box_spacing) {
        for (long long cx = m_box_first_x; cx <= m_box_last_x; cx += m_box_spacing) {
            double dx = 0.0;
            double dy = 0.0;
            const bool accepted = m_local_correlator->runCorrelationAnalysis(
                prev_grid, curr_grid, static_cast<int>(cx), static_cast<int>(cy), m_box_half_width,
                m_speed_limit, m_box_min_count, m_signal_threshold, m_box_signal_count,
                m_correlation_threshold, dx, dy);
            if (accepted) {
                field_x.set(static_cast<int>(cx), static_cast<int>(cy), dx);
                field_y.set(static_cast<int>(cx), static_cast<int>(cy), dy);
                m_vector_mask->set(static_cast<int>(cx), static_cast<int>(cy), true);
            }
        }
    }
    m_last_box_method = SearchMethod::DIRECT;
}

void TrecCalculation::smoothMotionField(double global_x, double global_y, Grid<double> *field_x,
                                        Grid<double> *field_y, const Grid<double> *prev_field_x,
                                        const Grid<double> *prev_field_y) {
    NOWCAST_CHECK(field_x != nullptr && field_y != nullptr);
    NOWCAST_CHECK(field_x->sizeX() == m_grid_size_x && field_x->sizeY() == m_grid_size_y);
    NOWCAST_CHECK(field_y->sizeX() == m_grid_size_x && field_y->sizeY() == m_grid_size_y);

    switch (m_spatial_filtering) {
        case SpatialThreshold::GLOBAL:
            filterMotionField(*m_work_field_x, *m_work_field_y);
            break;
        case SpatialThreshold::LOCAL:
            filterMotionFieldLocal(*m_work_field_x, *m_work_field_y);
            break;
        case SpatialThreshold::NO:
            break;
    }
    spreadLatticeVectors();
    if (m_global_weight > 0.0) {
        blendGlobalVector(global_x, global_y);
    }
    smoothSpatially(*field_x, *field_y);

    if (m_temporal_method != TemporalSmoothing::NO_TEMPORAL_SMOOTHING && prev_field_x != nullptr &&
        prev_field_y != nullptr) {
        NOWCAST_CHECK(prev_field_x->sizeX() == m_grid_size_x &&
                      prev_field_x->sizeY() == m_grid_size_y);
        NOWCAST_CHECK(prev_field_y->sizeX() == m_grid_size_x &&
                      prev_field_y->sizeY() == m_grid_size_y);
        blendPreviousField(*field_x, *prev_field_x);
        blendPreviousField(*field_y, *prev_field_y);
    }
}

void TrecCalculation::spreadLatticeVectors() {
    if (m_box_spacing < 2) {
        for (int k = 0; k < m_grid_size; ++k) {
            if (m_vector_mask->get(k)) {
                m_pixel_state->set(k, 2);
            }
        }
        return;
    }
    // Each accepted centre fills the block of pixels around it up to half the spacing away;
    // later centres overwrite the border pixels they share with earlier ones.
    const int s = m_box_spacing / 2;
    for (long long lattice_y = m_box_first_y; lattice_y <= m_box_last_y;
         lattice_y += m_box_spacing) {
        for (long long lattice_x = m_box_first_x; lattice_x <= m_box_last_x;
             lattice_x += m_box_spacing) {
            const int cx = static_cast<int>(lattice_x);
            const int cy = static_cast<int>(lattice_y);
            if (!m_vector_mask->get(cx, cy)) {
                continue;
            }
            const double vx = m_work_field_x->get(cx, cy);
            const double vy = m_work_field_y->get(cx, cy);
            const int y_last = static_cast<int>(std::min(m_grid_size_y - 1LL, 0LL + cy + s));
            const int x_last = static_cast<int>(std::min(m_grid_size_x - 1LL, 0LL + cx + s));
            for (int py = std::max(0, cy - s); py <= y_last; ++py) {
                for (int px = std::max(0, cx - s); px <= x_last; ++px) {
                    m_work_field_x->set(px, py, vx);
                    m_work_field_y->set(px, py, vy);
                    m_pixel_state->set(px, py, 2);
                }
            }
        }
    }
}

void TrecCalculation::blendGlobalVector(double global_x, double global_y) {
    const double w = m_global_weight;
    for (int k = 0; k < m_grid_size; ++k) {
        if (m_pixel_state->get(k) != 0) {
            m_work_field_x->set(k, (global_x * w + m_work_field_x->get(k)) / (1.0 + w));
            m_work_field_y->set(k, (global_y * w + m_work_field_y->get(k)) / (1.0 + w));
        } else {
            m_work_field_x->set(k, global_x);
            m_work_field_y->set(k, global_y);
            m_pixel_state->set(k, 1);
        }
    }
}

void TrecCalculation::smoothSpatially(Grid<double> &field_x, Grid<double> &field_y) {
    const int decay = m_spatial_decay;
    if (decay < 1) {
        for (int k = 0; k < m_grid_size; ++k) {
            field_x.set(k, m_work_field_x->get(k));
            field_y.set(k, m_work_field_y->get(k));
        }
        return;
    }
    // The window reaches D + 1 pixels toward lower indices and D pixels toward higher ones.
    // Kernel weights depend only on the offset, so they are tabulated once for every offset
    // the grid can hold.
    // Sizes and squared offsets in 64 bits: two reaches of a wide grid exceed int.
    const int reach_low_x = static_cast<int>(std::min<long long>(decay + 1LL, m_grid_size_x - 1));
    const int reach_high_x = std::min(decay, m_grid_size_x - 1);
    const int reach_low_y = static_cast<int>(std::min<long long>(decay + 1LL, m_grid_size_y - 1));
    const int reach_high_y = std::min(decay, m_grid_size_y - 1);
    const std::size_t kernel_width = static_cast<std::size_t>(reach_low_x) + reach_high_x + 1;
    std::vector<double> kernel(kernel_width *
                               (static_cast<std::size_t>(reach_low_y) + reach_high_y + 1));
    for (int oy = -reach_low_y; oy <= reach_high_y; ++oy) {
        for (int ox = -reach_low_x; ox <= reach_high_x; ++ox) {
            kernel[static_cast<std::size_t>(oy + reach_low_y) * kernel_width + ox + reach_low_x] =
                std::exp(-detail::displacementLength(ox, oy) / decay);
        }
    }

    // Every pixel receives the terms of the vectors around it in the order of the vectors,
    // rows outer. For one vector row and one kernel offset the terms of a whole pixel row are
    // added at once, which the compiler vectorises. Pixels without a vector take part with
    // weight 0, which leaves every sum as it is (a sum that starts at +0 never becomes -0).
    const std::size_t size = static_cast<std::size_t>(m_grid_size);
    std::vector<double> present(size);
    std::vector<double> vector_x(size);
    std::vector<double> vector_y(size);
    for (std::size_t k = 0; k < size; ++k) {
        const bool has_vector = m_pixel_state->get(static_cast<int>(k)) != 0;
        present[k] = has_vector ? 1.0 : 0.0;
        vector_x[k] = has_vector ? m_work_field_x->get(static_cast<int>(k)) : 0.0;
        vector_y[k] = has_vector ? m_work_field_y->get(static_cast<int>(k)) : 0.0;
    }
    std::vector<double> weight_sum(size, 0.0);
    std::vector<double> sum_x(size, 0.0);
    std::vector<double> sum_y(size, 0.0);
    const std::size_t width = static_cast<std::size_t>(m_grid_size_x);
    for (int cy = 0; cy < m_grid_size_y; ++cy) {
        const double *source_present = &present[cy * width];
        const double *source_x = &vector_x[cy * width];
        const double *source_y = &vector_y[cy * width];
        const int py_first = std::max(0, cy - reach_low_y);
        const int py_last = std::min(m_grid_size_y - 1, cy + reach_high_y);
        for (int py = py_first; py <= py_last; ++py) {
            const double *kernel_row =
                &kernel[static_cast<std::size_t>(py - cy + reach_low_y) * kernel_width];
            double *weights = &weight_sum[py * width];
            double *row_x = &sum_x[py * width];
            double *row_y = &sum_y[py * width];
            // Offset o = px - cx from high to low: the vectors cx of a pixel come in order.
            for (int offset = reach_high_x; offset >= -reach_low_x; --offset) {
                const double k = kernel_row[offset + reach_low_x];
                const int px_first = std::max(0, offset);
                const int px_end = std::min(m_grid_size_x, m_grid_size_x + offset);
                for (int px = px_first; px < px_end; ++px) {
                    weights[px] += k * source_present[px - offset];
                    row_x[px] += k * source_x[px - offset];
                    row_y[px] += k * source_y[px - offset];
                }
            }
        }
    }
    for (int k = 0; k < m_grid_size; ++k) {
        const double weight = weight_sum[k];
        m_weight_sum->set(k, weight);
        field_x.set(k, weight != 0.0 ? sum_x[k] / weight : sum_x[k]);
        field_y.set(k, weight != 0.0 ? sum_y[k] / weight : sum_y[k]);
    }
}

void TrecCalculation::blendPreviousField(Grid<double> &field,
                                         const Grid<double> &prev_field) const {
    for (int k = 0; k < m_grid_size; ++k) {
        const double previous = prev_field.get(k);
        const double current = field.get(k);
        if (previous == kMissingVector || current == kMissingVector) {
            continue;
        }
        if (m_temporal_method == TemporalSmoothing::HISTORY_WEIGHTING) {
            field.set(k, (1.0 - m_history_weight) * current + m_history_weight * previous);
        } else if (m_temporal_method == TemporalSmoothing::CHANGE_WEIGHTING) {
            field.set(k, previous + (current - previous) * m_change_weight);
        }
    }
}

}  // namespace azm
