// Cross correlators: the displacement that best maps an earlier integer image onto a later one.
#ifndef NOWCAST_CROSS_CORRELATOR_H
#define NOWCAST_CROSS_CORRELATOR_H

#include <functional>

#include "nowcast/grid.h"

namespace azm {

// Common part of the correlators of one grid size: the lag space of all displacements and the
// search over a circle of displacements.
//
// A displacement (dx, dy) compares the earlier image's pixel (x, y) with the later image's pixel
// (x + dx, y + dy). Lag-space index (j, i) stands for the displacement (j - lag centre x,
// i - lag centre y); the lag space spans 2X - 1 by 2Y - 1 displacements.
class CrossCorrelator {
  public:
    CrossCorrelator(int x_dim, int y_dim);
    virtual ~CrossCorrelator();
    CrossCorrelator(const CrossCorrelator &) = delete;
    CrossCorrelator &operator=(const CrossCorrelator &) = delete;

    // Best accepted coefficient of the last analysis; 0 if nothing was accepted.
    virtual double getCorrCoefficient() const;

  protected:
    // Coefficient of the displacement (dx, dy) of the analysis under way.
    using CoefficientOf = std::function<double(int dx, int dy)>;

    // Visits every displacement within `radius` of the lag-space position (lag_cx, lag_cy), rows
    // ascending and columns ascending, and keeps the best coefficient at or above `threshold` in
    // m_corr_coefficient and its displacement in (dx, dy). A coefficient within 0.00001 of the
    // best one still moves the displacement (not the coefficient) when it is strictly shorter,
    // so near-ties go to the slower motion. The coefficient itself comes from `coefficient_of`,
    // which keeps the visiting order and the tie rule independent of how it is computed.
    void searchDisplacements(int lag_cx, int lag_cy, int radius, double threshold,
                             const CoefficientOf &coefficient_of, double &dx, double &dy);

    int m_grid_size;
    int m_x_dim;
    int m_y_dim;
    int m_lag_size_x;
    int m_lag_size_y;
    int m_lag_center_x;
    int m_lag_center_y;
    int m_box_offset_x;
    int m_box_offset_y;
    double m_corr_coefficient = 0.0;
};

// Compares the whole earlier image with the whole later one: the global motion vector.
class GlobalCrossCorrelator : public CrossCorrelator {
  public:
    GlobalCrossCorrelator(int x_dim, int y_dim);
    ~GlobalCrossCorrelator() override;

    // Whole-grid analysis: searches all displacements within `radius` and writes the chosen one
    // ((0, 0) if none reaches `threshold`). A displacement whose overlap holds fewer than
    // `min_count` pixels is never accepted.
    void runCorrelationAnalysis(const Grid<int> &prev, const Grid<int> &curr, int radius,
                                int min_count, double threshold, double &dx, double &dy);

    // The search step of runCorrelationAnalysis; needs the statistics it has just computed.
    void scan(const Grid<int> &prev, const Grid<int> &curr, int radius, int min_count,
              double threshold, double &dx, double &dy);

    // Coefficient of one displacement, computed directly over the overlap; -1 when the
    // overlap is smaller than 2 pixels or than `min_count`.
    double correlate(const Grid<int> &prev, const Grid<int> &curr, int dx, int dy,
                     int min_count) const;

  private:
    // Statistics of the reference (the whole earlier image).
    int m_ref_count = 0;
    double m_ref_sum = 0.0;
    double m_ref_sum_sq = 0.0;
};

// Compares a box of the earlier image with displaced boxes of the later image: the local motion
// vector of the box. The box around centre (cx, cy) with half width h covers columns cx - h to
// cx + h - 1 and rows cy - h to cy + h - 1, cut to the grid.
class LocalCrossCorrelator : public CrossCorrelator {
  public:
    LocalCrossCorrelator(int x_dim, int y_dim);
    ~LocalCrossCorrelator() override;

    // Box analysis. Refuses (returns false) a box with fewer than `min_count` pixels or with
    // no more than `signal_count` pixels at or above `signal_threshold`; otherwise searches the
    // displacements within `radius` and returns whether one reached `threshold`.
    bool runCorrelationAnalysis(const Grid<int> &prev, const Grid<int> &curr, int cx, int cy,
                                int half, int radius, int min_count, double signal_threshold,
                                int signal_count, double threshold, double &dx, double &dy);

    // The search step of runCorrelationAnalysis, centred on the lag-space position of the box
    // centre (centre plus box offset); needs the statistics it has just computed.
    void scan(const Grid<int> &prev, const Grid<int> &curr, int lag_cx, int lag_cy, int half,
              int radius, int min_count, double threshold, double &dx, double &dy);

    // Coefficient of one displacement of the box around (cx, cy), computed directly over the
    // overlap of the box with the displaced later image; -1 when that overlap is smaller than
    // 2 pixels or than `min_count`.
    double correlate(const Grid<int> &prev, const Grid<int> &curr, int cx, int cy, int dx, int dy,
                     int half, int min_count) const;

  private:
    // Statistics of the reference (the box of the earlier image).
    int m_ref_count = 0;
    double m_ref_sum = 0.0;
    double m_ref_sum_sq = 0.0;
};

}  // namespace azm

#endif  // NOWCAST_CROSS_CORRELATOR_H
