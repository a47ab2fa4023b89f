// TREC on a caller's floating-point images, with status bits instead of failures.
#ifndef NOWCAST_TREC_ALGORITHM_H
#define NOWCAST_TREC_ALGORITHM_H

#include <bitset>
#include <cstdint>
#include <memory>

#include "nowcast/grid.h"
#include "nowcast/trec_calculation.h"
#include "nowcast/trec_conf.h"

namespace azm {

// Validates its configuration into status bits, converts the caller's images (with their
// no-data and not-scanned markers) to the integer images of TrecCalculation, runs it and keeps
// the global vector and the motion fields for the caller to read (-999.0 when missing).
//
// Status bits, bit n counting 2^n in getStatus():
//   0, 1    grid columns, rows not positive
//   2       input precision outside 0..3
//   3       grid too large: its element count, or twice its columns or rows, exceeds int
//   5       aperture coverage threshold outside 0..1
//   7, 8    feature box width, box spacing not positive
//   9       signal coverage threshold outside 0..1
//   10      correlation threshold outside (0, 1]
//   11      speed limit not positive
//   12      spatial decay negative
//   13      outlier filter not NO, GLOBAL or LOCAL
//   14      filter box width not positive
//   15      direction threshold outside (0, 180]
//   16      magnitude threshold below 1
//   17      global weight outside 0..1
//   18      temporal smoothing method unknown
//   19, 20  history weight, change weight outside (0, 1]
//   21      last run: an input image does not have the grid size
//   22      last run: an input image holds no valid pixel
//   23      last run: a previous motion field does not have the grid size
// A configuration value that is not a number is outside every range.
// Bits 0 to 20 are fixed at construction and stop every run; 21 to 23 describe the last run.
//
// Usage: construct once per grid size and configuration, check getStatus() == 0, then call
// runTrec with the previous and the new image for every new image; for temporal smoothing pass
// the last results back in (the fields may be read through getMotionFieldPointerX/Y).
class TrecAlgorithm {
  public:
    // Never fails; a grid size that is not positive (bit 0 or 1) or too large (bit 3) creates no
    // grid.
    TrecAlgorithm(int x_dim, int y_dim, TrecConf conf);
    ~TrecAlgorithm();
    TrecAlgorithm(const TrecAlgorithm &) = delete;
    TrecAlgorithm &operator=(const TrecAlgorithm &) = delete;

    bool runTrec(const Grid<double> &prev_image, const Grid<double> &curr_image);
    bool runTrec(const Grid<double> &prev_image, const Grid<double> &curr_image,
                 double prev_global_x, double prev_global_y, const Grid<double> &prev_field_x,
                 const Grid<double> &prev_field_y);
    // Global vector only; both motion fields are set to it.
    bool runGlobal(const Grid<double> &prev_image, const Grid<double> &curr_image);
    bool runGlobal(const Grid<double> &prev_image, const Grid<double> &curr_image,
                   double prev_global_x, double prev_global_y);

    // How the correlation sums are computed (see SearchMethod); SUMMED_AREA unless set.
    void setSearchMethod(SearchMethod method);

    double getGlobalVectorX() const { return m_global_x; }
    double getGlobalVectorY() const { return m_global_y; }
    // Copies of the motion fields; throw std::logic_error when no grid was created.
    Grid<double> getMotionFieldX() const;
    Grid<double> getMotionFieldY() const;
    // The held motion fields; null when no grid was created.
    const Grid<double> *getMotionFieldPointerX() const { return m_field_x.get(); }
    const Grid<double> *getMotionFieldPointerY() const { return m_field_y.get(); }

    bool isGood() const { return m_good; }
    std::uint64_t getStatus() const { return m_status.to_ullong(); }
    const std::bitset<24> &getStatusBits() const { return m_status; }

    // Marks every result missing and the algorithm not good.
    void setToMissing();
    // Converts both images to integer images: missing and not-scanned values, not-a-number and
    // +infinity are no data; values below the signal threshold (-infinity too) are valid but 0;
    // others v become scale * (v + 1 - threshold), so the threshold itself maps to the scale.
    // Sets bit 21 or 22 and returns false for an image of the wrong size or without a valid
    // pixel.
    bool processInputData(const Grid<double> &prev_image, const Grid<double> &curr_image);

  private:
    bool readyToRun();
    bool convertImage(const Grid<double> &image, Grid<int> &converted) const;
    void fillFields(double value_x, double value_y);

    std::bitset<24> m_status;
    int m_grid_size_x;
    int m_grid_size_y;
    int m_grid_size = 0;
    int m_input_scale = 0;
    double m_signal_threshold;
    double m_missing_value;
    double m_not_scanned_value;
    std::unique_ptr<Grid<int>> m_prev_grid;
    std::unique_ptr<Grid<int>> m_curr_grid;
    double m_global_x = kMissingVector;
    double m_global_y = kMissingVector;
    std::unique_ptr<Grid<double>> m_field_x;
    std::unique_ptr<Grid<double>> m_field_y;
    std::unique_ptr<TrecCalculation> m_calculation;
    bool m_good = false;
};

}  // namespace azm

#endif  // NOWCAST_TREC_ALGORITHM_H
