// TREC motion estimation between two integer images of one grid.
#ifndef NOWCAST_TREC_CALCULATION_H
#define NOWCAST_TREC_CALCULATION_H

#include <memory>

#include "nowcast/correlation_config.h"
#include "nowcast/cross_correlator.h"
#include "nowcast/grid.h"
#include "nowcast/trec_conf.h"

namespace azm {

namespace detail {
class SummedAreaSearch;
struct SearchOutcome;
}  // namespace detail

// How the correlation sums of the searches are computed; both give the same results to the
// last bit. SUMMED_AREA reads every sum from summed-area tables, at a cost that does not grow
// with the box size, and falls back to DIRECT for images whose values are so large that sums
// of doubles would round. DIRECT adds up every overlap pixel: the reference.
enum class SearchMethod : int { DIRECT = 0, SUMMED_AREA = 1 };

// Computes from an earlier and a later integer image (no data 0, signal > 0) the global motion
// vector and a dense motion field, in pixels per image interval: correlates the whole images,
// correlates boxes around a lattice of centres, removes outliers, spreads the lattice vectors,
// blends in the global vector, smooths the field with an exponential kernel and, given the
// previous result, blends it in over time. -999.0 marks a missing vector or field element.
//
// The configuration is checked at construction; a violation stops the process. One instance
// serves any number of runs on its grid size, one run at a time.
class TrecCalculation {
  public:
    TrecCalculation(int x_dim, int y_dim, const TrecConf &conf);
    ~TrecCalculation();
    TrecCalculation(const TrecCalculation &) = delete;
    TrecCalculation &operator=(const TrecCalculation &) = delete;

    // Full run. The previous global vector (-999.0 when missing) and previous fields (null when
    // absent) are the caller's last results, used for temporal smoothing. The previous fields
    // may be the very grids passed as field_x and field_y.
    void runTrec(const Grid<int> &prev_grid, const Grid<int> &curr_grid, double &global_x,
                 double &global_y, Grid<double> *field_x, Grid<double> *field_y,
                 double prev_global_x = kMissingVector, double prev_global_y = kMissingVector,
                 const Grid<double> *prev_field_x = nullptr,
                 const Grid<double> *prev_field_y = nullptr);

    // Global vector only; no field is touched.
    void runGlobal(const Grid<int> &prev_grid, const Grid<int> &curr_grid, double &global_x,
                   double &global_y, double prev_global_x = kMissingVector,
                   double prev_global_y = kMissingVector);

    // SUMMED_AREA unless set.
    void setSearchMethod(SearchMethod method) { m_search_method = method; }
    SearchMethod getSearchMethod() const { return m_search_method; }
    // The methods that the last global search and the last box searches actually used.
    SearchMethod getLastGlobalSearchMethod() const { return m_last_global_method; }
    SearchMethod getLastBoxSearchMethod() const { return m_last_box_method; }

    // The steps of a run.
    void calculateGlobalVector(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                               double &global_x, double &global_y, double prev_global_x,
                               double prev_global_y);
    // Box analyses on the lattice of centres: writes each accepted vector at its centre and
    // marks the centre in the vector mask.
    void calculateMotionField(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                              Grid<double> &field_x, Grid<double> &field_y);
    // From the working fields of the run to the output fields: outlier filter, spreading,
    // global blend, spatial and temporal smoothing.
    void smoothMotionField(double global_x, double global_y, Grid<double> *field_x,
                           Grid<double> *field_y, const Grid<double> *prev_field_x,
                           const Grid<double> *prev_field_y);

    // Global outlier filter: replaces accepted vectors that are too fast, or whose direction
    // deviates too far from the mean direction, by the mean of the accepted non-zero vectors.
    void filterMotionField(Grid<double> &field_x, Grid<double> &field_y) const;
    // Local outlier filter: slides an odd square window over the field and replaces elements
    // whose direction differs too much from the window mean. Missing elements (-999.0) take no
    // part and stay as they are.
    void filterMotionFieldLocal(Grid<double> &field_x, Grid<double> &field_y) const;
    // Mean of the accepted vectors other than (0, 0); false when there is none.
    bool calculateGlobalMean(const Grid<double> &field_x, const Grid<double> &field_y,
                             double &mean_x, double &mean_y, int &vector_count) const;
    // Mean of every element, whatever its value; false for an empty grid.
    bool calculateLocalMean(const Grid<double> &field_x, const Grid<double> &field_y,
                            double &mean_x, double &mean_y, int &vector_count) const;

    // Directions are radians in [0, 2 pi] from +x toward +y. Quadrant 1 is [0, pi/2], 2 is
    // (pi/2, pi], 3 is (pi, 3 pi/2], 4 is (3 pi/2, 2 pi]; -1 for anything else.
    int calculateDirectionQuadrant(double direction) const;
    // Direction of (x, y); not a number with quadrant -1 for the zero vector.
    void calculateVectorDirection(double x, double y, double &direction, int &quadrant) const;
    // Bounds of the directions within `width` of `direction`, each brought into [0, 2 pi).
    void calculateDirectionRange(double direction, double width, double &low, int &low_quadrant,
                                 double &high, int &high_quadrant) const;

  private:
    // The summed-area search of the parts asked for, when that method is chosen; the parts it
    // does not search are left to the correlators.
    detail::SearchOutcome searchSummedArea(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                                           bool global, bool boxes);
    // The global displacement (before temporal blending) and the box vectors, from the outcome
    // of the summed-area search or else from the correlators.
    void takeGlobalDisplacement(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                                const detail::SearchOutcome &searched, double &global_x,
                                double &global_y);
    void takeBoxVectors(const Grid<int> &prev_grid, const Grid<int> &curr_grid,
                        const detail::SearchOutcome &searched, Grid<double> &field_x,
                        Grid<double> &field_y);
    void blendPreviousGlobal(double &global_x, double &global_y, double prev_global_x,
                             double prev_global_y) const;
    void spreadLatticeVectors();
    void blendGlobalVector(double global_x, double global_y);
    void smoothSpatially(Grid<double> &field_x, Grid<double> &field_y);
    void blendPreviousField(Grid<double> &field, const Grid<double> &prev_field) const;

    int m_grid_size_x;
    int m_grid_size_y;
    int m_grid_size;
    double m_signal_threshold;  // scaled like the integer images
    int m_box_width;
    int m_box_half_width;
    int m_box_spacing;
    int m_box_signal_count;
    double m_correlation_threshold;
    int m_box_first_x;
    int m_box_last_x;
    int m_box_first_y;
    int m_box_last_y;
    int m_speed_limit;
    int m_global_min_count;
    int m_box_min_count;
    double m_global_weight;
    int m_spatial_decay;
    SpatialThreshold m_spatial_filtering;
    int m_filter_box_width;
    int m_direction_threshold;
    double m_magnitude_threshold;
    TemporalSmoothing m_temporal_method;
    double m_history_weight;
    double m_change_weight;

    std::unique_ptr<GlobalCrossCorrelator> m_global_correlator;
    std::unique_ptr<LocalCrossCorrelator> m_local_correlator;
    std::unique_ptr<detail::SummedAreaSearch> m_summed_area;
    SearchMethod m_search_method = SearchMethod::SUMMED_AREA;
    SearchMethod m_last_global_method = SearchMethod::SUMMED_AREA;
    SearchMethod m_last_box_method = SearchMethod::SUMMED_AREA;
    std::unique_ptr<Grid<double>> m_work_field_x;
    std::unique_ptr<Grid<double>> m_work_field_y;
    std::unique_ptr<Grid<bool>> m_vector_mask;
    std::unique_ptr<Grid<double>> m_weight_sum;
    // 0 = no vector, 1 = vector from the global vector, 2 = vector from a box analysis.
    std::unique_ptr<Grid<int>> m_pixel_state;
};

}  // namespace azm

#endif  // NOWCAST_TREC_CALCULATION_H
